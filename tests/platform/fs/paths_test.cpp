// Device paths: mapping onto the mounts, case, rooted relative paths, and
// paths that try to leave the device.
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsPaths = FsTest;

TEST_F(FsPaths, RootedRelativePathsSeparatorsAndCase) {
  ASSERT_TRUE(CreateDirectory(u"Windows"));
  ASSERT_TRUE(Put(u"windows\\Press.ivt", "buzz"));  // no leading '\': from the root
  for (WStringView spelling : {u"\\Windows\\Press.ivt", u"windows/press.IVT", u"\\\\WINDOWS\\.\\press.ivt"}) {
    SCOPED_TRACE(ToUtf8(spelling));
    EXPECT_EQ(HostPath(spelling), Fs() / "Windows" / "Press.ivt");
    EXPECT_EQ(Get(spelling), "buzz");
  }
  // Another spelling reaches the same file and keeps its stored name.
  ASSERT_TRUE(Put(u"\\WINDOWS\\PRESS.ivt", "new"));
  EXPECT_EQ(HostNames(Fs() / "Windows"), std::set<std::string>{"Press.ivt"});
  EXPECT_EQ(CreateFile(u"\\windows\\press.ivt", W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ASSERT_TRUE(Put(u"\\\u00C9t\u00E9 \U0001F3B5.txt", "summer"));  // Latin-1 letters fold too
  EXPECT_EQ(Get(u"\\\u00E9T\u00C9 \U0001F3B5.TXT"), "summer");

  // A host folder may hold names differing only in case: the exact spelling
  // wins, else the first in byte order, whatever readdir says.
  WriteHost(Fs() / "aBC", "second");
  WriteHost(Fs() / "Abc", "first");
  EXPECT_EQ(Get(u"\\aBC"), "second");
  EXPECT_EQ(Get(u"\\ABC"), "first");
}

TEST_F(FsPaths, UntrustedPathsNeverLeaveTheDevice) {
  WriteHost(m_top / "secret", "keep");  // where the first few would land if passed on
  ASSERT_TRUE(Put(u"\\victim", "v"));
  const struct {
    WStringView path;
    uint32_t error;
  } cases[] = {
      {u"\\..\\..\\secret", ERROR_PATH_NOT_FOUND},
      {u"..\\..\\secret", ERROR_PATH_NOT_FOUND},
      {u"\\Storage Card\\..\\secret", ERROR_PATH_NOT_FOUND},
      {u"\\Program Files\\Quorel\\..\\..\\..\\secret", ERROR_PATH_NOT_FOUND},
      {u"\\...\\secret", ERROR_PATH_NOT_FOUND},
      {u"", ERROR_PATH_NOT_FOUND},
      {u"\\se:cret", ERROR_INVALID_PARAMETER},
      {u"\\se*ret", ERROR_INVALID_PARAMETER},
      {u"\\se|<\"ret", ERROR_INVALID_PARAMETER},
      {u"\\se\tcret", ERROR_INVALID_PARAMETER},
      {WStringView(u"\\secret\0\\..\\x", 13), ERROR_INVALID_PARAMETER},
      {u"\\se\xD800" u"cret", ERROR_INVALID_PARAMETER},  // a lone surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_EQ(CreateFile(c.path, RW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(DeleteFile(c.path));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(MoveFile(u"\\victim", c.path));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(ReadHost(m_top / "secret"), "keep");
  EXPECT_EQ(HostNames(Fs()), (std::set<std::string>{"Program Files", "Storage Card", "victim"}));

  // Links planted in a host folder are neither followed nor listed, and
  // neither are names the device could not spell.
  stdfs::create_directory_symlink(m_top, Fs() / "out");
  stdfs::create_symlink(m_top / "secret", Fs() / "leaf");
  WriteHost(Fs() / "bad\xFFname", "x");
  WriteHost(Fs() / "co:lon", "x");
  EXPECT_EQ(CreateFile(u"\\out\\secret", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFile(u"\\leaf", W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadHost(m_top / "secret"), "keep");
  EXPECT_EQ(Names(u"\\*"), (std::vector<WString>{u"Program Files", u"Storage Card", u"victim"}));
}

TEST_F(FsPaths, ProgramFolderIsReadOnlyAndCardsMapToTheirFolders) {
  EXPECT_EQ(GetModuleFileName(), u"\\Program Files\\Quorel\\Quorel.exe");
  EXPECT_EQ(Get(u"\\program files\\QUOREL\\quorel.RES"), "pack");
  EXPECT_EQ(CreateFile(u"\\Program Files\\Quorel\\Quorel.res", W, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFile(u"\\Program Files\\Quorel\\new", R, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(u"\\Program Files\\Quorel\\Quorel.res"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HostNames(m_program), std::set<std::string>{"Quorel.res"});

  ASSERT_TRUE(CreateDirectory(u"\\storage card\\quorelstore"));
  ASSERT_TRUE(Put(u"\\Storage Card\\quorelstore\\buffer.dat", "mp3"));
  EXPECT_EQ(ReadHost(m_card / "quorelstore" / "buffer.dat"), "mp3");
  // The mount hides what lies beneath its mount point.
  WriteHost(Fs() / "Storage Card" / "beneath", "x");
  EXPECT_EQ(CreateFile(u"\\Storage Card\\beneath", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FsPaths, ConfiguringTouchesNoDiskAndInvalidConfigurationsChangeNothing) {
  CurrentFileSystemConfig();
  GetModuleFileName();
  EXPECT_FALSE(stdfs::exists(m_top / "device"));  // until a file operation needs it
  std::vector<FileSystemConfig> bad(5, BaseConfig());
  bad[0].deviceRoot.clear();
  bad[1].programMount = u"\\..\\elsewhere";
  bad[2].cards[0].name = u"Card\\Sub";
  bad[3].cards[0].name = u"..";
  bad[4].cards.push_back({u"STORAGE CARD", m_top, false});  // the same name twice
  for (const FileSystemConfig& c : bad) {
    EXPECT_FALSE(ConfigureFileSystem(c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FileSystemConfig now = CurrentFileSystemConfig();
  ASSERT_EQ(now.cards.size(), 1u);
  EXPECT_EQ(now.cards[0].hostFolder, m_card);
}

}  // namespace
}  // namespace fstest
