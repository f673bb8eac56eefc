// The drawing layer every control paints through: CGraphics over a device
// context (a window's, or a memory context over a bitmap), reference-counted
// bitmaps with optional per-pixel alpha, and fitted "Tahoma" fonts.
//
// Ownership: every function here that returns a CBitmap* or CFont* hands the
// caller one reference of its own (already counted). Keep it in a slot, or
// give it up with removeReference().
//
// Errors: a failed system call is Env error 7, a bad argument error 5; a
// drawing call on a CGraphics without a device context is a broken
// invariant (TPanic "Graphics").
//
// UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/basetypes.h"
#include "framework/wrappers.h"
#include "platform/gdi/Gdi.h"
#include "platform/text/Text.h"
#include "platform/ui/UiTypes.h"

// A colour word 0xAARRGGBB, as the theme colours are written. Drawing takes
// red, green and blue; alpha is ignored.
using TColor = uint32_t;

// Colour modes of SetFillColor / SetLineColor.
enum : int32_t {
  EColorSolid = 0,  // draw in the colour
  EColorOff = 1,    // that kind of drawing is switched off
  EColorKeep = 2,   // leave the current setting as it is
};

// Text alignments: the first three wrap at word boundaries over several
// lines, the last three keep the text on one line.
enum : int32_t {
  EAlignLeft = 0,
  EAlignRight = 1,
  EAlignCenter = 2,
  EAlignLeftSingle = 3,
  EAlignRightSingle = 4,
  EAlignCenterSingle = 5,
};

// Vertical placement of DrawTextEx within its rectangle.
enum : int32_t {
  EPlaceTop = 0,
  EPlaceCenter = 1,
  EPlaceBottom = 2,
};

// Scaling modes of CBitmap::NewScaled / NewScaledSmooth.
enum : int32_t {
  EScaleStretch = 0,       // over the whole target
  EScaleProportional = 1,  // keep the proportions, centred; the rest transparent
  EScaleNone = 2,          // keep the source's own size
};

struct TFontDesc {
  int32_t nPixelHeight = 0;
  bool bBold = false;
  bool bItalic = false;
  bool bUnderline = false;
  friend bool operator==(const TFontDesc&, const TFontDesc&) = default;
};

// A "Tahoma" font whose measured line height (ascent + descent) fits its
// pixel height. The font is asked for by character height first, which
// nearly always measures taller, so it is refitted: the request is scaled by
// pixel height / measured height and tried again, three tries at most. When
// the third still measures too tall the last one is kept.
class CFont : public RCObject {
 public:
  // Height below 1: error 5. A font the system cannot make: error 7.
  static CFont* Create(int32_t nPixelHeight, bool bBold, bool bItalic, bool bUnderline);
  static CFont* Create(const TFontDesc& desc) {
    return Create(desc.nPixelHeight, desc.bBold, desc.bItalic, desc.bUnderline);
  }

  plat::HFONT Handle() const { return m_hFont; }
  TFontDesc Desc() const { return {m_nPixelHeight, m_bBold, m_bItalic, m_bUnderline}; }
  int32_t PixelHeight() const { return m_nPixelHeight; }
  // The font height the fitting settled on (negative: a character height)
  // and the line height measured for it.
  int32_t RequestedHeight() const { return m_nRequestedHeight; }
  int32_t MeasuredHeight() const { return m_nMeasuredHeight; }

 protected:
  ~CFont() override;

 private:
  CFont() = default;
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;

  plat::HFONT m_hFont = nullptr;
  bool m_bBold = false;
  bool m_bItalic = false;
  bool m_bUnderline = false;
  int32_t m_nPixelHeight = 0;
  int32_t m_nRequestedHeight = 0;
  int32_t m_nMeasuredHeight = 0;
};

// A bitmap shared by reference counting; its handle is deleted with the
// last reference. Bitmaps with alpha hold premultiplied B, G, R, A pixels
// and are drawn with AlphaBlend; the others are copied.
class CBitmap : public RCObject {
 public:
  // Takes ownership of the handle (null gives an empty bitmap). The alpha
  // flag says whether its pixels carry per-pixel alpha.
  static CBitmap* FromHandle(plat::HBITMAP hBitmap, bool bAlpha);
  // Decodes PNG bytes (a downloaded picture): undecodable data is error 5.
  // The result is drawn opaque: its alpha flag is clear.
  static CBitmap* FromPngData(const uint8_t* pData, size_t nLength);
  // A copy of the source scaled to the target rectangle's size in the mode
  // (EScale*): the first with nearest-neighbour sampling, the second with a
  // smoothing filter. A source without handle, or a target narrower or lower
  // than 1 pixel, gives an empty bitmap. An unknown mode is error 5. The
  // result has alpha when the source has, and always in EScaleProportional,
  // whose uncovered bands are transparent.
  static CBitmap* NewScaled(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode);
  static CBitmap* NewScaledSmooth(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode);

  // (0, 0, width, height); all zero without a handle.
  RECT GetSize() const;
  plat::HBITMAP Handle() const { return m_hBitmap; }
  bool HasAlpha() const { return m_bAlpha; }
  // For scaled bitmaps, the size of the source they were made from.
  SIZE SourceSize() const { return {m_nSourceWidth, m_nSourceHeight}; }

 protected:
  ~CBitmap() override;

 private:
  CBitmap() = default;
  CBitmap(const CBitmap&) = delete;
  CBitmap& operator=(const CBitmap&) = delete;
  static CBitmap* CreateScaled(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode, bool bSmooth);

  plat::HBITMAP m_hBitmap = nullptr;
  bool m_bAlpha = false;
  int32_t m_nSourceWidth = 0;
  int32_t m_nSourceHeight = 0;
  int32_t m_nWidth = 0;
  int32_t m_nHeight = 0;
};

// A drawing context over a device context: fill and line colours, the
// current font and a stack of clip rectangles. Fill and line start switched
// off, so nothing is drawn before a colour is chosen; text uses the system
// font until SetFont. Releasing the object hands the device context back
// with the objects it had selected, and frees the brush, pen and clip.
class CGraphics : public RCObject {
 public:
  // Draws on a context owned elsewhere (for example BeginPaint's), which is
  // neither released nor deleted.
  explicit CGraphics(plat::HDC hDC);
  ~CGraphics() override;
  CGraphics(const CGraphics&) = delete;
  CGraphics& operator=(const CGraphics&) = delete;

  plat::HDC Dc() const { return m_hDC; }

  void SetFillColor(TColor color, int32_t nMode);
  void SetLineColor(TColor color, int32_t nMode);

  // The outline in the line colour and the inside in the fill colour; right
  // and bottom exclusive.
  void DrawRectangle(const RECT& rc);

  // Makes a font of the description (or the given font) current.
  void SetFont(const TFontDesc& desc);
  void SetFont(CFont* pFont);
  CFont* Font() const { return m_pFont; }  // not a new reference

  // The rectangle the text takes inside `rc` in the alignment; draws
  // nothing. A negative length means "up to the terminating NUL".
  RECT DrawText(const char16_t* pText, int32_t nLength, const RECT& rc, int32_t nAlign);
  RECT DrawText(plat::WStringView text, const RECT& rc, int32_t nAlign);

  // Draws the text inside `rc` in the line colour, on the fill colour or,
  // with fill off, on what is there; nothing when the line is off. Lines
  // start `lineFraction` of the line height apart and the whole text is
  // placed vertically by nPlace (EPlace*); drawing stays inside `rc`.
  void DrawTextEx(const char16_t* pText, int32_t nLength, const RECT& rc, int32_t nAlign,
                  const TFraction& lineFraction, int32_t nPlace);
  void DrawTextEx(plat::WStringView text, const RECT& rc, int32_t nAlign, const TFraction& lineFraction,
                  int32_t nPlace);

  // Narrows the clip to its intersection with `rc`; PopClip restores the
  // one before, or removes clipping altogether when nothing was pushed.
  void PushClip(const RECT& rc);
  void PopClip();
  RECT ClipRect() const { return m_rcClip; }
  size_t ClipDepth() const { return m_clipStack.size(); }

  // Draws the source rectangle of the bitmap (all of it when empty) at
  // (x, y): alpha-blended when the bitmap has alpha, else copied. A bitmap
  // without handle draws nothing. The opaque form always copies.
  void DrawBitmap(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource);
  void DrawBitmapOpaque(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource);

  // Whether anything was drawn through this object.
  bool HasDrawn() const { return m_bDrawn; }

 protected:
  CGraphics() = default;
  // Takes the context: the current clip box becomes the clip rectangle.
  void Attach(plat::HDC hDC, plat::HWND hWnd, bool bKeepDC, bool bDeleteDC);
  // Puts back what this object selected into the context and frees its
  // brush, pen and clip; safe to call more than once.
  void RestoreContext();
  // RestoreContext, then deletes the context when this object owns it.
  void ReleaseContext();

  plat::HDC m_hDC = nullptr;
  plat::HWND m_hWnd = nullptr;
  bool m_bKeepDC = true;
  bool m_bDeleteDC = false;

 private:
  struct TClipEntry {
    RECT rc;
    bool bClipped;
  };
  void SelectInto(plat::HGDIOBJ hObject, plat::HGDIOBJ* phPrevious);
  void PrepareTextFont();
  void DrawBitmapWith(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource, bool bBlend);
  void SelectClip(const RECT& rc, bool bClipped);

  bool m_bDrawn = false;
  plat::HBRUSH m_hBrush = nullptr;
  plat::HGDIOBJ m_hOldBrush = nullptr;
  plat::HPEN m_hPen = nullptr;
  plat::HGDIOBJ m_hOldPen = nullptr;
  CFont* m_pFont = nullptr;
  plat::HGDIOBJ m_hOldFont = nullptr;
  bool m_bFillOff = true;
  bool m_bLineOff = true;
  plat::COLORREF m_fillColor = 0;
  plat::COLORREF m_lineColor = 0;
  std::vector<TClipEntry> m_clipStack;
  RECT m_rcClip{};
  bool m_bClipped = false;  // a clip region of ours is selected
};

// Draws on a bitmap through a memory context of its own, compatible with
// the given context (null: the screen). The bitmap must not be selected
// into another context meanwhile. Failure of either step: error 7.
class CMemoryGraphics : public CGraphics {
 public:
  explicit CMemoryGraphics(plat::HBITMAP hBitmap, plat::HDC hCompatible = nullptr);
  ~CMemoryGraphics() override;

 private:
  plat::HGDIOBJ m_hOldBitmap = nullptr;
};

// Draws on a window through GetDC; the context is released with the object.
// A window the system does not know: error 7.
class CWindowGraphics : public CGraphics {
 public:
  explicit CWindowGraphics(plat::HWND hWnd);
  ~CWindowGraphics() override;
};
