#include "platform/base/Memory.h"

#include <unistd.h>

#include <cstdio>

namespace plat {

// An empty range is never bad, as on the device.
bool IsBadReadPtr(const void* p, size_t bytes) { return p == nullptr && bytes != 0; }

uint64_t ProcessMemoryUsage() {
  // statm: total program size, then resident pages.
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long total = 0, resident = 0;
  int fields = std::fscanf(f, "%llu %llu", &total, &resident);
  std::fclose(f);
  long page = sysconf(_SC_PAGESIZE);
  if (fields != 2 || page <= 0) return 0;
  return static_cast<uint64_t>(resident) * static_cast<uint64_t>(page);
}

}  // namespace plat
