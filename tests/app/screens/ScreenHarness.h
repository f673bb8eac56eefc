// The program's application object with the recorder and searching screens,
// every text and picture slot registered (each picture a solid colour of its
// own, the wait panel's veil clear) and a scripted recorder.
#pragma once

#include <map>

#include "AppHarness.h"
#include "app/LanguageTable.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderView.h"
#include "app/SearchingView.h"
#include "framework/Resources.h"
#include "tests/framework/widgets_test_support.h"

namespace screentest {

class ScreenHarness : public searchtest::AppHarness {
 protected:
  void MakeScreens() {
    m_makeFactory = [this](int32_t nView) -> CViewFactory* {
      if (nView == 2) return new CRecorderViewFactory();
      if (nView == 12) return new CSearchingViewFactory();
      if (CViewFactory* p = m_otherViews ? m_otherViews(nView) : nullptr) return p;
      return new searchtest::TPlainFactory();
    };
    MakeApp(true, false, {}, [this] {
      for (int32_t nSlot = 0; nSlot < 390; ++nSlot)
        if (nSlot < 139 || nSlot > 148)
          CResources::RegisterImageSource(nSlot, nSlot == CPanelDialog::kBackgroundImage
                                                     ? static_cast<IImageSource*>(new TClearImage())
                                                     : new widgettest::TSolidImage(8, 8, SlotColour(nSlot)));
      // The harness's own texts stay.
      for (int32_t nId = 1; nId < 232; ++nId) {
        try {
          auto it = m_texts.find(nId);
          CResources::RegisterStringSource(nId, it != m_texts.end()
                                                    ? static_cast<IStringSource*>(new CConstString(it->second))
                                                    : new searchtest::TStringSource(nId));
        } catch (const Env::TSysErrorCode&) {
        }
      }
    });
  }
  // Every picture its own colour, even in RGB565, so a pixel names its slot.
  static TColor SlotColour(int32_t nSlot) {
    return 0x40u | uint32_t((nSlot >> 5) + 16) << 10 | uint32_t(nSlot & 31) << 19;
  }
  // The wait panel's veil: clear, so the screen below it reads as drawn.
  class TClearImage : public IImageSource {
   public:
    CBitmap* Get() override {
      gfx::Surface s(4, 4);
      s.Fill(0);
      return s.ToBitmap(true);
    }
  };
  static void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) CEvent::FireEvent<TimerTickEvent>(TNoPayload{});
  }
  // Texts in place of the harness's "S<id>".
  std::map<int32_t, plat::WString> m_texts;
  // Factories of the other views a test wants; null: a plain view.
  std::function<CViewFactory*(int32_t)> m_otherViews;
  int m_nRan = 0;  // steps that ran to their end
};

}  // namespace screentest
