// The program's application object with the recorder and searching screens,
// every text and picture slot registered and a scripted recorder.
#pragma once

#include "AppHarness.h"
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
    MakeApp(true, false, {}, [] {
      for (int32_t nSlot = 0; nSlot < 390; ++nSlot)
        if (nSlot < 139 || nSlot > 148)
          CResources::RegisterImageSource(nSlot, new widgettest::TSolidImage(8, 8, 0x304050u));
      // The harness's own texts stay.
      for (int32_t nId = 1; nId < 232; ++nId) {
        try {
          CResources::RegisterStringSource(nId, new searchtest::TStringSource(nId));
        } catch (const Env::TSysErrorCode&) {
        }
      }
    });
  }
  static void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) CEvent::FireEvent<TimerTickEvent>(TNoPayload{});
  }
  // Factories of the other views a test wants; null: a plain view.
  std::function<CViewFactory*(int32_t)> m_otherViews;
  int m_nRan = 0;  // steps that ran to their end
};

}  // namespace screentest
