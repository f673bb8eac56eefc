#include <memory>

#include "app/PlaceholderView.h"
#include "app/QuorelAppUi.h"
#include "platform/entry/Entry.h"

int WinMain(plat::ModuleHandle hInstance, plat::ModuleHandle, const plat::WChar*, int nShowCmd) {
  return RunApplication([&]() -> std::unique_ptr<CAppUi> {
    auto pApp = std::make_unique<CQuorelAppUi>();
    pApp->Init(hInstance, nShowCmd);
    for (int32_t nViewId : kAppViews) pApp->RegisterView(nViewId, new CPlaceholderFactory(nViewId));
    pApp->SetStartView(2);
    return pApp;
  });
}
