// Where the running program lies: its folder, and the storage card it sits
// on. Paths are the device's backslash paths.
#pragma once

#include "platform/base/Strings.h"

// The program's full path up to, not including, its last backslash, e.g.
// "\Program Files\Quorel". Join names to it with plat::JoinPath.
plat::WString GetModuleFolder();

// The name of the storage card that holds the program ("Storage Card"), or an
// empty string when it lies on the device's main storage. The program may sit
// anywhere on the card, its root included.
plat::WString FindStoreCardFolder();
