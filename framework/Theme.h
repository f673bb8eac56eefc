// Theme colours (0xAARRGGBB by theme index) and the screen-size test the
// skins are chosen by.
#pragma once

#include <cstdint>

#include "framework/Graphics.h"

// The theme index: the settings object's while it lives (it installs the
// address of its index here, null when it goes), else the stand-in value
// SetThemeIndex writes. UI thread.
uint32_t GetThemeIndex();
void SetThemeIndex(uint32_t nTheme);
void SetThemeIndexSource(const int32_t* pIndex);

// Any index other than 0 and 1 gives opaque black for every role.
TColor ThemeBackgroundColor(uint32_t nTheme);
TColor ThemeSecondaryTextColor(uint32_t nTheme);
TColor ThemeLinkFocusedColor(uint32_t nTheme);
TColor ThemeLinkColor(uint32_t nTheme);
TColor ThemeTextColor(uint32_t nTheme);
TColor ThemeAccentTextColor(uint32_t nTheme);
TColor ThemeDialogTextColor(uint32_t nTheme);
TColor ThemeDialogBackColor(uint32_t nTheme);
TColor ThemeDialogTitleBackColor(uint32_t nTheme);
TColor ThemeListBorderColor(uint32_t nTheme);
TColor ThemeListFillColor(uint32_t nTheme);
TColor ThemeDimTextColor(uint32_t nTheme);
TColor ThemeButtonCaptionColor(uint32_t nTheme);
TColor ThemeButtonCaptionDimColor(uint32_t nTheme);
TColor ThemePainterColor(uint32_t nTheme);
TColor ThemeModeTextColorA(uint32_t nTheme);
TColor ThemeModeTextColorB(uint32_t nTheme);
TColor ThemeSearchingPainterColor(uint32_t nTheme);
TColor ThemeCaptionColor(uint32_t nTheme);

// One side of the client area exactly 240 and the other longer.
bool IsSmallScreen(int32_t nWidth, int32_t nHeight);
// The main window's client area (false without an application).
bool IsSmallScreen();
