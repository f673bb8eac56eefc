#include "framework/Feedback.h"

#include <atomic>

#include "framework/AppUi.h"
#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"

namespace {

constexpr char16_t kVibeKey[] = u"ControlPanel\\VibeTonz";

CDeviceServices s_recorder;
std::atomic<CDeviceServices*> s_pServices{nullptr};

struct TFeedback {
  const char16_t* vibe;
  const char16_t* sound;
};
// Index = feedback id - 1.
constexpr TFeedback kFeedback[] = {
    {u"press.ivt", nullptr},
    {nullptr, u"02_List Enter.wav"},
    {u"release.ivt", nullptr},
    {u"itemSearch.ivt", nullptr},
    {u"listEnd.ivt", nullptr},
    {u"tap.ivt", u"26_Tap_touch.wav"},
    {u"release.ivt", u"25_Tap_take off.wav"},
    {nullptr, u"12_List Popup.wav"},
    {u"press.ivt", u"09_Play,Pause.wav"},
    {u"press.ivt", u"22_Cancel.wav"},
    {u"press.ivt", u"23_Select.wav"},
    {u"popup.ivt", u"13_Popup.wav"},
    {u"release.ivt", u"02_List Enter.wav"},
    {u"button.ivt", u"22_Cancel.wav"},
    {u"button.ivt", u"03_Toolbar.wav"},
};

uint32_t VibeSetting(const char16_t* name) {
  return plat::ReadDword(plat::HKEY_CURRENT_USER, kVibeKey, name).value_or(0);
}

}  // namespace

bool CDeviceServices::PlayVibration(plat::WStringView path) {
  Record("vibe " + plat::ToUtf8(path));
  return true;
}

bool CDeviceServices::PlaySoundByName(plat::WStringView name) {
  Record("sound " + plat::ToUtf8(name));
  return true;
}

void* CDeviceServices::SetPowerRequirement(plat::WStringView, uint32_t* pError) {
  std::lock_guard lock(m_lock);
  m_calls.push_back("power set");
  if (m_nFailNext) {
    if (pError) *pError = m_nFailNext;
    m_nFailNext = 0;
    return nullptr;
  }
  ++m_nHeld;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(0x100 + m_nHeld));
}

bool CDeviceServices::ReleasePowerRequirement(void* hRequirement) {
  std::lock_guard lock(m_lock);
  m_calls.push_back("power release");
  if (!hRequirement || m_nHeld == 0) return false;
  --m_nHeld;
  return true;
}

void CDeviceServices::SystemIdleTimerReset() { Record("idle"); }
void CDeviceServices::ShellIdleTimerReset() { Record("shell idle"); }
void CDeviceServices::SetSystemPowerStateOn() { Record("power on"); }

std::vector<std::string> CDeviceServices::Calls() const {
  std::lock_guard lock(m_lock);
  return m_calls;
}

void CDeviceServices::ClearCalls() {
  std::lock_guard lock(m_lock);
  m_calls.clear();
}

int32_t CDeviceServices::HeldRequirements() const {
  std::lock_guard lock(m_lock);
  return m_nHeld;
}

void CDeviceServices::Record(std::string line) {
  std::lock_guard lock(m_lock);
  m_calls.push_back(std::move(line));
}

CDeviceServices& DeviceServices() {
  CDeviceServices* p = s_pServices.load(std::memory_order_acquire);
  return p ? *p : s_recorder;
}

void SetDeviceServices(CDeviceServices* pServices) { s_pServices.store(pServices, std::memory_order_release); }

bool PlayHaptic(plat::WStringView path) {
  if (VibeSetting(u"TouchEvent") != 1 || VibeSetting(u"TouchVibeOn") == 0) return false;
  return DeviceServices().PlayVibration(path);
}

bool PlayTouchSound(plat::WStringView name) {
  if (VibeSetting(u"TouchSoundOn") == 0) return false;
  return DeviceServices().PlaySoundByName(name);
}

bool PlayFeedback(int32_t nId) {
  if (nId < 1 || nId > static_cast<int32_t>(std::size(kFeedback))) return false;
  const TFeedback& f = kFeedback[nId - 1];
  bool bResult = false;
  if (f.vibe) bResult = PlayHaptic(plat::WString(u"\\Windows\\") + f.vibe);
  if (f.sound) bResult = PlayTouchSound(f.sound);
  return bResult;
}

// ---------------------------------------------------------------------------
// The application's side: backlight and keep-awake.

void CAppUi::SetBacklightOn(bool bOn) {
  if (s_pInstance != this) QUOREL_PANIC(u"AppUi", 1883);
  if (bOn == m_bBacklightHeld) return;
  if (bOn) {
    uint32_t nError = 0;
    m_hBacklight = DeviceServices().SetPowerRequirement(u"BKL1:", &nError);
    if (m_hBacklight)
      DebugTrace(u"[QUOREL] * Backlight: power req set OK\n");
    else
      DebugTrace(u"[QUOREL] * Backlight: power req set error %d!\n", static_cast<int32_t>(nError));
  } else {
    if (DeviceServices().ReleasePowerRequirement(m_hBacklight))
      DebugTrace(u"[QUOREL] * Backlight: power req released OK\n");
    else
      DebugTrace(u"[QUOREL] * Backlight: power req released error!\n");
    m_hBacklight = nullptr;
  }
  m_bBacklightHeld = bOn;
}

void CAppUi::KeepDeviceAwake() {
  if (!m_hWnd || plat::GetForegroundWindow() != m_hWnd) return;
  DeviceServices().SystemIdleTimerReset();
  DeviceServices().ShellIdleTimerReset();
  if (plat::GetForegroundWindow() == m_hWnd) DeviceServices().SetSystemPowerStateOn();
}
