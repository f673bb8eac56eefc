// DrawText's layout, checked by metrics: line counts and widths from
// DT_CALCRECT against models built from GetTextExtentPoint32, and placement
// through the background cells an OPAQUE draw leaves. No text goldens.
#include <gtest/gtest.h>

#include <sstream>

#include "../gdi/GdiTestUtil.h"
#include "TextTestUtil.h"
#include "platform/base/Errors.h"

using namespace plat;

namespace {

class TextLayoutTest : public tt::TextTest {
 protected:
  // Greedy wrapping of words separated by single spaces.
  Calc Greedy(const std::vector<WString>& words, int32_t width) {
    Calc c{0, 0};
    WString line;
    auto flush = [&] {
      c.lines++;
      c.width = std::max(c.width, Extent(line));
    };
    for (const WString& w : words) {
      const WString joined = line.empty() ? w : line + u" " + w;
      if (line.empty() || Extent(joined) <= width) {
        line = joined;
      } else {
        flush();
        line = w;
      }
    }
    if (!line.empty()) flush();
    return c;
  }
};

TEST_F(TextLayoutTest, WordBreakIsGreedyAtSpaces) {
  Use(-16);
  const std::vector<WString> words = {u"The", u"quick", u"brown", u"fox", u"jumps", u"over", u"the",
                                      u"lazy", u"dog;", u"pack", u"my", u"box", u"with", u"five", u"dozen", u"jugs"};
  WString text;
  for (const WString& w : words) text += (text.empty() ? u"" : u" ") + w;
  const int32_t full = Extent(text);
  for (int32_t width = 0; width <= full + 3; ++width) {
    const Calc expected = Greedy(words, width);
    const Calc got = CalcAt(text, width, DT_WORDBREAK);
    ASSERT_EQ(got.lines, expected.lines) << "width " << width;
    ASSERT_EQ(got.width, expected.width) << "width " << width;
  }
  // Without DT_WORDBREAK nothing wraps.
  EXPECT_EQ(CalcAt(text, 10, 0).lines, 1);
  EXPECT_EQ(CalcAt(text, 10, 0).width, full);
  // Runs of spaces at a wrap take no room; spaces opening the text stay.
  EXPECT_EQ(CalcAt(u"ab    cd", Extent(u"ab "), DT_WORDBREAK).lines, 2);
  EXPECT_EQ(CalcAt(u"ab    cd", Extent(u"ab "), DT_WORDBREAK).width, Extent(u"cd") > Extent(u"ab") ? Extent(u"cd")
                                                                                                   : Extent(u"ab"));
  EXPECT_EQ(CalcAt(u"  ab", 1000, DT_WORDBREAK).width, Extent(u"  ab"));
}

TEST_F(TextLayoutTest, LineBreakCharactersAlwaysBreak) {
  Use(-12);
  struct Case {
    const char16_t* text;
    int lines;
    const char16_t* widest;
  };
  const Case cases[] = {
      {u"a\nb", 2, u"b"},      {u"a\r\nb", 2, u"b"}, {u"a\rb", 2, u"b"},          {u"a\n", 1, u"a"},
      {u"\n", 1, u""},         {u"\n\n", 2, u""},    {u"", 0, u""},               {u"a\n\nb", 3, u"b"},
      {u"a\r\n\r\nb", 3, u"b"}, {u"a\n\rb", 3, u"b"},
  };
  ASSERT_GE(Extent(u"b"), Extent(u"a"));
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    for (uint32_t wrap : {0u, DT_WORDBREAK}) {
      const Calc got = CalcAt(c.text, 200, wrap);
      EXPECT_EQ(got.lines, c.lines);
      EXPECT_EQ(got.width, Extent(c.widest));
    }
    const Calc single = CalcAt(c.text, 200, DT_SINGLELINE);
    EXPECT_EQ(single.lines, c.text[0] ? 1 : 0) << "single-line text ignores breaks";
    EXPECT_EQ(single.width, Extent(c.text));
  }
  // Text that takes no room gives 0 without an error, so that callers can
  // tell it from a failure by the last error.
  Rect r{5, 5, 50, 50};
  SetLastError(0);
  EXPECT_EQ(DrawText(m_dc, u"", &r, DT_CALCRECT), 0);
  EXPECT_EQ(r, (Rect{5, 5, 5, 5}));
  HDC fresh = CreateCompatibleDC(nullptr);
  EXPECT_EQ(DrawText(fresh, u"", &r, DT_WORDBREAK), 0);
  EXPECT_EQ(GetLastError(), 0u);
  DeleteDC(fresh);
  EXPECT_EQ(DrawText(fresh, u"", &r, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(TextLayoutTest, CjkTextBreaksBetweenCharacters) {
  Use(-14);
  const WString ideographs = u"\u6f22\u5b57\u4eee\u540d\u4ea4\u3058\u308a\u6587\u65e5\u672c\u8a9e\u3067";
  const WString hangul = u"\ud55c\uad6d\uc5b4\ub294\uc5b4\ub835\uc9c0\uc54a\uc544\uc694";
  for (const WString& text : {ideographs, hangul}) {
    for (size_t k : {1u, 3u, 5u}) {
      // Every character here is as wide as the next (no kerning across them),
      // so exactly k fit on a line k characters wide.
      const int32_t width = Extent(WStringView(text).substr(0, k));
      const Calc got = CalcAt(text, width, DT_WORDBREAK);
      EXPECT_EQ(got.lines, int((text.size() + k - 1) / k)) << k;
      EXPECT_EQ(got.width, width);
    }
  }
  // Latin next to CJK may break at the boundary; Latin words stay whole.
  const WString mixed = u"abc\u6f22\u5b57def";
  const int32_t width = std::max(Extent(u"abc\u6f22"), Extent(u"\u5b57def"));
  EXPECT_EQ(CalcAt(mixed, width, DT_WORDBREAK).lines, 2);
  EXPECT_EQ(CalcAt(u"abcdef", Extent(u"abc"), DT_WORDBREAK).lines, 1);
}

TEST_F(TextLayoutTest, LongWordsStayWholeOrGetAnEllipsis) {
  Use(-15);
  const WString word = u"Incomprehensibilities";
  const int32_t wordWidth = Extent(word), dots = Extent(u"...");
  EXPECT_EQ(CalcAt(word, 10, DT_WORDBREAK).lines, 1);
  EXPECT_EQ(CalcAt(word, 10, DT_WORDBREAK).width, wordWidth) << "CALCRECT grows to the word";
  EXPECT_EQ(CalcAt(word + u" " + word, 10, DT_WORDBREAK).lines, 2);

  for (int32_t width : {0, 5, dots, dots + 1, wordWidth / 2, wordWidth - 1, wordWidth, wordWidth + 9}) {
    SCOPED_TRACE(width);
    const Calc got = CalcAt(word, width, DT_SINGLELINE | DT_END_ELLIPSIS);
    EXPECT_EQ(got.lines, 1);
    if (wordWidth <= width) {
      EXPECT_EQ(got.width, wordWidth) << "fits: no ellipsis";
      continue;
    }
    // The longest prefix that fits with "..." after it.
    size_t k = 0;
    while (k < word.size() && Extent(WStringView(word).substr(0, k + 1)) + dots <= width) ++k;
    EXPECT_EQ(got.width, Extent(WStringView(word).substr(0, k)) + dots);
    if (width >= dots) {
      EXPECT_LE(got.width, width);
    }
  }
  // Multi-line: WORD ellipsis cuts every line that is too wide, END only the
  // last one.
  const WString two = word + u" " + word;
  EXPECT_LE(CalcAt(two, wordWidth / 2, DT_WORDBREAK | DT_WORD_ELLIPSIS).width, wordWidth / 2);
  EXPECT_EQ(CalcAt(two, wordWidth / 2, DT_WORDBREAK | DT_END_ELLIPSIS).width, wordWidth);
  EXPECT_EQ(CalcAt(two, wordWidth / 2, DT_WORDBREAK | DT_END_ELLIPSIS).lines, 2);
  // Prefix characters are never interpreted.
  EXPECT_EQ(CalcAt(u"&&File &x", 500, DT_SINGLELINE).width, Extent(u"&&File &x"));
  EXPECT_EQ(CalcAt(u"&&File &x", 500, DT_SINGLELINE | DT_NOPREFIX).width, Extent(u"&&File &x"));
}

// With the text in the background colour, an OPAQUE draw paints exactly its
// line cells, which shows where each line went.
TEST_F(TextLayoutTest, AlignmentAndVerticalPlacement) {
  Use(-18);
  gt::Dib d(gt::Fmt::R565, 160, 120);
  constexpr COLORREF kInk = RGB(0, 0, 255);
  constexpr uint32_t kInk565 = 0x001F, kPaper = 0x07E0;
  SetTextColor(d.dc(), kInk);
  SetBkColor(d.dc(), kInk);
  SetBkMode(d.dc(), OPAQUE);
  HGDIOBJ old = SelectObject(d.dc(), m_fonts.back());
  const int32_t h = Metrics().height, w4 = Extent(u"HHHH"), w2 = Extent(u"HH");
  const Rect box{10, 5, 110, 65};
  auto cells = [&](std::vector<Rect> rects) {
    std::vector<uint32_t> px(160 * 120, kPaper);
    for (const Rect& r : rects)
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) px[size_t(y) * 160 + x] = kInk565;
    return px;
  };
  struct Case {
    uint32_t format;
    int32_t x, y;
  };
  const Case cases[] = {
      {DT_LEFT | DT_TOP, 10, 5},
      {DT_CENTER, 10 + (100 - w4) / 2, 5},
      {DT_RIGHT, 110 - w4, 5},
      {DT_VCENTER, 10, 5 + (60 - h) / 2},
      {DT_BOTTOM | DT_RIGHT, 110 - w4, 65 - h},
  };
  for (const Case& c : cases) {
    d.Load(std::vector<uint32_t>(160 * 120, kPaper));
    Rect r = box;
    const int result = DrawText(d.dc(), u"HHHH", &r, c.format | DT_SINGLELINE);
    EXPECT_EQ(result, c.y + h - box.top) << "height to the bottom of the text";
    EXPECT_EQ(r, box) << "drawing leaves the rectangle alone";
    gt::ExpectPixels(d, cells({{c.x, c.y, c.x + w4, c.y + h}}), "format " + std::to_string(c.format));
  }
  // Lines align one by one; vertical placement is for single lines only.
  d.Load(std::vector<uint32_t>(160 * 120, kPaper));
  Rect r{10, 5, 10 + w4, 65};
  EXPECT_EQ(DrawText(d.dc(), u"HH HHHH", &r, DT_CENTER | DT_VCENTER | DT_WORDBREAK), 2 * h);
  gt::ExpectPixels(d, cells({{10 + (w4 - w2) / 2, 5, 10 + (w4 - w2) / 2 + w2, 5 + h}, {10, 5 + h, 10 + w4, 5 + 2 * h}}),
                   "two lines centred");
  // Too narrow to the left: centring goes negative the C way.
  d.Load(std::vector<uint32_t>(160 * 120, kPaper));
  r = {50, 5, 50 + w4 - 5, 65};
  DrawText(d.dc(), u"HHHH", &r, DT_CENTER | DT_SINGLELINE | DT_NOCLIP);
  gt::ExpectPixels(d, cells({{50 + (-5) / 2, 5, 50 + (-5) / 2 + w4, 5 + h}}), "centred overflow");
  SelectObject(d.dc(), old);
}

}  // namespace
