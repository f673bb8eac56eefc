// View 14: one track of a user's recordings or playlist — its picture and
// names, a play row with the preview's progress, and the video, buy and
// lyrics links. UI thread only.
#pragma once

#include "app/TrackPageView.h"

class CTrackDetailsView : public CTrackPageView {
 public:
  static CView* NewView();
  ~CTrackDetailsView() override;

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  CDetailsRowA& PlayRow() { return m_play; }

 protected:
  void OnPreviewState() override;
  void OnPreviewTick() override;

 private:
  void PlayPressed();

  CDetailsRowA m_play;
};
