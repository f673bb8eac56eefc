// The art tables under resources/art: a palette of named colours per theme and
// one row per piece set (kind, resource ids, size at 480 x 800, recipe
// parameters). Reading is separate from drawing so that the plan can be
// checked without a rasteriser.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace artgen {

// 0xAARRGGBB, straight (not premultiplied) alpha.
using Argb = uint32_t;

// Which palette column a row draws from: the shared colours, or a theme's.
enum class Theme { Neutral, Zero, One };

std::string_view ThemeName(Theme theme);

class Palette {
 public:
  // Every name has one colour per column; `Get` throws TableError for a name
  // the palette does not hold, so a misspelt colour stops the build.
  Argb Get(std::string_view name, Theme theme) const;
  bool Has(std::string_view name) const { return m_colours.count(std::string(name)) != 0; }
  void Set(const std::string& name, Argb neutral, Argb zero, Argb one);

 private:
  std::map<std::string, std::array<Argb, 3>, std::less<>> m_colours;
};

// The resource type a section of the table writes into.
enum class Section { RcData, IImage, Icon };

std::string_view SectionFolder(Section section);

struct Row {
  std::string file;
  int line = 0;
  Section section = Section::RcData;
  std::string kind;
  std::string group;          // the heading ("# --- heading ---") the row sits under
  std::vector<uint16_t> ids;  // in the order the recipe fills them
  int width = 0;
  int height = 0;
  std::map<std::string, std::string, std::less<>> params;
  Theme theme = Theme::Neutral;
  std::set<uint16_t> opaque;  // ids written as RGB; every pixel must be opaque

  std::string Where() const { return file + ":" + std::to_string(line); }
  bool Has(std::string_view key) const { return params.count(key) != 0; }
  // Parameter lookups; a present but malformed value throws TableError.
  std::string Text(std::string_view key, std::string_view fallback = {}) const;
  int Int(std::string_view key, int fallback) const;
  double Real(std::string_view key, double fallback) const;
};

struct TableError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "442-450", "185,184,186", "536-539,541-544" -> the ids in written order.
// Throws TableError on an empty item, a reversed range or a value over 65535.
std::vector<uint16_t> ParseIdList(std::string_view text);
// "454x120" -> {454, 120}; both sides 1 .. 4096.
std::pair<int, int> ParseSize(std::string_view text);
// "27D4FE" (opaque) or "8027D4FE".
Argb ParseColour(std::string_view text);

Palette ReadPalette(std::string_view content, const std::string& file);
// A table file: comment lines (#), section lines ([rcdata], [iimage], [icon])
// and rows "kind ids size key=value..." separated by tabs or spaces. A
// comment "# --- heading" names the group of the rows after it.
std::vector<Row> ReadTable(std::string_view content, const std::string& file);

// Reads palette.tsv and every other *.tsv of the folder, in name order.
struct Tables {
  Palette palette;
  std::vector<Row> rows;
};
Tables ReadTables(const std::filesystem::path& folder);

}  // namespace artgen
