// The preview store on the headless device: folder choice, cache names, the
// size count and eviction, commits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/HTTPSink.h"
#include "platform/fs/FileSystem.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/PreviewStore.h"

namespace {

using plat::WString;

class PreviewStoreTest : public ::testing::Test {
 protected:
  plat::TestPlatform device;

  std::filesystem::path Host(const WString& path) { return plat::HostPath(path).value(); }

  void Write(const WString& path, size_t bytes) {
    std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
    out << std::string(bytes, 'x');
  }
  // Last-write time in whole seconds since the epoch.
  void SetWritten(const WString& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, Host(path).c_str(), times, 0));
  }
  bool Exists(const WString& path) { return std::filesystem::exists(Host(path)); }

  void AddCard(const std::string& name, bool readOnly) {
    plat::FileSystemConfig config = plat::CurrentFileSystemConfig();
    std::filesystem::path folder = device.DeviceRoot() / "cards" / name;
    std::filesystem::create_directories(folder);
    config.cards.push_back({plat::FromUtf8(name), folder, readOnly});
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
  }

  static TrackRecord Track(int32_t kind, const WString& trackId, const WString& recordingId = u"") {
    TrackRecord track;
    track.m_nKind = kind;
    track.m_trackId = trackId;
    track.m_recordingId = recordingId;
    return track;
  }
  static size_t CountLines(const std::vector<std::string>& lines, const std::string& part) {
    size_t n = 0;
    for (const std::string& line : lines) n += line.find(part) != std::string::npos;
    return n;
  }
};

TEST_F(PreviewStoreTest, ChoosesTheFolder) {
  const std::string cardTrace = "Can't create directory on flash card";
  {
    PreviewStore store;  // no card
    EXPECT_EQ(u"\\quorelstore", store.Directory());
    EXPECT_EQ(u"\\quorelstore\\buffer.dat", store.BufferPath());
    EXPECT_TRUE(Exists(store.Directory()));
  }
  AddCard("Storage Card", false);
  {
    PreviewStore store;
    EXPECT_EQ(u"\\Storage Card\\quorelstore", store.Directory());
    EXPECT_TRUE(Exists(store.Directory()));
    EXPECT_EQ(1u, CountLines(device.DebugLines(), "Quorelstore directory name: \\Storage Card\\quorelstore"));
    EXPECT_EQ(1u, CountLines(device.DebugLines(), "buffer.dat full name: \\Storage Card\\quorelstore\\buffer.dat"));
  }
  {
    PreviewStore again;  // the folder exists already (183)
    EXPECT_EQ(u"\\Storage Card\\quorelstore", again.Directory());
  }
  EXPECT_EQ(0u, CountLines(device.DebugLines(), cardTrace));
}

TEST_F(PreviewStoreTest, ReadOnlyCardFallsBackToTheDevice) {
  AddCard("Locked Card", true);
  PreviewStore store;
  EXPECT_EQ(u"\\quorelstore", store.Directory());
  EXPECT_EQ(1u, CountLines(device.DebugLines(), "Can't create directory on flash card, will be used application drive"));
}

TEST_F(PreviewStoreTest, CacheNamesOnlyForSafeKeys) {
  PreviewStore store;
  const WString dir = store.Directory() + u"\\";
  struct Case {
    TrackRecord track;
    WString expected;  // empty: no name
  } cases[] = {
      {Track(TrackKindPreview, u"t1"), u"t-t1.mp3_"},
      {Track(TrackKindFull, u"t1", u"r1"), u"r-r1.mp3_"},
      {Track(TrackKindPreview, u"a_b-9"), u"t-a_b-9.mp3_"},
      {Track(TrackKindPreview, WString(64, u'z')), u"t-" + WString(64, u'z') + u".mp3_"},
      {Track(TrackKindMatched, u"t1", u"r1"), u""},
      {Track(TrackKindPreview, u""), u""},
      {Track(TrackKindPreview, u"T1"), u""},
      {Track(TrackKindPreview, u"a.b"), u""},
      {Track(TrackKindPreview, u"../x"), u""},
      {Track(TrackKindPreview, u"a\\b"), u""},
      {Track(TrackKindPreview, u"a/b"), u""},
      {Track(TrackKindPreview, u"."), u""},
      {Track(TrackKindPreview, WString(65, u'z')), u""},
      {Track(TrackKindFull, u"t1", u""), u""},
      {Track(7, u"t1", u"r1"), u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::ToUtf8(c.track.m_trackId));
    WString name = u"untouched";
    bool has = store.CacheFileName(c.track, name);
    EXPECT_EQ(!c.expected.empty(), has);
    EXPECT_EQ(c.expected.empty() ? WString(u"untouched") : dir + c.expected, name);
  }
}

TEST_F(PreviewStoreTest, RecordingAndTrackOfOneIdKeepTwoFiles) {
  PreviewStore store;
  TrackRecord recording = Track(TrackKindFull, u"x", u"7"), track = Track(TrackKindPreview, u"7");
  Write(store.BufferPath(), 100);
  ASSERT_TRUE(store.Commit(recording));
  Write(store.BufferPath(), 200);
  ASSERT_TRUE(store.Commit(track));
  WString a, b;
  EXPECT_TRUE(store.IsCached(recording, a));
  EXPECT_TRUE(store.IsCached(track, b));
  EXPECT_NE(a, b);
  EXPECT_EQ(100u, std::filesystem::file_size(Host(a)));
  EXPECT_EQ(200u, std::filesystem::file_size(Host(b)));
}

// The six situations the store's rules were written for.
TEST_F(PreviewStoreTest, MakesRoomBeforeCommitting) {
  PreviewStore store;
  const WString dir = store.Directory() + u"\\";
  TrackRecord track = Track(TrackKindPreview, u"new");
  WString cached;

  // An empty folder takes a 600000-byte download as it is.
  Write(store.BufferPath(), 600000);
  EXPECT_TRUE(store.Commit(track));
  EXPECT_TRUE(store.IsCached(track, cached));
  EXPECT_FALSE(Exists(store.BufferPath()));
  ASSERT_TRUE(std::filesystem::remove(Host(cached)));

  // Three 400000-byte previews and 300000 bytes of download: the two oldest go.
  Write(dir + u"t-b.mp3_", 400000), SetWritten(dir + u"t-b.mp3_", 1000);
  Write(dir + u"t-a.mp3_", 400000), SetWritten(dir + u"t-a.mp3_", 2000);
  Write(dir + u"t-c.mp3_", 400000), SetWritten(dir + u"t-c.mp3_", 3000);
  Write(store.BufferPath(), 300000);
  EXPECT_TRUE(store.Commit(track));
  EXPECT_FALSE(Exists(dir + u"t-b.mp3_"));
  EXPECT_FALSE(Exists(dir + u"t-a.mp3_"));
  EXPECT_TRUE(Exists(dir + u"t-c.mp3_"));
  EXPECT_TRUE(store.IsCached(track, cached));
  std::filesystem::remove(Host(cached));
  std::filesystem::remove(Host(dir + u"t-c.mp3_"));

  // A download larger than the limit on its own is dropped.
  Write(store.BufferPath(), 1200000);
  EXPECT_FALSE(store.Commit(track));
  EXPECT_FALSE(Exists(store.BufferPath()));
  EXPECT_FALSE(store.IsCached(track, cached));

  // No cache name: room is made, the download stays where it is.
  Write(dir + u"t-old.mp3_", 1000000), SetWritten(dir + u"t-old.mp3_", 10);
  Write(store.BufferPath(), 100000);
  TrackRecord matched = Track(TrackKindMatched, u"m");
  EXPECT_FALSE(store.IsCached(matched, cached));
  EXPECT_FALSE(store.Commit(matched));
  EXPECT_FALSE(Exists(dir + u"t-old.mp3_"));
  EXPECT_TRUE(Exists(store.BufferPath()));

  // Upper-case suffixes count and are evicted; other files are neither.
  Write(dir + u"OLD.MP3_", 1000000), SetWritten(dir + u"OLD.MP3_", 10);
  Write(dir + u"update.cab", 5000000), SetWritten(dir + u"update.cab", 1);
  Write(dir + u"notes.txt", 5000000), SetWritten(dir + u"notes.txt", 1);
  EXPECT_EQ(1100000u, PreviewStore::TotalSize(store.Directory(), nullptr));
  EXPECT_TRUE(store.Commit(track));
  EXPECT_FALSE(Exists(dir + u"OLD.MP3_"));
  EXPECT_TRUE(Exists(dir + u"update.cab"));
  EXPECT_TRUE(Exists(dir + u"notes.txt"));
}

TEST_F(PreviewStoreTest, DownloadsTooShortToPlayAreDropped) {
  PreviewStore store;
  TrackRecord track = Track(TrackKindPreview, u"t1");
  for (size_t bytes : {0u, 3u}) {
    Write(store.BufferPath(), bytes);
    EXPECT_FALSE(store.Commit(track)) << bytes;
    EXPECT_FALSE(Exists(store.BufferPath())) << bytes;
  }
  Write(store.BufferPath(), 4);
  EXPECT_TRUE(store.Commit(track));
  WString name;
  EXPECT_TRUE(store.IsCached(track, name));
}

// A run killed while it streamed leaves "buffer.dat" behind: the next start
// drops it, so it neither holds the folder's budget nor turns into a preview.
TEST_F(PreviewStoreTest, AStaleBufferOfAKilledRunIsRemovedAtStart) {
  WString buffer, directory;
  {
    PreviewStore first;
    buffer = first.BufferPath();
    directory = first.Directory();
    Write(buffer, PreviewStore::kSizeLimit - 10);
    Write(directory + u"\\t-kept.mp3_", 100);
  }
  PreviewStore next;
  EXPECT_FALSE(Exists(buffer));
  EXPECT_TRUE(Exists(directory + u"\\t-kept.mp3_"));
  EXPECT_EQ(100u, PreviewStore::TotalSize(directory, nullptr));
  EXPECT_EQ(1u, CountLines(device.DebugLines(), "Removed the unfinished download of an earlier run"));
}

TEST_F(PreviewStoreTest, OnlyFilesCountAndAreEvicted) {
  PreviewStore store;
  const WString dir = store.Directory() + u"\\";
  ASSERT_TRUE(plat::CreateDirectory(dir + u"x.mp3_"));
  SetWritten(dir + u"x.mp3_", 1);
  Write(dir + u"t-y.mp3_", 900000), SetWritten(dir + u"t-y.mp3_", 50);
  Write(store.BufferPath(), 300000);
  EXPECT_TRUE(store.Commit(Track(TrackKindPreview, u"z")));
  EXPECT_TRUE(Exists(dir + u"x.mp3_"));
  EXPECT_FALSE(Exists(dir + u"t-y.mp3_"));
  EXPECT_TRUE(Exists(dir + u"x.mp3_"));
}

TEST_F(PreviewStoreTest, EqualTimesEvictTheFirstByName) {
  PreviewStore store;
  const WString dir = store.Directory() + u"\\";
  for (const char16_t* name : {u"t-c.mp3_", u"t-A.mp3_", u"t-b.mp3_"}) {
    Write(dir + name, 10);
    SetWritten(dir + name, 5000);
  }
  Write(store.BufferPath(), 10);
  SetWritten(store.BufferPath(), 1);  // older, but never a candidate
  EXPECT_TRUE(PreviewStore::EvictOldest(store.Directory()));
  EXPECT_FALSE(Exists(dir + u"t-A.mp3_"));
  EXPECT_TRUE(Exists(dir + u"t-b.mp3_"));
  EXPECT_TRUE(PreviewStore::EvictOldest(store.Directory()));
  EXPECT_FALSE(Exists(dir + u"t-b.mp3_"));
  EXPECT_TRUE(PreviewStore::EvictOldest(store.Directory()));
  EXPECT_FALSE(PreviewStore::EvictOldest(store.Directory()));
  EXPECT_TRUE(Exists(store.BufferPath()));
}

TEST_F(PreviewStoreTest, TotalIsCountedInSixtyFourBits) {
  PreviewStore store;
  const WString big = store.Directory() + u"\\t-big.mp3_";
  Write(big, 0);
  std::filesystem::resize_file(Host(big), 0x100000005ull);  // sparse
  Write(store.BufferPath(), 7);
  uint32_t high = 99;
  EXPECT_EQ(12u, PreviewStore::TotalSize(store.Directory(), &high));
  EXPECT_EQ(1u, high);
  // An open file that refuses sharing adds nothing.
  plat::Handle hHeld = plat::CreateFile(big, plat::GENERIC_READ, 0, plat::OPEN_EXISTING);
  ASSERT_NE(plat::INVALID_HANDLE_VALUE, hHeld);
  EXPECT_EQ(7u, PreviewStore::TotalSize(store.Directory(), &high));
  EXPECT_EQ(0u, high);
  plat::CloseHandle(hHeld);
}

TEST_F(PreviewStoreTest, FailedCommitsKeepTheDownload) {
  PreviewStore store;
  TrackRecord track = Track(TrackKindPreview, u"t1");
  WString name;
  ASSERT_TRUE(store.CacheFileName(track, name));

  // The target exists: a move never replaces.
  Write(name, 50);
  Write(store.BufferPath(), 60);
  EXPECT_FALSE(store.Commit(track));
  EXPECT_TRUE(Exists(store.BufferPath()));
  EXPECT_EQ(50u, std::filesystem::file_size(Host(name)));

  // A download still held open by its writer is not committed.
  ASSERT_TRUE(store.Discard(track));
  EXPECT_FALSE(store.IsCached(track, name));
  plat::Handle hWriter = plat::CreateFile(store.BufferPath(), plat::GENERIC_WRITE, 0, plat::OPEN_EXISTING);
  ASSERT_NE(plat::INVALID_HANDLE_VALUE, hWriter);
  EXPECT_FALSE(store.Commit(track));
  plat::CloseHandle(hWriter);
  EXPECT_TRUE(Exists(store.BufferPath()));
  EXPECT_TRUE(store.Commit(track));
  EXPECT_FALSE(store.Discard(Track(TrackKindPreview, u"../x")));
}

TEST_F(PreviewStoreTest, IsTheFileSinksFolderWhileItLives) {
  {
    PreviewStore store;
    EXPECT_EQ(store.Directory() + u"\\update.cab", CHTTPFileSink::MakePath(u"update.cab"));
  }
  EXPECT_EQ(u"\\update.cab", CHTTPFileSink::MakePath(u"update.cab"));
}

}  // namespace
