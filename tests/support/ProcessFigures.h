// The figures a long run watches for growth: the process's resident memory
// (and how much of it the heap holds live or keeps free), descriptors,
// threads, and the platform's kernel and GDI objects. Read from /proc and
// the allocator; cheap enough for every few hundred steps.
#pragma once

#include <dirent.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"

namespace support {

struct TProcessFigures {
  long rssKb = 0;
  long rssAnonKb = 0;    // heap, stacks, anonymous maps
  long heapLiveKb = 0;   // what the allocator has handed out and not got back
  long heapFreeKb = 0;   // freed, kept by the allocator for reuse
  int fds = 0;
  int threads = 0;
  long handles = 0;      // platform kernel objects open
  long gdiObjects = 0;   // bitmaps, brushes, fonts, DCs (stock aside)
};

inline int CountFolderEntries(const char* folder) {
  int n = 0;
  if (DIR* d = opendir(folder)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

inline TProcessFigures SampleProcessFigures() {
  TProcessFigures r;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) r.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("RssAnon:", 0) == 0) r.rssAnonKb = std::atol(line.c_str() + 8);
    if (line.rfind("Threads:", 0) == 0) r.threads = std::atoi(line.c_str() + 8);
  }
  const struct mallinfo2 heap = mallinfo2();
  r.heapLiveKb = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
  r.heapFreeKb = static_cast<long>(heap.fordblks / 1024);
  r.fds = CountFolderEntries("/proc/self/fd");
  r.handles = static_cast<long>(plat::OpenHandleCount());
  r.gdiObjects = static_cast<long>(plat::GdiObjectCount());
  return r;
}

inline std::string FormatFigures(const TProcessFigures& f) {
  char line[256];
  std::snprintf(line, sizeof line,
                "RSS %ld kB (anonymous %ld kB; heap live %ld kB, kept free %ld kB), %d fds, %d threads, "
                "%ld handles, %ld GDI objects",
                f.rssKb, f.rssAnonKb, f.heapLiveKb, f.heapFreeKb, f.fds, f.threads, f.handles, f.gdiObjects);
  return line;
}

}  // namespace support
