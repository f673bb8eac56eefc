// Folder operations, enumeration and storage cards.
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/fs/FsInternal.h"
#include "platform/kernel/Kernel.h"
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsFolders = FsTest;

std::vector<FindData> ListAll(WStringView pattern) {
  std::vector<FindData> out;
  FindData d;
  Handle f = FindFirstFile(pattern, &d);
  if (f == INVALID_HANDLE_VALUE) return out;
  do out.push_back(d);
  while (FindNextFile(f, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(f));
  return out;
}

std::vector<WString> Names(WStringView pattern) {
  std::vector<WString> names;
  for (const FindData& d : ListAll(pattern)) names.push_back(d.name);
  return names;
}

TEST_F(FsFolders, DeleteRefusesOpenFilesAndFolders) {
  ASSERT_TRUE(CreateDirectory(u"\\d"));
  ASSERT_TRUE(Put(u"\\d\\Old.MP3_", "x"));
  Handle h = Open(u"\\d\\old.mp3_", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFile(u"\\D\\OLD.mp3_"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(stdfs::exists(Fs() / "d" / "Old.MP3_"));
  CloseHandle(h);
  EXPECT_TRUE(DeleteFile(u"\\D\\OLD.mp3_"));
  EXPECT_FALSE(stdfs::exists(Fs() / "d" / "Old.MP3_"));

  EXPECT_FALSE(DeleteFile(u"\\d\\Old.MP3_"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFile(u"\\nowhere\\x"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(DeleteFile(u"\\d"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(stdfs::is_directory(Fs() / "d"));
}

TEST_F(FsFolders, CreateAndRemoveDirectoryCodes) {
  EXPECT_TRUE(CreateDirectory(u"\\quorelstore"));
  struct Case {
    const char16_t* path;
    uint32_t error;
  };
  ASSERT_TRUE(Put(u"\\file", "x"));
  for (const Case& c : {Case{u"\\quorelstore", ERROR_ALREADY_EXISTS}, Case{u"\\QuorelStore", ERROR_ALREADY_EXISTS},
                        Case{u"\\FILE", ERROR_ALREADY_EXISTS}, Case{u"\\", ERROR_ALREADY_EXISTS},
                        Case{u"\\Storage Card", ERROR_ALREADY_EXISTS}, Case{u"\\a\\b", ERROR_PATH_NOT_FOUND}}) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_FALSE(CreateDirectory(c.path));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(HostNames(Fs()), (std::set<std::string>{"Program Files", "Storage Card", "file", "quorelstore"}));

  ASSERT_TRUE(Put(u"\\quorelstore\\buffer.dat", "x"));
  EXPECT_FALSE(RemoveDirectory(u"\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectory(u"\\missing"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  for (WStringView mount : {u"\\", u"\\Storage Card", u"\\Program Files", u"\\Program Files\\Quorel"}) {
    EXPECT_FALSE(RemoveDirectory(mount));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  ASSERT_TRUE(DeleteFile(u"\\quorelstore\\buffer.dat"));
  EXPECT_TRUE(RemoveDirectory(u"\\QUORELSTORE"));
  EXPECT_FALSE(stdfs::exists(Fs() / "quorelstore"));
}

class FsMove : public FsTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    FsTest::SetUp();
    fs_detail::ForceRenameFallbackForTest(GetParam());
  }
  void TearDown() override {
    fs_detail::ForceRenameFallbackForTest(false);
    FsTest::TearDown();
  }
};

TEST_P(FsMove, NeverReplacesAndLeavesTheSourceOnFailure) {
  ASSERT_TRUE(CreateDirectory(u"\\store"));
  ASSERT_TRUE(Put(u"\\store\\buffer.dat", "new preview"));
  ASSERT_TRUE(Put(u"\\store\\Track.mp3_", "cached preview"));
  for (WStringView target : {u"\\store\\Track.mp3_", u"\\STORE\\track.MP3_"}) {
    EXPECT_FALSE(MoveFile(u"\\store\\buffer.dat", target));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  }
  EXPECT_EQ(ReadHost(Fs() / "store" / "buffer.dat"), "new preview");
  EXPECT_EQ(ReadHost(Fs() / "store" / "Track.mp3_"), "cached preview");

  EXPECT_TRUE(MoveFile(u"\\store\\buffer.dat", u"\\store\\Other.mp3_"));
  EXPECT_EQ(HostNames(Fs() / "store"), (std::set<std::string>{"Other.mp3_", "Track.mp3_"}));
  EXPECT_EQ(ReadHost(Fs() / "store" / "Other.mp3_"), "new preview");

  // Across mounts and folders too.
  EXPECT_TRUE(MoveFile(u"\\store\\Other.mp3_", u"\\Storage Card\\moved"));
  EXPECT_EQ(ReadHost(m_card / "moved"), "new preview");
  // Folders move as well, and never over an existing name.
  ASSERT_TRUE(CreateDirectory(u"\\other"));
  EXPECT_FALSE(MoveFile(u"\\store", u"\\OTHER"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFile(u"\\store", u"\\other\\store2"));
  EXPECT_EQ(ReadHost(Fs() / "other" / "store2" / "Track.mp3_"), "cached preview");
}

TEST_P(FsMove, CaseOnlyRenameAndFailureCodes) {
  ASSERT_TRUE(Put(u"\\Foo.txt", "foo"));
  EXPECT_TRUE(MoveFile(u"\\foo.txt", u"\\FOO.TXT"));
  EXPECT_EQ(HostNames(Fs()).count("FOO.TXT"), 1u);
  EXPECT_EQ(HostNames(Fs()).count("Foo.txt"), 0u);
  EXPECT_TRUE(MoveFile(u"\\FOO.TXT", u"\\FOO.TXT"));
  EXPECT_EQ(ReadHost(Fs() / "FOO.TXT"), "foo");

  struct Case {
    const char16_t* from;
    const char16_t* to;
    uint32_t error;
  };
  for (const Case& c : {Case{u"\\missing", u"\\x", ERROR_FILE_NOT_FOUND},
                        Case{u"\\FOO.TXT", u"\\nowhere\\x", ERROR_PATH_NOT_FOUND},
                        Case{u"\\FOO.TXT", u"\\Program Files\\Quorel\\x", ERROR_ACCESS_DENIED},
                        Case{u"\\Program Files\\Quorel\\Quorel.res", u"\\x", ERROR_ACCESS_DENIED},
                        Case{u"\\Storage Card", u"\\card2", ERROR_ACCESS_DENIED},
                        Case{u"\\Program Files", u"\\pf", ERROR_ACCESS_DENIED},
                        Case{u"\\FOO.TXT", u"\\Storage Card", ERROR_ALREADY_EXISTS}}) {
    SCOPED_TRACE(ToUtf8(c.from) + " -> " + ToUtf8(c.to));
    EXPECT_FALSE(MoveFile(c.from, c.to));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(ReadHost(Fs() / "FOO.TXT"), "foo");
  EXPECT_TRUE(stdfs::is_directory(Fs() / "Program Files" / "Quorel"));
}

TEST_P(FsMove, OpenFilesAndTheirFoldersStayPut) {
  ASSERT_TRUE(CreateDirectory(u"\\store"));
  ASSERT_TRUE(CreateDirectory(u"\\store\\deep"));
  ASSERT_TRUE(Put(u"\\store\\deep\\buffer.dat", "x"));
  Handle h = Open(u"\\store\\deep\\buffer.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFile(u"\\store\\deep\\buffer.dat", u"\\store\\deep\\k.mp3_"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFile(u"\\store", u"\\elsewhere"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // A folder whose name merely starts like the open file's is free to go.
  ASSERT_TRUE(CreateDirectory(u"\\stor"));
  EXPECT_TRUE(MoveFile(u"\\stor", u"\\stor2"));
  CloseHandle(h);
  EXPECT_TRUE(MoveFile(u"\\store\\deep\\buffer.dat", u"\\store\\deep\\k.mp3_"));
  EXPECT_TRUE(MoveFile(u"\\store", u"\\elsewhere"));
  EXPECT_EQ(ReadHost(Fs() / "elsewhere" / "deep" / "k.mp3_"), "x");
}

INSTANTIATE_TEST_SUITE_P(Rename, FsMove, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "LinkFallback" : "KernelNoReplace";
                         });

TEST_F(FsFolders, EnumerationIsSortedWithoutRegardToCase) {
  ASSERT_TRUE(CreateDirectory(u"\\s"));
  // Created in an order unlike the expected one, so that the host's order
  // cannot pass for sorting.
  for (WStringView n : {u"c.txt", u"b.mp3_", u"B2.txt", u"A.MP3_", u"noext", u"a2.mp3_"})
    ASSERT_TRUE(Put(JoinPath(u"\\s", n), "x"));
  ASSERT_TRUE(CreateDirectory(u"\\s\\Sub"));
  const std::vector<WString> all{u"A.MP3_", u"a2.mp3_", u"b.mp3_", u"B2.txt", u"c.txt", u"noext", u"Sub"};
  EXPECT_EQ(Names(u"\\s\\*"), all);
  EXPECT_EQ(Names(u"s\\*.*"), all);  // "*.*" also matches names without a dot
  EXPECT_EQ(Names(u"\\S\\*.MP3_"), (std::vector<WString>{u"A.MP3_", u"a2.mp3_", u"b.mp3_"}));
  EXPECT_EQ(Names(u"\\s\\?2*"), (std::vector<WString>{u"a2.mp3_", u"B2.txt"}));
  EXPECT_EQ(Names(u"\\s\\*t"), (std::vector<WString>{u"B2.txt", u"c.txt", u"noext"}));
  EXPECT_EQ(Names(u"\\s\\C.TXT"), (std::vector<WString>{u"c.txt"}));
  EXPECT_EQ(Names(u"\\s\\*.*_"), (std::vector<WString>{u"A.MP3_", u"a2.mp3_", u"b.mp3_"}));

  // Names equal without case keep a fixed order too.
  WriteHost(Fs() / "s" / "b.MP3_", "x");
  EXPECT_EQ(Names(u"\\s\\b.mp3_"), (std::vector<WString>{u"b.MP3_", u"b.mp3_"}));
}

TEST_F(FsFolders, EnumerationFailuresAndTheEnd) {
  FindData d;
  ASSERT_TRUE(CreateDirectory(u"\\s"));
  EXPECT_EQ(FindFirstFile(u"\\s\\*", &d), INVALID_HANDLE_VALUE);  // empty folder
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(Put(u"\\s\\one", "1"));
  EXPECT_EQ(FindFirstFile(u"\\s\\zz*", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFile(u"\\missing\\*", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFile(u"\\s*\\one", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FindFirstFile(u"\\s\\", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFile(u"\\s\\*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  Handle f = FindFirstFile(u"\\s\\*", &d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.name, u"one");
  ASSERT_TRUE(Put(u"\\s\\two", "2"));  // the list was taken at the start
  EXPECT_FALSE(FindNextFile(f, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_FALSE(FindNextFile(f, &d));
  EXPECT_TRUE(FindClose(f));
  EXPECT_FALSE(FindClose(f));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindNextFile(f, &d));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FsFolders, EntriesCarryLastWriteTimeSizeAndKind) {
  ASSERT_TRUE(CreateDirectory(u"\\s"));
  ASSERT_TRUE(Put(u"\\s\\old.mp3_", "12345"));
  ASSERT_TRUE(Put(u"\\s\\new.mp3_", ""));
  ASSERT_TRUE(CreateDirectory(u"\\s\\dir"));
  // 2009-02-13 23:31:30 UTC plus 700 ns, and the Unix epoch itself.
  struct timespec times[2] = {{1234567890, 700}, {1234567890, 700}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (Fs() / "s" / "old.mp3_").c_str(), times, 0), 0);
  struct timespec epoch[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (Fs() / "s" / "new.mp3_").c_str(), epoch, 0), 0);
  constexpr uint64_t kEpochIn1601Units = 116444736000000000ull;  // 369 years of 100-ns ticks

  std::vector<FindData> list = ListAll(u"\\s\\*");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, u"dir");
  EXPECT_EQ(list[0].attributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(list[1].name, u"new.mp3_");
  EXPECT_EQ(list[1].lastWriteTime.Value(), kEpochIn1601Units);
  EXPECT_EQ(list[1].sizeLow, 0u);
  EXPECT_EQ(list[2].name, u"old.mp3_");
  EXPECT_EQ(list[2].lastWriteTime.Value(), kEpochIn1601Units + 1234567890ull * 10000000ull + 7);
  EXPECT_EQ(list[2].sizeLow, 5u);
  EXPECT_EQ(list[2].sizeHigh, 0u);
  EXPECT_EQ(list[2].attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FsFolders, CardsAreListedInMountOrder) {
  FindData d;
  Handle f = FindFirstFlashCard(&d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.name, u"Storage Card");
  EXPECT_FALSE(FindNextFlashCard(f, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(f));

  FileSystemConfig c = BaseConfig();
  stdfs::create_directories(m_top / "sd2");
  c.cards = {{u"SD Card", m_top / "sd2", false}, {u"Storage Card", m_card, false}};
  ASSERT_TRUE(Configure(c));
  f = FindFirstFlashCard(&d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.name, u"SD Card");  // configuration order, not name order
  ASSERT_TRUE(FindNextFlashCard(f, &d));
  EXPECT_EQ(d.name, u"Storage Card");
  EXPECT_FALSE(FindNextFlashCard(f, &d));
  FindClose(f);

  c.cards.clear();
  ASSERT_TRUE(Configure(c));
  EXPECT_EQ(FindFirstFlashCard(&d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
}

TEST_F(FsFolders, ReadOnlyOrMissingCardRefusesFolders) {
  WriteHost(m_card / "song.mp3_", "music");
  FileSystemConfig c = BaseConfig();
  c.cards[0].readOnly = true;
  ASSERT_TRUE(Configure(c));
  EXPECT_FALSE(CreateDirectory(u"\\Storage Card\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(stdfs::exists(m_card / "quorelstore"));
  EXPECT_EQ(Get(u"\\Storage Card\\song.mp3_"), "music");
  EXPECT_FALSE(DeleteFile(u"\\Storage Card\\song.mp3_"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::vector<FindData> list = ListAll(u"\\Storage Card\\*");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].attributes, FILE_ATTRIBUTE_READONLY);

  c.cards[0] = {u"Storage Card", m_top / "not-inserted", false};
  ASSERT_TRUE(Configure(c));
  FindData d;
  Handle f = FindFirstFlashCard(&d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);  // still listed ...
  FindClose(f);
  EXPECT_FALSE(CreateDirectory(u"\\Storage Card\\quorelstore"));  // ... but holds nothing
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(stdfs::exists(m_top / "not-inserted"));
}

TEST_F(FsFolders, ProgramOnACard) {
  FileSystemConfig c = BaseConfig();
  c.programMount = u"\\Storage Card\\Quorel";
  ASSERT_TRUE(Configure(c));
  EXPECT_EQ(GetModuleFileName(), u"\\Storage Card\\Quorel\\Quorel.exe");
  EXPECT_EQ(Get(u"\\storage card\\quorel\\Quorel.res"), "pack");
  EXPECT_EQ(Open(u"\\Storage Card\\Quorel\\x", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CreateDirectory(u"\\Storage Card\\quorelstore"));  // the rest of the card is writable
  EXPECT_TRUE(stdfs::is_directory(m_card / "quorelstore"));
  EXPECT_FALSE(stdfs::exists(m_card / "Quorel"));  // the card's own folder is not written to

  // Directly in the card's root: the card's folder holds the program.
  c.programMount = u"Storage Card";
  ASSERT_TRUE(Configure(c));
  EXPECT_EQ(GetModuleFileName(), u"\\Storage Card\\Quorel.exe");
  EXPECT_EQ(HostPath(u"\\Storage Card\\quorelstore"), m_card / "quorelstore");
  EXPECT_FALSE(CreateDirectory(u"\\Storage Card\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

}  // namespace
}  // namespace fstest
