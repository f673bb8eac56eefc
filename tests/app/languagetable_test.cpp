// The language table: which module becomes the interface language at
// start-up, what "app_language" holds, the texts each UI id resolves to, and
// the shipped modules read through the program's own registration.
#include "app/LanguageTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/AppTestSupport.h"
#include "framework/basetypes.h"
#include "framework/DeviceIdentity.h"
#include "protocol/AppSettings.h"

namespace {

// The UI ids each resource serves, as the translators' notes list them.
std::map<int32_t, uint16_t> NotesTable(std::set<uint16_t>* unused = nullptr) {
  std::map<int32_t, uint16_t> table;
  std::ifstream in(QUOREL_LANGUAGE_NOTES);
  EXPECT_TRUE(in.good());
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    const auto resource = static_cast<uint16_t>(std::stoi(fields.at(0)));
    std::stringstream ids(fields.at(1));
    for (std::string id; std::getline(ids, id, ',');) table[std::stoi(id)] = resource;
    if (unused && fields.at(2) == "unused") unused->insert(resource);
  }
  return table;
}

class LanguageTable : public apptest::AppFixture {
 protected:
  void TearDown() override {
    FreeLanguageModules();
    *CurrentLanguageIndex() = 0;
    apptest::AppFixture::TearDown();
  }
  // Module `file` whose resource 105 (UI id 3) reads "<tag>" and 191 (UI
  // id 2) "title <tag>".
  void WriteLanguage(const std::string& file, const std::u16string& tag) {
    WriteModule(file, {{105, tag}, {191, u"title " + tag}});
  }
  // A fresh start: a new registry, then the strings.
  void Start(uint16_t phoneLanguage) {
    if (CResources::Instance()) CResources::Destroy();
    CResources::Create();
    plat::SetUILanguageOverride(phoneLanguage);
    RegisterUiStrings();
  }
  static plat::WString Stored() {
    plat::WString value;
    RegGetAppString(u"app_language", value);
    return value;
  }
  static int32_t PanicLine(int32_t index) {
    try {
      SetLanguage(index);
    } catch (const TPanic& panic) {
      EXPECT_EQ(plat::WStringView(panic.source), u"QuorelStrings");
      return panic.line;
    }
    return 0;
  }
};

TEST_F(LanguageTable, TheOnlyModuleIsTheDefaultWhateverThePhoneSpeaks) {
  WriteLanguage("Quorel.exe.0407.mui", u"de");
  for (uint16_t phone : {0x0409, 0x0407, 0x0C01, 0x0000}) {
    SCOPED_TRACE(phone);
    Start(phone);
    EXPECT_EQ(DefaultLanguageIndex(), 3);
    EXPECT_EQ(*CurrentLanguageIndex(), 3);
    EXPECT_EQ(Stored(), u"DE");
    EXPECT_EQ(CResources::GetString(3), u"de");
    EXPECT_EQ(CurrentLanguageCode(), u"DE");
  }
}

TEST_F(LanguageTable, NoModuleEndsTheStart) {
  WriteLanguage("Quorel.exe.0407.mui.bak", u"de");  // near miss
  plat::SetUILanguageOverride(0x0407);
  EXPECT_EQ(apptest::Thrown(RegisterUiStrings), Env::ErrSystem);
  EXPECT_EQ(DefaultLanguageIndex(), kNoLanguage);
}

TEST_F(LanguageTable, PhoneLanguageChoosesItsRowWhenLoaded) {
  // Modules: Italian (the default, the first loaded row), German, and the
  // Arabic file; French is missing, and a malformed Russian one is absent.
  WriteLanguage("Quorel.exe.0410.mui", u"it");
  WriteLanguage("Quorel.exe.0407.mui", u"de");
  WriteLanguage("Quorel.exe.0c01.mui", u"ar");
  std::ofstream(m_programFolder / "Quorel.exe.0419.mui") << "not a pack";
  struct Case {
    uint16_t phone;
    int32_t index;
    const char16_t* code;
  };
  const Case cases[] = {
      {0x0407, 3, u"DE"},  {0x0410, 2, u"IT"},  {0x0401, 20, u"AR"},  // Arabic answers to 0x0401
      {0x0C01, 2, u"IT"},  {0x040C, 2, u"IT"},  {0x0419, 2, u"IT"},  {0x1234, 2, u"IT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phone);
    m_platform.ClearDebugLines();
    Start(c.phone);
    EXPECT_EQ(*CurrentLanguageIndex(), c.index);
    EXPECT_EQ(Stored(), c.code);
    char expected[96];
    std::snprintf(expected, sizeof expected, "[QUOREL] Language id is 0x%04x/0x%04x Will be used %s", c.phone,
                  c.index, plat::ToUtf8(LanguageModuleFile(c.index)).c_str());
    EXPECT_EQ(m_platform.DebugLines(), std::vector<std::string>{expected});
  }
  for (int32_t i = 0; i < kLanguageCount; ++i) EXPECT_EQ(IsLanguageLoaded(i), i == 2 || i == 3 || i == 20) << i;
  EXPECT_FALSE(IsLanguageLoaded(-1));
  EXPECT_FALSE(IsLanguageLoaded(kLanguageCount));
}

TEST_F(LanguageTable, ModulesAreFoundBesideTheProgramWhereverItLies) {
  for (const plat::WString mount : {u"\\Program Files\\Quorel", u"\\Apps\\Quorel Mobile"}) {
    MountProgram(m_programFolder, mount);
    WriteLanguage("Quorel.exe.0409.mui", u"en");
    FreeLanguageModules();
    EXPECT_TRUE(LoadLanguageModules());
    EXPECT_EQ(DefaultLanguageIndex(), 0);
  }
}

TEST_F(LanguageTable, AMissingResourceIsEmptyInItsLanguageOnly) {
  WriteLanguage("Quorel.exe.0409.mui", u"en");
  WriteModule("Quorel.exe.040c.mui", {{105, u"fr"}});  // without 191
  Start(0x040C);
  EXPECT_EQ(CResources::GetString(2), u"");
  EXPECT_EQ(CResources::GetString(3), u"fr");
  SetLanguage(0);
  EXPECT_EQ(CResources::GetString(3), u"en");
  // The texts outlive the modules.
  FreeLanguageModules();
  EXPECT_FALSE(IsLanguageLoaded(0));
  EXPECT_EQ(CResources::GetString(2), u"title en");
}

TEST_F(LanguageTable, PickingALanguageLastsUntilTheNextStart) {
  WriteLanguage("Quorel.exe.0409.mui", u"en");
  WriteLanguage("Quorel.exe.0416.mui", u"br");
  Start(0x0409);
  SetLanguage(15);
  EXPECT_EQ(CResources::GetString(3), u"br");
  EXPECT_EQ(CResources::GetString(2), u"title br");
  EXPECT_EQ(Stored(), u"pt_BR");
  EXPECT_EQ(CurrentLanguageCode(), u"pt_BR");
  // A language whose module is missing still selects (its texts are empty).
  SetLanguage(21);
  EXPECT_EQ(CResources::GetString(3), u"");
  EXPECT_EQ(Stored(), u"CA");

  EXPECT_EQ(PanicLine(22), 524);
  EXPECT_EQ(PanicLine(-1), 524);
  EXPECT_EQ(*CurrentLanguageIndex(), 21);

  Start(0x0409);
  EXPECT_EQ(Stored(), u"EN");
  EXPECT_EQ(CResources::GetString(3), u"en");
  // German without its module: the default.
  Start(0x0407);
  EXPECT_EQ(Stored(), u"EN");
}

// The identity line's LANG and the settings' lists follow a language change;
// once the modules are gone, nothing reads the table any more.
TEST_F(LanguageTable, ALanguageChangeRefreshesTheIdentityAndTheSettings) {
  WriteLanguage("Quorel.exe.0409.mui", u"en");
  WriteLanguage("Quorel.exe.0416.mui", u"br");
  WriteModule("Quorel.exe.040c.mui", {{239, u"fr-code"}});
  Start(0x0409);
  CDeviceIdentity::Create();
  {
    AppSettings settings;
    const auto lang = [] {
      const plat::WString line = GetDeviceIdentity()->GetIdentityLine();
      const size_t at = line.find(u" LANG=");
      return at == plat::WString::npos ? plat::WString(u"<missing>") : line.substr(at + 6, line.find(u' ', at + 1) - at - 6);
    };
    EXPECT_EQ(lang(), u"EN");
    EXPECT_TRUE(AppSettings::UiLanguages()->empty()) << "made after the start-up language was set";

    SetLanguage(1);
    EXPECT_EQ(lang(), u"FR");
    EXPECT_EQ(*AppSettings::LanguageIndexList(settings), (std::vector<int32_t>{0, 1, 15}));
    ASSERT_EQ(AppSettings::LangCodes()->size(), 42u);
    EXPECT_EQ(AppSettings::LangCodes()->front(), u"fr-code") << "choice lists refilled in the new language";

    SetLanguage(15);
    EXPECT_EQ(lang(), u"pt_BR");
    EXPECT_EQ(AppSettings::LangCodes()->front(), u"");

    FreeLanguageModules();
    settings.FillLanguageList();
    EXPECT_TRUE(AppSettings::UiLanguages()->empty());
    CDeviceIdentity::Refresh();
    EXPECT_EQ(lang(), u"");
  }
  CDeviceIdentity::Destroy();
}

TEST_F(LanguageTable, FixedTextsAndTheUiIdTable) {
  WriteLanguage("Quorel.exe.0409.mui", u"en");
  Start(0x0409);
  const std::map<int32_t, plat::WString> fixed = {{0, u""},          {1, u"quorel mobile"}, {227, u"Internet"},
                                                  {228, u"Work"},    {229, u"WAP"},           {230, u"Secure WAP"}};
  for (const auto& [id, text] : fixed) {
    EXPECT_EQ(CResources::GetString(id), text) << id;
    EXPECT_EQ(UiStringResourceId(id), 0) << id;
  }
  EXPECT_THROW(CResources::GetString(231), Env::TSysErrorCode);

  const std::map<int32_t, uint16_t> notes = NotesTable();
  std::set<uint16_t> resources;
  for (int32_t id = 0; id < kUiStringCount; ++id) {
    if (fixed.count(id)) continue;
    ASSERT_TRUE(notes.count(id)) << "UI id " << id << " is not in the notes";
    EXPECT_EQ(UiStringResourceId(id), notes.at(id)) << "UI id " << id;
    resources.insert(UiStringResourceId(id));
  }
  EXPECT_EQ(notes.size(), 225u);
  EXPECT_EQ(resources.size(), 224u);
}

TEST_F(LanguageTable, ShippedModulesFillEveryUsedText) {
  MountProgram(QUOREL_PACK_DIR, u"\\Program Files\\Quorel");
  Start(0x0409);
  std::set<uint16_t> unused;
  const std::map<int32_t, uint16_t> notes = NotesTable(&unused);
  std::map<int32_t, plat::WString> english;
  for (int32_t language = 0; language < kLanguageCount; ++language) {
    ASSERT_TRUE(IsLanguageLoaded(language)) << language;
    SetLanguage(language);
    for (const auto& [id, resource] : notes) {
      const plat::WString text = CResources::GetString(id);
      if (!unused.count(resource)) {
        EXPECT_FALSE(text.empty()) << "UI id " << id << " language " << language;
      }
      // The search-language codes go to the server as they stand.
      if (id >= 88 && id <= 129) {
        if (language == 0) english[id] = text;
        EXPECT_EQ(text, english[id]) << "UI id " << id << " language " << language;
      }
    }
  }
}

}  // namespace
