// The dialogs that sit over the screens. CModalDialog places a dialog on a
// node of the application's root tree, on a layer of its own with its own
// soft keys, and draws its framed background; CMessageDialog (caption,
// icon, text, one or two buttons) and CProgressDialog (the same with a
// progress bar) hand their result back by running one of two callbacks and
// are gone by then; CPanelDialog is a plain panel with soft-key actions;
// CListDialog holds the items of the options menu. UI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "app/DialogItemRow.h"
#include "app/QuorelAppUi.h"
#include "framework/ActivityHold.h"
#include "framework/Control.h"
#include "framework/CtlScrollBar.h"
#include "framework/CtlStatic.h"
#include "framework/Events.h"
#include "framework/layout.h"
#include "framework/wrappers.h"
#include "platform/base/Strings.h"

class CModalDialog : public CtlPanel, public IDialogLayer {
 public:
  // The node of the root tree a modal dialog occupies, and the corner cell
  // of its frame.
  static constexpr int32_t kModalNode = 43;
  static constexpr int32_t kFrameCornerNode = 49;

  ~CModalDialog() override;

  // What the application asks of a dialog layer.
  CControl* DialogControl() override { return this; }
  plat::WString GetLeftSoftKeyLabel() override { return {}; }
  plat::WString GetRightSoftKeyLabel() override { return {}; }
  void OnLeftSoftKey() override {}
  void OnRightSoftKey() override {}
  CDelegate* RelayoutDelegate() override { return &m_relayout; }

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;

  int32_t NodeId() const { return m_nNodeId; }
  // The layer the dialog was given when shown; 0 before.
  int32_t DialogLayer() const { return m_nLayer; }
  bool IsCounting() const { return m_bCounting; }
  // The dialog size the frame pieces were made for, and how often they were.
  SIZE FrameSize() const { return m_frameSize; }
  int32_t FrameBuilds() const { return m_nFrameBuilds; }

 protected:
  CModalDialog();
  // Registers the dialog with the application: the end of every dialog's
  // initialisation. Only what this does is undone by the destructor.
  void Show();
  // The root tree was rebuilt: bind to our node again.
  virtual void Relayout();
  CQuorelAppUi* App() const { return CQuorelAppUi::App(); }

  bool m_bModal = true;
  bool m_bTapClosesMenu = false;
  bool m_bCounted = true;
  bool m_bPlain = true;
  int32_t m_nNodeId = kModalNode;

 private:
  void MakeFrame(const SIZE& size);
  void DropFrame();

  CDelegate m_relayout;
  bool m_bCounting = false;
  int32_t m_nLayer = 0;
  SIZE m_frameSize{};
  SIZE m_corner{};
  int32_t m_nFrameBuilds = 0;
  // Top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
  CBitmap* m_apFrame[8] = {};
};

class CMessageDialog : public CEventMessage, public CModalDialog {
 public:
  // Nodes of the dialog's own tree.
  enum : int32_t { ENodeCaption = 44, ENodeIcon = 45, ENodeText = 46, ENodeLeft = 50, ENodeRight = 51 };

  // A left label id of 0 means no left button. The dialog owns itself from
  // here on; a dialog that fails to build is deleted and the error passed on.
  static CMessageDialog* Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                const CDelegate& right, int32_t textId, int32_t kind);
  static CMessageDialog* CreateWithText(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                        const CDelegate& right, plat::WStringView text, int32_t kind);
  ~CMessageDialog() override;

  plat::WString GetLeftSoftKeyLabel() override { return m_leftLabel; }
  plat::WString GetRightSoftKeyLabel() override { return m_rightLabel; }
  // Either side posts the dialog once; the dispatch answers.
  void OnLeftSoftKey() override { Choose(true); }
  void OnRightSoftKey() override { Choose(false); }
  // Answers at once with that side, as the dispatch of a press would; the
  // dialog is gone afterwards.
  void Answer(bool bLeft);

  void Dispatch() override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  // The dialogs open now, oldest first.
  static const std::vector<CMessageDialog*>& OpenDialogs();
  // Deletes every open dialog without running a callback (shut-down).
  static void CloseAll();

  int32_t LeftLabelId() const { return m_leftLabelId; }
  int32_t RightLabelId() const { return m_rightLabelId; }
  const plat::WString& Text() const { return m_pText ? m_pText->Text() : m_text; }
  int32_t Kind() const { return m_kind; }
  CtlStatic* CaptionControl() const { return m_pCaption; }
  CtlStatic* IconControl() const { return m_pIcon; }
  CtlStatic* TextControl() const { return m_pText; }
  CtlAdvButton* LeftButton() const { return m_left.Button(); }
  CtlAdvButton* RightButton() const { return m_right.Button(); }
  CLayoutNode* OwnLayout() const { return m_pLayout.get(); }

 protected:
  CMessageDialog(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId, const CDelegate& right,
                 plat::WStringView text, int32_t kind);
  // Builds the controls on a tree the description filled, then shows.
  void Init(void (*buildLayout)(CLayoutNode*), int32_t nTextAlignment);
  // Runs before Show: what the subclass adds.
  virtual void InitExtras() {}
  void Relayout() override;
  // The text's height decides the dialog band's.
  void FitText();
  template <class T>
  static T* Build(T* pDialog, void (*buildLayout)(CLayoutNode*), int32_t nTextAlignment);

 private:
  void Choose(bool bLeft);

  std::unique_ptr<CLayoutNode> m_pLayout;
  CtlStatic* m_pCaption = nullptr;
  CtlStatic* m_pIcon = nullptr;
  CtlStatic* m_pText = nullptr;
  CDialogItemRow m_left;
  CDialogItemRow m_right;
  bool m_bWhichLeft = false;
  int32_t m_leftLabelId;
  CDelegate m_leftCallback;
  int32_t m_rightLabelId;
  CDelegate m_rightCallback;
  plat::WString m_leftLabel;
  plat::WString m_rightLabel;
  plat::WString m_text;
  int32_t m_kind;
  // Fits since the width last changed.
  int32_t m_nFits = 0;
};

class CProgressDialog : public CMessageDialog {
 public:
  static constexpr int32_t kBarNode = 47;

  static CProgressDialog* Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                 const CDelegate& right, int32_t textId, int32_t kind);
  // Maximum at least 1, position clamped to 0..maximum; the bar shows the
  // share, computed in 64 bits so that byte counts of any size work.
  void SetProgress(int32_t position, int32_t maximum);
  int32_t Position() const { return m_position; }
  int32_t Maximum() const { return m_maximum; }
  CtlScrollBar* Bar() const { return m_pBar; }
  bool HoldsQuiet() const { return m_hold.IsQuietHeld(); }

 private:
  using CMessageDialog::CMessageDialog;
  void InitExtras() override;
  CtlScrollBar* m_pBar = nullptr;
  int32_t m_position = 0;
  int32_t m_maximum = 1;
  ActivityHold m_hold;
};

// A frameless panel over the view area with two soft-key actions; its owner
// keeps it and shows or hides it.
class CPanelDialog : public CModalDialog {
 public:
  static constexpr int32_t kPanelNode = 52;
  static constexpr int32_t kBackgroundImage = 279;

  static CPanelDialog* New();
  ~CPanelDialog() override;

  // The panel's picture (a veil) over what lies below the panel, which shows
  // through it; without it the panel is a plain transparent panel.
  void SetDrawBackground(bool b) { m_bDrawBackground = b; }
  void SetHideOnTap(bool b) { m_bHideOnTap = b; }
  // Stores the label and callback and refills the dialog's soft keys.
  void SetRightSoftKey(plat::WStringView label, const CDelegate& action);
  void SetLeftSoftKey(plat::WStringView label, const CDelegate& action);
  void ShowPanel();
  void HidePanel();
  CLayoutNode* OwnLayout() const { return m_pLayout.get(); }
  // Lays the own tree out into the panel's rectangle now: a rebuild of the
  // tree at the same size moves no rectangle, so nothing else would.
  void LayOutOwnTree();

  plat::WString GetLeftSoftKeyLabel() override { return m_leftLabel; }
  plat::WString GetRightSoftKeyLabel() override { return m_rightLabel; }
  void OnLeftSoftKey() override { m_leftAction.Call(); }
  void OnRightSoftKey() override { m_rightAction.Call(); }
  bool HasSoftKeyAction(bool bLeft) const override { return (bLeft ? m_leftAction : m_rightAction).IsSet(); }

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

 protected:
  CPanelDialog();
  void InitPanel(int32_t nNodeId);

 private:
  // The main window and its children on the layers below, as they are
  // drawn: a panel is a top child of the main window, so its parent's
  // background alone would hide the screen it lies over.
  void PaintLayersBelow(CGraphics& g, const POINT& origin, const RECT& clip);

  std::unique_ptr<CLayoutNode> m_pLayout;
  CBitmap* m_pBackground = nullptr;
  CTapTracker m_tracker;
  CDelegate m_leftAction, m_rightAction;
  plat::WString m_leftLabel, m_rightLabel;
  bool m_bHideOnTap = false;
  bool m_bDrawBackground = false;
};

class CListDialog;

class CListDialogItem : public RCObject {
 public:
  // Every setter marks the dialog dirty and posts its refresh.
  void SetLabelId(int32_t nId);
  void SetVisible(bool b);
  void SetEnabled(bool b);
  void SetAction(const CDelegate& action);

  int32_t Id() const { return m_nId; }
  int32_t LabelId() const { return m_nLabelId; }
  // The label reloaded from its id when it has one.
  plat::WString Label() const;
  bool IsVisible() const { return m_bVisible; }
  bool IsEnabled() const { return m_bEnabled; }
  bool IsSeparator() const { return m_bSeparator; }
  const CDelegate& Action() const { return m_action; }
  // Hides the dialog and then runs the action, from the dialog's refresh.
  void Activate();

 private:
  friend class CListDialog;
  CListDialogItem(CListDialog* pOwner, int32_t nId, int32_t nLabelId);
  CListDialog* m_pOwner;
  int32_t m_nId;
  int32_t m_nLabelId;
  bool m_bVisible = true;
  bool m_bEnabled = true;
  bool m_bSeparator = false;
  CDelegate m_action;
};

// The options menu's items. The application presents the visible items as
// its menu commands; an activation closes the menu before its action runs.
class CListDialog : public CPanelDialog, public CEventMessage, private CEventListenerFor<DisplayRotatedEvent> {
 public:
  static constexpr int32_t kListNode = 53;
  static constexpr int32_t kRows = 255;

  static CListDialog* New();
  ~CListDialog() override;

  bool IsOptionsMenu() const override { return true; }

  // Appended as the newest item; id -1 is not entered for FindItem.
  CListDialogItem* AddItem(int32_t nId, int32_t nLabelId);
  CListDialogItem* FindItem(int32_t nId) const;
  // In order of addition.
  std::vector<CListDialogItem*> Items() const;
  bool IsDirty() const { return m_bDirty; }

  void Dispatch() override;

 private:
  friend class CListDialogItem;
  CListDialog();
  void MarkDirty();
  void Activate(const CDelegate& action);
  void HandleEvent(const TDisplayRotation&) override;

  std::vector<CListDialogItem*> m_items;
  std::map<int32_t, CListDialogItem*> m_byId;
  bool m_bDirty = false;
  bool m_bActivatePending = false;
  CDelegate m_pendingAction;
};
