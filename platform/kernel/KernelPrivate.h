// Internals shared by the kernel's source files; not for other modules.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"

namespace plat::kernel_detail {

// One lock guards every waitable object's state, every blocked thread and the
// clock. The program holds a few dozen handles at most, so a single lock costs
// nothing measurable, and it makes a wait's check-and-consume over several
// objects atomic without any lock ordering to get wrong.
std::mutex& KernelLock();
using Lock = std::unique_lock<std::mutex>;

struct ThreadState {
  uint32_t id = 0;
  int participation = 0;  // > 0: counts for the virtual clock's quiescence
};
ThreadState& CurrentThread();
uint32_t NewThreadId();

// A thread blocked in the kernel. `fired` is set (under the kernel lock) by
// whoever satisfies the wait; the blocked thread reads it when it wakes.
struct Waiter {
  std::condition_variable cv;
  int fired = -1;
  ClockTime deadline = kClockForever;
  bool counted = false;  // its thread participates and it is still blocked
};

// Blocks until w.fired >= 0 or w.deadline has passed on the platform clock.
// Accounts for the virtual clock. The kernel lock is held on entry and exit.
void Block(Lock& lock, Waiter& w);
// Marks w satisfied with `index` and wakes its thread. Kernel lock held.
void Fire(Waiter& w, int index);

// Called (kernel lock held) when a participant stops or the busy count drops.
void MaybeAdvanceLocked();
void AddParticipantLocked();
void RemoveParticipantLocked();

class WaitableObject : public KernelObject {
 public:
  explicit WaitableObject(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}

  // All of these need the kernel lock.
  // If signalled: consumes it when auto-reset and returns true.
  bool TryAcquireLocked();
  // Signals: a manual-reset object wakes every waiter and stays signalled; an
  // auto-reset one hands itself to the longest waiter or stays signalled
  // until a wait takes it.
  void SetLocked();
  void ResetLocked() { m_signalled = false; }
  void AddWaiterLocked(Waiter* w, int index);
  void RemoveWaiterLocked(Waiter* w);

 private:
  bool m_manualReset;
  bool m_signalled;
  std::vector<std::pair<Waiter*, int>> m_waiters;  // in arrival order
};

class EventObject final : public WaitableObject {
 public:
  using WaitableObject::WaitableObject;
};

}  // namespace plat::kernel_detail
