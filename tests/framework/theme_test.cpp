#include <gtest/gtest.h>

#include "framework/Theme.h"

namespace {

using TRole = TColor (*)(uint32_t);

TEST(ThemeTest, OtherThemesAreBlackEverywhereAndTheBackgroundAlways) {
  const TRole roles[] = {ThemeBackgroundColor,     ThemeSecondaryTextColor,  ThemeLinkFocusedColor,
                         ThemeLinkColor,           ThemeTextColor,           ThemeAccentTextColor,
                         ThemeDialogTextColor,     ThemeDialogBackColor,     ThemeDialogTitleBackColor,
                         ThemeListBorderColor,     ThemeListFillColor,       ThemeDimTextColor,
                         ThemeButtonCaptionColor,  ThemeButtonCaptionDimColor, ThemePainterColor,
                         ThemeModeTextColorA,      ThemeModeTextColorB,      ThemeSearchingPainterColor,
                         ThemeCaptionColor};
  for (uint32_t theme : {2u, 3u, 0xFFFFFFFFu})
    for (TRole role : roles) EXPECT_EQ(role(theme), 0xFF000000u) << theme;
  for (uint32_t theme : {0u, 1u, 2u}) EXPECT_EQ(ThemeBackgroundColor(theme), 0xFF000000u);
  // The two themes differ where their looks differ, and every colour is opaque.
  EXPECT_EQ(ThemeTextColor(0), 0xFFFFFFFFu);
  EXPECT_EQ(ThemeDialogTextColor(1), 0xFF000000u);
  EXPECT_EQ(ThemeLinkColor(1), 0xFF877152u);
  EXPECT_EQ(ThemeButtonCaptionColor(0), 0xFF27D4FEu);
  for (TRole role : roles)
    for (uint32_t theme : {0u, 1u}) EXPECT_EQ(role(theme) >> 24, 0xFFu);
}

TEST(ThemeTest, SmallScreenIsExactly240OnOneSideAndLongerOnTheOther) {
  EXPECT_TRUE(IsSmallScreen(240, 400));
  EXPECT_TRUE(IsSmallScreen(240, 320));
  EXPECT_TRUE(IsSmallScreen(320, 240));
  EXPECT_FALSE(IsSmallScreen(240, 240));
  EXPECT_FALSE(IsSmallScreen(480, 800));
  EXPECT_FALSE(IsSmallScreen(239, 400));
  EXPECT_FALSE(IsSmallScreen(240, 200));
  EXPECT_FALSE(IsSmallScreen());  // no application
}

}  // namespace
