// The platform clock. One clock stands behind the tick count, the performance
// counter, every wait time-out and Sleep, and behind whatever later modules
// pace by time (window timers, audio pacing, simulated network delays): they
// read ClockNow() and block with WaitForMultipleObjectsUntil / SleepUntil, so
// they run in whichever time the clock keeps.
//
// Real clock (the default): the host's monotonic clock.
//
// Virtual clock (tests): install a VirtualClock. Time then stands still while
// any participating thread runs and jumps forward only at quiescence:
//   - every participating thread is blocked in a platform wait (a wait, Sleep,
//     or a contended CriticalSection::Enter), and
//   - no ClockBusyScope is held.
// At quiescence the clock jumps to the earliest pending deadline and wakes the
// waits that are due; nothing else moves it (except VirtualClock::Advance).
// Participating threads are every thread made by CreateThread (from the moment
// CreateThread is called until its body has returned), the thread that
// installed the VirtualClock, and threads that hold a ClockThreadScope.
//
// So a worker that waits 5000 ms for an event nobody sets times out after
// 5000 virtual ms, as soon as the test thread blocks too (in a wait, in
// RunFor, or in WaitForSingleObject on the worker's handle), without real
// waiting; and a time-out can never fire early because some thread was slow
// to get scheduled: a running participant freezes time.
//
// Rules for code that wants to stay deterministic under the virtual clock:
//   - block only through the platform (waits, Sleep, CriticalSection); a
//     participating thread blocked in a host primitive counts as running, which
//     stalls time rather than racing it, but a long host block stalls the test;
//   - a thread the platform does not know about (a host thread of a backend)
//     that will signal something later must either take a ClockThreadScope or
//     hold a ClockBusyScope while work is in flight, or time may jump past it.
#pragma once

#include <cstdint>
#include <span>

#include "platform/kernel/Kernel.h"

namespace plat {

// Nanoseconds on the platform clock's monotonic scale (its origin is
// arbitrary but fixed for the process; differences are what count).
using ClockTime = int64_t;
constexpr ClockTime kClockForever = INT64_MAX;
constexpr ClockTime kClockNsPerMs = 1'000'000;

ClockTime ClockNow();
// Now plus ms; INFINITE gives kClockForever.
ClockTime ClockDeadlineAfter(uint32_t ms);

// Wait-any up to an absolute deadline: the same results and rules as
// WaitForMultipleObjects. Periodic work (timers, pacing) uses this so that its
// period does not drift by the time each round takes. An empty handle list is
// allowed here and simply waits for the deadline (WAIT_TIMEOUT).
uint32_t WaitForMultipleObjectsUntil(std::span<const Handle> handles, ClockTime deadline);
void SleepUntil(ClockTime deadline);

// The tick count reads `tick` at the moment of the call and counts on from
// there (so a test can start just below the 32-bit wrap).
void SetTickCountStart(uint32_t tick);
// Changes the performance counter's frequency (Hz, > 0). The counter carries
// on from its current value, so it never jumps back. False for 0 or less.
bool SetPerformanceFrequency(int64_t hz);
constexpr int64_t kDefaultPerformanceFrequency = 32768;

bool ClockIsVirtual();

// Holding one keeps the virtual clock from advancing (e.g. a backend with an
// operation in flight on a thread the clock does not watch). No effect on the
// real clock.
class ClockBusyScope {
 public:
  ClockBusyScope();
  ~ClockBusyScope();
  ClockBusyScope(const ClockBusyScope&) = delete;
  ClockBusyScope& operator=(const ClockBusyScope&) = delete;
};

// Holding one keeps the virtual clock from running more than `marginMs`
// ahead of the host's clock, counted from when the scope was taken or last
// renewed: for an operation whose peer runs outside the clock's reach (another
// process, a host thread). A loaded machine may starve such a peer for
// seconds, in which virtual time could otherwise race through a time-out
// that the peer, given the same real time, would have beaten. Time-outs
// within the margin still cost no real waiting. Scopes may overlap (the
// tightest counts). No effect on the real clock.
class ClockPaceScope {
 public:
  explicit ClockPaceScope(uint32_t marginMs);
  ~ClockPaceScope();
  ClockPaceScope(const ClockPaceScope&) = delete;
  ClockPaceScope& operator=(const ClockPaceScope&) = delete;
  // The peer was heard from: the margin counts from now.
  void Renew();
  uint32_t MarginMs() const { return static_cast<uint32_t>(m_margin / kClockNsPerMs); }

 private:
  ClockTime m_virtualAt = 0;
  int64_t m_realAt = 0;  // host monotonic ns
  ClockTime m_margin = 0;
  friend struct ClockPaceAccess;
};

// Makes the calling thread (not made by CreateThread) a participant for the
// life of the scope. Nested scopes on one thread are allowed.
class ClockThreadScope {
 public:
  ClockThreadScope();
  ~ClockThreadScope();
  ClockThreadScope(const ClockThreadScope&) = delete;
  ClockThreadScope& operator=(const ClockThreadScope&) = delete;
};

// Test-facing control of the virtual clock. Install it (one at a time) before
// the code under test starts threads and destroy it after they have ended.
// The installing thread becomes a participant. While installed the tick count
// starts at `startTick` and the performance counter at 0 with the given
// frequency; afterwards the real clock's readings and frequency carry on.
class VirtualClock {
 public:
  explicit VirtualClock(uint32_t startTick = 0, int64_t qpcFrequency = kDefaultPerformanceFrequency);
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  ClockTime Now() const;
  void SetStartTick(uint32_t tick) { SetTickCountStart(tick); }
  void SetQpcFrequency(int64_t hz) { SetPerformanceFrequency(hz); }

  // Lets ms of virtual time pass for the calling thread: Sleep(ms). Time moves
  // only as the other participants quiesce, so everything due before the end
  // has happened, in order, when this returns. A wait due exactly at the end
  // wakes together with the caller; tests avoid such ties.
  void RunFor(uint32_t ms);
  // Waits, in real time up to realLimitMs, until every other participant is
  // blocked and no busy scope is held, without letting virtual time move.
  // False when that did not happen in time. Lets a test look at the state
  // that its last action led to once the threads have done their share.
  // The default limit only bounds a hang, so it allows for a loaded machine.
  bool Settle(uint32_t realLimitMs = 120000);
  // Jumps the clock forward by ms at once, whether or not threads are busy,
  // and wakes every wait that is due by then (once; a wait that is re-armed
  // for a period is not replayed). For tests without threads, such as the
  // tick-count wrap.
  void Advance(uint32_t ms);

 private:
  // The real clock's settings, restored on removal.
  int64_t m_savedRealOrigin = 0;
  int64_t m_savedTickBase = 0;
  int64_t m_savedQpcCountBase = 0;
  int64_t m_savedQpcNsBase = 0;
  int64_t m_savedFrequency = 0;
};

}  // namespace plat
