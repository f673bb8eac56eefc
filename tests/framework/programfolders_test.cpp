#include "framework/ProgramFolders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <vector>

#include "platform/fs/FileSystem.h"

namespace {

class ProgramFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = plat::CurrentFileSystemConfig();
    std::string pattern = (std::filesystem::temp_directory_path() / "quorel-folders-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
  }
  void TearDown() override {
    plat::ConfigureFileSystem(m_saved);
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  // The program mounted at `mount`, with the named cards.
  void Configure(const plat::WString& mount, const std::vector<plat::WString>& cards) {
    plat::FileSystemConfig config;
    config.deviceRoot = m_root;
    config.programMount = mount;
    for (const plat::WString& name : cards) {
      std::filesystem::path host = m_root / "cards" / plat::ToUtf8(name);
      std::filesystem::create_directories(host);
      config.cards.push_back({name, host, false});
    }
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
  }

  plat::FileSystemConfig m_saved;
  std::filesystem::path m_root;
};

TEST_F(ProgramFolders, ModuleFolderHasNoTrailingBackslash) {
  Configure(u"\\Program Files\\Quorel", {u"Storage Card"});
  EXPECT_EQ(GetModuleFolder(), u"\\Program Files\\Quorel");
  EXPECT_EQ(plat::JoinPath(GetModuleFolder(), u"Quorel.exe.0409.mui"),
            u"\\Program Files\\Quorel\\Quorel.exe.0409.mui");
}

TEST_F(ProgramFolders, CardHoldingTheProgram) {
  struct TCase {
    const char* what;
    plat::WString mount;
    std::vector<plat::WString> cards;
    plat::WString expected;
  };
  const std::vector<TCase> cases = {
      {"main storage", u"\\Program Files\\Quorel", {u"Storage Card"}, u""},
      {"no card at all", u"\\Program Files\\Quorel", {}, u""},
      {"in a folder on the card", u"\\Storage Card\\Quorel", {u"Storage Card"}, u"Storage Card"},
      {"deeper on the card", u"\\Storage Card\\Apps\\Quorel", {u"Storage Card"}, u"Storage Card"},
      {"in the card's root", u"\\Storage Card", {u"Storage Card"}, u"Storage Card"},
      {"on the second card", u"\\SD2\\Quorel", {u"Storage Card", u"SD2"}, u"SD2"},
      {"a card named like the start of another folder", u"\\Storage Card\\Quorel", {u"Storage"}, u""},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    Configure(tc.mount, tc.cards);
    EXPECT_EQ(FindStoreCardFolder(), tc.expected);
  }
}

}  // namespace
