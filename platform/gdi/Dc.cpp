// Device contexts: creation, state, drawing targets, clipping and regions.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/base/Errors.h"
#include "platform/display/Display.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/gdi/ScreenLink.h"

namespace plat::gdi {

std::shared_ptr<BitmapObject> StockDefaultBitmap();
std::shared_ptr<BrushObject> StockBrush(int object);
std::shared_ptr<PenObject> StockPen(int object);
void ReleaseSelection(DcObject& dc);

std::shared_ptr<DcObject> NewDc(DcKind kind) {
  auto dc = std::make_shared<DcObject>();
  dc->dcKind = kind;
  if (kind == DcKind::Memory) dc->bitmap = StockDefaultBitmap();
  dc->brush = StockBrush(WHITE_BRUSH);
  dc->pen = StockPen(BLACK_PEN);
  dc->font = StockSystemFont();
  return dc;
}

bool AcquireTarget(const DcObject& dc, Target* out) {
  switch (dc.dcKind) {
    case DcKind::Memory:
      out->surface = dc.bitmap->surface;
      out->origin = {0, 0};
      out->reach = Region(out->surface.Bounds());
      out->onScreen = false;
      return true;
    case DcKind::Screen:
      out->surface = FrameSurface();
      out->origin = {0, 0};
      out->reach = Region(out->surface.Bounds());
      out->onScreen = true;
      return true;
    case DcKind::Window: {
      Point origin;
      Region visible;
      if (!WindowArea(dc.window, &origin, &visible)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
      }
      out->surface = FrameSurface();
      out->origin = origin;
      Rect screen = out->surface.Bounds();
      screen.left -= origin.x;
      screen.right -= origin.x;
      screen.top -= origin.y;
      screen.bottom -= origin.y;
      out->reach = Region::Combine(visible, Region(screen), RegionOp::And);
      if (dc.paintArea) out->reach = out->reach.Intersected(*dc.paintArea);
      out->onScreen = true;
      return true;
    }
  }
  return false;
}

Region EffectiveClip(const DcObject& dc, const Target& target) {
  if (!dc.clip) return target.reach;
  return Region::Combine(target.reach, *dc.clip, RegionOp::And);
}

void ReportDamage(const Target& target, const Rect& dcRect) {
  if (!target.onScreen || dcRect.IsEmpty()) return;
  const Rect screen{ClampCoord(int64_t{dcRect.left} + target.origin.x), ClampCoord(int64_t{dcRect.top} + target.origin.y),
                    ClampCoord(int64_t{dcRect.right} + target.origin.x),
                    ClampCoord(int64_t{dcRect.bottom} + target.origin.y)};
  const Rect cut{std::max(screen.left, 0), std::max(screen.top, 0), std::min(screen.right, target.surface.width),
                 std::min(screen.bottom, target.surface.height)};
  if (!cut.IsEmpty()) FrameDamage(cut);
}

void FillOpaque(const Target& target, const Region& clip, const Rect& rect, COLORREF color) {
  const Surface& s = target.surface;
  const Rgba8 c = ColorToRgba(color);
  uint8_t pixel[4];
  WritePixel(s, pixel, c);
  const int bpp = s.BytesPerPixel();
  for (const Rect& r : clip.Rects()) {
    const int32_t left = std::max(r.left, rect.left), right = std::min(r.right, rect.right);
    const int32_t top = std::max(r.top, rect.top), bottom = std::min(r.bottom, rect.bottom);
    if (left >= right || top >= bottom) continue;
    for (int32_t y = top; y < bottom; ++y) {
      uint8_t* row = s.Row(y + target.origin.y) + (left + target.origin.x) * bpp;
      if (bpp == 2) {
        uint16_t v;
        std::memcpy(&v, pixel, 2);
        std::fill_n(reinterpret_cast<uint16_t*>(row), right - left, v);
      } else {
        uint32_t v;
        std::memcpy(&v, pixel, 4);
        std::fill_n(reinterpret_cast<uint32_t*>(row), right - left, v);
      }
    }
  }
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

namespace {

Rect Ordered(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
}

// The clip as it is kept: where no clip is set, what the DC reaches now.
Region ClipBase(const DcObject& dc) {
  if (dc.clip) return *dc.clip;
  Target target;
  if (!AcquireTarget(dc, &target)) return Region();
  return target.reach;
}

int ClipComplexity(const DcObject& dc) {
  Target target;
  if (!AcquireTarget(dc, &target)) return dc.clip ? dc.clip->Complexity() : NULLREGION;
  return EffectiveClip(dc, target).Complexity();
}

}  // namespace

HDC CreateCompatibleDC(HDC compatibleWith) {
  if (compatibleWith && !LookupDc(compatibleWith)) return nullptr;
  return reinterpret_cast<HDC>(RegisterObject(NewDc(DcKind::Memory)));
}

bool DeleteDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc || !UnregisterObject(reinterpret_cast<uintptr_t>(hdc), ObjectKind::Dc)) return false;
  ReleaseSelection(*dc);
  return true;
}

int GetDeviceCaps(HDC hdc, int index) {
  if (!LookupDc(hdc)) return 0;
  switch (index) {
    case HORZRES: return plat::ScreenSize().cx;
    case VERTRES: return plat::ScreenSize().cy;
    case BITSPIXEL: return 16;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return static_cast<int>(plat::ScreenDpi());
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  auto dc = LookupDc(hdc);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->textColor, color & 0xFFFFFFu);
}

COLORREF GetTextColor(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->textColor : CLR_INVALID;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  auto dc = LookupDc(hdc);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->bkColor, color & 0xFFFFFFu);
}

COLORREF GetBkColor(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->bkColor : CLR_INVALID;
}

int SetBkMode(HDC hdc, int mode) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return std::exchange(dc->bkMode, mode);
}

int GetBkMode(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->bkMode : 0;
}

int SetStretchBltMode(HDC hdc, int mode) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return std::exchange(dc->stretchMode, mode);
}

int GetStretchBltMode(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->stretchMode : 0;
}

// Regions.

HRGN CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  auto region = std::make_shared<RegionObject>();
  region->region = Region(Ordered(left, top, right, bottom));
  return reinterpret_cast<HRGN>(RegisterObject(std::move(region)));
}

int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode) {
  auto target = Lookup<RegionObject>(dst, ObjectKind::Region);
  auto first = Lookup<RegionObject>(a, ObjectKind::Region);
  if (!target || !first) return RGN_ERROR;
  if (mode == RGN_COPY) {
    target->region = first->region;
    return target->region.Complexity();
  }
  auto second = Lookup<RegionObject>(b, ObjectKind::Region);
  if (!second) return RGN_ERROR;
  RegionOp op;
  switch (mode) {
    case RGN_AND: op = RegionOp::And; break;
    case RGN_OR: op = RegionOp::Or; break;
    case RGN_DIFF: op = RegionOp::Diff; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return RGN_ERROR;
  }
  target->region = Region::Combine(first->region, second->region, op);
  return target->region.Complexity();
}

int OffsetRgn(HRGN handle, int32_t dx, int32_t dy) {
  auto region = Lookup<RegionObject>(handle, ObjectKind::Region);
  if (!region) return RGN_ERROR;
  region->region.Offset(dx, dy);
  return region->region.Complexity();
}

int GetRgnBox(HRGN handle, Rect* box) {
  auto region = Lookup<RegionObject>(handle, ObjectKind::Region);
  if (!region || !box) {
    if (region) SetLastError(ERROR_INVALID_PARAMETER);
    return RGN_ERROR;
  }
  *box = region->region.Bounds();
  return region->region.Complexity();
}

std::vector<Rect> GetRegionRects(HRGN handle) {
  auto region = Lookup<RegionObject>(handle, ObjectKind::Region);
  return region ? region->region.Rects() : std::vector<Rect>{};
}

// Clipping.

int SelectClipRgn(HDC hdc, HRGN handle) {
  auto dc = LookupDc(hdc);
  if (!dc) return RGN_ERROR;
  if (!handle) {
    dc->clip.reset();
  } else {
    auto region = Lookup<RegionObject>(handle, ObjectKind::Region);
    if (!region) return RGN_ERROR;
    dc->clip = region->region;
  }
  return ClipComplexity(*dc);
}

int ExcludeClipRect(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  auto dc = LookupDc(hdc);
  if (!dc) return RGN_ERROR;
  dc->clip = Region::Combine(ClipBase(*dc), Region(Ordered(left, top, right, bottom)), RegionOp::Diff);
  return ClipComplexity(*dc);
}

int IntersectClipRect(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  auto dc = LookupDc(hdc);
  if (!dc) return RGN_ERROR;
  dc->clip = ClipBase(*dc).Intersected(Ordered(left, top, right, bottom));
  return ClipComplexity(*dc);
}

int GetClipBox(HDC hdc, Rect* box) {
  auto dc = LookupDc(hdc);
  if (!dc) return RGN_ERROR;
  if (!box) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return RGN_ERROR;
  }
  Target target;
  if (!AcquireTarget(*dc, &target)) {
    *box = {};
    return RGN_ERROR;
  }
  const Region clip = EffectiveClip(*dc, target);
  *box = clip.Bounds();
  return clip.Complexity();
}

}  // namespace plat
