#include "vy/VyUtil.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "platform/base/Memory.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DeviceServices.h"
#include "vy/VyControl.h"
#include "vy/VyPanel.h"

namespace {

constexpr int32_t kMaxAnimationStep = 100000;
constexpr const plat::WChar* kVibeKey = u"ControlPanel\\VibeTonz";

bool TouchEventOn() { return plat::ShellReadDword(plat::HKEY_CURRENT_USER, kVibeKey, u"TouchEvent") == 1; }

}  // namespace

int32_t CalcAnimationStep(int32_t nDistance, int32_t nMinStep) {
  const int64_t m = std::max(nMinStep, 1);
  if (m >= kMaxAnimationStep) return int32_t(m);
  // The run of v + m is the run of v with one more move, (v + m) / 2, in front.
  int64_t v = m;
  int64_t run = v / 2;
  while (true) {
    if (run >= nDistance || std::llabs(run - nDistance) <= m / 2) return int32_t(v);
    if (v >= kMaxAnimationStep) return int32_t(v);
    v += m;
    run += v / 2;
  }
}

void ResetMoveAnimation(TMoveAnimation* pAnim) {
  if (pAnim) *pAnim = TMoveAnimation{};
}

uint32_t InitMoveAnimation(TMoveAnimation* pAnim, int32_t nFrom, int32_t nTo, int32_t nAxis, int32_t nBoostPercent) {
  pAnim->nAxis = nAxis;
  if (nAxis == 1) {
    pAnim->nTargetX = nTo;
    pAnim->nStartX = nFrom;
  } else {
    pAnim->nTargetY = nTo;
    pAnim->nStartY = nFrom;
  }
  int32_t nSpeed = CalcAnimationStep(std::abs(nTo - nFrom), 5);
  if (nBoostPercent > 0) nSpeed += nSpeed * nBoostPercent / 100;
  const uint32_t nUnsigned = uint32_t(nSpeed);
  pAnim->nSpeed = nTo < nFrom ? -nSpeed : nSpeed;
  pAnim->bActive = 1;
  return nUnsigned;
}

int32_t StepMoveAnimation(TMoveAnimation* pAnim, int32_t* pPos) {
  if (!pAnim->bActive) return 1;
  const int32_t target = pAnim->nAxis == 1 ? pAnim->nTargetX : pAnim->nTargetY;
  const int32_t start = pAnim->nAxis == 1 ? pAnim->nStartX : pAnim->nStartY;
  int32_t& pos = *pPos;
  if (pos == target) return 1;
  pos += pAnim->nSpeed / 2;
  if (pAnim->nSpeed >= 5)
    pAnim->nSpeed -= 5;
  else if (pAnim->nSpeed <= -5)
    pAnim->nSpeed += 5;
  else
    pAnim->nSpeed = 0;
  if (start > target && pos < target) {
    if (target - pos > 15) pos = target - 15;
    pAnim->nSpeed = CalcAnimationStep(target - pos, 5);
    if (std::abs(target - pos) < 3) pos = target;
    return 0;
  }
  if (start < target && pos > target) {
    if (pos - target > 15) pos = target + 15;
    pAnim->nSpeed = -CalcAnimationStep(pos - target, 5);
  }
  if (std::abs(target - pos) < 3) pos = target;
  return 0;
}

int32_t PlayHapticEffect(const plat::WChar* pwszFile) {
  if (!TouchEventOn()) return 0;
  if (plat::ShellReadDword(plat::HKEY_CURRENT_USER, kVibeKey, u"TouchVibeOn") == 0) return 0;
  plat::WChar buffer[512] = {};
  for (size_t i = 0; pwszFile && i < 511 && pwszFile[i]; ++i) buffer[i] = pwszFile[i];
  plat::LedSettings settings;
  settings.LedNum = plat::kVibrationLed;
  settings.OffOnBlink = 1;
  settings.MetaCycleOn = reinterpret_cast<intptr_t>(buffer);
  settings.MetaCycleOff = 999;
  plat::NLedSetDevice(plat::NLED_SETTINGS_INFO_ID, settings);
  return 1;
}

int32_t PlayLumatapSound(const plat::WChar* pwszFile) {
  if (!TouchEventOn()) return 0;
  if (plat::ShellReadDword(plat::HKEY_CURRENT_USER, kVibeKey, u"TouchSoundOn") == 0) return 0;
  const bool bRet = plat::PlaySound(pwszFile ? plat::WStringView(pwszFile) : plat::WStringView(), nullptr,
                                    plat::SND_ASYNC);
  CBR_RET(bRet, 1);
  return 1;
}

uint32_t GetSlideState() {
  return plat::ShellReadDword(plat::HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState");
}

int32_t UpdateSipForSlide(int32_t bShow) {
  plat::SipInfo info;
  info.cbSize = sizeof info;
  plat::SipGetInfo(&info);
  if (bShow) {
    if (GetSlideState() == 0) {
      plat::SipShowIM(plat::SIPF_ON);
      return 1;
    }
    return 0;
  }
  if (info.fdwFlags & plat::SIPF_ON) {
    plat::SipShowIM(plat::SIPF_OFF);
    return 1;
  }
  return 0;
}

uint32_t GetCurrentMemUsage() {
  return uint32_t(std::min<uint64_t>(plat::ProcessMemoryUsage(), std::numeric_limits<uint32_t>::max()));
}

CVyPanel* FindAncestorOfType(CVyControl* pControl) {
  for (CVyControl* p = pControl ? pControl->GetParent() : nullptr; p; p = p->GetParent())
    if (auto* pPanel = dynamic_cast<CVyPanel*>(p)) return pPanel;
  return nullptr;
}

void PrintHR(HRESULT hr) {
  VY_LOG(u"%s", plat::FormatSystemMessage(uint32_t(hr)));
  VY_LOG(u"ERROR:%d CurrentMemUsage:%d\n", hr, GetCurrentMemUsage());
}

int32_t IsLargeScreen() {
  return std::min(plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN)) > 240;
}
