// A row button that also reports the start and the end of a press, so that
// its owner can swap a picture with the button's look (list rows, detail
// rows). UI thread.
#pragma once

#include "framework/CtlButton.h"

class CImageButton : public CtlAdvButton {
 public:
  CImageButton() = default;
  void SetPressCallback(const CDelegate& d) { m_onPress = d; }
  void SetReleaseCallback(const CDelegate& d) { m_onRelease = d; }

  bool OnInput(const TInputEvent& event) override;

 private:
  CDelegate m_onPress;
  CDelegate m_onRelease;
};

CImageButton* CreateImageButton(CControl* pParent);
