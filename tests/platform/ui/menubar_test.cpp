// The shell's menu bar: its band, its soft-key commands, the Back key and
// how it keeps out of the program's activation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/base/Errors.h"
#include "platform/ui/WindowSurface.h"
#include "tests/platform/ui/UiTestUtil.h"
#include "tools/qrespack/PackWriter.h"

namespace {

using namespace plat;
using namespace uit;

class MenuBar : public ::testing::Test {
 protected:
  void SetUp() override {
    qrespack::PackWriter w;
    std::string error;
    w.AddMenu(102, {{kSoftKeyLeftCommand, u"Menu"}, {kSoftKeyRightCommand, u"Back"}}, "t", error);
    w.AddMenu(103, {{kSoftKeyLeftCommand, u"Only"}}, "t", error);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w.Serialize(bytes, error)) << error;
    std::filesystem::create_directories(p.DeviceRoot() / "fs");
    std::ofstream(p.DeviceRoot() / "fs" / "t.res", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    module = LoadLibrary(u"\\t.res");
    ASSERT_NE(module, nullptr);
    main = rec.Create("M", nullptr, {0, 0, 480, 800});
    child = rec.Create("C", main, {0, 0, 100, 100});
  }
  void TearDown() override { FreeLibrary(module); }

  TestPlatform p;
  Recorder rec;
  ModuleHandle module = nullptr;
  HWND main = nullptr;
  HWND child = nullptr;
};

TEST_F(MenuBar, SitsInTheBottomBandWithoutTakingActivation) {
  rec.Only({WM_ACTIVATE});
  HWND bar = SHCreateMenuBar(main, module, 102);
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(rec.Records().empty());
  EXPECT_EQ(GetForegroundWindow(), main);
  EXPECT_EQ(GetMainWindow(), main);
  EXPECT_EQ(MenuBarHeight(), 64);  // 2/25 of 800
  Rect r;
  GetWindowRect(bar, &r);
  EXPECT_EQ(r, (Rect{0, 736, 480, 800}));
  EXPECT_EQ(VisibleTopLevelWindowsAbove(child), (std::vector<HWND>{bar}));
  EXPECT_EQ(FindMenuBar(child), bar);
  EXPECT_EQ(FindWindow(u"PlatformMenuBar", u""), nullptr);  // not one of the program's windows

  auto state = p.MenuBar();
  ASSERT_TRUE(state);
  EXPECT_EQ(state->owner, main);
  EXPECT_EQ(state->buttons[0].command, kSoftKeyLeftCommand);
  EXPECT_EQ(state->buttons[0].text, u"Menu");
  EXPECT_EQ(state->buttons[1].command, kSoftKeyRightCommand);
  EXPECT_TRUE(state->buttons[0].enabled && state->buttons[1].enabled);
  EXPECT_FALSE(state->backOverridden);

  // The program shortens its window by the bar once; a new top-level window
  // still goes below the bar.
  GetWindowRect(main, &r);
  MoveWindow(main, r.left, r.top, r.Width(), r.Height() - MenuBarHeight(), false);
  HWND popup = rec.Create("P", nullptr, {0, 0, 480, 800});
  EXPECT_EQ(VisibleTopLevelWindowsAbove(popup), (std::vector<HWND>{bar}));
}

TEST_F(MenuBar, RefusesWhatItCannotBuild) {
  HWND bar = SHCreateMenuBar(main, module, 102);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SHCreateMenuBar(child, module, 102), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HWND other = rec.Create("O", nullptr, {0, 0, 10, 10});
  EXPECT_EQ(SHCreateMenuBar(other, module, 999), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  DestroyWindow(other);
  EXPECT_EQ(SHCreateMenuBar(other, module, 102), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(MenuBarSetButton(main, 0, u"x", true));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(MenuBarSetButton(bar, 2, u"x", true));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // It goes with its owner.
  DestroyWindow(main);
  EXPECT_FALSE(IsWindow(bar));
  EXPECT_FALSE(p.MenuBar());
}

TEST_F(MenuBar, SoftKeyCommands) {
  HWND bar = SHCreateMenuBar(main, module, 102);
  ASSERT_NE(bar, nullptr);
  const int y = 770;
  struct Case {
    const char* what;
    const char16_t* left;
    bool leftEnabled;
    const char16_t* right;
    bool rightEnabled;
    std::function<void()> act;
    std::vector<Expect> want;
  } cases[] = {
      {"tap left", u"Menu", true, u"Back", true, [&] { p.Tap(50, y); },
       {{"M", WM_COMMAND, kSoftKeyLeftCommand, reinterpret_cast<LPARAM>(bar)}}},
      {"tap right", u"Menu", true, u"Back", true, [&] { p.Tap(430, y); }, {{"M", WM_COMMAND, kSoftKeyRightCommand}}},
      {"tap a disabled label", u"Menu", true, u"Back", false, [&] { p.Tap(430, y); }, {}},
      {"tap an empty label", u"", true, u"Back", true, [&] { p.Tap(50, y); }, {}},
      {"down on one label, up on the other", u"Menu", true, u"Back", true,
       [&] {
         p.Down(50, y);
         p.Move(430, y);
         p.Up(430, y);
       },
       {}},
      {"slide off the bar", u"Menu", true, u"Back", true,
       [&] {
         p.Down(50, y);
         p.Move(50, 300);
         p.Up(50, 300);
       },
       {}},
      {"F1 released in a child window", u"Menu", true, u"Back", true,
       [&] {
         SetFocus(child);
         p.Key(VK_F1);
       },
       {{"M", WM_COMMAND, kSoftKeyLeftCommand}}},
      {"F2 released", u"Menu", true, u"Back", true, [&] { p.Key(VK_F2); }, {{"M", WM_COMMAND, kSoftKeyRightCommand}}},
      {"F2 while disabled", u"Menu", true, u"Back", false, [&] { p.Key(VK_F2); }, {}},
      {"F1 pressed, not released", u"Menu", true, u"Back", true, [&] { p.KeyDown(VK_F1); }, {}},
  };
  rec.Only({WM_COMMAND});
  for (const Case& c : cases) {
    MenuBarSetButton(bar, 0, c.left, c.leftEnabled);
    MenuBarSetButton(bar, 1, c.right, c.rightEnabled);
    p.Pump();
    rec.Clear();
    c.act();
    p.Pump();
    EXPECT_TRUE(Sequence(rec.Records(), c.want)) << c.what;
  }
}

TEST_F(MenuBar, BackKeyBelongsToTheShellUntilOverridden) {
  HWND bar = SHCreateMenuBar(main, module, 102);
  ASSERT_NE(bar, nullptr);
  rec.Only({WM_ACTIVATE});
  SetFocus(child);
  p.Key(VK_ESCAPE);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_ACTIVATE, WA_INACTIVE}}));
  p.Activate(true);
  p.Pump();
  rec.Clear();
  // As the program does at start: message 0x593 with 27 and 0x10001.
  EXPECT_EQ(SendMessage(bar, SHCMBM_OVERRIDEKEY, VK_ESCAPE, MAKELPARAM(SHMBOF_NODEFAULT, SHMBOF_NODEFAULT)), 1);
  EXPECT_TRUE(p.MenuBar()->backOverridden);
  p.Key(VK_ESCAPE);
  p.Pump();
  EXPECT_TRUE(rec.Records().empty());
  EXPECT_EQ(GetForegroundWindow(), main);
  // Bits outside the mask stay as they are.
  MenuBarOverrideKey(bar, VK_ESCAPE, MAKELPARAM(SHMBOF_NOTIFY, 0));
  EXPECT_TRUE(p.MenuBar()->backOverridden);
  MenuBarOverrideKey(bar, VK_ESCAPE, MAKELPARAM(SHMBOF_NODEFAULT, 0));
  EXPECT_FALSE(p.MenuBar()->backOverridden);
}

TEST_F(MenuBar, AMenuWithOneItemLeavesTheSecondButtonDead) {
  HWND bar = SHCreateMenuBar(main, module, 103);
  ASSERT_NE(bar, nullptr);
  rec.Only({WM_COMMAND});
  MenuBarSetButton(bar, 1, u"Text", true);
  p.Key(VK_F2);
  p.Pump();
  EXPECT_TRUE(rec.Records().empty());
  EXPECT_EQ(p.MenuBar()->buttons[1].command, 0);
}

TEST_F(MenuBar, FollowsRotationAndTheSettingChangeHandlerRefitsTheMainWindow) {
  HWND bar = SHCreateMenuBar(main, module, 102);
  ASSERT_NE(bar, nullptr);
  MoveWindow(main, 0, 0, 480, 800 - MenuBarHeight(), false);
  ActivateInfo info{12, nullptr, 0};
  rec.OnMessage(main, [&](uint32_t m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_SETTINGCHANGE) {
      SHHandleWMSettingChange(main, w, l, &info);
      return 0;
    }
    return std::nullopt;
  });
  rec.Only({WM_SETTINGCHANGE});
  ASSERT_EQ(p.Rotate(90), DISP_CHANGE_SUCCESSFUL);
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_SETTINGCHANGE, SETTINGCHANGE_RESET}}));
  Rect r;
  GetWindowRect(bar, &r);
  EXPECT_EQ(r, (Rect{0, 442, 800, 480}));  // 2/25 of 480 is 38
  GetWindowRect(main, &r);
  EXPECT_EQ(r, (Rect{0, 0, 800, 442}));
  ASSERT_EQ(p.Rotate(0), DISP_CHANGE_SUCCESSFUL);
  GetWindowRect(main, &r);
  EXPECT_EQ(r, (Rect{0, 0, 480, 736}));
  // The handler leaves child windows and other settings alone.
  EXPECT_FALSE(SHHandleWMSettingChange(child, SETTINGCHANGE_RESET, 0, &info));
  EXPECT_FALSE(SHHandleWMSettingChange(main, 0, 0, &info));
}

TEST_F(MenuBar, ActivationHandlerNotesTheFocusOnDeactivationOnly) {
  ActivateInfo info{12, nullptr, 0};
  SetFocus(child);
  EXPECT_TRUE(SHHandleWMActivate(main, WA_ACTIVE, 0, &info));
  EXPECT_EQ(info.hwndLastFocus, nullptr);
  EXPECT_TRUE(SHHandleWMActivate(main, WA_INACTIVE, 0, &info));
  EXPECT_EQ(info.hwndLastFocus, child);
  EXPECT_EQ(info.cbSize, 12u);
  EXPECT_FALSE(SHHandleWMActivate(main, WA_ACTIVE, 0, nullptr));
}

// The bar draws through the painter GDI installs, with its current state.
TEST_F(MenuBar, PaintsThroughThePainter) {
  static int dcToken;
  PaintHooks hooks;
  hooks.beginPaint = [](HWND, const Rect&) { return reinterpret_cast<HDC>(&dcToken); };
  hooks.endPaint = [](HWND, HDC) {};
  PaintHooks saved = SetPaintHooks(hooks);
  std::vector<std::u16string> painted;
  SetMenuBarPainter([&](HDC dc, const Rect& client, const MenuBarState& state) {
    EXPECT_EQ(dc, reinterpret_cast<HDC>(&dcToken));
    EXPECT_EQ(client, (Rect{0, 0, 480, 64}));
    painted.push_back(state.buttons[0].text + u"|" + (state.buttons[1].enabled ? u"on" : u"off"));
  });
  HWND bar = SHCreateMenuBar(main, module, 102);
  p.Pump();
  MenuBarSetButton(bar, 1, u"Back", false);
  p.Pump();
  SetMenuBarPainter(nullptr);
  SetPaintHooks(saved);
  EXPECT_EQ(painted, (std::vector<std::u16string>{u"Menu|on", u"Menu|off"}));
}

}  // namespace
