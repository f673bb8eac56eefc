// The wave devices on the headless backend, in virtual time.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/audio/Audio.h"
#include "platform/audio/HeadlessAudio.h"
#include "platform/testing/TestPlatform.h"

using namespace plat;

namespace {

constexpr uint32_t kBuffer = 4000;

// What a device's callback saw, in order, with the flags of each header at
// the moment its notification arrived.
struct Seen {
  std::mutex lock;
  std::vector<uint32_t> messages;
  std::vector<uint32_t> flags;
  std::vector<uint32_t> bytes;
  bool afterClose = false;
  bool closed = false;

  size_t Count(uint32_t message) {
    std::lock_guard<std::mutex> guard(lock);
    return std::count(messages.begin(), messages.end(), message);
  }
};

template <class H>
void Callback(H, uint32_t message, uintptr_t instance, uintptr_t p1, uintptr_t) {
  auto* seen = reinterpret_cast<Seen*>(instance);
  std::lock_guard<std::mutex> guard(seen->lock);
  if (seen->closed) seen->afterClose = true;
  seen->messages.push_back(message);
  auto* h = reinterpret_cast<WaveHeader*>(p1);
  seen->flags.push_back(h ? h->Flags() : 0);
  seen->bytes.push_back(h ? h->dwBytesRecorded : 0);
  if (message == WIM_CLOSE || message == WOM_CLOSE) seen->closed = true;
}

struct Buffers {
  std::array<std::vector<uint8_t>, 4> data;
  std::array<WaveHeader, 4> headers;
  explicit Buffers(uint32_t size = kBuffer) {
    for (size_t i = 0; i < 4; ++i) {
      data[i].assign(size, 0xEE);
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = size;
    }
  }
};

// A recognisable source: sample n is n (mod 2^16), in a WAV file.
std::filesystem::path RampWav(const std::filesystem::path& folder, uint32_t samples) {
  std::vector<uint8_t> pcm(samples * 2);
  for (uint32_t i = 0; i < samples; ++i) {
    int16_t v = static_cast<int16_t>(i);
    std::memcpy(&pcm[i * 2], &v, 2);
  }
  std::filesystem::create_directories(folder);
  auto path = folder / "ramp.wav";
  EXPECT_TRUE(WriteWavFile(path, PcmFormat(8000, 1), pcm));
  return path;
}

std::vector<uint8_t> RampBytes(uint32_t fromByte, uint32_t bytes) {
  std::vector<uint8_t> out(bytes);
  for (uint32_t i = 0; i < bytes; i += 2) {
    int16_t v = static_cast<int16_t>((fromByte + i) / 2);
    std::memcpy(&out[i], &v, 2);
  }
  return out;
}

class WaveTest : public ::testing::Test {
 protected:
  TestPlatform tp;
  Seen seen;
  ClockTime Ms(ClockTime t0) { return (ClockNow() - t0) / kClockNsPerMs; }

  HWaveIn OpenInput() {
    HWaveIn h = nullptr;
    EXPECT_EQ(waveInOpen(&h, 0, PcmFormat(8000, 1), &Callback<HWaveIn>, reinterpret_cast<uintptr_t>(&seen)),
              MMSYSERR_NOERROR);
    return h;
  }
};

TEST_F(WaveTest, HeadersCompleteEvery250msInOrderWithTheSourcesBytes) {
  tp.SetMicrophone({{MicSegment::Wav(RampWav(tp.DeviceRoot(), 16000))}});
  HWaveIn h = OpenInput();
  Buffers b;
  for (auto& hdr : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  }
  ClockTime t0 = ClockNow();
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  tp.Clock()->RunFor(1100);

  auto log = tp.MicrophoneLog();
  ASSERT_EQ(log.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ((log[i].time - t0) / kClockNsPerMs, ClockTime(250 * (i + 1))) << i;
    EXPECT_EQ(b.headers[i].dwBytesRecorded, kBuffer);
    EXPECT_EQ(b.headers[i].Flags(), WHDR_DONE | WHDR_PREPARED);
    EXPECT_EQ(b.data[i], RampBytes(uint32_t(i) * kBuffer, kBuffer)) << i;
  }
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    ASSERT_EQ(seen.messages, (std::vector<uint32_t>{WIM_OPEN, WIM_DATA, WIM_DATA, WIM_DATA, WIM_DATA}));
    // Done, not in queue, and the count set before the notification ran.
    for (size_t i = 1; i < 5; ++i) {
      EXPECT_EQ(seen.flags[i], WHDR_DONE | WHDR_PREPARED);
      EXPECT_EQ(seen.bytes[i], kBuffer);
    }
  }
  for (auto& hdr : b.headers) EXPECT_EQ(waveInUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(seen.Count(WIM_CLOSE), 1u);
}

TEST_F(WaveTest, NothingIsLostWhenTheProgramQueuesLate) {
  tp.SetMicrophone({{MicSegment::Wav(RampWav(tp.DeviceRoot(), 40000))}});
  HWaveIn h = OpenInput();
  Buffers b;
  waveInStart(h);
  for (int round = 0; round < 6; ++round) {
    WaveHeader& hdr = b.headers[round % 4];
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
    tp.Clock()->RunFor(round % 2 ? 900 : 300);  // sometimes long after the last one came back
    ASSERT_TRUE(hdr.Flags() & WHDR_DONE);
    waveInUnprepareHeader(h, &hdr, sizeof hdr);
  }
  EXPECT_EQ(tp.MicrophoneDelivered(), RampBytes(0, 6 * kBuffer));
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveTest, ShortCountsAndTheirTiming) {
  tp.SetMicrophone({{MicSegment::Constant(7, 0)}});
  HWaveIn h = OpenInput();
  Buffers b;
  for (auto& hdr : b.headers) {
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
  }
  ClockTime t0 = ClockNow();
  waveInStart(h);
  tp.Clock()->RunFor(300);
  tp.SetMicrophoneShortCount(1000);  // the one being filled
  tp.Clock()->RunFor(100);
  tp.SetMicrophoneShortCount(0, 3);  // the last, empty
  tp.Clock()->RunFor(400);
  auto log = tp.MicrophoneLog();
  ASSERT_EQ(log.size(), 4u);
  std::vector<ClockTime> at;
  std::vector<uint32_t> bytes;
  for (auto& d : log) {
    at.push_back((d.time - t0) / kClockNsPerMs);
    bytes.push_back(d.bytes);
  }
  EXPECT_EQ(bytes, (std::vector<uint32_t>{4000, 1000, 4000, 0}));
  EXPECT_EQ(at, (std::vector<ClockTime>{250, 312, 562, 562}));
  EXPECT_EQ(b.headers[1].dwBytesRecorded, 1000u);
  EXPECT_EQ(b.headers[3].dwBytesRecorded, 0u);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

// Reset and close hand everything back before they return, with completions
// falling due around them, and nothing is called after close.
TEST_F(WaveTest, ResetAndCloseAreSynchronous) {
  tp.SetMicrophone({{MicSegment::Sine(440, 8000, 0)}});
  for (int round = 0; round < 1000; ++round) {
    Seen local;
    HWaveIn h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 0, PcmFormat(8000, 1), &Callback<HWaveIn>, reinterpret_cast<uintptr_t>(&local)),
              MMSYSERR_NOERROR);
    Buffers b;
    for (auto& hdr : b.headers) {
      waveInPrepareHeader(h, &hdr, sizeof hdr);
      waveInAddBuffer(h, &hdr, sizeof hdr);
    }
    waveInStart(h);
    if (round % 3) tp.Clock()->RunFor(static_cast<uint32_t>(round % 997));
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(local.Count(WIM_DATA), 4u) << round;
    for (auto& hdr : b.headers) {
      ASSERT_EQ(hdr.Flags() & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
      ASSERT_EQ(hdr.dwBytesRecorded % 2, 0u);
    }
    // Prepared but not queued headers do not hold the close up.
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    ASSERT_EQ(local.Count(WIM_CLOSE), 1u);
    tp.Clock()->RunFor(1);
    std::lock_guard<std::mutex> guard(local.lock);
    ASSERT_FALSE(local.afterClose);
    ASSERT_EQ(local.messages.back(), WIM_CLOSE);
  }
  EXPECT_EQ(OpenWaveDeviceCount(), 0u);
}

TEST_F(WaveTest, PartialCountOnResetFollowsTheClock) {
  HWaveIn h = OpenInput();
  Buffers b;
  for (auto& hdr : b.headers) {
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
  }
  waveInStart(h);
  tp.Clock()->RunFor(300);  // one back, the second 50 ms in
  waveInReset(h);
  EXPECT_EQ(b.headers[0].dwBytesRecorded, 4000u);
  EXPECT_EQ(b.headers[1].dwBytesRecorded, 800u);
  EXPECT_EQ(b.headers[2].dwBytesRecorded, 0u);
  EXPECT_EQ(b.headers[3].dwBytesRecorded, 0u);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveTest, HeaderRulesAndResultCodes) {
  HWaveIn h = OpenInput();
  Buffers b;
  WaveHeader& hdr = b.headers[0];
  EXPECT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
  waveInPrepareHeader(h, &hdr, sizeof hdr);
  hdr.dwFlags |= WHDR_DONE;
  EXPECT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(hdr.Flags(), WHDR_PREPARED | WHDR_INQUEUE);  // add clears DONE
  EXPECT_EQ(waveInUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
  // A second open of the input device while it is open.
  HWaveIn second = nullptr;
  EXPECT_EQ(waveInOpen(&second, 0, PcmFormat(8000, 1), nullptr, 0), MMSYSERR_ALLOCATED);
  waveInReset(h);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveTest, OpenFailures) {
  struct Case {
    const char* name;
    WaveFormat format;
    std::optional<uint32_t> inputs;
    uint32_t injected;
    uint32_t expected;
  };
  WaveFormat bits8 = PcmFormat(8000, 1);
  bits8.wBitsPerSample = 8;
  const Case cases[] = {
      {"no devices", PcmFormat(8000, 1), 0, 0, MMSYSERR_BADDEVICEID},
      {"injected", PcmFormat(8000, 1), std::nullopt, MMSYSERR_NODRIVER, MMSYSERR_NODRIVER},
      {"8 bits", bits8, std::nullopt, 0, WAVERR_BADFORMAT},
      {"96 kHz", PcmFormat(96000, 1), std::nullopt, 0, WAVERR_BADFORMAT},
      {"3 channels", PcmFormat(8000, 3), std::nullopt, 0, WAVERR_BADFORMAT},
  };
  for (const Case& c : cases) {
    tp.SetWaveDeviceCounts(c.inputs, c.inputs);
    if (c.injected) tp.FailNextWaveOpen(true, c.injected);
    if (c.inputs) {
      EXPECT_EQ(waveInGetNumDevs(), *c.inputs) << c.name;
    }
    HWaveIn h = nullptr;
    EXPECT_EQ(waveInOpen(&h, 0, c.format, nullptr, 0), c.expected) << c.name;
    EXPECT_EQ(OpenWaveDeviceCount(), 0u) << c.name;
  }
  // The injection is used up: the next open works.
  tp.SetWaveDeviceCounts(std::nullopt, std::nullopt);
  HWaveIn h = OpenInput();
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

class WaveOutTest : public WaveTest {
 protected:
  HWaveOut OpenOutput(const WaveFormat& format, Seen* s) {
    HWaveOut h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, 0, format, &Callback<HWaveOut>, reinterpret_cast<uintptr_t>(s)), MMSYSERR_NOERROR);
    return h;
  }
  static std::vector<uint8_t> Pattern(size_t bytes, int seed) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed);
    return v;
  }
};

TEST_F(WaveOutTest, ConsumedAtTheOpenedRateAndCapturedAsWritten) {
  WaveFormat format = PcmFormat(22050, 2);  // 88200 bytes a second
  HWaveOut h = OpenOutput(format, &seen);
  Buffers b(8820);                          // 100 ms each
  std::vector<uint8_t> written;
  for (int i = 0; i < 4; ++i) {
    b.data[i] = Pattern(8820, i);
    b.headers[i].lpData = b.data[i].data();
    written.insert(written.end(), b.data[i].begin(), b.data[i].end());
    waveOutPrepareHeader(h, &b.headers[i], sizeof b.headers[i]);
  }
  ClockTime t0 = ClockNow();
  for (auto& hdr : b.headers) waveOutWrite(h, &hdr, sizeof hdr);
  tp.Clock()->RunFor(150);
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  tp.Clock()->RunFor(1000);  // paused half-way through the second
  EXPECT_EQ(seen.Count(WOM_DONE), 1u);
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  tp.Clock()->RunFor(400);
  EXPECT_EQ(seen.Count(WOM_DONE), 4u);

  auto speaker = tp.Speaker();
  ASSERT_EQ(speaker.size(), 1u);
  EXPECT_EQ(speaker[0].format.nSamplesPerSec, 22050u);
  EXPECT_EQ(speaker[0].format.nChannels, 2u);
  EXPECT_EQ(speaker[0].pcm, written);
  std::vector<ClockTime> at;
  for (auto& r : speaker[0].records) at.push_back((r.completed - t0) / kClockNsPerMs);
  EXPECT_EQ(at, (std::vector<ClockTime>{100, 1200, 1300, 1400}));
  for (auto& hdr : b.headers) waveOutUnprepareHeader(h, &hdr, sizeof hdr);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_FALSE(tp.Speaker()[0].open);
}

TEST_F(WaveOutTest, GainIsPerStreamAndResetReturnsEverything) {
  Seen other;
  HWaveOut loud = OpenOutput(PcmFormat(8000, 1), &seen);
  HWaveOut quiet = OpenOutput(PcmFormat(8000, 1), &other);
  ASSERT_EQ(waveOutSetVolume(quiet, 0x40004000), MMSYSERR_NOERROR);
  std::vector<int16_t> samples(800, 20000);
  WaveHeader a, c;
  for (auto [h, hdr] : {std::pair{loud, &a}, std::pair{quiet, &c}}) {
    hdr->lpData = reinterpret_cast<uint8_t*>(samples.data());
    hdr->dwBufferLength = 1600;
    waveOutPrepareHeader(h, hdr, sizeof *hdr);
    waveOutWrite(h, hdr, sizeof *hdr);
  }
  tp.Clock()->RunFor(150);
  auto speaker = tp.Speaker();
  ASSERT_EQ(speaker.size(), 2u);
  int16_t first[2];
  std::memcpy(&first[0], speaker[0].pcm.data(), 2);
  std::memcpy(&first[1], speaker[1].pcm.data(), 2);
  EXPECT_EQ(first[0], 20000);
  EXPECT_EQ(first[1], 20000 * 0x4000 / 0xFFFF);

  // Reset a header that is half played: it comes back done at once.
  waveOutWrite(loud, &a, sizeof a);
  tp.Clock()->RunFor(50);
  ASSERT_EQ(waveOutReset(loud), MMSYSERR_NOERROR);
  EXPECT_EQ(seen.Count(WOM_DONE), 2u);
  EXPECT_EQ(tp.Speaker()[0].pcm.size(), 1600u + 800u);
  waveOutUnprepareHeader(loud, &a, sizeof a);
  waveOutUnprepareHeader(quiet, &c, sizeof c);
  EXPECT_EQ(waveOutClose(loud), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(quiet), MMSYSERR_NOERROR);
  EXPECT_EQ(seen.Count(WOM_CLOSE), 1u);
  EXPECT_EQ(other.Count(WOM_CLOSE), 1u);
}

// A long run plays stream after stream: the speaker keeps the newest ones
// within its limit and lets the oldest closed ones go, never an open one;
// the entries stay, so stream numbers do not move.
TEST_F(WaveOutTest, ClosedStreamsBeyondTheKeepLimitLetGoOfWhatTheyPlayed) {
  headless_audio::SetSpeakerKeepBytes(3 * 1600);
  std::vector<int16_t> samples(800, 1000);  // 100 ms at 8 kHz
  Seen closed;
  auto play = [&](bool close) {
    HWaveOut h = OpenOutput(PcmFormat(8000, 1), close ? &closed : &seen);
    WaveHeader hdr;
    hdr.lpData = reinterpret_cast<uint8_t*>(samples.data());
    hdr.dwBufferLength = 1600;
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    waveOutWrite(h, &hdr, sizeof hdr);
    tp.Clock()->RunFor(150);
    waveOutUnprepareHeader(h, &hdr, sizeof hdr);
    if (close) {
      EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    }
    return h;
  };
  HWaveOut open = play(false);
  for (int i = 0; i < 5; ++i) play(true);
  auto speaker = tp.Speaker();
  ASSERT_EQ(speaker.size(), 6u);
  std::vector<size_t> kept;
  for (const SpeakerStream& stream : speaker) kept.push_back(stream.pcm.size());
  EXPECT_EQ(kept, (std::vector<size_t>{1600, 0, 0, 1600, 1600, 1600}));
  EXPECT_FALSE(speaker[0].dropped);
  EXPECT_TRUE(speaker[1].dropped && speaker[1].records.empty());
  EXPECT_FALSE(speaker[5].dropped);
  EXPECT_EQ(headless_audio::CapturedBytes(), 4 * (sizeof(SpeakerStream) + 1600 + sizeof(SpeakerRecord)) +
                                                 2 * sizeof(SpeakerStream));
  // Clearing drops every closed stream; the open one goes on capturing.
  headless_audio::ClearCaptures();
  kept.clear();
  for (const SpeakerStream& stream : tp.Speaker()) kept.push_back(stream.pcm.size());
  EXPECT_EQ(kept, (std::vector<size_t>{1600, 0, 0, 0, 0, 0}));
  EXPECT_EQ(waveOutClose(open), MMSYSERR_NOERROR);
  headless_audio::SetSpeakerKeepBytes(headless_audio::kDefaultSpeakerKeepBytes);
}

TEST(WavFiles, RoundTripDownMixAndResample) {
  std::vector<uint8_t> stereo;
  for (int i = 0; i < 16000; ++i) {  // 1 s at 16 kHz: left 1000, right 3000
    for (int16_t v : {int16_t(1000), int16_t(3000)}) {
      stereo.push_back(static_cast<uint8_t>(v));
      stereo.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  auto parsed = ParseWav(MakeWav(PcmFormat(16000, 2), stereo));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->pcm, stereo);
  std::vector<int16_t> mono = ToMono16(*parsed, 8000);
  ASSERT_EQ(mono.size(), 8000u);
  EXPECT_EQ(mono.front(), 2000);
  EXPECT_EQ(mono.back(), 2000);

  std::vector<uint8_t> bad = MakeWav(PcmFormat(8000, 1), {1, 2, 3, 4});
  bad[20] = 3;  // not PCM
  EXPECT_FALSE(ParseWav(bad));
  EXPECT_FALSE(ParseWav({'R', 'I', 'F', 'F'}));
  std::vector<uint8_t> cut = MakeWav(PcmFormat(8000, 1), std::vector<uint8_t>(100, 9));
  cut.resize(cut.size() - 31);  // the data chunk claims more than there is
  auto partial = ParseWav(cut);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->pcm.size(), 68u);
}

}  // namespace

namespace {

// Records four headers from the microphone (which must play the 8000-sample
// ramp), then plays header `play` on the speaker; the speaker's file must
// hold exactly that header.
void RoundTripThroughTheFiles(TestPlatform& tp, const std::filesystem::path& speaker, size_t play) {
  Buffers b;
  HWaveIn in = nullptr;
  ASSERT_EQ(waveInOpen(&in, 0, PcmFormat(8000, 1), nullptr, 0), MMSYSERR_NOERROR);
  for (auto& hdr : b.headers) {
    waveInPrepareHeader(in, &hdr, sizeof hdr);
    waveInAddBuffer(in, &hdr, sizeof hdr);
  }
  waveInStart(in);
  ASSERT_TRUE(tp.Settle());
  EXPECT_EQ(tp.MicrophoneDelivered(), RampBytes(0, 4 * kBuffer));
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);

  HWaveOut out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, 0, PcmFormat(8000, 1), nullptr, 0), MMSYSERR_NOERROR);
  waveOutPrepareHeader(out, &b.headers[play], sizeof b.headers[play]);
  waveOutWrite(out, &b.headers[play], sizeof b.headers[play]);
  ASSERT_TRUE(tp.Settle());
  EXPECT_TRUE(b.headers[play].Flags() & WHDR_DONE);
  EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  auto written = ReadWavFile(speaker);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->pcm, b.data[play]);
}

// The platform settings name the microphone's and the speaker's files; the
// unpaced mode completes headers as soon as they are queued.
TEST(WaveSettings, FilesFromTheSettingsAndUnpacedDevices) {
  auto folder = std::filesystem::temp_directory_path() / ("quorel-wave-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::filesystem::path mic = RampWav(folder, 8000), speaker = folder / "out.wav";
  TestConfig config;
  config.registrySeed = "\"MicrophoneFile\"=\"" + mic.string() + "\"\n\"SpeakerFile\"=\"" + speaker.string() + "\"\n";
  {
    TestPlatform tp(config);
    tp.SetAudioUnpaced(true);
    RoundTripThroughTheFiles(tp, speaker, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace

namespace {

// QUOREL_MIC and QUOREL_SPEAKER: bad files are a message, good ones beat the
// settings' files.
class AudioFileSwitches : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = std::filesystem::temp_directory_path() / ("quorel-switch-" + std::to_string(getpid()));
    std::filesystem::create_directories(m_folder);
  }
  void TearDown() override {
    unsetenv("QUOREL_MIC");
    unsetenv("QUOREL_SPEAKER");
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  std::filesystem::path m_folder;
};

TEST_F(AudioFileSwitches, AMissingOrUnreadableFileIsAMessage) {
  std::ofstream(m_folder / "notes.txt") << "not a wave file";
  struct {
    const char* mic;
    const char* speaker;
    const char* expected;  // in the message; nullptr: none
  } cases[] = {
      {"absent.wav", nullptr, "QUOREL_MIC: "},
      {"notes.txt", nullptr, "QUOREL_MIC: "},
      {nullptr, "no-such-folder/out.wav", "QUOREL_SPEAKER: "},
      {nullptr, "out.wav", nullptr},
      {nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    TestPlatform tp;
    unsetenv("QUOREL_MIC");
    unsetenv("QUOREL_SPEAKER");
    if (c.mic) setenv("QUOREL_MIC", (m_folder / c.mic).c_str(), 1);
    if (c.speaker) setenv("QUOREL_SPEAKER", (m_folder / c.speaker).c_str(), 1);
    EXPECT_EQ(AudioFileSwitchesSet(), c.mic || c.speaker);
    const std::string message = ApplyAudioFileSwitches();
    if (!c.expected) {
      EXPECT_EQ(message, "") << (c.speaker ? c.speaker : "none");
      // Checking the speaker file leaves nothing behind.
      EXPECT_FALSE(std::filesystem::exists(m_folder / "out.wav"));
      continue;
    }
    EXPECT_EQ(message.rfind(c.expected, 0), 0u) << message;
    EXPECT_NE(message.find((m_folder / (c.mic ? c.mic : c.speaker)).string()), std::string::npos) << message;
  }
}

TEST_F(AudioFileSwitches, TheFilesBeatTheSettings) {
  const std::filesystem::path mic = RampWav(m_folder, 8000), speaker = m_folder / "switch.wav";
  TestConfig config;
  config.registrySeed = "\"SpeakerFile\"=\"" + (m_folder / "setting.wav").string() + "\"\n";
  TestPlatform tp(config);
  tp.SetAudioUnpaced(true);
  setenv("QUOREL_MIC", mic.c_str(), 1);
  setenv("QUOREL_SPEAKER", speaker.c_str(), 1);
  ASSERT_EQ(ApplyAudioFileSwitches(), "");
  RoundTripThroughTheFiles(tp, speaker, 1);
  EXPECT_FALSE(std::filesystem::exists(m_folder / "setting.wav"));
}

}  // namespace
