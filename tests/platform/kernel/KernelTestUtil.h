#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Debug.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"

namespace kt {

// Closes a handle when the test leaves, whatever happens.
struct HandleGuard {
  plat::Handle h;
  explicit HandleGuard(plat::Handle handle) : h(handle) {}
  ~HandleGuard() {
    if (h) plat::CloseHandle(h);
  }
  HandleGuard(HandleGuard&& other) noexcept : h(other.h) { other.h = nullptr; }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  operator plat::Handle() const { return h; }
};

// Waits for a thread and returns its exit code.
inline uint32_t Join(plat::Handle thread) {
  if (plat::WaitForSingleObject(thread, plat::INFINITE) != plat::WAIT_OBJECT_0) return 0xDEADBEEF;
  uint32_t code = 0;
  plat::GetExitCodeThread(thread, &code);
  return code;
}

// Real (host) time, to prove that virtual time-outs cost none of it. Such a
// test lets virtual time pass many times over the hang bound and allows real
// time up to that bound only, so it holds however slow the machine is, and a
// clock that waited out even a part of the virtual time still fails it.
class RealStopwatch {
 public:
  RealStopwatch() : m_start(std::chrono::steady_clock::now()) {}
  int64_t Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count();
  }

 private:
  std::chrono::steady_clock::time_point m_start;
};

// Collects debug output for the life of the object.
class DebugCapture {
 public:
  DebugCapture() {
    m_previous = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_lines.push_back(plat::ToUtf8(text));
    });
  }
  ~DebugCapture() { plat::SetDebugSink(std::move(m_previous)); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
  plat::DebugSink m_previous;
};

}  // namespace kt
