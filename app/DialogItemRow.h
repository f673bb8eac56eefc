// The button of the message and progress dialogs: a row button with the
// list-item inner layout (its corner is node 7) and a scrolling caption on
// node 11 of its child layout. The button belongs to its parent control;
// the row only keeps pointers to the controls it built.
#pragma once

#include <cstdint>

#include "framework/CtlButton.h"
#include "framework/Graphics.h"
#include "platform/base/Strings.h"

class CDialogItemRow {
 public:
  // The child-layout node the caption sits on.
  static constexpr int32_t kCaptionNode = 11;
  // The feedback a press plays.
  static constexpr int32_t kPressFeedback = 11;

  // Makes the button under `pParent` with `value` as its caption.
  void Build(CControl* pParent, plat::WStringView value, TColor textColor);

  CtlAdvButton* Button() const { return m_pButton; }
  CtlStatic* Caption() const { return m_pCaption; }

 private:
  CtlAdvButton* m_pButton = nullptr;
  CtlStatic* m_pCaption = nullptr;
};
