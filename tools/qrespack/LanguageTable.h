// Language modules: the table of string resources a module may carry, and the
// completion of a translation from the English master.
//
// The table is the translators' notes file (resources/lang/notes.tsv): one
// row per resource, tab-separated, the resource id first and its kind third;
// kind "unused" marks a resource no screen shows. Blank lines and lines
// starting with '#' are skipped; further columns are for people.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qrespack/Manifest.h"
#include "tools/qrespack/PackWriter.h"

namespace qrespack {

struct LanguageTable {
  std::set<uint16_t> used;    // every module must show a text for these
  std::set<uint16_t> unused;  // allowed in a module, never shown

  bool Contains(uint16_t id) const { return used.count(id) || unused.count(id); }
};

void ReadLanguageTable(std::string_view content, const std::string& file, LanguageTable& table,
                       Diagnostics& diag);

// Every string of `pack` must be in the table (an error names the line it
// came from). When `english` is given it must hold a non-empty text for every
// used id; each used id that `pack` lacks or leaves empty then gets the
// English text. Returns the ids filled, in order.
std::vector<uint16_t> CompleteLanguageModule(const LanguageTable& table, const PackWriter* english,
                                             const std::string& englishFile, PackWriter& pack,
                                             Diagnostics& diag);

}  // namespace qrespack
