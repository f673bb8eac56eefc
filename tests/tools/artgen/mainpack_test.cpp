// The main module the build packed (MAIN_PACK): its texts and tables, the
// window icon, and every picture byte for byte as artgen drew it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "platform/module/PackFormat.h"
#include "tests/tools/artgen/ArtFacts.h"

namespace {

namespace fs = std::filesystem;
namespace pack = plat::pack;

struct Resource {
  std::u16string typeName;  // empty for a numbered type
  uint16_t type = 0;
  uint16_t id = 0;
  std::vector<uint8_t> data;
};

class MainPack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::vector<uint8_t> bytes = artfacts::ReadBytes(MAIN_PACK);
    ASSERT_GE(bytes.size(), pack::kHeaderSize);
    ASSERT_TRUE(std::equal(pack::kMagic, pack::kMagic + 4, bytes.begin()));
    const uint16_t names = pack::ReadU16(&bytes[6]);
    const uint32_t count = pack::ReadU32(&bytes[8]);
    size_t pos = pack::kHeaderSize + size_t{count} * pack::kEntrySize;
    std::vector<std::u16string> typeNames;
    for (uint16_t i = 0; i < names; ++i) {
      const uint16_t length = pack::ReadU16(&bytes.at(pos));
      std::u16string name;
      for (uint16_t j = 0; j < length; ++j) name.push_back(pack::ReadU16(&bytes.at(pos + 2 + 2 * j)));
      typeNames.push_back(name);
      pos += 2 + 2 * size_t{length};
    }
    s_resources.clear();
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = &bytes[pack::kHeaderSize + i * pack::kEntrySize];
      Resource r;
      r.type = pack::ReadU16(e);
      r.id = pack::ReadU16(e + 2);
      const uint32_t offset = pack::ReadU32(e + 4), size = pack::ReadU32(e + 8);
      ASSERT_LE(uint64_t{offset} + size, bytes.size());
      if (r.type & pack::kNamedTypeFlag) r.typeName = typeNames.at(r.type & ~pack::kNamedTypeFlag);
      r.data.assign(bytes.begin() + offset, bytes.begin() + offset + size);
      s_resources.push_back(std::move(r));
    }
  }

  static const Resource* Find(uint16_t type, uint16_t id) {
    for (const Resource& r : s_resources)
      if (r.typeName.empty() && r.type == type && r.id == id) return &r;
    return nullptr;
  }

  static std::u16string Text(uint16_t id) {
    const Resource* r = Find(pack::kTypeString, id);
    if (!r) return u"(missing)";
    std::u16string text;
    for (size_t i = 2; i + 1 < r->data.size() && text.size() < pack::ReadU16(r->data.data()); i += 2)
      text.push_back(pack::ReadU16(&r->data[i]));
    return text;
  }

  static inline std::vector<Resource> s_resources;
};

TEST_F(MainPack, WindowTitleAndAClassThatDiffersFromTheControlClass) {
  EXPECT_EQ(Text(1), u"Quorel");
  EXPECT_EQ(Text(2), u"QUORELAPP");
  // The control class is registered first; the same name again would fail.
  EXPECT_NE(Text(2), u"QUORELCTL");
  EXPECT_LE(Text(1).size(), 100u);
  EXPECT_LE(Text(2).size(), 100u);
}

TEST_F(MainPack, SoftKeyMenuWithTwoEmptyButtonsAndAnEmptyAcceleratorTable) {
  const Resource* menu = Find(pack::kTypeMenu, 102);
  ASSERT_NE(menu, nullptr);
  // count, then {command, length, text} per item
  const std::vector<uint8_t> expected = {2, 0, 0x40, 0x9C, 0, 0, 0x41, 0x9C, 0, 0};
  EXPECT_EQ(menu->data, expected);
  const Resource* accel = Find(pack::kTypeAccelerator, 2);
  ASSERT_NE(accel, nullptr) << "a missing table and an empty one are not the same";
  EXPECT_EQ(accel->data, (std::vector<uint8_t>{0, 0}));
}

TEST_F(MainPack, HoldsEveryPictureAsDrawnAndTheIcon) {
  std::set<int> rcdata, iimage;
  for (const Resource& r : s_resources) {
    if (r.typeName == u"IIMAGE") {
      iimage.insert(r.id);
      EXPECT_EQ(r.data, artfacts::ReadBytes(fs::path(ART_OUT) / "iimage" / (std::to_string(r.id) + ".png")))
          << "IIMAGE " << r.id;
    } else if (r.typeName.empty() && r.type == pack::kTypeRcData) {
      rcdata.insert(r.id);
      EXPECT_EQ(r.data, artfacts::ReadBytes(fs::path(ART_OUT) / "rcdata" / (std::to_string(r.id) + ".png")))
          << "RCDATA " << r.id;
    }
  }
  std::set<int> pictures;
  for (const auto& [id, opaque] : artfacts::CataloguePictures()) pictures.insert(id);
  EXPECT_EQ(rcdata, pictures);
  EXPECT_EQ(iimage, artfacts::ToolkitPictures());

  const Resource* icon = Find(3, 1);  // RT_ICON
  ASSERT_NE(icon, nullptr);
  const auto png = artfacts::ReadPng(icon->data);
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.width, 64);
  EXPECT_EQ(png.height, 64);
  EXPECT_EQ(png.colourType, 6);
}

}  // namespace
