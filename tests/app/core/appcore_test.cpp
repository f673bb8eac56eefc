// The application object: start-up and shut-down order and failures, the
// ways to quit, the busy indicator and its counters, soft keys and keys, the
// history and the event handlers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "AppHarness.h"
#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "framework/ActivityHold.h"
#include "framework/CtlSoftKeyBar.h"
#include "framework/CtlStatic.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/Launch.h"
#include "platform/ui/Ui.h"
#include "protocol/HTTPUserModel.h"

namespace searchtest {
namespace {

CDelegate Throwing() {
  return CDelegate(nullptr, nullptr, [](CDelegate*, void*, void*) { Env::ThrowError(Env::ErrSystem); });
}

// The code of the error `f` throws; 0 when it throws none.
int32_t Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const Env::TSysErrorCode& e) {
    return e.code;
  }
  return 0;
}

void Key(uint32_t vk, bool bDown) { plat::InjectKey(vk, bDown); }

class AppCoreTest : public AppHarness {
 protected:
  // The harness's application with every label the commands and menu use.
  void MakeCore(bool bVirtualClock, bool bServices) {
    MakeApp(bVirtualClock, bServices);
    for (int32_t id : {4, 5, 6, 8, 10, 11, 12, 13, 16, 17, 20, 21, 22, 25, 26, 28, 29, 30, 31, 46, 86})
      CResources::RegisterStringSource(id, new TStringSource(id));
    m_onStop = [this](const char* name) { m_stops.push_back(name); };
  }
  // Every start step is logged; `failAt` throws there.
  void LogSteps(bool bServices, int32_t failAt = 0) {
    CQuorelAppUi::SetStartStepHook([this, bServices, failAt](EStartStep step) {
      m_steps.push_back(static_cast<int32_t>(step));
      if (static_cast<int32_t>(step) == failAt) Env::ThrowError(Env::ErrSystem);
      return HarnessStep(step, bServices);
    });
  }
  size_t StopIndex(const std::string& name) const {
    return static_cast<size_t>(std::find(m_stops.begin(), m_stops.end(), name) - m_stops.begin());
  }
  int RunLoggingStops(std::vector<TStep> steps) { return Run(std::move(steps)); }
  std::vector<int32_t> m_steps;
  std::vector<std::string> m_stops;
  int32_t m_nLayer = 0;
};

// --- start and stop ----------------------------------------------------------

TEST_F(AppCoreTest, StartsEveryStepInOrderAndStopsPlayersRecorderThenHttp) {
  MakeCore(false, true);
  LogSteps(true);
  EXPECT_EQ(0, RunLoggingStops({[this] {
    EXPECT_NE(nullptr, CQuorelAppUi::HTTPCore());
    EXPECT_NE(nullptr, CQuorelAppUi::AudioBuffer());
    EXPECT_NE(nullptr, m_app->BusyIndicator());
    EXPECT_EQ(18u, m_app->BusyIndicator()->FrameCount());
  }}));
  std::vector<int32_t> expected(21);
  for (int32_t i = 0; i < 21; ++i) expected[static_cast<size_t>(i)] = i + 1;
  EXPECT_EQ(m_steps, expected);
  ASSERT_LT(StopIndex("http"), m_stops.size());
  EXPECT_LT(StopIndex("closing"), StopIndex("menu"));
  EXPECT_LT(StopIndex("updater"), StopIndex("indicator"));
  EXPECT_LT(StopIndex("players"), StopIndex("recorder"));
  EXPECT_LT(StopIndex("recorder"), StopIndex("http"));
  EXPECT_LT(StopIndex("http"), StopIndex("services"));
  EXPECT_EQ("languages", m_stops.back());
  // Between shut-down and destruction the accessors answer null.
  EXPECT_EQ(nullptr, CQuorelAppUi::HTTPCore());
  EXPECT_EQ(nullptr, CQuorelAppUi::HTTPSession());
  EXPECT_EQ(nullptr, CQuorelAppUi::AudioBuffer());
  EXPECT_EQ(nullptr, CQuorelAppUi::PreviewStore());
}

TEST_F(AppCoreTest, AFailureAtAnyStepEndsWithOneAfterStoppingWhatStarted) {
  for (int32_t failAt = 1; failAt <= 21; ++failAt) {
    SCOPED_TRACE(failAt);
    m_steps.clear();
    m_stops.clear();
    MakeCore(false, true);
    LogSteps(true, failAt);
    EXPECT_EQ(1, RunLoggingStops({}));
    EXPECT_EQ(failAt, m_steps.back());
    EXPECT_EQ("languages", m_stops.empty() ? "" : m_stops.back());
    EXPECT_EQ(nullptr, CQuorelAppUi::HTTPCore());
    TearDown();
  }
}

TEST_F(AppCoreTest, ADeviceWithoutPhoneLinesStarts) {
  MakeCore(true, false);
  bool bMonitorStep = false;
  CQuorelAppUi::SetStartStepHook([&](EStartStep step) {
    if (step == EStartStep::PhoneMonitor) {
      bMonitorStep = true;
      return true;  // the headless device has no cellular line
    }
    return HarnessStep(step, false);
  });
  EXPECT_EQ(0, Run({[this] { EXPECT_EQ(2, m_app->GetActiveViewId()); }}));
  EXPECT_TRUE(bMonitorStep);
  EXPECT_EQ(2, m_lastView);
}

TEST_F(AppCoreTest, TheWaysToQuitEndWithZero) {
  const struct {
    const char* name;
    std::function<void()> quit;
  } cases[] = {
      {"Exit", [] { CQuorelAppUi::Exit(); }},
      {"F4", [] { Key(plat::VK_F4, true), Key(plat::VK_F4, false); }},
      {"Escape on view 2", [] { Key(plat::VK_ESCAPE, true), Key(plat::VK_ESCAPE, false); }},
      {"window close", [] { plat::InjectClose(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeCore(true, false);
    m_lastView = -1;
    EXPECT_EQ(0, Run({c.quit, [] {}, [] {}}));
    EXPECT_EQ(-1, m_lastView);  // the program quit before the test did
    TearDown();
  }
}

TEST_F(AppCoreTest, NothingNavigatesOnceShutDownBegan) {
  MakeCore(true, false);
  std::vector<int32_t> viewsDuringShutdown;
  Run({[] { CQuorelAppUi::PushHistory(4); }});
  // The object is shut down: openers and Back only trace.
  CQuorelAppUi::OutwardCalls().clear();
  CQuorelAppUi::GoBack();
  CQuorelAppUi::GoBackTo(2);
  CQuorelAppUi::ShowResults();
  CQuorelAppUi::OpenHelp();
  CQuorelAppUi::ShowMessage(44, 152);
  CQuorelAppUi::ShowServerMessageView(u"c", u"t", false, u"");
  EXPECT_EQ(-1, m_app->GetActiveViewId());
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
}

// A program that runs for weeks keeps only its newest outward calls, and
// counts every one; a preview stopped with no object left counts too.
TEST_F(AppCoreTest, TheOutwardCallsKeepTheNewestAndCountThemAll) {
  CQuorelAppUi::OutwardCalls().clear();
  const uint64_t before = CQuorelAppUi::OutwardCallCount();
  const size_t kCalls = 3 * CQuorelAppUi::kKeptOutwardCalls + 7;
  for (size_t i = 0; i < kCalls; ++i) CQuorelAppUi::RecordOutwardCall("call " + std::to_string(i));
  CQuorelAppUi::StopPreview();
  const auto& calls = CQuorelAppUi::OutwardCalls();
  EXPECT_LE(calls.size(), CQuorelAppUi::kKeptOutwardCalls);
  EXPECT_GE(calls.size(), CQuorelAppUi::kKeptOutwardCalls / 2);
  EXPECT_EQ(calls.back(), "StopPreview");
  // Whatever is kept is the unbroken tail, oldest first.
  const size_t first = kCalls + 1 - calls.size();
  for (size_t i = 0; i + 1 < calls.size(); ++i) ASSERT_EQ(calls[i], "call " + std::to_string(first + i));
  EXPECT_EQ(CQuorelAppUi::OutwardCallCount() - before, kCalls + 1);
  CQuorelAppUi::OutwardCalls().clear();
}

// --- busy indicator ------------------------------------------------------------

TEST_F(AppCoreTest, TheIndicatorShowsWhileBusyAndNotQuiet) {
  MakeCore(true, false);
  const struct {
    std::function<void()> change;
    bool bShown;
    int32_t busy, quiet;
  } steps[] = {
      {[] { BeginBusy(), BeginBusy(), EndBusy(); }, true, 1, 0},
      {[] { BeginQuiet(); }, false, 1, 1},
      {[] { EndQuiet(); }, true, 1, 0},
      {[] { EndBusy(); }, false, 0, 0},
  };
  std::vector<TStep> run;
  for (const auto& s : steps) {
    run.push_back(s.change);
    run.push_back([&] {
      EXPECT_EQ(s.bShown, m_app->IsBusyIndicatorShown());
      EXPECT_EQ(s.busy, m_app->BusyCount());
      EXPECT_EQ(s.quiet, m_app->QuietCount());
    });
  }
  Run(run);
}

TEST_F(AppCoreTest, ARebuildRebindsTheFrameAndKeepsTheIndicatorsState) {
  MakeCore(true, false);
  Run({[] { BeginBusy(); },
       [this] {
         m_app->ReactivateView(2);
         CLayoutNode* pRoot = m_app->GetRootLayout();
         EXPECT_EQ(pRoot->FindNode(4, -1), m_app->SoftKeyBar(0)->LayoutNode());
         EXPECT_EQ(pRoot->FindNode(5, -1), m_app->SoftKeyBar(1)->LayoutNode());
         EXPECT_EQ(pRoot->FindNode(2, -1), m_app->SoftKeyPanel(0)->LayoutNode());
         EXPECT_EQ(pRoot->FindNode(3, -1), m_app->SoftKeyPanel(1)->LayoutNode());
         EXPECT_EQ(pRoot->FindNode(41, -1), m_app->BusyIndicator()->LayoutNode());
         EXPECT_TRUE(m_app->IsBusyIndicatorShown());
         EndBusy();
       }});
}

TEST_F(AppCoreTest, CountersFromFourThreadsLoseNothingEvenWhileShuttingDown) {
  MakeCore(false, false);
  std::atomic<bool> bStop{false};
  std::vector<std::thread> threads;
  auto work = [&] {
    while (!bStop) {
      ActivityHold hold;
      hold.HoldBusy();
      hold.HoldBusy();  // at most once per token
      hold.HoldQuiet();
      hold.ReleaseQuiet();
    }
  };
  auto start = [&] {
    bStop = false;
    for (int i = 0; i < 4; ++i) threads.emplace_back(work);
  };
  auto stop = [&] {
    bStop = true;
    for (std::thread& t : threads) t.join();
    threads.clear();
  };
  Run({start, Until([] { return false; }, 50),
       [&] {
         stop();
         // Balanced: every hold was released by its token.
         EXPECT_EQ(0, m_app->BusyCount());
         EXPECT_EQ(0, m_app->QuietCount());
       },
       // The last refresh is not lost.
       [this] { EXPECT_FALSE(m_app->IsBusyIndicatorShown()); },
       // Still changing the counters while the program shuts down.
       start});
  stop();
}

// --- commands, soft keys and keys -------------------------------------------------

TEST_F(AppCoreTest, CommandsAndSoftKeysRefuseWhatIsNotBound) {
  MakeCore(true, false);
  Run({[this] {
    EXPECT_EQ(Env::ErrAlreadyExists, Thrown([this] { m_app->BindCommand(14, 15, nullptr); }));
    EXPECT_EQ(Env::ErrNotFound, Thrown([] { CQuorelAppUi::SetLeftSoftKey(12); }));
    CQuorelAppUi::SetLeftSoftKey(4);
    CQuorelAppUi::SetRightSoftKey(14);
    EXPECT_EQ(u"S9", m_app->DisplayedSoftKeys().left.text);
    EXPECT_EQ(u"S15", m_app->DisplayedSoftKeys().right.text);
  }});
}

TEST_F(AppCoreTest, SoftKeysActOnReleaseAndOnlyWhileEnabled) {
  MakeCore(true, false);
  m_lastView = -1;
  EXPECT_EQ(0, Run({[] { CQuorelAppUi::SetLeftSoftKey(1); },  // Exit
                    [] { Key(plat::VK_F1, true); },
                    [this] {
                      EXPECT_EQ(2, m_app->GetActiveViewId());  // the press did nothing
                      m_app->ChangeModalCount(1);
                      CQuorelAppUi::SetLeftSoftKey(1);  // refreshes: both sides off
                      EXPECT_FALSE(m_app->IsLeftSoftKeyEnabled());
                      Key(plat::VK_F1, false);
                    },
                    [this] {
                      EXPECT_EQ(2, m_app->GetActiveViewId());  // disabled: nothing
                      m_app->ChangeModalCount(-1);
                      CQuorelAppUi::SetLeftSoftKey(1);
                      Key(plat::VK_F1, true);
                      Key(plat::VK_F1, false);
                    },
                    [] {}, [] {}}));
  EXPECT_EQ(-1, m_lastView);  // the release quit
}

// A Cancel label sounds as a cancel on either key; any other label sounds
// as a toolbar key on the left only.
TEST_F(AppCoreTest, SoftKeyFeedbackFollowsTheLabel) {
  MakeCore(true, false);
  apptest::WriteFeedbackFiles(m_tp->DeviceRoot(), {"button.ivt", "22_Cancel.wav", "03_Toolbar.wav"});
  using TPlayed = std::vector<std::string>;
  const TPlayed cancel{"v \\Windows\\button.ivt", "s 22_Cancel.wav"};
  const TPlayed toolbar{"v \\Windows\\button.ivt", "s 03_Toolbar.wav"};
  const struct {
    uint32_t key;
    int32_t command;  // 4 and 8 show UI string 9, 3 shows 5
    TPlayed played;
  } cases[] = {{plat::VK_F1, 4, cancel}, {plat::VK_F1, 3, toolbar}, {plat::VK_F2, 8, cancel}, {plat::VK_F2, 3, {}}};
  std::vector<TStep> steps;
  for (const auto& c : cases) {
    steps.push_back([&c] {
      CQuorelAppUi::SetLeftSoftKey(c.command);
      CQuorelAppUi::SetRightSoftKey(c.command);
      plat::ResetDeviceServices();
      Key(c.key, true);
      Key(c.key, false);
    });
    steps.push_back([&c] { EXPECT_EQ(apptest::PlayedFeedback(), c.played) << c.key << " " << c.command; });
  }
  Run(steps);
}

// Stopping asks only a recorder that runs, and only then shows the search.
TEST_F(AppCoreTest, StopRecordingNeedsARecorder) {
  MakeCore(true, false);
  Run({[this] {
    for (bool bRecording : {false, true}) {
      m_log.clear();
      if (bRecording) CQuorelAppUi::StartSearch();
      m_app->ActivateView(2);
      CQuorelAppUi::StopRecording();
      EXPECT_EQ(bRecording ? 12 : 2, m_app->GetActiveViewId()) << bRecording;
      EXPECT_EQ(bRecording ? 1 : 0, std::count(m_log.begin(), m_log.end(), "recorder request stop"));
    }
  }});
}

TEST_F(AppCoreTest, AnOverlayWithoutKeysKeepsTheKeysBelow) {
  MakeCore(true, false);
  Run({[this] {
    CQuorelAppUi::SetLeftSoftKey(0);
    CQuorelAppUi::SetRightSoftKey(8);  // view 12's Cancel
    auto* pOverlay = new CtlPanel();
    pOverlay->Create(m_app.get());
    m_app->SetChildLayer(pOverlay, 1);
    m_app->SetLayerSoftKeys(1, {});
    EXPECT_EQ(u"S9", m_app->DisplayedSoftKeys().right.text);
    CQuorelAppUi::TSoftKeySet own;
    own.left.text = u"Mine";
    m_app->SetLayerSoftKeys(1, own);
    EXPECT_EQ(u"Mine", m_app->DisplayedSoftKeys().left.text);
    EXPECT_TRUE(m_app->DisplayedSoftKeys().right.text.empty());
    delete pOverlay;
    m_app->EraseLayerSoftKeys(1);
    EXPECT_EQ(u"S9", m_app->DisplayedSoftKeys().right.text);
  }});
}

TEST_F(AppCoreTest, WithoutTheToolkitTheMenuStaysClosed) {
  MakeCore(true, false);
  Run({[this] {
    CQuorelAppUi::ToggleMenu();
    EXPECT_FALSE(m_app->IsMenuMode());
    // The visible items, in order.
    std::vector<int32_t> visible;
    for (const CListDialogItem* pItem : m_app->MenuDialog()->Items())
      if (pItem->IsVisible()) visible.push_back(pItem->Id());
    EXPECT_EQ(visible, (std::vector<int32_t>{3, 5, 6, 7, 9, 8, 10}));
    EXPECT_FALSE(m_app->FindMenuItem(5)->IsEnabled());
    CQuorelAppUi::SetPreviewMenuItem(true);
    EXPECT_EQ(21, m_app->FindMenuItem(0)->LabelId());
  }});
}

// A dialog on its own layer, as the modal dialogs will be.
class TDialog : public CtlPanel, public IDialogLayer {
 public:
  explicit TDialog(TLog* pLog) : m_pLog(pLog) { SetEnableStateRaw(EnableOn); }
  CControl* DialogControl() override { return this; }
  plat::WString GetLeftSoftKeyLabel() override { return m_left; }
  plat::WString GetRightSoftKeyLabel() override { return m_right; }
  void OnLeftSoftKey() override { m_pLog->push_back("dialog left"); }
  void OnRightSoftKey() override { m_pLog->push_back("dialog right"); }
  CDelegate* RelayoutDelegate() override { return &m_relayout; }
  void Relayout() { m_pLog->push_back("dialog relayout"); }
  TLog* m_pLog;
  plat::WString m_left = u"Yes", m_right = u"No";
  CDelegate m_relayout = CDelegate::Member<&TDialog::Relayout>(this);
};

TEST_F(AppCoreTest, ADialogsLayerShowsItsKeysDisabledWhileModalAndClosingRestoresLayerZero) {
  MakeCore(true, false);
  Run({[this] {
         CQuorelAppUi::SetLeftSoftKey(16);
         CQuorelAppUi::SetRightSoftKey(14);
         auto* pDialog = new TDialog(&m_log);
         pDialog->Create(m_app.get());
         m_app->ChangeModalCount(1);
         const int32_t nLayer = m_app->OnDialogShown(pDialog, 43);
         EXPECT_EQ(m_app->TopLayer(), nLayer);
         EXPECT_EQ(m_app->GetRootLayout()->FindNode(43, -1), pDialog->LayoutNode());
         EXPECT_EQ(u"Yes", m_app->DisplayedSoftKeys().left.text);
         EXPECT_EQ(u"No", m_app->DisplayedSoftKeys().right.text);
         EXPECT_FALSE(m_app->IsLeftSoftKeyEnabled());
         EXPECT_FALSE(m_app->IsRightSoftKeyEnabled());
         pDialog->m_right = u"Close";
         m_app->OnDialogSoftKeysChanged(pDialog);
         EXPECT_EQ(u"Close", m_app->DisplayedSoftKeys().right.text);
         // A rebuilt tree runs its relayout.
         m_log.clear();
         m_app->ReactivateView(2);
         EXPECT_EQ(1, std::count(m_log.begin(), m_log.end(), "dialog relayout"));
         delete pDialog;
         m_app->ChangeModalCount(-1);
         m_app->OnDialogClosed(nLayer);
         EXPECT_EQ(u"S16", m_app->DisplayedSoftKeys().left.text);
         EXPECT_EQ(u"S15", m_app->DisplayedSoftKeys().right.text);
         EXPECT_TRUE(m_app->IsLeftSoftKeyEnabled());
         EXPECT_TRUE(m_app->IsRightSoftKeyEnabled());
       }});
}

TEST_F(AppCoreTest, ANonModalDialogsSoftKeysRunItsOperations) {
  MakeCore(true, false);
  Run({[this] {
         auto* pDialog = new TDialog(&m_log);
         pDialog->Create(m_app.get());
         m_nLayer = m_app->OnDialogShown(pDialog, 43);
         m_log.clear();
         Key(plat::VK_F2, true);
         Key(plat::VK_F2, false);
       },
       [this] {
         EXPECT_EQ(m_log, (TLog{"dialog right"}));
         for (CControl* p = m_app->FirstChild(); p; p = p->NextSibling())
           if (auto* pDialog = dynamic_cast<TDialog*>(p)) {
             delete pDialog;
             break;
           }
         m_app->OnDialogClosed(m_nLayer);
       }});
}

// --- history --------------------------------------------------------------------

TEST_F(AppCoreTest, HistoryEntriesGoEvenWhenTheirDelegateThrows) {
  MakeCore(true, false);
  Run({[this] {
    const struct {
      const char* name;
      std::function<void()> op;
    } cases[] = {
        {"GoBack", [] { CQuorelAppUi::GoBack(); }},
        {"GoBackTo", [] { CQuorelAppUi::GoBackTo(4); }},
        {"CancelLastHistory", [] { CQuorelAppUi::CancelLastHistory(); }},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      CQuorelAppUi::PushHistory(4, Throwing(), {});
      EXPECT_EQ(Env::ErrSystem, Thrown(c.op));
      EXPECT_EQ(0u, m_app->HistorySize());
    }
  }});
}

TEST_F(AppCoreTest, OpenersRememberTheViewLeftExceptTheOnesThatNeverComeBack) {
  MakeCore(true, false);
  Run({[this] {
    m_app->ActivateView(4);
    CQuorelAppUi::OpenSearchLanguages();
    EXPECT_EQ(8, m_app->GetActiveViewId());
    EXPECT_EQ(1, CQuorelAppUi::CountHistory(4));
    CQuorelAppUi::BackOrCancelFollowUp();
    EXPECT_EQ(4, m_app->GetActiveViewId());
    EXPECT_EQ(0u, m_app->HistorySize());
    // No results page: results lead back to the start.
    CQuorelAppUi::ShowResults();  // on 4: nothing
    EXPECT_EQ(4, m_app->GetActiveViewId());
    m_app->ActivateView(8);
    CQuorelAppUi::ShowResults();
    EXPECT_EQ(2, m_app->GetActiveViewId());
  }});
}

TEST_F(AppCoreTest, LeavingTheUserViewsPopsTheUserModelsHistoryOnce) {
  MakeCore(true, false);
  // The settings' lists read their own strings.
  for (int32_t id = 87; id < 400; ++id)
    if (id < 221 || id > 225) CResources::RegisterStringSource(id, new TStringSource(id));
  m_settings->Init();
  for (int32_t view : {10, 11, 18, 22}) m_app->RegisterView(view, new TPlainFactory());
  const struct {
    const char* name;
    int32_t from;
    std::function<void()> open;
    size_t depthAfter;  // the model had one entry, as views 10 and 11 push
  } cases[] = {
      {"help from 10", 10, [] { CQuorelAppUi::OpenHelp(); }, 0},
      {"network from 11", 11, [] { CQuorelAppUi::OpenNetworkSelection(); }, 0},
      {"languages from 10", 10, [] { CQuorelAppUi::OpenSearchLanguages(); }, 0},
      {"server message on 11", 11, [] { CQuorelAppUi::ShowServerMessageView(u"c", u"t", false, u""); }, 0},
      {"help from 4", 4, [] { CQuorelAppUi::OpenHelp(); }, 1},
  };
  std::vector<TStep> steps;
  for (const auto& c : cases)
    steps.push_back([this, &c] {
      SCOPED_TRACE(c.name);
      CHTTPUserModel* pModel = AppSettings::GetUserModel();
      ASSERT_NE(nullptr, pModel);
      while (pModel->HistoryDepth() > 0) pModel->PopHistory();
      pModel->PushHistory();
      m_app->ActivateView(c.from);
      c.open();
      EXPECT_EQ(c.depthAfter, pModel->HistoryDepth());
      EXPECT_EQ(1, CQuorelAppUi::CountHistory(c.from));
      while (m_app->HistorySize() > 0) CQuorelAppUi::CancelLastHistory();
    });
  Run(steps);
}

// --- events ---------------------------------------------------------------------

TEST_F(AppCoreTest, HttpActivityHoldsTheBusyCounterOnce) {
  MakeCore(true, false);
  Run({[] { Post<HttpActivityEvent>(1), Post<HttpActivityEvent>(1); },
       [this] { EXPECT_EQ(1, m_app->BusyCount()); },
       [] { Post<HttpActivityEvent>(0); },
       [this] { EXPECT_EQ(0, m_app->BusyCount()); }});
}

TEST_F(AppCoreTest, PlayerStates) {
  MakeCore(true, false);
  Run({[] {
         CQuorelAppUi::OutwardCalls().clear();
         Post<PlayerStateEvent>(7);
       },
       [this] {
         EXPECT_EQ(Calls(), (TLog{"StopPreview", "ShowMessage 86 152"}));
         EXPECT_EQ(20, m_app->FindMenuItem(0)->LabelId());
         CQuorelAppUi::OutwardCalls().clear();
         m_app->ActivateView(16);
         Post<PlayerStateEvent>(7);  // the message screen reports it itself
         Post<PlayerStateEvent>(1);
       },
       [this] {
         EXPECT_TRUE(Calls().empty());
         EXPECT_EQ(21, m_app->FindMenuItem(0)->LabelId());
       }});
}

TEST_F(AppCoreTest, AnIncomingCallStopsThePreviewResetsTheRecorderScreenAndStopsTheRecorder) {
  MakeCore(true, false);
  TEventCounter<RecorderStateEvent> states;
  Run({[] {
         *AppSettings::SearchMode() = 0;
         CQuorelAppUi::StartSearch();
         CQuorelAppUi::OutwardCalls().clear();
         Post<IncomingCallEvent>(0);
       },
       [this] {
         EXPECT_EQ(Calls(), (TLog{"StopPreview"}));
         EXPECT_EQ(nullptr, CQuorelAppUi::Recorder());
         EXPECT_EQ(m_log.back(), "recorder deleted");
       },
       [] {}});
  EXPECT_EQ(states.payloads, (std::vector<int32_t>{7}));
}

TEST_F(AppCoreTest, OpenUrlHandsOverHttpLinksOnly) {
  MakeCore(true, false);
  plat::SetLaunchRecordingOnly(true);
  plat::ClearLaunches();
  // A buy or lyrics link from the server that names a package on the device
  // (the partial download an update leaves) must not reach its handler.
  const char16_t* const refused[] = {u"", u"file:///etc/passwd", u"\\Storage Card\\quorelstore\\update.cab"};
  Run({[&] {
    CQuorelAppUi::OpenUrl(u"https://quorel.test/help");
    for (const char16_t* url : refused) CQuorelAppUi::OpenUrl(url);
  }});
  std::vector<plat::LaunchRecord> launches = plat::Launches();
  plat::SetLaunchRecordingOnly(false);
  ASSERT_EQ(1u, launches.size());
  EXPECT_EQ(plat::SEE_MASK_NOCLOSEPROCESS, launches[0].mask);
  EXPECT_EQ(1, launches[0].show);
  EXPECT_EQ(plat::LaunchKind::Link, launches[0].kind);
  EXPECT_EQ(u"https://quorel.test/help", launches[0].file);
  const std::vector<std::string> lines = m_tp->DebugLines();
  EXPECT_EQ(std::size(refused),
            size_t(std::count(lines.begin(), lines.end(), "[QUOREL] Link refused: not an http or https link")));
}

}  // namespace
}  // namespace searchtest
