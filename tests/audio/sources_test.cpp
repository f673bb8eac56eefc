// The MP3 sources: the bit rate of a first frame header, the cached file,
// and the download file's rate estimate and wake-ups (single-threaded, the
// tick count moved by hand on the virtual clock).
#include <gtest/gtest.h>

#include <string>

#include "AudioTestSupport.h"
#include "audio/MP3FileSource.h"
#include "audio/MP3HTTPFile.h"
#include "platform/base/Errors.h"
#include "platform/testing/TestPlatform.h"

namespace audiotest {
namespace {

uint32_t Header(uint32_t version, uint32_t layer, uint32_t index) {
  return 0xFFE00000u | version << 19 | layer << 17 | index << 12 | 0x0400u;
}
int32_t RateOf(uint32_t h) {
  const uint8_t b[4] = {static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16), static_cast<uint8_t>(h >> 8),
                        static_cast<uint8_t>(h)};
  return MP3BitRate(b);
}

TEST(MP3BitRate, EveryTableEntryAndTheUnusableHeaders) {
  struct TTable {
    uint32_t version, layer;
    int kbits[14];
  } tables[] = {
      {3, 3, {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
      {3, 2, {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}},
      {3, 1, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {2, 3, {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}},
      {2, 2, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
      {2, 1, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
      {0, 1, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},  // MPEG-2.5
  };
  for (const TTable& t : tables)
    for (uint32_t i = 1; i <= 14; ++i)
      EXPECT_EQ(RateOf(Header(t.version, t.layer, i)), t.kbits[i - 1] * 128) << t.version << t.layer << i;
  EXPECT_EQ(RateOf(0xFFFB9064u), 16384);
  for (uint32_t h : {0x49443304u /* "ID3" */, 0xFFC09064u /* 10 sync bits */, Header(3, 0, 9), Header(3, 1, 0),
                     Header(3, 1, 15), 0u})
    EXPECT_EQ(RateOf(h), 1024) << std::hex << h;
}

class SourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plat::CreateDirectory(u"\\Store"));
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
  }
  void TearDown() override { CHTTPFileSink::SetFolderSource({}); }
  plat::VirtualClock& Clock() { return *m_platform.Clock(); }
  static bool Signalled(CSoundSource& s) { return plat::WaitForSingleObject(s.GetDataEvent(), 0) == plat::WAIT_OBJECT_0; }
  // A body of `total` bytes that starts with a 128 kbit/s header.
  static std::string Body(size_t total) {
    std::string b = "\xFF\xFB\x90\x64";
    b.resize(total, '\x55');
    return b;
  }

  plat::TestPlatform m_platform{[] {
    plat::TestConfig config;
    config.startTick = 1000;
    return config;
  }()};
};

TEST_F(SourcesTest, FileSourceEstimatesItsLengthAndReadsToTheEnd) {
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\ten.mp3", Body(163840)));
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\short.mp3", "\xFF\xFB\x90"));
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\tag.mp3", "ID3" + std::string(2045, '\0')));
  CMP3FileSource source;
  EXPECT_EQ(source.Open(u"\\Store\\ten.mp3"), 0);
  EXPECT_EQ(source.GetDurationSeconds(), 10);
  EXPECT_FALSE(source.IsStarving());
  std::vector<uint8_t> buffer(100000);
  EXPECT_EQ(source.Read(buffer.data(), 100000), 100000);  // from the start again
  EXPECT_EQ(buffer[0], 0xFF);
  EXPECT_FALSE(source.IsFinished());
  EXPECT_EQ(source.Read(buffer.data(), 100000), 63840);
  EXPECT_TRUE(source.IsFinished());
  source.WaitForData();
  EXPECT_FALSE(Signalled(source));

  CMP3FileSource tagged;
  EXPECT_EQ(tagged.Open(u"\\Store\\tag.mp3"), 0);
  EXPECT_EQ(tagged.GetDurationSeconds(), 2);  // 1024 bytes a second for want of a header
  CMP3FileSource other;
  EXPECT_EQ(other.Open(u"\\Store\\short.mp3"), -1);
  EXPECT_EQ(other.Open(u"\\Store\\missing.mp3"), static_cast<int32_t>(plat::ERROR_FILE_NOT_FOUND));
  // No sharing: the open file refuses a second reader.
  EXPECT_EQ(other.Open(u"\\Store\\ten.mp3"), static_cast<int32_t>(plat::ERROR_SHARING_VIOLATION));
}

TEST_F(SourcesTest, OnlyA200WithALengthIsTakenAndItsHeaderCollectedAcrossAppends) {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Path(), u"\\Store\\buffer.dat");
  EXPECT_EQ(file.Begin(100, 404), -1);
  EXPECT_EQ(file.Begin(-1, 200), -1);
  EXPECT_EQ(file.GetExpectedLength(), -1);
  ASSERT_EQ(file.Begin(1000, 200), 0);
  EXPECT_EQ(file.AppendData("\xFF", 1), 0);
  EXPECT_EQ(file.GetBitRate(), 0);
  EXPECT_EQ(file.AppendData("\xFB\x90\x64", 3), 0);
  EXPECT_EQ(file.GetBitRate(), 16384);
  EXPECT_EQ(file.GetLength(), 4);
  EXPECT_EQ(file.AppendData("\xFF\xF3\x10\x00", 4), 0);  // later headers change nothing
  EXPECT_EQ(file.GetBitRate(), 16384);
}

TEST_F(SourcesTest, TheRateIsTheLowerOfOverallAndTheMeanOfFour) {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.Begin(100000, 200), 0);
  std::string k(1000, 'x');
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  EXPECT_EQ(file.GetLatestRate(), 0);
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  EXPECT_EQ(file.GetLatestRate(), 0);  // min(1000, 0 / 4)
  Clock().Advance(100);
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  // overall (3000 - 1000) / 0.1 s = 20000; entries 0, 0, 1000 (kept, now
  // summed), 10000 → 11000 / 4.
  EXPECT_EQ(file.GetLatestRate(), 2750);
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  // Same millisecond: the new entry 1000 stays out of this sum (3000 if not).
  EXPECT_EQ(file.GetLatestRate(), 2750);
  Clock().Advance(900);
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  // overall 4000 / 1 s = 4000; entries 1000, 10000, 1000, 1111 → 13111 / 4.
  EXPECT_EQ(file.GetLatestRate(), 3277);
  Clock().Advance(10000);
  EXPECT_EQ(file.AppendData(k.data(), 1000), 0);
  // A stall: overall 5000 / 11 s = 454 is below the mean.
  EXPECT_EQ(file.GetLatestRate(), 454);
}

TEST_F(SourcesTest, AFastDownloadWakesAtTheFirstAppendAfterTheWait) {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  std::string body = Body(163840);  // 10 s at 16384 B/s
  ASSERT_EQ(file.Begin(163840, 200), 0);
  ASSERT_EQ(file.AppendData(body.data(), 16384), 0);
  std::vector<uint8_t> buffer(163840);
  EXPECT_EQ(file.Read(buffer.data(), 163840), 16384);
  EXPECT_TRUE(file.IsStarving());
  file.WaitForData();
  EXPECT_FALSE(Signalled(file));
  Clock().Advance(100);
  ASSERT_EQ(file.AppendData(body.data() + 16384, 16384), 0);  // 163840 B/s overall
  EXPECT_TRUE(Signalled(file));
  // Woken once: the next append does not signal again without a new wait.
  Clock().Advance(100);
  ASSERT_EQ(file.AppendData(body.data() + 32768, 16384), 0);
  EXPECT_FALSE(Signalled(file));
}

TEST_F(SourcesTest, ASlowingDownloadWakesWhenTheRestArrivesInTimeOrAtItsEnd) {
  std::vector<uint8_t> buffer(163840);
  std::string body = Body(163840);
  {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.Begin(163840, 200), 0);
  size_t at = 0;
  auto append = [&](size_t n, uint32_t afterMs) {
    Clock().Advance(afterMs);
    ASSERT_EQ(file.AppendData(body.data() + at, static_cast<int32_t>(n)), 0);
    at += n;
  };
  append(4096, 0);
  file.Read(buffer.data(), 4096);
  file.WaitForData();
  // 4 KB a second against a stream of 16 KB a second: never in time.
  for (int i = 0; i < 20; ++i) {
    append(4096, 1000);
    EXPECT_FALSE(Signalled(file)) << i;
  }
  // The rest in one piece: the last byte wakes.
  append(body.size() - at, 1000);
  EXPECT_TRUE(Signalled(file));
  }

  // The same start, then a burst: woken once the rest would come before the
  // part buffered has played, which the burst of 2 s of sound in 10 ms makes so.
  CMP3HTTPFile burst;
  ASSERT_EQ(burst.Open(), 0);
  ASSERT_EQ(burst.Begin(163840, 200), 0);
  ASSERT_EQ(burst.AppendData(body.data(), 4096), 0);
  burst.Read(buffer.data(), 4096);
  burst.WaitForData();
  bool woken = false;
  size_t pos = 4096;
  for (int i = 0; i < 12 && !woken; ++i) {
    Clock().Advance(10);
    ASSERT_EQ(burst.AppendData(body.data() + pos, 8192), 0);
    pos += 8192;
    woken = Signalled(burst);
  }
  EXPECT_TRUE(woken);
  EXPECT_LT(pos, body.size());
}

TEST_F(SourcesTest, TheLastAppendBetweenTheLookAndTheWaitStillWakes) {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  std::string body = Body(20000);
  ASSERT_EQ(file.Begin(20000, 200), 0);
  ASSERT_EQ(file.AppendData(body.data(), 10000), 0);
  std::vector<uint8_t> buffer(20000);
  file.Read(buffer.data(), 20000);
  ASSERT_TRUE(file.IsStarving());  // the core looks...
  Clock().Advance(5000);
  ASSERT_EQ(file.AppendData(body.data() + 10000, 10000), 0);  // ...the last bytes land...
  file.WaitForData();                                         // ...and then it waits
  EXPECT_TRUE(Signalled(file));
  file.Release();

  // A body too short to hold a header: its last byte wakes all the same.
  CMP3HTTPFile tiny;
  ASSERT_EQ(tiny.Open(), 0);
  ASSERT_EQ(tiny.Begin(3, 200), 0);
  tiny.WaitForData();
  ASSERT_EQ(tiny.AppendData("\xFF\xFB", 2), 0);
  EXPECT_FALSE(Signalled(tiny));
  ASSERT_EQ(tiny.AppendData("\x90", 1), 0);
  EXPECT_TRUE(Signalled(tiny));
  EXPECT_EQ(tiny.GetBitRate(), 0);
}

TEST(SourcesWrap, LargeDownloadsAcrossTheTickWrapKeepAnExactRate) {
  plat::TestConfig config;
  config.startTick = 0xFFFFFF00u;
  plat::TestPlatform platform{config};
  ASSERT_TRUE(plat::CreateDirectory(u"\\Store"));
  CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
  {
    CMP3HTTPFile file;
    ASSERT_EQ(file.Open(), 0);
    const int32_t piece = 512 * 1024;
    ASSERT_EQ(file.Begin(8 * piece, 200), 0);
    std::string bytes(piece, 'x');
    for (int i = 0; i < 8; ++i) {
      if (i) platform.Clock()->Advance(100);
      ASSERT_EQ(file.AppendData(bytes.data(), piece), 0);
    }
    // 512 KB per 100 ms, the tick count wrapping after the third append.
    EXPECT_EQ(file.GetLatestRate(), 5242880);
    EXPECT_TRUE(file.IsComplete());
  }
  CHTTPFileSink::SetFolderSource({});
}

TEST_F(SourcesTest, ReadsStopAtTheWritePositionAndTheTotal) {
  CMP3HTTPFile file;
  ASSERT_EQ(file.Open(), 0);
  uint8_t buffer[64];
  EXPECT_EQ(file.Read(buffer, 64), 0);  // nothing yet, the total unknown
  EXPECT_FALSE(file.IsFinished());
  ASSERT_EQ(file.Begin(10, 200), 0);
  ASSERT_EQ(file.AppendData("abcdef", 6), 0);
  EXPECT_EQ(file.Read(buffer, 64), 6);
  EXPECT_EQ(file.Read(buffer, 64), 0);
  EXPECT_TRUE(file.IsStarving());
  ASSERT_EQ(file.AppendData("ghijkl", 6), 0);  // more than announced
  EXPECT_EQ(file.Read(buffer, 64), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ghij");
  EXPECT_TRUE(file.IsFinished());
  EXPECT_EQ(file.Read(buffer, 64), 0);
}

TEST_F(SourcesTest, AnUnwritableStoreFailsTheOpenButLeavesAWaitableSource) {
  CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Missing"); });
  CMP3HTTPFile file;
  EXPECT_NE(file.Open(), 0);
  EXPECT_NE(file.GetDataEvent(), nullptr);
  EXPECT_EQ(file.Begin(5, 200), 0);
  EXPECT_EQ(file.AppendData("abcde", 5), -1);
  EXPECT_TRUE(file.IsStarving());
}

}  // namespace
}  // namespace audiotest
