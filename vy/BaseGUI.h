// The base of a toolkit screen: one surface on a host window that owns a
// root panel with its tree of controls. The host keeps its window procedure
// and forwards messages to the current screen (the top of the process-wide
// stack of open screens); the screen runs its render and input timers, paints
// each frame off screen into the 16-bit back buffer, plays its open and close
// transitions and keeps the record of the key focus.
#pragma once

#include <cstdint>
#include <vector>

#include "vy/ImageUtil.h"
#include "vy/VyCommon.h"

class CVyControl;
class CVyPanel;

// The screen's timers on its window.
enum : uintptr_t {
  TIMERID_RENDER = 728,
  TIMERID_LONGPRESS = 729,
  TIMERID_INACTIVITY = 730,
  TIMERID_ENTER_LONGPRESS = 731,
};

class CBaseGUI {
 public:
  // The render hold bits.
  static constexpr uint32_t kHoldStopAtTick = 1;
  static constexpr uint32_t kHoldKeepRendering = 2;

  CBaseGUI();
  CBaseGUI(const CBaseGUI&) = delete;
  CBaseGUI& operator=(const CBaseGUI&) = delete;

  virtual ~CBaseGUI();
  virtual HRESULT Load(plat::HWND hWnd);
  virtual HRESULT UnLoad();
  virtual void RequestUnLoad();
  virtual HRESULT Open(int32_t nType);
  virtual HRESULT Close(int32_t bSliding);
  virtual void CaptureCurrentDC();
  virtual void CaptureBackDC();
  virtual void CaptureMenuDC();
  virtual void SetShowFPS(int32_t bShow, int32_t bWithMemory);
  virtual void StartRender(int32_t bStart);
  virtual void StopRender();
  virtual int32_t IsRendering();
  virtual plat::HWND GetHWnd();
  virtual CVyPanel* GetRootPanel();
  virtual CVyControl* GetOwnedControl();
  virtual void SetOwnedControl(CVyControl* pControl);
  virtual plat::LRESULT OnPaint(plat::HWND hWnd, plat::HDC hdc);
  virtual plat::LRESULT OnPaintBefore(plat::HWND hWnd, plat::HDC hdc);
  virtual plat::LRESULT OnPaintAfter(plat::HWND hWnd, plat::HDC hdc);
  virtual plat::LRESULT OnPaintLast(plat::HWND hWnd, plat::HDC hdc);
  virtual plat::LRESULT OnKeyUp(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnKeyDown(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnLButtonUp(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnLButtonDown(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnMouseMove(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnTimer(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnSize(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual plat::LRESULT OnCommand(plat::WPARAM wParam, plat::LPARAM lParam);
  virtual int32_t IsLoaded();
  virtual int32_t IsOpen();
  virtual void Invalidate(const RECT* prc, int32_t bErase);
  virtual void ClearFocusControl();
  virtual void SetFocusControl(CVyPanel* pPanel, CVyControl* pControl);
  virtual CVyControl* GetFocusControl();
  virtual CVyPanel* GetFocusPanel();
  virtual void SetKeyFocusVisible(int32_t bVisible);
  virtual int32_t IsKeyFocusVisible();
  virtual void SetKeepColumn(int32_t bKeep);
  virtual int32_t GetKeepColumn();
  virtual void SetRenderHold(uint32_t nBits);
  virtual void ClearRenderHold(uint32_t nBits);
  virtual uint32_t GetRenderHold();

  static CBaseGUI* GetCurrentGUI();
  static int32_t StartRenderCurrentGUI(int32_t bFast);
  static void ResumeRenderCurrentGUI();
  static void ReleaseCapturedDC();
  static void ReleaseMenuDC();
  static void ReleaseGlobalDCs();
  static int32_t GetOpenType();
  static uint32_t GetCurrentFrame();

  // Where the transition snapshot is drawn; the root panel moves x with a
  // slide.
  static POINT GetSnapshotOffset();
  static void SetSnapshotOffsetX(int32_t x);
  // The open screens, the current one last.
  static const std::vector<CBaseGUI*>& Stack();
  // Drops every reference any live screen keeps to a control that goes away.
  static void ForgetControl(CVyControl* pControl);
  // The fade snapshot and its level (open type 3).
  static const MemDCInfo& FadeSnapshot();
  static int32_t FadeLevel();
  // Puts the process-wide state back to start (stack, snapshots, open type,
  // fade). Tests only.
  static void ResetStaticsForTests();

  uint32_t GetFrameCounter() const { return m_nFrame; }
  void SetFrameCounterForTests(uint32_t n) { m_nFrame = n; }
  POINT GetPressPoint() const { return m_ptPress; }

 private:
  struct TFocusRecord {
    CVyPanel* pPanel;
    CVyControl* pControl;
  };
  void KillScreenTimers();

  POINT m_ptPress{};
  CVyPanel* m_pRootPanel = nullptr;
  CVyControl* m_pOwnedControl = nullptr;
  TFocusRecord* m_pFocus = nullptr;
  plat::HWND m_hWnd = nullptr;
  int32_t m_bSliding = 0;
  int32_t m_bUnloadRequested = 0;
  int32_t m_bShowFps = 0;
  int32_t m_bShowFpsMemory = 0;
  int32_t m_bLoaded = 0;
  int32_t m_nSlideTarget = 0;
  uint32_t m_nActivityStamp = 0;
  int32_t m_bEnterArmed = 1;
  int32_t m_bRendering = 0;
  int32_t m_bKeyFocusVisible = 0;
  uint32_t m_nRenderHold = 0;
  int32_t m_bKeepColumn = 0;
  uint32_t m_nFrame = 0;
};
