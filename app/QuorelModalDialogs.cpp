#include "app/QuorelModalDialogs.h"

#include <algorithm>

#include "framework/Feedback.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/Trace.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"
#include "platform/shell/DeviceServices.h"
#include "protocol/AppSettings.h"

namespace {

constexpr char16_t kUnit[] = u"QuorelModalDialogs";
constexpr int32_t kMissingNodeLine = 90;
constexpr int32_t kFrameFeedback = 12;
constexpr int32_t kDialogBandNode = 42;
constexpr int32_t kTextHeightClass = 3;
// Oscillating pixel truncation must not keep a fit going: a dialog of one
// width refits at most this often.
constexpr int32_t kMaxFitsPerWidth = 4;

int32_t Width(const RECT& rc) { return rc.right - rc.left; }
int32_t Height(const RECT& rc) { return rc.bottom - rc.top; }
bool IsEmpty(const RECT& rc) { return Width(rc) <= 0 || Height(rc) <= 0; }
RECT Offset(const RECT& rc, int32_t dx, int32_t dy) { return RECT{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy}; }

std::vector<CMessageDialog*>& OpenList() {
  static std::vector<CMessageDialog*> open;
  return open;
}

// Every dialog shown and not yet gone, oldest first.
std::vector<CModalDialog*>& ShownList() {
  static std::vector<CModalDialog*> shown;
  return shown;
}

}  // namespace

// ---------------------------------------------------------------------------
// CModalDialog

CModalDialog::CModalDialog() { m_relayout = CDelegate::Member<&CModalDialog::Relayout>(this); }

CModalDialog::~CModalDialog() {
  SetClosingTree();
  m_relayout.Detach();
  DropFrame();
  std::vector<CModalDialog*>& shown = ShownList();
  shown.erase(std::remove(shown.begin(), shown.end(), this), shown.end());
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  if (m_bCounting) pApp->ChangeModalCount(-1);
  if (m_nLayer > 0) pApp->OnDialogClosed(m_nLayer);
  // Stacked dialogs share one node, which only the newest is laid out on:
  // the one below takes it back, or it would stay modal with no rectangle,
  // out of reach of every key and tap.
  CLayoutNode* pNode = LayoutNode();
  if (!pNode || pNode->GetObserver() != this) return;
  SetLayoutNode(nullptr);
  for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
    if ((*it)->m_nNodeId != m_nNodeId || !(*it)->m_bModal) continue;
    (*it)->Relayout();
    pApp->PostRelayout();
    break;
  }
}

void CModalDialog::Show() {
  CQuorelAppUi* pApp = App();
  if (!pApp) Env::ThrowError(Env::ErrSystem);
  if (m_bModal) {
    if (pApp->IsMenuMode()) pApp->CloseOptionsMenu();
    if (m_bCounted) {
      pApp->ChangeModalCount(1);
      m_bCounting = true;
    }
  }
  m_nLayer = pApp->OnDialogShown(this, m_nNodeId);
  ShownList().push_back(this);
  if (pApp->IsForeground()) {
    plat::SystemIdleTimerReset();
    plat::SHIdleTimerReset();
    if (pApp->IsForeground()) plat::SetSystemPowerState(nullptr, plat::POWER_STATE_ON, plat::POWER_FORCE);
  }
}

void CModalDialog::Relayout() {
  CQuorelAppUi* pApp = App();
  CLayoutNode* pRoot = pApp ? pApp->GetRootLayout() : nullptr;
  if (!pRoot) return;
  CLayoutNode* pNode = pRoot->FindNode(m_nNodeId, -1);
  if (!pNode) QUOREL_PANIC(kUnit, kMissingNodeLine);
  if (pNode != LayoutNode()) SetLayoutNode(pNode);
}

void CModalDialog::DropFrame() {
  for (CBitmap*& p : m_apFrame) RefPtr::Take(p, nullptr);
}

void CModalDialog::MakeFrame(const SIZE& size) {
  CQuorelAppUi* pApp = App();
  CLayoutNode* pRoot = pApp ? pApp->GetRootLayout() : nullptr;
  CLayoutNode* pCorner = pRoot ? pRoot->FindNode(kFrameCornerNode, -1) : nullptr;
  const SIZE corner = pCorner && pCorner->IsLaidOut() ? SIZE{pCorner->GetWidth(), pCorner->GetHeight()} : SIZE{};
  if (size.cx == m_frameSize.cx && size.cy == m_frameSize.cy && corner.cx == m_corner.cx && corner.cy == m_corner.cy &&
      m_nFrameBuilds > 0)
    return;
  DropFrame();
  if (m_nFrameBuilds++ == 0) PlayFeedback(kFrameFeedback);
  m_frameSize = size;
  m_corner = corner;
  const int32_t cw = corner.cx, ch = corner.cy;
  const int32_t ew = std::max(0, size.cx - 2 * cw), eh = std::max(0, size.cy - 2 * ch);
  const SIZE sizes[8] = {{cw, ch}, {ew, ch}, {cw, ch}, {cw, eh}, {cw, eh}, {cw, ch}, {ew, ch}, {cw, ch}};
  const int32_t nFirst = GetThemeIndex() == 1 ? 382 : 374;
  for (int32_t i = 0; i < 8; ++i) {
    if (sizes[i].cx <= 0 || sizes[i].cy <= 0) continue;
    try {
      m_apFrame[i] = CResources::GetImage(nFirst + i, EScaleStretch, RECT{0, 0, sizes[i].cx, sizes[i].cy});
    } catch (const Env::TSysErrorCode& e) {
      DebugTrace(u"[QUOREL] dialog frame: image %d unavailable (error %d)\n", nFirst + i, e.code);
    }
  }
}

void CModalDialog::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  if (m_bPlain) {
    CtlPanel::Paint(g, origin, clip);
    return;
  }
  const RECT rc = Offset(LocalRect(), origin.x, origin.y);
  MakeFrame(SIZE{Width(rc), Height(rc)});
  const int32_t cw = m_corner.cx, ch = m_corner.cy;
  const TColor fill = ThemeListBorderColor(GetThemeIndex());
  g.SetFillColor(fill, EColorSolid);
  g.SetLineColor(fill, EColorSolid);
  const RECT inner{rc.left + cw, rc.top + ch, rc.right - cw, rc.bottom - ch};
  if (Width(inner) > 0 && Height(inner) > 0) g.DrawRectangle(inner);
  const POINT at[8] = {{rc.left, rc.top},           {rc.left + cw, rc.top},       {rc.right - cw, rc.top},
                       {rc.left, rc.top + ch},      {rc.right - cw, rc.top + ch}, {rc.left, rc.bottom - ch},
                       {rc.left + cw, rc.bottom - ch}, {rc.right - cw, rc.bottom - ch}};
  for (int32_t i = 0; i < 8; ++i)
    if (const CBitmap* p = m_apFrame[i]) g.DrawBitmap(p, at[i].x, at[i].y, p->GetSize());
}

// ---------------------------------------------------------------------------
// CMessageDialog

CMessageDialog::CMessageDialog(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                               const CDelegate& right, plat::WStringView text, int32_t kind)
    : m_leftLabelId(leftLabelId),
      m_leftCallback(left),
      m_rightLabelId(rightLabelId),
      m_rightCallback(right),
      m_text(text),
      m_kind(kind) {
  // The dialog deletes itself in its dispatch, before the callback runs, so
  // that a callback tidying up its creator's dialogs never meets this one.
  SetKept(true);
  m_bPlain = false;
  OpenList().push_back(this);
}

CMessageDialog::~CMessageDialog() {
  auto& open = OpenList();
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
  SetClosingTree();
}

template <class T>
T* CMessageDialog::Build(T* pDialog, void (*buildLayout)(CLayoutNode*), int32_t nTextAlignment) {
  return InitControl(pDialog, [&](T* p) { p->Init(buildLayout, nTextAlignment); });
}

CMessageDialog* CMessageDialog::Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                       const CDelegate& right, int32_t textId, int32_t kind) {
  return CreateWithText(leftLabelId, left, rightLabelId, right, CResources::GetString(textId), kind);
}

CMessageDialog* CMessageDialog::CreateWithText(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                               const CDelegate& right, plat::WStringView text, int32_t kind) {
  return Build(new CMessageDialog(leftLabelId, left, rightLabelId, right, text, kind), &BuildMessageDialogLayout,
               EAlignCenter);
}

void CMessageDialog::Init(void (*buildLayout)(CLayoutNode*), int32_t nTextAlignment) {
  CQuorelAppUi* pApp = App();
  if (!pApp) Env::ThrowError(Env::ErrSystem);
  const uint32_t nTheme = GetThemeIndex();
  const TColor textColor = ThemeDialogTextColor(nTheme);
  CControl::Create(pApp);
  SetColors(ThemeListBorderColor(nTheme), ThemeListFillColor(nTheme));

  m_pLayout = CLayoutNode::CreateRoot();
  buildLayout(m_pLayout.get());
  m_pLayout->ResetVariants();
  m_pLayout->SelectVariants(15, m_leftLabelId == 0 ? 1 : 0);

  m_pCaption = CtlStatic::Create(this);
  m_pCaption->SetAlignment(EAlignCenter);
  m_pCaption->SetTextStyle(EPlaceCenter);
  m_pCaption->SetAutoFit(true);
  m_pCaption->SetTextColor(textColor, EColorSolid);
  m_pCaption->SetText(CResources::GetString(DialogKindStringId(m_kind)));
  m_pCaption->SetLayoutNode(m_pLayout->FindNode(ENodeCaption, -1));

  m_pIcon = CtlStatic::Create(this);
  m_pIcon->SetImageId(m_kind, true);
  m_pIcon->SetLayoutNode(m_pLayout->FindNode(ENodeIcon, -1));

  m_pText = CtlStatic::Create(this);
  m_pText->SetAlignment(nTextAlignment);
  m_pText->SetTextStyle(EPlaceCenter);
  m_pText->SetTextColor(textColor, EColorSolid);
  m_pText->SetText(m_text);
  m_pText->SetLayoutNode(m_pLayout->FindNode(ENodeText, -1));

  if (m_leftLabelId != 0) {
    m_leftLabel = CResources::GetString(m_leftLabelId);
    m_left.Build(this, m_leftLabel, textColor);
    m_left.Button()->SetClickHandler(CDelegate::Member<&CMessageDialog::OnLeftSoftKey>(this));
    m_left.Button()->SetLayoutNode(m_pLayout->FindNode(ENodeLeft, -1));
  }
  m_rightLabel = CResources::GetString(m_rightLabelId);
  m_right.Build(this, m_rightLabel, textColor);
  m_right.Button()->SetClickHandler(CDelegate::Member<&CMessageDialog::OnRightSoftKey>(this));
  m_right.Button()->SetLayoutNode(m_pLayout->FindNode(ENodeRight, -1));

  InitExtras();
  Show();
  if (CtlAdvButton* pLeft = m_left.Button()) {
    pLeft->SetRightNeighbour(m_right.Button());
    m_right.Button()->SetLeftNeighbour(pLeft);
    pLeft->SetFocus();
  } else {
    m_right.Button()->SetFocus();
  }
}

void CMessageDialog::Choose(bool bLeft) {
  m_bWhichLeft = bLeft;
  if (!IsQueued() && CAppUi::Instance()) Post();
}

void CMessageDialog::Answer(bool bLeft) {
  m_bWhichLeft = bLeft;
  if (IsQueued()) Cancel();
  Dispatch();
}

void CMessageDialog::Dispatch() {
  CDelegate callback = m_bWhichLeft ? m_leftCallback : m_rightCallback;
  CQuorelAppUi* pApp = App();
  const bool bRun = pApp && !pApp->IsClosing();
  delete this;
  if (bRun) callback.Call();
}

void CMessageDialog::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CModalDialog::OnRectChanged(rcNew, rcOld);
  if (Width(rcNew) != Width(rcOld)) m_nFits = 0;
  if (!m_pLayout || IsEmpty(rcNew)) return;
  LayoutInto(m_pLayout.get());
  FitText();
}

void CMessageDialog::Relayout() {
  CModalDialog::Relayout();
  m_nFits = 0;
}

void CMessageDialog::FitText() {
  CQuorelAppUi* pApp = App();
  if (!pApp || !m_pText || IsClosing() || m_nFits >= kMaxFitsPerWidth) return;
  TFontDesc font;
  font.nPixelHeight = pApp->GetStandardHeight(kTextHeightClass);
  if (font.nPixelHeight < 1) return;
  m_pText->SetFont(font);
  const int32_t nPresent = Height(m_pText->Rect());
  const int32_t nNeeded = std::max(Height(m_pText->Measure()), Width(m_pIcon->Rect()));
  if (nNeeded == nPresent) return;
  CLayoutNode* pRoot = pApp->GetRootLayout();
  CLayoutNode* pBand = pRoot ? pRoot->FindNode(kDialogBandNode, -1) : nullptr;
  if (!pBand || !pBand->IsLaidOut()) return;
  // Never taller than the window, never collapsed.
  const int32_t nLimit = Height(pApp->GetMainWindowRect());
  const int32_t nBand = std::clamp(pBand->GetHeight() + nNeeded - nPresent, 1, std::max(1, nLimit));
  if (nBand == pBand->GetHeight()) return;
  // The tree is notifying us: edit it in place and let the next turn lay
  // the window out again.
  ++m_nFits;
  if (SetDialogBandHeight(pRoot, nBand)) pApp->PostRelayout();
}

const std::vector<CMessageDialog*>& CMessageDialog::OpenDialogs() { return OpenList(); }

void CMessageDialog::CloseAll() {
  while (!OpenList().empty()) delete OpenList().back();
}

// ---------------------------------------------------------------------------
// CProgressDialog

CProgressDialog* CProgressDialog::Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                         const CDelegate& right, int32_t textId, int32_t kind) {
  return Build(new CProgressDialog(leftLabelId, left, rightLabelId, right, CResources::GetString(textId), kind),
               &BuildProgressDialogLayout, EAlignLeft);
}

void CProgressDialog::InitExtras() {
  const bool bTheme0 = GetThemeIndex() == 0;
  m_pBar = CtlScrollBar::Create(this, 0, 100, 0, 0, CtlScrollBar::EHorizontal, 0);
  m_pBar->SetReadOnly(true);
  // A bar without pictures still counts: the download it shows goes on.
  try {
    m_pBar->SetImages(bTheme0 ? 40 : 43, bTheme0 ? 41 : 44, bTheme0 ? 42 : 45, 46, 47, 48);
  } catch (const Env::TSysErrorCode& e) {
    DebugTrace(u"[QUOREL] progress dialog: bar pictures unavailable (error %d)\n", e.code);
  }
  m_pBar->SetLayoutNode(OwnLayout()->FindNode(kBarNode, -1));
  m_hold.HoldQuiet();
}

void CProgressDialog::SetProgress(int32_t position, int32_t maximum) {
  m_maximum = std::max(maximum, 1);
  m_position = std::clamp(position, 0, m_maximum);
  if (!m_pBar) return;
  const int64_t nRange = int64_t{m_pBar->Maximum()} - m_pBar->Minimum();
  const auto nThumb = static_cast<int32_t>(nRange * m_position / m_maximum);
  m_pBar->SetThumbSize(static_cast<int32_t>(nRange), nThumb);
  m_pBar->Invalidate();
}

// ---------------------------------------------------------------------------
// CPanelDialog

CPanelDialog::CPanelDialog() {
  m_bModal = false;
  m_bCounted = false;
  m_nNodeId = kPanelNode;
}

CPanelDialog::~CPanelDialog() {
  SetClosingTree();
  RefPtr::Take(m_pBackground, nullptr);
}

CPanelDialog* CPanelDialog::New() {
  return InitControl(new CPanelDialog(), [](CPanelDialog* p) { p->InitPanel(kPanelNode); });
}

void CPanelDialog::InitPanel(int32_t nNodeId) {
  CQuorelAppUi* pApp = App();
  if (!pApp) Env::ThrowError(Env::ErrSystem);
  m_nNodeId = nNodeId;
  const uint32_t nTheme = GetThemeIndex();
  CControl::Create(pApp);
  SetColors(ThemeListBorderColor(nTheme), ThemeListFillColor(nTheme));
  m_pLayout = CLayoutNode::CreateRoot();
  SetTransparent();
  SetVisible(false);
  Show();
}

void CPanelDialog::SetRightSoftKey(plat::WStringView label, const CDelegate& action) {
  m_rightLabel = plat::WString(label);
  m_rightAction = action;
  if (CQuorelAppUi* pApp = App(); pApp && DialogLayer() > 0) pApp->OnDialogSoftKeysChanged(this);
}

void CPanelDialog::SetLeftSoftKey(plat::WStringView label, const CDelegate& action) {
  m_leftLabel = plat::WString(label);
  m_leftAction = action;
  if (CQuorelAppUi* pApp = App(); pApp && DialogLayer() > 0) pApp->OnDialogSoftKeysChanged(this);
}

void CPanelDialog::ShowPanel() {
  SetVisible(true);
  BringToFront();
}

void CPanelDialog::HidePanel() { SetVisible(false); }

void CPanelDialog::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CModalDialog::OnRectChanged(rcNew, rcOld);
  LayOutOwnTree();
  if (Width(rcNew) != Width(rcOld) || Height(rcNew) != Height(rcOld)) RefPtr::Take(m_pBackground, nullptr);
}

void CPanelDialog::LayOutOwnTree() {
  if (IsEmpty(Rect()) || !m_pLayout->GetFirstChild()) return;
  m_pLayout->ResetVariants();
  LayoutInto(m_pLayout.get());
}

void CPanelDialog::PaintLayersBelow(CGraphics& g, const POINT& origin, const RECT& clip) {
  CModalDialog::Paint(g, origin, clip);  // the main window's own background
  CControl* pMain = Parent();
  if (!pMain) return;
  std::vector<CControl*> below;
  for (CControl* p = pMain->FirstChild(); p; p = p->NextSibling())
    if (p != this && p->Layer() < Layer() && p->IsVisible() && !p->IsClosing()) below.push_back(p);
  // In the order the main window stacks them: by layer, later siblings above.
  std::stable_sort(below.begin(), below.end(), [](CControl* a, CControl* b) { return a->Layer() < b->Layer(); });
  const POINT mainOrigin{origin.x - Rect().left, origin.y - Rect().top};
  for (CControl* p : below) {
    const RECT rc = Offset(p->Rect(), mainOrigin.x, mainOrigin.y);
    const RECT c = RectIntersect(clip, rc);
    if (IsEmpty(c)) continue;
    g.PushClip(c);
    p->PaintTree(g, POINT{rc.left, rc.top}, c, true, true);
    g.PopClip();
  }
}

void CPanelDialog::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  if (!m_bDrawBackground) {
    CModalDialog::Paint(g, origin, clip);
    return;
  }
  PaintLayersBelow(g, origin, clip);
  if (IsEmpty(Rect())) return;
  if (!m_pBackground) {
    try {
      m_pBackground = CResources::GetImage(kBackgroundImage, EScaleStretch, LocalRect());
    } catch (const Env::TSysErrorCode& e) {
      DebugTrace(u"[QUOREL] panel dialog: background unavailable (error %d)\n", e.code);
      m_bDrawBackground = false;
      return;
    }
  }
  g.DrawBitmap(m_pBackground, origin.x, origin.y, m_pBackground->GetSize());
}

bool CPanelDialog::OnInput(const TInputEvent& event) {
  if (m_tracker.Track(event, LocalRect()) == CTapTracker::EReleaseInside) {
    if (m_bTapClosesMenu) {
      if (CQuorelAppUi* pApp = App(); pApp && pApp->IsMenuMode()) pApp->CloseOptionsMenu();
    } else if (m_bHideOnTap) {
      HidePanel();
    }
    return true;
  }
  return CModalDialog::OnInput(event);
}

// ---------------------------------------------------------------------------
// CListDialog and its items

CListDialogItem::CListDialogItem(CListDialog* pOwner, int32_t nId, int32_t nLabelId)
    : m_pOwner(pOwner), m_nId(nId), m_nLabelId(nLabelId) {}

void CListDialogItem::SetLabelId(int32_t nId) {
  m_nLabelId = nId;
  m_pOwner->MarkDirty();
}
void CListDialogItem::SetVisible(bool b) {
  m_bVisible = b;
  m_pOwner->MarkDirty();
}
void CListDialogItem::SetEnabled(bool b) {
  m_bEnabled = b;
  m_pOwner->MarkDirty();
}
void CListDialogItem::SetAction(const CDelegate& action) {
  m_action = action;
  m_pOwner->MarkDirty();
}

plat::WString CListDialogItem::Label() const {
  return m_nLabelId >= 0 ? CResources::GetString(m_nLabelId) : plat::WString();
}

void CListDialogItem::Activate() { m_pOwner->Activate(m_action); }

CListDialog::CListDialog() {
  SetKept(true);
  m_bTapClosesMenu = true;
}

CListDialog::~CListDialog() {
  Unsubscribe();
  SetClosingTree();
  for (CListDialogItem* p : m_items) p->removeReference();
}

CListDialog* CListDialog::New() {
  return InitControl(new CListDialog(), [](CListDialog* p) {
    p->InitPanel(kListNode);
    BuildListDialogLayout(p->OwnLayout(), kRows);
    // Its right soft key closes it; a rotation closes the menu it stands for.
    p->SetRightSoftKey(CResources::GetString(15), CDelegate::Member<&CPanelDialog::HidePanel>(p));
    p->CEventListenerFor<DisplayRotatedEvent>::Subscribe();
  });
}

CListDialogItem* CListDialog::AddItem(int32_t nId, int32_t nLabelId) {
  auto* pItem = new CListDialogItem(this, nId, nLabelId);
  pItem->addReference();
  m_items.push_back(pItem);
  if (nId != -1) m_byId[nId] = pItem;
  MarkDirty();
  return pItem;
}

CListDialogItem* CListDialog::FindItem(int32_t nId) const {
  auto it = m_byId.find(nId);
  return it == m_byId.end() ? nullptr : it->second;
}

std::vector<CListDialogItem*> CListDialog::Items() const { return m_items; }

void CListDialog::MarkDirty() {
  m_bDirty = true;
  if (!IsQueued() && CAppUi::Instance()) Post();
}

void CListDialog::Activate(const CDelegate& action) {
  m_pendingAction = action;
  m_bActivatePending = true;
  if (IsQueued()) Cancel();
  if (CAppUi::Instance()) Post();
}

void CListDialog::Dispatch() {
  m_bDirty = false;
  if (!m_bActivatePending) return;
  m_bActivatePending = false;
  CDelegate action = m_pendingAction;
  m_pendingAction = CDelegate();
  HidePanel();
  if (CQuorelAppUi* pApp = App(); pApp && pApp->IsMenuMode()) pApp->CloseOptionsMenu();
  action.Call();
}

void CListDialog::HandleEvent(const TDisplayRotation&) {
  if (CQuorelAppUi* pApp = App(); pApp && pApp->IsMenuMode()) pApp->CloseOptionsMenu();
}
