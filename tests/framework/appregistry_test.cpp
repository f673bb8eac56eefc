#include "framework/AppRegistry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr plat::WChar kKey[] = u"SOFTWARE\\Orlamet\\Quorel";

Bytes Utf16(plat::WStringView text, bool bTerminate) {
  Bytes out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (bTerminate) out.insert(out.end(), {0, 0});
  return out;
}

// Stores raw bytes under the application's key, behind the store's back (a
// hand-edited hive, another writer).
void PutRaw(plat::WStringView name, uint32_t type, const Bytes& bytes) {
  plat::HKEY hKey = nullptr;
  ASSERT_EQ(plat::RegCreateKeyEx(plat::HKEY_CURRENT_USER, kKey, 0, &hKey), 0);
  ASSERT_EQ(plat::RegSetValueEx(hKey, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  plat::RegCloseKey(hKey);
}

Bytes GetRaw(plat::WStringView name, uint32_t* pType) {
  plat::HKEY hKey = nullptr;
  Bytes data;
  EXPECT_EQ(plat::RegOpenKeyEx(plat::HKEY_CURRENT_USER, kKey, 0, &hKey), 0);
  EXPECT_EQ(plat::RegQueryValueCopy(hKey, name, pType, data), 0);
  plat::RegCloseKey(hKey);
  return data;
}

class AppRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetRegistryForTests();
    std::string pattern = (std::filesystem::temp_directory_path() / "quorel-appreg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    plat::ConfigureRegistry({m_dir, {}, {}});
    ASSERT_EQ(RegOpenAppKey(), 0);
  }
  void TearDown() override {
    RegCloseAppKey();
    plat::ResetRegistryForTests();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  std::filesystem::path m_dir;
};

TEST_F(AppRegistry, WritesTypedValuesUnderTheApplicationKey) {
  ASSERT_EQ(RegSetAppString(u"app_language", u"abc"), 0);
  uint32_t nType = 0;
  EXPECT_EQ(GetRaw(u"app_language", &nType), Utf16(u"abc", true));  // 8 bytes
  EXPECT_EQ(nType, plat::REG_SZ);
  EXPECT_EQ(plat::ReadString(plat::HKEY_CURRENT_USER, kKey, u"app_language"), u"abc");

  ASSERT_EQ(RegSetAppDword(u"maximum_search_length", 0x1234ABCD), 0);
  EXPECT_EQ(GetRaw(u"maximum_search_length", &nType), (Bytes{0xCD, 0xAB, 0x34, 0x12}));
  EXPECT_EQ(nType, plat::REG_DWORD);
  EXPECT_EQ(RegGetAppDword(u"maximum_search_length"), 0x1234ABCDu);

  const Bytes guid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ASSERT_EQ(RegSetAppBinary(u"quorelGUID", guid.data(), 16), 0);
  EXPECT_EQ(GetRaw(u"quorelGUID", &nType), guid);
  EXPECT_EQ(nType, plat::REG_BINARY);

  ASSERT_EQ(RegSetAppString(u"empty", u""), 0);
  EXPECT_EQ(GetRaw(u"empty", &nType), (Bytes{0, 0}));

  // Opening again keeps working on the same key.
  EXPECT_EQ(RegOpenAppKey(), 0);
  EXPECT_EQ(RegGetAppDword(u"maximum_search_length"), 0x1234ABCDu);
}

TEST_F(AppRegistry, DwordReads) {
  EXPECT_EQ(RegGetAppDword(u"isAMG"), 0u);
  EXPECT_FALSE(RegAppValueExists(u"isAMG"));
  RegSetAppDword(u"isAMG", 0);
  EXPECT_TRUE(RegAppValueExists(u"isAMG"));  // present and 0 is not absent
  EXPECT_EQ(RegGetAppDword(u"isAMG"), 0u);
  // Values that are not a 4-byte DWORD read as 0.
  PutRaw(u"text", plat::REG_SZ, Utf16(u"7", true));
  PutRaw(u"short", plat::REG_DWORD, Bytes{7, 0});
  PutRaw(u"binary", plat::REG_BINARY, Bytes{7, 0, 0, 0});
  EXPECT_EQ(RegGetAppDword(u"text"), 0u);
  EXPECT_EQ(RegGetAppDword(u"short"), 0u);
  EXPECT_EQ(RegGetAppDword(u"binary"), 0u);
}

TEST_F(AppRegistry, StringReadsOfOddAndForeignValues) {
  struct TCase {
    const char* what;
    uint32_t type;
    Bytes bytes;
    long expectedCode;
    plat::WString expected;
  };
  Bytes odd = Utf16(u"abc", false);
  odd.push_back('d');  // 7 bytes
  const std::vector<TCase> cases = {
      {"terminated", plat::REG_SZ, Utf16(u"http://a.b/x", true), 0, u"http://a.b/x"},
      {"no terminator", plat::REG_SZ, Utf16(u"abcd", false), 0, u"abcd"},
      {"odd size", plat::REG_SZ, odd, 0, u"abc"},
      {"empty value", plat::REG_SZ, Bytes{}, 0, u""},
      {"one byte", plat::REG_SZ, Bytes{'x'}, 0, u""},
      {"just a terminator", plat::REG_SZ, Bytes{0, 0}, 0, u""},
      {"embedded NUL", plat::REG_SZ, Utf16(plat::WString(u"ab\0cd", 5), true), 0, u"ab"},
      {"a DWORD", plat::REG_DWORD, Bytes{1, 0, 0, 0}, plat::ERROR_INVALID_DATA, u""},
      {"binary", plat::REG_BINARY, Utf16(u"abc", true), plat::ERROR_INVALID_DATA, u""},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    PutRaw(u"value", tc.type, tc.bytes);
    plat::WString out = u"left over";
    EXPECT_EQ(RegGetAppString(u"value", out), tc.expectedCode);
    EXPECT_EQ(out, tc.expected);
  }
  plat::WString out = u"left over";
  EXPECT_EQ(RegGetAppString(u"missing", out), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(out, u"");
}

TEST_F(AppRegistry, ClosedKeyFailsCleanly) {
  RegSetAppString(u"url", u"http://x");
  RegCloseAppKey();
  RegCloseAppKey();  // twice is harmless
  plat::WString out = u"left over";
  EXPECT_NE(RegGetAppString(u"url", out), 0);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(RegGetAppDword(u"url"), 0u);
  EXPECT_FALSE(RegAppValueExists(u"url"));
  EXPECT_NE(RegSetAppDword(u"x", 1), 0);
  ASSERT_EQ(RegOpenAppKey(), 0);
  EXPECT_EQ(RegGetAppString(u"url", out), 0);
  EXPECT_EQ(out, u"http://x");
  EXPECT_FALSE(RegAppValueExists(u"x"));  // the failed write left nothing
}

TEST_F(AppRegistry, ValuesPersistAcrossAReopen) {
  ASSERT_EQ(RegSetAppString(u"app_language", u"Fran\u00e7ais"), 0);
  ASSERT_EQ(RegSetAppDword(u"quorelGUIDType", 3), 0);
  RegCloseAppKey();
  plat::ConfigureRegistry({m_dir, {}, {}});  // memory dropped, hive read again
  ASSERT_EQ(RegOpenAppKey(), 0);
  plat::WString out;
  EXPECT_EQ(RegGetAppString(u"app_language", out), 0);
  EXPECT_EQ(out, u"Fran\u00e7ais");
  EXPECT_EQ(RegGetAppDword(u"quorelGUIDType"), 3u);
}

TEST_F(AppRegistry, ReadsWhileAnotherThreadWrites) {
  // The worker reads while the UI rewrites the value with texts of different
  // lengths: every read is one whole text, never a mix or a cut.
  RegCloseAppKey();
  plat::ConfigureRegistry({});  // memory only: no disk in the loop
  ASSERT_EQ(RegOpenAppKey(), 0);
  const plat::WString shortText = u"http://s";
  const plat::WString longText = u"http://a-much-longer-host.example/path?with=query";
  RegSetAppString(u"url", shortText);
  std::atomic<bool> bStop{false};
  std::atomic<int> nBad{0};
  std::thread reader([&] {
    plat::WString out;
    while (!bStop) {
      if (RegGetAppString(u"url", out) != 0 || (out != shortText && out != longText)) ++nBad;
    }
  });
  for (int i = 0; i < 300; ++i) RegSetAppString(u"url", i % 2 ? shortText : longText);
  bStop = true;
  reader.join();
  EXPECT_EQ(nBad, 0);
}

}  // namespace
