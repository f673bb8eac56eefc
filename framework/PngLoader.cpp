#include "framework/PngLoader.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/module/Module.h"

namespace {

// Everything one decode needs. Plain data only: libpng leaves its error path
// through longjmp, which must never skip a destructor, so nothing between the
// jump point and the error handler owns a C++ object.
struct TPngDecodeState {
  png_structp pPng;
  png_infop pInfo;
  uint32_t nWidth;
  uint32_t nHeight;
  int nFinalPass;    // the pass whose last row completes the picture
  size_t nRowBytes;  // after the transformations
  int nChannels;     // 3 or 4 after the transformations
  uint8_t* pImage;   // nHeight * nRowBytes, zeroed (calloc)
  bool bHeaderDone;
  bool bAllRows;
  bool bOutOfMemory;  // the loader's own picture buffer could not be had
  char szError[128];
};

TPngDecodeState* StateOf(png_structp pPng) { return static_cast<TPngDecodeState*>(png_get_progressive_ptr(pPng)); }

[[noreturn]] void PngError(png_structp pPng, png_const_charp szMessage) {
  auto* pState = static_cast<TPngDecodeState*>(png_get_error_ptr(pPng));
  if (pState && szMessage && !pState->szError[0]) {
    std::strncpy(pState->szError, szMessage, sizeof(pState->szError) - 1);
    pState->szError[sizeof(pState->szError) - 1] = '\0';
  }
  // The jump point is always set before libpng can fail (RunDecoder), so
  // this returns to it.
  png_longjmp(pPng, 1);
}

void PngHeader(png_structp pPng, png_infop pInfo) {
  TPngDecodeState* pState = StateOf(pPng);
  if (!pState) return;
  if (pState->bHeaderDone) png_error(pPng, "second header");

  png_uint_32 nWidth = 0, nHeight = 0;
  int nBitDepth = 0, nColorType = 0, nInterlace = 0;
  png_get_IHDR(pPng, pInfo, &nWidth, &nHeight, &nBitDepth, &nColorType, &nInterlace, nullptr, nullptr);
  // Downloaded pictures are untrusted: the buffer and the DIB must stay
  // within a size that cannot overflow and that the phone can hold.
  if (nWidth == 0 || nHeight == 0 || uint64_t{nWidth} * nHeight > kMaxPngPixels) png_error(pPng, "image too large");

  if (nColorType == PNG_COLOR_TYPE_PALETTE || (nColorType == PNG_COLOR_TYPE_GRAY && nBitDepth < 8) ||
      png_get_valid(pPng, pInfo, PNG_INFO_tRNS))
    png_set_expand(pPng);
  if (nBitDepth == 16) png_set_strip_16(pPng);
  if (nColorType == PNG_COLOR_TYPE_GRAY || nColorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(pPng);
  png_set_interlace_handling(pPng);
  png_read_update_info(pPng, pInfo);

  const size_t nRowBytes = png_get_rowbytes(pPng, pInfo);
  const int nChannels = png_get_channels(pPng, pInfo);
  if ((nChannels != 3 && nChannels != 4) || nRowBytes != size_t{nWidth} * static_cast<size_t>(nChannels))
    png_error(pPng, "unexpected row layout");

  // calloc, not new: a failure must come back here as a value, not as an
  // exception thrown through libpng's C frames.
  pState->pImage = static_cast<uint8_t*>(std::calloc(nHeight, nRowBytes));
  if (!pState->pImage) {
    pState->bOutOfMemory = true;
    png_error(pPng, "out of memory");
  }
  pState->nWidth = nWidth;
  pState->nHeight = nHeight;
  pState->nRowBytes = nRowBytes;
  pState->nChannels = nChannels;
  pState->nFinalPass = nInterlace == PNG_INTERLACE_NONE ? 0 : 6;
  pState->bHeaderDone = true;
}

void PngRow(png_structp pPng, png_bytep pNewRow, png_uint_32 nRow, int nPass) {
  TPngDecodeState* pState = StateOf(pPng);
  if (!pState || !pState->pImage || nRow >= pState->nHeight) return;
  // Interlaced passes accumulate in the row; a null row carries no data.
  if (pNewRow) png_progressive_combine_row(pPng, pState->pImage + size_t{nRow} * pState->nRowBytes, pNewRow);
  // Passes and their rows come strictly in order, so once the final pass
  // reached the last row every pixel has its final value.
  if (nPass == pState->nFinalPass && nRow == pState->nHeight - 1) pState->bAllRows = true;
}

// Completeness is judged by the rows (PngRow), not by reaching the end.
void PngEnd(png_structp, png_infop) {}

// The only function with a jump point. It owns nothing and changes no local
// after setjmp, so the longjmp from PngError is safe.
bool RunDecoder(TPngDecodeState* pState, const uint8_t* pData, size_t nSize) {
  if (setjmp(png_jmpbuf(pState->pPng))) return false;
  png_set_progressive_read_fn(pState->pPng, pState, PngHeader, PngRow, PngEnd);
  // libpng only reads the buffer; the parameter is not const for history.
  png_process_data(pState->pPng, pState->pInfo, const_cast<png_bytep>(pData), nSize);
  return true;
}

plat::HBITMAP MakePremultipliedDib(const TPngDecodeState& state) {
  plat::BitmapInfo info;
  info.header.width = static_cast<int32_t>(state.nWidth);
  info.header.height = static_cast<int32_t>(state.nHeight);  // bottom-up
  info.header.planes = 1;
  info.header.bitCount = 32;
  info.header.compression = plat::BI_RGB;
  info.header.sizeImage = static_cast<uint32_t>(uint64_t{state.nWidth} * state.nHeight * 4);
  void* pBits = nullptr;
  plat::HBITMAP hBitmap = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &pBits);
  if (!hBitmap || !pBits) {
    if (hBitmap) plat::DeleteObject(hBitmap);
    return nullptr;
  }
  const size_t nStride = size_t{state.nWidth} * 4;
  const bool bAlpha = state.nChannels == 4;
  for (uint32_t y = 0; y < state.nHeight; ++y) {
    const uint8_t* pSrc = state.pImage + size_t{y} * state.nRowBytes;
    uint8_t* pDst = static_cast<uint8_t*>(pBits) + size_t{state.nHeight - 1 - y} * nStride;
    for (uint32_t x = 0; x < state.nWidth; ++x, pSrc += state.nChannels, pDst += 4) {
      const uint32_t a = bAlpha ? pSrc[3] : 255;
      pDst[0] = static_cast<uint8_t>(pSrc[2] * a / 255);
      pDst[1] = static_cast<uint8_t>(pSrc[1] * a / 255);
      pDst[2] = static_cast<uint8_t>(pSrc[0] * a / 255);
      pDst[3] = static_cast<uint8_t>(a);
    }
  }
  return hBitmap;
}

}  // namespace

plat::HBITMAP LoadPngImage(const uint8_t* pData, size_t nSize) {
  if (!pData || nSize < 8 || png_sig_cmp(pData, 0, 8) != 0) {
    DebugTrace(u"[QUOREL] png_check_sig() failed\n");
    return nullptr;
  }

  TPngDecodeState state{};
  state.pPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, nullptr);
  if (!state.pPng) {
    DebugTrace(u"[QUOREL] readpng2: cannot create the read structure\n");
    return nullptr;
  }
  state.pInfo = png_create_info_struct(state.pPng);
  if (!state.pInfo) {
    png_destroy_read_struct(&state.pPng, nullptr, nullptr);
    DebugTrace(u"[QUOREL] readpng2: cannot create the info structure\n");
    return nullptr;
  }
  // Bounds on what a hostile file can make libpng allocate on its own
  // behalf; the picture itself is bounded in PngHeader.
  png_set_user_limits(state.pPng, static_cast<png_uint_32>(kMaxPngPixels), static_cast<png_uint_32>(kMaxPngPixels));
  png_set_chunk_cache_max(state.pPng, 1000);
  png_set_chunk_malloc_max(state.pPng, 8000000);

  plat::HBITMAP hBitmap = nullptr;
  // Callers tell a lack of memory from bad data by the last error; the
  // trace below must not overwrite it.
  uint32_t nLastError = 0;
  if (!RunDecoder(&state, pData, nSize)) {
    if (state.bOutOfMemory) nLastError = plat::ERROR_NOT_ENOUGH_MEMORY;
    DebugTrace(u"[QUOREL] readpng2 libpng error: %S\n", state.szError);
  } else if (!state.bHeaderDone || !state.bAllRows) {
    // The progressive reader simply waits for more data, and treats a broken
    // compressed stream as a mere warning, even reaching the image end: a cut
    // or damaged file must not become a picture with rows never written.
    DebugTrace(u"[QUOREL] readpng2: image data incomplete\n");
  } else if (!(hBitmap = MakePremultipliedDib(state))) {
    nLastError = plat::GetLastError();
    DebugTrace(u"[QUOREL] readpng2: cannot create the bitmap\n");
  }

  std::free(state.pImage);
  png_destroy_read_struct(&state.pPng, &state.pInfo, nullptr);
  if (nLastError) plat::SetLastError(nLastError);
  return hBitmap;
}

plat::HBITMAP LoadPngResource(uint16_t nId) {
  auto bytes = plat::FindResource(nullptr, plat::RT_RCDATA, nId);
  if (!bytes || bytes->empty()) return nullptr;
  return LoadPngImage(bytes->data(), bytes->size());
}
