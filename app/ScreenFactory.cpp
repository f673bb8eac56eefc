#include "app/ScreenFactory.h"

#include "app/ResultListView.h"
#include "app/SettingsScreens.h"
#include "app/TrackDetailsView.h"
#include "app/UserInfoView.h"
#include "app/UserPageView.h"

CViewFactory* NewResultScreenFactory(int32_t nViewId) {
  switch (nViewId) {
    case 4: return new CNewViewFactory(&CResultListView::NewView);
    case 10: return new CNewViewFactory(&CUserListView::NewRecordingsView);
    case 11: return new CNewViewFactory(&CUserListView::NewPlaylistView);
    case 13: return new CNewViewFactory(&CUserPageView::NewView);
    case 14: return new CNewViewFactory(&CTrackDetailsView::NewView);
    case 15: return new CNewViewFactory(&CUserInfoView::NewView);
    default: return nullptr;
  }
}
