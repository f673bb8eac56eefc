#include "framework/CtlButton.h"

#include <algorithm>

#include "framework/Feedback.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/WidgetLayouts.h"

namespace {

constexpr int32_t kCornerNode = 7;
constexpr int32_t kCaptionNode = 8;
constexpr int32_t kSubCaptionNode = 9;
constexpr int32_t kIconNode = 10;

bool IsEmpty(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

// Where a slice is drawn and which part of its bitmap shows: a corner (or
// edge) longer than half the button shows only the half toward its own side,
// the start side keeping the odd pixel.
struct TCut {
  int32_t nStart;  // length shown of a start-side slice (left or top)
  int32_t nEnd;    // length shown of an end-side slice (right or bottom)
};
TCut CutFor(int32_t nLength, int32_t nCorner) {
  if (nLength / 2 >= nCorner) return TCut{nCorner, nCorner};
  return TCut{nLength - nLength / 2, nLength / 2};
}

}  // namespace

// ---------------------------------------------------------------------------

CSkinnedButton::CSkinnedButton(const TUnitLines& lines) : m_lines(lines) {}

CSkinnedButton::~CSkinnedButton() {
  SetClosingTree();
  DropSliceBitmaps();
}

void CSkinnedButton::InitButton(CControl* pParent) {
  CControl::Create(pParent);
  SetNoBackground();
  m_pInner = CLayoutNode::CreateRoot();
}

CSkinnedButton& CSkinnedButton::SetSlice(int32_t nSlice, int32_t nId) {
  if (m_nEdited < 0) QUOREL_PANIC(m_lines.pUnit, m_lines.anSlice[nSlice]);
  TSkinRecord& r = m_skins[m_nEdited];
  r.anSlice[nSlice] = nId;
  RefPtr::Take(r.apBitmap[nSlice], nullptr);
  Invalidate();
  return *this;
}

void CSkinnedButton::SetSliceRange(int32_t nFirst) {
  for (int32_t i = 0; i < 9; ++i) SetSlice(i, nFirst + i);
}

void CSkinnedButton::SetCornerSize(int32_t nWidth, int32_t nHeight) {
  if (nWidth < 0 || nHeight < 0) QUOREL_PANIC(m_lines.pUnit, m_lines.nCorner);
  if (nWidth == m_nCornerW && nHeight == m_nCornerH) return;
  m_nCornerW = nWidth;
  m_nCornerH = nHeight;
  DropSliceBitmaps();
  Invalidate();
}

void CSkinnedButton::DropSliceBitmaps() {
  for (TSkinRecord& r : m_skins)
    for (CBitmap*& p : r.apBitmap) RefPtr::Take(p, nullptr);
}

// Only the record being drawn: the other states' slices are made when they
// are first shown, which halves a screen's first paint.
void CSkinnedButton::MakeSliceBitmaps() {
  RECT rc = LocalRect();
  int32_t cw = m_nCornerW, ch = m_nCornerH;
  int32_t iw = std::max(1, rc.right - 2 * cw), ih = std::max(1, rc.bottom - 2 * ch);
  const SIZE sizes[9] = {{cw, ch}, {iw, ch}, {cw, ch}, {cw, ih}, {iw, ih}, {cw, ih}, {cw, ch}, {iw, ch}, {cw, ch}};
  TSkinRecord& r = m_skins[m_nCurrent];
  for (int32_t i = 0; i < 9; ++i) {
    if (r.anSlice[i] == -1 || r.apBitmap[i]) continue;
    r.apBitmap[i] = CResources::GetImage(r.anSlice[i], EScaleStretch, RECT{0, 0, sizes[i].cx, sizes[i].cy});
  }
}

void CSkinnedButton::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  if (Parent()) PaintParentBackground(g, origin, clip);
  MakeSliceBitmaps();
  const TSkinRecord& r = m_skins[m_nCurrent];
  RECT rc = LocalRect();
  int32_t w = rc.right, h = rc.bottom, cw = m_nCornerW, ch = m_nCornerH;
  int32_t iw = w - 2 * cw, ih = h - 2 * ch;
  TCut x = CutFor(w, cw), y = CutFor(h, ch);
  int32_t ox = origin.x, oy = origin.y;
  auto draw = [&](int32_t n, int32_t dx, int32_t dy, const RECT& src) {
    if (r.apBitmap[n]) g.DrawBitmap(r.apBitmap[n], ox + dx, oy + dy, src);
  };
  if (cw > 0 && ch > 0) {
    draw(0, 0, 0, RECT{0, 0, x.nStart, y.nStart});
    draw(2, w - x.nEnd, 0, RECT{cw - x.nEnd, 0, cw, y.nStart});
    draw(6, 0, h - y.nEnd, RECT{0, ch - y.nEnd, x.nStart, ch});
    draw(8, w - x.nEnd, h - y.nEnd, RECT{cw - x.nEnd, ch - y.nEnd, cw, ch});
  }
  if (ch >= 1 && iw >= 1) {
    draw(1, cw, 0, RECT{0, 0, iw, y.nStart});
    draw(7, cw, h - y.nEnd, RECT{0, ch - y.nEnd, iw, ch});
  }
  if (cw > 0 && ih >= 1) {
    draw(3, 0, ch, RECT{0, 0, x.nStart, ih});
    draw(5, w - x.nEnd, ch, RECT{cw - x.nEnd, 0, cw, ih});
  }
  if (iw >= 1 && ih >= 1) draw(4, cw, ch, RECT{0, 0, iw, ih});
}

bool CSkinnedButton::OnInput(const TInputEvent& event) {
  if (!IsEnabled() && !m_bActiveWhenDisabled) return false;
  switch (m_tracker.Track(event, LocalRect())) {
    case CTapTracker::EOther: {
      int32_t nOld = m_nCurrent;
      if (IsEnabled()) SetFocus();
      if (event.bPressed && CTapTracker::Inside(event, LocalRect())) {
        m_nCurrent = ESkinPressed;
        EndDrag();
      } else {
        m_nCurrent = RestingSkin();
      }
      // A gesture that ends outside the button ends without release feedback.
      if (!event.bPressed) {
        m_nDragSteps = 0;
        m_bDragStarted = false;
      }
      if (m_nCurrent != nOld) {
        Invalidate();
        if (m_nCurrent == ESkinPressed) {
          PlayFeedback(m_nPressFeedback);
          m_press.Call();
        } else {
          m_state.Call(reinterpret_cast<void*>(static_cast<intptr_t>(m_nCurrent)));
        }
      }
      return true;
    }
    case CTapTracker::EReleaseInside: {
      bool bClick = IsPartlyVisible() && IsTap();
      m_nCurrent = RestingSkin();
      Invalidate();
      // A drag that ended here already gave its release feedback.
      bool bDragged = m_bDragStarted;
      EndDrag();
      if (!bDragged) PlayFeedback(m_nReleaseFeedback);
      if (bClick) m_click.Call();  // may delete this button
      return true;
    }
    default:
      break;
  }
  if (event.nKey != plat::VK_RETURN || !IsFocused()) return false;
  if (event.bPressed) {
    if (m_nCurrent != ESkinPressed) {
      PlayFeedback(m_nPressFeedback);
      m_nCurrent = ESkinPressed;
      Invalidate();
    }
    return true;
  }
  m_nCurrent = ESkinFocused;
  Invalidate();
  if (IsPartlyVisible()) m_click.Call();
  return true;
}

void CSkinnedButton::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CtlPanel::OnRectChanged(rcNew, rcOld);
  if (SizeDiffers(rcNew, rcOld)) DropSliceBitmaps();
  LayoutParts();
}

void CSkinnedButton::LayoutParts() {
  if (!m_pInner || IsEmpty(Rect())) return;
  LayoutInto(m_pInner.get());
  if (CLayoutNode* pCorner = m_pInner->FindNode(kCornerNode, -1); pCorner && pCorner->IsLaidOut())
    SetCornerSize(pCorner->GetWidth(), pCorner->GetHeight());
}

void CSkinnedButton::OnFocusChanged(bool bFocused, CControl*, CControl*) {
  m_nCurrent = bFocused ? ESkinFocused : ESkinNormal;
  Invalidate();
  (bFocused ? m_focus : m_blur).Call();
}

void CSkinnedButton::OnEnableChanged(bool bEnabled, bool) {
  m_nCurrent = bEnabled && IsFocused() ? ESkinFocused : ESkinNormal;
  Invalidate();
}

// A button's parts never decide whether the button is usable: that is its
// owner's call.
void CSkinnedButton::OnChildAdded(CControl* pChild) {
  if (Parent()) Parent()->OnChildAdded(pChild);
}

void CSkinnedButton::OnChildRemoved(CControl* pChild) {
  if (Parent() && !Parent()->IsClosing()) Parent()->OnChildRemoved(pChild);
}

void CSkinnedButton::ReloadImages() {
  DropSliceBitmaps();
  Invalidate();
}

TInnerLayoutEdit CSkinnedButton::EditInnerLayout() {
  m_pInner->Clear();
  TInnerLayoutEdit edit;
  edit.pNode = m_pInner.get();
  edit.finisher = CDelegate::Member<&CSkinnedButton::FinishInnerLayout>(this);
  edit.bPending = true;
  return edit;
}

void CSkinnedButton::FinishInnerLayout() {
  if (!m_pInner->FindNode(kCornerNode, -1)) QUOREL_PANIC(m_lines.pUnit, m_lines.nFinish);
  m_pInner->ResetVariants();
  LayoutParts();
}

// ---------------------------------------------------------------------------

namespace {
const CSkinnedButton::TUnitLines kButtonLines = {
    u"CtlButton", {155, 164, 173, 182, 191, 200, 209, 218, 227}, 236, 114};
const CSkinnedButton::TUnitLines kAdvButtonLines = {
    u"CtlAdvButton", {123, 132, 141, 150, 159, 168, 177, 186, 195}, 204, 82};
}  // namespace

CtlButton::CtlButton() : CSkinnedButton(kButtonLines) {}

CtlButton::~CtlButton() {
  SetClosingTree();
  RefPtr::Take(m_pIcon, nullptr);
  RefPtr::Take(m_pFocusedIcon, nullptr);
}

CtlButton* CtlButton::Create(CControl* pParent) {
  return NewControl<CtlButton>([&](CtlButton* q) {
    q->Init(pParent);
  });
}

void CtlButton::Init(CControl* pParent) {
  InitButton(pParent);
  for (CtlStatic** pp : {&m_pCaption, &m_pSubCaption}) {
    *pp = CtlStatic::Create(this);
    (*pp)->SetAutoFit(true);
    (*pp)->SetMarquee(false);
    (*pp)->SetPaintedByParent(true);
  }
  m_pIconStatic = CtlStatic::Create(this);
  m_pIconStatic->SetPaintedByParent(true);
  RunButtonLayout(m_pInner.get(), true, true, true);
  BindParts();
  m_pInner->ResetVariants();
  LayoutParts();
}

void CtlButton::BindParts() {
  m_pCaption->SetLayoutNode(m_pInner->FindNode(kCaptionNode, -1));
  m_pSubCaption->SetLayoutNode(m_pInner->FindNode(kSubCaptionNode, -1));
  m_pIconStatic->SetLayoutNode(m_pInner->FindNode(kIconNode, -1));
}

void CtlButton::FinishInnerLayout() {
  BindParts();
  if (!m_pInner->FindNode(kCornerNode, -1) || !m_pCaption->LayoutNode() || !m_pSubCaption->LayoutNode() ||
      !m_pIconStatic->LayoutNode())
    QUOREL_PANIC(m_lines.pUnit, m_lines.nFinish);
  m_pInner->ResetVariants();
  LayoutParts();
}

void CtlButton::SetCaptionMarquee(bool b) {
  m_bCaptionMarquee = b;
  UpdateMarquees();
}

void CtlButton::SetSubCaptionMarquee(bool b) {
  m_bSubCaptionMarquee = b;
  UpdateMarquees();
}

void CtlButton::SetForceMarquee(bool b) {
  m_bForceMarquee = b;
  UpdateMarquees();
}

void CtlButton::UpdateMarquees() {
  bool bOn = IsFocused() || m_bForceMarquee;
  m_pCaption->SetMarquee(bOn && m_bCaptionMarquee);
  m_pSubCaption->SetMarquee(bOn && m_bSubCaptionMarquee);
}

void CtlButton::SetIcon(int32_t nImageId, bool bScaling) {
  RefPtr::Take(m_pIcon, CResources::GetImage(nImageId, EScaleNone, RECT{}));
  m_nIconId = nImageId;
  m_bIconScaling = bScaling;
  UpdateIcon();
}

void CtlButton::SetFocusedIcon(int32_t nImageId) {
  RefPtr::Take(m_pFocusedIcon, CResources::GetImage(nImageId, EScaleNone, RECT{}));
  UpdateIcon();
}

void CtlButton::UpdateIcon() {
  CBitmap* p = IsFocused() && m_pFocusedIcon ? m_pFocusedIcon : m_pIcon;
  if (p) m_pIconStatic->SetImage(p, m_bIconScaling);
}

void CtlButton::OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) {
  UpdateMarquees();
  UpdateIcon();
  CSkinnedButton::OnFocusChanged(bFocused, pOld, pNew);
}

// ---------------------------------------------------------------------------

CtlAdvButton::CtlAdvButton() : CSkinnedButton(kAdvButtonLines) {}

CtlAdvButton::~CtlAdvButton() { SetClosingTree(); }

bool CtlAdvButton::IsChild(const CControl* p) const {
  for (CControl* c = FirstChild(); c; c = c->NextSibling())
    if (c == p) return true;
  return false;
}

CtlAdvButton* CtlAdvButton::Create(CControl* pParent) {
  return NewControl<CtlAdvButton>([&](CtlAdvButton* q) {
    q->Init(pParent);
  });
}

void CtlAdvButton::Init(CControl* pParent) {
  InitButton(pParent);
  RunButtonLayout(m_pInner.get(), false, false, false);
  m_pInner->ResetVariants();
  m_pChildLayout = CLayoutNode::CreateRoot();
  LayoutParts();
}

void CtlAdvButton::AttachChild(CControl* pChild, int32_t nLayoutId) {
  if (!pChild || pChild->Parent() != this) QUOREL_PANIC(m_lines.pUnit, 582);
  if (nLayoutId == -1) return;
  std::erase_if(m_attached, [&](const TAttachment& a) { return a.nLayoutId == nLayoutId || a.pControl == pChild; });
  m_attached.push_back(TAttachment{nLayoutId, pChild});
  pChild->SetPaintedByParent(true);
  LayoutParts();
}

void CtlAdvButton::RebuildLayout() {
  RunButtonLayout(m_pInner.get(), false, false, false);
  m_pInner->ResetVariants();
  LayoutParts();
}

void CtlAdvButton::FinishInnerLayout() { CSkinnedButton::FinishInnerLayout(); }

void CtlAdvButton::LayoutParts() {
  CSkinnedButton::LayoutParts();
  if (!m_pChildLayout || IsEmpty(Rect())) return;
  m_pChildLayout->EnsureDefaultVariants();
  // A child deleted before the button leaves its attachment.
  std::erase_if(m_attached, [&](const TAttachment& a) { return !IsChild(a.pControl); });
  for (const TAttachment& a : m_attached) {
    CLayoutNode* pNode = m_pChildLayout->FindNode(a.nLayoutId, -1);
    if (pNode != a.pControl->LayoutNode()) a.pControl->SetLayoutNode(pNode);
  }
  if (m_pChildLayout->GetFirstChild()) LayoutInto(m_pChildLayout.get());
}

// ---------------------------------------------------------------------------
// Skin presets.

namespace {

// One record: slices 0-8 all `nAll`, then the listed overrides (-2 skips).
void FillRecord(CSkinnedButton* p, int32_t nAll, int32_t nBottom, int32_t nCentre) {
  for (int32_t i = 0; i < 9; ++i) p->SetSlice(i, nAll);
  if (nBottom != -2) p->SetSlice(7, nBottom);
  if (nCentre != -2) p->SetSlice(4, nCentre);
}

// The theme's value, or -2 (leave the slice) for other themes.
int32_t ByTheme(int32_t n0, int32_t n1) {
  uint32_t t = GetThemeIndex();
  return t == 0 ? n0 : t == 1 ? n1 : -2;
}

void SetRangeByTheme(CSkinnedButton* p, int32_t n0, int32_t n1) {
  int32_t n = ByTheme(n0, n1);
  if (n != -2) p->SetSliceRange(n);
}

}  // namespace

void ApplyModeButtonSkinA(CSkinnedButton* p) {
  p->EditFocusedSkin(), p->SetSliceRange(171);
  p->EditNormalSkin(), p->SetSliceRange(171);
  p->EditPressedSkin(), p->SetSliceRange(171);
}

void ApplyModeButtonSkinB(CSkinnedButton* p) {
  p->EditFocusedSkin(), p->SetSliceRange(162);
  p->EditNormalSkin(), p->SetSliceRange(180);
  p->EditPressedSkin(), p->SetSliceRange(162);
}

void ApplyUserPageButtonSkin(CSkinnedButton* p) {
  p->EditFocusedSkin(), FillRecord(p, 0, -2, ByTheme(212, 213));
  p->EditNormalSkin(), FillRecord(p, 0, -2, 212);
  p->EditPressedSkin(), FillRecord(p, 0, -2, ByTheme(214, 215));
}

void ApplyEditBarButtonSkin(CSkinnedButton* p) {
  p->EditFocusedSkin(), SetRangeByTheme(p, 310, 301);
  p->EditNormalSkin(), p->SetSliceRange(310);
  p->EditPressedSkin(), SetRangeByTheme(p, 283, 292);
}

void ApplyRowButtonSkin(CSkinnedButton* p) {
  p->EditFocusedSkin(), p->SetSliceRange(10);
  p->EditNormalSkin(), p->SetSliceRange(19);
  p->EditPressedSkin(), p->SetSliceRange(28);
}

void ApplyListItemSkin(CSkinnedButton* p) {
  p->EditFocusedSkin(), FillRecord(p, 0, 274, ByTheme(237, 240));
  p->EditNormalSkin(), FillRecord(p, 0, 274, -2);
  p->EditPressedSkin(), FillRecord(p, 0, 274, ByTheme(238, 241));
}

// ---------------------------------------------------------------------------

CControlBinder::~CControlBinder() {
  m_destroyDelegate.Detach();
  CtlAdvButton* p = m_pControl;
  m_pControl = nullptr;
  delete p;
}

CtlAdvButton* CControlBinder::Create(CControl* pParent) {
  m_destroyDelegate.Detach();
  delete m_pControl;
  m_pControl = CtlAdvButton::Create(pParent);
  m_pControl->SetPaintedByParent(true);
  // Also the plain form: a button deleted with its parent must not be
  // deleted again by the binder.
  m_destroyDelegate = CDelegate::Member<&CControlBinder::OnControlDestroyed>(this);
  m_pControl->DestroyListeners().Add(&m_destroyDelegate);
  return m_pControl;
}

CtlAdvButton* CControlBinder::CreateClickable(CControl* pParent) { return Create(pParent); }

void CControlBinder::OnControlDestroyed() {
  m_destroyDelegate.Detach();
  m_pControl = nullptr;
}
