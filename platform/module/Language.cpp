// The device's user-interface language, taken from the host locale unless
// the device settings (or a test) pin it.
#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/module/Module.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr uint16_t kEnglish = 0x0409;

// -1 when no override is set, else the language.
std::atomic<int32_t> g_override{-1};

struct LocaleRow {
  const char* language;
  const char* country;  // nullptr: any country
  uint16_t id;
};

// The languages the program ships, most specific rows first.
constexpr LocaleRow kLocales[] = {
    {"en", nullptr, 0x0409}, {"fr", nullptr, 0x040C}, {"it", nullptr, 0x0410},
    {"de", nullptr, 0x0407}, {"ru", nullptr, 0x0419}, {"nb", nullptr, 0x0414},
    {"no", nullptr, 0x0414}, {"nl", nullptr, 0x0413}, {"cs", nullptr, 0x0405},
    {"el", nullptr, 0x0408}, {"es", nullptr, 0x0C0A}, {"pt", "BR", 0x0416},
    {"pt", nullptr, 0x0816}, {"fi", nullptr, 0x040B}, {"da", nullptr, 0x0406},
    {"pl", nullptr, 0x0415}, {"sv", nullptr, 0x041D}, {"zh", "CN", 0x0804},
    {"zh", "TW", 0x0404}, {"ko", nullptr, 0x0412}, {"tr", nullptr, 0x041F},
    {"ar", nullptr, 0x0401}, {"ca", nullptr, 0x0403},
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

uint16_t LanguageFromLocale(std::string_view locale) {
  // language[_COUNTRY][.codeset][@modifier]
  locale = locale.substr(0, locale.find_first_of(".@"));
  const size_t underscore = locale.find('_');
  const std::string language = Lower(locale.substr(0, underscore));
  const std::string country =
      underscore == std::string_view::npos ? std::string() : Upper(locale.substr(underscore + 1));
  for (const LocaleRow& row : kLocales) {
    if (language != row.language) continue;
    if (row.country && country != row.country) continue;
    return row.id;
  }
  return kEnglish;
}

void SetUILanguageOverride(std::optional<uint16_t> language) {
  g_override.store(language ? int32_t{*language} : -1);
}

uint16_t GetSystemDefaultUILanguage() {
  if (const int32_t pinned = g_override.load(); pinned >= 0) return static_cast<uint16_t>(pinned);
  if (auto configured = ReadDword(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage");
      configured && (*configured & 0xFFFF) != 0)
    return static_cast<uint16_t>(*configured & 0xFFFF);
  // The first of these that is set and non-empty decides, as for any
  // program reading its message language.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return LanguageFromLocale(value);
  }
  return kEnglish;
}

}  // namespace plat
