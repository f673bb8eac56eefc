// The identity line: its fields and their sources, what a failing source
// leaves, the cut, Refresh, the reference count and readers on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "framework/DeviceIdentity.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"

namespace {

using plat::WString;

constexpr char16_t kSecret[] = u"0123abcd";  // SHA-1 with eight zero bytes: 41c2c078...
constexpr char kGoldenIddev[] = "41c2c0783c39ce65378f71ba98664215434717e3";

class DeviceIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetRegistryForTests();
    plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", kSecret);
    plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName", u"QT Test Phone");
    plat::TelephonyConfig config;
    config.imei = u"356938035643809";
    config.imsi = u"262011234567890";
    plat::ConfigureTelephony(config);
    SetLanguageCodeSource([this] { return m_language; });
  }
  void TearDown() override {
    while (GetDeviceIdentity()) CDeviceIdentity::Destroy();
    SetLanguageCodeSource({});
    plat::ConfigureTelephony(std::nullopt);
    plat::ResetRegistryForTests();
  }
  static std::string Line() {
    CDeviceIdentity* pIdentity = CDeviceIdentity::Create();
    std::string line = plat::ToUtf8(pIdentity->GetIdentityLine());
    CDeviceIdentity::Destroy();
    return line;
  }
  static std::string Field(const std::string& line, const std::string& name) {
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return "<missing>";
    at += name.size() + 2;
    size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }

  WString m_language = u"EN";
};

TEST_F(DeviceIdentityTest, TheGoldenLine) {
  EXPECT_EQ(Line(), std::string("AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI=356938035643809 "
                                "6IMSI=262011 IMSI=262011234567890 IDDEV=") +
                        kGoldenIddev + " DEV=QT Test Phone LANG=EN");
}

TEST_F(DeviceIdentityTest, FailingOrShortSourcesLeaveTheirFieldsEmptyOrShort) {
  struct Case {
    const char* what;
    bool initializes, generalInfo, opens;
    const char16_t* imsi;
    const char* expected;  // from " IMEI=" to " IDDEV="
  };
  const Case cases[] = {
      {"no telephony service", false, true, true, u"262011234567890", "IMEI= 6IMSI= IMSI= IDDEV="},
      {"no general information", true, false, true, u"262011234567890", "IMEI= 6IMSI= IMSI= IDDEV="},
      {"line 0 does not open", true, true, false, u"262011234567890", "IMEI= 6IMSI= IMSI= IDDEV="},
      {"no SIM", true, true, true, u"", "IMEI=356938035643809 6IMSI= IMSI= IDDEV="},
      {"short IMSI", true, true, true, u"2620", "IMEI=356938035643809 6IMSI=2620 IMSI=2620 IDDEV="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::TelephonyConfig config;
    config.devices[0].opens = c.opens;
    config.initializes = c.initializes;
    config.generalInfo = c.generalInfo;
    config.imei = c.initializes && c.generalInfo && c.opens ? u"356938035643809" : u"";
    config.imsi = c.imsi;
    plat::ConfigureTelephony(config);
    const std::string line = Line();
    const size_t from = line.find("IMEI="), to = line.find("IDDEV=");
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(line.substr(from, to + 6 - from), c.expected);
    EXPECT_EQ(Field(line, "IDDEV"), kGoldenIddev) << "the device id does not depend on telephony";
  }
}

TEST_F(DeviceIdentityTest, DeviceIdBytesAreWrittenWithoutLeadingZeros) {
  const uint8_t bytes[] = {0x0A, 0x00, 0xFF, 0x10, 0x01};
  EXPECT_EQ(DeviceIdText(bytes), u"a0ff101");
  EXPECT_EQ(DeviceIdText({}), u"");
}

TEST_F(DeviceIdentityTest, DeviceNameAndControlCharactersInEveryField) {
  struct Case {
    const char* what;
    std::function<void()> setUp;
    WString expected;
  };
  const Case cases[] = {
      {"missing value", [] { plat::ResetRegistryForTests(); }, u"NonameDevice"},
      {"DWORD value", [] { plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName", 7); }, u"NonameDevice"},
      {"empty string", [] { plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName", u""); }, u""},
      {"CR, LF, TAB, DEL and NUL dropped",
       [] {
         plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName",
                           WString(u"QT\r\nPhone\t1\x7F-\x1F", 14) + WString(1, u'\0') + u"x");
       },
       u"QTPhone1-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::ResetRegistryForTests();
    c.setUp();
    EXPECT_EQ(plat::FromUtf8(Field(Line(), "DEV")), c.expected);
  }
  // The telephony fields and LANG are cleaned the same way.
  plat::TelephonyConfig config;
  config.imei = u"35693\r\n8035";
  config.imsi = u"2620\t11";
  plat::ConfigureTelephony(config);
  m_language = u"E\nN";
  const std::string line = Line();
  EXPECT_EQ(Field(line, "IMEI"), "356938035");
  EXPECT_EQ(Field(line, "6IMSI"), "262011");
  EXPECT_EQ(Field(line, "LANG"), "EN");
  EXPECT_EQ(line.find_first_of("\r\n\t"), std::string::npos);
}

TEST_F(DeviceIdentityTest, ALongNameIsCutAt4095UnitsWithoutSplittingAPair) {
  WString name(10000, u'n');
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName", name);
  const WString line = plat::FromUtf8(Line());
  EXPECT_EQ(line.size(), kMaxIdentityLineUnits);
  const size_t head = line.find(u"DEV=n") + 4;
  // A pair on the last unit that fits loses both halves; one unit earlier it
  // fits whole.
  for (size_t back : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE(back);
    WString paired = name;
    const size_t at = kMaxIdentityLineUnits - 1 - head - back;
    paired[at] = 0xD83C;
    paired[at + 1] = 0xDFB5;
    plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName", paired);
    CDeviceIdentity* pIdentity = CDeviceIdentity::Create();
    const WString cut = pIdentity->GetIdentityLine();
    CDeviceIdentity::Destroy();
    EXPECT_EQ(cut.size(), back == 0 ? kMaxIdentityLineUnits - 1 : kMaxIdentityLineUnits);
    EXPECT_EQ(cut.back(), back == 0 ? u'n' : char16_t(0xDFB5));
  }
}

TEST_F(DeviceIdentityTest, RefreshFollowsTheLanguageAndKeepsTheIdentityWhenTelephonyFails) {
  CDeviceIdentity* pIdentity = CDeviceIdentity::Create();
  const std::string before = plat::ToUtf8(pIdentity->GetIdentityLine());
  plat::TelephonyConfig broken;
  broken.initializes = false;
  plat::ConfigureTelephony(broken);
  m_language = u"FR";
  CDeviceIdentity::Refresh();
  const std::string after = plat::ToUtf8(pIdentity->GetIdentityLine());
  EXPECT_EQ(Field(after, "LANG"), "FR");
  EXPECT_EQ(Field(after, "IMEI"), "356938035643809");
  EXPECT_EQ(Field(after, "IMSI"), "262011234567890");
  EXPECT_EQ(Field(after, "IDDEV"), kGoldenIddev);
  EXPECT_EQ(after.substr(0, after.find(" LANG=")), before.substr(0, before.find(" LANG=")));
  CDeviceIdentity::Destroy();
  CDeviceIdentity::Refresh();  // without an identity: nothing
  EXPECT_EQ(GetDeviceIdentity(), nullptr);
}

TEST_F(DeviceIdentityTest, EveryCreateIsOneReferenceAndAnExtraDestroyDoesNothing) {
  CDeviceIdentity* pFirst = CDeviceIdentity::Create();
  EXPECT_EQ(CDeviceIdentity::Create(), pFirst);
  CDeviceIdentity::Destroy();
  EXPECT_EQ(GetDeviceIdentity(), pFirst);
  EXPECT_FALSE(CurrentIdentityLine().empty());
  CDeviceIdentity::Destroy();
  EXPECT_EQ(GetDeviceIdentity(), nullptr);
  EXPECT_TRUE(CurrentIdentityLine().empty());
  CDeviceIdentity::Destroy();  // one too many: nothing happens
  EXPECT_EQ(GetDeviceIdentity(), nullptr);
  EXPECT_NE(CDeviceIdentity::Create(), nullptr);
  CDeviceIdentity::Destroy();
}

TEST_F(DeviceIdentityTest, ReadersOnOtherThreadsSeeWholeLinesWhileRefreshRuns) {
  CDeviceIdentity* pIdentity = CDeviceIdentity::Create();
  const WString en = pIdentity->GetIdentityLine();
  m_language = u"FR";
  CDeviceIdentity::Refresh();
  const WString fr = pIdentity->GetIdentityLine();
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i)
    readers.emplace_back([&] {
      while (!stop.load()) {
        const WString line = CurrentIdentityLine();
        if (line != en && line != fr) ++torn;
        ++reads;
      }
    });
  for (int i = 0; i < 200; ++i) {
    m_language = i % 2 ? u"FR" : u"EN";
    CDeviceIdentity::Refresh();
  }
  while (reads.load() < 10) std::this_thread::yield();
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
  CDeviceIdentity::Destroy();
}

TEST_F(DeviceIdentityTest, Utf8ConversionsRoundTripAndReplaceLoneSurrogates) {
  const WString texts[] = {u"", u"plain", u"Zoë Café", u"\U0001F3B5 note", WString(u"a\0b", 3)};
  for (const WString& t : texts) EXPECT_EQ(Utf8ToWide(WideToUtf8(t)), t);
  EXPECT_EQ(WideToUtf8(WString(u"a\0b", 3)).size(), 3u) << "no terminator counted";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(WString(1, char16_t(0xD800)) + u"x")), u"\uFFFDx");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(u"x" + WString(1, char16_t(0xDC00)))), u"x\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC3"), u"\uFFFD");
}

}  // namespace
