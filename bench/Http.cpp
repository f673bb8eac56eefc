// HTTP client: a 10 MB download over loopback into a memory sink and into a
// file sink, next to curl fetching the same URL from the same server in the
// same run (when curl is installed), and the worker's cost per request for
// small GETs.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/BenchDevice.h"
#include "bench/Loopback.h"
#include "framework/AppRegistry.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"

namespace {

constexpr size_t kBigBody = 10 * 1024 * 1024;
constexpr int kSmallGets = 1000;

// Serves "/big" (10 MB) and anything else (100 bytes) with a Content-Length,
// one connection at a time, closing after each reply.
class CBenchServer : public bench::CLoopbackServer {
 public:
  CBenchServer() : CLoopbackServer(64), m_big(kBigBody, 'b'), m_small(100, 's') { StartServing(); }
  ~CBenchServer() override { StopServing(); }
  std::string Url(const char* path) const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }

 private:
  void Serve(int fd) override {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 2000) <= 0) break;
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      head.append(buffer, static_cast<size_t>(n));
    }
    const std::string& body = head.find(" /big ") != std::string::npos ? m_big : m_small;
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    size_t done = 0;
    while (done < reply.size()) {
      ssize_t n = ::send(fd, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }

  std::string m_big, m_small;
};

// Signals when a request has ended (closed by the server, or failed).
class CEndListener : public CHTTPListener {
 public:
  CEndListener() : m_hEnd(plat::CreateEvent(false, false)) {}
  ~CEndListener() override { plat::CloseHandle(m_hEnd); }
  void OnHTTPEvent(int32_t, int32_t code) override {
    if (code == EHttpClosed || code >= EHttpAborted) {
      m_nLast = code;
      plat::SetEvent(m_hEnd);
    }
  }
  int32_t Wait() {
    plat::WaitForSingleObject(m_hEnd, 30000);
    return m_nLast;
  }

 private:
  plat::Handle m_hEnd;
  std::atomic<int32_t> m_nLast{0};
};

// The client as the program runs it: registry, resolver, worker.
struct TClient {
  CDNSResolver resolver;
  CHTTPCore core;
  CEndListener listener;
  bench::CBenchDevice device;

  TClient() {
    resolver.Start();
    core.StartThread();
  }
  ~TClient() {
    core.Shutdown();
    resolver.Stop();
  }

  // One GET to its end; the body length, or -1.
  int32_t Get(const std::string& url, CHTTPSink* pSink = nullptr) {
    int32_t id = core.Open(EHttpGet, plat::Widen(url));
    if (id < 0) return -1;
    core.SetListener(id, &listener);
    if (pSink) core.SetBodySink(id, pSink);
    core.Start(id);
    int32_t end = listener.Wait();
    int32_t length = core.GetBodyLength(id);
    core.Close(id);
    return end == EHttpClosed ? length : -1;
  }
};

TClient& Client() {
  static TClient s_client;
  return s_client;
}
CBenchServer& Server() {
  static CBenchServer s_server;
  return s_server;
}

void BM_Download10MBIntoMemory(benchmark::State& state) {
  for (auto _ : state)
    if (Client().Get(Server().Url("/big")) != static_cast<int32_t>(kBigBody)) state.SkipWithError("download failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBody));
}
BENCHMARK(BM_Download10MBIntoMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Download10MBIntoFile(benchmark::State& state) {
  CHTTPFileSink::SetFolderSource([] { return plat::WString(); });
  CHTTPFileSink sink;
  for (auto _ : state) {
    sink.Open(u"big.bin");
    if (Client().Get(Server().Url("/big"), &sink) != static_cast<int32_t>(kBigBody)) state.SkipWithError("download failed");
    sink.Release();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBody));
}
BENCHMARK(BM_Download10MBIntoFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: curl fetching the same URL from the same server, process
// start included.
void BM_Download10MBWithCurl(benchmark::State& state) {
  if (std::system("command -v curl >/dev/null 2>&1") != 0) {
    state.SkipWithError("curl is not installed");
    return;
  }
  std::string command = "curl -s -o /dev/null " + Server().Url("/big");
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBody));
}
BENCHMARK(BM_Download10MBWithCurl)->Unit(benchmark::kMillisecond)->UseRealTime();

// Open, start, connect, 100-byte reply, close: the worker's cost per request.
void BM_SmallGets(benchmark::State& state) {
  for (auto _ : state)
    for (int i = 0; i < kSmallGets; ++i)
      if (Client().Get(Server().Url("/small")) != 100) state.SkipWithError("request failed");
  state.SetItemsProcessed(state.iterations() * kSmallGets);
}
BENCHMARK(BM_SmallGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
