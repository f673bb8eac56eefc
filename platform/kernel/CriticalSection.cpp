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
  std::deque<std::pair<Waiter*, uint32_t>> queue;  // waiting threads and their ids, first come first served
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter() {
  uint32_t me = GetCurrentThreadId();
  Lock lock(KernelLock());
  Impl& s = *m_impl;
  if (s.owner == 0) {
    s.owner = me;
    s.depth = 1;
    return;
  }
  if (s.owner == me) {
    ++s.depth;
    return;
  }
  Waiter w;
  s.queue.emplace_back(&w, me);
  Block(lock, w);  // no deadline: returns once Leave has handed the lock over
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
  if (s.queue.empty()) {
    s.owner = 0;
    return;
  }
  // Hand the lock straight to the longest waiter, which counts as running
  // from here on; a later arrival cannot overtake it.
  auto [w, id] = s.queue.front();
  s.queue.pop_front();
  s.owner = id;
  s.depth = 1;
  Fire(*w, 0);
}

}  // namespace plat
