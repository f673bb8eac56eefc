#include "app/QuorelAppUi.h"

#include "app/Updater.h"
#include "audio/AudioServices.h"
#include "framework/Resources.h"
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

// Message dialogs: the recorder failed, the network was lost; their kind.
constexpr int32_t kMsgRecorderFailed = 44;
constexpr int32_t kMsgNetworkLost = 50;
constexpr int32_t kKindError = 152;
// Server message captions.
constexpr int32_t kCaptionPlain = 82;
constexpr int32_t kCaptionLink = 83;
constexpr int32_t kCaptionRequiredLink = 84;

// The watch gives up after this many 100 ms ticks without a success report.
constexpr int32_t kWatchTickLimit = 300;

// The reply body as (data, length): a sink whose body is not readable counts
// as an empty one.
bool LoadReply(CSearchResults& model, CHTTPSink* pSink) {
  if (!pSink) return model.LoadText("");
  const char* pData = pSink->GetData();
  return model.LoadBuffer(pData ? pData : "", pData ? static_cast<size_t>(pSink->GetLength()) : 0);
}

std::string Utf8(plat::WStringView text) { return plat::ToUtf8(text); }

}  // namespace

CQuorelAppUi::CQuorelAppUi() { InstallAppServices(&m_services); }

CQuorelAppUi::~CQuorelAppUi() {
  StopServices();
  m_followUpRequest.Close();
  if (InstalledAppServices() == &m_services) InstallAppServices(nullptr);
}

CQuorelAppUi* CQuorelAppUi::App() { return dynamic_cast<CQuorelAppUi*>(CAppUi::Instance()); }

void CQuorelAppUi::StartServices(const THTTPCoreTimings& timings) {
  m_settings = new AppSettings();
  m_previewStore = new ::PreviewStore();
  m_resolver = std::make_unique<CDNSResolver>();
  m_resolver->Start();
  m_HTTPCore = new CHTTPCore(timings);
  m_HTTPCore->StartThread();
  m_HTTPSession = CHTTPSession::Create(m_HTTPCore);
  m_updater = Updater::Create();
  m_audioBuffer = std::make_unique<uint8_t[]>(kSharedAudioBufferSize);
  TAudioServices audio;
  audio.httpCore = [this] { return m_HTTPCore; };
  audio.audioBuffer = [this] { return m_audioBuffer.get(); };
  audio.searchMode = [] { return GetAppSettings() ? *AppSettings::SearchMode() : 0; };
  audio.maxSearchSeconds = [] { return MaxSearchLengthSeconds(); };
  InstallAudioServices(std::move(audio));
  SetSearchRecorderFactory(&NewAudioSearchRecorder);
}

void CQuorelAppUi::StopServices() {
  delete m_updater;
  m_updater = nullptr;
  StopRecorder();
  if (m_audioBuffer) InstallAudioServices({});
  if (m_HTTPSession) m_HTTPSession->Release();
  if (m_HTTPCore) m_HTTPCore->Shutdown();
  if (m_resolver) m_resolver->Stop();
  m_followUpRequest.Close();
  m_audioBuffer.reset();
  delete m_HTTPSession;
  m_HTTPSession = nullptr;
  delete m_HTTPCore;
  m_HTTPCore = nullptr;
  m_resolver.reset();
  delete m_previewStore;
  m_previewStore = nullptr;
  delete m_settings;
  m_settings = nullptr;
}

void CQuorelAppUi::SubscribeSearchListeners() {
  m_recorderStateListener.Subscribe();
  m_followUpListener.Subscribe();
  m_networkStateListener.Subscribe();
  m_timerTickListener.Subscribe();
}

CHTTPCore* CQuorelAppUi::HTTPCore() { return App() ? App()->m_HTTPCore : nullptr; }
CHTTPSession* CQuorelAppUi::HTTPSession() { return App() ? App()->m_HTTPSession : nullptr; }
::PreviewStore* CQuorelAppUi::PreviewStore() { return App() ? App()->m_previewStore : nullptr; }
CSearchRecorder* CQuorelAppUi::Recorder() { return App() ? App()->m_recorder.get() : nullptr; }

// ---------------------------------------------------------------------------
// Search flow.

void CQuorelAppUi::PostRecorderState(int32_t state) {
  auto* pMessage = CEventFireMessage<RecorderStateEvent>::New();
  pMessage->Payload() = state;
  if (!App() || !App()->PostEvent(pMessage)) delete pMessage;
}

void CQuorelAppUi::StartSearch() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  StopRecorder();
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
      if (!bLoaded && pSink) {
        TServerMessage message;
        if (GetServerErrorMessage(message)) {
          ShowServerMessage(message, false);
          return;
        }
        if (httpStatus >= 300) {
          PostRecorderState(8);
          return;
        }
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
      if (state == 6 && !IsForeground()) {
        auto* pAborted = CEventFireMessage<SearchAbortedEvent>::New();
        if (!PostEvent(pAborted)) delete pAborted;
      }
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
      if (GetServerErrorMessage(message)) {
        ShowServerMessage(message, false);
        return;
      }
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
  if (bPostAborted) {
    auto* pAborted = CEventFireMessage<SearchAbortedEvent>::New();
    if (!PostEvent(pAborted)) delete pAborted;
  }
  if (m_updater) m_updater->Cancel();
  GoBackTo(ViewRecorder);
  ShowMessage(kMsgNetworkLost, kKindError);
}

void CQuorelAppUi::ShowServerMessage(const TServerMessage& message, bool bSilent) {
  CQuorelAppUi* pApp = App();
  const plat::WString& type = message.m_type;
  const bool bCheck = type == u"checkForUpdate" || type == u"CheckForUpdate";
  const bool bExit = type == u"exit" || type == u"Exit";
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

void CQuorelAppUi::PushHistory(int32_t nViewId, const CDelegate& back, const CDelegate& cancel) {
  if (CQuorelAppUi* pApp = App()) pApp->m_history.push_back(THistoryEntry{nViewId, back, cancel});
}

void CQuorelAppUi::GoBack() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  if (pApp->m_history.empty()) {
    pApp->ActivateView(ViewRecorder);
    return;
  }
  THistoryEntry entry = pApp->m_history.back();
  entry.back.Call();
  pApp->m_history.pop_back();
  pApp->ActivateView(entry.nViewId);
}

void CQuorelAppUi::GoBackTo(int32_t nViewId) {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  for (;;) {
    if (pApp->m_history.empty()) {
      pApp->ActivateView(ViewRecorder);
      return;
    }
    THistoryEntry entry = pApp->m_history.back();
    if (!entry.cancel.Call()) entry.back.Call();
    pApp->m_history.pop_back();
    if (entry.nViewId == nViewId) {
      pApp->ActivateView(nViewId);
      return;
    }
  }
}

void CQuorelAppUi::CancelLastHistory() {
  CQuorelAppUi* pApp = App();
  if (!pApp || pApp->m_history.empty()) return;
  THistoryEntry entry = pApp->m_history.back();
  if (!entry.cancel.Call()) entry.back.Call();
  pApp->m_history.pop_back();
}

int32_t CQuorelAppUi::CountHistory(int32_t nViewId) {
  CQuorelAppUi* pApp = App();
  if (!pApp) return 0;
  int32_t count = 0;
  for (const THistoryEntry& entry : pApp->m_history) count += entry.nViewId == nViewId;
  return count;
}

// ---------------------------------------------------------------------------
// Stand-ins.

std::vector<std::string>& CQuorelAppUi::StandInCalls() {
  static std::vector<std::string> calls;
  return calls;
}

void CQuorelAppUi::ShowMessage(int32_t nTextId, int32_t nKind) {
  DebugTrace(u"[QUOREL] ShowMessage stand-in: %d kind %d\n", nTextId, nKind);
  StandInCalls().push_back("ShowMessage " + std::to_string(nTextId) + " " + std::to_string(nKind));
}

void CQuorelAppUi::ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                                         plat::WStringView link) {
  DebugTrace(u"[QUOREL] ShowServerMessageView stand-in: %s\n", plat::WString(text));
  StandInCalls().push_back("ShowServerMessageView " + Utf8(caption) + "|" + Utf8(text) + "|" +
                           std::to_string(bRequired) + "|" + Utf8(link));
}

void CQuorelAppUi::ShowPreviewMenuItem(bool bVisible) {
  DebugTrace(u"[QUOREL] ShowPreviewMenuItem stand-in: %d\n", bVisible ? 1 : 0);
  StandInCalls().push_back("ShowPreviewMenuItem " + std::to_string(bVisible));
}

void CQuorelAppUi::StopPreview() {
  DebugTrace(u"[QUOREL] StopPreview stand-in\n");
  StandInCalls().push_back("StopPreview");
}
