// The application object: the main window and root of the control tree, the
// message loop, the posted-event queue and object registry, the registered
// views and the switch between them, layers and the focus across them.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "framework/Control.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "framework/layout.h"
#include "platform/module/Module.h"
#include "platform/shell/DeviceServices.h"

// The loop's own window messages.
enum : uint32_t {
  WM_QUOREL_EVENTS = 0x8000,
  WM_QUOREL_ROTATE = 0x8002,
  WM_QUOREL_MENU_RUN = 0x8003,
  WM_QUOREL_MENU_CLOSED = 0x8004,
};

// Soft-key commands from the menu bar.
inline constexpr uint16_t kCmdLeftSoftKey = 40000;
inline constexpr uint16_t kCmdRightSoftKey = 40001;

// The view area of the root layout tree.
inline constexpr int32_t kViewAreaNode = 6;

class CAppUi;

// Fires the tick channel.
class CTickMessage : public CEventFireMessage<TimerTickEvent> {
 public:
  CTickMessage() { SetKept(true); }
};
class CRotationMessage : public CEventFireMessage<DisplayRotatedEvent> {
 public:
  CRotationMessage() { SetKept(true); }
};
class CStartMessage : public CEventFireMessage<AppStartedEvent> {
 public:
  CStartMessage() { SetKept(true); }
};
// Restores the focus of the top shown layer and/or lays out to the window
// again.
class CFocusLayoutMessage : public CEventMessage {
 public:
  explicit CFocusLayoutMessage(CAppUi* pApp) : m_pApp(pApp) { SetKept(true); }
  void Dispatch() override;
  bool m_bRestoreFocus = false;
  bool m_bRelayout = false;

 private:
  CAppUi* m_pApp;
};

// The program's start: trace the version, make the application (its Init
// included) and register its views through `create`, run it, delete it.
// Another running instance (error 3) ends with 0, any other error code with 1.
int RunApplication(const std::function<std::unique_ptr<CAppUi>()>& create);

class CAppUi : public CControl {
 public:
  CAppUi();
  ~CAppUi() override;

  static CAppUi* Instance() { return s_pInstance; }

  // Opens the main window and shows it with `nShowCmd`. Error 3 when another
  // instance runs (which is brought to the front), 7 when a class or the
  // window cannot be made.
  void Init(plat::ModuleHandle hInstance, int nShowCmd);
  // Runs the loop until WM_QUIT; returns the exit code (1 when start-up or
  // the loop failed).
  int Run();

  // Views.
  void RegisterView(int32_t nViewId, CViewFactory* pFactory);  // takes it
  void SetStartView(int32_t nViewId) { m_nStartViewId = nViewId; }
  void ActivateView(int32_t nViewId);
  void ReactivateView(int32_t nViewId);
  int32_t GetActiveViewId() const { return m_nActiveViewId; }
  int32_t PreviousViewId() const { return m_nPreviousViewId; }
  CView* ActiveView() const { return m_active.pView; }
  CLayoutNode* GetRootLayout() const { return m_pRootLayout.get(); }

  // Layers.
  void SetChildLayer(CControl* pControl, int32_t nLayer);
  int32_t TopLayer() const { return m_nTopLayer; }
  int32_t TopShownLayer() const { return m_nTopShownLayer; }
  void RecomputeLayers();
  void PostFocusRestore();
  // Lays the root tree out against the window again once the current message
  // is done; several requests before then make one pass.
  void PostRelayout();
  void LayoutToWindow();

  CControl* FocusedControl() const { return m_pFocused; }
  // Focus moves through the one application (nothing without it). They act
  // on the top shown layer; with the application window itself focused the
  // previous/next move takes the last/first focusable control there.
  static CControl* GetFocus();
  static bool FocusPrevious();
  static bool FocusNext();
  static bool FocusLeft();
  static bool FocusUp();
  static bool FocusRight();
  static bool FocusDown();
  // Lets the control and everything below it take input while a higher layer
  // is shown (the frame's soft-key bars under a dialog).
  static void SetInputThroughLayers(CControl* pControl, bool bThrough);

  // Queue and registry.
  CEventQueue& Queue() { return *m_pQueue; }
  CObjectRegistry& Registry() { return *m_pRegistry; }
  bool PostEvent(CEventMessage* pMessage) { return m_pQueue->PostEvent(pMessage); }
  // The registry of the one application (a panic without it). AddObject:
  // error 3 for a taken id; FindObject: null for an unknown one.
  static void AddObject(int32_t nId, CObject* pObject);
  static CObject* FindObject(int32_t nId);
  int32_t RegisterNewObject(CObject* pObject) { return m_pRegistry->RegisterNewObject(pObject); }

  // Screen.
  RECT GetMainWindowRect() const;
  RECT GetScreenRect() const;
  int32_t GetMinScreenDimension() const;
  int32_t GetStandardHeight(int32_t nIndex) const;
  bool IsForeground() const;
  bool IsMenuMode() const { return m_bMenuMode; }
  // Width equals height, as the screen was when the application started.
  static bool IsSquareScreen() { return s_bSquareScreen; }
  void QuitApplication() { plat::PostQuitMessage(0); }

  // Soft keys: a key's button is usable only with text and enabled.
  void SetLeftSoftkeyText(plat::WStringView text);
  void SetRightSoftkeyText(plat::WStringView text);
  void EnableSoftKeys(bool bLeft, bool bRight);

  // Rotation (0, 90, 180, 270) and the slide.
  void SetScreenRotation(int32_t nAngle);
  static int32_t GetScreenRotation();
  static bool IsSlideOpen();
  void ApplyRotation();
  void UpdateLandscapeOption();
  // The toolkit's frame skin and menu images by screen size and theme.
  void SetUpToolkitImages();

  // Options menu: commands listed while it is closed, shown in menu mode.
  // Items keep their address while their list lives.
  struct TMenuCommand {
    plat::WString text;
    bool bEnabled = true;
    CDelegate action;
  };
  using TMenuCommandList = std::deque<TMenuCommand>;
  void ClearMenuCommands();
  // Appends to the options menu's own list; null without an application.
  static TMenuCommand* AddOptionsMenuCommand(plat::WStringView text, bool bEnabled, const CDelegate& action);
  static TMenuCommand* AddMenuCommand(TMenuCommandList& list, plat::WStringView text, bool bEnabled,
                                      const CDelegate& action);
  void AddMenuCommand(plat::WStringView text, bool bEnabled, const CDelegate& action) {
    AddMenuCommand(m_menuCommands, text, bEnabled, action);
  }
  void SetMenuMode(bool bOn);
  // Runs command `nIndex` (from 1) of the list, when there is one, and
  // leaves menu mode.
  void RunMenuCommand(TMenuCommandList& list, int32_t nIndex);
  void RunMenuCommand(int32_t nIndex) { RunMenuCommand(m_menuCommands, nIndex); }
  void CloseOptionsMenu();
  void ShowOptionsMenu();
  size_t MenuCommandCount() const { return m_menuCommands.size(); }
  // The commands as the open options menu shows them (read by the roads).
  const TMenuCommandList& MenuCommands() const { return m_menuCommands; }

  // Backlight and keep-awake.
  void SetBacklightOn(bool bOn);
  bool IsBacklightHeld() const { return m_bBacklightHeld; }
  void KeepDeviceAwake();

  bool OnInput(const TInputEvent& event) override;
  plat::LRESULT OnMessage(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) override;
  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;

 protected:
  virtual void OnStart() {}
  virtual void OnShutdown() {}
  virtual void OnLayoutTreeCreated(CLayoutNode* pRoot) { (void)pRoot; }
  virtual void OnOptionsMenuClosed(int32_t nTop, int32_t nTopShown) { (void)nTop, (void)nTopShown; }
  virtual void OnViewActivated() {}

 private:
  friend class CControl;
  friend class CFocusLayoutMessage;
  void SwitchView(int32_t nFrom, int32_t nTo);
  void BuildRootAndBind(CView* pView);
  int Shutdown();
  void DrainInto(int* pFirstCode);
  void FitWindow();
  void RestoreFocus();
  void RunLoop();
  void UpdateSoftKeys();
  void RememberFocus(int32_t nLayer, CControl* pControl);
  void ForgetFocus(CControl* pControl, CControl* pReplacement);
  void OnControlDestroyed(CControl* pControl);
  void OnSettingChange(plat::WPARAM wParam);
  void OnActivate(plat::WPARAM wParam, plat::LPARAM lParam);
  void RaiseLayers();
  plat::LRESULT OnMenuModeInput(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);

  static CAppUi* s_pInstance;
  static bool s_bSquareScreen;

  std::unique_ptr<CEventQueue> m_pQueue;
  std::unique_ptr<CObjectRegistry> m_pRegistry;
  plat::ModuleHandle m_hInstance = nullptr;
  uint16_t m_nClassAtom = 0;
  bool m_bControlClassRegistered = false;
  plat::WString m_title;
  plat::WString m_className;
  plat::HWND m_hMenuBar = nullptr;
  bool m_bFitted = false;
  bool m_bWindowActive = true;
  bool m_bMenuMode = false;
  int32_t m_nStartViewId = -1;
  int32_t m_nActiveViewId = -1;
  int32_t m_nPreviousViewId = -1;
  std::map<int32_t, std::unique_ptr<CViewFactory>> m_views;
  TViewRecord m_active;
  std::unique_ptr<CLayoutNode> m_pRootLayout;
  CControl* m_pFocused = nullptr;
  std::map<int32_t, CControl*> m_focusMemory;
  int32_t m_nTopLayer = 0;
  int32_t m_nTopShownLayer = 0;
  // Kept messages of the running loop; members so that they outlive every
  // exit path of Run.
  CTickMessage m_tickMessage;
  CStartMessage m_startMessage;
  CFocusLayoutMessage m_focusMessage{this};
  CRotationMessage m_rotationMessage;
  TMenuCommandList m_menuCommands;
  std::vector<plat::HWND> m_stackOrder;
  bool m_bBacklightHeld = false;
  plat::HPowerRequirement m_hBacklight = nullptr;
  bool m_bLeftText = false, m_bRightText = false;
  bool m_bLeftEnabled = true, m_bRightEnabled = true;
  plat::WString m_leftText, m_rightText;
};
