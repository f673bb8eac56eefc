// qrespack: builds a resource pack from manifest folders and strings files.
//
//   qrespack -o <pack> <source>...
//
// Sources are merged; the same resource from two places is an error. On any
// error nothing is written (an older pack at the output path is removed, so
// a failed build never leaves a stale pack beside the program).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/qrespack/Manifest.h"
#include "tools/qrespack/PackWriter.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: qrespack -o <pack> <source>...\n"
               "  a source is a manifest folder or a strings file (<name>.txt)\n");
  return 2;
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
  fs::path out;
  std::vector<fs::path> sources;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (!arg.empty() && arg[0] == '-') return Usage();
    else sources.emplace_back(arg);
  }
  if (out.empty() || sources.empty()) return Usage();

  qrespack::PackWriter pack;
  qrespack::Diagnostics diag;
  for (const fs::path& source : sources) qrespack::ReadSource(source, pack, diag);

  std::vector<uint8_t> bytes;
  std::string error;
  if (diag.Ok() && pack.Serialize(bytes, error) && WriteAtomically(out, bytes, error)) return 0;

  for (const std::string& line : diag.Errors()) std::fprintf(stderr, "%s\n", line.c_str());
  if (!error.empty()) std::fprintf(stderr, "%s: error: %s\n", out.string().c_str(), error.c_str());
  std::error_code ec;
  fs::remove(out, ec);
  return 1;
}
