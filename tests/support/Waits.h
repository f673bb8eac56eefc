// Real-time waits for another process or thread to come up, answer or end.
// They only bound a hang, so they are long: under a sanitizer, on a machine
// busy with other work, what takes a second alone has taken a minute. A wait
// on a child process ends at once when the child has died, so a crash still
// fails fast. Waits expected to run out (that something does not happen)
// keep their own length; so do the virtual-clock ones, which cannot run out
// because a thread was slow.
#pragma once

#include <errno.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace support {

inline constexpr uint32_t kHangMs = 120000;
inline constexpr std::chrono::milliseconds kHangLimit{kHangMs};

// Whether the child `pid` has ended (or is no child to wait for). It stays
// there for its owner to reap.
inline bool ChildEnded(pid_t pid) {
  siginfo_t info{};
  int result;
  do {
    result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (result != 0 && errno == EINTR);
  return result != 0 || info.si_pid == pid;
}

// Polls `ready` every `every` until it holds (true), until the child `pid`
// (0: none) has ended or `limit` has passed (false). What a child did before
// it ended still counts: `ready` has the last word.
inline bool PollUntil(const std::function<bool()>& ready, pid_t pid = 0,
                      std::chrono::milliseconds every = std::chrono::milliseconds(10),
                      std::chrono::milliseconds limit = kHangLimit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (ready()) return true;
    if ((pid > 0 && ChildEnded(pid)) || std::chrono::steady_clock::now() >= end) return ready();
    std::this_thread::sleep_for(every);
  }
}

}  // namespace support
