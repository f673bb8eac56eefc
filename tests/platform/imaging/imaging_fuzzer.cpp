// Fuzz target for the toolkit's decoder: any bytes give either an error or an
// image within the size bound whose bitmaps can be made, locked and read;
// never a crash, a hang, an over-read or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/imaging/Imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plat::ImagingFactory factory;
  std::unique_ptr<plat::DecodedImage> image;
  if (factory.CreateImageFromBytes(std::span<const uint8_t>(data, size), image) < 0) return 0;
  const plat::ImageInfo info = image->Info();
  if (info.width < 1 || info.height < 1 || uint64_t(info.width) * uint64_t(info.height) > plat::kMaxImagePixels)
    std::abort();
  if (image->PhysicalSize().cx < 0 || image->PhysicalSize().cy < 0) std::abort();
  for (uint32_t format : {plat::PixelFormat32bppARGB, plat::PixelFormat16bppRGB565}) {
    std::unique_ptr<plat::BitmapImage> bitmap;
    const int32_t w = info.width % 17 + 1, h = info.height % 13 + 1;
    if (factory.CreateBitmapFromImage(*image, w, h, format, plat::InterpolationHint::Averaging, bitmap) < 0)
      continue;
    plat::BitmapData locked;
    if (bitmap->LockBits({0, 0, w, h}, plat::ImageLockModeRead, format, locked) < 0) std::abort();
    uint32_t sum = 0;
    const auto* bytes = static_cast<const uint8_t*>(locked.scan0);
    for (int32_t y = 0; y < h; ++y) sum += bytes[size_t(y) * size_t(locked.stride)];
    (void)sum;
    bitmap->UnlockBits(locked);
  }
  return 0;
}
