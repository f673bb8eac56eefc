// A device of its own for every test: a temporary device root, a program
// folder and one writable card, all under one temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"

namespace fstest {

namespace stdfs = std::filesystem;
using namespace plat;
constexpr uint32_t R = GENERIC_READ, W = GENERIC_WRITE, RW = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorel-fs-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    m_top = stdfs::path(templ).lexically_normal();
    m_program = m_top / "program";
    m_card = m_top / "card";
    stdfs::create_directories(m_program);
    stdfs::create_directories(m_card);
    WriteHost(m_program / "Quorel.res", "pack");
    ASSERT_TRUE(ConfigureFileSystem(BaseConfig()));
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::remove_all(m_top, ec);
  }

  FileSystemConfig BaseConfig() const {
    FileSystemConfig c;
    c.deviceRoot = m_top / "device";
    c.programFolder = m_program;
    c.cards.push_back({u"Storage Card", m_card, false});
    return c;
  }
  stdfs::path Fs() const { return m_top / "device" / "fs"; }

  static void WriteHost(const stdfs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  static std::string ReadHost(const stdfs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::set<std::string> HostNames(const stdfs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : stdfs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }

  static bool Put(WStringView path, const std::string& text) {
    Handle h = CreateFile(path, W, 0, CREATE_ALWAYS);
    uint32_t done = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, text.data(), static_cast<uint32_t>(text.size()), &done);
    return ok && CloseHandle(h) && done == text.size();
  }
  static std::string Get(WStringView path) {
    Handle h = CreateFile(path, R, SR, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
    std::string out;
    char buf[256];
    uint32_t done = 0;
    while (ReadFile(h, buf, sizeof buf, &done) && done > 0) out.append(buf, done);
    CloseHandle(h);
    return out;
  }
  // Every entry of an enumeration, checking that it ends the documented way.
  static std::vector<FindData> List(WStringView pattern) {
    std::vector<FindData> out;
    FindData d;
    Handle f = FindFirstFile(pattern, &d);
    if (f == INVALID_HANDLE_VALUE) return out;
    do out.push_back(d);
    while (FindNextFile(f, &d));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(f));
    return out;
  }
  static std::vector<WString> Names(WStringView pattern) {
    std::vector<WString> names;
    for (const FindData& d : List(pattern)) names.push_back(d.name);
    return names;
  }

  stdfs::path m_top, m_program, m_card;
};

}  // namespace fstest
