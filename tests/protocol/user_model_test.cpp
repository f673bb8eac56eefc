// The user model against the protocol test server: what each request sends,
// what every kind of reply posts and shows, the pictures and their sizes, and
// the history. The real HTTP core and session run on loopback; one server
// serves the whole process and is reset before each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "CoreHarness.h"
#include "ScriptServer.h"
#include "framework/DeviceIdentity.h"
#include "framework/Resources.h"
#include "net/HTTPWrapper.h"
#include "protocol/AppServices.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/ServerError.h"
#include "tools/protocol-server/Catalogue.h"
#include "tools/protocol-server/Media.h"
#include "tests/support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

namespace {

using plat::WString;

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new nettest::TQuietTrace);

class FixedText : public IStringSource {
 public:
  explicit FixedText(WString text) : m_text(std::move(text)) {}
  void Get(WString& text) override { text = m_text; }

 private:
  WString m_text;
};

// Stands for the application object: its session, and records of what
// would have been shown.
class RecordingServices : public IAppServices {
 public:
  CHTTPSession* pSession = nullptr;
  std::vector<TServerMessage> messages;
  std::vector<std::tuple<WString, WString, bool, WString>> views;

  CHTTPSession* HttpSession() override { return pSession; }
  void ShowServerMessage(const TServerMessage& message, bool bSilent) override {
    EXPECT_FALSE(bSilent);
    messages.push_back(message);
  }
  void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                             plat::WStringView link) override {
    views.emplace_back(WString(caption), WString(text), bRequired, WString(link));
  }
};

template <class E>
struct TLoaded : CEventListenerFor<E> {
  std::vector<typename E::TPayload> seen;
  TLoaded() { this->Subscribe(); }
  void HandleEvent(const typename E::TPayload& payload) override { seen.push_back(payload); }
};

struct TLogEntry {
  std::string route, target, headers, violations;
};

class UserModelTest : public nettest::CoreTest {
 protected:
  static void SetUpTestSuite() { s_pServer = new qpstest::ServerHarness(qpstest::TestOptions()); }
  static void TearDownTestSuite() {
    delete s_pServer;
    s_pServer = nullptr;
  }

  void SetUp() override {
    ClearSeen();
    // A lost network is noticed at the next quiet period: a short one.
    nettest::TNetOptions options;
    options.timings.nIdleMs = 50;
    options.timings.nIdleLimit = 1000;
    Build(options);
    m_base = s_pServer->Base();
    RegSetAppString(u"url", plat::Widen(m_base));
    ASSERT_EQ(Control("reset"), 200);
    CResources::Create();
    CResources::RegisterStringSource(50, new FixedText(u"No network"));
    CResources::RegisterStringSource(82, new FixedText(u"Error"));
    CResources::RegisterStringSource(85, new FixedText(u"Request failed"));
    SetLanguageCodeSource([] { return WString(u"EN"); });
    CDeviceIdentity::Create();
    m_pSession = CHTTPSession::Create(m_core.get());
    m_services.pSession = m_pSession;
    InstallAppServices(&m_services);
    m_pModel.reset(CHTTPUserModel::Create());
  }
  void TearDown() override {
    m_pModel.reset();
    InstallAppServices(nullptr);
    if (m_pSession) {
      m_pSession->Release();
      delete m_pSession;
    }
    m_app.RunAll();
    CDeviceIdentity::Destroy();
    SetLanguageCodeSource({});
    CResources::Destroy();
    LastServerError.Reset();
    CoreTest::TearDown();
  }

  void ClearSeen() {
    m_info.seen.clear();
    m_playlist.seen.clear();
    m_recordings.seen.clear();
    m_image.seen.clear();
    m_trackImage.seen.clear();
    m_videos.seen.clear();
    m_buyLinks.seen.clear();
    m_lyrics.seen.clear();
    m_services.messages.clear();
    m_services.views.clear();
  }
  static int Control(const std::string& command) {
    return qpstest::ParseResponse(qpstest::Fetch(s_pServer->Port(), "GET /_ctl/" + command + " HTTP/1.1\r\n\r\n")).status;
  }
  static void Inject(const std::string& route, const std::string& fault, const std::string& arg = "") {
    ASSERT_EQ(Control("inject?route=" + route + "&fault=" + fault + (arg.empty() ? "" : "&arg=" + arg)), 200);
  }
  // What reached the server, control requests left out.
  static std::vector<TLogEntry> Log() {
    std::vector<TLogEntry> out;
    for (const std::string& line : s_pServer->Log()) {
      TLogEntry e{qpstest::JsonField(line, "route"), qpstest::JsonField(line, "target"),
                  qpstest::JsonField(line, "headers"), qpstest::JsonField(line, "violations")};
      if (e.route != "\"control\"") out.push_back(e);
    }
    return out;
  }
  // The server writes an exchange to its log only after the reply has gone,
  // so a client holding its reply may still find the entry missing: wait for
  // `count` entries (boundedly) before reading them.
  static std::vector<TLogEntry> LogOf(size_t count) {
    std::vector<TLogEntry> log;
    support::PollUntil([&] {
      log = Log();
      return log.size() >= count;
    }, 0, std::chrono::milliseconds(2));
    return log;
  }
  // Runs the queue until `done` holds (boundedly).
  bool PumpUntil(const std::function<bool()>& done) {
    return support::PollUntil([&] {
      m_app.RunAll();
      return done();
    }, 0, std::chrono::milliseconds(2));
  }
  // Runs the queue a while longer, for replies that must not arrive.
  void PumpFor(int rounds) {
    for (int i = 0; i < rounds; ++i) {
      m_app.RunAll();
      plat::Sleep(2);
    }
  }
  WString Url(const std::string& path) const { return plat::Widen(m_base + path); }
  void SetTrack(const char* id, const char16_t* name, const char16_t* artist) {
    m_pModel->SetTrackId(plat::Widen(id));
    m_pModel->SetTrackName(name);
    m_pModel->SetArtistName(artist);
  }
  static RECT Width(int32_t width, int32_t height = 0) { return RECT{0, 0, width, height}; }
  static SIZE Size(const CBitmap* pBitmap) {
    if (!pBitmap) return {-1, -1};
    RECT r = pBitmap->GetSize();
    return {r.right, r.bottom};
  }

  static qpstest::ServerHarness* s_pServer;
  nettest::TTestApp m_app;
  std::string m_base;
  CHTTPSession* m_pSession = nullptr;
  RecordingServices m_services;
  std::unique_ptr<CHTTPUserModel> m_pModel;
  TLoaded<UserInfoLoadedEvent> m_info;
  TLoaded<PlaylistLoadedEvent> m_playlist;
  TLoaded<RecordingsLoadedEvent> m_recordings;
  TLoaded<UserImageLoadedEvent> m_image;
  TLoaded<TrackImageLoadedEvent> m_trackImage;
  TLoaded<VideosLoadedEvent> m_videos;
  TLoaded<BuyLinksLoadedEvent> m_buyLinks;
  TLoaded<LyricsLinkLoadedEvent> m_lyrics;
};

qpstest::ServerHarness* UserModelTest::s_pServer = nullptr;

TEST_F(UserModelTest, EveryRequestSendsItsExactTargetWithTheIdentityLine) {
  m_pModel->SetUserName(u"zoë");
  SetTrack("t1", u"Café Nights & Days", u"Mira Sól & The Lanterns");
  m_pModel->SetVideoUrl(Url(qps::VideoPath("t1")));
  m_pModel->SetTrackImageUrl(Url("/img/al1.png"));
  m_pModel->SetImageUrl(Url("/img/zoe.png"));
  m_pModel->GetUserInformation();
  m_pModel->GetUserPlaylist();
  m_pModel->GetUserRecordings();
  m_pModel->GetTrackBuyLinks();
  m_pModel->GetTrackLyricsLink();
  m_pModel->GetVideos();
  m_pModel->RequestImage(Width(120));
  m_pModel->RequestTrackImage(Width(120));
  auto all = [&] {
    return m_info.seen.size() + m_playlist.seen.size() + m_recordings.seen.size() + m_image.seen.size() +
           m_trackImage.seen.size() + m_videos.seen.size() + m_buyLinks.seen.size() + m_lyrics.seen.size();
  };
  ASSERT_TRUE(PumpUntil([&] { return all() == 8; }));

  std::vector<std::string> targets;
  const std::string headers = "[\"Host: 127.0.0.1:" + std::to_string(s_pServer->Port()) + "\",\"User-Agent: " +
                              plat::ToUtf8(CurrentIdentityLine()) + "\"]";
  for (const TLogEntry& e : LogOf(8)) {
    targets.push_back(e.target);
    EXPECT_EQ(e.headers, headers) << "the identity line, and no Accept-Encoding";
    EXPECT_EQ(e.violations, "[]") << e.target;
  }
  std::sort(targets.begin(), targets.end());
  const std::vector<std::string> expected = {
      "\"/img/al1.png\"",
      "\"/img/zoe.png\"",
      "\"/v2/?method=getTrackBuyLinks&track_id=t1&artist_name=Mira%20S%C3%B3l%20%26%20The%20Lanterns"
      "&track_name=Caf%C3%A9%20Nights%20%26%20Days\"",
      "\"/v2/?method=getTrackLyricsLink&track_id=t1\"",
      "\"/v2/?method=getUserInformation&username=zo%C3%AB\"",
      "\"/v2/?method=getUserPlaylist&username=zo%C3%AB\"",
      "\"/v2/?method=getUserRecordings&username=zo%C3%AB\"",
      "\"/v2/?method=getVideos&track_id=t1\"",
  };
  EXPECT_EQ(targets, expected);

  ASSERT_EQ(m_info.seen.size(), 1u);
  const StringRecord7& info = m_info.seen[0];
  EXPECT_EQ(info.m_nValue, 1);
  EXPECT_EQ(info.m_texts[0], u"zoë");
  EXPECT_EQ(info.m_texts[1], Url("/img/zoe.png"));
  EXPECT_EQ(info.m_texts[6], Url("/page/user-zoe"));
  EXPECT_EQ(m_playlist.seen.at(0).m_pResults, m_pModel->PlaylistResults());
  EXPECT_EQ(m_pModel->PlaylistResults()->RecordingCount(), 1);
  EXPECT_EQ(m_recordings.seen.at(0).m_pResults, m_pModel->RecordingsResults());
  EXPECT_EQ(m_pModel->CurrentUser().m_nRecordingsTotal, 2);
  EXPECT_EQ(m_videos.seen.at(0).m_text, Url("/page/video-v1"));
  EXPECT_EQ(m_buyLinks.seen.at(0).m_url, Url("/page/buy-t1-s1"));
  EXPECT_EQ(m_buyLinks.seen.at(0).m_storeName, u"Music Store");
  EXPECT_EQ(m_lyrics.seen.at(0).m_text, Url("/page/lyrics-t1"));
  // The user's picture is 200 x 100: at width 120 it is 60 high.
  ASSERT_EQ(m_image.seen.at(0).m_bSuccess, 1);
  EXPECT_EQ(Size(m_image.seen[0].m_unscaled.Get()), (SIZE{200, 100}));
  EXPECT_EQ(Size(m_image.seen[0].m_scaled.Get()), (SIZE{120, 60}));
  EXPECT_EQ(Size(m_trackImage.seen.at(0).m_scaled.Get()), (SIZE{120, 120}));
  EXPECT_TRUE(m_services.messages.empty());
  EXPECT_TRUE(m_services.views.empty());
}

TEST_F(UserModelTest, BuyLinksWithoutATrackIdAskByNames) {
  SetTrack("", u"Café Nights & Days", u"Mira Sól & The Lanterns");
  m_pModel->GetTrackBuyLinks();
  ASSERT_TRUE(PumpUntil([&] { return !m_buyLinks.seen.empty(); }));
  EXPECT_EQ(m_buyLinks.seen[0].m_bSuccess, 1);
  const std::vector<TLogEntry> log = LogOf(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].target,
            "\"/v2/?method=getTrackBuyLinks&artist_name=Mira%20S%C3%B3l%20%26%20The%20Lanterns"
            "&track_name=Caf%C3%A9%20Nights%20%26%20Days\"");
}

TEST_F(UserModelTest, WhatCannotBeAskedFailsAtOnceWithoutTraffic) {
  m_pModel->GetTrackLyricsLink();  // no track id
  m_pModel->GetVideos();           // no video URL
  m_pModel->RequestTrackImage(Width(100));  // no track picture
  m_pModel->SetImageUrl(Url("/img/.png"));  // the "nopic" user's picture name
  m_pModel->RequestImage(Width(100));
  m_pModel->SetImageUrl(u"");
  m_pModel->RequestImage(Width(100));
  m_app.RunAll();
  EXPECT_EQ(m_lyrics.seen.size(), 1u);
  EXPECT_EQ(m_videos.seen.size(), 1u);
  EXPECT_EQ(m_trackImage.seen.size(), 1u);
  EXPECT_EQ(m_image.seen.size(), 1u) << "two failures queued at once dispatch once";
  for (const auto& p : m_lyrics.seen) EXPECT_EQ(p.m_bSuccess, 0);
  for (const auto& p : m_videos.seen) EXPECT_EQ(p.m_bSuccess, 0);
  for (const auto& p : m_image.seen) EXPECT_EQ(p.m_unscaled.Get(), nullptr);
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(m_services.views.empty());
  EXPECT_FALSE(m_pModel->Request(ELyricsLinkRequest).IsOpen());
}

TEST_F(UserModelTest, LoadedListsAnswerFromMemoryAndAnAwaitedOneIsNotAskedAgain) {
  m_pModel->SetUserName(u"anna");
  Inject("getUserPlaylist", "delay", "200");
  m_pModel->GetUserPlaylist();
  m_pModel->GetUserPlaylist();  // awaited: nothing at all
  m_app.RunAll();
  EXPECT_TRUE(m_playlist.seen.empty());
  m_pModel->GetUserInformation();
  m_pModel->GetUserRecordings();
  ASSERT_TRUE(PumpUntil(
      [&] { return !m_playlist.seen.empty() && !m_info.seen.empty() && !m_recordings.seen.empty(); }));
  EXPECT_EQ(LogOf(3).size(), 3u);
  m_pModel->GetUserInformation();
  m_pModel->GetUserPlaylist();
  m_pModel->GetUserRecordings();
  m_app.RunAll();
  EXPECT_EQ(Log().size(), 3u) << "the cache answers";
  EXPECT_EQ(m_info.seen.size(), 2u);
  EXPECT_EQ(m_playlist.seen.size(), 2u);
  EXPECT_EQ(m_recordings.seen.size(), 2u);
  EXPECT_EQ(m_playlist.seen[1].m_bSuccess, 1);
  EXPECT_EQ(m_playlist.seen[1].m_pResults->RecordingCount(), 3);
}

TEST_F(UserModelTest, AReopenedRequestPostsOnlyTheNewerReply) {
  Inject("getTrackLyricsLink", "delay", "300");
  SetTrack("t2", u"", u"");
  m_pModel->GetTrackLyricsLink();
  SetTrack("t1", u"", u"");
  m_pModel->GetTrackLyricsLink();
  ASSERT_TRUE(PumpUntil([&] { return !m_lyrics.seen.empty(); }));
  PumpFor(200);  // past the delayed reply
  ASSERT_EQ(m_lyrics.seen.size(), 1u);
  EXPECT_EQ(m_lyrics.seen[0].m_bSuccess, 1);
  EXPECT_EQ(m_lyrics.seen[0].m_text, Url("/page/lyrics-t1"));
}

TEST_F(UserModelTest, EveryReplyPathPostsAndShowsWhatItShould) {
  struct Case {
    const char* what;
    std::function<void()> arrange;  // after reset, before the request
    std::function<void(CHTTPUserModel&)> request;
    std::function<bool()> posted;
    std::function<uint8_t()> success;
    size_t messages, views;
    const char16_t* viewText;
    uint8_t succeeds = 0;
    std::function<void()> alsoCheck = nullptr;
  };
  auto info = [&] { return !m_info.seen.empty(); };
  auto infoOk = [&] { return m_info.seen.back().m_nValue; };
  auto askZoe = [](CHTTPUserModel& m) {
    m.SetUserName(u"zoë");
    m.GetUserInformation();
  };
  uint16_t closedPort = 0;
  {
    nettest::CLoopbackServer probe;  // a port nobody listens on once it is gone
    closedPort = probe.Port();
  }
  const Case cases[] = {
      {"unknown user", {}, [](CHTTPUserModel& m) { m.SetUserName(u"nobody"); m.GetUserInformation(); }, info,
       infoOk, 1, 0, nullptr},
      {"not XML", [] { Inject("getUserInformation", "not-xml"); }, askZoe, info, infoOk, 0, 0, nullptr},
      {"status 404", [] { Inject("getUserInformation", "status", "404"); }, askZoe, info, infoOk, 0, 0, nullptr},
      {"connection reset", [] { Inject("getUserInformation", "reset"); }, askZoe, info, infoOk, 0, 1,
       u"Request failed"},
      {"refused", [&] { RegSetAppString(u"url", plat::Widen("http://127.0.0.1:" + std::to_string(closedPort))); },
       askZoe, info, infoOk, 0, 1, u"Request failed"},
      {"no videos", [] { Inject("videos", "empty-videos"); },
       [&](CHTTPUserModel& m) {
         m.SetVideoUrl(Url(qps::VideoPath("t1")));
         m.GetVideos();
       },
       [&] { return !m_videos.seen.empty(); }, [&] { return m_videos.seen.back().m_bSuccess; }, 0, 0, nullptr},
      {"lyrics not found", {},
       [](CHTTPUserModel& m) {
         m.SetTrackId(u"t2");
         m.GetTrackLyricsLink();
       },
       [&] { return !m_lyrics.seen.empty(); }, [&] { return m_lyrics.seen.back().m_bSuccess; }, 0, 0, nullptr},
      // An error without text has nothing to show; a directive acts without.
      {"error without text", [] { Inject("getUserInformation", "error-no-text"); }, askZoe, info, infoOk, 0, 0,
       nullptr},
      {"exit without text", [] { Inject("getUserInformation", "error-no-text", "exit"); }, askZoe, info, infoOk, 1,
       0, nullptr},
      // A picture that fails, however, leaves the page as it is.
      {"empty picture", [] { Inject("image", "empty-body"); },
       [&](CHTTPUserModel& m) {
         m.SetImageUrl(Url("/img/anna.png"));
         m.RequestImage(Width(120));
       },
       [&] { return !m_image.seen.empty(); }, [&] { return m_image.seen.back().m_bSuccess; }, 0, 0, nullptr},
      {"track picture reset", [] { Inject("image", "reset"); },
       [&](CHTTPUserModel& m) {
         m.SetTrackImageUrl(Url("/img/al1.png"));
         m.RequestTrackImage(Width(120));
       },
       [&] { return !m_trackImage.seen.empty(); }, [&] { return m_trackImage.seen.back().m_bSuccess; }, 0, 0,
       nullptr},
      // Negative counts are kept as 0; a 0 total counts the tracks.
      {"negative counts", [] { Inject("getUserRecordings", "negative-count"); },
       [](CHTTPUserModel& m) {
         m.SetUserName(u"zoë");
         m.GetUserRecordings();
       },
       [&] { return !m_recordings.seen.empty(); }, [&] { return m_recordings.seen.back().m_bSuccess; }, 0, 0,
       nullptr, 1,
       [&] {
         const CResultPage& page = *m_pModel->RecordingsResults()->Page();
         EXPECT_EQ(std::make_tuple(page.m_nTotalRecords, page.m_nRecordsStart, page.m_nRecordsEnd, page.m_nRecordingsKept),
                   std::make_tuple(2, 0, 0, 2));
         EXPECT_EQ(m_pModel->CurrentUser().m_nRecordingsTotal, 2);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    if (c.arrange) c.arrange();
    c.request(*m_pModel);
    ASSERT_TRUE(PumpUntil(c.posted));
    PumpFor(5);
    EXPECT_EQ(c.success(), c.succeeds);
    if (c.alsoCheck) c.alsoCheck();
    EXPECT_EQ(m_services.messages.size(), c.messages);
    ASSERT_EQ(m_services.views.size(), c.views);
    if (c.views) {
      EXPECT_EQ(std::get<0>(m_services.views[0]), u"Error");
      EXPECT_EQ(std::get<1>(m_services.views[0]), c.viewText);
      EXPECT_FALSE(std::get<2>(m_services.views[0]));
      EXPECT_EQ(std::get<3>(m_services.views[0]), u"");
    }
  }
  EXPECT_EQ(m_info.seen.size(), 0u) << "the last case asked no user";
}

TEST_F(UserModelTest, UnknownUserShowsTheServersMessageAndAFailureKeepsTheOldTexts) {
  m_pModel->SetUserName(u"zoë");
  m_pModel->GetUserInformation();
  ASSERT_TRUE(PumpUntil([&] { return m_info.seen.size() == 1; }));
  m_pModel->SetUserName(u"nobody");
  m_pModel->GetUserInformation();
  ASSERT_TRUE(PumpUntil([&] { return m_info.seen.size() == 2; }));
  const StringRecord7& failed = m_info.seen[1];
  EXPECT_EQ(failed.m_nValue, 0);
  EXPECT_EQ(failed.m_texts[0], u"nobody");
  EXPECT_EQ(failed.m_texts[6], Url("/page/user-zoe")) << "kept from the last post";
  ASSERT_EQ(m_services.messages.size(), 1u);
  EXPECT_EQ(m_services.messages[0].m_text, u"No such user");
}

TEST_F(UserModelTest, BuyLinksWhoseFirstIsNotFoundStillReportTheFirst) {
  Inject("getTrackBuyLinks", "first-not-found");
  SetTrack("t1", u"Café Nights & Days", u"Mira Sól & The Lanterns");
  m_pModel->GetTrackBuyLinks();
  ASSERT_TRUE(PumpUntil([&] { return !m_buyLinks.seen.empty(); }));
  EXPECT_EQ(m_buyLinks.seen[0].m_bSuccess, 1);
  EXPECT_EQ(m_buyLinks.seen[0].m_storeName, u"Music Store");
}

TEST_F(UserModelTest, ALostNetworkShowsTextFiftyAndTheSessionsEndShowsNothing) {
  Inject("getUserInformation", "stall", "5");
  m_pModel->SetUserName(u"zoë");
  m_pModel->GetUserInformation();
  ASSERT_TRUE(PumpUntil([&] { return m_pModel->Request(EUserInfoRequest).LastStatus() == EHttpHeadersDone; }));
  m_connMgr->DropNetwork();
  ASSERT_TRUE(PumpUntil([&] { return !m_info.seen.empty(); }));
  EXPECT_EQ(m_info.seen[0].m_nValue, 0);
  ASSERT_EQ(m_services.views.size(), 1u);
  EXPECT_EQ(std::get<1>(m_services.views[0]), u"No network");
  m_connMgr->RestoreNetwork();

  Inject("getUserPlaylist", "stall", "5");
  m_pModel->GetUserPlaylist();
  ASSERT_TRUE(PumpUntil([&] { return m_pModel->Request(EUserPlaylistRequest).LastStatus() == EHttpHeadersDone; }));
  m_pSession->Release();
  m_app.RunAll();
  ASSERT_EQ(m_playlist.seen.size(), 1u);
  EXPECT_EQ(m_playlist.seen[0].m_bSuccess, 0);
  EXPECT_EQ(m_playlist.seen[0].m_pResults, nullptr);
  EXPECT_EQ(m_services.views.size(), 1u) << "no view at shut-down";
  m_pModel->GetUserRecordings();  // after the session's end: fails at once
  m_app.RunAll();
  ASSERT_EQ(m_recordings.seen.size(), 1u);
  EXPECT_EQ(m_recordings.seen[0].m_bSuccess, 0);
}

TEST_F(UserModelTest, PicturesAreScaledFromMemoryAndBadPicturesFail) {
  m_pModel->SetImageUrl(Url("/img/anna.png"));
  m_pModel->RequestImage(Width(120));
  ASSERT_TRUE(PumpUntil([&] { return m_image.seen.size() == 1; }));
  CBitmap* pScaled = m_pModel->ScaledUserImage();
  m_pModel->RequestImage(RECT{10, 20, 130, 80});  // the same size
  m_app.RunAll();
  EXPECT_EQ(m_pModel->ScaledUserImage(), pScaled) << "nothing scaled again";
  m_pModel->RequestImage(Width(60));
  m_app.RunAll();
  ASSERT_EQ(m_image.seen.size(), 3u);
  EXPECT_EQ(Size(m_image.seen[2].m_scaled.Get()), (SIZE{60, 30}));
  EXPECT_EQ(LogOf(1).size(), 1u) << "no traffic for other sizes";

  struct Bad {
    const char* fault;
    bool keepsPicture;  // decoded, but cannot be scaled so
    int32_t width;
  };
  const Bad bad[] = {
      {"png-corrupt", false, 120}, {"png-truncated", false, 120}, {"not-png", false, 120}, {"png-tall", true, 480}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.fault);
    m_pModel->SetImageUrl(Url("/img/zoe.png"));
    m_pModel->SetImageUrl(Url("/img/anna.png"));  // released: fetched again
    Inject("image", b.fault);
    const size_t before = m_image.seen.size();
    m_pModel->RequestImage(Width(b.width));
    ASSERT_TRUE(PumpUntil([&] { return m_image.seen.size() == before + 1; }));
    EXPECT_EQ(m_image.seen.back().m_bSuccess, 0);
    EXPECT_EQ(m_image.seen.back().m_unscaled.Get(), nullptr);
    EXPECT_EQ(m_image.seen.back().m_scaled.Get(), nullptr);
    EXPECT_EQ(m_pModel->UserImage() != nullptr, b.keepsPicture);
    EXPECT_EQ(m_pModel->ScaledUserImage(), nullptr);
    EXPECT_TRUE(m_services.views.empty());
  }
}

TEST_F(UserModelTest, EmptyAndTooTallPicturesFailWithoutOverflow) {
  InstallAppServices(nullptr);  // the request fails, the rectangle stays
  m_pModel->SetImageUrl(u"http://127.0.0.1:1/img/tall.png");
  m_pModel->RequestImage(Width(120));
  m_pModel->HandleBody(EUserImageRequest, nullptr, 0);
  m_app.RunAll();
  ASSERT_EQ(m_image.seen.size(), 1u);
  EXPECT_EQ(m_image.seen[0].m_bSuccess, 0) << "an empty body";
  EXPECT_EQ(m_pModel->UserImage(), nullptr);

  // width x height passes 32 bits at 4800 x 1,000,000; at 480 the target
  // passes the largest picture.
  const std::string png = qps::MakePng({1, 1000000, qps::PngKind::Grey, 7});
  for (int32_t width : {480, 4800, INT32_MAX}) {
    SCOPED_TRACE(width);
    m_pModel->RequestImage(RECT{0, 0, width, 0});  // from memory once decoded
    m_pModel->HandleBody(EUserImageRequest, png.data(), png.size());
    m_app.RunAll();
    EXPECT_EQ(m_image.seen.back().m_bSuccess, 0);
    EXPECT_EQ(Size(m_pModel->UserImage()), (SIZE{1, 1000000}));
    EXPECT_EQ(m_pModel->ScaledUserImage(), nullptr);
  }
  // A picture the loader refuses (16 M rows) fails like any bad picture.
  const std::string taller = qps::MakePng({1, 16000000, qps::PngKind::Grey, 7});
  m_pModel->HandleBody(EUserImageRequest, taller.data(), taller.size());
  m_app.RunAll();
  EXPECT_EQ(m_image.seen.back().m_bSuccess, 0);
  EXPECT_EQ(m_pModel->UserImage(), nullptr);
}

TEST_F(UserModelTest, AReplyForAPictureNoLongerShownIsDropped) {
  Inject("image", "delay", "200");
  m_pModel->SetImageUrl(Url("/img/anna.png"));
  m_pModel->RequestImage(Width(120));
  m_pModel->SetImageUrl(Url("/img/zoe.png"));
  // The reply arrives and is closed unheard.
  ASSERT_TRUE(PumpUntil([&] { return !m_pModel->Request(EUserImageRequest).IsOpen(); }));
  PumpFor(5);
  EXPECT_TRUE(m_image.seen.empty());
  EXPECT_EQ(m_pModel->UserImage(), nullptr);

  // The same for the track's picture.
  Inject("image", "delay", "200");
  m_pModel->SetTrackImageUrl(Url("/img/al1.png"));
  m_pModel->RequestTrackImage(Width(120));
  m_pModel->SetTrackImageUrl(Url("/img/al2.png"));
  ASSERT_TRUE(PumpUntil([&] { return !m_pModel->Request(ETrackImageRequest).IsOpen(); }));
  PumpFor(5);
  EXPECT_TRUE(m_trackImage.seen.empty());
}

TEST_F(UserModelTest, HistoryRestoresUserTrackAndPictureUrl) {
  m_pModel->SetUserName(u"anna");
  m_pModel->SetImageUrl(Url("/img/anna.png"));
  m_pModel->RequestImage(Width(120));
  ASSERT_TRUE(PumpUntil([&] { return m_image.seen.size() == 1; }));
  CBitmap* pAnna = m_pModel->UserImage();
  SetTrack("t1", u"Café Nights & Days", u"Mira Sól & The Lanterns");
  m_pModel->SetItemIndex(3);
  m_pModel->PushHistory();
  m_pModel->SetHistoryItemIndex(5);
  m_pModel->SetHistorySubItemIndex(1);

  // Same URL on both sides of a pop: the pictures stay.
  m_pModel->SetTrackId(u"t9");
  m_pModel->PopHistory();
  EXPECT_EQ(m_pModel->UserImage(), pAnna);
  EXPECT_EQ(m_pModel->TrackId(), u"t1");
  EXPECT_EQ(m_pModel->ItemIndex(), 5);
  EXPECT_EQ(m_pModel->SubItemIndex(), 1);
  EXPECT_EQ(m_pModel->UserName(), u"anna");

  // Another user and picture, then back: the picture is released by URL.
  m_pModel->PushHistory();
  m_pModel->SetUserName(u"zoë");
  EXPECT_EQ(m_pModel->UserImage(), nullptr) << "another user: pictures released";
  EXPECT_EQ(m_pModel->ItemIndex(), -1);
  m_pModel->SetImageUrl(Url("/img/zoe.png"));
  m_pModel->RequestImage(Width(120));
  ASSERT_TRUE(PumpUntil([&] { return m_image.seen.size() == 2; }));
  ASSERT_NE(m_pModel->UserImage(), nullptr);
  m_pModel->GetUserPlaylist();  // in flight while popping
  m_pModel->PostVideosDone(true, u"queued");
  m_pModel->PopHistory();
  EXPECT_EQ(m_pModel->UserName(), u"anna");
  EXPECT_EQ(m_pModel->ImageUrl(), Url("/img/anna.png"));
  EXPECT_EQ(m_pModel->UserImage(), nullptr);
  EXPECT_FALSE(m_pModel->Request(EUserPlaylistRequest).IsOpen()) << "pop cancels";
  PumpFor(20);
  EXPECT_TRUE(m_playlist.seen.empty());
  EXPECT_TRUE(m_videos.seen.empty()) << "the queued message was withdrawn";
  EXPECT_EQ(m_pModel->HistoryDepth(), 0u);

  int32_t line = 0;
  WString source;
  try {
    m_pModel->PopHistory();
  } catch (const TPanic& p) {
    line = p.line;
    source = p.source;
  }
  EXPECT_EQ(line, 67);
  EXPECT_EQ(source, u".\\HTTPUserModel");
}

TEST_F(UserModelTest, TheSameUserNameKeepsEverythingAndTwoPostsDispatchOnce) {
  m_pModel->SetUserName(u"zoë");
  m_pModel->GetUserInformation();
  m_pModel->SetImageUrl(Url("/img/zoe.png"));
  m_pModel->RequestImage(Width(120));
  ASSERT_TRUE(PumpUntil([&] { return !m_info.seen.empty() && !m_image.seen.empty(); }));
  const CUserRecord* pUser = &m_pModel->CurrentUser();
  m_pModel->SetItemIndex(4);
  m_pModel->SetUserName(u"zoë");
  EXPECT_EQ(&m_pModel->CurrentUser(), pUser);
  EXPECT_EQ(m_pModel->CurrentUser().m_bInformationLoaded, 1);
  EXPECT_NE(m_pModel->UserImage(), nullptr);
  EXPECT_EQ(m_pModel->ItemIndex(), 4);

  m_pModel->PostLyricsDone(true, u"first");
  m_pModel->PostLyricsDone(true, u"second");
  m_app.RunAll();
  ASSERT_EQ(m_lyrics.seen.size(), 1u);
  EXPECT_EQ(m_lyrics.seen[0].m_text, u"second");
  m_pModel->PostLyricsDone(true, u"third");
  m_pModel->CancelPending();
  m_app.RunAll();
  EXPECT_EQ(m_lyrics.seen.size(), 1u) << "cancelled while queued";
}

}  // namespace
