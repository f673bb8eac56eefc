#include "app/SettingsScreens.h"

#include "app/CreditsView.h"
#include "app/HelpView.h"
#include "app/LanguageView.h"
#include "app/MessageView.h"
#include "app/NetworkSelectView.h"
#include "app/SettingsView.h"
#include "app/TermsView.h"

CViewFactory* NewSettingsScreenFactory(int32_t nViewId) {
  switch (nViewId) {
    case 5: return new CNewViewFactory(CSettingsView::NewView);
    case 6: return new CNewViewFactory(CTermsView::NewView);
    case 8: return new CNewViewFactory(CSearchLanguageView::NewView);
    case 16: return new CNewViewFactory(CMessageView::NewView);
    case 18: return new CNewViewFactory(CHelpView::NewView);
    case 19: return new CNewViewFactory(CCreditsView::NewView);
    case 21: return new CNewViewFactory(CLanguageView::NewView);
    case 22: return new CNewViewFactory(CNetworkSelectView::NewView);
    default: return nullptr;
  }
}
