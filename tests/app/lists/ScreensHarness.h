// The list and page screens on the headless device: the application object
// with the real views 4, 10, 11, 13, 14 and 15, every picture slot a small
// solid picture, every UI string "S<id>", canned result models, and the
// preview player replaced by a scripted one.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "AppHarness.h"
#include "PreviewScript.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/SettingsScreens.h"
#include "app/TrackDetailsView.h"
#include "app/UserInfoView.h"
#include "app/UserPageView.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/Launch.h"
#include "platform/ui/Ui.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/SearchResults.h"
#include "tests/framework/widgets_test_support.h"

namespace screenstest {

#define SCREENS_XML "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"

// Three results: a track with a preview whose recording is anna's, one
// without a preview (ben's), one with a preview and no matched recording.
inline constexpr char kResults[] = SCREENS_XML R"(<orlamet search_id="s-1" total_records="3">
  <tracks>
    <track track_id="t1" track_name="Alpha" album_name="Album A" audio_preview_url="http://media/t1.mp3"
           video_url="http://v/t1" album_primary_image="http://img/a1.jpg">
      <artists><artist artist_name="Artist A"/></artists>
      <recordings><recording recording_id="r1" full_url="http://rec/r1.mp3" matched_url="http://rec/r1m.mp3">
        <users><user username="anna" user_primary_image="http://img/anna.jpg"/></users></recording></recordings>
    </track>
    <track track_id="t2" track_name="Beta" album_name="Album B">
      <artists><artist artist_name="Artist B"/></artists>
      <recordings><recording recording_id="r2" full_url="http://rec/r2.mp3" matched_url="http://rec/r2m.mp3">
        <users><user username="ben"/></users></recording></recordings>
    </track>
    <track track_id="t3" track_name="Gamma" album_name="Album C" audio_preview_url="http://media/t3.mp3">
      <artists><artist artist_name="Artist C"/></artists>
      <recordings><recording recording_id="r3" full_url="" matched_url="">
        <users><user username="cleo"/></users></recording></recordings>
    </track>
  </tracks>
</orlamet>)";

// A user's list: three recordings of anna's, the second without a full one.
inline constexpr char kUserList[] = SCREENS_XML R"(<orlamet total_records="3">
  <tracks>
    <track track_id="u1" track_name="One"><artists><artist artist_name="X"/></artists>
      <recordings><recording recording_id="ur1" full_url="http://rec/ur1.mp3">
        <users><user username="anna"/></users></recording></recordings></track>
    <track track_id="u2" track_name="Two"><artists><artist artist_name="Y"/></artists>
      <recordings><recording recording_id="ur2" full_url="">
        <users><user username="anna"/></users></recording></recordings></track>
    <track track_id="u3" track_name="Three"><artists><artist artist_name="Z"/></artists>
      <recordings><recording recording_id="ur3" full_url="http://rec/ur3.mp3">
        <users><user username="anna"/></users></recording></recordings></track>
  </tracks>
</orlamet>)";

inline constexpr char kEmptyList[] = SCREENS_XML R"(<orlamet total_records="0"/>)";

// The three play-button pictures of a list row.
struct TImages {
  int32_t normal, focused, pressed;
  friend bool operator==(const TImages&, const TImages&) = default;
};
inline std::ostream& operator<<(std::ostream& os, const TImages& t) {
  return os << "{" << t.normal << "," << t.focused << "," << t.pressed << "}";
}
inline TImages PlayImages(const CRecordListItem& row) {
  return {row.pPlay->ImageSlot(0), row.pPlay->ImageSlot(1), row.pPlay->ImageSlot(2)};
}
inline TImages RowImages(const CDetailsLinkRow& row) {
  return {row.anStateImages[0], row.anStateImages[1], row.anStateImages[2]};
}

class ScreensHarness : public searchtest::AppHarness {
 protected:
  void SetUp() override {
    plat::SetLaunchRecordingOnly(true);
    plat::ClearLaunches();
    PreviewScript().Reset();
  }
  void TearDown() override {
    searchtest::AppHarness::TearDown();
    PreviewScript().Reset();
  }

  // The application with the screens (the settings and the models exist
  // before the loop starts).
  void MakeScreens(uint32_t nTheme = 0) {
    m_makeFactory = [](int32_t nView) -> CViewFactory* {
      if (nView == 4) return new CNewViewFactory(&CResultListView::NewView);
      return new searchtest::TPlainFactory();
    };
    MakeApp(true, false);
    for (int32_t id = 1; id <= 231; ++id)
      if (std::find(std::begin(kUiStrings), std::end(kUiStrings), id) == std::end(kUiStrings))
        CResources::RegisterStringSource(id, new searchtest::TStringSource(id));
    m_app->RegisterView(10, new CNewViewFactory(&CUserListView::NewRecordingsView));
    m_app->RegisterView(11, new CNewViewFactory(&CUserListView::NewPlaylistView));
    m_app->RegisterView(13, new CNewViewFactory(&CUserPageView::NewView));
    m_app->RegisterView(14, new CNewViewFactory(&CTrackDetailsView::NewView));
    m_app->RegisterView(15, new CNewViewFactory(&CUserInfoView::NewView));
    m_settings->Init();  // the user model (the start-up's settings step is the test's)
    *AppSettings::ThemeIndex() = static_cast<int32_t>(nTheme);
  }
  // The first step: solid pictures for every slot the start-up left empty,
  // and the scripted preview players.
  static void StartScreens() {
    PreviewScript().Install();
    for (int32_t nSlot = 0; nSlot < 390; ++nSlot) {
      auto* pSource = new widgettest::TSolidImage(8, 8, SlotColour(nSlot));
      try {
        CResources::RegisterImageSource(nSlot, pSource);
      } catch (const Env::TSysErrorCode&) {
        // registered by the start-up (the source was freed by the refusal)
      }
    }
  }
  // Each slot's solid colour, exact and distinct on the 16-bit screen.
  static TColor SlotColour(int32_t nSlot) {
    return 0x200000u | (uint32_t(nSlot >> 5 & 0x3F) << 10) | (uint32_t(nSlot & 0x1F) << 3);
  }
  // The bar as drawn along its middle line: the bright picture `nBright`
  // from its left edge over about nPercent of it, the groove (47) after.
  void ExpectFilledFromLeft(const CControl* pBar, int32_t nBright, int32_t nPercent) const {
    const RECT rc = pBar->ScreenRect();
    const int32_t nLength = rc.right - rc.left;
    int32_t nBrightEnd = 0;
    while (nBrightEnd < nLength &&
           m_tp->Pixel(rc.left + nBrightEnd, (rc.top + rc.bottom) / 2) == apptest::To565(SlotColour(nBright)))
      ++nBrightEnd;
    EXPECT_NEAR(nLength * nPercent / 100, nBrightEnd, 2);
    for (int32_t x = nBrightEnd; x < nLength; ++x)
      ASSERT_EQ(apptest::To565(SlotColour(47)), m_tp->Pixel(rc.left + x, (rc.top + rc.bottom) / 2)) << x;
  }
  // The device's files of feedback 1, 3, 9 and 13, so that they play.
  void MakeFeedbackFiles() const {
    apptest::WriteFeedbackFiles(m_tp->DeviceRoot(), {"press.ivt", "release.ivt", "09_Play,Pause.wav", "02_List Enter.wav"});
  }
  static std::vector<std::string> Played() { return apptest::PlayedFeedback(); }
  static CSearchResults& Results() { return *AppSettings::GetResultModel(); }
  static CHTTPUserModel& Users() { return *AppSettings::GetUserModel(); }
  static void LoadResults(const char* xml) { ASSERT_TRUE(Results().LoadText(xml)); }
  // The current user and that user's recordings and playlist.
  static void LoadUser(const char* name, const char* recordings, const char* playlist) {
    Users().SetUserName(plat::Widen(name));
    ASSERT_TRUE(Users().RecordingsResults()->LoadText(recordings));
    ASSERT_TRUE(Users().PlaylistResults()->LoadText(playlist));
  }

  template <class V>
  V* View() const {
    return dynamic_cast<V*>(m_app->ActiveView());
  }
  CRecordListPanel* Panel() const {
    auto* p = View<CRecordListView>();
    return p ? p->Panel() : nullptr;
  }
  const CListDialogItem& MenuItem(int32_t nCommand) const { return *m_app->FindMenuItem(nCommand); }

  // A tap in the middle of the control, through the platform's input.
  static void Tap(CControl* p) {
    RECT rc = p->ScreenRect();
    int32_t x = (rc.left + rc.right) / 2, y = (rc.top + rc.bottom) / 2;
    plat::InjectPointer(plat::PointerKind::Down, x, y);
    plat::InjectPointer(plat::PointerKind::Up, x, y);
  }
  static void Tick() { CEvent::FireEvent<TimerTickEvent>(TNoPayload{}); }
  static void Key(uint32_t vk) { plat::InjectKey(vk, true), plat::InjectKey(vk, false); }
  // The player reports: the scripted state and its event.
  static void Report(int32_t nState) {
    PreviewScript().state = nState;
    searchtest::Post<PlayerStateEvent>(nState);
  }
  static uint32_t SelectedKey(CLayoutNode* pNode, int32_t nKey);
};

// The value a keyed node's active variant was selected with (-1: none).
inline uint32_t ScreensHarness::SelectedKey(CLayoutNode* pNode, int32_t nKey) {
  for (CLayoutVariant* v = pNode ? pNode->GetFirstVariant() : nullptr; v; v = v->m_pNext)
    if (v->m_bActive && v->m_nKey == nKey) return v->m_nValue;
  return static_cast<uint32_t>(-1);
}

}  // namespace screenstest
