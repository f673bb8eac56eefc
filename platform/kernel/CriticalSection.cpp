// Re-entrant lock. A thread that has to wait for it blocks through the kernel,
// so the virtual clock sees it as blocked: the program holds a lock across a
// long network wait while another thread waits for that lock, and time must
// still move for the first one's time-out.
#include <deque>

#include "platform/kernel/KernelPrivate.h"

namespace plat {

using namespace kernel_detail;

struct CriticalSection::Impl {
  // Guarded by the kernel lock.
  uint32_t owner = 0;  // thread id, 0 when free
  uint32_t depth = 0;
  std::deque<Waiter*> queue;  // threads waiting for it, in arrival order
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter() {
  uint32_t me = GetCurrentThreadId();
  Lock lock(KernelLock());
  Impl& s = *m_impl;
  if (s.owner == me) {
    ++s.depth;
    return;
  }
  while (s.owner != 0) {
    Waiter w;
    s.queue.push_back(&w);
    Block(lock, w);  // no deadline: returns once a Leave has woken this thread
  }
  s.owner = me;
  s.depth = 1;
}

bool CriticalSection::TryEnter() {
  uint32_t me = GetCurrentThreadId();
  Lock lock(KernelLock());
  Impl& s = *m_impl;
  if (s.owner == 0) {
    s.owner = me;
    s.depth = 1;
    return true;
  }
  if (s.owner == me) {
    ++s.depth;
    return true;
  }
  return false;
}

void CriticalSection::Leave() {
  uint32_t me = GetCurrentThreadId();
  Lock lock(KernelLock());
  Impl& s = *m_impl;
  if (s.owner != me || s.depth == 0) return;  // not held by this thread: nothing to release
  if (--s.depth > 0) return;
  s.owner = 0;
  // Wake the longest waiter, which counts as running from here on. The lock
  // is free meanwhile: a thread that comes first may take it (as on the
  // device), and the woken one then queues again. No hand-over convoy.
  if (!s.queue.empty()) {
    Waiter* w = s.queue.front();
    s.queue.pop_front();
    Fire(*w, 0);
  }
}

}  // namespace plat
