// A headless device with the program's folder on a temporary host folder,
// the application key open and a resource registry, for the application's
// start-up tables. Tests write their own main pack and language modules.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "framework/basetypes.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/testing/TestPlatform.h"
#include "tools/qrespack/PackWriter.h"

namespace apptest {

// The code of the error `f` throws; 0 when it throws none.
inline int32_t Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const Env::TSysErrorCode& e) {
    return e.code;
  }
  return 0;
}

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_programFolder = m_platform.DeviceRoot().parent_path() / "program";
    std::filesystem::create_directories(m_programFolder);
    MountProgram(m_programFolder, u"\\Program Files\\Quorel");
    ASSERT_EQ(RegOpenAppKey(), 0);
    CResources::Create();
  }
  void TearDown() override {
    if (CResources::Instance()) CResources::Destroy();
    plat::SetMainModule(nullptr);
    if (m_mainPack) plat::FreeLibrary(m_mainPack);
    plat::SetUILanguageOverride(std::nullopt);
    RegCloseAppKey();
  }

  // Puts the program (the host folder `folder`) at `mount` on the device.
  void MountProgram(const std::filesystem::path& folder, const plat::WString& mount) {
    plat::FileSystemConfig config = plat::CurrentFileSystemConfig();
    config.programFolder = folder;
    config.programMount = mount;
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
  }

  void WritePack(const std::string& name, const qrespack::PackWriter& writer) {
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(writer.Serialize(bytes, error)) << error;
    std::ofstream(m_programFolder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  // A language module with these string resources.
  void WriteModule(const std::string& name, const std::map<uint16_t, std::u16string>& strings) {
    qrespack::PackWriter writer;
    std::string error;
    for (const auto& [id, text] : strings) ASSERT_TRUE(writer.AddString(id, text, "test", error)) << error;
    WritePack(name, writer);
  }

  // The main pack with these RT_RCDATA resources, registered as the program's
  // own module.
  void LoadMainPack(const std::map<uint16_t, std::vector<uint8_t>>& pictures) {
    qrespack::PackWriter writer;
    std::string error;
    for (const auto& [id, bytes] : pictures)
      ASSERT_TRUE(writer.AddRaw({plat::RT_RCDATA, {}}, id, bytes, "test", error)) << error;
    WritePack("Quorel.res", writer);
    m_mainPack = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
    ASSERT_NE(m_mainPack, nullptr);
    plat::SetMainModule(m_mainPack);
  }

  plat::TestPlatform m_platform;
  std::filesystem::path m_programFolder;
  plat::ModuleHandle m_mainPack = nullptr;
};

}  // namespace apptest
