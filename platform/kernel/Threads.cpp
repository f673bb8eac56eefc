// Threads with waitable handles.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/kernel/KernelPrivate.h"

namespace plat {

using namespace kernel_detail;

namespace {

constexpr int kNoPriority = 0x7FFFFFFF;

// Signalled (for good) when the body has returned.
class ThreadObject final : public WaitableObject {
 public:
  ThreadObject() : WaitableObject(true, false) {}

  // Guarded by the kernel lock.
  uint32_t exitCode = STILL_ACTIVE;
  bool exited = false;
  pid_t tid = 0;                     // host thread id once the thread runs
  int pendingPriority = kNoPriority;  // asked for before the thread ran
};

pid_t HostThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Host nice values for the priority levels. Raising priority above normal is
// usually refused to unprivileged processes; it is only a performance hint.
bool NiceFor(int priority, int* nice) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE: *nice = 19; return true;
    case THREAD_PRIORITY_LOWEST: *nice = 10; return true;
    case THREAD_PRIORITY_BELOW_NORMAL: *nice = 5; return true;
    case THREAD_PRIORITY_NORMAL: *nice = 0; return true;
    case THREAD_PRIORITY_ABOVE_NORMAL: *nice = -5; return true;
    case THREAD_PRIORITY_HIGHEST: *nice = -10; return true;
    case THREAD_PRIORITY_TIME_CRITICAL: *nice = -20; return true;
    default: return false;
  }
}

void ApplyPriority(pid_t tid, int priority) {
  int nice = 0;
  NiceFor(priority, &nice);
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return;
  int err = errno;
  if (err == ESRCH) return;  // the thread has just ended
  char line[160];
  std::snprintf(line, sizeof line, "[platform] thread priority %d (nice %d) refused: %s; running at the default\n",
                priority, nice, err == EACCES || err == EPERM ? "not permitted" : "host error");
  DebugWrite(FromUtf8(line));
}

void RunThread(std::shared_ptr<ThreadObject> self, std::function<uint32_t()> body, uint32_t id) {
  ThreadState& state = CurrentThread();
  state.id = id;
  state.participation = 1;  // counted as a participant by CreateThread already
  int priority;
  {
    Lock lock(KernelLock());
    self->tid = HostThreadId();
    priority = self->pendingPriority;
  }
  if (priority != kNoPriority) ApplyPriority(HostThreadId(), priority);

  uint32_t code = body();
  body = nullptr;  // the body's captures die on this thread, before the handle signals

  Lock lock(KernelLock());
  self->exitCode = code;
  self->exited = true;
  self->SetLocked();
  state.participation = 0;
  RemoveParticipantLocked();
}

std::shared_ptr<ThreadObject> LookupThread(Handle h) {
  auto t = LookupHandleAs<ThreadObject>(h);
  if (!t) SetLastError(ERROR_INVALID_HANDLE);
  return t;
}

}  // namespace

Handle CreateThread(std::function<uint32_t()> body, uint32_t* threadId) {
  if (!body) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>();
  Handle h = RegisterHandle(object);
  if (!h) return nullptr;
  uint32_t id = NewThreadId();
  {
    // The new thread participates from now on: were it counted only once it
    // runs, the virtual clock could jump while it is still being scheduled.
    Lock lock(KernelLock());
    AddParticipantLocked();
  }
  try {
    std::thread(RunThread, object, std::move(body), id).detach();
  } catch (const std::system_error&) {
    {
      Lock lock(KernelLock());
      RemoveParticipantLocked();
    }
    CloseHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = id;
  return h;
}

bool GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  auto t = LookupThread(thread);
  if (!t) return false;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Lock lock(KernelLock());
  *exitCode = t->exitCode;
  return true;
}

bool SetThreadPriority(Handle thread, int priority) {
  auto t = LookupThread(thread);
  if (!t) return false;
  int nice;
  if (!NiceFor(priority, &nice)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  pid_t tid;
  {
    Lock lock(KernelLock());
    if (t->exited) return true;
    tid = t->tid;
    if (tid == 0) {
      t->pendingPriority = priority;  // the thread applies it when it starts
      return true;
    }
  }
  ApplyPriority(tid, priority);
  return true;
}

uint32_t GetCurrentThreadId() { return CurrentThread().id; }

}  // namespace plat
