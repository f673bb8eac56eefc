// The modal dialogs on the application object: the dialog button, message
// and progress dialogs, their layers, results and fitting.
#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/DialogItemRow.h"
#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "framework/Theme.h"
#include "framework/VyServices.h"

namespace searchtest {
namespace {

bool IsRectEmpty(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }
// The loop's exit code, kept out of the assertion text.
void Ends(int expected, int exitCode) { EXPECT_EQ(expected, exitCode); }

class DialogTest : public AppHarness {
 protected:
  void SetUp() override {
    MakeApp(true, false);
    for (int32_t id : {86})
      CResources::RegisterStringSource(id, new TStringSource(id));
  }
};

TEST_F(DialogTest, TheDialogButtonTakesTheRowSkinItsCornerFromNodeSevenAndItsCaptionOnNodeEleven) {
  Ends(0, Run({[this] {
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

// Records each side's callback.
struct TAnswers {
  std::vector<std::string> log;
  void Left() { log.push_back("left"); }
  void Right() { log.push_back("right"); }
};

TEST_F(DialogTest, ShowMessageHasOneFocusedButtonAndAKindCaption) {
  const struct {
    int32_t kind;
    const char16_t* caption;
  } cases[] = {{103, u"S221"}, {121, u"S222"}, {152, u"S223"}, {153, u"S225"}, {7, u"S224"}};
  Ends(0, Run({[this, &cases] {
                      for (const auto& c : cases) {
                        SCOPED_TRACE(c.kind);
                        const int32_t before = m_app->ModalCount();
                        CQuorelAppUi::ShowMessage(86, c.kind);
                        ASSERT_EQ(1u, CMessageDialog::OpenDialogs().size());
                        CMessageDialog* p = CMessageDialog::OpenDialogs().back();
                        EXPECT_EQ(c.caption, p->CaptionControl()->Text());
                        EXPECT_EQ(u"S86", p->Text());
                        EXPECT_EQ(nullptr, p->LeftButton());
                        EXPECT_TRUE(p->RightButton()->IsFocused());
                        EXPECT_EQ(before + 1, m_app->ModalCount());
                        // Its labels are on its layer, shown disabled while it is modal.
                        EXPECT_EQ(u"S7", m_app->DisplayedSoftKeys().right.text);
                        EXPECT_FALSE(m_app->IsRightSoftKeyEnabled());
                        delete p;
                        EXPECT_EQ(before, m_app->ModalCount());
                      }
                      // Closing the last dialog gives layer 0 its keys back.
                      EXPECT_TRUE(m_app->IsRightSoftKeyEnabled());
                      CQuorelAppUi::ShowMessage(86, 7);
                    },
                    [] {},
                    [] {
                      // One button: the left cell is collapsed and hidden (key 15 = 1), the
                      // right one takes the row.
                      CMessageDialog* p = CMessageDialog::OpenDialogs().back();
                      CLayoutNode* pLeft = p->OwnLayout()->FindNode(CMessageDialog::ENodeLeft, -1);
                      CLayoutNode* pRight = p->OwnLayout()->FindNode(CMessageDialog::ENodeRight, -1);
                      ASSERT_TRUE(pRight->IsLaidOut());
                      EXPECT_FALSE(pLeft->IsVisible());
                      EXPECT_EQ(0, pLeft->GetWidth());
                      EXPECT_GT(pRight->GetWidth(), (p->Rect().right - p->Rect().left) * 3 / 4);
                      delete p;
                    }}));
}

TEST_F(DialogTest, ClicksBeforeTheDispatchGiveOneCallbackOfTheLastSide) {
  TAnswers answers;
  const CDelegate left = CDelegate::Member<&TAnswers::Left>(&answers);
  const CDelegate right = CDelegate::Member<&TAnswers::Right>(&answers);
  int32_t before = 0;
  Ends(0, Run({[&] {
                      before = m_app->ModalCount();
                      CMessageDialog* p = CMessageDialog::CreateWithText(14, left, 9, right, u"Twice?", 103);
                      EXPECT_TRUE(p->LeftButton()->IsFocused());
                      EXPECT_EQ(p->RightButton(), p->LeftButton()->Neighbour(2));
                      p->OnLeftSoftKey();
                      p->OnLeftSoftKey();
                    },
                    [&] {
                      EXPECT_EQ(answers.log, (std::vector<std::string>{"left"}));
                      EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
                      EXPECT_EQ(before, m_app->ModalCount());
                      CMessageDialog* p = CMessageDialog::CreateWithText(14, left, 9, right, u"Change?", 103);
                      p->OnLeftSoftKey();
                      p->OnRightSoftKey();
                    },
                    [&] {
                      EXPECT_EQ(answers.log, (std::vector<std::string>{"left", "right"}));
                      EXPECT_EQ(before, m_app->ModalCount());
                    }}));
}

TEST_F(DialogTest, ADialogThatFailsToBuildLowersNothingAndLeavesNothing) {
  Ends(0, Run({[this] {
    const int32_t before = m_app->ModalCount();
    const int32_t topBefore = m_app->TopLayer();
    // Label 5000 has no text: the build fails before the dialog is shown.
    EXPECT_THROW(CMessageDialog::Create(5000, {}, 7, {}, 86, 152), Env::TSysErrorCode);
    EXPECT_EQ(before, m_app->ModalCount());
    EXPECT_EQ(topBefore, m_app->TopLayer());
    EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
    // ShowMessage reports it and goes on.
    CQuorelAppUi::ShowMessage(5001, 152);
    EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
    EXPECT_EQ(before, m_app->ModalCount());
  }}));
}

TEST_F(DialogTest, ADialogTakesItsRectangleAfterOneTurnFitsItsTextAndFramesTheFinalSize) {
  CMessageDialog* p = nullptr;
  plat::WString text;
  for (int i = 0; i < 4; ++i) text += u"A rather long line of text that wraps. ";
  std::vector<TStep> steps{[&] {
    p = CMessageDialog::CreateWithText(0, {}, 7, {}, text, 152);
    EXPECT_TRUE(IsRectEmpty(p->Rect()));
  }};
  for (int i = 0; i < 6; ++i) steps.push_back([] {});
  steps.push_back([&] {
    EXPECT_FALSE(IsRectEmpty(p->Rect()));
    EXPECT_EQ(m_app->GetRootLayout()->FindNode(CModalDialog::kModalNode, -1), p->LayoutNode());
    // The band grew until the text control is as high as its text.
    CtlStatic* pText = p->TextControl();
    EXPECT_EQ(pText->Measure().bottom - pText->Measure().top, pText->Rect().bottom - pText->Rect().top);
    // The frame was made for the size the dialog ended with.
    p->Invalidate();
  });
  steps.push_back([&] {
    EXPECT_EQ(p->Rect().right - p->Rect().left, p->FrameSize().cx);
    EXPECT_EQ(p->Rect().bottom - p->Rect().top, p->FrameSize().cy);
    EXPECT_GE(p->FrameBuilds(), 1);
    delete p;
  });
  // A pass run from inside the tree's own notification would panic and end
  // the loop with 1.
  Ends(0, Run(steps));
}

TEST_F(DialogTest, StackedDialogsOutliveTheTreeTheyShared) {
  // Both sit on node 43; the tree goes at shut-down before they do.
  Ends(0, Run({[this] {
    const int32_t before = m_app->ModalCount();
    CQuorelAppUi::ShowMessage(86, 152);
    CQuorelAppUi::ShowMessage(86, 121);
    EXPECT_EQ(2u, CMessageDialog::OpenDialogs().size());
    EXPECT_EQ(before + 2, m_app->ModalCount());
    EXPECT_EQ(nullptr, CMessageDialog::OpenDialogs().front()->LayoutNode());
  }}));
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
}

// A search's message and a preview's error at once: once the user closes
// the newer with Enter, the older is laid out again and Enter closes it too
// (it used to stay modal with an empty rectangle, out of reach of any key).
TEST_F(DialogTest, TheDialogBelowIsShownAgainAndClosesByKeyWhenTheOneAboveCloses) {
  std::vector<TStep> steps{[] {
    CQuorelAppUi::ShowMessage(86, 152);
    CQuorelAppUi::ShowMessage(86, 121);
  }};
  for (int i = 0; i < 3; ++i) steps.push_back([] {});
  steps.push_back([this] {
    ASSERT_EQ(2u, CMessageDialog::OpenDialogs().size());
    EXPECT_TRUE(CMessageDialog::OpenDialogs().back()->RightButton()->IsFocused());
    m_tp->Key(plat::VK_RETURN);
  });
  for (int i = 0; i < 3; ++i) steps.push_back([] {});
  steps.push_back([this] {
    ASSERT_EQ(1u, CMessageDialog::OpenDialogs().size());
    CMessageDialog* p = CMessageDialog::OpenDialogs().back();
    EXPECT_EQ(p->Kind(), 152);
    EXPECT_EQ(m_app->GetRootLayout()->FindNode(CModalDialog::kModalNode, -1), p->LayoutNode());
    EXPECT_FALSE(IsRectEmpty(p->Rect()));
    EXPECT_TRUE(p->RightButton()->IsFocused());
    EXPECT_TRUE(p->RightButton()->IsPartlyVisible());
    m_tp->Key(plat::VK_RETURN);
  });
  for (int i = 0; i < 3; ++i) steps.push_back([] {});
  steps.push_back([this] {
    EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
    EXPECT_EQ(0, m_app->ModalCount());
  });
  Ends(0, Run(steps));
}

TEST_F(DialogTest, ProgressIsAShareOfTheMaximumIn64Bits) {
  const struct {
    int32_t position, maximum;
    int32_t shownPosition, shownMaximum, thumb;
  } cases[] = {
      {0, 0, 0, 1, 0},       {1, 0, 1, 1, 100},           {-5, 100, 0, 100, 0},
      {150, 100, 100, 100, 100}, {30000000, 40000000, 30000000, 40000000, 75}, {1, 3, 1, 3, 33},
  };
  Ends(0, Run({[this, &cases] {
    CProgressDialog* p = CProgressDialog::Create(0, {}, 9, {}, 57, 153);
    EXPECT_TRUE(p->HoldsQuiet());
    EXPECT_FALSE(m_app->IsBusyIndicatorShown());
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.position) + "/" + std::to_string(c.maximum));
      p->SetProgress(c.position, c.maximum);
      EXPECT_EQ(c.shownPosition, p->Position());
      EXPECT_EQ(c.shownMaximum, p->Maximum());
      EXPECT_EQ(c.thumb, p->Bar()->ThumbExtent());
    }
    delete p;
  }}));
}

TEST_F(DialogTest, ARebuiltTreeWithoutTheDialogsNodePanics) {
  Ends(0, Run({[this] {
    CMessageDialog* p = CMessageDialog::CreateWithText(0, {}, 7, {}, u"Gone", 7);
    CLayoutNode* pNode = m_app->GetRootLayout()->FindNode(CModalDialog::kModalNode, -1);
    ASSERT_NE(nullptr, pNode);
    ASSERT_EQ(pNode, pNode->GetCursor());
    pNode->SetId(-43, -1);  // as a tree built without node 43
    try {
      p->RelayoutDelegate()->Call();
      ADD_FAILURE() << "no panic";
    } catch (const TPanic& panic) {
      EXPECT_EQ(std::u16string(u"QuorelModalDialogs"), panic.source);
      EXPECT_EQ(90, panic.line);
    }
    pNode->SetId(CModalDialog::kModalNode, -1);
    delete p;
  }}));
}

// Counts the menu closes the application asks for; menu mode ends when the
// real toolkit answers, which this one does not.
class TMenuToolkit : public CVyServices {
 public:
  bool IsLoaded() const override { return true; }
  void CloseMenu() override { ++m_nCloses; }
  int m_nCloses = 0;
};

TEST_F(DialogTest, TheMenuListsVisibleItemsInOrderAndActsAfterHiding) {
  TMenuToolkit toolkit;
  SetVyServices(&toolkit);
  for (int32_t id : {20, 21, 22, 25, 26, 28, 29, 30, 31, 46}) CResources::RegisterStringSource(id, new TStringSource(id));
  std::vector<std::string> log;
  Ends(0, Run({[&] {
                      CListDialog* pMenu = m_app->MenuDialog();
                      ASSERT_NE(nullptr, pMenu);
                      // The menu dialog never masks what is below it.
                      EXPECT_FALSE(pMenu->IsVisible());
                      EXPECT_LT(m_app->TopShownLayer(), pMenu->DialogLayer());
                      CQuorelAppUi::ToggleMenu();
                      EXPECT_TRUE(m_app->IsMenuMode());
                      // Visible items: 3, 5 (disabled), 6, 7, 9, 8, 10.
                      EXPECT_EQ(7u, m_app->MenuCommandCount());
                      pMenu->FindItem(3)->SetAction(CDelegate(&log, pMenu, [](CDelegate*, void* pLog, void* pArg) {
                        auto* pList = static_cast<CListDialog*>(pArg);
                        static_cast<std::vector<std::string>*>(pLog)->push_back(
                            pList->IsVisible() ? "action while shown" : "action after hide");
                      }));
                      pMenu->ShowPanel();
                      pMenu->FindItem(3)->Activate();
                      EXPECT_TRUE(log.empty());
                    },
                    [&] {
                      EXPECT_EQ(log, (std::vector<std::string>{"action after hide"}));
                      EXPECT_EQ(nullptr, m_app->MenuDialog()->FindItem(4));
                      toolkit.m_nCloses = 0;
                      Post<DisplayRotatedEvent>(TDisplayRotation{480, 640, 90});
                    },
                    [&] { EXPECT_EQ(1, toolkit.m_nCloses); }}));
  SetVyServices(nullptr);
}

// Counts the help events the left soft key posts.
class THelpCount : public CEventListenerFor<HelpViewEvent> {
 public:
  int m_n = 0;

 protected:
  void HandleEvent(const TNoPayload&) override { ++m_n; }
};

TEST_F(DialogTest, WhileTheMenuIsOpenOnlyTheKeyThatClosesItActs) {
  TMenuToolkit toolkit;
  SetVyServices(&toolkit);
  THelpCount help;
  for (int32_t id : {8, 25, 26, 28, 29, 30, 31, 46}) CResources::RegisterStringSource(id, new TStringSource(id));
  const TInputEvent left{0, plat::VK_F1, 0, 0}, right{0, plat::VK_F2, 0, 0};
  Ends(0, Run({[&] {
                 help.Subscribe();
                 CQuorelAppUi::SetLeftSoftKey(7);  // posts the help event
                 CQuorelAppUi::SetRightSoftKey(14);
                 CQuorelAppUi::ToggleMenu();
                 ASSERT_TRUE(m_app->IsMenuMode());
                 EXPECT_FALSE(m_app->IsLeftSoftKeyEnabled());
                 EXPECT_TRUE(m_app->IsRightSoftKeyEnabled());
                 m_app->OnInput(left);
                 m_app->OnInput(right);
               },
               [&] {
                 EXPECT_EQ(0, help.m_n) << "the left key acted under the menu";
                 EXPECT_EQ(1, toolkit.m_nCloses);
                 // The toolkit reports the menu closed: both keys act again.
                 plat::PostMessage(m_app->Window(), WM_QUOREL_MENU_CLOSED, 0, 0);
               },
               [&] {
                 EXPECT_FALSE(m_app->IsMenuMode());
                 EXPECT_TRUE(m_app->IsLeftSoftKeyEnabled());
                 m_app->OnInput(left);
               },
               [&] {
                 EXPECT_EQ(1, help.m_n);
                 help.Unsubscribe();
               }}));
  SetVyServices(nullptr);
}

}  // namespace
}  // namespace searchtest
