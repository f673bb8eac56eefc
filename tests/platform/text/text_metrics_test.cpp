// Font resolution, metrics, and the agreement between every way of measuring.
#include <gtest/gtest.h>

#include "TextTestUtil.h"
#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/display/Display.h"

using namespace plat;

namespace {

class TextMetricsTest : public tt::TextTest {};

TEST_F(TextMetricsTest, FacesResolveThroughTheRegistryThenFallBack) {
  EXPECT_EQ(GetFontFile(Use(-20)), tt::kRegular);
  EXPECT_EQ(GetFontFile(Use(-20, FW_MEDIUM)), tt::kRegular) << "500 is regular";
  EXPECT_EQ(GetFontFile(Use(-20, FW_SEMIBOLD)), tt::kBold);
  EXPECT_EQ(GetFontFile(Use(-20, FW_BOLD)), tt::kBold);
  EXPECT_EQ(GetFontFile(Use(-20, FW_NORMAL, true)), tt::kRegular) << "no italic file: made from the regular one";

  // Without a bold file the regular one is emboldened: same file, wider.
  Use(-20, FW_BOLD);
  const int32_t boldWidth = Extent(u"Bold text");
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, tt::kFontKey, KEY_ALL_ACCESS, &key), 0);
  ASSERT_EQ(RegDeleteValue(key, u"Tahoma Bold"), 0);
  RegCloseKey(key);
  HFONT synthetic = Use(-20, FW_BOLD);
  EXPECT_EQ(GetFontFile(synthetic), tt::kRegular);
  const int32_t syntheticWidth = Extent(u"Bold text");
  Use(-20);
  EXPECT_GT(syntheticWidth, Extent(u"Bold text"));
  EXPECT_GT(boldWidth, Extent(u"Bold text"));

  // A file that cannot be opened is reported once and passed over.
  std::vector<WString> lines;
  DebugSink old = SetDebugSink([&](WStringView l) { lines.emplace_back(l); });
  WriteString(HKEY_LOCAL_MACHINE, tt::kFontKey, u"Tahoma", u"/no/such/font.ttf");
  const std::filesystem::path fallback = GetFontFile(Use(-20));
  GetFontFile(Use(-20));
  SetDebugSink(old);
  EXPECT_NE(fallback, "/no/such/font.ttf");
  EXPECT_TRUE(std::filesystem::exists(fallback));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(u"/no/such/font.ttf"), WString::npos);

  // Faces the registry does not name: an exact family, else DejaVu Sans.
  HFONT dejavu = tt::MakeFont(-20, FW_NORMAL, false, false, u"DejaVu Sans");
  HFONT unknown = tt::MakeFont(-20, FW_NORMAL, false, false, u"No Such Face 1234");
  EXPECT_NE(GetFontFile(dejavu).filename().string().find("DejaVuSans"), std::string::npos);
  EXPECT_EQ(GetFontFile(unknown), GetFontFile(dejavu));
  DeleteObject(dejavu);
  DeleteObject(unknown);
  EXPECT_TRUE(GetFontFile(reinterpret_cast<HFONT>(uintptr_t{0x74})).empty());
}

// The installed fonts are looked up once per family and style; the
// registry is read every time, so an entry written or removed while the
// program runs decides the next font of that family.
TEST_F(TextMetricsTest, TheRegistryDecidesEachNewFontAfterTheInstalledLookup) {
  const WString family = u"No Such Face 5678";
  for (int weight : {FW_NORMAL, FW_BOLD}) {
    SCOPED_TRACE(weight);
    auto file = [&] {
      HFONT f = tt::MakeFont(-20, weight, false, false, family);
      std::filesystem::path path = GetFontFile(f);
      DeleteObject(f);
      return path;
    };
    const std::filesystem::path installed = file();
    ASSERT_FALSE(installed.empty());
    EXPECT_EQ(installed, file());
    const std::filesystem::path other = installed == tt::kBold ? tt::kRegular : tt::kBold;
    WriteString(HKEY_LOCAL_MACHINE, tt::kFontKey, family, FromUtf8(other.string()));
    EXPECT_EQ(other, file());
    HKEY key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, tt::kFontKey, KEY_ALL_ACCESS, &key), 0);
    ASSERT_EQ(RegDeleteValue(key, family), 0);
    RegCloseKey(key);
    EXPECT_EQ(installed, file());
  }
}

TEST_F(TextMetricsTest, CellHeightIsAscentPlusDescentEverywhere) {
  int32_t previous = 0;
  for (int32_t px = 1; px <= 80; ++px) {
    SCOPED_TRACE(px);
    Use(-px);
    const TextMetrics tm = Metrics();
    EXPECT_EQ(tm.height, tm.ascent + tm.descent);
    EXPECT_EQ(tm.internalLeading, std::max(0, tm.height - px)) << "a character height is the em";
    EXPECT_GE(tm.height, px);
    EXPECT_GE(tm.height, previous);
    previous = tm.height;
    Size s;
    ASSERT_TRUE(GetTextExtentPoint32(m_dc, u"Mg", &s));
    EXPECT_EQ(s.cy, tm.height);
    Rect r{0, 0, 500, 0};
    EXPECT_EQ(DrawText(m_dc, u"Mg", &r, DT_SINGLELINE | DT_CALCRECT), tm.height);
    EXPECT_EQ(r.bottom, tm.height);
    // A cell height is a ceiling.
    Use(px);
    const TextMetrics cell = Metrics();
    EXPECT_LE(cell.height, px);
    EXPECT_GE(cell.height, px - 2);
  }
  // The framework's refit: ask for -px, and while the measured height is
  // above px, ask again for px * px / measured. Three tries must do.
  for (int32_t px = 1; px <= 120; ++px) {
    int32_t request = px, measured = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
      Use(-request);
      measured = Metrics().height;
      if (measured <= px) break;
      request = std::max(1, px * request / measured);
    }
    EXPECT_LE(measured, px) << "refit for " << px;
  }
  // Height 0 is the default size; absurd sizes are capped, not refused.
  Use(0);
  const int32_t defaultHeight = Metrics().height;
  Use(-static_cast<int32_t>(12 * ScreenDpi() / 96));
  EXPECT_EQ(Metrics().height, defaultHeight);
  Use(-1000000);
  EXPECT_GT(Metrics().height, 1000);
  EXPECT_LT(Metrics().height, 2000);
}

TEST_F(TextMetricsTest, ExtentsPartialExtentsAndFitAgree) {
  Use(-17);
  const WString texts[] = {
      u"Hello, World",    u"AVAVAVA To",           u"caf\u00e9 na\u00efve", u"a\U0001D400b\U0001F600",
      u"\u6f22\u5b57\uac00", u"x\xD800y\xDC00",    u"&File",                  u"",
  };
  for (const WString& text : texts) {
    SCOPED_TRACE(ToUtf8(text));
    std::vector<int32_t> partial(text.size() + 1, -7);
    Size size;
    int32_t fit = -1;
    ASSERT_TRUE(GetTextExtentExPoint(m_dc, text, 1 << 30, &fit, partial.data(), &size));
    EXPECT_EQ(fit, int32_t(text.size()));
    EXPECT_EQ(partial[text.size()], -7) << "nothing written past the text";
    EXPECT_EQ(size.cx, text.empty() ? 0 : partial[text.size() - 1]);
    for (size_t u = 0; u < text.size(); ++u) {
      const bool pairStart = u + 1 < text.size() && text[u] >= 0xD800 && text[u] < 0xDC00 && text[u + 1] >= 0xDC00 &&
                             text[u + 1] < 0xE000;
      const size_t end = pairStart ? u + 2 : u + 1;
      EXPECT_EQ(partial[u], Extent(WStringView(text).substr(0, end))) << "unit " << u;
      if (u > 0) {
        EXPECT_GE(partial[u], partial[u - 1]);
      }
    }
    Rect r{0, 0, 1, 1};
    DrawText(m_dc, text, &r, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(r.right, size.cx) << "DrawText measures the same";
    // Every limit: the count of leading units whose extent fits, never half
    // a pair.
    for (int32_t limit = -1; limit <= size.cx + 1; ++limit) {
      ASSERT_TRUE(GetTextExtentExPoint(m_dc, text, limit, &fit, nullptr, &size));
      int32_t expected = 0;
      while (expected < int32_t(text.size()) && partial[size_t(expected)] <= limit) ++expected;
      ASSERT_EQ(fit, expected) << "limit " << limit;
      if (fit > 0 && fit < int32_t(text.size())) {
        EXPECT_FALSE(text[size_t(fit) - 1] >= 0xD800 && text[size_t(fit) - 1] < 0xDC00 && text[size_t(fit)] >= 0xDC00)
            << "fit splits a pair at " << limit;
      }
    }
  }
  EXPECT_EQ(Extent(u"\xD800"), Extent(u"\uFFFD")) << "a lone surrogate is a replacement character";
  EXPECT_EQ(Extent(u"\t\r\n\x01"), 0) << "control characters take no room";
  EXPECT_GT(Extent(u"&File"), Extent(u"File")) << "'&' is a character like any other";
  Size s;
  EXPECT_FALSE(GetTextExtentPoint32(m_dc, u"x", nullptr));
  EXPECT_FALSE(GetTextExtentPoint32(nullptr, u"x", &s));
  TextMetrics tm;
  EXPECT_FALSE(GetTextMetrics(reinterpret_cast<HDC>(uintptr_t{0x16}), &tm));
}

TEST_F(TextMetricsTest, TheStockFontIsTheSystemFace) {
  HDC dc = CreateCompatibleDC(nullptr);
  TextMetrics tm;
  ASSERT_TRUE(GetTextMetrics(dc, &tm)) << "a new DC measures with the system font";
  EXPECT_EQ(tm.height, tm.ascent + tm.descent);
  EXPECT_EQ(tm.weight, FW_NORMAL);
  EXPECT_FALSE(GetFontFile(static_cast<HFONT>(GetStockObject(SYSTEM_FONT))).empty());
  Size s;
  EXPECT_TRUE(GetTextExtentPoint32(dc, u"abc", &s));
  EXPECT_GT(s.cx, 0);
  DeleteDC(dc);
}

}  // namespace
