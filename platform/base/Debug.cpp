#include "platform/base/Debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plat {
namespace {

std::mutex& OutputLock() {
  static std::mutex lock;
  return lock;
}

DebugSink& CurrentSink() {
  static DebugSink sink;
  return sink;
}

void WriteDefault(WStringView text) {
  std::string line = ToUtf8(text);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  if (const char* path = std::getenv("QUOREL_LOG"); path && *path) {
    if (FILE* f = std::fopen(path, "ab")) {
      std::fwrite(line.data(), 1, line.size(), f);
      std::fclose(f);
    }
  }
}

}  // namespace

void DebugWrite(WStringView text) {
  std::lock_guard<std::mutex> guard(OutputLock());
  if (CurrentSink())
    CurrentSink()(text);
  else
    WriteDefault(text);
}

DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> guard(OutputLock());
  DebugSink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

}  // namespace plat
