// A delegate that runs a function of no arguments: the history actions of
// the screens (stop the preview, go back to the user before).
#pragma once

#include "framework/wrappers.h"

template <void (*Function)()>
CDelegate FunctionDelegate() {
  return CDelegate(nullptr, nullptr, [](CDelegate*, void*, void*) { Function(); });
}
