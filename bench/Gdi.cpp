// The three blits over a whole 480 x 800 frame, each against a plain memcpy
// of the frame's bytes in the same run: the counter x_memcpy is the blit's
// time per frame divided by memcpy's (1.0 = as fast as copying the frame).
// Destinations are RGB565, as the program's off-screen bitmap and screen are,
// so "the frame's bytes" is 480 * 800 * 2 = 768000 for every case.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench/MemcpyAnchor.h"
#include "platform/gdi/Gdi.h"

namespace {

using namespace plat;

constexpr int32_t kWidth = 480, kHeight = 800;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;

struct Surface {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  Surface(int32_t w, int32_t h, int bpp) {
    BitmapInfo bi;
    bi.header.width = w;
    bi.header.height = h;  // bottom-up, as the program makes them
    bi.header.bitCount = static_cast<uint16_t>(bpp);
    bi.header.compression = BI_BITFIELDS;
    if (bpp == 16) {
      bi.masks[0] = 0xF800, bi.masks[1] = 0x07E0, bi.masks[2] = 0x001F;
    } else {
      bi.masks[0] = 0x00FF0000, bi.masks[1] = 0x0000FF00, bi.masks[2] = 0x000000FF;
    }
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, bi, DIB_RGB_COLORS, &bits);
    old = SelectObject(dc, bitmap);
  }
  ~Surface() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

// A premultiplied picture with every kind of pixel: opaque, clear and
// partly transparent, in bands as pictures have them.
void FillPicture(Surface& s, int32_t w, int32_t h) {
  auto* px = static_cast<uint32_t*>(s.bits);
  for (int32_t i = 0; i < w * h; ++i) {
    const uint32_t a = (i / 7) % 3 == 0 ? 255 : (i / 7) % 3 == 1 ? 0 : static_cast<uint32_t>(i % 251);
    const uint32_t c = a * 3 / 4;
    px[i] = a << 24 | c << 16 | (a / 2) << 8 | c / 3;
  }
}

template <class Op>
void Run(benchmark::State& state, Op op) {
  bench::RunAgainstMemcpy(state, kFrameBytes, op);
}

void BM_BitBlt_565_Frame(benchmark::State& state) {
  Surface src(kWidth, kHeight, 16), dst(kWidth, kHeight, 16);
  std::memset(src.bits, 0x3C, kFrameBytes);
  Run(state, [&] { BitBlt(dst.dc, 0, 0, kWidth, kHeight, src.dc, 0, 0, SRCCOPY); });
}
BENCHMARK(BM_BitBlt_565_Frame)->Unit(benchmark::kMicrosecond);

// The flush's case: a clip with a hole where a higher window is.
void BM_BitBlt_565_FrameWithHole(benchmark::State& state) {
  Surface src(kWidth, kHeight, 16), dst(kWidth, kHeight, 16);
  ExcludeClipRect(dst.dc, 0, 736, kWidth, kHeight);
  ExcludeClipRect(dst.dc, 100, 100, 300, 200);
  Run(state, [&] { BitBlt(dst.dc, 0, 0, kWidth, kHeight, src.dc, 0, 0, SRCCOPY); });
}
BENCHMARK(BM_BitBlt_565_FrameWithHole)->Unit(benchmark::kMicrosecond);

// A half-size picture stretched over the frame.
void BM_StretchBlt_565_Frame(benchmark::State& state) {
  Surface src(kWidth / 2, kHeight / 2, 16), dst(kWidth, kHeight, 16);
  SetStretchBltMode(dst.dc, COLORONCOLOR);
  Run(state, [&] { StretchBlt(dst.dc, 0, 0, kWidth, kHeight, src.dc, 0, 0, kWidth / 2, kHeight / 2, SRCCOPY); });
}
BENCHMARK(BM_StretchBlt_565_Frame)->Unit(benchmark::kMicrosecond);

void BM_AlphaBlend_32on565_Frame(benchmark::State& state) {
  Surface src(kWidth, kHeight, 32), dst(kWidth, kHeight, 16);
  FillPicture(src, kWidth, kHeight);
  Run(state, [&] { AlphaBlend(dst.dc, 0, 0, kWidth, kHeight, src.dc, 0, 0, kWidth, kHeight, BlendFunc{}); });
}
BENCHMARK(BM_AlphaBlend_32on565_Frame)->Unit(benchmark::kMicrosecond);

// Constant alpha as well: the general path.
void BM_AlphaBlend_32on565_Frame_Constant128(benchmark::State& state) {
  Surface src(kWidth, kHeight, 32), dst(kWidth, kHeight, 16);
  FillPicture(src, kWidth, kHeight);
  Run(state, [&] {
    AlphaBlend(dst.dc, 0, 0, kWidth, kHeight, src.dc, 0, 0, kWidth, kHeight,
               BlendFunc{AC_SRC_OVER, 0, 128, AC_SRC_ALPHA});
  });
}
BENCHMARK(BM_AlphaBlend_32on565_Frame_Constant128)->Unit(benchmark::kMicrosecond);

}  // namespace
