// View 15: what the server keeps about the current user — the picture
// beside the user name, the display name and a third text, then two
// labelled texts. Each text's node gets the height its text needs, and the
// labelled block goes below the picture or below the texts, whichever is
// lower. UI thread only.
#pragma once

#include "app/EditBar.h"
#include "framework/Events.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"
#include "protocol/HTTPUserModel.h"

class CUserInfoView : public CView {
 public:
  static CView* NewView();
  ~CUserInfoView() override;

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  CEditBar& Bar() { return m_bar; }
  CtlScrollPanel* ScrollPanel() const { return m_pScroll; }
  CLayoutNode* Content() const { return m_pScroll->GetContentLayout(); }
  CtlStatic* Picture() const { return m_pPicture; }
  CtlStatic* UserName() const { return m_pName; }
  CtlStatic* DisplayName() const { return m_pDisplay; }
  CtlStatic* ThirdText() const { return m_pThird; }
  CtlStatic* FirstLabel() const { return m_pLabel1; }
  CtlStatic* FirstText() const { return m_pText1; }
  CtlStatic* SecondLabel() const { return m_pLabel2; }
  CtlStatic* SecondText() const { return m_pText2; }

 private:
  void InstallMeasuredLayout();
  void MeasuredLayout();
  void HandleUserImage(const TImageLoaded& payload);
  void HandleUserInfo(const StringRecord7& payload);

  CMemberListener<UserImageLoadedEvent, CUserInfoView, &CUserInfoView::HandleUserImage> m_imageListener{this};
  CMemberListener<UserInfoLoadedEvent, CUserInfoView, &CUserInfoView::HandleUserInfo> m_infoListener{this};

  CEditBar m_bar;
  CtlScrollPanel* m_pScroll = nullptr;
  CtlStatic* m_pPicture = nullptr;
  CtlStatic* m_pName = nullptr;
  CtlStatic* m_pDisplay = nullptr;
  CtlStatic* m_pThird = nullptr;
  CtlStatic* m_pLabel1 = nullptr;
  CtlStatic* m_pText1 = nullptr;
  CtlStatic* m_pLabel2 = nullptr;
  CtlStatic* m_pText2 = nullptr;
  bool m_bLeft = false;
};
