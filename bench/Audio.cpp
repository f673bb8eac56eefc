// Recording: the Speex stage fed as the recorder feeds it, next to a bare
// library loop over the same samples in the same run; and, over loopback on
// the real clock, ten 2 s streamed recordings: how long the upload's end
// takes to reach the server after the last buffer came back, and how long a
// stop request takes to end capture.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioServices.h"
#include "audio/Recorder.h"
#include "audio/SpeexEncoder.h"
#include "bench/Loopback.h"
#include "framework/AppRegistry.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "net/HTTPSink.h"
#include "platform/registry/Registry.h"
#include "platform/testing/TestPlatform.h"
#include "tests/audio/AudioTestUtil.h"

namespace {

constexpr int32_t kThirtySeconds = 30 * 16000;

const std::vector<int16_t>& Sound() {
  static const std::vector<int16_t> sound = audiotest::TestSound(kThirtySeconds / 2);
  return sound;
}

void BM_SpeexStageAsTheRecorderFeeds(benchmark::State& state) {
  std::vector<uint8_t> buffer(kSharedAudioBufferSize);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buffer.data(), Sound().data(), kThirtySeconds);
    state.ResumeTiming();
    CSpeexEncoder encoder;
    encoder.Init(buffer.data());
    for (int32_t fed = 0; fed < kThirtySeconds; fed += 2000) {
      encoder.Feed(2000);
      plat::WaitForSingleObject(encoder.OutputEvent(), plat::INFINITE);
    }
    if (encoder.GetOutputLength() != 1500 * 40) state.SkipWithError("not every frame was encoded");
    encoder.Stop();
  }
}
BENCHMARK(BM_SpeexStageAsTheRecorderFeeds)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: the same frames through the library with nothing around it.
void BM_BareLibspeexLoop(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> out = audiotest::ReferenceEncode(Sound().data(), Sound().size());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BareLibspeexLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// A loopback server that reads a chunked upload, notes the platform clock
// when its zero-length chunk is in, and answers.
class CUploadServer : public bench::CLoopbackServer {
 public:
  CUploadServer() : CLoopbackServer(8) { StartServing(); }
  ~CUploadServer() override { StopServing(); }
  std::u16string Url() const { return plat::Widen("http://127.0.0.1:" + std::to_string(Port()) + "/search"); }
  plat::ClockTime LastEnd() const { return m_lastEnd.load(); }

 private:
  // Reads the head and the chunks; once the zero-length chunk is in, notes
  // the time and answers.
  void Serve(int fd) override {
    std::string in;
    size_t pos = std::string::npos;
    char buffer[16384];
    for (;;) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 20000) <= 0) return;
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      in.append(buffer, static_cast<size_t>(n));
      if (pos == std::string::npos) {
        size_t head = in.find("\r\n\r\n");
        if (head == std::string::npos) continue;
        pos = head + 4;
      }
      bool ended = false;
      for (;;) {
        size_t line = in.find("\r\n", pos);
        if (line == std::string::npos) break;
        size_t size = std::strtoul(in.c_str() + pos, nullptr, 16);
        if (in.size() < line + 2 + size + 2) break;
        pos = line + 2 + size + 2;
        if (size == 0) {
          ended = true;
          break;
        }
      }
      if (ended) break;
    }
    m_lastEnd.store(plat::ClockNow());
    static const char kReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    ::send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
  }

  std::atomic<plat::ClockTime> m_lastEnd{0};
};

// The state codes as the application sees them, with the platform clock.
class CStateTimes : public CEventListenerFor<RecorderStateEvent> {
 public:
  std::vector<std::pair<int32_t, plat::ClockTime>> seen;

 protected:
  void HandleEvent(const int32_t& code) override { seen.push_back({code, plat::ClockNow()}); }
};

double Ms(plat::ClockTime ns) { return double(ns) / 1e6; }

void BM_UploadTailOnLoopback(benchmark::State& state) {
  plat::TestConfig config;
  config.virtualClock = false;
  plat::TestPlatform tp(config);
  plat::SetDebugSink([](plat::WStringView) {});
  plat::Handle hWake = plat::CreateEvent(false, false);
  CObjectRegistry registry;
  CEventQueue queue([hWake] { return plat::SetEvent(hWake); });
  queue.SetInitialised(true);
  queue.SetLoopAlive(false);
  RegOpenAppKey();
  RegSetAppString(u"url", u"http://127.0.0.1/");
  plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
  CDNSResolver resolver;
  resolver.Start();
  CHTTPCore core;
  core.StartThread();
  std::vector<uint8_t> buffer(kSharedAudioBufferSize);
  TAudioServices services;
  services.httpCore = [&core] { return &core; };
  services.audioBuffer = [&buffer] { return buffer.data(); };
  services.searchMode = [] { return ESearchSing; };
  InstallAudioServices(services);
  CUploadServer server;
  CStateTimes times;
  times.Subscribe();
  tp.SetMicrophone({{plat::MicSegment::Sine(300, 8000, 0)}});
  plat::Handle hCancel = plat::CreateEvent(true, false);
  bool bCancelled = false;
  core.EstablishNetwork(hCancel, &bCancelled);

  std::vector<double> tails, stops;
  for (auto _ : state) {
    for (int run = 0; run < 10; ++run) {
      times.seen.clear();
      CRecorder recorder;
      if (recorder.Start(server.Url()) != 0) {
        state.SkipWithError("the recorder did not start");
        break;
      }
      plat::ClockTime started = plat::ClockNow();
      plat::ClockTime stopAt = 0;
      // Real time: the microphone sets the pace.
      while (plat::ClockNow() - started < 10'000 * plat::kClockNsPerMs) {
        plat::WaitForSingleObject(hWake, 5);
        queue.RunEvents();
        if (!stopAt && plat::ClockNow() - started >= 2'000 * plat::kClockNsPerMs + run * 23 * plat::kClockNsPerMs) {
          stopAt = plat::ClockNow();
          recorder.RequestStop();
        }
        if (std::any_of(times.seen.begin(), times.seen.end(), [](auto& s) { return s.first == 4; })) break;
      }
      auto log = tp.MicrophoneLog();
      auto one = std::find_if(times.seen.begin(), times.seen.end(), [](auto& s) { return s.first == 1; });
      if (log.empty() || one == times.seen.end() || server.LastEnd() < log.back().time) {
        state.SkipWithError("a recording did not finish");
        break;
      }
      tails.push_back(Ms(server.LastEnd() - log.back().time));
      stops.push_back(Ms(one->second - stopAt));
      recorder.Stop();
    }
  }
  std::sort(tails.begin(), tails.end());
  std::sort(stops.begin(), stops.end());
  if (!tails.empty()) {
    state.counters["tail_median_ms"] = tails[tails.size() / 2];
    state.counters["tail_worst_ms"] = tails.back();
    state.counters["stop_to_1_median_ms"] = stops[stops.size() / 2];
    state.counters["stop_to_1_worst_ms"] = stops.back();
  }
  InstallAudioServices({});
  core.Shutdown();
  resolver.Stop();
  RegCloseAppKey();
  plat::CloseHandle(hCancel);
  plat::CloseHandle(hWake);
}
BENCHMARK(BM_UploadTailOnLoopback)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
