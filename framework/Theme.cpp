#include "framework/Theme.h"

#include <atomic>

#include "framework/AppUi.h"

namespace {

std::atomic<uint32_t> s_nTheme{0};
std::atomic<const int32_t*> s_pSource{nullptr};

TColor Pick(uint32_t nTheme, TColor c0, TColor c1) {
  if (nTheme == 0) return c0;
  if (nTheme == 1) return c1;
  return 0xFF000000u;
}

}  // namespace

uint32_t GetThemeIndex() {
  if (const int32_t* pIndex = s_pSource.load(std::memory_order_acquire)) return static_cast<uint32_t>(*pIndex);
  return s_nTheme.load(std::memory_order_relaxed);
}
void SetThemeIndexSource(const int32_t* pIndex) { s_pSource.store(pIndex, std::memory_order_release); }
void SetThemeIndex(uint32_t nTheme) { s_nTheme.store(nTheme, std::memory_order_relaxed); }

TColor ThemeBackgroundColor(uint32_t n) { return Pick(n, 0xFF000000u, 0xFF000000u); }
TColor ThemeSecondaryTextColor(uint32_t n) { return Pick(n, 0xFF808080u, 0xFF808080u); }
TColor ThemeLinkFocusedColor(uint32_t n) { return Pick(n, 0xFF8080FFu, 0xFFC3B8A8u); }
TColor ThemeLinkColor(uint32_t n) { return Pick(n, 0xFF0000FFu, 0xFF877152u); }
TColor ThemeTextColor(uint32_t n) { return Pick(n, 0xFFFFFFFFu, 0xFFFFFFFFu); }
TColor ThemeAccentTextColor(uint32_t n) { return Pick(n, 0xFFB0FFEFu, 0xFF877152u); }
TColor ThemeDialogTextColor(uint32_t n) { return Pick(n, 0xFFFFFFFFu, 0xFF000000u); }
TColor ThemeDialogBackColor(uint32_t n) { return Pick(n, 0xFF292929u, 0xFFFFFFFFu); }
TColor ThemeDialogTitleBackColor(uint32_t n) { return Pick(n, 0xFF0068B3u, 0xFF716045u); }
TColor ThemeListBorderColor(uint32_t n) { return Pick(n, 0xFF363636u, 0xFFFFFFFFu); }
TColor ThemeListFillColor(uint32_t n) { return Pick(n, 0xFFACACACu, 0xFFACACACu); }
TColor ThemeDimTextColor(uint32_t n) { return Pick(n, 0xFFA8A8A8u, 0xFFA8A8A8u); }
TColor ThemeButtonCaptionColor(uint32_t n) { return Pick(n, 0xFF27D4FEu, 0xFF877152u); }
TColor ThemeButtonCaptionDimColor(uint32_t n) { return Pick(n, 0xFF555555u, 0xFF555555u); }
TColor ThemePainterColor(uint32_t n) { return Pick(n, 0xFFA2A2A2u, 0xFFA2A2A2u); }
TColor ThemeModeTextColorA(uint32_t n) { return Pick(n, 0xFFFFEBB2u, 0xFFFFEBB2u); }
TColor ThemeModeTextColorB(uint32_t n) { return Pick(n, 0xFFFFD2BFu, 0xFFFFD2BFu); }
TColor ThemeSearchingPainterColor(uint32_t n) { return Pick(n, 0xFFBFBFBFu, 0xFFBFBFBFu); }
TColor ThemeCaptionColor(uint32_t n) { return Pick(n, 0xFFFFFFFFu, 0xFF877152u); }

bool IsSmallScreen(int32_t nWidth, int32_t nHeight) {
  return (nWidth == 240 && nHeight > 240) || (nHeight == 240 && nWidth > 240);
}

bool IsSmallScreen() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp || !pApp->Window()) return false;
  RECT rc;
  if (!plat::GetClientRect(pApp->Window(), &rc)) return false;
  return IsSmallScreen(rc.right - rc.left, rc.bottom - rc.top);
}
