// Resource modules: the main pack and the language packs beside the program.
#pragma once

namespace plat {

// An opaque reference to a loaded module; null means none.
struct ModuleTag;
using ModuleHandle = ModuleTag*;

}  // namespace plat
