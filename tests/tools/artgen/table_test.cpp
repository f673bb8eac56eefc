#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tools/artgen/Generate.h"
#include "tools/artgen/Png.h"
#include "tools/artgen/Recipes.h"
#include "tools/artgen/Table.h"

namespace {

using namespace artgen;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const TableError& e) {
    return e.what();
  }
  return "(no error)";
}

// --- ids, sizes, colours ----------------------------------------------------

TEST(ArtTable, IdListsExpandInWrittenOrder) {
  EXPECT_THAT(ParseIdList("536-539,541-544"), ElementsAre(536, 537, 538, 539, 541, 542, 543, 544));
  EXPECT_THAT(ParseIdList("185,184,186"), ElementsAre(185, 184, 186));
  EXPECT_THAT(ParseIdList("0-0,65535"), ElementsAre(0, 65535));
  for (const char* bad : {"", "5-3", "1,,2", "70000", "a", "3-", "-3", "1-70000", "1 ,2", "2,"})
    EXPECT_THAT(ErrorOf([&] { ParseIdList(bad); }), HasSubstr("\"")) << bad;
}

TEST(ArtTable, SizesAndColours) {
  EXPECT_EQ(ParseSize("454x120"), std::make_pair(454, 120));
  EXPECT_EQ(ParseSize("1x4096"), std::make_pair(1, 4096));
  for (const char* bad : {"454", "0x5", "5x5000", "x5", "5x", "5X5", "-1x5"})
    EXPECT_THAT(ErrorOf([&] { ParseSize(bad); }), HasSubstr("size")) << bad;
  EXPECT_EQ(ParseColour("27D4FE"), 0xFF27D4FEu);
  EXPECT_EQ(ParseColour("8027d4fe"), 0x8027D4FEu);
  EXPECT_EQ(ParseColour("00000000"), 0u);
  for (const char* bad : {"27D4F", "GGGGGG", "0x27D4FE", "FF27D4FE00", ""})
    EXPECT_THAT(ErrorOf([&] { ParseColour(bad); }), HasSubstr("colour")) << bad;
}

// --- rows and palettes --------------------------------------------------------

TEST(ArtTable, RowsCarrySectionThemeOpaqueIdsAndHeading) {
  const auto rows = ReadTable(
      "# comment\r\n"
      "[rcdata]\n"
      "# --- buttons ---\n"
      "skin9  1-9\t40x20  corner=4 style=graphite theme=1 opaque=5  # the normal state\n"
      "\n"
      "[iimage]\n"
      "icon 7 8x8 look=bare glyph=tick\n",
      "t.tsv");
  ASSERT_EQ(rows.size(), 2u);
  const Row& skin = rows[0];
  EXPECT_EQ(skin.section, Section::RcData);
  EXPECT_EQ(skin.kind, "skin9");
  EXPECT_EQ(skin.ids.size(), 9u);
  EXPECT_EQ(skin.width, 40);
  EXPECT_EQ(skin.height, 20);
  EXPECT_EQ(skin.theme, Theme::One);
  EXPECT_THAT(skin.opaque, ElementsAre(5));
  EXPECT_EQ(skin.group, "buttons");
  EXPECT_EQ(skin.Int("corner", 0), 4);
  EXPECT_EQ(skin.params.size(), 4u) << "the trailing note is not a parameter";
  EXPECT_EQ(skin.Where(), "t.tsv:4");
  const Row& icon = rows[1];
  EXPECT_EQ(icon.section, Section::IImage);
  EXPECT_EQ(icon.theme, Theme::Neutral);
  EXPECT_EQ(icon.group, "") << "a new section starts without a heading";
  EXPECT_EQ(icon.Text("glyph"), "tick");
  EXPECT_EQ(icon.Int("missing", 17), 17);
  EXPECT_THAT(ErrorOf([&] { icon.Int("glyph", 0); }), HasSubstr("not a whole number"));
}

TEST(ArtTable, EveryRowFaultNamesItsLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"icon 7 8x8 look=bare\n", "before the first section"},
      {"[pictures]\n", "unknown section"},
      {"[rcdata] extra\n", "only its name"},
      {"[rcdata]\nicon 7\n", "expected <kind> <ids> <size>"},
      {"[rcdata]\nicon 7 8x8 look\n", "is not key=value"},
      {"[rcdata]\nicon 7 8x8 look= \n", "is not key=value"},
      {"[rcdata]\nicon 7 8x8 look=a look=b\n", "given twice"},
      {"[rcdata]\nicon 7 8x8 theme=2\n", "theme must be 0 or 1"},
      {"[rcdata]\nicon 7 8x8 opaque=8\n", "not one of the row's ids"},
      {"[rcdata]\nicon 7 8y8\n", "size"},
      {"[rcdata]\nicon 9-7 8x8\n", "rising range"},
  };
  for (const auto& [content, message] : cases) {
    const std::string error = ErrorOf([&] { ReadTable(content, "t.tsv"); });
    EXPECT_THAT(error, HasSubstr(message)) << content;
    const int line = static_cast<int>(std::count(content.begin(), content.end(), '\n'));
    EXPECT_THAT(error, HasSubstr("t.tsv:" + std::to_string(line) + ":")) << content;
  }
}

TEST(ArtPalette, ColumnsAreSharedThemeZeroThemeOne) {
  const Palette p = ReadPalette(
      "# name shared theme0 theme1\n"
      "accent  C9CFD6  27D4FE  877152   # ThemeButtonCaptionColor\n"
      "shadow  CC000000 CC000000 CC000000\n",
      "p.tsv");
  EXPECT_EQ(p.Get("accent", Theme::Neutral), 0xFFC9CFD6u);
  EXPECT_EQ(p.Get("accent", Theme::Zero), 0xFF27D4FEu);
  EXPECT_EQ(p.Get("accent", Theme::One), 0xFF877152u);
  EXPECT_EQ(p.Get("shadow", Theme::One), 0xCC000000u);
  EXPECT_THAT(ErrorOf([&] { p.Get("accnet", Theme::Zero); }), HasSubstr("no colour \"accnet\""));
  EXPECT_THAT(ErrorOf([&] { ReadPalette("a 000000 000000\n", "p.tsv"); }), HasSubstr("p.tsv:1:"));
  EXPECT_THAT(ErrorOf([&] { ReadPalette("a 000000 000000 000000 extra\n", "p.tsv"); }), HasSubstr("p.tsv:1:"));
  EXPECT_THAT(ErrorOf([&] { ReadPalette("a 000000 000000 00000Z\n", "p.tsv"); }), HasSubstr("colour"));
  EXPECT_THAT(ErrorOf([&] { ReadPalette("a 000000 000000 000000\na 111111 111111 111111\n", "p.tsv"); }),
              HasSubstr("p.tsv:2: colour \"a\" is named twice"));
}

// --- recipes --------------------------------------------------------------------

Tables RealTables() { return ReadTables(ART_TABLES); }

Row OneRow(const std::string& line, const std::string& section = "[rcdata]") {
  return ReadTable(section + "\n" + line + "\n", "t.tsv").at(0);
}

TEST(ArtRecipes, RowsTheRecipeCannotFillAreRefused) {
  const Palette palette = RealTables().palette;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"skin9 1-8 40x20 corner=4 style=graphite", "fills 9 ids; the row names 8"},
      {"skin9 1-9 40x20 style=graphite", "needs corner="},
      {"skin9 1-9 40x20 corner=10 style=graphite", "corner does not fit"},
      {"skin9 1-9 40x20 corner=4 style=velvet", "no colour \"velvet_top\""},
      {"skin9 1-9 40x20 corner=4 style=graphite state=hovered", "state must be"},
      {"caps3 1-3 40x20 cap=20 style=graphite", "caps do not fit"},
      {"bar 1-3 32x20 cap=8 part=glow", "part must be"},
      {"icon 1 16x16 look=bare glyph=harp", "unknown glyph"},
      {"icon 1 16x16 look=shiny glyph=tick", "look must be"},
      {"picture 1 16x16 subject=moon", "subject must be"},
      {"anim 1-3 16x16 style=spinner frames=4", "fills 4 ids"},
      {"frame6 1-5 48x48 corner=12 thick=4 pieces=vedge,hedge,tl,bl,middle", "pieces are named"},
      {"weave 1 16x16", "unknown kind"},
      {"icon 1 16x16 look=bare glyph=tick opaque=1", "marked opaque but has see-through pixels"},
  };
  for (const auto& [line, message] : cases) {
    const Row row = OneRow(line);
    EXPECT_THAT(ErrorOf([&] { Render(row, palette); }), HasSubstr(message)) << line;
    EXPECT_THAT(ErrorOf([&] { Render(row, palette); }), HasSubstr("t.tsv:2")) << line;
  }
}

TEST(ArtRecipes, NineSliceRectanglesTileTheButton) {
  for (auto [w, h, c] : {std::tuple{454, 120, 15}, std::tuple{84, 66, 10}, std::tuple{5, 3, 1}}) {
    std::vector<int> cover(static_cast<size_t>(w) * h, 0);
    for (int slice = 0; slice < 9; ++slice) {
      const Rect r = NineSlice(w, h, c, slice);
      ASSERT_GE(r.w, 1);
      ASSERT_GE(r.h, 1);
      for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) ++cover.at(static_cast<size_t>(y) * w + x);
    }
    EXPECT_TRUE(std::all_of(cover.begin(), cover.end(), [](int n) { return n == 1; })) << w << "x" << h;
    EXPECT_EQ(NineSlice(w, h, c, 0).w, c);
    EXPECT_EQ(NineSlice(w, h, c, 4).w, w - 2 * c);
    EXPECT_EQ(NineSlice(w, h, c, 8).y, h - c);
  }
}

// A piece stretched across while its neighbours keep their size must be one
// colour along the stretch, or its ends would no longer meet the corners.
bool UniformAlongX(const Image& image) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 1; x < image.width; ++x)
      if (!std::equal(&image.rgba[(y * image.width + x) * 4], &image.rgba[(y * image.width + x) * 4 + 4],
                      &image.rgba[(y * image.width) * 4]))
        return false;
  return true;
}

// A piece stretched down together with its whole row (side edges and centre
// of a skin) may shade, but may carry no line or step that stretching would
// smear: neighbouring rows differ by a few levels at most.
bool SmoothAlongY(const Image& image, int step) {
  for (int y = 1; y < image.height; ++y)
    for (int i = 0; i < image.width * 4; ++i)
      if (std::abs(image.rgba[y * image.width * 4 + i] - image.rgba[(y - 1) * image.width * 4 + i]) > step)
        return false;
  return true;
}

TEST(ArtRecipes, StretchedPiecesOfTheRealTablesHaveNothingToSmear) {
  const Tables tables = RealTables();
  int checked = 0;
  for (const Row& row : tables.rows) {
    const std::vector<Image> pieces = Render(row, tables.palette);
    std::vector<size_t> acrossX, downY;  // piece indexes
    if (row.kind == "skin9") acrossX = {1, 4, 7}, downY = {3, 4, 5};
    else if (row.kind == "caps3" || row.kind == "frame3") acrossX = {1};
    else if (row.kind == "bar" && row.Text("orient", "h") == "v") downY = {1};
    else if (row.kind == "bar") acrossX = {1};
    else if (row.kind == "frame8") acrossX = {1, 6}, downY = {3, 4};
    else if (row.kind == "frame6" && pieces.size() == 6) acrossX = {1}, downY = {0};
    else if (row.kind == "centre" && row.Text("state") != "focused") acrossX = {0};
    for (size_t index : acrossX) {
      EXPECT_TRUE(UniformAlongX(pieces.at(index))) << row.Where() << " piece " << row.ids[index] << " changes across";
      ++checked;
    }
    for (size_t index : downY) {
      EXPECT_TRUE(SmoothAlongY(pieces.at(index), 6)) << row.Where() << " piece " << row.ids[index] << " has a step";
      ++checked;
    }
  }
  EXPECT_GT(checked, 80);
}

TEST(ArtRecipes, SkinCentresThatTheProgramBlitsAreOpaque) {
  const Tables tables = RealTables();
  for (const Row& row : tables.rows) {
    if (row.kind != "skin9") continue;
    const std::vector<Image> pieces = Render(row, tables.palette);
    // The centre slice of every skin is a solid body, whatever its alpha flag.
    EXPECT_TRUE(pieces[4].FullyOpaque()) << row.Where();
  }
}

TEST(ArtGenerate, AnIdIsDrawnOncePerResourceType) {
  Tables tables;
  tables.palette = RealTables().palette;
  tables.rows = ReadTable(
      "[rcdata]\nplaceholder 10-12 16x16\nplaceholder 12 16x16\n", "t.tsv");
  EXPECT_THAT(ErrorOf([&] { Generate(tables); }), HasSubstr("t.tsv:3: rcdata id 12 is already drawn by t.tsv:2"));
  tables.rows = ReadTable("[rcdata]\nplaceholder 10-12 16x16\n[iimage]\nplaceholder 12 16x16\n", "t.tsv");
  EXPECT_EQ(Generate(tables).size(), 4u) << "the same number in two resource types is two pictures";
}

// --- PNG encoding -----------------------------------------------------------------

struct Decoded {
  int colourType = -1;
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

Decoded Decode(const std::vector<uint8_t>& bytes) {
  Decoded out;
  if (bytes.size() > 26) out.colourType = bytes[25];  // IHDR's colour type byte
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return out;
  image.format = PNG_FORMAT_RGBA;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) out.rgba.clear();
  return out;
}

TEST(ArtPng, KeepsPixelsAndWritesTheAskedColourType) {
  Image image{3, 2, {}};
  for (int i = 0; i < 6; ++i)
    image.rgba.insert(image.rgba.end(), {uint8_t(40 * i), uint8_t(255 - 30 * i), uint8_t(7 * i), uint8_t(i ? 90 + i : 255)});
  const Decoded rgba = Decode(EncodePng(image, false));
  EXPECT_EQ(rgba.colourType, 6);
  EXPECT_EQ(rgba.width, 3);
  EXPECT_EQ(rgba.height, 2);
  EXPECT_EQ(rgba.rgba, image.rgba);

  const Decoded rgb = Decode(EncodePng(image, true));
  EXPECT_EQ(rgb.colourType, 2);
  ASSERT_EQ(rgb.rgba.size(), image.rgba.size());
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    EXPECT_TRUE(std::equal(&rgb.rgba[i], &rgb.rgba[i] + 3, &image.rgba[i]));
    EXPECT_EQ(rgb.rgba[i + 3], 255);
  }
  EXPECT_EQ(EncodePng(image, false), EncodePng(image, false));
}

}  // namespace
