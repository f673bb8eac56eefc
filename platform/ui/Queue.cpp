// The UI thread's message queue: posted and sent messages, the quit flag,
// input, WM_PAINT and WM_TIMER, in the retrieval order the program's loop is
// written against, and the blocking wait in the display backend.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <optional>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {

// Implemented with the input routing.
bool ResolveInputLocked(UiState& s, const InputEvent& e, Msg* out);

namespace {

constexpr uint32_t kMinTimerMs = 10;
constexpr ClockTime kPollOnly = INT64_MIN;

bool InRange(uint32_t message, uint32_t min, uint32_t max) {
  if (min == 0 && max == 0) return true;
  if (min > max) return true;  // an inverted range filters nothing
  return message >= min && message <= max;
}

bool WindowMatchesLocked(UiState& s, Window* filter, HWND target) {
  if (!filter) return true;
  return IsSelfOrDescendant(filter, FindLocked(s, target));
}

bool OnUiThread(const UiState& s) { return s.uiThread == 0 || s.uiThread == GetCurrentThreadId(); }

// Sent messages from other threads and platform tasks run as soon as the UI
// thread looks at its queue, whatever the filter, before anything is taken.
void RunSentAndTasks() {
  UiState& s = State();
  for (;;) {
    Posted item;
    {
      Lock lock(s.lock);
      auto it = std::find_if(s.posted.begin(), s.posted.end(), [](const Posted& p) { return p.sent || p.task; });
      if (it == s.posted.end()) return;
      item = std::move(*it);
      s.posted.erase(it);
    }
    if (item.task) {
      item.task();
    } else {
      item.sent->result = CallProc(item.msg.hwnd, item.msg.message, item.msg.wParam, item.msg.lParam);
      SetEvent(item.sent->done);
    }
  }
}

enum class Step { Found, Again, Nothing };

Step RetrieveOnce(Msg* out, HWND filterHandle, uint32_t min, uint32_t max, bool remove) {
  UiState& s = State();
  RunSentAndTasks();
  {
    Lock lock(s.lock);
    Window* filter = filterHandle ? FindLocked(s, filterHandle) : nullptr;

    // 1. Posted messages. Those for windows that are gone are dropped here.
    for (auto it = s.posted.begin(); it != s.posted.end();) {
      if (it->sent || it->task) {
        ++it;
        continue;
      }
      if (it->msg.hwnd && !FindLocked(s, it->msg.hwnd)) {
        it = s.posted.erase(it);
        continue;
      }
      if (InRange(it->msg.message, min, max) && (!filter || WindowMatchesLocked(s, filter, it->msg.hwnd))) {
        *out = it->msg;
        if (remove) s.posted.erase(it);
        return Step::Found;
      }
      ++it;
    }

    // 2. The quit message, once nothing posted is left for this retrieval.
    if (s.quit && InRange(WM_QUIT, min, max)) {
      *out = {nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<intptr_t>(s.quitCode)), 0, 0, s.lastPointer};
      out->time = GetTickCount();
      if (remove) s.quit = false;
      return Step::Found;
    }
  }

  // 3. Native events become input, without blocking.
  if (auto backend = CurrentDisplayBackend()) backend->PumpEvents(kPollOnly);

  {
    Lock lock(s.lock);
    Window* filter = filterHandle ? FindLocked(s, filterHandle) : nullptr;

    // 4. Input, in order. Activation changes are carried out on the way (they
    // are sent, not retrieved) when they reach the head of the queue.
    for (size_t i = 0; i < s.input.size();) {
      InputEvent e = s.input[i];
      if (e.kind == InputKind::Activate || e.kind == InputKind::Deactivate) {
        if (i != 0) {
          ++i;
          continue;
        }
        s.input.pop_front();
        HWND target = nullptr;
        if (e.kind == InputKind::Activate) {
          target = FindLocked(s, s.lastActive) ? s.lastActive : nullptr;
          if (!target) {
            Window* best = nullptr;
            for (Window* t : s.topLevels) {
              if (!t->platform && !t->destroying && (!best || t->serial < best->serial)) best = t;
            }
            target = best ? best->handle : nullptr;
          }
          if (!target) return Step::Again;
        }
        lock.unlock();
        ActivateTopLevel(target, e.byClick ? WA_CLICKACTIVE : WA_ACTIVE);
        return Step::Again;
      }
      Msg m;
      if (!ResolveInputLocked(s, e, &m)) {
        s.input.erase(s.input.begin() + static_cast<ptrdiff_t>(i));  // nobody to receive it
        continue;
      }
      if (InRange(m.message, min, max) && WindowMatchesLocked(s, filter, m.hwnd)) {
        *out = m;
        if (remove) s.input.erase(s.input.begin() + static_cast<ptrdiff_t>(i));
        return Step::Found;
      }
      ++i;
    }

    // 5. WM_PAINT for the first visible window in tree order that needs it.
    if (InRange(WM_PAINT, min, max)) {
      Window* found = nullptr;
      ForEachWindowLocked(s, [&](Window* w) {
        if (found || w->update.Empty() || w->destroying || !IsVisibleLocked(w)) return;
        if (Intersect(w->update.Bounds(), {0, 0, w->rect.Width(), w->rect.Height()}).IsEmpty()) return;
        if (filter && !IsSelfOrDescendant(filter, w)) return;
        found = w;
      });
      if (found) {
        *out = {found->handle, WM_PAINT, 0, 0, GetTickCount(), s.lastPointer};
        return Step::Found;
      }
    }

    // 6. The earliest due timer.
    if (InRange(WM_TIMER, min, max)) {
      ClockTime now = ClockNow();
      Timer* due = nullptr;
      for (Timer& t : s.timers) {
        if (t.due > now) continue;
        if (filter && !WindowMatchesLocked(s, filter, t.window)) continue;
        if (!due || t.due < due->due || (t.due == due->due && t.serial < due->serial)) due = &t;
      }
      if (due) {
        *out = {due->window, WM_TIMER, due->id, 0, GetTickCount(), s.lastPointer};
        // The next one counts from now: periods missed while the loop was
        // busy collapse into this one message.
        if (remove) due->due = now + static_cast<ClockTime>(due->period) * kClockNsPerMs;
        return Step::Found;
      }
    }
  }
  return Step::Nothing;
}

bool Retrieve(Msg* out, HWND filter, uint32_t min, uint32_t max, bool remove) {
  for (;;) {
    Step step = RetrieveOnce(out, filter, min, max, remove);
    if (step == Step::Found) return true;
    if (step == Step::Nothing) return false;
  }
}

ClockTime NextTimerDue() {
  UiState& s = State();
  Lock lock(s.lock);
  ClockTime next = kClockForever;
  for (const Timer& t : s.timers) next = std::min(next, t.due);
  return next;
}

}  // namespace

namespace {
// Taken while the process initialises, before main runs.
const std::chrono::steady_clock::time_point s_processStart = std::chrono::steady_clock::now();
std::atomic<bool> s_firstFramePresented{false};
}  // namespace

void PresentDamage() {
  FrameBuffer& fb = ScreenFrameBuffer();
  if (fb.Damage().IsEmpty()) return;
  Rect damage = fb.TakeDamage();
  auto backend = CurrentDisplayBackend();
  if (backend) backend->Present(fb, damage);
  if (backend && !s_firstFramePresented.exchange(true)) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                          s_processStart);
    DebugPrintf(u"[platform] first frame presented after %d ms\n", static_cast<int>(ms.count()));
  }
}

// Blocks in the backend until input, a wake-up, the next timer or `limit`.
void WaitForWork(ClockTime limit) {
  ClockTime deadline = std::min(NextTimerDue(), limit);
  if (auto backend = CurrentDisplayBackend()) backend->PumpEvents(deadline);
}

void PostTask(std::function<void()> task) {
  UiState& s = State();
  {
    Lock lock(s.lock);
    Posted p;
    p.task = std::move(task);
    s.posted.push_back(std::move(p));
  }
  WakeDisplay();
}

void DropTimersLocked(UiState& s, HWND h) {
  std::erase_if(s.timers, [h](const Timer& t) { return t.window == h; });
}

void FailSendsLocked(UiState& s, HWND h, std::vector<std::shared_ptr<SentCall>>& out) {
  for (auto it = s.posted.begin(); it != s.posted.end();) {
    if (it->sent && it->msg.hwnd == h) {
      it->sent->result = 0;
      out.push_back(it->sent);
      it = s.posted.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace ui_detail

using namespace ui_detail;

bool PostMessage(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam) {
  uint32_t now = GetTickCount();
  UiState& s = State();
  {
    Lock lock(s.lock);
    if (h && !FindLocked(s, h)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (s.posted.size() >= kMaxPostedMessages) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    Posted p;
    p.msg = {h, message, wParam, lParam, now, s.lastPointer};
    s.posted.push_back(std::move(p));
  }
  WakeDisplay();
  return true;
}

LRESULT SendMessage(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam) {
  UiState& s = State();
  std::shared_ptr<SentCall> call;
  {
    Lock lock(s.lock);
    if (!FindLocked(s, h)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (!OnUiThread(s)) {
      call = std::make_shared<SentCall>();
      call->done = CreateEvent(true, false);
      Posted p;
      p.msg = {h, message, wParam, lParam, 0, s.lastPointer};
      p.sent = call;
      s.posted.push_back(std::move(p));
    }
  }
  if (!call) return CallProc(h, message, wParam, lParam);
  WakeDisplay();
  WaitForSingleObject(call->done, INFINITE);
  return call->result;
}

void PostQuitMessage(int exitCode) {
  UiState& s = State();
  {
    Lock lock(s.lock);
    s.quit = true;
    s.quitCode = exitCode;
  }
  WakeDisplay();
}

int GetMessage(Msg* msg, HWND window, uint32_t min, uint32_t max) {
  UiState& s = State();
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  for (;;) {
    if (window && !IsWindow(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    if (Retrieve(msg, window, min, max, true)) return msg->message == WM_QUIT ? 0 : 1;
    PresentDamage();
    std::function<bool()> hook;
    {
      Lock lock(s.lock);
      if (!s.inIdleHook && s.idleHook) {
        hook = s.idleHook;
        s.inIdleHook = true;
      }
    }
    if (hook) {
      bool again = hook();
      {
        Lock lock(s.lock);
        s.inIdleHook = false;
      }
      if (again) continue;
      if (Retrieve(msg, window, min, max, true)) return msg->message == WM_QUIT ? 0 : 1;
    }
    WaitForWork(kClockForever);
  }
}

bool PeekMessage(Msg* msg, HWND window, uint32_t min, uint32_t max, uint32_t flags) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return Retrieve(msg, window, min, max, (flags & PM_REMOVE) != 0);
}

bool TranslateMessage(const Msg* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP);
}

LRESULT DispatchMessage(const Msg* msg) {
  if (!msg || !msg->hwnd) return 0;
  UiState& s = State();
  std::optional<uint64_t> before;
  if (msg->message == WM_PAINT) {
    Lock lock(s.lock);
    if (Window* w = FindLocked(s, msg->hwnd)) before = w->update.Version();
  }
  LRESULT result = CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (before) {
    // A handler that neither painted, validated nor invalidated would get
    // the same WM_PAINT for ever; its area counts as painted.
    Lock lock(s.lock);
    Window* w = FindLocked(s, msg->hwnd);
    if (w && w->update.Version() == *before) w->update.Clear();
  }
  return result;
}

void WaitMessageUntil(ClockTime deadline) {
  PresentDamage();
  WaitForWork(deadline);
}

void SetIdleHook(std::function<bool()> hook) {
  UiState& s = State();
  Lock lock(s.lock);
  s.idleHook = std::move(hook);
}

uintptr_t SetTimer(HWND h, uintptr_t id, uint32_t ms) {
  UiState& s = State();
  Lock lock(s.lock);
  if (!FindLocked(s, h)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (id == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  uint32_t period = std::max(ms, kMinTimerMs);
  ClockTime due = ClockNow() + static_cast<ClockTime>(period) * kClockNsPerMs;
  for (Timer& t : s.timers) {
    if (t.window == h && t.id == id) {
      t.period = period;
      t.due = due;
      t.serial = s.nextTimerSerial++;
      return id;
    }
  }
  s.timers.push_back({h, id, period, due, s.nextTimerSerial++});
  return id;
}

bool KillTimer(HWND h, uintptr_t id) {
  UiState& s = State();
  Lock lock(s.lock);
  auto it = std::find_if(s.timers.begin(), s.timers.end(), [&](const Timer& t) { return t.window == h && t.id == id; });
  if (it == s.timers.end()) {
    SetLastError(FindLocked(s, h) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  s.timers.erase(it);
  return true;
}

}  // namespace plat
