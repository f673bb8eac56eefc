// The application object on the headless device for the search flow's
// tests: a resource pack with the window's names, every UI string the flow
// shows as "S<id>", plain views 2, 4, 8, 12 and 16, the program's own loop
// driven step by step, and a fake recorder whose calls are logged.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ImageSource.h"
#include "app/QuorelAppUi.h"
#include "app/Updater.h"
#include "protocol/PreviewStore.h"
#include "framework/appui_test_support.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "net/HTTPSink.h"
#include "platform/module/Module.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/AppSettings.h"
#include "tests/support/Waits.h"

namespace searchtest {

using TLog = std::vector<std::string>;

class TPlainView : public CView {};
class TPlainFactory : public CViewFactory {
 public:
  CView* CreateView() override { return new TPlainView(); }
};

class TStringSource : public IStringSource {
 public:
  explicit TStringSource(int32_t id) : m_id(id) {}
  void Get(plat::WString& text) override { text = plat::Widen("S" + std::to_string(m_id)); }

 private:
  int32_t m_id;
};

// A memory sink holding `body`, as a recorder hands its reply over.
inline CHTTPSink* BodySink(const std::string& body) {
  auto* pSink = new CHTTPMemorySink();
  pSink->Begin(static_cast<int32_t>(body.size()), 200);
  pSink->Append(body.data(), static_cast<int32_t>(body.size()));
  return pSink;
}

// A recorder that logs what the flow asks of it.
struct TFakeRecorderScript {
  TLog* pLog = nullptr;
  int32_t startResult = 0;
  int32_t responseStatus = 200;
  bool bHasReply = true;
  std::string reply;
  int32_t elapsed = 0;  // hundredths of a second captured
};

class TFakeRecorder : public CSearchRecorder {
 public:
  explicit TFakeRecorder(TFakeRecorderScript* pScript) : m_pScript(pScript) {}
  ~TFakeRecorder() override { Log("deleted"); }
  int32_t Start(plat::WStringView url) override {
    Log("start " + plat::ToUtf8(url));
    return m_pScript->startResult;
  }
  void RequestStop() override { Log("request stop"); }
  void Stop() override { Log("stop"); }
  void TakeResponse(CHTTPSink*& pSink) override {
    Log("take");
    pSink = m_pScript->bHasReply ? BodySink(m_pScript->reply) : nullptr;
  }
  int32_t GetResponseStatus() override {
    Log("status");
    return m_pScript->responseStatus;
  }
  int32_t GetLevel() override { return 0; }
  int32_t GetElapsed() override { return m_pScript->elapsed; }

 private:
  void Log(const std::string& line) {
    if (m_pScript->pLog) m_pScript->pLog->push_back("recorder " + line);
  }
  TFakeRecorderScript* m_pScript;
};

// Fires event E with its payload through the application's queue.
template <class E>
void Post(const typename E::TPayload& payload = {}) {
  auto* pMessage = CEventFireMessage<E>::New();
  pMessage->Payload() = payload;
  CAppUi::Instance()->PostEvent(pMessage);
}

// Counts the events of type E fired while it lives.
template <class E>
class TEventCounter : public CEventListenerFor<E> {
 public:
  TEventCounter() { this->Subscribe(); }
  std::vector<typename E::TPayload> payloads;

 protected:
  void HandleEvent(const typename E::TPayload& payload) override { payloads.push_back(payload); }
};

class AppHarness : public ::testing::Test {
 public:
  // The harness's start: the test's own key, strings and settings, empty busy
  // frames; services only when asked.
  static bool HarnessStep(EStartStep step, bool bServices) {
    if (step == EStartStep::Images)
      for (int32_t slot = 139; slot <= 148; ++slot) CResources::RegisterImageSource(slot, new CEmptyImageSource());
    if (step == EStartStep::Options || step == EStartStep::UiStrings || step == EStartStep::Images ||
        step == EStartStep::Settings)
      return false;
    return bServices || step < EStartStep::Settings || step > EStartStep::AudioBuffer;
  }

 protected:
  static constexpr int32_t kUiStrings[] = {3, 7, 9, 14, 15, 44, 50, 51, 52, 53, 55, 56, 57, 58, 82, 83, 84, 221, 222, 223, 224, 225};

  // A device and an application with its views and strings; services and
  // listeners when asked.
  void MakeApp(bool bVirtualClock, bool bServices, THTTPCoreTimings timings = {},
               const std::function<void()>& beforeServices = {}) {
    plat::TestConfig config;
    config.virtualClock = bVirtualClock;
    if (m_screen.cx > 0) {
      config.screenWidth = m_screen.cx;
      config.screenHeight = m_screen.cy;
    }
    m_tp = std::make_unique<plat::TestPlatform>(config);
    apptest::WriteWindowPack(m_tp->DeviceRoot());
    m_hModule = plat::LoadLibrary(u"\\app.res");
    ASSERT_NE(m_hModule, nullptr);
    RegOpenAppKey();
    CQuorelAppUi::OutwardCalls().clear();
    m_app = std::make_unique<CQuorelAppUi>();
    m_bLoopRan = false;
    m_app->Init(m_hModule, plat::SW_SHOW);
    if (m_bTestStrings)
      for (int32_t id : kUiStrings) CResources::RegisterStringSource(id, new TStringSource(id));
    for (int32_t view : {2, 4, 8, 12, 16})
      m_app->RegisterView(view, m_makeFactory ? m_makeFactory(view) : new TPlainFactory());
    m_app->SetStartView(2);
    if (beforeServices) beforeServices();
    // The test's own strings and no images; services only when asked.
    CQuorelAppUi::SetStartStepHook([this, bServices](EStartStep step) {
      if (step == EStartStep::Images && m_registerImages) {
        m_registerImages();
        return false;
      }
      // Without the test's strings the language modules decide; without
      // settings of the test's own start-up makes the program's.
      if ((step == EStartStep::UiStrings && !m_bTestStrings) || (step == EStartStep::Settings && !m_settings))
        return true;
      return HarnessStep(step, bServices);
    });
    m_app->SetHTTPCoreTimings(timings);
    CQuorelAppUi::SetUpdateCheckOnStart(false);
    m_settings = std::make_unique<AppSettings>();
    SetSearchRecorderFactory([this] { return std::make_unique<TFakeRecorder>(&m_script); });
    m_script.pLog = &m_log;
  }

  void TearDown() override {
    CQuorelAppUi::SetStartStepHook({});
    CQuorelAppUi::SetUpdateCheckOnStart(true);
    SetSearchRecorderFactory(nullptr);
    m_app.reset();
    m_settings.reset();
    RegCloseAppKey();
    if (m_hModule) plat::FreeLibrary(m_hModule);
    m_hModule = nullptr;
    m_tp.reset();
  }

  bool m_bLoopRan = false;
  using TStep = std::function<void()>;
  // Runs the program's loop; each step runs when the loop would block, and
  // the loop quits after the last one.
  int Run(std::vector<TStep> steps) {
    // Shut-down ends the event queue: a second loop would post nothing.
    EXPECT_FALSE(m_bLoopRan) << "the application runs its loop once";
    m_bLoopRan = true;
    size_t next = 0;
    bool bQuit = false;
    m_tp->SetIdleHook([&] {
      if (m_until) {
        if (!m_until() && plat::GetTickCount() - m_untilStart < m_untilLimitMs) return false;
        m_until = nullptr;
      }
      if (next < steps.size()) {
        steps[next++]();
        return true;
      }
      if (!bQuit) {
        bQuit = true;
        m_lastView = m_app->GetActiveViewId();
        plat::PostQuitMessage(0);
      }
      return true;
    });
    // What shut-down ends, as it was when shut-down began.
    CQuorelAppUi::SetShutdownStepHook([this](const char* step) {
      if (std::string(step) != "closing") return;
      CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
      if (CQuorelAppUi::PreviewStore()) m_previewDir = CQuorelAppUi::PreviewStore()->Directory();
      m_updaterStateAtQuit = m_app->GetUpdater() ? m_app->GetUpdater()->State() : -1;
      m_openAtQuit = s_openAtQuit = pSession ? static_cast<int32_t>(pSession->OpenCount()) : -1;
    });
    if (m_onStop)
      CQuorelAppUi::SetShutdownStepHook([this](const char* step) { m_onStop(step); });
    int result = m_app->Run();
    CQuorelAppUi::SetShutdownStepHook({});
    m_tp->SetIdleHook({});
    return result;
  }
  // Lets the loop block (timers and other threads run) until the condition
  // holds or the limit passes. On the real clock the default only bounds a
  // hang: the server and the workers may be slow on a busy machine.
  TStep Until(std::function<bool()> condition, uint32_t limitMs = support::kHangMs) {
    return [this, condition, limitMs] {
      m_until = condition;
      m_untilStart = plat::GetTickCount();
      m_untilLimitMs = limitMs;
    };
  }

  static const TLog& Calls() { return CQuorelAppUi::OutwardCalls(); }
  // The controls the focus moves reach on the active view, in order.
  std::vector<CControl*> FocusStops() const {
    std::vector<CControl*> stops;
    CControl* pView = m_app->ActiveView();
    const int32_t nLayer = pView->Layer();
    for (CControl* p = pView->FindFirstFocusable(nLayer); p && (p == pView || pView->IsAncestorOf(p));
         p = p->FindNextFocusable(nLayer))
      stops.push_back(p);
    return stops;
  }
  // Answers every open message dialog with its right button, as a user
  // closing the message before going on would.
  static void DismissDialogs() {
    while (!CMessageDialog::OpenDialogs().empty()) CMessageDialog::OpenDialogs().back()->Answer(false);
  }
  static size_t CountCalls(const std::string& call) {
    size_t n = 0;
    for (const std::string& c : Calls()) n += c == call;
    return n;
  }
  static void SetLangCodes(std::vector<plat::WString> codes) { *AppSettings::LangCodes() = std::move(codes); }

  // Set before MakeApp: "S<id>" for the flow's strings (off: the language
  // modules start-up loads); the pictures (empty busy frames when unset).
  bool m_bTestStrings = true;
  std::function<void()> m_registerImages;

  std::unique_ptr<plat::TestPlatform> m_tp;
  plat::ModuleHandle m_hModule = nullptr;
  std::unique_ptr<CQuorelAppUi> m_app;
  std::unique_ptr<AppSettings> m_settings;  // the test's own, usable before Run
  TLog m_log;
  TFakeRecorderScript m_script;
  int32_t m_lastView = -1;
  // The session's open requests then (shut-down ends the session).
  int32_t m_openAtQuit = -1;
  int32_t m_updaterStateAtQuit = -1;
  std::function<void(const char*)> m_onStop;  // replaces the capture above when set
  plat::WString m_previewDir;  // the preview store's folder, kept after shut-down
  static inline int32_t s_openAtQuit = -1;  // the active view when the loop was told to quit
  SIZE m_screen{};  // the device's screen when set
  // The factory of a view, when the test has its own screens.
  std::function<CViewFactory*(int32_t)> m_makeFactory;
  std::function<bool()> m_until;
  uint32_t m_untilStart = 0;
  uint32_t m_untilLimitMs = 0;

};

}  // namespace searchtest
