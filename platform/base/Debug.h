// The debug output: every trace line of the program and the platform ends up
// here. The default sink writes UTF-8 to stderr and, when $QUOREL_LOG names a
// file, appends there too; tests install their own sink to capture lines.
#pragma once

#include <functional>

#include "platform/base/Strings.h"

namespace plat {

using DebugSink = std::function<void(WStringView text)>;

// Writes one record atomically with respect to other writers.
void DebugWrite(WStringView text);

// Installs a sink (an empty function restores the default) and returns the
// previous one. The sink is called under the output lock, one call per record.
DebugSink SetDebugSink(DebugSink sink);

}  // namespace plat
