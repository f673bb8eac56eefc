// Shaping and ordering: Arabic joins and runs right to left, mixed lines
// order as the bidirectional algorithm says, wrapping and ellipses keep every
// character once, and text that needs no shaping measures and draws exactly
// as it did before shaping existed (goldens).
#include <gtest/gtest.h>

#include <fribidi.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "../gdi/GdiTestUtil.h"
#include "TextTestUtil.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/text/ShapedText.h"
#include "platform/text/TextLayout.h"

using namespace plat;
using gt::Dib;
using gt::Fmt;

namespace {

// The Arabic language module's texts by resource id.
std::map<int, WString> ArabicTexts() {
  std::map<int, WString> texts;
  std::ifstream in(QUOREL_ARABIC_TEXTS);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    texts[std::stoi(line.substr(0, tab))] = FromUtf8(line.substr(tab + 1));
  }
  return texts;
}

bool IsArabicLetter(char32_t c) { return c >= 0x0620 && c <= 0x064A; }

class TextShapingTest : public tt::TextTest {
 protected:
  void SetUp() override {
    tt::TextTest::SetUp();
    m_arabic = ArabicTexts();
    ASSERT_GT(m_arabic.size(), 100u) << QUOREL_ARABIC_TEXTS;
  }
  // The fixture DC's font, shaping `text`; the engine lock is held while the
  // result is in use.
  struct Shaping {
    std::unique_lock<std::mutex> lock{text::EngineLock()};
    std::shared_ptr<text::FontInstance> font;
    std::shared_ptr<const text::ShapedText> shaped;
  };
  std::unique_ptr<Shaping> Shape(WStringView text) {
    auto s = std::make_unique<Shaping>();
    s->font = text::FontOfDc(*gdi::LookupDc(m_dc));
    s->shaped = text::ShapedText::Of(*s->font, text);
    return s;
  }
  // Characters in the order a line of them is drawn, each once per run of
  // its glyphs.
  static std::vector<size_t> VisualOwners(const text::ShapedText& s, size_t begin, size_t end) {
    std::vector<text::PlacedGlyph> placed;
    s.Place(begin, end, placed);
    std::vector<size_t> owners;
    for (const auto& p : placed)
      if (owners.empty() || owners.back() != p.owner) owners.push_back(p.owner);
    return owners;
  }

  // Draws into a fresh white 565 bitmap in black, no background.
  std::unique_ptr<Dib> Draw(WStringView text, int w, int h, uint32_t format, Rect* rect = nullptr) {
    auto d = std::make_unique<Dib>(Fmt::R565, w, h);
    d->Load(std::vector<uint32_t>(size_t(w) * h, 0xFFFF));
    SelectObject(d->dc(), m_fonts.back());
    SetTextColor(d->dc(), RGB(0, 0, 0));
    SetBkMode(d->dc(), TRANSPARENT);
    Rect r{0, 0, w, h};
    EXPECT_GT(DrawText(d->dc(), text, rect ? rect : &r, format), 0);
    return d;
  }

  std::map<int, WString> m_arabic;
};

// Widths, partial extents and the drawn pixels of text that needs no shaping,
// recorded before shaping existed.
TEST_F(TextShapingTest, LatinCjkAndHangulMeasureAndDrawAsBefore) {
  struct Golden {
    int32_t height;
    int weight;
    const char16_t* text;
    int32_t width;
    uint64_t partialHash;
    uint64_t pixelHash;
  };
  const Golden goldens[] = {
      {-12, FW_NORMAL, u"Sing or hum a song, 40 characters long!!", 247, 0xbcaacdebc271a710ull, 0xafe71a31c0f6c6f4ull},
      {-17, FW_NORMAL, u"AVAVAVA To Wa ye", 156, 0x4600f53602bcf47full, 0xa340907fd726a211ull},
      {-17, FW_BOLD, u"caf\u00e9 na\u00efve office affluent fjord", 291, 0xbaf567302049b1afull, 0x1eeba64e80ca1bebull},
      {-24, FW_NORMAL, u"\u6f22\u5b57\u304b\u306a\u3068\u30ab\u30ca", 168, 0x8958c17712435f93ull, 0x638ea3ffde7c0057ull},
      {-20, FW_NORMAL, u"\ud55c\uad6d\uc5b4 \ub178\ub798\ub97c \ubd88\ub7ec \uc8fc\uc138\uc694", 239, 0xd591e2860bc49e12ull, 0x2b5586d5c1f98561ull},
      {-15, FW_NORMAL, u"Mix \u6f22\u5b57 and \ud55c\uad6d\uc5b4, 3.14!", 192, 0xbe7b950cdbfcfe08ull, 0x6214345c35c00489ull},
  };
  for (const Golden& g : goldens) {
    const WStringView text(g.text);
    SCOPED_TRACE(ToUtf8(WString(text)));
    Use(g.height, g.weight);
    std::vector<int32_t> partial(text.size());
    Size size;
    ASSERT_TRUE(GetTextExtentExPoint(m_dc, text, 0, nullptr, partial.data(), &size));
    std::vector<uint32_t> asPixels(partial.begin(), partial.end());
    const auto d = Draw(text, 420, 40, DT_SINGLELINE);
    EXPECT_EQ(size.cx, g.width);
    EXPECT_EQ(gt::Hash(asPixels), g.partialHash);
    EXPECT_EQ(gt::Hash(d->Pixels()), g.pixelHash);
  }
  // A wrapped, centred paragraph with an ellipsis on its last line.
  Use(-14);
  const auto d = Draw(u"Sing or hum a song for ten seconds, and the name of the song and its singer comes back "
                      u"to you on this very screen.",
                      150, 60, DT_WORDBREAK | DT_CENTER | DT_END_ELLIPSIS);
  EXPECT_EQ(gt::Hash(d->Pixels()), 0xf2e65e5657d254b6ull);
}


TEST_F(TextShapingTest, ArabicJoinsRunsRightToLeftAndMeasuresWhatItDraws) {
  Use(-20);
  size_t letters = 0, changed = 0;
  for (int id : {105, 122, 138, 143, 314}) {
    const WString& text = m_arabic.at(id);
    SCOPED_TRACE(id);
    Size extent;
    ASSERT_TRUE(GetTextExtentPoint32(m_dc, text, &extent));
    Rect calc{0, 0, 1, 1};
    DrawText(m_dc, text, &calc, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(calc.right, extent.cx);
    {
      const auto sh = Shape(text);
      const text::ShapedText& s = *sh->shaped;
      // Letters take their joining forms, unlike the glyph each letter has
      // on its own.
      const size_t changedBefore = changed;
      for (size_t i = 0; i < s.size(); ++i) {
        if (!IsArabicLetter(s.Cp(i))) continue;
        ++letters;
        std::vector<text::PlacedGlyph> own;
        s.Place(i, i + 1, own);
        const uint32_t alone = sh->font->Glyph(s.Cp(i)).index;
        if (own.empty() || own.front().glyph->ref.index != alone) ++changed;
      }
      EXPECT_GT(changed, changedBefore) << "no letter joined";
      // Right to left: the first character is drawn rightmost.
      const std::vector<size_t> owners = VisualOwners(s, 0, s.size());
      EXPECT_TRUE(std::is_sorted(owners.begin(), owners.end(), std::greater<>()));
      // The drawn line is exactly as wide as it measures.
      std::vector<text::PlacedGlyph> placed;
      s.Place(0, s.size(), placed);
      ASSERT_FALSE(placed.empty());
      EXPECT_EQ(text::RoundFixed(placed.back().x + placed.back().glyph->ref.advance), extent.cx);
      EXPECT_EQ(s.Width(0, s.size()), extent.cx);
    }
    // And the ink stays within that width (a pixel of overhang at most).
    const auto d = Draw(text, extent.cx + 40, 40, DT_SINGLELINE);
    int inkRight = -1, inkLeft = d->w();
    for (int y = 0; y < d->h(); ++y)
      for (int x = 0; x < d->w(); ++x)
        if (d->Get(x, y) != 0xFFFF) inkRight = std::max(inkRight, x), inkLeft = std::min(inkLeft, x);
    EXPECT_GE(inkLeft, -1);
    EXPECT_LE(inkRight, extent.cx + 1);
    EXPECT_GT(inkRight, extent.cx * 3 / 4) << "the line fills its width";
  }
  EXPECT_GT(changed * 3, letters * 2) << changed << " of " << letters << " letters changed form";
}

TEST_F(TextShapingTest, MixedLinesOrderAsTheBidiAlgorithmSays) {
  Use(-16);
  const WString word = m_arabic.at(112), phrase = m_arabic.at(122);
  struct Case {
    WString text;
    bool rtl;
  };
  const Case cases[] = {
      {u"Track 12: " + word + u" (Live) 3.5", false},
      {phrase + u" 2024 Quorel Mix " + word + u"!", true},
      {word + u" 10 " + phrase + u" (1/2)", true},
      {u"3.14 " + phrase + u" v2", true},  // digits are weak: the Arabic decides
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    const auto sh = Shape(c.text);
    const text::ShapedText& s = *sh->shaped;
    EXPECT_EQ(s.RightToLeft(0), c.rtl) << "the first strong character sets the direction";
    // What FriBiDi says of the whole line.
    std::vector<FriBidiChar> chars;
    for (size_t i = 0; i < s.size(); ++i) chars.push_back(s.Cp(i));
    const auto len = static_cast<FriBidiStrIndex>(chars.size());
    std::vector<FriBidiCharType> types(chars.size());
    std::vector<FriBidiBracketType> brackets(chars.size());
    std::vector<FriBidiLevel> levels(chars.size());
    std::vector<FriBidiStrIndex> map(chars.size());
    fribidi_get_bidi_types(chars.data(), len, types.data());
    fribidi_get_bracket_types(chars.data(), len, types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    ASSERT_NE(fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &direction, levels.data()), 0);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<FriBidiStrIndex>(i);
    ASSERT_NE(fribidi_reorder_line(FRIBIDI_FLAGS_DEFAULT, types.data(), len, 0, direction, levels.data(), nullptr,
                                   map.data()),
              0);
    const std::vector<size_t> owners = VisualOwners(s, 0, s.size());
    const std::set<size_t> drawn(owners.begin(), owners.end());
    EXPECT_EQ(drawn.size(), owners.size()) << "each character's glyphs stand together";
    std::vector<size_t> expected;
    for (FriBidiStrIndex m : map)
      if (drawn.count(size_t(m))) expected.push_back(size_t(m));
    EXPECT_EQ(owners, expected);
    // Numbers and Latin words read left to right inside right-to-left text.
    for (const WString& part : {WString(u"2024"), WString(u"Quorel"), WString(u"3.14"), WString(u"Track 12")}) {
      const size_t at = c.text.find(part);
      if (at == WString::npos) continue;
      const auto first = std::find(owners.begin(), owners.end(), at);
      ASSERT_NE(first, owners.end());
      for (size_t k = 1; k < part.size(); ++k) EXPECT_EQ(first[ptrdiff_t(k)], at + k) << ToUtf8(part);
    }
  }
}

TEST_F(TextShapingTest, WrappedAndEllipsisedArabicKeepsEveryCharacterOnce) {
  Use(-18);
  const WString paragraph = m_arabic.at(314) + u" " + m_arabic.at(319) + u" " + m_arabic.at(150);
  for (int32_t width : {40, 75, 120, 180, 260, 1000}) {
    for (uint32_t format : {DT_WORDBREAK, DT_WORDBREAK | DT_WORD_ELLIPSIS, DT_WORDBREAK | DT_END_ELLIPSIS}) {
      SCOPED_TRACE(testing::Message() << "width " << width << " format " << std::hex << format);
      std::vector<text::Line> lines;
      int32_t dots = 0;
      {
        const auto sh = Shape(paragraph);
        const text::ShapedText& s = *sh->shaped;
        dots = text::ShapedText::Of(*sh->font, u"...")->Width(0, 3);
        lines = text::LayOut(s, width, format);
        text::Ellipsise(s, lines, width, format, dots);
        ASSERT_FALSE(lines.empty());
        std::vector<int> shown(s.size(), 0);
        std::vector<text::PlacedGlyph> own;
        std::vector<bool> owns(s.size());  // the other characters of a ligature own no glyph
        for (size_t i = 0; i < s.size(); ++i) owns[i] = (s.Place(i, i + 1, own), !own.empty());
        size_t expectBegin = 0;
        for (const text::Line& line : lines) {
          // Lines follow each other on logical text; only the spaces at a
          // break are left out.
          for (size_t i = expectBegin; i < line.begin; ++i) EXPECT_EQ(s.Cp(i), U' ') << "skipped " << i;
          for (size_t i : VisualOwners(s, line.begin, line.end)) {
            EXPECT_TRUE(i >= line.begin && i < line.end);
            ++shown[i];
          }
          if (!line.ellipsis) {
            EXPECT_LE(line.width, std::max(width, s.Width(line.begin, line.end)));
          } else {
            EXPECT_LE(line.width, width);
          }
          expectBegin = line.begin > expectBegin ? line.begin : expectBegin;
          expectBegin = std::max(expectBegin, line.end);
          // A cut line lost its tail; the next line starts after the words
          // it had.
          if (line.ellipsis) {
            expectBegin = line.end;
            while (expectBegin < s.size() && s.Cp(expectBegin) != U' ') ++expectBegin;
          }
        }
        const bool cuts = std::any_of(lines.begin(), lines.end(), [](const text::Line& l) { return l.ellipsis; });
        for (size_t i = 0; i < s.size(); ++i) {
          EXPECT_LE(shown[i], 1) << "character " << i << " drawn twice";
          if (!cuts && owns[i] && s.Cp(i) != U' ') {
            EXPECT_EQ(shown[i], 1) << "character " << i << " lost";
          }
        }
        if (format == DT_WORDBREAK) {
          EXPECT_EQ(lines.back().end, s.size());
        }
      }
      // DrawText lays out the same lines.
      const int lineHeight = Metrics().height;
      Rect r{0, 0, width, 0};
      EXPECT_EQ(DrawText(m_dc, paragraph, &r, format | DT_CALCRECT), int(lines.size()) * lineHeight);
    }
  }
}

TEST_F(TextShapingTest, TheEllipsisOfARightToLeftLineStandsOnItsLeft) {
  Use(-18);
  const WString& text = m_arabic.at(138);
  const int32_t width = Extent(text) / 2;
  const int32_t dots = Extent(u"...");
  const int h = Metrics().height;
  const auto cut = Draw(text, width, h, DT_SINGLELINE | DT_END_ELLIPSIS);
  const auto alone = Draw(u"...", width, h, DT_SINGLELINE);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < dots; ++x) ASSERT_EQ(cut->Get(x, y), alone->Get(x, y)) << x << "," << y;
  bool inkRightOfDots = false;
  for (int y = 0; y < h; ++y)
    for (int x = dots + 1; x < width; ++x) inkRightOfDots |= cut->Get(x, y) != 0xFFFF;
  EXPECT_TRUE(inkRightOfDots) << "the kept text stands right of the ellipsis";
  // A left-to-right line keeps its ellipsis at the right end.
  const auto latin = Draw(u"Hold your phone close to the music", Extent(u"Hold your phone") + dots, h,
                          DT_SINGLELINE | DT_END_ELLIPSIS);
  const auto latinText = Draw(u"Hold your phone", Extent(u"Hold your phone") + dots, h, DT_SINGLELINE);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < Extent(u"Hold your phone"); ++x) ASSERT_EQ(latin->Get(x, y), latinText->Get(x, y));
}

// A screen's worth of text in Arabic and in English, wrapped and centred as
// the recording screen shows its hint. With QUOREL_TEXT_SNAPSHOTS set to a
// folder, both are written there as PNGs (docs/text holds the current ones).
TEST_F(TextShapingTest, ScreenTextSnapshots) {
  Use(-22, FW_BOLD);
  const std::pair<const char*, WString> screens[] = {
      {"arabic", m_arabic.at(123) + u"\n" + m_arabic.at(137) + u"\n" + m_arabic.at(314)},
      {"latin", u"Sing or hum a song\nSing or hum the melody for at least 10 seconds.\nFind the name of a song: "
                u"sing or hum it, or let your phone listen to it."},
  };
  for (const auto& [name, text] : screens) {
    Rect calc{16, 16, 464, 16};
    const int height = DrawText(m_dc, text, &calc, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
    ASSERT_GT(height, 3 * Metrics().height);
    Rect r{16, 16, 464, 16 + height};
    const auto d = Draw(text, 480, height + 32, DT_WORDBREAK | DT_CENTER, &r);
    for (int y = 0; y < d->h(); ++y)
      for (int x = 0; x < d->w(); ++x)
        if (x < 15 || x > 465 || y < 16 || y >= 16 + height) {
          ASSERT_EQ(d->Get(x, y), 0xFFFFu) << x << "," << y;
        }
    if (const char* folder = std::getenv("QUOREL_TEXT_SNAPSHOTS")) {
      gt::WritePng(Fmt::R565, d->w(), d->h(), d->Pixels(), std::filesystem::path(folder) / (std::string(name) + ".png"));
    }
  }
}

}  // namespace
