#include "app/SettingsScreens.h"

#include <algorithm>

#include "app/CreditsView.h"
#include "app/HelpView.h"
#include "app/LanguageView.h"
#include "app/MessageView.h"
#include "app/NetworkSelectView.h"
#include "app/SettingsView.h"
#include "app/TermsView.h"

bool IsSettingsScreenView(int32_t nViewId) {
  return std::find(std::begin(kSettingsScreenViews), std::end(kSettingsScreenViews), nViewId) !=
         std::end(kSettingsScreenViews);
}

void RegisterSettingsScreens(CAppUi& app) {
  const std::pair<int32_t, CNewViewFactory::TNew> views[] = {
      {5, CSettingsView::NewView},  {6, CTermsView::NewView},    {8, CSearchLanguageView::NewView},
      {16, CMessageView::NewView},  {18, CHelpView::NewView},    {19, CCreditsView::NewView},
      {21, CLanguageView::NewView}, {22, CNetworkSelectView::NewView},
  };
  for (const auto& [nId, pNew] : views) app.RegisterView(nId, new CNewViewFactory(pNew));
}
