#include "app/ImageButton.h"

#include "platform/ui/Ui.h"

CImageButton* CreateImageButton(CControl* pParent) {
  return NewControl<CImageButton>([&](CImageButton* p) { p->Init(pParent); });
}

bool CImageButton::OnInput(const TInputEvent& event) {
  bool bWasPressed = CurrentSkin() == ESkinPressed;
  // The release is told before the button's own handling, whose click may
  // delete the button.
  bool bEnds = !event.bPressed && (event.nKey == KeyPointer || (event.nKey == plat::VK_RETURN && IsFocused()));
  if (bWasPressed && bEnds) m_onRelease.Call();
  bool bTaken = CtlAdvButton::OnInput(event);
  if (bEnds) return bTaken;
  bool bPressed = CurrentSkin() == ESkinPressed;
  if (!bWasPressed && bPressed)
    m_onPress.Call();
  else if (bWasPressed && !bPressed)
    m_onRelease.Call();  // the pointer left the button
  return bTaken;
}
