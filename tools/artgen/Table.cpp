#include "tools/artgen/Table.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <sstream>

namespace artgen {

namespace fs = std::filesystem;

namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::optional<long> ParseLong(std::string_view text) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// Lines without their end, comments and blank lines dropped, numbered from 1;
// `heading` sees the "# --- " comments.
template <typename Fn>
void ForEachLine(std::string_view content, Fn&& fn, const std::function<void(std::string_view)>& heading = {}) {
  int number = 0;
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    ++number;
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') {
      if (heading && first != std::string_view::npos && line.substr(first).rfind("# ---", 0) == 0) {
        std::string_view text = line.substr(first + 5);
        const size_t from = text.find_first_not_of(" -");
        const size_t to = text.find_last_not_of(" -");
        heading(from == std::string_view::npos ? std::string_view() : text.substr(from, to - from + 1));
      }
      if (end == content.size()) break;
      continue;
    }
    fn(line, number);
    if (end == content.size()) break;
  }
}

[[noreturn]] void Fail(const std::string& file, int line, const std::string& message) {
  throw TableError(file + ":" + std::to_string(line) + ": " + message);
}

}  // namespace

std::string_view ThemeName(Theme theme) {
  switch (theme) {
    case Theme::Zero: return "theme 0";
    case Theme::One: return "theme 1";
    default: return "shared";
  }
}

std::string_view SectionFolder(Section section) {
  switch (section) {
    case Section::IImage: return "iimage";
    case Section::Icon: return "icon";
    default: return "rcdata";
  }
}

Argb Palette::Get(std::string_view name, Theme theme) const {
  auto it = m_colours.find(name);
  if (it == m_colours.end()) throw TableError("the palette has no colour \"" + std::string(name) + "\"");
  return it->second[static_cast<size_t>(theme)];
}

void Palette::Set(const std::string& name, Argb neutral, Argb zero, Argb one) {
  m_colours[name] = {neutral, zero, one};
}

std::string Row::Text(std::string_view key, std::string_view fallback) const {
  auto it = params.find(key);
  return it == params.end() ? std::string(fallback) : it->second;
}

int Row::Int(std::string_view key, int fallback) const {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  auto value = ParseLong(it->second);
  if (!value || *value < -100000 || *value > 100000)
    throw TableError(Where() + ": " + std::string(key) + "=" + it->second + " is not a whole number");
  return static_cast<int>(*value);
}

double Row::Real(std::string_view key, double fallback) const {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  std::istringstream in(it->second);
  double value = 0;
  char rest = 0;
  if (!(in >> value) || (in >> rest))
    throw TableError(Where() + ": " + std::string(key) + "=" + it->second + " is not a number");
  return value;
}

std::vector<uint16_t> ParseIdList(std::string_view text) {
  std::vector<uint16_t> ids;
  size_t pos = 0;
  while (true) {
    size_t comma = text.find(',', pos);
    std::string_view item = text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos);
    const size_t dash = item.find('-');
    auto first = ParseLong(item.substr(0, dash));
    auto last = dash == std::string_view::npos ? first : ParseLong(item.substr(dash + 1));
    if (!first || !last) throw TableError("\"" + std::string(item) + "\" is not an id or a range a-b");
    if (*first < 0 || *last > 65535 || *last < *first)
      throw TableError("\"" + std::string(item) + "\" is not a rising range of ids 0..65535");
    for (long id = *first; id <= *last; ++id) ids.push_back(static_cast<uint16_t>(id));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return ids;
}

std::pair<int, int> ParseSize(std::string_view text) {
  const size_t x = text.find('x');
  auto w = x == std::string_view::npos ? std::nullopt : ParseLong(text.substr(0, x));
  auto h = x == std::string_view::npos ? std::nullopt : ParseLong(text.substr(x + 1));
  if (!w || !h || *w < 1 || *h < 1 || *w > 4096 || *h > 4096)
    throw TableError("\"" + std::string(text) + "\" is not a size WxH of 1..4096 pixels");
  return {static_cast<int>(*w), static_cast<int>(*h)};
}

Argb ParseColour(std::string_view text) {
  if ((text.size() != 6 && text.size() != 8) ||
      !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    throw TableError("\"" + std::string(text) + "\" is not a colour RRGGBB or AARRGGBB");
  Argb value = static_cast<Argb>(std::stoul(std::string(text), nullptr, 16));
  return text.size() == 6 ? (0xFF000000u | value) : value;
}

Palette ReadPalette(std::string_view content, const std::string& file) {
  Palette palette;
  ForEachLine(content, [&](std::string_view line, int number) {
    const auto fields = Fields(line);
    if (fields.size() < 4 || (fields.size() > 4 && fields[4].front() != '#'))
      Fail(file, number, "expected <name> <shared> <theme 0> <theme 1> [# note]");
    if (palette.Has(fields[0])) Fail(file, number, "colour \"" + std::string(fields[0]) + "\" is named twice");
    try {
      palette.Set(std::string(fields[0]), ParseColour(fields[1]), ParseColour(fields[2]), ParseColour(fields[3]));
    } catch (const TableError& e) {
      Fail(file, number, e.what());
    }
  });
  return palette;
}

std::vector<Row> ReadTable(std::string_view content, const std::string& file) {
  std::vector<Row> rows;
  std::optional<Section> section;
  std::string group;
  ForEachLine(content, [&](std::string_view line, int number) {
    const auto fields = Fields(line);
    if (fields[0].front() == '[') {
      if (fields.size() != 1) Fail(file, number, "a section line holds only its name");
      if (fields[0] == "[rcdata]") section = Section::RcData;
      else if (fields[0] == "[iimage]") section = Section::IImage;
      else if (fields[0] == "[icon]") section = Section::Icon;
      else Fail(file, number, "unknown section " + std::string(fields[0]) + " (rcdata, iimage or icon)");
      group.clear();
      return;
    }
    if (!section) Fail(file, number, "a row before the first section line");
    if (fields.size() < 3) Fail(file, number, "expected <kind> <ids> <size> [key=value...]");
    Row row;
    row.file = file;
    row.line = number;
    row.section = *section;
    row.kind = std::string(fields[0]);
    row.group = group;
    try {
      row.ids = ParseIdList(fields[1]);
      std::tie(row.width, row.height) = ParseSize(fields[2]);
      for (size_t i = 3; i < fields.size(); ++i) {
        if (fields[i].front() == '#') break;
        const size_t eq = fields[i].find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == fields[i].size())
          Fail(file, number, "\"" + std::string(fields[i]) + "\" is not key=value");
        std::string key(fields[i].substr(0, eq));
        if (!row.params.emplace(key, std::string(fields[i].substr(eq + 1))).second)
          Fail(file, number, "parameter " + key + " given twice");
      }
      if (row.Has("theme")) {
        const std::string theme = row.Text("theme");
        if (theme == "0") row.theme = Theme::Zero;
        else if (theme == "1") row.theme = Theme::One;
        else Fail(file, number, "theme must be 0 or 1 (leave it out for shared pictures)");
      }
      if (row.Has("opaque")) {
        for (uint16_t id : ParseIdList(row.Text("opaque"))) {
          if (std::find(row.ids.begin(), row.ids.end(), id) == row.ids.end())
            Fail(file, number, "opaque id " + std::to_string(id) + " is not one of the row's ids");
          row.opaque.insert(id);
        }
      }
    } catch (const TableError& e) {
      if (std::string_view(e.what()).find(file + ":") == 0) throw;
      Fail(file, number, e.what());
    }
    rows.push_back(std::move(row));
  }, [&](std::string_view heading) { group = std::string(heading); });
  return rows;
}

Tables ReadTables(const fs::path& folder) {
  auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TableError(path.string() + ": cannot read");
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  };
  Tables tables;
  const fs::path palette = folder / "palette.tsv";
  tables.palette = ReadPalette(read(palette), palette.string());
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".tsv" && it->path().filename() != "palette.tsv") files.push_back(it->path());
  if (ec) throw TableError(folder.string() + ": cannot list the folder: " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    auto rows = ReadTable(read(file), file.filename().string());
    tables.rows.insert(tables.rows.end(), std::make_move_iterator(rows.begin()),
                       std::make_move_iterator(rows.end()));
  }
  return tables;
}

}  // namespace artgen
