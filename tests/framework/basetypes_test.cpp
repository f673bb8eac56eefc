#include "framework/basetypes.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <thread>
#include <vector>

namespace {

int PanicLine(int32_t num, int32_t den) {
  try {
    TFraction f(num, den);
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source), u"basetypes");
    EXPECT_EQ(p.text, nullptr);
    return p.line;
  }
  return -1;
}

TEST(TFraction, NormalisesSignAndCommonFactors) {
  EXPECT_EQ(TFraction(0, 5), TFraction(0, 1));
  EXPECT_EQ(TFraction(0, 5).Den(), 1);
  TFraction f(-6, 4);
  EXPECT_EQ(f.Num(), -3);
  EXPECT_EQ(f.Den(), 2);
  TFraction g(12, 800);
  EXPECT_EQ(g.Num(), 3);
  EXPECT_EQ(g.Den(), 200);
}

TEST(TFraction, NonPositiveDenominatorPanics) {
  EXPECT_EQ(PanicLine(3, 0), 38);
  EXPECT_EQ(PanicLine(3, -2), 38);
}

TEST(TFraction, ExtremeValuesDoNotOverflow) {
  TFraction f(INT32_MIN, 2);
  EXPECT_EQ(f.Num(), INT32_MIN / 2);
  EXPECT_EQ(f.Den(), 1);
  TFraction g(INT32_MIN, INT32_MAX);
  EXPECT_EQ(g.Num(), INT32_MIN);
  EXPECT_EQ(g.Den(), INT32_MAX);
  EXPECT_EQ(Gcd(INT32_MIN, 0), int64_t{1} << 31);
  EXPECT_EQ(Gcd(0, 0), 0);
  EXPECT_EQ(Gcd(-12, 18), 6);
}

TEST(Env, ThrowHelpers) {
  EXPECT_NO_THROW(Env::ThrowIfError(0));
  try {
    Env::ThrowIfError(7);
    FAIL();
  } catch (const Env::TSysErrorCode& e) {
    EXPECT_EQ(e.code, 7);
  }
}

TEST(NewObjectId, UniqueUnderConcurrency) {
  std::vector<std::thread> threads;
  std::vector<std::vector<int32_t>> ids(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) ids[t].push_back(NewObjectId());
    });
  for (auto& th : threads) th.join();
  std::set<int32_t> all;
  for (auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 4000u);
}

TEST(Rect, IntersectUnionAndSize) {
  RECT a{0, 0, 10, 10}, b{5, 5, 20, 20}, c{30, 30, 40, 40};
  EXPECT_EQ(RectIntersect(a, b), (RECT{5, 5, 10, 10}));
  EXPECT_EQ(RectIntersect(a, c), RECT{});
  EXPECT_EQ(RectIntersect(a, RECT{10, 0, 20, 10}), RECT{});  // touching edges share nothing
  EXPECT_EQ(RectUnion(a, c), (RECT{0, 0, 40, 40}));
  RECT d = a;
  RectUnion(&d, b);
  EXPECT_EQ(d, (RECT{0, 0, 20, 20}));
  EXPECT_TRUE(RectEquals(a, RECT{0, 0, 10, 10}));
  EXPECT_FALSE(SizeDiffers(a, RECT{100, 100, 110, 110}));
  EXPECT_TRUE(SizeDiffers(a, RECT{0, 0, 10, 11}));
}

}  // namespace
