// The Speex stage: frame arithmetic, feeding, stopping, and frames equal to
// a direct library encode.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AudioTestUtil.h"
#include "audio/AudioServices.h"
#include "audio/SpeexEncoder.h"
#include "platform/kernel/Clock.h"

class CSpeexEncoderPeer {
 public:
  static plat::CriticalSection& Section(CSpeexEncoder& e) { return e.m_section; }
  static int32_t Input(CSpeexEncoder& e) {
    TScopedLock lock(e.m_lock);
    return e.m_nInput;
  }
};

namespace {

constexpr int32_t kRecord = 40;  // 38-byte frames at quality 8, plus the length

class SpeexEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<int16_t> sound = audiotest::TestSound(kSharedAudioBufferSize / 2);
    std::memcpy(m_buffer.get(), sound.data(), kSharedAudioBufferSize);
    m_sound = sound;
    ASSERT_TRUE(m_encoder.Init(m_buffer.get()));
  }
  void TearDown() override { m_encoder.Stop(); }

  // Waits for output events until the output reaches `bytes`.
  bool WaitOutput(int32_t bytes) {
    for (int i = 0; i < 100; ++i) {
      if (m_encoder.GetOutputLength() >= bytes) return true;
      plat::WaitForSingleObject(m_encoder.OutputEvent(), 1000);
    }
    return false;
  }
  void FeedAndWait(int32_t n, int32_t expectedOutput) {
    m_encoder.Feed(n);
    ASSERT_TRUE(WaitOutput(expectedOutput));
    EXPECT_LE(m_encoder.GetOutputLength(), CSpeexEncoderPeer::Input(m_encoder));
  }

  plat::VirtualClock m_clock;
  std::unique_ptr<uint8_t[]> m_buffer{new uint8_t[kSharedAudioBufferSize]};
  std::vector<int16_t> m_sound;
  CSpeexEncoder m_encoder;
};

TEST_F(SpeexEncoderTest, FramesAndLeftovers) {
  struct Case {
    const char* name;
    std::vector<int32_t> feeds;  // one output awaited after each
    int32_t frames;
    int32_t input;
  };
  const Case cases[] = {
      {"one feed", {2000}, 6, 1920},
      {"three feeds", {2000, 2000, 2000}, 18, 5760},
      {"leftover completes a frame", {2000, 240}, 7, 2240},
      {"less than a frame", {100, 100}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_encoder.Stop();
    ASSERT_TRUE(m_encoder.Init(m_buffer.get()));
    int32_t fed = 0;
    for (int32_t n : c.feeds) {
      fed += n;
      FeedAndWait(n, fed / 320 * kRecord);
    }
    EXPECT_EQ(m_encoder.GetOutputLength(), c.frames * kRecord);
    EXPECT_EQ(CSpeexEncoderPeer::Input(m_encoder), c.input);
  }
}

TEST_F(SpeexEncoderTest, FeedsThatMeetAreAddedUp) {
  plat::CriticalSection& section = CSpeexEncoderPeer::Section(m_encoder);
  section.Enter();  // the second feed arrives before the first is encoded
  m_encoder.Feed(2000);
  ASSERT_TRUE(m_clock.Settle());
  m_encoder.Feed(2000);
  section.Leave();
  ASSERT_TRUE(WaitOutput(12 * kRecord));
  FeedAndWait(2000, 18 * kRecord);
  EXPECT_EQ(m_encoder.GetOutputLength(), 18 * kRecord);
  EXPECT_EQ(CSpeexEncoderPeer::Input(m_encoder), 5760);
}

TEST_F(SpeexEncoderTest, FramesEqualADirectEncode) {
  // Fed as the recorder feeds: 2000 bytes at a time, after each output.
  const int32_t total = 30 * 16000;
  for (int32_t fed = 0; fed < total; fed += 2000) FeedAndWait(2000, (fed + 2000) / 320 * kRecord);
  // The output overwrote the start of the sound: compare with the copy.
  std::vector<uint8_t> expected = audiotest::ReferenceEncode(m_sound.data(), total / 2);
  ASSERT_EQ(m_encoder.GetOutputLength(), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(std::vector<uint8_t>(m_buffer.get(), m_buffer.get() + expected.size()), expected);
  EXPECT_EQ(expected[0], 0x00);
  EXPECT_EQ(expected[1], 0x26);
}

TEST_F(SpeexEncoderTest, StopWithAFeedPendingEncodesNothing) {
  plat::CriticalSection& section = CSpeexEncoderPeer::Section(m_encoder);
  section.Enter();  // the encoder wakes for the feed and waits here
  m_encoder.Feed(2000);
  ASSERT_TRUE(m_clock.Settle());
  plat::Handle stopper = plat::CreateThread([this] {
    m_encoder.Stop();
    return 0u;
  });
  ASSERT_TRUE(m_clock.Settle());
  section.Leave();
  ASSERT_EQ(plat::WaitForSingleObject(stopper, plat::INFINITE), plat::WAIT_OBJECT_0);
  plat::CloseHandle(stopper);
  EXPECT_EQ(m_encoder.GetOutputLength(), 0);
  EXPECT_EQ(CSpeexEncoderPeer::Input(m_encoder), 0);
}

TEST(SpeexEncoderLife, StartsAndStopsRepeatedly) {
  plat::VirtualClock clock;
  std::vector<uint8_t> buffer(kSharedAudioBufferSize);
  for (int i = 0; i < 500; ++i) {
    CSpeexEncoder encoder;
    ASSERT_TRUE(encoder.Init(buffer.data()));
    if (i % 2) encoder.Feed(640);
    encoder.Stop();
    encoder.Stop();
  }
  CSpeexEncoder unused;
  unused.Stop();
  CSpeexEncoder noBuffer;
  EXPECT_FALSE(noBuffer.Init(nullptr));
}

}  // namespace
