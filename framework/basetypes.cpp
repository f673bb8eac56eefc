#include "framework/basetypes.h"

#include <algorithm>
#include <atomic>

namespace Env {

void ThrowError(int32_t code) { throw TSysErrorCode{code}; }

void ThrowIfError(int32_t code) {
  if (code != 0) ThrowError(code);
}

}  // namespace Env

int64_t Gcd(int64_t x, int64_t y) {
  uint64_t a = x < 0 ? uint64_t(0) - uint64_t(x) : uint64_t(x);
  uint64_t b = y < 0 ? uint64_t(0) - uint64_t(y) : uint64_t(y);
  if (a == 0) return static_cast<int64_t>(b);
  while (a != 0 && b != 0) {
    if (a < b)
      b %= a;
    else
      a %= b;
  }
  return static_cast<int64_t>(a + b);
}

TFraction::TFraction(int32_t num, int32_t den) {
  if (den <= 0) QUOREL_PANIC(u"basetypes", 38);
  // den > 0 bounds g by den, so both quotients fit in 32 bits.
  int64_t g = Gcd(num, den);
  m_num = static_cast<int32_t>(num / g);
  m_den = static_cast<int32_t>(den / g);
}

int32_t NewObjectId() {
  static std::atomic<int32_t> s_counter{0};
  return s_counter.fetch_add(1);
}

RECT RectIntersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return RECT{};
  return r;
}

RECT RectUnion(const RECT& a, const RECT& b) {
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

void RectUnion(RECT* inOut, const RECT& b) { *inOut = RectUnion(*inOut, b); }

bool RectEquals(const RECT& a, const RECT& b) { return a == b; }

bool SizeDiffers(const RECT& a, const RECT& b) {
  return a.Width() != b.Width() || a.Height() != b.Height();
}
