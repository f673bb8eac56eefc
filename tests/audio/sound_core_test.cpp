// The sound core and decoder on the headless speaker in virtual time: the
// PCM that reaches the device, the states posted, power and busy balance on
// every path, and the ends a bad stream or a stop can take.
#include "audio/SoundCore.h"

#include <gtest/gtest.h>

#include <memory>

#include "AudioTestSupport.h"
#include "audio/FileSoundPlayer.h"
#include "audio/MP3HTTPFile.h"
#include "platform/shell/DeviceServices.h"
#include "platform/testing/TestPlatform.h"

namespace audiotest {
namespace {

class SoundCoreTest : public ::testing::Test {
 protected:
  // Runs virtual time in steps, dispatching the posted states, until done.
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs = 30000, uint32_t stepMs = 5) {
    for (uint32_t spent = 0;; spent += stepMs) {
      m_app.RunAll();
      if (done()) return true;
      if (spent >= maxMs) return false;
      m_platform.RunFor(stepMs);
    }
  }
  std::vector<plat::SpeakerStream> Speaker() { return m_platform.Speaker(); }
  bool Traced(const std::string& part) {
    for (const std::string& line : m_platform.DebugLines())
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  plat::TestPlatform m_platform;
  TAudioApp m_app;
};

TEST_F(SoundCoreTest, TheSpeakerGetsTheReferenceDecodeOfEveryFixtureAndVariant) {
  const std::string mono = Fixture(Mp3Format::Mono44k);
  const std::string stereo = Fixture(Mp3Format::JointStereo44k);
  const std::string mpeg2 = Fixture(Mp3Format::Mpeg2Mono22k);
  struct TCase {
    const char* name;
    std::string bytes;
    int rate;
  } cases[] = {
      {"mono 44.1 kHz", mono, 44100},
      {"joint stereo 44.1 kHz", stereo, 44100},
      {"MPEG-2 mono 22.05 kHz", mpeg2, 22050},
      {"padded ID3v2 tag first", WithPaddedTag(stereo), 44100},
      {"cut after a few frames", stereo.substr(2000, 5000), 44100},
      {"trailing junk", mono + Junk(3000), 44100},
      {"ID3v1 tag last", mono + "TAG" + std::string(125, 'x'), 44100},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    plat::headless_audio::Reset();
    TReference ref = ReferenceDecode(c.bytes);
    ASSERT_GT(ref.frames, 2);
    TMemorySource source(c.bytes);
    TStateLog states;
    {
      CSoundCore core;
      ASSERT_EQ(core.Play(&source), 0);
      ASSERT_TRUE(RunUntil([&] { return core.GetState() == ESoundFinished; }));
      EXPECT_FALSE(core.HasFailed());
    }
    m_app.RunAll();
    auto speaker = Speaker();
    ASSERT_EQ(speaker.size(), 1u);
    EXPECT_EQ(speaker[0].format.nChannels, 1);
    EXPECT_EQ(speaker[0].format.wBitsPerSample, 16);
    EXPECT_EQ(speaker[0].format.nSamplesPerSec, static_cast<uint32_t>(c.rate));
    EXPECT_TRUE(Samples(speaker[0].pcm) == ref.pcm) << Samples(speaker[0].pcm).size() << " vs " << ref.pcm.size();
    EXPECT_EQ(states.Count(EPlayerError), 0u);
    ExpectBalanced(m_app);
  }
}

TEST_F(SoundCoreTest, ConversionRoundsClipsAndMixes) {
  struct TCase {
    int32_t in;
    int32_t out;
  } cases[] = {
      {0x10000000, 32767},  {-0x10000000, -32768}, {0x7FFFFFFF, 32767}, {INT32_MIN, -32768},
      {0x1000, 1},          {0x0FFF, 0},           {-0x1000, 0},        {-0x1001, -1},
      {0, 0},               {0x2000, 1},
  };
  for (const TCase& c : cases) EXPECT_EQ(ScaleMadSample(c.in), c.out) << std::hex << c.in;
  // Stereo: the converted channels averaged by an arithmetic shift.
  mad_pcm pcm{};
  pcm.channels = 2;
  pcm.length = 3;
  const int32_t left[] = {-0x2000, 0x10000000, -0x10000000};
  const int32_t right[] = {-0x4000, 0x10000000, -0x6000};
  for (int i = 0; i < 3; ++i) {
    pcm.samples[0][i] = left[i];
    pcm.samples[1][i] = right[i];
  }
  std::vector<int16_t> out;
  AppendConverted(pcm, out);
  EXPECT_EQ(out, (std::vector<int16_t>{-2, 32767, -16386}));
}

TEST_F(SoundCoreTest, NothingDecodableEndsInOneErrorWithinBoundedRoundTrips) {
  struct TCase {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"text", std::string(40000, 'a') + "<html><body>Not Found</body></html>"},
      {"random bytes without 0xFF", Junk(60000)},
      {"empty", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMemorySource source(c.bytes);
    TStateLog states;
    {
      CSoundCore core;
      ASSERT_EQ(core.Play(&source), 0);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerError) == 1; }));
      EXPECT_EQ(core.GetState(), ESoundFinished);
      EXPECT_TRUE(core.HasFailed());
      m_platform.RunFor(500);
      // One read per 10 KB and a few more for the tails: no spinning.
      EXPECT_LE(source.nReads.load(), static_cast<int>(c.bytes.size() / 10000 + 4));
      ExpectBalanced(m_app);
    }
    m_app.RunAll();
    EXPECT_EQ(states.codes, (std::vector<int32_t>{EPlayerRequested, EPlayerError}));
  }
}

TEST_F(SoundCoreTest, StatesComeInOrderAndTheEndOnlyAfterTheLastBlock) {
  std::string bytes = Fixture(Mp3Format::Mono44k, 0.5);
  TMemorySource source(bytes);
  CSoundCore core;
  EXPECT_EQ(core.GetState(), ESoundIdle);
  ASSERT_EQ(core.Play(&source), 0);
  EXPECT_TRUE(core.GetState() == ESoundStarting || core.GetState() == ESoundPlaying);
  ASSERT_TRUE(RunUntil([&] { return m_app.states.Count(EPlayerPlaying) == 1; }, 5000, 1));
  EXPECT_EQ(m_app.busy.load(), 0);  // released once the device plays
  EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 1);
  EXPECT_EQ(plat::CurrentPowerRecord().unattended, 1);
  core.Pause();
  core.Resume();
  ASSERT_TRUE(RunUntil([&] { return m_app.states.Count(EPlayerFinished) == 1; }, 5000, 1));
  EXPECT_EQ(m_app.states.codes,
            (std::vector<int32_t>{EPlayerRequested, EPlayerPlaying, EPlayerPaused, EPlayerResumed, EPlayerFinished}));
  auto speaker = Speaker();
  ASSERT_EQ(speaker.size(), 1u);
  ASSERT_FALSE(speaker[0].records.empty());
  EXPECT_GE(m_app.states.times.back(), speaker[0].records.back().completed);
  EXPECT_EQ(Samples(speaker[0].pcm), ReferenceDecode(bytes).pcm);
  ExpectBalanced(m_app);
  // Not playing: pause and resume do nothing.
  core.Pause();
  core.Resume();
  core.Stop();
  m_app.RunAll();
  EXPECT_EQ(m_app.states.Count(EPlayerPaused), 1u);
  ExpectBalanced(m_app);
}

TEST_F(SoundCoreTest, PausedOutputStallsTheDecoderAtFifteenBlocks) {
  std::string bytes = Fixture(Mp3Format::JointStereo44k, 2.0);
  TMemorySource source(bytes);
  CSoundCore core;
  ASSERT_EQ(core.Play(&source), 0);
  ASSERT_TRUE(RunUntil([&] { return core.GetState() == ESoundPlaying; }, 5000, 1));
  core.Pause();
  EXPECT_EQ(core.GetState(), ESoundPaused);
  EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 0);
  m_platform.RunFor(3000);
  size_t stalledAt = source.Position();
  EXPECT_LT(stalledAt, bytes.size());
  auto speaker = Speaker();
  size_t written = speaker[0].pcm.size();
  m_platform.RunFor(3000);
  EXPECT_EQ(source.Position(), stalledAt);
  EXPECT_EQ(Speaker()[0].pcm.size(), written);
  EXPECT_EQ(core.GetPlayedSeconds(), 0);
  // 15 frames wait in the ring, one more in the decoder; the read position
  // lies within a buffer of that.
  EXPECT_LE(stalledAt, 17 * bytes.size() / 77 + CSoundCore::kInputSize);
  core.Resume();
  ASSERT_TRUE(RunUntil([&] { return core.GetState() == ESoundFinished; }));
  EXPECT_EQ(Samples(Speaker()[0].pcm), ReferenceDecode(bytes).pcm);
  ExpectBalanced(m_app);
}

TEST_F(SoundCoreTest, PlayedSecondsCountTheMonoBytesDone) {
  std::string bytes = Fixture(Mp3Format::JointStereo44k, 3.0);
  TMemorySource source(bytes);
  CSoundCore core;
  EXPECT_EQ(core.GetPlayedSeconds(), 0);
  ASSERT_EQ(core.Play(&source), 0);
  ASSERT_TRUE(RunUntil([&] { return core.GetPlayedSeconds() == 2; }, 10000, 10));
  EXPECT_GE(plat::headless_audio::Speaker()[0].pcm.size(), 176400u);
  EXPECT_EQ(Speaker()[0].format.nAvgBytesPerSec, 88200u);
  core.Stop();
  EXPECT_EQ(core.GetPlayedSeconds(), 0);  // the device is closed
}

TEST_F(SoundCoreTest, PowerAndBusyStayBalancedOnEveryPath) {
  std::string bytes = Fixture(Mp3Format::Mono44k, 1.0);
  enum EStop { ENatural, EPlaying, EPaused, EStarting, ENoDevice, EPowerFails };
  for (EStop how : {ENatural, EPlaying, EPaused, EStarting, ENoDevice, EPowerFails}) {
    SCOPED_TRACE(static_cast<int>(how));
    plat::headless_audio::Reset();
    m_platform.ClearDebugLines();
    if (how == ENoDevice) m_platform.SetWaveDeviceCounts(std::nullopt, 0);
    if (how == EPowerFails) plat::InjectPowerRequirementFailure(5);
    TMemorySource source(how == EStarting ? std::string() : bytes);
    TStateLog states;
    {
      CSoundCore core;
      ASSERT_EQ(core.Play(&source), 0);
      if (how == EStarting) {
        core.Stop();
      } else if (how == ENoDevice) {
        ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerError) == 1; }));
        EXPECT_TRUE(Traced("[QUOREL] Sound core error"));
        EXPECT_TRUE(Traced("[QUOREL] Sound core: No free sound devices"));
      } else {
        ASSERT_TRUE(RunUntil([&] { return core.GetState() == ESoundPlaying; }, 5000, 1));
        if (how == EPaused) core.Pause();
        if (how == ENatural || how == EPowerFails) {
          ASSERT_TRUE(RunUntil([&] { return core.GetState() == ESoundFinished; }));
        }
      }
    }
    m_app.RunAll();
    ExpectBalanced(m_app);
    EXPECT_LE(states.Count(EPlayerError), 1u);
    plat::InjectPowerRequirementFailure(0);
    m_platform.SetWaveDeviceCounts(std::nullopt, std::nullopt);
  }
}

TEST_F(SoundCoreTest, StopEndsInEveryStateWithinABound) {
  std::string bytes = Fixture(Mp3Format::Mono44k, 1.0);
  // Each case waits for its state, then stops; the stop must not need time.
  std::vector<std::pair<const char*, std::function<bool(CSoundCore&, TMemorySource&)>>> cases = {
      {"starting", [](CSoundCore&, TMemorySource&) { return true; }},
      {"playing", [](CSoundCore& c, TMemorySource&) { return c.GetState() == ESoundPlaying; }},
      {"ring full", [](CSoundCore& c, TMemorySource&) {
         c.Pause();
         return c.GetState() == ESoundPaused;
       }},
      {"finished", [](CSoundCore& c, TMemorySource&) { return c.GetState() == ESoundFinished; }},
  };
  for (auto& [name, reach] : cases) {
    SCOPED_TRACE(name);
    plat::headless_audio::Reset();
    TMemorySource source(bytes);
    CSoundCore core;
    ASSERT_EQ(core.Play(&source), 0);
    ASSERT_TRUE(RunUntil([&] { return reach(core, source); }, 10000, 1));
    plat::ClockTime before = plat::ClockNow();
    core.Stop();
    EXPECT_LE(plat::ClockNow() - before, 100 * plat::kClockNsPerMs);
    EXPECT_EQ(core.GetState(), ESoundFinished);
  }
  m_app.RunAll();
  ExpectBalanced(m_app);
}

TEST_F(SoundCoreTest, PauseAndResumeWhileStartingDoNothingAndPlayNeedsTheBuffer) {
  ASSERT_TRUE(plat::CreateDirectory(u"\\Store"));
  CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
  {
    CMP3HTTPFile file;  // nothing arrives: the core stays starting
    ASSERT_EQ(file.Open(), 0);
    CSoundCore core;
    ASSERT_EQ(core.Play(&file), 0);
    m_platform.RunFor(1000);
    EXPECT_EQ(core.GetState(), ESoundStarting);
    EXPECT_EQ(m_app.busy.load(), 1);
    core.Pause();
    core.Resume();
    EXPECT_EQ(core.GetState(), ESoundStarting);
  }
  CHTTPFileSink::SetFolderSource({});
  // Without the shared buffer (or a source) nothing starts and nothing is
  // posted; stopping what never started is harmless.
  InstallAudioServices({});
  TMemorySource source("x");
  CSoundCore idle;
  EXPECT_EQ(idle.Play(&source), -1);
  EXPECT_EQ(idle.Play(nullptr), -1);
  idle.Stop();
  idle.Stop();
  m_app.RunAll();
  // The starting core's 0 was withdrawn when it stopped; the idle one posted nothing.
  EXPECT_TRUE(m_app.states.codes.empty());
  ExpectBalanced(m_app);
}

TEST_F(SoundCoreTest, TheFilePlayerPlaysACachedPreview) {
  ASSERT_TRUE(plat::CreateDirectory(u"\\Store"));
  std::string bytes = Fixture(Mp3Format::Mpeg2Mono22k, 3.0);
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\cached.mp3", bytes));
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\broken.mp3", Junk(5000)));
  {
    CFileSoundPlayer player;
    EXPECT_EQ(player.Play(u"\\Store\\missing.mp3"), 0);
    m_app.RunAll();
    EXPECT_TRUE(m_app.states.codes.empty());  // nothing posted
    ASSERT_EQ(player.Play(u"\\Store\\cached.mp3"), 1);
    EXPECT_EQ(player.GetLengthSeconds(), static_cast<int32_t>(bytes.size() / 8192));  // 64 kbit/s
    player.Pause();  // still starting, or playing: either way no harm
    ASSERT_TRUE(RunUntil([&] { return player.GetState() == ESoundPlaying || player.GetState() == ESoundPaused; }));
    player.Resume();
    ASSERT_TRUE(RunUntil([&] { return player.GetState() == ESoundFinished; }));
    EXPECT_FALSE(player.HasFailed());
  }
  m_app.RunAll();
  EXPECT_EQ(Samples(Speaker().back().pcm), ReferenceDecode(bytes).pcm);
  EXPECT_EQ(m_app.states.Count(EPlayerPaused), m_app.states.Count(EPlayerResumed));
  {
    // A cached file that decodes to nothing fails, so its owner can drop it.
    CFileSoundPlayer player;
    ASSERT_EQ(player.Play(u"\\Store\\broken.mp3"), 1);
    ASSERT_TRUE(RunUntil([&] { return player.HasFailed(); }));
  }
  ExpectBalanced(m_app);
}

// States a play posted that the UI thread has not run by the time it is
// stopped belong to a preview that is over: after the stop only the stop's
// own end arrives (when the device was open), never a late "playing",
// "paused" or error that the next preview's screen would take for its own;
// and the next play's states all arrive.
TEST_F(SoundCoreTest, AStoppedPlaysLateStatesNeverReachTheNextListener) {
  const std::string bytes = Fixture(Mp3Format::Mono44k, 1.0);
  struct TCase {
    const char* name;
    std::string bytes;
    std::function<bool(CSoundCore&)> reach;  // run before the stop, nothing dispatched
    std::vector<int32_t> afterStop;
  } cases[] = {
      {"playing", bytes, [](CSoundCore& c) { return c.GetState() == ESoundPlaying; }, {EPlayerFinished}},
      {"paused",
       bytes,
       [](CSoundCore& c) {
         c.Pause();
         return c.GetState() == ESoundPaused;
       },
       {EPlayerFinished}},
      {"finished", bytes, [](CSoundCore& c) { return c.GetState() == ESoundFinished; }, {EPlayerFinished}},
      {"failed", Junk(30000), [](CSoundCore& c) { return c.HasFailed(); }, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    plat::headless_audio::Reset();
    m_app.RunAll();
    TStateLog states;
    TMemorySource source(c.bytes);
    CSoundCore core;
    ASSERT_EQ(core.Play(&source), 0);
    bool bReached = false;
    for (int ms = 0; ms < 10000 && !(bReached = c.reach(core)); ++ms) m_platform.RunFor(1);
    ASSERT_TRUE(bReached);
    EXPECT_TRUE(states.codes.empty());  // all still queued
    core.Stop();
    core.PostState(EPlayerNetworkUp);  // a download's news after the stop
    m_app.RunAll();
    EXPECT_EQ(states.codes, c.afterStop);
    ExpectBalanced(m_app);

    // The next play on another core reports as usual.
    TStateLog next;
    TMemorySource again(bytes);
    CSoundCore second;
    ASSERT_EQ(second.Play(&again), 0);
    ASSERT_TRUE(RunUntil([&] { return next.Count(EPlayerFinished) == 1; }));
    EXPECT_EQ(next.codes, (std::vector<int32_t>{EPlayerRequested, EPlayerPlaying, EPlayerFinished}));
  }
}

TEST(SoundCoreThreads, PlayAndStopTwoHundredTimes) {
  plat::TestPlatform platform;
  TAudioApp app;
  std::string bytes = Fixture(Mp3Format::Mpeg2Mono22k, 0.3);
  for (int i = 0; i < 200; ++i) {
    TMemorySource source(bytes);
    CSoundCore core;
    ASSERT_EQ(core.Play(&source), 0);
    if (i % 3 == 1) platform.RunFor(static_cast<uint32_t>(i % 40));
    core.Stop();
    if (i % 50 == 0) app.RunAll();
  }
  app.RunAll();
  ExpectBalanced(app);
}

}  // namespace
}  // namespace audiotest
