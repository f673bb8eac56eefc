#include "vy/VyGesture.h"

#include <algorithm>
#include <cstdlib>

#include "platform/kernel/Kernel.h"
#include "vy/VyUtil.h"

namespace {

constexpr int32_t kMaxVelocity = 500;
constexpr int32_t kFirstMoveThreshold = 30;

constexpr std::array<int32_t, 26> kNoMenuImages = [] {
  std::array<int32_t, 26> a{};
  a.fill(-1);
  return a;
}();
constexpr std::array<int32_t, 10> kNoItemImages = [] {
  std::array<int32_t, 10> a{};
  a.fill(-1);
  return a;
}();
constinit std::array<int32_t, 26> s_menuImageIds = kNoMenuImages;
constinit std::array<int32_t, 10> s_menuItemImageIds = kNoItemImages;

constinit bool s_bLogPixelsX = false;
constinit int32_t s_nLogPixelsX = 0;
constinit bool s_bLogPixelsY = false;
constinit int32_t s_nLogPixelsY = 0;

// The tap threshold's vertical resolution, read once.
int32_t LogPixelsY() {
  if (!s_bLogPixelsY) {
    plat::HDC dc = plat::GetDC(nullptr);
    s_nLogPixelsY = dc ? plat::GetDeviceCaps(dc, plat::LOGPIXELSY) : -1;
    if (dc) plat::ReleaseDC(nullptr, dc);
    s_bLogPixelsY = true;
  }
  return s_nLogPixelsY;
}

}  // namespace

uint32_t CVyGesture::Counter() {
  int64_t n = 0;
  plat::QueryPerformanceCounter(&n);
  return uint32_t(n);
}

int32_t CVyGesture::Range() const {
  return m_nAxis ? m_rcView.right - m_rcContent.right : m_rcView.bottom - m_rcContent.bottom;
}

void CVyGesture::UpdateExtremes(int32_t x, int32_t y) {
  m_ptMax = POINT{std::max(m_ptMax.x, x), std::max(m_ptMax.y, y)};
  m_ptMin = POINT{std::min(m_ptMin.x, x), std::min(m_ptMin.y, y)};
}

void CVyGesture::ResetExtremes() {
  m_ptMax = POINT{-10000, -10000};
  m_ptMin = POINT{10000, 10000};
}

void CVyGesture::NotifyStop() {
  if (m_bNotified) return;
  if (m_pStopMessage)
    plat::PostMessage(m_pStopMessage->hWnd, m_pStopMessage->nMsg, m_pStopMessage->wParam, m_pStopMessage->lParam);
  m_bNotified = 1;
}

void CVyGesture::Begin(int32_t nViewLeft, int32_t nViewTop, int32_t nViewRight, int32_t nViewBottom,
                       int32_t nContentLeft, int32_t nContentTop, int32_t nContentRight, int32_t nContentBottom,
                       int32_t x, int32_t y) {
  const POINT pt{x, y};
  m_nGrab = Axis(pt) - Axis(m_ptOffset);
  m_rcView = RECT{nViewLeft, nViewTop, nViewRight, nViewBottom};
  m_rcContent = RECT{nContentLeft, nContentTop, nContentRight, nContentBottom};
  m_ptStart = m_ptLast = pt;
  m_sampleA = m_sampleB = TSample{};
  m_nLastCounter = Counter();
  m_nPrevVelocity = m_nVelocity;
  UpdateExtremes(x, y);
  m_bFirstMove = 1;
  m_nFlags &= ~1u;
  NotifyStop();
}

void CVyGesture::Move(int32_t x, int32_t y) {
  const POINT pt{x, y};
  const int32_t d = std::abs(std::abs(Axis(m_ptLast)) - std::abs(Axis(pt)));
  if (m_bFirstMove && d < kFirstMoveThreshold) {
    UpdateExtremes(x, y);
    return;
  }
  const TSample last{m_nLastCounter, m_ptLast.x, m_ptLast.y};
  if (m_sampleA.nCounter == 0) {
    m_sampleA = last;
  } else if (m_sampleB.nCounter == 0) {
    m_sampleB = last;
  } else {
    m_sampleA = m_sampleB;
    m_sampleB = last;
  }
  m_ptLast = pt;
  m_nLastCounter = Counter();
  const int32_t raw = Axis(pt) - m_nGrab;
  const int32_t r = Range();
  int32_t& offset = Axis(m_ptOffset);
  if (offset < 0 && offset > r) {
    offset = raw;
  } else if (offset <= r) {
    const int32_t viewLength = m_nAxis ? m_rcView.Width() : m_rcView.Height();
    const int32_t contentLength = m_nAxis ? m_rcContent.Width() : m_rcContent.Height();
    offset = viewLength < contentLength ? (raw - r) * 3 / 10 + r : raw * 3 / 10;
  } else {
    offset = raw * 3 / 10;
  }
  m_bFirstMove = 0;
  UpdateExtremes(x, y);
}

int32_t CVyGesture::End(int32_t x, int32_t y) {
  UpdateExtremes(x, y);
  m_bBounced = 0;
  const int32_t k = m_nAxis ? 4000 : 3000, bonus = m_nAxis ? 3500 : 3000;
  const POINT a{m_sampleA.x, m_sampleA.y}, b{m_sampleB.x, m_sampleB.y};
  int64_t dt = int32_t(m_nLastCounter - m_sampleA.nCounter);
  const int64_t dist = Axis(m_ptLast) - Axis(a);
  if ((m_sampleB.nCounter == 0 || Axis(m_ptLast) == Axis(b)) && dt < 100) dt += bonus;
  // Without a sample there was no movement to measure: the empty sample's
  // zero counter and coordinates would make a flick out of a tap.
  int64_t v = m_sampleA.nCounter == 0 ? 0 : dt <= 0 ? dist : dist * k / dt;
  const int32_t drag = Axis(m_ptLast) - Axis(m_ptStart);
  if ((drag > 0 && v < 0) || (drag < 0 && v > 0)) v = 0;
  m_nVelocity = int32_t(std::clamp<int64_t>(v, -kMaxVelocity, kMaxVelocity));
  m_sampleA = m_sampleB = TSample{};
  m_ptLast = POINT{};
  m_nFlags |= 1;
  m_bNotified = 0;
  const int32_t extent = Axis(m_ptMax) - Axis(m_ptMin);
  const int32_t threshold = (LogPixelsY() * 20 + 96) / 192;
  int32_t nTap = 0;
  if (extent <= threshold && std::abs(m_nPrevVelocity) < 11 && std::abs(m_nVelocity) < 11) {
    m_nPrevVelocity = m_nVelocity = 0;
    nTap = 1;
  }
  ResetExtremes();
  return nTap;
}

int32_t CVyGesture::ResetBounds() {
  ResetExtremes();
  return 0;
}

void CVyGesture::Step(POINT* pOut) {
  if (IsAnimating()) {
    int32_t& offset = Axis(m_ptOffset);
    offset += m_nVelocity / 2;
    if (m_nVelocity >= m_nDeceleration)
      m_nVelocity -= m_nDeceleration;
    else if (m_nVelocity <= -m_nDeceleration)
      m_nVelocity += m_nDeceleration;
    else
      m_nVelocity = 0;
    if (!m_bBounceEnabled) {
      if (m_nVelocity == 0 && !Snap()) {
        m_bBounced = 0;
        Stop();
      }
    } else {
      const int32_t o = offset, r = Range();
      if (o >= 1) {
        if (!m_bBounced) {
          int32_t dv = o / 10;
          m_nVelocity -= dv == 0 ? 1 : dv;
          if (m_nVelocity < 0) {
            m_bBounced = 1;
            PlayHapticEffect(u"windows\\listEnd.ivt");
          }
        } else {
          m_nVelocity = std::min(-(o / 2), -2);
        }
      } else if (o < 0 && o < r) {
        const int32_t e = r <= 0 ? r - o : -o;
        if (!m_bBounced) {
          int32_t dv = e / 10;
          m_nVelocity += dv == 0 ? 1 : dv;
          if (m_nVelocity > 0) {
            m_bBounced = 1;
            PlayHapticEffect(u"windows\\listEnd.ivt");
          }
        } else {
          m_nVelocity = std::max(e / 2, 2);
        }
      }
      if (m_nVelocity == 0) {
        m_bBounced = 0;
        if (o <= r || !Snap()) Stop();
      }
    }
    if (m_bGliding && std::abs(m_ptOffset.y - m_nScrollTarget) <= m_nDeceleration + 3) {
      m_ptOffset.y = m_nScrollTarget;
      m_nVelocity = 0;
      if (0 <= m_nScrollTarget && m_nScrollTarget <= Range()) Stop();
      m_bGliding = 0;
    }
  }
  *pOut = m_ptOffset;
}

void CVyGesture::SetContentRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom) {
  m_rcContent = RECT{nLeft, nTop, nRight, nBottom};
}

void CVyGesture::SetViewRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom) {
  m_rcView = RECT{nLeft, nTop, nRight, nBottom};
  Settle();
}

void CVyGesture::Settle() {
  m_nFlags |= 1;
  m_bNotified = 0;
}

void CVyGesture::Stop() {
  m_nFlags &= ~1u;
  NotifyStop();
}

int32_t CVyGesture::ScrollTo(int32_t nTarget, int32_t bClamp, int32_t bImmediate) {
  int32_t& offset = Axis(m_ptOffset);
  m_nScrollFrom = offset;
  if (bClamp) {
    if (m_rcView.bottom > m_rcContent.bottom)
      nTarget = 0;
    else if (nTarget < Range())
      nTarget = Range();
  }
  m_nScrollTarget = nTarget;
  if (nTarget == offset) return 1;
  if (bImmediate) {
    offset = nTarget;
    Settle();
    return 0;
  }
  int32_t d = nTarget - offset;
  if (std::abs(d) > 1000) {
    d = d > 0 ? 1000 : -1000;
    offset = nTarget - d;
  }
  const int32_t v = CalcAnimationStep(std::abs(d), m_nDeceleration);
  m_nVelocity = d > 0 ? v : -v;
  m_bGliding = 1;
  Settle();
  return 0;
}

int32_t CVyGesture::Snap() {
  if (m_nSnapUnit < 1) return 0;
  int32_t& offset = Axis(m_ptOffset);
  const int32_t m = std::abs(offset) % m_nSnapUnit;
  if (m >= m_nDeceleration / 2) {
    m_nVelocity = m <= m_nSnapUnit / 2 ? CalcAnimationStep(m, m_nDeceleration)
                                       : -CalcAnimationStep(m_nSnapUnit - m, m_nDeceleration);
    return 1;
  }
  offset += offset < 0 ? m : -m;
  return 0;
}

void SetMenuImageIDs(std::span<const int32_t, 26> ids) { std::copy(ids.begin(), ids.end(), s_menuImageIds.begin()); }

void SetMenuItemImageIDs(std::span<const int32_t, 10> ids) {
  std::copy(ids.begin(), ids.end(), s_menuItemImageIds.begin());
}

int32_t GetMenuImageID(int32_t nIndex) {
  return nIndex >= 0 && nIndex < 26 ? s_menuImageIds[size_t(nIndex)] : -1;
}

int32_t GetMenuItemImageID(int32_t nIndex) {
  return nIndex >= 0 && nIndex < 10 ? s_menuItemImageIds[size_t(nIndex)] : -1;
}

void ResetMenuImageIDsForTests() {
  s_menuImageIds = kNoMenuImages;
  s_menuItemImageIds = kNoItemImages;
}

int32_t GetLogPixelsX() {
  if (!s_bLogPixelsX) {
    s_nLogPixelsX = VyReadScreenDpi();
    s_bLogPixelsX = true;
  }
  return s_nLogPixelsX;
}

void ResetLogPixelsForTests() {
  s_bLogPixelsX = s_bLogPixelsY = false;
  s_nLogPixelsX = s_nLogPixelsY = 0;
}
