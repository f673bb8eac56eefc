// The toolkit's image: a handle on a shared value holding a decoded picture
// and the bitmap made from it at the last drawn size, drawn opaquely through
// the imaging library or blended pixel by pixel into the 16-bit back buffer
// that a screen paints each frame into. The same unit keeps that back buffer,
// the alpha table every blend looks up, the global alpha level of fades and
// the deferred shut-down of the imaging factory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/imaging/Imaging.h"
#include "platform/module/Module.h"
#include "vy/VyCommon.h"
#include "vy/VyHandle.h"

// A window snapshot in a 16-bit DIB section: pixels, DC, section, and the
// bitmap the section displaced.
struct MemDCInfo {
  uint16_t* pBits = nullptr;
  plat::HDC hdc = nullptr;
  plat::HBITMAP hBitmap = nullptr;
  plat::HGDIOBJ hOldBitmap = nullptr;

  void Clear();
  void Release();
  // Copies the window's client area (the screen without a window).
  HRESULT Capture(plat::HWND hWnd, int32_t bTopDown);
};

class CIImage {
 public:
  class CImageValue : public RCObject {
   public:
    CImageValue();
    // Values are always shareable; a copy (never made) is an empty value.
    CImageValue(const CImageValue& other);
    ~CImageValue() override;
    // Lets go of everything the value holds; the last release's result.
    HRESULT Release();

    int32_t m_nWidth = 123;
    int32_t m_nHeight = 123;
    int32_t m_nResourceID = 0;
    plat::WString m_path;
    std::unique_ptr<plat::DecodedImage> m_pImg;
    std::unique_ptr<plat::BitmapImage> m_pBitmap;
    uint32_t m_nBitmapFormat = 0;
    // The resource bytes the image was decoded from (the stream's block).
    std::unique_ptr<std::vector<uint8_t>> m_pStream;
    plat::BitmapData m_bitmapData{};
    plat::HBITMAP m_hAdopted = nullptr;
    int32_t m_bOwnAdopted = 0;
  };

  CIImage();
  CIImage(const CIImage&) = default;
  CIImage& operator=(const CIImage&) = default;

  HRESULT Load(plat::ModuleHandle hInst, int32_t nResourceID);
  HRESULT Load(const plat::WChar* wszPath);
  // Adopts a GDI bitmap; with bOwn it is deleted with the value.
  HRESULT Load(plat::HBITMAP hbitmap, int32_t bOwn);
  HRESULT LoadResourceImage(plat::ModuleHandle hInst, int32_t nResourceID);
  HRESULT CreateBitmap(int32_t nWidth, int32_t nHeight, uint32_t nFormat);
  // Stretched onto the destination; mode non-zero blends with alpha. An empty
  // destination draws nothing.
  HRESULT Draw(plat::HDC hdc, const RECT* prcDst, RECT* prcSrc, int32_t bAlpha);
  HRESULT DrawAlpha(plat::HDC hdc, const RECT* prcDst, const RECT* prcSrc);

  int32_t GetWidth() const;
  int32_t GetHeight() const;
  int32_t GetResourceID() const;
  int32_t IsLoaded() const;
  CImageValue* Value() const { return m_handle.Value(); }

  // The factory, the alpha table and COM.
  static HRESULT Init();
  static HRESULT Destroy();
  static void ReserveDestroy();
  static uint32_t Alpha(uint32_t a, uint32_t b);

  // The back buffer: a bottom-up RGB565 section of the window's client size
  // in a memory DC, between these two calls.
  static plat::HDC CreateMemDC(plat::HWND hWnd, plat::HDC hdc);
  static HRESULT DeleteMemDC(plat::HDC hMemDC);
  static uint16_t* BackBufferBits();
  static int32_t BackBufferStride();  // bytes
  static plat::Size BackBufferSize();

  // pDst[i] = pSrc1[i] blended towards pSrc2[i] by level, over the area's
  // element count (at most `nLimit` elements).
  static HRESULT AlphaBlend(uint16_t* pDst, const RECT* prcDraw, const uint16_t* pSrc1, const uint16_t* pSrc2,
                            int32_t nLevel, size_t nLimit = SIZE_MAX);
  // The back buffer blended towards a snapshot of the same size.
  static HRESULT BlendBackBuffer(const MemDCInfo* pSrc, const RECT* prcDraw, int32_t nLevel);
  static HRESULT FillAlpha(plat::HDC hdc, const RECT* prc, uint32_t argb, int32_t bDim);
  static HRESULT FillColor(plat::HDC hdc, const RECT* prc, plat::COLORREF colour);
  static void SetGlobalAlpha(int32_t nLevel);
  static int32_t GetGlobalAlpha();

  static int32_t LiveValueCount();
  // Forgets the factory, the live list and the flags. Tests only.
  static void ResetForTests();

 private:
  struct THandle : TVyHandle<CImageValue> {
    using TVyHandle::TVyHandle;
  };
  THandle m_handle;
};
