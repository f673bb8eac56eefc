// Fuzz target for the PNG loader: any bytes must give either none or a
// bitmap within the size bound whose pixels are properly premultiplied;
// never a crash, a hang, an over-read or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <zlib.h>

#include "framework/PngLoader.h"
#include "platform/base/Debug.h"

namespace {

// Mutations almost never keep a chunk's CRC right, so libpng would stop at
// the first chunk they touch. For inputs of even length the target repairs
// every complete chunk's CRC first, letting the mutations reach the header
// and row handling; odd lengths keep the CRC paths under test.
std::vector<uint8_t> WithRepairedCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(data, data + size);
  size_t at = 8;
  while (at + 12 <= out.size()) {
    const uint64_t length = uint64_t(out[at]) << 24 | uint64_t(out[at + 1]) << 16 | uint64_t(out[at + 2]) << 8 |
                            out[at + 3];
    if (length > out.size() - at - 12) break;
    const uLong crc = crc32(0, out.data() + at + 4, uInt(length + 4));
    uint8_t* p = out.data() + at + 8 + length;
    p[0] = uint8_t(crc >> 24), p[1] = uint8_t(crc >> 16), p[2] = uint8_t(crc >> 8), p[3] = uint8_t(crc);
    at += size_t(length) + 12;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every rejected input writes a trace line; keep them off the terminal.
  static const bool kQuiet = [] {
    plat::SetDebugSink([](plat::WStringView) {});
    return true;
  }();
  (void)kQuiet;

  std::vector<uint8_t> repaired;
  if (size % 2 == 0 && size > 8) {
    repaired = WithRepairedCrcs(data, size);
    data = repaired.data();
  }
  plat::HBITMAP bitmap = LoadPngImage(data, size);
  if (!bitmap) return 0;
  plat::BitmapDesc desc;
  if (plat::GetObject(bitmap, &desc) == 0 || desc.bitsPixel != 32 || desc.width < 1 || desc.height < 1 ||
      uint64_t(desc.width) * uint64_t(desc.height) > kMaxPngPixels)
    std::abort();
  const auto* bits = static_cast<const uint8_t*>(desc.bits);
  for (int32_t y = 0; y < desc.height; ++y) {
    const uint8_t* p = bits + size_t(y) * size_t(desc.widthBytes);
    for (int32_t x = 0; x < desc.width; ++x, p += 4)
      if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]) std::abort();
  }
  plat::DeleteObject(bitmap);
  return 0;
}
