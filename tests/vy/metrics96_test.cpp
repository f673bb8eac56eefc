// The metrics on a 96-dpi, 240 x 400 device: computed at first use, after the
// device is set up, never from the platform's defaults before main.
#include "vy_test_support.h"

namespace {

class Vy96Fixture : public vytest::VyFixture {
 protected:
  void SetUp() override {
    plat::TestConfig config;
    config.dpi = 96;
    config.screenWidth = 240;
    config.screenHeight = 400;
    Start(config);
  }
};

TEST_F(Vy96Fixture, MetricsAreScaledToTheDevice) {
  EXPECT_EQ(VyFocusLineTolerance(), 10);
  EXPECT_EQ(VyEditMetric(), 26 + 3);
  EXPECT_EQ(VyLabelMetric(), 2);
  const TVyBasicMenuMetrics& m = VyBasicMenuMetrics();
  EXPECT_EQ(m.nNestedWidth, 176);
  EXPECT_EQ(m.nNestedHeight, 225);
  EXPECT_EQ(m.nItemHeight, 33);
  EXPECT_EQ(m.nItemHeightLandscape, 28);
  EXPECT_EQ(m.nItem9a, 5);
  EXPECT_EQ(m.nItem11a, 6);
  EXPECT_EQ(GetLogPixelsX(), 96);
  EXPECT_EQ(IsLargeScreen(), 0);
}

}  // namespace
