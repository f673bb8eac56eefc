// The Win32-shaped calls: keys, values, result codes and the size protocol.
#include <gtest/gtest.h>

#include "RegistryTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

using namespace plat;
using rt::Bytes;
using rt::Utf16Bytes;

namespace {

class RegistryApi : public rt::RegistryTest {
 protected:
  HKEY Create(HKEY root, WStringView sub) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(root, sub, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    return key;
  }
  long Set(HKEY key, WStringView name, uint32_t type, const std::vector<uint8_t>& data) {
    return RegSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  // Type and bytes through the two-step size protocol, as the program reads.
  std::pair<uint32_t, std::vector<uint8_t>> Query(HKEY key, WStringView name) {
    uint32_t type = 0xEE, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, name, &type, nullptr, &size), ERROR_SUCCESS);
    std::vector<uint8_t> data(size);
    EXPECT_EQ(RegQueryValueEx(key, name, &type, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, data.size());
    return {type, data};
  }
};

TEST_F(RegistryApi, EachTypeRoundTripsThroughHandlesAndHelpers) {
  HKEY key = Create(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel");
  std::vector<uint8_t> guid = Bytes({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0, 1, 2, 3, 4, 5, 6, 0xFF});
  ASSERT_EQ(Set(key, u"url", REG_SZ, Utf16Bytes(u"http://h\u00e9st/x")), ERROR_SUCCESS);
  ASSERT_EQ(Set(key, u"minimum_search_length", REG_DWORD, Bytes({0x1e, 0, 0, 0})), ERROR_SUCCESS);
  ASSERT_EQ(Set(key, u"quorelGUID", REG_BINARY, guid), ERROR_SUCCESS);

  EXPECT_EQ(Query(key, u"url"), std::make_pair(REG_SZ, Utf16Bytes(u"http://h\u00e9st/x")));
  EXPECT_EQ(Query(key, u"minimum_search_length"), std::make_pair(REG_DWORD, Bytes({0x1e, 0, 0, 0})));
  EXPECT_EQ(Query(key, u"quorelGUID"), std::make_pair(REG_BINARY, guid));

  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"url"), u"http://h\u00e9st/x");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"minimum_search_length"), 30u);
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"quorelGUID"), guid);

  // The helpers write what the handle calls read; a 3-character string is
  // (3 + 1) * 2 bytes, and a DWORD is little-endian.
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"abc"), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x12345678), ERROR_SUCCESS);
  ASSERT_EQ(WriteBinary(HKEY_LOCAL_MACHINE, u"Ident", u"Blob", {}), ERROR_SUCCESS);
  HKEY ident = nullptr, hw = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Ident", KEY_READ, &ident), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", KEY_READ, &hw), ERROR_SUCCESS);
  EXPECT_EQ(Query(ident, u"Name"), std::make_pair(REG_SZ, Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0})));
  EXPECT_EQ(Query(hw, u"Wifi"), std::make_pair(REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})));
  EXPECT_EQ(Query(ident, u"Blob"), std::make_pair(REG_BINARY, std::vector<uint8_t>{}));

  // The hives are separate.
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Ident", u"Name"), std::nullopt);

  // Overwriting may change the type; deleting removes the value only.
  ASSERT_EQ(Set(key, u"url", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"url"), std::nullopt);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"url"), 1u);
  EXPECT_EQ(RegDeleteValue(key, u"url"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, u"url"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"minimum_search_length"), 30u);

  for (HKEY k : {key, ident, hw}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryApi, SizeProtocolAndResultCodes) {
  HKEY key = Create(HKEY_CURRENT_USER, u"k");
  ASSERT_EQ(Set(key, u"s", REG_SZ, Utf16Bytes(u"hello")), ERROR_SUCCESS);  // 12 bytes

  uint32_t type = 0, size = 0;
  EXPECT_EQ(RegQueryValueEx(key, u"s", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(RegQueryValueEx(key, u"s", nullptr, nullptr, nullptr), ERROR_SUCCESS);  // exists

  // Too small, including zero: the needed size and the type come back, and the
  // buffer is not written.
  for (uint32_t small : {0u, 1u, 11u}) {
    std::vector<uint8_t> buf(16, 0xAB);
    size = small;
    type = 0;
    EXPECT_EQ(RegQueryValueEx(key, u"s", &type, buf.data(), &size), ERROR_MORE_DATA) << small;
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buf, std::vector<uint8_t>(16, 0xAB));
  }
  // Larger than needed: the actual size comes back.
  std::vector<uint8_t> buf(40, 0xAB);
  size = 40;
  EXPECT_EQ(RegQueryValueEx(key, u"s", nullptr, buf.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 12), Utf16Bytes(u"hello"));
  EXPECT_EQ(buf[12], 0xAB);

  EXPECT_EQ(RegQueryValueEx(key, u"missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, u"s", nullptr, buf.data(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueEx(key, u"x", REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueEx(key, u"x", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

  std::vector<uint8_t> copy{1, 2, 3};
  type = 0;
  EXPECT_EQ(RegQueryValueCopy(key, u"s", &type, copy), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(copy, Utf16Bytes(u"hello"));
  EXPECT_EQ(RegQueryValueCopy(key, u"missing", &type, copy), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(copy.empty());

  // Keys: open of a missing key, creation dispositions, stale handles.
  HKEY other = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"nope\\deeper", KEY_READ, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other, nullptr);
  uint32_t disposition = 0;
  HKEY again = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"k", 0x2001F, &again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"k\\a\\b", KEY_READ, &other, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"k\\a", KEY_READ, &other), ERROR_SUCCESS);  // made on the way
  EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);

  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueEx(key, u"s", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Set(key, u"s", REG_DWORD, Bytes({0, 0, 0, 0})), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyEx(key, u"a", KEY_READ, &other), ERROR_INVALID_HANDLE);
  // Another handle to the same key still works.
  EXPECT_EQ(Query(again, u"s").second, Utf16Bytes(u"hello"));
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"k", 0, nullptr), ERROR_INVALID_PARAMETER);

  // Everything is gone after a reset, handles included.
  ResetRegistryForTests();
  EXPECT_EQ(RegQueryValueEx(again, u"s", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"k", u"s"), std::nullopt);
}

TEST_F(RegistryApi, NamesIgnoreCaseKeepTheirSpellingAndTolerateLeadingBackslash) {
  HKEY sensor = Create(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor");
  ASSERT_EQ(Set(sensor, u"SlideState", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);

  // Every spelling reaches the same key and value.
  for (WStringView path : {u"ControlPanel\\MotionSensor", u"\\ControlPanel\\MotionSensor",
                           u"\\\\controlpanel\\MOTIONSENSOR", u"CONTROLPANEL\\motionsensor\\"})
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, path, u"slidestate"), 1u) << ToUtf8(path);
  HKEY via = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"\\controlpanel", KEY_READ, &via), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(via, u"\\MOTIONSENSOR", u"SLIDESTATE"), 1u);  // an open key as the root
  // Latin-1 letters fold too.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"\u00c9t\u00e9", u"\u00c0", 7), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"\u00e9T\u00c9", u"\u00e0"), 7u);

  // A second spelling neither renames nor duplicates.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"controlpanel\\motionsensor", u"SLIDESTATE", 0), ERROR_SUCCESS);
  std::string dump = DumpRegistry(HKEY_CURRENT_USER);
  EXPECT_NE(dump.find("[HKEY_CURRENT_USER\\ControlPanel\\MotionSensor]\n\"SlideState\"=dword:00000000\n"),
            std::string::npos)
      << dump;
  EXPECT_EQ(dump.find("SLIDESTATE"), std::string::npos);
  EXPECT_EQ(dump.find("motionsensor"), std::string::npos);

  // The empty name is the key's default value, distinct from the others.
  ASSERT_EQ(Set(sensor, u"", REG_SZ, Utf16Bytes(u"default")), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u""), u"default");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState"), 0u);
  // The empty sub-key is the key itself.
  HKEY self = nullptr;
  ASSERT_EQ(RegOpenKeyEx(sensor, u"", KEY_READ, &self), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(self, u"", u""), u"default");

  // Names that cannot be stored are refused, and nothing is created.
  HKEY bad = nullptr;
  const WStringView badPaths[] = {u"a\\\\b", u"a\\\\", u"a\nb", WStringView(u"a\0b", 3), u"\xD800x"};
  for (WStringView path : badPaths)
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &bad), ERROR_INVALID_PARAMETER)
        << ToUtf8(path);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, WString(256, u'k'), KEY_ALL_ACCESS, &bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"a", KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Set(sensor, u"line\nbreak", REG_DWORD, Bytes({0, 0, 0, 0})), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"ok", u"\xDC00", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(0x1234), u"", KEY_READ, &bad), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, TypedReadersRefuseOtherTypesAndCopeWithMalformedStrings) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Ident");
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    std::optional<WString> text;
  };
  const Case cases[] = {
      {"terminated", Utf16Bytes(u"QT-M5180"), u"QT-M5180"},
      {"no terminator", Utf16Bytes(u"abc", false), u"abc"},
      {"odd size cuts the last byte", Bytes({'a', 0, 'b', 0, 'c'}), u"ab"},
      {"stops at the first NUL", Bytes({'a', 0, 0, 0, 'b', 0, 0, 0}), u"a"},
      {"empty", {}, u""},
      {"one byte", Bytes({'a'}), u""},
      {"only a terminator", Bytes({0, 0}), u""},
      {"surrogate pair kept", Utf16Bytes(u"\U0001F600"), u"\U0001F600"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Set(key, u"OrigName", REG_SZ, c.data), ERROR_SUCCESS) << c.what;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), c.text) << c.what;
    // Stored exactly as given: the reader copes, the store does not repair.
    EXPECT_EQ(Query(key, u"OrigName").second, c.data) << c.what;
    std::vector<uint8_t> copy;
    ASSERT_EQ(RegQueryValueCopy(key, u"OrigName", nullptr, copy), ERROR_SUCCESS);
    EXPECT_EQ(RegStringFromBytes(copy), c.text.value()) << c.what;
  }

  // Each reader needs its own type; ReadDword needs exactly four bytes.
  ASSERT_EQ(Set(key, u"v", REG_BINARY, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  EXPECT_EQ(ReadBinary(HKEY_LOCAL_MACHINE, u"Ident", u"v"), Bytes({1, 0, 0, 0}));
  EXPECT_EQ(ShellReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), 0u);
  ASSERT_EQ(Set(key, u"v", REG_DWORD, Bytes({1, 0, 0})), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);
  ASSERT_EQ(Set(key, u"v", REG_DWORD, Bytes({2, 0, 0, 0x80})), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), 0x80000002u);
  EXPECT_EQ(ShellReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"v"), 0x80000002u);
  EXPECT_EQ(ReadBinary(HKEY_LOCAL_MACHINE, u"Ident", u"v"), std::nullopt);

  // Missing key or value.
  EXPECT_EQ(ShellReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"nothing"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident\\nothing", u"v"), std::nullopt);
  EXPECT_EQ(ReadBinary(reinterpret_cast<HKEY>(0x1234), u"Ident", u"v"), std::nullopt);
}

}  // namespace
