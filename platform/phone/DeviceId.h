// The device unique id: 20 bytes that identify this device to one
// application. It is the SHA-1 of the machine's id followed by the
// application's data, so one application always gets the same id and two
// applications get unrelated ones.
//
// The machine's id is HKLM "Platform\Linux" "DeviceId" (REG_SZ, as UTF-8)
// when that is set and not empty, else the host's machine-id file
// (/etc/machine-id, then /var/lib/dbus/machine-id; surrounding blanks
// trimmed).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>

namespace plat {

// False with the last error: ERROR_INVALID_PARAMETER for a version other
// than 1 or fewer than 8 bytes of application data (the device's minimum),
// ERROR_FILE_NOT_FOUND when there is no machine id at all. `out` is only
// written on success.
bool GetDeviceUniqueId(std::span<const uint8_t> appData, uint32_t version, std::array<uint8_t, 20>& out);

// Reads the machine id from `path` instead of the host's files (empty: the
// host's files again).
void SetMachineIdPathForTests(std::filesystem::path path);

}  // namespace plat
