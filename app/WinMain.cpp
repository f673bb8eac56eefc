#include <memory>

#include "app/PlaceholderView.h"
#include "app/QuorelAppUi.h"
#include "framework/VyServices.h"
#include "platform/entry/Entry.h"
#include "vy/OptionsMenuGUI.h"

int WinMain(plat::ModuleHandle hInstance, plat::ModuleHandle, const plat::WChar*, int nShowCmd) {
  // The options menu and the frame skin are the toolkit's.
  SetVyServices(&ToolkitServices());
  int nExit = RunApplication([&]() -> std::unique_ptr<CAppUi> {
    auto pApp = std::make_unique<CQuorelAppUi>();
    pApp->Init(hInstance, nShowCmd);
    for (int32_t nViewId : kAppViews) pApp->RegisterView(nViewId, new CPlaceholderFactory(nViewId));
    pApp->SetStartView(2);
    return pApp;
  });
  SetVyServices(nullptr);
  return nExit;
}
