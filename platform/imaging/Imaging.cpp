#include "platform/imaging/Imaging.h"

#include <png.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/fs/FileSystem.h"

namespace plat {

namespace {

// Constant-initialised, so images held by statics may count at any time.
constinit std::atomic<int64_t> g_coInit{0};
constinit std::atomic<int64_t> g_coUninit{0};
constinit std::atomic<int64_t> g_decodes{0};
constinit std::atomic<int64_t> g_bitmaps{0};
constinit std::atomic<int64_t> g_locks{0};

constexpr int32_t kHundredthsMmPerInch = 2540;
constexpr int32_t kDefaultDpi = 96;

uint32_t ReadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The physical size from the pHYs chunk (pixels per metre) when it comes
// before the image data, else the size at 96 dpi.
Size PhysicalSizeOf(std::span<const uint8_t> bytes, int32_t width, int32_t height) {
  Size byDpi{int32_t(int64_t(width) * kHundredthsMmPerInch / kDefaultDpi),
             int32_t(int64_t(height) * kHundredthsMmPerInch / kDefaultDpi)};
  size_t at = 8;
  while (at + 8 <= bytes.size()) {
    const uint32_t length = ReadBe32(bytes.data() + at);
    const uint8_t* type = bytes.data() + at + 4;
    if (length > bytes.size() - at - 8) break;
    if (std::memcmp(type, "IDAT", 4) == 0) break;
    if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
      const uint8_t* d = type + 4;
      const uint32_t ppmX = ReadBe32(d), ppmY = ReadBe32(d + 4);
      if (d[8] == 1 && ppmX > 0 && ppmY > 0)  // unit: the metre
        return Size{int32_t(std::min<int64_t>(int64_t(width) * 100000 / ppmX, INT32_MAX)),
                    int32_t(std::min<int64_t>(int64_t(height) * 100000 / ppmY, INT32_MAX))};
      break;
    }
    at += size_t(length) + 12;
  }
  return byDpi;
}

// libpng's simplified reader allocates the length an ancillary chunk claims
// before it reads a byte of it, and takes no bounds from its caller. So a
// chunk whose data and CRC do not fit in the bytes that remain, or an
// ancillary chunk above the allocation bound the program's other PNG loader
// gives libpng, refuses the picture before the reader sees it.
constexpr uint32_t kMaxAncillaryChunkBytes = 8000000;

bool ChunkLengthsFit(std::span<const uint8_t> bytes) {
  for (size_t at = 8; at + 8 <= bytes.size();) {
    const uint32_t length = ReadBe32(bytes.data() + at);
    const uint8_t* type = bytes.data() + at + 4;
    if (uint64_t{length} + 4 > bytes.size() - at - 8) return false;
    if ((type[0] & 0x20) != 0 && length > kMaxAncillaryChunkBytes) return false;  // lower case: ancillary
    if (std::memcmp(type, "IEND", 4) == 0) break;
    at += size_t{length} + 12;
  }
  return true;
}

// Pixels from 0.01 mm of a physical size, clamped into the picture; empty
// when nothing of it is inside.
Rect SourcePixels(const Rect* src, Size physical, int32_t width, int32_t height) {
  if (!src) return Rect{0, 0, width, height};
  auto conv = [](int32_t v, int32_t px, int32_t mm) -> int32_t {
    if (mm <= 0) return 0;
    // Rounded, so that pixels turned into 0.01 mm by truncation come back.
    return int32_t(std::clamp<int64_t>((int64_t(v) * px + mm / 2) / mm, 0, px));
  };
  Rect r{conv(src->left, width, physical.cx), conv(src->top, height, physical.cy),
         conv(src->right, width, physical.cx), conv(src->bottom, height, physical.cy)};
  return r;
}

// Draws B, G, R, A pixels (straight, rows top-down with `stride`) with their
// alpha, or 16-bit RGB565 rows opaquely, from the source rectangle onto dst.
HRESULT DrawPixels(HDC dc, const Rect& dst, const Rect& src, const uint8_t* pixels, int32_t width, int32_t height,
                   int32_t stride, uint32_t format) {
  if (dst.IsEmpty() || src.IsEmpty()) return S_OK;
  BitmapInfo info;
  info.header.width = width;
  info.header.height = -height;
  void* bits = nullptr;
  if (format == PixelFormat16bppRGB565) {
    info.header.bitCount = 16;
    info.header.compression = BI_BITFIELDS;
    info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
  } else {
    info.header.bitCount = 32;
    info.header.compression = BI_RGB;
  }
  HBITMAP dib = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits);
  if (!dib) return E_OUTOFMEMORY;
  BitmapDesc desc;
  GetObject(dib, &desc);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = pixels + size_t(y) * size_t(stride);
    uint8_t* out = static_cast<uint8_t*>(bits) + size_t(y) * size_t(desc.widthBytes);
    if (format == PixelFormat16bppRGB565) {
      std::memcpy(out, in, size_t(width) * 2);
      continue;
    }
    for (int32_t x = 0; x < width; ++x, in += 4, out += 4) {
      const uint32_t a = in[3];
      out[0] = uint8_t(in[0] * a / 255), out[1] = uint8_t(in[1] * a / 255), out[2] = uint8_t(in[2] * a / 255);
      out[3] = uint8_t(a);
    }
  }
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, dib);
  bool ok;
  if (format == PixelFormat16bppRGB565)
    ok = StretchBlt(dc, dst.left, dst.top, dst.Width(), dst.Height(), mem, src.left, src.top, src.Width(),
                    src.Height(), SRCCOPY);
  else
    ok = AlphaBlend(dc, dst.left, dst.top, dst.Width(), dst.Height(), mem, src.left, src.top, src.Width(),
                    src.Height(), BlendFunc{});
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(dib);
  return ok ? S_OK : E_FAIL;
}

// Area-averaging weights for one axis: destination cell i covers source
// [i * S / D, (i + 1) * S / D); each overlapped source cell weighs by its
// overlap, in units of 1 / D source cells.
struct Span {
  int32_t first;
  std::vector<int64_t> weights;  // per source cell from `first`, summing to S
};
std::vector<Span> AxisWeights(int32_t source, int32_t dest) {
  std::vector<Span> out(static_cast<size_t>(dest));
  for (int32_t i = 0; i < dest; ++i) {
    const int64_t from = int64_t(i) * source, to = int64_t(i + 1) * source;  // in 1/dest units
    const int32_t j0 = int32_t(from / dest), j1 = int32_t((to + dest - 1) / dest);
    Span& s = out[size_t(i)];
    s.first = j0;
    for (int32_t j = j0; j < j1 && j < source; ++j) {
      const int64_t lo = std::max<int64_t>(from, int64_t(j) * dest), hi = std::min<int64_t>(to, int64_t(j + 1) * dest);
      s.weights.push_back(std::max<int64_t>(hi - lo, 0));
    }
  }
  return out;
}

}  // namespace

HRESULT CoInitializeEx(void*, uint32_t) {
  g_coInit.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

void CoUninitialize() { g_coUninit.fetch_add(1, std::memory_order_relaxed); }

DecodedImage::DecodedImage(int32_t width, int32_t height, std::vector<uint8_t> bgra, Size physical, bool hasAlpha)
    : m_width(width), m_height(height), m_bgra(std::move(bgra)), m_physical(physical), m_bHasAlpha(hasAlpha) {}

ImageInfo DecodedImage::Info() const { return ImageInfo{PixelFormat32bppARGB, m_width, m_height, m_bHasAlpha}; }

HRESULT DecodedImage::Draw(HDC dc, const Rect& dst, const Rect* src) const {
  const Rect s = SourcePixels(src, m_physical, m_width, m_height);
  return DrawPixels(dc, dst, s, m_bgra.data(), m_width, m_height, m_width * 4, PixelFormat32bppARGB);
}

BitmapImage::BitmapImage(int32_t width, int32_t height, uint32_t format, std::vector<uint8_t> pixels,
                         int32_t stride, Size physical)
    : m_width(width), m_height(height), m_format(format), m_pixels(std::move(pixels)), m_stride(stride),
      m_physical(physical) {}

HRESULT BitmapImage::LockBits(const Rect& rect, uint32_t mode, uint32_t format, BitmapData& out) {
  if (mode != ImageLockModeRead || format != m_format || rect.IsEmpty() || rect.left < 0 || rect.top < 0 ||
      rect.right > m_width || rect.bottom > m_height)
    return E_INVALIDARG;
  if (m_bLocked) return E_IMAGE_LOCKED;
  const int32_t bpp = m_format == PixelFormat16bppRGB565 ? 2 : 4;
  out.width = rect.Width();
  out.height = rect.Height();
  out.stride = m_stride;
  out.pixelFormat = m_format;
  out.scan0 = m_pixels.data() + size_t(rect.top) * size_t(m_stride) + size_t(rect.left) * bpp;
  out.reserved = 0;
  m_bLocked = true;
  g_locks.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

HRESULT BitmapImage::UnlockBits(const BitmapData&) {
  if (!m_bLocked) return E_INVALIDARG;
  m_bLocked = false;
  return S_OK;
}

HRESULT BitmapImage::Draw(HDC dc, const Rect& dst, const Rect* src) const {
  const Rect s = SourcePixels(src, m_physical, m_width, m_height);
  return DrawPixels(dc, dst, s, m_pixels.data(), m_width, m_height, m_stride, m_format);
}

HRESULT ImagingFactory::CreateImageFromBytes(std::span<const uint8_t> bytes, std::unique_ptr<DecodedImage>& out) {
  out.reset();
  if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0 || !ChunkLengthsFit(bytes)) return E_IMAGE_FORMAT;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    png_image_free(&image);
    return E_IMAGE_FORMAT;
  }
  if (image.width == 0 || image.height == 0 || uint64_t(image.width) * image.height > kMaxImagePixels) {
    png_image_free(&image);
    return E_IMAGE_FORMAT;
  }
  const bool hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(size_t(image.width) * image.height * 4);
  } catch (const std::bad_alloc&) {
    png_image_free(&image);
    return E_OUTOFMEMORY;
  }
  if (!png_image_finish_read(&image, nullptr, pixels.data(), int32_t(image.width * 4), nullptr)) {
    png_image_free(&image);
    return E_IMAGE_FORMAT;
  }
  const int32_t w = int32_t(image.width), h = int32_t(image.height);
  png_image_free(&image);
  out = std::make_unique<DecodedImage>(w, h, std::move(pixels), PhysicalSizeOf(bytes, w, h), hasAlpha);
  g_decodes.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

HRESULT ImagingFactory::CreateImageFromFile(WStringView virtualPath, std::unique_ptr<DecodedImage>& out) {
  out.reset();
  std::optional<std::filesystem::path> host = HostPath(virtualPath);
  if (!host) return E_IMAGE_NOT_FOUND;
  std::ifstream in(*host, std::ios::binary);
  if (!in) return E_IMAGE_NOT_FOUND;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return CreateImageFromBytes(bytes, out);
}

HRESULT ImagingFactory::CreateBitmapFromImage(const DecodedImage& image, int32_t width, int32_t height,
                                              uint32_t format, InterpolationHint, std::unique_ptr<BitmapImage>& out) {
  out.reset();
  if (width < 1 || height < 1 || uint64_t(width) * uint64_t(height) > kMaxImagePixels ||
      (format != PixelFormat32bppARGB && format != PixelFormat16bppRGB565))
    return E_INVALIDARG;
  const ImageInfo info = image.Info();
  // The intermediate rows are source height x target width.
  if (uint64_t(info.height) * uint64_t(width) > kMaxImagePixels) return E_INVALIDARG;
  const std::vector<uint8_t>& src = image.Pixels();
  const std::vector<Span> xs = AxisWeights(info.width, width), ys = AxisWeights(info.height, height);
  // Horizontal pass into premultiplied sums (weights in 1/width units).
  std::vector<int64_t> rows(size_t(info.height) * size_t(width) * 4);
  for (int32_t y = 0; y < info.height; ++y) {
    const uint8_t* in = src.data() + size_t(y) * size_t(info.width) * 4;
    int64_t* o = rows.data() + size_t(y) * size_t(width) * 4;
    for (int32_t x = 0; x < width; ++x, o += 4) {
      const Span& s = xs[size_t(x)];
      for (size_t k = 0; k < s.weights.size(); ++k) {
        const uint8_t* p = in + size_t(s.first + int32_t(k)) * 4;
        const int64_t w = s.weights[k], a = p[3];
        o[0] += w * p[0] * a, o[1] += w * p[1] * a, o[2] += w * p[2] * a, o[3] += w * a * 255;
      }
    }
  }
  const int32_t bpp = format == PixelFormat16bppRGB565 ? 2 : 4;
  const int32_t stride = (width * bpp + 3) & ~3;
  std::vector<uint8_t> pixels(size_t(stride) * size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    const Span& s = ys[size_t(y)];
    uint8_t* o = pixels.data() + size_t(y) * size_t(stride);
    for (int32_t x = 0; x < width; ++x) {
      int64_t acc[4] = {0, 0, 0, 0};
      for (size_t k = 0; k < s.weights.size(); ++k) {
        const int64_t* r = rows.data() + (size_t(s.first + int32_t(k)) * size_t(width) + size_t(x)) * 4;
        for (int c = 0; c < 4; ++c) acc[c] += r[c] * s.weights[k];
      }
      // acc[3] = alpha * 255 * area; colours are premultiplied by alpha.
      const int64_t area = int64_t(info.width) * info.height;
      const int64_t alphaSum = acc[3];
      uint8_t b = 0, g = 0, r = 0, a = uint8_t((alphaSum / 255 + area / 2) / area);
      if (alphaSum > 0) {
        b = uint8_t(std::min<int64_t>(255, (acc[0] * 255 + alphaSum / 2) / alphaSum));
        g = uint8_t(std::min<int64_t>(255, (acc[1] * 255 + alphaSum / 2) / alphaSum));
        r = uint8_t(std::min<int64_t>(255, (acc[2] * 255 + alphaSum / 2) / alphaSum));
      }
      if (format == PixelFormat16bppRGB565) {
        const uint16_t p = uint16_t((b >> 3) | ((g & 0xFC) << 3) | ((r & 0xF8) << 8));
        std::memcpy(o + size_t(x) * 2, &p, 2);
      } else {
        uint8_t* q = o + size_t(x) * 4;
        q[0] = b, q[1] = g, q[2] = r, q[3] = a;
      }
    }
  }
  out = std::make_unique<BitmapImage>(width, height, format, std::move(pixels), stride, image.PhysicalSize());
  g_bitmaps.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

ImagingCounters CurrentImagingCounters() {
  return ImagingCounters{g_coInit.load(), g_coUninit.load(), g_decodes.load(), g_bitmaps.load(), g_locks.load()};
}

void ResetImagingCounters() {
  g_coInit = 0, g_coUninit = 0, g_decodes = 0, g_bitmaps = 0, g_locks = 0;
}

}  // namespace plat
