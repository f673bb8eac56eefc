// Arbitrary bytes through the playback path on the headless speaker in
// virtual time. The first byte picks the way in:
//   0: the bit-rate parser over the next four bytes;
//   1: the rest as a cached file, played by the file player;
//   2: the rest as a download: records of {length (2 bytes), delay (1 byte),
//      bytes} appended to the download file at input-chosen times while the
//      sound core plays it.
// Each play is bounded by the virtual clock, then stopped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/AudioServices.h"
#include "audio/FileSoundPlayer.h"
#include "audio/MP3HTTPFile.h"
#include "audio/SoundCore.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "net/HTTPSink.h"
#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/testing/TestPlatform.h"

namespace {

constexpr uint32_t kPlayLimitMs = 20000;

struct TWorld {
  // QUOREL_TEST_TRACE echoes the trace, to look into a finding.
  plat::TestPlatform platform{[] {
    plat::TestConfig config;
    config.echoDebugOutput = std::getenv("QUOREL_TEST_TRACE") != nullptr;
    return config;
  }()};
  CObjectRegistry registry;
  CEventQueue queue{[] { return true; }};
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kSharedAudioBufferSize);

  TWorld() {
    if (!std::getenv("QUOREL_TEST_TRACE")) plat::SetDebugSink([](plat::WStringView) {});
    queue.SetInitialised(true);
    queue.SetLoopAlive(false);
    plat::CreateDirectory(u"\\Store");
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
    TAudioServices services;
    services.audioBuffer = [this] { return buffer.data(); };
    InstallAudioServices(services);
  }
  // Lets virtual time run until the core has ended or the limit passed.
  template <class F>
  void RunUntilEnded(F state) {
    for (uint32_t spent = 0; spent < kPlayLimitMs; spent += 50) {
      queue.RunEvents();
      int32_t s = state();
      if (s == ESoundFinished) break;
      platform.RunFor(50);
    }
    queue.RunEvents();
  }
};

TWorld& World() {
  static TWorld* world = new TWorld;  // lives to the end of the process
  return *world;
}

void PlayFile(const uint8_t* data, size_t size) {
  TWorld& w = World();
  plat::Handle h = plat::CreateFile(u"\\Store\\fuzz.mp3", plat::GENERIC_WRITE, 0, plat::CREATE_ALWAYS);
  if (h == plat::INVALID_HANDLE_VALUE) return;
  uint32_t done = 0;
  plat::WriteFile(h, data, static_cast<uint32_t>(size), &done);
  plat::CloseHandle(h);
  CFileSoundPlayer player;
  if (player.Play(u"\\Store\\fuzz.mp3") != 1) return;
  w.RunUntilEnded([&] { return player.GetState(); });
}

void PlayDownload(const uint8_t* data, size_t size) {
  TWorld& w = World();
  struct TPiece {
    std::string bytes;
    uint32_t delayMs;
  };
  std::vector<TPiece> pieces;
  size_t total = 0;
  for (size_t at = 0; at + 3 <= size;) {
    size_t n = ((size_t{data[at]} << 8 | data[at + 1]) % 8192) + 1;
    uint32_t delay = data[at + 2] * 4u;
    at += 3;
    n = std::min(n, size - at);
    pieces.push_back({std::string(reinterpret_cast<const char*>(data + at), n), delay});
    total += n;
    at += n;
  }
  CMP3HTTPFile file;
  if (file.Open() != 0) return;
  CSoundCore core;
  if (core.Play(&file) != 0) return;
  file.Begin(static_cast<int32_t>(total), 200);
  for (const TPiece& p : pieces) {
    if (p.delayMs) w.platform.RunFor(p.delayMs);
    if (file.AppendData(p.bytes.data(), static_cast<int32_t>(p.bytes.size())) != 0) break;
  }
  w.RunUntilEnded([&] { return core.GetState(); });
  core.Stop();
  file.Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  World();
  switch (data[0] % 3) {
    case 0: {
      uint8_t header[4] = {};
      for (size_t i = 0; i < 4 && i + 1 < size; ++i) header[i] = data[i + 1];
      int32_t rate = MP3BitRate(header);
      if (rate < 1024 || rate > 448 * 128) __builtin_trap();
      break;
    }
    case 1:
      PlayFile(data + 1, size - 1);
      break;
    default:
      PlayDownload(data + 1, size - 1);
      break;
  }
  // The speaker keeps what every stream played: freed after each input.
  plat::headless_audio::Reset();
  return 0;
}
