#include <memory>

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/ScreenFactory.h"
#include "app/SearchingView.h"
#include "app/SettingsScreens.h"
#include "framework/basetypes.h"
#include "framework/VyServices.h"
#include "platform/entry/Entry.h"
#include "vy/OptionsMenuGUI.h"

namespace {

// The views in registration order.
constexpr int32_t kAppViews[] = {2, 4, 18, 19, 5, 6, 8, 10, 11, 12, 13, 14, 15, 16, 21, 22};

}  // namespace

int WinMain(plat::ModuleHandle hInstance, plat::ModuleHandle, const plat::WChar*, int nShowCmd) {
  // The options menu and the frame skin are the toolkit's.
  SetVyServices(&ToolkitServices());
  int nExit = RunApplication([&]() -> std::unique_ptr<CAppUi> {
    auto pApp = std::make_unique<CQuorelAppUi>();
    pApp->Init(hInstance, nShowCmd);
    for (int32_t nViewId : kAppViews) {
      CViewFactory* pFactory = nullptr;
      if (nViewId == 2)
        pFactory = new CRecorderViewFactory();
      else if (nViewId == 12)
        pFactory = new CSearchingViewFactory();
      else if (!(pFactory = NewResultScreenFactory(nViewId)))
        pFactory = NewSettingsScreenFactory(nViewId);
      // Every view the commands can open has its screen; one without is a
      // build that lost a screen, not something to run with.
      if (!pFactory) QUOREL_PANIC(u"WinMain", 30);
      pApp->RegisterView(nViewId, pFactory);
    }
    pApp->SetStartView(2);
    return pApp;
  });
  SetVyServices(nullptr);
  return nExit;
}
