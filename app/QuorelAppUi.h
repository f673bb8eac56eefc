// The application object: starts and stops the long-lived services in order,
// owns the frame (soft-key bars, their panels, the busy indicator), runs the
// commands, soft keys, keys and the view history, reacts to the posted events,
// and is home of the search flow, which turns a recording into results,
// fetches them again in another search language, watches a running search for
// a lost network and shows server messages.
//
// Everything here runs on the UI thread, except the four activity counter
// operations (any thread): recorder states and network reports arrive as
// posted events, the follow-up reply through its request handle's callback.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/SearchRecorder.h"
#include "framework/ActivityHold.h"
#include "framework/AppUi.h"
#include "framework/Events.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "net/HTTPWrapper.h"
#include "protocol/AppServices.h"
#include "protocol/ServerError.h"

class AppSettings;
class CDeviceIdentity;
class CListDialog;
class CListDialogItem;
class CPreviewControl;
class CPhoneLineMonitor;
class CtlAnimation;
class CtlPanel;
class CtlSoftKeyBar;
class PreviewStore;
class Updater;
class CQuorelAppUi;

// A listener that runs one operation of the application object.
template <class E, auto Method>
using CAppEventListener = CMemberListener<E, CQuorelAppUi, Method>;

// What the application asks of a dialog on a layer of its own (the modal
// dialogs implement it): its control, a direct child of the application,
// the labels and actions of its soft keys, and its relayout when the root
// tree is rebuilt.
class IDialogLayer {
 public:
  virtual CControl* DialogControl() = 0;
  virtual plat::WString GetLeftSoftKeyLabel() = 0;
  virtual plat::WString GetRightSoftKeyLabel() = 0;
  virtual void OnLeftSoftKey() = 0;
  virtual void OnRightSoftKey() = 0;
  // Whether a press on that side does anything: a side without text or
  // action leaves the layer's keys to the layers below.
  virtual bool HasSoftKeyAction(bool bLeft) const {
    (void)bLeft;
    return true;
  }
  // Runs when the root tree is rebuilt; the dialog owns the delegate.
  virtual CDelegate* RelayoutDelegate() = 0;
  virtual bool IsOptionsMenu() const { return false; }

 protected:
  ~IDialogLayer() = default;
};

// The registry key holder: the application's key is open while it lives.
class CAppOptions {
 public:
  CAppOptions();
  ~CAppOptions();
  CAppOptions(const CAppOptions&) = delete;
  CAppOptions& operator=(const CAppOptions&) = delete;
};

// The start-up steps, in order. Shut-down reports its own steps by name.
enum class EStartStep : int32_t {
  Options = 1, UiStrings, Images, Commands, Settings, PhoneMonitor, Identity, PreviewStore, Resolver, HTTPCore,
  HTTPSession, Updater, AudioBuffer, LeftBar, RightBar, BusyLock, BusyIndicator, InputThrough, SoftKeys, Listeners,
  OptionsMenu,
};
// Sees every start-up step before it runs: false skips it (the caller made
// its own), an exception fails start-up there. Tests log the order and inject
// failures through it; the program installs none.
using TStartStepHook = std::function<bool(EStartStep)>;
// Sees every shut-down step ("players", "recorder", "http", ...) as it runs.
using TShutdownStepHook = std::function<void(const char*)>;

class CQuorelAppUi : public CAppUi, private IActivitySink {
 public:
  CQuorelAppUi();
  ~CQuorelAppUi() override;

  // The application object, or null.
  static CQuorelAppUi* App();
  // The application object; TPanic ("QuorelAppUi", 1591) without one.
  static CQuorelAppUi& Menu();

  static void SetStartStepHook(TStartStepHook hook);
  static void SetShutdownStepHook(TShutdownStepHook hook);
  // The start's update check (on by default); tests of other flows turn it
  // off so that their exchanges are their own.
  static void SetUpdateCheckOnStart(bool bOn);
  // The HTTP core's timings (tests shorten them); set before Run.
  void SetHTTPCoreTimings(const THTTPCoreTimings& timings) { m_coreTimings = timings; }

  static CHTTPCore* HTTPCore();
  static CHTTPSession* HTTPSession();
  static uint8_t* AudioBuffer();
  static CAppOptions* Options();
  static ::PreviewStore* PreviewStore();
  static CSearchRecorder* Recorder();
  // The number of searches started so far.
  static uint32_t SearchCount();
  bool IsShuttingDown() const { return m_bShuttingDown; }

  // Busy indicator: shown while busy > 0 and quiet < 1.
  bool IsBusyIndicatorShown() const;
  int32_t BusyCount() const;
  int32_t QuietCount() const;
  CtlAnimation* BusyIndicator() const { return m_busyIndicator; }
  CtlSoftKeyBar* SoftKeyBar(int32_t nSide) const { return nSide == 0 ? m_leftBar : m_rightBar; }
  CtlPanel* SoftKeyPanel(int32_t nSide) const { return nSide == 0 ? m_leftPanel : m_rightPanel; }

  // Commands: id -> (label string id, action).
  struct TCommand {
    int32_t nLabelId = 0;
    void (*action)() = nullptr;
  };
  // Error 3 for an id bound already.
  void BindCommand(int32_t nId, int32_t nLabelId, void (*action)());
  void BindAppCommands();
  // Soft keys of layer 0 (error 1 for an unbound command).
  static void SetLeftSoftKey(int32_t nCommandId);
  static void SetRightSoftKey(int32_t nCommandId);
  // The displayed soft keys: text and action of each side.
  struct TSoftKey {
    plat::WString text;
    void (*action)() = nullptr;
    CDelegate dialogAction;
    bool IsSet() const { return !text.empty() || action || dialogAction.IsSet(); }
  };
  struct TSoftKeySet {
    TSoftKey left, right;
  };
  const TSoftKeySet& DisplayedSoftKeys() const { return m_softKeys; }
  bool IsLeftSoftKeyEnabled() const { return m_bLeftEnabled; }
  bool IsRightSoftKeyEnabled() const { return m_bRightEnabled; }
  // A dialog on a layer above 0 with its own soft keys.
  void SetLayerSoftKeys(int32_t nLayer, const TSoftKeySet& set);
  void EraseLayerSoftKeys(int32_t nLayer);
  int32_t ModalCount() const { return m_modalCount; }
  // A dialog is shown bound to node `nNodeId` of the root tree (none: not
  // bound): it gets the next layer up and a soft-key set of its own, which
  // is returned.
  int32_t OnDialogShown(IDialogLayer* pDialog, int32_t nNodeId);
  void OnDialogSoftKeysChanged(IDialogLayer* pDialog);
  void OnDialogClosed(int32_t nLayer);
  void ChangeModalCount(int32_t nDelta) { m_modalCount += nDelta; }

  // Options menu: a list dialog whose items, by command id, become the
  // menu's commands when it opens.
  CListDialog* MenuDialog() const { return m_menu; }
  CListDialogItem* FindMenuItem(int32_t nCommand) const;
  static void ShowTermsMenuItem(bool bShow);
  static void ShowPreviewMenuItem(bool bVisible);
  static void ShowSearchLanguagesMenuItem(bool bShow);
  static void ShowNetworkMenuItem(bool bShow);
  static void EnableResultsMenuItem(bool bEnable);
  static void SetPreviewMenuItem(bool bPlaying);

  // Command actions and openers.
  static void Exit();
  static void OpenSettings();
  static void OpenNetworkSelection();
  static void OpenTerms();
  static void OpenHelp();
  static void OpenSearchLanguages();
  static void ShowResults();
  static void RestartSearch();
  static void StartSingSearch();
  static void StartGrabSearch();
  static void StopRecording();
  static void CancelRecording();
  static void BackOrCancelFollowUp();
  static void BackOrHelpEvent();
  static void PostHelpEvent();
  static void PostMessageCommand();
  static void ToggleMenu();
  static void CheckForUpdate(int32_t nFlag);
  static void OpenUrl(plat::WStringView url);

  // Event handlers.
  void OnAppStarted();
  void OnHttpActivity(const int32_t& nOpen);
  void OnPlayerState(const int32_t& state);
  void OnIncomingCall(const int32_t& nLine);

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

  // A message dialog with one right button.
  static void ShowMessage(int32_t nTextId, int32_t nKind);
  // Stores the server message and shows view 16.
  static void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                                    plat::WStringView link);
  // The current track's preview (one player at a time; UI thread).
  static void PlayPreview();
  // Also recorded among the outward calls.
  static void StopPreview();
  static void PausePreview();
  static void ResumePreview();
  // 0 without a player, else 1 starting, 2 playing, 3 paused, 4 finished.
  static int32_t GetPreviewState();
  static int32_t GetPreviewPlayedSeconds();
  // -1 while a stream's rate is not known.
  static int32_t GetPreviewLength();
  // Options-menu item 0.
  static void TogglePreview(bool bPlay);
  // Commands 10 and 11 and the play controls: play, stop or resume.
  static void PreviewCommand();
  // The user page's rows: kinds 0, 1 and 2.
  static void PlayPreviewKind(int32_t nKind);
  // Null before start-up and after shut-down.
  static CPreviewControl* Preview();
  // The object's outward calls, oldest first ("ShowMessage 44 152",
  // "StopPreview", ...), traced as they happen; the newest ones only, at
  // most kKeptOutwardCalls. The count goes on over the ones let go.
  static constexpr size_t kKeptOutwardCalls = 512;
  static std::vector<std::string>& OutwardCalls();
  static uint64_t OutwardCallCount();
  static void RecordOutwardCall(std::string call);

  bool IsFollowUpRunning() const { return m_followUpRunning; }
  size_t HistorySize() const { return m_history.size(); }
  // The views in the history, oldest first (read by the end-to-end roads).
  std::vector<int32_t> HistoryViews() const;
  bool OnInput(const TInputEvent& event) override;
  bool IsWatchingSearch() const { return m_searchWatch; }
  Updater* GetUpdater() const { return m_updater; }

 protected:
  void OnStart() override;
  void OnShutdown() override;
  void OnLayoutTreeCreated(CLayoutNode* pRoot) override;
  void OnOptionsMenuClosed(int32_t nTop, int32_t nTopShown) override;
  void OnViewActivated() override;

 private:
  void StartStep(EStartStep step, const std::function<void()>& run);
  void ShutdownStep(const char* name, const std::function<void()>& run);
  void StartServices();
  void InstallServices();
  void BuildFrame();
  void BuildOptionsMenu();
  static void SetSoftKey(bool bLeft, int32_t nCommandId);
  // Whether a control of that layer is shown on the application window.
  bool IsLayerShown(int32_t nLayer) const;
  void RefreshSoftKeys();
  void RunSoftKey(bool bLeft, bool bFeedback);
  // Activates a view unless shut-down began.
  void GoToView(int32_t nViewId, bool bReactivate = false);
  // Pushes the active view; leaving 10 or 11 pops the user model's history,
  // which those views push again when they are rebuilt.
  void PushActiveView();
  static bool Navigating();
  static void StartSearchInMode(int32_t nMode);
  // IActivitySink.
  void BeginBusy() override;
  void EndBusy() override;
  void BeginQuiet() override;
  void EndQuiet() override;
  void ChangeCounters(int32_t nBusy, int32_t nQuiet);
  void RefreshBusyIndicator();
  void AbortSearch(bool bPostAborted);
  void EndFollowUpWithError();
  static void PostRecorderState(int32_t state);
  static void EndFollowUp();

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

  // Applies the busy counters to the indicator on the UI thread.
  class CBusyRefresh : public CEventMessage {
   public:
    explicit CBusyRefresh(CQuorelAppUi* pApp) : m_pApp(pApp) { SetKept(true); }
    void Dispatch() override { m_pApp->RefreshBusyIndicator(); }

   private:
    CQuorelAppUi* m_pApp;
  };

  CAppEventListener<AppStartedEvent, &CQuorelAppUi::OnAppStarted> m_appStartedListener{this};
  CAppEventListener<HttpActivityEvent, &CQuorelAppUi::OnHttpActivity> m_httpActivityListener{this};
  CAppEventListener<PlayerStateEvent, &CQuorelAppUi::OnPlayerState> m_playerStateListener{this};
  CAppEventListener<IncomingCallEvent, &CQuorelAppUi::OnIncomingCall> m_incomingCallListener{this};
  CAppEventListener<RecorderStateEvent, &CQuorelAppUi::OnRecorderState> m_recorderStateListener{this};
  CAppEventListener<FollowUpSearchEvent, &CQuorelAppUi::RequestSearchResult> m_followUpListener{this};
  CAppEventListener<NetworkStateEvent, &CQuorelAppUi::OnSearchStalled> m_networkStateListener{this};
  CAppEventListener<TimerTickEvent, &CQuorelAppUi::OnSearchTick> m_timerTickListener{this};

  CServices m_services{this};
  bool m_bShuttingDown = false;
  THTTPCoreTimings m_coreTimings;
  // The busy lock lives as long as the object: threads that change the
  // counters may outlive the indicator.
  mutable std::mutex m_busyLock;
  CtlAnimation* m_busyIndicator = nullptr;
  CBusyRefresh m_busyRefresh{this};
  int32_t m_busyCount = 0;
  int32_t m_quietCount = 0;
  bool m_bBusyShown = false;
  ActivityHold m_activityHold;
  CtlSoftKeyBar* m_leftBar = nullptr;
  CtlSoftKeyBar* m_rightBar = nullptr;
  CtlPanel* m_leftPanel = nullptr;
  CtlPanel* m_rightPanel = nullptr;
  std::unique_ptr<CAppOptions> m_options;
  std::unique_ptr<CPhoneLineMonitor> m_phoneMonitor;
  bool m_bIdentity = false;
  std::map<int32_t, TCommand> m_commands;
  std::map<int32_t, TSoftKeySet> m_softKeySets;  // by layer
  TSoftKeySet m_softKeys;                       // displayed
  bool m_bLeftEnabled = true, m_bRightEnabled = true;
  CDelegateList m_layoutListeners;
  CListDialog* m_menu = nullptr;
  int32_t m_modalCount = 0;
  std::unique_ptr<CDNSResolver> m_resolver;
  CHTTPCore* m_HTTPCore = nullptr;
  CHTTPSession* m_HTTPSession = nullptr;
  std::unique_ptr<uint8_t[]> m_audioBuffer;  // shared by recording and playback
  std::unique_ptr<CSearchRecorder> m_recorder;
  // Counts the searches started; a state the application posts carries the
  // count of its search and fires nothing once a newer search has begun.
  uint32_t m_searchCount = 0;
  static std::unique_ptr<CPreviewControl> NewPreviewControl();
  // The preview and its players; deleting it stops their sound cores.
  std::unique_ptr<CPreviewControl> m_preview;
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
