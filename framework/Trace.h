// The application's debug trace. Every line the program writes goes through
// DebugTrace; callers write the "[QUOREL] " prefix and the line feed.
#pragma once

#include <cstddef>

#include "platform/base/Format.h"
#include "platform/base/Strings.h"

// Longest trace record in UTF-16 units. A longer one is cut there (one unit
// earlier where the cut would split a surrogate pair), and so loses its line
// feed.
inline constexpr size_t kMaxTraceUnits = 255;

// Writes one trace record to the debug output, cut by the same rule.
void WriteTraceRecord(plat::WStringView text);

// Formats by the wide printf rules and writes the result as one record, safe
// from any thread.
template <class... A>
void DebugTrace(plat::WStringView format, const A&... args) {
  WriteTraceRecord(plat::FormatWCut(kMaxTraceUnits, format, args...));
}
