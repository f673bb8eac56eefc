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
#include "platform/registry/Registry.h"

namespace rt {

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

// UTF-16LE bytes of `text`, with or without a terminator.
inline std::vector<uint8_t> Utf16Bytes(plat::WStringView text, bool terminate = true) {
  std::vector<uint8_t> out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
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

  // File-backed registry over the test's folder, with optional defaults.
  void UseFolder(std::filesystem::path defaultsFile = {}, std::string defaultsText = {}) {
    plat::ConfigureRegistry({m_dir, std::move(defaultsFile), std::move(defaultsText)});
  }

  std::filesystem::path Hkcu() const { return m_dir / "HKCU.reg"; }
  std::filesystem::path Hklm() const { return m_dir / "HKLM.reg"; }

  std::vector<std::string> DebugLines() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }
  // Debug lines that contain every one of `parts`.
  size_t CountLines(std::initializer_list<std::string> parts) {
    size_t n = 0;
    for (const std::string& line : DebugLines()) {
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
