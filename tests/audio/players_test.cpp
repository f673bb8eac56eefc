// The two players over a running HTTP core and the scripted server, on the
// simulated network in virtual time and on real loopback sockets: what is
// downloaded, what is played, which states arrive, and that deletion never
// waits on a download.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "AudioTestSupport.h"
#include "audio/FileSoundPlayer.h"
#include "audio/HTTPSoundPlayer.h"
#include "net/CoreHarness.h"
#include "net/Exchanges.h"
#include "tests/support/Waits.h"
#include "net/HTTPWrapper.h"
#include "tools/protocol-server/TestSupport.h"

namespace audiotest {
namespace {

using nettest::Counted;
using nettest::kOk;
using nettest::Reply;
using nettest::TScript;

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new nettest::TQuietTrace);

const std::string& Preview() {
  static const std::string bytes = Fixture(Mp3Format::Mono44k, 1.0);
  return bytes;
}

class PlayerTest : public nettest::CoreTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_store.Make("quorel-players"));
    CHTTPSession::SetIdentitySource([] { return plat::WString(u"AppNumber=10 Tester/1.0"); });
    plat::headless_audio::Reset();
    nettest::TNetOptions options;
    options.bSimulated = GetParam();
    Build(options);
    // On real time the speaker takes what it is given at once.
    plat::headless_audio::SetUnpaced(!GetParam());
    m_pApp = std::make_unique<TAudioApp>();
    TAudioServices services;
    std::vector<uint8_t>* buffer = &m_buffer;
    m_buffer.resize(kSharedAudioBufferSize);
    services.audioBuffer = [buffer] { return buffer->data(); };
    services.httpCore = [this] { return m_core.get(); };
    InstallAudioServices(services);
  }
  void TearDown() override {
    InstallAudioServices({});
    m_pApp.reset();
    CoreTest::TearDown();
    plat::headless_audio::SetUnpaced(false);
    plat::headless_audio::Reset();
    CHTTPSession::SetIdentitySource({});
    m_store.Remove();
  }

  bool Simulated() const { return GetParam(); }
  // The scripts for the next connections, on whichever network runs.
  void Serve(std::vector<TScript> scripts) {
    if (!Simulated()) {
      for (TScript& s : scripts) m_server.Add(std::move(s));
      return;
    }
    auto queue = std::make_shared<std::pair<std::mutex, std::deque<TScript>>>();
    for (TScript& s : scripts) queue->second.push_back(std::move(s));
    m_net->Listen(kServerIp, 8080, [queue](plat::SimPeer& peer) {
      TScript script;
      {
        std::lock_guard<std::mutex> guard(queue->first);
        if (!queue->second.empty()) {
          script = std::move(queue->second.front());
          queue->second.pop_front();
        }
      }
      nettest::SimScript(script)(peer);
    });
  }
  std::u16string Url(const char* path = "/p.mp3") {
    return Simulated() ? u"http://server.test:8080" + plat::Widen(path) : nettest::CoreTest::Url(m_server.Port(), path);
  }
  // Lets time pass (virtual or real) in steps, dispatching posted states.
  // A core posts a state as it takes it, so `done` can see the state of a
  // play whose message is still queued (on the real clock the core may take
  // it between a dispatch and the look): the queue is run once more before
  // returning, and a caller that then reads the states has them all.
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs = support::kHangMs, uint32_t stepMs = 10) {
    for (uint32_t spent = 0;; spent += stepMs) {
      m_pApp->RunAll();
      if (done()) {
        m_pApp->RunAll();
        return true;
      }
      if (spent >= maxMs) return false;
      plat::Sleep(stepMs);
    }
  }
  TStateLog& States() { return m_pApp->states; }
  // Whether the whole download was in when the player started playing.
  bool CompleteWhenPlaying(CHTTPSoundPlayer& player, uint32_t maxMs) {
    bool complete = true;
    EXPECT_TRUE(RunUntil(
        [&] {
          if (player.GetState() != ESoundPlaying) return false;
          complete = player.IsComplete();
          return true;
        },
        maxMs, 5));
    return complete;
  }
  std::string StoredBuffer() { return m_store.HostFile("buffer.dat"); }
  bool BufferExists() { return std::filesystem::exists(m_store.HostPath("buffer.dat")); }

  nettest::CStoreRoot m_store;
  nettest::CLoopbackServer m_server;
  std::unique_ptr<TAudioApp> m_pApp;
  std::vector<uint8_t> m_buffer;
};

TEST_P(PlayerTest, AFullDownloadIsStoredAndPlayed) {
  Serve({Reply({Counted(Preview())}), Reply({Counted(Preview())})});
  for (int round = 0; round < 2; ++round) {  // two players back to back
    SCOPED_TRACE(round);
    TStateLog states;
    {
      CHTTPSoundPlayer player;
      EXPECT_EQ(player.GetLengthSeconds(), -1);
      ASSERT_EQ(player.Play(Url()), 1);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerFinished) == 1; }));
      EXPECT_TRUE(player.IsComplete());
      EXPECT_FALSE(player.HasFailed());
      EXPECT_EQ(player.GetLengthSeconds(), static_cast<int32_t>(Preview().size() / 16384));
    }
    m_pApp->RunAll();
    EXPECT_EQ(StoredBuffer(), Preview());
    auto speaker = plat::headless_audio::Speaker();
    ASSERT_EQ(speaker.size(), static_cast<size_t>(round + 1));
    EXPECT_EQ(Samples(speaker.back().pcm), ReferenceDecode(Preview()).pcm);
    EXPECT_EQ(states.Count(EPlayerError), 0u);
    EXPECT_EQ(states.codes.front(), EPlayerRequested);
    ExpectBalanced(*m_pApp);
  }
  if (!Simulated()) {
    std::vector<std::string> requests = m_server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests[0].find("User-Agent: AppNumber=10 Tester/1.0\r\n"), std::string::npos);
  }
}

TEST_P(PlayerTest, EveryDownloadFailureIsOneError) {
  std::string body = Preview().substr(0, 5000);
  struct TCase {
    const char* name;
    TScript script;
  } cases[] = {
      {"404", Reply({"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found"})},
      {"chunked", Reply({kOk + "Transfer-Encoding: chunked\r\n\r\n" + nettest::Chunked(body)})},
      {"no length", Reply({kOk + "\r\n" + body})},
      {"aborted mid-body", Reply({kOk + "Content-Length: 20000\r\n\r\n" + body})},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.name);
    Serve({c.script});
    TStateLog states;
    {
      CHTTPSoundPlayer player;
      ASSERT_EQ(player.Play(Url()), 1);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerError) >= 1; }));
      RunUntil([] { return false; }, 300);
      EXPECT_TRUE(player.HasFailed());
      EXPECT_FALSE(player.IsComplete());
    }
    m_pApp->RunAll();
    EXPECT_EQ(states.Count(EPlayerError), 1u);
    ExpectBalanced(*m_pApp);
  }
}

TEST_P(PlayerTest, ADownloadThatCannotBeginIsOneError) {
  enum ECase { EUnknownHost, EBusySlots, EUnwritableStore };
  for (ECase c : {EUnknownHost, EBusySlots, EUnwritableStore}) {
    SCOPED_TRACE(static_cast<int>(c));
    std::vector<int32_t> held;
    if (c == EBusySlots) {
      for (int i = 0; i < CHTTPCore::kSlotCount; ++i) held.push_back(m_core->Open(EHttpGet, Url("/hold")));
      ASSERT_GE(held.back(), 0);
    }
    if (c == EUnwritableStore) CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Missing"); });
    TStateLog states;
    {
      CHTTPSoundPlayer player;
      ASSERT_EQ(player.Play(c == EUnknownHost ? std::u16string(u"http://fail.test/p.mp3") : Url()), 1);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerError) >= 1; }));
      EXPECT_EQ(player.GetState(), ESoundStarting);  // the core waits for data that never come
    }
    m_pApp->RunAll();
    EXPECT_EQ(states.codes.front(), EPlayerRequested);
    EXPECT_EQ(states.Count(EPlayerError), 1u);
    ExpectBalanced(*m_pApp);
    for (int32_t id : held) m_core->Close(id);
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
  }
}

TEST_P(PlayerTest, DeletionNeverWaitsOnTheDownloadAndKeepsTheFile) {
  enum EWhen { EDownloading, EWaitingForData };
  for (EWhen when : {EDownloading, EWaitingForData}) {
    SCOPED_TRACE(static_cast<int>(when));
    std::string head = kOk + "Content-Length: " + std::to_string(Preview().size()) + "\r\n\r\n";
    // Less than the first frame: however fast those bytes seem to have come,
    // the player cannot start and waits for more.
    Serve({when == EDownloading ? TScript{true, {nettest::Stall()}}
                                : TScript{true, {nettest::Send(head + Preview().substr(0, 200)), nettest::Stall()}}});
    {
      CHTTPSoundPlayer player;
      ASSERT_EQ(player.Play(Url()), 1);
      RunUntil([] { return false; }, 500);
      EXPECT_EQ(player.GetState(), ESoundStarting);
    }
    EXPECT_TRUE(BufferExists());
    m_pApp->RunAll();
    ExpectBalanced(*m_pApp);
  }
}

// A core or a player plays once: a second Play, on a player that has played
// or on a core after its stop, returns the failure value, posts nothing and
// leaves the first play's source as it was. The core's stop ends even when
// its device fails to close.
TEST_P(PlayerTest, ASecondPlayChangesNothingAndAFailedCloseStillStops) {
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\a.mp3", Preview()));
  ASSERT_TRUE(WriteDeviceFile(u"\\Store\\b.mp3", Preview() + Preview()));
  Serve({Reply({Counted(Preview())})});
  CFileSoundPlayer file;
  CHTTPSoundPlayer http;
  TMemorySource first(Preview()), second(Preview());
  auto core = std::make_unique<CSoundCore>();
  struct TCase {
    const char* name;
    std::function<int32_t()> play, again, state;
    std::function<std::string()> kept;  // what the second play must leave
    int32_t failure;
    bool bStopFirst;
  } cases[] = {
      {"file player", [&] { return file.Play(u"\\Store\\a.mp3"); }, [&] { return file.Play(u"\\Store\\b.mp3"); },
       [&] { return file.GetState(); }, [&] { return std::to_string(file.GetLengthSeconds()); }, 0, false},
      {"HTTP player", [&] { return http.Play(Url()); }, [&] { return http.Play(Url("/b.mp3")); },
       [&] { return http.GetState(); }, [&] { return std::to_string(StoredBuffer().size()); }, 0, false},
      {"core", [&] { return core->Play(&first); }, [&] { return core->Play(&second); },
       [&] { return core->GetState(); },
       [&] { return std::to_string(plat::headless_audio::Speaker().size()) + " " + std::to_string(second.nReads); },
       -1, true},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.play(), c.failure);
    ASSERT_TRUE(RunUntil([&] { return c.state() == ESoundFinished; }));
    if (c.bStopFirst) {
      plat::headless_audio::FailNextClose(false, plat::MMSYSERR_ERROR);
      // On a thread of its own, so that a stop waiting for a close
      // notification that never comes fails the test instead of hanging it.
      plat::Handle stopper = plat::CreateThread([p = core.get()] {
        p->Stop();
        return 0u;
      });
      if (plat::WaitForSingleObject(stopper, support::kHangMs) != plat::WAIT_OBJECT_0) {
        (void)core.release();  // the stuck stop still holds it
        FAIL() << "the stop waits for the notification of a close that failed";
      }
      plat::CloseHandle(stopper);
      m_pApp->RunAll();
      EXPECT_EQ(States().codes.back(), EPlayerFinished);
      ExpectBalanced(*m_pApp);
    }
    const std::vector<int32_t> codes = States().codes;
    const std::string kept = c.kept();
    EXPECT_EQ(c.again(), c.failure);
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(States().codes, codes);
    EXPECT_EQ(c.kept(), kept);
  }
}

INSTANTIATE_TEST_SUITE_P(Networks, PlayerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Simulated" : "Loopback"; });

// The simulated network alone: the connection manager and the bandwidth.
class SimPlayerTest : public PlayerTest {};

TEST_P(SimPlayerTest, AThrottledDownloadStartsPlayingBeforeItsLastByte) {
  std::string preview = Fixture(Mp3Format::Mono44k, 4.0);  // 16 KB a second
  Serve({Reply({Counted(preview)})});
  m_net->SetBandwidth(24000, 2400);
  CHTTPSoundPlayer player;
  ASSERT_EQ(player.Play(Url()), 1);
  EXPECT_FALSE(CompleteWhenPlaying(player, 60000));
  ASSERT_TRUE(RunUntil([&] { return States().Count(EPlayerFinished) == 1; }));
  EXPECT_EQ(Samples(plat::headless_audio::Speaker().back().pcm), ReferenceDecode(preview).pcm);
  EXPECT_EQ(States().Count(EPlayerError), 0u);
}

TEST_P(SimPlayerTest, ANetworkWaitPostsSixThenFive) {
  plat::SimConnMgr::Destination never;
  never.outcome = plat::SimConnMgr::Destination::Outcome::Never;
  m_connMgr->SetDefault(never);
  Serve({Reply({Counted(Preview())})});
  CHTTPSoundPlayer player;
  ASSERT_EQ(player.Play(Url()), 1);
  ASSERT_TRUE(RunUntil([&] { return States().Count(EPlayerNoNetwork) >= 1; }, 200000, 100));
  m_connMgr->SetDefault({});
  ASSERT_TRUE(RunUntil([&] { return States().Count(EPlayerFinished) == 1; }, 200000, 10));
  std::vector<int32_t> codes = States().codes;
  auto six = std::find(codes.begin(), codes.end(), EPlayerNoNetwork);
  auto five = std::find(codes.begin(), codes.end(), EPlayerNetworkUp);
  EXPECT_LT(six, five);
  EXPECT_LT(five, std::find(codes.begin(), codes.end(), EPlayerPlaying));
  EXPECT_EQ(States().Count(EPlayerError), 0u);
}

TEST_P(SimPlayerTest, DeletionDuringTheNetworkWaitDoesNotHang) {
  plat::SimConnMgr::Destination never;
  never.outcome = plat::SimConnMgr::Destination::Outcome::Never;
  m_connMgr->SetDefault(never);
  {
    CHTTPSoundPlayer player;
    ASSERT_EQ(player.Play(Url()), 1);
    ASSERT_TRUE(RunUntil([&] { return States().Count(EPlayerNoNetwork) >= 1; }, 200000, 100));
  }
  EXPECT_TRUE(BufferExists());
  m_pApp->RunAll();
  ExpectBalanced(*m_pApp);
}

INSTANTIATE_TEST_SUITE_P(Networks, SimPlayerTest, ::testing::Values(true),
                         [](const auto&) { return std::string("Simulated"); });

// The protocol test server on real loopback and the real clock: its
// catalogue previews and its preview faults.
class ServerPlayerTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    CHTTPSession::SetIdentitySource([] { return plat::Widen(qpstest::kUserAgent); });
  }
  std::u16string Preview(const std::string& faults, const char* track = "t1", const std::string& base = {}) {
    return plat::Widen((base.empty() ? m_harness.Base() : base) + faults + "/media/preview-" + track + ".mp3");
  }
  static qps::Options Options() {
    qps::Options o = qpstest::TestOptions();
    o.previewSeconds = 3;
    return o;
  }
  qpstest::ServerHarness m_harness{Options()};
};

TEST_P(ServerPlayerTest, CataloguePreviewsPlayToTheirEnd) {
  for (const char* track : {"t1", "t2", "t3"}) {
    SCOPED_TRACE(track);
    TStateLog states;
    {
      CHTTPSoundPlayer player;
      ASSERT_EQ(player.Play(Preview("", track)), 1);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerFinished) == 1; }));
      EXPECT_TRUE(player.IsComplete());
    }
    m_pApp->RunAll();
    std::string stored = StoredBuffer();
    TReference ref = ReferenceDecode(stored);
    ASSERT_GT(ref.frames, 10);
    EXPECT_EQ(Samples(plat::headless_audio::Speaker().back().pcm), ref.pcm);
    EXPECT_EQ(states.Count(EPlayerError), 0u);
  }
}

TEST_P(ServerPlayerTest, ASlowPreviewStartsBeforeItsDownloadEnds) {
  // The dribble keeps real time whatever the player's speed; the relay keeps
  // the last byte back until the test has looked, so a player that plays
  // early is seen to, however late it gets to run.
  qpstest::Relay relay(m_harness.Port(), true);
  CHTTPSoundPlayer player;
  ASSERT_EQ(player.Play(Preview("/f/dribble~12000", "t1", relay.Base())), 1);
  EXPECT_FALSE(CompleteWhenPlaying(player, support::kHangMs));
  relay.Release();
  ASSERT_TRUE(RunUntil([&] { return States().Count(EPlayerFinished) == 1; }));
  EXPECT_EQ(States().Count(EPlayerError), 0u);
}

TEST_P(ServerPlayerTest, PreviewFaults) {
  struct TCase {
    const char* faults;
    bool bError;
  } cases[] = {{"/f/mp3-id3", false}, {"/f/mp3-garbage", true}, {"/f/mp3-short", true}, {"/f/status~404", true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.faults);
    TStateLog states;
    {
      CHTTPSoundPlayer player;
      ASSERT_EQ(player.Play(Preview(c.faults)), 1);
      ASSERT_TRUE(RunUntil([&] { return states.Count(EPlayerFinished) + states.Count(EPlayerError) >= 1; }));
      RunUntil([] { return false; }, 200);
      EXPECT_EQ(player.HasFailed(), c.bError);
    }
    m_pApp->RunAll();
    EXPECT_EQ(states.Count(EPlayerError), c.bError ? 1u : 0u);
    ExpectBalanced(*m_pApp);
  }
}

INSTANTIATE_TEST_SUITE_P(Loopback, ServerPlayerTest, ::testing::Values(false),
                         [](const auto&) { return std::string("ProtocolServer"); });

}  // namespace
}  // namespace audiotest
