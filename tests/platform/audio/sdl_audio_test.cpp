// The SDL sound devices on SDL's file-backed driver, on the real clock: what
// is written comes out in the driver's file, and the capture delivers the
// driver's input file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/audio/Audio.h"
#include "platform/audio/AudioBackend.h"
#include "platform/sdl/SdlAudio.h"
#include "tests/support/Waits.h"

using namespace plat;

namespace {

Handle g_event = nullptr;

template <class H>
void Signal(H, uint32_t, uintptr_t, uintptr_t, uintptr_t) {
  SetEvent(g_event);
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Waits (real time, bounded) until the header is done.
bool WaitDone(const WaveHeader& h) {
  const auto end = std::chrono::steady_clock::now() + support::kHangLimit;
  while (!(h.Flags() & WHDR_DONE) && std::chrono::steady_clock::now() < end) WaitForSingleObject(g_event, 50);
  return h.Flags() & WHDR_DONE;
}

// What the driver played, without its silence. SDL's thread takes a buffer
// every millisecond here; on a loaded machine it can find the ring empty and
// play silence in the middle of the samples, which never hold a zero byte.
std::vector<uint8_t> Played(const std::filesystem::path& file) {
  std::vector<uint8_t> bytes = ReadAll(file);
  std::erase(bytes, uint8_t{0});
  return bytes;
}

// Waits (real time, bounded) until the driver has played `pcm`; what it
// played then.
std::vector<uint8_t> WaitWritten(const std::filesystem::path& file, const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> written;
  support::PollUntil([&] {
    written = Played(file);
    return std::search(written.begin(), written.end(), pcm.begin(), pcm.end()) != written.end();
  }, 0, std::chrono::milliseconds(20));
  return written;
}

class SdlAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = std::filesystem::temp_directory_path() / ("quorel-sdl-audio-" + std::to_string(getpid()));
    std::filesystem::create_directories(m_folder);
    m_out = m_folder / "out.raw";
    m_in = m_folder / "in.raw";
    std::vector<uint8_t> input(32000);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 13 + 1);
    std::ofstream(m_in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), input.size());
    m_input = input;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", m_out.c_str(), 1);
    setenv("SDL_DISKAUDIOFILEIN", m_in.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    auto backend = MakeSdlAudioBackend();
    if (!backend) GTEST_SKIP() << "SDL's disk audio driver is not available";
    InstallAudioBackend(backend);
    g_event = CreateEvent(false, false);
  }
  void TearDown() override {
    InstallAudioBackend(nullptr);
    if (g_event) CloseHandle(g_event);
    g_event = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  std::filesystem::path m_folder, m_out, m_in;
  std::vector<uint8_t> m_input;
};

TEST_F(SdlAudioTest, PlaybackReachesTheDriverUnchangedAtUnityGain) {
  ASSERT_EQ(waveOutGetNumDevs(), 1u);
  HWaveOut h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, 0, PcmFormat(8000, 1), &Signal<HWaveOut>, 0), MMSYSERR_NOERROR);
  std::vector<uint8_t> pcm(16000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(1 + (i * 5 + 3) % 255);  // never 0
  WaveHeader hdr;
  hdr.lpData = pcm.data();
  hdr.dwBufferLength = static_cast<uint32_t>(pcm.size());
  waveOutPrepareHeader(h, &hdr, sizeof hdr);
  ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(hdr));
  // Done once handed over; give the driver its last buffers (the wait ends
  // as soon as the samples are there).
  const std::vector<uint8_t> written = WaitWritten(m_out, pcm);
  waveOutUnprepareHeader(h, &hdr, sizeof hdr);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_NE(std::search(written.begin(), written.end(), pcm.begin(), pcm.end()), written.end());
}

TEST_F(SdlAudioTest, CaptureDeliversTheDriversInput) {
  if (waveInGetNumDevs() == 0) GTEST_SKIP() << "the driver has no capture device";
  HWaveIn h = nullptr;
  uint32_t r = waveInOpen(&h, 0, PcmFormat(8000, 1), &Signal<HWaveIn>, 0);
  if (r != MMSYSERR_NOERROR) GTEST_SKIP() << "the driver's capture does not open (" << r << ")";
  std::vector<uint8_t> a(4000), b(4000);
  WaveHeader ha, hb;
  ha.lpData = a.data();
  ha.dwBufferLength = 4000;
  hb.lpData = b.data();
  hb.dwBufferLength = 4000;
  waveInPrepareHeader(h, &ha, sizeof ha);
  waveInAddBuffer(h, &ha, sizeof ha);
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(ha));
  waveInPrepareHeader(h, &hb, sizeof hb);
  waveInAddBuffer(h, &hb, sizeof hb);
  ASSERT_TRUE(WaitDone(hb));
  EXPECT_EQ(ha.dwBytesRecorded, 4000u);
  EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  waveInUnprepareHeader(h, &ha, sizeof ha);
  waveInUnprepareHeader(h, &hb, sizeof hb);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  // The ring kept what came while no header was queued.
  std::vector<uint8_t> got(a);
  got.insert(got.end(), b.begin(), b.end());
  EXPECT_EQ(got, std::vector<uint8_t>(m_input.begin(), m_input.begin() + 8000));
}

// The shell's sounds are heard on SDL: a WAV file plays on a stream of its
// own (headless, the same call is silent).
TEST_F(SdlAudioTest, WavFilesPlayOnAStreamOfTheirOwn) {
  std::vector<uint8_t> pcm(8000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(1 + (i * 11 + 7) % 255);  // never 0
  auto wav = m_folder / "touch.wav";
  ASSERT_TRUE(WriteWavFile(wav, PcmFormat(8000, 1), pcm));
  ASSERT_TRUE(PlayWavFile(wav));
  const std::vector<uint8_t> written = WaitWritten(m_out, pcm);
  EXPECT_NE(std::search(written.begin(), written.end(), pcm.begin(), pcm.end()), written.end());
  EXPECT_FALSE(PlayWavFile({}));  // stops, and closes its stream
  InstallAudioBackend(nullptr);
  EXPECT_FALSE(PlayWavFile(wav));
}

TEST(SdlAudioChoice, FollowsTheDisplayUnlessForced) {
  EXPECT_EQ(ChooseAudioBackend(nullptr, true), AudioChoice::Sdl);
  EXPECT_EQ(ChooseAudioBackend("", false), AudioChoice::Headless);
  EXPECT_EQ(ChooseAudioBackend("SDL", false), AudioChoice::Sdl);
  EXPECT_EQ(ChooseAudioBackend("headless", true), AudioChoice::Headless);
}

}  // namespace
