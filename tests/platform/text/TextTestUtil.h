// Text tests run on DejaVu Sans, pinned through the registry so that the
// fonts installed on a machine cannot change their metrics.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "platform/text/Text.h"

namespace tt {

inline const std::filesystem::path kRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::filesystem::path kBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr plat::WChar kFontKey[] = u"Platform\\Linux\\FontFile";

inline void PinDejaVu() {
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, kFontKey, u"Tahoma", plat::FromUtf8(kRegular.string()));
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, kFontKey, u"Tahoma Bold", plat::FromUtf8(kBold.string()));
}

inline plat::HFONT MakeFont(int32_t height, int weight = plat::FW_NORMAL, bool italic = false, bool underline = false,
                            plat::WStringView face = u"Tahoma") {
  plat::FontDesc d;
  d.height = height;
  d.weight = weight;
  d.italic = italic;
  d.underline = underline;
  d.quality = plat::ANTIALIASED_QUALITY;
  face.copy(d.faceName, std::min<size_t>(face.size(), plat::LF_FACESIZE - 1));
  return plat::CreateFontIndirect(d);
}

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kRegular) || !std::filesystem::exists(kBold)) {
      GTEST_SKIP() << "DejaVu Sans (fonts-dejavu-core) is not installed";
    }
    plat::ResetRegistryForTests();
    PinDejaVu();
    m_dc = plat::CreateCompatibleDC(nullptr);
  }
  void TearDown() override {
    if (m_dc) {
      plat::SelectObject(m_dc, plat::GetStockObject(plat::SYSTEM_FONT));
      plat::DeleteDC(m_dc);
    }
    for (plat::HFONT f : m_fonts) plat::DeleteObject(f);
    plat::ResetRegistryForTests();
  }

  // A font selected into the fixture's DC (deleted at the end).
  plat::HFONT Use(int32_t height, int weight = plat::FW_NORMAL, bool italic = false, bool underline = false) {
    plat::HFONT f = MakeFont(height, weight, italic, underline);
    EXPECT_NE(f, nullptr);
    m_fonts.push_back(f);
    plat::SelectObject(m_dc, f);
    return f;
  }
  int32_t Extent(plat::WStringView text) {
    plat::Size s;
    EXPECT_TRUE(plat::GetTextExtentPoint32(m_dc, text, &s));
    return s.cx;
  }
  plat::TextMetrics Metrics() {
    plat::TextMetrics tm;
    EXPECT_TRUE(plat::GetTextMetrics(m_dc, &tm));
    return tm;
  }
  // What DT_CALCRECT makes of the text at a width: lines and widest line.
  struct Calc {
    int lines;
    int width;
  };
  Calc CalcAt(plat::WStringView text, int32_t width, uint32_t format) {
    plat::Rect r{3, 7, 3 + width, 7};
    const int h = plat::DrawText(m_dc, text, &r, format | plat::DT_CALCRECT);
    const int lineHeight = Metrics().height;
    EXPECT_EQ(h, r.bottom - 7);
    EXPECT_EQ(h % lineHeight, 0);
    return {h / lineHeight, r.right - 3};
  }

  plat::HDC m_dc = nullptr;
  std::vector<plat::HFONT> m_fonts;
};

}  // namespace tt
