// The picture behind every image slot of the interface: which PNG resource
// of the main pack a slot shows in portrait and in landscape, whether it is
// drawn blended or copied, and the screen size it was drawn for.
//
// RegisterImages fills CResources with one source per slot at start-up,
// after the UI strings; the sources live as long as the registry. UI thread.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/Resources.h"
#include "platform/gdi/Gdi.h"

// Decodes one PNG resource of the main module into a new DIB section, or
// gives null with the last system error telling why.
using TPngResourceDecoder = plat::HBITMAP (*)(uint16_t nId);

// The picture of a slot: the landscape id while the display is rotated
// (option EOptionLandscape), the portrait id otherwise. An id of 0 gives an
// empty bitmap. A picture that cannot be made is error 2 when memory ran
// out, else error 7.
class CImageSource : public IImageSource {
 public:
  CImageSource(uint16_t nLandscapeId, uint16_t nPortraitId, uint32_t nRefWidth, uint32_t nRefHeight, bool bAlpha);
  CBitmap* Get() override;

  uint16_t LandscapeId() const { return m_nLandscapeId; }
  uint16_t PortraitId() const { return m_nPortraitId; }
  // The screen size the picture was drawn for: diagnostics only, nothing
  // scales by it.
  uint32_t RefWidth() const { return m_nRefWidth; }
  uint32_t RefHeight() const { return m_nRefHeight; }
  bool HasAlpha() const { return m_bAlpha; }

  // Tests replace the decoder; null puts LoadPngResource back.
  static void SetDecoder(TPngResourceDecoder pDecoder);

 private:
  uint16_t m_nLandscapeId;
  uint16_t m_nPortraitId;
  uint32_t m_nRefWidth;
  uint32_t m_nRefHeight;
  bool m_bAlpha;
};

// A slot that never shows anything.
class CEmptyImageSource : public IImageSource {
 public:
  CBitmap* Get() override;
};

// One registered slot of the catalogue, as RegisterImages makes it.
struct TImageSlot {
  int32_t nSlot = 0;
  bool bEmpty = false;  // a CEmptyImageSource; the fields below are unused
  uint16_t nLandscapeId = 0;
  uint16_t nPortraitId = 0;
  uint32_t nRefWidth = 0;
  uint32_t nRefHeight = 0;
  bool bAlpha = false;
};

// Every registered slot in slot order (387 of 0 to 389; 1 to 3 are not).
std::vector<TImageSlot> ImageCatalogue();

// Registers a source for every slot of the catalogue with CResources, which
// must exist. A slot registered before is error 3 (the earlier slots stay).
void RegisterImages();
