#include "framework/Trace.h"

#include "platform/base/Debug.h"

void WriteTraceRecord(plat::WStringView text) {
  if (text.size() > kMaxTraceUnits) {
    size_t nKeep = kMaxTraceUnits;
    plat::WChar cLast = text[nKeep - 1];
    if (cLast >= 0xD800 && cLast <= 0xDBFF) --nKeep;  // never half a pair
    text = text.substr(0, nKeep);
  }
  // The debug output writes each call as one record under its own lock, so
  // lines from different threads never interleave.
  plat::DebugWrite(text);
}
