// A container whose content scrolls vertically under finger drags and the
// Up and Down keys, keeps the focused control in view and shows its bar
// only while it is dragged. The owner fills the content cell (node 28) with
// its page's description and puts every scrolled control into the content
// panel. UI thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/Control.h"
#include "framework/CtlScrollBar.h"
#include "framework/Events.h"
#include "framework/layout.h"

class CtlScrollPanel : public CtlPanel {
 public:
  CtlScrollPanel();
  ~CtlScrollPanel() override;
  static CtlScrollPanel* Create(CControl* pParent);

  // The parent of every scrolled control; children added to the scroll
  // panel itself after construction are a broken invariant.
  CtlPanel* GetContentPanel() const { return m_pContent; }
  CLayoutNode* GetContentLayout() const { return m_pContentNode; }
  CtlScrollBar* ScrollBar() const { return m_pBar; }
  // Lays the content out again once the current message is done.
  void Relayout();
  void SyncScrollBar();
  void SetScrollBarImages(int32_t nThumbStart, int32_t nThumbMiddle, int32_t nThumbEnd, int32_t nStartCap,
                          int32_t nTrack, int32_t nEndCap);
  // Runs once after each relayout of the content. A handler that asks for
  // another relayout must remove itself first.
  void SetRelayoutHandler(const CDelegate& d) { m_relayoutHandler = d; }
  // The panel's drag operation, for the controls of the content that should
  // scroll the page when dragged (CControl::SetDragHandler).
  const CDelegate& DragDelegate() const { return m_scrollDrag; }
  CControl* TrackedControl() const { return m_pTracked; }
  int32_t HideCountdown() const { return m_nHideCountdown; }

  bool OnInput(const TInputEvent& event) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) override;
  void OnChildAdded(CControl* pChild) override;
  void OnDisplayChanged(const RECT& rcApp) override;

 private:
  class CRelayoutMessage : public CEventMessage {
   public:
    explicit CRelayoutMessage(CtlScrollPanel* pOwner) : m_pOwner(pOwner) { SetKept(true); }
    void Dispatch() override { m_pOwner->RunRelayout(); }

   private:
    CtlScrollPanel* m_pOwner;
  };
  class CAutoHide : public CEventListenerFor<TimerTickEvent> {
   public:
    explicit CAutoHide(CtlScrollPanel* pOwner) : m_pOwner(pOwner) {}

   protected:
    void HandleEvent(const TNoPayload&) override { m_pOwner->OnHideTick(); }

   private:
    CtlScrollPanel* m_pOwner;
  };

  void Init(CControl* pParent);
  void RunRelayout();
  void DragStep(void* pDelta);
  void OnHideTick();
  void PostRelayout();
  void Track(CControl* pControl);
  void OnTrackedDestroyed();
  // The content panel's child that holds the control, or null outside it.
  CControl* ContentChildOf(CControl* pControl) const;
  // The control's rectangle in the content space of node 28.
  RECT ContentRect(const CControl* pControl) const;
  // The visible part of the content: (0, scroll, width, scroll + height).
  RECT ViewRect() const;
  int32_t ContentHeight() const;

  CRelayoutMessage m_relayoutMessage{this};
  CAutoHide m_autoHide{this};
  CtlPanel* m_pContent = nullptr;
  CtlScrollBar* m_pBar = nullptr;
  CControl* m_pTracked = nullptr;
  CDelegate m_trackedDestroy;
  std::unique_ptr<CLayoutNode> m_pRoot;
  CLayoutNode* m_pBarNode = nullptr;
  CLayoutNode* m_pContentNode = nullptr;
  bool m_bChildrenAllowed = false;
  bool m_bRelayoutPending = false;
  bool m_bLayoutDirty = false;
  bool m_bScrollToFocus = false;
  bool m_bShowBarOnDrag = false;
  int32_t m_nHideCountdown = 0;
  CDelegate m_scrollDrag;
  CDelegate m_relayoutHandler;
};
