// Texts and pictures: CtlStatic (a text or an image with font, colours,
// margins, a font height fitted to the box and marquee scrolling), the tap
// classifier every touchable control shares, the busy animation and links.
// UI thread only, including the 100 ms tick.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/Control.h"
#include "framework/Events.h"
#include "framework/Graphics.h"

// Classifies pointer events into the two gestures a control reacts to.
class CTapTracker {
 public:
  enum : int32_t {
    ENotPointer = 0,
    EOther = 1,          // a press, a move, or a release outside
    EReleaseInside = 2,  // a release inside the rectangle after a press
  };
  // `rc` is the control's local rectangle; its edges count as inside.
  int32_t Track(const TInputEvent& event, const RECT& rc);
  static bool Inside(const TInputEvent& event, const RECT& rc) {
    return event.x >= rc.left && event.x <= rc.right && event.y >= rc.top && event.y <= rc.bottom;
  }
  bool IsPressed() const { return m_bPressed; }

 private:
  POINT m_ptLast{};
  bool m_bPressed = false;
};

// What an auto-fit handler is called with; it answers in nResult.
struct TAutoFitQuery {
  const plat::WString* pText = nullptr;
  int32_t nWidth = 0;
  int32_t nResult = 0;
};

// Background modes of a static: 1 paints the parent's background; any other
// value fills with the background colour, the value being the brush mode.
inline constexpr int32_t kStaticParentBackground = 1;

class CtlStatic : public CControl, public CEventListenerFor<TimerTickEvent> {
 public:
  enum : int32_t { EContentText = 0, EContentImage = 1 };

  CtlStatic();
  ~CtlStatic() override;
  static CtlStatic* Create(CControl* pParent);
  void Init(CControl* pParent);

  void SetText(plat::WStringView text);
  void SetTextId(int32_t nId);
  // The image forms take a scaling flag: scaled to the box, or drawn at its
  // own size.
  void SetImage(CBitmap* pBitmap, bool bScaling);
  void SetImageId(int32_t nId, bool bScaling);
  // Smooth: proportional scaling (centred, transparent bands); else stretched.
  void SetImageScaling(bool bSmooth);
  void SetTextColor(TColor color, int32_t nMode);
  void SetBackColor(TColor color, int32_t nMode);
  void SetAlignment(int32_t nMode);  // EAlign*: 3 to 5 may scroll
  void SetTextStyle(int32_t nPlace);  // EPlace*
  void SetLineFraction(const TFraction& fraction);
  void SetMarquee(bool bOn);
  void SetMargins(int32_t nHorizontal, int32_t nVertical);
  // With auto-fit the height of the description is replaced by the box's.
  // Error 5 for a height below 1 without auto-fit.
  void SetFont(const TFontDesc& desc);
  void SetAutoFit(bool bOn);
  // Called with a TAutoFitQuery*; its answer is the font height.
  void SetAutoFitHandler(const CDelegate& handler);
  void SetClickHandler(const CDelegate& handler) { m_click = handler; }
  void SetPressHandler(const CDelegate& handler) { m_press = handler; }
  // The rectangle (in the parent) the content wants.
  RECT Measure();

  int32_t ContentMode() const { return m_nContent; }
  int32_t ImageId() const { return m_nImageId; }  // -1 for a delivered bitmap
  const plat::WString& Text() const { return m_text; }
  CFont* Font() const { return m_pFont; }
  int32_t Alignment() const { return m_nAlign; }
  TColor TextColor() const { return m_textColor; }
  int32_t MarqueeOffset() const { return m_nOffset; }
  int32_t TextWidth() const { return m_nTextWidth; }
  bool IsAutoFit() const { return m_bAutoFit || m_autoFit.IsSet(); }
  bool MarqueeFlag() const { return m_bMarquee; }
  POINT Margins() const { return POINT{m_nMarginH, m_nMarginV}; }
  // The rectangle inset by the margins, local.
  RECT InnerBox() const;

  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void OnShown(bool bVisible) override;
  void ReloadImages() override;

 protected:
  void HandleEvent(const TNoPayload&) override;
  void PaintBackground(CGraphics& g, const POINT& origin, const RECT& clip);
  void PaintContent(CGraphics& g, const POINT& origin);
  void UpdateMarquee();
  // In text mode: the marquee follows the new look, which is repainted.
  void RestyleText();
  void RefitFont();
  void DropBitmaps();
  void MakeFont(const TFontDesc& desc);
  // The width of the text in the font, measured once per change.
  void MeasureText(CGraphics& g);
  static int32_t MarqueeStep();

  int32_t m_nContent = EContentText;
  CTapTracker m_tracker;
  int32_t m_nBackMode = kStaticParentBackground;
  TColor m_backColor = 0;
  CFont* m_pFont = nullptr;
  bool m_bAutoFit = false;
  int32_t m_nAlign = EAlignLeft;
  int32_t m_nPlace = EPlaceTop;
  plat::WString m_text;
  int32_t m_nMarginH = 0;
  int32_t m_nMarginV = 0;
  bool m_bMarquee = true;
  TFraction m_lineFraction{1, 1};
  int32_t m_nTextWidth = -1;
  int32_t m_nOffset = 0;
  TColor m_textColor = 0;
  int32_t m_nTextMode = EColorSolid;
  CBitmap* m_pScaled = nullptr;
  CBitmap* m_pSource = nullptr;
  int32_t m_nImageId = -1;
  bool m_bScaling = false;
  bool m_bSmooth = true;
  CDelegate m_click;
  CDelegate m_press;
  CDelegate m_autoFit;
};

// The busy indicator: a picture that cycles through frames on the tick
// while shown.
class CtlAnimation : public CtlStatic {
 public:
  CtlAnimation() = default;
  ~CtlAnimation() override;
  static CtlAnimation* Create(CControl* pParent);
  // The picture at its own size; the first frame shows at once.
  void AddFrame(int32_t nImageId);
  void SetFrameInterval(int32_t nTicks) { m_nPeriod = nTicks; }
  void Show(bool bShow);
  int32_t CurrentFrame() const { return m_nFrame; }
  size_t FrameCount() const { return m_frames.size(); }

  void OnShown(bool bVisible) override;

 protected:
  void HandleEvent(const TNoPayload&) override;

 private:
  int32_t m_nPeriod = 10;
  int32_t m_nFrame = -1;
  int32_t m_nCounter = 0;
  std::vector<CBitmap*> m_frames;
};

// A text that looks like a link: underlined and lighter while focused, and
// scrolling then. Reports a tap or Enter through the click handler.
class CtlLink : public CtlStatic {
 public:
  CtlLink();
  static CtlLink* Create(CControl* pParent);
  // The normal look; the focused look adds an underline.
  void SetFont(const TFontDesc& desc);

  bool OnInput(const TInputEvent& event) override;
  void OnFocusChanged(bool bFocused, CControl* pOld, CControl* pNew) override;

 private:
  void ApplyLook(bool bFocused);
  TFontDesc m_normal{12, false, false, false};
  TFontDesc m_focused{12, false, false, true};
};
