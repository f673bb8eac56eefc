#include "app/DialogItemRow.h"

#include "layouts/Layouts.h"

void CDialogItemRow::Build(CControl* pParent, plat::WStringView value, TColor textColor) {
  CtlAdvButton* pButton = CtlAdvButton::Create(pParent);
  ApplyRowButtonSkin(pButton);
  pButton->SetPressFeedback(kPressFeedback);
  TInnerLayoutEdit edit = pButton->EditInnerLayout();
  BuildListItemLayout(edit.pNode);
  if (edit.bPending) {
    edit.finisher.Call();
    edit.bPending = false;
  }
  BuildListItemPartLayout(pButton->GetChildLayout());

  CtlStatic* pCaption = CtlStatic::Create(pButton);
  pCaption->SetAlignment(EAlignCenterSingle);
  pCaption->SetTextStyle(EPlaceCenter);
  pCaption->SetAutoFit(true);
  pCaption->SetMarquee(true);
  pCaption->SetTextColor(textColor, EColorSolid);
  pCaption->SetText(value);
  pButton->AttachChild(pCaption, kCaptionNode);

  m_pButton = pButton;
  m_pCaption = pCaption;
}
