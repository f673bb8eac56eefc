// The hives on disk: the text form, hand-edited files, saving and crash
// safety, and the device defaults.
#include <gtest/gtest.h>
#include <unistd.h>

#include "RegistryTestUtil.h"
#include "platform/kernel/Kernel.h"

using namespace plat;
using rt::Bytes;
using rt::ReadText;
using rt::Utf16;
using rt::WriteText;

namespace {

class RegistryFiles : public rt::RegistryTest {
 protected:
  std::filesystem::path Hkcu() const { return m_dir / "HKCU.reg"; }
};

const WStringView kApp = u"SOFTWARE\\Orlamet\\Quorel";

// The saved text is a format people edit, so its shape is checked once here;
// everything else is checked by reading values back.
TEST_F(RegistryFiles, SavedTextIsTheRegeditForm) {
  UseFolder();
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, kApp, u"url", u"http://a/\"b\"\\c"), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"minimum_search_length", 30), ERROR_SUCCESS);
  ASSERT_EQ(WriteBinary(HKEY_CURRENT_USER, kApp, u"quorelGUID", {1, 0xab}), ERROR_SUCCESS);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kApp, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  const uint8_t odd[] = {0x41, 0, 0x42};
  ASSERT_EQ(RegSetValueEx(k, u"odd", REG_SZ, odd, 3), ERROR_SUCCESS);

  std::string text = ReadText(Hkcu());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\n"
                      "\"url\"=\"http://a/\\\"b\\\"\\\\c\"\n"
                      "\"minimum_search_length\"=dword:0000001e\n"
                      "\"quorelGUID\"=hex:01,ab\n"
                      "\"odd\"=hex(1):41,00,42\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text, DumpRegistry(HKEY_CURRENT_USER, false));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKLM.reg")) << "an unchanged hive is not written";
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKCU.reg.tmp"));
}

TEST_F(RegistryFiles, EverythingSurvivesSaveAndReload) {
  UseFolder();
  Bytes big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  const std::tuple<WString, uint32_t, Bytes> values[] = {
      {u"plain", REG_SZ, Utf16(u"caf\u00e9 \u4e2d \U0001F600 tab\there")},
      {u"quotes \"and\" \\slashes\\ [x]=;", REG_SZ, Utf16(u"\"\\\\\"\\")},
      {u"newline", REG_SZ, Utf16(u"two\r\nlines")},
      {u"unterminated", REG_SZ, Utf16(u"abc", false)},
      {u"embedded nul", REG_SZ, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0}},
      {u"lone surrogate", REG_SZ, Bytes{0x00, 0xD8, 'x', 0, 0, 0}},
      {u"empty sz", REG_SZ, {}},
      {u"", REG_SZ, Utf16(u"default")},
      {u"dword", REG_DWORD, Bytes{0xff, 0xff, 0xff, 0xff}},
      {u"short dword", REG_DWORD, Bytes{1, 2}},
      {u"big", REG_BINARY, big},
      {u"other type", 7, Bytes{'a', 0, 0, 0, 0, 0}},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Deep\\With Spaces\\]odd[", 0, &key), ERROR_SUCCESS);
  for (const auto& [name, type, data] : values)
    ASSERT_EQ(RegSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size())), ERROR_SUCCESS);
  HKEY empty = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Empty\\Leaf", 0, &empty), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"", u"at root", 3), ERROR_SUCCESS);  // saves the empty key too
  std::string before = DumpRegistry(HKEY_LOCAL_MACHINE);

  UseFolder();
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"deep\\with spaces\\]ODD[", KEY_READ, &key), ERROR_SUCCESS);
  for (const auto& [name, type, data] : values) {
    uint32_t t = 0;
    Bytes got;
    ASSERT_EQ(RegQueryValueCopy(key, name, &t, got), ERROR_SUCCESS) << ToUtf8(name);
    EXPECT_EQ(std::tie(t, got), std::tie(type, data)) << ToUtf8(name);
  }
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Empty\\Leaf", KEY_READ, &empty), ERROR_SUCCESS);
  EXPECT_EQ(DumpRegistry(HKEY_LOCAL_MACHINE), before);
  EXPECT_EQ(CountLines({"registry"}), 0u) << "a saved hive loads without complaint";
}

TEST_F(RegistryFiles, HandEditedHiveKeepsGoodLinesAndReportsBadOnes) {
  const std::string hive =
      "\xEF\xBB\xBF; edited by hand\r\n"                            // 1 (BOM, CRLF)
      "\r\n"                                                        // 2
      "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\r\n"          // 3
      "\"url\"=\"http://example.org/q\"\r\n"                        // 4
      "  \"singurl\" = \"C:\\dir\\file\"   ; trailing comment\n"    // 5 lone backslashes kept
      "\"isAMG\"=dword:1\n"                                         // 6
      "\"odd\"=hex(1):41,00,42\n"                                   // 7 odd-length string
      "\"GUID\"=hex:00,01,02,\\\n"                                  // 8 continued
      "    03,04 ,\\\r\n"                                           // 9
      "  05\n"                                                      // 10
      "this is garbage\n"                                           // 11 bad
      "\"bad dword\"=dword:123456789\n"                             // 12 bad
      "\"open quote\"=\"never closed\n"                             // 13 bad
      "\"bad hex\"=hex:01,zz\n"                                     // 14 bad
      "\"deleted\"=-\n"                                             // 15 bad (unsupported)
      "[HKEY_CURRENT_USER\\Broken\n"                                // 16 bad key line
      "\"lost\"=dword:00000001\n"                                   // 17 value of the bad key
      "[HKEY_CLASSES_ROOT\\x]\n"                                    // 18 unknown root
      "[HKEY_LOCAL_MACHINE\\Ident]\n"                               // 19 the other hive's
      "\"OrigName\"=\"not here\"\n"                                 // 20 goes with it
      "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n"               // 21
      "\"TouchEvent\"=dword:00000000\n"                             // 22
      "\"TouchEvent\"=dword:00000002\n"                             // 23 the later line wins
      "\"tail\"=hex:01,\\\n";                                       // 24 continued past the end
  WriteText(Hkcu(), hive);
  UseFolder();

  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"url"), u"http://example.org/q");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"singurl"), u"C:\\dir\\file");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kApp, u"isAMG"), 1u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"odd"), u"A");
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, kApp, u"GUID"), (Bytes{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 2u);
  for (WStringView gone : {u"bad dword", u"open quote", u"bad hex", u"deleted"})
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kApp, gone), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), std::nullopt);
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"Broken", KEY_READ, &k), ERROR_FILE_NOT_FOUND);

  const std::string file = Hkcu().string() + ":";
  for (int line = 1; line <= 24; ++line) {
    bool bad = (line >= 11 && line <= 19) || line == 24;
    EXPECT_EQ(CountLines({file + std::to_string(line) + ":"}), bad ? 1u : 0u) << "line " << line;
  }

  // The bad lines are not in the rewritten hive, so the first rewrite keeps
  // the person's original beside it.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"isVideo", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(m_dir / "HKCU.reg.bak"), hive);
  UseFolder();
  EXPECT_EQ(ReadBinary(HKEY_CURRENT_USER, kApp, u"GUID"), (Bytes{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kApp, u"isVideo"), 0u);
  EXPECT_EQ(CountLines({file}), 10u) << "the rewritten hive loads cleanly";
}

TEST_F(RegistryFiles, AValidHandEditedHiveIsKeptAsItWasBeforeTheFirstRewrite) {
  // Every line is valid, but comments, blank lines, an exported hive's first
  // line and the earlier of two lines for one value do not survive a rewrite.
  const std::string hive =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; the server I test against\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\r\n"
      "\"url\"=\"http://first.example/\"\r\n"
      "\"url\"=\"http://second.example/\"   ; this one\r\n";
  WriteText(Hkcu(), hive);
  UseFolder();
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"url"), u"http://second.example/");
  EXPECT_EQ(CountLines({"registry"}), 0u) << "nothing in it is a bad line";
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKCU.reg.bak")) << "reading alone keeps nothing";

  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"isVideo", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(m_dir / "HKCU.reg.bak"), hive);
  EXPECT_EQ(CountLines({"HKCU.reg", "edited by hand", "kept as", "HKCU.reg.bak"}), 1u);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"isVideo", 1), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(m_dir / "HKCU.reg.bak"), hive) << "only the first rewrite keeps the original";

  // A hive as the program writes it is kept by nobody: the backup stays the
  // hand-edited one.
  const std::string saved = ReadText(Hkcu());
  UseFolder();
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"url"), u"http://second.example/");
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"isVideo", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(m_dir / "HKCU.reg.bak"), hive);
  EXPECT_EQ(CountLines({"kept as"}), 1u);
  EXPECT_NE(saved, ReadText(Hkcu()));
}

TEST_F(RegistryFiles, AnExportedHivesFirstLineIsNoBadLine) {
  const std::pair<std::string, bool> cases[] = {  // text, reported as a bad line
      {"Windows Registry Editor Version 5.00\n", false},
      {"\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n", false},
      {"REGEDIT4\n", false},
      {"  REGEDIT4  \n", false},
      {"\nREGEDIT4\n", true},  // only as the first line
      {"[HKEY_CURRENT_USER\\SOFTWARE]\nREGEDIT4\n", true},
      {"Windows Registry Editor Version 4.00\n", true},
  };
  for (const auto& [head, bBad] : cases) {
    SCOPED_TRACE(head);
    const size_t before = CountLines({"line skipped"});
    WriteText(Hkcu(), head + "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\n\"n\"=dword:00000007\n");
    UseFolder();
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kApp, u"n"), 7u);
    EXPECT_EQ(CountLines({"line skipped"}) - before, bBad ? 1u : 0u);
  }
}

TEST_F(RegistryFiles, AFailedSaveChangesNeitherMemoryNorDiskNorSignals) {
  UseFolder();
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, kApp, u"app_language", u"0409"), ERROR_SUCCESS);
  const std::string saved = ReadText(Hkcu());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kApp, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  Handle change = CeFindFirstRegChange(key, true, REG_NOTIFY_CHANGE_LAST_SET);
  int observed = 0;
  RegisterValueObserver(HKEY_CURRENT_USER, kApp, u"app_language", [&] { ++observed; });

  for (RegistrySaveStep failing : {RegistrySaveStep::WriteTemp, RegistrySaveStep::SyncTemp, RegistrySaveStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    SetRegistrySaveHookForTests([&](RegistrySaveStep step) { return step == failing ? ERROR_NOT_ENOUGH_QUOTA : 0u; });
    EXPECT_EQ(WriteString(HKEY_CURRENT_USER, kApp, u"app_language", u"040C"), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, kApp, u"new", 1), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(RegDeleteValue(key, u"app_language"), ERROR_NOT_ENOUGH_QUOTA);

    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"app_language"), u"0409");
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kApp, u"new"), std::nullopt);
    EXPECT_EQ(ReadText(Hkcu()), saved);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "HKCU.reg.tmp"));
    EXPECT_EQ(WaitForSingleObject(change, 0), WAIT_TIMEOUT);
    EXPECT_EQ(observed, 0);
  }
  EXPECT_EQ(CountLines({"saving", "HKCU.reg", "failed"}), 9u);

  SetRegistrySaveHookForTests(nullptr);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, kApp, u"app_language", u"040C"), ERROR_SUCCESS);
  EXPECT_EQ(observed, 1);
  UseFolder();
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kApp, u"app_language"), u"040C");
  CeFindCloseRegChange(change);
}

TEST_F(RegistryFiles, ACrashBeforeTheRenameLeavesTheOldHiveReadable) {
  UseFolder();
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle", 90), ERROR_SUCCESS);
  // What a crash half-way through the next save leaves behind.
  WriteText(m_dir / "HKLM.reg.tmp", "[HKEY_LOCAL_MACHINE\\System\\GDI\\ROTATION]\n\"Angle\"=dword:000");
  UseFolder();
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 90u);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle", 180), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "HKLM.reg.tmp"));
  UseFolder();
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 180u);
  EXPECT_EQ(CountLines({"registry"}), 0u);
}

TEST_F(RegistryFiles, AHiveThatCannotBeReadIsNeverOverwritten) {
  std::filesystem::create_directory(Hkcu());  // exists, but is no file
  UseFolder();
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"k", u"v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"k", u"v"), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_directory(Hkcu()));
  EXPECT_EQ(CountLines({"cannot read", "HKCU.reg"}), 1u);
  EXPECT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"k", u"v", 1), ERROR_SUCCESS) << "the other hive is fine";
}

TEST_F(RegistryFiles, DefaultsFillGapsOnlyAndStayOutOfTheHive) {
  WriteText(m_dir / "HKLM.reg", "[HKEY_LOCAL_MACHINE\\Ident]\n\"Name\"=\"QT-M5180\"\n");
  std::filesystem::path defaults = m_dir / "defaults.reg";
  WriteText(defaults,
            "[HKEY_LOCAL_MACHINE\\Ident]\n\"OrigName\"=\"Linux Device\"\n\"Name\"=\"Linux\"\n"
            "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n\"TouchEvent\"=dword:00000001\njunk\n");
  UseFolder(defaults, "[HKEY_LOCAL_MACHINE\\Ident]\n\"Extra\"=dword:00000005\n");

  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"Name"), u"QT-M5180") << "the hive wins";
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), u"Linux Device");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 1u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"Ident", u"Extra"), 5u);
  EXPECT_EQ(CountLines({defaults.string() + ":6:"}), 1u);

  // Saving a hive does not write the defaults into it...
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  std::string hklm = ReadText(m_dir / "HKLM.reg");
  EXPECT_EQ(hklm.find("OrigName"), std::string::npos) << hklm;
  EXPECT_EQ(hklm.find("Extra"), std::string::npos) << hklm;
  EXPECT_NE(hklm.find("QT-M5180"), std::string::npos) << hklm;
  // ...but a value the program sets is the hive's, and outlives the default.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent", 0), ERROR_SUCCESS);
  WriteText(defaults, "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n\"TouchEvent\"=dword:00000007\n");
  UseFolder(defaults);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), std::nullopt);

  UseFolder(m_dir / "absent.reg");
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", u"TouchEvent"), 0u);
  EXPECT_EQ(CountLines({"absent.reg"}), 1u);
}

TEST_F(RegistryFiles, TheShippedDeviceProfileLoadsCleanly) {
  // The build copies the profile beside every executable, tests included.
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  ConfigureRegistry({{}, std::filesystem::path(self).parent_path() / "device-defaults.reg", {}});

  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"OrigName"), u"Linux Device");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Ident", u"Name"), u"Linux");
  for (WStringView name : {u"TouchEvent", u"TouchVibeOn", u"TouchSoundOn"})
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\VibeTonz", name), 1u);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi"), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 0u);
  const WStringView settings = u"Platform\\Linux";
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, settings, u"ScreenWidth"), 480u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, settings, u"ScreenHeight"), 800u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, settings, u"Dpi"), 192u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, settings, u"QpcFrequency"), 32768u);
  // The menu bar's height follows the screen; a fixed one would override that.
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, settings, u"MenuBarHeight"), std::nullopt);
  EXPECT_EQ(CountLines({"registry"}), 0u);
}

}  // namespace
