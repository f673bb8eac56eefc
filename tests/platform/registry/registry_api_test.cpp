// The Win32-shaped calls: keys, values, result codes and the size protocol.
#include <gtest/gtest.h>

#include "RegistryTestUtil.h"

using namespace plat;
using rt::Bytes;
using rt::Utf16;

namespace {

class RegistryApi : public rt::RegistryTest {
 protected:
  long Set(HKEY key, WStringView name, uint32_t type, const Bytes& data) {
    return RegSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  // Type and bytes through the two-step size protocol, as the program reads.
  std::pair<uint32_t, Bytes> Query(HKEY key, WStringView name) {
    uint32_t type = 0xEE, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, name, &type, nullptr, &size), ERROR_SUCCESS);
    Bytes data(size);
    EXPECT_EQ(RegQueryValueEx(key, name, &type, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, data.size());
    return {type, data};
  }
};

TEST_F(RegistryApi, TypesRoundTripUnderTheSizeProtocol) {
  HKEY key = nullptr;
  uint32_t disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", 0x2001F, &key, &disposition), 0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const Bytes url = Utf16(u"http://h\u00e9st/x");
  const Bytes guid = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0, 1, 2, 3, 4, 5, 6, 0xFF};
  ASSERT_EQ(Set(key, u"url", REG_SZ, url), ERROR_SUCCESS);
  ASSERT_EQ(Set(key, u"guid", REG_BINARY, guid), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"len", 0x1234561e), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"abc", u"abc"), ERROR_SUCCESS);

  EXPECT_EQ(Query(key, u"url"), std::make_pair(REG_SZ, url));
  EXPECT_EQ(Query(key, u"guid"), std::make_pair(REG_BINARY, guid));
  EXPECT_EQ(Query(key, u"len"), std::make_pair(REG_DWORD, Bytes{0x1e, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Query(key, u"abc").second.size(), 8u) << "a 3-character string is (3 + 1) * 2 bytes";
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"url"), u"http://h\u00e9st/x");
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"guid"), guid);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Orlamet\\Quorel", u"len"), std::nullopt) << "other hive";

  // Too small a buffer, zero included: 234, the needed size and the type, and
  // the buffer untouched. A larger one gets the actual size.
  for (uint32_t small : {0u, 1u, static_cast<uint32_t>(url.size() - 1)}) {
    Bytes buf(40, 0xAB);
    uint32_t type = 0, size = small;
    EXPECT_EQ(RegQueryValueEx(key, u"url", &type, buf.data(), &size), ERROR_MORE_DATA) << small;
    EXPECT_EQ(size, url.size());
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buf, Bytes(40, 0xAB));
  }
  Bytes buf(40, 0xAB);
  uint32_t size = 40;
  EXPECT_EQ(RegQueryValueEx(key, u"guid", nullptr, buf.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(buf[16], 0xAB);
  EXPECT_EQ(RegQueryValueEx(key, u"missing", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, u"url", nullptr, buf.data(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueEx(key, u"x", REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);

  Bytes copy{9};
  uint32_t type = 0;
  EXPECT_EQ(RegQueryValueCopy(key, u"guid", &type, copy), ERROR_SUCCESS);
  EXPECT_EQ(std::make_pair(type, copy), std::make_pair(REG_BINARY, guid));
  EXPECT_EQ(RegQueryValueCopy(key, u"missing", &type, copy), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(copy.empty());

  // Overwrite with another type, delete, and the neighbours stay.
  ASSERT_EQ(Set(key, u"url", REG_DWORD, Bytes{1, 0, 0, 0}), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"url"), std::nullopt);
  EXPECT_EQ(RegDeleteValue(key, u"url"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, u"url"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"len"), 0x1234561eu);

  // Keys: missing, made on the way, stale handles, reset.
  HKEY other = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\nope", KEY_READ, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other, nullptr);
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet", KEY_READ, &other), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueEx(key, u"len", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Set(key, u"len", REG_DWORD, Bytes{0, 0, 0, 0}), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReadDword(other, u"Quorel", u"len"), 0x1234561eu) << "an open key as the root";
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  ResetRegistryForTests();
  EXPECT_EQ(RegQueryValueEx(other, u"", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"len"), std::nullopt);
}

TEST_F(RegistryApi, NamesIgnoreCaseKeepTheirSpellingAndTolerateLeadingBackslash) {
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState", 1), ERROR_SUCCESS);
  for (WStringView path : {u"ControlPanel\\MotionSensor", u"\\\\controlpanel\\MOTIONSENSOR", u"CONTROLPANEL\\motionsensor\\"})
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, path, u"slidestate"), 1u) << ToUtf8(path);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"\u00c9t\u00e9", u"\u00c0", 7), ERROR_SUCCESS);  // Latin-1 folds too
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"\u00e9T\u00c9", u"\u00e0"), 7u);

  // A second spelling neither renames nor duplicates; the empty name is the
  // key's own default value.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"controlpanel\\motionsensor", u"SLIDESTATE", 0), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"", u"dflt"), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u""), u"dflt");
  std::string dump = DumpRegistry(HKEY_CURRENT_USER);
  EXPECT_NE(dump.find("[HKEY_CURRENT_USER\\ControlPanel\\MotionSensor]\n\"SlideState\"=dword:00000000\n@=\"dflt\"\n"),
            std::string::npos)
      << dump;
  EXPECT_EQ(dump.find("motionsensor"), std::string::npos) << dump;

  // Names that could not be stored are refused, and nothing is created.
  HKEY bad = nullptr;
  const WStringView badPaths[] = {u"a\\\\b", u"a\\\\", u"a\nb", WStringView(u"a\0b", 3), u"\xD800x"};
  for (WStringView path : badPaths)
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &bad), ERROR_INVALID_PARAMETER)
        << ToUtf8(path);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, WString(256, u'k'), KEY_ALL_ACCESS, &bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"a", KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"ok", u"line\nbreak", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"ok", u"\xDC00", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(0x1234), u"", KEY_READ, &bad), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, TypedReadersRefuseOtherTypesAndCopeWithMalformedStrings) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Ident", KEY_READ, &key), ERROR_SUCCESS);
  const std::pair<Bytes, WString> cases[] = {
      {Utf16(u"QT-M5180"), u"QT-M5180"},
      {Utf16(u"abc", false), u"abc"},         // no terminator
      {Bytes{'a', 0, 'b', 0, 'c'}, u"ab"},    // odd size: the half unit is dropped
      {Bytes{'a', 0, 0, 0, 'b', 0}, u"a"},    // stops at the first NUL
      {Bytes{}, u""},
      {Bytes{'a'}, u""},
      {Utf16(u"\U0001F600"), u"\U0001F600"},
  };
  for (const auto& [data, text] : cases) {
    ASSERT_EQ(Set(key, u"OrigName", REG_SZ, data), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), text);
    EXPECT_EQ(Query(key, u"OrigName").second, data) << "stored exactly: readers cope, the store does not repair";
  }

  ASSERT_EQ(Set(key, u"v", REG_BINARY, Bytes{1, 0, 0, 0}), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  EXPECT_EQ(ShellReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), 0u);
  ASSERT_EQ(Set(key, u"v", REG_DWORD, Bytes{1, 0, 0}), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt) << "a DWORD is exactly 4 bytes";
  ASSERT_EQ(Set(key, u"v", REG_DWORD, Bytes{2, 0, 0, 0x80}), ERROR_SUCCESS);
  EXPECT_EQ(ShellReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), 0x80000002u);
  EXPECT_EQ(ReadBinary(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  EXPECT_EQ(ShellReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
}

}  // namespace
