#include "framework/ActivityHold.h"

#include <mutex>

namespace {

// Held while a call runs in the sink, so that removing the sink waits for
// calls from other threads to leave it.
std::mutex& SinkLock() {
  static std::mutex lock;
  return lock;
}
IActivitySink* s_pSink = nullptr;

template <class F>
void WithSink(F&& f) {
  std::lock_guard<std::mutex> guard(SinkLock());
  if (s_pSink) f(*s_pSink);
}

}  // namespace

void InstallActivitySink(IActivitySink* pSink) {
  std::lock_guard<std::mutex> guard(SinkLock());
  s_pSink = pSink;
}

void BeginBusy() { WithSink([](IActivitySink& s) { s.BeginBusy(); }); }
void EndBusy() { WithSink([](IActivitySink& s) { s.EndBusy(); }); }
void BeginQuiet() { WithSink([](IActivitySink& s) { s.BeginQuiet(); }); }
void EndQuiet() { WithSink([](IActivitySink& s) { s.EndQuiet(); }); }

ActivityHold::~ActivityHold() {
  ReleaseBusy();
  ReleaseQuiet();
}

void ActivityHold::HoldBusy() {
  if (!m_bBusy.exchange(true)) BeginBusy();
}
void ActivityHold::ReleaseBusy() {
  if (m_bBusy.exchange(false)) EndBusy();
}
void ActivityHold::HoldQuiet() {
  if (!m_bQuiet.exchange(true)) BeginQuiet();
}
void ActivityHold::ReleaseQuiet() {
  if (m_bQuiet.exchange(false)) EndQuiet();
}
