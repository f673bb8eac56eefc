#include "protocol/AppSettings.h"

#include <algorithm>
#include <utility>

#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "platform/registry/Registry.h"
#include "protocol/HTTPUserModel.h"

namespace {

int32_t g_currentLanguageIndex = 0;
AppSettings* g_pSettings = nullptr;
TLanguageLoadedSource g_languageLoaded;

bool LanguageLoaded(int32_t index) { return g_languageLoaded && g_languageLoaded(index); }

// The label string of each interface language, by language index.
constexpr int32_t kUiLanguageLabels[kUiLanguageCount] = {143, 147, 154, 148, 165, 159, 142, 140, 149, 168, 161,
                                                          146, 141, 160, 169, 162, 137, 138, 157, 173, 132, 135};

// The code and label strings of search-language pair 1 to 42. The label ids
// skip 137, 138 and 162, which name interface languages only.
int32_t SearchLanguageCodeId(int32_t pair) { return 87 + pair; }
int32_t SearchLanguageLabelId(int32_t pair) { return pair <= 6 ? 130 + pair : pair <= 29 ? 132 + pair : 133 + pair; }

bool SwitchOn(plat::WStringView name) {
  return !RegAppValueExists(name) || RegGetAppDword(name) != 0;
}

void SetSwitch(plat::WStringView name, bool bEnabled) {
  // A failed write leaves the old setting; nothing better can be done here.
  RegSetAppDword(name, bEnabled ? 1 : 0);
}

}  // namespace

bool IsAMGEnabled() { return SwitchOn(u"isAMG"); }
bool IsVideoEnabled() { return SwitchOn(u"isVideo"); }
bool IsLyricsEnabled() { return SwitchOn(u"isLyrics"); }
bool IsPreviewEnabled() { return SwitchOn(u"isPreview"); }

void SetAMGEnabled(bool bEnabled) { SetSwitch(u"isAMG", bEnabled); }
void SetVideoEnabled(bool bEnabled) { SetSwitch(u"isVideo", bEnabled); }
void SetLyricsEnabled(bool bEnabled) { SetSwitch(u"isLyrics", bEnabled); }
void SetPreviewEnabled(bool bEnabled) { SetSwitch(u"isPreview", bEnabled); }

int32_t MaxSearchLengthSeconds() {
  // The store reads an absent value as 0, which would allow no recording at
  // all; both mean "no limit from the server".
  const uint32_t stored = RegGetAppDword(kMaximumSearchLength);
  if (stored == 0) return kLongestSearchSeconds;
  return static_cast<int32_t>(std::clamp<uint32_t>(stored, kShortestSearchSeconds, kLongestSearchSeconds));
}

int32_t* CurrentLanguageIndex() { return &g_currentLanguageIndex; }

void SetLanguageLoadedSource(TLanguageLoadedSource source) { g_languageLoaded = std::move(source); }

int32_t LoadedLanguageOrdinal() {
  const int32_t current = *CurrentLanguageIndex();
  int32_t ordinal = 0;
  for (int32_t index = 0; index < kUiLanguageCount; ++index) {
    if (!LanguageLoaded(index)) continue;
    if (index == current) break;
    ++ordinal;
  }
  return ordinal;
}

bool IsDefaultThemeModel() {
  // Read only: opening the key to create it would write the hive on every
  // start of a device without it.
  return plat::ReadString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"Name") == plat::WString(u"QT-M5180");
}

int32_t DialogKindStringId(int32_t nKind) {
  switch (nKind) {
    case 103: return 221;
    case 121: return 222;
    case 152: return 223;
    case 153: return 225;
    default: return 224;
  }
}

// ---------------------------------------------------------------------------
// AppSettings

AppSettings::AppSettings() {
  if (g_pSettings) QUOREL_PANIC(u"AppSettings", 1);
  m_themeIndex = IsDefaultThemeModel() ? 1 : 0;
  g_pSettings = this;
  SetThemeIndexSource(&m_themeIndex);
}

AppSettings::~AppSettings() {
  delete std::exchange(m_userModel, nullptr);
  if (g_pSettings == this) {
    SetThemeIndexSource(nullptr);
    g_pSettings = nullptr;
  }
}

void AppSettings::Init() {
  if (!m_userModel) m_userModel = CHTTPUserModel::Create();
  FillChoiceLists();
  FillLanguageList();
}

void AppSettings::FillChoiceLists() {
  std::vector<plat::WString> codes, labels;
  codes.reserve(kSearchLanguageCount);
  labels.reserve(kSearchLanguageCount);
  for (int32_t pair = 1; pair <= kSearchLanguageCount; ++pair) {
    codes.push_back(CResources::GetString(SearchLanguageCodeId(pair)));
    labels.push_back(CResources::GetString(SearchLanguageLabelId(pair)));
  }
  m_langCodes = std::move(codes);
  m_langLabels = std::move(labels);
}

void AppSettings::FillLanguageList() {
  std::vector<plat::WString> names;
  std::vector<int32_t> indexes;
  for (int32_t index = 0; index < kUiLanguageCount; ++index) {
    if (!LanguageLoaded(index)) continue;
    names.push_back(CResources::GetString(kUiLanguageLabels[index]));
    indexes.push_back(index);
  }
  m_uiLanguageNames = std::move(names);
  m_uiLanguageIndexes = std::move(indexes);
}

AppSettings& AppSettings::Live(const char16_t* pAccessor) {
  // Callers write through the addresses: without settings there is nothing
  // to write to, which is a broken invariant, not a null to dereference.
  if (!g_pSettings) throw TPanic{nullptr, pAccessor, 0};
  return *g_pSettings;
}

CSearchResults* AppSettings::GetResultModel() { return &Live(u"AppSettings::GetResultModel").m_resultModel; }
int32_t* AppSettings::CurrentItem() { return &Live(u"AppSettings::CurrentItem").m_currentItem; }
int32_t* AppSettings::LangIndex() { return &Live(u"AppSettings::LangIndex").m_langIndex; }
uint8_t* AppSettings::ShowDetails() { return &Live(u"AppSettings::ShowDetails").m_showDetails; }
int32_t* AppSettings::ThemeIndex() { return &Live(u"AppSettings::ThemeIndex").m_themeIndex; }
plat::WString* AppSettings::MessageTitle() { return &Live(u"AppSettings::MessageTitle").m_messageTitle; }
plat::WString* AppSettings::MessageText() { return &Live(u"AppSettings::MessageText").m_messageText; }
plat::WString* AppSettings::MessageUrl() { return &Live(u"AppSettings::MessageUrl").m_messageUrl; }
uint8_t* AppSettings::MessageRequired() { return &Live(u"AppSettings::MessageRequired").m_messageRequired; }
uint32_t* AppSettings::MessagePending() { return &Live(u"AppSettings::MessagePending").m_messagePending; }
int32_t* AppSettings::SearchMode() { return &Live(u"AppSettings::SearchMode").m_searchMode; }
int32_t* AppSettings::SavedSearchMode() { return &Live(u"AppSettings::SavedSearchMode").m_savedSearchMode; }
std::vector<plat::WString>* AppSettings::LangCodes() { return &Live(u"AppSettings::LangCodes").m_langCodes; }
std::vector<plat::WString>* AppSettings::LangLabels() { return &Live(u"AppSettings::LangLabels").m_langLabels; }
std::vector<plat::WString>* AppSettings::UiLanguages() { return &Live(u"AppSettings::UiLanguages").m_uiLanguageNames; }
CHTTPUserModel* AppSettings::GetUserModel() { return Live(u"AppSettings::GetUserModel").m_userModel; }
std::vector<int32_t>* AppSettings::LanguageIndexList(AppSettings& settings) { return &settings.m_uiLanguageIndexes; }

AppSettings* GetAppSettings() { return g_pSettings; }
