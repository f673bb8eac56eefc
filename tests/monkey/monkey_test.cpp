// The monkey over the whole program, a few seeds. MONKEY_SEED and
// MONKEY_STEPS replay one seed for as many steps as asked (and `make soak`
// runs it long, printing the resource figures).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Monkey.h"

namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

void RunSeed(uint64_t seed, int steps, bool bNetworkDrops) {
  monkey::TMonkeyOptions options;
  options.seed = seed;
  options.steps = steps;
  // Late enough for the program's caches (glyphs, fonts, pictures) to be
  // filled; MONKEY_WARMUP moves it.
  options.warmUpSteps = EnvInt("MONKEY_WARMUP", steps / 4);
  options.sampleEvery = EnvInt("MONKEY_SAMPLE", 0);
  options.faultPercent = static_cast<uint32_t>(EnvInt("MONKEY_FAULTS", 8));
  options.networkDrops = EnvInt("MONKEY_DROPS", bNetworkDrops ? 1 : 0) != 0;
  monkey::TMonkeyResult r = monkey::RunMonkey(options);
  std::printf("%s", r.Report(seed).c_str());
  std::printf("%.0f steps per second\n", r.realSeconds > 0 ? r.stepsRun / r.realSeconds : 0.0);
  std::printf("resources at step %d: %s\n", options.warmUpSteps, support::FormatFigures(r.warm).c_str());
  std::printf("resources at the end: %s\n", support::FormatFigures(r.end).c_str());
  EXPECT_EQ(r.failure, "") << r.Report(seed);
  EXPECT_EQ(r.stepsRun, steps) << r.Report(seed);
}

// Ten seeds in CI, 1000 steps each with and without network drops (20 000
// steps in all): short entries share a parallel run's cores out evenly, even
// under a sanitizer. MONKEY_SEED picks one, MONKEY_STEPS sets the length.
class Monkey : public ::testing::TestWithParam<int> {
 protected:
  void RunParam(bool bNetworkDrops) {
    const int fixed = EnvInt("MONKEY_SEED", 0);
    if (fixed != 0 && GetParam() != 1) GTEST_SKIP() << "MONKEY_SEED runs one seed";
    RunSeed(fixed != 0 ? static_cast<uint64_t>(fixed) : static_cast<uint64_t>(GetParam()),
            EnvInt("MONKEY_STEPS", 1000), bNetworkDrops);
  }
};

TEST_P(Monkey, EveryInvariantHoldsForTheSeed) { RunParam(false); }

// The same with the network dropping and returning among the acts: requests
// closed on the UI thread while the core waits for a network that is gone.
TEST_P(Monkey, EveryInvariantHoldsWithNetworkDrops) { RunParam(true); }

INSTANTIATE_TEST_SUITE_P(Seeds, Monkey, ::testing::Range(1, 11));

}  // namespace
