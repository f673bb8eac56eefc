// Free functions the toolkit's classes share: the deceleration calculator and
// the one-axis move animation, touch feedback as the phone's settings allow
// it, the slide and the input panel, the memory figure and the HRESULT
// printer for error logs, the screen-size test and the panel search.
#pragma once

#include <cstdint>

#include "vy/VyCommon.h"

class CVyControl;
class CVyPanel;

// The smallest start speed k * minStep whose decelerating run (moves of
// v / 2, (v - m) / 2, ... while the speed is above 0) reaches the distance or
// ends within m / 2 of it; the search stops at 100000. A minStep below 1
// counts as 1.
int32_t CalcAnimationStep(int32_t nDistance, int32_t nMinStep);

// A one-axis move: speed (in doubled pixels), axis (1 horizontal), the end
// points of both axes, and whether it runs.
struct TMoveAnimation {
  int32_t nSpeed;
  int32_t nAxis;
  int32_t nTargetX;
  int32_t nTargetY;
  int32_t nStartX;
  int32_t nStartY;
  int32_t bActive;
};
void ResetMoveAnimation(TMoveAnimation* pAnim);
uint32_t InitMoveAnimation(TMoveAnimation* pAnim, int32_t nFrom, int32_t nTo, int32_t nAxis, int32_t nBoostPercent);
// One step of the position; 1 once finished. Overshoots by at most 15 pixels,
// springs back and snaps within 2.
int32_t StepMoveAnimation(TMoveAnimation* pAnim, int32_t* pPos);

// Touch feedback, read from the phone's settings at every call.
int32_t PlayHapticEffect(const plat::WChar* pwszFile);
int32_t PlayLumatapSound(const plat::WChar* pwszFile);
uint32_t GetSlideState();
int32_t UpdateSipForSlide(int32_t bShow);

uint32_t GetCurrentMemUsage();
CVyPanel* FindAncestorOfType(CVyControl* pControl);
void PrintHR(HRESULT hr);
int32_t IsLargeScreen();
