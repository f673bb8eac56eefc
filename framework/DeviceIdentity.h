// The phone's identity as every server request states it: one line of
// application number and version, IMEI, IMSI, device id, model name and
// interface language, sent as the "User-Agent" of each request.
//
// CDeviceIdentity gathers the fields once at start-up (telephony, the device
// id service, the registry) and keeps the line. It is a counted singleton made
// on the UI thread; the line may be read from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "platform/base/Strings.h"

// The longest identity line, in UTF-16 units; a longer one is cut there
// without splitting a surrogate pair.
inline constexpr size_t kMaxIdentityLineUnits = 4095;

class CDeviceIdentity {
 public:
  // The first call makes and builds the identity; every call adds one
  // reference. UI thread.
  static CDeviceIdentity* Create();
  // Drops one reference, deleting the identity with the last; without an
  // identity nothing happens. UI thread.
  static void Destroy();
  // Empties the device id and builds again (after the interface language
  // changed). Other fields whose source fails keep their values. Without an
  // identity nothing happens. UI thread.
  static void Refresh();

  // A copy of the line, taken under the identity's lock: any thread.
  plat::WString GetIdentityLine() const;

 private:
  CDeviceIdentity() = default;
  void Build();

  mutable std::mutex m_lock;  // guards the four strings against Refresh
  plat::WString m_deviceId;   // lower-case hexadecimal
  plat::WString m_imei;
  plat::WString m_imsi;
  plat::WString m_line;
};

// The identity, or null.
CDeviceIdentity* GetDeviceIdentity();
// The identity's line, or empty without one; safe against a concurrent
// Destroy, which is how the HTTP layer's worker-side readers use it.
plat::WString CurrentIdentityLine();

// The device id as the line writes it: each byte in lower-case hexadecimal
// without a leading zero (0x0A is "a", 0x00 is "0"), concatenated.
plat::WString DeviceIdText(std::span<const uint8_t> id);

// HKLM "Ident" "OrigName" when it is a string (possibly empty), else
// "NonameDevice".
plat::WString GetDeviceName();

// UTF-8 conversions of text as it crosses into bytes; ill-formed input
// becomes U+FFFD. Neither counts a terminator.
std::string WideToUtf8(plat::WStringView text);
plat::WString Utf8ToWide(std::string_view text);

// Where the line's LANG field comes from: the language table installs its
// CurrentLanguageCode here; unset (or emptied), LANG is empty.
using TLanguageCodeSource = std::function<plat::WString()>;
void SetLanguageCodeSource(TLanguageCodeSource source);
