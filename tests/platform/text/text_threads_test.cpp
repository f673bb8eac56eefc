// Text and GDI objects from several threads at once: the font engine, the
// glyph cache and the handle table are shared, so every thread must still
// get exactly the pixels it would get alone.
#include <gtest/gtest.h>

#include <thread>

#include "../gdi/GdiTestUtil.h"
#include "TextTestUtil.h"

using namespace plat;

namespace {

class TextThreadsTest : public tt::TextTest {};

std::vector<uint32_t> Render(WStringView text, int height) {
  HFONT font = tt::MakeFont(height);
  gt::Dib d(gt::Fmt::Bgra, 160, 40);
  HGDIOBJ old = SelectObject(d.dc(), font);
  SetTextColor(d.dc(), RGB(10, 120, 240));
  Rect r{0, 0, 160, 40};
  DrawText(d.dc(), text, &r, DT_WORDBREAK | DT_CENTER);
  SelectObject(d.dc(), old);
  DeleteObject(font);
  return d.Pixels();
}

TEST_F(TextThreadsTest, ConcurrentDrawingMatchesDrawingAlone) {
  const WString texts[] = {u"Alpha beta gamma", u"\u00c9t\u00e9 d\u00e9j\u00e0 vu", u"0123456789 wxyz",
                           u"Quorel &Co."};
  std::vector<std::vector<uint32_t>> alone;
  for (const WString& t : texts) alone.push_back(Render(t, -15));
  ResetGlyphCache(16);  // small enough that threads evict each other's glyphs
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 40; ++round) {
        const size_t k = size_t(i + round) % 4;
        if (Render(texts[k], -15) != alone[k]) ++mismatches[size_t(i)];
        // Handle churn alongside.
        HRGN r = CreateRectRgn(0, 0, i + 1, round + 1);
        HBRUSH b = CreateSolidBrush(RGB(i, round, 0));
        DeleteObject(b);
        DeleteObject(r);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ResetGlyphCache(4096);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(mismatches[size_t(i)], 0) << "thread " << i;
}

}  // namespace
