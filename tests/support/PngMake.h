// PNG pictures made in code, through libpng's simplified writer.
#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

namespace pngmake {

// RGBA pixels (0xRRGGBBAA), rows top-down, as PNG bytes; missing pixels
// are transparent black.
inline std::vector<uint8_t> MakePng(int32_t w, int32_t h, const std::vector<uint32_t>& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(w);
  image.height = uint32_t(h);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> raw(size_t(w) * size_t(h) * 4);
  for (size_t i = 0; i < rgba.size() && i < size_t(w) * size_t(h); ++i) {
    raw[i * 4] = uint8_t(rgba[i] >> 24), raw[i * 4 + 1] = uint8_t(rgba[i] >> 16);
    raw[i * 4 + 2] = uint8_t(rgba[i] >> 8), raw[i * 4 + 3] = uint8_t(rgba[i]);
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, raw.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, raw.data(), 0, nullptr);
  out.resize(size);
  return out;
}

// One colour (0xRRGGBBAA) over the whole picture.
inline std::vector<uint8_t> SolidPng(int32_t w, int32_t h, uint32_t rgba) {
  return MakePng(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), rgba));
}

}  // namespace pngmake
