// Network storms: searches and preview downloads one after another on the
// whole program while the network drops and returns every 0.2 to 3 s.
#include <gtest/gtest.h>

#include <cstdio>

#include "Monkey.h"

namespace {

TEST(NetworkStorm, EverySearchAndPreviewEndsAndNoRequestOutlivesIt) {
  monkey::TMonkeyOptions options;
  options.seed = 30;
  options.steps = 1 << 30;
  options.stormCycles = 500;
  options.faultPercent = 0;
  monkey::TMonkeyResult r = monkey::RunMonkey(options);
  const auto& st = r.storm;
  std::printf("%s", r.Report(options.seed).c_str());
  std::printf("storm: %d cycles, %d searches (%d results, %d messages), %d previews (%d played, %d errors, "
              "%d stopped by the screen), at most %zu requests per search, %d messages closed by hand\n",
              st.cycles, st.searches, st.searchResults, st.searchMessages, st.previews, st.previewsPlayed,
              st.previewErrors, st.previewsStopped, st.mostRequestsPerSearch, st.messagesClosedByHand);
  ASSERT_EQ(r.failure, "") << r.Report(options.seed);
  EXPECT_GE(st.cycles, 500);
  // Each ended, one way or the other.
  EXPECT_EQ(st.searches, st.searchResults + st.searchMessages);
  EXPECT_EQ(st.previews, st.previewsPlayed + st.previewErrors + st.previewsStopped);
  EXPECT_GT(st.searchResults, 0);
  EXPECT_GT(st.previewsPlayed, 0);
  // Every message closed by its keys (a stacked one used to lose its place).
  EXPECT_EQ(st.messagesClosedByHand, 0);
  // An update check, the upload and the preview, each tried a few times at most.
  EXPECT_LE(st.mostRequestsPerSearch, 12u);
}

}  // namespace
