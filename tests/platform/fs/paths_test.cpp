// Device paths: mapping onto the mounts, case, rooted relative paths, and
// paths that try to leave the device.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsPaths = FsTest;

TEST_F(FsPaths, RootedRelativePathsAndSeparatorsMapToTheSameFile) {
  ASSERT_TRUE(CreateDirectory(u"windows"));
  ASSERT_TRUE(Put(u"windows\\press.ivt", "buzz"));
  EXPECT_EQ(ReadHost(Fs() / "windows" / "press.ivt"), "buzz");
  for (WStringView spelling : {u"\\windows\\press.ivt", u"windows/press.ivt", u"\\\\windows\\.\\press.ivt",
                               u"/windows//press.ivt"}) {
    SCOPED_TRACE(ToUtf8(spelling));
    std::optional<stdfs::path> host = HostPath(spelling);
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(*host, Fs() / "windows" / "press.ivt");
    EXPECT_EQ(Get(spelling), "buzz");
  }
}

TEST_F(FsPaths, LookupIgnoresCaseAndCreationKeepsTheCaseGiven) {
  ASSERT_TRUE(CreateDirectory(u"\\QuorelStore"));
  ASSERT_TRUE(Put(u"\\quorelstore\\Track.MP3_", "abc"));
  EXPECT_EQ(HostNames(Fs()).count("QuorelStore"), 1u);
  EXPECT_EQ(HostNames(Fs() / "QuorelStore"), std::set<std::string>{"Track.MP3_"});
  EXPECT_EQ(Get(u"\\QUORELSTORE\\track.mp3_"), "abc");

  // Writing through another spelling reaches the same file, under its old name.
  ASSERT_TRUE(Put(u"\\quorelSTORE\\TRACK.mp3_", "xy"));
  EXPECT_EQ(HostNames(Fs() / "QuorelStore"), std::set<std::string>{"Track.MP3_"});
  EXPECT_EQ(ReadHost(Fs() / "QuorelStore" / "Track.MP3_"), "xy");

  EXPECT_EQ(Open(u"\\quorelstore\\track.MP3_", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  // Letters beyond ASCII fold too.
  ASSERT_TRUE(Put(u"\\\u00C9t\u00E9.txt", "summer"));
  EXPECT_EQ(Get(u"\\\u00E9T\u00C9.TXT"), "summer");
}

TEST_F(FsPaths, ExactSpellingWinsThenTheFirstInByteOrder) {
  // A host folder can hold names that differ only in case.
  WriteHost(Fs() / "aBC", "second");
  WriteHost(Fs() / "Abc", "first");
  EXPECT_EQ(Get(u"\\aBC"), "second");
  EXPECT_EQ(Get(u"\\Abc"), "first");
  EXPECT_EQ(Get(u"\\ABC"), "first");
  EXPECT_EQ(Get(u"\\abc"), "first");
}

TEST_F(FsPaths, NamesOutsideAsciiRoundTripThroughTheHost) {
  const WString name = u"\\\U0001F3B5 \u30C6\u30B9\u30C8.mp3_";
  ASSERT_TRUE(Put(name, "note"));
  EXPECT_EQ(HostNames(Fs()).count("\xF0\x9F\x8E\xB5 \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.mp3_"), 1u);
  FindData d;
  Handle f = FindFirstFile(u"\\*.mp3_", &d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.name, name.substr(1));
  FindClose(f);
}

struct BadPath {
  const char16_t* path;
  size_t length;  // 0: up to the terminator; else the view's length (for embedded NULs)
  uint32_t error;
};

TEST_F(FsPaths, UntrustedPathsNeverReachOutsideTheDevice) {
  // Each of these would land on `secret` if the components were passed on.
  WriteHost(m_top / "secret", "keep");
  WriteHost(m_top / "device" / "secret", "keep");
  ASSERT_TRUE(Put(u"\\victim", "v"));
  const BadPath cases[] = {
      {u"\\..\\..\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"..\\..\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"\\..\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"\\Storage Card\\..\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"\\Program Files\\Quorel\\..\\..\\..\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"\\a\\..", 0, ERROR_PATH_NOT_FOUND},
      {u"\\...\\secret", 0, ERROR_PATH_NOT_FOUND},
      {u"", 0, ERROR_PATH_NOT_FOUND},
      {u"\\se:cret", 0, ERROR_INVALID_PARAMETER},
      {u"\\se*ret", 0, ERROR_INVALID_PARAMETER},
      {u"\\se?ret", 0, ERROR_INVALID_PARAMETER},
      {u"\\se|ret", 0, ERROR_INVALID_PARAMETER},
      {u"\\se<ret>", 0, ERROR_INVALID_PARAMETER},
      {u"\\se\"cret", 0, ERROR_INVALID_PARAMETER},
      {u"\\se\tcret", 0, ERROR_INVALID_PARAMETER},
      {u"\\secret\0\\..\\x", 13, ERROR_INVALID_PARAMETER},
      {u"\\se\xD800" u"cret", 0, ERROR_INVALID_PARAMETER},
      {u"\\secret\xDC00", 0, ERROR_INVALID_PARAMETER},
  };
  for (const BadPath& c : cases) {
    WStringView path = c.length ? WStringView(c.path, c.length) : WStringView(c.path);
    SCOPED_TRACE(ToUtf8(path));
    SetLastError(0);
    EXPECT_EQ(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(CreateDirectory(path));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(HostPath(path).has_value());
    EXPECT_FALSE(MoveFile(u"\\victim", path));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(ReadHost(m_top / "secret"), "keep");
  EXPECT_EQ(ReadHost(m_top / "device" / "secret"), "keep");
  // Nothing was made or moved at the root.
  EXPECT_EQ(HostNames(Fs()), (std::set<std::string>{"Program Files", "Storage Card", "victim"}));
}

TEST_F(FsPaths, HostLinksAreNotFollowed) {
  WriteHost(m_top / "secret", "keep");
  stdfs::create_directory_symlink(m_top, Fs() / "out");
  stdfs::create_symlink(m_top / "secret", Fs() / "leaf");
  EXPECT_EQ(Open(u"\\out\\secret", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(u"\\leaf", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(u"\\out\\secret"));
  EXPECT_FALSE(MoveFile(u"\\leaf", u"\\moved"));
  EXPECT_EQ(ReadHost(m_top / "secret"), "keep");

  // Nor are they listed, any more than names the device could not spell.
  WriteHost(Fs() / "bad\xFFname", "x");
  WriteHost(Fs() / "co:lon", "x");
  WriteHost(Fs() / "plain", "x");
  FindData d;
  Handle f = FindFirstFile(u"\\*", &d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  std::vector<WString> names{d.name};
  while (FindNextFile(f, &d)) names.push_back(d.name);
  FindClose(f);
  EXPECT_EQ(names, (std::vector<WString>{u"plain", u"Program Files", u"Storage Card"}));
}

TEST_F(FsPaths, ProgramFolderIsMountedReadOnly) {
  EXPECT_EQ(GetModuleFileName(), u"\\Program Files\\Quorel\\Quorel.exe");
  EXPECT_EQ(HostPath(u"\\program files\\QUOREL\\quorel.RES"), m_program / "Quorel.res");
  EXPECT_EQ(Get(u"\\Program Files\\Quorel\\Quorel.res"), "pack");
  EXPECT_TRUE(CanOpenForRead(u"\\Program Files\\Quorel\\Quorel.res"));

  EXPECT_EQ(Open(u"\\Program Files\\Quorel\\Quorel.res", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(u"\\Program Files\\Quorel\\new.txt", GENERIC_READ, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(u"\\Program Files\\Quorel\\Quorel.res"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDirectory(u"\\Program Files\\Quorel\\sub"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(Put(u"\\x.txt", "x"));
  EXPECT_FALSE(MoveFile(u"\\x.txt", u"\\Program Files\\Quorel\\x.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HostNames(m_program), std::set<std::string>{"Quorel.res"});

  // The mount points are folders of the root.
  EXPECT_FALSE(CreateDirectory(u"\\Program Files\\Quorel"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(stdfs::is_directory(Fs() / "Program Files" / "Quorel"));
}

TEST_F(FsPaths, CardsMapToTheirHostFolders) {
  ASSERT_TRUE(CreateDirectory(u"\\storage card\\quorelstore"));
  EXPECT_TRUE(stdfs::is_directory(m_card / "quorelstore"));
  ASSERT_TRUE(Put(u"\\Storage Card\\quorelstore\\buffer.dat", "mp3"));
  EXPECT_EQ(ReadHost(m_card / "quorelstore" / "buffer.dat"), "mp3");
  EXPECT_FALSE(stdfs::exists(Fs() / "Storage Card" / "quorelstore"));
  // The mount wins over what lies beneath its mount point.
  WriteHost(Fs() / "Storage Card" / "hidden", "beneath");
  EXPECT_EQ(Open(u"\\Storage Card\\hidden", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FsPaths, InvalidConfigurationsAreRefusedAndChangeNothing) {
  auto withCards = [&](std::vector<StorageCard> cards) {
    FileSystemConfig c = BaseConfig();
    c.cards = std::move(cards);
    return c;
  };
  FileSystemConfig noRoot = BaseConfig();
  noRoot.deviceRoot.clear();
  FileSystemConfig badProgram = BaseConfig();
  badProgram.programMount = u"\\..\\elsewhere";
  const FileSystemConfig bad[] = {
      noRoot,
      badProgram,
      withCards({{u"Card\\Sub", m_card, false}}),
      withCards({{u"", m_card, false}}),
      withCards({{u"..", m_card, false}}),
      withCards({{u"Ca*rd", m_card, false}}),
      withCards({{u"Card", m_card, false}, {u"CARD", m_top, false}}),
      withCards({{u"Card", "", false}}),
  };
  for (const FileSystemConfig& c : bad) {
    SetLastError(0);
    EXPECT_FALSE(ConfigureFileSystem(c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FileSystemConfig now = CurrentFileSystemConfig();
  ASSERT_EQ(now.cards.size(), 1u);
  EXPECT_EQ(now.cards[0].hostFolder, m_card);
  EXPECT_EQ(now.deviceRoot, m_top / "device");
}

TEST_F(FsPaths, DefaultDeviceRootFollowsTheEnvironment) {
  auto restore = [](const char* name, const char* old) {
    if (old) ::setenv(name, old, 1); else ::unsetenv(name);
  };
  const char* oldRoot = std::getenv("QUOREL_DEVICE_ROOT");
  std::string savedRoot = oldRoot ? oldRoot : "";
  const char* oldData = std::getenv("XDG_DATA_HOME");
  std::string savedData = oldData ? oldData : "";
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";

  ::setenv("QUOREL_DEVICE_ROOT", "/srv/dev-root", 1);
  ::setenv("XDG_DATA_HOME", "/data", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DefaultDeviceRoot(), stdfs::path("/srv/dev-root"));
  ::unsetenv("QUOREL_DEVICE_ROOT");
  EXPECT_EQ(DefaultDeviceRoot(), stdfs::path("/data/quorel-device"));
  ::setenv("XDG_DATA_HOME", "relative/ignored", 1);  // XDG: a relative value is invalid
  EXPECT_EQ(DefaultDeviceRoot(), stdfs::path("/home/someone/.local/share/quorel-device"));
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultDeviceRoot(), stdfs::path("/home/someone/.local/share/quorel-device"));

  restore("QUOREL_DEVICE_ROOT", oldRoot ? savedRoot.c_str() : nullptr);
  restore("XDG_DATA_HOME", oldData ? savedData.c_str() : nullptr);
  restore("HOME", oldHome ? savedHome.c_str() : nullptr);

  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(ExecutableFolder(), stdfs::path(std::string(exe, n)).parent_path());
}

}  // namespace
}  // namespace fstest
