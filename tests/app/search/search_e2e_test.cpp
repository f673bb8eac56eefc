// Searches, follow-ups and server messages through the real HTTP core
// against the protocol test server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "E2eHarness.h"
#include "app/ImageSource.h"
#include "app/QuorelAppUi.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/SettingsScreens.h"
#include "app/Updater.h"
#include "platform/audio/Audio.h"
#include "protocol/AppServices.h"
#include "protocol/AppSettings.h"
#include "protocol/ReplyDocuments.h"
#include "protocol/SearchResults.h"

namespace searchtest {
namespace {

class SearchE2eTest : public E2eHarness {
 protected:
  TStep SearchAndWait(int32_t mode) {
    return [this, mode] {
      *AppSettings::SearchMode() = mode;
      m_app->ActivateView(12);
      CQuorelAppUi::StartSearch();
    };
  }
  TStep UntilViewOrCall(int32_t view) {
    return Until([this, view] { return m_app->GetActiveViewId() == view || !Calls().empty(); });
  }
  static std::string FirstTrack() { return plat::ToUtf8(AppSettings::GetResultModel()->TrackId(0)); }
};

TEST_F(SearchE2eTest, TheToneIsFoundFirstDirectAndThroughAProxy) {
  for (bool bProxy : {false, true}) {
    SCOPED_TRACE(bProxy ? "proxy" : "origin");
    StartApp(bProxy);
    // A request first brings the network up: the upload then streams
    // unless a proxy is in the way.
    Run({[this] { m_app->GetUpdater()->CheckForUpdate(0); },
         Until([this] { return m_app->GetUpdater()->State() == Updater::StateIdle; }), SearchAndWait(0),
         UntilViewOrCall(4), [] {}});
    EXPECT_EQ(4, m_lastView);
    EXPECT_EQ(Calls(), (TLog{"ShowPreviewMenuItem 0"}));
    EXPECT_EQ("t4", FirstTrack());
    EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
    ASSERT_TRUE(WaitForRequests(2));
    const std::string upload = Requests()[1];
    EXPECT_EQ(bProxy ? "\"counted\"" : "\"chunked\"", qpstest::JsonField(upload, "framing"));
    EXPECT_EQ(bProxy ? "\"absolute\"" : "\"origin\"", qpstest::JsonField(upload, "form"));
    EXPECT_EQ("true", qpstest::JsonField(qpstest::JsonField(upload, "upload"), "valid"));
    EXPECT_EQ("true", qpstest::JsonField(qpstest::JsonField(upload, "reply"), "gzip"));
    ExpectNoViolation();
    TearDown();
  }
}

TEST_F(SearchE2eTest, TheProgramsRecorderFindsTheToneItHears) {
  StartApp();
  // The program's own recorder, hearing 6 s of 440 Hz from the microphone;
  // a Grab search records the server's shortest limit, 5 s.
  SetSearchRecorderFactory(&NewAudioSearchRecorder);
  std::vector<int16_t> tone(6 * 8000);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * i / 8000.0));
  const std::filesystem::path wav = m_tp->DeviceRoot() / "tone.wav";
  ASSERT_TRUE(plat::WriteWavFile(wav, plat::PcmFormat(8000, 1),
                                 std::vector<uint8_t>(reinterpret_cast<uint8_t*>(tone.data()),
                                                      reinterpret_cast<uint8_t*>(tone.data() + tone.size()))));
  m_tp->SetMicrophone({{plat::MicSegment::Wav(wav)}});
  RegSetAppDword(kMaximumSearchLength, 5);
  Control("/_ctl/set?min-upload-seconds=3");
  Run({SearchAndWait(1), UntilViewOrCall(4), [] {}});
  EXPECT_EQ(4, m_lastView);
  EXPECT_EQ("t4", FirstTrack());
  EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ("true", qpstest::JsonField(qpstest::JsonField(Requests()[0], "upload"), "valid"));
  ExpectNoViolation();
}

// Transport and framing failures are the recorder's error (44); a reply that
// arrives whole but is no result, without a message of the server's, is the
// server's failure (51). Either way the search ends on the recorder screen.
TEST_F(SearchE2eTest, RepliesThatAreNotResultsEndTheSearchSayingWhy) {
  struct Case {
    const char* fault;
    const char* arg;
    std::vector<int32_t> codes;  // the core's code, any of these
    const char* shown;
    int32_t view;
  } cases[] = {{"reset", "", {EHttpSocketFailed, EHttpIoFailed, EHttpClosedEarly}, "ShowMessage 44 152", 2},
               {"truncate", "10", {EHttpClosedEarly}, "ShowMessage 44 152", 2},
               {"gzip-corrupt", "", {EHttpSinkFailed}, "ShowMessage 44 152", 2},
               {"gzip-truncated", "", {EHttpSinkFailed}, "ShowMessage 44 152", 2},
               {"close", "", {EHttpClosedEarly}, "ShowMessage 44 152", 2},
               {"chunk-bad", "", {EHttpBadChunk}, "ShowMessage 44 152", 2},
               {"http10", "", {EHttpBadStatus}, "ShowMessage 44 152", 2},
               // Content-Length 0 is no usable length.
               {"empty-body", "", {EHttpNoLength}, "ShowMessage 44 152", 2},
               {"empty-body", "chunked", {0}, "ShowMessage 51 152", 2},
               {"html-error", "", {0}, "ShowMessage 51 152", 2},
               {"not-xml", "", {0}, "ShowMessage 51 152", 2},
               {"truncated-xml", "", {0}, "ShowMessage 51 152", 2},
               {"huge", "5000000", {0}, "ShowMessage 51 152", 2},
               {"error-no-text", "", {0}, "ShowMessage 51 152", 2},
               // A directive acts without a text.
               {"error-no-text", "exit", {0}, "ShowServerMessageView S82||1|", 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + c.arg);
    StartApp();
    Inject("search-post", c.fault, c.arg);
    AppSettings::GetResultModel()->LoadText(replydocs::kFlatSearch);
    Run({[this] {
           m_app->ActivateView(2);
           CQuorelAppUi::PushHistory(2);
         },
         SearchAndWait(0), Until([] { return !Calls().empty(); }), [] {}});
    EXPECT_EQ(Calls(), (TLog{c.shown}));
    EXPECT_EQ(c.view, m_lastView);
    const int32_t code = m_pUploadError->load();
    EXPECT_TRUE(std::find(c.codes.begin(), c.codes.end(), code) != c.codes.end()) << code;
    // Nothing loaded: the results shown before stay as they were.
    EXPECT_EQ(u"s-1001", AppSettings::GetResultModel()->SearchId());
    EXPECT_EQ(2, AppSettings::GetResultModel()->TotalRecords());
    EXPECT_EQ(0, m_openAtQuit);
    TearDown();
  }
}

// The user keeps the results found before a search or follow-up whose reply
// does not load: after its message they are behind "Show results".
TEST_F(SearchE2eTest, ResultsFoundBeforeAFailedSearchAreStillShown) {
  struct Case {
    const char* route;
    TStep fail;
  } cases[] = {{"search-post",
                [this] {
                  m_app->FindMenuItem(3)->Activate();  // New search
                  SearchAndWait(0)();
                }},
               {"search-get", [] {
                  *AppSettings::LangIndex() = 1;
                  Post<FollowUpSearchEvent>();
                }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.route);
    // The results screen itself, with empty pictures, every text it shows and
    // the user model its rows fill.
    m_makeFactory = [](int32_t view) -> CViewFactory* {
      if (view == 4) return new CNewViewFactory(&CResultListView::NewView);
      return new TPlainFactory();
    };
    m_registerImages = [] {
      for (int32_t slot = 0; slot < 390; ++slot) CResources::RegisterImageSource(slot, new CEmptyImageSource());
    };
    StartApp();
    for (int32_t id = 1; id <= 231; ++id)
      if (std::find(std::begin(kUiStrings), std::end(kUiStrings), id) == std::end(kUiStrings))
        CResources::RegisterStringSource(id, new TStringSource(id));
    m_settings->Init();
    SetLangCodes({u"all", u"en"});
    auto results = [this] { return dynamic_cast<CResultListView*>(m_app->ActiveView()); };
    // The row titles the results screen shows.
    auto shownRows = [&] {
      std::vector<plat::WString> titles;
      for (size_t i = 0; results() && i < results()->Panel()->RowCount(); ++i)
        titles.push_back(results()->Panel()->Row(i).pTitle->Text());
      return titles;
    };
    std::vector<plat::WString> found;
    Run({[this] { m_app->ActivateView(2); }, SearchAndWait(0), Until([&] { return results() != nullptr; }),
         [&] {
           found = shownRows();
           ASSERT_FALSE(found.empty());
           Inject(c.route, "html-error");
           CQuorelAppUi::OutwardCalls().clear();
         },
         c.fail, Until([] { return CountCalls("ShowMessage 51 152") > 0; }),
         [this] {
           EXPECT_EQ(2, m_app->GetActiveViewId());
           DismissDialogs();
           CListDialogItem* pShowResults = m_app->FindMenuItem(5);
           ASSERT_TRUE(pShowResults->IsVisible());
           ASSERT_TRUE(pShowResults->IsEnabled());
           pShowResults->Activate();
         },
         Until([&] { return results() != nullptr; }), [&] { EXPECT_EQ(found, shownRows()); }});
    ExpectNoViolation();
    TearDown();
  }
}

TEST_F(SearchE2eTest, AShortRecordingGetsTheServersMessage) {
  StartApp();
  Control("/_ctl/set?min-upload-seconds=10");
  Run({[this] { m_app->ActivateView(2); }, SearchAndWait(0), Until([] { return !Calls().empty(); }), [] {}});
  ASSERT_EQ(1u, Calls().size());
  EXPECT_EQ(0u, Calls()[0].find("ShowServerMessageView S82|Recording too short")) << Calls()[0];
  EXPECT_EQ(16, m_lastView);
}

TEST_F(SearchE2eTest, FollowUpsFetchTheResultsAgainInTheChosenLanguage) {
  StartApp();
  auto followUp = [this](int32_t langIndex) {
    return [this, langIndex] {
      CQuorelAppUi::OutwardCalls().clear();
      *AppSettings::LangIndex() = langIndex;
      Post<FollowUpSearchEvent>();
    };
  };
  auto idle = [this] { return Until([this] { return !m_app->IsFollowUpRunning(); }); };
  // A reply that is no result ends it as an error does, and says so.
  auto endedSayingTheServerFailed = [this] {
    EXPECT_EQ(2, m_app->GetActiveViewId());
    EXPECT_FALSE(m_app->IsFollowUpRunning());
    EXPECT_EQ(Calls(), (TLog{"StopPreview", "ShowMessage 51 152"}));
  };
  plat::WString searchId;
  Run({SearchAndWait(0), UntilViewOrCall(4), [&] { searchId = AppSettings::GetResultModel()->SearchId(); },
       // Results in the sixth search language.
       followUp(5), idle(),
       [&] {
         EXPECT_EQ(4, m_app->GetActiveViewId());
         EXPECT_EQ("t4", FirstTrack());
         std::string name = plat::ToUtf8(AppSettings::GetResultModel()->TrackName(0));
         EXPECT_NE(std::string::npos, name.find(" [pt_BR]")) << name;
         ASSERT_TRUE(WaitForRequests(2));
         EXPECT_EQ(1u, CountRequests("[\"search_id\",\"" + plat::ToUtf8(searchId) + "\"]"));
         Inject("search-get", "status", "404");
       },
       // A refusal goes back to the recorder.
       followUp(1), Until([this] { return m_app->GetActiveViewId() == 2; }),
       [&] {
         EXPECT_FALSE(m_app->IsFollowUpRunning());
         EXPECT_TRUE(Calls() == (TLog{"StopPreview"}));
         Inject("search-get", "reset");
       },
       followUp(1), Until([this] { return m_app->GetActiveViewId() == 2; }),
       [&] {
         EXPECT_FALSE(m_app->IsFollowUpRunning());
         Inject("search-get", "html-error");
       },
       followUp(1), Until([] { return Calls().size() > 1; }),
       [&] {
         endedSayingTheServerFailed();
         Inject("search-get", "error-no-text");
       },
       // A server error without a text is none: no empty message screen.
       followUp(1), Until([] { return Calls().size() > 1; }),
       [&] {
         endedSayingTheServerFailed();
         Inject("search-get", "error-root", "error,serverMessage");
       },
       // A server message is shown, and the follow-up counts as running.
       followUp(3), Until([] { return Calls().size() > 1; }),
       [&] {
         EXPECT_EQ(16, m_app->GetActiveViewId());
         EXPECT_TRUE(m_app->IsFollowUpRunning());
         RegSetAppString(u"singurl", u"not a url");
       },
       followUp(3), [] {},
       [&] {
         EXPECT_EQ(2, m_app->GetActiveViewId());
         EXPECT_FALSE(m_app->IsFollowUpRunning());
       }});
  EXPECT_EQ(0, m_openAtQuit);
  ExpectNoViolation();
}

TEST_F(SearchE2eTest, AShutDownEndsAFollowUpWithoutAView) {
  StartApp();
  Inject("search-get", "delay", "2000");
  Run({SearchAndWait(0), UntilViewOrCall(4), [this] {
         Post<FollowUpSearchEvent>();
       },
       [this] {
         EXPECT_TRUE(m_app->IsFollowUpRunning());
         CQuorelAppUi::HTTPSession()->Release();
       },
       [] {}});
  EXPECT_EQ(12, m_lastView);
  EXPECT_FALSE(m_app->IsFollowUpRunning());
}

// New search while a follow-up still fetches: its late reply must not take
// the user off the recorder screen before the record button is tapped.
TEST_F(SearchE2eTest, ALateFollowUpReplyLeavesNewSearchOnTheRecorder) {
  StartApp();
  Inject("search-get", "delay", "300");
  Run({SearchAndWait(0), UntilViewOrCall(4), [] { Post<FollowUpSearchEvent>(); },
       [this] {
         EXPECT_TRUE(m_app->IsFollowUpRunning());
         CQuorelAppUi::RestartSearch();
       },
       // Past the delayed reply (the screen changes at once without the fix).
       Until([this] { return m_app->GetActiveViewId() != 2; }, 1000),
       [this] {
         EXPECT_EQ(2, m_app->GetActiveViewId());
         EXPECT_FALSE(m_app->IsFollowUpRunning());
       }});
  EXPECT_EQ(0, m_openAtQuit);
}

TEST_F(SearchE2eTest, ACheckForUpdateMessageChecksOnce) {
  StartApp();
  Run({[] {
         TServerMessage message;
         message.m_type = u"checkForUpdate";
         message.m_text = u"New version";
         CQuorelAppUi::ShowServerMessage(message, false);
       },
       Until([this] { return m_app->GetUpdater()->State() != Updater::StateChecking; }), [] {}});
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ(1u, CountRequests("checkForUpdate"));
  // Shut-down removed what the object installed.
  EXPECT_EQ(nullptr, CQuorelAppUi::HTTPSession());
  EXPECT_EQ(nullptr, AppHttpSession());
  EXPECT_EQ(Calls(), (TLog{"ShowServerMessageView S82|New version|1|"}));
  ExpectNoViolation();
}

}  // namespace
}  // namespace searchtest
