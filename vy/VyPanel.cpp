#include "vy/VyPanel.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "vy/BaseGUI.h"

namespace {

bool IsArrow(uint32_t nKey) {
  return nKey == plat::VK_LEFT || nKey == plat::VK_UP || nKey == plat::VK_RIGHT || nKey == plat::VK_DOWN;
}

// Line grouping: candidates within the tolerance of the nearest distance so
// far make one line; a clearly nearer one starts the list again.
void Group(std::vector<int32_t>& list, int32_t& d, int32_t v, int32_t i, bool bSignTest) {
  const int32_t t = VyFocusLineTolerance();
  if (v > d + t) return;
  if (bSignTest && v < 0) return;
  if (v < d && !list.empty() && std::abs(d - v) > t) list.clear();
  d = v;
  list.push_back(i);
}

// The candidate whose key is smallest; ties go to the later one.
template <class Key>
int32_t Smallest(const std::vector<int32_t>& list, Key key) {
  int32_t best = -1;
  int64_t bestKey = INT64_MAX;
  for (int32_t i : list) {
    const int64_t k = key(i);
    if (k <= bestKey) {
      bestKey = k;
      best = i;
    }
  }
  return best;
}

}  // namespace

CVyPanel::CVyPanel() {
  ResetMoveAnimation(&m_anim);
  SetEnable(1, 1);
  SetVisible(1, 1);
  SetFocusOnPress(1);
}

CVyPanel::~CVyPanel() { CVyPanel::Cleanup(); }

void CVyPanel::Cleanup() {
  if (m_pBackground) {
    CVyControl* p = m_pBackground;
    m_pBackground = nullptr;
    p->Destroy();
  }
  m_pModal = nullptr;
  SetSelectedChild(nullptr);
  CVyControl::Cleanup();
}

void CVyPanel::SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t) {
  if (m_pBackground) m_pBackground->SetRect(nLeft, nTop, nRight, nBottom, 1);
  CVyControl::SetRect(nLeft, nTop, nRight, nBottom, 0);
  SetContentSize(m_nContentWidthArg, m_nContentHeightArg);
  m_gesture.SetViewRect(nLeft, nTop, nRight, nBottom);
}

void CVyPanel::SetOffset(int32_t x, int32_t y) {
  CVyControl::SetOffset(x, y);
  SetContentSize(m_nContentWidthArg, m_nContentHeightArg);
  m_gesture.SetViewRect(m_rcOffset.left, m_rcOffset.top, m_rcOffset.right, m_rcOffset.bottom);
}

void CVyPanel::SetContentSize(int32_t nWidth, int32_t nHeight) {
  m_nContentWidthArg = nWidth;
  m_nContentHeightArg = nHeight;
  m_rcContent.left = m_rcOffset.left;
  m_rcContent.top = m_rcOffset.top;
  m_rcContent.right = nWidth ? m_rcContent.left + nWidth : m_rcOffset.right;
  m_rcContent.bottom = nHeight ? m_rcContent.top + nHeight : m_rcContent.top + GetTotalItemHeight(GetChildCount());
  m_gesture.SetContentRect(m_rcContent.left, m_rcContent.top, m_rcContent.right, m_rcContent.bottom);
}

int32_t CVyPanel::GetTotalItemHeight(int32_t nCount) {
  int32_t nSum = 0;
  for (int32_t i = 0; i < nCount; ++i) {
    CVyControl* pControl = i < GetChildCount() ? m_vecChildren[size_t(i)] : nullptr;
    CPR_RET(pControl, nSum);
    RECT rc;
    pControl->GetRect(&rc);
    nSum += rc.bottom - rc.top;
  }
  return nSum;
}

HRESULT CVyPanel::SetBackgroundControl(CVyControl* pControl) {
  CPR(pControl);
  if (m_pBackground && m_pBackground != pControl) m_pBackground->Destroy();
  m_pBackground = pControl;
  return S_OK;
}

void CVyPanel::SetBackgroundImage(int32_t) {}

CVyControl* CVyPanel::SetModalControl(CVyControl* pControl, int32_t bExclusive) {
  CVyControl* pOld = m_pModal;
  m_pModal = pControl;
  m_bModalExclusive = bExclusive;
  return pOld;
}

int32_t CVyPanel::IndexOfChild(CVyControl* pControl) { return GetChildIndex(pControl); }

void CVyPanel::SetFocus(int32_t bFocus, int32_t bRedraw) {
  CVyControl::SetFocus(bFocus, bRedraw);
  if (bFocus && m_nFocusIndex != -1)
    if (CVyControl* p = GetChildControl(m_nFocusIndex)) p->SetFocus(1, 1);
}

int32_t CVyPanel::PlayPressFeedback() {
  if (!CVyControl::PlayPressFeedback()) return 0;
  if (m_pExMember1) FirePressEvent(m_pExMember1->nPressValue, reinterpret_cast<intptr_t>(m_pExMember1));
  return 1;
}

int32_t CVyPanel::FirstLastInView(int32_t* pFirst, int32_t* pLast) {
  POINT g;
  m_gesture.GetOffset(&g);
  GetUpdateIndexRange(g.x, g.y, pFirst, pLast);
  return 0;
}

void CVyPanel::GetUpdateIndexRange(int32_t, int32_t y, int32_t* pFirst, int32_t* pLast) {
  int32_t first = -1, last = -1;
  const int32_t v0 = m_rcOffset.top, v1 = m_rcOffset.bottom;
  const int32_t n = GetChildCount();
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t i) {
    RECT rc;
    pControl->GetRect(&rc);
    if (first == -1) {
      if (rc.bottom + y < v0) return true;
      first = i;
    }
    if (rc.bottom + y >= v0 && rc.top + y <= v1) last = i;
    return true;
  });
  last += 1;
  if (first < 0) first = 0;
  last = std::min(last, n);
  *pFirst = first;
  *pLast = last;
}

void CVyPanel::SetItemHaptic(int32_t bOn) { m_bItemHaptic = bOn; }
void CVyPanel::DrawScrollBar(int32_t, int32_t) {}

int32_t CVyPanel::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  // The screen's slide moves the panel's own offset.
  int32_t x = m_ptOffset.x;
  if (StepMoveAnimation(&m_anim, &x) == 0) {
    TMoveAnimation next = m_anim;
    int32_t nextX = x;
    StepMoveAnimation(&next, &nextX);
    if (CBaseGUI::GetOpenType() == 2)
      CBaseGUI::SetSnapshotOffsetX(m_rc.left - m_rc.right + nextX);
    else if (CBaseGUI::GetOpenType() == 1)
      CBaseGUI::SetSnapshotOffsetX(m_rc.right - m_rc.left + nextX);
    SetEnable(0, 0);
    SetOffset(x, m_ptOffset.y);
  } else {
    SetEnable(1, 0);
  }
  if (m_pModal && m_bModalExclusive) {
    m_pModal->Draw(hdc);
    return 0;
  }
  POINT s;
  m_gesture.Step(&s);
  const POINT d{m_ptOffset.x + s.x, m_ptOffset.y + s.y};
  RECT rcSaved;
  plat::GetClipBox(hdc, &rcSaved);
  plat::IntersectClipRect(hdc, m_rcOffset.left, m_rcOffset.top, m_rcOffset.right, m_rcOffset.bottom);
  if (CBaseGUI* pGui = CBaseGUI::GetCurrentGUI()) {
    if (m_gesture.IsAnimating())
      pGui->SetRenderHold(CBaseGUI::kHoldKeepRendering);
    else
      pGui->ClearRenderHold(CBaseGUI::kHoldKeepRendering);
  }
  if (m_pBackground) {
    m_pBackground->SetOffset(m_ptOffset.x, m_ptOffset.y);
    m_pBackground->Draw(hdc);
  }
  int32_t first, last;
  FirstLastInView(&first, &last);
  const bool bComplete = VY_WALK_CHILD_RANGE(first, last, [&](CVyControl* pControl, int32_t) {
    pControl->SetOffset(d.x, d.y);
    if (pControl->IsVisible()) pControl->Draw(hdc);
    return true;
  });
  if (bComplete) {
    POINT g;
    m_gesture.GetOffset(&g);
    DrawScrollBar(g.x, g.y);
  }
  // The clip goes back on every path.
  plat::HRGN hrgn = plat::CreateRectRgn(rcSaved.left, rcSaved.top, rcSaved.right, rcSaved.bottom);
  plat::SelectClipRgn(hdc, hrgn);
  plat::DeleteObject(hrgn);
  if (!bComplete) return 0;
  if (m_bItemHaptic) {
    const int32_t step = d.y / 100;
    const int32_t limit = (m_rcContent.Height() - m_rcOffset.Height()) / 100;
    if (step != m_nLastItemStep && -limit < step && step < 0) PlayHapticEffect(u"windows\\itemSearch.ivt");
    m_nLastItemStep = step;
  }
  return 0;
}

int32_t CVyPanel::OnLButtonDown(int32_t x, int32_t y) {
  if (!IsEnabled()) return 1;
  if (!HitTest(x, y)) {
    SetSelectedChild(nullptr);
    return 1;
  }
  Select();
  if (m_pModal) {
    m_pModal->OnLButtonDown(x, y);
    return 0;
  }
  m_gesture.Begin(m_rcOffset.left, m_rcOffset.top, m_rcOffset.right, m_rcOffset.bottom, m_rcContent.left,
                  m_rcContent.top, m_rcContent.right, m_rcContent.bottom, x, y);
  int32_t first, last;
  FirstLastInView(&first, &last);
  VY_WALK_CHILD_RANGE(first, last, [&](CVyControl* pControl, int32_t) {
    if (TakesPart(pControl)) pControl->OnLButtonDown(x, y);
    return true;
  });
  return 0;
}

int32_t CVyPanel::OnMouseMove(int32_t x, int32_t y) {
  if (!IsEnabled()) return 1;
  if (m_pModal) {
    m_pModal->OnMouseMove(x, y);
    return 0;
  }
  if (IsSelected()) {
    m_gesture.Move(x, y);
    int32_t first, last;
    FirstLastInView(&first, &last);
    VY_WALK_CHILD_RANGE(first, last, [&](CVyControl* pControl, int32_t) {
      if (TakesPart(pControl)) pControl->OnMouseMove(x, y);
      return true;
    });
    return 0;
  }
  if (m_pSelectedChild) m_pSelectedChild->OnMouseMove(x, y);
  return 1;
}

int32_t CVyPanel::OnLButtonUp(int32_t x, int32_t y, int32_t) {
  if (!IsEnabled()) return 1;
  if (m_pModal) {
    m_gesture.End(x, y);
    m_pModal->OnLButtonUp(x, y, 0);
    return 0;
  }
  if (IsSelected()) {
    SetSelectedChild(nullptr);
    const int32_t bTap = m_gesture.End(x, y);
    int32_t first, last;
    FirstLastInView(&first, &last);
    VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t i) {
      if (TakesPart(pControl)) pControl->OnLButtonUp(x, y, (i >= first && i < last && bTap) ? 0 : 1);
      return true;
    });
    return 0;
  }
  if (m_pSelectedChild) m_pSelectedChild->OnLButtonUp(x, y, 0);
  return 1;
}

int32_t CVyPanel::OnLongPress(int32_t x, int32_t y, int32_t bFromKey) {
  if (!IsEnabled()) return 1;
  m_gesture.ResetBounds();
  if (m_pModal) {
    m_pModal->OnLongPress(x, y, bFromKey);
    return 0;
  }
  if (!IsSelected()) {
    if (m_pSelectedChild) m_pSelectedChild->OnLongPress(x, y, bFromKey);
    return 1;
  }
  int32_t first, last;
  FirstLastInView(&first, &last);
  bool bTaken = false;
  if (!VY_WALK_CHILD_RANGE(first, last, [&](CVyControl* pControl, int32_t) {
        bTaken = TakesPart(pControl) && pControl->OnLongPress(x, y, bFromKey) == 0;
        return !bTaken;
      }))
    return 1;
  if (bTaken) return 0;
  if (HitTest(x, y)) {
    const POINT pt{x, y};
    FireLongPressEvent(m_pExMember1 ? m_pExMember1->nLongPressValue : 0, &pt);
  }
  return 0;
}

void CVyPanel::CallOnReleaseToChildcontrol() {
  m_gesture.Settle();
  int32_t first, last;
  FirstLastInView(&first, &last);
  VY_WALK_CHILD_RANGE(first, last, [&](CVyControl* pControl, int32_t) {
    if (auto* pPanel = dynamic_cast<CVyPanel*>(pControl))
      pPanel->CallOnReleaseToChildcontrol();
    else if (pControl->IsPressed())
      pControl->SetRelease(1, 1);
    return true;
  });
}

int32_t CVyPanel::OnKeyLongPress() {
  if (m_pModal) {
    RECT rc;
    m_pModal->GetOffsetRect(&rc);
    return m_pModal->OnLongPress(rc.left + (rc.right - rc.left) / 2, rc.top + (rc.bottom - rc.top) / 2, 1);
  }
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (auto* pPanel = dynamic_cast<CVyPanel*>(pControl)) pPanel->OnKeyLongPress();
    return true;
  });
  return 0;
}

int32_t CVyPanel::OnKeyDown(uint32_t nKey, plat::LPARAM lParam) {
  if (m_pModal) return m_pModal->OnKeyDown(nKey, lParam);
  if (m_nFocusIndex != -1)
    if (CVyControl* pFocused = GetChildControl(m_nFocusIndex); pFocused && pFocused->OnKeyDown(nKey, lParam) == 0)
      return 0;
  if (!IsArrow(nKey)) return CVyControl::OnKeyDown(nKey, lParam);
  CBaseGUI* pGui = CBaseGUI::GetCurrentGUI();
  int32_t nTarget = -1;
  if (!pGui || !pGui->IsKeyFocusVisible()) {
    if (pGui && pGui->GetFocusPanel() == this && pGui->GetFocusControl()) {
      pGui->SetKeyFocusVisible(1);
      return 0;
    }
    nTarget = GetStartFocusIndex();
  } else if (nKey == plat::VK_LEFT) {
    nTarget = GetLeftFocusIndex();
  } else if (nKey == plat::VK_RIGHT) {
    nTarget = GetRightFocusIndex();
  } else {
    const bool bDown = nKey == plat::VK_DOWN;
    if (m_nFocusIndex != -1 && (bDown ? IsEndLine(m_nFocusIndex) : IsStartLine(m_nFocusIndex))) {
      if (GetParent()) {
        m_nFocusIndex = -1;
        return 1;
      }
      nTarget = bDown ? GetStartFocusIndex() : GetEndFocusIndex();
    } else {
      nTarget = bDown ? GetDownFocusIndex() : GetUpFocusIndex();
    }
  }
  if (nTarget == -1) {
    if (nKey == plat::VK_LEFT || nKey == plat::VK_RIGHT) return 1;
    if (m_nFocusIndex != -1)
      if (CVyControl* pFocused = GetChildControl(m_nFocusIndex)) pFocused->SetFocus(0, 1);
    m_nFocusIndex = -1;
    return 1;
  }
  return MoveFocusTo(nTarget, nKey, lParam);
}

int32_t CVyPanel::OnKeyUp(uint32_t nKey, plat::LPARAM lParam) {
  if (m_pModal) return m_pModal->OnKeyUp(nKey, lParam);
  return CVyControl::OnKeyUp(nKey, lParam);
}

int32_t CVyPanel::MoveFocusTo(int32_t nIndex, uint32_t nKey, plat::LPARAM lParam) {
  CVyControl* pChild = nIndex >= 0 && nIndex < GetChildCount() ? GetChildControl(nIndex) : nullptr;
  if (!pChild) return 1;
  if (CBaseGUI* pGui = CBaseGUI::GetCurrentGUI()) {
    pGui->SetFocusControl(this, pChild);
    pGui->SetKeyFocusVisible(1);
  } else {
    m_nFocusIndex = nIndex;
  }
  if (auto* pPanel = dynamic_cast<CVyPanel*>(pChild); pPanel && pPanel->IsFocusOnPress())
    return pPanel->OnKeyDown(nKey, lParam);
  if (nKey == plat::VK_UP || nKey == plat::VK_DOWN) {
    int32_t first, last;
    FirstLastInView(&first, &last);
    RECT rcOffset, rc;
    pChild->GetOffsetRect(&rcOffset);
    pChild->GetRect(&rc);
    const bool bInView = nIndex >= first && nIndex < last && rcOffset.top >= m_rcOffset.top &&
                         rcOffset.bottom <= m_rcOffset.bottom;
    if (!bInView) {
      if (IsStartLine(nIndex))
        m_gesture.ScrollTo(0, 1, 1);
      else if (nKey == plat::VK_DOWN)
        m_gesture.ScrollTo(m_rcOffset.bottom - rc.bottom - 10, 1, 1);
      else
        m_gesture.ScrollTo(m_rcContent.top - rc.top + 10, 1, 1);
    }
  }
  return 0;
}

bool CVyPanel::Qualifies(CVyControl* pChild, int32_t nIndex) const {
  return nIndex != m_nFocusIndex && pChild->IsVisible() && pChild->IsEnabled() && pChild->IsFocusOnPress();
}

int32_t CVyPanel::VerticalSearch(bool bDown, const char* pszOperation) {
  CVyControl* pFocused = m_nFocusIndex != -1 && m_nFocusIndex < GetChildCount() ? GetChildControl(m_nFocusIndex)
                                                                                 : nullptr;
  RECT fr{};
  if (pFocused) pFocused->GetRect(&fr);
  const int32_t refLeft = pFocused ? fr.left : m_rcContent.left;
  const int32_t refEdge = pFocused ? (bDown ? fr.bottom : fr.top) : (bDown ? m_rcContent.top : m_rcContent.bottom);
  std::vector<int32_t> list;
  int32_t d = 10000;
  if (!WalkChildren(pszOperation, VY_SOURCE, __LINE__, 0, GetChildCount(), [&](CVyControl* pControl, int32_t i) {
        if (!Qualifies(pControl, i)) return true;
        RECT rc;
        pControl->GetRect(&rc);
        Group(list, d, bDown ? rc.top - refEdge : refEdge - rc.bottom, i, true);
        return true;
      }))
    return -1;
  CBaseGUI* pGui = CBaseGUI::GetCurrentGUI();
  const bool bKeep = pGui && pGui->GetKeepColumn();
  return Smallest(list, [&](int32_t i) {
    RECT rc;
    m_vecChildren[size_t(i)]->GetRect(&rc);
    return bKeep ? std::abs(int64_t(rc.left) - refLeft) : std::abs(int64_t(rc.left));
  });
}

int32_t CVyPanel::HorizontalSearch(bool bRight, const char* pszOperation) {
  CVyControl* pFocused = m_nFocusIndex != -1 && m_nFocusIndex < GetChildCount() ? GetChildControl(m_nFocusIndex)
                                                                                 : nullptr;
  RECT fr{};
  if (pFocused) pFocused->GetRect(&fr);
  const int32_t refTop = pFocused ? fr.top : 0;
  const int32_t refEdge = pFocused ? (bRight ? fr.right : fr.left) : 0;
  std::vector<int32_t> list;
  int32_t best = 10000;
  if (!WalkChildren(pszOperation, VY_SOURCE, __LINE__, 0, GetChildCount(), [&](CVyControl* pControl, int32_t i) {
        if (!Qualifies(pControl, i)) return true;
        RECT rc;
        pControl->GetRect(&rc);
        if (pFocused && (rc.bottom < fr.top || rc.top > fr.bottom)) return true;
        const int32_t v = bRight ? rc.left - refEdge : refEdge - rc.right;
        if (v >= 0 && v <= best) {
          list.push_back(i);
          best = v;
        }
        return true;
      }))
    return -1;
  return Smallest(list, [&](int32_t i) {
    RECT rc;
    m_vecChildren[size_t(i)]->GetRect(&rc);
    return std::abs(int64_t(rc.top) - refTop);
  });
}

int32_t CVyPanel::LineCandidates(EEdge edge, std::vector<int32_t>* pList, const char* pszOperation) {
  // The focused child counts here too: the line tests ask about it.
  int32_t d = 10000;
  const bool bComplete = WalkChildren(pszOperation, VY_SOURCE, __LINE__, 0, GetChildCount(), [&](CVyControl* pControl, int32_t i) {
    if (!pControl->IsVisible() || !pControl->IsEnabled() || !pControl->IsFocusOnPress()) return true;
    RECT rc;
    pControl->GetRect(&rc);
    Group(*pList, d, edge == EEdge::Start ? rc.top - m_rcContent.top : m_rcContent.bottom - rc.bottom, i, false);
    return true;
  });
  return bComplete ? 0 : -1;
}

int32_t CVyPanel::GetDownFocusIndex() { return VerticalSearch(true, __PRETTY_FUNCTION__); }
int32_t CVyPanel::GetUpFocusIndex() { return VerticalSearch(false, __PRETTY_FUNCTION__); }
int32_t CVyPanel::GetRightFocusIndex() { return HorizontalSearch(true, __PRETTY_FUNCTION__); }
int32_t CVyPanel::GetLeftFocusIndex() { return HorizontalSearch(false, __PRETTY_FUNCTION__); }

int32_t CVyPanel::EdgeFocusIndex(EEdge edge, const char* pszOperation) {
  std::vector<int32_t> list;
  if (LineCandidates(edge, &list, pszOperation) < 0) return -1;
  return Smallest(list, [&](int32_t i) {
    RECT rc;
    m_vecChildren[size_t(i)]->GetRect(&rc);
    return int64_t(rc.left) - m_rcContent.left;
  });
}

int32_t CVyPanel::IsEdgeLine(EEdge edge, int32_t nIndex, const char* pszOperation) {
  std::vector<int32_t> list;
  LineCandidates(edge, &list, pszOperation);
  return std::find(list.begin(), list.end(), nIndex) != list.end();
}

int32_t CVyPanel::GetStartFocusIndex() { return EdgeFocusIndex(EEdge::Start, __PRETTY_FUNCTION__); }
int32_t CVyPanel::GetEndFocusIndex() { return EdgeFocusIndex(EEdge::End, __PRETTY_FUNCTION__); }
int32_t CVyPanel::IsStartLine(int32_t nIndex) { return IsEdgeLine(EEdge::Start, nIndex, __PRETTY_FUNCTION__); }
int32_t CVyPanel::IsEndLine(int32_t nIndex) { return IsEdgeLine(EEdge::End, nIndex, __PRETTY_FUNCTION__); }
