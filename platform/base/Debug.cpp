#include "platform/base/Debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

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

// Set while this thread runs the sink, so that a sink which traces does not
// wait for the lock it already holds.
thread_local bool t_inSink = false;

// The log file stays open between records; it is reopened when $QUOREL_LOG
// changes. A path that cannot be opened is not retried on every line.
struct LogFile {
  std::string path;
  FILE* file = nullptr;
};

LogFile& Log() {
  static LogFile log;
  return log;
}

void WriteDefault(WStringView text) {
  std::string line = ToUtf8(text);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);

  const char* env = std::getenv("QUOREL_LOG");
  std::string_view path = env ? env : "";
  LogFile& log = Log();
  if (path != log.path) {
    if (log.file) std::fclose(log.file);
    log.path = path;
    log.file = path.empty() ? nullptr : std::fopen(log.path.c_str(), "ab");
  }
  if (log.file) {
    std::fwrite(line.data(), 1, line.size(), log.file);
    std::fflush(log.file);
  }
}

}  // namespace

void DebugWrite(WStringView text) noexcept {
  try {
    if (t_inSink) {
      // Re-entered from the sink: the lock is ours already.
      WriteDefault(text);
      return;
    }
    std::lock_guard<std::mutex> guard(OutputLock());
    if (CurrentSink()) {
      t_inSink = true;
      try {
        CurrentSink()(text);
      } catch (...) {
        t_inSink = false;
        throw;
      }
      t_inSink = false;
    } else {
      WriteDefault(text);
    }
  } catch (...) {
    // Debug output must never take the program down.
  }
}

DebugSink SetDebugSink(DebugSink sink) {
  if (t_inSink) {
    // Swapping the sink from inside itself would destroy the running function.
    return sink;
  }
  std::lock_guard<std::mutex> guard(OutputLock());
  DebugSink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

}  // namespace plat
