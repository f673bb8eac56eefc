// The blits' compositing core: pixman images over GDI surfaces (no copies)
// and the one composite call the blits make. Internal to GDI.
//
// pixman's arithmetic is the layer's own: source-over multiplies with x / 255
// rounded, adds with saturation, expands 16-bit pixels by bit replication
// and packs them by truncation. Nearest-neighbour scaling matches the
// layer's sampling rule only where the scale is exact in pixman's 16.16
// fixed point; NearestTransform says when.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <optional>

#include "platform/gdi/GdiPrivate.h"

namespace plat::gdi {

class PixmanImage {
 public:
  PixmanImage() = default;
  // A view of the surface's memory. With `opaque`, a 32-bit surface's alpha
  // byte is read as 255 (and written as it comes).
  PixmanImage(const Surface& surface, bool opaque);
  // A solid mask of the given alpha, for constant-alpha blends.
  static PixmanImage SolidAlpha(uint8_t alpha);
  // Premultiplied 32-bit pixels of pixman's own, contents undefined.
  static PixmanImage Scratch(int32_t width, int32_t height);
  ~PixmanImage();
  PixmanImage(PixmanImage&& other) noexcept;
  PixmanImage& operator=(PixmanImage&& other) noexcept;
  PixmanImage(const PixmanImage&) = delete;
  PixmanImage& operator=(const PixmanImage&) = delete;

  pixman_image_t* get() const { return m_image; }
  // False when pixman could not make the image (no memory): the blits then
  // use their own loops.
  explicit operator bool() const { return m_image != nullptr; }

 private:
  explicit PixmanImage(pixman_image_t* image) : m_image(image) {}
  pixman_image_t* m_image = nullptr;
};

// Whether pixman can address the surface: 16.16 fixed point limits sizes to
// below 32768, and rows must start on 4-byte boundaries.
bool PixmanCanWrap(const Surface& surface);

// The nearest-neighbour transform taking destination offsets within a span
// of `length` (x) and `lengthY` (y) to source positions start + floor((2i +
// 1) * sourceLength / (2 * length)), or nothing when pixman's 16.16 sampling
// would not land on exactly those pixels: the scale must be a multiple of
// 2^-15 and every position must fit the fixed-point range.
std::optional<pixman_transform_t> NearestTransform(int64_t startX, int64_t sourceWidth, int64_t width,
                                                   int64_t startY, int64_t sourceHeight, int64_t height);

}  // namespace plat::gdi
