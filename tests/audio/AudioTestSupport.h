// What the playback tests share: MP3 fixtures made with the encoder at test
// time and their variants built in bytes, a reference decode by libmad's
// low-level calls, a memory source, and the services a running application
// would install (shared audio buffer, busy counter, event queue).
#pragma once

#include <gtest/gtest.h>
#include <mad.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/AudioServices.h"
#include "framework/ActivityHold.h"
#include "audio/SoundCore.h"
#include "audio/SoundSource.h"
#include "framework/Events.h"
#include "net/NetTestUtil.h"
#include "platform/audio/HeadlessAudio.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Clock.h"
#include "tools/protocol-server/Media.h"

namespace audiotest {

using qps::Mp3Format;

// A tone of the format, whole frames only.
inline std::string Fixture(Mp3Format format, double seconds = 1.0) {
  return qps::MakeMp3(format, 440.0, seconds);
}

// A zero-padded ID3v2 tag of about `size` bytes in front.
inline std::string WithPaddedTag(const std::string& mp3, uint32_t size = 20 * 1024) {
  std::string tag = "ID3";
  tag += '\x04';
  tag += '\0';
  tag += '\0';
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((size >> shift) & 0x7F);
  tag.append(size, '\0');
  return tag + mp3;
}

// Bytes that hold no 0xFF, so no frame sync can be found in them.
inline std::string Junk(size_t n, uint32_t seed = 7) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>((seed >> 16) % 255);
  }
  return s;
}

// The conversion the player applies to one decoded frame.
inline void AppendConverted(const mad_pcm& pcm, std::vector<int16_t>& out) {
  size_t at = out.size();
  out.resize(at + pcm.length);
  MixToMono16(pcm.samples[0], pcm.samples[1], pcm.channels, pcm.length, out.data() + at);
}

struct TReference {
  std::vector<int16_t> pcm;
  int rate = 0;
  int frames = 0;
};

// The bytes as one buffer without guard bytes: frames that fail are skipped,
// the last frame is not decoded (no 8 bytes follow it).
inline TReference ReferenceDecode(const std::string& bytes) {
  TReference ref;
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  mad_stream_init(&stream);
  mad_frame_init(&frame);
  mad_synth_init(&synth);
  mad_stream_buffer(&stream, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  for (;;) {
    if (mad_frame_decode(&frame, &stream) == -1) {
      if (MAD_RECOVERABLE(stream.error)) continue;
      break;
    }
    mad_synth_frame(&synth, &frame);
    ++ref.frames;
    ref.rate = static_cast<int>(synth.pcm.samplerate);
    AppendConverted(synth.pcm, ref.pcm);
  }
  mad_synth_finish(&synth);
  mad_frame_finish(&frame);
  mad_stream_finish(&stream);
  return ref;
}

inline std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// A source over bytes in memory, never starving; counts its reads.
class TMemorySource : public CSoundSource {
 public:
  explicit TMemorySource(std::string bytes) : m_bytes(std::move(bytes)), m_hEvent(plat::CreateEvent(false, false)) {}
  ~TMemorySource() override { plat::CloseHandle(m_hEvent); }
  int32_t Read(uint8_t* p, int32_t n) override {
    ++nReads;
    size_t k = std::min<size_t>(static_cast<size_t>(n), m_bytes.size() - m_nPos);
    std::memcpy(p, m_bytes.data() + m_nPos, k);
    m_nPos += k;
    return static_cast<int32_t>(k);
  }
  bool IsFinished() override { return m_nPos == m_bytes.size(); }
  bool IsStarving() override { return false; }
  void WaitForData() override {}
  plat::Handle GetDataEvent() override { return m_hEvent; }
  size_t Position() const { return m_nPos; }
  std::atomic<int> nReads{0};

 private:
  std::string m_bytes;
  std::atomic<size_t> m_nPos{0};
  plat::Handle m_hEvent;
};

// The player states as the UI thread receives them, with the clock time of
// their dispatch.
struct TStateLog : CEventListenerFor<PlayerStateEvent> {
  std::vector<int32_t> codes;
  std::vector<plat::ClockTime> times;
  TStateLog() { Subscribe(); }
  void HandleEvent(const int32_t& code) override {
    codes.push_back(code);
    times.push_back(plat::ClockNow());
  }
  size_t Count(int32_t code) const { return static_cast<size_t>(std::count(codes.begin(), codes.end(), code)); }
};

// The application's part: queue, shared buffer, busy counter; and the
// device's: power records and the speaker reset.
class TAudioApp : private IActivitySink {
 public:
  TAudioApp() : m_buffer(kSharedAudioBufferSize) {
    plat::ResetDeviceServices();
    TAudioServices services;
    services.audioBuffer = [this] { return m_buffer.data(); };
    InstallAudioServices(services);
    InstallActivitySink(this);
  }
  ~TAudioApp() {
    InstallActivitySink(nullptr);
    InstallAudioServices({});
    plat::ResetDeviceServices();
  }
  void RunAll() { app.RunAll(); }

  nettest::TTestApp app;
  TStateLog states;
  std::atomic<int> busy{0};

 private:
  void BeginBusy() override { ++busy; }
  void EndBusy() override { --busy; }
  void BeginQuiet() override {}
  void EndQuiet() override {}

 public:

 private:
  std::vector<uint8_t> m_buffer;
};

// Nothing is left held: power requirement, unattended mode, busy counter.
inline void ExpectBalanced(const TAudioApp& app) {
  plat::PowerRecord power = plat::CurrentPowerRecord();
  EXPECT_EQ(power.audioHeld, 0);
  EXPECT_EQ(power.unattended, 0);
  EXPECT_EQ(app.busy.load(), 0);
}

// Writes bytes to a device file.
inline bool WriteDeviceFile(plat::WStringView path, const std::string& bytes) {
  plat::Handle h = plat::CreateFile(path, plat::GENERIC_WRITE, 0, plat::CREATE_ALWAYS);
  if (h == plat::INVALID_HANDLE_VALUE) return false;
  uint32_t done = 0;
  bool ok = plat::WriteFile(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
  plat::CloseHandle(h);
  return ok && done == bytes.size();
}

}  // namespace audiotest
