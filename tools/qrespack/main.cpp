// qrespack: builds a resource pack from manifest folders and strings files.
//
//   qrespack -o <pack> [--table <notes.tsv> [--english <strings.txt>]] <source>...
//
// Sources are merged; the same resource from two places is an error. A
// language module is packed with the language table: a string outside it is
// an error, and with the English master every used string the module lacks
// (or leaves empty) is filled from English, which must be complete. On any
// error nothing is written (an older pack at the output path is removed, so
// a failed build never leaves a stale pack beside the program).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/qrespack/LanguageTable.h"
#include "tools/qrespack/Manifest.h"
#include "tools/qrespack/PackWriter.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: qrespack -o <pack> [--table <notes.tsv> [--english <strings.txt>]] <source>...\n"
               "  a source is a manifest folder or a strings file (<name>.txt)\n"
               "  --table    the language table: every string must be listed in it\n"
               "  --english  the English master: fills the used strings a module lacks\n");
  return 2;
}

bool ReadWhole(const fs::path& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteAtomically(const fs::path& out, const std::vector<uint8_t>& bytes, std::string& error) {
  std::error_code ec;
  if (out.has_parent_path()) fs::create_directories(out.parent_path(), ec);
  const fs::path temp = out.string() + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      error = "cannot write " + temp.string();
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, out, ec);
  if (ec) {
    error = "cannot replace " + out.string() + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path out, tablePath, englishPath;
  std::vector<fs::path> sources;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (arg == "--table" && i + 1 < argc) tablePath = argv[++i];
    else if (arg == "--english" && i + 1 < argc) englishPath = argv[++i];
    else if (!arg.empty() && arg[0] == '-') return Usage();
    else sources.emplace_back(arg);
  }
  if (out.empty() || sources.empty() || (!englishPath.empty() && tablePath.empty())) return Usage();

  qrespack::PackWriter pack;
  qrespack::Diagnostics diag;
  for (const fs::path& source : sources) qrespack::ReadSource(source, pack, diag);

  std::vector<uint16_t> filled;
  if (!tablePath.empty()) {
    const size_t before = diag.Errors().size();
    qrespack::LanguageTable table;
    std::string content;
    if (ReadWhole(tablePath, content)) qrespack::ReadLanguageTable(content, tablePath.string(), table, diag);
    else diag.Error(tablePath.string(), "cannot read the language table");
    qrespack::PackWriter english;
    if (!englishPath.empty()) qrespack::ReadSource(englishPath, english, diag);
    // A broken table or master would only add confusing follow-up errors.
    if (diag.Errors().size() == before)
      filled = qrespack::CompleteLanguageModule(table, englishPath.empty() ? nullptr : &english,
                                                englishPath.string(), pack, diag);
  }

  std::vector<uint8_t> bytes;
  std::string error;
  if (diag.Ok() && pack.Serialize(bytes, error) && WriteAtomically(out, bytes, error)) {
    if (!filled.empty()) {
      // The first ids say where to look; a new, empty translation would list them all.
      constexpr size_t kListed = 20;
      std::string ids;
      for (size_t i = 0; i < filled.size() && i < kListed; ++i)
        ids += (i ? ", " : "") + std::to_string(filled[i]);
      if (filled.size() > kListed) ids += " and " + std::to_string(filled.size() - kListed) + " more";
      std::printf("qrespack: %s: filled %zu used string%s from English: %s\n",
                  out.filename().string().c_str(), filled.size(), filled.size() == 1 ? "" : "s", ids.c_str());
    }
    return 0;
  }

  for (const std::string& line : diag.Errors()) std::fprintf(stderr, "%s\n", line.c_str());
  if (!error.empty()) std::fprintf(stderr, "%s: error: %s\n", out.string().c_str(), error.c_str());
  std::error_code ec;
  fs::remove(out, ec);
  return 1;
}
