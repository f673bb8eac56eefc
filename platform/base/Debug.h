// The debug output: every trace line of the program and the platform ends up
// here. The default sink writes UTF-8 to stderr and, when $QUOREL_LOG names a
// file, appends there too; tests install their own sink to capture lines.
#pragma once

#include <functional>

#include "platform/base/Format.h"
#include "platform/base/Strings.h"

namespace plat {

using DebugSink = std::function<void(WStringView text)>;

// Writes one record atomically with respect to other writers. Never throws:
// a failing sink loses the record, not the caller's work.
void DebugWrite(WStringView text) noexcept;

// Installs a sink (an empty function restores the default) and returns the
// previous one. The sink is called under the output lock, one call per record;
// debug output the sink itself causes goes to the default output instead of
// deadlocking, and SetDebugSink called from inside a sink changes nothing and
// hands `sink` back.
DebugSink SetDebugSink(DebugSink sink);

// The kernel debug printf: formats (see Format.h) without a length limit and
// writes the result as one record.
template <class... A>
void DebugPrintf(WStringView fmt, const A&... args) noexcept {
  try {
    DebugWrite(FormatW(fmt, args...));
  } catch (...) {
    // Out of memory while formatting: the line is lost, the caller goes on.
  }
}

}  // namespace plat
