// The program's entry point, which the platform's main() calls once the device
// (file system, registry, display) is ready. Supplied by the program.
#pragma once

#include "platform/base/Strings.h"
#include "platform/module/Module.h"

int WinMain(plat::ModuleHandle instance, plat::ModuleHandle previous, const plat::WChar* commandLine,
            int showCommand);
