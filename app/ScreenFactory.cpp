#include "app/ScreenFactory.h"

#include "app/ResultListView.h"
#include "app/TrackDetailsView.h"
#include "app/UserInfoView.h"
#include "app/UserPageView.h"

CViewFactory* NewResultScreenFactory(int32_t nViewId) {
  switch (nViewId) {
    case 4: return new CScreenFactory(&CResultListView::NewView);
    case 10: return new CScreenFactory(&CUserListView::NewRecordingsView);
    case 11: return new CScreenFactory(&CUserListView::NewPlaylistView);
    case 13: return new CScreenFactory(&CUserPageView::NewView);
    case 14: return new CScreenFactory(&CTrackDetailsView::NewView);
    case 15: return new CScreenFactory(&CUserInfoView::NewView);
    default: return nullptr;
  }
}
