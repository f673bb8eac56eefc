// View 16: a server message (title, text, the link picture; its soft keys
// continue, exit or go back), or, with no message pending, a waiting page
// while a preview starts. The busy indicator stays hidden while it shows.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/ActivityHold.h"
#include "framework/Control.h"
#include "framework/CtlStatic.h"
#include "framework/Events.h"

class CMessageView : public CView {
 public:
  static CView* NewView() { return new CMessageView(); }
  ~CMessageView() override;
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  bool HasLink() const { return m_bLink; }
  const plat::WString& Url() const { return m_url; }
  CtlStatic* TitleLabel() const { return m_pTitle; }
  CtlStatic* TextLabel() const { return m_pText; }
  CtlStatic* LinkPicture() const { return m_pPicture; }
  CtlAnimation* WaitAnimation() const { return m_pWait; }

 private:
  void OnMessageCommand(const int32_t& nPayload);
  void OnPlayerState(const int32_t& nState);
  void StopListening();

  template <class E, void (CMessageView::*Method)(const int32_t&)>
  class CListener : public CEventListenerFor<E> {
   public:
    explicit CListener(CMessageView* pView) : m_pView(pView) {}

   protected:
    void HandleEvent(const int32_t& nPayload) override { (m_pView->*Method)(nPayload); }

   private:
    CMessageView* m_pView;
  };

  CListener<PlayerStateEvent, &CMessageView::OnPlayerState> m_playerListener{this};
  CListener<MessageCommandEvent, &CMessageView::OnMessageCommand> m_commandListener{this};
  CEditBar m_bar;
  CtlPanel* m_pContent = nullptr;
  CtlStatic* m_pTitle = nullptr;
  CtlStatic* m_pText = nullptr;
  CtlStatic* m_pPicture = nullptr;
  CtlAnimation* m_pWait = nullptr;
  bool m_bLink = false;
  plat::WString m_url;
  ActivityHold m_quiet;
};
