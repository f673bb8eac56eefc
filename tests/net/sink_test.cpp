#include "net/HTTPSink.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "NetTestUtil.h"
#include "platform/fs/FileSystem.h"

namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new nettest::TQuietTrace);

using nettest::Gzip;
using nettest::Noise;

std::string Data(CHTTPSink& sink) {
  char* p = sink.GetData();
  return p ? std::string(p, static_cast<size_t>(sink.GetLength())) : std::string();
}

THTTPHeaderMap GzipHeaders(const char16_t* value = u"gzip") { return THTTPHeaderMap{{u"content-encoding", value}}; }

// ---------------------------------------------------------------------------
// Memory sink

TEST(MemorySink, GrowsPastTheAnnouncedLengthAndKeepsAZeroAfterTheData) {
  CHTTPMemorySink sink;
  EXPECT_EQ(sink.Begin(100, 200), 100);
  std::string body = Noise(150);
  for (size_t at = 0; at < body.size(); at += 40) {
    int32_t n = static_cast<int32_t>(std::min<size_t>(40, body.size() - at));
    ASSERT_EQ(sink.Append(body.data() + at, n), static_cast<int32_t>(at) + n);
    // Readers take the body as a terminated text after every piece.
    EXPECT_EQ(sink.GetData()[sink.GetLength()], '\0');
  }
  EXPECT_EQ(Data(sink), body);
  EXPECT_EQ(sink.GetExpectedLength(), 150);
}

TEST(MemorySink, UnknownLengthAllocatesOnlyWhenDataComes) {
  CHTTPMemorySink sink;
  EXPECT_EQ(sink.Begin(-1, 200), 0);
  EXPECT_EQ(sink.GetData(), nullptr);
  EXPECT_EQ(sink.GetExpectedLength(), -1);
  std::string body = Noise(70000);
  for (size_t at = 0; at < body.size(); at += 8192)
    ASSERT_GT(sink.Append(body.data() + at, static_cast<int32_t>(std::min<size_t>(8192, body.size() - at))), 0);
  EXPECT_EQ(Data(sink), body);
  EXPECT_EQ(sink.GetData()[body.size()], '\0');
  sink.Release();
  EXPECT_EQ(sink.GetData(), nullptr);
  EXPECT_EQ(sink.GetLength(), 0);
}

TEST(MemorySink, RefusesBodiesBeyondItsCapAndBadArguments) {
  CHTTPMemorySink announced;
  EXPECT_EQ(announced.Begin(kMaxMemoryBody + 1, 200), -1);
  EXPECT_EQ(announced.Begin(kMaxMemoryBody, 200), kMaxMemoryBody);

  // Without an announcement the cap holds just the same, and a refused
  // piece leaves what was held untouched.
  CHTTPMemorySink unknown;
  unknown.Begin(-1, 200);
  std::string big(1 << 20, 'x');
  for (int i = 0; i < kMaxMemoryBody / (1 << 20); ++i) ASSERT_GT(unknown.Append(big.data(), 1 << 20), 0);
  EXPECT_EQ(unknown.Append("y", 1), -1);
  EXPECT_EQ(unknown.GetLength(), kMaxMemoryBody);
  EXPECT_EQ(unknown.GetData()[kMaxMemoryBody], '\0');

  CHTTPMemorySink bad;
  EXPECT_EQ(bad.Append("x", -1), -1);
  EXPECT_EQ(bad.Append(nullptr, 3), -1);
  EXPECT_EQ(bad.GetLength(), 0);
}

TEST(Sinks, OnlyUnreferencedMemorySinksAreDisposedOf) {
  // A file sink or a referenced memory sink must survive; the test would
  // crash or leak under the sanitizers otherwise.
  CHTTPFileSink fileSink;
  DisposeOwnedSink(&fileSink);
  CHTTPSink* pHeld = nullptr;
  RefPtr::Assign(pHeld, new CHTTPMemorySink());
  DisposeOwnedSink(pHeld);
  EXPECT_EQ(pHeld->ReferenceCount(), 1);
  RefPtr::Assign(pHeld, static_cast<CHTTPSink*>(nullptr));
  DisposeOwnedSink(new CHTTPGzipSink());  // leaks under ASan unless deleted
  DisposeOwnedSink(nullptr);
}

// ---------------------------------------------------------------------------
// Gzip sink

struct TGzipSink {
  CHTTPGzipSink sink;
  explicit TGzipSink(const std::string& body) {
    sink.Begin(-1, 200);
    if (!body.empty()) sink.Append(body.data(), static_cast<int32_t>(body.size()));
  }
};

TEST(GzipSink, DataAppearsOnlyAfterFinish) {
  TGzipSink g(Gzip("hello"));
  EXPECT_EQ(g.sink.GetData(), nullptr);
  EXPECT_EQ(g.sink.Finish(GzipHeaders()), 0);
  EXPECT_EQ(Data(g.sink), "hello");
}

TEST(GzipSink, DecodesOnlyAnExactGzipEncoding) {
  std::string packed = Gzip("payload");
  for (const char16_t* value : {u"GZIP", u"x-gzip", u"gzip ", u"deflate"}) {
    TGzipSink g(packed);
    EXPECT_EQ(g.sink.Finish(GzipHeaders(value)), 0);
    EXPECT_EQ(Data(g.sink), packed);  // kept as received
  }
  TGzipSink none(packed);
  EXPECT_EQ(none.sink.Finish({}), 0);
  EXPECT_EQ(Data(none.sink), packed);
}

TEST(GzipSink, DecodedSizesAroundEachRoundBoundary) {
  // Each round offers one step less one byte of room.
  for (size_t size : {size_t{0}, size_t{1}, size_t{10238}, size_t{10239}, size_t{10240}, size_t{20479}, size_t{20480},
                      size_t{25000}, size_t{30719}, size_t{30720}, size_t{300001}}) {
    std::string body = Noise(size, static_cast<uint32_t>(size));
    TGzipSink g(Gzip(body));
    ASSERT_EQ(g.sink.Finish(GzipHeaders()), 0) << size;
    EXPECT_EQ(Data(g.sink), body) << size;
    if (size) {
      EXPECT_EQ(g.sink.GetData()[size], '\0');
    }
  }
}

TEST(GzipSink, SkipsTheOptionalHeaderFields) {
  std::string body = Noise(5000);
  for (const nettest::TGzipOptions& options :
       {nettest::TGzipOptions{"reply.xml", "", "", false}, nettest::TGzipOptions{"", "made here", "", false},
        nettest::TGzipOptions{"", "", std::string("AB\x04\x00wxyz", 8), false},
        nettest::TGzipOptions{"n.xml", "c", "XY\x00\x00", true}}) {
    TGzipSink g(Gzip(body, options));
    EXPECT_EQ(g.sink.Finish(GzipHeaders()), 0) << options.name << "/" << options.comment;
    EXPECT_EQ(Data(g.sink), body);
  }
}

TEST(GzipSink, NestedGzipIsDecodedUpToFourTimes) {
  std::string body = "<orlamet/>";
  std::string twice = Gzip(Gzip(body));
  TGzipSink g2(twice);
  EXPECT_EQ(g2.sink.Finish(GzipHeaders()), 0);
  EXPECT_EQ(Data(g2.sink), body);

  std::string four = Gzip(Gzip(Gzip(Gzip(body))));
  TGzipSink g4(four);
  EXPECT_EQ(g4.sink.Finish(GzipHeaders()), 0);
  EXPECT_EQ(Data(g4.sink), body);

  // A fifth layer is refused rather than followed forever.
  TGzipSink g5(Gzip(four));
  EXPECT_EQ(g5.sink.Finish(GzipHeaders()), -1);
}

TEST(GzipSink, BrokenBodiesFailAndKeepWhatWasReceived) {
  std::string packed = Gzip(Noise(50000));
  std::string corrupt = packed;
  for (size_t i = 20; i < 60; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
  std::string badMagic = packed;
  badMagic[0] = 'x';
  std::string badMethod = packed;
  badMethod[2] = 7;
  std::string reserved = packed;
  reserved[3] = static_cast<char>(0x20);
  std::string nameRunsOff = packed.substr(0, 10);
  nameRunsOff[3] = 8;  // FNAME with no end
  nameRunsOff += "no-terminator";
  struct TCase {
    const char* what;
    std::string body;
  } cases[] = {
      {"empty", ""},
      {"ten bytes", packed.substr(0, 10)},
      {"truncated in the data", packed.substr(0, packed.size() / 2)},
      {"truncated before the trailer", packed.substr(0, packed.size() - 9)},
      {"corrupt", corrupt},
      {"not gzip", badMagic},
      {"not deflate", badMethod},
      {"reserved flag", reserved},
      {"name runs off the end", nameRunsOff},
  };
  for (const TCase& c : cases) {
    TGzipSink g(c.body);
    EXPECT_EQ(g.sink.Finish(GzipHeaders()), -1) << c.what;
    EXPECT_EQ(Data(g.sink), c.body) << c.what;
  }
}

TEST(GzipSink, ADecodedBodyBeyondTheCapIsRefused) {
  std::string bomb = Gzip(std::string(kMaxMemoryBody + 1, 'a'));
  ASSERT_LT(bomb.size(), 200000u);
  TGzipSink g(bomb);
  EXPECT_EQ(g.sink.Finish(GzipHeaders()), -1);
  EXPECT_EQ(Data(g.sink), bomb);
}

// ---------------------------------------------------------------------------
// File sink

class FileSinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_store.Make("quorel-sink")); }
  void TearDown() override { m_store.Remove(); }
  std::string HostFile(const char* name) { return m_store.HostFile(name); }

  // Progress notifications as the UI sees them.
  struct TProgressLog : CEventListenerFor<FileDownloadEvent> {
    std::vector<std::pair<int32_t, int32_t>> seen;
    void HandleEvent(const TFileDownloadProgress& p) override { seen.push_back({p.nExpected, p.nWritten}); }
  };

  nettest::CStoreRoot m_store;
  nettest::TTestApp m_app;
};

TEST_F(FileSinkTest, WritesTheBodyAndReportsOnlyTheLatestProgress) {
  TProgressLog log;
  log.Subscribe();
  CHTTPFileSink sink;
  EXPECT_EQ(CHTTPFileSink::MakePath(u"update.cab"), u"\\Store\\update.cab");
  sink.Open(u"update.cab");
  EXPECT_FALSE(sink.IsComplete());
  EXPECT_EQ(sink.Begin(9, 200), 0);
  EXPECT_EQ(sink.Append("abc", 3), 0);
  EXPECT_EQ(sink.Append("def", 3), 0);
  m_app.RunAll();
  ASSERT_EQ(log.seen.size(), 1u);  // one notification pending at a time, the latest numbers in it
  EXPECT_EQ(log.seen.back(), std::make_pair(9, 6));
  EXPECT_EQ(sink.Append("ghi", 3), 0);
  EXPECT_TRUE(sink.IsComplete());
  EXPECT_EQ(sink.GetLength(), 9);
  EXPECT_EQ(sink.GetExpectedLength(), 9);
  m_app.RunAll();
  EXPECT_EQ(log.seen.back(), std::make_pair(9, 9));
  EXPECT_EQ(sink.GetData(), nullptr);
  EXPECT_FALSE(sink.IsMemory());
  sink.Release();
  EXPECT_EQ(HostFile("update.cab"), "abcdefghi");
  EXPECT_EQ(sink.Append("x", 1), -1);  // closed

  // Opening again truncates.
  sink.Open(u"update.cab");
  sink.Release();
  EXPECT_EQ(HostFile("update.cab"), "");
  EXPECT_TRUE(CHTTPFileSink::DeleteFile(u"update.cab"));
  EXPECT_FALSE(CHTTPFileSink::DeleteFile(u"update.cab"));
}

TEST_F(FileSinkTest, RefusesAnythingButAComplete200AndStillReportsOnce) {
  struct TCase {
    int32_t length, status;
  } cases[] = {{100, 404}, {-1, 200}, {100, 206}};
  for (const TCase& c : cases) {
    TProgressLog log;
    log.Subscribe();
    CHTTPFileSink sink;
    sink.Open(u"a.mp3");
    EXPECT_EQ(sink.Begin(c.length, c.status), -1);
    m_app.RunAll();
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0], std::make_pair(c.length, 0));
  }
  // Without an open file there is nowhere to write.
  CHTTPFileSink unopened;
  EXPECT_EQ(unopened.Begin(5, 200), -1);
  EXPECT_EQ(unopened.Append("x", 1), -1);
}

TEST_F(FileSinkTest, OpenFailureThrowsSeven) {
  CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Missing\\Folder"); });
  CHTTPFileSink sink;
  try {
    sink.Open(u"x.bin");
    FAIL() << "no exception";
  } catch (const Env::TSysErrorCode& e) {
    EXPECT_EQ(e.code, 7);
  }
}

TEST_F(FileSinkTest, AShortWriteFails) {
  CHTTPFileSink sink;
  sink.Open(u"big.bin");
  ASSERT_EQ(sink.Begin(100000, 200), 0);
  ASSERT_EQ(sink.Append("0123456789", 10), 0);
  // A full disk: the process may not write past 4 KB.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = saved;
  limit.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &limit);
  std::string piece(8192, 'z');
  int32_t result = sink.Append(piece.data(), static_cast<int32_t>(piece.size()));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(sink.GetLength(), 10);
}

}  // namespace
