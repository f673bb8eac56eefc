// The platform clock and the one place where kernel waits block, so that the
// virtual clock sees every blocked thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <thread>

#include "platform/base/Errors.h"
#include "platform/kernel/KernelPrivate.h"

namespace plat {
namespace kernel_detail {
namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

// Everything below is guarded by the kernel lock.
struct ClockState {
  // Real clock: now = host monotonic ns - realOrigin.
  int64_t realOrigin = SteadyNs();
  bool isVirtual = false;
  ClockTime virtualNow = 0;
  // Tick count = (now + tickBase) / 1 ms, truncated to 32 bits. The default
  // counts from the host's monotonic origin (boot), as a device counts from
  // power-on.
  int64_t tickBase = realOrigin;
  // Performance counter = qpcCountBase + (now - qpcNsBase) * frequency / 1 s.
  int64_t frequency = kDefaultPerformanceFrequency;
  int64_t qpcCountBase = 0;
  ClockTime qpcNsBase = 0;

  int participants = 0;
  int blockedParticipants = 0;
  int busy = 0;
  std::list<Waiter*> blocked;  // every thread blocked in Block(), any thread
  std::list<ClockPaceScope*> paces;
  // A jump held back by a pace is made by the pacer thread once the host's
  // clock reaches pacerWake (host monotonic ns; 0: none armed).
  bool pacerStarted = false;
  int64_t pacerWake = 0;
  std::condition_variable pacerCv;
};

ClockState& State() {
  static ClockState* state = new ClockState;  // threads may outlive static destruction
  return *state;
}

ClockTime NowLocked() {
  ClockState& s = State();
  return s.isVirtual ? s.virtualNow : SteadyNs() - s.realOrigin;
}

int64_t CounterLocked(ClockTime now) {
  ClockState& s = State();
  __int128 elapsed = static_cast<__int128>(now - s.qpcNsBase) * s.frequency;
  return s.qpcCountBase + static_cast<int64_t>(elapsed / 1'000'000'000);
}

ClockTime DeadlineAfterLocked(uint32_t ms) {
  if (ms == INFINITE) return kClockForever;
  return NowLocked() + static_cast<ClockTime>(ms) * kClockNsPerMs;
}

void SetTickStartLocked(uint32_t tick) {
  State().tickBase = static_cast<int64_t>(tick) * kClockNsPerMs - NowLocked();
}

void Unblock(Waiter& w) {
  if (w.counted) {
    w.counted = false;
    --State().blockedParticipants;
  }
}

// Wakes every blocked waiter whose deadline has come; each counts as running
// from this moment, before its thread is even scheduled.
void WakeDueLocked() {
  ClockTime now = NowLocked();
  for (Waiter* w : State().blocked) {
    if (w->fired < 0 && w->deadline <= now) {
      Unblock(*w);
      w->cv.notify_one();
    }
  }
}

}  // namespace
}  // namespace kernel_detail

struct ClockPaceAccess {
  // How far virtual time may go now: the tightest pace's margin past its
  // anchor plus the real time since.
  static ClockTime CeilingLocked() {
    ClockTime ceiling = kClockForever;
    const int64_t real = kernel_detail::SteadyNs();
    for (const ClockPaceScope* p : kernel_detail::State().paces)
      ceiling = std::min(ceiling, p->m_virtualAt + p->m_margin + (real - p->m_realAt));
    return ceiling;
  }
  // The host monotonic time at which every pace lets `deadline` come.
  static int64_t RealTimeForLocked(ClockTime deadline) {
    int64_t when = INT64_MIN;
    for (const ClockPaceScope* p : kernel_detail::State().paces)
      when = std::max(when, p->m_realAt + (deadline - p->m_virtualAt - p->m_margin));
    return when;
  }
};

namespace kernel_detail {

std::mutex& KernelLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

ThreadState& CurrentThread() {
  thread_local ThreadState state;
  if (state.id == 0) state.id = NewThreadId();
  return state;
}

uint32_t NewThreadId() {
  static std::atomic<uint32_t> next{1};
  uint32_t id = next.fetch_add(1, std::memory_order_relaxed);
  if (id == 0) id = next.fetch_add(1, std::memory_order_relaxed);
  return id;
}

void MaybeAdvanceLocked() {
  ClockState& s = State();
  if (!s.isVirtual || s.busy > 0 || s.blockedParticipants < s.participants) return;
  ClockTime earliest = kClockForever;
  for (Waiter* w : s.blocked) {
    if (w->fired < 0) earliest = std::min(earliest, w->deadline);
  }
  if (earliest == kClockForever) return;  // everyone waits for an event: nothing time can do
  if (!s.paces.empty() && earliest > ClockPaceAccess::CeilingLocked()) {
    // Held back by a pace; nobody else would move the clock later.
    s.pacerWake = ClockPaceAccess::RealTimeForLocked(earliest);
    s.pacerCv.notify_one();
    return;
  }
  if (earliest > s.virtualNow) s.virtualNow = earliest;
  WakeDueLocked();
}

void AddParticipantLocked() { ++State().participants; }

void RemoveParticipantLocked() {
  --State().participants;
  MaybeAdvanceLocked();
}

void Fire(Waiter& w, int index) {
  w.fired = index;
  Unblock(w);
  w.cv.notify_one();
}

void Block(Lock& lock, Waiter& w) {
  ClockState& s = State();
  if (w.fired >= 0 || w.deadline <= NowLocked()) return;
  auto pos = s.blocked.insert(s.blocked.end(), &w);
  if (CurrentThread().participation > 0) {
    w.counted = true;
    ++s.blockedParticipants;
  }
  MaybeAdvanceLocked();
  while (w.fired < 0) {
    ClockTime now = NowLocked();
    if (w.deadline <= now) break;
    if (s.isVirtual || w.deadline == kClockForever) {
      w.cv.wait(lock);
    } else {
      // A switch to the virtual clock notifies every blocked thread, which
      // then re-reads the mode.
      auto wake = SteadyClock::time_point(std::chrono::nanoseconds(w.deadline + s.realOrigin));
      w.cv.wait_until(lock, wake);
    }
  }
  Unblock(w);
  s.blocked.erase(pos);
}

bool WaitableObject::TryAcquireLocked() {
  if (!m_signalled) return false;
  if (!m_manualReset) m_signalled = false;
  return true;
}

void WaitableObject::SetLocked() {
  if (m_manualReset) {
    m_signalled = true;
    for (auto& [w, index] : m_waiters) {
      if (w->fired < 0) Fire(*w, index);
    }
    return;
  }
  if (m_signalled) return;  // binary: a second set before a wait changes nothing
  for (auto& [w, index] : m_waiters) {
    if (w->fired < 0) {
      Fire(*w, index);  // handed straight to the waiter: consumed, stays clear
      return;
    }
  }
  m_signalled = true;
}

void WaitableObject::AddWaiterLocked(Waiter* w, int index) {
  for (auto& entry : m_waiters) {
    if (entry.first == w) return;  // the same object twice in one wait: the lower index counts
  }
  m_waiters.emplace_back(w, index);
}

void WaitableObject::RemoveWaiterLocked(Waiter* w) {
  auto it = std::find_if(m_waiters.begin(), m_waiters.end(), [w](const auto& e) { return e.first == w; });
  if (it != m_waiters.end()) m_waiters.erase(it);
}

}  // namespace kernel_detail

using namespace kernel_detail;

ClockTime ClockNow() {
  Lock lock(KernelLock());
  return NowLocked();
}

ClockTime ClockDeadlineAfter(uint32_t ms) {
  Lock lock(KernelLock());
  return DeadlineAfterLocked(ms);
}

uint32_t GetTickCount() {
  Lock lock(KernelLock());
  int64_t ms = (NowLocked() + State().tickBase) / kClockNsPerMs;
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

bool QueryPerformanceCounter(int64_t* count) {
  if (!count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Lock lock(KernelLock());
  *count = CounterLocked(NowLocked());
  return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
  if (!frequency) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Lock lock(KernelLock());
  *frequency = State().frequency;
  return true;
}

void SetTickCountStart(uint32_t tick) {
  Lock lock(KernelLock());
  SetTickStartLocked(tick);
}

bool SetPerformanceFrequency(int64_t hz) {
  if (hz <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Lock lock(KernelLock());
  ClockState& s = State();
  ClockTime now = NowLocked();
  s.qpcCountBase = CounterLocked(now);
  s.qpcNsBase = now;
  s.frequency = hz;
  return true;
}

bool ClockIsVirtual() {
  Lock lock(KernelLock());
  return State().isVirtual;
}

void SleepUntil(ClockTime deadline) {
  Lock lock(KernelLock());
  Waiter w;
  w.deadline = deadline;
  Block(lock, w);
}

void Sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  Lock lock(KernelLock());
  Waiter w;
  w.deadline = DeadlineAfterLocked(ms);
  Block(lock, w);
}

ClockBusyScope::ClockBusyScope() {
  Lock lock(KernelLock());
  ++State().busy;
}

ClockBusyScope::~ClockBusyScope() {
  Lock lock(KernelLock());
  --State().busy;
  MaybeAdvanceLocked();
}

namespace {

// Makes the jumps that paces held back, when the host's clock allows them.
// A host thread, not a participant; it lives as long as the process.
void PacerLoop() {
  Lock lock(KernelLock());
  ClockState& s = State();
  for (;;) {
    if (s.pacerWake == 0) {
      s.pacerCv.wait(lock);
    } else if (SteadyNs() < s.pacerWake) {
      s.pacerCv.wait_until(lock, SteadyClock::time_point(std::chrono::nanoseconds(s.pacerWake)));
    } else {
      s.pacerWake = 0;
      MaybeAdvanceLocked();  // arms the pacer again if a pace still holds
    }
  }
}

}  // namespace

ClockPaceScope::ClockPaceScope(uint32_t marginMs) : m_margin(static_cast<ClockTime>(marginMs) * kClockNsPerMs) {
  Lock lock(KernelLock());
  m_virtualAt = NowLocked();
  m_realAt = SteadyNs();
  ClockState& s = State();
  s.paces.push_back(this);
  if (!s.pacerStarted) {
    s.pacerStarted = true;
    std::thread(PacerLoop).detach();
  }
}

ClockPaceScope::~ClockPaceScope() {
  Lock lock(KernelLock());
  State().paces.remove(this);
  MaybeAdvanceLocked();
}

void ClockPaceScope::Renew() {
  Lock lock(KernelLock());
  m_virtualAt = NowLocked();
  m_realAt = SteadyNs();
}

ClockThreadScope::ClockThreadScope() {
  Lock lock(KernelLock());
  if (CurrentThread().participation++ == 0) AddParticipantLocked();
}

ClockThreadScope::~ClockThreadScope() {
  Lock lock(KernelLock());
  if (--CurrentThread().participation == 0) RemoveParticipantLocked();
}

VirtualClock::VirtualClock(uint32_t startTick, int64_t qpcFrequency) {
  Lock lock(KernelLock());
  ClockState& s = State();
  if (s.isVirtual) {
    std::fputs("plat::VirtualClock: a virtual clock is already installed\n", stderr);
    std::abort();
  }
  m_savedRealOrigin = s.realOrigin;
  m_savedTickBase = s.tickBase;
  m_savedQpcCountBase = s.qpcCountBase;
  m_savedQpcNsBase = s.qpcNsBase;
  m_savedFrequency = s.frequency;
  // Virtual time carries on from the real reading, so deadlines already
  // computed keep their meaning.
  s.virtualNow = NowLocked();
  s.isVirtual = true;
  SetTickStartLocked(startTick);
  s.frequency = qpcFrequency > 0 ? qpcFrequency : kDefaultPerformanceFrequency;
  s.qpcCountBase = 0;
  s.qpcNsBase = s.virtualNow;
  if (CurrentThread().participation++ == 0) AddParticipantLocked();
  // Threads already blocked on a real time-out now wait for virtual time.
  for (Waiter* w : s.blocked) w->cv.notify_one();
}

VirtualClock::~VirtualClock() {
  Lock lock(KernelLock());
  ClockState& s = State();
  if (--CurrentThread().participation == 0) --s.participants;
  // Real time resumes from the virtual reading, so ClockNow never runs back
  // and deadlines still pending keep their meaning.
  s.realOrigin = SteadyNs() - s.virtualNow;
  s.isVirtual = false;
  // The tick count and the counter go on as the real ones would have.
  int64_t shift = s.realOrigin - m_savedRealOrigin;
  s.tickBase = m_savedTickBase + shift;
  s.qpcCountBase = m_savedQpcCountBase;
  s.qpcNsBase = m_savedQpcNsBase - shift;
  s.frequency = m_savedFrequency;
  for (Waiter* w : s.blocked) w->cv.notify_one();
}

ClockTime VirtualClock::Now() const { return ClockNow(); }

void VirtualClock::RunFor(uint32_t ms) { Sleep(ms); }

bool VirtualClock::Settle(uint32_t realLimitMs) {
  // The caller runs (and so holds time still) while it polls.
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(realLimitMs);
  for (;;) {
    {
      Lock lock(KernelLock());
      ClockState& s = State();
      int self = CurrentThread().participation > 0 ? 1 : 0;
      if (s.busy == 0 && s.blockedParticipants >= s.participants - self) return true;
    }
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void VirtualClock::Advance(uint32_t ms) {
  Lock lock(KernelLock());
  ClockState& s = State();
  if (!s.isVirtual) return;
  s.virtualNow += static_cast<ClockTime>(ms) * kClockNsPerMs;
  WakeDueLocked();
}

}  // namespace plat
