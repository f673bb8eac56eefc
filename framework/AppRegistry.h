// The settings store: the application's one registry key and typed reads and
// writes of its values. What the values mean belongs to their users. Nothing
// here throws; failures come back as system result codes.
//
// The key is opened once at start-up and closed at shut-down. Reads and
// writes may come from any thread (the HTTP worker reads while the UI writes):
// the registry itself is locked, and each read takes the value in one locked
// step.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

// Creates or opens HKEY_CURRENT_USER "SOFTWARE\Orlamet\Quorel". Opening an
// already open key changes nothing and succeeds.
long RegOpenAppKey();
void RegCloseAppKey();

// A REG_SZ of (length + 1) * 2 bytes, terminator included.
long RegSetAppString(plat::WStringView name, plat::WStringView value);
long RegSetAppDword(plat::WStringView name, uint32_t value);
long RegSetAppBinary(plat::WStringView name, const uint8_t* data, uint32_t length);

// The stored REG_DWORD; 0 when the value is missing or is not a 4-byte DWORD.
uint32_t RegGetAppDword(plat::WStringView name);

// The stored text, up to its first NUL. A missing value empties `out` and
// returns the failure code; a value of another type empties it and returns
// ERROR_INVALID_DATA; a value under 2 bytes reads as empty text. An odd
// trailing byte is ignored.
long RegGetAppString(plat::WStringView name, plat::WString& out);

bool RegAppValueExists(plat::WStringView name);
