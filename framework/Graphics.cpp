#include "framework/Graphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "framework/PngLoader.h"
#include "platform/base/Errors.h"

namespace {

constexpr const char16_t* kGraphics = u"Graphics";

plat::COLORREF ToColorRef(TColor color) {
  // The word's low byte is blue, so on the device's little-endian memory the
  // bytes read blue, green, red: the GDI value is blue * 65536 + green * 256
  // + red.
  return plat::RGB(static_cast<uint8_t>(color >> 16), static_cast<uint8_t>(color >> 8),
                   static_cast<uint8_t>(color));
}

uint32_t AlignFormat(int32_t nAlign) {
  static constexpr uint32_t kFormats[] = {
      plat::DT_LEFT | plat::DT_WORDBREAK,    plat::DT_RIGHT | plat::DT_WORDBREAK,
      plat::DT_CENTER | plat::DT_WORDBREAK,  plat::DT_LEFT | plat::DT_SINGLELINE,
      plat::DT_RIGHT | plat::DT_SINGLELINE,  plat::DT_CENTER | plat::DT_SINGLELINE,
  };
  if (nAlign < 0 || nAlign > 5) Env::ThrowError(Env::ErrBadArgument);
  return kFormats[nAlign] | plat::DT_NOPREFIX;
}

plat::WStringView TextView(const char16_t* pText, int32_t nLength) {
  if (!pText) return {};
  if (nLength < 0) return plat::WStringView(pText);
  return {pText, static_cast<size_t>(nLength)};
}

// DrawText returns 0 both for a failure and for text that takes no room;
// the last error tells them apart.
int CheckedDrawText(plat::HDC hDC, plat::WStringView text, RECT* pRect, uint32_t nFormat) {
  plat::SetLastError(0);
  const int nResult = plat::DrawText(hDC, text, pRect, nFormat);
  if (nResult == 0 && plat::GetLastError() != 0) Env::ThrowError(Env::ErrSystem);
  return nResult;
}

// A memory context with a bitmap selected for one scope.
class TBitmapDc {
 public:
  explicit TBitmapDc(plat::HBITMAP hBitmap) {
    m_hDC = plat::CreateCompatibleDC(nullptr);
    if (m_hDC) m_hOld = plat::SelectObject(m_hDC, hBitmap);
    if (!m_hOld) {
      // A failed constructor runs no destructor.
      if (m_hDC) plat::DeleteDC(m_hDC);
      Env::ThrowError(Env::ErrSystem);
    }
  }
  ~TBitmapDc() {
    if (m_hOld) plat::SelectObject(m_hDC, m_hOld);
    if (m_hDC) plat::DeleteDC(m_hDC);
  }
  TBitmapDc(const TBitmapDc&) = delete;
  TBitmapDc& operator=(const TBitmapDc&) = delete;
  plat::HDC Get() const { return m_hDC; }

 private:
  plat::HDC m_hDC = nullptr;
  plat::HGDIOBJ m_hOld = nullptr;
};

// A 32-bit top-down DIB section (B, G, R, A bit fields), zeroed.
plat::HBITMAP NewDib32(int32_t nWidth, int32_t nHeight, uint8_t** ppBits) {
  plat::BitmapInfo info;
  info.header.width = nWidth;
  info.header.height = -nHeight;
  info.header.planes = 1;
  info.header.bitCount = 32;
  info.header.compression = plat::BI_BITFIELDS;
  info.header.sizeImage = static_cast<uint32_t>(uint64_t(nWidth) * uint64_t(nHeight) * 4);
  info.masks[0] = 0x00FF0000;
  info.masks[1] = 0x0000FF00;
  info.masks[2] = 0x000000FF;
  void* pBits = nullptr;
  plat::HBITMAP hBitmap = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &pBits);
  if (!hBitmap || !pBits) {
    if (hBitmap) plat::DeleteObject(hBitmap);
    Env::ThrowError(Env::ErrSystem);
  }
  *ppBits = static_cast<uint8_t*>(pBits);
  return hBitmap;
}

// Deletes a GDI object unless released.
class TGdiObjectHold {
 public:
  explicit TGdiObjectHold(plat::HGDIOBJ hObject) : m_hObject(hObject) {}
  ~TGdiObjectHold() {
    if (m_hObject) plat::DeleteObject(m_hObject);
  }
  TGdiObjectHold(const TGdiObjectHold&) = delete;
  TGdiObjectHold& operator=(const TGdiObjectHold&) = delete;
  plat::HGDIOBJ Release() { return std::exchange(m_hObject, nullptr); }

 private:
  plat::HGDIOBJ m_hObject;
};

// Drops one reference at the end of a scope.
template <class T>
class TRefHold {
 public:
  explicit TRefHold(T* p) : m_p(p) {}
  ~TRefHold() {
    if (m_p) m_p->removeReference();
  }
  TRefHold(const TRefHold&) = delete;
  TRefHold& operator=(const TRefHold&) = delete;
  T* Get() const { return m_p; }
  T* Release() { return std::exchange(m_p, nullptr); }

 private:
  T* m_p;
};

// The smoothing scaler's filter along one axis: for each of the `nTo`
// outputs, the source samples it reads and their weights (summing to 1).
// Shrinking averages the source area each output covers; enlarging
// interpolates linearly between pixel centres. Equal sizes copy.
struct TTaps {
  std::vector<int32_t> first;   // per output: index into index/weight
  std::vector<int32_t> count;   // per output
  std::vector<int32_t> index;   // source sample
  std::vector<float> weight;
};

TTaps BuildTaps(int32_t nFrom, int32_t nTo) {
  TTaps taps;
  taps.first.reserve(size_t(nTo));
  taps.count.reserve(size_t(nTo));
  const int64_t s = nFrom, d = nTo;
  for (int64_t i = 0; i < d; ++i) {
    taps.first.push_back(static_cast<int32_t>(taps.index.size()));
    if (d < s) {
      // Output i covers [i * s, (i + 1) * s) in units of 1/d source pixel.
      const int64_t lo = i * s, hi = (i + 1) * s;
      for (int64_t j = lo / d; j * d < hi; ++j) {
        const int64_t overlap = std::min(hi, (j + 1) * d) - std::max(lo, j * d);
        if (overlap <= 0) continue;
        taps.index.push_back(static_cast<int32_t>(j));
        taps.weight.push_back(static_cast<float>(double(overlap) / double(s)));
      }
    } else {
      // The output's centre in source pixels is (2i + 1) * s / (2d) - 1/2;
      // in units of 1/(2d) that is (2i + 1) * s - d.
      const int64_t pos = (2 * i + 1) * s - d;
      const int64_t unit = 2 * d;
      int64_t j0 = pos >= 0 ? pos / unit : -((-pos + unit - 1) / unit);
      const int64_t frac = pos - j0 * unit;
      int64_t j1 = j0 + 1;
      j0 = std::clamp<int64_t>(j0, 0, s - 1);
      j1 = std::clamp<int64_t>(j1, 0, s - 1);
      if (j0 == j1 || frac == 0) {
        taps.index.push_back(static_cast<int32_t>(j0));
        taps.weight.push_back(1.0f);
      } else {
        taps.index.push_back(static_cast<int32_t>(j0));
        taps.weight.push_back(static_cast<float>(double(unit - frac) / double(unit)));
        taps.index.push_back(static_cast<int32_t>(j1));
        taps.weight.push_back(static_cast<float>(double(frac) / double(unit)));
      }
    }
    taps.count.push_back(static_cast<int32_t>(taps.index.size()) - taps.first.back());
  }
  return taps;
}

// One filter pass along an axis: for each of `nLines` lines across it, the
// outputs along it are weighted sums of four-channel inputs. Steps are in
// elements (a pixel is four).
template <class TIn, class TStore>
void FilterPass(const TIn* pIn, size_t nInAlong, size_t nInAcross, const TTaps& taps, int32_t nLines,
                size_t nOutAlong, size_t nOutAcross, const TStore& store) {
  const int32_t nOut = static_cast<int32_t>(taps.count.size());
  for (int32_t line = 0; line < nLines; ++line) {
    const TIn* pLine = pIn + size_t(line) * nInAcross;
    for (int32_t i = 0; i < nOut; ++i) {
      float acc[4] = {0, 0, 0, 0};
      for (int32_t k = 0; k < taps.count[size_t(i)]; ++k) {
        const size_t t = size_t(taps.first[size_t(i)] + k);
        const TIn* p = pLine + size_t(taps.index[t]) * nInAlong;
        const float w = taps.weight[t];
        for (int c = 0; c < 4; ++c) acc[c] += w * float(p[c]);
      }
      store(size_t(line) * nOutAcross + size_t(i) * nOutAlong, acc);
    }
  }
}

// Scales premultiplied B, G, R, A pixels (sw x sh, packed rows) into the
// dw x dh rectangle at (dx, dy) of a top-down 32-bit target. Weighted sums
// of premultiplied pixels stay premultiplied, and translucent areas keep
// their alpha: a uniform picture scales to the same uniform picture. The
// two passes run in the order that keeps the intermediate image smaller.
void ScaleSmooth(const uint8_t* pSource, int32_t sw, int32_t sh, uint8_t* pTarget, int32_t nTargetWidth,
                 int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
  const TTaps across = BuildTaps(sw, dw);
  const TTaps down = BuildTaps(sh, dh);
  const size_t nStride = size_t(nTargetWidth) * 4;
  uint8_t* pOrigin = pTarget + size_t(dy) * nStride + size_t(dx) * 4;
  auto toTarget = [pOrigin](size_t at, const float* acc) {
    uint8_t* p = pOrigin + at;
    for (int c = 0; c < 4; ++c) p[c] = static_cast<uint8_t>(std::clamp(std::lround(acc[c]), 0L, 255L));
    // Rounding each channel on its own can put a colour one above alpha.
    for (int c = 0; c < 3; ++c) p[c] = std::min(p[c], p[3]);
  };
  std::vector<float> between;
  if (uint64_t(dw) * uint64_t(sh) <= uint64_t(sw) * uint64_t(dh)) {
    between.resize(size_t(dw) * size_t(sh) * 4);
    auto toBetween = [&between](size_t at, const float* acc) { std::memcpy(&between[at], acc, 4 * sizeof(float)); };
    // Rows first (sh rows of dw), then columns.
    FilterPass(pSource, 4, size_t(sw) * 4, across, sh, 4, size_t(dw) * 4, toBetween);
    FilterPass(between.data(), size_t(dw) * 4, 4, down, dw, nStride, 4, toTarget);
  } else {
    between.resize(size_t(sw) * size_t(dh) * 4);
    auto toBetween = [&between](size_t at, const float* acc) { std::memcpy(&between[at], acc, 4 * sizeof(float)); };
    // Columns first (sw columns of dh), then rows.
    FilterPass(pSource, size_t(sw) * 4, 4, down, sw, size_t(sw) * 4, 4, toBetween);
    FilterPass(between.data(), 4, size_t(sw) * 4, across, dh, 4, nStride, toTarget);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// CFont

CFont::~CFont() {
  if (m_hFont) plat::DeleteObject(m_hFont);
}

CFont* CFont::Create(int32_t nPixelHeight, bool bBold, bool bItalic, bool bUnderline) {
  if (nPixelHeight < 1) Env::ThrowError(Env::ErrBadArgument);

  plat::FontDesc desc;
  desc.height = -nPixelHeight;  // a character height
  desc.weight = bBold ? plat::FW_BOLD : plat::FW_NORMAL;
  desc.italic = bItalic ? 1 : 0;
  desc.underline = bUnderline ? 1 : 0;
  desc.charSet = plat::DEFAULT_CHARSET;
  desc.quality = plat::ANTIALIASED_QUALITY;
  const char16_t kFace[] = u"Tahoma";
  std::copy(std::begin(kFace), std::end(kFace), desc.faceName);

  TRefHold<CFont> font(new CFont);
  font.Get()->addReference();
  CFont* pFont = font.Get();
  pFont->m_bBold = bBold;
  pFont->m_bItalic = bItalic;
  pFont->m_bUnderline = bUnderline;
  pFont->m_nPixelHeight = nPixelHeight;

  plat::HDC hDC = plat::CreateCompatibleDC(nullptr);
  if (!hDC) Env::ThrowError(Env::ErrSystem);
  struct TDcHold {
    plat::HDC h;
    ~TDcHold() { plat::DeleteDC(h); }
  } dcHold{hDC};

  for (int nTry = 1;; ++nTry) {
    plat::HFONT hFont = plat::CreateFontIndirect(desc);
    if (!hFont) Env::ThrowError(Env::ErrSystem);
    TGdiObjectHold fontHold(hFont);
    plat::TextMetrics metrics;
    plat::HGDIOBJ hOld = plat::SelectObject(hDC, hFont);
    const bool bMeasured = hOld && plat::GetTextMetrics(hDC, &metrics);
    if (hOld) plat::SelectObject(hDC, hOld);
    if (!bMeasured) Env::ThrowError(Env::ErrSystem);

    const int32_t nMeasured = metrics.height;
    // Multiplied before dividing, so the ratio never truncates to zero; the
    // sign says "character height" and a height of 0 would mean "default".
    int64_t nNext = int64_t(desc.height) * nPixelHeight / std::max(nMeasured, 1);
    if (nNext == 0) nNext = desc.height < 0 ? -1 : 1;
    // Stop when it fits, when three tries are spent (keeping the last font
    // rather than none), or when the next request would be the same font.
    if (nMeasured <= nPixelHeight || nTry == 3 || nNext == desc.height) {
      pFont->m_hFont = static_cast<plat::HFONT>(fontHold.Release());
      pFont->m_nRequestedHeight = desc.height;
      pFont->m_nMeasuredHeight = nMeasured;
      break;
    }
    desc.height = static_cast<int32_t>(nNext);
  }
  return font.Release();
}

// ---------------------------------------------------------------------------
// CBitmap

CBitmap::~CBitmap() {
  if (m_hBitmap) plat::DeleteObject(m_hBitmap);
}

CBitmap* CBitmap::FromHandle(plat::HBITMAP hBitmap, bool bAlpha) {
  plat::BitmapDesc desc;
  if (hBitmap && plat::GetObject(hBitmap, &desc) == 0) Env::ThrowError(Env::ErrBadArgument);
  CBitmap* pBitmap = new CBitmap;  // nothing below throws
  pBitmap->m_hBitmap = hBitmap;
  pBitmap->m_bAlpha = bAlpha;
  if (hBitmap) {
    pBitmap->m_nWidth = desc.width;
    pBitmap->m_nHeight = desc.height;
  }
  pBitmap->addReference();
  return pBitmap;
}

CBitmap* CBitmap::FromPngData(const uint8_t* pData, size_t nLength) {
  plat::HBITMAP hBitmap = LoadPngImage(pData, nLength);
  if (!hBitmap) Env::ThrowError(Env::ErrBadArgument);
  return FromHandle(hBitmap, false);
}

RECT CBitmap::GetSize() const {
  if (!m_hBitmap) return {};
  return {0, 0, m_nWidth, m_nHeight};
}

CBitmap* CBitmap::NewScaled(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode) {
  return CreateScaled(pSource, rcTarget, nMode, false);
}

CBitmap* CBitmap::NewScaledSmooth(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode) {
  return CreateScaled(pSource, rcTarget, nMode, true);
}

CBitmap* CBitmap::CreateScaled(const CBitmap* pSource, const RECT& rcTarget, int32_t nMode, bool bSmooth) {
  if (nMode != EScaleStretch && nMode != EScaleProportional && nMode != EScaleNone)
    Env::ThrowError(Env::ErrBadArgument);
  const int64_t tw = int64_t(rcTarget.right) - rcTarget.left;
  const int64_t th = int64_t(rcTarget.bottom) - rcTarget.top;
  if (!pSource || !pSource->m_hBitmap || tw < 1 || th < 1) return FromHandle(nullptr, false);

  const int32_t sw = pSource->m_nWidth, sh = pSource->m_nHeight;
  const int64_t rw = nMode == EScaleNone ? sw : tw;
  const int64_t rh = nMode == EScaleNone ? sh : th;
  if (rw < 0 || rh < 0 || rw > INT32_MAX || rh > INT32_MAX) QUOREL_PANIC(kGraphics, 897);

  // Where the picture lands in the result.
  int64_t dx = 0, dy = 0, dw = rw, dh = rh;
  if (nMode == EScaleProportional) {
    // Scale by th / sh when the width still fits, else by tw / sw; compared
    // exactly, in integers.
    if (int64_t(sw) * th <= tw * sh) {
      dh = th;
      dw = int64_t(sw) * th / sh;
    } else {
      dw = tw;
      dh = int64_t(sh) * tw / sw;
    }
    // A very thin source still shows as one pixel, not as nothing.
    dw = std::max<int64_t>(dw, 1);
    dh = std::max<int64_t>(dh, 1);
    dx = tw / 2 - dw / 2;
    dy = th / 2 - dh / 2;
  }

  uint8_t* pBits = nullptr;
  plat::HBITMAP hResult = NewDib32(static_cast<int32_t>(rw), static_cast<int32_t>(rh), &pBits);
  TGdiObjectHold resultHold(hResult);

  if (bSmooth) {
    // The source is read through a copy of known layout (top-down, 32-bit),
    // whatever its own format and row order.
    uint8_t* pCopy = nullptr;
    plat::HBITMAP hCopy = NewDib32(sw, sh, &pCopy);
    TGdiObjectHold copyHold(hCopy);
    {
      TBitmapDc from(pSource->m_hBitmap);
      TBitmapDc to(hCopy);
      if (!plat::BitBlt(to.Get(), 0, 0, sw, sh, from.Get(), 0, 0, plat::SRCCOPY)) Env::ThrowError(Env::ErrSystem);
    }
    if (!pSource->m_bAlpha) {
      const size_t nBytes = size_t(sw) * size_t(sh) * 4;
      for (size_t i = 3; i < nBytes; i += 4) pCopy[i] = 255;
    }
    try {
      ScaleSmooth(pCopy, sw, sh, pBits, static_cast<int32_t>(rw), static_cast<int32_t>(dx), static_cast<int32_t>(dy),
                  static_cast<int32_t>(dw), static_cast<int32_t>(dh));
    } catch (const std::bad_alloc&) {
      Env::ThrowError(Env::ErrSystem);
    }
  } else {
    TBitmapDc from(pSource->m_hBitmap);
    TBitmapDc to(hResult);
    plat::SetStretchBltMode(to.Get(), plat::COLORONCOLOR);
    plat::SetStretchBltMode(from.Get(), plat::COLORONCOLOR);
    bool bDrawn;
    if (pSource->m_bAlpha) {
      plat::BlendFunc blend;
      blend.blendOp = plat::AC_SRC_OVER;
      blend.sourceConstantAlpha = 255;
      blend.alphaFormat = plat::AC_SRC_ALPHA;
      bDrawn = plat::AlphaBlend(to.Get(), int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), from.Get(), 0, 0, sw,
                                sh, blend);
    } else {
      bDrawn = plat::StretchBlt(to.Get(), int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), from.Get(), 0, 0, sw,
                                sh, plat::SRCCOPY);
    }
    if (!bDrawn) Env::ThrowError(Env::ErrSystem);
    if (!pSource->m_bAlpha) {
      // An opaque source may carry anything in its fourth byte.
      for (int64_t y = dy; y < dy + dh; ++y) {
        uint8_t* pRow = pBits + size_t(y) * size_t(rw) * 4 + size_t(dx) * 4;
        for (int64_t x = 0; x < dw; ++x) pRow[size_t(x) * 4 + 3] = 255;
      }
    }
  }

  // The bands mode 1 leaves uncovered stay as the DIB started: transparent.
  CBitmap* pResult = new CBitmap;
  pResult->m_hBitmap = static_cast<plat::HBITMAP>(resultHold.Release());
  pResult->m_bAlpha = pSource->m_bAlpha || nMode == EScaleProportional;
  pResult->m_nSourceWidth = sw;
  pResult->m_nSourceHeight = sh;
  pResult->m_nWidth = static_cast<int32_t>(rw);
  pResult->m_nHeight = static_cast<int32_t>(rh);
  pResult->addReference();
  return pResult;
}

// ---------------------------------------------------------------------------
// CGraphics

CGraphics::CGraphics(plat::HDC hDC) { Attach(hDC, nullptr, true, false); }

CGraphics::~CGraphics() { ReleaseContext(); }

void CGraphics::Attach(plat::HDC hDC, plat::HWND hWnd, bool bKeepDC, bool bDeleteDC) {
  m_hDC = hDC;
  m_hWnd = hWnd;
  m_bKeepDC = bKeepDC;
  m_bDeleteDC = bDeleteDC;
  m_rcClip = {};
  if (hDC) plat::GetClipBox(hDC, &m_rcClip);
}

void CGraphics::RestoreContext() {
  if (m_hDC) {
    if (m_hOldBrush) plat::SelectObject(m_hDC, m_hOldBrush);
    if (m_hOldPen) plat::SelectObject(m_hDC, m_hOldPen);
    if (m_hOldFont) plat::SelectObject(m_hDC, m_hOldFont);
    if (m_bClipped) plat::SelectClipRgn(m_hDC, nullptr);
  }
  m_hOldBrush = m_hOldPen = m_hOldFont = nullptr;
  m_bClipped = false;
  m_clipStack.clear();
  if (m_hBrush) plat::DeleteObject(std::exchange(m_hBrush, nullptr));
  if (m_hPen) plat::DeleteObject(std::exchange(m_hPen, nullptr));
  RefPtr::Assign(m_pFont, static_cast<CFont*>(nullptr));
}

void CGraphics::ReleaseContext() {
  RestoreContext();
  if (m_hDC && !m_bKeepDC) {
    if (m_bDeleteDC)
      plat::DeleteDC(m_hDC);
    else
      plat::ReleaseDC(m_hWnd, m_hDC);
  }
  m_hDC = nullptr;
}

void CGraphics::SelectInto(plat::HGDIOBJ hObject, plat::HGDIOBJ* phPrevious) {
  plat::HGDIOBJ hOld = plat::SelectObject(m_hDC, hObject);
  if (!hOld) Env::ThrowError(Env::ErrSystem);
  // Only the first selection's predecessor is what the context had.
  if (!*phPrevious) *phPrevious = hOld;
}

void CGraphics::SetFillColor(TColor color, int32_t nMode) {
  if (nMode == EColorKeep) return;
  if (nMode != EColorSolid && nMode != EColorOff) Env::ThrowError(Env::ErrBadArgument);
  plat::HBRUSH hNew = nullptr;
  if (nMode == EColorSolid) {
    hNew = plat::CreateSolidBrush(ToColorRef(color));
    if (!hNew) Env::ThrowError(Env::ErrSystem);
  }
  // Deselect the old brush before deleting it; the next drawing selects
  // whatever is current then.
  if (m_hDC && m_hOldBrush) plat::SelectObject(m_hDC, std::exchange(m_hOldBrush, nullptr));
  if (m_hBrush) plat::DeleteObject(m_hBrush);
  m_hBrush = hNew;
  m_bFillOff = nMode == EColorOff;
  m_fillColor = ToColorRef(color);
}

void CGraphics::SetLineColor(TColor color, int32_t nMode) {
  if (nMode == EColorKeep) return;
  if (nMode != EColorSolid && nMode != EColorOff) Env::ThrowError(Env::ErrBadArgument);
  plat::HPEN hNew = nullptr;
  if (nMode == EColorSolid) {
    hNew = plat::CreatePen(plat::PS_SOLID, 0, ToColorRef(color));
    if (!hNew) Env::ThrowError(Env::ErrSystem);
  }
  if (m_hDC && m_hOldPen) plat::SelectObject(m_hDC, std::exchange(m_hOldPen, nullptr));
  if (m_hPen) plat::DeleteObject(m_hPen);
  m_hPen = hNew;
  m_bLineOff = nMode == EColorOff;
  m_lineColor = ToColorRef(color);
}

void CGraphics::DrawRectangle(const RECT& rc) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 589);
  SelectInto(m_bFillOff ? plat::GetStockObject(plat::NULL_BRUSH) : m_hBrush, &m_hOldBrush);
  SelectInto(m_bLineOff ? plat::GetStockObject(plat::NULL_PEN) : m_hPen, &m_hOldPen);
  if (!plat::Rectangle(m_hDC, rc.left, rc.top, rc.right, rc.bottom)) Env::ThrowError(Env::ErrSystem);
  m_bDrawn = true;
}

void CGraphics::SetFont(const TFontDesc& desc) {
  if (m_pFont && m_pFont->Desc() == desc) return;
  TRefHold<CFont> font(CFont::Create(desc));
  SetFont(font.Get());
}

void CGraphics::SetFont(CFont* pFont) {
  if (!pFont) Env::ThrowError(Env::ErrBadArgument);
  RefPtr::Assign(m_pFont, pFont);
}

void CGraphics::PrepareTextFont() {
  plat::HGDIOBJ hFont = m_pFont ? plat::HGDIOBJ(m_pFont->Handle()) : nullptr;
  if (!hFont) hFont = plat::GetStockObject(plat::SYSTEM_FONT);
  SelectInto(hFont, &m_hOldFont);
}

RECT CGraphics::DrawText(const char16_t* pText, int32_t nLength, const RECT& rc, int32_t nAlign) {
  return DrawText(TextView(pText, nLength), rc, nAlign);
}

RECT CGraphics::DrawText(plat::WStringView text, const RECT& rc, int32_t nAlign) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 469);
  const uint32_t nFormat = AlignFormat(nAlign);
  PrepareTextFont();
  RECT rcText = rc;
  CheckedDrawText(m_hDC, text, &rcText, nFormat | plat::DT_CALCRECT);
  return rcText;
}

void CGraphics::DrawTextEx(const char16_t* pText, int32_t nLength, const RECT& rc, int32_t nAlign,
                           const TFraction& lineFraction, int32_t nPlace) {
  DrawTextEx(TextView(pText, nLength), rc, nAlign, lineFraction, nPlace);
}

namespace {

// Pops what one PushClip pushed when the scope ends, also on an exception.
class TClipScope {
 public:
  TClipScope(CGraphics& graphics, const RECT& rc) : m_graphics(graphics) { m_graphics.PushClip(rc); }
  ~TClipScope() {
    try {
      m_graphics.PopClip();
    } catch (...) {
      // The clip stays narrower than it should; nothing else is at stake.
    }
  }
  TClipScope(const TClipScope&) = delete;
  TClipScope& operator=(const TClipScope&) = delete;

 private:
  CGraphics& m_graphics;
};

}  // namespace

void CGraphics::DrawTextEx(plat::WStringView text, const RECT& rc, int32_t nAlign, const TFraction& lineFraction,
                           int32_t nPlace) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 493);
  const uint32_t nFormat = AlignFormat(nAlign);
  if (nPlace < EPlaceTop || nPlace > EPlaceBottom) Env::ThrowError(Env::ErrBadArgument);
  if (m_bLineOff) return;

  PrepareTextFont();
  plat::TextMetrics metrics;
  if (!plat::GetTextMetrics(m_hDC, &metrics)) Env::ThrowError(Env::ErrSystem);
  const int32_t nLineHeight = metrics.height;
  RECT rcMeasured = rc;
  const int32_t nMeasured = CheckedDrawText(m_hDC, text, &rcMeasured, nFormat | plat::DT_CALCRECT);
  if (nLineHeight <= 0 || nMeasured <= 0) return;

  // Lines start a fraction of the line height apart; the text's height for
  // placing it is the first line plus one step per further line.
  const int32_t nLines = std::max(1, nMeasured / nLineHeight);
  int64_t nStep = nLineHeight;
  if (lineFraction.Num() != lineFraction.Den())
    nStep = std::max<int64_t>(1, int64_t(nLineHeight) * lineFraction.Num() / lineFraction.Den());
  const int64_t nTextHeight = nLineHeight + (nLines - 1) * nStep;
  int64_t nTop = rc.top;
  if (nPlace == EPlaceCenter)
    nTop = (int64_t(rc.top) + rc.bottom) / 2 - nTextHeight / 2;
  else if (nPlace == EPlaceBottom)
    nTop = int64_t(rc.bottom) - nTextHeight;

  plat::SetTextColor(m_hDC, m_lineColor);
  if (m_bFillOff) {
    plat::SetBkMode(m_hDC, plat::TRANSPARENT);
  } else {
    plat::SetBkMode(m_hDC, plat::OPAQUE);
    plat::SetBkColor(m_hDC, m_fillColor);
  }

  TClipScope inside(*this, rc);
  auto clampCoord = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
  if (nStep == nLineHeight || nLines == 1) {
    RECT rcDraw{rc.left, clampCoord(nTop), rc.right, clampCoord(nTop + nMeasured)};
    CheckedDrawText(m_hDC, text, &rcDraw, nFormat);
  } else {
    // The text system spaces lines by the line height, so each line is drawn
    // on its own: the whole text, shifted so that line i lands at its place,
    // seen through a band one line high. Every pass wraps alike.
    for (int32_t i = 0; i < nLines; ++i) {
      const int64_t nLineTop = nTop + i * nStep;
      TClipScope band(*this, {rc.left, clampCoord(nLineTop), rc.right, clampCoord(nLineTop + nLineHeight)});
      const int64_t nShift = nLineTop - int64_t(i) * nLineHeight;
      RECT rcDraw{rc.left, clampCoord(nShift), rc.right, clampCoord(nShift + nMeasured)};
      CheckedDrawText(m_hDC, text, &rcDraw, nFormat);
    }
  }
  m_bDrawn = true;
}

void CGraphics::SelectClip(const RECT& rc, bool bClipped) {
  if (bClipped) {
    plat::HRGN hRegion = plat::CreateRectRgn(rc.left, rc.top, rc.right, rc.bottom);
    if (!hRegion) Env::ThrowError(Env::ErrSystem);
    const int nResult = plat::SelectClipRgn(m_hDC, hRegion);  // the context keeps a copy
    plat::DeleteObject(hRegion);
    if (nResult == plat::RGN_ERROR) Env::ThrowError(Env::ErrSystem);
    m_rcClip = rc;
  } else {
    if (plat::SelectClipRgn(m_hDC, nullptr) == plat::RGN_ERROR) Env::ThrowError(Env::ErrSystem);
    RECT rcBox{};
    plat::GetClipBox(m_hDC, &rcBox);
    m_rcClip = rcBox;
  }
  m_bClipped = bClipped;
}

void CGraphics::PushClip(const RECT& rc) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 231);
  const TClipEntry saved{m_rcClip, m_bClipped};
  m_clipStack.push_back(saved);
  try {
    SelectClip(RectIntersect(m_rcClip, rc), true);
  } catch (...) {
    m_clipStack.pop_back();
    throw;
  }
}

void CGraphics::PopClip() {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 283);
  if (m_clipStack.empty()) {
    SelectClip({}, false);
    return;
  }
  const TClipEntry entry = m_clipStack.back();
  SelectClip(entry.rc, entry.bClipped);
  m_clipStack.pop_back();
}

void CGraphics::DrawBitmap(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 672);
  DrawBitmapWith(pBitmap, x, y, rcSource, pBitmap && pBitmap->HasAlpha());
}

void CGraphics::DrawBitmapOpaque(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource) {
  if (!m_hDC) QUOREL_PANIC(kGraphics, 738);
  DrawBitmapWith(pBitmap, x, y, rcSource, false);
}

void CGraphics::DrawBitmapWith(const CBitmap* pBitmap, int32_t x, int32_t y, const RECT& rcSource, bool bBlend) {
  if (!pBitmap || !pBitmap->Handle()) return;
  const RECT rcWhole = pBitmap->GetSize();
  const RECT rcWanted = rcSource.IsEmpty() ? rcWhole : rcSource;
  // Only what the bitmap has, and only what the clip lets through: the blend
  // refuses source rectangles outside the bitmap.
  RECT rcFrom = RectIntersect(rcWanted, rcWhole);
  if (rcFrom.IsEmpty()) return;
  int64_t dx = int64_t(x) + (rcFrom.left - rcWanted.left);
  int64_t dy = int64_t(y) + (rcFrom.top - rcWanted.top);
  const int64_t cx = std::max<int64_t>(m_rcClip.left, dx), cy = std::max<int64_t>(m_rcClip.top, dy);
  const int64_t cr = std::min<int64_t>(m_rcClip.right, dx + rcFrom.Width());
  const int64_t cb = std::min<int64_t>(m_rcClip.bottom, dy + rcFrom.Height());
  if (cr <= cx || cb <= cy) return;
  const int32_t sx = static_cast<int32_t>(rcFrom.left + (cx - dx));
  const int32_t sy = static_cast<int32_t>(rcFrom.top + (cy - dy));
  const int32_t w = static_cast<int32_t>(cr - cx), h = static_cast<int32_t>(cb - cy);

  TBitmapDc source(pBitmap->Handle());
  bool bDone;
  if (bBlend) {
    plat::BlendFunc blend;
    blend.blendOp = plat::AC_SRC_OVER;
    blend.sourceConstantAlpha = 255;
    blend.alphaFormat = plat::AC_SRC_ALPHA;
    bDone = plat::AlphaBlend(m_hDC, int32_t(cx), int32_t(cy), w, h, source.Get(), sx, sy, w, h, blend);
  } else {
    bDone = plat::BitBlt(m_hDC, int32_t(cx), int32_t(cy), w, h, source.Get(), sx, sy, plat::SRCCOPY);
  }
  if (!bDone) Env::ThrowError(Env::ErrSystem);
  m_bDrawn = true;
}

// ---------------------------------------------------------------------------
// CMemoryGraphics, CWindowGraphics

CMemoryGraphics::CMemoryGraphics(plat::HBITMAP hBitmap, plat::HDC hCompatible) {
  plat::HDC hDC = plat::CreateCompatibleDC(hCompatible);
  if (!hDC) Env::ThrowError(Env::ErrSystem);
  m_hOldBitmap = hBitmap ? plat::SelectObject(hDC, hBitmap) : nullptr;
  if (!m_hOldBitmap) {
    plat::DeleteDC(hDC);
    Env::ThrowError(Env::ErrSystem);
  }
  Attach(hDC, nullptr, false, true);
}

CMemoryGraphics::~CMemoryGraphics() {
  RestoreContext();
  // The bitmap goes back to being free for other contexts.
  if (m_hDC && m_hOldBitmap) plat::SelectObject(m_hDC, m_hOldBitmap);
  ReleaseContext();
}

CWindowGraphics::CWindowGraphics(plat::HWND hWnd) {
  plat::HDC hDC = plat::GetDC(hWnd);
  if (!hDC) Env::ThrowError(Env::ErrSystem);
  Attach(hDC, hWnd, false, false);
}

CWindowGraphics::~CWindowGraphics() { ReleaseContext(); }
