// The region value behind HRGN and every DC clip: a set of pixels kept as
// y-x banded rectangles. Internal to GDI and the text renderer.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/Geometry.h"

namespace plat::gdi {

enum class RegionOp { And, Or, Diff };

class Region {
 public:
  Region() = default;
  explicit Region(const Rect& rect);

  bool IsEmpty() const { return rects_.empty(); }
  // NULLREGION, SIMPLEREGION or COMPLEXREGION.
  int Complexity() const;
  Rect Bounds() const;
  const std::vector<Rect>& Rects() const { return rects_; }
  bool Contains(int32_t x, int32_t y) const;

  void Offset(int32_t dx, int32_t dy);
  static Region Combine(const Region& a, const Region& b, RegionOp op);
  Region Intersected(const Rect& rect) const { return Combine(*this, Region(rect), RegionOp::And); }

  friend bool operator==(const Region&, const Region&) = default;

 private:
  std::vector<Rect> rects_;
};

// Adds without overflow: coordinates are kept inside a range that no screen
// or bitmap comes near, so offsets and sums never wrap.
constexpr int32_t kCoordLimit = 1 << 28;
int32_t ClampCoord(int64_t v);

}  // namespace plat::gdi
