// View 2, the start screen: the search mode (Sing or Grab), the record
// button, and while recording the elapsed time against the mode's limit.
// Stopping hands over to the searching screen (view 12); cancelling, a
// recorder error, an aborted search or leaving the application returns it
// to idle. UI thread.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "app/RecorderPanelPainter.h"
#include "app/RowParts.h"
#include "framework/Control.h"
#include "framework/CtlButton.h"
#include "framework/CtlScrollBar.h"
#include "framework/Events.h"

// A mode button of the recorder and searching screens: caption 37 (Sing)
// or 38 (Grab), centred, over its icon.
CtlButton* CreateModeButton(CControl* pParent, int32_t nMode);
// The look of both mode buttons for the current mode: the current one in
// skin A with the bright caption and its selected icon, the other in skin B,
// dim, with its resting icon, or its pressed icon while `nPressed` is it.
void ApplyModeLook(CtlButton* pSing, CtlButton* pGrab, int32_t nMode, int32_t nPressed);

class CRecorderView : public CView {
 public:
  CRecorderView();
  ~CRecorderView() override;
  static CView* NewView();

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  // The orientation: key 0 = 1 on this screen's node when the main window is
  // wider than tall, else 0.
  void OnViewActivated(CLayoutNode* pViewArea) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;
  bool OnInput(const TInputEvent& event) override;

  void SelectMode(int32_t nMode);
  void SetSearchMode(int32_t nMode);
  void StartRecording();
  void StopRecording();
  void CancelRecording();

  // The limit in seconds for the current mode.
  static int32_t LimitSeconds();

  bool IsRecording() const { return m_bRecording; }
  bool IsLandscape() const { return m_bLandscape; }
  int32_t Ticks() const { return m_nTicks; }
  CtlAdvButton* RecordButton() const { return m_part.pButton; }
  const CRecordButtonPart& Part() const { return m_part; }
  CtlButton* ModeButton(int32_t nMode) const { return nMode == 0 ? m_pSing : m_pGrab; }
  CtlStatic* Headline() const { return m_pHeadline; }
  CtlStatic* SubHeadline() const { return m_pSubHeadline; }
  CtlStatic* Elapsed() const { return m_pElapsed; }
  CtlStatic* Limit() const { return m_pLimit; }
  CtlScrollBar* Progress() const { return m_pProgress; }
  CtlStatic* PictureB() const { return m_pPictureB; }
  CtlPanel* Content() const { return m_pContent; }
  CEditBar& Bar() { return m_bar; }

  // The last screen made, while it lives (tests and the searching screen).
  static CRecorderView* Current() { return s_pCurrent; }

 private:
  void OnRecorderEvent(const int32_t& nState);
  void OnTimer();
  void OnStartRecordingEvent();
  void OnAppActivated(const uint8_t& bActive);
  void OnSearchAborted();
  void OnDisplayRotated(const TDisplayRotation& rotation);
  void PrepareRecording();
  void ResetIdle();
  void OnRecordClick();
  void OnSingClick() { SelectMode(0); }
  void OnGrabClick() { SelectMode(1); }
  void OnModePress(void* pArgument);
  void OnModeState(void* pArgument);
  void UnsubscribeRecording();

  CMemberListener<RecorderStateEvent, CRecorderView, &CRecorderView::OnRecorderEvent> m_recorderListener{this};
  CMemberListener<TimerTickEvent, CRecorderView, &CRecorderView::OnTimer> m_timerListener{this};
  CMemberListener<StartRecordingEvent, CRecorderView, &CRecorderView::OnStartRecordingEvent> m_startListener{this};
  CMemberListener<AppActivatedEvent, CRecorderView, &CRecorderView::OnAppActivated> m_activatedListener{this};
  CMemberListener<SearchAbortedEvent, CRecorderView, &CRecorderView::OnSearchAborted> m_abortedListener{this};
  CMemberListener<DisplayRotatedEvent, CRecorderView, &CRecorderView::OnDisplayRotated> m_rotatedListener{this};

  CRecordButtonPart m_part;
  CEditBar m_bar;
  CtlPanel* m_pContent = nullptr;
  CRecorderPanelPainter m_painter;
  CtlButton* m_pSing = nullptr;
  CtlButton* m_pGrab = nullptr;
  CtlStatic* m_pPictureA = nullptr;
  CtlStatic* m_pHeadline = nullptr;
  CtlStatic* m_pSubHeadline = nullptr;
  CtlStatic* m_pElapsed = nullptr;
  CtlStatic* m_pLimit = nullptr;
  CtlScrollBar* m_pProgress = nullptr;
  CtlStatic* m_pPictureB = nullptr;
  CLayoutNode* m_pNode = nullptr;
  int32_t m_nTicks = 0;
  bool m_bLandscape = false;
  bool m_bRecording = false;
  bool m_bSquare = false;

  static inline CRecorderView* s_pCurrent = nullptr;
};

class CRecorderViewFactory : public CViewFactory {
 public:
  CView* CreateView() override { return CRecorderView::NewView(); }
};
