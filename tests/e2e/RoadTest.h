// A road inside a GoogleTest test.
#pragma once

#include <gtest/gtest.h>

#include "e2e/Road.h"

namespace e2e {

// The road stops at the test's first fatal failure: an ASSERT in a step
// ends only that step, and the next would meet what it did not make.
inline RoadConfig TestRoadConfig() {
  RoadConfig config;
  config.abandon = [] { return ::testing::Test::HasFatalFailure(); };
  return config;
}

}  // namespace e2e
