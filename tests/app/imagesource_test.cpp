// The image catalogue: its expansion against the art checks' own copy,
// loading through the resource registry in both orientations, the failure
// codes, how the alpha flag draws, and the pictures the build shipped.
#include "app/ImageSource.h"

#include <gtest/gtest.h>
#include <png.h>

#include <map>
#include <set>

#include "app/AppTestSupport.h"
#include "framework/Graphics.h"
#include "framework/graphics_test_util.h"
#include "platform/base/Errors.h"
#include "tools/artgen/ArtFacts.h"

namespace {

// A picture `width` pixels wide and one high, every pixel 0xRRGGBBAA.
std::vector<uint8_t> Picture(uint32_t width, uint32_t rgba, bool alpha = true) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = 1;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels;
  for (uint32_t x = 0; x < width; ++x)
    for (int c = 0; c < (alpha ? 4 : 3); ++c) pixels.push_back(uint8_t(rgba >> (24 - 8 * c)));
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr));
  out.resize(size);
  return out;
}

const RECT kAnySize{0, 0, 0, 0};

class ImageCatalogue : public apptest::AppFixture {
 protected:
  // Every resource that can be told apart by its width: picture n is n
  // pixels wide.
  void LoadNumberedPictures(std::initializer_list<uint16_t> ids) {
    std::map<uint16_t, std::vector<uint8_t>> pictures;
    for (uint16_t id : ids) pictures[id] = Picture(id, 0x336699FF);
    LoadMainPack(pictures);
  }
  void Orient(bool landscape) {
    CResources::SetOption(EOptionLandscape, landscape ? 1 : 0);
    CResources::ClearCaches();
  }
  // The width of the slot's picture (its resource id here); 0 for an empty
  // bitmap.
  int32_t Shown(int32_t slot) {
    gfx::Held<CBitmap> bitmap(CResources::GetImage(slot, EScaleNone, kAnySize));
    return bitmap->Handle() ? bitmap->GetSize().right : 0;
  }
};

TEST_F(ImageCatalogue, ExpansionAgreesWithTheArtChecks) {
  const std::vector<TImageSlot> slots = ::ImageCatalogue();
  ASSERT_EQ(slots.size(), 387u);
  const std::map<int, artfacts::Slot>& facts = artfacts::Catalogue();
  ASSERT_EQ(facts.size(), 387u);

  std::set<int> ids, opaqueSlots, opaqueIds;
  std::map<std::pair<uint32_t, uint32_t>, int> sizes;
  int previous = -1;
  for (const TImageSlot& s : slots) {
    SCOPED_TRACE(s.nSlot);
    EXPECT_GT(s.nSlot, previous);
    previous = s.nSlot;
    ASSERT_TRUE(facts.count(s.nSlot));
    const artfacts::Slot& fact = facts.at(s.nSlot);
    EXPECT_EQ(s.bEmpty, fact.landscape == 0 && fact.portrait == 0);
    if (s.bEmpty) continue;
    EXPECT_EQ(s.nLandscapeId, fact.landscape);
    EXPECT_EQ(s.nPortraitId, fact.portrait);
    EXPECT_EQ(!s.bAlpha, fact.opaque);
    ++sizes[{s.nRefWidth, s.nRefHeight}];
    for (uint16_t id : {s.nLandscapeId, s.nPortraitId})
      if (id) ids.insert(id);
    if (!s.bAlpha) {
      opaqueSlots.insert(s.nSlot);
      opaqueIds.insert(s.nPortraitId);
      opaqueIds.insert(s.nLandscapeId);
    }
  }
  for (int unregistered : {1, 2, 3}) EXPECT_FALSE(facts.count(unregistered));
  EXPECT_EQ(ids.size(), 375u);
  EXPECT_EQ(*ids.begin(), 138);
  EXPECT_EQ(*ids.rbegin(), 683);
  EXPECT_EQ(opaqueSlots, (std::set<int>{6, 7, 8, 9, 14, 23, 32, 210, 251, 260, 269, 287, 296, 305, 314, 337, 346,
                                        355, 364, 373}));
  EXPECT_EQ(opaqueIds.size(), 19u);
  const std::map<std::pair<uint32_t, uint32_t>, int> expectedSizes = {
      {{240, 400}, 179}, {{240, 320}, 92}, {{480, 800}, 81}, {{240, 180}, 17}, {{480, 640}, 15}, {{42, 42}, 1}};
  EXPECT_EQ(sizes, expectedSizes);
}

TEST_F(ImageCatalogue, OrientationPicksTheResource) {
  LoadNumberedPictures({628, 656, 624, 420, 422, 509, 517, 518, 526, 138});
  RegisterImages();
  struct Case {
    int32_t slot, landscape, portrait;
  };
  const Case cases[] = {{240, 628, 0},   {222, 656, 624}, {237, 420, 422}, {4, 138, 138}, {329, 509, 518},
                        {337, 517, 526}, {338, 509, 518}, {346, 517, 526}, {0, 0, 0},     {225, 0, 0}};
  for (bool landscape : {false, true, false}) {
    Orient(landscape);
    for (const Case& c : cases)
      EXPECT_EQ(Shown(c.slot), landscape ? c.landscape : c.portrait) << "slot " << c.slot << " landscape " << landscape;
  }
  // The cached picture stays until the caches are dropped.
  CResources::SetOption(EOptionLandscape, 1);
  EXPECT_EQ(Shown(222), 624);
  CResources::ClearCaches();
  EXPECT_EQ(Shown(222), 656);
}

plat::HBITMAP OutOfMemory(uint16_t) {
  plat::SetLastError(plat::ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}
plat::HBITMAP FailsWithoutReason(uint16_t) { return nullptr; }

TEST_F(ImageCatalogue, FailuresCarryTheirCodes) {
  LoadNumberedPictures({138});
  RegisterImages();
  // A stale error from an earlier call must not read as a lack of memory.
  plat::SetLastError(plat::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(apptest::Thrown([&] { Shown(5); }), Env::ErrSystem) << "picture 189 is not in the pack";
  for (int32_t slot : {1, 2, 3, 390}) EXPECT_EQ(apptest::Thrown([&] { Shown(slot); }), Env::ErrNotFound) << slot;
  EXPECT_EQ(apptest::Thrown([] { RegisterImages(); }), Env::ErrAlreadyExists);

  CImageSource::SetDecoder(&OutOfMemory);
  EXPECT_EQ(apptest::Thrown([&] { Shown(4); }), Env::ErrRegistration);
  plat::SetLastError(plat::ERROR_NOT_ENOUGH_MEMORY);
  CImageSource::SetDecoder(&FailsWithoutReason);
  EXPECT_EQ(apptest::Thrown([&] { Shown(4); }), Env::ErrSystem);
  CImageSource::SetDecoder(nullptr);
  EXPECT_EQ(Shown(4), 138);
}

TEST_F(ImageCatalogue, OpaqueSlotsAreCopiedAndTheOthersBlended) {
  // Half-transparent red over blue: copied, the premultiplied pixel replaces
  // the blue; blended, the blue shows through.
  LoadMainPack({{154, Picture(2, 0xFF000080)}, {138, Picture(2, 0xFF000080)}});
  RegisterImages();
  struct Case {
    int32_t slot;
    uint32_t expected;  // 0xAARRGGBB
  };
  for (const Case& c : {Case{6, 0x80800000u}, Case{4, 0xFF80007Fu}}) {
    gfx::Surface target(2, 1);
    target.Fill(0xFF0000FF);
    {
      gfx::Held<CBitmap> bitmap(CResources::GetImage(c.slot, EScaleNone, kAnySize));
      CMemoryGraphics graphics(target.Bitmap());
      graphics.DrawBitmap(bitmap.get(), 0, 0, RECT{});
    }
    EXPECT_EQ(target.Px(1, 0), c.expected) << "slot " << c.slot;
  }
}

TEST_F(ImageCatalogue, EverySlotDecodesFromTheShippedPack) {
  MountProgram(QUOREL_PACK_DIR, u"\\Program Files\\Quorel");
  m_mainPack = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
  ASSERT_NE(m_mainPack, nullptr);
  plat::SetMainModule(m_mainPack);
  RegisterImages();
  for (bool landscape : {false, true}) {
    Orient(landscape);
    for (const TImageSlot& s : ::ImageCatalogue()) {
      SCOPED_TRACE(testing::Message() << "slot " << s.nSlot << " landscape " << landscape);
      gfx::Held<CBitmap> bitmap(CResources::GetImage(s.nSlot, EScaleNone, kAnySize));
      const bool picture = !s.bEmpty && (landscape ? s.nLandscapeId : s.nPortraitId) != 0;
      ASSERT_EQ(bitmap->Handle() != nullptr, picture);
      if (!picture) continue;
      EXPECT_EQ(bitmap->HasAlpha(), s.bAlpha);
      // An opaque slot is copied as it stands, so none of its pixels may be
      // transparent.
      if (!s.bAlpha) {
        for (uint32_t pixel : gfx::Pixels(bitmap.get())) ASSERT_EQ(pixel >> 24, 0xFFu);
      }
    }
  }
}

}  // namespace
