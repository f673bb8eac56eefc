// Pictures of the message and progress dialogs over the recorder screen, as
// the program draws them with the build's own main pack (pictures) and
// language modules, in both orientations and both themes. With
// QUOREL_DIALOG_PICTURES set to a folder the pictures are written there
// (docs/app-core/ holds the committed set); every run checks that each
// scene draws the same pixels and the same file twice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderView.h"
#include "framework/AppRegistry.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/testing/TestPlatform.h"
#include "platform/ui/Ui.h"
#include "protocol/AppSettings.h"
#include "tests/framework/graphics_test_util.h"

namespace {

struct TScene {
  const char* szName;
  int32_t w, h;
  uint32_t nTheme;
  bool bProgress;
};

class TPlainView : public CView {};
class TPlainFactory : public CViewFactory {
 public:
  CView* CreateView() override { return new TPlainView(); }
};

std::vector<char> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts the application on a w × h device with the build's modules, shows
// the scene's dialog over view 2 and writes the screen to `png`. Returns the
// screen's pixels, empty when anything failed.
std::vector<uint16_t> DrawScene(const TScene& s, const std::filesystem::path& png) {
  plat::TestConfig config;
  config.virtualClock = true;
  config.screenWidth = s.w;
  config.screenHeight = s.h;
  auto tp = std::make_unique<plat::TestPlatform>(config);
  plat::FileSystemConfig files = plat::CurrentFileSystemConfig();
  files.programFolder = QUOREL_BIN_DIR;
  files.programMount = u"\\Program Files\\Quorel";
  if (!plat::ConfigureFileSystem(files)) {
    ADD_FAILURE() << "cannot mount " << QUOREL_BIN_DIR;
    return {};
  }
  gfx::PinTestFont();
  plat::ModuleHandle hModule = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
  if (!hModule) {
    ADD_FAILURE() << "no main pack in " << QUOREL_BIN_DIR;
    return {};
  }
  // The pictures load from the main module, as in the program.
  plat::SetMainModule(hModule);
  RegOpenAppKey();
  std::vector<uint16_t> pixels;
  {
    auto app = std::make_unique<CQuorelAppUi>();
    app->Init(hModule, plat::SW_SHOW);
    app->RegisterView(2, new CRecorderViewFactory());
    for (int32_t nView : {4, 12}) app->RegisterView(nView, new TPlainFactory());
    app->SetStartView(2);
    CQuorelAppUi::SetUpdateCheckOnStart(false);
    // The program's own strings, pictures and settings; no network, phone or
    // sound services, which a picture does not need.
    CQuorelAppUi::SetStartStepHook([&s](EStartStep step) {
      if (step == EStartStep::Options) return false;
      return step <= EStartStep::Settings || step > EStartStep::AudioBuffer;
    });
    int nStep = 0;
    tp->SetIdleHook([&] {
      switch (nStep++) {
        case 0:
          // The settings made at start-up hold the theme (the device model
          // picks it in the program); the screen is rebuilt in it.
          *AppSettings::ThemeIndex() = static_cast<int32_t>(s.nTheme);
          app->ReactivateView(2);
          return true;
        case 1:
          if (s.bProgress) {
            CProgressDialog* p = CProgressDialog::Create(0, {}, 7, {}, 86, 1);
            p->SetProgress(2, 5);
          } else {
            CMessageDialog::Create(3, {}, 7, {}, 44, 2);
          }
          return true;
        case 2:
        case 3:
          return true;  // the dialog's fit and the pass it posts
        case 4:
          if (tp->SnapshotPng(png))
            for (int32_t y = 0; y < tp->Screen().Height(); ++y)
              pixels.insert(pixels.end(), tp->Screen().Row(y), tp->Screen().Row(y) + tp->Screen().Width());
          CMessageDialog::CloseAll();
          plat::PostQuitMessage(0);
          return true;
        default:
          return true;
      }
    });
    if (app->Run() != 0) {
      std::string lines;
      for (const std::string& line : tp->DebugLines()) lines += line;
      ADD_FAILURE() << s.szName << " did not start:\n" << lines;
    }
    tp->SetIdleHook({});
    CQuorelAppUi::SetStartStepHook({});
    CQuorelAppUi::SetUpdateCheckOnStart(true);
  }
  RegCloseAppKey();
  plat::SetMainModule(nullptr);
  plat::FreeLibrary(hModule);
  return pixels;
}

TEST(DialogPicturesTest, BothDialogsInBothOrientationsAndThemesDrawTheSameTwice) {
  const TScene scenes[] = {
      {"message-portrait-theme0", 480, 800, 0, false},  {"message-portrait-theme1", 480, 800, 1, false},
      {"message-landscape-theme0", 800, 480, 0, false}, {"message-landscape-theme1", 800, 480, 1, false},
      {"progress-portrait-theme0", 480, 800, 0, true},  {"progress-portrait-theme1", 480, 800, 1, true},
      {"progress-landscape-theme0", 800, 480, 0, true}, {"progress-landscape-theme1", 800, 480, 1, true},
  };
  const char* szFolder = getenv("QUOREL_DIALOG_PICTURES");
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("quorel-dialog-pictures-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  std::vector<uint16_t> without;
  for (const TScene& s : scenes) {
    const std::filesystem::path out =
        (szFolder ? std::filesystem::path(szFolder) : scratch) / (std::string(s.szName) + ".png");
    const std::vector<uint16_t> first = DrawScene(s, out);
    ASSERT_EQ(first.size(), size_t(s.w) * s.h) << s.szName;
    const std::vector<uint16_t> again = DrawScene(s, scratch / "again.png");
    EXPECT_EQ(first, again) << s.szName;
    EXPECT_EQ(ReadBytes(out), ReadBytes(scratch / "again.png")) << s.szName;
  }
  std::filesystem::remove_all(scratch);
}

}  // namespace
