#include "framework/Feedback.h"


#include "framework/AppUi.h"
#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DeviceServices.h"

namespace {

constexpr char16_t kVibeKey[] = u"ControlPanel\\VibeTonz";

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

bool PlayHaptic(plat::WStringView path) {
  if (VibeSetting(u"TouchEvent") != 1 || VibeSetting(u"TouchVibeOn") == 0) return false;
  // The driver reads the path through the settings record: keep a
  // terminated copy alive across the call.
  plat::WString file(path);
  plat::LedSettings settings;
  settings.LedNum = plat::kVibrationLed;
  settings.OffOnBlink = 1;
  settings.MetaCycleOn = reinterpret_cast<intptr_t>(file.c_str());
  settings.MetaCycleOff = 999;
  return plat::NLedSetDevice(plat::NLED_SETTINGS_INFO_ID, settings);
}

bool PlayTouchSound(plat::WStringView name) {
  if (VibeSetting(u"TouchSoundOn") == 0) return false;
  return plat::PlaySound(name, nullptr, plat::SND_ASYNC);
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
    m_hBacklight = plat::SetPowerRequirement(u"BKL1:", plat::D0, plat::POWER_NAME);
    if (m_hBacklight)
      DebugTrace(u"[QUOREL] * Backlight: power req set OK\n");
    else
      DebugTrace(u"[QUOREL] * Backlight: power req set error %d!\n", static_cast<int32_t>(plat::GetLastError()));
  } else {
    if (m_hBacklight && plat::ReleasePowerRequirement(m_hBacklight) == plat::ERROR_SUCCESS)
      DebugTrace(u"[QUOREL] * Backlight: power req released OK\n");
    else
      DebugTrace(u"[QUOREL] * Backlight: power req released error!\n");
    m_hBacklight = nullptr;
  }
  m_bBacklightHeld = bOn;
}

void CAppUi::KeepDeviceAwake() {
  if (!m_hWnd || plat::GetForegroundWindow() != m_hWnd) return;
  plat::SystemIdleTimerReset();
  plat::SHIdleTimerReset();
  if (plat::GetForegroundWindow() == m_hWnd) plat::SetSystemPowerState(nullptr, plat::POWER_STATE_ON, 0);
}
