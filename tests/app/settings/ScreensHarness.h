// The settings, choice, help, message, credits and terms screens in the
// application on the headless device: the program's folder holds language
// modules written by the test (every UI string as "<code> <id>"), every
// picture slot is a small solid picture, and the screens are registered as
// the program registers them, beside plain views for the others.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/LanguageTable.h"
#include "app/SettingsScreens.h"
#include "search/AppHarness.h"
#include "tests/framework/graphics_test_util.h"
#include "tests/framework/widgets_test_support.h"
#include "platform/shell/Launch.h"
#include "tools/qrespack/PackWriter.h"

namespace screenstest {

using searchtest::TLog;
using TStep = std::function<void()>;

// Interface languages of the written modules: EN (0), FR (1) and DE (3).
struct TModule {
  int32_t nIndex;
  const char16_t* szCode;
};
inline constexpr TModule kModules[] = {{0, u"EN"}, {1, u"FR"}, {3, u"DE"}};

// The screens on top of a harness of the application (the plain one or the
// one with the protocol test server).
template <class Base>
class TScreensHarness : public Base {
 protected:
  // Before the base makes the application: the screen, the views, the
  // pictures, and the language modules instead of the test's strings.
  void PrepareScreens(int32_t w, int32_t h) {
    this->m_screen = SIZE{w, h};
    this->m_bTestStrings = false;
    this->m_makeFactory = [](int32_t nView) -> CViewFactory* {
      CViewFactory* pFactory = NewSettingsScreenFactory(nView);
      return pFactory ? pFactory : new searchtest::TPlainFactory();
    };
    this->m_registerImages = [] {
      for (int32_t nSlot = 0; nSlot < 390; ++nSlot)
        CResources::RegisterImageSource(nSlot, new widgettest::TSolidImage(16, 16, 0x203040u + uint32_t(nSlot)));
    };
  }
  // After: the views the base does not register, the modules (texts in
  // `overrides` replace the generated ones), links only recorded, and the
  // program's own settings, made after the strings as start-up makes them.
  void FinishScreens(const std::map<int32_t, std::u16string>& overrides) {
    for (int32_t nView : {5, 6, 10, 11, 13, 14, 15, 18, 19, 21, 22})
      this->m_app->RegisterView(nView, this->m_makeFactory(nView));
    plat::SetLaunchRecordingOnly(true);
    plat::ClearLaunches();
    WriteModules(overrides);
    gfx::PinTestFont();
    this->m_settings.reset();
  }
  // The application on a w × h screen under the virtual clock.
  void StartScreens(int32_t w = 480, int32_t h = 800, const std::map<int32_t, std::u16string>& overrides = {},
                    const std::function<void()>& beforeServices = {}) {
    PrepareScreens(w, h);
    this->MakeApp(true, true, {}, beforeServices);
    FinishScreens(overrides);
  }

  void WriteModules(const std::map<int32_t, std::u16string>& overrides) {
    const std::filesystem::path folder = this->m_tp->DeviceRoot().parent_path() / "program";
    std::filesystem::create_directories(folder);
    plat::FileSystemConfig config = plat::CurrentFileSystemConfig();
    config.programFolder = folder;
    config.programMount = u"\\Program Files\\Quorel";
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
    for (const TModule& module : kModules) {
      qrespack::PackWriter writer;
      std::string error;
      std::set<uint16_t> written;  // some ids share one resource
      for (int32_t nId = 0; nId <= 230; ++nId) {
        const uint16_t nResource = UiStringResourceId(nId);
        if (!nResource || !written.insert(nResource).second) continue;
        auto it = overrides.find(nId);
        const std::u16string text =
            it != overrides.end() ? it->second : module.szCode + (u" " + plat::Widen(std::to_string(nId)));
        ASSERT_TRUE(writer.AddString(nResource, text, "test", error)) << error;
      }
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(writer.Serialize(bytes, error)) << error;
      std::ofstream(folder / plat::ToUtf8(LanguageModuleFile(module.nIndex)), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
  }

  // The settings' lists from the registered texts (start-up fills them for
  // the program's own settings).
  static void FillLists() {
    GetAppSettings()->FillLanguageList();
    GetAppSettings()->FillChoiceLists();
  }

  template <class V>
  V* Active() {
    return dynamic_cast<V*>(this->m_app->ActiveView());
  }
  // A tap in the middle of the control.
  void TapOn(const CControl* pControl) {
    const RECT rc = pControl->ScreenRect();
    this->m_tp->Tap((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  }
  static std::u16string Text(int32_t nId) { return CResources::GetString(nId); }
  static RECT NodeRect(CLayoutNode* pRoot, int32_t nId, int32_t nSub = -1) {
    CLayoutNode* pNode = pRoot ? pRoot->FindNode(nId, nSub) : nullptr;
    return pNode ? pNode->GetRect(CLayoutNode::SpaceWindow) : RECT{};
  }
  static int32_t Height(const RECT& rc) { return rc.bottom - rc.top; }
  std::vector<std::string> LinesWith(const std::string& part) const {
    std::vector<std::string> lines;
    for (const std::string& line : this->m_tp->DebugLines())
      if (line.find(part) != std::string::npos) lines.push_back(line);
    return lines;
  }
};

using ScreensHarness = TScreensHarness<searchtest::AppHarness>;

}  // namespace screenstest
