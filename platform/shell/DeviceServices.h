// The device services the program asks the shell for besides the menu bar:
// the input panel, power requirements and idle timers, and feedback
// (vibration effects and touch sounds).
//
// Nothing here drives hardware. Each service keeps the state a device would
// be in, which tests read back; the desktop backend looks at the backlight
// requirement to hold off the screensaver. All calls are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/module/Module.h"

namespace plat {

// ---- Input panel ----------------------------------------------------------

constexpr uint32_t SIPF_OFF = 0x0;
constexpr uint32_t SIPF_ON = 0x1;

struct SipInfo {
  uint32_t cbSize = 0;  // set by the caller
  uint32_t fdwFlags = 0;
  Rect rcVisibleDesktop;  // the screen above the panel (or the bar) that stays usable
  Rect rcSipRect;         // where the panel sits, whether it shows or not
  uint32_t dwImDataSize = 0;
  void* pvImData = nullptr;
};
// Callers built for the device pass the size they know; everything up to the
// input-method data is what they can rely on being filled.
constexpr uint32_t kSipInfoMinSize = static_cast<uint32_t>(offsetof(SipInfo, dwImDataSize));

// False with ERROR_INVALID_PARAMETER for a null record or a size that does not
// cover the rectangles.
bool SipGetInfo(SipInfo* info);
// SIPF_ON shows the panel, SIPF_OFF hides it; any other value is refused with
// ERROR_INVALID_PARAMETER and changes nothing.
bool SipShowIM(uint32_t flags);

// ---- Power ----------------------------------------------------------------

enum DevicePowerState : int32_t { D0 = 0, D1 = 1, D2 = 2, D3 = 3, D4 = 4 };
constexpr uint32_t POWER_NAME = 0x1;
constexpr uint32_t POWER_FORCE = 0x1000;
constexpr uint32_t POWER_STATE_ON = 0x00010000;

constexpr uint32_t PPN_REEVALUATESTATE = 1;
constexpr uint32_t PPN_POWERCHANGE = 2;
constexpr uint32_t PPN_UNATTENDEDMODE = 3;

// A held requirement. Distinct from kernel handles: CloseHandle does not
// take it, ReleasePowerRequirement does.
struct PowerRequirementTag;
using HPowerRequirement = PowerRequirementTag*;

// Null with the last error for an empty device name (ERROR_INVALID_PARAMETER),
// a state outside D0..D4 (ERROR_INVALID_PARAMETER), or an injected failure.
HPowerRequirement SetPowerRequirement(WStringView device, DevicePowerState state, uint32_t flags);
// ERROR_SUCCESS, or ERROR_INVALID_HANDLE for something that is not a held
// requirement (including one already released).
uint32_t ReleasePowerRequirement(HPowerRequirement requirement);
// Unattended mode is counted: each "on" needs its "off". An "off" with no
// "on" outstanding is refused (false, ERROR_INVALID_PARAMETER). Other
// notifications are accepted and only counted.
bool PowerPolicyNotify(uint32_t message, bool on);
void SystemIdleTimerReset();
void SHIdleTimerReset();
// Records the request; ERROR_SUCCESS.
uint32_t SetSystemPowerState(const WChar* name, uint32_t state, uint32_t flags);

// Makes every following SetPowerRequirement fail with `error` until it is
// called again with 0.
void InjectPowerRequirementFailure(uint32_t error);

struct PowerRecord {
  int backlightHeld = 0;  // requirements on "BKL1:" held now
  int audioHeld = 0;      // requirements on "WAV1:" held now
  int heldTotal = 0;      // every requirement held now
  int requirementsSet = 0;
  int requirementsReleased = 0;
  int unattended = 0;  // outstanding "on" notifications
  int policyNotifications = 0;
  int systemIdleResets = 0;
  int shellIdleResets = 0;
  int systemPowerStateCalls = 0;
  WString lastSystemPowerStateName;
  uint32_t lastSystemPowerState = 0;
  uint32_t lastSystemPowerStateFlags = 0;
};
PowerRecord CurrentPowerRecord();
// Whether anything holds the backlight on now.
bool BacklightRequired();

// ---- Feedback -------------------------------------------------------------

constexpr uint32_t NLED_SETTINGS_INFO_ID = 2;
// A request the device has no such thing for.
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
// The LED number of the vibration device, which takes an effect file.
constexpr uint32_t kVibrationLed = 10;

struct LedSettings {
  uint32_t LedNum = 0;
  int32_t OffOnBlink = 0;
  int32_t TotalCycleTime = 0;
  int32_t OnTime = 0;
  int32_t OffTime = 0;
  // For the vibration device: the address of the effect file's
  // zero-terminated virtual path.
  intptr_t MetaCycleOn = 0;
  int32_t MetaCycleOff = 0;
};

// Only the settings record (id 2) for the vibration device is understood:
// other ids give ERROR_NOT_SUPPORTED, other LEDs ERROR_INVALID_PARAMETER.
// The effect is recorded and the call is true when its file exists; a
// missing file or a null path gives false (ERROR_FILE_NOT_FOUND).
bool NLedSetDevice(uint32_t id, const LedSettings& settings);

constexpr uint32_t SND_SYNC = 0x0;
constexpr uint32_t SND_ASYNC = 0x1;
constexpr uint32_t SND_NODEFAULT = 0x2;
constexpr uint32_t SND_FILENAME = 0x20000;

// The name is a virtual path, or failing that a file in "\Windows". A sound
// that resolves is recorded and the call is true; otherwise false with
// ERROR_FILE_NOT_FOUND and nothing recorded. An empty name stops the sound
// that plays (recorded as a stop) and is true. The module is not used: the
// program's sounds are files.
bool PlaySound(WStringView name, ModuleHandle module, uint32_t flags);

struct FeedbackEvent {
  enum class Kind { Vibration, Sound, SoundStop } kind = Kind::Sound;
  WString name;                // as the caller gave it
  std::filesystem::path file;  // what it resolved to
  uint32_t flags = 0;
};
// The newest requests, oldest first; at most kKeptFeedbackEvents.
constexpr size_t kKeptFeedbackEvents = 256;
std::vector<FeedbackEvent> FeedbackEvents();

// ---- Other shell calls ----------------------------------------------------

// The extra controls are the platform's own; nothing to register.
bool SHInitExtraControls();

// Puts the input panel, power and feedback records back to a fresh device
// (held requirements are dropped, the failure injection cleared). Tests.
void ResetDeviceServices();

}  // namespace plat
