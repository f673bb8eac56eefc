// The settings object every screen reads (AppSettings), and the recognition
// subsystem's registry values: the four feature switches the server turns on
// and off, and the search length limits. The registry values live under the
// application key (framework/AppRegistry.h), which must be open.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/base/Strings.h"
#include "protocol/SearchResults.h"

class CHTTPUserModel;

// An absent switch reads as on; a stored DWORD reads as (value != 0).
bool IsAMGEnabled();      // "isAMG": the licence logo
bool IsVideoEnabled();    // "isVideo"
bool IsLyricsEnabled();   // "isLyrics"
bool IsPreviewEnabled();  // "isPreview"

// Store DWORD 1 or 0.
void SetAMGEnabled(bool bEnabled);
void SetVideoEnabled(bool bEnabled);
void SetLyricsEnabled(bool bEnabled);
void SetPreviewEnabled(bool bEnabled);

// Registry value names of the search length limits, in seconds.
inline constexpr char16_t kMinimumSearchLength[] = u"minimum_search_length";
inline constexpr char16_t kMaximumSearchLength[] = u"maximum_search_length";
// Limits the update reply clamps both values to.
inline constexpr int32_t kShortestSearchSeconds = 5;
inline constexpr int32_t kLongestSearchSeconds = 30;

// The longest recording a search may take, in seconds: 30 when
// "maximum_search_length" is absent or 0, otherwise the stored value clamped
// to 5..30.
int32_t MaxSearchLengthSeconds();

// The current interface language index (0 to 21), a program-wide word that
// the language table keeps; 18 is Korean.
int32_t* CurrentLanguageIndex();

// Whether the module of interface language `index` (0 to 21) is loaded: the
// language table installs its IsLanguageLoaded here. Unset, none is.
using TLanguageLoadedSource = std::function<bool(int32_t index)>;
void SetLanguageLoadedSource(TLanguageLoadedSource source);

// The number of interface languages.
inline constexpr int32_t kUiLanguageCount = 22;
// The search-language pairs of the choice lists.
inline constexpr int32_t kSearchLanguageCount = 42;

// The position of the current interface language among the loaded ones; the
// number of loaded languages when the current one is not loaded.
int32_t LoadedLanguageOrdinal();

// True on the device model "QT-M5180": HKLM "Ident" "Name" as a REG_SZ, read
// (never created), equal to it exactly.
bool IsDefaultThemeModel();

// The caption string of a message dialog of the kind: 103 -> 221,
// 121 -> 222, 152 -> 223, 153 -> 225, any other -> 224.
int32_t DialogKindStringId(int32_t nKind);

// The state the screens and the search flow share while the program runs.
// One lives at a time: it registers itself for GetAppSettings while it lives
// (a second one panics) and installs its theme index for the theme colours.
// UI thread only.
class AppSettings {
 public:
  AppSettings();
  virtual ~AppSettings();  // the user model, then the lists, messages and results
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  // Start-up: the user model, then both fills.
  void Init();
  // Empty and refill from the current UI strings (again after the interface
  // language changed). An unregistered string is error 1, and the lists
  // then keep what they held.
  void FillChoiceLists();
  void FillLanguageList();

  // Addresses of the members of the live settings, read and written in
  // place. Without settings each throws TPanic naming itself.
  static CSearchResults* GetResultModel();
  static int32_t* CurrentItem();
  static int32_t* LangIndex();
  static uint8_t* ShowDetails();
  static int32_t* ThemeIndex();
  static plat::WString* MessageTitle();
  static plat::WString* MessageText();
  static plat::WString* MessageUrl();
  static uint8_t* MessageRequired();
  static uint32_t* MessagePending();
  static int32_t* SearchMode();
  static int32_t* SavedSearchMode();
  static std::vector<plat::WString>* LangCodes();
  static std::vector<plat::WString>* LangLabels();
  static std::vector<plat::WString>* UiLanguages();
  // The user model itself (null before Init).
  static CHTTPUserModel* GetUserModel();
  // The language index of each entry of UiLanguages.
  static std::vector<int32_t>* LanguageIndexList(AppSettings& settings);

 private:
  static AppSettings& Live(const char16_t* pAccessor);

  CSearchResults m_resultModel;
  int32_t m_currentItem = -1;
  int32_t m_langIndex = 0;
  uint8_t m_showDetails = 0;
  int32_t m_themeIndex = 0;
  plat::WString m_messageTitle;
  plat::WString m_messageText;
  plat::WString m_messageUrl;
  uint8_t m_messageRequired = 0;
  uint32_t m_messagePending = 0;
  int32_t m_searchMode = 0;  // 0 Sing, 1 Grab
  int32_t m_savedSearchMode = 0;
  CHTTPUserModel* m_userModel = nullptr;  // owned
  std::vector<plat::WString> m_langCodes;
  std::vector<plat::WString> m_langLabels;
  std::vector<plat::WString> m_uiLanguageNames;
  std::vector<int32_t> m_uiLanguageIndexes;
};

// The live settings object, or null.
AppSettings* GetAppSettings();
