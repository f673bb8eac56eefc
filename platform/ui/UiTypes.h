// The window handle and message parameter types alone, for modules (GDI) that
// name windows without needing the window system's functions.
#pragma once

#include <cstdint>

namespace plat {

// An opaque window handle. It carries a generation: a handle of a destroyed
// window is recognised as such and never reaches a later window that reuses
// its slot. The lowest bit is never part of a handle (callers may set it as a
// flag, as the single-instance code does for SetForegroundWindow).
struct WindowTag;
using HWND = WindowTag*;

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

}  // namespace plat
