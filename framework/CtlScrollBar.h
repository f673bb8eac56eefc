// A skinned bar with a thumb the user can drag; read-only it is a progress
// bar. Positions are in range units (minimum to maximum); the pictures are
// scaled to the bar's thickness. UI thread only.
#pragma once

#include <cstdint>

#include "framework/Control.h"
#include "framework/Graphics.h"

class CtlScrollBar : public CControl {
 public:
  // Image roles, in the order SetImages takes them.
  enum : int32_t {
    EThumbStart = 0,
    EThumbMiddle = 1,
    EThumbEnd = 2,
    EStartCap = 3,
    ETrack = 4,
    EEndCap = 5,
    EImageCount = 6,
  };
  enum : int32_t { EVertical = 0, EHorizontal = 1 };

  CtlScrollBar();
  ~CtlScrollBar() override;
  static CtlScrollBar* Create(CControl* pParent, int32_t nMin, int32_t nMax, int32_t nPosition, int32_t nThumb,
                              int32_t nOrientation, uint8_t nFlag);

  // Ids -1 draw nothing.
  void SetImages(int32_t nThumbStart, int32_t nThumbMiddle, int32_t nThumbEnd, int32_t nStartCap, int32_t nTrack,
                 int32_t nEndCap);
  void SetPosition(int32_t nPosition);  // stored as given
  // The position of a view at `nOffset` over a content of `nContent`.
  void SetPositionFromOffset(int32_t nContent, int32_t nOffset, int32_t nView);
  // The thumb covers `nValue` of `nTotal`; a total of 0 or less, all of it.
  void SetThumbSize(int32_t nTotal, int32_t nValue);
  void SetReadOnly(bool b) { m_bReadOnly = b; }
  // Called with the new position as its argument.
  void SetValueChangedHandler(const CDelegate& d) { m_changed = d; }
  void ClearValueChangedHandler() { m_changed.Unbind(); }

  int32_t Position() const { return m_nPosition; }
  int32_t ThumbExtent() const { return m_nThumb; }
  int32_t Minimum() const { return m_nMin; }
  int32_t Maximum() const { return m_nMax; }
  bool IsReadOnly() const { return m_bReadOnly; }
  // Pixel geometry along the bar.
  struct TGeometry {
    int32_t nStartCap = 0, nTrack = 0, nEndCap = 0;
    int32_t nThumb = 0, nThumbOffset = 0;  // the thumb's length and its offset after the start cap
    int32_t nThumbStart = 0, nThumbMiddle = 0, nThumbEnd = 0;
  };
  TGeometry Geometry() const;

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  bool OnDrag(int32_t nDelta) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void ReloadImages() override;

 private:
  int32_t Thickness() const;
  int32_t Length() const;
  // The picture's length once scaled to the thickness.
  int32_t ScaledLength(int32_t nRole) const;
  void LoadImages();
  // Scales the pictures to the thickness and the stretched pieces to their
  // lengths.
  void UpdateScaled();
  void SetScaled(int32_t nRole, int32_t nLength);
  void Report();

  int32_t m_anId[EImageCount] = {-1, -1, -1, -1, -1, -1};
  CBitmap* m_apSource[EImageCount] = {};
  CBitmap* m_apScaled[EImageCount] = {};
  int32_t m_nOrientation = EVertical;
  uint32_t m_nColorWord = 0xFFFF00FFu;
  uint8_t m_nFlag = 0;
  bool m_bImagesSet = false;
  bool m_bHasThickness = false;
  bool m_bReadOnly = false;
  int32_t m_nMin = 0;
  int32_t m_nMax = 100;
  int32_t m_nPosition = 10;
  int32_t m_nThumb = 30;
  bool m_bDragging = false;
  int32_t m_nLast = 0;         // the pointer where the drag started
  int32_t m_nDragOffset = 0;   // and the thumb's offset then
  CDelegate m_changed;
};
