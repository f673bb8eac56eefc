// The search flow with a fake recorder: starting, the recorder's states, the
// network watch, server messages and the follow-up search's first steps.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppHarness.h"
#include "app/QuorelAppUi.h"
#include "framework/AppRegistry.h"
#include "protocol/AppServices.h"
#include "protocol/AppSettings.h"
#include "protocol/ReplyDocuments.h"
#include "protocol/SearchResults.h"

namespace searchtest {
namespace {

class SearchFlowTest : public AppHarness {
 protected:
  void SetUp() override {
    MakeApp(true, false);
    RegSetAppString(u"singurl", u"http://sing.test/");
    RegSetAppString(u"graburl", u"http://grab.test/");
    SetLangCodes({u"c0", u"c1", u"c2", u"c3", u"c4", u"c5"});
  }
  // Starts a search whose reply will be `reply` (with the status), and lets
  // the recorder report it.
  std::vector<TStep> SearchAndReply(int32_t mode, const std::string& reply, int32_t status = 200) {
    return {[=, this] {
              *AppSettings::SearchMode() = mode;
              m_script.reply = reply;
              m_script.responseStatus = status;
              CQuorelAppUi::StartSearch();
              m_app->ActivateView(12);
              Post<RecorderStateEvent>(4);
            }};
  }
};

TEST_F(SearchFlowTest, SearchesSendTheFirstLanguageToTheirModesServer) {
  Run({[this] {
         *AppSettings::LangIndex() = 5;
         *AppSettings::SearchMode() = 0;
         CQuorelAppUi::StartSearch();
         *AppSettings::SearchMode() = 1;
         CQuorelAppUi::StartSearch();
       }});
  EXPECT_EQ(m_log, (TLog{"recorder start http://sing.test/v2/?method=search&type=singing&lang=c0",
                         // A new search ends the one before.
                         "recorder stop", "recorder deleted",
                         "recorder start http://grab.test/v2/?method=search&type=grabbing&lang=c0",
                         // Shut-down ends the running one.
                         "recorder stop", "recorder deleted"}));
  EXPECT_EQ(5, *AppSettings::LangIndex());
}

TEST_F(SearchFlowTest, ASearchThatCannotStartSaysSoOnce) {
  struct Case {
    const char* name;
    int32_t mode;
    int32_t startResult;
    bool bFactory;
  } cases[] = {{"unknown mode", 7, 0, true}, {"failed start", 0, -1, true}, {"no recorder", 0, 0, false}};
  std::vector<TStep> steps;
  for (const Case& c : cases) {
    steps.push_back([&] {
      CQuorelAppUi::OutwardCalls().clear();
      m_script.startResult = c.startResult;
      if (!c.bFactory) SetSearchRecorderFactory(nullptr);
      *AppSettings::SearchMode() = c.mode;
      CQuorelAppUi::StartSearch();
    });
    steps.push_back([&] {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Calls(), (TLog{"ShowMessage 44 152"}));
      EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
    });
  }
  Run(steps);
}

// A sink that logs when its body is read.
class TLoggedSink : public CHTTPMemorySink {
 public:
  explicit TLoggedSink(TLog* pLog) : m_pLog(pLog) {}
  char* GetData() override {
    m_pLog->push_back("body read");
    return CHTTPMemorySink::GetData();
  }

 private:
  TLog* m_pLog;
};

class TLoggedRecorder : public TFakeRecorder {
 public:
  TLoggedRecorder(TFakeRecorderScript* pScript, TLog* pLog) : TFakeRecorder(pScript), m_pLog(pLog) {}
  void TakeResponse(CHTTPSink*& pSink) override {
    m_pLog->push_back("recorder take");
    auto* pLogged = new TLoggedSink(m_pLog);
    std::string body = replydocs::kFlatSearch;
    pLogged->Begin(static_cast<int32_t>(body.size()), 200);
    pLogged->Append(body.data(), static_cast<int32_t>(body.size()));
    pSink = pLogged;
  }

 private:
  TLog* m_pLog;
};

TEST_F(SearchFlowTest, AReplyEndsTheRecorderBeforeItIsReadAndOpensTheResults) {
  SetSearchRecorderFactory([this] { return std::make_unique<TLoggedRecorder>(&m_script, &m_log); });
  Run({[this] {
         *AppSettings::SearchMode() = 1;
         *AppSettings::LangIndex() = 3;
         CQuorelAppUi::StartSearch();
         m_app->ActivateView(12);
         m_log.clear();
         Post<RecorderStateEvent>(4);
       },
       [] {}});
  EXPECT_EQ(m_log, (TLog{"recorder status", "recorder take", "recorder stop", "recorder deleted", "body read"}));
  EXPECT_EQ(4, m_lastView);
  EXPECT_EQ(1, *AppSettings::SavedSearchMode());
  EXPECT_EQ(0, *AppSettings::LangIndex());
  EXPECT_EQ(2, AppSettings::GetResultModel()->TotalRecords());
  EXPECT_EQ(Calls(), (TLog{"ShowPreviewMenuItem 0"}));
  EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
}

TEST_F(SearchFlowTest, RepliesThatAreNotResults) {
  struct Case {
    const char* name;
    std::string reply;
    int32_t status;
    bool bSink;
    int32_t view;
    TLog calls;
  } cases[] = {
      // The message's own view shows it.
      {"server error", replydocs::kRootError, 200, true, 16,
       {"ShowServerMessageView S82|Recording is too short|0|"}},
      // Nothing readable is no "Nothing found": the server's failure, and
      // back from the searching screen.
      {"not XML at 200", "<html>busy</html>", 200, true, 2, {"ShowMessage 51 152"}},
      // A refusal is no result list: the recorder's error instead.
      {"not XML at 500", "<html>down</html>", 500, true, 2, {"ShowMessage 44 152"}},
      {"no sink", "", 200, false, 2, {"ShowMessage 51 152"}},
      // A valid reply without tracks is "Nothing found".
      {"no tracks", replydocs::kEmptySearch, 200, true, 4, {"ShowPreviewMenuItem 0"}},
  };
  std::vector<TStep> steps;
  for (const Case& c : cases) {
    steps.push_back([&] {
      CQuorelAppUi::OutwardCalls().clear();
      AppSettings::GetResultModel()->LoadText(replydocs::kFlatSearch);
      m_script.bHasReply = c.bSink;
      *AppSettings::SearchMode() = 0;
      m_script.reply = c.reply;
      m_script.responseStatus = c.status;
      CQuorelAppUi::StartSearch();
      m_app->ActivateView(2);
      CQuorelAppUi::PushHistory(2);
      m_app->ActivateView(12);
      Post<RecorderStateEvent>(4);
    });
    steps.push_back([] {});  // a posted 8 runs here
    steps.push_back([&] {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.view, m_app->GetActiveViewId());
      EXPECT_EQ(Calls(), c.calls);
      // Only a reply that loads replaces the results shown before.
      EXPECT_EQ(c.view == 4 ? 0 : 2, AppSettings::GetResultModel()->TotalRecords());
      EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
      while (CQuorelAppUi::CountHistory(2)) CQuorelAppUi::CancelLastHistory();
    });
  }
  Run(steps);
}

TEST_F(SearchFlowTest, AnErrorOnTheSearchingScreenGoesBackOneStep) {
  Run({[this] {
         CQuorelAppUi::StartSearch();
         m_app->ActivateView(8);
         CQuorelAppUi::PushHistory(8);
         CQuorelAppUi::PushHistory(2);
         m_app->ActivateView(12);
         Post<RecorderStateEvent>(8);
       },
       [] {}});
  EXPECT_EQ(Calls(), (TLog{"ShowMessage 44 152"}));
  EXPECT_EQ(2, m_lastView);
  EXPECT_EQ(1, CQuorelAppUi::CountHistory(8));
  EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
}

// Runs a function from the application's queue, behind what is queued
// already: a tap the user made before the loop got to it.
class TQueuedCall : public CEventMessage {
 public:
  explicit TQueuedCall(std::function<void()> call) : m_call(std::move(call)) {}
  void Dispatch() override { m_call(); }

 private:
  std::function<void()> m_call;
};

// The end of a search posts news of it (a refused reply the recorder's
// error, a twice lost network the abort); a new search the user had already
// asked for starts before that news runs, and must survive it.
TEST_F(SearchFlowTest, NewsOfTheLastSearchSparesTheSearchStartedBeforeItRuns) {
  struct Case {
    const char* name;
    std::function<void()> end;  // what ends the first search
    std::vector<int32_t> states;
  } cases[] = {
      {"refused reply",
       [this] {
         m_script.reply = "<html>down</html>";
         m_script.responseStatus = 500;
         Post<RecorderStateEvent>(4);
       },
       {4}},
      {"network lost twice",
       [] {
         Post<NetworkStateEvent>(0);
         Post<NetworkStateEvent>(0);
       },
       {}},
  };
  std::unique_ptr<TEventCounter<RecorderStateEvent>> pStates;
  std::unique_ptr<TEventCounter<SearchAbortedEvent>> pAborted;
  std::vector<TStep> steps;
  for (const Case& c : cases) {
    steps.push_back([&, this] {
      pStates = std::make_unique<TEventCounter<RecorderStateEvent>>();
      pAborted = std::make_unique<TEventCounter<SearchAbortedEvent>>();
      CQuorelAppUi::OutwardCalls().clear();
      *AppSettings::SearchMode() = 0;
      CQuorelAppUi::StartSearch();
      c.end();
      m_app->PostEvent(new TQueuedCall([] { CQuorelAppUi::StartSearch(); }));
    });
    steps.push_back([&] {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(pStates->payloads, c.states);
      EXPECT_EQ(0u, pAborted->payloads.size());
      EXPECT_NE(nullptr, CQuorelAppUi::Recorder());
      EXPECT_EQ(0u, CountCalls("ShowMessage 44 152"));
    });
  }
  Run(steps);
}

TEST_F(SearchFlowTest, NetworkStatesAreForwarded) {
  TEventCounter<NetworkStateEvent> network;
  TEventCounter<SearchAbortedEvent> aborted;
  Run({[] { Post<RecorderStateEvent>(5); }, [] { Post<RecorderStateEvent>(6); }, [] {},
       [&] {
         EXPECT_EQ(network.payloads, (std::vector<uint8_t>{0, 1}));
         EXPECT_TRUE(aborted.payloads.empty());
         m_tp->Activate(false);
       },
       [] {}, [] { Post<RecorderStateEvent>(6); }, [] {}});
  EXPECT_EQ(network.payloads, (std::vector<uint8_t>{0, 1, 1}));
  EXPECT_EQ(1u, aborted.payloads.size());
}

TEST_F(SearchFlowTest, TheWatchAbortsOnTheSecondFailureOfOneWatch) {
  TEventCounter<SearchAbortedEvent> aborted;
  Run({[this] {
         CQuorelAppUi::StartSearch();
         m_app->ActivateView(4);
         CQuorelAppUi::PushHistory(2);
         CQuorelAppUi::PushHistory(4);
         m_app->ActivateView(8);
         // Failure, success, failure: a new watch with one failure.
         m_app->OnSearchStalled(0);
         m_app->OnSearchStalled(1);
         m_app->OnSearchStalled(0);
       },
       [&] {
         EXPECT_TRUE(Calls().empty());
         EXPECT_TRUE(m_app->IsWatchingSearch());
         EXPECT_NE(nullptr, CQuorelAppUi::Recorder());
         m_app->OnSearchStalled(0);
       },
       [] {}});
  EXPECT_EQ(Calls(), (TLog{"StopPreview", "ShowMessage 50 152"}));
  EXPECT_EQ(1u, aborted.payloads.size());
  EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
  EXPECT_EQ(2, m_lastView);
  EXPECT_EQ(0, CQuorelAppUi::CountHistory(4));
  EXPECT_FALSE(m_app->IsWatchingSearch());
}

TEST_F(SearchFlowTest, TheWatchGivesUpAfterThreeHundredTicks) {
  TEventCounter<SearchAbortedEvent> aborted;
  Run({[this] {
         m_app->ActivateView(12);
         m_app->OnSearchStalled(0);  // outside any search
         for (int i = 0; i < 300; ++i) m_app->OnSearchTick();
       },
       [&] {
         EXPECT_TRUE(Calls().empty());
         m_app->OnSearchTick();
       },
       [] {}});
  EXPECT_EQ(Calls(), (TLog{"StopPreview", "ShowMessage 50 152"}));
  EXPECT_TRUE(aborted.payloads.empty());
  EXPECT_EQ(2, m_lastView);
  // An idle watch counts nothing.
  for (int i = 0; i < 400; ++i) m_app->OnSearchTick();
  EXPECT_EQ(1u, CountCalls("ShowMessage 50 152"));
}

TEST_F(SearchFlowTest, ServerMessagesByTypeAndSilence) {
  struct Case {
    const char* type;
    bool bRequired;
    const char16_t* link;
    const char* shown;  // when not silent
    bool bShownSilent;
  } cases[] = {
      // Without an updater no check starts; the message shows all the same.
      {"checkForUpdate", false, u"http://x.test/", "S82|T|1|", false},
      {"CheckForUpdate", false, u"", "S82|T|1|", false},
      {"checkforupdate", false, u"", "S82|T|0|", false},
      {"exit", false, u"http://x.test/", "S82|T|1|", false},
      {"Exit", false, u"", "S82|T|1|", false},
      {"EXIT", true, u"http://x.test/", "S82|T|1|http://x.test/", false},
      {"serverMessage", false, u"", "S82|T|0|", true},
      {"ServerMessage", true, u"", "S82|T|1|", true},
      {"serverMessage", false, u"http://x.test/", "S83|T|0|http://x.test/", true},
      {"ServerMessage", true, u"http://x.test/", "S84|T|1|http://x.test/", true},
      {"servermessage", false, u"http://x.test/", "S82|T|0|http://x.test/", false},
      {"", true, u"", "S82|T|1|", false},
  };
  Run({[&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.type) + " " + plat::ToUtf8(c.link));
      TServerMessage message;
      message.m_type = plat::Widen(c.type);
      message.m_text = u"T";
      message.m_link = c.link;
      message.m_bRequired = c.bRequired;
      for (bool bSilent : {false, true}) {
        CQuorelAppUi::OutwardCalls().clear();
        CQuorelAppUi::ShowServerMessage(message, bSilent);
        TLog expected;
        if (!bSilent || c.bShownSilent) expected.push_back(std::string("ShowServerMessageView ") + c.shown);
        EXPECT_EQ(Calls(), expected) << bSilent;
      }
    }
  }});
}

TEST_F(SearchFlowTest, AFollowUpAfterAGrabSearchSendsNothing) {
  Run({[this] {
         *AppSettings::SavedSearchMode() = 1;
         m_app->ActivateView(4);
         CQuorelAppUi::PushHistory(2);
         CQuorelAppUi::PushHistory(4);
         Post<FollowUpSearchEvent>();
       },
       [] {}});
  EXPECT_EQ(12, m_lastView);
  EXPECT_TRUE(m_app->IsFollowUpRunning());
  EXPECT_EQ(0, CQuorelAppUi::CountHistory(4));
  EXPECT_EQ(1, CQuorelAppUi::CountHistory(2));
  EXPECT_EQ(Calls(), (TLog{"StopPreview"}));
}

TEST_F(SearchFlowTest, ProtocolCodeReachesTheApplicationWhileItLives) {
  TServerMessage message;
  message.m_type = u"serverMessage";
  message.m_text = u"Hello";
  Run({[&] {
    EXPECT_EQ(nullptr, AppHttpSession());  // no services started
    ShowServerMessage(message, true);
    ShowServerMessageView(u"C", u"T", false, u"");
  }});
  EXPECT_EQ(Calls(), (TLog{"ShowServerMessageView S82|Hello|0|", "ShowServerMessageView C|T|0|"}));
  m_app.reset();
  EXPECT_EQ(nullptr, InstalledAppServices());
}

}  // namespace
}  // namespace searchtest
