#include "platform/gdi/PixmanImage.h"

#include <cstdlib>
#include <utility>

namespace plat::gdi {

namespace {

constexpr int64_t kFixedLimit = 32767;  // the largest integer 16.16 holds

pixman_format_code_t FormatOf(PixelFormat format, bool opaque) {
  switch (format) {
    case PixelFormat::Rgb565: return PIXMAN_r5g6b5;
    case PixelFormat::Rgb555: return PIXMAN_x1r5g5b5;
    case PixelFormat::Bgra32: return opaque ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8;
  }
  return PIXMAN_a8r8g8b8;
}

bool FitsFixed(int64_t v) { return v >= -kFixedLimit && v <= kFixedLimit; }

}  // namespace

bool PixmanCanWrap(const Surface& s) {
  return s.width <= kFixedLimit && s.height <= kFixedLimit && reinterpret_cast<uintptr_t>(s.top) % 4 == 0 &&
         s.pitch % 4 == 0;
}

PixmanImage::PixmanImage(const Surface& s, bool opaque)
    : m_image(pixman_image_create_bits_no_clear(FormatOf(s.format, opaque), s.width, s.height,
                                                reinterpret_cast<uint32_t*>(s.top), static_cast<int>(s.pitch))) {}

PixmanImage PixmanImage::SolidAlpha(uint8_t alpha) {
  const pixman_color_t colour{0, 0, 0, static_cast<uint16_t>(alpha * 257)};
  return PixmanImage(pixman_image_create_solid_fill(&colour));
}

PixmanImage PixmanImage::Scratch(int32_t width, int32_t height) {
  return PixmanImage(pixman_image_create_bits_no_clear(PIXMAN_a8r8g8b8, width, height, nullptr, 0));
}

PixmanImage::~PixmanImage() {
  if (m_image) pixman_image_unref(m_image);
}

PixmanImage::PixmanImage(PixmanImage&& other) noexcept : m_image(std::exchange(other.m_image, nullptr)) {}

PixmanImage& PixmanImage::operator=(PixmanImage&& other) noexcept {
  std::swap(m_image, other.m_image);
  return *this;
}

std::optional<pixman_transform_t> NearestTransform(int64_t startX, int64_t sourceWidth, int64_t width,
                                                   int64_t startY, int64_t sourceHeight, int64_t height) {
  // pixman samples destination offset i at floor((T(i + 1/2) - 2^-16) in
  // 16.16. With T(u) = u * sourceLength / length + start + 2^-16 and the
  // scale an even number of 2^-16 steps, T(i + 1/2) is exact and the floor
  // is the layer's rule.
  auto scale = [](int64_t sourceLength, int64_t length) -> std::optional<int64_t> {
    if (length <= 0 || sourceLength <= 0 || (sourceLength << 15) % length != 0) return std::nullopt;
    const int64_t steps = (sourceLength << 16) / length;
    if (steps > int64_t{INT32_MAX}) return std::nullopt;
    return steps;
  };
  const auto sxScale = scale(sourceWidth, width), syScale = scale(sourceHeight, height);
  if (!sxScale || !syScale || !FitsFixed(startX) || !FitsFixed(startY) || !FitsFixed(startX + sourceWidth) ||
      !FitsFixed(startY + sourceHeight) || !FitsFixed(width) || !FitsFixed(height))
    return std::nullopt;
  pixman_transform_t t;
  pixman_transform_init_identity(&t);
  t.matrix[0][0] = static_cast<pixman_fixed_t>(*sxScale);
  t.matrix[0][2] = pixman_int_to_fixed(static_cast<int32_t>(startX)) + pixman_fixed_e;
  t.matrix[1][1] = static_cast<pixman_fixed_t>(*syScale);
  t.matrix[1][2] = pixman_int_to_fixed(static_cast<int32_t>(startY)) + pixman_fixed_e;
  return t;
}

}  // namespace plat::gdi
