// Pixel conversions between the screen's 16-bit formats and 8 bits per
// channel, shared by every GDI path, the text renderer and the presenter.
#pragma once

#include <cstdint>

namespace plat {

struct Rgb8 {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

// Bit replication: the top bits repeat into the low ones, so 0 stays 0 and
// the largest 5- or 6-bit value becomes 255.
constexpr Rgb8 Expand565(uint16_t p) {
  const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
  return {static_cast<uint8_t>((r << 3) | (r >> 2)), static_cast<uint8_t>((g << 2) | (g >> 4)),
          static_cast<uint8_t>((b << 3) | (b >> 2))};
}
constexpr Rgb8 Expand555(uint16_t p) {
  const uint32_t r = (p >> 10) & 0x1F, g = (p >> 5) & 0x1F, b = p & 0x1F;
  return {static_cast<uint8_t>((r << 3) | (r >> 2)), static_cast<uint8_t>((g << 3) | (g >> 2)),
          static_cast<uint8_t>((b << 3) | (b >> 2))};
}
// Truncation: the low bits are dropped.
constexpr uint16_t Pack565(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>(((r & 0xF8u) << 8) | ((g & 0xFCu) << 3) | (b >> 3));
}
constexpr uint16_t Pack555(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>(((r & 0xF8u) << 7) | ((g & 0xF8u) << 2) | (b >> 3));
}

// x / 255 rounded to the nearest integer, for 0 <= x <= 255 * 255 (x / 255
// never falls exactly halfway, so there is no tie to break).
constexpr uint32_t Div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

}  // namespace plat
