// The hives on disk: the text form, hand-edited files, saving and crash
// safety, and the device defaults.
#include <gtest/gtest.h>
#include <unistd.h>

#include "RegistryTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

using namespace plat;
using rt::Bytes;
using rt::ReadText;
using rt::Utf16Bytes;
using rt::WriteText;

namespace {

class RegistryFiles : public rt::RegistryTest {};

// The text a save writes is a format people edit, so its shape is checked
// here once; everything else is checked by reading values back.
TEST_F(RegistryFiles, SavedTextIsTheRegeditForm) {
  UseFolder();
  const WStringView key = u"SOFTWARE\\Orlamet\\Quorel";
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, key, u"url", u"http://a/\"b\"\\c"), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, key, u"minimum_search_length", 30), ERROR_SUCCESS);
  ASSERT_EQ(WriteBinary(HKEY_CURRENT_USER, key, u"quorelGUID", Bytes({1, 0xab})), ERROR_SUCCESS);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  std::vector<uint8_t> odd = Bytes({0x41, 0, 0x42});
  ASSERT_EQ(RegSetValueEx(k, u"odd", REG_SZ, odd.data(), 3), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, key, u"", u"x"), ERROR_SUCCESS);

  std::string text = ReadText(Hkcu());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\n"
                      "\"url\"=\"http://a/\\\"b\\\"\\\\c\"\n"
                      "\"minimum_search_length\"=dword:0000001e\n"
                      "\"quorelGUID\"=hex:01,ab\n"
                      "\"odd\"=hex(1):41,00,42\n"
                      "@=\"x\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text, DumpRegistry(HKEY_CURRENT_USER, false));
  // The other hive was never changed, so never written.
  EXPECT_FALSE(std::filesystem::exists(Hklm()));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKCU.reg.tmp"));
}

TEST_F(RegistryFiles, EverythingSurvivesSaveAndReload) {
  UseFolder();
  struct V {
    WString name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  const std::vector<V> values = {
      {u"plain", REG_SZ, Utf16Bytes(u"caf\u00e9 \u4e2d\u6587 \U0001F600 tab\there")},
      {u"quotes \"and\" \\slashes\\", REG_SZ, Utf16Bytes(u"\"\\\\\"\\")},
      {u"newline", REG_SZ, Utf16Bytes(u"two\r\nlines")},
      {u"unterminated", REG_SZ, Utf16Bytes(u"abc", false)},
      {u"embedded nul", REG_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0})},
      {u"lone surrogate", REG_SZ, Bytes({0x00, 0xD8, 'x', 0, 0, 0})},
      {u"empty sz", REG_SZ, {}},
      {u"", REG_SZ, Utf16Bytes(u"default")},
      {u"dword", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff})},
      {u"short dword", REG_DWORD, Bytes({1, 2})},
      {u"big", REG_BINARY, big},
      {u"empty binary", REG_BINARY, {}},
      {u"other type", 7, Bytes({'a', 0, 0, 0, 0, 0})},
      {u"[brackets]=;", REG_DWORD, Bytes({5, 0, 0, 0})},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Deep\\Key With Spaces\\]odd[", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  for (const V& v : values)
    ASSERT_EQ(RegSetValueEx(key, v.name, v.type, v.data.data(), static_cast<uint32_t>(v.data.size())),
              ERROR_SUCCESS)
        << ToUtf8(v.name);
  HKEY empty = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Empty\\Leaf", KEY_ALL_ACCESS, &empty), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"", u"at root", 3), ERROR_SUCCESS);  // saves the empty key too
  std::string before = DumpRegistry(HKEY_LOCAL_MACHINE);

  UseFolder();  // drops memory; the next call loads the files
  for (const V& v : values) {
    std::vector<uint8_t> data;
    uint32_t type = 0;
    ASSERT_EQ(RegQueryValueCopy(key, v.name, &type, data), ERROR_INVALID_HANDLE);  // old handle is gone
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"deep\\key with spaces\\]ODD[", KEY_READ, &again), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueCopy(again, v.name, &type, data), ERROR_SUCCESS) << ToUtf8(v.name);
    EXPECT_EQ(type, v.type) << ToUtf8(v.name);
    EXPECT_EQ(data, v.data) << ToUtf8(v.name);
    RegCloseKey(again);
  }
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Empty\\Leaf", KEY_READ, &empty), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"", u"at root"), 3u);
  EXPECT_EQ(DumpRegistry(HKEY_LOCAL_MACHINE), before);
  EXPECT_EQ(CountLines({"registry"}), 0u) << "a clean save must load without complaint";
}

TEST_F(RegistryFiles, HandEditedHiveKeepsGoodLinesAndReportsBadOnes) {
  // Line numbers matter: each bad line must be reported with its own.
  const std::string hive =
      "\xEF\xBB\xBF; edited by hand\r\n"                              // 1 (BOM, CRLF)
      "\r\n"                                                          // 2
      "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\r\n"            // 3
      "\"url\"=\"http://example.org/q\"\r\n"                          // 4
      "  \"singurl\" = \"C:\\dir\\file\"   ; trailing comment\n"      // 5 lone backslashes kept
      "\"isAMG\"=dword:1\n"                                           // 6 short dword
      "\"odd\"=hex(1):41,00,42\n"                                     // 7 odd-length string
      "\"GUID\"=hex:00,01,02,\\\n"                                    // 8 continued ...
      "    03,04 ,\\\r\n"                                             // 9
      "  05\n"                                                        // 10
      "this is garbage\n"                                             // 11 bad
      "\"bad dword\"=dword:123456789\n"                               // 12 bad
      "\"open quote\"=\"never closed\n"                               // 13 bad
      "\"bad hex\"=hex:01,zz\n"                                       // 14 bad
      "\"deleted\"=-\n"                                               // 15 bad (unsupported)
      "\"nothing\"\n"                                                 // 16 bad
      "[HKEY_CURRENT_USER\\Broken\n"                                  // 17 bad key line
      "\"lost\"=dword:00000001\n"                                     // 18 belongs to the bad key
      "[HKEY_CLASSES_ROOT\\x]\n"                                      // 19 unknown root
      "[HKEY_LOCAL_MACHINE\\Ident]\n"                                 // 20 wrong hive
      "\"OrigName\"=\"not here\"\n"                                   // 21 skipped with it
      "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n"                 // 22
      "\"TouchEvent\"=dword:00000000\n"                               // 23
      "\"TouchEvent\"=dword:00000002\n"                               // 24 later line wins
      "@=\"dflt\"\n"                                                  // 25
      "\"tail\"=hex:01,\\\n";                                         // 26 continued past the end
  WriteText(Hkcu(), hive);
  UseFolder();

  const WStringView q = u"SOFTWARE\\Orlamet\\Quorel";
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"url"), u"http://example.org/q");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"singurl"), u"C:\\dir\\file");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, q, u"isAMG"), 1u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"odd"), u"A");
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, q, u"GUID"), Bytes({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 2u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u""), u"dflt");
  for (WStringView gone : {u"bad dword", u"open quote", u"bad hex", u"deleted", u"nothing"})
    EXPECT_EQ(RegQueryValueEx(HKEY_CURRENT_USER, gone, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"Broken", KEY_READ, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), std::nullopt);

  const std::string file = Hkcu().string();
  for (int line : {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 26})
    EXPECT_EQ(CountLines({file + ":" + std::to_string(line) + ":"}), 1u) << "line " << line;
  for (int line : {1, 3, 4, 5, 6, 7, 8, 9, 10, 21, 22, 23, 24, 25})
    EXPECT_EQ(CountLines({file + ":" + std::to_string(line) + ":"}), 0u) << "line " << line;

  // The first rewrite keeps the person's original beside the new hive, since
  // the lines it could not read are not in the new one.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, q, u"isVideo", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(m_dir / "HKCU.reg.bak"), hive);
  EXPECT_EQ(CountLines({"HKCU.reg.bak"}), 1u);
  UseFolder();
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, q, u"GUID"), Bytes({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, q, u"isVideo"), 0u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"odd"), u"A");
  EXPECT_EQ(CountLines({file + ":"}), 11u) << "the rewritten hive loads cleanly";
}

TEST_F(RegistryFiles, AFailedSaveChangesNeitherMemoryNorDisk) {
  UseFolder();
  const WStringView q = u"SOFTWARE\\Orlamet\\Quorel";
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, q, u"app_language", u"0409"), ERROR_SUCCESS);
  const std::string saved = ReadText(Hkcu());

  for (RegistrySaveStep failing : {RegistrySaveStep::WriteTemp, RegistrySaveStep::SyncTemp, RegistrySaveStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    std::vector<RegistrySaveStep> seen;
    SetRegistrySaveHookForTests([&](RegistrySaveStep step) -> uint32_t {
      seen.push_back(step);
      return step == failing ? ERROR_NOT_ENOUGH_QUOTA : ERROR_SUCCESS;
    });
    EXPECT_EQ(WriteString(HKEY_CURRENT_USER, q, u"app_language", u"040C"), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, q, u"new", 1), ERROR_NOT_ENOUGH_QUOTA);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, q, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(key, u"app_language"), ERROR_NOT_ENOUGH_QUOTA);
    RegCloseKey(key);
    EXPECT_EQ(seen.back(), failing);

    // Memory still holds what the disk holds...
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"app_language"), u"0409");
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, q, u"new"), std::nullopt);
    // ...and the disk holds the old hive, whole, with no temporary left.
    EXPECT_EQ(ReadText(Hkcu()), saved);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "HKCU.reg.tmp"));
    EXPECT_GE(CountLines({"saving", "HKCU.reg", "failed"}), 3u);
  }

  // Once saving works again, so does everything.
  SetRegistrySaveHookForTests(nullptr);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, q, u"app_language", u"040C"), ERROR_SUCCESS);
  UseFolder();
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, q, u"app_language"), u"040C");
}

TEST_F(RegistryFiles, ACrashBeforeTheRenameLeavesTheOldHiveReadable) {
  UseFolder();
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle", 90), ERROR_SUCCESS);
  // What a crash half-way through the next save leaves behind.
  WriteText(m_dir / "HKLM.reg.tmp", "[HKEY_LOCAL_MACHINE\\System\\GDI\\ROTATION]\n\"Angle\"=dword:000");

  UseFolder();  // the next start
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 90u);
  EXPECT_EQ(CountLines({"registry"}), 0u);
  // The next save goes through in spite of the leftover, and removes it.
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle", 180), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKLM.reg.tmp"));
  UseFolder();
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 180u);
}

TEST_F(RegistryFiles, AHiveThatCannotBeReadIsNeverOverwritten) {
  // A folder where the hive should be: it exists, but cannot be read as a file.
  std::filesystem::create_directory(Hkcu());
  WriteText(Hkcu() / "keep", "x");
  UseFolder();
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"k", u"v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"k", u"v"), std::nullopt);
  EXPECT_EQ(CountLines({"cannot read", "HKCU.reg"}), 1u);
  EXPECT_TRUE(std::filesystem::exists(Hkcu() / "keep"));
  // The other hive is unaffected.
  EXPECT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"k", u"v", 1), ERROR_SUCCESS);

  // An unwritable folder fails the change the same clean way. (A file where
  // the folder should be stops even a privileged process.)
  std::filesystem::path notAFolder = m_dir / "plain-file";
  WriteText(notAFolder, "");
  ConfigureRegistry({notAFolder / "registry", {}, {}});
  EXPECT_NE(WriteDword(HKEY_LOCAL_MACHINE, u"k", u"v", 1), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"k", u"v"), std::nullopt);
}

TEST_F(RegistryFiles, DefaultsFillGapsOnlyAndStayOutOfTheHive) {
  WriteText(Hklm(),
            "[HKEY_LOCAL_MACHINE\\Ident]\n"
            "\"Name\"=\"QT-M5180\"\n");
  std::filesystem::path defaults = m_dir / "defaults.reg";
  WriteText(defaults,
            "[HKEY_LOCAL_MACHINE\\Ident]\n"
            "\"OrigName\"=\"Linux Device\"\n"
            "\"Name\"=\"Linux\"\n"
            "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n"
            "\"TouchEvent\"=dword:00000001\n"
            "junk\n");
  UseFolder(defaults, "[HKEY_LOCAL_MACHINE\\Ident]\n\"Extra\"=dword:00000005\n");

  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"Name"), u"QT-M5180");  // the hive wins
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), u"Linux Device");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 1u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"Extra"), 5u);
  EXPECT_EQ(CountLines({defaults.string() + ":6:"}), 1u);

  // A change elsewhere in the hive does not write the defaults into it.
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"other", u"v", 1), ERROR_SUCCESS);
  std::string hklm = ReadText(Hklm()), hkcu = ReadText(Hkcu());
  EXPECT_EQ(hklm.find("OrigName"), std::string::npos) << hklm;
  EXPECT_EQ(hklm.find("Extra"), std::string::npos) << hklm;
  EXPECT_EQ(hkcu.find("VibeTonz"), std::string::npos) << hkcu;
  EXPECT_NE(DumpRegistry(HKEY_LOCAL_MACHINE, true).find("OrigName"), std::string::npos);

  // Once the program sets a value, it is the hive's and outlives a change of
  // the defaults.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent", 0), ERROR_SUCCESS);
  WriteText(defaults, "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n\"TouchEvent\"=dword:00000007\n");
  UseFolder(defaults);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), std::nullopt);  // no longer a default

  // A missing defaults file is reported and changes nothing else.
  UseFolder(m_dir / "absent.reg");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
  EXPECT_EQ(CountLines({"absent.reg"}), 1u);
}

TEST_F(RegistryFiles, TheShippedDeviceProfileLoadsCleanly) {
  // The build copies the profile beside every executable, tests included.
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::filesystem::path defaults = std::filesystem::path(self).parent_path() / "device-defaults.reg";
  ASSERT_TRUE(std::filesystem::exists(defaults));
  ConfigureRegistry({{}, defaults, {}});

  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), u"Linux Device");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"Name"), u"Linux");
  for (WStringView name : {u"TouchEvent", u"TouchVibeOn", u"TouchSoundOn"})
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", name), 1u);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"ScreenWidth"), 480u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"ScreenHeight"), 800u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Dpi"), 192u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"QpcFrequency"), 32768u);
  // The menu bar's height follows the screen; a fixed one would override that.
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"MenuBarHeight"), std::nullopt);
  EXPECT_EQ(CountLines({"registry"}), 0u);
}

}  // namespace
