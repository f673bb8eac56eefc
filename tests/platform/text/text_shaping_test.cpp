// Shaping and ordering: Arabic joins and runs right to left, mixed lines
// order as the bidirectional algorithm says, wrapping and ellipses keep every
// character once, and text that needs no shaping measures and draws exactly
// as it did before shaping existed (goldens).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "../gdi/GdiTestUtil.h"
#include "TextTestUtil.h"

using namespace plat;
using gt::Dib;
using gt::Fmt;

namespace {

class TextShapingTest : public tt::TextTest {
 protected:
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

}  // namespace
