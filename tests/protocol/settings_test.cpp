// The settings object: its fills from the UI strings, the loaded-language
// walk, dialog captions, the theme model read from the device, registration
// and what its accessors do without it.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "NetTestUtil.h"
#include "ProtocolTestUtil.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"

namespace {

using plat::WString;

// Every UI string reads "<language>:<id>".
class NumberedText : public IStringSource {
 public:
  NumberedText(int32_t id, const WString* pLanguage) : m_id(id), m_pLanguage(pLanguage) {}
  void Get(WString& text) override { text = *m_pLanguage + u":" + plat::Widen(std::to_string(m_id)); }

 private:
  int32_t m_id;
  const WString* m_pLanguage;
};

WString Text(const char* language, int32_t id) { return plat::Widen(std::string(language) + ":" + std::to_string(id)); }

class SettingsTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    CResources::Create();
    for (int32_t id = 0; id <= 230; ++id) CResources::RegisterStringSource(id, new NumberedText(id, &m_language));
    SetLanguageLoadedSource([this](int32_t index) { return m_loaded.count(index) > 0; });
  }
  void TearDown() override {
    m_settings.reset();
    SetLanguageLoadedSource({});
    CResources::Destroy();
    SetThemeIndex(0);
    ProtocolTest::TearDown();
  }
  AppSettings& Make() {
    m_settings = std::make_unique<AppSettings>();
    return *m_settings;
  }
  static int32_t PanicLine(const std::function<void()>& f, WString* pSource = nullptr) {
    try {
      f();
    } catch (const TPanic& p) {
      if (pSource) *pSource = p.source ? p.source : u"";
      return p.line + 1000;
    }
    return 0;
  }

  nettest::TTestApp m_app;
  WString m_language = u"en";
  std::set<int32_t> m_loaded;
  std::unique_ptr<AppSettings> m_settings;
};

TEST_F(SettingsTest, InitMakesTheUserModelThenFillsFortyTwoPairsInOrder) {
  AppSettings& settings = Make();
  EXPECT_EQ(AppSettings::GetUserModel(), nullptr);
  settings.Init();
  ASSERT_NE(AppSettings::GetUserModel(), nullptr);
  const auto& codes = *AppSettings::LangCodes();
  const auto& labels = *AppSettings::LangLabels();
  ASSERT_EQ(codes.size(), 42u);
  ASSERT_EQ(labels.size(), 42u);
  const struct {
    int pair, code, label;
  } probes[] = {{1, 88, 131}, {6, 93, 136}, {7, 94, 139}, {29, 116, 161}, {30, 117, 163}, {42, 129, 175}};
  for (const auto& p : probes) {
    SCOPED_TRACE(p.pair);
    EXPECT_EQ(codes[p.pair - 1], Text("en", p.code));
    EXPECT_EQ(labels[p.pair - 1], Text("en", p.label));
  }
  for (int32_t id : {137, 138, 162})
    EXPECT_EQ(std::count(labels.begin(), labels.end(), Text("en", id)), 0) << id << " names an interface language only";
  std::set<WString> distinct(labels.begin(), labels.end());
  EXPECT_EQ(distinct.size(), 42u);
}

TEST_F(SettingsTest, TheInterfaceLanguageListHoldsTheLoadedLanguagesInIndexOrder) {
  struct Case {
    std::set<int32_t> loaded;
    int32_t current;
    std::vector<WString> labels;
    std::vector<int32_t> indexes;
    int32_t ordinal;
  };
  std::vector<WString> all;
  std::vector<int32_t> everyIndex;
  const int32_t table[] = {143, 147, 154, 148, 165, 159, 142, 140, 149, 168, 161,
                           146, 141, 160, 169, 162, 137, 138, 157, 173, 132, 135};
  for (int32_t i = 0; i < 22; ++i) {
    all.push_back(Text("en", table[i]));
    everyIndex.push_back(i);
  }
  const Case cases[] = {
      {{3, 7}, 7, {Text("en", 148), Text("en", 140)}, {3, 7}, 1},
      {{7, 3}, 3, {Text("en", 148), Text("en", 140)}, {3, 7}, 0},
      {{3, 7}, 5, {Text("en", 148), Text("en", 140)}, {3, 7}, 2},  // current not loaded: the count
      {{}, 0, {}, {}, 0},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, 21, all, everyIndex, 21},
  };
  AppSettings& settings = Make();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    m_loaded = c.loaded;
    *CurrentLanguageIndex() = c.current;
    settings.Init();
    EXPECT_EQ(*AppSettings::UiLanguages(), c.labels);
    EXPECT_EQ(*AppSettings::LanguageIndexList(settings), c.indexes);
    EXPECT_EQ(LoadedLanguageOrdinal(), c.ordinal);
  }
  SetLanguageLoadedSource({});
  settings.FillLanguageList();
  EXPECT_TRUE(AppSettings::UiLanguages()->empty()) << "without the language table nothing is loaded";
}

TEST_F(SettingsTest, RefillsFollowTheNewStringsAndAFailedFillKeepsTheLists) {
  m_loaded = {0, 21};
  AppSettings& settings = Make();
  settings.Init();
  m_language = u"fr";
  settings.FillChoiceLists();
  settings.FillLanguageList();
  EXPECT_EQ(AppSettings::LangCodes()->front(), Text("fr", 88));
  EXPECT_EQ(AppSettings::LangLabels()->back(), Text("fr", 175));
  EXPECT_EQ(*AppSettings::UiLanguages(), (std::vector<WString>{Text("fr", 143), Text("fr", 135)}));

  // A registry without string 175: error 1, and the lists stay whole.
  CResources::Destroy();
  CResources::Create();
  for (int32_t id = 0; id < 175; ++id) CResources::RegisterStringSource(id, new NumberedText(id, &m_language));
  m_language = u"de";
  try {
    settings.FillChoiceLists();
    ADD_FAILURE() << "no error";
  } catch (const Env::TSysErrorCode& e) {
    EXPECT_EQ(e.code, Env::ErrNotFound);
  }
  EXPECT_EQ(AppSettings::LangCodes()->size(), 42u);
  EXPECT_EQ(AppSettings::LangCodes()->front(), Text("fr", 88));
}

TEST_F(SettingsTest, DialogCaptions) {
  const std::pair<int32_t, int32_t> cases[] = {{103, 221}, {121, 222}, {152, 223}, {153, 225},
                                               {0, 224},   {7, 224},   {-1, 224},  {154, 224}};
  for (auto [kind, caption] : cases) EXPECT_EQ(DialogKindStringId(kind), caption) << kind;
}

TEST_F(SettingsTest, TheThemeModelIsReadNeverCreatedAndMatchedExactly) {
  auto rawName = [](std::vector<uint8_t> bytes, uint32_t type) {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyEx(plat::HKEY_LOCAL_MACHINE, u"Ident", plat::KEY_ALL_ACCESS, &key), 0);
    ASSERT_EQ(plat::RegSetValueEx(key, u"Name", type, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
    plat::RegCloseKey(key);
  };
  auto utf16 = [](const std::u16string& s, size_t extraBytes = 0) {
    std::vector<uint8_t> b(reinterpret_cast<const uint8_t*>(s.data()),
                           reinterpret_cast<const uint8_t*>(s.data()) + s.size() * 2);
    b.insert(b.end(), extraBytes, 0x41);
    return b;
  };
  struct Case {
    const char* what;
    std::function<void()> setUp;
    bool model;
  };
  const Case cases[] = {
      {"the key missing", [] {}, false},
      {"a DWORD", [] { plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name", 1); }, false},
      {"a REG_SZ of 0 bytes", [&] { rawName({}, plat::REG_SZ); }, false},
      {"a REG_SZ of 1 byte", [&] { rawName({'Q'}, plat::REG_SZ); }, false},
      {"an odd size short of the name", [&] { rawName(utf16(u"QT-M518", 1), plat::REG_SZ); }, false},
      {"an odd size past the name", [&] { rawName(utf16(u"QT-M5180", 1), plat::REG_SZ); }, true},
      {"binary bytes of the name", [&] { rawName(utf16(u"QT-M5180"), plat::REG_BINARY); }, false},
      {"the model, terminated", [] { plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"QT-M5180"); }, true},
      {"the model, unterminated", [&] { rawName(utf16(u"QT-M5180"), plat::REG_SZ); }, true},
      {"a trailing blank", [] { plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"QT-M5180 "); }, false},
      {"lower case", [] { plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"qt-m5180"); }, false},
      {"the Linux default", [] { plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"Linux"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    c.setUp();
    const std::string before = plat::DumpRegistry(plat::HKEY_LOCAL_MACHINE, false);
    EXPECT_EQ(IsDefaultThemeModel(), c.model);
    EXPECT_EQ(plat::DumpRegistry(plat::HKEY_LOCAL_MACHINE, false), before) << "nothing written";
    SetThemeIndex(7);
    {
      AppSettings settings;
      EXPECT_EQ(*AppSettings::ThemeIndex(), c.model ? 1 : 0);
      EXPECT_EQ(GetThemeIndex(), c.model ? 1u : 0u) << "the colours follow the settings";
      *AppSettings::ThemeIndex() = 2;
      EXPECT_EQ(GetThemeIndex(), 2u);
    }
    EXPECT_EQ(GetThemeIndex(), 7u) << "back to the stand-in";
  }
}

TEST_F(SettingsTest, InitialValuesAndAddressesThatWriteInPlace) {
  Make();
  EXPECT_EQ(GetAppSettings(), m_settings.get());
  EXPECT_EQ(*AppSettings::CurrentItem(), -1);
  EXPECT_EQ(*AppSettings::LangIndex(), 0);
  EXPECT_EQ(*AppSettings::ShowDetails(), 0);
  EXPECT_EQ(*AppSettings::ThemeIndex(), 0);
  EXPECT_TRUE(AppSettings::MessageTitle()->empty());
  EXPECT_TRUE(AppSettings::MessageText()->empty());
  EXPECT_TRUE(AppSettings::MessageUrl()->empty());
  EXPECT_EQ(*AppSettings::MessageRequired(), 0);
  EXPECT_EQ(*AppSettings::MessagePending(), 0u);
  EXPECT_EQ(*AppSettings::SearchMode(), 0);
  EXPECT_EQ(*AppSettings::SavedSearchMode(), 0);
  EXPECT_EQ(AppSettings::GetResultModel()->Page(), nullptr);
  EXPECT_TRUE(AppSettings::LangCodes()->empty());
  *AppSettings::CurrentItem() = 4;
  *AppSettings::SearchMode() = 1;
  *AppSettings::MessageText() = u"Hello";
  EXPECT_EQ(*AppSettings::CurrentItem(), 4);
  EXPECT_EQ(*AppSettings::SearchMode(), 1);
  EXPECT_EQ(*AppSettings::MessageText(), u"Hello");
}

TEST_F(SettingsTest, DeletedWithAModelMessageQueued) {
  Make().Init();
  AppSettings::GetUserModel()->GetTrackLyricsLink();  // no track id: fails at once
  EXPECT_FALSE(m_app.queue.IsEmpty());
  m_settings.reset();
  EXPECT_TRUE(m_app.queue.IsEmpty()) << "the kept message left the queue with the model";
  m_app.RunAll();
}

TEST_F(SettingsTest, WithoutSettingsTheAccessorsPanicByNameAndASecondObjectPanics) {
  EXPECT_EQ(GetAppSettings(), nullptr);
  const std::pair<const char16_t*, std::function<void()>> accessors[] = {
      {u"AppSettings::GetResultModel", [] { AppSettings::GetResultModel(); }},
      {u"AppSettings::CurrentItem", [] { AppSettings::CurrentItem(); }},
      {u"AppSettings::LangIndex", [] { AppSettings::LangIndex(); }},
      {u"AppSettings::ShowDetails", [] { AppSettings::ShowDetails(); }},
      {u"AppSettings::ThemeIndex", [] { AppSettings::ThemeIndex(); }},
      {u"AppSettings::MessageTitle", [] { AppSettings::MessageTitle(); }},
      {u"AppSettings::MessageText", [] { AppSettings::MessageText(); }},
      {u"AppSettings::MessageUrl", [] { AppSettings::MessageUrl(); }},
      {u"AppSettings::MessageRequired", [] { AppSettings::MessageRequired(); }},
      {u"AppSettings::MessagePending", [] { AppSettings::MessagePending(); }},
      {u"AppSettings::SearchMode", [] { AppSettings::SearchMode(); }},
      {u"AppSettings::SavedSearchMode", [] { AppSettings::SavedSearchMode(); }},
      {u"AppSettings::GetUserModel", [] { AppSettings::GetUserModel(); }},
      {u"AppSettings::LangCodes", [] { AppSettings::LangCodes(); }},
      {u"AppSettings::LangLabels", [] { AppSettings::LangLabels(); }},
      {u"AppSettings::UiLanguages", [] { AppSettings::UiLanguages(); }},
  };
  for (const auto& [name, call] : accessors) {
    WString source;
    EXPECT_NE(PanicLine(call, &source), 0) << plat::ToUtf8(name);
    EXPECT_EQ(source, name);
  }
  AppSettings& settings = Make();
  EXPECT_NE(PanicLine([] { AppSettings second; }), 0) << "one settings object at a time";
  EXPECT_EQ(GetAppSettings(), &settings);
  EXPECT_TRUE(AppSettings::LanguageIndexList(settings)->empty());
}

}  // namespace
