// Fuzz target for the hive reader: any bytes as HKCU.reg load into a hive
// (every line it cannot take reported), the first rewrite keeps the original
// aside exactly when the rewrite would change its text, and what is saved
// reloads cleanly into the same hive.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"
#include "support/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> g_lines;  // the registry's debug output for this input

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "hive fuzz invariant broken: %s\n", what);
  for (const std::string& line : g_lines) std::fprintf(stderr, "  %s", line.c_str());
  std::abort();
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool s_bReady = [] {
    plat::SetDebugSink([](plat::WStringView text) { g_lines.push_back(plat::ToUtf8(text)); });
    return true;
  }();
  (void)s_bReady;
  const fs::path& folder = fuzzsupport::ScratchFolder();
  const fs::path hive = folder / "HKCU.reg", kept = folder / "HKCU.reg.bak";
  std::error_code ec;
  fs::remove(kept, ec);
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::ofstream(hive, std::ios::binary | std::ios::trunc) << input;
  g_lines.clear();

  plat::ConfigureRegistry({folder, {}, {}});
  const std::string loaded = plat::DumpRegistry(plat::HKEY_CURRENT_USER, false);
  for (const std::string& line : g_lines)
    Check(line.find("line skipped") != std::string::npos || line.find("skipped with its values") != std::string::npos,
          "every message while loading reports a line");

  // Two saves: the first may keep the original, the second never again.
  const long written = plat::WriteDword(plat::HKEY_CURRENT_USER, u"FuzzProbe", u"probe", 1);
  if (written != plat::ERROR_SUCCESS) std::fprintf(stderr, "write: %ld\n", written);
  Check(written == plat::ERROR_SUCCESS, "a write fails");
  plat::HKEY key = nullptr;
  Check(plat::RegOpenKeyEx(plat::HKEY_CURRENT_USER, u"FuzzProbe", plat::KEY_ALL_ACCESS, &key) == plat::ERROR_SUCCESS,
        "the written key is missing");
  Check(plat::RegDeleteValue(key, u"probe") == plat::ERROR_SUCCESS, "a delete fails");
  plat::RegCloseKey(key);
  const std::string saved = ReadText(hive);
  Check(saved == plat::DumpRegistry(plat::HKEY_CURRENT_USER, false), "the file is not the hive");
  const bool bChanged = !input.empty() && input != loaded;
  Check(fs::exists(kept) == bChanged, "the original is kept unless the rewrite leaves it as it was");
  if (bChanged) Check(ReadText(kept) == input, "the kept original differs from the input");

  g_lines.clear();
  plat::ConfigureRegistry({folder, {}, {}});
  Check(plat::DumpRegistry(plat::HKEY_CURRENT_USER, false) == saved, "the saved hive reloads differently");
  Check(g_lines.empty(), "the saved hive has bad lines");
  plat::ResetRegistryForTests();
  return 0;
}
