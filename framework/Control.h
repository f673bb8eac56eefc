// The control tree: every control owns a child window of class "QUORELCTL"
// that carries it in the "THIS" property. Windows do the hit-testing, the
// keyboard routing, the z-order and the capture; the controls keep a dirty
// rectangle each and paint through one shared off-screen bitmap, one blit per
// flush. The main window is the root of the tree (CAppUi).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "framework/Events.h"
#include "framework/Graphics.h"
#include "framework/basetypes.h"
#include "framework/layout.h"
#include "framework/wrappers.h"
#include "platform/ui/Ui.h"

class CAppUi;
class CControl;

// Runs `init` on a freshly allocated control (which creates its window
// under the parent); a control whose initialisation throws is freed again.
template <class T, class F>
T* InitControl(T* p, F&& init) {
  try {
    init(p);
  } catch (...) {
    delete p;
    throw;
  }
  return p;
}

// Allocates a control and initialises it as InitControl does.
template <class T, class F>
T* NewControl(F&& init) {
  return InitControl(new T(), std::forward<F>(init));
}

// Input offered to controls. Key 1 is the pointer.
struct TInputEvent {
  uint8_t bPressed = 0;
  uint32_t nKey = 0;
  int32_t x = 0;
  int32_t y = 0;
};
inline constexpr uint32_t KeyPointer = 1;

// Enable states.
enum : uint8_t {
  EnableOn = 0,
  EnableOff = 1,
  EnableOffByAncestor = 2,
};

// Runs the owning control's flush; kept, embedded in the control.
class CPaintMessage : public CEventMessage {
 public:
  explicit CPaintMessage(CControl* pOwner) : m_pOwner(pOwner) { SetKept(true); }
  void Dispatch() override;

 private:
  CControl* m_pOwner;
};

// An input event posted to a control and then offered up its parents. Dies
// unrun (cancelled) when the target is destroyed first.
class CInputMessage : public CEventMessage {
 public:
  static CInputMessage* New(CControl* pTarget, const TInputEvent& event);
  ~CInputMessage() override;
  void Dispatch() override;

 private:
  CInputMessage(CControl* pTarget, const TInputEvent& event);
  void OnTargetDestroyed();
  CControl* m_pTarget;
  TInputEvent m_event;
  CDelegate m_destroyDelegate;
};

class CControl : public CObject, public CLayoutObserver {
 public:
  CControl();
  ~CControl() override;
  CControl(const CControl&) = delete;
  CControl& operator=(const CControl&) = delete;

  // Makes the control's window: under a parent a child window linked as the
  // parent's last child; without one the top-level main window (shown with
  // its default position and size). An empty class name is "QUORELCTL".
  virtual void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {});
  virtual plat::LRESULT OnMessage(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);
  // True when the event was taken.
  virtual bool OnInput(const TInputEvent& event);
  virtual bool OnDrag(int32_t nDelta);
  // `origin` is the control's top-left and `clip` the area to draw, both in
  // the coordinates of the context.
  virtual void Paint(CGraphics& g, const POINT& origin, const RECT& clip);
  virtual void OnRectChanged(const RECT& rcNew, const RECT& rcOld);
  virtual void OnShown(bool bVisible);
  virtual void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew);
  virtual void OnEnableChanged(bool bEnabled, bool bWasEnabled);
  virtual void OnLayoutNodeChanged(CLayoutNode* pNode);
  virtual void OnChildAdded(CControl* pChild);
  virtual void OnChildRemoved(CControl* pChild);
  // The display turned; `rcApp` is the main window's new rectangle.
  virtual void OnDisplayChanged(const RECT& rcApp);
  virtual void ReloadImages();

  // The window class every control window has; registered once per
  // application (a second registration panics), unregistered with it.
  static void RegisterWindowClass(plat::ModuleHandle hInstance);
  static void UnregisterWindowClass(plat::ModuleHandle hInstance);
  static plat::LRESULT ControlWndProc(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);

  // Painting.
  // A drawing context straight on the control's window (outside the
  // deferred painting).
  std::unique_ptr<CWindowGraphics> CreateGraphics() const;
  void Invalidate(const RECT& rc);  // empty: the whole control
  void Invalidate() { Invalidate(RECT{}); }
  void FlushPaint();
  void PaintTree(CGraphics& g, const POINT& origin, const RECT& clip, bool bChildren, bool bOnlyByParent);
  void PaintParentBackground(CGraphics& g, const POINT& origin, const RECT& clip);
  const RECT& DirtyRect() const { return m_rcDirty; }
  bool IsPaintedByParent() const { return m_bPaintedByParent; }
  void SetPaintedByParent(bool b) { m_bPaintedByParent = b; }
  // Re-posts the paint message when something is dirty (the loop's walk
  // after a batch of window paints).
  void RepostDirtyPaints();

  // Geometry: rectangles in the parent's coordinates (the main window's on
  // the screen).
  // Error 7 when the window cannot be moved.
  void MoveTo(const RECT& rc, bool bRepaint = false);
  const RECT& Rect() const { return m_rc; }
  RECT LocalRect() const { return RECT{0, 0, m_rc.right - m_rc.left, m_rc.bottom - m_rc.top}; }
  RECT ScreenRect() const;
  // The control's top-left in the main window's client coordinates.
  POINT ClientOrigin() const;
  // Inside the screen rectangle of each ancestor (cumulatively) at least in part.
  bool IsPartlyVisible() const;

  // Tree.
  CControl* Parent() const { return m_pParent; }
  CControl* FirstChild() const { return m_pFirstChild; }
  CControl* LastChild() const { return m_pLastChild; }
  CControl* NextSibling() const { return m_pNext; }
  CControl* PrevSibling() const { return m_pPrev; }
  plat::HWND Window() const { return m_hWnd; }
  bool IsAncestorOf(const CControl* pOther) const;
  void BringToFront();

  // Visibility, enabling, closing.
  void SetVisible(bool bVisible);
  bool IsVisible() const { return m_bVisible; }
  bool IsShown() const;  // itself and every ancestor visible
  void SetEnabled(bool bEnabled);
  bool IsEnabled() const { return m_nEnable == EnableOn; }
  uint8_t EnableState() const { return m_nEnable; }
  void SetClosing() { m_bClosing = true; }
  void SetClosingTree();
  bool IsClosing() const { return m_bClosing; }

  // The control that holds the pointer between a press and its release.
  static CControl* CaptureHolder() { return s_pCapture; }

  // Layers (set on direct children of the main window by CAppUi).
  int32_t Layer() const { return m_nLayer; }
  // Input through layers: the control takes input even while a higher layer
  // is shown (CAppUi::SetInputThroughLayers sets it on a whole subtree).
  void SetInputThrough(bool b) { m_bInputThrough = b; }
  bool IsInputThrough() const { return m_bInputThrough; }

  // Focus.
  void SetFocus();
  bool IsFocused() const { return m_bFocused; }
  CControl* FindFirstFocusable(int32_t nLayer);
  CControl* FindLastFocusable(int32_t nLayer);
  CControl* FindNextFocusable(int32_t nLayer);
  CControl* FindPreviousFocusable(int32_t nLayer);
  bool IsFocusable(int32_t nLayer) const;
  // Moves the focus from this control, within the top shown layer: to the
  // previous or next focusable control in tree order, or along the neighbour
  // links. False when there is nowhere to go (the focus stays).
  bool FocusPrevious();
  bool FocusNext();
  bool FocusLeft() { return FocusTo(Neighbour(0)); }
  bool FocusUp() { return FocusTo(Neighbour(1)); }
  bool FocusRight() { return FocusTo(Neighbour(2)); }
  bool FocusDown() { return FocusTo(Neighbour(3)); }
  void SetNeighbours(CControl* pLeft, CControl* pUp, CControl* pRight, CControl* pDown);
  void SetLeftNeighbour(CControl* p) { m_pNeighbours[0] = p; }
  void SetRightNeighbour(CControl* p) { m_pNeighbours[2] = p; }
  // 0 left, 1 up, 2 right, 3 down: the first visible, enabled control along
  // the links, or null.
  CControl* Neighbour(int nDirection) const;

  // Input.
  void PostInput(const TInputEvent& event);
  // Offers the event to this control and then up its parents.
  bool OfferUp(const TInputEvent& event);
  void EndDrag();
  bool IsTap() const { return m_nDragSteps < 4; }
  void SetDragDelegate(const CDelegate& d) { m_dragDelegate = d; }
  // The drag delegate of this control and, when asked, of every control
  // below it (each gets its own copy).
  void SetDragHandler(const CDelegate& d, bool bDescendants);
  CDelegateList& DestroyListeners() { return m_destroyListeners; }

  // Layout binding.
  void SetLayoutNode(CLayoutNode* pNode);
  CLayoutNode* LayoutNode() const { return m_pLayoutNode; }
  void OnLayoutChanged(CLayoutNode* pNode) override;
  void OnLayoutNodeDeleted(CLayoutNode* pNode) override;
  // Pins the tree's root to this control's screen rectangle and lays it out
  // against the whole screen.
  void LayoutInto(CLayoutNode* pRoot);

  // The shared off-screen bitmap (also the options menu's snapshot); made on
  // first use at the main window's size. Released with the application.
  static plat::HBITMAP OffscreenBitmap();
  static void ReleaseOffscreenBitmap();

 protected:
  void SetEnableStateRaw(uint8_t n) { m_nEnable = n; }
  void LinkToParent(CControl* pParent);
  bool BlockedByLayer() const;
  void ApplyEnable(uint8_t nNew);
  void MoveFocusAway();
  CControl* NextInTree(const CControl* pStop) const;  // pre-order successor within pStop's subtree
  static bool FocusTo(CControl* pTarget);

  friend class CAppUi;
  friend class CPaintMessage;

  bool m_bClosing = false;
  plat::HWND m_hWnd = nullptr;
  uint32_t m_nNextChildId = 768;
  CControl* m_pFrame = nullptr;
  CControl* m_pParent = nullptr;
  CControl* m_pFirstChild = nullptr;
  CControl* m_pLastChild = nullptr;
  CControl* m_pPrev = nullptr;
  CControl* m_pNext = nullptr;
  CControl* m_pNeighbours[4] = {nullptr, nullptr, nullptr, nullptr};
  CDelegateList m_destroyListeners;
  CDelegate m_dragDelegate;
  RECT m_rc{};
  RECT m_rcDirty{};
  CPaintMessage m_paintMessage{this};
  bool m_bVisible = true;
  bool m_bFocused = false;
  bool m_bSizeChanging = false;
  bool m_bPainting = false;
  bool m_bPaintedByParent = false;
  bool m_bInsideAppFrame = false;
  // Starts disabled; a concrete class resets it in its constructor, before
  // Create, so that its parent sees the right state when it is added.
  uint8_t m_nEnable = EnableOff;
  int32_t m_nLayer = 0;
  bool m_bInputThrough = false;
  bool m_bDragStarted = false;
  int32_t m_nDragSteps = 0;
  POINT m_ptLast{};        // last pointer position, client
  POINT m_ptLastScreen{};  // and screen
  CLayoutNode* m_pLayoutNode = nullptr;

  static CControl* s_pCapture;
};

// Background modes of a panel.
enum : int32_t {
  EPanelColors = 0,
  EPanelImage = 1,
  EPanelParent = 2,
  EPanelPainter = 3,
  EPanelNone = 4,
};

class CtlPanel;

// A pluggable panel background. The panel does not own it; whichever of the
// two goes first detaches the pair.
class CtlPainter {
 public:
  CtlPainter() = default;
  virtual ~CtlPainter();
  CtlPainter(const CtlPainter&) = delete;
  CtlPainter& operator=(const CtlPainter&) = delete;
  // `rc` is the panel's rectangle in the context's coordinates.
  virtual void Paint(CGraphics& g, const RECT& rc, const RECT& clip) = 0;
  virtual void Resize(const RECT& rcNew, const RECT& rcOld) = 0;
  CtlPanel* Panel() const { return m_pPanel; }

 private:
  friend class CtlPanel;
  CtlPanel* m_pPanel = nullptr;
  int32_t m_nReserved = 0;
};

// A container that enables itself when it gains a child that is not disabled
// by itself, disables itself when it loses the last such child, and moves the
// focus with the arrow keys. Its owner's own SetEnabled is never undone the
// other way: a child added does not disable it, a child removed does not
// enable it.
class CtlPanel : public CControl {
 public:
  CtlPanel();
  ~CtlPanel() override;
  void SetColors(TColor border, TColor fill);
  void SetColor(TColor fill) { SetColors(fill, fill); }
  void SetTransparent();
  void SetNoBackground();
  void SetPainter(CtlPainter* pPainter);
  CtlPainter* Painter() const { return m_pPainter; }
  void DisableArrowKeys() { m_bArrowKeys = false; }
  int32_t BackgroundMode() const { return m_nMode; }

  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  void OnChildAdded(CControl* pChild) override;
  void OnChildRemoved(CControl* pChild) override;

 private:
  friend class CtlPainter;
  bool HasChildEnabledBySelf() const;
  void DetachPainter();
  CtlPainter* m_pPainter = nullptr;
  int32_t m_nMode = EPanelNone;
  TColor m_border = 0;
  TColor m_fill = 0;
  bool m_bArrowKeys = true;
};

class CView;
struct TViewRecord;

// Deletes its view when it runs, so a view never dies under its own handler.
class DeferredDeleteMessage : public CEventMessage {
 public:
  explicit DeferredDeleteMessage(CView* pTarget) : m_pTarget(pTarget) { SetKept(true); }
  void Dispatch() override;
  CView* Target() const { return m_pTarget; }

 private:
  CView* m_pTarget;
};

class CView : public CtlPanel {
 public:
  CView();
  ~CView() override;
  // Binds its controls to the layout tree under the node and sets it up.
  virtual void ApplyLayout(CLayoutNode* pNode);
  // The view became active on the view-area node.
  virtual void OnViewActivated(CLayoutNode* pViewArea);
  virtual void OnLeave(TViewRecord* pOld, TViewRecord* pNew);
  void ScheduleDelete();

 private:
  DeferredDeleteMessage m_deleteMessage{this};
};

// One registered view: it builds the view on demand.
class CViewFactory : public CObject {
 public:
  CViewFactory() = default;
  virtual CView* CreateView() = 0;
  // Constructs the view under the parent and binds it to the node.
  CView* Create(CControl* pParent, CLayoutNode* pNode);
  void SetActive(bool b) { m_bActive = b; }
  bool IsActive() const { return m_bActive; }
  int32_t m_nViewId = -1;
  CView* m_pView = nullptr;

 private:
  bool m_bActive = false;
};

// The record of the active view.
struct TViewRecord {
  CViewFactory* pFactory = nullptr;
  CView* pView = nullptr;
  int32_t nViewId = -1;
};

void BindLayoutAndApply(CView* pView, CLayoutNode* pNode);
