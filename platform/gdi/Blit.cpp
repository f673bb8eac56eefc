// Blits and fills: BitBlt, StretchBlt, AlphaBlend, FillRect, Rectangle.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/gdi/PixmanImage.h"

namespace plat {

using namespace gdi;

namespace {

Rect MakeRect(int32_t x, int32_t y, int64_t w, int64_t h) {
  return {ClampCoord(x), ClampCoord(y), ClampCoord(int64_t{x} + w), ClampCoord(int64_t{y} + h)};
}

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// The bounding box of both; an empty one adds nothing.
Rect Union(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// What of the source surface a source DC can be read at, in its coordinates.
Rect Readable(const Target& source) {
  const Rect b = source.surface.Bounds();
  return {b.left - source.origin.x, b.top - source.origin.y, b.right - source.origin.x, b.bottom - source.origin.y};
}

// Copies n pixels, converting between formats.
void CopyRow(PixelFormat df, uint8_t* d, PixelFormat sf, const uint8_t* s, int32_t n) {
  if (df == sf) {
    std::memcpy(d, s, size_t(n) * (df == PixelFormat::Bgra32 ? 4 : 2));
    return;
  }
  if (df == PixelFormat::Bgra32 && sf == PixelFormat::Rgb565) {
    for (int32_t i = 0; i < n; ++i) {
      uint16_t v;
      std::memcpy(&v, s + 2 * i, 2);
      const Rgb8 c = Expand565(v);
      d[4 * i] = c.b;
      d[4 * i + 1] = c.g;
      d[4 * i + 2] = c.r;
      d[4 * i + 3] = 255;
    }
    return;
  }
  if (df == PixelFormat::Rgb565 && sf == PixelFormat::Bgra32) {
    for (int32_t i = 0; i < n; ++i) {
      const uint16_t v = Pack565(s[4 * i + 2], s[4 * i + 1], s[4 * i]);
      std::memcpy(d + 2 * i, &v, 2);
    }
    return;
  }
  const Surface dv{df}, sv{sf};
  const int db = dv.BytesPerPixel(), sb = sv.BytesPerPixel();
  for (int32_t i = 0; i < n; ++i) WritePixel(dv, d + db * i, ReadPixel(sv, s + sb * i));
}

// When source and destination share memory, the source is read from a copy
// taken before any pixel is written.
struct SourceGuard {
  std::vector<uint8_t> copy;
  Surface surface;
  SourceGuard(const Surface& src, const Surface& dst) : surface(src) {
    if (src.top != dst.top) return;
    const size_t usedBytes = size_t(src.width) * src.BytesPerPixel();
    const size_t rowBytes = (usedBytes + 3) & ~size_t{3};  // rows on 4-byte boundaries, as pixman needs
    copy.resize(rowBytes * size_t(src.height));
    for (int32_t y = 0; y < src.height; ++y) std::memcpy(copy.data() + rowBytes * y, src.Row(y), usedBytes);
    surface.top = copy.data();
    surface.pitch = static_cast<ptrdiff_t>(rowBytes);
  }
};

// Composites onto every clip rectangle inside `area` (destination DC
// coordinates) and returns the bounds of what it drew. The source image is
// addressed at the destination point plus (dx, dy): a source pixel without a
// transform, the offset within the destination rectangle with one.
Rect Composite(pixman_op_t op, const PixmanImage& src, const PixmanImage& mask, const PixmanImage& dst,
               const Region& clip, const Rect& area, const Point& dstOrigin, int64_t dx, int64_t dy) {
  Rect drawn{};
  for (const Rect& c : clip.Rects()) {
    const Rect r = Intersect(c, area);
    if (r.IsEmpty()) continue;
    pixman_image_composite32(op, src.get(), mask.get(), dst.get(), static_cast<int32_t>(r.left + dx),
                             static_cast<int32_t>(r.top + dy), 0, 0, r.left + dstOrigin.x, r.top + dstOrigin.y,
                             r.Width(), r.Height());
    drawn = Union(drawn, r);
  }
  return drawn;
}

// Source-over onto a 16-bit destination, a band of rows at a time: the band
// is expanded to 32 bits, blended there and packed back. pixman blends onto
// 16-bit pixels through its general path only; its 32-bit paths are twice as
// fast, and the expansion (bit replication) and packing (truncation) are the
// layer's own, so the pixels are the same. Returns what Composite returns.
Rect BlendThrough32(const PixmanImage& src, const PixmanImage& mask, const PixmanImage& dst, const Region& clip,
                    const Rect& area, const Point& dstOrigin, int64_t dx, int64_t dy) {
  constexpr int32_t kBandRows = 64;  // a full-width band (120 KB) stays in the second-level cache
  const PixmanImage band = PixmanImage::Scratch(area.Width(), kBandRows);
  if (!band) return Composite(PIXMAN_OP_OVER, src, mask, dst, clip, area, dstOrigin, dx, dy);
  Rect drawn{};
  for (const Rect& c : clip.Rects()) {
    const Rect r = Intersect(c, area);
    if (r.IsEmpty()) continue;
    for (int32_t top = r.top; top < r.bottom; top += kBandRows) {
      const int32_t rows = std::min(kBandRows, r.bottom - top);
      pixman_image_composite32(PIXMAN_OP_SRC, dst.get(), nullptr, band.get(), r.left + dstOrigin.x,
                               top + dstOrigin.y, 0, 0, 0, 0, r.Width(), rows);
      pixman_image_composite32(PIXMAN_OP_OVER, src.get(), mask.get(), band.get(), static_cast<int32_t>(r.left + dx),
                               static_cast<int32_t>(top + dy), 0, 0, 0, 0, r.Width(), rows);
      pixman_image_composite32(PIXMAN_OP_SRC, band.get(), nullptr, dst.get(), 0, 0, 0, 0, r.left + dstOrigin.x,
                               top + dstOrigin.y, r.Width(), rows);
    }
    drawn = Union(drawn, r);
  }
  return drawn;
}

// The nearest-neighbour sampling of a stretch as a pixman transform on the
// source image, when pixman lands on exactly the layer's samples.
bool SetNearestTransform(const PixmanImage& src, const Target& st, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                         int32_t w, int32_t h) {
  const auto t = NearestTransform(int64_t{sx} + st.origin.x, sw, w, int64_t{sy} + st.origin.y, sh, h);
  if (!t) return false;
  pixman_image_set_transform(src.get(), &*t);
  pixman_image_set_filter(src.get(), PIXMAN_FILTER_NEAREST, nullptr, 0);
  return true;
}

struct Endpoints {
  std::shared_ptr<DcObject> dst;
  Target dt;
  Region clip;
  std::shared_ptr<DcObject> src;
  Target st;
};

// Looks both DCs up and resolves their targets; false with the last error.
bool Resolve(HDC hdst, HDC hsrc, Endpoints* e) {
  e->dst = LookupDc(hdst);
  if (!e->dst || !AcquireTarget(*e->dst, &e->dt)) return false;
  if (hsrc) {
    e->src = LookupDc(hsrc);
    if (!e->src || !AcquireTarget(*e->src, &e->st)) return false;
  }
  e->clip = EffectiveClip(*e->dst, e->dt);
  return true;
}

// Nearest-neighbour sample positions: for destination offsets [from, to)
// within a span of `length`, source offsets floor((2i + 1) * sourceLength /
// (2 * length)) from `start`.
void SampleMap(int64_t start, int64_t sourceLength, int64_t length, int32_t from, int32_t to,
               std::vector<int32_t>& out) {
  out.resize(size_t(std::max(0, to - from)));
  for (int32_t i = from; i < to; ++i) {
    out[size_t(i - from)] = ClampCoord(start + (2 * int64_t{i} + 1) * sourceLength / (2 * length));
  }
}

// The part of `box` whose samples (cols and rows, one per destination
// column and row of the box) all fall inside `readable`. Samples only grow,
// so that part is one rectangle.
Rect SampledInside(const Rect& box, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows,
                   const Rect& readable) {
  auto span = [](const std::vector<int32_t>& samples, int32_t from, int32_t to) {
    const auto first = std::lower_bound(samples.begin(), samples.end(), from);
    const auto last = std::lower_bound(first, samples.end(), to);
    return std::pair<int32_t, int32_t>(int32_t(first - samples.begin()), int32_t(last - samples.begin()));
  };
  const auto [left, right] = span(cols, readable.left, readable.right);
  const auto [top, bottom] = span(rows, readable.top, readable.bottom);
  return {box.left + left, box.top + top, box.left + right, box.top + bottom};
}

// One row of a blend from a 32-bit premultiplied source (`src` points at its
// column 0) into a 565 or 32-bit destination: BlendPixel's arithmetic,
// unrolled for the two formats the program blends into, with the per-call
// choices made once per row rather than once per pixel.
template <PixelFormat kDst, bool kContiguous, bool kScaled>
void BlendRowImpl(uint8_t* d, const uint8_t* src, const int32_t* map, int32_t n, uint32_t ca, bool perPixel) {
  const uint8_t* run = src + map[0] * 4;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t* s = kContiguous ? run + 4 * i : src + map[i] * 4;
    uint32_t b = s[0], g = s[1], r = s[2], a = s[3];
    if constexpr (kScaled) {
      if (!perPixel) a = 255;
      b = Div255(b * ca), g = Div255(g * ca), r = Div255(r * ca), a = Div255(a * ca);
    }
    if (a == 0 && (r | g | b) == 0) continue;  // leaves the pixel exactly
    const uint32_t inv = 255 - a;
    if constexpr (kDst == PixelFormat::Rgb565) {
      auto* out = reinterpret_cast<uint16_t*>(d) + i;
      if (a != 255) {
        const Rgb8 old = Expand565(*out);
        r = std::min<uint32_t>(255, r + Div255(old.r * inv));
        g = std::min<uint32_t>(255, g + Div255(old.g * inv));
        b = std::min<uint32_t>(255, b + Div255(old.b * inv));
      }
      *out = Pack565(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
    } else {
      uint8_t* out = d + 4 * i;
      if (a != 255) {
        b = std::min<uint32_t>(255, b + Div255(out[0] * inv));
        g = std::min<uint32_t>(255, g + Div255(out[1] * inv));
        r = std::min<uint32_t>(255, r + Div255(out[2] * inv));
        a = a + Div255(out[3] * inv);
      }
      out[0] = static_cast<uint8_t>(b);
      out[1] = static_cast<uint8_t>(g);
      out[2] = static_cast<uint8_t>(r);
      out[3] = static_cast<uint8_t>(a);
    }
  }
}

template <PixelFormat kDst>
void BlendRowFrom32(uint8_t* d, const uint8_t* src, const int32_t* map, int32_t n, uint32_t ca, bool perPixel) {
  const bool contiguous = map[n - 1] - map[0] == n - 1;  // samples only grow
  const bool scaled = ca != 255 || !perPixel;
  if (contiguous) {
    (scaled ? BlendRowImpl<kDst, true, true> : BlendRowImpl<kDst, true, false>)(d, src, map, n, ca, perPixel);
  } else {
    (scaled ? BlendRowImpl<kDst, false, true> : BlendRowImpl<kDst, false, false>)(d, src, map, n, ca, perPixel);
  }
}

}  // namespace

bool BitBlt(HDC hdst, int32_t x, int32_t y, int32_t w, int32_t h, HDC hsrc, int32_t sx, int32_t sy, uint32_t rop) {
  if (rop != SRCCOPY && rop != BLACKNESS && rop != WHITENESS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Endpoints e;
  if (!Resolve(hdst, rop == SRCCOPY ? hsrc : nullptr, &e)) return false;
  if (rop == SRCCOPY && !hsrc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (w <= 0 || h <= 0) return true;
  const Rect dr = MakeRect(x, y, w, h);
  if (rop != SRCCOPY) {
    FillOpaque(e.dt, e.clip, dr, rop == BLACKNESS ? RGB(0, 0, 0) : RGB(255, 255, 255));
    ReportDamage(e.dt, Intersect(dr, e.clip.Bounds()));
    return true;
  }
  // Where destination pixels have a source pixel to copy.
  Rect readable = Readable(e.st);
  const int64_t shiftX = int64_t{x} - sx, shiftY = int64_t{y} - sy;
  readable = {ClampCoord(readable.left + shiftX), ClampCoord(readable.top + shiftY),
              ClampCoord(readable.right + shiftX), ClampCoord(readable.bottom + shiftY)};
  const Rect area = Intersect(dr, readable);
  if (area.IsEmpty()) return true;
  const SourceGuard source(e.st.surface, e.dt.surface);
  const Surface& ds = e.dt.surface;
  const Surface& ss = source.surface;
  Rect damage{};
  if (ds.format != ss.format && PixmanCanWrap(ds) && PixmanCanWrap(ss)) {
    const PixmanImage from(ss, false), to(ds, false);
    if (from && to) {
      ReportDamage(e.dt, Composite(PIXMAN_OP_SRC, from, PixmanImage(), to, e.clip, area, e.dt.origin,
                                   e.st.origin.x - shiftX, e.st.origin.y - shiftY));
      return true;
    }
  }
  for (const Rect& c : e.clip.Rects()) {
    const Rect r = Intersect(c, area);
    if (r.IsEmpty()) continue;
    for (int32_t row = r.top; row < r.bottom; ++row) {
      const int32_t srcRow = static_cast<int32_t>(row - shiftY) + e.st.origin.y;
      const int32_t srcCol = static_cast<int32_t>(r.left - shiftX) + e.st.origin.x;
      CopyRow(ds.format, ds.Row(row + e.dt.origin.y) + (r.left + e.dt.origin.x) * ds.BytesPerPixel(), ss.format,
              ss.Row(srcRow) + srcCol * ss.BytesPerPixel(), r.Width());
    }
    damage = Union(damage, r);
  }
  ReportDamage(e.dt, damage);
  return true;
}

bool StretchBlt(HDC hdst, int32_t x, int32_t y, int32_t w, int32_t h, HDC hsrc, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint32_t rop) {
  if (rop != SRCCOPY || w < 0 || h < 0 || sw < 0 || sh < 0) {
    if (rop == BLACKNESS || rop == WHITENESS) {
      if (w < 0 || h < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      return BitBlt(hdst, x, y, w, h, nullptr, 0, 0, rop);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Endpoints e;
  if (!Resolve(hdst, hsrc, &e)) return false;
  if (!hsrc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (w == 0 || h == 0 || sw == 0 || sh == 0) return true;
  const Rect dr = MakeRect(x, y, w, h);
  const Rect box = Intersect(dr, e.clip.Bounds());
  if (box.IsEmpty()) return true;
  std::vector<int32_t> cols, rows;
  SampleMap(sx, sw, w, box.left - x, box.right - x, cols);
  SampleMap(sy, sh, h, box.top - y, box.bottom - y, rows);
  const Rect readable = Readable(e.st);
  const SourceGuard source(e.st.surface, e.dt.surface);
  const Surface& ds = e.dt.surface;
  const Surface& ss = source.surface;
  // Without a conversion the row copier below beats pixman's nearest path
  // (it repeats whole rows when enlarging); with one, pixman converts.
  if (ds.format != ss.format && (sw != w || sh != h) && PixmanCanWrap(ds) && PixmanCanWrap(ss)) {
    const PixmanImage image(ss, false), to(ds, false);
    if (image && to && SetNearestTransform(image, e.st, sx, sy, sw, sh, w, h)) {
      Composite(PIXMAN_OP_SRC, image, PixmanImage(), to, e.clip, SampledInside(box, cols, rows, readable),
                e.dt.origin, -int64_t{x}, -int64_t{y});
      ReportDamage(e.dt, box);
      return true;
    }
  }
  const int db = ds.BytesPerPixel(), sb = ss.BytesPerPixel();
  for (const Rect& c : e.clip.Rects()) {
    const Rect r = Intersect(c, box);
    if (r.IsEmpty()) continue;
    const int32_t* map = &cols[size_t(r.left - box.left)];
    const int32_t n = r.Width();
    // Sample columns only grow, so the two ends tell whether all are there.
    const bool allColumns = map[0] >= readable.left && map[n - 1] < readable.right;
    const bool contiguous = map[n - 1] - map[0] == n - 1;
    const uint8_t* previousLine = nullptr;
    uint8_t* previousOut = nullptr;
    for (int32_t row = r.top; row < r.bottom; ++row) {
      const int32_t srcRow = rows[size_t(row - box.top)];
      if (srcRow < readable.top || srcRow >= readable.bottom) continue;
      const uint8_t* srcLine = ss.Row(srcRow + e.st.origin.y);
      uint8_t* d = ds.Row(row + e.dt.origin.y) + (r.left + e.dt.origin.x) * db;
      if (allColumns && srcLine == previousLine) {
        // Enlarging repeats source rows: repeat the row just made.
        std::memcpy(d, previousOut, size_t(n) * db);
        continue;
      }
      if (allColumns && contiguous) {
        CopyRow(ds.format, d, ss.format, srcLine + (map[0] + e.st.origin.x) * sb, n);
      } else if (allColumns && ds.format == ss.format && db == 2) {
        auto* out = reinterpret_cast<uint16_t*>(d);
        const auto* in = reinterpret_cast<const uint16_t*>(srcLine) + e.st.origin.x;
        for (int32_t i = 0; i < n; ++i) out[i] = in[map[i]];
      } else {
        for (int32_t i = 0; i < n; ++i) {
          const int32_t col = map[i];
          if (col < readable.left || col >= readable.right) continue;
          CopyRow(ds.format, d + i * db, ss.format, srcLine + (col + e.st.origin.x) * sb, 1);
        }
      }
      if (allColumns) {
        previousLine = srcLine;
        previousOut = d;
      }
    }
  }
  ReportDamage(e.dt, box);
  return true;
}

bool AlphaBlend(HDC hdst, int32_t x, int32_t y, int32_t w, int32_t h, HDC hsrc, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, BlendFunc blend) {
  if (blend.blendOp != AC_SRC_OVER || blend.blendFlags != 0 ||
      (blend.alphaFormat != 0 && blend.alphaFormat != AC_SRC_ALPHA) || w < 0 || h < 0 || sw < 0 || sh < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Endpoints e;
  if (!Resolve(hdst, hsrc, &e)) return false;
  if (!hsrc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const bool perPixel = blend.alphaFormat == AC_SRC_ALPHA;
  const Rect readable = Readable(e.st);
  const Rect sr = MakeRect(sx, sy, sw, sh);
  if ((perPixel && e.st.surface.format != PixelFormat::Bgra32) || sr.left < readable.left || sr.top < readable.top ||
      sr.right > readable.right || sr.bottom > readable.bottom || int64_t{sx} + sw != sr.right ||
      int64_t{sy} + sh != sr.bottom) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (w == 0 || h == 0 || sw == 0 || sh == 0) return true;
  const Rect dr = MakeRect(x, y, w, h);
  const Rect box = Intersect(dr, e.clip.Bounds());
  if (box.IsEmpty()) return true;
  std::vector<int32_t> cols, rows;
  SampleMap(sx, sw, w, box.left - x, box.right - x, cols);
  SampleMap(sy, sh, h, box.top - y, box.bottom - y, rows);
  const SourceGuard source(e.st.surface, e.dt.surface);
  const Surface& ds = e.dt.surface;
  const Surface& ss = source.surface;
  const uint32_t ca = blend.sourceConstantAlpha;
  if (PixmanCanWrap(ds) && PixmanCanWrap(ss)) {
    // Without per-pixel alpha a 32-bit source's alpha byte counts as 255.
    const PixmanImage image(ss, !perPixel), to(ds, false);
    const PixmanImage mask = ca == 255 ? PixmanImage() : PixmanImage::SolidAlpha(uint8_t(ca));
    const bool scaled = sw != w || sh != h;
    if (image && to && (ca == 255 || mask) && (!scaled || SetNearestTransform(image, e.st, sx, sy, sw, sh, w, h))) {
      const int64_t dx = scaled ? -int64_t{x} : int64_t{sx} - x + e.st.origin.x;
      const int64_t dy = scaled ? -int64_t{y} : int64_t{sy} - y + e.st.origin.y;
      if (ds.format == PixelFormat::Bgra32) {
        Composite(PIXMAN_OP_OVER, image, mask, to, e.clip, box, e.dt.origin, dx, dy);
      } else {
        BlendThrough32(image, mask, to, e.clip, box, e.dt.origin, dx, dy);
      }
      ReportDamage(e.dt, box);
      return true;
    }
  }
  const int db = ds.BytesPerPixel(), sb = ss.BytesPerPixel();
  const bool from32 = ss.format == PixelFormat::Bgra32;
  for (const Rect& c : e.clip.Rects()) {
    const Rect r = Intersect(c, box);
    if (r.IsEmpty()) continue;
    const int32_t* map = &cols[size_t(r.left - box.left)];
    const int32_t n = r.Width();
    for (int32_t row = r.top; row < r.bottom; ++row) {
      const uint8_t* srcLine = ss.Row(rows[size_t(row - box.top)] + e.st.origin.y);
      uint8_t* d = ds.Row(row + e.dt.origin.y) + (r.left + e.dt.origin.x) * db;
      if (from32 && ds.format == PixelFormat::Rgb565) {
        BlendRowFrom32<PixelFormat::Rgb565>(d, srcLine + e.st.origin.x * 4, map, n, ca, perPixel);
      } else if (from32 && ds.format == PixelFormat::Bgra32) {
        BlendRowFrom32<PixelFormat::Bgra32>(d, srcLine + e.st.origin.x * 4, map, n, ca, perPixel);
      } else {
        for (int32_t i = 0; i < n; ++i) {
          Rgba8 s = ReadPixel(ss, srcLine + (map[i] + e.st.origin.x) * sb);
          if (!perPixel) s.a = 255;
          if (ca != 255) {
            s = {static_cast<uint8_t>(Div255(s.r * ca)), static_cast<uint8_t>(Div255(s.g * ca)),
                 static_cast<uint8_t>(Div255(s.b * ca)), static_cast<uint8_t>(Div255(s.a * ca))};
          }
          BlendPixel(ds, d + i * db, s);
        }
      }
    }
  }
  ReportDamage(e.dt, box);
  return true;
}

int FillRect(HDC hdc, const Rect& rect, HBRUSH hbrush) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  auto brush = Lookup<BrushObject>(hbrush, ObjectKind::Brush);
  if (!brush) return 0;
  Target target;
  if (!AcquireTarget(*dc, &target)) return 0;
  if (brush->null || rect.IsEmpty()) return 1;
  const Region clip = EffectiveClip(*dc, target);
  FillOpaque(target, clip, rect, brush->color);
  ReportDamage(target, Intersect(rect, clip.Bounds()));
  return 1;
}

bool Rectangle(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  auto dc = LookupDc(hdc);
  if (!dc) return false;
  Target target;
  if (!AcquireTarget(*dc, &target)) return false;
  const Rect r{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  if (r.IsEmpty()) return true;
  const Region clip = EffectiveClip(*dc, target);
  const PenObject& pen = *dc->pen;
  const BrushObject& brush = *dc->brush;
  if (pen.null) {
    if (!brush.null) FillOpaque(target, clip, r, brush.color);
  } else {
    // A wide pen draws inside the edge; it cannot be thicker than half the
    // rectangle, where the outline alone covers everything.
    const int32_t t = std::min({pen.width, (r.Width() + 1) / 2, (r.Height() + 1) / 2});
    const Rect inner{r.left + t, r.top + t, r.right - t, r.bottom - t};
    if (!brush.null && !inner.IsEmpty()) FillOpaque(target, clip, inner, brush.color);
    FillOpaque(target, clip, {r.left, r.top, r.right, r.top + t}, pen.color);
    FillOpaque(target, clip, {r.left, r.bottom - t, r.right, r.bottom}, pen.color);
    FillOpaque(target, clip, {r.left, r.top + t, r.left + t, r.bottom - t}, pen.color);
    FillOpaque(target, clip, {r.right - t, r.top + t, r.right, r.bottom - t}, pen.color);
  }
  ReportDamage(target, Intersect(r, clip.Bounds()));
  return true;
}

}  // namespace plat
