// The application object: owner of the long-lived services and home of the
// search flow, which turns a recording into results, fetches them again in
// another search language, watches a running search for a lost network and
// shows server messages.
//
// Everything here runs on the UI thread: recorder states and network reports
// arrive as posted events, the follow-up reply through its request handle's
// callback.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "app/SearchRecorder.h"
#include "framework/AppUi.h"
#include "framework/Events.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "net/HTTPWrapper.h"
#include "protocol/AppServices.h"
#include "protocol/ServerError.h"

class AppSettings;
class PreviewStore;
class Updater;
class CQuorelAppUi;

// A listener that runs one operation of the application object.
template <class E, auto Method>
class CAppEventListener : public CEventListenerFor<E> {
 public:
  explicit CAppEventListener(CQuorelAppUi* pApp) : m_pApp(pApp) {}

 protected:
  void HandleEvent(const typename E::TPayload& payload) override {
    if constexpr (std::is_invocable_v<decltype(Method), CQuorelAppUi*, const typename E::TPayload&>)
      (m_pApp->*Method)(payload);
    else
      (m_pApp->*Method)();
  }

 private:
  CQuorelAppUi* m_pApp;
};

class CQuorelAppUi : public CAppUi {
 public:
  CQuorelAppUi();
  ~CQuorelAppUi() override;

  // The application object, or null.
  static CQuorelAppUi* App();

  // The services the search flow stands on, created in start-up order
  // (settings, preview store, resolver, HTTP core and session, updater) and
  // ended in shut-down order.
  void StartServices(const THTTPCoreTimings& timings = {});
  void StopServices();
  // Subscribes the search flow's four listeners.
  void SubscribeSearchListeners();

  static CHTTPCore* HTTPCore();
  static CHTTPSession* HTTPSession();
  static ::PreviewStore* PreviewStore();
  static CSearchRecorder* Recorder();

  // Search flow.
  static void StartSearch();
  static void StopRecorder();
  static void CancelUpdate();
  static void ShowServerMessage(const TServerMessage& message, bool bSilent);
  CDelegate MakeSearchReplyDelegate();
  void OnRecorderState(const int32_t& state);
  void RequestSearchResult();
  void OnSearchResultReply();
  void OnSearchStalled(const uint8_t& ok);
  void OnSearchTick();

  // Navigation history, newest last; an empty history leads back to view 2.
  struct THistoryEntry {
    int32_t nViewId = 0;
    CDelegate back;
    CDelegate cancel;
  };
  static void PushHistory(int32_t nViewId, const CDelegate& back = {}, const CDelegate& cancel = {});
  static void GoBack();
  static void GoBackTo(int32_t nViewId);
  static void CancelLastHistory();
  static int32_t CountHistory(int32_t nViewId);

  // Stand-ins until the screens and messages are built: each traces and
  // records its call.
  static void ShowMessage(int32_t nTextId, int32_t nKind);
  static void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                                    plat::WStringView link);
  static void ShowPreviewMenuItem(bool bVisible);
  static void StopPreview();
  // The stand-ins' calls, oldest first ("ShowMessage 44 152", ...).
  static std::vector<std::string>& StandInCalls();

  bool IsFollowUpRunning() const { return m_followUpRunning; }
  bool IsWatchingSearch() const { return m_searchWatch; }
  Updater* GetUpdater() const { return m_updater; }

 private:
  void AbortSearch(bool bPostAborted);
  void EndFollowUpWithError();
  static void PostRecorderState(int32_t state);

  // What protocol code reaches of the application, installed while it lives.
  class CServices : public IAppServices {
   public:
    explicit CServices(CQuorelAppUi* pApp) : m_pApp(pApp) {}
    CHTTPSession* HttpSession() override { return m_pApp->m_HTTPSession; }
    void ShowServerMessage(const TServerMessage& message, bool bSilent) override {
      CQuorelAppUi::ShowServerMessage(message, bSilent);
    }
    void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                               plat::WStringView link) override {
      CQuorelAppUi::ShowServerMessageView(caption, text, bRequired, link);
    }

   private:
    CQuorelAppUi* m_pApp;
  };

  CAppEventListener<RecorderStateEvent, &CQuorelAppUi::OnRecorderState> m_recorderStateListener{this};
  CAppEventListener<FollowUpSearchEvent, &CQuorelAppUi::RequestSearchResult> m_followUpListener{this};
  CAppEventListener<NetworkStateEvent, &CQuorelAppUi::OnSearchStalled> m_networkStateListener{this};
  CAppEventListener<TimerTickEvent, &CQuorelAppUi::OnSearchTick> m_timerTickListener{this};

  CServices m_services{this};
  std::unique_ptr<CDNSResolver> m_resolver;
  CHTTPCore* m_HTTPCore = nullptr;
  CHTTPSession* m_HTTPSession = nullptr;
  std::unique_ptr<uint8_t[]> m_audioBuffer;  // shared by recording and playback
  std::unique_ptr<CSearchRecorder> m_recorder;
  ::PreviewStore* m_previewStore = nullptr;
  AppSettings* m_settings = nullptr;
  Updater* m_updater = nullptr;
  std::list<THistoryEntry> m_history;
  CHTTPRequest m_followUpRequest;
  bool m_followUpRunning = false;

  bool m_searchWatch = false;
  int32_t m_watchTicks = 0;
  int32_t m_networkFailures = 0;
};
