#include "vy/BasicMenu.h"

#include <algorithm>
#include <map>
#include <memory>

#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/VyGesture.h"
#include "vy/VyLabel.h"
#include "vy/VyLine.h"
#include "vy/VyPicture.h"
#include "vy/VyUtil.h"

namespace {

int32_t S(int32_t n) { return VyScale(GetLogPixelsX(), n); }
int32_t ScreenWidth() { return plat::GetSystemMetrics(plat::SM_CXSCREEN); }
bool IsPortrait() { return ScreenWidth() <= plat::GetSystemMetrics(plat::SM_CYSCREEN); }

constexpr plat::COLORREF kWhite = 0xFFFFFF, kBlack = 0x000000, kGrey = 0xA5A5A5, kSeparator = 0x545454;

// Made on first use, kept to the end of the program: each picture slot is
// decoded once however many menus are built.
struct TShared {
  CVyFont normal, white, grey, backNormal, backOther;
  std::map<int32_t, CIImage> images;
  plat::WString backCaption;
};
std::unique_ptr<TShared>& SharedSlot() {
  static std::unique_ptr<TShared> s;
  return s;
}
TShared& Shared() {
  auto& s = SharedSlot();
  if (!s) {
    s = std::make_unique<TShared>();
    const int32_t h = S(40);
    auto font = [h](plat::COLORREF c) { return CVyFont(500, h, c, u"Tahoma", 0, 0); };
    s->normal = font(IsLargeScreen() ? kWhite : kBlack);
    s->white = font(kWhite);
    s->grey = font(kGrey);
    s->backNormal = font(kBlack);
    s->backOther = font(kWhite);
  }
  return *s;
}

// The shared image of an id; null for "none".
const CIImage* SharedImage(int32_t nId) {
  if (nId == -1) return nullptr;
  auto& images = Shared().images;
  auto it = images.find(nId);
  if (it == images.end()) {
    it = images.emplace(nId, CIImage()).first;
    it->second.Load(GetResourceInstance(), nId);
  }
  return &it->second;
}

// A transparent picture of a menu (or item) image index; hidden on request.
CVyPicture* MakePicture(int32_t nId, bool bHidden = false) {
  const CIImage* pImg = SharedImage(nId);
  auto* p = pImg ? new CVyPicture(*pImg) : new CVyPicture(static_cast<const RECT*>(nullptr));
  p->SetTransparent(1);
  if (bHidden) p->SetVisible(0, 1);
  return p;
}

CVyControl* Child(CVyControl* p, int32_t nRole) { return p ? p->GetChildControlByReservedValue(nRole) : nullptr; }

void Place(CVyControl* p, int32_t l, int32_t t, int32_t r, int32_t b) {
  if (p) p->SetRect(l, t, r, b, 1);
}

// An even step up, capped.
int32_t Widen(int32_t nWidth, int32_t nExcess, int32_t nMax) {
  if (nExcess <= 0 || nWidth >= nMax) return nWidth;
  return std::min(nMax, nWidth + nExcess + (nExcess & 1));
}

}  // namespace

int32_t PictureWidth(CVyControl* pPicture) {
  auto* p = dynamic_cast<CVyPicture*>(pPicture);
  return p && p->GetImage()->IsLoaded() ? p->GetImage()->GetWidth() : 0;
}

int32_t PictureHeight(CVyControl* pPicture) {
  auto* p = dynamic_cast<CVyPicture*>(pPicture);
  return p && p->GetImage()->IsLoaded() ? p->GetImage()->GetHeight() : 0;
}

void SetBasicMenuBackCaption(const plat::WChar* pwszCaption) { Shared().backCaption = pwszCaption ? pwszCaption : u""; }
void ResetBasicMenuSharedForTests() { SharedSlot().reset(); }

// ---- CBasicMenu --------------------------------------------------------------

CBasicMenu::CBasicMenu(int32_t nWidth, int32_t nMaxWidth, int32_t nItemHeight) {
  m_nWidth = nWidth;
  m_nMaxWidth = nMaxWidth;
  m_nItemHeight = IsPortrait() ? nItemHeight : VyBasicMenuMetrics().nItemHeightLandscape;
  m_nPageSize = IsPortrait() ? 8 : 4;
}

CBasicMenu::~CBasicMenu() = default;

int32_t CBasicMenu::PageColumn() {
  if (!IsPaging()) return 0;
  return S(9) + S(9) + PictureWidth(Child(FindRole(VYMENU_ROLE_PAGE_UP), VYBUTTON_PICTURE_NORMAL));
}

void CBasicMenu::SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t nType) {
  int32_t nPage;
  if (IsPortrait()) {
    m_nItemHeight = S(66);
    nPage = m_bHasTitle ? 8 : 9;
  } else {
    m_nItemHeight = S(56);
    nPage = m_bHasTitle ? 4 : 6;
  }
  // Small screens: no more rows than the given height holds.
  const int32_t h0 = PictureHeight(FindRole(0)), h6 = PictureHeight(FindRole(6));
  const int32_t backRow = m_bHasBackButton ? m_nItemHeight + 2 * S(4) : 0;
  if (m_nItemHeight > 0) nPage = std::min(nPage, (nBottom - nTop - h0 - h6 - backRow) / m_nItemHeight);
  m_nPageSize = std::max(1, nPage);
  m_nTopIndex = std::clamp(m_nTopIndex, 0, std::max(0, m_nItemCount - m_nPageSize));
  SetWidth();
  RECT rc = SetMenuRect(RECT{nLeft, nTop, nRight, nBottom});
  CVyControl::SetRect(rc.left, rc.top, rc.right, rc.bottom, 0);
  if (nType != 0) {
    const RECT& a = s_rcMenuAnchor;
    const int32_t ah = a.Height(), h = rc.Height();
    int32_t top;
    if (a.bottom < (nBottom - nTop) / 2) {
      top = std::min(a.bottom - ah / 5, nBottom - h);
      m_bFromBelow = 0;
    } else {
      m_bFromBelow = 1;
      top = std::max(a.top + ah / 5 - h, nTop);
    }
    MoveRect(0, top - rc.top, 1);
    rc = m_rc;
  }
  VY_WALK_CHILD_RANGE(0, m_nItemCount, [&](CVyControl* pControl, int32_t) {
    auto* pMenuItem = dynamic_cast<CBasicMenuItem*>(pControl);
    CPR_RET(pMenuItem, false);
    if (auto* pSub = dynamic_cast<CBasicMenu*>(pMenuItem->GetSubMenu()))
      pSub->SetRect(nLeft, nTop, nRight, nBottom, nType);
    pMenuItem->SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
    return true;
  });
}

void CBasicMenu::SetWidth() {
  const int32_t e = PageColumn();
  const int32_t W = e + m_nWidth;
  if (m_bHasTitle) {
    CVyControl* pTop = FindRole(1);
    auto* pLabel = dynamic_cast<CVyLabel*>(pTop ? pTop->GetChildControlByReservedValue(1) : nullptr);
    if (pLabel) {
      plat::Size ext{};
      pLabel->GetTextExtent(&ext);
      if (ext.cx > W) m_nWidth = Widen(m_nWidth, ext.cx - W, m_nMaxWidth);
    }
  }
  // While paging the page column must fit the screen too.
  const int32_t nCap = e > 0 ? std::min(m_nMaxWidth, ScreenWidth() - e) : m_nMaxWidth;
  m_nWidth = std::min(m_nWidth, std::max(nCap, 0));
  VY_WALK_CHILD_RANGE(0, m_nItemCount, [&](CVyControl* pControl, int32_t) {
    auto* pMenuItem = dynamic_cast<CBasicMenuItem*>(pControl);
    CPR_RET(pMenuItem, false);
    pMenuItem->SetRect(0, 0, W, m_nItemHeight, 1);
    CVyButton* pButton = pMenuItem->Button();
    auto* pLabel = dynamic_cast<CVyLabel*>(pButton ? pButton->GetChildControlByReservedValue(VYBUTTON_TEXT_NORMAL) : nullptr);
    CPR_RET(pLabel, false);
    plat::Size ext{};
    pLabel->GetTextExtent(&ext);
    const int32_t room = pMenuItem->GetLabelWidth();
    if (ext.cx > room) m_nWidth = Widen(m_nWidth, ext.cx - room, nCap);
    return m_nWidth < nCap;
  });
}

RECT CBasicMenu::SetMenuRect(const RECT& rcGiven) {
  CVyControl* pieces[9];
  for (int32_t i = 0; i < 9; ++i) pieces[i] = FindRole(i);
  const int32_t w0 = PictureWidth(pieces[0]), h0 = PictureHeight(pieces[0]);
  const int32_t w2 = PictureWidth(pieces[2]), h6 = PictureHeight(pieces[6]);
  CVyControl* pUp = FindRole(VYMENU_ROLE_PAGE_UP);
  CVyControl* pDown = FindRole(VYMENU_ROLE_PAGE_DOWN);
  const bool bPaging = IsPaging();
  const int32_t pw = bPaging ? PictureWidth(Child(pUp, VYBUTTON_PICTURE_NORMAL)) : 0;
  const int32_t ph = bPaging ? PictureHeight(Child(pUp, VYBUTTON_PICTURE_NORMAL)) : 0;
  const int32_t e = bPaging ? S(9) + S(9) + pw : 0;
  const int32_t left = (ScreenWidth() - (e + m_nWidth)) / 2, right = left + e + m_nWidth;
  const int32_t bottom = rcGiven.bottom, innerBottom = bottom - h6;
  const int32_t backRow = m_bHasBackButton ? m_nItemHeight + 2 * S(4) : 0;
  const int32_t itemsTop = innerBottom - std::min(m_nPageSize, m_nItemCount) * m_nItemHeight - backRow;
  const int32_t top = itemsTop - h0;
  // While paging the items end before the page-button column: a tap on a
  // page button never reaches the row behind it.
  LayoutItems(left + w0, itemsTop, right - w2 - e, innerBottom);
  const int32_t rows[4] = {top, itemsTop, innerBottom, bottom};
  const int32_t cols[4] = {left, left + w0, right - w2, right};
  for (int32_t i = 0; i < 9; ++i) Place(pieces[i], cols[i % 3], rows[i / 3], cols[i % 3 + 1], rows[i / 3 + 1]);
  if (m_bHasBackButton)
    if (auto* pBack = dynamic_cast<CVyButton*>(FindRole(VYMENU_ROLE_BACK))) {
      const int32_t bl = left + w0, br = right - w2, bt = innerBottom - m_nItemHeight, bb = innerBottom;
      pBack->CVyControl::SetRect(bl, bt, br, bb, 0);
      for (int32_t slot : {VYBUTTON_PICTURE_NORMAL, VYBUTTON_PICTURE_PRESSED, VYBUTTON_PICTURE_FOCUSED}) {
        CVyControl* pBox = Child(pBack, slot);
        if (!pBox) continue;
        pBox->CVyControl::SetRect(bl, bt, br, bb, 0);
        const int32_t c0 = PictureWidth(Child(pBox, 0)), c2 = PictureWidth(Child(pBox, 2));
        Place(Child(pBox, 0), bl, bt, bl + c0, bb);
        Place(Child(pBox, 1), bl + c0, bt, br - c2, bb);
        Place(Child(pBox, 2), br - c2, bt, br, bb);
        for (int32_t text = VYBUTTON_TEXT_NORMAL; text <= VYBUTTON_TEXT_DISABLED; ++text)
          Place(Child(pBack, text), bl + c0, bt, br - c2, bb);
      }
    }
  const int32_t pageRight = right - w2 - S(9), pageLeft = pageRight - pw;
  if (pUp) {
    Place(pUp, pageLeft, itemsTop + S(11), pageRight, itemsTop + S(11) + ph);
    pUp->SetVisible(bPaging, 0);
  }
  if (pDown) {
    const int32_t db = innerBottom - S(11) - (m_bHasBackButton ? m_nItemHeight : 0);
    Place(pDown, pageLeft, db - ph, pageRight, db);
    pDown->SetVisible(bPaging, 0);
  }
  const int32_t lineRight = bPaging ? pageLeft - 10 : right - 1;
  VY_WALK_CHILD_RANGE(m_nItemCount, GetChildCount(), [&](CVyControl* pControl, int32_t) {
    if (pControl->GetReservedValue() != BASICMENU_ROLE_SEPARATOR) return true;
    const int32_t k = pControl->GetData();
    CVyControl* pItem = k >= 0 && k < m_nItemCount ? GetChildControl(k) : nullptr;
    RECT rcItem{};
    if (pItem) pItem->GetRect(&rcItem);
    pControl->SetRect(left + 1, rcItem.bottom, lineRight, rcItem.bottom + 1, 0);
    pControl->SetVisible(m_nTopIndex <= k && k < m_nTopIndex + m_nPageSize - 1, 0);
    return true;
  });
  return RECT{left, top, right, bottom};
}

void CBasicMenu::LayoutItems(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t) {
  int32_t y = nTop + S(4);
  VY_WALK_CHILD_RANGE(0, m_nItemCount, [&](CVyControl* pControl, int32_t i) {
    pControl->CVyControl::SetRect(nLeft + S(2), y, nRight - S(2), y + m_nItemHeight, 0);
    const bool bShown = m_nTopIndex <= i && i < m_nTopIndex + m_nPageSize;
    pControl->SetVisible(bShown, 0);
    if (bShown) y += m_nItemHeight;
    return true;
  });
}

// ---- CBasicMenuEx ------------------------------------------------------------

CBasicMenuEx::CBasicMenuEx(const BasicMenuItemInfo* pItems, int32_t nCount, int32_t nWidth, int32_t nMaxWidth,
                           int32_t nItemHeight)
    : CBasicMenu(VyBasicMenuMetrics().nNestedWidth, VyBasicMenuMetrics().nNestedHeight,
                 VyBasicMenuMetrics().nItemHeight) {
  m_nWidth = nWidth;
  m_nMaxWidth = nMaxWidth;
  if (IsPortrait()) {
    m_nItemHeight = nItemHeight;
    m_nPageSize = 8;
  } else {
    m_nItemHeight = VyBasicMenuMetrics().nItemHeightLandscape;
    m_nPageSize = 4;
  }
  if (nCount < 1 || !pItems) return;
  const TVyBasicMenuMetrics& mm = VyBasicMenuMetrics();
  for (int32_t i = 0; i < nCount; ++i) {
    const BasicMenuItemInfo& rec = pItems[i];
    if (rec.nType == 1 || rec.nType == 2) m_nMenuMode = rec.nType;
    CBasicMenuEx* pSub = nullptr;
    if (rec.pSubItems) {
      pSub = new CBasicMenuEx(rec.pSubItems, rec.nSubCount, mm.nNestedWidth, mm.nNestedHeight, mm.nItemHeight);
      pSub->CreateControls(rec.label.c_str());
    }
    auto* pItem = new CBasicMenuItemEx(rec.label.c_str(), rec.nId, rec.nType != 0, rec.nDisabled, pSub);
    AddControl(pItem, -1);
    if (pSub) pSub->SetParent(this);
    ++m_nItemCount;
  }
}

CBasicMenuEx::~CBasicMenuEx() = default;

void CBasicMenuEx::CreateControls(const plat::WChar* pwszTitle) {
  TShared& sh = Shared();
  const bool bTitle = pwszTitle && pwszTitle[0];
  m_bHasTitle = bTitle;
  SetControl(0, MakePicture(GetMenuImageID(bTitle ? 8 : 0)));
  if (bTitle) {
    auto* pBox = new CVyControl();
    CVyMenuItem::SetControl(pBox, 0, MakePicture(GetMenuImageID(9)));
    CVyMenuItem::SetControl(pBox, 1, new CVyLabel(sh.normal, pwszTitle, 0, 0, 0, 0, BASICMENU_TITLE_FORMAT, 0));
    SetControl(1, pBox);
  } else {
    SetControl(1, MakePicture(GetMenuImageID(1)));
  }
  SetControl(2, MakePicture(GetMenuImageID(bTitle ? 10 : 2)));
  SetControl(3, MakePicture(GetMenuImageID(3)));
  auto* pCentre = new CVyPicture(static_cast<const RECT*>(nullptr));
  pCentre->SetBackColor(IsLargeScreen() ? 0x292929 : 0xFFFFFF);
  SetControl(4, pCentre);
  for (int32_t role = 5; role <= 8; ++role) SetControl(role, MakePicture(GetMenuImageID(role - 1)));
  auto makePageButton = [&](int32_t nId, int32_t i0, int32_t i1, int32_t i3) {
    auto* p = new CVyMenuButton();
    p->SetData(nId);
    p->SetControl(VYBUTTON_PICTURE_NORMAL, MakePicture(GetMenuImageID(i0)));
    p->SetControl(VYBUTTON_PICTURE_PRESSED, MakePicture(GetMenuImageID(i1)));
    p->SetControl(VYBUTTON_PICTURE_DISABLED, MakePicture(GetMenuImageID(i3)));
    p->SetVisible(0, 0);
    return p;
  };
  CVyMenuButton* pUp = makePageButton(1, 11, 13, 15);
  pUp->SetEnable(0, 1);
  SetControl(VYMENU_ROLE_PAGE_UP, pUp);
  SetControl(VYMENU_ROLE_PAGE_DOWN, makePageButton(2, 12, 14, 16));
  if (bTitle && !sh.backCaption.empty()) {
    auto* pBack = new CVyMenuButton();
    pBack->SetData(0);
    auto box = [&](int32_t slot, int32_t i0) {
      auto* pBox = new CVyControl();
      for (int32_t r = 0; r < 3; ++r) {
        CVyPicture* pic = MakePicture(GetMenuImageID(i0 + r));
        if (r == 1) pic->SetTransparent(0);
        CVyMenuItem::SetControl(pBox, r, pic);
      }
      pBack->SetControl(slot, pBox);
    };
    box(VYBUTTON_PICTURE_NORMAL, 17);
    if (GetMenuImageID(20) != -1) box(VYBUTTON_PICTURE_FOCUSED, 20);
    box(VYBUTTON_PICTURE_PRESSED, 23);
    const plat::WChar* cap = sh.backCaption.c_str();
    pBack->SetControl(VYBUTTON_TEXT_NORMAL, new CVyLabel(sh.backNormal, cap, 0, 0, 0, 0, BASICMENU_TITLE_FORMAT, 0));
    pBack->SetControl(VYBUTTON_TEXT_PRESSED, new CVyLabel(sh.backOther, cap, 0, 0, 0, 0, BASICMENU_TITLE_FORMAT, 0));
    pBack->SetControl(VYBUTTON_TEXT_FOCUSED, new CVyLabel(sh.backOther, cap, 0, 0, 0, 0, BASICMENU_TITLE_FORMAT, 0));
    SetControl(VYMENU_ROLE_BACK, pBack);
    m_bHasBackButton = 1;
  }
  if (IsLargeScreen())
    for (int32_t k = 0; k + 1 < m_nItemCount; ++k) {
      auto* pLine = new CVyLine(0, 0, 0, 0, kSeparator);
      pLine->SetData(k);
      SetControl(BASICMENU_ROLE_SEPARATOR, pLine);
    }
}

// ---- CBasicMenuItem ----------------------------------------------------------

CBasicMenuItem::CBasicMenuItem() = default;
CBasicMenuItem::~CBasicMenuItem() = default;

CVyButton* CBasicMenuItem::Button() { return dynamic_cast<CVyButton*>(GetChildCount() > 0 ? GetChildControl(0) : nullptr); }

void CBasicMenuItem::SetFocus(int32_t bFocus, int32_t bRecursive) {
  CVyMenuItem::SetFocus(bFocus, bRecursive);
  if (bFocus)
    if (CVyButton* p = Button()) p->SetFocusFlag();
}

int32_t CBasicMenuItem::GetLabelWidth() {
  if (GetChildCount() == 0) return 0;
  auto* pMenu = dynamic_cast<CBasicMenu*>(GetParent());
  CPR_RET(pMenu, 0);
  CVyControl* pPressed = Child(Button(), VYBUTTON_PICTURE_PRESSED);
  const int32_t aw = m_bHasSubMenu ? PictureWidth(Child(pPressed, 4)) : 0;
  int32_t room = pMenu->GetWidth() - 2 * S(2) - S(25) - aw;
  switch (pMenu->GetMenuMode()) {
    case 1:
      room -= S(20) + S(14) + PictureWidth(Child(pPressed, 3));
      break;
    case 2:
      room -= S(16) + S(18) + PictureWidth(Child(pPressed, 5));
      break;
    default:
      room -= S(22);
      break;
  }
  return room;
}

void CBasicMenuItem::SetRect(int32_t nLeft, int32_t, int32_t nRight, int32_t, int32_t) {
  auto* pMenu = dynamic_cast<CBasicMenu*>(GetParent());
  CPR_RET(pMenu);
  CVyButton* pButton = Button();
  CPR_RET(pButton);
  CVyControl* pNormal = Child(pButton, VYBUTTON_PICTURE_NORMAL);
  CVyControl* pPressed = Child(pButton, VYBUTTON_PICTURE_PRESSED);
  CVyControl* pFocused = Child(pButton, VYBUTTON_PICTURE_FOCUSED);
  const int32_t c0 = PictureWidth(Child(pPressed, 0)), c2 = PictureWidth(Child(pPressed, 2));
  const int32_t m1w = PictureWidth(Child(pPressed, 3)), m1h = PictureHeight(Child(pPressed, 3));
  const int32_t aw = PictureWidth(Child(pPressed, 4)), ah = PictureHeight(Child(pPressed, 4));
  const int32_t m2w = PictureWidth(Child(pPressed, 5)), m2h = PictureHeight(Child(pPressed, 5));
  const int32_t top = m_rc.top, bottom = m_rc.bottom, mid = top + (bottom - top) / 2;
  const int32_t x0 = S(2) + (ScreenWidth() - (nRight - nLeft)) / 2;
  const int32_t x2 = x0 + pMenu->GetWidth() - 2 * S(2);
  // While paging the pictures end at the page column's left edge, where the
  // rows end, so that a pressed cap or the focus background never paints
  // over a page button; the text and the arrow end well before it.
  const int32_t xEnd =
      pMenu->IsPaging() ? std::min(x2, x0 - S(2) + pMenu->GetWidth() - PictureWidth(pMenu->FindRole(2))) : x2;
  const int32_t mode = pMenu->GetMenuMode();
  const int32_t textLeft = mode == 0 ? x0 + S(22) : x0 + S(20) + S(14) + m1w;
  const int32_t textRight = x2 - S(25) - (m_bHasSubMenu ? aw : 0);
  pButton->CVyControl::SetRect(x0, top, xEnd, bottom, 0);
  for (CVyControl* pBox : {pNormal, pPressed, pFocused})
    if (pBox) pBox->CVyControl::SetRect(x0, top, xEnd, bottom, 0);
  auto centred = [&](CVyControl* p, int32_t x, int32_t w, int32_t h) { Place(p, x, mid - h / 2, x + w, mid - h / 2 + h); };
  // Indicators: the one of the menu's mode shows.
  const struct {
    CVyControl* p;
    int32_t style, x, w, h;
  } indicators[] = {{Child(pNormal, 0), 1, x0 + S(14), m1w, m1h}, {Child(pNormal, 2), 2, x0 + S(18), m2w, m2h},
                    {Child(pPressed, 3), 1, x0 + S(14), m1w, m1h}, {Child(pPressed, 5), 2, x0 + S(18), m2w, m2h},
                    {Child(pFocused, 1), 1, x0 + S(14), m1w, m1h}, {Child(pFocused, 3), 2, x0 + S(18), m2w, m2h}};
  for (const auto& ind : indicators) {
    if (!ind.p) continue;
    centred(ind.p, ind.x, ind.w, ind.h);
    ind.p->SetVisible(m_bHasIndicator && mode == ind.style, 0);
  }
  if (m_bHasSubMenu)
    for (CVyControl* pArrow : {Child(pNormal, 1), Child(pPressed, 4), Child(pFocused, 2)})
      centred(pArrow, textRight + S(13), aw, ah);
  Place(Child(pPressed, 0), x0, top, x0 + c0, bottom);
  Place(Child(pPressed, 1), x0 + c0, top, xEnd - c2, bottom);
  Place(Child(pPressed, 2), xEnd - c2, top, xEnd, bottom);
  Place(Child(pFocused, 0), x0, top, xEnd, bottom);
  for (int32_t text = VYBUTTON_TEXT_NORMAL; text <= VYBUTTON_TEXT_DISABLED; ++text)
    Place(Child(pButton, text), textLeft, top, textRight, bottom);
}

CBasicMenuItemEx::CBasicMenuItemEx(const plat::WChar* pwszLabel, int32_t nId, int32_t bIndicator, int32_t nDisabled,
                                   CVyMenu* pSubMenu) {
  TShared& sh = Shared();
  m_pSubMenu = pSubMenu;
  m_bHasSubMenu = pSubMenu != nullptr;
  m_bHasIndicator = bIndicator != 0;
  m_nDisabled = nDisabled;
  auto* pButton = new CVyButton();
  pButton->SetShowFocusFrame(0);
  auto id = GetMenuItemImageID;
  auto* pNormal = new CVyControl();
  CVyMenuItem::SetControl(pNormal, 0, MakePicture(id(6), true));
  if (pSubMenu) CVyMenuItem::SetControl(pNormal, 1, MakePicture(id(4)));
  CVyMenuItem::SetControl(pNormal, 2, MakePicture(id(8), true));
  pButton->SetControl(VYBUTTON_PICTURE_NORMAL, pNormal);
  auto* pPressed = new CVyControl();
  CVyMenuItem::SetControl(pPressed, 0, MakePicture(id(1)));
  CVyMenuItem::SetControl(pPressed, 1, MakePicture(id(2)));
  CVyMenuItem::SetControl(pPressed, 2, MakePicture(id(3)));
  CVyMenuItem::SetControl(pPressed, 3, MakePicture(id(7), true));
  if (pSubMenu) CVyMenuItem::SetControl(pPressed, 4, MakePicture(id(5)));
  CVyMenuItem::SetControl(pPressed, 5, MakePicture(id(9), true));
  pButton->SetControl(VYBUTTON_PICTURE_PRESSED, pPressed);
  if (id(0) != -1) {
    auto* pFocused = new CVyControl();
    CVyMenuItem::SetControl(pFocused, 0, MakePicture(id(0)));
    CVyMenuItem::SetControl(pFocused, 1, MakePicture(id(7), true));
    if (pSubMenu) CVyMenuItem::SetControl(pFocused, 2, MakePicture(id(5)));
    CVyMenuItem::SetControl(pFocused, 3, MakePicture(id(9), true));
    pButton->SetControl(VYBUTTON_PICTURE_FOCUSED, pFocused);
  }
  const plat::WChar* text = pwszLabel ? pwszLabel : u"";
  auto label = [&](const CVyFont& font) { return new CVyLabel(font, text, 0, 0, 0, 0, BASICMENU_ITEM_FORMAT, 0); };
  pButton->SetControl(VYBUTTON_TEXT_NORMAL, label(sh.normal));
  CVyLabel* pPressedText = label(sh.white);
  pPressedText->SetMarquee(1);
  pButton->SetControl(VYBUTTON_TEXT_PRESSED, pPressedText);
  pButton->SetControl(VYBUTTON_TEXT_FOCUSED, label(sh.white));
  pButton->SetControl(VYBUTTON_TEXT_DISABLED, label(sh.grey));
  AddControl(pButton, -1);
  SetData(nId);
  if (nDisabled == 1) SetEnable(0, 1);
}

CBasicMenuItemEx::~CBasicMenuItemEx() = default;
