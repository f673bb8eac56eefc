#include "platform/gdi/Region.h"

#include <algorithm>

#include "platform/gdi/Gdi.h"

namespace plat::gdi {

namespace {

struct Span {
  int32_t left;
  int32_t right;
  friend bool operator==(const Span&, const Span&) = default;
};

// One band of a region: rectangles [begin, end) of its list share top and
// bottom.
struct Band {
  int32_t top;
  int32_t bottom;
  size_t begin;
  size_t end;
};

std::vector<Band> BandsOf(const std::vector<Rect>& rects) {
  std::vector<Band> bands;
  for (size_t i = 0; i < rects.size();) {
    size_t j = i + 1;
    while (j < rects.size() && rects[j].top == rects[i].top) ++j;
    bands.push_back({rects[i].top, rects[i].bottom, i, j});
    i = j;
  }
  return bands;
}

// Spans of one band, or none when no band of `bands` covers [y0, y1). Bands
// are visited in order, so the cursor only moves forward.
void SpansAt(const std::vector<Rect>& rects, const std::vector<Band>& bands, size_t& cursor, int32_t y0,
             std::vector<Span>& out) {
  out.clear();
  while (cursor < bands.size() && bands[cursor].bottom <= y0) ++cursor;
  if (cursor == bands.size() || bands[cursor].top > y0) return;
  for (size_t i = bands[cursor].begin; i < bands[cursor].end; ++i) out.push_back({rects[i].left, rects[i].right});
}

bool Keep(bool inA, bool inB, RegionOp op) {
  switch (op) {
    case RegionOp::And: return inA && inB;
    case RegionOp::Or: return inA || inB;
    case RegionOp::Diff: return inA && !inB;
  }
  return false;
}

// Merges two sorted, disjoint span lists under `op`, joining touching spans.
void CombineSpans(const std::vector<Span>& a, const std::vector<Span>& b, RegionOp op, std::vector<Span>& out) {
  out.clear();
  std::vector<int32_t> edges;
  edges.reserve(2 * (a.size() + b.size()));
  for (const Span& s : a) edges.insert(edges.end(), {s.left, s.right});
  for (const Span& s : b) edges.insert(edges.end(), {s.left, s.right});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  size_t ia = 0, ib = 0;
  for (size_t k = 0; k + 1 < edges.size(); ++k) {
    const int32_t x0 = edges[k], x1 = edges[k + 1];
    while (ia < a.size() && a[ia].right <= x0) ++ia;
    while (ib < b.size() && b[ib].right <= x0) ++ib;
    const bool inA = ia < a.size() && a[ia].left <= x0;
    const bool inB = ib < b.size() && b[ib].left <= x0;
    if (!Keep(inA, inB, op)) continue;
    if (!out.empty() && out.back().right == x0) {
      out.back().right = x1;
    } else {
      out.push_back({x0, x1});
    }
  }
}

}  // namespace

int32_t ClampCoord(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, -kCoordLimit, kCoordLimit));
}

Region::Region(const Rect& rect) {
  Rect r{ClampCoord(rect.left), ClampCoord(rect.top), ClampCoord(rect.right), ClampCoord(rect.bottom)};
  if (!r.IsEmpty()) rects_.push_back(r);
}

int Region::Complexity() const {
  if (rects_.empty()) return NULLREGION;
  return rects_.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

Rect Region::Bounds() const {
  if (rects_.empty()) return {};
  Rect box = rects_.front();
  for (const Rect& r : rects_) {
    box.left = std::min(box.left, r.left);
    box.right = std::max(box.right, r.right);
  }
  box.bottom = rects_.back().bottom;
  return box;
}

bool Region::Contains(int32_t x, int32_t y) const {
  for (const Rect& r : rects_) {
    if (y >= r.top && y < r.bottom && x >= r.left && x < r.right) return true;
  }
  return false;
}

void Region::Offset(int32_t dx, int32_t dy) {
  for (Rect& r : rects_) {
    r.left = ClampCoord(int64_t{r.left} + dx);
    r.right = ClampCoord(int64_t{r.right} + dx);
    r.top = ClampCoord(int64_t{r.top} + dy);
    r.bottom = ClampCoord(int64_t{r.bottom} + dy);
  }
  // Clamping at the far limit can flatten rectangles; drop them.
  std::erase_if(rects_, [](const Rect& r) { return r.IsEmpty(); });
}

Region Region::Combine(const Region& a, const Region& b, RegionOp op) {
  // The common cases of clipping: a rectangle against a rectangle.
  if (op == RegionOp::And && a.rects_.size() == 1 && b.rects_.size() == 1) {
    const Rect& p = a.rects_[0];
    const Rect& q = b.rects_[0];
    return Region(Rect{std::max(p.left, q.left), std::max(p.top, q.top), std::min(p.right, q.right),
                       std::min(p.bottom, q.bottom)});
  }
  const std::vector<Band> bandsA = BandsOf(a.rects_), bandsB = BandsOf(b.rects_);
  std::vector<int32_t> edges;
  for (const Band& band : bandsA) edges.insert(edges.end(), {band.top, band.bottom});
  for (const Band& band : bandsB) edges.insert(edges.end(), {band.top, band.bottom});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

  Region result;
  std::vector<Span> spansA, spansB, spans, previous;
  size_t cursorA = 0, cursorB = 0, previousBegin = 0;
  int32_t previousBottom = 0;
  for (size_t k = 0; k + 1 < edges.size(); ++k) {
    const int32_t y0 = edges[k], y1 = edges[k + 1];
    SpansAt(a.rects_, bandsA, cursorA, y0, spansA);
    SpansAt(b.rects_, bandsB, cursorB, y0, spansB);
    CombineSpans(spansA, spansB, op, spans);
    if (spans.empty()) continue;
    if (!previous.empty() && previousBottom == y0 && spans == previous) {
      // Same spans right below: grow the previous band instead.
      for (size_t i = previousBegin; i < result.rects_.size(); ++i) result.rects_[i].bottom = y1;
    } else {
      previousBegin = result.rects_.size();
      for (const Span& s : spans) result.rects_.push_back({s.left, y0, s.right, y1});
      previous = spans;
    }
    previousBottom = y1;
  }
  return result;
}

}  // namespace plat::gdi
