// The result screens as the program registers them.
#pragma once

#include <cstdint>

#include "framework/Control.h"

// The factory of view 4, 10, 11, 13, 14 or 15; null for any other.
CViewFactory* NewResultScreenFactory(int32_t nViewId);
