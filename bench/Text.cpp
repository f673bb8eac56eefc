// DrawText of one 40-character line, with the glyph cache emptied before
// every draw (cold: every glyph rendered by FreeType again) and with it warm
// (cached: what the toolkit's 35 ms frames see). The font and its advances
// are made once, outside the timing, in both.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "platform/text/Text.h"

namespace {

using namespace plat;

constexpr WChar kLine[] = u"Sing or hum a song, 40 characters long!!";
static_assert(sizeof(kLine) / sizeof(kLine[0]) - 1 == 40);

struct Scene {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HFONT font = nullptr;
  HGDIOBJ oldBitmap = nullptr, oldFont = nullptr;
  Scene() {
    // The same face every run, whatever fonts the machine has.
    const char* dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (std::filesystem::exists(dejavu)) {
      WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux\\FontFile", u"Tahoma", FromUtf8(dejavu));
    }
    BitmapInfo bi;
    bi.header.width = 480;
    bi.header.height = 60;
    bi.header.bitCount = 16;
    bi.header.compression = BI_BITFIELDS;
    bi.masks[0] = 0xF800, bi.masks[1] = 0x07E0, bi.masks[2] = 0x001F;
    dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap = CreateDIBSection(dc, bi, DIB_RGB_COLORS, &bits);
    oldBitmap = SelectObject(dc, bitmap);
    FontDesc desc;
    desc.height = -24;
    desc.weight = FW_MEDIUM;
    desc.quality = ANTIALIASED_QUALITY;
    std::u16string_view(u"Tahoma").copy(desc.faceName, 6);
    font = CreateFontIndirect(desc);
    oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    Draw();  // advances measured once
  }
  ~Scene() {
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    DeleteObject(bitmap);
    DeleteObject(font);
  }
  void Draw() {
    Rect r{0, 0, 480, 60};
    benchmark::DoNotOptimize(DrawText(dc, kLine, &r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS));
  }
};

void BM_DrawText_40Chars_Cold(benchmark::State& state) {
  Scene scene;
  for (auto _ : state) {
    state.PauseTiming();
    ResetGlyphCache();
    state.ResumeTiming();
    scene.Draw();
  }
  state.counters["glyph_misses_per_draw"] =
      static_cast<double>(GetGlyphCacheStats().misses);  // of the last draw
}
BENCHMARK(BM_DrawText_40Chars_Cold)->Unit(benchmark::kMicrosecond);

void BM_DrawText_40Chars_Cached(benchmark::State& state) {
  Scene scene;
  scene.Draw();
  ResetGlyphCache();
  scene.Draw();
  for (auto _ : state) scene.Draw();
  const GlyphCacheStats st = GetGlyphCacheStats();
  state.counters["hit_rate"] = static_cast<double>(st.hits) / static_cast<double>(st.hits + st.misses);
}
BENCHMARK(BM_DrawText_40Chars_Cached)->Unit(benchmark::kMicrosecond);

}  // namespace
