// Raster drawing with the call shapes, defaults and result codes the program
// is written against: device contexts over bitmaps and the screen, DIB
// sections whose pixel memory the program writes itself, solid brushes and
// pens, rectangle-list regions for clipping, and the three blits (copy,
// nearest-neighbour stretch, premultiplied alpha blend).
//
// Coordinates are device pixels; a DC's origin is the top-left corner of its
// bitmap, of the screen, or of its window. Right and bottom edges are
// exclusive everywhere.
//
// Handles carry a generation: a deleted or never-issued handle is refused
// (ERROR_INVALID_HANDLE), never mistaken for a newer object. The handle table
// may be used from any thread; one DC and the objects selected into it belong
// to one thread at a time, as on the device.
//
// Colour rules for every GDI path (the toolkit's own 16-bit arithmetic on the
// back buffer is its own business):
//   - RGB565 and RGB555 expand to 8 bits per channel by bit replication
//     (r8 = r5 << 3 | r5 >> 2), and 8 bits pack back by truncation, so an
//     expand-then-pack round trip is the identity;
//   - a 32-bit pixel is the bytes B, G, R, A; packing it to 16 bits drops A;
//   - drawing that is opaque by nature (fills, outlines, copies from a 16-bit
//     source) writes A = 255 into a 32-bit target; alpha blends and text
//     compose A as premultiplied "over" (see AlphaBlend);
//   - the high byte of a COLORREF is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/base/Geometry.h"
#include "platform/ui/UiTypes.h"

namespace plat {

// Objects. HBITMAP, HBRUSH, HPEN, HFONT and HRGN convert to HGDIOBJ; the
// other way takes a cast, as with the device's headers.
struct GdiObjectTag {};
using HGDIOBJ = GdiObjectTag*;
struct GdiBitmapTag : GdiObjectTag {};
using HBITMAP = GdiBitmapTag*;
struct GdiBrushTag : GdiObjectTag {};
using HBRUSH = GdiBrushTag*;
struct GdiPenTag : GdiObjectTag {};
using HPEN = GdiPenTag*;
struct GdiFontTag : GdiObjectTag {};
using HFONT = GdiFontTag*;
struct GdiRegionTag : GdiObjectTag {};
using HRGN = GdiRegionTag*;
struct GdiDcTag;
using HDC = GdiDcTag*;

// 0x00BBGGRR.
using COLORREF = uint32_t;
constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>(c >> 16); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// Stock objects. They are never deleted: DeleteObject on one succeeds and
// changes nothing.
enum : int {
  WHITE_BRUSH = 0,
  BLACK_BRUSH = 4,
  NULL_BRUSH = 5,
  WHITE_PEN = 6,
  BLACK_PEN = 7,
  NULL_PEN = 8,
  SYSTEM_FONT = 13,
};
HGDIOBJ GetStockObject(int object);

// Selecting returns the object it replaced (null on failure, with the reason
// in GetLastError). A bitmap can be selected only into a memory DC, and into
// one DC at a time; selecting a region sets the clip region from a copy of it
// and returns its complexity (NULLREGION..COMPLEXREGION) cast to HGDIOBJ, or
// HGDI_ERROR.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
inline HGDIOBJ const HGDI_ERROR = reinterpret_cast<HGDIOBJ>(~uintptr_t{0});
// Deleting an object that is still selected into a DC succeeds: the handle
// dies at once, the object lives on until the DC lets go of it, so nothing a
// DC draws with is ever freed under it.
bool DeleteObject(HGDIOBJ object);
// GDI objects alive now, stock objects aside (leak checks of long runs).
std::size_t GdiObjectCount();

// Bitmaps. The 40-byte header layout that bitmap code fills in; height < 0
// means rows top-down in memory, > 0 bottom-up.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t DIB_RGB_COLORS = 0;

// The header and, for BI_BITFIELDS, the red, green and blue masks.
struct BitmapInfo {
  BitmapInfoHeader header;
  uint32_t masks[3] = {0, 0, 0};
};

// Accepted layouts:
//   16 bpp BI_BITFIELDS F800/07E0/001F (RGB565) or 7C00/03E0/001F (RGB555);
//   16 bpp BI_RGB (RGB555);
//   32 bpp BI_RGB, or BI_BITFIELDS 00FF0000/0000FF00/000000FF (B, G, R, A).
// Rows are padded to 4 bytes; the pixels start zeroed and *bits points at the
// lowest address (the bottom row of a bottom-up bitmap). `dc` is not needed
// and may be null. Failure: null and *bits null, with ERROR_INVALID_PARAMETER
// for a layout outside the list, a width below 1, a height of 0 or a bitmap
// above 256 MB, ERROR_NOT_ENOUGH_MEMORY when the memory is not there.
HBITMAP CreateDIBSection(HDC dc, const BitmapInfo& info, uint32_t usage, void** bits);
// A bitmap in the screen's format (RGB565, top-down), zeroed; its memory is
// not exposed. Sizes below 1 are refused (ERROR_INVALID_PARAMETER).
HBITMAP CreateCompatibleBitmap(HDC dc, int32_t width, int32_t height);

struct BitmapDesc {
  int32_t width = 0;
  int32_t height = 0;       // always positive
  int32_t widthBytes = 0;   // the row stride
  uint16_t planes = 1;
  uint16_t bitsPixel = 0;
  void* bits = nullptr;     // DIB sections only; as CreateDIBSection gave it
};
// The size of the description (sizeof(BitmapDesc)) on success, 0 for a handle
// that is not a live bitmap or a null `out`.
int GetObject(HBITMAP bitmap, BitmapDesc* out);

// Brushes and pens. A pen of width 0 or 1 draws one pixel wide; a wider one
// draws inside the shape's edge. Pen styles other than these two are refused.
constexpr int PS_SOLID = 0;
constexpr int PS_NULL = 5;
HBRUSH CreateSolidBrush(COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color);

// Device contexts. A memory DC starts with a 1x1 stock bitmap selected (it is
// drawn on like any bitmap and may sit in any number of DCs), the stock
// white brush, black pen and system font, and the defaults: text black,
// background white and opaque, stretch mode BLACKONWHITE, no clip region.
// `compatibleWith` may be null (the screen).
HDC CreateCompatibleDC(HDC compatibleWith);
// Deleting a DC lets go of what is selected into it.
bool DeleteDC(HDC dc);

// Screen and window DCs. Windows keep no pixels of their own: both kinds draw
// into the screen framebuffer and read back from it (a blit from them copies
// what is on the screen), and every change is reported to the display for
// its next present. GetDC(nullptr) reaches the whole screen and never fails.
// A window's DC has its origin at the window's top-left corner and reaches
// the part of the window inside all its ancestors (nothing while it or an
// ancestor is hidden), worked out again for every drawing call as windows
// move. Null with ERROR_INVALID_WINDOW_HANDLE for a window that does not
// exist. BeginPaint's DC (see the window system) is a window DC that reaches
// only the area being painted.
HDC GetDC(HWND window);
// 1 once a screen or window DC is released; 0 for a memory DC (DeleteDC is
// for those) or a stale handle. The window argument is not checked.
int ReleaseDC(HWND window, HDC dc);

constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
// Device capabilities describe the display for every kind of DC: its size
// in the current orientation, 16 bits per pixel, one plane, its DPI. 0 for an
// invalid DC or an unknown index.
int GetDeviceCaps(HDC dc, int index);

// DC state. Each setter returns the previous value (CLR_INVALID / 0 for an
// invalid DC or an unknown mode).
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);
// Every mode samples the nearest source pixel: this layer has no smoothing
// filter (smooth scaling is built from AlphaBlend calls by its users).
int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);

// Regions: sets of pixels kept as rectangles in y-x bands (rows of equal
// top and bottom, sorted, not overlapping, vertically merged where they can
// be), so two regions with the same pixels have the same rectangles.
constexpr int RGN_ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;
// Swapped edges are put in order; an empty rectangle gives an empty region.
HRGN CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom);
// dst may be one of the sources. RGN_COPY ignores b. Returns the complexity
// of the result, RGN_ERROR (dst unchanged) for a bad handle or mode.
int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode);
int OffsetRgn(HRGN region, int32_t dx, int32_t dy);
int GetRgnBox(HRGN region, Rect* box);
// The region's rectangles in band order; empty for an empty or invalid one.
std::vector<Rect> GetRegionRects(HRGN region);

// Clipping. The clip region is kept in the DC's coordinates and always
// limited to what the DC can reach (its bitmap, the screen, or its window's
// visible part). A null region removes the clip. Each returns the complexity
// of the resulting clip, RGN_ERROR for a bad handle.
int SelectClipRgn(HDC dc, HRGN region);
int ExcludeClipRect(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
int IntersectClipRect(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
// The bounding box of what drawing can reach now, and its complexity.
int GetClipBox(HDC dc, Rect* box);

// Raster operations.
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t BLACKNESS = 0x00000042;
constexpr uint32_t WHITENESS = 0x00FF0062;

// Every operation draws only inside the destination's clip. A source pixel
// outside the source's bitmap (or screen) leaves its destination pixel
// unchanged. Source and destination may be the same surface, overlapping.
// An empty destination is success with nothing drawn. ROPs other than the
// three above: false, ERROR_INVALID_PARAMETER.
bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, uint32_t rop);
// Nearest neighbour: destination column x + i samples source column
// sx + floor((2i + 1) * sw / (2w)), rows alike. Negative sizes (mirroring)
// are refused with ERROR_INVALID_PARAMETER.
bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint32_t rop);

constexpr uint8_t AC_SRC_OVER = 0;
constexpr uint8_t AC_SRC_ALPHA = 1;
struct BlendFunc {
  uint8_t blendOp = AC_SRC_OVER;
  uint8_t blendFlags = 0;
  uint8_t sourceConstantAlpha = 255;
  uint8_t alphaFormat = AC_SRC_ALPHA;
};
// Source-over with a premultiplied source, sampled like StretchBlt. With
// ca = the constant alpha, a source colour channel s and alpha a (a = 255
// without AC_SRC_ALPHA) are first scaled, s' = R(s * ca), a' = R(a * ca),
// and then each destination channel d (8-bit, expanded from 16 bits where
// needed) becomes
//     d' = min(255, s' + R(d * (255 - a')))
// and a 32-bit destination's alpha da becomes a' + R(da * (255 - a')), where
// R(x) = x / 255 rounded to the nearest integer (never a tie). So a' = 255
// writes the source exactly and a' = 0 with a black source leaves the
// destination bit for bit, 16-bit included. The result packs back to 16 bits
// by truncation.
// Refused with ERROR_INVALID_PARAMETER: a blend op or flags other than 0, an
// alpha format other than 0 or AC_SRC_ALPHA, per-pixel alpha from a source
// that is not 32-bit, negative sizes, a source rectangle reaching outside the
// source bitmap.
bool AlphaBlend(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, BlendFunc blend);

// Fills the rectangle with the brush (nothing for the null brush). Non-zero
// on success.
int FillRect(HDC dc, const Rect& rect, HBRUSH brush);
// The outline in the DC's pen on the edge pixels of [left, right) x
// [top, bottom) and the inside in its brush. With the null pen the brush
// covers the whole rectangle. Swapped edges are put in order.
bool Rectangle(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom);

}  // namespace plat
