// PNG encoding through libpng with every choice pinned down (compression
// level, filters, no time or text chunks), so the same picture always gives
// the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/artgen/Canvas.h"

namespace artgen {

// `rgb` drops the alpha channel (colour type 2); otherwise colour type 6.
// Throws std::runtime_error when libpng fails.
std::vector<uint8_t> EncodePng(const Image& image, bool rgb);

}  // namespace artgen
