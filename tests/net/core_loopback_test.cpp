// The HTTP core over real loopback sockets, against the scripted server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "CoreHarness.h"
#include "Exchanges.h"
#include "net/HTTPSink.h"
#include "platform/fs/FileSystem.h"

namespace nettest {
namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new TQuietTrace);

class LoopbackTest : public CoreTest {
 protected:
  void SetUp() override { Build(); }
  CLoopbackServer m_server;
};

TEST_F(LoopbackTest, ExchangesAsData) {
  for (TExchange& x : Exchanges()) {
    m_server.Add(x.script);
    int32_t id = Begin(EHttpGet, Url(m_server.Port(), "/v2/?method=x"), [&](int32_t id) {
      if (x.bGzip) m_core->AcceptGzip(id);
    });
    ASSERT_TRUE(m_log.WaitEnd(id)) << x.name;
    EXPECT_EQ(m_log.Events(id), x.events) << x.name;
    EXPECT_EQ(Take(id), x.body) << x.name;
  }
  std::string port = std::to_string(m_server.Port());
  std::vector<std::string> requests = m_server.Requests();
  ASSERT_EQ(requests.size(), Exchanges().size());
  EXPECT_EQ(requests[0], "GET /v2/?method=x HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
  EXPECT_EQ(requests[7], "GET /v2/?method=x HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nAccept-Encoding: gzip\r\n\r\n");
}

TEST_F(LoopbackTest, AResetEndsTheExchangeWithAnError) {
  TScript script = Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false);
  script.steps.push_back(Pause(50));
  script.steps.push_back(ResetStep());
  m_server.Add(script);
  int32_t id = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(id));
  Events events = m_log.Events(id);
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(events.back() == EHttpIoFailed || events.back() == EHttpClosedEarly) << events.back();
  Take(id);
}

TEST_F(LoopbackTest, ChunkedPostFramesEachPiece) {
  m_server.Add(Reply({Counted("done")}));
  int32_t id = Begin(EHttpPost, Url(m_server.Port(), "/up"), [&](int32_t id) {
    m_core->SetHeader(id, u"Content-Type", u"binary/octet-stream");
    m_core->SetHeader(id, u"accept-encoding", u"gzip");
  });
  std::string piece = Noise(80);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent, 1));
  EXPECT_EQ(m_core->SendData(id, piece.data(), 80), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent, 2));
  EXPECT_EQ(m_core->SendData(id, nullptr, 0), 0);
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_EQ(m_log.Events(id), (Events{9, 1, 2, 2, 3, 4, 6, 7}));
  EXPECT_EQ(Take(id), "done");
  EXPECT_EQ(m_server.Requests().at(0), "POST /up HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_server.Port()) +
                                           "\r\nTransfer-Encoding: chunked\r\naccept-encoding: gzip\r\n"
                                           "Content-Type: binary/octet-stream\r\n\r\n50\r\n" +
                                           piece + "\r\n0\r\n\r\n");
}

TEST_F(LoopbackTest, CountedPostRefusesPiecesThatBreakTheFraming) {
  m_server.Add(Reply({Counted("ok")}));
  int32_t id = m_core->Open(EHttpPost, Url(m_server.Port(), "/c"));
  m_core->SetListener(id, &m_log);
  m_core->SetContentLength(id, 120);
  // Not sending yet.
  EXPECT_EQ(m_core->SendData(id, "x", 1), -1);
  EXPECT_EQ(m_log.Raw(id), (Events{EHttpSocketFailed}));
  ASSERT_EQ(m_core->Start(id), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent, 1));
  std::string body = Noise(120);
  EXPECT_EQ(m_core->SendData(id, body.data(), 121), -1);  // longer than the remainder
  EXPECT_EQ(m_core->SendData(id, body.data(), 80), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent, 2));
  EXPECT_EQ(m_core->SendData(id, body.data() + 80, 41), -1);
  EXPECT_EQ(m_core->SendData(id, body.data() + 80, 40), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpClosed));
  EXPECT_EQ(m_core->SendData(id, "x", 1), -1);  // after the whole body
  EXPECT_EQ(m_log.Events(id), (Events{20, 9, 1, 2, 20, 2, 20, 3, 4, 6, 7, 20}));
  EXPECT_EQ(Take(id), "ok");
  EXPECT_EQ(m_server.Requests().at(0), "POST /c HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_server.Port()) +
                                           "\r\nContent-Length: 120\r\n\r\n" + body);
  // A closed request sends nothing anywhere.
  EXPECT_EQ(m_core->SendData(id, "x", 1), -1);
}

TEST_F(LoopbackTest, ARepliesWhileTheUploadRuns) {
  TScript script;
  script.bReadFirst = false;
  script.steps = {Send(Counted("early")), ReadRest(), CloseStep()};
  m_server.Add(script);
  int32_t id = Begin(EHttpPost, Url(m_server.Port(), "/e"));
  ASSERT_TRUE(m_log.WaitFor(id, EHttpComplete));
  // Still sending: the body can go on.
  EXPECT_EQ(m_core->SendData(id, "abc", 3), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent, 2));
  EXPECT_EQ(m_core->SendData(id, nullptr, 0), 0);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpClosed));
  EXPECT_EQ(Take(id), "early");
}

TEST_F(LoopbackTest, ThroughTheProxy) {
  RegSetAppString(u"proxy", plat::Widen("127.0.0.1:" + std::to_string(m_server.Port())));
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
  m_server.Add(Reply({Counted("via proxy")}));
  // The origin's name is never looked up: the proxy's is.
  int32_t id = Begin(EHttpPost, u"http://origin.invalid:8080/s?q=1", [&](int32_t id) {
    m_core->SetHeader(id, u"User-Agent", u"ua");
    m_core->SetHeader(id, u"Content-Type", u"binary/octet-stream");
    m_core->SetContentLength(id, 3);
  });
  ASSERT_TRUE(m_log.WaitFor(id, EHttpPartSent));
  m_core->SendData(id, "abc", 3);
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_EQ(m_core->IsProxied(id), 1);
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
  EXPECT_EQ(Take(id), "via proxy");
  EXPECT_EQ(m_server.Requests().at(0),
            "POST http://origin.invalid:8080/s?q=1 HTTP/1.1\r\nHost: origin.invalid:8080\r\nContent-Length: 3\r\n"
            "Content-Type: binary/octet-stream\r\nProxy-Connection: Keep-Alive\r\nUser-Agent: ua\r\n\r\nabc");
}

TEST_F(LoopbackTest, NetworkStateSnapshotForTheUploadMode) {
  // Before any request nothing is established: a first upload is counted.
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
  m_server.Add(Reply({Counted("x")}));
  int32_t id = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_FALSE(m_core->IsProxiedOrOffline());
  EXPECT_EQ(m_core->IsProxied(id), 0);
  Take(id);
  m_core->ReleaseNetwork();
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
}

TEST_F(LoopbackTest, TenAtOnceAndTheEleventhRefused) {
  std::vector<int32_t> ids;
  for (int i = 0; i < CHTTPCore::kSlotCount; ++i) {
    TScript script = Reply({Counted("body " + std::to_string(i))});
    script.steps.insert(script.steps.begin(), Pause(50));
    m_server.Add(script);
  }
  for (int i = 0; i < CHTTPCore::kSlotCount; ++i) ids.push_back(Begin(EHttpGet, Url(m_server.Port())));
  EXPECT_EQ(m_core->Open(EHttpGet, Url(m_server.Port())), -1);
  std::set<std::string> bodies;
  for (int32_t id : ids) {
    ASSERT_TRUE(m_log.WaitFor(id, EHttpClosed));
    bodies.insert(Take(id));
  }
  EXPECT_EQ(bodies.size(), 10u);  // each connection got its own reply
  int32_t next = m_core->Open(EHttpGet, Url(m_server.Port()));
  EXPECT_EQ(next, ids.back() + 1);  // ids are never reused
  m_core->Close(next);
}

TEST_F(LoopbackTest, OpenRefusesUrlsItCannotSendSafely) {
  EXPECT_EQ(m_core->Open(EHttpGet, u"https://127.0.0.1/"), -1);
  EXPECT_EQ(m_core->Open(EHttpGet, u"ftp://127.0.0.1/"), -1);
  EXPECT_EQ(m_core->Open(EHttpGet, u"http:///path"), -1);  // empty host
  EXPECT_EQ(m_core->Open(EHttpGet, u"nonsense"), -12006);
  EXPECT_EQ(m_core->Open(EHttpGet, u"http://h:99999/"), -12005);
  EXPECT_LT(m_core->Open(EHttpGet, u"http://h/a\r\nX-Injected: 1"), 0);
  EXPECT_LT(m_core->Open(EHttpGet, u"http://h/a\x01"), 0);
  // Spaces in a server's URL are escaped on the request line.
  m_server.Add(Reply({Counted("s")}));
  int32_t id = Begin(EHttpGet, Url(m_server.Port(), "/preview of song.mp3?a=b c"));
  ASSERT_TRUE(m_log.WaitEnd(id));
  Take(id);
  EXPECT_EQ(m_server.Requests().at(0).substr(0, 45), "GET /preview%20of%20song.mp3?a=b%20c HTTP/1.1");
}

TEST_F(LoopbackTest, UnknownIdsAndClosedRequests) {
  EXPECT_EQ(m_core->GetStatusCode(999), -1);
  EXPECT_EQ(m_core->Close(999), -1);
  EXPECT_EQ(m_core->Start(0), -1);
  m_server.Add(Reply({"HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno"}));
  int32_t id = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_EQ(m_core->GetBodyLength(id), 2);
  plat::WString value;
  EXPECT_EQ(m_core->GetHeader(id, u"content-LENGTH", value), 0);
  EXPECT_EQ(value, u"2");
  EXPECT_EQ(m_core->GetHeader(id, u"X-None", value), 1);
  CHTTPSink* pSink = nullptr;
  EXPECT_EQ(m_core->Close(id, &pSink), 0);
  ASSERT_NE(pSink, nullptr);
  DisposeOwnedSink(pSink);
  // The id still names its closed slot: the old status, no second sink.
  EXPECT_EQ(m_core->GetStatusCode(id), 404);
  EXPECT_EQ(m_core->Close(id, &pSink), 0);
  EXPECT_EQ(pSink, nullptr);
  EXPECT_EQ(m_core->Start(id), -1);
  EXPECT_EQ(m_core->SetHeader(id, u"A", u"b"), -1);
}

TEST_F(LoopbackTest, CloseLeavesForeignSinksToTheirOwners) {
  // A file sink or a counted sink must survive a Close without an out
  // pointer (the sanitizers see a double free otherwise).
  CHTTPFileSink fileSink;
  int32_t id = m_core->Open(EHttpGet, Url(m_server.Port()));
  m_core->SetBodySink(id, &fileSink);
  EXPECT_EQ(m_core->Close(id), 0);
  CHTTPSink* pHeld = nullptr;
  RefPtr::Assign(pHeld, new CHTTPMemorySink());
  id = m_core->Open(EHttpGet, Url(m_server.Port()));
  m_core->SetBodySink(id, pHeld);
  m_core->AcceptGzip(id);  // replaces it; it is still held
  EXPECT_EQ(pHeld->ReferenceCount(), 1);
  m_core->Close(id);
  RefPtr::Assign(pHeld, static_cast<CHTTPSink*>(nullptr));
}

TEST_F(LoopbackTest, ConnectFailures) {
  // A port nobody listens on.
  CLoopbackServer closed;
  uint16_t port = closed.Port();
  closed.Stop();
  int32_t refused = Begin(EHttpGet, Url(port));
  ASSERT_TRUE(m_log.WaitEnd(refused));
  EXPECT_EQ(m_log.Events(refused), (Events{9, 12}));
  Take(refused);

  TDebugCapture capture;
  int32_t unknown = Begin(EHttpGet, u"http://fail.test/x");
  ASSERT_TRUE(m_log.WaitEnd(unknown));
  EXPECT_EQ(m_log.Events(unknown), (Events{9, 11}));
  EXPECT_EQ(capture.Count("[QUOREL] HTTP core id: " + std::to_string(unknown) +
                          " error: 11 host: fail.test path: /x port 80\n"),
            1u);
  Take(unknown);
}

TEST_F(LoopbackTest, EventsInAStateThatExpectsNone) {
  int32_t id = m_core->Open(EHttpGet, Url(m_server.Port()));
  m_core->SetListener(id, &m_log);
  ASSERT_TRUE(m_core->SignalSlotForTests(id, false));
  ASSERT_TRUE(m_log.WaitFor(id, EHttpUnexpected));
  ASSERT_TRUE(m_core->SignalSlotForTests(id, true));
  ASSERT_TRUE(m_log.WaitFor(id, EHttpUnexpected, 2));
  m_core->Close(id);
}

TEST_F(LoopbackTest, AbortSeenRightAfterTheConnectCall) {
  CHTTPEntry::SetConnectHookForTests([](CHTTPEntry& entry) { entry.SignalClose(); });
  int32_t id = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_EQ(m_log.Events(id), (Events{9, 10}));
  Take(id);
}

TEST_F(LoopbackTest, CommandsFromTheWorkerAreRefused) {
  std::atomic<int32_t> answer{0};
  m_log.SetHook([&](int32_t id, int32_t code) {
    if (code == EHttpNetworkUp) answer = m_core->GetStatusCode(id);
  });
  TDebugCapture capture;
  m_server.Add(Reply({Counted("x")}));
  int32_t id = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(id));
  m_log.SetHook({});
  EXPECT_EQ(answer.load(), -1);
  EXPECT_EQ(capture.Count("refused on the worker thread"), 1u);
  Take(id);
}

TEST_F(LoopbackTest, ClosingAtEveryStage) {
  // Connect in progress: a listener that never accepts holds one
  // connection in its queue; the next ones hang in progress.
  CLoopbackServer deaf(false);
  std::vector<int32_t> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(Begin(EHttpGet, Url(deaf.Port())));
  ASSERT_TRUE(m_log.WaitFor(ids[0], EHttpNetworkUp));
  // Uploading: a large counted piece nobody reads.
  TScript stall;
  stall.bReadFirst = false;
  stall.steps.push_back(Stall());
  m_server.Add(stall);
  int32_t uploading = Begin(EHttpPost, Url(m_server.Port()), [&](int32_t id) { m_core->SetContentLength(id, 64 << 20); });
  ASSERT_TRUE(m_log.WaitFor(uploading, EHttpPartSent));
  std::string big(32 << 20, 'u');
  EXPECT_EQ(m_core->SendData(uploading, big.data(), static_cast<int32_t>(big.size())), 0);
  // Receiving: headers and part of a body, then silence.
  m_server.Add(Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false));
  int32_t receiving = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitFor(receiving, EHttpHeadersDone));

  // A close that waited for its peer would wait until the server's
  // connection limit or the kernel's last connect try, two minutes and more
  // away; half the limit only bounds a hang.
  auto start = std::chrono::steady_clock::now();
  for (int32_t id : ids) EXPECT_EQ(m_core->Close(id), 0);
  EXPECT_EQ(m_core->Close(uploading), 0);
  EXPECT_EQ(m_core->Close(receiving), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CLoopbackServer::kConnectionLimitMs / 2));
  // Every socket is gone: the server sees both ends close.
  EXPECT_TRUE(m_server.WaitFinished(2));
  // Nothing is reported to the closed requests' listener afterwards.
  size_t before = 0;
  for (int32_t id : ids) before += m_log.Raw(id).size();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  size_t after = 0;
  for (int32_t id : ids) after += m_log.Raw(id).size();
  EXPECT_EQ(before, after);
  for (int32_t id : {uploading, receiving}) {
    Events e = m_log.Events(id);
    EXPECT_TRUE(std::none_of(e.begin(), e.end(), [](int32_t c) { return c >= EHttpAborted; })) << id;
  }
  // The slots are free again.
  m_server.Add(Reply({Counted("again")}));
  int32_t again = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitEnd(again));
  EXPECT_EQ(Take(again), "again");
}

// Quiet periods counted in virtual time, so that a server slow to answer on
// a busy machine never looks like a quiet connection.
class LoopbackIdleTest : public CoreTest {
 protected:
  void SetUp() override {
    TNetOptions options;
    options.bVirtualClock = true;
    options.timings.nIdleMs = 20;
    options.timings.nIdleLimit = 2;
    Build(options);
  }
  CLoopbackServer m_server;
};

TEST_F(LoopbackIdleTest, QuietConnectionsAreDropped) {
  m_server.Add(Reply({kOk + "Content-Length: 10\r\n\r\nabc"}, false));
  int32_t partial = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitFor(partial, EHttpIdle));
  EXPECT_EQ(m_log.Events(partial), (Events{9, 1, 3, 4, 24}));
  m_server.Add(Reply({Counted("whole")}, false));
  int32_t whole = Begin(EHttpGet, Url(m_server.Port()));
  ASSERT_TRUE(m_log.WaitFor(whole, EHttpComplete));
  // A complete response is dropped without a word once three periods have
  // passed; the server sees the close.
  m_clock->RunFor(1000);
  EXPECT_TRUE(m_server.WaitFinished(2));
  EXPECT_EQ(m_log.Events(whole), (Events{9, 1, 3, 4, 6}));
  Take(partial);
  Take(whole);
}

// ---------------------------------------------------------------------------
// File downloads

class FileDownloadTest : public LoopbackTest {
 protected:
  void SetUp() override {
    LoopbackTest::SetUp();
    std::string templ = (std::filesystem::temp_directory_path() / "quorel-dl-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    m_top = templ;
    plat::FileSystemConfig config;
    config.deviceRoot = m_top;
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
    ASSERT_TRUE(plat::CreateDirectory(u"\\Store"));
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
  }
  void TearDown() override {
    LoopbackTest::TearDown();
    CHTTPFileSink::SetFolderSource({});
    std::error_code ec;
    std::filesystem::remove_all(m_top, ec);
  }
  struct TProgress : CEventListenerFor<FileDownloadEvent> {
    std::vector<TFileDownloadProgress> seen;
    void HandleEvent(const TFileDownloadProgress& p) override { seen.push_back(p); }
  };
  std::filesystem::path m_top;
  TTestApp m_app;
};

TEST_F(FileDownloadTest, DownloadsIntoTheFileWithProgress) {
  TProgress progress;
  progress.Subscribe();
  std::string body = Noise(200000, 5);
  m_server.Add(Reply({kOk + "Content-Length: 200000\r\n\r\n" + body.substr(0, 50000), body.substr(50000)}));
  CHTTPFileSink sink;
  sink.Open(u"update.cab");
  int32_t id = Begin(EHttpGet, Url(m_server.Port(), "/update.cab"), [&](int32_t id) { m_core->SetBodySink(id, &sink); });
  ASSERT_TRUE(m_log.WaitEnd(id));
  EXPECT_EQ(m_log.Events(id), (Events{9, 1, 3, 4, 6, 7}));
  CHTTPSink* pOut = nullptr;
  m_core->Close(id, &pOut);
  EXPECT_EQ(pOut, &sink);
  m_app.RunAll();
  ASSERT_FALSE(progress.seen.empty());
  EXPECT_EQ(progress.seen.back().nExpected, 200000);
  EXPECT_EQ(progress.seen.back().nWritten, 200000);
  EXPECT_TRUE(sink.IsComplete());
  sink.Release();
  std::ifstream in(m_top / "fs" / "Store" / "update.cab", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), body);
}

TEST_F(FileDownloadTest, RefusesA404AndAnUnknownLength) {
  TProgress progress;
  progress.Subscribe();
  m_server.Add(Reply({"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!"}));
  m_server.Add(Reply({kOk + "Transfer-Encoding: chunked\r\n\r\n" + Chunked("abc")}));
  for (int i = 0; i < 2; ++i) {
    CHTTPFileSink sink;
    sink.Open(u"a.mp3");
    int32_t id = Begin(EHttpGet, Url(m_server.Port()), [&](int32_t id) { m_core->SetBodySink(id, &sink); });
    ASSERT_TRUE(m_log.WaitEnd(id));
    EXPECT_EQ(m_log.Events(id), (Events{9, 1, 3, 4, 18}));
    m_core->Close(id);
    m_app.RunAll();
    ASSERT_EQ(progress.seen.size(), static_cast<size_t>(i + 1));
    EXPECT_EQ(progress.seen.back().nWritten, 0);
  }
}

}  // namespace
}  // namespace nettest
