// Folder operations, enumeration and storage cards.
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/fs/FsInternal.h"
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsFolders = FsTest;

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

TEST_P(FsMove, NeverReplacesAndMovesNothingOnFailure) {
  ASSERT_TRUE(CreateDirectory(u"\\store"));
  ASSERT_TRUE(Put(u"\\store\\buffer.dat", "new"));
  ASSERT_TRUE(Put(u"\\store\\Track.mp3_", "cached"));
  EXPECT_FALSE(MoveFile(u"\\store\\buffer.dat", u"\\STORE\\track.MP3_"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadHost(Fs() / "store" / "buffer.dat"), "new");
  EXPECT_EQ(ReadHost(Fs() / "store" / "Track.mp3_"), "cached");

  EXPECT_TRUE(MoveFile(u"\\store\\buffer.dat", u"\\store\\Other.mp3_"));
  EXPECT_EQ(HostNames(Fs() / "store"), (std::set<std::string>{"Other.mp3_", "Track.mp3_"}));
  EXPECT_TRUE(MoveFile(u"\\store\\other.MP3_", u"\\store\\OTHER.mp3_"));  // a change of case only
  EXPECT_EQ(ReadHost(Fs() / "store" / "OTHER.mp3_"), "new");
  ASSERT_TRUE(CreateDirectory(u"\\other"));
  EXPECT_FALSE(MoveFile(u"\\store", u"\\Other"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFile(u"\\store", u"\\other\\store2"));
  EXPECT_EQ(ReadHost(Fs() / "other" / "store2" / "Track.mp3_"), "cached");

  const struct {
    WStringView from, to;
    uint32_t error;
  } cases[] = {
      {u"\\missing", u"\\x", ERROR_FILE_NOT_FOUND},
      {u"\\other\\store2\\Track.mp3_", u"\\nowhere\\x", ERROR_PATH_NOT_FOUND},
      {u"\\other\\store2\\Track.mp3_", u"\\Program Files\\Quorel\\x", ERROR_ACCESS_DENIED},
      {u"\\Storage Card", u"\\card2", ERROR_ACCESS_DENIED},  // mount points stay
      {u"\\Program Files", u"\\pf", ERROR_ACCESS_DENIED},   // and so do folders holding them
      {u"\\other\\store2\\Track.mp3_", u"\\Storage Card", ERROR_ALREADY_EXISTS},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(MoveFile(c.from, c.to)) << ToUtf8(c.from);
    EXPECT_EQ(GetLastError(), c.error) << ToUtf8(c.from);
  }
  EXPECT_EQ(ReadHost(Fs() / "other" / "store2" / "Track.mp3_"), "cached");
}

TEST_P(FsMove, OpenFilesAndTheirFoldersStayPut) {
  ASSERT_TRUE(CreateDirectory(u"\\store"));
  ASSERT_TRUE(CreateDirectory(u"\\stor"));
  ASSERT_TRUE(Put(u"\\store\\buffer.dat", "x"));
  Handle h = CreateFile(u"\\store\\buffer.dat", R, SRW, OPEN_EXISTING);
  EXPECT_FALSE(MoveFile(u"\\store\\buffer.dat", u"\\store\\k.mp3_"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFile(u"\\STORE\\BUFFER.DAT"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFile(u"\\store", u"\\elsewhere"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(MoveFile(u"\\stor", u"\\stor2"));  // a name that merely starts alike is free
  CloseHandle(h);
  EXPECT_TRUE(MoveFile(u"\\store", u"\\elsewhere"));
  EXPECT_TRUE(DeleteFile(u"\\elsewhere\\buffer.dat"));
  EXPECT_FALSE(DeleteFile(u"\\elsewhere"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

INSTANTIATE_TEST_SUITE_P(Rename, FsMove, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "LinkFallback" : "KernelNoReplace";
                         });

TEST_F(FsFolders, CreateAndRemoveDirectoryCodes) {
  EXPECT_TRUE(CreateDirectory(u"\\quorelstore"));
  ASSERT_TRUE(Put(u"\\quorelstore\\buffer.dat", "x"));
  const struct {
    WStringView path;
    uint32_t error;
  } cases[] = {{u"\\QuorelStore", ERROR_ALREADY_EXISTS},  {u"\\quorelstore\\BUFFER.DAT", ERROR_ALREADY_EXISTS},
               {u"\\", ERROR_ALREADY_EXISTS},             {u"\\Storage Card", ERROR_ALREADY_EXISTS},
               {u"\\a\\b", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : cases) {
    EXPECT_FALSE(CreateDirectory(c.path)) << ToUtf8(c.path);
    EXPECT_EQ(GetLastError(), c.error) << ToUtf8(c.path);
  }
  EXPECT_FALSE(RemoveDirectory(u"\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  for (WStringView mount : {u"\\", u"\\Storage Card", u"\\Program Files"}) {
    EXPECT_FALSE(RemoveDirectory(mount));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  ASSERT_TRUE(DeleteFile(u"\\quorelstore\\buffer.dat"));
  EXPECT_TRUE(RemoveDirectory(u"\\QUORELSTORE"));
  EXPECT_EQ(HostNames(Fs()), (std::set<std::string>{"Program Files", "Storage Card"}));
}

TEST_F(FsFolders, EnumerationIsSortedWithoutRegardToCase) {
  ASSERT_TRUE(CreateDirectory(u"\\s"));
  // Created out of order, so that the host's order cannot pass for sorting.
  for (WStringView n : {u"c.txt", u"b.mp3_", u"B2.txt", u"A.MP3_", u"noext", u"a2.mp3_"})
    ASSERT_TRUE(Put(JoinPath(u"\\s", n), "x"));
  const std::vector<WString> all{u"A.MP3_", u"a2.mp3_", u"b.mp3_", u"B2.txt", u"c.txt", u"noext"};
  EXPECT_EQ(Names(u"\\s\\*"), all);
  EXPECT_EQ(Names(u"s\\*.*"), all);  // "*.*" matches names without a dot too
  EXPECT_EQ(Names(u"\\S\\*.MP3_"), (std::vector<WString>{u"A.MP3_", u"a2.mp3_", u"b.mp3_"}));
  EXPECT_EQ(Names(u"\\s\\?2*"), (std::vector<WString>{u"a2.mp3_", u"B2.txt"}));
  WriteHost(Fs() / "s" / "b.MP3_", "x");  // equal without case: still a fixed order
  EXPECT_EQ(Names(u"\\s\\B.mp3_"), (std::vector<WString>{u"b.MP3_", u"b.mp3_"}));

  FindData d;
  const struct {
    WStringView pattern;
    uint32_t error;
  } failures[] = {{u"\\s\\zz*", ERROR_FILE_NOT_FOUND},
                  {u"\\missing\\*", ERROR_PATH_NOT_FOUND},
                  {u"\\s*\\c.txt", ERROR_INVALID_PARAMETER}};
  for (const auto& f : failures) {
    EXPECT_EQ(FindFirstFile(f.pattern, &d), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), f.error);
  }
}

TEST_F(FsFolders, EntriesCarryLastWriteTimeSizeAndKind) {
  ASSERT_TRUE(CreateDirectory(u"\\s\\"));
  ASSERT_TRUE(CreateDirectory(u"\\s\\dir"));
  ASSERT_TRUE(Put(u"\\s\\old.mp3_", "12345"));
  struct timespec t[2] = {{1234567890, 700}, {1234567890, 700}};  // 2009-02-13 23:31:30.0000007 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, (Fs() / "s" / "old.mp3_").c_str(), t, 0), 0);
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970 in 100-ns units since 1601

  std::vector<FindData> list = List(u"\\s\\*");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].attributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(list[1].attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(list[1].lastWriteTime.Value(), kUnixEpoch + 1234567890ull * 10000000ull + 7);
  EXPECT_EQ(list[1].sizeLow, 5u);
  EXPECT_EQ(list[1].sizeHigh, 0u);
}

TEST_F(FsFolders, StorageCards) {
  FileSystemConfig c = BaseConfig();
  c.cards = {{u"SD", m_top / "sd", false}, {u"Storage Card", m_card, true}};
  ASSERT_TRUE(ConfigureFileSystem(c));
  FindData d;
  Handle f = FindFirstFlashCard(&d);
  EXPECT_EQ(d.name, u"SD");  // mount order, not name order
  EXPECT_TRUE(FindNextFlashCard(f, &d));
  EXPECT_EQ(d.name, u"Storage Card");
  EXPECT_FALSE(FindNextFlashCard(f, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(f));
  // A card missing its folder is listed but holds nothing; a read-only one
  // refuses new folders but reads.
  EXPECT_FALSE(CreateDirectory(u"\\SD\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  WriteHost(m_card / "song.mp3_", "music");
  EXPECT_FALSE(CreateDirectory(u"\\Storage Card\\quorelstore"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Get(u"\\Storage Card\\song.mp3_"), "music");
  EXPECT_EQ(HostNames(m_card), std::set<std::string>{"song.mp3_"});

  c.cards.clear();
  ASSERT_TRUE(ConfigureFileSystem(c));
  EXPECT_EQ(FindFirstFlashCard(&d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
}

TEST_F(FsFolders, ProgramOnACard) {
  FileSystemConfig c = BaseConfig();
  c.programMount = u"\\Storage Card\\Quorel";
  ASSERT_TRUE(ConfigureFileSystem(c));
  EXPECT_EQ(GetModuleFileName(), u"\\Storage Card\\Quorel\\Quorel.exe");
  EXPECT_EQ(Get(u"\\storage card\\quorel\\Quorel.res"), "pack");
  EXPECT_EQ(CreateFile(u"\\Storage Card\\Quorel\\x", W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CreateDirectory(u"\\Storage Card\\quorelstore"));  // the rest of the card is writable
  EXPECT_EQ(HostNames(m_card), std::set<std::string>{"quorelstore"});

  c.programMount = u"Storage Card";  // directly in the card's root: the card's folder holds it
  ASSERT_TRUE(ConfigureFileSystem(c));
  EXPECT_EQ(GetModuleFileName(), u"\\Storage Card\\Quorel.exe");
  EXPECT_EQ(HostPath(u"\\Storage Card\\quorelstore"), m_card / "quorelstore");
}

}  // namespace
}  // namespace fstest
