// Pictures of the open options menu drawn with the generated art, written
// into the build folder for people to look at (not compared with goldens):
// portrait in both colour themes, landscape with page buttons, and the
// small 240 x 400 screen.
#include <filesystem>

#include "menu_test_support.h"

namespace {

using vytest::MenuFixture;

class MenuSnapshotTest : public MenuFixture {
 protected:
  void SetUp() override {}
  // The main pack (with the art) as the resource module.
  void UseMainPack() {
    std::filesystem::create_directories(m_tp->DeviceRoot() / "fs");
    std::filesystem::copy_file(MAIN_PACK, m_tp->DeviceRoot() / "fs" / "Quorel.res",
                               std::filesystem::copy_options::overwrite_existing);
    m_hModule = plat::LoadLibrary(u"\\Quorel.res");
    ASSERT_NE(m_hModule, nullptr);
    SetResourceInstance(m_hModule);
  }
  void Screen(int32_t w, int32_t h, uint32_t dpi) {
    plat::TestConfig config;
    config.screenWidth = w;
    config.screenHeight = h;
    config.dpi = dpi;
    Start(config);
    Prepare(w, h, false);
    UseMainPack();
    // Something to dim: a few coloured blocks on the grey background.
    const plat::COLORREF colours[] = {plat::RGB(220, 60, 40), plat::RGB(40, 140, 220), plat::RGB(250, 200, 30)};
    for (int32_t i = 0; i < 3; ++i) {
      const RECT rc{10 + i * w / 3, 10, (i + 1) * w / 3 - 10, h / 3};
      auto* p = new CVyPicture(&rc);
      p->SetBackColor(colours[i]);
      m_gui->GetRootPanel()->AddControl(p, -1);
    }
  }
  void Shoot(const std::string& name, int32_t nItems) {
    auto table = Table(nItems);
    table[1].label = u"Send to a friend";
    table[2].nDisabled = 1;
    CBasicMenuEx* m = OpenMenu(table);
    Frames(60);
    ASSERT_EQ(m->GetState(), CVyMenu::kStateOpen);
    // The frame's top-left corner comes from the art: not the dimmed grey.
    RECT rc;
    m->GetRect(&rc);
    EXPECT_NE(ScreenPixel(rc.left + 8, rc.top + 8), ScreenPixel(2, rc.top - 2)) << name;
    EXPECT_GT(PictureWidth(m->FindRole(0)), 0) << name;
    std::filesystem::create_directories(SNAPSHOT_DIR);
    const std::filesystem::path file = std::filesystem::path(SNAPSHOT_DIR) / (name + ".png");
    EXPECT_TRUE(m_tp->Backend().WritePng(file));
    EXPECT_GT(std::filesystem::file_size(file), 1000u);
  }
};

TEST_F(MenuSnapshotTest, PortraitTheme0) {
  Screen(480, 800, 192);
  SetMenuImageIDs(kMenuImageIdsTheme0);
  SetMenuItemImageIDs(kMenuItemImageIdsTheme0);
  Shoot("portrait-theme0", 5);
}

TEST_F(MenuSnapshotTest, PortraitTheme1) {
  Screen(480, 800, 192);
  SetMenuImageIDs(kMenuImageIdsTheme1);
  SetMenuItemImageIDs(kMenuItemImageIdsTheme1);
  Shoot("portrait-theme1", 5);
}

TEST_F(MenuSnapshotTest, LandscapeWithPageButtons) {
  Screen(800, 480, 192);
  SetMenuImageIDs(kMenuImageIdsTheme0);
  SetMenuItemImageIDs(kMenuItemImageIdsTheme0);
  Shoot("landscape-paged", 9);
  EXPECT_TRUE(m_menus.back()->FindRole(VYMENU_ROLE_PAGE_DOWN)->IsVisible());
}

TEST_F(MenuSnapshotTest, SmallScreen240x400) {
  Screen(240, 400, 96);
  SetMenuImageIDs(kMenuImageIdsSmall);
  SetMenuItemImageIDs(kMenuItemImageIdsSmall);
  Shoot("small-240x400", 5);
}

}  // namespace
