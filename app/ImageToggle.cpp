#include "app/ImageToggle.h"

#include "framework/Feedback.h"
#include "platform/ui/Ui.h"

CImageToggle::CImageToggle() { SetEnableStateRaw(EnableOn); }

CImageToggle* CImageToggle::Create(CControl* pParent) {
  return NewControl<CImageToggle>([&](CImageToggle* p) { p->Init(pParent); });
}

void CImageToggle::SetImages(int32_t nNormal, int32_t nFocused, int32_t nPressed) {
  m_anImages[ENormal] = nNormal;
  m_anImages[EFocused] = nFocused;
  m_anImages[EPressed] = nPressed;
  m_nShown = -2;  // forces the refresh
  if (m_bPressed)
    ShowSlot(nPressed);
  else
    ShowResting();
}

void CImageToggle::ShowSlot(int32_t nSlot) {
  if (nSlot == m_nShown) return;
  m_nShown = nSlot;
  SetImageId(nSlot, true);
  Invalidate();
}

bool CImageToggle::OnInput(const TInputEvent& event) {
  if (!IsEnabled()) return false;
  switch (m_toggleTracker.Track(event, LocalRect())) {
    case CTapTracker::EOther:
      if (event.bPressed && CTapTracker::Inside(event, LocalRect())) {
        if (!m_bPressed) {
          m_bPressed = true;
          // A new gesture: the drag count of an earlier one must not veto it.
          EndDrag();
          ShowSlot(m_anImages[EPressed]);
          PlayFeedback(m_nPressFeedback);
        }
      } else if (m_bPressed) {
        m_bPressed = false;
        ShowResting();
      }
      return true;
    case CTapTracker::EReleaseInside: {
      bool bClick = m_bPressed && IsTap();
      m_bPressed = false;
      ShowResting();
      EndDrag();
      PlayFeedback(m_nReleaseFeedback);
      if (bClick) m_toggleClick.Call();  // may delete this control
      return true;
    }
    default:
      break;
  }
  if (event.nKey != plat::VK_RETURN || !IsFocused()) return false;
  if (event.bPressed) {
    if (!m_bPressed) {
      m_bPressed = true;
      ShowSlot(m_anImages[EPressed]);
      PlayFeedback(m_nPressFeedback);
    }
    return true;
  }
  if (!m_bPressed) return true;
  m_bPressed = false;
  ShowResting();
  PlayFeedback(m_nReleaseFeedback);
  m_toggleClick.Call();
  return true;
}

void CImageToggle::OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) {
  CtlStatic::OnFocusChanged(bFocused, pOld, pNew);
  if (!m_bPressed) ShowResting();
}
