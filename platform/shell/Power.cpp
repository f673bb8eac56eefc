// Power requirements and idle timers. The desktop has no backlight or audio
// power to switch, so the calls keep the state the device would be in; the
// desktop backend reads BacklightRequired to hold off the screensaver.
#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/base/Errors.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/ShellState.h"

namespace plat {

struct PowerRequirementTag {
  WString device;  // upper case, as compared
  DevicePowerState state = D0;
};

namespace {

constexpr WChar kBacklight[] = u"BKL1:";
constexpr WChar kAudio[] = u"WAV1:";

struct PowerState {
  std::mutex lock;
  // Owned here; a handle is only ever looked up, never dereferenced before
  // it is found, so a stale or forged one is refused safely.
  std::unordered_map<PowerRequirementTag*, std::unique_ptr<PowerRequirementTag>> held;
  uint32_t injectedError = 0;
  PowerRecord record;
};

PowerState& State() {
  static PowerState* state = new PowerState;  // callers may run during exit
  return *state;
}

WString Upper(WStringView s) {
  WString out(s);
  for (WChar& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<WChar>(c - u'a' + u'A');
  return out;
}

void Count(PowerRecord& r, const WString& device, int delta) {
  if (device == kBacklight) r.backlightHeld += delta;
  if (device == kAudio) r.audioHeld += delta;
  r.heldTotal += delta;
}

}  // namespace

void shell_detail::ResetPower() {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.held.clear();
  s.injectedError = 0;
  s.record = PowerRecord{};
}

HPowerRequirement SetPowerRequirement(WStringView device, DevicePowerState state, uint32_t) {
  if (device.empty() || state < D0 || state > D4) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.injectedError != 0) {
    SetLastError(s.injectedError);
    return nullptr;
  }
  auto entry = std::make_unique<PowerRequirementTag>();
  entry->device = Upper(device);
  entry->state = state;
  HPowerRequirement handle = entry.get();
  Count(s.record, entry->device, +1);
  ++s.record.requirementsSet;
  s.held.emplace(handle, std::move(entry));
  return handle;
}

uint32_t ReleasePowerRequirement(HPowerRequirement requirement) {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.held.find(requirement);
  if (it == s.held.end()) return ERROR_INVALID_HANDLE;
  Count(s.record, it->second->device, -1);
  ++s.record.requirementsReleased;
  s.held.erase(it);
  return ERROR_SUCCESS;
}

bool PowerPolicyNotify(uint32_t message, bool on) {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (message == PPN_UNATTENDEDMODE) {
    if (!on && s.record.unattended == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    s.record.unattended += on ? 1 : -1;
  }
  ++s.record.policyNotifications;
  return true;
}

void SystemIdleTimerReset() {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.systemIdleResets;
}

void SHIdleTimerReset() {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.shellIdleResets;
}

uint32_t SetSystemPowerState(const WChar* name, uint32_t state, uint32_t flags) {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.systemPowerStateCalls;
  s.record.lastSystemPowerStateName = name ? WString(name) : WString();
  s.record.lastSystemPowerState = state;
  s.record.lastSystemPowerStateFlags = flags;
  return ERROR_SUCCESS;
}

void InjectPowerRequirementFailure(uint32_t error) {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.injectedError = error;
}

PowerRecord CurrentPowerRecord() {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.record;
}

bool BacklightRequired() {
  PowerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.record.backlightHeld > 0;
}

bool SHInitExtraControls() { return true; }

void ResetDeviceServices() {
  shell_detail::ResetSip();
  shell_detail::ResetPower();
  shell_detail::ResetFeedback();
}

}  // namespace plat
