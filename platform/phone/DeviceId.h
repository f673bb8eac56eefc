// The device unique id: 20 bytes that identify this device to one
// application. It is the SHA-1 of the device's own secret followed by the
// application's data, so one application always gets the same id and two
// applications get unrelated ones.
//
// The secret is HKLM "Platform\Linux" "DeviceId" (REG_SZ, as UTF-8). When it
// is absent or empty, 20 random bytes are written there once, as 40 lower-case
// hexadecimal digits, so every device root is a phone of its own and nothing
// identifying the host ever leaves it. A value someone configured is used as
// it stands.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace plat {

// False with ERROR_INVALID_PARAMETER as the last error for a version other
// than 1 or fewer than 8 bytes of application data (the device's minimum);
// ERROR_NOT_ENOUGH_QUOTA when the system gives no random bytes for a new
// secret. `out` is only written on success. A new secret that cannot be saved is kept for the
// rest of the run (traced), so the id is still given and stays the same.
bool GetDeviceUniqueId(std::span<const uint8_t> appData, uint32_t version, std::array<uint8_t, 20>& out);

}  // namespace plat
