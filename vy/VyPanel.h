// The container at the root of every screen: scrolls its children vertically
// as one sheet with its gesture tracker, draws only the children in view,
// routes touches to them, moves the key focus among them by geometry and
// carries the move animation that slides the whole screen. A modal control
// takes all input (and, when exclusive, is all that is drawn); a background
// control is drawn under the children without scrolling.
#pragma once

#include <cstdint>
#include <vector>

#include "vy/VyControl.h"
#include "vy/VyGesture.h"
#include "vy/VyUtil.h"

class CVyPanel : public CVyControl {
 public:
  CVyPanel();
  ~CVyPanel() override;

  void Cleanup() override;
  // The background control follows the rectangle; the children keep theirs.
  void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRedraw) override;
  void SetOffset(int32_t x, int32_t y) override;
  void SetFocus(int32_t bFocus, int32_t bRedraw) override;
  int32_t PlayPressFeedback() override;
  int32_t OnLButtonDown(int32_t x, int32_t y) override;
  int32_t OnLongPress(int32_t x, int32_t y, int32_t bFromKey) override;
  int32_t OnLButtonUp(int32_t x, int32_t y, int32_t bFlag) override;
  int32_t OnMouseMove(int32_t x, int32_t y) override;
  int32_t OnKeyDown(uint32_t nKey, plat::LPARAM lParam) override;
  int32_t OnKeyUp(uint32_t nKey, plat::LPARAM lParam) override;
  int32_t Draw(plat::HDC hdc) override;

  virtual int32_t OnKeyLongPress();
  virtual HRESULT SetBackgroundControl(CVyControl* pControl);
  virtual void SetBackgroundImage(int32_t nResourceID);
  // Returns the previous modal control.
  virtual CVyControl* SetModalControl(CVyControl* pControl, int32_t bExclusive);
  virtual void CallOnReleaseToChildcontrol();
  // [first, last): the children that intersect the view scrolled by y.
  virtual void GetUpdateIndexRange(int32_t x, int32_t y, int32_t* pFirst, int32_t* pLast);
  virtual void SetItemHaptic(int32_t bOn);
  virtual void DrawScrollBar(int32_t x, int32_t y);

  // 0 takes the offset rectangle's width, or the children's total height.
  // The arguments are kept and applied again on every rectangle or offset
  // change.
  void SetContentSize(int32_t nWidth, int32_t nHeight);
  int32_t GetTotalItemHeight(int32_t nCount);
  int32_t IndexOfChild(CVyControl* pControl);
  void SetFocusIndex(int32_t nIndex) { m_nFocusIndex = nIndex; }
  int32_t GetFocusIndex() const { return m_nFocusIndex; }
  void SetSavedFocusIndex(int32_t nIndex) { m_nSavedFocusIndex = nIndex; }
  int32_t GetSavedFocusIndex() const { return m_nSavedFocusIndex; }
  int32_t GetDownFocusIndex();
  int32_t GetUpFocusIndex();
  int32_t GetRightFocusIndex();
  int32_t GetLeftFocusIndex();
  int32_t GetStartFocusIndex();
  int32_t GetEndFocusIndex();
  int32_t IsStartLine(int32_t nIndex);
  int32_t IsEndLine(int32_t nIndex);
  int32_t MoveFocusTo(int32_t nIndex, uint32_t nKey, plat::LPARAM lParam);

  TMoveAnimation* GetMoveAnimation() { return &m_anim; }
  CVyGesture& Gesture() { return m_gesture; }
  const RECT& GetContentRect() const { return m_rcContent; }
  CVyControl* GetModalControl() const { return m_pModal; }
  CVyControl* GetBackgroundControl() const { return m_pBackground; }

 private:
  enum class EEdge { Start, End };
  // The searches log a missing child under the public operation's name.
  // The candidates of the first or last line; -1 when a child is missing.
  int32_t LineCandidates(EEdge edge, std::vector<int32_t>* pList, const char* pszOperation);
  int32_t EdgeFocusIndex(EEdge edge, const char* pszOperation);
  int32_t IsEdgeLine(EEdge edge, int32_t nIndex, const char* pszOperation);
  int32_t VerticalSearch(bool bDown, const char* pszOperation);
  int32_t HorizontalSearch(bool bRight, const char* pszOperation);
  bool Qualifies(CVyControl* pChild, int32_t nIndex) const;
  int32_t FirstLastInView(int32_t* pFirst, int32_t* pLast);

  CVyGesture m_gesture;
  TMoveAnimation m_anim{};
  RECT m_rcContent{};
  CVyControl* m_pBackground = nullptr;
  CVyControl* m_pModal = nullptr;
  int32_t m_bModalExclusive = 0;
  int32_t m_bItemHaptic = 1;
  int32_t m_nLastItemStep = 0;
  int32_t m_nFocusIndex = -1;
  int32_t m_nSavedFocusIndex = -1;
  int32_t m_nContentWidthArg = 0;
  int32_t m_nContentHeightArg = 0;
};
