// GDI's objects, handle table and drawing targets. Internal to GDI and the
// text renderer, which draws into the same targets with the same clipping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/base/Geometry.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Pixels.h"
#include "platform/gdi/Region.h"
#include "platform/ui/UiTypes.h"

namespace plat::text {
class FontInstance;  // what the text renderer makes of an HFONT
}

namespace plat::gdi {

enum class PixelFormat : uint8_t { Rgb565, Rgb555, Bgra32 };

// A view of pixels, addressed top row first whatever the memory order.
struct Surface {
  PixelFormat format = PixelFormat::Rgb565;
  int32_t width = 0;
  int32_t height = 0;
  uint8_t* top = nullptr;  // the first byte of row 0 (the top row)
  ptrdiff_t pitch = 0;     // bytes from a row to the one below it
  uint8_t* Row(int32_t y) const { return top + y * pitch; }
  int BytesPerPixel() const { return format == PixelFormat::Bgra32 ? 4 : 2; }
  Rect Bounds() const { return {0, 0, width, height}; }
};

// Reads a pixel as 8-bit channels plus alpha (255 for 16-bit formats).
struct Rgba8 {
  uint8_t r, g, b, a;
};
inline Rgba8 ReadPixel(const Surface& s, const uint8_t* p) {
  switch (s.format) {
    case PixelFormat::Rgb565: {
      const Rgb8 c = Expand565(*reinterpret_cast<const uint16_t*>(p));
      return {c.r, c.g, c.b, 255};
    }
    case PixelFormat::Rgb555: {
      const Rgb8 c = Expand555(*reinterpret_cast<const uint16_t*>(p));
      return {c.r, c.g, c.b, 255};
    }
    case PixelFormat::Bgra32: return {p[2], p[1], p[0], p[3]};
  }
  return {0, 0, 0, 0};
}
inline void WritePixel(const Surface& s, uint8_t* p, Rgba8 c) {
  switch (s.format) {
    case PixelFormat::Rgb565: *reinterpret_cast<uint16_t*>(p) = Pack565(c.r, c.g, c.b); return;
    case PixelFormat::Rgb555: *reinterpret_cast<uint16_t*>(p) = Pack555(c.r, c.g, c.b); return;
    case PixelFormat::Bgra32: p[0] = c.b; p[1] = c.g; p[2] = c.r; p[3] = c.a; return;
  }
}

// Source-over of a premultiplied colour (s, a) onto one destination pixel,
// the one formula every blend of this layer uses (see AlphaBlend in Gdi.h).
inline void BlendPixel(const Surface& dst, uint8_t* p, Rgba8 s) {
  const uint32_t inv = 255u - s.a;
  const Rgba8 d = ReadPixel(dst, p);
  auto channel = [inv](uint32_t sc, uint32_t dc) {
    const uint32_t v = sc + Div255(dc * inv);
    return static_cast<uint8_t>(v > 255 ? 255 : v);
  };
  WritePixel(dst, p,
             {channel(s.r, d.r), channel(s.g, d.g), channel(s.b, d.b), static_cast<uint8_t>(s.a + Div255(d.a * inv))});
}

enum class ObjectKind : uint8_t { Bitmap = 1, Brush, Pen, Font, Region, Dc };

struct DcObject;

struct GdiObject {
  explicit GdiObject(ObjectKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  const ObjectKind kind;
  bool stock = false;
  uintptr_t handle = 0;  // set by the table
};

struct BitmapObject : GdiObject {
  BitmapObject() : GdiObject(ObjectKind::Bitmap) {}
  Surface surface;
  std::unique_ptr<uint8_t[]> memory;
  uint32_t stride = 0;
  uint16_t bitsPixel = 16;
  bool dib = false;
  // The memory DC it is selected into (never dereferenced), null when free.
  const DcObject* selectedIn = nullptr;
};

struct BrushObject : GdiObject {
  BrushObject() : GdiObject(ObjectKind::Brush) {}
  bool null = false;
  COLORREF color = 0;
};

struct PenObject : GdiObject {
  PenObject() : GdiObject(ObjectKind::Pen) {}
  bool null = false;
  int width = 0;
  COLORREF color = 0;
};

// A font as the text renderer realises it; GDI only carries it around.
struct FontObject : GdiObject {
  FontObject() : GdiObject(ObjectKind::Font) {}
  // Null only for the stock system font until the renderer first needs it.
  std::shared_ptr<text::FontInstance> instance;
};

struct RegionObject : GdiObject {
  RegionObject() : GdiObject(ObjectKind::Region) {}
  Region region;
};

enum class DcKind : uint8_t { Memory, Screen, Window };

struct DcObject : GdiObject {
  DcObject() : GdiObject(ObjectKind::Dc) {}
  DcKind dcKind = DcKind::Memory;
  HWND window = nullptr;  // of a window DC
  // BeginPaint's DC reaches only the area being painted, whatever clip
  // region the program selects (window coordinates).
  std::optional<Rect> paintArea;
  std::shared_ptr<BitmapObject> bitmap;
  std::shared_ptr<BrushObject> brush;
  std::shared_ptr<PenObject> pen;
  std::shared_ptr<FontObject> font;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int stretchMode = BLACKONWHITE;
  // In the DC's coordinates; cut to the DC's reach whenever it is used.
  std::optional<Region> clip;
};

// The handle table.
size_t LiveObjectCount();
uintptr_t RegisterObject(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> LookupObject(uintptr_t handle, ObjectKind kind);
template <class T>
std::shared_ptr<T> Lookup(const void* handle, ObjectKind kind) {
  return std::static_pointer_cast<T>(LookupObject(reinterpret_cast<uintptr_t>(handle), kind));
}
inline std::shared_ptr<DcObject> LookupDc(HDC dc) { return Lookup<DcObject>(dc, ObjectKind::Dc); }
// Removes the handle; false when it is not live.
bool UnregisterObject(uintptr_t handle, ObjectKind kind);
// The stock system font's object, whose instance the text renderer fills in.
std::shared_ptr<FontObject> StockSystemFont();

// Where a DC's drawing lands right now. Window and screen DCs are resolved
// again for every operation, because windows move and the screen turns.
struct Target {
  Surface surface;
  Point origin;    // the surface position of the DC's (0, 0)
  Region reach;    // what the DC may touch, in DC coordinates
  bool onScreen = false;
};
// False (with the last error set) when the DC cannot draw now: a window DC
// whose window is gone.
bool AcquireTarget(const DcObject& dc, Target* out);
// reach ∩ clip, in DC coordinates.
Region EffectiveClip(const DcObject& dc, const Target& target);
// Tells the display which screen pixels changed (a no-op for bitmaps).
void ReportDamage(const Target& target, const Rect& dcRect);

// 8-bit channels of a COLORREF, opaque.
inline Rgba8 ColorToRgba(COLORREF c) { return {GetRValue(c), GetGValue(c), GetBValue(c), 255}; }
// Fills `rect` (DC coordinates) with an opaque colour inside `clip`.
void FillOpaque(const Target& target, const Region& clip, const Rect& rect, COLORREF color);

}  // namespace plat::gdi
