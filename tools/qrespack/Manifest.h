// Readers for the resource manifests under resources/.
//
// A manifest folder holds, each part optional:
//   strings.txt       id<TAB>text          (string resources)
//   menu<ID>.txt      command<TAB>text     (one menu, items in order)
//   accel<ID>.txt     flags<TAB>key<TAB>command
//   rcdata/<ID>.<ext> raw data, resource type 10
//   iimage/<ID>.<ext> raw data, resource type "IIMAGE"
//   icon/<ID>.png     the window icon as a PNG, resource type 3 (RT_ICON)
// Names starting with '.' are ignored; anything else is an error, so a
// misspelt file never silently drops out of the pack.
//
// Text files are UTF-8 (a leading byte-order mark and CRLF line ends are
// accepted). Blank lines and lines starting with '#' are skipped. Texts take
// the escapes \n, \t and \\; every other character stands as written.
// Numbers are decimal or 0x-hexadecimal, 0..65535. Accelerator flags are a
// number or names joined by '|': VIRTKEY, NOINVERT, SHIFT, CONTROL, ALT; a
// key is a number or one printable ASCII character in single quotes ('A').
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qrespack/PackWriter.h"

namespace qrespack {

// Collects "file:line: error: message" lines; reading goes on after an error
// so that one run reports every fault it can find.
class Diagnostics {
 public:
  void Error(const std::string& file, int line, const std::string& message);
  void Error(const std::string& file, const std::string& message);
  const std::vector<std::string>& Errors() const { return m_errors; }
  bool Ok() const { return m_errors.empty(); }

 private:
  std::vector<std::string> m_errors;
};

// Each reader takes the file's contents and the name to report it under.
void ReadStrings(std::string_view content, const std::string& file, PackWriter& pack, Diagnostics& diag);
void ReadMenu(std::string_view content, const std::string& file, uint16_t menuId, PackWriter& pack,
              Diagnostics& diag);
void ReadAccelerators(std::string_view content, const std::string& file, uint16_t tableId,
                      PackWriter& pack, Diagnostics& diag);

// A source is a manifest folder or a single strings file (a language module).
void ReadSource(const std::filesystem::path& source, PackWriter& pack, Diagnostics& diag);

}  // namespace qrespack
