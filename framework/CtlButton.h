// Push buttons drawn from nine-slice skins: CtlButton with its own caption,
// sub-caption and icon, and CtlAdvButton carrying child controls placed by
// a layout of their own (list rows, detail rows). Both keep three skins
// (focused, normal, pressed), play press and release feedback and call
// their owners through delegates. The skin presets of the application's
// standard buttons, and the binder screens hold one row button with.
// UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Control.h"
#include "framework/CtlStatic.h"
#include "framework/layout.h"

// Skin records, in the order the state handler numbers them.
enum : int32_t {
  ESkinFocused = 0,
  ESkinNormal = 1,
  ESkinPressed = 2,
  ESkinCount = 3,
};

// One state's nine slices: 0 top-left, 1 top, 2 top-right, 3 left, 4 centre,
// 5 right, 6 bottom-left, 7 bottom, 8 bottom-right. Id -1 draws nothing.
struct TSkinRecord {
  int32_t anSlice[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
  CBitmap* apBitmap[9] = {};
};

// Handed out for replacing a button's inner layout: build a description on
// the node, then, while pending, call the finisher and clear the flag.
struct TInnerLayoutEdit {
  CLayoutNode* pNode = nullptr;
  CDelegate finisher;
  bool bPending = false;
};

// What the two buttons share: skins, corner size, taps, keys and focus.
class CSkinnedButton : public CtlPanel {
 public:
  // The unit name and panic lines of the concrete class.
  struct TUnitLines {
    const char16_t* pUnit;
    int32_t anSlice[9];
    int32_t nCorner;
    int32_t nFinish;
  };
  ~CSkinnedButton() override;

  void EditFocusedSkin() { m_nEdited = ESkinFocused; }
  void EditNormalSkin() { m_nEdited = ESkinNormal; }
  void EditPressedSkin() { m_nEdited = ESkinPressed; }
  // Write the edited record; a broken invariant before any Edit*Skin.
  CSkinnedButton& SetSlice0(int32_t nId) { return SetSlice(0, nId); }
  CSkinnedButton& SetSlice1(int32_t nId) { return SetSlice(1, nId); }
  CSkinnedButton& SetSlice2(int32_t nId) { return SetSlice(2, nId); }
  CSkinnedButton& SetSlice3(int32_t nId) { return SetSlice(3, nId); }
  CSkinnedButton& SetSlice4(int32_t nId) { return SetSlice(4, nId); }
  CSkinnedButton& SetSlice5(int32_t nId) { return SetSlice(5, nId); }
  CSkinnedButton& SetSlice6(int32_t nId) { return SetSlice(6, nId); }
  CSkinnedButton& SetSlice7(int32_t nId) { return SetSlice(7, nId); }
  CSkinnedButton& SetSlice8(int32_t nId) { return SetSlice(8, nId); }
  CSkinnedButton& SetSlice(int32_t nSlice, int32_t nId);
  // Fills slices 0-8 of the edited record with nFirst, nFirst + 1, ...
  void SetSliceRange(int32_t nFirst);
  void SetCornerSize(int32_t nWidth, int32_t nHeight);  // negative: broken invariant
  void SetActiveWhenDisabled(bool b) { m_bActiveWhenDisabled = b; }
  bool IsActiveWhenDisabled() const { return m_bActiveWhenDisabled; }
  // The feedback played on a release (3 unless set).
  void SetReleaseFeedback(int32_t nId) { m_nReleaseFeedback = nId; }

  void SetClickHandler(const CDelegate& d) { m_click = d; }
  void SetFocusHandler(const CDelegate& d) { m_focus = d; }
  void SetBlurHandler(const CDelegate& d) { m_blur = d; }
  void SetPressHandler(const CDelegate& d) { m_press = d; }
  // Called with the new record's index (ESkin*) as its argument.
  void SetStateHandler(const CDelegate& d) { m_state = d; }
  // The feedback played on a press (key or pointer).
  void SetPressFeedback(int32_t nId) { m_nPressFeedback = nId; }
  int32_t PressFeedback() const { return m_nPressFeedback; }
  int32_t ReleaseFeedback() const { return m_nReleaseFeedback; }

  // Clears the inner tree and hands it out for another description.
  TInnerLayoutEdit EditInnerLayout();
  CLayoutNode* InnerLayout() const { return m_pInner.get(); }

  int32_t CurrentSkin() const { return m_nCurrent; }
  const TSkinRecord& Skin(int32_t n) const { return m_skins[n]; }
  SIZE CornerSize() const { return SIZE{m_nCornerW, m_nCornerH}; }

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) override;
  void OnEnableChanged(bool bEnabled, bool bWasEnabled) override;
  void OnChildAdded(CControl* pChild) override;
  void OnChildRemoved(CControl* pChild) override;
  void ReloadImages() override;

 protected:
  explicit CSkinnedButton(const TUnitLines& lines);
  void InitButton(CControl* pParent);
  // Lays the inner tree (and whatever the class adds) out into the button.
  virtual void LayoutParts();
  // Re-binds after an inner-layout edit; panics when a required node is
  // missing.
  virtual void FinishInnerLayout();
  // The focused or the normal record, by the focus.
  int32_t RestingSkin() const { return IsFocused() ? ESkinFocused : ESkinNormal; }
  void DropSliceBitmaps();
  void MakeSliceBitmaps();

  const TUnitLines& m_lines;
  CTapTracker m_tracker;
  TSkinRecord m_skins[ESkinCount];
  int32_t m_nEdited = -1;
  int32_t m_nCurrent = ESkinNormal;
  int32_t m_nCornerW = 0;
  int32_t m_nCornerH = 0;
  bool m_bActiveWhenDisabled = false;
  std::unique_ptr<CLayoutNode> m_pInner;
  CDelegate m_click, m_focus, m_blur, m_press, m_state;
  int32_t m_nPressFeedback = 1;
  int32_t m_nReleaseFeedback = 3;
};

class CtlButton : public CSkinnedButton {
 public:
  CtlButton();
  static CtlButton* Create(CControl* pParent);
  void Init(CControl* pParent);

  void SetCaption(plat::WStringView text) { m_pCaption->SetText(text); }
  void SetCaptionId(int32_t nId) { m_pCaption->SetTextId(nId); }
  void SetCaptionColor(TColor color) { m_pCaption->SetTextColor(color, EColorSolid); }
  void SetCaptionFont(const TFontDesc& desc) { m_pCaption->SetFont(desc); }
  void SetCaptionAlignment(int32_t nMode) { m_pCaption->SetAlignment(nMode); }
  void SetCaptionMarquee(bool b);
  void SetSubCaptionMarquee(bool b);
  // Caption marquees by their flags whatever the focus.
  void SetForceMarquee(bool b);
  // The picture at its own size, drawn scaled into the icon box or not.
  void SetIcon(int32_t nImageId, bool bScaling);
  // Shown instead of the icon while the button is focused.
  void SetFocusedIcon(int32_t nImageId);

  CtlStatic* Caption() const { return m_pCaption; }
  CtlStatic* SubCaption() const { return m_pSubCaption; }
  CtlStatic* IconStatic() const { return m_pIconStatic; }
  // The image id the icon was last set from (-1: none).
  int32_t IconId() const { return m_nIconId; }

  void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) override;

 protected:
  void FinishInnerLayout() override;

 private:
  void BindParts();
  void UpdateMarquees();
  void UpdateIcon();
  CtlStatic* m_pCaption = nullptr;
  CtlStatic* m_pSubCaption = nullptr;
  CtlStatic* m_pIconStatic = nullptr;
  CBitmap* m_pIcon = nullptr;
  CBitmap* m_pFocusedIcon = nullptr;
  int32_t m_nIconId = -1;
  bool m_bCaptionMarquee = true;
  bool m_bSubCaptionMarquee = true;
  bool m_bForceMarquee = false;
  bool m_bIconScaling = false;

 public:
  ~CtlButton() override;
};

class CtlAdvButton : public CSkinnedButton {
 public:
  CtlAdvButton();
  ~CtlAdvButton() override;
  static CtlAdvButton* Create(CControl* pParent);
  void Init(CControl* pParent);

  // The child must be this button's; it is placed on node nLayoutId of the
  // child layout and painted by the button. Id -1 attaches nothing; a second
  // child with the same id replaces the first attachment.
  void AttachChild(CControl* pChild, int32_t nLayoutId);
  void RebuildLayout();
  // The tree the owner fills with the children's description.
  CLayoutNode* GetChildLayout() const { return m_pChildLayout.get(); }
  size_t AttachmentCount() const { return m_attached.size(); }

 protected:
  void LayoutParts() override;
  void FinishInnerLayout() override;

 private:
  struct TAttachment {
    int32_t nLayoutId;
    CControl* pControl;
  };
  bool IsChild(const CControl* p) const;
  std::unique_ptr<CLayoutNode> m_pChildLayout;
  std::vector<TAttachment> m_attached;
};

// The application's standard skins; theme-dependent slices follow
// GetThemeIndex (themes other than 0 and 1 leave them as they were).
void ApplyModeButtonSkinA(CSkinnedButton* pButton);
void ApplyModeButtonSkinB(CSkinnedButton* pButton);
void ApplyUserPageButtonSkin(CSkinnedButton* pButton);
void ApplyEditBarButtonSkin(CSkinnedButton* pButton);
void ApplyRowButtonSkin(CSkinnedButton* pButton);
void ApplyListItemSkin(CSkinnedButton* pButton);

// Holds one row button for a screen: made under a parent and painted by
// it; forgets the button when it is destroyed with its parent, and deletes
// the button it still holds when the binder goes.
class CControlBinder {
 public:
  CControlBinder() = default;
  ~CControlBinder();
  CControlBinder(const CControlBinder&) = delete;
  CControlBinder& operator=(const CControlBinder&) = delete;

  CtlAdvButton* Create(CControl* pParent);
  CtlAdvButton* CreateClickable(CControl* pParent);
  CtlAdvButton* Control() const { return m_pControl; }

 private:
  void OnControlDestroyed();
  CtlAdvButton* m_pControl = nullptr;
  CDelegate m_destroyDelegate;
};
