// DrawText of one 40-character line, Latin and Arabic (the Arabic module's
// own text, shaped and ordered right to left), with the glyph cache emptied
// before every draw (cold: every glyph rendered by FreeType again, every text
// shaped again) and with it warm (cached: what the toolkit's 35 ms frames
// see). The font and its advances are made once, outside the timing, in both.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "platform/text/Text.h"

namespace {

using namespace plat;

constexpr WChar kLine[] = u"Sing or hum a song, 40 characters long!!";
static_assert(sizeof(kLine) / sizeof(kLine[0]) - 1 == 40);
// "Hold your phone close to the music that is playing."
constexpr WChar kArabicLine[] = u"\u0642\u0631\u0628 \u0647\u0627\u062a\u0641\u0643 \u0645\u0646 "
                                u"\u0627\u0644\u0645\u0648\u0633\u064a\u0642\u0649 \u0627\u0644\u062a\u064a "
                                u"\u064a\u062c\u0631\u064a \u062a\u0634\u063a\u064a\u0644\u0647\u0627.";
static_assert(sizeof(kArabicLine) / sizeof(kArabicLine[0]) - 1 == 40);

struct Scene {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HFONT font = nullptr;
  HGDIOBJ oldBitmap = nullptr, oldFont = nullptr;
  const WChar* line;
  explicit Scene(const WChar* text) : line(text) {
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
    benchmark::DoNotOptimize(DrawText(dc, line, &r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS));
  }
};

void Cold(benchmark::State& state, const WChar* line) {
  Scene scene(line);
  for (auto _ : state) {
    state.PauseTiming();
    ResetGlyphCache();
    state.ResumeTiming();
    scene.Draw();
  }
  state.counters["glyph_misses_per_draw"] =
      static_cast<double>(GetGlyphCacheStats().misses);  // of the last draw
}

void Cached(benchmark::State& state, const WChar* line) {
  Scene scene(line);
  scene.Draw();
  ResetGlyphCache();
  scene.Draw();
  for (auto _ : state) scene.Draw();
  const GlyphCacheStats st = GetGlyphCacheStats();
  state.counters["hit_rate"] = static_cast<double>(st.hits) / static_cast<double>(st.hits + st.misses);
}

void BM_DrawText_40Chars_Cold(benchmark::State& state) { Cold(state, kLine); }
BENCHMARK(BM_DrawText_40Chars_Cold)->Unit(benchmark::kMicrosecond);
void BM_DrawText_40Chars_Cached(benchmark::State& state) { Cached(state, kLine); }
BENCHMARK(BM_DrawText_40Chars_Cached)->Unit(benchmark::kMicrosecond);
void BM_DrawText_40Arabic_Cold(benchmark::State& state) { Cold(state, kArabicLine); }
BENCHMARK(BM_DrawText_40Arabic_Cold)->Unit(benchmark::kMicrosecond);
void BM_DrawText_40Arabic_Cached(benchmark::State& state) { Cached(state, kArabicLine); }
BENCHMARK(BM_DrawText_40Arabic_Cached)->Unit(benchmark::kMicrosecond);

}  // namespace
