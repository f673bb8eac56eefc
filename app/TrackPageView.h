// What the track details (view 14) and the user page (view 13) share: a
// title bar over a scroll panel with the track's picture and names, the
// video, buy and lyrics rows that light up when their links arrive, the
// attribution footer whose notes are sized to their measured text, and the
// preview's progress. Each page builds these pieces in its own order and
// adds its own rows. UI thread only.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "app/RowParts.h"
#include "framework/Events.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"
#include "protocol/HTTPUserModel.h"

class CTrackPageView : public CView {
 public:
  ~CTrackPageView() override;

  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  CEditBar& Bar() { return m_bar; }
  CtlScrollPanel* ScrollPanel() const { return m_pScroll; }
  CLayoutNode* Content() const { return m_pScroll ? m_pScroll->GetContentLayout() : nullptr; }
  CtlStatic* TrackPicture() const { return m_pPicture; }
  CtlStatic* TrackName() const { return m_pName; }
  CDetailsRowB& VideoRow() { return m_video; }
  CDetailsRowB& BuyRow() { return m_buy; }
  CDetailsRowB& LyricsRow() { return m_lyrics; }
  CtlStatic* SourceNote() const { return m_pSourceNote; }
  CtlStatic* AmgNote() const { return m_pAmgNote; }
  const plat::WString& VideoUrl() const { return m_videoUrl; }
  const plat::WString& BuyUrl() const { return m_buyUrl; }
  bool IsPreviewFinished() const { return m_bFinished; }

 protected:
  CTrackPageView();

  // Creation, in the order each page needs.
  void CreateBarAndPanel(plat::WStringView title);
  void CreateTrackTexts();
  void CreateLinkRows();
  void CreateFooter();
  void SubscribeTrackListeners();
  void UnsubscribeTrackListeners();

  // Layout step: the frame, the shared nodes bound, and key 14 from the
  // stored buy link (a rebuild keeps what arrived).
  CLayoutNode* BuildFrame(CLayoutNode* pNode);
  void BindTrackNodes(CLayoutNode* pContent);
  void SelectBuyKey(CLayoutNode* pContent);
  // The one-shot step after the panel's next layout: track picture at its
  // size, footer notes at their measured height.
  void InstallContentRelayout();
  virtual void RelayoutContent();

  virtual void OnPreviewState() = 0;
  virtual void OnPreviewTick() = 0;

  // The bar shows the played part of the preview (a length below 1 counts
  // as 1000).
  static void ShowPlayed(CtlScrollBar* pBar);
  static void ResetBar(CtlScrollBar* pBar);
  static uint32_t VideoLyricsBits();

  CEditBar m_bar;
  CtlScrollPanel* m_pScroll = nullptr;
  CtlStatic* m_pPicture = nullptr;
  CtlStatic* m_pName = nullptr;
  CtlStatic* m_pArtist = nullptr;
  CtlStatic* m_pAlbum = nullptr;
  CDetailsRowB m_video;
  CDetailsRowB m_buy;
  CDetailsRowB m_lyrics;
  CtlStatic* m_pFixedPicture = nullptr;
  CtlStatic* m_pSourcePicture = nullptr;
  CtlStatic* m_pSourceNote = nullptr;
  CtlStatic* m_pAmgNote = nullptr;     // AMG on only
  CtlStatic* m_pAmgPicture = nullptr;  // AMG on only
  plat::WString m_videoUrl;
  plat::WString m_buyUrl;
  plat::WString m_lyricsUrl;
  bool m_bFinished = false;
  bool m_bLeft = false;

 private:
  void HandleTrackImage(const TImageLoaded& payload);
  void HandleVideos(const TTextLoaded& payload);
  void HandleBuyLinks(const TBuyLinkLoaded& payload);
  void HandleLyrics(const TTextLoaded& payload);
  void HandlePlayerState() { OnPreviewState(); }
  void HandleTick() { OnPreviewTick(); }
  void RunContentRelayout() { RelayoutContent(); }
  void OpenVideo();
  void OpenBuy();
  void OpenLyrics();

  CMemberListener<TrackImageLoadedEvent, CTrackPageView, &CTrackPageView::HandleTrackImage> m_trackImageListener{this};
  CMemberListener<VideosLoadedEvent, CTrackPageView, &CTrackPageView::HandleVideos> m_videosListener{this};
  CMemberListener<BuyLinksLoadedEvent, CTrackPageView, &CTrackPageView::HandleBuyLinks> m_buyListener{this};
  CMemberListener<LyricsLinkLoadedEvent, CTrackPageView, &CTrackPageView::HandleLyrics> m_lyricsListener{this};
  CMemberListener<PlayerStateEvent, CTrackPageView, &CTrackPageView::HandlePlayerState> m_playerListener{this};
  CMemberListener<TimerTickEvent, CTrackPageView, &CTrackPageView::HandleTick> m_tickListener{this};
};

// The picture a page shows for a failed or missing track picture (theme 0
// 189, theme 1 326; other themes keep what is shown).
void ShowDefaultTrackPicture(CtlStatic* pPicture);
// A delivered picture: the copy scaled for the request, else the original.
void ShowDeliveredPicture(CtlStatic* pPicture, const TImageLoaded& payload);
// The user's picture as it arrived, or slot 152 when it could not be had.
void ShowUserPicture(CtlStatic* pPicture, const TImageLoaded& payload);
// Preview row pictures {normal, pressed, released} by theme; false for
// themes other than 0 and 1.
bool IdleRowImages(int32_t nRest, int32_t (&an)[3]);
bool PlayingRowImages(int32_t (&an)[3]);
