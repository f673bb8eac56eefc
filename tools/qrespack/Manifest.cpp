#include "tools/qrespack/Manifest.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/module/PackFormat.h"

namespace qrespack {
namespace {

namespace fs = std::filesystem;
namespace pack = plat::pack;

struct Line {
  int number = 0;
  std::string_view text;
};

// Splits into lines, dropping a byte-order mark, CR before LF, blank lines
// and comment lines.
std::vector<Line> ContentLines(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::vector<Line> lines;
  int number = 0;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    std::string_view text = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    ++number;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.find_first_not_of(" \t") == std::string_view::npos || text.front() == '#') continue;
    lines.push_back({number, text});
  }
  return lines;
}

std::vector<std::string_view> SplitTabs(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = text.find('\t', start);
    fields.push_back(text.substr(start, tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::optional<uint16_t> ParseNumber(std::string_view s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.size() > 6) return std::nullopt;
  uint32_t value = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * base + digit;
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

// Strict UTF-8 to UTF-16 with the manifest escapes. Returns an error text
// or an empty string.
std::string DecodeText(std::string_view in, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '\\') {
      if (i + 1 == in.size()) return "a backslash ends the text (write \\\\ for a backslash)";
      switch (in[i + 1]) {
        case 'n': out.push_back(u'\n'); break;
        case 't': out.push_back(u'\t'); break;
        case '\\': out.push_back(u'\\'); break;
        default: return std::string("unknown escape \\") + in[i + 1];
      }
      i += 2;
      continue;
    }
    if (c < 0x20 || c == 0x7F) return "a control character in the text (use \\n or \\t)";
    char32_t cp;
    size_t extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if (c >= 0xC2 && c <= 0xDF) { cp = c & 0x1F; extra = 1; }
    else if (c >= 0xE0 && c <= 0xEF) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xF0 && c <= 0xF4) { cp = c & 0x07; extra = 3; }
    else return "malformed UTF-8";
    if (i + extra >= in.size()) return "malformed UTF-8";
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char t = static_cast<unsigned char>(in[i + k]);
      if ((t & 0xC0) != 0x80) return "malformed UTF-8";
      cp = (cp << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return "malformed UTF-8";
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return {};
}

std::optional<uint16_t> ParseFlags(std::string_view s) {
  if (auto number = ParseNumber(s)) return number;
  static constexpr std::pair<std::string_view, uint16_t> kNames[] = {
      {"VIRTKEY", pack::kAccelVirtKey}, {"NOINVERT", pack::kAccelNoInvert}, {"SHIFT", pack::kAccelShift},
      {"CONTROL", pack::kAccelControl}, {"ALT", pack::kAccelAlt}};
  uint16_t flags = 0;
  for (;;) {
    const size_t bar = s.find('|');
    const std::string_view name = s.substr(0, bar);
    auto it = std::find_if(std::begin(kNames), std::end(kNames), [&](auto& n) { return n.first == name; });
    if (it == std::end(kNames)) return std::nullopt;
    flags |= it->second;
    if (bar == std::string_view::npos) return flags;
    s.remove_prefix(bar + 1);
  }
}

std::optional<uint16_t> ParseKey(std::string_view s) {
  if (s.size() == 3 && s[0] == '\'' && s[2] == '\'' && s[1] >= 0x20 && s[1] < 0x7F)
    return static_cast<uint16_t>(s[1]);
  return ParseNumber(s);
}

bool ReadFile(const fs::path& path, std::string& content, Diagnostics& diag) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  if (in) buffer << in.rdbuf();
  if (!in || in.bad()) {
    diag.Error(path.string(), "cannot read the file");
    return false;
  }
  content = std::move(buffer).str();
  return true;
}

// "menu102.txt" with prefix "menu" gives 102.
std::optional<uint16_t> IdFromName(const std::string& name, std::string_view prefix) {
  if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - 4, 4, ".txt") != 0)
    return std::nullopt;
  const std::string_view digits = std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 4);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return ParseNumber(digits);
}

std::vector<fs::directory_entry> SortedEntries(const fs::path& folder, Diagnostics& diag) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().front() != '.') entries.push_back(*it);
  if (ec) diag.Error(folder.string(), "cannot list the folder: " + ec.message());
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  return entries;
}

// The window icon: RT_ICON's number, holding a PNG picture.
constexpr uint16_t kTypeIcon = 3;

// rcdata/<id>.<ext> and the like: every file is one resource of `type`.
void ReadRawFolder(const fs::path& folder, const TypeKey& type, PackWriter& pack, Diagnostics& diag) {
  for (const fs::directory_entry& entry : SortedEntries(folder, diag)) {
    const std::string file = entry.path().string();
    const std::string stem = entry.path().stem().string();
    const bool numeric = !stem.empty() && std::all_of(stem.begin(), stem.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
    std::optional<uint16_t> id = numeric ? ParseNumber(stem) : std::nullopt;
    if (!entry.is_regular_file() || !id) {
      diag.Error(file, "expected a file named <id>.<extension> with an id from 0 to 65535");
      continue;
    }
    std::string content;
    if (!ReadFile(entry.path(), content, diag)) continue;
    std::string error;
    if (!pack.AddRaw(type, *id, std::vector<uint8_t>(content.begin(), content.end()), file, error))
      diag.Error(file, error);
  }
}

void ReadFolder(const fs::path& folder, PackWriter& pack, Diagnostics& diag) {
  for (const fs::directory_entry& entry : SortedEntries(folder, diag)) {
    const std::string name = entry.path().filename().string();
    const std::string file = entry.path().string();
    if (entry.is_directory()) {
      if (name == "rcdata") ReadRawFolder(entry.path(), {pack::kTypeRcData, {}}, pack, diag);
      else if (name == "iimage") ReadRawFolder(entry.path(), {0, u"IIMAGE"}, pack, diag);
      else if (name == "icon") ReadRawFolder(entry.path(), {kTypeIcon, {}}, pack, diag);
      else diag.Error(file, "unknown resource folder (expected rcdata, iimage or icon)");
      continue;
    }
    std::string content;
    if (name == "strings.txt") {
      if (ReadFile(entry.path(), content, diag)) ReadStrings(content, file, pack, diag);
    } else if (auto menu = IdFromName(name, "menu")) {
      if (ReadFile(entry.path(), content, diag)) ReadMenu(content, file, *menu, pack, diag);
    } else if (auto accel = IdFromName(name, "accel")) {
      if (ReadFile(entry.path(), content, diag)) ReadAccelerators(content, file, *accel, pack, diag);
    } else {
      diag.Error(file, "unknown manifest file (expected strings.txt, menu<id>.txt or accel<id>.txt)");
    }
  }
}

}  // namespace

void Diagnostics::Error(const std::string& file, int line, const std::string& message) {
  m_errors.push_back(file + ":" + std::to_string(line) + ": error: " + message);
}

void Diagnostics::Error(const std::string& file, const std::string& message) {
  m_errors.push_back(file + ": error: " + message);
}

void ReadStrings(std::string_view content, const std::string& file, PackWriter& pack, Diagnostics& diag) {
  for (const Line& line : ContentLines(content)) {
    const size_t tab = line.text.find('\t');
    if (tab == std::string_view::npos) {
      diag.Error(file, line.number, "expected <id><TAB><text>");
      continue;
    }
    const auto id = ParseNumber(line.text.substr(0, tab));
    if (!id) {
      diag.Error(file, line.number, "the id must be a number from 0 to 65535");
      continue;
    }
    std::u16string text;
    if (std::string problem = DecodeText(line.text.substr(tab + 1), text); !problem.empty()) {
      diag.Error(file, line.number, problem);
      continue;
    }
    std::string error;
    if (!pack.AddString(*id, text, file + ":" + std::to_string(line.number), error))
      diag.Error(file, line.number, error);
  }
}

void ReadMenu(std::string_view content, const std::string& file, uint16_t menuId, PackWriter& pack,
              Diagnostics& diag) {
  std::vector<MenuEntry> items;
  const size_t before = diag.Errors().size();
  for (const Line& line : ContentLines(content)) {
    const size_t tab = line.text.find('\t');
    const auto command = ParseNumber(line.text.substr(0, tab));
    if (!command) {
      diag.Error(file, line.number, "expected <command><TAB><text> with a command from 0 to 65535");
      continue;
    }
    MenuEntry item{*command, {}};
    if (tab != std::string_view::npos) {
      if (std::string problem = DecodeText(line.text.substr(tab + 1), item.text); !problem.empty()) {
        diag.Error(file, line.number, problem);
        continue;
      }
    }
    items.push_back(std::move(item));
  }
  std::string error;
  if (diag.Errors().size() == before && !pack.AddMenu(menuId, items, file, error)) diag.Error(file, error);
}

void ReadAccelerators(std::string_view content, const std::string& file, uint16_t tableId,
                      PackWriter& pack, Diagnostics& diag) {
  std::vector<Accel> entries;
  const size_t before = diag.Errors().size();
  for (const Line& line : ContentLines(content)) {
    const std::vector<std::string_view> fields = SplitTabs(line.text);
    if (fields.size() != 3) {
      diag.Error(file, line.number, "expected <flags><TAB><key><TAB><command>");
      continue;
    }
    const auto flags = ParseFlags(fields[0]);
    const auto key = ParseKey(fields[1]);
    const auto command = ParseNumber(fields[2]);
    if (!flags || (*flags & ~pack::kAccelKnownFlags))
      diag.Error(file, line.number, "unknown flags \"" + std::string(fields[0]) + "\"");
    else if (!key)
      diag.Error(file, line.number, "the key must be a number from 0 to 65535 or a quoted character");
    else if (!command)
      diag.Error(file, line.number, "the command must be a number from 0 to 65535");
    else
      entries.push_back({*flags, *key, *command});
  }
  std::string error;
  if (diag.Errors().size() == before && !pack.AddAccelerators(tableId, entries, file, error))
    diag.Error(file, error);
}

void ReadSource(const fs::path& source, PackWriter& pack, Diagnostics& diag) {
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (fs::is_directory(status)) {
    ReadFolder(source, pack, diag);
  } else if (fs::is_regular_file(status) && source.extension() == ".txt") {
    std::string content;
    if (ReadFile(source, content, diag)) ReadStrings(content, source.string(), pack, diag);
  } else if (fs::exists(status)) {
    diag.Error(source.string(), "a source must be a manifest folder or a strings file (.txt)");
  } else {
    diag.Error(source.string(), "no such file or folder");
  }
}

}  // namespace qrespack
