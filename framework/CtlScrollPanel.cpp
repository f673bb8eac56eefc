#include "framework/CtlScrollPanel.h"

#include <algorithm>

#include "framework/AppUi.h"
#include "framework/Feedback.h"
#include "framework/WidgetLayouts.h"

namespace {

constexpr char16_t kUnit[] = u"CtlScrollPanel";
constexpr int32_t kBarNode = 27;
constexpr int32_t kContentNode = 28;
constexpr int32_t kHideTicks = 20;
constexpr int32_t kFeedbackScroll = 4;
constexpr int32_t kFeedbackEnd = 5;

// Turns notifications of the tree back on however the pass ends.
struct TNotificationsOff {
  CLayoutNode* pRoot;
  explicit TNotificationsOff(CLayoutNode* p) : pRoot(p) { pRoot->EnableNotifications(false); }
  ~TNotificationsOff() { pRoot->EnableNotifications(true); }
};

}  // namespace

CtlScrollPanel::CtlScrollPanel() = default;

CtlScrollPanel::~CtlScrollPanel() {
  SetClosingTree();
  m_trackedDestroy.Detach();
  m_pTracked = nullptr;
  m_autoHide.Unsubscribe();
  if (m_relayoutMessage.IsQueued()) m_relayoutMessage.Cancel();
  // The panel's own tree goes before the children: they forget its nodes.
}

CtlScrollPanel* CtlScrollPanel::Create(CControl* pParent) {
  return NewControl<CtlScrollPanel>([&](CtlScrollPanel* q) {
    q->Init(pParent);
  });
}

void CtlScrollPanel::Init(CControl* pParent) {
  m_bChildrenAllowed = true;
  CControl::Create(pParent);
  SetTransparent();
  m_pRoot = CLayoutNode::CreateRoot();
  RunScrollPanelLayout(m_pRoot.get());
  m_pBarNode = m_pRoot->FindNode(kBarNode, -1);
  m_pContentNode = m_pRoot->FindNode(kContentNode, -1);
  m_pRoot->ResetVariants();
  m_pContent = new CtlPanel();
  m_pContent->Create(this);
  // Empty, it is no focus stop; the first row that can take the focus
  // enables it, while a page of texts and pictures leaves it disabled.
  m_pContent->SetEnabled(false);
  m_pContent->SetLayoutNode(m_pContentNode);
  m_pContent->SetTransparent();
  m_pContent->DisableArrowKeys();
  // Inside the panel the bar only displays; a drag on it scrolls the page.
  m_pBar = CtlScrollBar::Create(this, 0, 100, 0, 30, CtlScrollBar::EVertical, 0);
  m_pBar->SetReadOnly(true);
  m_pBar->SetLayoutNode(m_pBarNode);
  m_pBar->SetPaintedByParent(true);
  m_pBar->SetVisible(false);
  m_scrollDrag = CDelegate::Member<&CtlScrollPanel::DragStep>(this);
  SetDragDelegate(m_scrollDrag);
  m_pBar->SetDragDelegate(m_scrollDrag);
  m_bChildrenAllowed = false;
}

void CtlScrollPanel::OnChildAdded(CControl* pChild) {
  if (pChild->Parent() == this && !m_bChildrenAllowed) QUOREL_PANIC(kUnit, 49);
  CtlPanel::OnChildAdded(pChild);
}

void CtlScrollPanel::SetScrollBarImages(int32_t nThumbStart, int32_t nThumbMiddle, int32_t nThumbEnd,
                                        int32_t nStartCap, int32_t nTrack, int32_t nEndCap) {
  m_pBar->SetImages(nThumbStart, nThumbMiddle, nThumbEnd, nStartCap, nTrack, nEndCap);
}

void CtlScrollPanel::Relayout() {
  m_bRelayoutPending = true;
  PostRelayout();
}

void CtlScrollPanel::PostRelayout() {
  if (!m_relayoutMessage.IsQueued()) m_relayoutMessage.Post();
}

RECT CtlScrollPanel::ViewRect() const {
  if (!m_pContentNode->IsLaidOut()) return RECT{};
  int32_t x = m_pContentNode->GetScrollX(), y = m_pContentNode->GetScrollY();
  return RECT{x, y, x + m_pContentNode->GetWidth(), y + m_pContentNode->GetHeight()};
}

// The scroll position is clamped against the content's bottom edge.
int32_t CtlScrollPanel::ContentHeight() const { return m_pContentNode->GetContentRect(CLayoutNode::SpaceOwn).bottom; }

RECT CtlScrollPanel::ContentRect(const CControl* pControl) const {
  RECT rc = pControl->ScreenRect(), content = m_pContent->ScreenRect();
  int32_t dy = m_pContentNode->IsLaidOut() ? m_pContentNode->GetScrollY() : 0;
  int32_t dx = m_pContentNode->IsLaidOut() ? m_pContentNode->GetScrollX() : 0;
  return RECT{rc.left - content.left + dx, rc.top - content.top + dy, rc.right - content.left + dx,
              rc.bottom - content.top + dy};
}

CControl* CtlScrollPanel::ContentChildOf(CControl* pControl) const {
  for (CControl* p = pControl; p; p = p->Parent())
    if (p->Parent() == m_pContent) return p;
  return nullptr;
}

void CtlScrollPanel::SyncScrollBar() {
  if (!m_pContentNode->IsLaidOut()) return;
  m_pBar->SetPositionFromOffset(ContentHeight(), m_pContentNode->GetScrollY(), m_pContentNode->GetHeight());
}

void CtlScrollPanel::DragStep(void* pDelta) {
  if (!m_pContentNode->IsLaidOut()) return;
  auto nDelta = static_cast<int32_t>(reinterpret_cast<intptr_t>(pDelta));
  int32_t nOld = m_pContentNode->GetScrollY();
  int64_t nOffset = int64_t{nOld} + nDelta;
  if (nOffset < 0) {
    m_pContentNode->SetScrollPos(0, 0);
    PlayFeedback(kFeedbackEnd);
  } else {
    m_pContentNode->SetScrollPos(0, static_cast<int32_t>(std::min<int64_t>(nOffset, INT32_MAX)));
    bool bMoved = m_pContentNode->GetScrollY() != nOld;
    PlayFeedback(nDelta == 0 || bMoved ? kFeedbackScroll : kFeedbackEnd);
  }
  if (m_bShowBarOnDrag) {
    SyncScrollBar();
    m_pBar->SetVisible(true);
    m_nHideCountdown = kHideTicks;
    m_autoHide.Subscribe();
  }
  Invalidate();
}

void CtlScrollPanel::OnHideTick() {
  if (m_nHideCountdown > 0 && --m_nHideCountdown > 0) return;
  m_autoHide.Unsubscribe();
  m_pBar->SetVisible(false);
}

bool CtlScrollPanel::OnInput(const TInputEvent& event) {
  if (event.nKey == KeyPointer) return true;
  if (!event.bPressed || (event.nKey != plat::VK_UP && event.nKey != plat::VK_DOWN)) return false;
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp || !m_pContentNode->IsLaidOut()) return false;
  bool bDown = event.nKey == plat::VK_DOWN;
  int32_t nViewH = m_pContentNode->GetHeight();
  int32_t nStep = (pApp->Rect().bottom - pApp->Rect().top) / 8;
  nStep = std::max(1, std::min(nStep, (Rect().bottom - Rect().top) / 4));
  int32_t nLayer = pApp->TopShownLayer();

  // From the focused control itself: a row may hold focus stops of its own
  // (a play button inside a row button), and stepping from the row would
  // find that same child again.
  CControl* pFocused = pApp->FocusedControl();
  if (!ContentChildOf(pFocused)) pFocused = nullptr;
  CControl* pCandidate = nullptr;
  if (pFocused)
    pCandidate = bDown ? pFocused->FindNextFocusable(nLayer) : pFocused->FindPreviousFocusable(nLayer);
  else if (bDown)
    pCandidate = m_pContent->FindFirstFocusable(nLayer);
  if (pCandidate && !m_pContent->IsAncestorOf(pCandidate)) pCandidate = nullptr;

  int32_t nOld = m_pContentNode->GetScrollY();
  int32_t nMax = std::max(0, ContentHeight() - nViewH);
  int32_t nTop = std::clamp(nOld + (bDown ? nStep : -nStep), 0, nMax);
  bool bFocusChanged = false;
  if (pCandidate) {
    RECT rc = ContentRect(ContentChildOf(pCandidate));
    if (rc.bottom > nTop && rc.top < nTop + nViewH) {
      if (rc.top < nTop) nTop = rc.top;
      if (rc.bottom > nTop + nViewH) nTop = rc.bottom - nViewH;
      Track(pCandidate);
      pCandidate->SetFocus();
      bFocusChanged = true;
    }
  }
  m_pContentNode->SetScrollPos(0, nTop);
  if (m_pContentNode->GetScrollY() == nOld && !bFocusChanged) return false;
  SyncScrollBar();
  Invalidate();
  return true;
}

void CtlScrollPanel::Track(CControl* pControl) {
  if (pControl == m_pTracked) return;
  m_trackedDestroy.Detach();
  m_pTracked = pControl;
  if (!pControl) return;
  m_trackedDestroy = CDelegate::Member<&CtlScrollPanel::OnTrackedDestroyed>(this);
  pControl->DestroyListeners().Add(&m_trackedDestroy);
}

void CtlScrollPanel::OnTrackedDestroyed() {
  m_trackedDestroy.Detach();
  m_pTracked = nullptr;
}

void CtlScrollPanel::OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) {
  if (!bFocused) {
    // Moves between rows do not reach the panel (their shared ancestor is
    // the content panel): the row the focus leaves from is the one to
    // come back to.
    if (pOld && m_pContent->IsAncestorOf(pOld))
      Track(pOld);
    else if (pNew && m_pContent->IsAncestorOf(pNew))
      Track(pNew);
    return;
  }
  if (!pNew || !m_pContent->IsAncestorOf(pNew)) return;
  RECT view = ViewRect();
  RECT rc = ContentRect(pNew);
  bool bOnScreen = rc.bottom > view.top && rc.top < view.bottom;
  if (m_pTracked && m_pTracked != pNew && !bOnScreen)
    m_bScrollToFocus = true;
  else
    Track(pNew);
  m_bLayoutDirty = true;
  PostRelayout();
}

void CtlScrollPanel::RunRelayout() {
  for (CControl* c = m_pContent->FirstChild(); c; c = c->NextSibling()) {
    bool bInside = false;
    for (CLayoutNode* n = c->LayoutNode() ? c->LayoutNode()->GetParent() : nullptr; n && !bInside; n = n->GetParent())
      bInside = n == m_pContentNode;
    if (!bInside) QUOREL_PANIC(kUnit, 110);
  }
  RECT oldView = ViewRect();
  if (m_bRelayoutPending) {
    m_bRelayoutPending = false;
    m_pRoot->SelectVariants(1, 0);
    {
      TNotificationsOff off(m_pRoot.get());
      LayoutInto(m_pRoot.get());
    }
    int32_t nContent = ContentHeight(), nView = m_pContentNode->GetHeight();
    m_pBar->SetThumbSize(nContent, nView);
    m_bShowBarOnDrag = nContent > nView;
    m_pBar->ClearValueChangedHandler();
    m_pRoot->Notify();
    m_relayoutHandler.Call();
    if (!m_bShowBarOnDrag) {
      m_pBar->SetVisible(false);
      m_nHideCountdown = 0;
    }
  }
  if (m_bScrollToFocus) {
    m_bScrollToFocus = false;
    if (m_pTracked) m_pTracked->SetFocus();
  }
  if (m_bLayoutDirty && m_pContentNode->IsLaidOut()) {
    m_bLayoutDirty = false;
    CAppUi* pApp = CAppUi::Instance();
    if (CControl* pFocused = ContentChildOf(pApp ? pApp->FocusedControl() : nullptr)) {
      RECT rc = ContentRect(pFocused);
      RECT view = ViewRect();
      int32_t nTop = view.top, nViewH = view.bottom - view.top;
      if (rc.top < nTop) nTop = rc.top;
      if (rc.bottom > nTop + nViewH) nTop = rc.bottom - nViewH;
      m_pContentNode->SetScrollPos(0, nTop);
    }
  }
  SyncScrollBar();
  if (!RectEquals(oldView, ViewRect())) Invalidate();
}

void CtlScrollPanel::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CtlPanel::OnRectChanged(rcNew, rcOld);
  if (RectEquals(rcNew, rcOld)) return;
  // A move alone re-pins the tree too, so that scrolling places the content
  // against the panel's new position.
  m_bRelayoutPending = true;
  if (SizeDiffers(rcNew, rcOld)) m_bLayoutDirty = true;
  RunRelayout();
  Invalidate();
}

void CtlScrollPanel::OnDisplayChanged(const RECT&) {
  if (LayoutNode()) return;
  LayoutInto(m_pRoot.get());
  m_relayoutHandler.Call();
}
