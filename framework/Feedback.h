// Touch feedback (vibration effects and short sounds) and the device's power
// services. The device side is a small seam: this build keeps a record of
// what was asked (effect paths, sound names, power requirements, idle-timer
// resets) that tests read and a backend may act on.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Strings.h"

class CDeviceServices {
 public:
  virtual ~CDeviceServices() = default;
  // The vibration driver plays an effect file (LED 10, state 1).
  virtual bool PlayVibration(plat::WStringView path);
  // Asynchronous, by name; a missing sound fails silently.
  virtual bool PlaySoundByName(plat::WStringView name);
  // A handle, or null with the reason in *pError.
  virtual void* SetPowerRequirement(plat::WStringView device, uint32_t* pError);
  virtual bool ReleasePowerRequirement(void* hRequirement);
  virtual void SystemIdleTimerReset();
  virtual void ShellIdleTimerReset();
  virtual void SetSystemPowerStateOn();

  // What was asked, one line per call ("vibe <path>", "sound <name>",
  // "power set", "power release", "idle", "shell idle", "power on").
  std::vector<std::string> Calls() const;
  void ClearCalls();
  int32_t HeldRequirements() const;
  // Makes the next power requirement fail with the code (0: succeed).
  void FailNextRequirement(uint32_t nError) { m_nFailNext = nError; }

 protected:
  void Record(std::string line);

 private:
  mutable std::mutex m_lock;
  std::vector<std::string> m_calls;
  int32_t m_nHeld = 0;
  uint32_t m_nFailNext = 0;
};

CDeviceServices& DeviceServices();
// Null puts the built-in recorder back; the caller keeps ownership.
void SetDeviceServices(CDeviceServices* pServices);

// Plays feedback 1-15: the vibration first, then the sound; returns the
// result of the last one played. Other ids do nothing and return false.
bool PlayFeedback(int32_t nId);
// Only when touch vibration is on in the settings.
bool PlayHaptic(plat::WStringView path);
// Only when touch sounds are on; does not depend on the vibration settings.
bool PlayTouchSound(plat::WStringView name);
