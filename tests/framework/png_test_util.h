// PNG test pictures: an encoder over libpng's writer for every colour type,
// bit depth, palette, transparency chunk and interlacing, the RGBA each
// pixel stands for (worked out here from the PNG rules, not from the
// loader), and a chunk builder for hand-made files.
#pragma once

#include <png.h>
#include <zlib.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace pngt {

using Rgba = std::array<uint8_t, 4>;  // r, g, b, a

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 8;
  int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  bool interlaced = false;
  // Rows as stored: packed samples, 16-bit ones big-endian.
  std::vector<std::vector<uint8_t>> rows;
  std::vector<png_color> palette;
  std::vector<uint8_t> paletteAlpha;      // tRNS for palettes
  std::optional<png_color_16> trnsColor;  // tRNS for grey and RGB
  std::optional<double> gamma;            // a gAMA chunk
};

inline int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    case PNG_COLOR_TYPE_PALETTE: return 1;
  }
  return 0;
}

inline size_t RowBytes(const Picture& p) {
  return (size_t(p.width) * Channels(p.colorType) * p.bitDepth + 7) / 8;
}

// Sample `index` (pixel * channels + channel) of a stored row.
inline uint32_t Sample(const Picture& p, uint32_t y, size_t index) {
  const std::vector<uint8_t>& row = p.rows[y];
  if (p.bitDepth == 16) return uint32_t(row[2 * index]) << 8 | row[2 * index + 1];
  if (p.bitDepth == 8) return row[index];
  const size_t bit = index * p.bitDepth;
  const uint32_t byte = row[bit / 8];
  const int shift = 8 - p.bitDepth - int(bit % 8);
  return (byte >> shift) & ((1u << p.bitDepth) - 1);
}

inline void SetSample(Picture& p, uint32_t y, size_t index, uint32_t v) {
  std::vector<uint8_t>& row = p.rows[y];
  if (p.bitDepth == 16) {
    row[2 * index] = uint8_t(v >> 8);
    row[2 * index + 1] = uint8_t(v);
  } else if (p.bitDepth == 8) {
    row[index] = uint8_t(v);
  } else {
    const size_t bit = index * p.bitDepth;
    const int shift = 8 - p.bitDepth - int(bit % 8);
    const uint32_t mask = ((1u << p.bitDepth) - 1) << shift;
    row[bit / 8] = uint8_t((row[bit / 8] & ~mask) | ((v << shift) & mask));
  }
}

// A sample at the picture's depth as 8 bits: low depths scale up to the full
// range, 16 bits keep the high byte.
inline uint8_t To8(const Picture& p, uint32_t v) {
  if (p.bitDepth == 16) return uint8_t(v >> 8);
  if (p.bitDepth == 8) return uint8_t(v);
  return uint8_t(v * 255 / ((1u << p.bitDepth) - 1));
}

// What pixel (x, y) stands for.
inline Rgba Truth(const Picture& p, uint32_t x, uint32_t y) {
  const size_t c = size_t(Channels(p.colorType));
  const size_t i = size_t(x) * c;
  switch (p.colorType) {
    case PNG_COLOR_TYPE_GRAY: {
      const uint32_t g = Sample(p, y, i);
      const bool clear = p.trnsColor && p.trnsColor->gray == g;
      const uint8_t v = To8(p, g);
      return {v, v, v, uint8_t(clear ? 0 : 255)};
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const uint8_t v = To8(p, Sample(p, y, i));
      return {v, v, v, To8(p, Sample(p, y, i + 1))};
    }
    case PNG_COLOR_TYPE_RGB: {
      const uint32_t r = Sample(p, y, i), g = Sample(p, y, i + 1), b = Sample(p, y, i + 2);
      const bool clear = p.trnsColor && p.trnsColor->red == r && p.trnsColor->green == g && p.trnsColor->blue == b;
      return {To8(p, r), To8(p, g), To8(p, b), uint8_t(clear ? 0 : 255)};
    }
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return {To8(p, Sample(p, y, i)), To8(p, Sample(p, y, i + 1)), To8(p, Sample(p, y, i + 2)),
              To8(p, Sample(p, y, i + 3))};
    case PNG_COLOR_TYPE_PALETTE: {
      const uint32_t k = Sample(p, y, i);
      const png_color& e = p.palette.at(k);
      return {e.red, e.green, e.blue, k < p.paletteAlpha.size() ? p.paletteAlpha[k] : uint8_t(255)};
    }
  }
  return {};
}

// The bytes B, G, R, A a premultiplied 32-bit pixel should hold, computed
// the way the device's code did: each colour times A * 0.003921569 in single
// precision, truncated.
inline std::array<uint8_t, 4> Premultiplied(const Rgba& c) {
  const float f = float(c[3]) * 0.003921569f;
  return {uint8_t(float(c[2]) * f), uint8_t(float(c[1]) * f), uint8_t(float(c[0]) * f), c[3]};
}

// A deterministic picture of the type, every sample drawn from a generator.
inline Picture MakePicture(uint32_t w, uint32_t h, int colorType, int bitDepth, bool interlaced, uint32_t seed) {
  Picture p;
  p.width = w;
  p.height = h;
  p.colorType = colorType;
  p.bitDepth = bitDepth;
  p.interlaced = interlaced;
  p.rows.assign(h, std::vector<uint8_t>(RowBytes(p)));
  uint32_t s = seed * 2654435761u + 12345;
  auto next = [&s] {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  };
  const uint32_t limit = colorType == PNG_COLOR_TYPE_PALETTE ? std::min(1u << bitDepth, 256u) : (1u << bitDepth);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (uint32_t k = 0; k < limit; ++k)
      p.palette.push_back({uint8_t(next()), uint8_t(next()), uint8_t(next())});
  }
  const size_t samples = size_t(w) * Channels(colorType);
  for (uint32_t y = 0; y < h; ++y)
    for (size_t i = 0; i < samples; ++i) SetSample(p, y, i, next() % limit);
  return p;
}

namespace detail {
struct WriteContext {
  const Picture* picture;
  png_bytep* rowPointers;
  std::vector<uint8_t>* out;
  int level;
};

inline void WriteBytes(png_structp png, png_bytep data, size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}
inline void Flush(png_structp) {}

// The jump point's function holds no C++ object.
inline bool Write(WriteContext* ctx, png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  const Picture& p = *ctx->picture;
  png_set_write_fn(png, ctx->out, WriteBytes, Flush);
  png_set_compression_level(png, ctx->level);
  png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colorType,
               p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!p.palette.empty())
    png_set_PLTE(png, info, const_cast<png_colorp>(p.palette.data()), int(p.palette.size()));
  if (!p.paletteAlpha.empty())
    png_set_tRNS(png, info, const_cast<png_bytep>(p.paletteAlpha.data()), int(p.paletteAlpha.size()), nullptr);
  if (p.trnsColor) {
    png_color_16 c = *p.trnsColor;
    png_set_tRNS(png, info, nullptr, 0, &c);
  }
  if (p.gamma) png_set_gAMA(png, info, *p.gamma);
  png_write_info(png, info);
  if (p.interlaced) png_set_interlace_handling(png);
  png_write_image(png, ctx->rowPointers);
  png_write_end(png, info);
  return true;
}
}  // namespace detail

// The PNG file of the picture; empty if libpng refused it.
inline std::vector<uint8_t> Encode(const Picture& p, int level = 6) {
  std::vector<uint8_t> out;
  std::vector<png_bytep> rowPointers;
  for (const auto& row : p.rows) rowPointers.push_back(const_cast<png_bytep>(row.data()));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  detail::WriteContext ctx{&p, rowPointers.data(), &out, level};
  const bool ok = detail::Write(&ctx, png, info);
  png_destroy_write_struct(&png, &info);
  if (!ok) out.clear();
  return out;
}

// One chunk: length, type, data and CRC.
inline std::vector<uint8_t> Chunk(const char type[4], const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  const uint32_t n = uint32_t(data.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(n >> s));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(crc >> s));
  return out;
}

inline std::vector<uint8_t> Signature() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }

inline std::vector<uint8_t> IhdrData(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0) {
  std::vector<uint8_t> d;
  for (int s = 24; s >= 0; s -= 8) d.push_back(uint8_t(w >> s));
  for (int s = 24; s >= 0; s -= 8) d.push_back(uint8_t(h >> s));
  d.insert(d.end(), {depth, type, 0, 0, interlace});
  return d;
}

// Byte offsets of the chunks of a PNG file: {type, start of length field}.
inline std::vector<std::pair<std::string, size_t>> ChunkOffsets(const std::vector<uint8_t>& file) {
  std::vector<std::pair<std::string, size_t>> out;
  size_t at = 8;
  while (at + 12 <= file.size()) {
    const uint32_t n = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
                       file[at + 3];
    out.emplace_back(std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8), at);
    at += size_t(n) + 12;
  }
  return out;
}

}  // namespace pngt
