// Pictures: decoding a full-screen (480 x 800) RGBA PNG, and fetching it
// scaled from the resource registry, cold (decode and scale) and cached.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "framework/Graphics.h"
#include "framework/PngLoader.h"
#include "framework/Resources.h"
#include "tests/framework/png_test_util.h"

namespace {

// A screen-like picture: smooth gradients with a little texture and a
// translucent band, so that it compresses like interface art does.
const std::vector<uint8_t>& ScreenPng() {
  static const std::vector<uint8_t> file = [] {
    pngt::Picture p;
    p.width = 480;
    p.height = 800;
    p.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    p.bitDepth = 8;
    p.rows.assign(p.height, std::vector<uint8_t>(size_t(p.width) * 4));
    for (uint32_t y = 0; y < p.height; ++y)
      for (uint32_t x = 0; x < p.width; ++x) {
        uint8_t* px = &p.rows[y][size_t(x) * 4];
        px[0] = uint8_t(x * 255 / p.width);
        px[1] = uint8_t(y * 255 / p.height);
        px[2] = uint8_t((x ^ y) & 0x1F) + 96;
        px[3] = (y / 40) % 4 == 1 ? 160 : 255;
      }
    return pngt::Encode(p);
  }();
  return file;
}

class CPngSource : public IImageSource {
 public:
  CBitmap* Get() override {
    const std::vector<uint8_t>& file = ScreenPng();
    return CBitmap::FromHandle(LoadPngImage(file.data(), file.size()), true);
  }
};

void BM_DecodePng480x800(benchmark::State& state) {
  const std::vector<uint8_t>& file = ScreenPng();
  for (auto _ : state) {
    plat::HBITMAP bitmap = LoadPngImage(file.data(), file.size());
    if (!bitmap) state.SkipWithError("decode failed");
    plat::DeleteObject(bitmap);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}
BENCHMARK(BM_DecodePng480x800)->Unit(benchmark::kMillisecond);

void BM_ScaleSmooth480x800To240x400(benchmark::State& state) {
  const std::vector<uint8_t>& file = ScreenPng();
  CBitmap* source = CBitmap::FromHandle(LoadPngImage(file.data(), file.size()), true);
  for (auto _ : state) {
    CBitmap* scaled = CBitmap::NewScaledSmooth(source, {0, 0, 240, 400}, EScaleProportional);
    scaled->removeReference();
  }
  source->removeReference();
}
BENCHMARK(BM_ScaleSmooth480x800To240x400)->Unit(benchmark::kMillisecond);

// Cold: every fetch decodes and scales (the caches were just cleared, as
// after a rotation). Cached: the same request again.
void BM_RegistryScaledFetch(benchmark::State& state) {
  const bool cold = state.range(0) != 0;
  CResources::Create();
  CResources::RegisterImageSource(1, new CPngSource);
  const RECT target{0, 0, 240, 400};
  CResources::GetImage(1, EScaleProportional, target)->removeReference();
  for (auto _ : state) {
    if (cold) CResources::ClearCaches();
    CBitmap* bitmap = CResources::GetImage(1, EScaleProportional, target);
    benchmark::DoNotOptimize(bitmap->Handle());
    bitmap->removeReference();
  }
  CResources::Destroy();
}
BENCHMARK(BM_RegistryScaledFetch)->Arg(1)->ArgName("cold")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RegistryScaledFetch)->Arg(0)->ArgName("cold")->Unit(benchmark::kMicrosecond);

}  // namespace
