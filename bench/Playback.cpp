// Playback: decoding a 30 s joint-stereo 44.1 kHz preview through the file
// player with the speaker taking blocks as fast as they are written, beside
// a bare mad_decoder_run over the same bytes with the same conversion; and
// the start latency (Play to the first block the device has taken, median
// of 20) for a cached and a streamed preview, beside bare libmad opening the
// file and decoding its first frame.
#include <benchmark/benchmark.h>
#include <mad.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "audio/AudioServices.h"
#include "bench/BenchDevice.h"
#include "audio/FileSoundPlayer.h"
#include "audio/HTTPSoundPlayer.h"
#include "framework/AppRegistry.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "net/HTTPWrapper.h"
#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Clock.h"
#include "platform/registry/Registry.h"
#include "tools/protocol-server/Media.h"
#include "tools/protocol-server/TestSupport.h"

namespace {

constexpr int kLatencyRuns = 20;

// The program's side: registry, file system with a store folder, event
// queue, shared buffer, HTTP core; the speaker unpaced.
struct TWorld {
  CObjectRegistry registry;
  CEventQueue queue{[] { return true; }};
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kSharedAudioBufferSize);
  CDNSResolver resolver;
  CHTTPCore core;
  std::string preview = qps::MakeMp3(qps::Mp3Format::JointStereo44k, 440.0, 30.0);
  std::string hostFile;
  bench::CBenchDevice device;

  TWorld() {
    plat::CreateDirectory(u"\\Store");
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
    CHTTPSession::SetIdentitySource([] { return plat::Widen(qpstest::kUserAgent); });
    queue.SetInitialised(true);
    queue.SetLoopAlive(false);
    TAudioServices services;
    services.audioBuffer = [this] { return buffer.data(); };
    services.httpCore = [this] { return &core; };
    InstallAudioServices(services);
    plat::headless_audio::SetUnpaced(true);
    resolver.Start();
    core.StartThread();
    hostFile = (device.Folder() / "fs" / "Store" / "preview.mp3").string();
    std::ofstream(hostFile, std::ios::binary) << preview;
  }
  ~TWorld() {
    core.Shutdown();
    resolver.Stop();
    InstallAudioServices({});
  }
  // A fresh speaker (its captures freed), still unpaced.
  static void ResetSpeaker() {
    plat::headless_audio::Reset();
    plat::headless_audio::SetUnpaced(true);
  }
  // Waits for the player to reach `state`, running the posted messages.
  template <class P>
  void WaitFor(P& player, int32_t state) {
    while (player.GetState() != state) {
      queue.RunEvents();
      plat::Sleep(1);
    }
    queue.RunEvents();
  }
  // Waits until the speaker has taken a block; its completion time.
  static plat::ClockTime FirstBlock() {
    for (;;) {
      std::vector<plat::SpeakerStream> streams = plat::headless_audio::Speaker();
      if (!streams.empty() && !streams.back().records.empty()) return streams.back().records.front().completed;
      plat::Sleep(0);
    }
  }
};

TWorld& World() {
  // Kept alive to the end (its threads outlive the benchmarks), but its
  // device folder does not outlive the process.
  static TWorld* world = [] {
    auto* w = new TWorld;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(World().device.Folder(), ec);
    });
    return w;
  }();
  return *world;
}

mad_flow BareInput(void* data, mad_stream* stream) {
  auto* bytes = static_cast<std::string*>(data);
  if (bytes->empty()) return MAD_FLOW_STOP;
  mad_stream_buffer(stream, reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
  bytes->clear();
  return MAD_FLOW_CONTINUE;
}

int16_t g_sink[1152];

mad_flow BareOutput(void*, const mad_header*, mad_pcm* pcm) {
  MixToMono16(pcm->samples[0], pcm->samples[1], pcm->channels, pcm->length, g_sink);
  benchmark::DoNotOptimize(g_sink);
  return MAD_FLOW_CONTINUE;
}

mad_flow BareError(void*, mad_stream*, mad_frame*) { return MAD_FLOW_CONTINUE; }

void BM_Decode30sBareLibmad(benchmark::State& state) {
  const std::string& preview = World().preview;
  for (auto _ : state) {
    std::string bytes = preview;
    mad_decoder decoder;
    mad_decoder_init(&decoder, &bytes, BareInput, nullptr, nullptr, BareOutput, BareError, nullptr);
    mad_decoder_run(&decoder, MAD_DECODER_MODE_SYNC);
    mad_decoder_finish(&decoder);
  }
}
BENCHMARK(BM_Decode30sBareLibmad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Decode30sFilePlayer(benchmark::State& state) {
  TWorld& w = World();
  for (auto _ : state) {
    CFileSoundPlayer player;
    if (player.Play(u"\\Store\\preview.mp3") != 1) state.SkipWithError("play failed");
    w.WaitFor(player, ESoundFinished);
    state.PauseTiming();
    TWorld::ResetSpeaker();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Decode30sFilePlayer)->Unit(benchmark::kMillisecond)->UseRealTime();

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Play to the first block the device took, median of 20, in microseconds.
template <class P, class U>
void Latency(benchmark::State& state, const U& url) {
  TWorld& w = World();
  for (auto _ : state) {
    std::vector<double> runs;
    for (int i = 0; i < kLatencyRuns; ++i) {
      TWorld::ResetSpeaker();
      P player;
      plat::ClockTime start = plat::ClockNow();
      if (player.Play(url) != 1) state.SkipWithError("play failed");
      runs.push_back(static_cast<double>(TWorld::FirstBlock() - start) / 1000.0);
      w.queue.RunEvents();
    }
    state.counters["median_us"] = Median(runs);
  }
}

void BM_StartLatencyCached(benchmark::State& state) { Latency<CFileSoundPlayer>(state, u"\\Store\\preview.mp3"); }
BENCHMARK(BM_StartLatencyCached)->Iterations(1)->UseRealTime();

void BM_StartLatencyStreamed(benchmark::State& state) {
  static qpstest::ServerHarness server;
  Latency<CHTTPSoundPlayer>(state, plat::Widen(server.Base() + "/media/preview-t2.mp3"));
}
BENCHMARK(BM_StartLatencyStreamed)->Iterations(1)->UseRealTime();

// Bare libmad: open the file, read it, decode and synthesise the first frame.
void BM_StartLatencyBareLibmad(benchmark::State& state) {
  const std::string& path = World().hostFile;
  for (auto _ : state) {
    std::vector<double> runs;
    for (int i = 0; i < kLatencyRuns; ++i) {
      plat::ClockTime start = plat::ClockNow();
      std::vector<unsigned char> bytes(10240);
      FILE* f = std::fopen(path.c_str(), "rb");
      size_t n = f ? std::fread(bytes.data(), 1, bytes.size(), f) : 0;
      if (f) std::fclose(f);
      mad_stream stream;
      mad_frame frame;
      mad_synth synth;
      mad_stream_init(&stream);
      mad_frame_init(&frame);
      mad_synth_init(&synth);
      mad_stream_buffer(&stream, bytes.data(), n);
      while (mad_frame_decode(&frame, &stream) == -1 && MAD_RECOVERABLE(stream.error)) {
      }
      mad_synth_frame(&synth, &frame);
      benchmark::DoNotOptimize(synth.pcm.samples[0][0]);
      runs.push_back(static_cast<double>(plat::ClockNow() - start) / 1000.0);
      mad_synth_finish(&synth);
      mad_frame_finish(&frame);
      mad_stream_finish(&stream);
    }
    state.counters["median_us"] = Median(runs);
  }
}
BENCHMARK(BM_StartLatencyBareLibmad)->Iterations(1)->UseRealTime();

}  // namespace
