#include "vy/ImageUtil.h"

#include <algorithm>
#include <cstring>

#include "vy/FrameSkin.h"
#include "vy/VyUtil.h"

namespace {

using plat::HDC;
using plat::HWND;

// Every static here is constant-initialised or made on first use and never
// destroyed: images held by other statics die at program exit in any order.
constinit plat::ImagingFactory* s_pImgFactory = nullptr;
constinit uint32_t s_alphaTable[256][256] = {};
constinit int32_t s_nGlobalAlpha = 255;
constinit plat::HBITMAP s_hBackBitmap = nullptr;
constinit uint16_t* s_pRowBack = nullptr;
constinit HWND s_hWndBack = nullptr;
constinit plat::HGDIOBJ s_hOldBack = nullptr;
constinit int32_t s_nBackWidth = 0;
constinit int32_t s_nBackHeight = 0;
constinit int32_t s_nBackStride = 0;
constinit std::vector<CIImage::CImageValue*>* s_pLiveValues = nullptr;
constinit int32_t s_nLiveValues = 0;
constinit bool s_bReserveDestroy = false;

std::vector<CIImage::CImageValue*>& LiveValues() {
  if (!s_pLiveValues) s_pLiveValues = new std::vector<CIImage::CImageValue*>();
  return *s_pLiveValues;
}

constinit bool s_bAlphaTable = false;

void InitAlphaTable() {
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t b = 0; b < 256; ++b) s_alphaTable[a][b] = a * b / 255;
  s_bAlphaTable = true;
}

// Fills and blends may come before any image made the factory (and the
// table with it).
void EnsureAlphaTable() {
  if (!s_bAlphaTable) InitAlphaTable();
}

inline uint32_t T(uint32_t a, uint32_t b) { return s_alphaTable[a][b]; }

inline void Expand(uint16_t p, uint32_t& r, uint32_t& g, uint32_t& b) {
  r = (p >> 8) & 0xF8;
  g = (p >> 3) & 0xFC;
  b = (p << 3) & 0xF8;
}
inline uint16_t Pack(uint32_t r, uint32_t g, uint32_t b) {
  return uint16_t((b >> 3) | ((g & 0xFC) << 3) | ((r & 0xF8) << 8));
}

// The back-buffer pixels a destination rectangle covers: the clip box test
// (whose last column and row count as outside), then the buffer's own bounds.
struct TCover {
  int32_t x0, y0, columns, rows;
};
bool CoverArea(HDC hdc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t nClientWidth, TCover* out) {
  RECT k;
  plat::GetClipBox(hdc, &k);
  if (x >= k.right - 1 || y >= k.bottom - 1 || x + w <= k.left || y + h <= k.top) return false;
  int32_t x0 = std::max(x, k.left), y0 = std::max(y, k.top);
  int32_t x1 = std::min(x + w - 1, k.right - 1), y1 = std::min(y + h - 1, k.bottom - 1);
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min({x1, nClientWidth - 1, s_nBackWidth - 1});
  y1 = std::min(y1, s_nBackHeight - 1);
  if (x1 < x0 || y1 < y0) return false;
  *out = TCover{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  return true;
}

// Row `y` of the bottom-up back buffer.
inline uint16_t* BackRow(int32_t y) {
  return s_pRowBack + size_t(s_nBackHeight - y - 1) * size_t(s_nBackStride / 2);
}

}  // namespace

// ---- MemDCInfo ------------------------------------------------------------------

void MemDCInfo::Clear() { *this = MemDCInfo{}; }

void MemDCInfo::Release() {
  if (hOldBitmap && hdc) plat::SelectObject(hdc, hOldBitmap);
  if (hdc) plat::DeleteDC(hdc);
  if (hBitmap) plat::DeleteObject(hBitmap);
  Clear();
}

HRESULT MemDCInfo::Capture(HWND hWnd, int32_t bTopDown) {
  Release();
  HDC hdcWindow = plat::GetDC(hWnd);
  CPR(hdcWindow);
  RECT rc{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN)};
  if (hWnd) plat::GetClientRect(hWnd, &rc);
  plat::BitmapInfo info;
  info.header.width = rc.Width();
  info.header.height = bTopDown ? -rc.Height() : rc.Height();
  info.header.bitCount = 16;
  info.header.compression = plat::BI_BITFIELDS;
  info.header.sizeImage = uint32_t(std::max(rc.Width() * rc.Height() * 2, 0));
  info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
  hdc = plat::CreateCompatibleDC(hdcWindow);
  void* pv = nullptr;
  hBitmap = plat::CreateDIBSection(hdcWindow, info, plat::DIB_RGB_COLORS, &pv);
  pBits = static_cast<uint16_t*>(pv);
  if (!hBitmap) {
    plat::ReleaseDC(hWnd, hdcWindow);
    Release();
    CPR(hBitmap);
  }
  hOldBitmap = plat::SelectObject(hdc, hBitmap);
  plat::BitBlt(hdc, rc.left, rc.top, rc.Width(), rc.Height(), hdcWindow, 0, 0, plat::SRCCOPY);
  plat::ReleaseDC(hWnd, hdcWindow);
  return S_OK;
}

// ---- Values ------------------------------------------------------------------

CIImage::CImageValue::CImageValue() {
  CIImage::Init();
  LiveValues().push_back(this);
  ++s_nLiveValues;
}

CIImage::CImageValue::CImageValue(const CImageValue& other) : RCObject(other) {
  VY_LOG(u"Error!\n");
  CIImage::Init();
  LiveValues().push_back(this);
  ++s_nLiveValues;
}

CIImage::CImageValue::~CImageValue() {
  Release();
  std::vector<CImageValue*>& live = LiveValues();
  auto it = std::find(live.begin(), live.end(), this);
  if (it != live.end()) live.erase(it);
  --s_nLiveValues;
  if (s_bReserveDestroy && s_nLiveValues == 0) {
    CIImage::Destroy();
    live.clear();
    live.shrink_to_fit();
  }
}

HRESULT CIImage::CImageValue::Release() {
  if (m_bitmapData.scan0 && m_pBitmap) {
    m_pBitmap->UnlockBits(m_bitmapData);
    m_bitmapData = {};
  }
  RELEASE_OBJ(m_pBitmap);
  RELEASE_OBJ(m_pImg);
  RELEASE_OBJ(m_pStream);
  if (m_hAdopted && m_bOwnAdopted) plat::DeleteObject(m_hAdopted);
  m_hAdopted = nullptr;
  return S_OK;
}

// ---- The handle ------------------------------------------------------------------

CIImage::CIImage() {
  CImageValue* p = new (std::nothrow) CImageValue();
  if (p) m_handle = THandle(p);
}

int32_t CIImage::GetWidth() const { return Value() ? Value()->m_nWidth : 0; }
int32_t CIImage::GetHeight() const { return Value() ? Value()->m_nHeight : 0; }
int32_t CIImage::GetResourceID() const { return Value() ? Value()->m_nResourceID : 0; }
int32_t CIImage::IsLoaded() const { return Value() && (Value()->m_pImg || Value()->m_hAdopted); }

HRESULT CIImage::LoadResourceImage(plat::ModuleHandle hInst, int32_t nResourceID) {
  CImageValue* value = Value();
  CPR(value);
  const auto found = plat::FindResource(hInst, u"IIMAGE", uint16_t(nResourceID & 0xFFFF));
  const std::span<const uint8_t>* hRsrc = found ? &*found : nullptr;
  CPR(hRsrc);
  value->m_pStream = std::make_unique<std::vector<uint8_t>>(hRsrc->begin(), hRsrc->end());
  return S_OK;
}

HRESULT CIImage::Load(plat::ModuleHandle hInst, int32_t nResourceID) {
  CImageValue* value = Value();
  CPR(value);
  HRESULT hr = E_FAIL;
  value->m_nResourceID = nResourceID;
  // What an earlier failed attempt left goes first.
  value->m_pStream.reset();
  value->m_pImg.reset();
  CPR(hInst);
  CPR(s_pImgFactory);
  hr = LoadResourceImage(hInst, nResourceID);
  CHR_GOTO(hr, failed);
  hr = s_pImgFactory->CreateImageFromBytes(*value->m_pStream, value->m_pImg);
  CHR_GOTO(hr, failed);
  value->m_nWidth = value->m_pImg->Info().width;
  value->m_nHeight = value->m_pImg->Info().height;
  return S_OK;
failed:
  value->m_pStream.reset();
  value->m_pImg.reset();
  VY_LOG(u"ResourceID(%d): ", nResourceID);
  PrintHR(hr);
  return hr;
}

HRESULT CIImage::Load(const plat::WChar* wszPath) {
  CImageValue* value = Value();
  CPR(value);
  CPR(wszPath);
  value->m_path = wszPath;
  value->m_pImg.reset();
  CPR(s_pImgFactory);
  HRESULT hr = s_pImgFactory->CreateImageFromFile(value->m_path, value->m_pImg);
  CHR_GOTO(hr, failed);
  value->m_nWidth = value->m_pImg->Info().width;
  value->m_nHeight = value->m_pImg->Info().height;
  return S_OK;
failed:
  VY_LOG(u"%s: ", value->m_path);
  PrintHR(hr);
  return hr;
}

HRESULT CIImage::Load(plat::HBITMAP hbitmap, int32_t bOwn) {
  CImageValue* value = Value();
  CPR(value);
  CPR(hbitmap);
  plat::BitmapDesc desc;
  const int ret = plat::GetObject(hbitmap, &desc);
  CBR(ret > 0);
  if (value->m_hAdopted && value->m_bOwnAdopted && value->m_hAdopted != hbitmap) plat::DeleteObject(value->m_hAdopted);
  value->m_hAdopted = hbitmap;
  value->m_bOwnAdopted = bOwn;
  value->m_nWidth = desc.width;
  value->m_nHeight = desc.height;
  return S_OK;
}

HRESULT CIImage::CreateBitmap(int32_t nWidth, int32_t nHeight, uint32_t nFormat) {
  CImageValue* value = Value();
  CPR(value);
  HRESULT hr = S_OK;
  CPR(value->m_pImg);
  if (value->m_bitmapData.scan0 && value->m_pBitmap) {
    value->m_pBitmap->UnlockBits(value->m_bitmapData);
    value->m_bitmapData = {};
  }
  RELEASE_OBJ(value->m_pBitmap);
  if (nWidth >= 1 && nHeight >= 1) {
    value->m_nWidth = nWidth;
    value->m_nHeight = nHeight;
  }
  CPR(s_pImgFactory);
  value->m_nBitmapFormat = nFormat;
  hr = s_pImgFactory->CreateBitmapFromImage(*value->m_pImg, value->m_nWidth, value->m_nHeight, nFormat,
                                            plat::InterpolationHint::Averaging, value->m_pBitmap);
  CHR_GOTO(hr, failed);
  if (nFormat == plat::PixelFormat32bppARGB) {
    hr = value->m_pBitmap->LockBits(RECT{0, 0, value->m_nWidth, value->m_nHeight}, plat::ImageLockModeRead,
                                    plat::PixelFormat32bppARGB, value->m_bitmapData);
    CHR_GOTO(hr, failed);
  }
  return S_OK;
failed:
  VY_LOG(u"ResourceID(%d): ", value->m_nResourceID);
  PrintHR(hr);
  return hr;
}

HRESULT CIImage::Draw(HDC hdc, const RECT* prcDst, RECT* prcSrc, int32_t bAlpha) {
  CImageValue* value = Value();
  CPR(value);
  CPR(prcDst);
  const int32_t W = prcDst->Width(), H = prcDst->Height();
  // An empty or inverted destination draws nothing, whatever the path.
  if (W < 1 || H < 1) return S_OK;
  if (value->m_hAdopted) {
    HDC hdcMem = plat::CreateCompatibleDC(hdc);
    plat::HGDIOBJ hOld = plat::SelectObject(hdcMem, value->m_hAdopted);
    plat::StretchBlt(hdc, prcDst->left, prcDst->top, W, H, hdcMem, 0, 0, value->m_nWidth, value->m_nHeight,
                     plat::SRCCOPY);
    plat::SelectObject(hdcMem, hOld);
    plat::DeleteDC(hdcMem);
    return S_OK;
  }
  if (!value->m_pImg) {
    if (!value->m_path.empty())
      Load(value->m_path.c_str());
    else if (value->m_nResourceID != 0)
      Load(GetResourceInstance(), value->m_nResourceID);
    else
      return E_FAIL;
  }
  CPR(value->m_pImg);
  if (bAlpha || s_nGlobalAlpha < 255) {
    if (!(value->m_pBitmap && value->m_nWidth == W && value->m_nHeight == H &&
          value->m_nBitmapFormat == plat::PixelFormat32bppARGB)) {
      const HRESULT hr = CreateBitmap(W, H, plat::PixelFormat32bppARGB);
      if (hr < 0) return hr;
    }
    return DrawAlpha(hdc, prcDst, prcSrc);
  }
  if (!(value->m_pBitmap && value->m_nWidth == W && value->m_nHeight == H &&
        value->m_nBitmapFormat != plat::PixelFormat32bppARGB)) {
    const HRESULT hr = CreateBitmap(W, H, plat::PixelFormat16bppRGB565);
    if (hr < 0) return hr;
  }
  if (prcSrc) {
    const plat::Size phys = value->m_pImg->PhysicalSize();
    const int32_t w = std::max(value->m_nWidth, 1), h = std::max(value->m_nHeight, 1);
    *prcSrc = RECT{int32_t(int64_t(prcSrc->left) * phys.cx / w), int32_t(int64_t(prcSrc->top) * phys.cy / h),
                   int32_t(int64_t(prcSrc->right) * phys.cx / w), int32_t(int64_t(prcSrc->bottom) * phys.cy / h)};
  }
  const HRESULT hr = value->m_pBitmap->Draw(hdc, *prcDst, prcSrc);
  CHR(hr);
  return S_OK;
}

HRESULT CIImage::DrawAlpha(HDC hdc, const RECT* prcDst, const RECT* prcSrc) {
  CImageValue* value = Value();
  CPR(value);
  CPR(prcDst);
  if (!s_pRowBack) {
    CPR(value->m_pImg);
    const HRESULT hr = value->m_pImg->Draw(hdc, *prcDst, prcSrc);
    CHR(hr);
    return S_OK;
  }
  CPR(value->m_bitmapData.scan0);
  RECT rcClient;
  const bool ret = plat::GetClientRect(s_hWndBack, &rcClient);
  CBR(ret);
  const int32_t x = prcDst->left, y = prcDst->top;
  const int32_t w = prcSrc ? prcSrc->Width() : value->m_nWidth;
  const int32_t h = prcSrc ? prcSrc->Height() : value->m_nHeight;
  const int32_t sx = prcSrc ? prcSrc->left : 0, sy = prcSrc ? prcSrc->top : 0;
  TCover c;
  if (!CoverArea(hdc, x, y, w, h, rcClient.Width(), &c)) return S_OK;
  // Source reads stay inside the locked bitmap.
  const plat::BitmapData& bd = value->m_bitmapData;
  int32_t firstCol = std::max(c.x0, x - sx), lastCol = std::min(c.x0 + c.columns, x - sx + bd.width);
  int32_t firstRow = std::max(c.y0, y - sy), lastRow = std::min(c.y0 + c.rows, y - sy + bd.height);
  if (lastCol <= firstCol || lastRow <= firstRow) return S_OK;
  const uint32_t g = uint32_t(s_nGlobalAlpha);
  for (int32_t row = firstRow; row < lastRow; ++row) {
    uint16_t* d = BackRow(row) + firstCol;
    const uint8_t* s = static_cast<const uint8_t*>(bd.scan0) + size_t(sy + row - y) * size_t(bd.stride) +
                       size_t(sx + firstCol - x) * 4;
    for (int32_t col = firstCol; col < lastCol; ++col, ++d, s += 4) {
      uint32_t a = s[3], sb = s[0], sg = s[1], sr = s[2];
      if (g < 255) {
        a = T(g, a), sb = T(g, sb), sg = T(g, sg), sr = T(g, sr);
      }
      if (a == 0) continue;
      if (a == 255) {
        *d = Pack(sr, sg, sb);
        continue;
      }
      uint32_t dr, dg, db;
      Expand(*d, dr, dg, db);
      *d = Pack(dr - T(a, dr) + T(a, sr), dg - T(a, dg) + T(a, sg), db - T(a, db) + T(a, sb));
    }
  }
  return S_OK;
}

// ---- Statics ------------------------------------------------------------------

HRESULT CIImage::Init() {
  if (s_pImgFactory) return S_OK;
  HRESULT hr = plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
  CHR_GOTO(hr, failed);
  s_pImgFactory = new (std::nothrow) plat::ImagingFactory();
  if (!s_pImgFactory) hr = plat::E_OUTOFMEMORY;
  CHR_GOTO(hr, failed);
  InitAlphaTable();
  return S_OK;
failed:
  PrintHR(hr);
  return hr;
}

HRESULT CIImage::Destroy() {
  HRESULT hr = E_FAIL;
  if (s_pImgFactory) {
    delete s_pImgFactory;
    s_pImgFactory = nullptr;
    hr = S_OK;
  }
  plat::CoUninitialize();
  if (s_nLiveValues < 1)
    VY_LOG(u"CoUninitialize() Finished.\n");
  else
    VY_LOG(u"Please check again.\n");
  return hr;
}

void CIImage::ReserveDestroy() {
  VY_LOG(u"\n");
  s_bReserveDestroy = true;
}

uint32_t CIImage::Alpha(uint32_t a, uint32_t b) {
  EnsureAlphaTable();
  return T(a & 0xFF, b & 0xFF);
}

HDC CIImage::CreateMemDC(HWND hWnd, HDC hdc) {
  CPR_RET(hWnd, nullptr);
  CPR_RET(hdc, nullptr);
  s_hWndBack = hWnd;
  HDC hdcMem = plat::CreateCompatibleDC(hdc);
  RECT rc;
  plat::GetClientRect(hWnd, &rc);
  plat::BitmapInfo info;
  info.header.width = rc.Width();
  info.header.height = rc.Height();
  info.header.bitCount = 16;
  info.header.compression = plat::BI_BITFIELDS;
  info.header.sizeImage = uint32_t(std::max(rc.Width() * rc.Height() * 2, 0));
  info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
  void* pv = nullptr;
  s_hBackBitmap = plat::CreateDIBSection(hdc, info, plat::DIB_RGB_COLORS, &pv);
  s_pRowBack = static_cast<uint16_t*>(pv);
  CPR_RET(s_hBackBitmap, hdcMem);
  CPR_RET(s_pRowBack, hdcMem);
  plat::BitmapDesc desc;
  plat::GetObject(s_hBackBitmap, &desc);
  s_nBackWidth = desc.width;
  s_nBackHeight = desc.height;
  s_nBackStride = desc.widthBytes;
  s_hOldBack = plat::SelectObject(hdcMem, s_hBackBitmap);
  return hdcMem;
}

HRESULT CIImage::DeleteMemDC(HDC hMemDC) {
  CPR(hMemDC);
  if (s_hOldBack) plat::SelectObject(hMemDC, s_hOldBack);
  plat::DeleteDC(hMemDC);
  if (s_hBackBitmap) plat::DeleteObject(s_hBackBitmap);
  s_hOldBack = nullptr;
  s_hBackBitmap = nullptr;
  s_pRowBack = nullptr;
  s_nBackWidth = s_nBackHeight = s_nBackStride = 0;
  return S_OK;
}

uint16_t* CIImage::BackBufferBits() { return s_pRowBack; }
int32_t CIImage::BackBufferStride() { return s_nBackStride; }
plat::Size CIImage::BackBufferSize() { return plat::Size{s_nBackWidth, s_nBackHeight}; }

HRESULT CIImage::AlphaBlend(uint16_t* pDst, const RECT* prcDraw, const uint16_t* pSrc1, const uint16_t* pSrc2,
                            int32_t nLevel, size_t nLimit) {
  CPR(pDst);
  CPR(pSrc1);
  CPR(pSrc2);
  CPR(prcDraw);
  EnsureAlphaTable();
  const int64_t area = int64_t(prcDraw->Width()) * prcDraw->Height();
  const size_t n = std::min<size_t>(size_t(std::max<int64_t>(area, 0)), nLimit);
  const uint32_t l = uint32_t(std::clamp(nLevel, 0, 255));
  for (size_t i = 0; i < n; ++i) {
    uint32_t r1, g1, b1, r2, g2, b2;
    Expand(pSrc1[i], r1, g1, b1);
    Expand(pSrc2[i], r2, g2, b2);
    pDst[i] = Pack(r1 - T(l, r1) + T(l, r2), g1 - T(l, g1) + T(l, g2), b1 - T(l, b1) + T(l, b2));
  }
  return S_OK;
}

HRESULT CIImage::BlendBackBuffer(const MemDCInfo* pSrc, const RECT* prcDraw, int32_t nLevel) {
  CPR(pSrc);
  plat::BitmapDesc desc;
  const bool bSameSize = pSrc->hBitmap && plat::GetObject(pSrc->hBitmap, &desc) > 0 && desc.width == s_nBackWidth &&
                         desc.height == s_nBackHeight && desc.widthBytes == s_nBackStride;
  CBR(bSameSize);
  return AlphaBlend(s_pRowBack, prcDraw, s_pRowBack, pSrc->pBits, nLevel,
                    size_t(s_nBackStride / 2) * size_t(s_nBackHeight));
}

HRESULT CIImage::FillAlpha(HDC hdc, const RECT* prc, uint32_t argb, int32_t bDim) {
  CPR(prc);
  EnsureAlphaTable();
  const uint32_t g = uint32_t(s_nGlobalAlpha);
  uint32_t a = argb >> 24;
  if (g < 255) a = a * g / 255;
  const uint32_t r = (argb >> 16) & 0xFF, gr = (argb >> 8) & 0xFF, b = argb & 0xFF;
  if (!bDim && a == 255) {
    plat::HBRUSH brush = plat::CreateSolidBrush(plat::RGB(uint8_t(r), uint8_t(gr), uint8_t(b)));
    plat::HGDIOBJ old = plat::SelectObject(hdc, brush);
    plat::FillRect(hdc, *prc, brush);
    plat::SelectObject(hdc, old);
    plat::DeleteObject(brush);
    return S_OK;
  }
  if (a == 0 || a >= 255 || !s_pRowBack) return S_OK;
  RECT rcClient;
  if (!plat::GetClientRect(s_hWndBack, &rcClient)) return S_OK;
  TCover c;
  if (!CoverArea(hdc, prc->left, prc->top, prc->Width(), prc->Height(), rcClient.Width(), &c)) return S_OK;
  // Each channel's result depends only on that channel: three small tables
  // from the 5- or 6-bit field straight to its packed bits.
  const uint32_t qr = T(g, r), qg = T(g, gr), qb = T(g, b);
  auto blend = [&](uint32_t d, uint32_t q) { return bDim ? T(a, d) : d - T(a, d) + T(a, q); };
  uint16_t red[32], blue[32], green[64];
  for (uint32_t v = 0; v < 32; ++v) {
    red[v] = Pack(blend(v << 3, qr), 0, 0);
    blue[v] = Pack(0, 0, blend(v << 3, qb));
  }
  for (uint32_t v = 0; v < 64; ++v) green[v] = Pack(0, blend(v << 2, qg), 0);
  for (int32_t row = c.y0; row < c.y0 + c.rows; ++row) {
    uint16_t* d = BackRow(row) + c.x0;
    for (int32_t i = 0; i < c.columns; ++i, ++d) *d = uint16_t(red[*d >> 11] | green[(*d >> 5) & 63] | blue[*d & 31]);
  }
  return S_OK;
}

HRESULT CIImage::FillColor(HDC hdc, const RECT* prc, plat::COLORREF colour) {
  const uint32_t rgb = (uint32_t(plat::GetRValue(colour)) << 16) | (uint32_t(plat::GetGValue(colour)) << 8) |
                       plat::GetBValue(colour);
  return FillAlpha(hdc, prc, 0xFF000000u | rgb, 0);
}

void CIImage::SetGlobalAlpha(int32_t nLevel) { s_nGlobalAlpha = std::clamp(nLevel, 0, 255); }
int32_t CIImage::GetGlobalAlpha() { return s_nGlobalAlpha; }
int32_t CIImage::LiveValueCount() { return s_nLiveValues; }

void CIImage::ResetForTests() {
  delete s_pImgFactory;
  s_pImgFactory = nullptr;
  s_bReserveDestroy = false;
  s_nGlobalAlpha = 255;
}
