#include "app/QuorelAppUi.h"

#include <algorithm>
#include <set>

#include "app/ImageSource.h"
#include "app/LanguageTable.h"
#include "app/QuorelModalDialogs.h"
#include "app/Updater.h"
#include "audio/AudioServices.h"
#include "app/PreviewControl.h"
#include "framework/AppRegistry.h"
#include "framework/CtlSoftKeyBar.h"
#include "framework/CtlStatic.h"
#include "framework/DeviceIdentity.h"
#include "framework/Feedback.h"
#include "framework/PhoneLineMonitor.h"
#include "framework/Resources.h"
#include "framework/VyServices.h"
#include "layouts/Layouts.h"
#include "platform/shell/Launch.h"
#include "protocol/HTTPUserModel.h"
#include "framework/Trace.h"
#include "protocol/AppSettings.h"
#include "protocol/PreviewStore.h"
#include "protocol/SearchResults.h"
#include "protocol/UrlBuilder.h"

namespace {

// Views the search flow moves between.
enum : int32_t {
  ViewRecorder = 2,
  ViewResults = 4,
  ViewSearching = 12,
};

// Message dialogs: the recorder failed, the network was lost, the server's
// reply could not be read; their kind.
constexpr int32_t kMsgRecorderFailed = 44;
constexpr int32_t kMsgNetworkLost = 50;
constexpr int32_t kMsgServerFailed = 51;
constexpr int32_t kKindError = 152;
// Server message captions.
constexpr int32_t kCaptionPlain = 82;
constexpr int32_t kCaptionLink = 83;
constexpr int32_t kCaptionRequiredLink = 84;

// The watch gives up after this many 100 ms ticks without a success report.
constexpr int32_t kWatchTickLimit = 300;

// The reply body as (data, length): no sink, or a sink whose body is not
// readable, counts as an empty body. A reply that does not load leaves the
// results the user had.
bool LoadReply(CSearchResults& model, CHTTPSink* pSink) {
  const char* pData = pSink ? pSink->GetData() : nullptr;
  return model.LoadBufferOrKeep(pData ? pData : "", pData ? static_cast<size_t>(pSink->GetLength()) : 0);
}

std::string Utf8(plat::WStringView text) { return plat::ToUtf8(text); }

}  // namespace

CAppOptions::CAppOptions() {
  if (RegOpenAppKey() != 0) Env::ThrowError(Env::ErrSystem);
}
CAppOptions::~CAppOptions() { RegCloseAppKey(); }

namespace {

TStartStepHook& StartHook() {
  static TStartStepHook hook;
  return hook;
}
TShutdownStepHook& ShutdownHook() {
  static TShutdownStepHook hook;
  return hook;
}

// A delegate that runs a static operation.
template <void (*F)()>
CDelegate StaticDelegate() {
  return CDelegate(nullptr, nullptr, [](CDelegate*, void*, void*) { F(); });
}

constexpr int32_t kFrameColour = static_cast<int32_t>(0xFFA88011u);
// The busy indicator's frames: 139 up to 148 and back down to 140.
constexpr int32_t kBusyFirstFrame = 139;
constexpr int32_t kBusyLastFrame = 148;

uint64_t& OutwardCallTotal() {
  static uint64_t total = 0;
  return total;
}

void Record(const std::string& call) {
  DebugTrace(u"[QUOREL] %S\n", call);
  CQuorelAppUi::RecordOutwardCall(call);
}

}  // namespace

CQuorelAppUi::CQuorelAppUi() : m_preview(NewPreviewControl()) { InstallAppServices(&m_services); }

CQuorelAppUi::~CQuorelAppUi() {
  // Run's shut-down did all of this unless the object never ran.
  if (!m_bShuttingDown) {
    m_bShuttingDown = true;
    StopRecorder();
    if (m_audioBuffer) InstallAudioServices({});
    if (m_HTTPSession) m_HTTPSession->Release();
    if (m_HTTPCore) m_HTTPCore->Shutdown();
    if (m_resolver) m_resolver->Stop();
  }
  m_followUpRequest.Close();
  InstallActivitySink(nullptr);
  delete m_updater;
  delete m_HTTPSession;
  delete m_HTTPCore;
  delete m_previewStore;
  delete m_settings;
  if (m_bIdentity) CDeviceIdentity::Destroy();
  if (InstalledAppServices() == &m_services) InstallAppServices(nullptr);
}

CQuorelAppUi* CQuorelAppUi::App() { return dynamic_cast<CQuorelAppUi*>(CAppUi::Instance()); }

CQuorelAppUi& CQuorelAppUi::Menu() {
  CQuorelAppUi* pApp = App();
  if (!pApp) QUOREL_PANIC(u"QuorelAppUi", 1591);
  return *pApp;
}

void CQuorelAppUi::SetStartStepHook(TStartStepHook hook) { StartHook() = std::move(hook); }
void CQuorelAppUi::SetShutdownStepHook(TShutdownStepHook hook) { ShutdownHook() = std::move(hook); }

void CQuorelAppUi::StartStep(EStartStep step, const std::function<void()>& run) {
  if (StartHook() && !StartHook()(step)) return;
  run();
}

void CQuorelAppUi::ShutdownStep(const char* name, const std::function<void()>& run) {
  if (ShutdownHook()) ShutdownHook()(name);
  run();
}

// ---------------------------------------------------------------------------
// Start-up and shut-down.

void CQuorelAppUi::OnStart() {
  using S = EStartStep;
  StartStep(S::Options, [this] { m_options = std::make_unique<CAppOptions>(); });
  StartStep(S::UiStrings, [] { RegisterUiStrings(); });
  StartStep(S::Images, [] { RegisterImages(); });
  StartStep(S::Commands, [this] { BindAppCommands(); });
  StartServices();
  StartStep(S::LeftBar, [this] {
    m_leftBar = CtlSoftKeyBar::Create(this, CtlSoftKeyBar::ELeft);
    m_leftPanel = new CtlPanel();
    m_leftPanel->Create(this);
    m_leftPanel->SetColors(static_cast<TColor>(kFrameColour), static_cast<TColor>(kFrameColour));
  });
  StartStep(S::RightBar, [this] {
    m_rightBar = CtlSoftKeyBar::Create(this, CtlSoftKeyBar::ERight);
    m_rightPanel = new CtlPanel();
    m_rightPanel->Create(this);
    m_rightPanel->SetColors(static_cast<TColor>(kFrameColour), static_cast<TColor>(kFrameColour));
  });
  // The busy lock is a member: it exists from construction on.
  StartStep(S::BusyLock, [this] { InstallActivitySink(this); });
  StartStep(S::BusyIndicator, [this] {
    CtlAnimation* pIndicator = CtlAnimation::Create(this);
    for (int32_t id = kBusyFirstFrame; id <= kBusyLastFrame; ++id) pIndicator->AddFrame(id);
    for (int32_t id = kBusyLastFrame - 1; id > kBusyFirstFrame; --id) pIndicator->AddFrame(id);
    pIndicator->SetFrameInterval(1);
    pIndicator->Show(false);
    std::lock_guard<std::mutex> guard(m_busyLock);
    m_busyIndicator = pIndicator;
  });
  StartStep(S::InputThrough, [this] {
    SetInputThroughLayers(m_leftBar, true);
    SetInputThroughLayers(m_rightBar, true);
  });
  StartStep(S::SoftKeys, [this] {
    m_softKeySets[0] = TSoftKeySet{};
    m_softKeys = m_softKeySets[0];
  });
  StartStep(S::Listeners, [this] {
    m_appStartedListener.Subscribe();
    m_recorderStateListener.Subscribe();
    m_httpActivityListener.Subscribe();
    m_followUpListener.Subscribe();
    m_playerStateListener.Subscribe();
    m_networkStateListener.Subscribe();
    m_timerTickListener.Subscribe();
    m_incomingCallListener.Subscribe();
  });
  StartStep(S::OptionsMenu, [this] { BuildOptionsMenu(); });
}

void CQuorelAppUi::StartServices() {
  using S = EStartStep;
  StartStep(S::Settings, [this] {
    m_settings = new AppSettings();
    m_settings->Init();
  });
  StartStep(S::PhoneMonitor, [this] {
    m_phoneMonitor = std::make_unique<CPhoneLineMonitor>();
    try {
      m_phoneMonitor->Start();
    } catch (const Env::TSysErrorCode& e) {
      // A device without phone lines still runs; the monitor closes what it
      // opened when it goes.
      DebugTrace(u"[QUOREL] No phone line to watch (error %d)\n", e.code);
    }
  });
  StartStep(S::Identity, [this] {
    CDeviceIdentity::Create();
    m_bIdentity = true;
  });
  StartStep(S::PreviewStore, [this] { m_previewStore = new ::PreviewStore(); });
  StartStep(S::Resolver, [this] {
    m_resolver = std::make_unique<CDNSResolver>();
    if (!m_resolver->Start()) Env::ThrowError(Env::ErrSystem);
  });
  StartStep(S::HTTPCore, [this] {
    m_HTTPCore = new CHTTPCore(m_coreTimings);
    if (!m_HTTPCore->StartThread()) Env::ThrowError(Env::ErrSystem);
  });
  StartStep(S::HTTPSession, [this] { m_HTTPSession = CHTTPSession::Create(m_HTTPCore); });
  StartStep(S::Updater, [this] { m_updater = Updater::Create(); });
  StartStep(S::AudioBuffer, [this] {
    m_audioBuffer = std::make_unique<uint8_t[]>(kSharedAudioBufferSize);
    InstallServices();
  });
}

void CQuorelAppUi::InstallServices() {
  TAudioServices audio;
  audio.httpCore = [this] { return m_HTTPCore; };
  audio.audioBuffer = [this] { return m_audioBuffer.get(); };
  audio.searchMode = [] { return GetAppSettings() ? *AppSettings::SearchMode() : 0; };
  audio.maxSearchSeconds = [] { return MaxSearchLengthSeconds(); };
  InstallAudioServices(std::move(audio));
  // One installed already (a test's) is kept.
  if (!HasSearchRecorderFactory()) SetSearchRecorderFactory(&NewAudioSearchRecorder);
}

void CQuorelAppUi::OnShutdown() {
  m_bShuttingDown = true;
  ShutdownStep("closing", [this] { SetClosingTree(); });
  ShutdownStep("listeners", [this] {
    m_networkStateListener.Unsubscribe();
    m_playerStateListener.Unsubscribe();
    m_httpActivityListener.Unsubscribe();
    m_recorderStateListener.Unsubscribe();
    m_followUpListener.Unsubscribe();
  });
  ShutdownStep("menu", [this] {
    CListDialog* pMenu = nullptr;
    std::swap(pMenu, m_menu);
    delete pMenu;
  });
  ShutdownStep("updater", [this] {
    delete m_updater;
    m_updater = nullptr;
  });
  // The updater closed its own; these are the rest.
  ShutdownStep("dialogs", [] { CMessageDialog::CloseAll(); });
  ShutdownStep("indicator", [this] {
    CtlAnimation* pIndicator = nullptr;
    {
      std::lock_guard<std::mutex> guard(m_busyLock);
      std::swap(pIndicator, m_busyIndicator);
    }
    delete pIndicator;
  });
  ShutdownStep("players", [this] {
    if (m_preview) m_preview->Shutdown();
    m_preview.reset();
  });
  ShutdownStep("recorder", [] { StopRecorder(); });
  ShutdownStep("http", [this] {
    if (m_audioBuffer) InstallAudioServices({});
    if (m_HTTPSession) m_HTTPSession->Release();
    if (m_HTTPCore) m_HTTPCore->Shutdown();
    if (m_resolver) m_resolver->Stop();
  });
  ShutdownStep("identity", [this] {
    if (m_bIdentity) CDeviceIdentity::Destroy();
    m_bIdentity = false;
    m_phoneMonitor.reset();
  });
  ShutdownStep("follow-up", [this] { m_followUpRequest.Close(); });
  ShutdownStep("audio buffer", [this] { m_audioBuffer.reset(); });
  ShutdownStep("services", [this] {
    delete m_HTTPSession;
    m_HTTPSession = nullptr;
    delete m_HTTPCore;
    m_HTTPCore = nullptr;
    m_resolver.reset();
    delete m_previewStore;
    m_previewStore = nullptr;
  });
  ShutdownStep("frame", [this] {
    delete m_rightPanel;
    m_rightPanel = nullptr;
    delete m_leftPanel;
    m_leftPanel = nullptr;
    delete m_rightBar;
    m_rightBar = nullptr;
    delete m_leftBar;
    m_leftBar = nullptr;
  });
  ShutdownStep("options", [this] { m_options.reset(); });
  ShutdownStep("rest", [this] {
    m_appStartedListener.Unsubscribe();
    m_timerTickListener.Unsubscribe();
    m_incomingCallListener.Unsubscribe();
  });
  ShutdownStep("languages", [] { FreeLanguageModules(); });
}

CHTTPCore* CQuorelAppUi::HTTPCore() { return App() ? App()->m_HTTPCore : nullptr; }
CHTTPSession* CQuorelAppUi::HTTPSession() { return App() ? App()->m_HTTPSession : nullptr; }
uint8_t* CQuorelAppUi::AudioBuffer() { return App() ? App()->m_audioBuffer.get() : nullptr; }
CAppOptions* CQuorelAppUi::Options() { return App() ? App()->m_options.get() : nullptr; }
::PreviewStore* CQuorelAppUi::PreviewStore() { return App() ? App()->m_previewStore : nullptr; }
CSearchRecorder* CQuorelAppUi::Recorder() { return App() ? App()->m_recorder.get() : nullptr; }

// ---------------------------------------------------------------------------
// Frame and busy indicator.

void CQuorelAppUi::OnLayoutTreeCreated(CLayoutNode* pRoot) {
  BuildAppFrameLayout(pRoot);
  const std::pair<int32_t, CControl*> bindings[] = {
      {4, m_leftBar}, {5, m_rightBar}, {2, m_leftPanel}, {3, m_rightPanel}, {41, m_busyIndicator}};
  for (const auto& [nNode, pControl] : bindings)
    if (pControl) pControl->SetLayoutNode(pRoot->FindNode(nNode, -1));
  if (m_busyIndicator) m_busyIndicator->BringToFront();
  RefreshBusyIndicator();
  m_layoutListeners.Invoke();
}

void CQuorelAppUi::BeginBusy() { ChangeCounters(1, 0); }
void CQuorelAppUi::EndBusy() { ChangeCounters(-1, 0); }
void CQuorelAppUi::BeginQuiet() { ChangeCounters(0, 1); }
void CQuorelAppUi::EndQuiet() { ChangeCounters(0, -1); }

void CQuorelAppUi::ChangeCounters(int32_t nBusy, int32_t nQuiet) {
  std::lock_guard<std::mutex> guard(m_busyLock);
  if (!m_busyIndicator) return;
  m_busyCount += nBusy;
  m_quietCount += nQuiet;
  // One refresh however many changes come before it runs.
  Queue().UpdateAndPost(&m_busyRefresh, [] {});
}

void CQuorelAppUi::RefreshBusyIndicator() {
  bool bShow = false;
  CtlAnimation* pIndicator = nullptr;
  {
    std::lock_guard<std::mutex> guard(m_busyLock);
    pIndicator = m_busyIndicator;
    bShow = m_busyCount > 0 && m_quietCount < 1;
  }
  // Without a layout node the binding applies the state later.
  if (!pIndicator || !pIndicator->LayoutNode()) return;
  m_bBusyShown = bShow;
  pIndicator->Show(bShow);
}

bool CQuorelAppUi::IsBusyIndicatorShown() const { return m_busyIndicator && m_bBusyShown; }
int32_t CQuorelAppUi::BusyCount() const {
  std::lock_guard<std::mutex> guard(m_busyLock);
  return m_busyCount;
}
int32_t CQuorelAppUi::QuietCount() const {
  std::lock_guard<std::mutex> guard(m_busyLock);
  return m_quietCount;
}

// ---------------------------------------------------------------------------
// Search flow.

namespace {
// News the application posts about its current search (a cancel, an error,
// an abort): still queued when the user starts the next search, it must not
// cancel that one or stop its recorder.
template <class E>
class CSearchNewsMessage : public CEventFireMessage<E> {
 public:
  explicit CSearchNewsMessage(uint32_t nSearch) : m_nSearch(nSearch) {}
  void Dispatch() override {
    if (m_nSearch == CQuorelAppUi::SearchCount()) CEventFireMessage<E>::Dispatch();
  }

 private:
  uint32_t m_nSearch;
};

template <class E>
void PostSearchNews(CQuorelAppUi* pApp, const typename E::TPayload& payload = {}) {
  if (!pApp) return;
  auto* pMessage = new CSearchNewsMessage<E>(CQuorelAppUi::SearchCount());
  pMessage->Payload() = payload;
  if (!pApp->PostEvent(pMessage)) delete pMessage;
}
}  // namespace

uint32_t CQuorelAppUi::SearchCount() {
  CQuorelAppUi* pApp = App();
  return pApp ? pApp->m_searchCount : 0;
}

void CQuorelAppUi::PostRecorderState(int32_t state) { PostSearchNews<RecorderStateEvent>(App(), state); }

void CQuorelAppUi::StartSearch() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  StopRecorder();
  EndFollowUp();
  ++pApp->m_searchCount;
  pApp->m_recorder = NewSearchRecorder();
  const int32_t mode = *AppSettings::SearchMode();
  const bool bKnownMode = mode == 0 || mode == 1;
  // A search that cannot start says so: the recorder screen cancels on 8.
  if (!pApp->m_recorder || !bKnownMode) {
    PostRecorderState(8);
    return;
  }
  const std::vector<plat::WString>& codes = *AppSettings::LangCodes();
  plat::WString url = CUrlBuilder(ServerBaseUrl(mode == 0 ? kSingBaseValue : kGrabBaseValue), kMethodSearch, UrlModeV2)
                          .AddParam(kParamType, mode == 0 ? kSearchTypeSinging : kSearchTypeGrabbing)
                          .AddParam(kParamLang, codes.empty() ? plat::WString() : codes.front())
                          .GetUrl();
  if (pApp->m_recorder->Start(url) != 0) PostRecorderState(8);
}

// A follow-up still fetching belongs to the results being left: its reply
// would pull the user off the recorder screen, mid-recording or before it.
void CQuorelAppUi::EndFollowUp() {
  CQuorelAppUi* pApp = App();
  if (!pApp || !pApp->m_followUpRunning) return;
  pApp->m_followUpRunning = false;
  pApp->m_followUpRequest.Close();
}

void CQuorelAppUi::StopRecorder() {
  CQuorelAppUi* pApp = App();
  if (!pApp || !pApp->m_recorder) return;
  pApp->m_recorder->Stop();
  pApp->m_recorder.reset();
}

void CQuorelAppUi::CancelUpdate() {
  if (CQuorelAppUi* pApp = App(); pApp && pApp->m_updater) pApp->m_updater->Cancel();
}

CDelegate CQuorelAppUi::MakeSearchReplyDelegate() { return CDelegate::Member<&CQuorelAppUi::OnSearchResultReply>(this); }

void CQuorelAppUi::OnRecorderState(const int32_t& state) {
  switch (state) {
    case 4: {
      DebugTrace(u"[QUOREL] Recorder got responce from server\n");
      if (!m_recorder) return;
      const int32_t httpStatus = m_recorder->GetResponseStatus();
      CHTTPSink* pSink = nullptr;
      m_recorder->TakeResponse(pSink);
      // Recording and playback never overlap: the reply ends the recorder.
      StopRecorder();
      CSearchResults& model = *AppSettings::GetResultModel();
      const bool bLoaded = LoadReply(model, pSink);
      DisposeOwnedSink(pSink);
      if (!bLoaded) {
        TServerMessage message;
        if (GetShowableServerError(message)) {
          ShowServerMessage(message, false);
          return;
        }
        if (httpStatus >= 300) {
          PostRecorderState(8);
          return;
        }
        // A reply the program cannot read is no "Nothing found": the user
        // should try again later, not sing again.
        ShowMessage(kMsgServerFailed, kKindError);
        if (GetActiveViewId() == ViewSearching) GoBack();
        return;
      }
      *AppSettings::SavedSearchMode() = *AppSettings::SearchMode();
      *AppSettings::LangIndex() = 0;
      ShowPreviewMenuItem(false);
      ActivateView(ViewResults);
      return;
    }
    case 5:
    case 6: {
      auto* pMessage = CEventFireMessage<NetworkStateEvent>::New();
      pMessage->Payload() = state == 6 ? 1 : 0;
      if (!PostEvent(pMessage)) delete pMessage;
      if (state == 6 && !IsForeground()) PostSearchNews<SearchAbortedEvent>(this);
      return;
    }
    case 8:
      ShowMessage(kMsgRecorderFailed, kKindError);
      StopRecorder();
      if (GetActiveViewId() == ViewSearching) GoBack();
      return;
    default:
      return;
  }
}

void CQuorelAppUi::RequestSearchResult() {
  StopPreview();
  m_followUpRunning = true;
  CancelLastHistory();
  ActivateView(ViewSearching);
  if (*AppSettings::SavedSearchMode() != 0) return;
  const std::vector<plat::WString>& codes = *AppSettings::LangCodes();
  const int32_t index = *AppSettings::LangIndex();
  plat::WString lang = index >= 0 && static_cast<size_t>(index) < codes.size() ? codes[static_cast<size_t>(index)]
                                                                              : plat::WString();
  plat::WString url = CUrlBuilder(ServerBaseUrl(kSingBaseValue), kMethodSearch, UrlModeV2)
                          .AddParam(kParamSearchId, AppSettings::GetResultModel()->SearchId())
                          .AddParam(kParamLang, lang)
                          .GetUrl();
  try {
    if (!m_HTTPSession || !m_HTTPSession->Core()) throw Env::TSysErrorCode{Env::ErrSystem};
    m_followUpRequest.Open(m_HTTPSession, EHttpGet, url);
  } catch (const Env::TSysErrorCode&) {
    EndFollowUpWithError();
    return;
  }
  m_followUpRequest.SetCallback(MakeSearchReplyDelegate());
  m_followUpRequest.Start();
}

void CQuorelAppUi::EndFollowUpWithError() {
  m_followUpRequest.Close();
  m_followUpRunning = false;
  ActivateView(ViewRecorder);
}

void CQuorelAppUi::OnSearchResultReply() {
  const int32_t code = m_followUpRequest.LastStatus();
  if (code == EHttpSessionEnded) {
    // Shut-down: the views are going, nothing is shown.
    m_followUpRequest.Close();
    m_followUpRunning = false;
    return;
  }
  if (code >= EHttpLookupFailed || (code == EHttpHeadersDone && m_followUpRequest.GetStatus() >= 300)) {
    EndFollowUpWithError();
    return;
  }
  if (code != EHttpComplete) return;
  m_followUpRequest.Close();
  if (m_followUpRunning) {
    if (!LoadReply(*AppSettings::GetResultModel(), m_followUpRequest.BodySink())) {
      TServerMessage message;
      if (GetShowableServerError(message)) {
        ShowServerMessage(message, false);
        return;
      }
      EndFollowUpWithError();
      ShowMessage(kMsgServerFailed, kKindError);
      return;
    }
    ActivateView(ViewResults);
  }
  m_followUpRunning = false;
}

void CQuorelAppUi::OnSearchStalled(const uint8_t& ok) {
  if (ok) {
    m_searchWatch = false;
    return;
  }
  if (!m_searchWatch) {
    m_searchWatch = true;
    m_watchTicks = 0;
    m_networkFailures = 0;
  }
  if (++m_networkFailures >= 2) AbortSearch(true);
}

void CQuorelAppUi::OnSearchTick() {
  if (!m_searchWatch) return;
  if (++m_watchTicks > kWatchTickLimit) AbortSearch(false);
}

void CQuorelAppUi::AbortSearch(bool bPostAborted) {
  m_searchWatch = false;
  m_watchTicks = 0;
  m_networkFailures = 0;
  StopRecorder();
  StopPreview();
  if (bPostAborted) PostSearchNews<SearchAbortedEvent>(this);
  if (m_updater) m_updater->Cancel();
  GoBackTo(ViewRecorder);
  ShowMessage(kMsgNetworkLost, kKindError);
}

void CQuorelAppUi::ShowServerMessage(const TServerMessage& message, bool bSilent) {
  CQuorelAppUi* pApp = App();
  const plat::WString& type = message.m_type;
  const bool bCheck = message.IsCheckForUpdate();
  const bool bExit = message.IsExit();
  const bool bServerMessage = type == u"serverMessage" || type == u"ServerMessage";
  // A silent message of any other type starts nothing: a check reply's
  // error comes silent, and a silent check that checked again would loop.
  if (bSilent && !bServerMessage) return;
  int32_t caption = kCaptionPlain;
  bool bRequired = message.m_bRequired != 0;
  plat::WString link = message.m_link;
  if (bCheck || bExit) {
    bRequired = true;
    link.clear();
    if (bCheck && pApp && pApp->m_updater) pApp->m_updater->CheckForUpdate(0);
  } else if (bServerMessage && !link.empty()) {
    caption = bRequired ? kCaptionRequiredLink : kCaptionLink;
  }
  ShowServerMessageView(CResources::GetString(caption), message.m_text, bRequired, link);
}

// ---------------------------------------------------------------------------
// Navigation history.

bool CQuorelAppUi::Navigating() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return false;
  if (pApp->m_bShuttingDown) {
    DebugTrace(u"[QUOREL] Shutting down: no navigation\n");
    return false;
  }
  return true;
}

void CQuorelAppUi::GoToView(int32_t nViewId, bool bReactivate) {
  if (!Navigating()) return;
  if (bReactivate)
    ReactivateView(nViewId);
  else
    ActivateView(nViewId);
}

void CQuorelAppUi::PushHistory(int32_t nViewId, const CDelegate& back, const CDelegate& cancel) {
  if (CQuorelAppUi* pApp = App()) pApp->m_history.push_back(THistoryEntry{nViewId, back, cancel});
}

void CQuorelAppUi::PushActiveView() {
  const int32_t nActive = GetActiveViewId();
  if (nActive == 10 || nActive == 11) {
    CHTTPUserModel* pModel = AppSettings::GetUserModel();
    if (pModel && pModel->HistoryDepth() > 0) pModel->PopHistory();
  }
  PushHistory(nActive);
}

namespace {
// Removes the newest entry when it goes out of scope, also when its delegate
// threw.
struct TPopNewest {
  std::list<CQuorelAppUi::THistoryEntry>& history;
  ~TPopNewest() {
    if (!history.empty()) history.pop_back();
  }
};
}  // namespace

void CQuorelAppUi::GoBack() {
  if (!Navigating()) return;
  CQuorelAppUi* pApp = App();
  if (pApp->m_history.empty()) {
    pApp->GoToView(ViewRecorder);
    return;
  }
  THistoryEntry entry = pApp->m_history.back();
  {
    TPopNewest pop{pApp->m_history};
    entry.back.Call();
  }
  pApp->GoToView(entry.nViewId);
}

void CQuorelAppUi::GoBackTo(int32_t nViewId) {
  if (!Navigating()) return;
  CQuorelAppUi* pApp = App();
  for (;;) {
    if (pApp->m_history.empty()) {
      pApp->GoToView(ViewRecorder);
      return;
    }
    THistoryEntry entry = pApp->m_history.back();
    {
      TPopNewest pop{pApp->m_history};
      if (!entry.cancel.Call()) entry.back.Call();
    }
    if (entry.nViewId == nViewId) {
      pApp->GoToView(nViewId);
      return;
    }
  }
}

void CQuorelAppUi::CancelLastHistory() {
  CQuorelAppUi* pApp = App();
  if (!pApp || pApp->m_history.empty()) return;
  THistoryEntry entry = pApp->m_history.back();
  TPopNewest pop{pApp->m_history};
  if (!entry.cancel.Call()) entry.back.Call();
}

int32_t CQuorelAppUi::CountHistory(int32_t nViewId) {
  CQuorelAppUi* pApp = App();
  if (!pApp) return 0;
  int32_t count = 0;
  for (const THistoryEntry& entry : pApp->m_history) count += entry.nViewId == nViewId;
  return count;
}

std::vector<int32_t> CQuorelAppUi::HistoryViews() const {
  std::vector<int32_t> views;
  for (const THistoryEntry& entry : m_history) views.push_back(entry.nViewId);
  return views;
}

// ---------------------------------------------------------------------------
// Commands and soft keys.

void CQuorelAppUi::BindCommand(int32_t nId, int32_t nLabelId, void (*action)()) {
  if (m_commands.count(nId)) Env::ThrowError(Env::ErrAlreadyExists);
  m_commands[nId] = TCommand{nLabelId, action};
}

void CQuorelAppUi::BindAppCommands() {
  const struct {
    int32_t nId, nLabel;
    void (*action)();
  } table[] = {
      {0, 0, nullptr},
      {1, 3, &Exit},
      {2, 4, &OpenSettings},
      {3, 5, &BackOrCancelFollowUp},
      {4, 9, &BackOrCancelFollowUp},
      {5, 6, &StopRecording},
      {6, 7, &BackOrHelpEvent},
      {7, 8, &PostHelpEvent},
      {8, 9, &BackOrCancelFollowUp},
      {9, 10, &OpenSearchLanguages},
      {10, 11, &PreviewCommand},
      {11, 12, &PreviewCommand},
      {13, 13, &PostMessageCommand},
      {14, 15, &ToggleMenu},
      {15, 9, &CancelRecording},
      {16, 16, &StartGrabSearch},
      {17, 17, &StartSingSearch},
  };
  for (const auto& c : table) BindCommand(c.nId, c.nLabel, c.action);
}

void CQuorelAppUi::SetSoftKey(bool bLeft, int32_t nCommandId) {
  CQuorelAppUi& app = Menu();
  auto it = app.m_commands.find(nCommandId);
  if (it == app.m_commands.end()) Env::ThrowError(Env::ErrNotFound);
  TSoftKey& key = bLeft ? app.m_softKeySets[0].left : app.m_softKeySets[0].right;
  key = TSoftKey{};
  if (it->second.nLabelId) key.text = CResources::GetString(it->second.nLabelId);
  key.action = it->second.action;
  app.OnOptionsMenuClosed(app.TopLayer(), app.TopShownLayer());
}

void CQuorelAppUi::SetLeftSoftKey(int32_t nCommandId) { SetSoftKey(true, nCommandId); }
void CQuorelAppUi::SetRightSoftKey(int32_t nCommandId) { SetSoftKey(false, nCommandId); }

void CQuorelAppUi::SetLayerSoftKeys(int32_t nLayer, const TSoftKeySet& set) {
  m_softKeySets[nLayer] = set;
  OnOptionsMenuClosed(TopLayer(), TopShownLayer());
}

void CQuorelAppUi::EraseLayerSoftKeys(int32_t nLayer) {
  if (nLayer != 0) m_softKeySets.erase(nLayer);
  OnOptionsMenuClosed(TopLayer(), TopShownLayer());
}

namespace {
void FillDialogSoftKeys(IDialogLayer* pDialog, CQuorelAppUi::TSoftKeySet& set) {
  set = CQuorelAppUi::TSoftKeySet{};
  set.left.text = pDialog->GetLeftSoftKeyLabel();
  set.right.text = pDialog->GetRightSoftKeyLabel();
  if (pDialog->HasSoftKeyAction(true))
    set.left.dialogAction = CDelegate(pDialog, nullptr, [](CDelegate*, void* p, void*) {
      static_cast<IDialogLayer*>(p)->OnLeftSoftKey();
    });
  if (pDialog->HasSoftKeyAction(false))
    set.right.dialogAction = CDelegate(pDialog, nullptr, [](CDelegate*, void* p, void*) {
      static_cast<IDialogLayer*>(p)->OnRightSoftKey();
    });
}
}  // namespace

int32_t CQuorelAppUi::OnDialogShown(IDialogLayer* pDialog, int32_t nNodeId) {
  if (CDelegate* pRelayout = pDialog->RelayoutDelegate(); pRelayout && !pRelayout->IsLinked())
    m_layoutListeners.Add(pRelayout);
  CControl* pControl = pDialog->DialogControl();
  CLayoutNode* pRoot = GetRootLayout();
  pControl->SetLayoutNode(pRoot ? pRoot->FindNode(nNodeId, -1) : nullptr);
  const int32_t nLayer = TopLayer() + 1;
  m_softKeySets[nLayer] = TSoftKeySet{};
  SetChildLayer(pControl, nLayer);
  FillDialogSoftKeys(pDialog, m_softKeySets[nLayer]);
  if (!pDialog->IsOptionsMenu()) SetMenuMode(false);
  OnOptionsMenuClosed(TopLayer(), TopShownLayer());
  PostFocusRestore();
  // A control takes its node's rectangle only in a pass.
  PostRelayout();
  return nLayer;
}

void CQuorelAppUi::OnDialogSoftKeysChanged(IDialogLayer* pDialog) {
  const int32_t nLayer = pDialog->DialogControl()->Layer();
  FillDialogSoftKeys(pDialog, m_softKeySets[nLayer]);
  OnOptionsMenuClosed(TopLayer(), TopShownLayer());
}

void CQuorelAppUi::OnDialogClosed(int32_t nLayer) { EraseLayerSoftKeys(nLayer); }

void CQuorelAppUi::OnOptionsMenuClosed(int32_t nTop, int32_t nTopShown) {
  (void)nTop;
  // In menu mode layer 0's set; otherwise the highest shown layer's set that
  // has something on either side, so an overlay without keys never blanks the
  // keys below it.
  if (IsMenuMode()) {
    m_softKeys = m_softKeySets[0];
  } else {
    m_softKeys = m_softKeySets[0];
    for (int32_t nLayer = nTopShown; nLayer > 0; --nLayer) {
      auto it = m_softKeySets.find(nLayer);
      // A hidden layer (the options menu while closed) has no say.
      if (it != m_softKeySets.end() && IsLayerShown(nLayer) && (it->second.left.IsSet() || it->second.right.IsSet())) {
        m_softKeys = it->second;
        break;
      }
    }
  }
  RefreshSoftKeys();
  if (IsMenuMode()) {
    m_bLeftEnabled = false;
    m_bRightEnabled = true;
  } else if (m_modalCount > 0) {
    m_bLeftEnabled = m_bRightEnabled = false;
  } else {
    m_bLeftEnabled = m_bRightEnabled = true;
  }
  EnableSoftKeys(m_bLeftEnabled, m_bRightEnabled);
}

bool CQuorelAppUi::IsLayerShown(int32_t nLayer) const {
  for (const CControl* p = FirstChild(); p; p = p->NextSibling())
    if (p->Layer() == nLayer && p->IsVisible() && !p->IsClosing()) return true;
  return false;
}

void CQuorelAppUi::RefreshSoftKeys() {
  if (m_leftBar) m_leftBar->SetText(m_softKeys.left.text);
  if (m_rightBar) m_rightBar->SetText(m_softKeys.right.text);
  SetLeftSoftkeyText(m_softKeys.left.text);
  SetRightSoftkeyText(m_softKeys.right.text);
}

void CQuorelAppUi::OnViewActivated() {
  SetMenuMode(false);
  OnOptionsMenuClosed(TopLayer(), TopShownLayer());
}

void CQuorelAppUi::RunSoftKey(bool bLeft, bool bFeedback) {
  if (bLeft ? !m_bLeftEnabled : !m_bRightEnabled) return;
  // A copy: the action may change the displayed set.
  TSoftKey key = bLeft ? m_softKeys.left : m_softKeys.right;
  if (bFeedback) {
    const bool bCancel = key.text == CResources::GetString(9);
    if (bCancel)
      PlayFeedback(14);
    else if (bLeft)
      PlayFeedback(15);
  }
  if (key.dialogAction.IsSet())
    key.dialogAction.Call();
  else if (key.action)
    key.action();
}

bool CQuorelAppUi::OnInput(const TInputEvent& event) {
  if (event.nKey == KeyPointer) return CAppUi::OnInput(event);
  if (event.bPressed) {
    // Soft keys and the keys below act on release.
    switch (event.nKey) {
      case plat::VK_F1:
      case plat::VK_F2:
      case kKeyLeftSoftKey:
      case kKeyRightSoftKey:
      case plat::VK_ESCAPE:
      case plat::VK_F4:
        return true;
      default:
        return CAppUi::OnInput(event);
    }
  }
  switch (event.nKey) {
    case plat::VK_F1:
    case kKeyLeftSoftKey:
      RunSoftKey(true, true);
      return true;
    case plat::VK_F2:
    case kKeyRightSoftKey:
      RunSoftKey(false, true);
      return true;
    case plat::VK_ESCAPE:
      if (IsMenuMode())
        CloseOptionsMenu();
      else if (GetActiveViewId() == ViewRecorder && !m_recorder)
        Exit();
      else
        RunSoftKey(true, false);
      return true;
    case plat::VK_F4:
      QuitApplication();
      return true;
    default:
      return CAppUi::OnInput(event);
  }
}

// ---------------------------------------------------------------------------
// Options menu.

namespace {
// A menu action that is a plain function.
CDelegate FunctionAction(void (*action)()) {
  return CDelegate(reinterpret_cast<void*>(action), nullptr, [](CDelegate*, void* pObject, void*) {
    if (pObject) reinterpret_cast<void (*)()>(pObject)();
  });
}
}  // namespace

void CQuorelAppUi::BuildOptionsMenu() {
  struct TEntry {
    int32_t nCommand, nLabelId;
    bool bVisible, bEnabled;
    void (*action)();
  };
  static constexpr TEntry kEntries[] = {
      {0, 20, false, true, nullptr},
      {1, 22, false, true, &OpenSearchLanguages},
      {3, 25, true, true, &RestartSearch},
      {5, 26, true, false, &ShowResults},
      {6, 46, true, true, [] { CheckForUpdate(1); }},
      {7, 28, true, true, &OpenNetworkSelection},
      {9, 29, true, true, &OpenHelp},
      {8, 30, true, true, &OpenTerms},
      {10, 31, true, true, &Exit},
  };
  m_menu = CListDialog::New();
  for (const TEntry& entry : kEntries) {
    CListDialogItem* pItem = m_menu->AddItem(entry.nCommand, entry.nLabelId);
    pItem->SetVisible(entry.bVisible);
    pItem->SetEnabled(entry.bEnabled);
    pItem->SetAction(FunctionAction(entry.action));
  }
  SetPreviewMenuItem(false);
}

CListDialogItem* CQuorelAppUi::FindMenuItem(int32_t nCommand) const {
  return m_menu ? m_menu->FindItem(nCommand) : nullptr;
}

namespace {
template <class F>
void WithMenuItem(int32_t nCommand, F&& f) {
  CQuorelAppUi* pApp = CQuorelAppUi::App();
  if (CListDialogItem* pItem = pApp ? pApp->FindMenuItem(nCommand) : nullptr) f(*pItem);
}
}  // namespace

void CQuorelAppUi::ShowTermsMenuItem(bool bShow) {
  WithMenuItem(8, [bShow](CListDialogItem& item) { item.SetVisible(bShow); });
}
void CQuorelAppUi::ShowPreviewMenuItem(bool bVisible) {
  Record("ShowPreviewMenuItem " + std::to_string(bVisible));
  WithMenuItem(0, [bVisible](CListDialogItem& item) { item.SetVisible(bVisible); });
}
void CQuorelAppUi::ShowSearchLanguagesMenuItem(bool bShow) {
  WithMenuItem(1, [bShow](CListDialogItem& item) { item.SetVisible(bShow); });
}
void CQuorelAppUi::ShowNetworkMenuItem(bool bShow) {
  WithMenuItem(7, [bShow](CListDialogItem& item) { item.SetVisible(bShow); });
}
void CQuorelAppUi::EnableResultsMenuItem(bool bEnable) {
  WithMenuItem(5, [bEnable](CListDialogItem& item) { item.SetEnabled(bEnable); });
}
void CQuorelAppUi::SetPreviewMenuItem(bool bPlaying) {
  WithMenuItem(0, [bPlaying](CListDialogItem& item) {
    item.SetLabelId(bPlaying ? 21 : 20);
    item.SetAction(FunctionAction(bPlaying ? +[] { TogglePreview(false); } : +[] { TogglePreview(true); }));
  });
}

void CQuorelAppUi::ToggleMenu() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  if (pApp->IsMenuMode()) {
    pApp->CloseOptionsMenu();
    return;
  }
  // Without the toolkit menu mode would hide every window and never end.
  if (!VyServices().IsLoaded()) {
    DebugTrace(u"[QUOREL] No toolkit: the options menu stays closed\n");
    return;
  }
  if (!pApp->m_menu) return;
  pApp->ClearMenuCommands();
  for (CListDialogItem* pItem : pApp->m_menu->Items()) {
    if (!pItem->IsVisible() || pItem->IsSeparator()) continue;
    CDelegate activate(pItem, nullptr, [](CDelegate*, void* pObject, void*) {
      static_cast<CListDialogItem*>(pObject)->Activate();
    });
    pApp->AddMenuCommand(pItem->Label(), pItem->IsEnabled(), activate);
  }
  pApp->SetMenuMode(true);
  // Only the key that closes the menu acts while it is open: the left one
  // would start a search or go back under it.
  pApp->OnOptionsMenuClosed(pApp->TopLayer(), pApp->TopShownLayer());
}

// ---------------------------------------------------------------------------
// Command actions and openers.

void CQuorelAppUi::Exit() {
  if (CQuorelAppUi* pApp = App()) pApp->QuitApplication();
}

namespace {
// Opens a view from the menu: the view left is remembered unless it is one of
// the views that never come back.
void OpenFromMenu(int32_t nViewId) {
  CQuorelAppUi* pApp = CQuorelAppUi::App();
  if (!pApp || pApp->IsShuttingDown()) return;
  const int32_t nActive = pApp->GetActiveViewId();
  if (nActive != 5 && nActive != 18 && nActive != 21) CQuorelAppUi::PushHistory(nActive);
  if (nActive == 10 || nActive == 11) {
    CHTTPUserModel* pModel = AppSettings::GetUserModel();
    if (pModel && pModel->HistoryDepth() > 0) pModel->PopHistory();
  }
  pApp->ActivateView(nViewId);
}
}  // namespace

void CQuorelAppUi::OpenSettings() { OpenFromMenu(5); }
void CQuorelAppUi::OpenNetworkSelection() { OpenFromMenu(22); }
void CQuorelAppUi::OpenTerms() { OpenFromMenu(6); }
void CQuorelAppUi::OpenHelp() { OpenFromMenu(18); }

void CQuorelAppUi::OpenSearchLanguages() {
  if (!Navigating()) return;
  App()->PushActiveView();
  App()->GoToView(8);
}

void CQuorelAppUi::ShowResults() {
  if (!Navigating()) return;
  CQuorelAppUi* pApp = App();
  if (pApp->GetActiveViewId() == ViewResults) return;
  CSearchResults* pResults = AppSettings::GetResultModel();
  if (!pResults || !pResults->Page()) {
    GoBackTo(ViewRecorder);
  } else if (CountHistory(ViewResults) > 0) {
    GoBackTo(ViewResults);
  } else {
    pApp->PushActiveView();
    pApp->GoToView(ViewResults);
  }
}

void CQuorelAppUi::RestartSearch() {
  if (!Navigating()) return;
  EndFollowUp();
  GoBackTo(ViewRecorder);
  auto* pMessage = CEventFireMessage<StartRecordingEvent>::New();
  if (!App()->PostEvent(pMessage)) delete pMessage;
}

void CQuorelAppUi::StartSearchInMode(int32_t nMode) {
  if (!Navigating()) return;
  if (GetAppSettings()) *AppSettings::SearchMode() = nMode;
  RestartSearch();
}
void CQuorelAppUi::StartSingSearch() { StartSearchInMode(0); }
void CQuorelAppUi::StartGrabSearch() { StartSearchInMode(1); }

void CQuorelAppUi::StopRecording() {
  if (!Navigating()) return;
  CQuorelAppUi* pApp = App();
  // Without a recording there is no search to wait for.
  if (!pApp->m_recorder) return;
  pApp->m_recorder->RequestStop();
  pApp->GoToView(ViewSearching);
}

void CQuorelAppUi::CancelRecording() { PostRecorderState(7); }

void CQuorelAppUi::BackOrCancelFollowUp() {
  if (!Navigating()) return;
  CQuorelAppUi* pApp = App();
  if (pApp->m_followUpRunning) {
    pApp->m_followUpRunning = false;
    pApp->m_followUpRequest.Close();
    pApp->GoToView(8);
    return;
  }
  GoBack();
}

void CQuorelAppUi::BackOrHelpEvent() {
  if (!Navigating()) return;
  const int32_t nActive = App()->GetActiveViewId();
  if (nActive == 8 || nActive == 21)
    PostHelpEvent();
  else
    GoBack();
}

void CQuorelAppUi::PostHelpEvent() {
  if (!App()) return;
  auto* pMessage = CEventFireMessage<HelpViewEvent>::New();
  if (!App()->PostEvent(pMessage)) delete pMessage;
}

void CQuorelAppUi::PostMessageCommand() {
  if (!App()) return;
  auto* pMessage = CEventFireMessage<MessageCommandEvent>::New();
  pMessage->Payload() = 1;
  if (!App()->PostEvent(pMessage)) delete pMessage;
}

void CQuorelAppUi::CheckForUpdate(int32_t nFlag) {
  if (CQuorelAppUi* pApp = App(); pApp && pApp->m_updater && !pApp->m_bShuttingDown)
    pApp->m_updater->CheckForUpdate(nFlag);
}

void CQuorelAppUi::OpenUrl(plat::WStringView url) {
  // Links come from the server: anything else, such as a device path ending
  // in ".cab", would reach the package handler without the update prompt.
  if (!plat::IsWebLink(url)) {
    DebugTrace(u"[QUOREL] Link refused: not an http or https link\n");
    return;
  }
  plat::ShellExecInfo info;
  info.mask = plat::SEE_MASK_NOCLOSEPROCESS;
  info.file = plat::WString(url);
  info.show = 1;
  (void)plat::ShellExecuteEx(info);
}

// ---------------------------------------------------------------------------
// Event handlers.

namespace {
bool s_bCheckOnStart = true;
}  // namespace

void CQuorelAppUi::SetUpdateCheckOnStart(bool bOn) { s_bCheckOnStart = bOn; }

void CQuorelAppUi::OnAppStarted() {
  if (s_bCheckOnStart) CheckForUpdate(0);
}

void CQuorelAppUi::OnHttpActivity(const int32_t& nOpen) {
  if (nOpen > 0)
    m_activityHold.HoldBusy();
  else
    m_activityHold.ReleaseBusy();
}

void CQuorelAppUi::OnPlayerState(const int32_t& state) {
  switch (state) {
    case 7:
      if (GetActiveViewId() != 16) {
        StopPreview();
        ShowMessage(86, kKindError);
      }
      SetPreviewMenuItem(false);
      return;
    case 0:
    case 1:
    case 3:
      SetPreviewMenuItem(true);
      return;
    case 2:
    case 4:
      SetPreviewMenuItem(false);
      return;
    case 5:
    case 6: {
      auto* pMessage = CEventFireMessage<NetworkStateEvent>::New();
      pMessage->Payload() = state == 5 ? 1 : 0;
      if (!PostEvent(pMessage)) delete pMessage;
      return;
    }
    default:
      return;
  }
}

void CQuorelAppUi::OnIncomingCall(const int32_t& nLine) {
  (void)nLine;
  StopPreview();
  // The recorder screen learns that its recording is gone before the
  // recorder is.
  if (m_recorder) PostRecorderState(7);
  StopRecorder();
}

// ---------------------------------------------------------------------------
// Messages.

std::vector<std::string>& CQuorelAppUi::OutwardCalls() {
  static std::vector<std::string> calls;
  return calls;
}

uint64_t CQuorelAppUi::OutwardCallCount() { return OutwardCallTotal(); }

void CQuorelAppUi::RecordOutwardCall(std::string call) {
  std::vector<std::string>& calls = OutwardCalls();
  // A program that runs for weeks would record without end: only the
  // newest calls are kept (the older half goes at once, so trimming is rare).
  if (calls.size() >= kKeptOutwardCalls) calls.erase(calls.begin(), calls.begin() + kKeptOutwardCalls / 2);
  calls.push_back(std::move(call));
  ++OutwardCallTotal();
}

void CQuorelAppUi::ShowMessage(int32_t nTextId, int32_t nKind) {
  if (!Navigating()) return;
  Record("ShowMessage " + std::to_string(nTextId) + " " + std::to_string(nKind));
  // A message that cannot be shown must not cut short what its caller does
  // next (going back, stopping the recorder).
  try {
    CMessageDialog::Create(0, {}, 7, {}, nTextId, nKind);
  } catch (const Env::TSysErrorCode& e) {
    DebugTrace(u"[QUOREL] message %d could not be shown (error %d)\n", nTextId, e.code);
  }
}

void CQuorelAppUi::ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                                         plat::WStringView link) {
  Record("ShowServerMessageView " + Utf8(caption) + "|" + Utf8(text) + "|" + std::to_string(bRequired) + "|" +
         Utf8(link));
  if (!Navigating() || !GetAppSettings()) return;
  CQuorelAppUi* pApp = App();
  *AppSettings::MessageTitle() = plat::WString(caption);
  *AppSettings::MessageText() = plat::WString(text);
  *AppSettings::MessageUrl() = plat::WString(link);
  *AppSettings::MessageRequired() = bRequired ? 1 : 0;
  *AppSettings::MessagePending() = 1;
  const int32_t nActive = pApp->GetActiveViewId();
  if (nActive == 2 || (nActive >= 4 && nActive <= 11) || nActive == 18 || nActive == 19 || nActive == 21)
    pApp->PushActiveView();
  else if (nActive >= 13 && nActive <= 15)
    StopPreview();
  pApp->GoToView(16, true);
}
