#include "framework/CtlScrollBar.h"

#include <algorithm>

#include "framework/Resources.h"

namespace {

int32_t MulDiv(int64_t a, int64_t b, int64_t c) { return c == 0 ? 0 : static_cast<int32_t>(a * b / c); }

}  // namespace

CtlScrollBar::CtlScrollBar() { SetEnableStateRaw(EnableOn); }

CtlScrollBar::~CtlScrollBar() {
  for (int32_t i = 0; i < EImageCount; ++i) {
    RefPtr::Take(m_apSource[i], nullptr);
    RefPtr::Take(m_apScaled[i], nullptr);
  }
}

CtlScrollBar* CtlScrollBar::Create(CControl* pParent, int32_t nMin, int32_t nMax, int32_t nPosition, int32_t nThumb,
                                   int32_t nOrientation, uint8_t nFlag) {
  return NewControl<CtlScrollBar>([&](CtlScrollBar* q) {
    q->m_nMin = nMin;
    q->m_nMax = nMax;
    q->m_nPosition = nPosition;
    q->m_nThumb = nThumb;
    q->m_nOrientation = nOrientation;
    q->m_nFlag = nFlag;
    q->CControl::Create(pParent);
  });
}

int32_t CtlScrollBar::Thickness() const {
  RECT rc = LocalRect();
  return m_nOrientation == EHorizontal ? rc.bottom : rc.right;
}

int32_t CtlScrollBar::Length() const {
  RECT rc = LocalRect();
  return m_nOrientation == EHorizontal ? rc.right : rc.bottom;
}

void CtlScrollBar::SetImages(int32_t nThumbStart, int32_t nThumbMiddle, int32_t nThumbEnd, int32_t nStartCap,
                             int32_t nTrack, int32_t nEndCap) {
  const int32_t ids[EImageCount] = {nThumbStart, nThumbMiddle, nThumbEnd, nStartCap, nTrack, nEndCap};
  std::copy(std::begin(ids), std::end(ids), m_anId);
  m_bImagesSet = true;
  LoadImages();
  Invalidate();
}

void CtlScrollBar::LoadImages() {
  for (int32_t i = 0; i < EImageCount; ++i) {
    RefPtr::Take(m_apScaled[i], nullptr);
    RefPtr::Take(m_apSource[i], m_anId[i] == -1 ? nullptr : CResources::GetImage(m_anId[i], EScaleNone, RECT{}));
  }
}

void CtlScrollBar::ReloadImages() {
  if (!m_bImagesSet) return;
  LoadImages();
  Invalidate();
}

void CtlScrollBar::SetPosition(int32_t nPosition) {
  m_nPosition = nPosition;
  Invalidate();
}

void CtlScrollBar::SetPositionFromOffset(int32_t nContent, int32_t nOffset, int32_t nView) {
  int64_t nDivisor = nContent == nView ? 1 : int64_t{nContent} - nView;
  SetPosition(MulDiv(int64_t{m_nMax} - m_nMin, nOffset, nDivisor));
}

void CtlScrollBar::SetThumbSize(int32_t nTotal, int32_t nValue) {
  int64_t nRange = int64_t{m_nMax} - m_nMin;
  m_nThumb = nTotal <= 0 ? static_cast<int32_t>(nRange) : MulDiv(nRange, nValue, nTotal);
  Invalidate();
}

int32_t CtlScrollBar::ScaledLength(int32_t nRole) const {
  const CBitmap* p = m_apSource[nRole];
  if (!p) return 0;
  RECT size = p->GetSize();
  int32_t nThick = m_nOrientation == EHorizontal ? size.bottom : size.right;
  int32_t nLength = m_nOrientation == EHorizontal ? size.right : size.bottom;
  return nThick <= 0 ? 0 : MulDiv(nLength, Thickness(), nThick);
}

CtlScrollBar::TGeometry CtlScrollBar::Geometry() const {
  TGeometry g;
  int32_t nLength = Length();
  int64_t nRange = int64_t{m_nMax} - m_nMin;
  int32_t nCapLimit = std::max(0, nLength / 2 - 2);
  g.nStartCap = m_anId[EStartCap] == -1 ? 0 : std::min(ScaledLength(EStartCap), nCapLimit);
  g.nEndCap = m_anId[EEndCap] == -1 ? 0 : std::min(ScaledLength(EEndCap), nCapLimit);
  g.nTrack = std::max(0, nLength - g.nStartCap - g.nEndCap);
  if (nRange > 0) {
    g.nThumb = MulDiv(g.nTrack, std::clamp<int64_t>(m_nThumb, 0, nRange), nRange);
    g.nThumbOffset = MulDiv(g.nTrack - g.nThumb, std::clamp<int64_t>(int64_t{m_nPosition} - m_nMin, 0, nRange), nRange);
  } else {
    g.nThumb = g.nTrack;
  }
  g.nThumbStart = ScaledLength(EThumbStart);
  g.nThumbEnd = ScaledLength(EThumbEnd);
  g.nThumbMiddle = std::max(0, g.nThumb - g.nThumbStart - g.nThumbEnd);
  return g;
}

void CtlScrollBar::SetScaled(int32_t nRole, int32_t nLength) {
  CBitmap* pSource = m_apSource[nRole];
  int32_t nThick = Thickness();
  if (!pSource || nLength <= 0 || nThick <= 0) {
    RefPtr::Take(m_apScaled[nRole], nullptr);
    return;
  }
  RECT target = m_nOrientation == EHorizontal ? RECT{0, 0, nLength, nThick} : RECT{0, 0, nThick, nLength};
  if (m_apScaled[nRole] && RectEquals(m_apScaled[nRole]->GetSize(), target)) return;
  RefPtr::Take(m_apScaled[nRole], CBitmap::NewScaledSmooth(pSource, target, EScaleStretch));
}

void CtlScrollBar::UpdateScaled() {
  TGeometry g = Geometry();
  SetScaled(EStartCap, ScaledLength(EStartCap));
  SetScaled(EEndCap, ScaledLength(EEndCap));
  SetScaled(EThumbStart, g.nThumbStart);
  SetScaled(EThumbEnd, g.nThumbEnd);
  SetScaled(ETrack, g.nTrack);
  SetScaled(EThumbMiddle, g.nThumbMiddle);
}

void CtlScrollBar::Paint(CGraphics& g, const POINT& origin, const RECT&) {
  if (!m_bImagesSet || !m_bHasThickness) return;
  UpdateScaled();
  TGeometry geo = Geometry();
  // Draws `nLength` of the piece at `nAt` along the bar.
  auto draw = [&](int32_t nRole, int32_t nAt, int32_t nLength) {
    const CBitmap* p = m_apScaled[nRole];
    if (!p || nLength <= 0) return;
    RECT size = p->GetSize();
    if (m_nOrientation == EHorizontal)
      g.DrawBitmap(p, origin.x + nAt, origin.y, RECT{0, 0, std::min(nLength, size.right), size.bottom});
    else
      g.DrawBitmap(p, origin.x, origin.y + nAt, RECT{0, 0, size.right, std::min(nLength, size.bottom)});
  };
  draw(EStartCap, 0, geo.nStartCap);
  draw(ETrack, geo.nStartCap, geo.nTrack);
  draw(EEndCap, Length() - geo.nEndCap, geo.nEndCap);
  int32_t nAt = geo.nStartCap + geo.nThumbOffset;
  draw(EThumbStart, nAt, geo.nThumbStart);
  draw(EThumbMiddle, nAt + geo.nThumbStart, geo.nThumbMiddle);
  draw(EThumbEnd, nAt + geo.nThumbStart + geo.nThumbMiddle, geo.nThumbEnd);
}

void CtlScrollBar::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  m_bHasThickness = Thickness() > 0;
  if (!RectEquals(rcNew, rcOld)) Invalidate();
}

// Moves reach OnInput only when the drag is declined: an editable bar
// tracks its thumb there, a read-only one lets its drag handler scroll.
bool CtlScrollBar::OnDrag(int32_t nDelta) { return m_bReadOnly ? CControl::OnDrag(nDelta) : false; }

void CtlScrollBar::Report() { m_changed.Call(reinterpret_cast<void*>(static_cast<intptr_t>(m_nPosition))); }

bool CtlScrollBar::OnInput(const TInputEvent& event) {
  if (m_bReadOnly || event.nKey != KeyPointer) return false;
  if (!event.bPressed) {
    m_bDragging = false;
    return true;
  }
  int32_t c = m_nOrientation == EHorizontal ? event.x : event.y;
  TGeometry g = Geometry();
  int64_t nRange = int64_t{m_nMax} - m_nMin;
  int32_t nFree = g.nTrack - g.nThumb;
  if (nRange <= 0 || nFree <= 0) return true;
  auto apply = [&](int64_t n) {
    SetPosition(static_cast<int32_t>(m_nMin + std::clamp<int64_t>(n, 0, nRange)));
    Report();
  };
  if (m_bDragging) {
    // From the drag's start, so that rounding does not add up over the moves;
    // the position whose pixel offset lies nearest the pointer's.
    int64_t nTarget = int64_t{m_nDragOffset} + (c - m_nLast);
    int64_t n = nTarget * nRange / nFree;
    int64_t nBest = n;
    for (int64_t k : {n - 1, n + 1})
      if (std::abs(k * nFree / nRange - nTarget) < std::abs(nBest * nFree / nRange - nTarget)) nBest = k;
    apply(nBest);
    return true;
  }
  int32_t nThumbAt = g.nStartCap + g.nThumbOffset;
  if (c >= nThumbAt && c < nThumbAt + g.nThumb) {
    m_bDragging = true;
    m_nLast = c;
    m_nDragOffset = g.nThumbOffset;
    return true;
  }
  // The middle of the thumb comes under the pointer.
  int32_t nTop = c - g.nStartCap - (g.nThumb - g.nThumbStart - g.nThumbEnd) / 2 - g.nThumbStart;
  apply(int64_t{nTop} * nRange / nFree);
  return true;
}
