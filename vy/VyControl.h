// The base of every toolkit control: a node of a retained tree that owns its
// children, keeps its rectangle, the same moved by the scroll offset and the
// rectangle that counts for touches, a state word, and two extension blocks
// made on first need for event bindings, feedback files, animations and
// message records. Input travels down the tree from the screen; drawing goes
// in child order, then the focus frame and a deferred release.
//
// Input handlers return 0 when they took the event, 1 when not.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/base/Strings.h"
#include "vy/VyCommon.h"

// A bound callback: invoked with two pointer-sized arguments, cloned when
// bound, so the control owns its copy.
class IVyFunctor {
 public:
  virtual ~IVyFunctor() = default;
  virtual void Invoke(intptr_t a, intptr_t b) = 0;
  virtual IVyFunctor* Clone() const = 0;
};

// A functor over any copyable callable taking (intptr_t, intptr_t).
template <class F>
class TVyFunctor : public IVyFunctor {
 public:
  explicit TVyFunctor(F f) : m_f(std::move(f)) {}
  void Invoke(intptr_t a, intptr_t b) override { m_f(a, b); }
  IVyFunctor* Clone() const override { return new TVyFunctor(*this); }

 private:
  F m_f;
};

// A message the control posts.
struct TVyMessage {
  plat::HWND hWnd = nullptr;
  uint32_t nMsg = 0;
  plat::WPARAM wParam = 0;
  plat::LPARAM lParam = 0;
};

// State bits.
enum : uint32_t {
  VY_STATE_FOCUSED = 0x2,
  VY_STATE_PRESSED = 0x4,
  VY_STATE_DISABLED = 0x8,
  VY_STATE_HIDDEN = 0x10,
  VY_STATE_FLAGGED = 0x20,
  VY_STATE_PRESS_VIBRATION = 0x40,
  VY_STATE_RUN_VIBRATION = 0x80,
  VY_STATE_PRESS_SOUND = 0x100,
  VY_STATE_RUN_SOUND = 0x200,
  VY_STATE_SELECTED = 0x400,
  VY_STATE_HIT_PRIORITY = 0x800,
  VY_STATE_MENU_STYLE = 0x1000,
  VY_STATE_FOCUS_ON_PRESS = 0x4000,
  VY_STATE_DEFER_RELEASE = 0x8000,
  VY_STATE_RELEASE_PENDING = 0x10000,
  VY_STATE_NO_FOCUS_FRAME = 0x20000,
};

class CVyControl {
 public:
  struct TMoveTarget {
    RECT rc;
    int32_t nSpeed;
    uint32_t nLastFrame;
  };
  struct TExMember1 {
    IVyFunctor* pEvent = nullptr;
    IVyFunctor* pRun = nullptr;
    IVyFunctor* pLongPress = nullptr;
    IVyFunctor* pPress = nullptr;
    int32_t nEventValue = 0;
    int32_t nRunValue = 0;
    int32_t nLongPressValue = 0;
    int32_t nPressValue = 0;
    plat::WChar* pwszPressVibration = nullptr;
    plat::WChar* pwszRunVibration = nullptr;
    plat::WChar* pwszPressSound = nullptr;
    plat::WChar* pwszRunSound = nullptr;
    TMoveTarget* pMoveTarget = nullptr;
    RECT* pFocusInset = nullptr;
    TVyMessage* pPressMessage = nullptr;
  };
  struct TExMember2 {
    TVyMessage* pRunMessage = nullptr;
    TVyMessage* pLongPressMessage = nullptr;
    uint32_t nHotKey = 0;
    int32_t nPendingX = -1;
    int32_t nPendingY = -1;
  };

  CVyControl();
  CVyControl(const CVyControl&) = delete;
  CVyControl& operator=(const CVyControl&) = delete;

  // ---- The virtual operations, in their fixed order ----
  virtual ~CVyControl();
  virtual void Destroy();
  virtual void Cleanup();
  virtual int32_t GetData();
  virtual const plat::WChar* GetName();
  virtual void GetRect(RECT* prc);
  virtual void GetOffsetRect(RECT* prc);
  virtual void GetOffset(POINT* ppt);
  virtual CVyControl* GetChildControl(int32_t nIndex);
  virtual CVyControl* GetChildControlByReservedValue(int32_t nValue);
  virtual int32_t GetChildCount();
  virtual CVyControl* GetParent();
  virtual CVyControl* GetRootParent();
  virtual int32_t GetReservedValue();
  virtual int32_t GetTag();
  virtual void SetData(int32_t nData);
  virtual HRESULT SetName(const plat::WChar* pwszName);
  virtual void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive);
  virtual void SetOffset(int32_t x, int32_t y);
  virtual void SetEnable(int32_t bEnable, int32_t bRecursive);
  virtual void SetVisible(int32_t bVisible, int32_t bRecursive);
  virtual void SetFlagged(int32_t bFlag);
  virtual void SetPressVibration(int32_t bFlag, const plat::WChar* pwszFile);
  virtual void SetRunVibration(int32_t bFlag, const plat::WChar* pwszFile);
  virtual void SetPressSound(int32_t bFlag, const plat::WChar* pwszFile);
  virtual void SetRunSound(int32_t bFlag, const plat::WChar* pwszFile);
  virtual int32_t SetPress(int32_t bPress, int32_t bRecursive);
  virtual void SetRelease(int32_t bCancel, int32_t bRecursive);
  virtual void SetPointCheckRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive);
  virtual void SetFocus(int32_t bFocus, int32_t bRecursive);
  virtual void SetFocusOnPress(int32_t bFlag);
  virtual void SetMenuStyle(int32_t bFlag);
  virtual HRESULT SetParent(CVyControl* pParent);
  virtual void Select();
  virtual void SetHitPriority(int32_t nValue);
  virtual void SetReservedValue(int32_t nValue);
  virtual void SetMoveTarget(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t nSpeed);
  virtual void SetFocusFrameInset(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom);
  virtual void SetHotKey(uint32_t nKey);
  virtual void ClearHotKey();
  virtual void SetDeferRelease(int32_t bFlag);
  virtual void SetTag(int32_t nTag);
  virtual void SetShowFocusFrame(int32_t bShow);
  virtual void StepMove();
  virtual void MoveToTargetRect(int32_t dLeft, int32_t dTop, int32_t dRight, int32_t dBottom, int32_t bRecursive);
  virtual int32_t HitTest(int32_t x, int32_t y);
  virtual int32_t IsVisible();
  virtual int32_t IsEnabled();
  virtual int32_t IsPressed();
  virtual int32_t IsFocused();
  virtual int32_t IsReleased();
  virtual int32_t IsFlagged();
  virtual int32_t IsFocusOnPress();
  virtual int32_t IsSelected();
  virtual int32_t IsMenuStyle();
  virtual int32_t IsDeferRelease();
  virtual int32_t PlayPressFeedback();
  virtual int32_t OnRelease(int32_t x, int32_t y, int32_t bCancel);
  virtual void SetFocusFlag();
  virtual int32_t OnLButtonDown(int32_t x, int32_t y);
  virtual int32_t OnLongPress(int32_t x, int32_t y, int32_t bRelease);
  virtual int32_t OnLButtonUp(int32_t x, int32_t y, int32_t bCancel);
  virtual int32_t OnMouseMove(int32_t x, int32_t y);
  virtual int32_t OnKeyDown(uint32_t nKey, plat::LPARAM lParam);
  virtual int32_t OnKeyUp(uint32_t nKey, plat::LPARAM lParam);
  virtual void Reserved();
  virtual int32_t Draw(plat::HDC hdc);
  virtual void EndDraw(plat::HDC hdc);
  virtual HRESULT AddControl(CVyControl* pControl, int32_t nIndex);
  virtual void BindEvent(const IVyFunctor* pFunctor, int32_t nValue);
  virtual void BindRunEvent(const IVyFunctor* pFunctor, int32_t nValue);
  virtual void BindRunMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);
  virtual HRESULT FireEvent(intptr_t a, intptr_t b);
  virtual HRESULT FireRunEvent(intptr_t a, intptr_t b);
  virtual void BindLongPressEvent(const IVyFunctor* pFunctor, int32_t nValue);
  virtual void BindLongPressMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);
  virtual int32_t FireLongPressEvent(intptr_t a, const POINT* pPoint);
  virtual void BindPressEvent(const IVyFunctor* pFunctor, int32_t nValue);
  virtual void BindPressMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);
  virtual HRESULT FirePressEvent(intptr_t a, intptr_t b);
  virtual void MoveRect(int32_t dx, int32_t dy, int32_t bRecursive);
  virtual void ResizeRect(int32_t dLeft, int32_t dTop, int32_t dRight, int32_t dBottom, int32_t bRecursive);
  virtual void SetSelectedChild(CVyControl* pChild);
  virtual size_t FindChild(CVyControl* pChild);
  virtual int32_t GetChildIndex(CVyControl* pChild);
  virtual void RemoveChildAt(size_t nPosition, int32_t bDelete);
  virtual void RemoveFromParent();
  virtual void NarrowTouchTarget();
  virtual int32_t CheckMousePointRevision(int32_t x, int32_t y);
  virtual void Dump(plat::WString* pText);

  // ---- Non-virtual ----
  void SetWindow(plat::HWND hWnd) { m_hWnd = hWnd; }
  plat::HWND GetWindow() const { return m_hWnd; }
  uint32_t GetState() const { return m_nState; }
  CVyControl* GetSelectedChild() const { return m_pSelectedChild; }
  const TExMember1* ExMember1() const { return m_pExMember1; }
  const TExMember2* ExMember2() const { return m_pExMember2; }

  // The control-outline debug display the screen toggles.
  static void SetDebugOutline(int32_t bOn);
  static int32_t GetDebugOutline();

 protected:
  // Walks the children [first, last) by index, the count taken once: `fn`
  // (child, index) returns whether to go on. A missing child writes the
  // child-loop line under the calling operation and ends the walk with false.
  template <class Fn>
  bool WalkChildren(const char* pszOperation, const plat::WChar* pwszSource, int nLine, int32_t nFirst,
                    int32_t nLast, Fn&& fn) {
    for (int32_t i = nFirst; i < nLast; ++i) {
      CVyControl* pControl = GetChildControl(i);
      if (!pControl) {
        VyLogMissingChild(pszOperation, pwszSource, nLine, i);
        return false;
      }
      if (!fn(pControl, i)) break;
    }
    return true;
  }
  // Whether a child takes part in dispatch: visible and enabled.
  static bool TakesPart(CVyControl* pChild) { return pChild->IsVisible() && pChild->IsEnabled(); }
  TExMember1* EnsureExMember1();
  TExMember2* EnsureExMember2();
  void SetBit(uint32_t nBit, bool bOn) { m_nState = bOn ? (m_nState | nBit) : (m_nState & ~nBit); }
  POINT Centre() const;

  plat::HWND m_hWnd = nullptr;
  int32_t m_nData = 0;
  plat::WChar* m_pwszName = nullptr;
  uint32_t m_nState = 1;
  POINT m_ptOffset{};
  RECT m_rc{};
  RECT m_rcOffset{};
  RECT m_rcPointCheck{};
  std::vector<CVyControl*> m_vecChildren;
  CVyControl* m_pParent = nullptr;
  CVyControl* m_pSelectedChild = nullptr;
  int32_t m_nReservedValue = 0;
  int32_t m_nTag = 0;
  TExMember1* m_pExMember1 = nullptr;
  TExMember2* m_pExMember2 = nullptr;
};

// Every child of this control, or the children in [first, last).
#define VY_WALK_CHILDREN(fn) WalkChildren(__PRETTY_FUNCTION__, VY_SOURCE, __LINE__, 0, GetChildCount(), fn)
#define VY_WALK_CHILD_RANGE(first, last, fn) WalkChildren(__PRETTY_FUNCTION__, VY_SOURCE, __LINE__, first, last, fn)

// The screen's touch-point history (its correction switch is off, so only
// the reset does anything).
void BeginMousePoints(int32_t x, int32_t y);
void CollectMousePoints(plat::HWND hWnd);
int32_t ReviseMousePoint(int32_t x, int32_t y, POINT* pRevised);
void DrawMousePoints(plat::HDC hdc);
