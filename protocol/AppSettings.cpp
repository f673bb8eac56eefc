#include "protocol/AppSettings.h"

#include <algorithm>

#include "framework/AppRegistry.h"

namespace {

int32_t g_currentLanguageIndex = 0;

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

// ---------------------------------------------------------------------------
// Settings object stand-in.

#include "framework/Trace.h"
#include "framework/basetypes.h"

namespace {

AppSettings* g_pSettings = nullptr;

AppSettings& Living() {
  if (!g_pSettings) QUOREL_PANIC(u"AppSettings", 1);
  return *g_pSettings;
}

}  // namespace

AppSettings::AppSettings() {
  if (g_pSettings) QUOREL_PANIC(u"AppSettings", 2);
  g_pSettings = this;
  DebugTrace(u"[QUOREL] AppSettings: stand-in, the settings object is not built yet\n");
}

AppSettings::~AppSettings() {
  if (g_pSettings == this) g_pSettings = nullptr;
}

AppSettings* GetAppSettings() { return g_pSettings; }
CSearchResults* AppSettings::GetResultModel() { return &Living().m_resultModel; }
int32_t* AppSettings::LangIndex() { return &Living().m_langIndex; }
int32_t* AppSettings::SearchMode() { return &Living().m_searchMode; }
int32_t* AppSettings::SavedSearchMode() { return &Living().m_savedSearchMode; }
std::vector<plat::WString>* AppSettings::LangCodes() { return &Living().m_langCodes; }
