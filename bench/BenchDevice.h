// The device a benchmark's client runs on: the debug output silenced, a fresh
// registry with the application key and a server address, Wi-Fi off, and a
// private device root in the temporary folder, removed when it goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "framework/AppRegistry.h"
#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"

namespace bench {

class CBenchDevice {
 public:
  CBenchDevice() {
    plat::SetDebugSink([](plat::WStringView) {});
    plat::ResetRegistryForTests();
    RegOpenAppKey();
    RegSetAppString(u"url", u"http://127.0.0.1/");
    plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
    std::string templ = (std::filesystem::temp_directory_path() / "quorel-bench-XXXXXX").string();
    m_folder = ::mkdtemp(templ.data());
    plat::FileSystemConfig config;
    config.deviceRoot = m_folder;
    plat::ConfigureFileSystem(config);
  }
  ~CBenchDevice() {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
  CBenchDevice(const CBenchDevice&) = delete;
  CBenchDevice& operator=(const CBenchDevice&) = delete;

  // The host folder that stands for the device's root.
  const std::filesystem::path& Folder() const { return m_folder; }

 private:
  std::filesystem::path m_folder;
};

}  // namespace bench
