#include "platform/entry/Entry.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/base/Format.h"
#include "platform/display/Display.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "platform/sdl/SdlBackend.h"
#include "platform/shell/MenuBarPaint.h"
#include "platform/ui/Ui.h"

namespace {

constexpr int kShowWindow = 5;  // SW_SHOW
constexpr plat::WChar kMainPack[] = u"\\Program Files\\Quorel\\Quorel.res";

// The device as the program expects to find it: registry hives and the file
// system under the device root, the program's folder beside the executable,
// one storage card.
bool PrepareDevice() {
  const std::filesystem::path root = plat::DefaultDeviceRoot();
  const std::filesystem::path programFolder = plat::ExecutableFolder();

  plat::RegistryConfig registry;
  registry.folder = root / "registry";
  registry.defaultsFile = programFolder / "device-defaults.reg";
  plat::ConfigureRegistry(registry);

  plat::FileSystemConfig files;
  files.deviceRoot = root;
  files.programFolder = programFolder;
  files.cards.push_back({u"Storage Card", root / "cards" / "Storage Card", false});
  if (!plat::ConfigureFileSystem(files)) {
    plat::DebugWrite(plat::FormatW(u"[platform] cannot set up the device under %S (error %u)\n",
                                   root.string(), plat::GetLastError()));
    return false;
  }
  // The display answered static initialisers with its defaults before the
  // registry was set up; now the device's own screen settings apply.
  plat::ReloadDisplayConfig();
  plat::InstallMenuBarPainter();
  return true;
}

// SIGINT and SIGTERM ask the program to close as its window's close button
// does; a second one ends the process at once. Every thread inherits the
// blocked signals, so only the watcher takes them, outside any handler.
void WatchCloseSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  std::thread([set] {
    int nReceived = 0;
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (++nReceived > 1) _exit(128 + sig);
      plat::DebugWrite(plat::FormatW(u"[platform] signal %d: closing the main window\n", sig));
      plat::InjectClose();
    }
  }).detach();
}

}  // namespace

int main(int, char**) {
  WatchCloseSignals();
  if (!PrepareDevice()) return 1;
  // Sound from and to files (QUOREL_MIC, QUOREL_SPEAKER): a bad file stops
  // the start with a message rather than leaving the phone deaf.
  if (const std::string error = plat::ApplyAudioFileSwitches(); !error.empty()) {
    std::fprintf(stderr, "quorel: %s\n", error.c_str());
    return 1;
  }
  // A window when there is a desktop, otherwise headless (QUOREL_BACKEND forces either).
  plat::InstallPreferredDisplayBackend();

  plat::ModuleHandle mainModule = plat::LoadLibrary(kMainPack);
  if (!mainModule) {
    plat::DebugWrite(plat::FormatW(u"[platform] cannot load %s (error %u)\n", kMainPack, plat::GetLastError()));
    return 1;
  }
  plat::SetMainModule(mainModule);

  // The program reads no command line.
  return WinMain(mainModule, nullptr, u"", kShowWindow);
}
