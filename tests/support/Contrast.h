// Contrast between two colours as a reader sees it: the ratio of their
// relative luminances, each plus 0.05, larger over smaller (1 to 21; 3 is
// the least that large text needs, 4.5 the least for body text). Colours
// are the 16-bit pixels the screen holds.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace support {

inline double Luminance565(uint16_t pixel) {
  auto linear = [](uint32_t value, uint32_t top) {
    const double c = double(value) / top;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(pixel >> 11, 31) + 0.7152 * linear((pixel >> 5) & 0x3F, 63) + 0.0722 * linear(pixel & 0x1F, 31);
}

inline double Contrast565(uint16_t a, uint16_t b) {
  const double la = Luminance565(a), lb = Luminance565(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace support
