// Memory queries the program makes of the system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Answers "bad" for a null pointer (with a non-empty range) only. A probe of the address range cannot
// tell freed heap memory from live memory (freed blocks stay mapped), so the
// answer "readable" would be a promise nobody can keep; code that may hold a
// dangling pointer has to clear it when the object goes away instead.
bool IsBadReadPtr(const void* p, size_t bytes);

// The resident set of this process in bytes, or 0 when it cannot be read.
uint64_t ProcessMemoryUsage();

}  // namespace plat
