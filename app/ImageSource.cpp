#include "app/ImageSource.h"

#include "framework/PngLoader.h"
#include "framework/Trace.h"
#include "platform/base/Errors.h"

namespace {

TPngResourceDecoder g_pDecoder = &LoadPngResource;

// The screen sizes the pictures were drawn for.
enum TRefSize : uint8_t { kNoSize, k240x320, k240x400, k240x180, k480x640, k480x800, k42x42 };
struct TSize {
  uint32_t nWidth, nHeight;
};
constexpr TSize kRefSizes[] = {{0, 0}, {240, 320}, {240, 400}, {240, 180}, {480, 640}, {480, 800}, {42, 42}};

// The portrait id of a run that shows the landscape picture in portrait too.
constexpr uint16_t kSame = 0xFFFF;

// A run of slots mapped one by one onto consecutive resource ids. A run
// without any id is an empty source.
struct TImageRun {
  uint16_t nFirstSlot;
  uint16_t nCount;
  uint16_t nLandscape;
  uint16_t nPortrait;  // kSame, or 0 for no picture in portrait
  TRefSize eSize;
  bool bAlpha;
};

constexpr bool A = true;   // blended
constexpr bool O = false;  // opaque, copied

constexpr TImageRun kCatalogue[] = {
    {0, 1, 0, 0, kNoSize, O},
    {4, 1, 138, kSame, k240x320, A}, {5, 1, 189, kSame, k240x320, A},
    {6, 1, 154, kSame, k240x320, O}, {7, 1, 156, kSame, k240x320, O},
    {8, 1, 155, kSame, k240x320, O}, {9, 1, 157, kSame, k240x320, O},
    {10, 1, 185, kSame, k240x320, A}, {11, 1, 184, kSame, k240x320, A},
    {12, 1, 186, kSame, k240x320, A}, {13, 1, 182, kSame, k240x320, A},
    {14, 1, 181, kSame, k240x320, O}, {15, 1, 183, kSame, k240x320, A},
    {16, 1, 179, kSame, k240x320, A}, {17, 1, 178, kSame, k240x320, A},
    {18, 1, 180, kSame, k240x320, A}, {19, 1, 167, kSame, k240x320, A},
    {20, 1, 166, kSame, k240x320, A}, {21, 1, 168, kSame, k240x320, A},
    {22, 1, 164, kSame, k240x320, A}, {23, 1, 163, kSame, k240x320, O},
    {24, 1, 165, kSame, k240x320, A}, {25, 1, 161, kSame, k240x320, A},
    {26, 1, 160, kSame, k240x320, A}, {27, 1, 162, kSame, k240x320, A},
    {28, 1, 176, kSame, k240x320, A}, {29, 1, 175, kSame, k240x320, A},
    {30, 1, 177, kSame, k240x320, A}, {31, 1, 173, kSame, k240x320, A},
    {32, 1, 172, kSame, k240x320, O}, {33, 1, 174, kSame, k240x320, A},
    {34, 1, 170, kSame, k240x320, A}, {35, 1, 169, kSame, k240x320, A},
    {36, 1, 171, kSame, k240x320, A}, {37, 1, 151, kSame, k240x320, A},
    {38, 1, 153, kSame, k240x320, A}, {39, 1, 152, kSame, k240x320, A},
    {40, 3, 283, kSame, k480x640, A}, {43, 3, 631, kSame, k480x640, A}, {46, 3, 286, kSame, k480x640, A},
    {49, 18, 191, kSame, k240x320, A}, {67, 2, 290, kSame, k240x320, A}, {69, 3, 209, kSame, k240x320, A},
    {72, 12, 377, kSame, k240x320, A}, {84, 17, 356, kSame, k240x320, A},
    {101, 2, 266, kSame, k480x640, A}, {103, 1, 188, kSame, k240x320, A},
    {104, 1, 471, kSame, k480x800, A}, {105, 1, 540, kSame, k480x800, A}, {106, 1, 472, kSame, k480x800, A},
    {107, 2, 545, kSame, k480x800, A}, {109, 1, 473, kSame, k480x800, A}, {110, 1, 547, kSame, k480x800, A},
    {111, 1, 474, kSame, k480x800, A}, {112, 2, 675, kSame, k480x800, A}, {114, 6, 678, kSame, k480x800, A},
    {120, 2, 140, kSame, k240x320, A}, {122, 17, 339, kSame, k240x180, A}, {139, 10, 394, kSame, k240x400, A},
    {149, 1, 190, kSame, k240x320, A}, {150, 3, 271, kSame, k480x640, A}, {153, 1, 289, kSame, k480x640, A},
    {154, 1, 299, kSame, k480x800, A}, {155, 1, 405, kSame, k480x800, A}, {156, 1, 469, kSame, k480x800, A},
    {157, 1, 300, kSame, k480x800, A}, {158, 1, 406, kSame, k480x800, A}, {159, 1, 470, kSame, k480x800, A},
    {160, 2, 301, kSame, k480x800, A}, {162, 27, 304, kSame, k480x800, A},
    {189, 1, 331, kSame, k42x42, A},
    {190, 2, 332, kSame, k240x400, A}, {192, 1, 427, kSame, k240x400, A}, {193, 1, 334, kSame, k240x400, A},
    {194, 1, 428, kSame, k240x400, A}, {195, 3, 335, kSame, k240x400, A}, {198, 1, 433, kSame, k240x400, A},
    {199, 1, 435, kSame, k240x400, A}, {200, 1, 338, kSame, k240x400, A}, {201, 1, 434, kSame, k240x400, A},
    {202, 1, 436, kSame, k240x400, A}, {203, 3, 494, kSame, k240x400, A}, {206, 3, 625, kSame, k240x400, A},
    {209, 1, 139, kSame, k240x400, A}, {210, 1, 376, kSame, k240x400, O},
    {211, 1, 439, kSame, k240x400, A}, {212, 1, 437, kSame, k240x400, A}, {213, 1, 655, kSame, k240x400, A},
    {214, 1, 438, kSame, k240x400, A}, {215, 1, 614, kSame, k240x400, A}, {216, 1, 190, kSame, k240x400, A},
    {217, 1, 390, kSame, k240x400, A}, {218, 2, 392, kSame, k240x400, A}, {220, 1, 630, kSame, k240x400, A},
    {221, 1, 624, kSame, k240x400, A}, {222, 1, 656, 624, k240x400, A}, {223, 1, 375, kSame, k240x400, A},
    {224, 1, 374, kSame, k240x400, A},
    {225, 1, 0, 0, kNoSize, O},
    {226, 5, 409, kSame, k240x400, A}, {231, 1, 417, kSame, k240x400, A}, {232, 1, 419, kSame, k240x400, A},
    {233, 1, 418, kSame, k240x400, A}, {234, 1, 414, kSame, k240x400, A}, {235, 1, 415, 414, k240x400, A},
    {236, 1, 416, kSame, k240x400, A}, {237, 1, 420, 422, k240x400, A}, {238, 2, 421, kSame, k240x400, A},
    {240, 1, 628, 0, k240x400, A}, {241, 1, 629, kSame, k240x400, A}, {242, 3, 423, kSame, k240x400, A},
    {245, 6, 440, kSame, k480x800, A}, {251, 1, 446, kSame, k480x800, O}, {252, 8, 447, kSame, k480x800, A},
    {260, 1, 455, kSame, k480x800, O}, {261, 8, 456, kSame, k480x800, A}, {269, 1, 464, kSame, k480x800, O},
    {270, 4, 465, kSame, k480x800, A},
    {274, 1, 426, kSame, k240x400, A}, {275, 4, 429, kSame, k240x400, A}, {279, 1, 404, kSame, k240x400, A},
    {280, 2, 407, kSame, k240x400, A}, {282, 1, 579, kSame, k480x800, A},
    {283, 2, 475, kSame, k240x400, A}, {285, 2, 478, kSame, k240x400, A}, {287, 1, 480, kSame, k240x400, O},
    {288, 4, 481, kSame, k240x400, A}, {292, 4, 634, kSame, k240x400, A}, {296, 1, 638, kSame, k240x400, O},
    {297, 4, 639, kSame, k240x400, A}, {301, 1, 657, 485, k240x400, A}, {302, 3, 659, 486, k240x400, A},
    {305, 1, 662, 489, k240x400, O}, {306, 4, 663, 490, k240x400, A}, {310, 4, 485, kSame, k240x400, A},
    {314, 1, 489, kSame, k240x400, O}, {315, 4, 490, kSame, k240x400, A}, {319, 8, 497, kSame, k240x400, A},
    {327, 1, 506, kSame, k240x400, A}, {328, 1, 508, kSame, k240x400, A},
    // 329-337 and 338-346 are two sets of the same pictures.
    {329, 6, 509, 518, k240x400, A}, {335, 1, 515, 525, k240x400, A}, {336, 1, 516, 524, k240x400, A},
    {337, 1, 517, 526, k240x400, O},
    {338, 6, 509, 518, k240x400, A}, {344, 1, 515, 525, k240x400, A}, {345, 1, 516, 524, k240x400, A},
    {346, 1, 517, 526, k240x400, O},
    {347, 8, 518, kSame, k240x400, A}, {355, 1, 526, kSame, k240x400, O}, {356, 8, 527, kSame, k240x400, A},
    {364, 1, 535, kSame, k240x400, O}, {365, 8, 615, kSame, k240x400, A}, {373, 1, 623, kSame, k240x400, O},
    {374, 4, 536, kSame, k240x400, A}, {378, 4, 541, kSame, k240x400, A}, {382, 8, 667, kSame, k240x400, A},
};

}  // namespace

CImageSource::CImageSource(uint16_t nLandscapeId, uint16_t nPortraitId, uint32_t nRefWidth, uint32_t nRefHeight,
                           bool bAlpha)
    : m_nLandscapeId(nLandscapeId),
      m_nPortraitId(nPortraitId),
      m_nRefWidth(nRefWidth),
      m_nRefHeight(nRefHeight),
      m_bAlpha(bAlpha) {}

void CImageSource::SetDecoder(TPngResourceDecoder pDecoder) { g_pDecoder = pDecoder ? pDecoder : &LoadPngResource; }

CBitmap* CImageSource::Get() {
  const uint16_t nId = CResources::GetOption(EOptionLandscape, 0) != 0 ? m_nLandscapeId : m_nPortraitId;
  if (nId == 0) return CBitmap::FromHandle(nullptr, false);

  // The decoder only sets the last error where it knows the cause, so an
  // earlier call's code must not be mistaken for it.
  plat::SetLastError(0);
  plat::HBITMAP hBitmap = g_pDecoder(nId);
  if (!hBitmap) {
    const uint32_t nError = plat::GetLastError();
    DebugTrace(u"[QUOREL] Picture %u (drawn for %ux%u) could not be loaded, error %u\n", nId, m_nRefWidth,
               m_nRefHeight, nError);
    Env::ThrowError(nError == plat::ERROR_NOT_ENOUGH_MEMORY ? Env::ErrRegistration : Env::ErrSystem);
  }
  return CBitmap::FromHandle(hBitmap, m_bAlpha);
}

CBitmap* CEmptyImageSource::Get() { return CBitmap::FromHandle(nullptr, false); }

std::vector<TImageSlot> ImageCatalogue() {
  std::vector<TImageSlot> slots;
  slots.reserve(387);
  for (const TImageRun& run : kCatalogue) {
    const TSize size = kRefSizes[run.eSize];
    for (uint16_t step = 0; step < run.nCount; ++step) {
      TImageSlot slot;
      slot.nSlot = run.nFirstSlot + step;
      slot.bEmpty = run.nLandscape == 0 && run.nPortrait == 0;
      if (!slot.bEmpty) {
        slot.nLandscapeId = static_cast<uint16_t>(run.nLandscape + step);
        slot.nPortraitId = run.nPortrait == kSame ? slot.nLandscapeId
                           : run.nPortrait == 0   ? 0
                                                  : static_cast<uint16_t>(run.nPortrait + step);
        slot.nRefWidth = size.nWidth;
        slot.nRefHeight = size.nHeight;
        slot.bAlpha = run.bAlpha;
      }
      slots.push_back(slot);
    }
  }
  return slots;
}

void RegisterImages() {
  for (const TImageSlot& slot : ImageCatalogue()) {
    IImageSource* pSource = slot.bEmpty ? static_cast<IImageSource*>(new CEmptyImageSource)
                                        : new CImageSource(slot.nLandscapeId, slot.nPortraitId, slot.nRefWidth,
                                                           slot.nRefHeight, slot.bAlpha);
    // The registry keeps the one reference that stays.
    pSource->addReference();
    struct TRelease {
      IImageSource* p;
      ~TRelease() { p->removeReference(); }
    } release{pSource};
    CResources::RegisterImageSource(slot.nSlot, pSource);
  }
}
