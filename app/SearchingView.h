// View 12, shown while the server works on a recording: the recorder's
// look with both mode buttons inert and the search's mode lit, and over it
// a panel dialog with a looping animation and a waiting text. The application
// replaces it; its right soft key goes back (or ends a follow-up search).
// UI thread.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderPanelPainter.h"
#include "framework/Control.h"
#include "framework/CtlButton.h"
#include "framework/CtlStatic.h"

class CSearchingView : public CView {
 public:
  CSearchingView();
  ~CSearchingView() override;
  static CView* NewView();

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  CtlButton* ModeButton(int32_t nMode) const { return nMode == 0 ? m_pSing : m_pGrab; }
  CPanelDialog* Overlay() const { return m_pOverlay; }
  CtlAnimation* Animation() const { return m_pAnimation; }
  CtlStatic* WaitText() const { return m_pText; }

  static CSearchingView* Current() { return s_pCurrent; }

 private:
  CRecorderPanelPainter m_painter;
  CtlPanel* m_pBackground = nullptr;
  CtlButton* m_pSing = nullptr;
  CtlButton* m_pGrab = nullptr;
  CtlStatic* m_pPicture = nullptr;
  CEditBar m_bar;
  // A child of the application window on a layer of its own, so it can
  // outlive the view for a moment; the view deletes it.
  CPanelDialog* m_pOverlay = nullptr;
  CtlAnimation* m_pAnimation = nullptr;
  CtlStatic* m_pText = nullptr;

  static inline CSearchingView* s_pCurrent = nullptr;
};

class CSearchingViewFactory : public CViewFactory {
 public:
  CView* CreateView() override { return CSearchingView::NewView(); }
};
