// View 13: the page of one search result — the track together with the user
// whose recording matched it. Three preview rows (the matched recording,
// the track's preview, the user's full recording) follow the player; a
// details switch opens the user's part (picture, full recording, and the
// recordings, playlist and information buttons); the video, buy and lyrics
// rows light up as their links arrive. UI thread only.
#pragma once

#include <cstdint>

#include "app/TrackPageView.h"
#include "framework/CtlButton.h"
#include "protocol/Records.h"

class CUserPageView : public CTrackPageView {
 public:
  enum : int32_t { ERowNone = -1, ERowMatched = 0, ERowPreview = 1, ERowFull = 2 };
  // Re-posts of the user-picture step while #134 has no size, per size change.
  static constexpr int32_t kMaxImageRetries = 20;

  static CView* NewView();
  ~CUserPageView() override;

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  void ToggleDetails();

  CDetailsRowA& MatchedRow() { return m_matched; }
  CDetailsRowA& PreviewRow() { return m_preview; }
  CDetailsRowA& SwitchRow() { return m_switch; }
  CDetailsRowA& FullRow() { return m_full; }
  CtlButton* RecordingsButton() const { return m_pRecordings; }
  CtlButton* PlaylistButton() const { return m_pPlaylist; }
  CtlButton* InfoButton() const { return m_pInfo; }
  CtlStatic* UserPicture() const { return m_pUserPicture; }
  int32_t ActiveRow() const { return m_nActiveRow; }
  int32_t LastState() const { return m_nLastState; }

 protected:
  void OnPreviewState() override;
  void OnPreviewTick() override;

 private:
  class CImageStep : public CEventMessage {
   public:
    explicit CImageStep(CUserPageView* pOwner) : m_pOwner(pOwner) { SetKept(true); }
    void Dispatch() override { m_pOwner->RunImageStep(); }

   private:
    CUserPageView* m_pOwner;
  };

  void BuildPreviewRow(CDetailsRowA& row, int32_t nMode, int32_t nRest);
  CtlButton* BuildUserButton(int32_t nCaption, bool bEnabled, bool bLit);
  void FocusStartRow();
  void ShowSwitchImages();
  void EnableUserPart();
  uint32_t Key9() const;
  void RunImageStep();
  void PostImageStep();
  CDetailsRowA* RowOf(int32_t nRow);
  CDetailsRowA* RowOfKind(int32_t nKind);

  void MatchedPressed() { PlayKind(TrackKindMatched); }
  void PreviewPressed() { PlayKind(TrackKindPreview); }
  void FullPressed() { PlayKind(TrackKindFull); }
  static void PlayKind(int32_t nKind);
  void OpenRecordings();
  void OpenPlaylist();
  void OpenInformation();
  static void PopUserHistory();

  void HandleUserImage(const TImageLoaded& payload);
  void HandleUserInfo(const StringRecord7& payload);
  void HandleRecordings(const TResultsLoaded& payload);
  void HandlePlaylist(const TResultsLoaded& payload);

  CMemberListener<UserImageLoadedEvent, CUserPageView, &CUserPageView::HandleUserImage> m_userImageListener{this};
  CMemberListener<UserInfoLoadedEvent, CUserPageView, &CUserPageView::HandleUserInfo> m_userInfoListener{this};
  CMemberListener<RecordingsLoadedEvent, CUserPageView, &CUserPageView::HandleRecordings> m_recordingsListener{this};
  CMemberListener<PlaylistLoadedEvent, CUserPageView, &CUserPageView::HandlePlaylist> m_playlistListener{this};

  CtlStatic* m_pUserPicture = nullptr;
  CDetailsRowA m_preview;
  CDetailsRowA m_matched;
  CDetailsRowA m_switch;
  CDetailsRowA m_full;
  CtlButton* m_pRecordings = nullptr;
  CtlButton* m_pPlaylist = nullptr;
  CtlButton* m_pInfo = nullptr;
  bool m_bHasRecordings = false;
  bool m_bHasPlaylist = false;
  int32_t m_nLastState = -1;
  int32_t m_nActiveRow = ERowNone;
  int32_t m_nRestImage = 190;
  bool m_bImagePending = false;
  int32_t m_nImageRetries = 0;
  CImageStep m_imageStep{this};
};
