// Menus built from a table of item records: one item per record (nested
// menus for records with a sub-table), a nine-piece picture frame, an
// optional title, page buttons and, on large screens, separator lines, all
// laid out again whenever the menu's rectangle is set.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"
#include "vy/VyFont.h"
#include "vy/VyMenu.h"

class CVyLabel;
class CVyPicture;

struct BasicMenuItemInfo {
  plat::WString label;
  int32_t nId = 0;
  int32_t nType = 0;      // 0 plain; 1 or 2: shows an indicator of that style
  int32_t nDisabled = 0;  // 1: built disabled; any non-zero: releases ignored
  const BasicMenuItemInfo* pSubItems = nullptr;
  int32_t nSubCount = 0;
};

enum : int32_t {
  BASICMENU_ROLE_SEPARATOR = 12,
  // Text formats: left (items) and centred (title, back button), single
  // line, vertically centred, ellipsis at the end.
  BASICMENU_ITEM_FORMAT = 0x8024,
  BASICMENU_TITLE_FORMAT = 0x8025,
};

class CBasicMenu : public CVyMenu {
 public:
  CBasicMenu(int32_t nWidth, int32_t nMaxWidth, int32_t nItemHeight);
  ~CBasicMenu() override;

  // The layout entry; the fifth argument is the open type.
  void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t nType) override;

  void SetWidth();
  RECT SetMenuRect(const RECT& rcGiven);
  void LayoutItems(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom);

  int32_t GetMaxWidth() const { return m_nMaxWidth; }
  int32_t GetMenuMode() const { return m_nMenuMode; }
  int32_t HasTitle() const { return m_bHasTitle; }
  int32_t HasBackButton() const { return m_bHasBackButton; }
  // Whether the items exceed a page (the page buttons show).
  bool IsPaging() const { return m_nItemCount > m_nPageSize; }
  // The page-button column: S(9) + S(9) + the page-up picture's width while
  // paging, else 0.
  int32_t PageColumn();
};

class CBasicMenuEx : public CBasicMenu {
 public:
  CBasicMenuEx(const BasicMenuItemInfo* pItems, int32_t nCount, int32_t nWidth, int32_t nMaxWidth,
               int32_t nItemHeight);
  ~CBasicMenuEx() override;
  // Builds the frame, the page buttons, the back button (with a title and a
  // caption) and the separators after the items.
  void CreateControls(const plat::WChar* pwszTitle);
};

class CBasicMenuItem : public CVyMenuItem {
 public:
  CBasicMenuItem();
  ~CBasicMenuItem() override;
  // Lays the contents out for a menu of the given rectangle's width; the
  // item's own row stays as the menu laid it.
  void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive) override;
  // The focus shows on the button's picture; the item draws the one frame.
  void SetFocus(int32_t bFocus, int32_t bRecursive) override;
  int32_t GetLabelWidth();
  CVyButton* Button();
};

class CBasicMenuItemEx : public CBasicMenuItem {
 public:
  CBasicMenuItemEx(const plat::WChar* pwszLabel, int32_t nId, int32_t bIndicator, int32_t nDisabled,
                   CVyMenu* pSubMenu);
  ~CBasicMenuItemEx() override;
};

// The back button's caption (empty: no back button is built). Nothing in
// the program sets one.
void SetBasicMenuBackCaption(const plat::WChar* pwszCaption);
// Lets go of the shared fonts and images. Tests only.
void ResetBasicMenuSharedForTests();
// The width or height of a picture child's image; 0 for a missing child or
// an image that is not loaded.
int32_t PictureWidth(CVyControl* pPicture);
int32_t PictureHeight(CVyControl* pPicture);
