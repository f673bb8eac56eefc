// The preview control with scripted players and a store on the headless
// device: which player plays, what is cached under which name, which states
// are posted.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/PreviewControl.h"
#include "framework/Events.h"
#include "platform/fs/FileSystem.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "tests/framework/appui_test_support.h"

using namespace apptest;

namespace {

// A player whose state and download the test sets. A stream player writes
// the download file when it starts; a file player refuses a file too short
// to hold a frame.
struct TScript {
  std::vector<std::string> log;
  int32_t nPlayResult = 1;
  size_t nDownloadBytes = 100;
};

class TFakePlayer : public IPreviewPlayer {
 public:
  TFakePlayer(TScript* pScript, bool bStream, PreviewStore* pStore)
      : m_pScript(pScript), m_bStream(bStream), m_pStore(pStore) {}
  ~TFakePlayer() override { m_pScript->log.push_back(std::string(m_bStream ? "stream" : "file") + " deleted"); }
  int32_t Play(plat::WStringView source) override {
    m_pScript->log.push_back(std::string(m_bStream ? "stream " : "file ") + plat::ToUtf8(source));
    if (!m_bStream) {
      std::error_code ec;
      if (std::filesystem::file_size(*plat::HostPath(plat::WString(source)), ec) < 4 || ec) return 0;
    } else {
      std::ofstream(*plat::HostPath(m_pStore->BufferPath()), std::ios::binary)
          << std::string(m_pScript->nDownloadBytes, 'x');
    }
    nState = 1;
    return m_pScript->nPlayResult;
  }
  void Pause() override { m_pScript->log.push_back("pause"), nState = 3; }
  void Resume() override { m_pScript->log.push_back("resume"), nState = 2; }
  int32_t GetState() override { return nState; }
  int32_t GetPlayedSeconds() override { return 3; }
  int32_t GetLengthSeconds() override { return nLength; }
  bool IsComplete() override { return bComplete; }
  bool HasFailed() override { return bFailed; }

  int32_t nState = 0;
  int32_t nLength = -1;
  bool bComplete = false;
  bool bFailed = false;

 private:
  TScript* m_pScript;
  bool m_bStream;
  PreviewStore* m_pStore;
};

class StateLog : public CEventListenerFor<PlayerStateEvent> {
 public:
  std::vector<int32_t> states;

 protected:
  void HandleEvent(const int32_t& n) override { states.push_back(n); }
};

class PreviewTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    MakeApp();
    m_store = std::make_unique<PreviewStore>();
    m_users.reset(CHTTPUserModel::Create());
    m_users->SetTrackId(u"trk1");
    m_users->SetRecordingId(u"rec1");
    m_users->SetMatchedUrl(u"http://h/matched");
    m_users->SetFullUrl(u"http://h/full");
    m_users->SetAudioPreviewUrl(u"http://h/preview");
    m_users->SetTrackKind(TrackKindPreview);
    CPreviewControl::TServices services;
    services.userModel = [this] { return m_users.get(); };
    services.store = [this] { return m_store.get(); };
    services.makeFilePlayer = [this] { return Make(false); };
    services.makeStreamPlayer = [this] { return Make(true); };
    services.setMenuItem = [this](bool b) { m_script.log.push_back(b ? "menu 1" : "menu 0"); };
    m_control = std::make_unique<CPreviewControl>(services);
  }
  void TearDown() override {
    m_control.reset();
    m_users.reset();
    m_store.reset();
    AppFixture::TearDown();
  }
  std::unique_ptr<IPreviewPlayer> Make(bool bStream) {
    auto p = std::make_unique<TFakePlayer>(&m_script, bStream, m_store.get());
    m_pLast = p.get();
    return p;
  }
  // Runs each act in the loop, all in one run (the application runs its
  // loop once), and collects the states each posted.
  std::vector<std::vector<int32_t>> Posted(const std::vector<std::function<void()>>& acts) {
    StateLog log;
    std::vector<std::vector<int32_t>> posted;
    std::vector<TStep> steps{[&] { log.Subscribe(); }};
    for (const auto& act : acts) {
      steps.push_back([&] {
        log.states.clear();
        act();
      });
      steps.push_back([&] { posted.push_back(log.states); });
    }
    Run(steps);
    log.Unsubscribe();
    EXPECT_EQ(posted.size(), acts.size());
    return posted;
  }
  // The control with a scripted player in state n (none for 0).
  void StartIn(int32_t n) {
    m_control->Stop();
    if (n == 0) return;
    m_control->Play();
    ASSERT_NE(m_pLast, nullptr);
    m_pLast->nState = n;
  }
  plat::WString CacheName(int32_t kind) {
    TrackRecord track = m_users->CurrentTrack();
    track.m_nKind = kind;
    plat::WString name;
    EXPECT_TRUE(m_store->CacheFileName(track, name));
    return name;
  }
  bool Exists(const plat::WString& path) { return std::filesystem::exists(*plat::HostPath(path)); }
  void ClearLog() { m_script.log.clear(); }

  TScript m_script;
  TFakePlayer* m_pLast = nullptr;
  std::unique_ptr<PreviewStore> m_store;
  std::unique_ptr<CHTTPUserModel> m_users;
  std::unique_ptr<CPreviewControl> m_control;
};

TEST_F(PreviewTest, CommandByState) {
  struct {
    int32_t nState;
    const char* pAction;  // the last line logged, or "" for none
    bool bPlayerAfter;
  } cases[] = {{0, "stream http://h/preview", true}, {1, "", true},  {2, "stream deleted", false},
               {3, "resume", true},                  {4, "stream http://h/preview", true}, {7, "", true}};
  for (auto& c : cases) {
    StartIn(c.nState);
    ClearLog();
    m_control->Command();
    EXPECT_EQ(m_script.log.empty() ? "" : m_script.log.back(), std::string(c.pAction)) << c.nState;
    EXPECT_EQ(m_control->HasStreamPlayer(), c.bPlayerAfter) << c.nState;
  }
}

TEST_F(PreviewTest, PlayKindMatrix) {
  const char* kUrl[] = {"http://h/matched", "http://h/full", "http://h/preview"};
  for (int32_t nState : {0, 1, 2, 3, 4}) {
    for (int32_t nPlaying : {0, 1, 2}) {
      for (int32_t nKind : {0, 1, 2}) {
        m_users->SetTrackKind(nPlaying);
        StartIn(nState);
        ClearLog();
        m_control->PlayKind(nKind);
        std::string what = std::to_string(nState) + "/" + std::to_string(nPlaying) + "/" + std::to_string(nKind);
        std::string last = m_script.log.empty() ? "" : m_script.log.back();
        bool bSame = nKind == nPlaying;
        if (nState == 1) {
          EXPECT_TRUE(m_script.log.empty()) << what;
        } else if (nState == 2 && bSame) {
          EXPECT_EQ(last, "stream deleted") << what;
          EXPECT_FALSE(m_control->HasStreamPlayer()) << what;
        } else if (nState == 3 && bSame) {
          EXPECT_EQ(last, "resume") << what;
        } else {
          EXPECT_EQ(last, std::string("stream ") + kUrl[nKind]) << what;
          EXPECT_EQ(m_users->TrackKind(), nKind) << what;
        }
      }
    }
  }
}

TEST_F(PreviewTest, CompleteDownloadsAreCachedOthersStreamAgain) {
  struct {
    bool bComplete, bFailed, bCached;
  } cases[] = {{true, false, true}, {false, false, false}, {true, true, false}};
  for (auto& c : cases) {
    std::filesystem::remove(*plat::HostPath(CacheName(TrackKindPreview)));
    m_control->Play();
    m_pLast->bComplete = c.bComplete;
    m_pLast->bFailed = c.bFailed;
    m_control->Stop();
    EXPECT_EQ(Exists(CacheName(TrackKindPreview)), c.bCached);
    ClearLog();
    m_control->Play();
    EXPECT_EQ(m_control->HasFilePlayer(), c.bCached);
    EXPECT_EQ(m_control->HasStreamPlayer(), !c.bCached);
    m_control->Stop();
  }
}

// A stopped stream leaves no download file behind, whatever became of it:
// cut short, failed, or of a kind the store never keeps.
TEST_F(PreviewTest, AStoppedStreamLeavesNoDownloadFile) {
  struct {
    int32_t nKind;
    bool bComplete, bFailed;
  } cases[] = {{TrackKindPreview, false, false}, {TrackKindPreview, true, true}, {TrackKindPreview, true, false},
               {TrackKindMatched, true, false}, {TrackKindMatched, false, false}};
  for (auto& c : cases) {
    std::filesystem::remove(*plat::HostPath(CacheName(TrackKindPreview)));
    m_users->SetTrackKind(c.nKind);
    m_control->Play();
    ASSERT_TRUE(m_control->HasStreamPlayer());
    ASSERT_TRUE(Exists(m_store->BufferPath()));
    m_pLast->bComplete = c.bComplete;
    m_pLast->bFailed = c.bFailed;
    m_control->Stop();
    EXPECT_FALSE(Exists(m_store->BufferPath())) << c.nKind << " " << c.bComplete << c.bFailed;
  }
}

// A finished download of one kind, then the other kind: the download is
// cached under the kind it was made for.
TEST_F(PreviewTest, FinishedDownloadKeepsItsOwnKey) {
  m_users->SetTrackKind(TrackKindPreview);
  m_control->Play();
  m_pLast->bComplete = true;
  m_pLast->nState = 4;
  m_control->PlayKind(TrackKindFull);
  EXPECT_TRUE(Exists(CacheName(TrackKindPreview)));
  EXPECT_FALSE(Exists(CacheName(TrackKindFull)));
  EXPECT_EQ(m_script.log.back(), "stream http://h/full");
}

TEST_F(PreviewTest, BrokenCacheFileIsDroppedAndStreamed) {
  plat::WString cached = CacheName(TrackKindPreview);
  std::ofstream(*plat::HostPath(cached)) << "abc";
  auto posted = Posted({[&] {
    m_control->Play();
    EXPECT_FALSE(Exists(cached));
    EXPECT_TRUE(m_control->HasStreamPlayer());
    // A file player that fails later drops its file too.
    m_pLast->bComplete = true;
    m_control->Stop();
    ASSERT_TRUE(Exists(cached));
    m_control->Play();
    ASSERT_TRUE(m_control->HasFilePlayer());
    m_pLast->nState = 2;
    m_pLast->bFailed = true;
    m_control->Stop();
    EXPECT_FALSE(Exists(cached));
  }});
  EXPECT_EQ(posted, (std::vector<std::vector<int32_t>>{{1, 4, 1}}));
}

TEST_F(PreviewTest, PostedStates) {
  // Stopping a player that never opened the device tells the screens;
  // shut-down ends one quietly, for no screen is left to hear of it. An
  // empty URL, or a player that does not start, posts nothing.
  const std::vector<std::vector<int32_t>> posted = Posted({
      [&] {
        m_control->Play();
        m_control->Stop();
        m_control->Play();
        m_control->Shutdown();
        EXPECT_FALSE(m_control->HasStreamPlayer());
      },
      [&] {
        m_users->SetAudioPreviewUrl(u"");
        m_control->Play();
      },
      [&] {
        m_users->SetAudioPreviewUrl(u"http://h/preview");
        m_script.nPlayResult = 0;
        m_control->Play();
        EXPECT_FALSE(m_control->HasStreamPlayer());
      },
  });
  EXPECT_EQ(posted, (std::vector<std::vector<int32_t>>{{1, 4, 1}, {}, {}}));
}

TEST_F(PreviewTest, LengthPositionAndToggle) {
  EXPECT_EQ(m_control->GetLength(), 0);
  EXPECT_EQ(m_control->GetState(), 0);
  m_control->Toggle(true);
  EXPECT_EQ(m_control->GetLength(), -1);  // the rate is not known yet
  m_pLast->nLength = 30;
  EXPECT_EQ(m_control->GetLength(), 30);
  EXPECT_EQ(m_control->GetPlayedSeconds(), 3);
  m_pLast->nState = 2;
  m_control->Toggle(false);
  m_control->Toggle(true);
  EXPECT_EQ(m_script.log, (std::vector<std::string>{"stream http://h/preview", "menu 0", "pause", "menu 1",
                                                    "resume", "menu 0"}));
}

}  // namespace
