#include "tools/artgen/Png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace artgen {

namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void Flush(png_structp) {}

// libpng reports failures by longjmp; the message is kept for the exception
// thrown once control is back in C++ frames.
char g_message[256];

void Error(png_structp png, png_const_charp message) {
  std::snprintf(g_message, sizeof g_message, "%s", message);
  png_longjmp(png, 1);
}

void Warning(png_structp, png_const_charp) {}

// Only plain C objects live in this frame, so the longjmp skips nothing that
// needs destroying.
bool Write(png_structp png, png_infop info, std::vector<uint8_t>* out, const uint8_t* pixels, int width,
           int height, bool rgb) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, Append, Flush);
  png_set_IHDR(png, info, width, height, 8, rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_set_compression_mem_level(png, 9);
  png_set_compression_strategy(png, 0);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  png_write_info(png, info);
  const size_t stride = static_cast<size_t>(width) * (rgb ? 3 : 4);
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(pixels + y * stride));
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const Image& image, bool rgb) {
  std::vector<uint8_t> rows;
  if (rgb) {
    rows.reserve(static_cast<size_t>(image.width) * image.height * 3);
    for (size_t i = 0; i < image.rgba.size(); i += 4) rows.insert(rows.end(), &image.rgba[i], &image.rgba[i] + 3);
  }
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Error, Warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  g_message[0] = '\0';
  const bool ok = info && Write(png, info, &out, rgb ? rows.data() : image.rgba.data(), image.width,
                                image.height, rgb);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) throw std::runtime_error(std::string("libpng: ") + (g_message[0] ? g_message : "cannot write"));
  return out;
}

}  // namespace artgen
