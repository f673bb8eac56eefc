// Stop to results, the protocol half: from the end of a five-second search
// upload handed to the HTTP core until the reply-complete path (core event
// 6, the posted state, taking the reply, loading it into the result model)
// has loaded the reply, against the in-process protocol test server with no
// added delay. Beside it, the same request bytes over a raw socket to the
// same server in the same run, timed from its last byte to the whole reply.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "framework/AppRegistry.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "platform/base/Debug.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"
#include "protocol/SearchResults.h"
#include "tools/protocol-server/TestSupport.h"

namespace {

using TClock = std::chrono::steady_clock;

// What the bench needs of a running application: an object registry and a
// queue whose wake-up the bench's UI thread waits for.
struct TBenchApp {
  plat::Handle hWake = plat::CreateEvent(false, false);
  CObjectRegistry registry;
  CEventQueue queue{[this] { return plat::SetEvent(hWake); }};
  TBenchApp() {
    queue.SetInitialised(true);
    queue.SetLoopAlive(false);
  }
  ~TBenchApp() { plat::CloseHandle(hWake); }
};

// Posted by the core's worker on event 6, as a recorder posts its state 4.
class TReplyMessage : public CEventMessage {
 public:
  explicit TReplyMessage(std::function<void()> run) : m_run(std::move(run)) {}
  void Dispatch() override { m_run(); }

 private:
  std::function<void()> m_run;
};

struct TUpload : CHTTPListener {
  plat::Handle hPartSent = plat::CreateEvent(false, false);
  CEventQueue* pQueue = nullptr;
  std::function<void()> onComplete;
  ~TUpload() override { plat::CloseHandle(hPartSent); }
  void OnHTTPEvent(int32_t, int32_t code) override {
    if (code == EHttpPartSent) plat::SetEvent(hPartSent);
    if (code == EHttpComplete) pQueue->PostEvent(new TReplyMessage(onComplete));
  }
};

struct TBench {
  std::unique_ptr<qpstest::ServerHarness> server;
  std::unique_ptr<plat::SimConnMgr> connMgr;
  CDNSResolver resolver;
  std::unique_ptr<CHTTPCore> core;
  std::vector<std::string> pieces;
  std::unique_ptr<TBenchApp> app;

  TBench() {
    plat::SetDebugSink([](plat::WStringView) {});
    server = std::make_unique<qpstest::ServerHarness>(qpstest::TestOptions());
    plat::ResetRegistryForTests();
    RegOpenAppKey();
    RegSetAppString(u"url", plat::Widen(server->Base()));
    plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
    connMgr = std::make_unique<plat::SimConnMgr>();
    resolver.Start();
    core = std::make_unique<CHTTPCore>();
    core->StartThread();
    app = std::make_unique<TBenchApp>();
    std::vector<std::string> frames = qpstest::EncodeTone(440, 5.2);
    pieces = qpstest::SearchUpload(server->Port(), frames, true).pieces;
  }
  ~TBench() {
    core.reset();
    resolver.Stop();
    app.reset();
    connMgr.reset();
    RegCloseAppKey();
    server.reset();
  }
  std::string Url() const { return server->Base() + "/v2/?method=search&type=singing&lang=all"; }
};

TBench& Bench() {
  static TBench bench;
  return bench;
}

// One search through the core; the time from the body's end to the loaded
// reply, in seconds (negative when the search failed).
double SearchThroughCore(TBench& b) {
  TUpload upload;
  upload.pQueue = &b.app->queue;
  int32_t id = b.core->Open(EHttpPost, plat::Widen(b.Url()));
  b.core->SetHeader(id, u"User-Agent", plat::Widen(qpstest::kUserAgent));
  b.core->SetHeader(id, u"Content-Type", u"binary/octet-stream");
  b.core->SetListener(id, &upload);
  b.core->AcceptGzip(id);
  CSearchResults model;
  bool bLoaded = false, bDone = false;
  TClock::time_point end;
  upload.onComplete = [&] {
    CHTTPSink* pSink = nullptr;
    b.core->Close(id, &pSink);
    bLoaded = pSink && pSink->GetData() && model.LoadBuffer(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
    if (pSink) pSink->removeReference();
    end = TClock::now();
    bDone = true;
  };
  b.core->Start(id);
  std::vector<std::string> pieces = b.pieces;
  pieces.emplace_back();  // the chunked body's end
  TClock::time_point start;
  for (const std::string& piece : pieces) {
    if (plat::WaitForSingleObject(upload.hPartSent, 10000) != plat::WAIT_OBJECT_0) return -1;
    if (piece.empty()) start = TClock::now();
    b.core->SendData(id, piece.empty() ? nullptr : piece.data(), static_cast<int32_t>(piece.size()));
  }
  while (!bDone) {
    if (plat::WaitForSingleObject(b.app->hWake, 10000) != plat::WAIT_OBJECT_0) return -1;
    b.app->queue.RunEvents();
  }
  return bLoaded ? std::chrono::duration<double>(end - start).count() : -1;
}

void BM_StopToResultsThroughTheCore(benchmark::State& state) {
  TBench& b = Bench();
  SearchThroughCore(b);  // brings the network up
  for (auto _ : state) {
    double seconds = SearchThroughCore(b);
    if (seconds < 0) {
      state.SkipWithError("search failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
}
BENCHMARK(BM_StopToResultsThroughTheCore)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_StopToResultsRawSocket(benchmark::State& state) {
  TBench& b = Bench();
  qpstest::ClientRequest request;
  request.method = "POST";
  request.target = "/v2/?method=search&type=singing&lang=all";
  request.port = b.server->Port();
  request.search = true;
  request.body = qpstest::ClientRequest::Body::Chunked;
  request.pieces = b.pieces;
  const std::string bytes = request.Bytes();
  const std::string last = "0\r\n\r\n";
  for (auto _ : state) {
    qpstest::RawConnection c(b.server->Port());
    c.Send(bytes.substr(0, bytes.size() - last.size()));
    TClock::time_point start = TClock::now();
    c.Send(last);
    std::string reply = c.ReadReply(10);
    state.SetIterationTime(std::chrono::duration<double>(TClock::now() - start).count());
    if (reply.find("200") == std::string::npos) {
      state.SkipWithError("no reply");
      break;
    }
  }
}
BENCHMARK(BM_StopToResultsRawSocket)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
