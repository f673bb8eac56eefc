// The GDI handle table, stock objects, selection, bitmaps, brushes and pens.
#include <array>
#include <mutex>
#include <new>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/gdi/ScreenLink.h"

namespace plat::gdi {

namespace {

struct Slot {
  std::shared_ptr<GdiObject> object;
  uint32_t generation = 1;
};

// Stock objects sit in the first slots and never leave them.
enum StockSlot : uint32_t {
  kWhiteBrush,
  kBlackBrush,
  kNullBrush,
  kWhitePen,
  kBlackPen,
  kNullPen,
  kSystemFont,
  kDefaultBitmap,
  kStockCount
};

struct Table {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<uint32_t> free;
  // The stock objects again, read without the lock: they never change, while
  // `slots` may grow under another thread.
  std::array<std::shared_ptr<GdiObject>, kStockCount> stock;
};

// Bits 0..3: the kind (never 0, so no handle is null); bits 4..31: the slot
// index; bits 32..63: the slot's generation. HGDI_ERROR (all ones) carries
// kind 15 and never decodes.
uintptr_t Encode(uint32_t index, uint32_t generation, ObjectKind kind) {
  return (uintptr_t{generation} << 32) | (uintptr_t{index} << 4) | static_cast<uintptr_t>(kind);
}

std::shared_ptr<GdiObject> MakeStock(uint32_t slot) {
  std::shared_ptr<GdiObject> object;
  switch (slot) {
    case kWhiteBrush:
    case kBlackBrush:
    case kNullBrush: {
      auto brush = std::make_shared<BrushObject>();
      brush->null = slot == kNullBrush;
      brush->color = slot == kWhiteBrush ? RGB(255, 255, 255) : RGB(0, 0, 0);
      object = brush;
      break;
    }
    case kWhitePen:
    case kBlackPen:
    case kNullPen: {
      auto pen = std::make_shared<PenObject>();
      pen->null = slot == kNullPen;
      pen->color = slot == kWhitePen ? RGB(255, 255, 255) : RGB(0, 0, 0);
      object = pen;
      break;
    }
    case kSystemFont: object = std::make_shared<FontObject>(); break;
    case kDefaultBitmap: {
      // What a new memory DC draws on until the program selects its own.
      auto bitmap = std::make_shared<BitmapObject>();
      bitmap->memory.reset(new uint8_t[4]());
      bitmap->stride = 4;
      bitmap->surface = {PixelFormat::Rgb565, 1, 1, bitmap->memory.get(), 4};
      object = bitmap;
      break;
    }
  }
  object->stock = true;
  return object;
}

Table& TheTable() {
  // Never destroyed: drawing may still happen during static destruction.
  static Table* table = [] {
    auto* t = new Table;
    t->slots.resize(kStockCount);
    for (uint32_t i = 0; i < kStockCount; ++i) {
      t->stock[i] = MakeStock(i);
      t->stock[i]->handle = Encode(i, 1, t->stock[i]->kind);
      t->slots[i].object = t->stock[i];
    }
    return t;
  }();
  return *table;
}

// BeginPaint must find GDI's hooks even when it runs before any other GDI
// call; this file is in every program that uses GDI at all.
[[maybe_unused]] const bool kPaintHooksInstalled = (InstallPaintHooks(), true);

// Serialises the "selected into which DC" bookkeeping of bitmaps.
std::mutex& SelectionLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

template <class T>
uintptr_t HandleOf(const std::shared_ptr<T>& object) {
  return object ? object->handle : 0;
}

}  // namespace

size_t LiveObjectCount() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.slots.size() - t.free.size() - kStockCount;
}

uintptr_t RegisterObject(std::shared_ptr<GdiObject> object) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  uint32_t index;
  if (!t.free.empty()) {
    index = t.free.back();
    t.free.pop_back();
  } else {
    if (t.slots.size() >= (1u << 27)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    index = static_cast<uint32_t>(t.slots.size());
    t.slots.emplace_back();
  }
  Slot& s = t.slots[index];
  object->handle = Encode(index, s.generation, object->kind);
  s.object = std::move(object);
  return s.object->handle;
}

std::shared_ptr<GdiObject> LookupObject(uintptr_t handle, ObjectKind kind) {
  const uint32_t index = static_cast<uint32_t>((handle & 0xFFFFFFFFu) >> 4);
  const uint32_t generation = static_cast<uint32_t>(handle >> 32);
  if ((handle & 0xF) != static_cast<uintptr_t>(kind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (index >= t.slots.size() || t.slots[index].generation != generation || !t.slots[index].object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return t.slots[index].object;
}

bool UnregisterObject(uintptr_t handle, ObjectKind kind) {
  std::shared_ptr<GdiObject> released;  // freed outside the lock
  const uint32_t index = static_cast<uint32_t>((handle & 0xFFFFFFFFu) >> 4);
  const uint32_t generation = static_cast<uint32_t>(handle >> 32);
  if ((handle & 0xF) != static_cast<uintptr_t>(kind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (index >= t.slots.size() || t.slots[index].generation != generation || !t.slots[index].object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (t.slots[index].object->stock) return true;
  released = std::move(t.slots[index].object);
  // A generation of 0 would make a handle whose upper half is 0; skip it.
  if (++t.slots[index].generation == 0) t.slots[index].generation = 1;
  t.free.push_back(index);
  return true;
}

std::shared_ptr<FontObject> StockSystemFont() {
  return std::static_pointer_cast<FontObject>(TheTable().stock[kSystemFont]);
}

std::shared_ptr<BitmapObject> StockDefaultBitmap() {
  return std::static_pointer_cast<BitmapObject>(TheTable().stock[kDefaultBitmap]);
}

std::shared_ptr<BrushObject> StockBrush(int object) {
  return std::static_pointer_cast<BrushObject>(
      TheTable().stock[object == BLACK_BRUSH ? kBlackBrush : object == NULL_BRUSH ? kNullBrush : kWhiteBrush]);
}

std::shared_ptr<PenObject> StockPen(int object) {
  return std::static_pointer_cast<PenObject>(
      TheTable().stock[object == WHITE_PEN ? kWhitePen : object == NULL_PEN ? kNullPen : kBlackPen]);
}

void ReleaseSelection(DcObject& dc) {
  std::lock_guard<std::mutex> guard(SelectionLock());
  if (dc.bitmap && dc.bitmap->selectedIn == &dc) dc.bitmap->selectedIn = nullptr;
  dc.bitmap.reset();
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

size_t GdiObjectCount() { return gdi::LiveObjectCount(); }

HGDIOBJ GetStockObject(int object) {
  uint32_t slot;
  switch (object) {
    case WHITE_BRUSH: slot = kWhiteBrush; break;
    case BLACK_BRUSH: slot = kBlackBrush; break;
    case NULL_BRUSH: slot = kNullBrush; break;
    case WHITE_PEN: slot = kWhitePen; break;
    case BLACK_PEN: slot = kBlackPen; break;
    case NULL_PEN: slot = kNullPen; break;
    case SYSTEM_FONT: slot = kSystemFont; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
  return reinterpret_cast<HGDIOBJ>(TheTable().stock[slot]->handle);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  auto dc = LookupDc(hdc);
  if (!dc) return nullptr;
  const uintptr_t h = reinterpret_cast<uintptr_t>(object);
  const auto kind = static_cast<ObjectKind>(h & 0xF);
  switch (kind) {
    case ObjectKind::Bitmap: {
      auto bitmap = Lookup<BitmapObject>(object, kind);
      if (!bitmap) return nullptr;
      if (dc->dcKind != DcKind::Memory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      std::lock_guard<std::mutex> guard(SelectionLock());
      if (!bitmap->stock) {
        if (bitmap->selectedIn && bitmap->selectedIn != dc.get()) {
          SetLastError(ERROR_INVALID_PARAMETER);  // in use by another DC
          return nullptr;
        }
        bitmap->selectedIn = dc.get();
      }
      const uintptr_t previous = HandleOf(dc->bitmap);
      if (dc->bitmap && dc->bitmap != bitmap && dc->bitmap->selectedIn == dc.get()) dc->bitmap->selectedIn = nullptr;
      dc->bitmap = std::move(bitmap);
      return reinterpret_cast<HGDIOBJ>(previous);
    }
    case ObjectKind::Brush: {
      auto brush = Lookup<BrushObject>(object, kind);
      if (!brush) return nullptr;
      const uintptr_t previous = HandleOf(dc->brush);
      dc->brush = std::move(brush);
      return reinterpret_cast<HGDIOBJ>(previous);
    }
    case ObjectKind::Pen: {
      auto pen = Lookup<PenObject>(object, kind);
      if (!pen) return nullptr;
      const uintptr_t previous = HandleOf(dc->pen);
      dc->pen = std::move(pen);
      return reinterpret_cast<HGDIOBJ>(previous);
    }
    case ObjectKind::Font: {
      auto font = Lookup<FontObject>(object, kind);
      if (!font) return nullptr;
      const uintptr_t previous = HandleOf(dc->font);
      dc->font = std::move(font);
      return reinterpret_cast<HGDIOBJ>(previous);
    }
    case ObjectKind::Region: {
      const int result = SelectClipRgn(hdc, static_cast<HRGN>(object));
      if (result == RGN_ERROR) return HGDI_ERROR;
      return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(result));
    }
    default: SetLastError(ERROR_INVALID_HANDLE); return nullptr;
  }
}

bool DeleteObject(HGDIOBJ object) {
  const uintptr_t h = reinterpret_cast<uintptr_t>(object);
  const auto kind = static_cast<ObjectKind>(h & 0xF);
  if (kind == ObjectKind::Dc || h == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return UnregisterObject(h, kind);
}

namespace {

// The pixel layout a header asks for, or nothing when it is not supported.
std::optional<PixelFormat> LayoutOf(const BitmapInfo& info) {
  const BitmapInfoHeader& h = info.header;
  if (h.bitCount == 16) {
    if (h.compression == BI_RGB) return PixelFormat::Rgb555;
    if (h.compression == BI_BITFIELDS) {
      if (info.masks[0] == 0xF800 && info.masks[1] == 0x07E0 && info.masks[2] == 0x001F) return PixelFormat::Rgb565;
      if (info.masks[0] == 0x7C00 && info.masks[1] == 0x03E0 && info.masks[2] == 0x001F) return PixelFormat::Rgb555;
    }
    return std::nullopt;
  }
  if (h.bitCount == 32) {
    if (h.compression == BI_RGB) return PixelFormat::Bgra32;
    if (h.compression == BI_BITFIELDS && info.masks[0] == 0x00FF0000 && info.masks[1] == 0x0000FF00 &&
        info.masks[2] == 0x000000FF) {
      return PixelFormat::Bgra32;
    }
  }
  return std::nullopt;
}

constexpr uint64_t kMaxBitmapBytes = uint64_t{256} << 20;

// Allocates zeroed pixels for a bitmap of the given layout; rows padded to
// 4 bytes. Sets the last error and returns null on failure.
std::shared_ptr<BitmapObject> NewBitmap(PixelFormat format, int32_t width, int32_t height, bool topDown) {
  if (width < 1 || height < 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uint64_t bpp = format == PixelFormat::Bgra32 ? 32 : 16;
  const uint64_t stride = (uint64_t(width) * bpp + 31) / 32 * 4;
  const uint64_t bytes = stride * uint64_t(height);
  if (bytes > kMaxBitmapBytes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = std::make_shared<BitmapObject>();
  bitmap->memory.reset(new (std::nothrow) uint8_t[bytes]());
  if (!bitmap->memory) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  bitmap->stride = static_cast<uint32_t>(stride);
  bitmap->bitsPixel = static_cast<uint16_t>(bpp);
  Surface& s = bitmap->surface;
  s.format = format;
  s.width = width;
  s.height = height;
  if (topDown) {
    s.top = bitmap->memory.get();
    s.pitch = static_cast<ptrdiff_t>(stride);
  } else {
    s.top = bitmap->memory.get() + (height - 1) * stride;
    s.pitch = -static_cast<ptrdiff_t>(stride);
  }
  return bitmap;
}

template <class Tag>
Tag* Publish(std::shared_ptr<GdiObject> object) {
  return reinterpret_cast<Tag*>(RegisterObject(std::move(object)));
}

}  // namespace

HBITMAP CreateDIBSection(HDC, const BitmapInfo& info, uint32_t usage, void** bits) {
  if (bits) *bits = nullptr;
  const BitmapInfoHeader& h = info.header;
  const std::optional<PixelFormat> format = LayoutOf(info);
  if (usage != DIB_RGB_COLORS || h.size < sizeof(BitmapInfoHeader) || h.planes != 1 || !format || h.height == 0 ||
      h.height == INT32_MIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = NewBitmap(*format, h.width, h.height < 0 ? -h.height : h.height, h.height < 0);
  if (!bitmap) return nullptr;
  bitmap->dib = true;
  void* memory = bitmap->memory.get();
  HBITMAP handle = Publish<GdiBitmapTag>(std::move(bitmap));
  if (handle && bits) *bits = memory;
  return handle;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int32_t width, int32_t height) {
  if (dc && !LookupDc(dc)) return nullptr;
  auto bitmap = NewBitmap(PixelFormat::Rgb565, width, height, true);
  if (!bitmap) return nullptr;
  return Publish<GdiBitmapTag>(std::move(bitmap));
}

int GetObject(HBITMAP handle, BitmapDesc* out) {
  auto bitmap = Lookup<BitmapObject>(handle, ObjectKind::Bitmap);
  if (!bitmap) return 0;
  if (!out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  out->width = bitmap->surface.width;
  out->height = bitmap->surface.height;
  out->widthBytes = static_cast<int32_t>(bitmap->stride);
  out->planes = 1;
  out->bitsPixel = bitmap->bitsPixel;
  out->bits = bitmap->dib ? bitmap->memory.get() : nullptr;
  return static_cast<int>(sizeof(BitmapDesc));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto brush = std::make_shared<BrushObject>();
  brush->color = color & 0xFFFFFFu;
  return Publish<GdiBrushTag>(std::move(brush));
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style != PS_SOLID && style != PS_NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto pen = std::make_shared<PenObject>();
  pen->null = style == PS_NULL;
  pen->width = width < 1 ? 1 : width;
  pen->color = color & 0xFFFFFFu;
  return Publish<GdiPenTag>(std::move(pen));
}

}  // namespace plat
