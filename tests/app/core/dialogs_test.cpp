// The modal dialogs on the application object: the dialog button, message
// and progress dialogs, their layers, results and fitting.
#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/DialogItemRow.h"
#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "framework/Theme.h"

namespace searchtest {
namespace {

class DialogTest : public AppHarness {
 protected:
  void SetUp() override {
    MakeApp(true, false);
    for (int32_t id : {86})
      CResources::RegisterStringSource(id, new TStringSource(id));
  }
};

TEST_F(DialogTest, TheDialogButtonTakesTheRowSkinItsCornerFromNodeSevenAndItsCaptionOnNodeEleven) {
  EXPECT_EQ(0, Run({[this] {
    CDialogItemRow row;
    row.Build(m_app.get(), u"Yes", 0xFF123456);
    CtlAdvButton* pButton = row.Button();
    ASSERT_NE(nullptr, pButton);
    EXPECT_EQ(m_app.get(), pButton->Parent());
    EXPECT_EQ(CDialogItemRow::kPressFeedback, pButton->PressFeedback());
    for (int32_t skin : {ESkinFocused, ESkinNormal, ESkinPressed})
      for (int32_t slice = 0; slice < 9; ++slice)
        EXPECT_EQ(10 + 9 * skin + slice, pButton->Skin(skin).anSlice[slice]) << skin << " " << slice;
    EXPECT_EQ(u"Yes", row.Caption()->Text());
    EXPECT_EQ(0xFF123456u, row.Caption()->TextColor());
    pButton->MoveTo(RECT{0, 0, 480, 60});
    CLayoutNode* pCorner = pButton->InnerLayout()->FindNode(7, -1);
    ASSERT_NE(nullptr, pCorner);
    EXPECT_GT(pCorner->GetWidth(), 0);
    EXPECT_EQ(pCorner->GetWidth(), pButton->CornerSize().cx);
    EXPECT_EQ(pButton->GetChildLayout()->FindNode(CDialogItemRow::kCaptionNode, -1), row.Caption()->LayoutNode());
    delete pButton;
  }}));
}

}  // namespace
}  // namespace searchtest
