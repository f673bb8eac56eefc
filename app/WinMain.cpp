#include <memory>

#include "app/PlaceholderView.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/SearchingView.h"
#include "app/SettingsScreens.h"
#include "framework/VyServices.h"
#include "platform/entry/Entry.h"
#include "vy/OptionsMenuGUI.h"

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
      else if (!(pFactory = NewSettingsScreenFactory(nViewId)))
        pFactory = new CPlaceholderFactory(nViewId);
      pApp->RegisterView(nViewId, pFactory);
    }
    pApp->SetStartView(2);
    return pApp;
  });
  SetVyServices(nullptr);
  return nExit;
}
