#include "framework/CtlStatic.h"

#include <algorithm>
#include <limits>

#include "framework/AppUi.h"
#include "framework/Resources.h"
#include "framework/Theme.h"

namespace {

RECT Shift(const RECT& rc, int32_t dx, int32_t dy) {
  return RECT{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy};
}

int32_t MainWindowWidth() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp ? pApp->Rect().right - pApp->Rect().left : 0;
}

constexpr int32_t kMarqueePauseSteps = 10;

}  // namespace

// ---------------------------------------------------------------------------

int32_t CTapTracker::Track(const TInputEvent& event, const RECT& rc) {
  if (event.nKey != KeyPointer) return ENotPointer;
  m_ptLast = POINT{event.x, event.y};
  if (event.bPressed) {
    m_bPressed = true;
    return EOther;
  }
  bool bWasPressed = m_bPressed;
  m_bPressed = false;
  return bWasPressed && Inside(event, rc) ? EReleaseInside : EOther;
}

// ---------------------------------------------------------------------------

// A text or a picture is never a focus stop: only the controls built on it
// that react to keys (links) enable themselves.
CtlStatic::CtlStatic()
    : m_backColor(ThemeBackgroundColor(GetThemeIndex())), m_textColor(ThemeTextColor(GetThemeIndex())) {}

CtlStatic::~CtlStatic() {
  Unsubscribe();
  DropBitmaps();
  RefPtr::Take(m_pFont, nullptr);
}

CtlStatic* CtlStatic::Create(CControl* pParent) {
  return NewControl<CtlStatic>([&](CtlStatic* q) {
    q->Init(pParent);
  });
}

void CtlStatic::Init(CControl* pParent) { CControl::Create(pParent); }

void CtlStatic::DropBitmaps() {
  RefPtr::Take(m_pScaled, nullptr);
  RefPtr::Take(m_pSource, nullptr);
}

RECT CtlStatic::InnerBox() const {
  RECT rc = LocalRect();
  return RECT{rc.left + m_nMarginH, rc.top + m_nMarginV, rc.right - m_nMarginH, rc.bottom - m_nMarginV};
}

void CtlStatic::RestyleText() {
  if (m_nContent != EContentText) return;
  UpdateMarquee();
  Invalidate();
}

void CtlStatic::SetText(plat::WStringView text) {
  m_nContent = EContentText;
  DropBitmaps();
  m_text.assign(text);
  m_nTextWidth = -1;
  UpdateMarquee();
  Invalidate();
}

void CtlStatic::SetTextId(int32_t nId) { SetText(CResources::GetString(nId)); }

void CtlStatic::SetImage(CBitmap* pBitmap, bool bScaling) {
  m_nContent = EContentImage;
  RefPtr::Assign(m_pSource, pBitmap);
  m_nImageId = -1;
  m_bScaling = bScaling;
  RefPtr::Take(m_pScaled, nullptr);
  Invalidate();
}

void CtlStatic::SetImageId(int32_t nId, bool bScaling) {
  m_nContent = EContentImage;
  RefPtr::Take(m_pSource, nullptr);
  m_nImageId = nId;
  m_bScaling = bScaling;
  RefPtr::Take(m_pScaled, nullptr);
  Invalidate();
}

void CtlStatic::SetImageScaling(bool bSmooth) {
  if (bSmooth == m_bSmooth) return;
  m_bSmooth = bSmooth;
  if (m_nContent == EContentImage && m_bScaling) {
    RefPtr::Take(m_pScaled, nullptr);
    Invalidate();
  }
}

void CtlStatic::SetTextColor(TColor color, int32_t nMode) {
  m_textColor = color;
  m_nTextMode = nMode;
  RestyleText();
}

void CtlStatic::SetBackColor(TColor color, int32_t nMode) {
  m_backColor = color;
  m_nBackMode = nMode;
  RestyleText();
}

void CtlStatic::SetAlignment(int32_t nMode) {
  if (nMode == m_nAlign) return;
  m_nAlign = nMode;
  RestyleText();
}

void CtlStatic::SetTextStyle(int32_t nPlace) {
  if (nPlace == m_nPlace) return;
  m_nPlace = nPlace;
  RestyleText();
}

void CtlStatic::SetLineFraction(const TFraction& fraction) {
  m_lineFraction = fraction;
  RestyleText();
}

void CtlStatic::SetMarquee(bool bOn) {
  m_bMarquee = bOn;
  RestyleText();
}

void CtlStatic::SetMargins(int32_t nHorizontal, int32_t nVertical) {
  m_nMarginH = nHorizontal;
  m_nMarginV = nVertical;
  if (m_nContent != EContentText) return;
  RefitFont();
  UpdateMarquee();
  Invalidate();
}

void CtlStatic::MakeFont(const TFontDesc& desc) {
  if (m_pFont && m_pFont->Desc() == desc) return;
  RefPtr::Take(m_pFont, CFont::Create(desc));
  m_nTextWidth = -1;
}

void CtlStatic::SetFont(const TFontDesc& desc) {
  TFontDesc d = desc;
  if (IsAutoFit()) {
    RECT box = InnerBox();
    int32_t h = box.bottom - box.top;
    d.nPixelHeight = h < 2 ? 12 : h;
  }
  MakeFont(d);
  m_nTextWidth = -1;
  RestyleText();
}

void CtlStatic::SetAutoFit(bool bOn) {
  m_bAutoFit = bOn;
  RefitFont();
}

void CtlStatic::SetAutoFitHandler(const CDelegate& handler) {
  m_autoFit = handler;
  RefitFont();
}

void CtlStatic::RefitFont() {
  if (!IsAutoFit()) return;
  RECT box = InnerBox();
  int32_t nHeight = box.bottom - box.top;
  if (m_autoFit.IsSet()) {
    TAutoFitQuery query{&m_text, box.right - box.left, 0};
    m_autoFit.Call(&query);
    nHeight = query.nResult;
  }
  if (nHeight <= 1) return;
  // Without a font yet the fitted height starts a plain one.
  TFontDesc d = m_pFont ? m_pFont->Desc() : TFontDesc{};
  d.nPixelHeight = nHeight;
  MakeFont(d);
}

int32_t CtlStatic::MarqueeStep() { return std::max(1, MainWindowWidth() / 64); }

void CtlStatic::UpdateMarquee() {
  if (m_nContent == EContentText && m_nAlign >= EAlignLeftSingle && m_bMarquee && IsVisible()) Subscribe();
}

void CtlStatic::HandleEvent(const TNoPayload&) {
  if (m_nAlign < EAlignLeftSingle) {
    m_nOffset = 0;
    Unsubscribe();
    Invalidate();
    return;
  }
  Invalidate();
  // Not painted yet: the paint measures the text, the ticks after it scroll.
  if (m_nTextWidth == -1 && m_nContent == EContentText) return;
  RECT box = InnerBox();
  int32_t nBoxWidth = box.right - box.left;
  // The text scrolls when it does not fit the box it is drawn in.
  if (m_nContent == EContentText && nBoxWidth > 0 && m_nTextWidth > nBoxWidth && m_bMarquee) {
    int32_t nStep = MarqueeStep();
    m_nOffset += nStep;
    if (m_nOffset < 1) return;
    int32_t nPeriod = m_nTextWidth + std::max(0, nBoxWidth) / 4;
    if (nPeriod > 0 && m_nOffset >= nPeriod) m_nOffset = -kMarqueePauseSteps * nStep;
    return;
  }
  m_nOffset = 0;
  Unsubscribe();
}

void CtlStatic::MeasureText(CGraphics& g) {
  if (m_nTextWidth != -1) return;
  if (m_text.empty()) {
    m_nTextWidth = 0;
    return;
  }
  constexpr int32_t kUnbounded = std::numeric_limits<int32_t>::max() / 4;
  RECT rc = g.DrawText(m_text, RECT{0, 0, kUnbounded, kUnbounded}, EAlignLeftSingle);
  m_nTextWidth = rc.right - rc.left;
}

void CtlStatic::PaintBackground(CGraphics& g, const POINT& origin, const RECT& clip) {
  if (m_nBackMode == kStaticParentBackground) {
    if (Parent()) PaintParentBackground(g, origin, clip);
    return;
  }
  g.SetFillColor(m_backColor, m_nBackMode);
  g.SetLineColor(m_backColor, EColorSolid);
  g.DrawRectangle(Shift(LocalRect(), origin.x, origin.y));
}

void CtlStatic::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  PaintBackground(g, origin, clip);
  PaintContent(g, origin);
}

void CtlStatic::PaintContent(CGraphics& g, const POINT& origin) {
  RECT box = Shift(InnerBox(), origin.x, origin.y);
  if (m_nContent == EContentImage) {
    if (!m_pScaled) {
      if (m_bScaling) {
        if (m_nImageId != -1)
          m_pScaled = CResources::GetImage(m_nImageId, m_bSmooth ? EScaleProportional : EScaleStretch, box);
        else if (m_pSource)
          m_pScaled = m_bSmooth ? CBitmap::NewScaledSmooth(m_pSource, box, EScaleProportional)
                                : CBitmap::NewScaled(m_pSource, box, EScaleStretch);
      } else if (m_pSource) {
        RefPtr::Assign(m_pScaled, m_pSource);
      } else if (m_nImageId != -1) {
        m_pScaled = CResources::GetImage(m_nImageId, EScaleNone, RECT{});
      }
    }
    if (m_pScaled) g.DrawBitmap(m_pScaled, box.left, box.top, RECT{});
    return;
  }
  if (m_pFont) g.SetFont(m_pFont);
  bool bFresh = m_nTextWidth == -1;
  MeasureText(g);
  int32_t nBoxWidth = box.right - box.left;
  if (nBoxWidth <= 0 || box.bottom <= box.top) return;
  g.SetFillColor(0, EColorOff);
  g.SetLineColor(m_textColor, m_nTextMode);
  if (m_nAlign < EAlignLeftSingle) {
    g.DrawTextEx(m_text, box, m_nAlign, m_lineFraction, m_nPlace);
    return;
  }
  if (m_nTextWidth < nBoxWidth) {
    m_nOffset = 0;
    m_nTextWidth = nBoxWidth;
  } else if (bFresh) {
    m_nOffset = -kMarqueePauseSteps * MarqueeStep();
  }
  int32_t x = box.left - std::max(0, m_nOffset);
  int32_t nGap = nBoxWidth / 4;
  g.PushClip(box);
  g.DrawTextEx(m_text, RECT{x, box.top, x + m_nTextWidth, box.bottom}, m_nAlign, m_lineFraction, m_nPlace);
  if (m_nTextWidth > nBoxWidth) {
    int32_t x2 = x + m_nTextWidth + nGap;
    g.DrawTextEx(m_text, RECT{x2, box.top, x2 + m_nTextWidth, box.bottom}, m_nAlign, m_lineFraction, m_nPlace);
  }
  g.PopClip();
}

bool CtlStatic::OnInput(const TInputEvent& event) {
  if (!m_click.IsSet() && !m_press.IsSet()) return false;
  switch (m_tracker.Track(event, LocalRect())) {
    case CTapTracker::EOther:
      m_press.Call();  // may delete this control
      return true;
    case CTapTracker::EReleaseInside:
      // A drag that began here scrolled the page: no click.
      return IsTap() ? m_click.Call() : m_click.IsSet();
    default:
      return false;
  }
}

void CtlStatic::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  bool bResized = SizeDiffers(rcNew, rcOld);
  if (!bResized) {
    if (!RectEquals(rcNew, rcOld)) Invalidate();
    return;
  }
  if (m_nContent == EContentText) {
    RefitFont();
    m_nTextWidth = -1;
    m_nOffset = 0;
    UpdateMarquee();
  } else {
    RefPtr::Take(m_pScaled, nullptr);
  }
  Invalidate();
}

void CtlStatic::OnShown(bool bVisible) {
  m_nOffset = 0;
  if (bVisible)
    UpdateMarquee();
  else
    Unsubscribe();
}

void CtlStatic::ReloadImages() {
  if (m_nContent != EContentImage) return;
  RefPtr::Take(m_pScaled, nullptr);
  Invalidate();
}

RECT CtlStatic::Measure() {
  RECT rc = Rect();
  if (m_nContent == EContentText) {
    constexpr int32_t kUnbounded = std::numeric_limits<int32_t>::max() / 4;
    RECT box{rc.left, rc.top, m_nAlign < EAlignLeftSingle ? rc.right : kUnbounded, kUnbounded};
    std::unique_ptr<CWindowGraphics> g = CreateGraphics();
    if (m_pFont) g->SetFont(m_pFont);
    RECT m = g->DrawText(m_text, box, m_nAlign);
    return RECT{rc.left, rc.top, std::max(rc.left, m.right + m_nMarginH), std::max(rc.top, m.bottom + m_nMarginV)};
  }
  if (m_bScaling) return rc;
  RECT size{};
  if (m_pSource) {
    size = m_pSource->GetSize();
  } else if (m_nImageId != -1) {
    CBitmap* p = CResources::GetImage(m_nImageId, EScaleNone, RECT{});
    size = p->GetSize();
    p->removeReference();
  } else {
    return RECT{};
  }
  return RECT{rc.left, rc.top, std::max(rc.left, rc.left + size.right + 2 * m_nMarginH),
              std::max(rc.top, rc.top + size.bottom + 2 * m_nMarginV)};
}

// ---------------------------------------------------------------------------

CtlAnimation::~CtlAnimation() {
  Unsubscribe();
  for (CBitmap* p : m_frames) p->removeReference();
}

CtlAnimation* CtlAnimation::Create(CControl* pParent) {
  auto* p = NewControl<CtlAnimation>([&](CtlAnimation* q) {
    q->Init(pParent);
  });
  p->Subscribe();
  return p;
}

void CtlAnimation::AddFrame(int32_t nImageId) {
  CBitmap* p = CResources::GetImage(nImageId, EScaleNone, RECT{});
  m_frames.push_back(p);
  if (m_frames.size() == 1) {
    m_nFrame = 0;
    SetImage(p, true);
  }
}

void CtlAnimation::Show(bool bShow) {
  SetVisible(bShow);
  if (bShow) Subscribe();
}

void CtlAnimation::OnShown(bool bVisible) {
  if (bVisible)
    Subscribe();
  else
    Unsubscribe();
}

void CtlAnimation::HandleEvent(const TNoPayload&) {
  if (m_frames.size() < 2) return;
  if (m_nCounter < m_nPeriod) {
    ++m_nCounter;
    return;
  }
  m_nFrame = (m_nFrame + 1) % static_cast<int32_t>(m_frames.size());
  SetImage(m_frames[static_cast<size_t>(m_nFrame)], true);
  m_nCounter = 0;
}

// ---------------------------------------------------------------------------

CtlLink::CtlLink() { SetEnableStateRaw(EnableOn); }

CtlLink* CtlLink::Create(CControl* pParent) {
  auto* p = NewControl<CtlLink>([&](CtlLink* q) {
    q->Init(pParent);
    q->ApplyLook(false);
  });
  return p;
}

void CtlLink::SetFont(const TFontDesc& desc) {
  m_normal = desc;
  m_focused = desc;
  m_focused.bUnderline = true;
  ApplyLook(IsFocused());
}

void CtlLink::ApplyLook(bool bFocused) {
  uint32_t nTheme = GetThemeIndex();
  CtlStatic::SetFont(bFocused ? m_focused : m_normal);
  SetTextColor(bFocused ? ThemeLinkFocusedColor(nTheme) : ThemeLinkColor(nTheme), EColorSolid);
  SetMarquee(bFocused);
}

void CtlLink::OnFocusChanged(bool bFocused, CControl*, CControl*) { ApplyLook(bFocused); }

bool CtlLink::OnInput(const TInputEvent& event) {
  if (!IsEnabled()) return false;
  switch (m_tracker.Track(event, LocalRect())) {
    case CTapTracker::EOther:
      if (event.bPressed) SetFocus();
      return true;
    case CTapTracker::EReleaseInside:
      if (IsPartlyVisible() && IsTap()) m_click.Call();
      return true;
    default:
      break;
  }
  if (event.nKey != plat::VK_RETURN || !IsFocused()) return false;
  if (!event.bPressed && IsPartlyVisible()) m_click.Call();
  return true;
}
