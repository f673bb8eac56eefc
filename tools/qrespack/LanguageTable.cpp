#include "tools/qrespack/LanguageTable.h"

#include "platform/module/PackFormat.h"

namespace qrespack {
namespace {

const TypeKey kString{plat::pack::kTypeString, {}};

// The numbers of the ids, joined by ", ".
std::string Join(const std::vector<uint16_t>& ids) {
  std::string out;
  for (uint16_t id : ids) out += (out.empty() ? "" : ", ") + std::to_string(id);
  return out;
}

std::string_view Field(std::string_view line, size_t index) {
  for (size_t i = 0; i < index; ++i) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return {};
    line.remove_prefix(tab + 1);
  }
  return line.substr(0, line.find('\t'));
}

}  // namespace

void ReadLanguageTable(std::string_view content, const std::string& file, LanguageTable& table,
                       Diagnostics& diag) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  int number = 0;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') continue;

    const std::string_view idText = Field(line, 0);
    const std::string_view kind = Field(line, 2);
    uint32_t id = 0;
    bool digits = !idText.empty() && idText.size() <= 5;
    for (char c : idText) {
      if (c < '0' || c > '9') digits = false;
      else id = id * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!digits || id > 0xFFFF) {
      diag.Error(file, number, "expected a resource id from 0 to 65535 in the first column");
      continue;
    }
    if (kind.empty()) {
      diag.Error(file, number, "expected the kind in the third column");
      continue;
    }
    const uint16_t resource = static_cast<uint16_t>(id);
    if (table.Contains(resource)) {
      diag.Error(file, number, "resource " + std::to_string(resource) + " is listed twice");
      continue;
    }
    (kind == "unused" ? table.unused : table.used).insert(resource);
  }
  if (table.used.empty() && table.unused.empty()) diag.Error(file, "the language table lists no resources");
}

std::vector<uint16_t> CompleteLanguageModule(const LanguageTable& table, const PackWriter* english,
                                             const std::string& englishFile, PackWriter& pack,
                                             Diagnostics& diag) {
  for (uint16_t id : pack.StringIds())
    if (!table.Contains(id))
      diag.Error(pack.Origin(kString, id), "string " + std::to_string(id) + " is not in the language table");
  if (!english) return {};

  std::vector<uint16_t> noEnglish;
  for (uint16_t id : table.used) {
    const auto text = english->String(id);
    if (!text || text->empty()) noEnglish.push_back(id);
  }
  if (!noEnglish.empty()) {
    const char* noun = noEnglish.size() == 1 ? "string " : "strings ";
    diag.Error(englishFile, std::string("no English text for used ") + noun + Join(noEnglish));
    return {};
  }

  std::vector<uint16_t> filled;
  for (uint16_t id : table.used) {
    const auto text = pack.String(id);
    if (text && !text->empty()) continue;
    std::string error;
    if (!pack.PutString(id, *english->String(id), english->Origin(kString, id), error))
      diag.Error(englishFile, error);
    else
      filled.push_back(id);
  }
  return filled;
}

}  // namespace qrespack
