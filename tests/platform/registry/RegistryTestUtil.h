#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace rt {

using Bytes = std::vector<uint8_t>;

// UTF-16LE bytes of `text`, with or without a terminator.
inline Bytes Utf16(plat::WStringView text, bool terminate = true) {
  Bytes out;
  for (char16_t c : text) out.insert(out.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::stringstream ss;
  ss << std::ifstream(p, std::ios::binary).rdbuf();
  return ss.str();
}

inline void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// Every test starts from an empty memory-only registry, with the debug output
// captured and a private folder for hive files.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetRegistryForTests();
    m_previousSink = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_lines.push_back(plat::ToUtf8(text));
    });
    std::string pattern = (std::filesystem::temp_directory_path() / "quorel-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }

  void TearDown() override {
    plat::ResetRegistryForTests();
    plat::SetDebugSink(std::move(m_previousSink));
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }

  // File-backed registry over the test's folder; drops what memory holds, so
  // the next call loads the files again.
  void UseFolder(std::filesystem::path defaultsFile = {}, std::string defaultsText = {}) {
    plat::ConfigureRegistry({m_dir, std::move(defaultsFile), std::move(defaultsText)});
  }

  // Debug lines that contain every one of `parts`.
  size_t CountLines(std::initializer_list<std::string> parts) {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const std::string& line : m_lines) {
      bool all = true;
      for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
      n += all;
    }
    return n;
  }

  std::filesystem::path m_dir;

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
  plat::DebugSink m_previousSink;
};

}  // namespace rt
