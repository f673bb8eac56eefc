// The toolkit's popup menu: a control added on top of a panel that slides
// in vertically over a dimmed copy of the screen, shows its items a page at
// a time, moves a key focus or takes a touch, opens nested menus in place,
// and on a choice slides out, posts its messages and runs the chosen item's
// event. Everything is driven by the screen's render frames; there are no
// timers of its own.
#pragma once

#include <cstdint>

#include "vy/VyButton.h"
#include "vy/VyControl.h"
#include "vy/VyUtil.h"

class CVyPanel;

// Roles the menu itself reads (its other children's roles are its
// subclass's).
enum : int32_t {
  VYMENU_ROLE_BACK = 9,
  VYMENU_ROLE_PAGE_UP = 10,
  VYMENU_ROLE_PAGE_DOWN = 11,
  VYMENU_MAX_CONTROL = 13,
  VYMENUITEM_MAX_PRESS_CONTROL = 6,
};

class CVyMenuItem;

class CVyMenu : public CVyControl {
 public:
  // Menu states.
  enum : int32_t {
    kStateOpening = 0,
    kStateOpen = 2,
    kStateSubOpening = 3,
    kStateSubClosed = 4,
    kStateWaiting = 5,
    kStateSlidingOut = 6,
    kStateClosing = 7,
  };
  // The process-wide phases of the menu on screen.
  enum : int32_t { kPhaseOpened = 0, kPhaseFirstFrame = 1, kPhaseOpen = 2, kPhaseClosing = 7, kPhaseClosed = 8 };
  static constexpr int32_t kSlideBoost = 80;
  static constexpr int32_t kDimStep = 20;
  static constexpr int32_t kFadeStep = 60;

  CVyMenu();
  // While still its panel's modal control, a menu destroyed gives the panel
  // back the modal control and focus it found (nothing posted, no sound).
  ~CVyMenu() override;

  // A menu's offset is its slide's alone.
  void SetOffset(int32_t, int32_t) override {}
  int32_t OnLButtonDown(int32_t x, int32_t y) override;
  int32_t OnLButtonUp(int32_t x, int32_t y, int32_t bCancel) override;
  int32_t OnMouseMove(int32_t x, int32_t y) override;
  int32_t OnKeyDown(uint32_t nKey, plat::LPARAM lParam) override;
  int32_t OnKeyUp(uint32_t nKey, plat::LPARAM lParam) override;
  int32_t Draw(plat::HDC hdc) override;
  // a: the chosen item's id. Stored and delivered once the menu has closed.
  HRESULT FireRunEvent(intptr_t a, intptr_t b) override;

  virtual int32_t StartClose();
  virtual HRESULT Open(CVyControl* pMainPanel, int32_t nType, const RECT* pAnchor, const RECT* pRect);
  virtual HRESULT Open(int32_t nType);
  virtual HRESULT Close(int32_t bNow, int32_t bSilent);
  virtual HRESULT SetControl(int32_t nType, CVyControl* pControl);

  void SetCloseMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam);
  // 0 page up, 1 page down, 2 first page, 3 last page.
  void GoToPage(int32_t nWhere);
  void OnRunEvent();
  void FinishClose(CVyPanel* pPanel);

  // The first child after the items with this role, or null.
  CVyControl* FindRole(int32_t nRole);
  CVyPanel* FindPanel();

  int32_t GetState() const { return m_nState; }
  int32_t GetTopIndex() const { return m_nTopIndex; }
  int32_t GetFocusIndex() const { return m_nFocusIndex; }
  int32_t GetItemCount() const { return m_nItemCount; }
  int32_t GetPageSize() const { return m_nPageSize; }
  int32_t GetItemHeight() const { return m_nItemHeight; }
  int32_t GetWidth() const { return m_nWidth; }
  CVyMenu* GetCurrentMenu() const { return m_pCurrentMenu; }
  int32_t IsRunPending() const { return m_bRunPending; }

  static int32_t s_nMenuPhase;
  static RECT s_rcMenuAnchor;
  static uint32_t s_nDimColour;
  static int32_t s_bDimRepaint;
  static int32_t s_nFadeLevel;
  static int32_t DimLevel() { return int32_t(s_nDimColour >> 24); }
  static void ResetStaticsForTests();

 protected:
  friend class CVyMenuItem;
  // What both forms of Open do first: feedback, the edit, rendering, state.
  void BeginOpen(int32_t nType);
  // Opens the item's nested menu in front of this one.
  void OpenSubMenu(CVyMenuItem* pItem, bool bMoveFocus);
  void MoveFocus(int32_t nNew);
  void KeyUp();
  void KeyDown();
  int32_t DrawBody(plat::HDC hdc, CVyPanel* pPanel);
  void RepaintDim(plat::HDC hdc, CVyPanel* pPanel);
  int32_t SlideEnd() const;

  int32_t m_nWidth = 0;
  int32_t m_nMaxWidth = 0;
  int32_t m_nItemHeight = 0;
  int32_t m_nItemCount = 0;
  int32_t m_nPageSize = 0;
  int32_t m_nTopIndex = 0;
  int32_t m_nFocusIndex = -1;
  CVyMenu* m_pCurrentMenu = nullptr;
  int32_t m_bHasTitle = 0;
  int32_t m_bHasBackButton = 0;
  int32_t m_nMenuMode = 0;
  int32_t m_nOpenType = 0;
  int32_t m_bFromBelow = 0;
  TMoveAnimation m_anim{};
  int32_t m_bRunPending = 0;
  int32_t m_nState = 0;
  TVyMessage* m_pCloseMessage = nullptr;
  CVyControl* m_pSavedModal = nullptr;
  intptr_t m_nRunData = 0;
  // The panel the menu was opened over.
  CVyPanel* m_pOpenPanel = nullptr;
};

class CVyMenuItem : public CVyControl {
 public:
  CVyMenuItem();
  ~CVyMenuItem() override;

  int32_t OnRelease(int32_t x, int32_t y, int32_t bCancel) override;
  int32_t OnMouseMove(int32_t x, int32_t y) override;

  static HRESULT SetControl(CVyControl* pParent, int32_t nType, CVyControl* pChild);

  CVyMenu* GetSubMenu() const { return m_pSubMenu; }
  int32_t HasSubMenu() const { return m_bHasSubMenu; }
  int32_t GetDisabled() const { return m_nDisabled; }

 protected:
  friend class CVyMenu;
  CVyMenu* m_pSubMenu = nullptr;
  uint8_t m_bHasSubMenu = 0;
  uint8_t m_bHasIndicator = 0;
  int32_t m_nDisabled = 0;
};

// A menu's page and close buttons: id 0 closes, 1 pages up, 2 pages down.
class CVyMenuButton : public CVyButton {
 public:
  CVyMenuButton() = default;
  ~CVyMenuButton() override;
  int32_t OnRelease(int32_t x, int32_t y, int32_t bCancel) override;
};
