// The device registry: two hives (current user, local machine) of keys that
// hold typed values, with the call shapes, result codes and size protocol the
// program is written against.
//
// Kept on disk as HKCU.reg and HKLM.reg, regedit-style text a person can edit
// while the program is not running. Every successful change rewrites its hive
// atomically (temporary file, fsync, rename, fsync of the folder), so a crash
// leaves either the old or the new hive. A change that cannot be saved fails
// with the error and leaves memory as it was, so what the program reads never
// disagrees with what the next start will read.
//
// The whole registry is one lock: any thread may call anything here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

namespace plat {

// An open key, or one of the two roots. Opened keys stay valid until
// RegCloseKey; the roots never need closing.
struct RegKeyTag;
using HKEY = RegKeyTag*;
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002u});

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

// Access masks are accepted and not enforced, as on the device.
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

// Sub-keys are backslash-separated; leading backslashes and one trailing
// backslash are ignored ("\ControlPanel\MotionSensor" is the same key as
// "ControlPanel\MotionSensor"); an empty name inside the path is refused.
// Key and value names compare case-insensitively and keep the case they were
// first given. `root` may be a root or an open key.
long RegCreateKeyEx(HKEY root, WStringView subKey, uint32_t access, HKEY* result,
                    uint32_t* disposition = nullptr);
// ERROR_FILE_NOT_FOUND when the key does not exist.
long RegOpenKeyEx(HKEY root, WStringView subKey, uint32_t access, HKEY* result);
long RegCloseKey(HKEY key);

// Size protocol: null `data` asks for the size in *size; a buffer smaller than
// the value gives ERROR_MORE_DATA with the needed size in *size (and the type);
// a missing value gives ERROR_FILE_NOT_FOUND. The empty name is the key's
// default value.
long RegQueryValueEx(HKEY key, WStringView name, uint32_t* type, uint8_t* data, uint32_t* size);
// The size query and the read as one locked step: a writer on another thread
// cannot slip in between. `data` receives exactly the stored bytes.
long RegQueryValueCopy(HKEY key, WStringView name, uint32_t* type, std::vector<uint8_t>& data);
// Stores exactly the bytes given, whatever the type (a REG_SZ is not required
// to be terminated or of even length; readers cope).
long RegSetValueEx(HKEY key, WStringView name, uint32_t type, const uint8_t* data, uint32_t size);
long RegDeleteValue(HKEY key, WStringView name);

// The text of REG_SZ bytes: floor(size / 2) UTF-16 units, up to the first NUL.
WString RegStringFromBytes(const std::vector<uint8_t>& data);

// Typed reads by path. Each needs its own type (REG_DWORD of exactly 4 bytes,
// REG_SZ, REG_BINARY) and gives nothing for a missing key or value or another
// type.
std::optional<uint32_t> ReadDword(HKEY root, WStringView key, WStringView name);
std::optional<WString> ReadString(HKEY root, WStringView key, WStringView name);
std::optional<std::vector<uint8_t>> ReadBinary(HKEY root, WStringView key, WStringView name);
// The shell's DWORD read: 0 for anything ReadDword gives nothing for.
uint32_t ShellReadDword(HKEY root, WStringView key, WStringView name);
// Writers for the platform's own settings and for tests; the key is created
// when missing. A string is stored with its terminator.
long WriteDword(HKEY root, WStringView key, WStringView name, uint32_t value);
long WriteString(HKEY root, WStringView key, WStringView name, WStringView value);
long WriteBinary(HKEY root, WStringView key, WStringView name, const std::vector<uint8_t>& value);

// Change notifications.
constexpr uint32_t REG_NOTIFY_CHANGE_NAME = 0x1;      // a sub-key was created
constexpr uint32_t REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2;
constexpr uint32_t REG_NOTIFY_CHANGE_LAST_SET = 0x4;  // a value was set or deleted
constexpr uint32_t REG_NOTIFY_CHANGE_SECURITY = 0x8;

// A manual-reset event, waitable with the kernel's waits together with any
// other handle, signalled by every change in this process that the filter
// selects, on the key itself or, with `subtree`, anywhere below it. It stays
// signalled until CeFindNextRegChange. INVALID_HANDLE_VALUE on failure, with
// the reason in GetLastError (ERROR_INVALID_HANDLE for a bad key,
// ERROR_INVALID_PARAMETER for an empty or unknown filter).
Handle CeFindFirstRegChange(HKEY key, bool subtree, uint32_t filter);
// Re-arms (resets) the notification.
bool CeFindNextRegChange(Handle notification);
bool CeFindCloseRegChange(Handle notification);
// What to wait on in place of a notification for a key that could not be
// opened: never signalled; CeFindNextRegChange and CeFindCloseRegChange accept
// it like a real notification.
Handle CreateStandInRegChange();

// Called, outside the registry lock and on the writing thread, after a value
// was created, changed, or deleted (a set that stores the same type and bytes
// again is no change). Once UnregisterValueObserver returns, the callback is
// not running on another thread and is not called again.
// 0 for a bad root, path or an empty callback.
using RegObserverId = uint64_t;
RegObserverId RegisterValueObserver(HKEY root, WStringView key, WStringView name,
                                    std::function<void()> callback);
bool UnregisterValueObserver(RegObserverId id);

struct RegistryConfig {
  // Holds HKCU.reg and HKLM.reg (created on the first save). Empty: memory
  // only, nothing is read or written.
  std::filesystem::path folder;
  // Values in it are merged in for values that are absent; they never
  // overwrite and are not written to a hive unless the program sets them.
  std::filesystem::path defaultsFile;
  // More defaults as text, merged after the file (the test harness's seed).
  std::string defaultsText;
};
// Drops everything (open keys, notifications, observers) and starts over with
// `config`; the hives are loaded on first use.
void ConfigureRegistry(RegistryConfig config);
// Back to an empty, memory-only registry without defaults.
void ResetRegistryForTests();

// A hive as text in the file format. With `includeDefaults` false, exactly
// what a save writes.
std::string DumpRegistry(HKEY root, bool includeDefaults = true);

// Lets a test make a save fail at a chosen step: the hook returns a result
// code, non-zero for "this step fails". An empty function removes the hook.
enum class RegistrySaveStep { WriteTemp, SyncTemp, Rename };
void SetRegistrySaveHookForTests(std::function<uint32_t(RegistrySaveStep)> hook);

}  // namespace plat
