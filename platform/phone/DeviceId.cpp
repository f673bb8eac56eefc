#include "platform/phone/DeviceId.h"

#include <sys/random.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include <nettle/sha1.h>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr char16_t kKey[] = u"Platform\\Linux";
constexpr char16_t kValue[] = u"DeviceId";

std::mutex g_lock;
// A secret made in this run whose save failed: it stands for the value until
// one is stored.
std::optional<WString> g_unsaved;

bool RandomBytes(uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = getrandom(out + got, n - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<size_t>(r);
  }
  return true;
}

// The stored secret, or a new one stored now. Under g_lock, so two threads
// asking at once agree on one secret.
std::optional<WString> Secret() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (auto stored = ReadString(HKEY_LOCAL_MACHINE, kKey, kValue); stored && !stored->empty()) return stored;
  if (g_unsaved) {
    // Saved as soon as the registry takes it again.
    if (WriteString(HKEY_LOCAL_MACHINE, kKey, kValue, *g_unsaved) == 0) return std::exchange(g_unsaved, std::nullopt);
    return g_unsaved;
  }
  uint8_t bytes[20];
  if (!RandomBytes(bytes, sizeof bytes)) return std::nullopt;
  static const char16_t digits[] = u"0123456789abcdef";
  WString secret;
  for (uint8_t b : bytes) {
    secret += digits[b >> 4];
    secret += digits[b & 15];
  }
  if (long error = WriteString(HKEY_LOCAL_MACHINE, kKey, kValue, secret); error != 0) {
    DebugPrintf(u"[PLATFORM] device id not saved (error %ld); kept for this run\n", error);
    g_unsaved = secret;
  }
  return secret;
}

}  // namespace

bool GetDeviceUniqueId(std::span<const uint8_t> appData, uint32_t version, std::array<uint8_t, 20>& out) {
  if (version != 1 || appData.size() < 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::optional<WString> secret = Secret();
  if (!secret) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  const std::string machine = ToUtf8(*secret);
  sha1_ctx sha;
  sha1_init(&sha);
  sha1_update(&sha, machine.size(), reinterpret_cast<const uint8_t*>(machine.data()));
  sha1_update(&sha, appData.size(), appData.data());
  static_assert(SHA1_DIGEST_SIZE == 20);
  sha1_digest(&sha, out.size(), out.data());
  return true;
}

}  // namespace plat
