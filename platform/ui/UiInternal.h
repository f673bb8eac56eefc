// The window system's shared state. One mutex guards all of it; no window
// procedure, hook or backend call ever runs while it is held.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/Ui.h"
#include "platform/ui/WindowSurface.h"

namespace plat::ui_detail {

using Lock = std::unique_lock<std::mutex>;

Rect Intersect(const Rect& a, const Rect& b);
Rect Union(const Rect& a, const Rect& b);
Rect Offset(const Rect& r, int32_t dx, int32_t dy);
bool Contains(const Rect& r, Point p);

// An update area: a short list of rectangles, collapsed to its bounding box
// once it would hold more than kMaxRects.
class UpdateArea {
 public:
  static constexpr size_t kMaxRects = 8;
  bool Empty() const { return m_rects.empty(); }
  Rect Bounds() const;
  const std::vector<Rect>& Rects() const { return m_rects; }
  void Add(const Rect& r);
  void Subtract(const Rect& r);
  void ClipTo(const Rect& r);
  void Clear() {
    m_rects.clear();
    erase = false;
    ++m_version;
  }
  // Moves on with every change asked for, so DispatchMessage can tell
  // whether a WM_PAINT handler did anything about its update area.
  uint64_t Version() const { return m_version; }
  bool erase = false;

 private:
  void Collapse();
  std::vector<Rect> m_rects;
  uint64_t m_version = 0;
};

struct ClassRec {
  WndClass cls;
  uint16_t atom = 0;
  int windows = 0;
};

struct Window {
  HWND handle = nullptr;
  uint32_t slot = 0;
  std::shared_ptr<ClassRec> cls;
  WString title;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  uintptr_t id = 0;
  ModuleHandle instance = nullptr;
  Window* parent = nullptr;
  Window* owner = nullptr;         // top-level windows: the window they belong to
  std::vector<Window*> children;   // z-order, [0] on top
  Rect rect;                       // in the parent's client coordinates (screen for top-level)
  bool visible = false;
  bool destroying = false;
  bool topmost = false;
  bool platform = false;           // the platform's own window (the menu bar)
  std::vector<std::pair<WString, void*>> props;
  UpdateArea update;
  uint64_t serial = 0;             // creation order
};

struct SentCall {
  Handle done = nullptr;  // manual-reset event
  LRESULT result = 0;
  ~SentCall() {
    if (done) CloseHandle(done);
  }
};

struct Posted {
  Msg msg;
  std::shared_ptr<SentCall> sent;  // a cross-thread SendMessage
  std::function<void()> task;      // platform work that must run on the UI thread
};

enum class InputKind { PointerDown, PointerMove, PointerUp, KeyDown, KeyUp, Activate, Deactivate, Close };
struct InputEvent {
  InputKind kind = InputKind::PointerDown;
  Point pt;
  uint32_t vk = 0;
  bool byClick = false;
  uint32_t time = 0;
};

struct Timer {
  HWND window = nullptr;
  uintptr_t id = 0;
  uint32_t period = 0;
  ClockTime due = 0;
  uint64_t serial = 0;  // breaks ties between equal due times
};

struct MenuBarData {
  HWND owner = nullptr;  // the top-level window it serves
  MenuBarButton buttons[2];
  std::vector<std::pair<uint32_t, uint32_t>> keyFlags;  // vk -> SHMBOF_* in force
  int pressed = -1;
};

struct Slot {
  uint32_t generation = 1;
  std::unique_ptr<Window> window;
};

struct UiState {
  std::mutex lock;

  // Windows.
  std::vector<Slot> slots;
  std::vector<uint32_t> freeSlots;
  std::vector<Window*> topLevels;  // z-order, [0] on top
  std::vector<std::shared_ptr<ClassRec>> classes;
  uint16_t nextAtom = 0xC000;
  uint64_t nextSerial = 1;
  uint32_t uiThread = 0;
  HWND focus = nullptr;
  HWND active = nullptr;
  HWND capture = nullptr;
  HWND main = nullptr;
  HWND lastActive = nullptr;

  // Queue.
  std::deque<Posted> posted;
  std::deque<InputEvent> input;
  bool quit = false;
  int quitCode = 0;
  std::vector<Timer> timers;
  uint64_t nextTimerSerial = 1;
  bool pointerDown = false;
  Point lastPointer;
  std::function<bool()> idleHook;
  bool inIdleHook = false;

  PaintHooks paintHooks;
  std::vector<std::pair<HWND, MenuBarData>> menuBars;
  MenuBarPainter menuBarPainter;
  std::vector<MessageBoxRecord> messageBoxes;
};

UiState& State();
// Makes the window system the display backend's input sink.
void EnsureInputSink();

// Lookups, under the lock. Null for anything that is not a live window.
Window* FindLocked(UiState& s, HWND h);
// The handle with its flag bit (the lowest) cleared.
HWND StripFlag(HWND h);
bool IsProxyHandle(HWND h);

Window* TopLevelOf(Window* w);
Point ScreenOriginLocked(const Window* w);
Rect ScreenRectLocked(const Window* w);
bool IsVisibleLocked(const Window* w);
// The window's screen rectangle cut by every ancestor's; empty when hidden.
Rect VisibleScreenRectLocked(const Window* w);
bool IsSelfOrDescendant(const Window* ancestor, const Window* w);
// Every window in tree order: top-level windows from the top, each before
// its children (children from the top).
void ForEachWindowLocked(UiState& s, const std::function<void(Window*)>& fn);

// Adds the screen area to the update area of every visible window it
// touches (the area's part inside each window, in client coordinates).
void ExposeLocked(UiState& s, const Rect& screenArea);
void InvalidateWholeLocked(Window* w, bool erase);

// A window of the platform's own (the menu bar): never the main window,
// never activated, skipped by FindWindow and the setting-change broadcast.
HWND CreatePlatformWindow(uint32_t exStyle, WStringView className, uint32_t style, const Rect& rect, HWND owner);

// Calls the window procedure on this thread (UI thread only). 0 when the
// window is gone.
LRESULT CallProc(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam);

// Activation of a top-level window with the given WM_ACTIVATE state; sends
// nothing when it is already the active one. Null deactivates.
void ActivateTopLevel(HWND top, uint32_t state);

// Hands work to the UI thread (run while it looks at its queue). Any thread.
void PostTask(std::function<void()> task);

// Menu bars.
MenuBarData* FindMenuBarLocked(UiState& s, HWND bar);
// The bar owned by this top-level window, if any.
HWND MenuBarOfLocked(UiState& s, const Window* top);
// Keeps every bar in its band after the screen changed size.
void PlaceMenuBars();
void ForgetMenuBarLocked(UiState& s, HWND bar);
// Default processing of soft keys and Back for a window; true when handled.
bool MenuBarDefaultKey(HWND window, uint32_t message, uint32_t vk);

// Single instance.
HWND FindOtherInstance(WStringView className);
bool IsLiveProxy(HWND h);
bool ProxyActivate(HWND proxy);
bool ProxyShow(HWND proxy, int command);
void ResetSingleInstance();

// Queue internals used by windows.
void DropTimersLocked(UiState& s, HWND h);
void FailSendsLocked(UiState& s, HWND h, std::vector<std::shared_ptr<SentCall>>& out);

}  // namespace plat::ui_detail
