// Kernel services with the semantics the program is written against: waitable
// objects behind handles, auto- and manual-reset events, wait-any, threads,
// re-entrant critical sections and a 32-bit wrapping tick count.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace plat {

// An opaque, pointer-sized reference to a kernel object. Null is "no handle";
// file functions report failure with INVALID_HANDLE_VALUE instead.
struct HandleTag;
using Handle = HandleTag*;
inline Handle const INVALID_HANDLE_VALUE = reinterpret_cast<Handle>(~uintptr_t{0});

// Base of every object a handle can refer to (events, threads, files, finds,
// registry notifications, connections, power requirements). Objects that can
// be waited on derive from the kernel's waitable base; others cannot be waited
// on (a wait that names one fails).
class KernelObject {
 public:
  virtual ~KernelObject();
};

// The handle table. A closed or never-issued handle looks up as null; handles
// carry a generation so a stale one is never mistaken for a newer object.
Handle RegisterHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(Handle h);
template <class T>
std::shared_ptr<T> LookupHandleAs(Handle h) {
  return std::dynamic_pointer_cast<T>(LookupHandle(h));
}
// False with ERROR_INVALID_HANDLE for a stale handle or a second close.
bool CloseHandle(Handle h);
// Handles open now, every kind (leak checks of long runs).
size_t OpenHandleCount();

constexpr uint32_t INFINITE = 0xFFFFFFFFu;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 0x102;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
constexpr uint32_t MAXIMUM_WAIT_OBJECTS = 64;

Handle CreateEvent(bool manualReset, bool initiallySet);
bool SetEvent(Handle event);
bool ResetEvent(Handle event);

// Waits and Sleep run on the platform clock (see Clock.h). A wait fails with
// ERROR_INVALID_HANDLE when a handle is not open or names an object that
// cannot be waited on, and with ERROR_INVALID_PARAMETER for an empty list or
// more than MAXIMUM_WAIT_OBJECTS handles. An object stays alive while a wait
// includes it, even if its handle is closed meanwhile.
uint32_t WaitForSingleObject(Handle h, uint32_t timeoutMs);
// Wait-any: returns WAIT_OBJECT_0 + the lowest signalled index, consuming only
// that object when it is auto-reset; WAIT_TIMEOUT or WAIT_FAILED otherwise.
uint32_t WaitForMultipleObjects(std::span<const Handle> handles, uint32_t timeoutMs);

// A thread handle is signalled once the body has returned and stays so.
// GetExitCodeThread gives STILL_ACTIVE until then, the body's result after.
// Thread ids are small non-zero numbers, never reused.
Handle CreateThread(std::function<uint32_t()> body, uint32_t* threadId = nullptr);
bool SetThreadPriority(Handle thread, int priority);
bool GetExitCodeThread(Handle thread, uint32_t* exitCode);
uint32_t GetCurrentThreadId();
void Sleep(uint32_t ms);

// Best effort: a level the host refuses leaves the thread at its priority and
// writes one log line; the call still succeeds, as priority is only a hint.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr uint32_t STILL_ACTIVE = 259;

// Re-entrant lock that never fails.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  bool TryEnter();
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Milliseconds from the platform clock (see Clock.h); 32-bit and wrapping.
uint32_t GetTickCount();
// Callers use only the low 32 bits of the counter. Default frequency 32768 Hz.
bool QueryPerformanceCounter(int64_t* count);
bool QueryPerformanceFrequency(int64_t* frequency);

}  // namespace plat
