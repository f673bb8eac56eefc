// The headless sound devices and what tests (and the platform settings) set
// and read on them.
//
// Microphone: a script of segments (a WAV file, silence, a sine, a pulse
// train, a constant level), then silence or a loop. It advances only when it
// fills a header, so nothing is lost while the program queues late. A header
// completes (length / byte rate) of clock time after the later of its queue
// time and the previous completion; every byte delivered is logged with its
// clock time.
//
// Speaker: each written header is consumed over its duration in clock time;
// its PCM, with the stream's gain, is appended to that stream's capture with
// a record {length, completion time}.
//
// Settings (HKLM "Platform\Linux"): "WaveInDevices", "WaveOutDevices"
// (counts, default 1), "MicrophoneFile" and "SpeakerFile" (host paths; the
// speaker file is written when a stream closes), "AudioBackend" ("headless"
// or "sdl") to force the backend.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/Audio.h"
#include "platform/kernel/Clock.h"

namespace plat {

struct MicSegment {
  enum class Kind { Silence, Sine, Pulse, Constant, Wav } kind = Kind::Silence;
  // 0: a WAV file's own length; for a generator, forever.
  uint32_t durationMs = 0;
  double frequency = 0;      // Sine
  double amplitude = 0;      // Sine, peak
  int16_t value = 0;         // Constant; Pulse (the pulse's sample)
  uint32_t periodMs = 0;     // Pulse: one sample every period (0: only the first)
  std::filesystem::path file;  // Wav

  static MicSegment Silence(uint32_t ms);
  static MicSegment Sine(double hz, double peak, uint32_t ms);
  static MicSegment Pulse(int16_t value, uint32_t periodMs, uint32_t ms);
  static MicSegment Constant(int16_t value, uint32_t ms);
  static MicSegment Wav(std::filesystem::path file, uint32_t ms = 0);
};

struct MicSource {
  std::vector<MicSegment> script;
  bool loop = false;  // at the end: loop, else silence
};

struct MicDelivery {
  ClockTime time = 0;
  uint32_t bytes = 0;
};

struct SpeakerRecord {
  uint32_t length = 0;
  ClockTime completed = 0;
};

struct SpeakerStream {
  WaveFormat format;
  std::vector<uint8_t> pcm;
  std::vector<SpeakerRecord> records;
  bool open = true;
  // Closed, and its PCM and records let go (the keep limit, ClearCaptures).
  bool dropped = false;
};

namespace headless_audio {

// The source for the next input opens (the setting "MicrophoneFile" serves
// when none is set).
void SetMicrophone(MicSource source);
// The next header to complete (or the one with the given ordinal, counted
// from 0 since the device opened) completes with `bytes`, 0 included,
// after that many bytes' duration. Several may wait, each used once.
void SetShortCount(uint32_t bytes, std::optional<uint32_t> headerOrdinal = std::nullopt);
// The header with that ordinal (counted from 0 since the device opened)
// completes only after ReleaseHeader, however long it has been due (a reset
// meanwhile hands it back empty): a test whose point is what the program did
// before its recording ended can look while it has not, at any speed.
void HoldHeader(uint32_t ordinal);
void ReleaseHeader();
// Every completion of the current (or last) input device, and the bytes
// delivered, in order.
std::vector<MicDelivery> DeliveryLog();
std::vector<uint8_t> Delivered();
// Every output stream opened since the reset, in opening order.
std::vector<SpeakerStream> Speaker();
// Bytes the captures hold now: speaker PCM and records, microphone log.
size_t CapturedBytes();
// Closed streams keep what they played up to this many PCM bytes in all
// (kDefaultSpeakerKeepBytes unless set); past it the oldest ones are
// dropped, so a long run on these devices stays bounded in memory.
constexpr size_t kDefaultSpeakerKeepBytes = 64u << 20;
void SetSpeakerKeepBytes(size_t bytes);
// Drops what every closed stream played; open ones go on capturing.
void ClearCaptures();
// Headers complete as soon as they are queued or written (benchmarks).
void SetUnpaced(bool unpaced);
// Device counts override the settings; nullopt goes back to them.
void SetDeviceCounts(std::optional<uint32_t> inputs, std::optional<uint32_t> outputs);
// The next open of that direction fails with `code`.
void FailNextOpen(bool input, uint32_t code);
// The next close of that direction fails with `code` and sends no close
// notification; the device is let go all the same, so nothing stays open.
void FailNextClose(bool input, uint32_t code);
// A fresh device: no source, no captures, no overrides. Open devices stay.
void Reset();

}  // namespace headless_audio

// QUOREL_MIC=FILE.wav makes the microphone play that file (from its start
// at every recording, then silence) and QUOREL_SPEAKER=FILE.wav writes what
// the speaker plays to that file, whatever the display backend: the sound
// devices stay headless while either is set. A missing or unreadable
// microphone file, or a speaker file that cannot be written, is the message
// returned (empty when all is well); nothing falls back silently.
bool AudioFileSwitchesSet();
std::string ApplyAudioFileSwitches();

// Devices open now (a test that leaves one open fails the next one's open).
size_t OpenWaveDeviceCount();
// Ends the dispatch of devices a test left open, without callbacks; the
// input device stays allocated. For the test harness's tear-down.
size_t AbandonOpenWaveDevices();

}  // namespace plat
