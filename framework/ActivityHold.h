// The application's two activity counters, reachable from every layer and
// every thread: "busy" (work in progress: the busy indicator runs) and
// "quiet" (a dialog shows its own progress: the indicator stays hidden).
// The application object installs the sink that keeps the counters while it
// lives; without one every call does nothing.
#pragma once

#include <atomic>

class IActivitySink {
 public:
  virtual void BeginBusy() = 0;
  virtual void EndBusy() = 0;
  virtual void BeginQuiet() = 0;
  virtual void EndQuiet() = 0;

 protected:
  ~IActivitySink() = default;
};

// Installs (or, with null, removes) the sink. Once it returns, no call is
// running in the sink removed.
void InstallActivitySink(IActivitySink* pSink);

// Any thread.
void BeginBusy();
void EndBusy();
void BeginQuiet();
void EndQuiet();

// A token that raises each counter at most once and lowers it again, at the
// latest when it is destroyed. One owner at a time; any thread.
class ActivityHold {
 public:
  ActivityHold() = default;
  ~ActivityHold();
  ActivityHold(const ActivityHold&) = delete;
  ActivityHold& operator=(const ActivityHold&) = delete;

  void HoldBusy();
  void ReleaseBusy();
  void HoldQuiet();
  void ReleaseQuiet();
  bool IsBusyHeld() const { return m_bBusy; }
  bool IsQuietHeld() const { return m_bQuiet; }

 private:
  std::atomic<bool> m_bBusy{false};
  std::atomic<bool> m_bQuiet{false};
};
