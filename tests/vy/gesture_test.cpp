// The gesture tracker: first-move threshold, resistance, flick velocity and
// inertia, bounces, taps, snapping and glides; the menu image id tables.
#include "vy_test_support.h"

namespace {

using vytest::VyFixture;

class GestureTest : public VyFixture {
 protected:
  // A 400-high view over content of the given length.
  void BeginAt(int32_t y, int32_t contentLength = 10000) {
    m_g.Begin(0, 0, 480, 400, 0, 0, 480, contentLength, 100, y);
  }
  int32_t Offset() const {
    POINT p;
    m_g.GetOffset(&p);
    return p.y;
  }
  void MoveAfter(uint32_t ms, int32_t y) {
    m_tp->Clock()->Advance(ms);
    m_g.Move(100, y);
  }
  std::vector<int32_t> Steps(int n) {
    std::vector<int32_t> out;
    POINT p;
    for (int i = 0; i < n; ++i) {
      m_g.Step(&p);
      out.push_back(p.y);
    }
    return out;
  }
  // Steps until the motion stops; false when it does not within the limit.
  bool RunToRest(int limit = 2000) {
    POINT p;
    while (limit-- > 0 && m_g.IsAnimating()) m_g.Step(&p);
    return !m_g.IsAnimating();
  }
  CVyGesture m_g;
};

TEST_F(GestureTest, FirstMoveThresholdThenOneToOne) {
  BeginAt(300);
  MoveAfter(10, 271);  // 29 pixels: ignored
  EXPECT_EQ(Offset(), 0);
  MoveAfter(10, 270);  // 30: taken, with the resistance of the start
  EXPECT_EQ(Offset(), -9);
  MoveAfter(10, 250);
  EXPECT_EQ(Offset(), -50);
  MoveAfter(10, 240);
  EXPECT_EQ(Offset(), -60);
}

TEST_F(GestureTest, BeyondTheStartMovesWithResistance) {
  BeginAt(300);
  MoveAfter(10, 330);
  MoveAfter(10, 400);
  EXPECT_EQ(Offset(), 30);
}

TEST_F(GestureTest, AFastFlickIsCappedAndDecelerates) {
  BeginAt(700);
  MoveAfter(1, 600);
  MoveAfter(1, 500);
  MoveAfter(1, 400);
  m_tp->Clock()->Advance(1);
  EXPECT_EQ(m_g.End(100, 400), 0);
  EXPECT_EQ(m_g.GetVelocity(), -500);
  const int32_t start = Offset();
  const std::vector<int32_t> s = Steps(3);
  EXPECT_EQ(start - s[0], 250);
  EXPECT_EQ(s[0] - s[1], 247);
  EXPECT_EQ(s[1] - s[2], 245);
}

TEST_F(GestureTest, AVelocityAgainstTheDragIsZeroed) {
  BeginAt(300);
  MoveAfter(5, 400);
  MoveAfter(5, 500);
  MoveAfter(5, 390);
  m_g.End(100, 390);
  EXPECT_EQ(m_g.GetVelocity(), 0);
}

TEST_F(GestureTest, ASmallSlowTouchIsATap) {
  BeginAt(300);
  MoveAfter(50, 305);
  m_tp->Clock()->Advance(50);
  EXPECT_EQ(m_g.End(100, 305), 1);
  EXPECT_EQ(m_g.GetVelocity(), 0);
  EXPECT_TRUE(RunToRest(2));
  EXPECT_EQ(Offset(), 0);
  // 21 pixels is beyond the tap extent at 192 dpi.
  BeginAt(300);
  m_g.Move(100, 340);
  m_g.Move(100, 321);
  EXPECT_EQ(m_g.End(100, 321), 0);
}

TEST_F(GestureTest, ABounceAtTheEndPlaysOnceAndSettlesInRange) {
  FeedbackOn();
  for (int round = 1; round <= 2; ++round) {
    BeginAt(700, 600);
    MoveAfter(1, 600);
    MoveAfter(1, 500);
    MoveAfter(1, 450);
    m_g.End(100, 450);
    ASSERT_TRUE(RunToRest()) << round;
    const auto played = Played();
    EXPECT_EQ(std::count(played.begin(), played.end(), "v windows\\listEnd.ivt"), round);
    EXPECT_GE(Offset(), m_g.Range());
    EXPECT_LE(Offset(), 0);
  }
}

TEST_F(GestureTest, ScrollToJumpsThenGlides) {
  BeginAt(300);
  m_g.End(100, 300);
  RunToRest();
  EXPECT_EQ(m_g.ScrollTo(-3000, 0, 0), 0);
  EXPECT_EQ(Offset(), -2000);
  EXPECT_EQ(m_g.GetVelocity(), -CalcAnimationStep(1000, 5));
  ASSERT_TRUE(RunToRest());
  EXPECT_EQ(Offset(), -3000);
  EXPECT_EQ(m_g.ScrollTo(-3000, 0, 0), 1);
  // Clamped: past the end is the end; content shorter than the view is 0.
  EXPECT_EQ(m_g.ScrollTo(-20000, 1, 1), 0);
  EXPECT_EQ(Offset(), m_g.Range());
  m_g.SetContentRect(0, 0, 480, 300);
  m_g.ScrollTo(-50, 1, 1);
  EXPECT_EQ(Offset(), 0);
}

TEST_F(GestureTest, SnapToAGrid) {
  m_g.SetSnapUnit(100);
  BeginAt(300);
  m_g.End(100, 300);
  m_g.SetOffsetForTests(0, -101);
  EXPECT_EQ(m_g.Snap(), 0);
  EXPECT_EQ(Offset(), -100);
  m_g.SetOffsetForTests(0, -130);
  EXPECT_EQ(m_g.Snap(), 1);
  EXPECT_GT(m_g.GetVelocity(), 0);
  m_g.SetOffsetForTests(0, -170);
  EXPECT_EQ(m_g.Snap(), 1);
  EXPECT_LT(m_g.GetVelocity(), 0);
  m_g.SetSnapUnit(0);
  EXPECT_EQ(m_g.Snap(), 0);
}

TEST_F(VyFixture, MenuImageIdTablesAndTheCachedResolution) {
  for (int32_t i = 0; i < 26; ++i) EXPECT_EQ(GetMenuImageID(i), -1);
  for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(GetMenuItemImageID(i), -1);
  SetMenuImageIDs(kMenuImageIdsTheme0);
  SetMenuItemImageIDs(kMenuItemImageIdsSmall);
  EXPECT_EQ(GetMenuImageID(0), 545);
  EXPECT_EQ(GetMenuImageID(8), 559);
  EXPECT_EQ(GetMenuImageID(25), 570);
  EXPECT_EQ(GetMenuImageID(26), -1);
  EXPECT_EQ(GetMenuItemImageID(1), 589);
  EXPECT_EQ(GetMenuItemImageID(-1), -1);
  EXPECT_EQ(kMenuImageIdsTheme1[0], 684);
  EXPECT_EQ(kMenuImageIdsSmall[16], 613);

  EXPECT_EQ(GetLogPixelsX(), 192);
  plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Dpi", 96);
  plat::ReloadDisplayConfig();
  EXPECT_EQ(GetLogPixelsX(), 192);  // read once
  ResetLogPixelsForTests();
  EXPECT_EQ(GetLogPixelsX(), 96);
}

}  // namespace
