#include <gtest/gtest.h>

#include "framework/CtlButton.h"
#include "framework/CtlSoftKeyBar.h"
#include "layouts/LayoutTable.h"
#include "tests/framework/widgets_test_support.h"

using namespace apptest;
using namespace widgettest;
using namespace LayoutOps;

namespace {

// The two bars' nodes as the frame places them, but visible, along the
// bottom of the view.
constexpr TLayoutOp kBars[] = {
    Node(4), H(0, P, 0), H(1, P, F(1, 2)), V(1, P, 1), Height(px(60)), Vis, End,
    Node(5), H(0, P, F(1, 2)), H(1, P, 1), V(1, P, 1), Height(px(60)), Vis, End,
};

class SoftKeyTest : public WidgetFixture {
 protected:
  std::unique_ptr<CLayoutNode> m_pRoot;
  CtlSoftKeyBar* m_pLeft = nullptr;
  CtlSoftKeyBar* m_pRight = nullptr;
  void MakeBars() {
    RegisterSolid(217, 20, 10, 0x336699u);
    m_pRoot = CLayoutNode::CreateRoot();
    RunLayoutTable(m_pRoot.get(), kBars, "test bars");
    m_pLeft = CtlSoftKeyBar::Create(StartView(), CtlSoftKeyBar::ELeft);
    m_pRight = CtlSoftKeyBar::Create(StartView(), CtlSoftKeyBar::ERight);
    m_pLeft->SetLayoutNode(m_pRoot->FindNode(4, -1));
    m_pRight->SetLayoutNode(m_pRoot->FindNode(5, -1));
    StartView()->LayoutInto(m_pRoot.get());
  }
};

TEST_F(SoftKeyTest, BarsAlignByTheirSideAndInsetByAThirdOfTheirHeight) {
  InApp([&] {
    MakeBars();
    RECT view = StartView()->LocalRect();
    EXPECT_TRUE(RectEquals(m_pLeft->Rect(), RECT{0, view.bottom - 60, view.right / 2, view.bottom}));
    EXPECT_EQ(m_pLeft->Alignment(), EAlignLeft);
    EXPECT_EQ(m_pRight->Alignment(), EAlignRight);
    for (CtlSoftKeyBar* p : {m_pLeft, m_pRight}) {
      EXPECT_EQ(p->Margins().x, 20);
      EXPECT_EQ(p->Margins().y, 20);
      ASSERT_NE(p->Font(), nullptr);
      EXPECT_EQ(p->Font()->Desc(), (TFontDesc{20, true, false, false}));  // fitted to the text area
      ASSERT_NE(p->Background(), nullptr);
      EXPECT_TRUE(RectEquals(p->Background()->GetSize(), p->LocalRect()));
    }
    // The background is the stretched picture, the label over it.
    m_pLeft->SetText(u"Options");
    Flush(m_pLeft);
    EXPECT_EQ(Px(m_pLeft, 2, 2), C(0x336699u));
    // A resize rescales it.
    m_pLeft->MoveTo(RECT{0, 0, 100, 90});
    EXPECT_TRUE(RectEquals(m_pLeft->Background()->GetSize(), RECT{0, 0, 100, 90}));
  });
}

TEST_F(SoftKeyTest, ATapPostsTheSoftKeyEvenWithoutText) {
  MakeApp();
  Run({[&] {
         MakeBars();
         m_pLeft->SetText(u"Back");
         EXPECT_TRUE(m_pLeft->HasText());
         m_pRight->SetText(u"");
         EXPECT_FALSE(m_pRight->HasText());
         POINT c = Centre(m_pRight);
         m_log.clear();
         m_tp->Tap(c.x, c.y);
         EXPECT_FALSE(Logged("app input 0 258"));  // not yet: on a later turn
       },
       [&] {
         EXPECT_TRUE(Logged("app input 0 258"));
         POINT c = Centre(m_pLeft);
         m_tp->Tap(c.x, c.y);
       },
       [&] { EXPECT_TRUE(Logged("app input 0 257")); }});
}

TEST_F(SoftKeyTest, BinderForgetsItsButtonWhenTheParentDeletesIt) {
  InApp([&] {
    auto pBinder = std::make_unique<CControlBinder>();
    CtlPanel* pPanel = new CtlPanel();
    pPanel->Create(StartView());
    CtlAdvButton* p = pBinder->CreateClickable(pPanel);
    EXPECT_EQ(pBinder->Control(), p);
    EXPECT_TRUE(p->IsPaintedByParent());
    delete pPanel;  // the button goes with its parent
    EXPECT_EQ(pBinder->Control(), nullptr);
    pBinder->Create(StartView());
    pBinder.reset();  // deletes the button it still holds
    EXPECT_EQ(StartView()->LastChild(), StartView()->m_pB);
  });
}

}  // namespace
