// The interface languages: the table of the 22 language modules beside the
// program, the choice of the interface language at start-up and on the
// user's request, and the string source of every UI string id (0 to 230).
//
// Every text of every loaded language is copied out of the modules at
// start-up, so a language switch and every read are plain copies and the
// texts outlive the modules. UI thread.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "framework/Resources.h"
#include "platform/base/Strings.h"

inline constexpr int32_t kLanguageCount = 22;
// The default index while no module is loaded.
inline constexpr int32_t kNoLanguage = 22;
inline constexpr int32_t kUiStringCount = 231;

// A text that is the same in every language.
class CConstString : public IStringSource {
 public:
  explicit CConstString(plat::WString text) : m_text(std::move(text)) {}
  void Get(plat::WString& rText) override { rText = m_text; }

 private:
  plat::WString m_text;
};

// One string resource in every loaded language; reads give the current
// language's text, empty where that module lacks the resource (there is no
// fall-back to another language).
class CLocalizedString : public IStringSource {
 public:
  explicit CLocalizedString(uint16_t nResourceId) : m_nResourceId(nResourceId) {}
  // Copies the resource's text out of every loaded module.
  void Load();
  void Get(plat::WString& rText) override;

 private:
  uint16_t m_nResourceId;
  std::array<plat::WString, kLanguageCount> m_texts;
};

// Loads every module of the table that is present, frees any loaded before,
// and makes the first one loaded the default language. True when at least
// one loaded.
bool LoadLanguageModules();

// Start-up: loads the modules (none is error 7), chooses the phone's
// interface language when its module is loaded, else the default, stores
// the choice in "app_language" and selects it, then registers a source for
// every UI string id with CResources, which must exist.
void RegisterUiStrings();

// Selects language `nIndex` (0 to 21; anything else panics) and stores its
// code in "app_language".
void SetLanguage(int32_t nIndex);

bool IsLanguageLoaded(int32_t nIndex);
// The code of the current language ("EN", "pt_BR", ...) as the server and
// the identity line expect it.
plat::WString CurrentLanguageCode();

// Frees the modules, last row first. The registered texts stay valid.
void FreeLanguageModules();

// The first loaded row, or kNoLanguage.
int32_t DefaultLanguageIndex();
// The row's code and module file name; empty outside 0 to 21.
plat::WStringView LanguageCode(int32_t nIndex);
plat::WStringView LanguageModuleFile(int32_t nIndex);

// The string resource behind a UI string id; 0 for the fixed texts and for
// ids outside 0 to 230.
uint16_t UiStringResourceId(int32_t nId);
