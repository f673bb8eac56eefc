#include "framework/AppRegistry.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace {

constexpr plat::WChar kAppKeyPath[] = u"SOFTWARE\\Orlamet\\Quorel";
// Read, set value, create and enumerate sub-keys, notify.
constexpr uint32_t kAppKeyAccess = 0x2001F;

// Open and close happen on the UI thread at start and end; readers on other
// threads only load the handle. A stale handle fails cleanly in the registry.
std::atomic<plat::HKEY> g_hAppKey{nullptr};
std::mutex g_openLock;

}  // namespace

long RegOpenAppKey() {
  std::lock_guard<std::mutex> guard(g_openLock);
  if (g_hAppKey.load()) return plat::ERROR_SUCCESS;
  plat::HKEY hKey = nullptr;
  long nResult = plat::RegCreateKeyEx(plat::HKEY_CURRENT_USER, kAppKeyPath, kAppKeyAccess, &hKey);
  if (nResult == plat::ERROR_SUCCESS) g_hAppKey.store(hKey);
  return nResult;
}

void RegCloseAppKey() {
  std::lock_guard<std::mutex> guard(g_openLock);
  if (plat::HKEY hKey = g_hAppKey.exchange(nullptr)) plat::RegCloseKey(hKey);
}

long RegSetAppString(plat::WStringView name, plat::WStringView value) {
  std::vector<uint8_t> bytes;
  bytes.reserve((value.size() + 1) * 2);
  for (plat::WChar c : value) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return plat::RegSetValueEx(g_hAppKey.load(), name, plat::REG_SZ, bytes.data(),
                             static_cast<uint32_t>(bytes.size()));
}

long RegSetAppDword(plat::WStringView name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return plat::RegSetValueEx(g_hAppKey.load(), name, plat::REG_DWORD, bytes, 4);
}

long RegSetAppBinary(plat::WStringView name, const uint8_t* data, uint32_t length) {
  return plat::RegSetValueEx(g_hAppKey.load(), name, plat::REG_BINARY, data, length);
}

uint32_t RegGetAppDword(plat::WStringView name) {
  uint32_t nType = plat::REG_NONE;
  std::vector<uint8_t> data;
  if (plat::RegQueryValueCopy(g_hAppKey.load(), name, &nType, data) != plat::ERROR_SUCCESS) return 0;
  if (nType != plat::REG_DWORD || data.size() != 4) return 0;
  return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

long RegGetAppString(plat::WStringView name, plat::WString& out) {
  out.clear();
  uint32_t nType = plat::REG_NONE;
  std::vector<uint8_t> data;
  // Size and bytes in one locked step: a writer on another thread cannot
  // change the value between asking its size and reading it.
  long nResult = plat::RegQueryValueCopy(g_hAppKey.load(), name, &nType, data);
  if (nResult != plat::ERROR_SUCCESS) return nResult;
  if (nType != plat::REG_SZ) return plat::ERROR_INVALID_DATA;
  out = plat::RegStringFromBytes(data);
  return plat::ERROR_SUCCESS;
}

bool RegAppValueExists(plat::WStringView name) {
  return plat::RegQueryValueEx(g_hAppKey.load(), name, nullptr, nullptr, nullptr) ==
         plat::ERROR_SUCCESS;
}
