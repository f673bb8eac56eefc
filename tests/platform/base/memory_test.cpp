#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/base/Memory.h"

namespace plat {
namespace {

TEST(IsBadReadPtr, OnlyNullWithARangeIsBad) {
  int x = 0;
  EXPECT_TRUE(IsBadReadPtr(nullptr, sizeof x));
  EXPECT_FALSE(IsBadReadPtr(&x, sizeof x));
  EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
}

TEST(ProcessMemoryUsage, FollowsTheResidentSet) {
  const uint64_t before = ProcessMemoryUsage();
  ASSERT_GT(before, 0u);
  // Touch 64 MiB so that every page becomes resident; the figure must rise
  // by most of it (other threads of the runner may free a little meanwhile).
  constexpr size_t kBytes = 64u << 20;
  std::unique_ptr<char[]> block(new char[kBytes]);
  std::memset(block.get(), 1, kBytes);
  const uint64_t after = ProcessMemoryUsage();
  EXPECT_GE(after, before + kBytes / 2);
  EXPECT_EQ(block[kBytes - 1], 1);
}

}  // namespace
}  // namespace plat
