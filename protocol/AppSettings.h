// The recognition subsystem's registry values: the four feature switches the
// server turns on and off, and the search length limits. All live under the
// application key (framework/AppRegistry.h), which must be open.
#pragma once

#include <cstdint>

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

// ---------------------------------------------------------------------------
// Stand-in for the settings object until it is built: only the state the
// search flow reads and writes. It registers itself for GetAppSettings while
// it lives and traces that it is a stand-in.
#include <vector>

#include "platform/base/Strings.h"
#include "protocol/SearchResults.h"

class AppSettings {
 public:
  AppSettings();
  virtual ~AppSettings();
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  // The members of the living settings object; none living is TPanic.
  static CSearchResults* GetResultModel();
  static int32_t* LangIndex();
  static int32_t* SearchMode();
  static int32_t* SavedSearchMode();
  static std::vector<plat::WString>* LangCodes();

 private:
  CSearchResults m_resultModel;
  int32_t m_langIndex = 0;
  int32_t m_searchMode = 0;
  int32_t m_savedSearchMode = 0;
  std::vector<plat::WString> m_langCodes;
};

// The living settings object, or null.
AppSettings* GetAppSettings();
