// A private folder for a fuzz target's files, made once and removed at exit;
// in memory where the system offers it, since a target writes (and syncs)
// its files for every input.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzsupport {

inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path s_folder = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "quorel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("no scratch folder");
      std::abort();
    }
    return fs::path(pattern);
  }();
  static const bool s_bCleanup = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(s_folder, ignored);
    });
    return true;
  }();
  (void)s_bCleanup;
  return s_folder;
}

}  // namespace fuzzsupport
