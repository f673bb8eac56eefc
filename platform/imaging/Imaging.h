// The imaging library the toolkit decodes and scales its pictures with: a
// COM-shaped start and stop (only counted), a factory that decodes PNG bytes
// or files into images and makes bitmaps of them at a target size, and the
// two drawings into a DC.
//
// Images keep their pixels straight (not premultiplied), B, G, R, A per pixel,
// rows top-down. A bitmap is made by area averaging over premultiplied
// values, stored straight again; the RGB565 form drops alpha. Each image knows
// its physical size in 0.01 mm (from the PNG's pHYs chunk, else 96 dpi); a
// bitmap keeps the size of the image it was made from, so a source rectangle
// in 0.01 mm picks the same part of either.
//
// Bad data never ends the program: the call fails with an HRESULT and
// nothing is made. Images above kMaxImagePixels are refused, and so are
// files with a chunk longer than the bytes that remain or an ancillary chunk
// above 8,000,000 bytes.
//
// Objects belong to one thread at a time; the counters may be read from any.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/gdi/Gdi.h"

namespace plat {

constexpr uint32_t COINIT_MULTITHREADED = 0x0;
// Counted only; always S_OK.
HRESULT CoInitializeEx(void* reserved, uint32_t flags);
void CoUninitialize();

constexpr uint32_t PixelFormat32bppARGB = 0x0026200A;
constexpr uint32_t PixelFormat16bppRGB565 = 0x00021006;
constexpr uint32_t ImageLockModeRead = 0x1;
constexpr uint64_t kMaxImagePixels = uint64_t{1} << 24;

// Failures the factory reports.
constexpr HRESULT E_IMAGE_FORMAT = static_cast<HRESULT>(0x88982F07u);  // not a picture it can decode
constexpr HRESULT E_IMAGE_NOT_FOUND = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT E_IMAGE_LOCKED = static_cast<HRESULT>(0x80070021u);

enum class InterpolationHint { Default, Averaging };

struct ImageInfo {
  uint32_t pixelFormat = PixelFormat32bppARGB;
  int32_t width = 0;
  int32_t height = 0;
  bool hasAlpha = false;
};

struct BitmapData {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // bytes from one row to the next, rows top-down
  uint32_t pixelFormat = 0;
  void* scan0 = nullptr;
  uintptr_t reserved = 0;
};

class DecodedImage {
 public:
  DecodedImage(int32_t width, int32_t height, std::vector<uint8_t> bgra, Size physical, bool hasAlpha);
  ImageInfo Info() const;
  Size PhysicalSize() const { return m_physical; }
  // The whole image, or the source rectangle given in 0.01 mm of its physical
  // size, stretched onto dst with its alpha.
  HRESULT Draw(HDC dc, const Rect& dst, const Rect* srcHundredthsMm) const;
  const std::vector<uint8_t>& Pixels() const { return m_bgra; }

 private:
  int32_t m_width;
  int32_t m_height;
  std::vector<uint8_t> m_bgra;
  Size m_physical;
  bool m_bHasAlpha;
};

class BitmapImage {
 public:
  BitmapImage(int32_t width, int32_t height, uint32_t format, std::vector<uint8_t> pixels, int32_t stride,
              Size physical);
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  uint32_t PixelFormat() const { return m_format; }
  Size PhysicalSize() const { return m_physical; }
  // Read locks only, in the bitmap's own format, the rectangle inside the
  // bitmap; one lock at a time (E_IMAGE_LOCKED for a second).
  HRESULT LockBits(const Rect& rect, uint32_t mode, uint32_t format, BitmapData& out);
  HRESULT UnlockBits(const BitmapData& data);
  bool IsLocked() const { return m_bLocked; }
  HRESULT Draw(HDC dc, const Rect& dst, const Rect* srcHundredthsMm) const;

 private:
  int32_t m_width;
  int32_t m_height;
  uint32_t m_format;
  std::vector<uint8_t> m_pixels;
  int32_t m_stride;
  Size m_physical;
  bool m_bLocked = false;
};

class ImagingFactory {
 public:
  HRESULT CreateImageFromBytes(std::span<const uint8_t> bytes, std::unique_ptr<DecodedImage>& out);
  HRESULT CreateImageFromFile(WStringView virtualPath, std::unique_ptr<DecodedImage>& out);
  // Width and height of at least 1; E_INVALIDARG otherwise or for another
  // format.
  HRESULT CreateBitmapFromImage(const DecodedImage& image, int32_t width, int32_t height, uint32_t format,
                                InterpolationHint hint, std::unique_ptr<BitmapImage>& out);
};

struct ImagingCounters {
  int64_t coInitialize = 0;
  int64_t coUninitialize = 0;
  int64_t decodes = 0;  // successful ones
  int64_t bitmaps = 0;
  int64_t locks = 0;
};
ImagingCounters CurrentImagingCounters();
void ResetImagingCounters();  // tests

}  // namespace plat
