// The preview control with the real file player on the headless speaker:
// a cached preview plays, holds the audio device's power, and pausing
// stops the sound.
#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "app/PreviewControl.h"
#include "protocol/HTTPUserModel.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/PreviewStore.h"

namespace {

using namespace audiotest;

class PreviewPlayersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_store = std::make_unique<PreviewStore>();
    m_users.reset(CHTTPUserModel::Create());
    m_users->SetTrackId(u"trk7");
    m_users->SetAudioPreviewUrl(u"http://h/p.mp3");
    m_users->SetTrackKind(TrackKindPreview);
    CPreviewControl::TServices services;
    services.userModel = [this] { return m_users.get(); };
    services.store = [this] { return m_store.get(); };
    services.makeFilePlayer = &CPreviewControl::NewFilePlayer;
    services.makeStreamPlayer = &CPreviewControl::NewStreamPlayer;
    m_control = std::make_unique<CPreviewControl>(services);
  }
  void TearDown() override {
    m_control.reset();
    m_app.RunAll();
  }
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs = 30000) {
    for (uint32_t spent = 0;; spent += 5) {
      m_app.RunAll();
      if (done()) return true;
      if (spent >= maxMs) return false;
      m_platform.RunFor(5);
    }
  }
  size_t SpeakerBytes() {
    auto speaker = m_platform.Speaker();
    return speaker.empty() ? 0 : speaker.back().pcm.size();
  }

  plat::TestPlatform m_platform;
  TAudioApp m_app;
  std::unique_ptr<PreviewStore> m_store;
  std::unique_ptr<CHTTPUserModel> m_users;
  std::unique_ptr<CPreviewControl> m_control;
};

TEST_F(PreviewPlayersTest, ACachedPreviewPlaysAndPauses) {
  plat::WString name;
  ASSERT_TRUE(m_store->CacheFileName(m_users->CurrentTrack(), name));
  ASSERT_TRUE(WriteDeviceFile(name, Fixture(Mp3Format::Mpeg2Mono22k, 3.0)));
  m_control->Play();
  ASSERT_TRUE(m_control->HasFilePlayer());
  ASSERT_TRUE(RunUntil([&] { return m_control->GetState() == ESoundPlaying && SpeakerBytes() > 0; }));
  EXPECT_GE(m_app.states.Count(EPlayerRequested), 1u);
  EXPECT_GE(m_app.states.Count(EPlayerPlaying), 1u);
  EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 1);
  EXPECT_GT(m_control->GetLength(), 0);

  m_control->Pause();
  ASSERT_TRUE(RunUntil([&] { return m_control->GetState() == ESoundPaused; }));
  m_platform.RunFor(50);
  size_t nPaused = SpeakerBytes();
  m_platform.RunFor(500);
  m_app.RunAll();
  EXPECT_EQ(SpeakerBytes(), nPaused);

  m_control->Resume();
  ASSERT_TRUE(RunUntil([&] { return SpeakerBytes() > nPaused; }));
  m_control->Stop();
  m_app.RunAll();
  EXPECT_TRUE(m_store->IsCached(m_users->CurrentTrack(), name));  // a good file stays
  ExpectBalanced(m_app);
}

}  // namespace
