// A picture that acts as a button: the back button of the title bar and the
// play button of a list row. It shows its focused picture while focused,
// else the normal one, and the pressed picture while a press lasts; a tap
// or Enter runs its click. UI thread.
#pragma once

#include <cstdint>

#include "framework/CtlStatic.h"

class CImageToggle : public CtlStatic {
 public:
  enum : int32_t { ENormal = 0, EFocused = 1, EPressed = 2 };

  CImageToggle();
  static CImageToggle* Create(CControl* pParent);

  // Slots -1 show nothing.
  void SetImages(int32_t nNormal, int32_t nFocused, int32_t nPressed);
  int32_t ImageSlot(int32_t nWhich) const { return m_anImages[nWhich]; }
  // The slot on show (-1 none).
  int32_t ShownSlot() const { return m_nShown; }
  bool IsPressed() const { return m_bPressed; }
  void SetToggleClickHandler(const CDelegate& d) { m_toggleClick = d; }
  // The feedback played on a press and on a release (0: none).
  void SetPressFeedback(int32_t nId) { m_nPressFeedback = nId; }
  void SetReleaseFeedback(int32_t nId) { m_nReleaseFeedback = nId; }

  bool OnInput(const TInputEvent& event) override;
  void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) override;

 private:
  void ShowSlot(int32_t nSlot);
  void ShowResting() { ShowSlot(m_anImages[IsFocused() ? EFocused : ENormal]); }

  int32_t m_anImages[3] = {-1, -1, -1};
  int32_t m_nShown = -1;
  bool m_bPressed = false;
  int32_t m_nPressFeedback = 1;
  int32_t m_nReleaseFeedback = 3;
  CTapTracker m_toggleTracker;
  CDelegate m_toggleClick;
};
