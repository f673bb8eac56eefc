// Telephony: the phone's lines, their identity (IMEI and IMSI) and the
// notice of an incoming call.
//
// There is no modem here, so the lines are simulated. By default the device
// has one line named "Cellular Line" with the IMEI and IMSI of HKLM
// "Platform\Linux" "IMEI" / "IMSI" (REG_SZ; absent = empty, which reads as a
// phone without a SIM). Tests configure other devices. An incoming call can be
// injected at any time (SimulateIncomingCall): every line of that device that
// is open with monitor privilege gets LINE_APPNEWCALL on its session's
// telephony thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/base/Strings.h"

namespace plat {

constexpr uint32_t LINE_APPNEWCALL = 23;
constexpr uint32_t LINECALLPRIVILEGE_MONITOR = 0x2;
constexpr uint32_t kTelephonyApiVersion = 0x20000;

struct TelSessionTag;
using TelSession = TelSessionTag*;
struct LineTag;
using LineHandle = LineTag*;

enum class LinePrivilege { None, Monitor };

struct GeneralInfo {
  WString serial;      // IMEI
  WString subscriber;  // IMSI
};

// (line handle as a number, message, the instance given to Open, param1,
// param2, param3). For LINE_APPNEWCALL: 0 (address), a call id, and
// LINECALLPRIVILEGE_MONITOR.
using LineCallback = std::function<void(uintptr_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                                        uintptr_t param2, uintptr_t param3)>;

namespace Telephony {

// A session (line application). With an empty callback no messages are
// delivered (the program's identity query needs none); with one, messages
// run on the session's own telephony thread. Null when the configuration
// says the service fails or the thread cannot be made.
TelSession Initialize(LineCallback callback);
uint32_t DeviceCount(TelSession session);
// The version agreed for `device` within [low, high]: the highest the
// device supports (0x20000) not above `high`; nothing when that is below
// `low`, the device does not negotiate, or the device does not exist.
std::optional<uint32_t> NegotiateVersion(TelSession session, uint32_t device, uint32_t low, uint32_t high);
// The line's name; nothing when its capabilities cannot be read.
std::optional<WString> LineName(TelSession session, uint32_t device);
// Null for an unknown session or device.
LineHandle Open(TelSession session, uint32_t device, LinePrivilege privilege, uintptr_t instance);
std::optional<GeneralInfo> GetGeneralInfo(LineHandle line);
bool Close(LineHandle line);
// Closes the session's lines. Once it returns no callback of the session is
// running or will run (called from inside a callback, it returns at once and
// the session ends when that callback returns).
bool Shutdown(TelSession session);

}  // namespace Telephony

struct SimLineDevice {
  WString name = u"Cellular Line";
  bool negotiates = true;
  bool capabilities = true;
  bool opens = true;  // false: Open of this device fails
};

struct TelephonyConfig {
  std::vector<SimLineDevice> devices{SimLineDevice{}};
  WString imei;
  WString imsi;
  bool initializes = true;  // false: Initialize fails (no telephony service)
  bool generalInfo = true;  // false: GetGeneralInfo fails on every line
};

// Replaces the devices (nothing: back to the default device, IMEI and IMSI
// from the registry). Sessions already open keep the devices they saw.
void ConfigureTelephony(std::optional<TelephonyConfig> config);

// Delivers LINE_APPNEWCALL to every line of `device` open with monitor
// privilege, in every session. Returns how many lines were told.
int SimulateIncomingCall(uint32_t device);

}  // namespace plat
