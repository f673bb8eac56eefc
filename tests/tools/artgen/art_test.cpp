// The pictures the build drew (ART_OUT) against what the program asks of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <string>

#include "tests/tools/artgen/ArtFacts.h"
#include "tools/artgen/Table.h"

namespace {

namespace fs = std::filesystem;
using artfacts::Catalogue;
using artfacts::ReadBytes;
using artfacts::ReadPng;
using ::testing::IsEmpty;

std::map<int, fs::path> Files(const std::string& folder) {
  std::map<int, fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(ART_OUT) / folder)) {
    const std::string stem = entry.path().stem().string();
    EXPECT_EQ(entry.path().extension(), ".png") << entry.path();
    EXPECT_TRUE(!stem.empty() && stem.find_first_not_of("0123456789") == std::string::npos) << entry.path();
    files[std::stoi(stem)] = entry.path();
  }
  return files;
}

template <typename Map>
std::set<int> Keys(const Map& map) {
  std::set<int> keys;
  for (const auto& [key, value] : map) keys.insert(key);
  return keys;
}

std::set<int> Difference(const std::set<int>& a, const std::set<int>& b) {
  std::set<int> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.begin()));
  return out;
}

struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Size& s) { return out << s.w << "x" << s.h; }

Size SizeOf(const fs::path& file) {
  const auto png = ReadPng(ReadBytes(file));
  return {png.width, png.height};
}

// --- coverage --------------------------------------------------------------------

TEST(ArtCoverage, TheCatalogueAsTranscribedHas387SlotsAnd375Pictures) {
  // Slots 0-389 less 1, 2 and 3; slots 0 and 225 are the empty sources.
  EXPECT_EQ(Catalogue().size(), 387u);
  const auto pictures = artfacts::CataloguePictures();
  EXPECT_EQ(pictures.size(), 375u);
  EXPECT_EQ(std::count_if(pictures.begin(), pictures.end(), [](auto& p) { return p.second; }), 19);
  // A picture shared by several slots has one alpha flag in all of them.
  for (const auto& [slot, s] : Catalogue())
    for (int id : {s.landscape, s.portrait}) {
      if (id) {
        EXPECT_EQ(pictures.at(id), s.opaque) << "slot " << slot;
      }
    }
  EXPECT_EQ(artfacts::ToolkitPictures().size(), 90u);
}

TEST(ArtCoverage, RcdataHoldsExactlyTheCataloguePictures) {
  const std::set<int> made = Keys(Files("rcdata"));
  const std::set<int> wanted = Keys(artfacts::CataloguePictures());
  EXPECT_THAT(Difference(wanted, made), IsEmpty()) << "pictures the catalogue names but nobody drew";
  EXPECT_THAT(Difference(made, wanted), IsEmpty()) << "pictures drawn for no slot";
}

TEST(ArtCoverage, IimageHoldsExactlyTheToolkitPicturesAndTheIconIsThere) {
  const std::set<int> made = Keys(Files("iimage"));
  const std::set<int> wanted = artfacts::ToolkitPictures();
  EXPECT_THAT(Difference(wanted, made), IsEmpty());
  EXPECT_THAT(Difference(made, wanted), IsEmpty());
  EXPECT_EQ(Keys(Files("icon")), std::set<int>{1});
  const auto icon = ReadPng(ReadBytes(fs::path(ART_OUT) / "icon" / "1.png"));
  EXPECT_TRUE(icon.ok);
  EXPECT_EQ(icon.colourType, 6);
  EXPECT_EQ(Size(icon.width, icon.height), Size(64, 64));
}

// Each id appears in exactly one row of the tables, and each row's slot
// labels name slots that really show that id.
TEST(ArtCoverage, TableRowsNameEachIdOnceAndTheirSlotsAgree) {
  const auto tables = artgen::ReadTables(ART_TABLES);
  std::map<std::pair<int, int>, int> count;  // (section, id) -> rows
  for (const auto& row : tables.rows) {
    for (uint16_t id : row.ids) ++count[{static_cast<int>(row.section), id}];
    if (!row.Has("slots")) continue;
    ASSERT_EQ(row.section, artgen::Section::RcData) << row.Where();
    const auto slots = artgen::ParseIdList(row.Text("slots"));
    ASSERT_TRUE(slots.size() == row.ids.size() || row.ids.size() == 1) << row.Where();
    for (size_t i = 0; i < slots.size(); ++i) {
      const int id = row.ids.size() == 1 ? row.ids[0] : row.ids[i];
      ASSERT_TRUE(Catalogue().count(slots[i])) << row.Where() << ": slot " << slots[i] << " is not registered";
      const auto& s = Catalogue().at(slots[i]);
      EXPECT_TRUE(s.landscape == id || s.portrait == id)
          << row.Where() << ": slot " << slots[i] << " shows " << s.landscape << "/" << s.portrait << ", not " << id;
    }
  }
  for (const auto& [key, rows] : count) EXPECT_EQ(rows, 1) << "id " << key.second << " in " << rows << " rows";
}

// --- formats and sizes ------------------------------------------------------------

TEST(ArtFormat, ColourTypesFollowTheAlphaFlagsAndOpaqueMeansOpaque) {
  const auto flags = artfacts::CataloguePictures();
  int rgb = 0;
  for (const auto& [id, file] : Files("rcdata")) {
    const auto png = ReadPng(ReadBytes(file));
    ASSERT_TRUE(png.ok) << file;
    const bool opaque = flags.count(id) && flags.at(id);
    EXPECT_EQ(png.colourType, opaque ? 2 : 6) << file;
    // A transparency chunk would give an RGB picture see-through pixels.
    EXPECT_FALSE(png.chunks.count("tRNS")) << file;
    for (size_t i = 3; opaque && i < png.rgba.size(); i += 4) ASSERT_EQ(png.rgba[i], 255) << file;
    rgb += opaque;
  }
  EXPECT_EQ(rgb, 19);
  // The toolkit blits only the back button's middles without alpha (menu
  // images 18, 21 and 24); every other toolkit picture is blended.
  std::set<int> blitted;
  for (const auto& [name, set] : artfacts::Toolkit())
    for (int index : {18, 21, 24}) blitted.insert(set.menu[index]);
  for (const auto& [id, file] : Files("iimage")) {
    const auto png = ReadPng(ReadBytes(file));
    ASSERT_TRUE(png.ok) << file;
    EXPECT_EQ(png.colourType, blitted.count(id) ? 2 : 6) << file;
  }
}

// The size each piece must have: the table's size, cut the way its kind cuts.
std::vector<Size> ExpectedPieces(const artgen::Row& row) {
  const int w = row.width, h = row.height;
  const int n = static_cast<int>(row.ids.size());
  const auto& k = row.kind;
  if (k == "skin9") {
    const int c = row.Int("corner", 0);
    return {{c, c}, {w - 2 * c, c}, {c, c}, {c, h - 2 * c}, {w - 2 * c, h - 2 * c},
            {c, h - 2 * c}, {c, c}, {w - 2 * c, c}, {c, c}};
  }
  if (k == "caps3") {
    const int c = row.Int("cap", 0);
    return {{c, h}, {w - 2 * c, h}, {c, h}};
  }
  if (k == "bar") {
    const int c = row.Int("cap", 0);
    if (row.Text("orient") == "v") return {{w, c}, {w, h - 2 * c}, {w, c}};
    return {{c, h}, {w - 2 * c, h}, {c, h}};
  }
  if (k == "frame8") {
    const int c = row.Int("corner", 0);
    return {{c, c}, {w - 2 * c, c}, {c, c}, {c, h - 2 * c}, {c, h - 2 * c}, {c, c}, {w - 2 * c, c}, {c, c}};
  }
  if (k == "frame3") {
    const int c = row.Int("corner", 0);
    return {{c, h}, {w - 2 * c, h}, {c, h}};
  }
  if (k == "frame6") {
    const int c = row.Int("corner", 0), t = row.Int("thick", 0);
    const std::map<std::string, Size> all = {{"vedge", {t, h - 2 * c}}, {"hedge", {w - 2 * c, t}},
                                             {"tl", {c, c}}, {"bl", {c, c}}, {"tr", {c, c}}, {"br", {c, c}}};
    std::vector<Size> out;
    std::string list = row.Text("pieces", "vedge,hedge,tl,bl,tr,br") + ",";
    for (size_t pos = 0, comma; (comma = list.find(',', pos)) != std::string::npos; pos = comma + 1)
      out.push_back(all.at(list.substr(pos, comma - pos)));
    return out;
  }
  return std::vector<Size>(static_cast<size_t>(n), Size{w, h});
}

TEST(ArtFormat, EveryPictureHasItsTableSize) {
  const auto tables = artgen::ReadTables(ART_TABLES);
  int checked = 0;
  for (const auto& row : tables.rows) {
    const auto expected = ExpectedPieces(row);
    ASSERT_EQ(expected.size(), row.ids.size()) << row.Where();
    for (size_t i = 0; i < row.ids.size(); ++i) {
      const fs::path file = fs::path(ART_OUT) / artgen::SectionFolder(row.section) /
                            (std::to_string(row.ids[i]) + ".png");
      EXPECT_EQ(SizeOf(file), expected[i]) << row.Where() << " id " << row.ids[i];
      ++checked;
    }
  }
  EXPECT_EQ(checked, 375 + 90 + 1);
}

Size Rc(int id) { return SizeOf(fs::path(ART_OUT) / "rcdata" / (std::to_string(id) + ".png")); }
Size Ii(int id) { return SizeOf(fs::path(ART_OUT) / "iimage" / (std::to_string(id) + ".png")); }

// Sizes the screens show the pictures at on 480 x 800, from their layouts.
TEST(ArtFormat, PicturesHaveTheSizeTheScreensShowThemAt) {
  const std::vector<std::pair<int, Size>> shown = {
      {442, {15, 15}},   {446, {424, 90}},  {185, {14, 14}},   {181, {374, 38}},  {313, {10, 10}},
      {317, {220, 80}},  {485, {10, 10}},   {489, {64, 46}},   {536, {65, 65}},   {537, {320, 65}},
      {539, {65, 240}},  {283, {8, 20}},    {284, {16, 20}},   {286, {8, 20}},    {151, {15, 8}},
      {153, {15, 16}},   {411, {26, 62}},   {412, {402, 62}},  {190, {800, 75}},  {426, {800, 1}},
      {390, {240, 64}},  {299, {72, 72}},   {406, {72, 72}},   {440, {115, 95}},  {301, {115, 95}},
      {332, {62, 62}},   {429, {62, 62}},   {393, {68, 68}},   {656, {68, 68}},   {331, {125, 125}},
      {504, {125, 125}}, {439, {93, 98}},   {273, {120, 160}}, {339, {360, 270}}, {340, {360, 270}},
      {356, {128, 128}}, {394, {48, 48}},   {404, {480, 736}}, {437, {454, 62}},  {414, {452, 62}},
      {422, {480, 100}}, {423, {24, 24}},   {375, {272, 134}}, {374, {110, 32}},  {409, {55, 55}},
      {407, {72, 24}},   {408, {103, 30}},  {579, {441, 40}},  {189, {128, 128}}, {188, {64, 64}},
      {138, {16, 16}},   {623, {16, 16}},
  };
  for (const auto& [id, size] : shown) EXPECT_EQ(Rc(id), size) << "picture " << id;
}

// The three states of a button share one geometry, so a state change never
// moves an edge; corners are the square the button's layout asks for.
TEST(ArtFormat, NineSliceSkinsKeepOneGeometryAcrossTheirStates) {
  struct Skin {
    std::vector<int> firstSlots;
    int corner;
  };
  const std::vector<Skin> skins = {
      {{10, 19, 28}, 14},       // row buttons, focused / normal / pressed
      {{162, 171, 180}, 10},    // mode buttons
      {{247, 256, 265}, 15},    // record button
      {{283, 292, 301, 310}, 10},  // edit-bar button
  };
  for (const Skin& skin : skins) {
    std::vector<Size> first;
    for (int start : skin.firstSlots) {
      for (bool landscape : {false, true}) {
        std::vector<Size> pieces;
        for (int i = 0; i < 9; ++i) {
          const auto& s = Catalogue().at(start + i);
          pieces.push_back(Rc(landscape ? s.landscape : s.portrait));
        }
        for (int corner : {0, 2, 6, 8}) EXPECT_EQ(pieces[corner], Size(skin.corner, skin.corner)) << start;
        EXPECT_EQ(pieces[1].h, skin.corner) << start;
        EXPECT_EQ(pieces[3].w, skin.corner) << start;
        EXPECT_EQ(pieces[1].w, pieces[4].w) << start;
        EXPECT_EQ(pieces[3].h, pieces[4].h) << start;
        if (first.empty()) first = pieces;
        EXPECT_EQ(pieces, first) << "skin from slot " << start;
      }
    }
  }
  // The dialog frame of both themes: 65-pixel corners, edges 65 across.
  for (int start : {374, 382}) {
    std::vector<Size> p;
    for (int i = 0; i < 8; ++i) p.push_back(Rc(Catalogue().at(start + i).portrait));
    for (int corner : {0, 2, 5, 7}) EXPECT_EQ(p[corner], Size(65, 65));
    EXPECT_EQ(p[1], p[6]);
    EXPECT_EQ(p[3], p[4]);
    EXPECT_EQ(p[1].h, 65);
    EXPECT_EQ(p[3].w, 65);
  }
}

// The toolkit lays the menu frame out from the pictures' own sizes: the
// pieces of one column share a width, those of one row a height.
TEST(ArtFormat, ToolkitPicturesFitTheirMenus) {
  for (const auto& [name, set] : artfacts::Toolkit()) {
    auto M = [&](int index) { return Ii(set.menu.at(index)); };
    auto I = [&](int index) { return Ii(set.items.at(index)); };
    for (int i : {3, 5}) EXPECT_EQ(M(i).w, M(0).w) << name;
    EXPECT_EQ(M(8).w, M(0).w) << name;
    for (int i : {4, 7, 10}) EXPECT_EQ(M(i).w, M(2).w) << name;
    for (int i : {1, 2}) EXPECT_EQ(M(i).h, M(0).h) << name;
    for (int i : {6, 7}) EXPECT_EQ(M(i).h, M(5).h) << name;
    for (int i : {9, 10}) EXPECT_EQ(M(i).h, M(8).h) << name;
    for (int i = 12; i <= 16; ++i) EXPECT_EQ(M(i), M(11)) << name;
    // The back button fills the row between the frame's side columns.
    const bool large = name != "small";
    const int menuWidth = large ? 352 : 176, rowHeight = large ? 66 : 33;
    for (int state : {17, 20, 23}) {
      EXPECT_EQ(M(state).w + M(state + 1).w + M(state + 2).w, menuWidth - M(0).w - M(2).w) << name;
      for (int i = 0; i < 3; ++i) EXPECT_EQ(M(state + i).h, rowHeight) << name;
    }
    // A row spans the menu less two pixels on each side.
    EXPECT_EQ(I(1).w + I(2).w + I(3).w, menuWidth - (large ? 4 : 4)) << name;
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(I(i).h, rowHeight) << name;
    EXPECT_EQ(I(4), I(5)) << name;
    EXPECT_EQ(I(6), I(7)) << name;
    // The focus frame's corners are one square, the edges no thicker.
    auto F = [&](int index) { return Ii(set.frame.at(index)); };
    for (int i : {3, 4, 5}) EXPECT_EQ(F(i), F(2)) << name;
    EXPECT_LE(F(0).w, F(2).w) << name;
    EXPECT_LE(F(1).h, F(2).h) << name;
  }
}

// --- the whole set ----------------------------------------------------------------

// Runs artgen with its standard error in `errors`; the exit code, or -1.
int RunArtgen(const std::vector<std::string>& args, const fs::path& errors) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(errors.c_str(), "w", stderr)) _exit(126);
    std::vector<char*> argv = {const_cast<char*>(ARTGEN_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(ARTGEN_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

fs::path TempFolder() {
  char pattern[] = "/tmp/artgen-test-XXXXXX";
  return mkdtemp(pattern) ? fs::path(pattern) : fs::path();
}

TEST(ArtOutput, ABadTableStopsTheRunNamesTheRowAndLeavesTheOutputAlone) {
  const fs::path root = TempFolder();
  ASSERT_FALSE(root.empty());
  fs::create_directories(root / "tables");
  fs::copy_file(fs::path(ART_TABLES) / "palette.tsv", root / "tables" / "palette.tsv");
  {
    std::ofstream table(root / "tables" / "bad.tsv");
    table << "[rcdata]\nplaceholder 10 16x16\nicon 11 62x62 look=ring glyph=trumpet\n";
  }
  fs::create_directories(root / "out" / "rcdata");
  {
    std::ofstream keep(root / "out" / "rcdata" / "99.png");
    keep << "earlier run";
  }
  EXPECT_EQ(RunArtgen({(root / "tables").string(), "-o", (root / "out").string()}, root / "errors"), 1);
  std::ifstream errors(root / "errors");
  const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, ::testing::HasSubstr("bad.tsv:3: unknown glyph \"trumpet\""));
  EXPECT_TRUE(fs::exists(root / "out" / "rcdata" / "99.png")) << "a failed run must not clear the last good one";
  EXPECT_FALSE(fs::exists(root / "out" / "rcdata" / "10.png"));
  EXPECT_EQ(RunArtgen({(root / "tables").string(), "--sheet"}, root / "errors"), 2) << "usage";
  fs::remove_all(root);
}

TEST(ArtOutput, TwoRunsGiveTheSameBytes) {
  const fs::path again = TempFolder();
  ASSERT_FALSE(again.empty());
  ASSERT_EQ(RunArtgen({ART_TABLES, "-o", again.string()}, again / "errors"), 0);
  int compared = 0;
  for (const char* folder : {"rcdata", "iimage", "icon"}) {
    const auto first = Files(folder);
    std::set<int> second;
    for (const auto& entry : fs::directory_iterator(again / folder)) second.insert(std::stoi(entry.path().stem()));
    EXPECT_EQ(Keys(first), second) << folder;
    for (const auto& [id, file] : first) {
      EXPECT_EQ(ReadBytes(file), ReadBytes(again / folder / file.filename())) << file;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 466);
  fs::remove_all(again);
}

TEST(ArtOutput, AllPicturesTogetherStaySmall) {
  uintmax_t total = 0;
  for (const char* folder : {"rcdata", "iimage", "icon"})
    for (const auto& [id, file] : Files(folder)) total += fs::file_size(file);
  RecordProperty("total_png_bytes", std::to_string(total));
  EXPECT_LE(total, 2u * 1024 * 1024);
}

}  // namespace
