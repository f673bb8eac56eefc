// Touch feedback: vibration effects and short sounds from the device, as the
// user's touch settings allow.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

// Plays feedback 1-15: the vibration first, then the sound; returns the
// result of the last one played. Other ids do nothing and return false.
bool PlayFeedback(int32_t nId);
// Only when touch vibration is on in the settings.
bool PlayHaptic(plat::WStringView path);
// Only when touch sounds are on; does not depend on the vibration settings.
bool PlayTouchSound(plat::WStringView name);
