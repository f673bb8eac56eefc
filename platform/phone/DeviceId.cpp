#include "platform/phone/DeviceId.h"

#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nettle/sha1.h>

#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

std::mutex g_lock;
std::filesystem::path g_testPath;

std::optional<std::string> ReadTrimmed(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  const char* blanks = " \t\r\n";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return std::nullopt;
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

std::optional<std::string> MachineId() {
  if (auto configured = ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId");
      configured && !configured->empty())
    return ToUtf8(*configured);
  std::vector<std::filesystem::path> paths;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_testPath.empty()) paths.push_back(g_testPath);
  }
  if (paths.empty()) paths = {"/etc/machine-id", "/var/lib/dbus/machine-id"};
  for (const auto& path : paths)
    if (auto id = ReadTrimmed(path)) return id;
  return std::nullopt;
}

}  // namespace

bool GetDeviceUniqueId(std::span<const uint8_t> appData, uint32_t version, std::array<uint8_t, 20>& out) {
  if (version != 1 || appData.size() < 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::optional<std::string> machine = MachineId();
  if (!machine) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  sha1_ctx sha;
  sha1_init(&sha);
  sha1_update(&sha, machine->size(), reinterpret_cast<const uint8_t*>(machine->data()));
  sha1_update(&sha, appData.size(), appData.data());
  static_assert(SHA1_DIGEST_SIZE == 20);
  sha1_digest(&sha, out.size(), out.data());
  return true;
}

void SetMachineIdPathForTests(std::filesystem::path path) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_testPath = std::move(path);
}

}  // namespace plat
