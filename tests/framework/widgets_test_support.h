// The widget tests' fixture: the test application with pictures of known
// sizes and solid colours in the resource registry, ticks fired by hand and
// pixels read back from the framebuffer after a flush.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/Resources.h"
#include "tests/framework/appui_test_support.h"
#include "tests/framework/graphics_test_util.h"

namespace widgettest {

class TSolidImage : public IImageSource {
 public:
  TSolidImage(int32_t w, int32_t h, TColor colour) : m_w(w), m_h(h), m_colour(colour) {}
  CBitmap* Get() override {
    gfx::Surface s(m_w, m_h);
    s.Fill(m_colour | 0xFF000000u);
    return s.ToBitmap(false);
  }

 private:
  int32_t m_w, m_h;
  TColor m_colour;
};

// Counts its calls and remembers the last argument.
struct TCounter {
  int n = 0;
  intptr_t last = -1;
  void Hit(void* p) {
    ++n;
    last = reinterpret_cast<intptr_t>(p);
  }
  CDelegate Delegate() { return CDelegate::Member<&TCounter::Hit>(this); }
};

class WidgetFixture : public apptest::AppFixture {
 protected:
  // Runs `body` once inside the application's loop, with the test font.
  void InApp(const std::function<void()>& body) {
    MakeApp();
    Run({[&] {
      gfx::PinTestFont();
      body();
    }});
  }
  static void RegisterSolid(int32_t nSlot, int32_t w, int32_t h, TColor colour) {
    CResources::RegisterImageSource(nSlot, new TSolidImage(w, h, colour));
  }
  static void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) CEvent::FireEvent<TimerTickEvent>(TNoPayload{});
  }
  // Paints the control's top-level ancestor over the control now.
  static void Flush(CControl* p) {
    CControl* pTop = p;
    while (pTop->Parent() && pTop->Parent() != CAppUi::Instance()) pTop = pTop->Parent();
    pTop->Invalidate();
    pTop->FlushPaint();
  }
  // The screen pixel at a point local to the control.
  uint16_t Px(CControl* p, int32_t x, int32_t y) const {
    RECT rc = p->ScreenRect();
    return m_tp->Pixel(rc.left + x, rc.top + y);
  }
  static int Count(const std::string& what) {
    auto played = Played();
    return static_cast<int>(std::count(played.begin(), played.end(), what));
  }
  static constexpr const char* kPressFeedback = "v \\Windows\\press.ivt";
  static constexpr const char* kReleaseFeedback = "v \\Windows\\release.ivt";
  static uint16_t C(TColor c) { return apptest::To565(c); }
};

// Expects a TPanic from `f` with the unit and line.
template <class F>
void ExpectPanic(F&& f, const std::u16string& unit, int32_t line) {
  try {
    f();
    ADD_FAILURE() << "no panic, expected line " << line;
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source ? p.source : u""), unit);
    EXPECT_EQ(p.line, line);
  }
}

}  // namespace widgettest
