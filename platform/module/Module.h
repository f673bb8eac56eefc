// Resource modules: the main pack and the language packs beside the program.
//
// A module is a resource pack file (see PackFormat.h) loaded whole into memory.
// Loading the same path again shares the loaded module and counts a reference;
// the memory stays until the last FreeLibrary, so views and spans handed out
// by the lookups below remain valid until then.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/module/PackFormat.h"

namespace plat {

// An opaque reference to a loaded module; null means none.
struct ModuleTag;
using ModuleHandle = ModuleTag*;

constexpr uint16_t RT_MENU = pack::kTypeMenu;
constexpr uint16_t RT_STRING = pack::kTypeString;
constexpr uint16_t RT_ACCELERATOR = pack::kTypeAccelerator;
constexpr uint16_t RT_RCDATA = pack::kTypeRcData;

// A resource type: a number (RT_RCDATA) or a name ("IIMAGE", compared
// without regard to case).
class ResType {
 public:
  ResType(uint16_t number) : m_number(number) {}
  ResType(WStringView name) : m_name(name) {}
  ResType(const WChar* name) : m_name(name ? name : u"") {}

  bool IsNamed() const { return !m_name.empty(); }
  uint16_t Number() const { return m_number; }
  WStringView Name() const { return m_name; }

 private:
  uint16_t m_number = 0;
  WString m_name;
};

// Loads the pack at a virtual path. Returns null with the last error set:
// the file system's code when the file cannot be opened (ERROR_FILE_NOT_FOUND
// for a missing file) or ERROR_BAD_FORMAT when the file is not a sound pack.
ModuleHandle LoadLibrary(WStringView virtualPath);
// Drops one reference; false with ERROR_INVALID_HANDLE for a handle that is
// not loaded (null, already freed, never issued).
bool FreeLibrary(ModuleHandle module);

// The program's own module (the instance WinMain receives). Start-up loads the
// main pack and registers it here; the registration holds no reference of its
// own. A null module handle given to the lookups below means this module.
ModuleHandle MainModule();
void SetMainModule(ModuleHandle module);

// The raw bytes of a resource (the find, load, lock and size calls in one).
// Absent: nullopt with ERROR_RESOURCE_NAME_NOT_FOUND, or ERROR_INVALID_HANDLE
// for a module that is not loaded.
std::optional<std::span<const uint8_t>> FindResource(ModuleHandle module, const ResType& type,
                                                     uint16_t id);

// The zero-buffer string load: a view onto the counted text in the module's
// memory. It is not NUL-terminated; its size is the stored count.
std::optional<WStringView> LoadStringRef(ModuleHandle module, uint16_t id);

// The copying string load: copies at most cap - 1 units and terminates.
// Returns the units copied (without the terminator); 0 when the string is
// absent, empty, or buf/cap leave no room. Never splits a surrogate pair.
int LoadString(ModuleHandle module, uint16_t id, WChar* buf, int cap);

constexpr uint16_t FVIRTKEY = pack::kAccelVirtKey;
constexpr uint16_t FNOINVERT = pack::kAccelNoInvert;
constexpr uint16_t FSHIFT = pack::kAccelShift;
constexpr uint16_t FCONTROL = pack::kAccelControl;
constexpr uint16_t FALT = pack::kAccelAlt;

struct Accelerator {
  uint16_t flags = 0;
  uint16_t key = 0;
  uint16_t command = 0;
  bool operator==(const Accelerator&) const = default;
};
struct Accelerators {
  std::vector<Accelerator> entries;  // may be empty: a valid table that translates nothing
};

struct MenuItem {
  uint16_t command = 0;
  WString text;
  bool operator==(const MenuItem&) const = default;
};
struct MenuTemplate {
  std::vector<MenuItem> items;
};

// Tables from the module; nullopt (with the last error set as for
// FindResource) when the module has no such table.
std::optional<Accelerators> LoadAccelerators(ModuleHandle module, uint16_t id);
std::optional<MenuTemplate> LoadMenu(ModuleHandle module, uint16_t id);

// The user-interface language of the device: the test override when set, else
// HKLM "Platform\Linux" "UILanguage" when present and non-zero, else the
// host locale (LC_ALL, LC_MESSAGES, LANG) mapped onto the program's language
// table; anything unknown gives 0x0409.
uint16_t GetSystemDefaultUILanguage();
void SetUILanguageOverride(std::optional<uint16_t> language);
// The locale mapping alone, for a locale name such as "pt_BR.UTF-8".
uint16_t LanguageFromLocale(std::string_view locale);

}  // namespace plat
