#include "platform/base/Debug.h"
#include "platform/entry/Entry.h"

int WinMain(plat::ModuleHandle, plat::ModuleHandle, const plat::WChar*, int) {
  // The window system is not there yet: say so and leave cleanly.
  plat::DebugWrite(u"[QUOREL] Quorel 1.6.57 started; no display yet, exiting\n");
  return 0;
}
