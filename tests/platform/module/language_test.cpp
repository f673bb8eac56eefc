#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/module/Module.h"
#include "platform/registry/Registry.h"

namespace {

TEST(LanguageFromLocale, MapsTheShippedLanguagesAndNothingElse) {
  struct Case {
    const char* locale;
    uint16_t id;
  };
  const Case cases[] = {
      {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0409},        {"fr_FR.UTF-8", 0x040C}, {"fr_CA", 0x040C},
      {"it_IT", 0x0410},       {"de_AT.UTF-8", 0x0407},  {"ru_RU.KOI8-R", 0x0419},
      {"nb_NO.UTF-8", 0x0414}, {"no_NO", 0x0414},        {"nl_BE", 0x0413},       {"cs_CZ", 0x0405},
      {"el_GR", 0x0408},       {"es_MX.UTF-8", 0x0C0A},  {"es", 0x0C0A},          {"pt_PT.UTF-8", 0x0816},
      {"pt", 0x0816},          {"pt_BR.UTF-8", 0x0416},  {"fi_FI", 0x040B},       {"da_DK", 0x0406},
      {"pl_PL", 0x0415},       {"sv_SE", 0x041D},        {"sv_FI", 0x041D},       {"zh_CN.UTF-8", 0x0804},
      {"zh_TW.Big5", 0x0404},  {"ko_KR.UTF-8", 0x0412},  {"tr_TR", 0x041F},       {"ar_EG.UTF-8", 0x0401},
      {"ca_ES@valencia", 0x0403},
      // Case of the parts does not matter.
      {"PT_br", 0x0416},       {"De_de", 0x0407},
      // Not in the table: English.
      {"zh_HK.UTF-8", 0x0409}, {"zh", 0x0409},           {"nn_NO", 0x0409},       {"ja_JP.UTF-8", 0x0409},
      {"C", 0x0409},           {"POSIX", 0x0409},        {"C.UTF-8", 0x0409},     {"", 0x0409},
      {"_BR", 0x0409},         {"english", 0x0409},      {"pt_", 0x0816},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::LanguageFromLocale(c.locale), c.id) << c.locale;
}

// Keeps the locale variables of the test process as they were.
class SystemLanguage : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

  void SetUp() override {
    for (const char* name : kNames) {
      const char* v = getenv(name);
      m_saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
      unsetenv(name);
    }
    plat::ResetRegistryForTests();
    plat::SetUILanguageOverride(std::nullopt);
  }
  void TearDown() override {
    for (size_t i = 0; i < m_saved.size(); ++i) {
      if (m_saved[i]) setenv(kNames[i], m_saved[i]->c_str(), 1);
      else unsetenv(kNames[i]);
    }
    plat::ResetRegistryForTests();
    plat::SetUILanguageOverride(std::nullopt);
  }

  std::vector<std::optional<std::string>> m_saved;
};

TEST_F(SystemLanguage, LocaleVariablesInPrecedenceOrder) {
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0409);  // nothing set
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0407);
  setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x040C);
  setenv("LC_ALL", "pt_BR.UTF-8", 1);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0416);
  // An empty variable counts as unset.
  setenv("LC_ALL", "", 1);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x040C);
  // A set but unknown locale decides too: it does not fall through to LANG.
  setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0409);
}

TEST_F(SystemLanguage, DeviceSettingAndTestOverrideComeFirst) {
  setenv("LANG", "de_DE.UTF-8", 1);
  ASSERT_EQ(plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage", 0x0C01), 0);
  // Any LANGID the device reports, matched by the program or not.
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0C01);
  ASSERT_EQ(plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage", 0), 0);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0407);  // zero is no language
  ASSERT_EQ(plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage", u"0x0419"), 0);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0407);  // not a DWORD: ignored
  ASSERT_EQ(plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage", 0x0419), 0);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0419);

  plat::SetUILanguageOverride(0x0412);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0412);
  plat::SetUILanguageOverride(std::nullopt);
  EXPECT_EQ(plat::GetSystemDefaultUILanguage(), 0x0419);
}

}  // namespace
