// Pictures, labels and buttons on the headless device: what each draws into
// the back buffer, the label's fading, highlight, marquee, line count and
// fitting, and the button's states, slots and notifications.
#include "vy/VyButton.h"
#include "vy/VyLabel.h"
#include "vy/VyPicture.h"
#include "vy_test_support.h"

namespace {

using vytest::BackBuffer;
using vytest::MakePng;
using vytest::SolidPng;
using vytest::To565;
using vytest::VyFixture;

constexpr uint16_t kBlack = 0;

class WidgetTest : public VyFixture {
 protected:
  void SetUp() override {
    VyFixture::SetUp();
    MakeHost();
  }
  static int32_t S(int32_t n) { return VyScale(GetLogPixelsX(), n); }
  // Columns [x0, x1) of row y that hold the value.
  static int CountIn(const BackBuffer& bb, int32_t y, int32_t x0, int32_t x1, uint16_t v) {
    int n = 0;
    for (int32_t x = x0; x < x1; ++x) n += bb.At(x, y) == v;
    return n;
  }
  static bool AnyNot(const BackBuffer& bb, const RECT& rc, uint16_t v) {
    for (int32_t y = rc.top; y < rc.bottom; ++y)
      for (int32_t x = rc.left; x < rc.right; ++x)
        if (bb.At(x, y) != v) return true;
    return false;
  }
};

// ---- Picture -----------------------------------------------------------------

TEST_F(WidgetTest, PictureFailedImageDrawsOnlyItsBackgroundAndLeaksNothing) {
  PackImages({{600, SolidPng(2, 2, 0x00FF00FF)}});
  BackBuffer bb(m_hWnd);
  bb.Fill(kBlack);
  const int32_t live = CIImage::LiveValueCount();
  {
    const RECT rc{10, 10, 30, 30};
    CVyPicture missing(601, &rc);  // not in the pack
    missing.SetBackColor(0x0000FF);
    EXPECT_EQ(missing.Draw(bb.Dc()), 0);
    EXPECT_EQ(bb.At(15, 15), To565(255, 0, 0));
    missing.Draw(bb.Dc());  // retried, still only the background
    EXPECT_EQ(bb.At(29, 29), To565(255, 0, 0));
    CVyPicture none(-1, &rc);  // "none": nothing loaded, nothing logged
    EXPECT_FALSE(none.GetImage()->IsLoaded());
    missing.SetVisible(0, 0);
    EXPECT_EQ(missing.Draw(bb.Dc()), 1);
  }
  EXPECT_EQ(CIImage::LiveValueCount(), live);
}

TEST_F(WidgetTest, PictureSetImageSharesAndKeepsTheCountOnTheSameValue) {
  PackImages({{600, SolidPng(2, 2, 0x00FF00FF)}});
  CIImage img;
  img.Load(GetResourceInstance(), 600);
  CVyPicture pic(img);
  const int32_t refs = img.Value()->ReferenceCount();
  EXPECT_EQ(refs, 2);
  pic.SetImage(img);
  EXPECT_EQ(img.Value()->ReferenceCount(), refs);
  CIImage other;
  pic.SetImage(other);
  EXPECT_EQ(img.Value()->ReferenceCount(), 1);
  EXPECT_EQ(pic.GetImage()->Value(), other.Value());
}

TEST_F(WidgetTest, PictureTilesInBandsOf20WithTheRemainder) {
  // Top half red, bottom half blue: each band shows both halves.
  PackImages({{600, MakePng(1, 2, {0xFF0000FF, 0x0000FFFF})}});
  const uint16_t red = To565(255, 0, 0), blue = To565(0, 0, 255);
  struct Case {
    int32_t height;
    std::vector<std::pair<int32_t, uint16_t>> rows;  // row within the picture -> colour
  } cases[] = {
      {50, {{0, red}, {15, blue}, {20, red}, {35, blue}, {40, red}, {47, blue}, {50, kBlack}}},
      {40, {{0, red}, {15, blue}, {20, red}, {39, blue}, {40, kBlack}, {45, kBlack}}},
  };
  for (const Case& c : cases) {
    BackBuffer bb(m_hWnd);
    bb.Fill(kBlack);
    const RECT rc{0, 100, 10, 100 + c.height};
    CVyPicture pic(600, &rc);
    pic.SetTile(1);
    pic.Draw(bb.Dc());
    for (auto [row, colour] : c.rows) EXPECT_EQ(bb.At(5, 100 + row), colour) << c.height << " row " << row;
  }
  // Above the screen the bands start at 0; below it they stop at its height.
  BackBuffer bb(m_hWnd);
  bb.Fill(kBlack);
  const RECT above{0, -30, 10, 30};
  CVyPicture top(600, &above);
  top.SetTile(1);
  top.Draw(bb.Dc());
  EXPECT_EQ(bb.At(5, 0), red);
  EXPECT_EQ(bb.At(5, 15), blue);
  const RECT below{20, 790, 30, 830};
  CVyPicture bottom(600, &below);
  bottom.SetTile(1);
  bottom.Draw(bb.Dc());
  EXPECT_EQ(bb.At(25, 790), red);
  EXPECT_EQ(bb.At(25, 799), blue);  // the cut band 790..800 holds the whole image
}

TEST_F(WidgetTest, PictureDump) {
  PackImages({{600, SolidPng(2, 2, 0x00FF00FF)}});
  CVyPicture pic(600);
  pic.SetBackColor(0x030201);
  pic.SetTransparent(1);
  plat::WString text;
  pic.Dump(&text);
  const std::string s = plat::ToUtf8(text);
  char self[32];
  std::snprintf(self, sizeof self, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&pic)));
  EXPECT_EQ(s, std::string("<CVyPicture-600 this=\"0x") + self +
                   "\">\n</CVyControl>\n<m_img.m_nResourceID value=\"600\"/>\n<m_colorBack value=\"1,2,3\"/>\n"
                   "<m_bTransparent value=\"1\"/>\n");
}

// ---- Label -------------------------------------------------------------------

class LabelTest : public WidgetTest {
 protected:
  CVyFont Font(plat::COLORREF colour, int32_t height = 40) { return CVyFont(700, height, colour, u"Tahoma", 0, 0); }
};

TEST_F(LabelTest, FadesWithTheGlobalAlphaAndSkipsDarkText) {
  BackBuffer bb(m_hWnd);
  const RECT rc{0, 0, 300, 60};
  for (auto [colour, drawn] : {std::pair{plat::COLORREF(0x000000), false}, {plat::COLORREF(0xFFFFFF), true}}) {
    bb.Fill(To565(0, 0, 255));
    CLabelUnit unit(Font(colour), u"WWWW", plat::DT_LEFT, 0);
    CIImage::SetGlobalAlpha(90);
    unit.Draw(bb.Dc(), &rc);
    CIImage::SetGlobalAlpha(255);
    int full = 0, brighter = 0;
    for (int32_t y = 0; y < 60; ++y)
      for (int32_t x = 0; x < 300; ++x) {
        const uint16_t v = bb.At(x, y);
        full += v == To565(90, 90, 90);
        brighter += ((v >> 11) << 3) > 90;
      }
    EXPECT_EQ(full > 0, drawn) << colour;
    EXPECT_EQ(brighter, 0);
    EXPECT_EQ(unit.Font().Value()->m_colour, colour);  // put back after the draw
  }
  bb.Fill(kBlack);
  CLabelUnit white(Font(0xFFFFFF), u"WWWW", plat::DT_LEFT, 0);
  CIImage::SetGlobalAlpha(0);
  EXPECT_EQ(white.Draw(bb.Dc(), &rc), 0);
  CIImage::SetGlobalAlpha(255);
  EXPECT_FALSE(AnyNot(bb, rc, kBlack));
  CLabelUnit empty(Font(0xFFFFFF), nullptr, 0, 0);
  EXPECT_EQ(empty.Draw(bb.Dc(), &rc), 1);
}

TEST_F(LabelTest, Highlights) {
  BackBuffer bb(m_hWnd);
  const uint16_t red = To565(255, 0, 0);
  // Text drawn in the background colour: only the highlight shows.
  struct Case {
    const char16_t* text;
    uint32_t format;
    int32_t start, length;
    bool shown;
  } cases[] = {
      {u"abcdef", plat::DT_LEFT, 2, 2, true},
      {u"abcdef", plat::DT_LEFT, 6, 2, false},  // starts beyond the end
      {u"abcdef", plat::DT_LEFT, 1, 0, false},
      {u"abcdef", plat::DT_CENTER | plat::DT_VCENTER | plat::DT_SINGLELINE, 0, 6, true},
      {u"abcdef", plat::DT_RIGHT | plat::DT_BOTTOM | plat::DT_SINGLELINE, 5, 1, true},
  };
  const RECT rc{10, 10, 410, 110};
  for (const Case& c : cases) {
    bb.Fill(kBlack);
    CLabelUnit unit(Font(0x000000), c.text, c.format, 0);
    unit.SetHighlight(c.start, c.length, 0x0000FF);
    unit.Draw(bb.Dc(), &rc);
    // Where the span must lie, measured independently.
    plat::HDC hdc = plat::GetDC(nullptr);
    plat::SelectObject(hdc, unit.Font().GetHFont());
    plat::Size prefix{}, span{}, whole{};
    const plat::WStringView t(c.text);
    plat::GetTextExtentPoint32(hdc, t.substr(0, size_t(std::min<int32_t>(c.start, int32_t(t.size())))), &prefix);
    plat::GetTextExtentPoint32(hdc, t.substr(std::min<size_t>(size_t(c.start), t.size()), size_t(c.length)), &span);
    plat::GetTextExtentPoint32(hdc, t, &whole);
    plat::ReleaseDC(nullptr, hdc);
    int32_t left = rc.left + prefix.cx, top = rc.top;
    if (c.format & plat::DT_CENTER) left = rc.left + (rc.Width() - whole.cx) / 2 + prefix.cx;
    if (c.format & plat::DT_RIGHT) left = rc.right - whole.cx + prefix.cx;
    if (c.format & plat::DT_VCENTER) top = rc.top + (rc.Height() - span.cy) / 2;
    if (c.format & plat::DT_BOTTOM) top = rc.bottom - span.cy;
    EXPECT_EQ(bb.At(left + 1, top + 1) == red, c.shown) << plat::ToUtf8(c.text) << " " << c.format;
    if (c.shown) {
      EXPECT_NE(bb.At(left - 1, top + 1), red);
    }
  }
  // Centred, ellipsised and too wide: cut before the width of "...".
  bb.Fill(kBlack);
  const RECT narrow{0, 0, 100, 60};
  CLabelUnit wide(Font(0x000000), u"abcdefghijklmnop", plat::DT_CENTER | plat::DT_END_ELLIPSIS | plat::DT_SINGLELINE, 0);
  wide.SetHighlight(0, 16, 0x0000FF);
  wide.Draw(bb.Dc(), &narrow);
  plat::HDC hdc = plat::GetDC(nullptr);
  plat::SelectObject(hdc, wide.Font().GetHFont());
  plat::Size dots{};
  plat::GetTextExtentPoint32(hdc, u"...", &dots);
  plat::ReleaseDC(nullptr, hdc);
  EXPECT_EQ(bb.At(100 - dots.cx - 1, 5), red);
  EXPECT_NE(bb.At(100 - dots.cx, 5), red);
}

TEST_F(LabelTest, MarqueeStepsTrailsAndWrapsWithoutASeam) {
  for (int32_t width : {240, 480}) {
    Stop();
    plat::TestConfig config;
    config.screenWidth = width;
    config.screenHeight = 800;
    Start(config);
    MakeHost(width, 800);
    BackBuffer bb(m_hWnd);
    const int32_t step = width == 240 ? S(2) : S(3);
    CLabelUnit unit(Font(0xFFFFFF), u"a marquee text far wider than its label", plat::DT_LEFT | plat::DT_END_ELLIPSIS, 0);
    unit.SetMarquee(1);
    plat::Size ext{};
    unit.GetTextExtent(&ext);
    const RECT rc{20, 0, 120, 60};
    ASSERT_GT(ext.cx, rc.Width());
    // The lead copy's left edge, frame by frame: always one step further.
    int32_t prevLead = rc.left, wraps = 0;
    for (int frame = 0; frame < 400; ++frame) {
      const int32_t before = unit.GetMarqueeOffset();
      unit.Draw(bb.Dc(), &rc);
      const int32_t first = rc.left + before - step;
      const int32_t firstRight = first + ext.cx;
      const int32_t lead = firstRight < rc.left ? firstRight + S(50) : first;
      if (firstRight < rc.left) {
        ++wraps;
        EXPECT_EQ(unit.GetMarqueeOffset(), S(50) - rc.left + firstRight);
      }
      // Before the wrap the lead is the first copy; in the wrap frame the
      // second takes over where it stands.
      if (firstRight >= rc.left) {
        EXPECT_EQ(lead, prevLead - step) << width << " frame " << frame;
      }
      prevLead = firstRight < rc.left ? rc.left + unit.GetMarqueeOffset() : lead;
    }
    EXPECT_GE(wraps, 1) << width;
    // Text that fits does not scroll and resets the offset.
    unit.SetText(u"ab");
    unit.Draw(bb.Dc(), &rc);
    EXPECT_EQ(unit.GetMarqueeOffset(), 0);
  }
}

TEST_F(LabelTest, LineCount) {
  CLabelUnit unit(Font(0xFFFFFF, 20), u"a b", 0, 0);
  const RECT wide{0, 0, 400, 40};
  EXPECT_EQ(unit.GetLineCount(&wide), 1);
  unit.SetText(u"a\nb");
  EXPECT_EQ(unit.GetLineCount(&wide), 2);
  unit.SetText(nullptr);  // keeps the text
  EXPECT_EQ(plat::WString(unit.GetText()), u"a\nb");
  // One word of a thousand characters: a new line each time it reaches the
  // width, however long (no fixed buffer).
  const plat::WString word(1000, u'x');
  unit.SetText(word.c_str());
  plat::Size cx{};
  CLabelUnit one(Font(0xFFFFFF, 20), u"x", 0, 0);
  one.GetTextExtent(&cx);
  for (int32_t w : {100, 250}) {
    const RECT rc{0, 0, w, 40};
    const int32_t perLine = (w + cx.cx - 1) / cx.cx;
    const int32_t n = unit.GetLineCount(&rc);
    EXPECT_NEAR(n, 1000 / (perLine - 1) + 1, 1000 / (perLine - 1) / 10 + 2) << w;
  }
  CLabelUnit none(Font(0xFFFFFF), nullptr, 0, 0);
  EXPECT_EQ(none.GetLineCount(&wide), 0);
}

TEST_F(LabelTest, FitRectByEscapementAndTheFitRouting) {
  CVyFont font = Font(0xFFFFFF, 20);
  CLabelUnit unit(font, u"turned", 0, 1);
  plat::Size e{};
  unit.GetTextExtent(&e);
  const RECT R{10, 20, 210, 420};
  RECT out;
  EXPECT_EQ(*unit.GetFitRect(&out, 10, 20, 210, 420), R);  // unrotated
  struct Case {
    int32_t esc;
    uint32_t format;
    int32_t x, y;
  } cases[] = {
      {900, plat::DT_VCENTER | plat::DT_CENTER, 10 + (210 - e.cy - 10) / 2, 20 + (420 - e.cx - 20) / 2 + e.cx},
      {900, plat::DT_BOTTOM | plat::DT_RIGHT, 10, 20 + e.cx},
      {900, 0, 210 - e.cy, 420},
      {2700, plat::DT_VCENTER | plat::DT_CENTER, 10 + (210 - e.cy - 10) / 2 + e.cy, 20 + (420 - e.cx - 20) / 2},
      {2700, plat::DT_BOTTOM | plat::DT_RIGHT, 10 + e.cy, 420 - e.cx},
      {2700, 0, 210, 20},
  };
  for (const Case& c : cases) {
    font.Value()->m_nEscapement = c.esc;  // the font value's test seam
    unit.SetFormat(c.format);
    unit.GetFitRect(&out, 10, 20, 210, 420);
    EXPECT_EQ(out, (RECT{c.x, c.y, c.x + e.cx, c.y + e.cy})) << c.esc << " " << c.format;
  }
  font.Value()->m_nEscapement = 1800;
  EXPECT_EQ(*unit.GetFitRect(&out, 10, 20, 210, 420), R);
  // A fitted label's rectangle goes through GetFitRect; an unfitted one's not.
  font.Value()->m_nEscapement = 900;
  CVyLabel fitted(font, u"turned", 10, 20, 210, 420, 0, 1);
  CVyLabel plain(font, u"turned", 10, 20, 210, 420, 0, 0);
  RECT rcFitted, rcPlain;
  fitted.GetRect(&rcFitted);
  plain.GetRect(&rcPlain);
  EXPECT_EQ(rcFitted, (RECT{210 - e.cy, 420, 210 - e.cy + e.cx, 420 + e.cy}));
  EXPECT_EQ(rcPlain, R);
  font.Value()->m_nEscapement = 0;
}

TEST_F(LabelTest, CalcRectAndTheOverlayText) {
  CLabelUnit unit(Font(0xFFFFFF, 20), u"abc", 0, 0);
  EXPECT_EQ(unit.CalcRect(nullptr), 0);
  EXPECT_EQ(CountLines("]CLabelUnit::CalcRect..Error CPR(pRect):vy/VyLabel.cpp line "), 1);
  RECT rc{0, 0, 0, 0};
  EXPECT_GT(unit.CalcRect(&rc), 0);
  EXPECT_GT(rc.right, 0);
  CLabelUnit& overlay = DebugOverlayText();
  EXPECT_EQ(overlay.GetFormat(), 2u);
  EXPECT_FALSE(overlay.IsFit());
  const CVyFont::CFontValue* v = overlay.Font().Value();
  EXPECT_EQ(v->m_colour, 0x00FF00u);
  EXPECT_EQ(v->m_desc.weight, 500);
  EXPECT_EQ(v->m_desc.height, S(15));
  EXPECT_EQ(plat::WString(v->m_desc.faceName), u"Tahoma");
}

// ---- Button ------------------------------------------------------------------

class ButtonTest : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    PackImages({{600, SolidPng(4, 4, 0xFF0000FF)},
                {601, SolidPng(4, 4, 0x00FF00FF)},
                {602, SolidPng(4, 4, 0x0000FFFF)},
                {603, SolidPng(4, 4, 0xFFFFFFFF)}});
  }
  uint16_t DrawnAt(CVyButton& b, const BackBuffer& bb) {
    bb.Fill(kBlack);
    b.Draw(bb.Dc());
    return bb.At(15, 15);
  }
};

TEST_F(ButtonTest, PicturesByState) {
  BackBuffer bb(m_hWnd);
  const uint16_t red = To565(255, 0, 0), green = To565(0, 255, 0), blue = To565(0, 0, 255), white = 0xFFFF;
  CVyButton b;
  b.SetRect(10, 10, 50, 50, 1);
  b.SetPictures(600, 601, 603, 602, 0);
  EXPECT_EQ(b.GetChildCount(), 4);
  EXPECT_EQ(DrawnAt(b, bb), red);
  b.SetFocusFlag();
  EXPECT_EQ(DrawnAt(b, bb), blue);
  b.PlayPressFeedback();
  EXPECT_EQ(DrawnAt(b, bb), green);
  // Dragged: the panel scrolled it more than 20 pixels under the finger.
  for (auto [dy, colour] : {std::pair{20, green}, {21, red}, {0, red}}) {
    b.SetOffset(0, dy);
    bb.Fill(kBlack);
    b.Draw(bb.Dc());
    EXPECT_EQ(bb.At(15, 15 + dy), colour) << dy;
  }
  b.SetOffset(0, 0);
  b.SetRelease(1, 0);
  b.SetEnable(0, 0);
  EXPECT_EQ(DrawnAt(b, bb), white);
  // Without a pressed picture the normal one shows while pressed.
  CVyButton plain;
  plain.SetRect(10, 10, 50, 50, 1);
  plain.SetPictures(600, -1, -1, -1, 0);
  plain.PlayPressFeedback();
  EXPECT_EQ(DrawnAt(plain, bb), red);
  plain.SetVisible(0, 0);
  EXPECT_EQ(plain.Draw(bb.Dc()), 1);
}

TEST_F(ButtonTest, SlotsAndTheirRefusals) {
  CVyButton b;
  b.SetPictures(-1, 601, -1, -1, 0);
  EXPECT_EQ(b.GetChildCount(), 0);
  EXPECT_EQ(CountLines("]CVyButton::SetPictures..Error CBR(nNormalPictureID != -1)"), 1);
  auto* p = new CVyControl();
  b.SetControl(2, p);
  b.SetControl(2, p);
  EXPECT_EQ(b.GetChildCount(), 1);
  EXPECT_EQ(CountLines("Error CBR(pControl != pDeletingControl && L\"Please check again!\")"), 1);
  auto* q = new CVyControl();
  b.SetControl(2, q);  // replaces and destroys the old one
  EXPECT_EQ(b.GetChildCount(), 1);
  EXPECT_EQ(b.GetChildControlByReservedValue(2), q);
  auto* r = new CVyControl();
  b.SetControl(8, r);
  EXPECT_EQ(CountLines("Error CBR(nType >= 0 && nType < VYBUTTON_MAX_CONTROL)"), 1);
  EXPECT_EQ(b.GetChildCount(), 1);
  delete r;
  b.SetControl(3, nullptr);
  EXPECT_EQ(CountLines("Error CPR(pControl)"), 1);
}

TEST_F(ButtonTest, ConstructorBitsAndTheTextInset) {
  CVyButton b;
  const uint32_t s = b.GetState();
  for (uint32_t bit : {VY_STATE_PRESS_VIBRATION, VY_STATE_RUN_VIBRATION, VY_STATE_RUN_SOUND, VY_STATE_FOCUS_ON_PRESS,
                       VY_STATE_DEFER_RELEASE})
    EXPECT_TRUE(s & bit) << bit;
  EXPECT_FALSE(s & (VY_STATE_DISABLED | VY_STATE_HIDDEN | VY_STATE_PRESS_SOUND));
  b.SetRect(10, 10, 110, 60, 1);
  CVyFont font(500, 20, 0xFFFFFF, u"Tahoma", 0, 0);
  EXPECT_EQ(b.SetText(u"ok", nullptr, nullptr, nullptr, nullptr, 0, 5, 3), E_FAIL);
  b.SetText(u"ok", &font, nullptr, &font, nullptr, 0, 5, 3);
  EXPECT_EQ(b.GetChildCount(), 4);  // a missing font means the normal one
  RECT rc;
  b.GetChildControlByReservedValue(VYBUTTON_TEXT_PRESSED)->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{15, 13, 105, 57}));
  b.SetPictures(600, -1, -1, -1, 0);
  b.SetRect(0, 0, 50, 50, 1);
  b.GetChildControlByReservedValue(VYBUTTON_TEXT_FOCUSED)->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{5, 3, 45, 47}));
  b.GetChildControlByReservedValue(VYBUTTON_PICTURE_NORMAL)->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{0, 0, 50, 50}));
  // Set again without focused and disabled fonts: no label of the first call
  // stays, those states draw in the normal font.
  CVyFont red(500, 20, 0x0000FF, u"Tahoma", 0, 0);
  CVyButton t;
  t.SetShowFocusFrame(0);
  t.SetRect(0, 0, 100, 40, 1);
  t.SetText(u"ok", &font, nullptr, &red, &red, 0, 0, 0);
  t.SetText(u"ok", &font, nullptr, nullptr, nullptr, 0, 0, 0);
  BackBuffer bb(m_hWnd);
  auto frame = [&] {
    bb.Fill(0);
    t.Draw(bb.Dc());
    std::vector<uint16_t> v;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 100; ++x) v.push_back(bb.At(x, y));
    return v;
  };
  const std::vector<uint16_t> normal = frame();
  EXPECT_NE(std::count(normal.begin(), normal.end(), 0), 4000);  // the text shows
  t.SetFocusFlag();
  EXPECT_EQ(frame(), normal);
  t.SetEnable(0, 0);
  EXPECT_EQ(frame(), normal);
}

TEST_F(ButtonTest, ClicksUnlessLongPressedCancelledOrMissed) {
  FeedbackOn();
  CVyButton b;
  b.SetRect(10, 10, 50, 50, 1);
  std::vector<std::string> events;
  auto bind = [&](const char* name) {
    return TVyFunctor([&events, name](intptr_t a, intptr_t p) {
      events.push_back(std::string(name) + " " + std::to_string(a) + " " + std::to_string(p));
    });
  };
  const auto run = bind("run"), press = bind("press"), release = bind("release"), longPress = bind("long");
  b.BindRunEvent(&run, 7);
  b.BindPressEvent(&press, 8);
  b.BindEvent(&release, 9);
  b.BindLongPressEvent(&longPress, 6);
  auto tap = [&](int32_t x, int32_t y, bool bLong, bool bLeave) {
    events.clear();
    plat::ResetDeviceServices();
    b.OnLButtonDown(20, 20);
    if (bLong) b.OnLongPress(20, 20, 0);
    if (bLeave) b.OnMouseMove(200, 200);
    b.OnRelease(x, y, 0);
  };
  tap(20, 30, false, false);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "press 8 0");
  EXPECT_EQ(events[1], "release 9 " + std::to_string(20 | (30 << 16)));  // packed as the long press's point
  EXPECT_EQ(events[2], "run 7 0");
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "v windows\\press.ivt", "s 02_List Enter.wav"}));
  tap(20, 20, true, false);
  EXPECT_EQ(events.back(), "release 9 " + std::to_string(20 | (20 << 16)));
  EXPECT_EQ(events[1].rfind("long 6 ", 0), 0u);
  // The next press clicks again: the long press belonged to the last one.
  tap(20, 20, false, false);
  EXPECT_EQ(events.back(), "run 7 0");
  tap(200, 200, false, false);  // released outside
  EXPECT_NE(events.back(), "run 7 0");
  tap(20, 20, false, true);  // the pen left: cancelled
  EXPECT_EQ(std::count(events.begin(), events.end(), "run 7 0"), 0);
  EXPECT_FALSE(b.IsPressed());
}

}  // namespace
