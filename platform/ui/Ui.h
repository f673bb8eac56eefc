// The window system: classes, windows in a parent/child z-order, properties,
// geometry, visibility, focus, activation and capture, one message queue with
// the retrieval order the program's loop is written against, timers on the
// platform clock, invalidation and painting, accelerators, message boxes,
// input routing, display rotation and single instance across processes.
//
// Every window belongs to the UI thread (the thread that creates the first
// window). PostMessage, PostQuitMessage, the Inject* calls, IsWindow and
// SendMessage may be called from any thread; the rest belongs to the UI
// thread. Window procedures always run on the UI thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/display/Display.h"
#include "platform/module/Module.h"
#include "platform/ui/UiTypes.h"

namespace plat {

// GDI's handle types, declared here in the same way GDI declares them so that
// the window system does not depend on GDI (GDI depends on it).
struct GdiDcTag;
using HDC = GdiDcTag*;
struct GdiBrushTag;
using HBRUSH = GdiBrushTag*;

using WndProc = LRESULT (*)(HWND, uint32_t, WPARAM, LPARAM);

constexpr uint16_t LOWORD(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
constexpr uint16_t HIWORD(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(uint32_t lo, uint32_t hi) {
  return static_cast<LPARAM>(static_cast<uint32_t>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)));
}
constexpr WPARAM MAKEWPARAM(uint32_t lo, uint32_t hi) {
  return static_cast<WPARAM>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16));
}

// Messages.
enum : uint32_t {
  WM_NULL = 0x0000,
  WM_CREATE = 0x0001,
  WM_DESTROY = 0x0002,
  WM_MOVE = 0x0003,
  WM_SIZE = 0x0005,
  WM_ACTIVATE = 0x0006,
  WM_SETFOCUS = 0x0007,
  WM_KILLFOCUS = 0x0008,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_ERASEBKGND = 0x0014,
  WM_SETTINGCHANGE = 0x001A,
  WM_WINDOWPOSCHANGED = 0x0047,
  WM_KEYDOWN = 0x0100,
  WM_KEYUP = 0x0101,
  WM_CHAR = 0x0102,
  WM_COMMAND = 0x0111,
  WM_TIMER = 0x0113,
  WM_MOUSEMOVE = 0x0200,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_USER = 0x0400,
  WM_APP = 0x8000,
};

// WM_ACTIVATE's low word.
constexpr uint32_t WA_INACTIVE = 0;
constexpr uint32_t WA_ACTIVE = 1;
constexpr uint32_t WA_CLICKACTIVE = 2;
// Pointer messages' wParam while the (only) button is down.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM SIZE_RESTORED = 0;
// WM_SETTINGCHANGE's wParam after the display turned.
constexpr WPARAM SETTINGCHANGE_RESET = 0x3002;

// Keys of the device.
constexpr uint32_t VK_RETURN = 13;
constexpr uint32_t VK_ESCAPE = 27;  // the Back key
constexpr uint32_t VK_LEFT = 37;
constexpr uint32_t VK_UP = 38;
constexpr uint32_t VK_RIGHT = 39;
constexpr uint32_t VK_DOWN = 40;
constexpr uint32_t VK_F1 = 112;  // left soft key
constexpr uint32_t VK_F2 = 113;  // right soft key
constexpr uint32_t VK_F4 = 115;

// Styles.
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_CHILD = 0x40000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_EX_TOPMOST = 0x00000008u;
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;
constexpr int32_t CW_USEDEFAULT = INT32_MIN;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWNA = 8;

constexpr uint32_t SWP_NOSIZE = 0x0001;
constexpr uint32_t SWP_NOMOVE = 0x0002;
constexpr uint32_t SWP_NOZORDER = 0x0004;
constexpr uint32_t SWP_NOREDRAW = 0x0008;
constexpr uint32_t SWP_NOACTIVATE = 0x0010;
constexpr uint32_t SWP_SHOWWINDOW = 0x0040;
constexpr uint32_t SWP_HIDEWINDOW = 0x0080;
inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_BOTTOM = reinterpret_cast<HWND>(uintptr_t{1});
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(~uintptr_t{0});
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(~uintptr_t{1});

constexpr uint32_t PM_NOREMOVE = 0x0000;
constexpr uint32_t PM_REMOVE = 0x0001;
constexpr uint32_t PM_NOYIELD = 0x0002;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr int32_t DISP_CHANGE_BADPARAM = -5;

// Results the window system adds to the platform's list.
constexpr uint32_t ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr uint32_t ERROR_CLASS_HAS_WINDOWS = 1412;

// Queue limit: posting beyond it fails with ERROR_NOT_ENOUGH_QUOTA.
constexpr size_t kMaxPostedMessages = 10000;

struct Msg {
  HWND hwnd = nullptr;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  uint32_t time = 0;  // tick count when the message was queued or made
  Point pt;           // pointer position on the screen at that time
};

// Classes.
struct WndClass {
  uint32_t style = 0;
  WndProc proc = nullptr;
  ModuleHandle instance = nullptr;
  HBRUSH background = nullptr;  // WM_ERASEBKGND's default fill; null: none
  WString name;
};
// Returns the class atom; 0 with ERROR_CLASS_ALREADY_EXISTS for a name in
// use (names compare without case) or ERROR_INVALID_PARAMETER for no
// procedure or no name.
uint16_t RegisterClass(const WndClass& cls);
// ERROR_CLASS_DOES_NOT_EXIST, or ERROR_CLASS_HAS_WINDOWS while windows of
// the class exist.
bool UnregisterClass(WStringView name, ModuleHandle instance);

// WM_CREATE's lParam points at this.
struct CreateStruct {
  void* createParams = nullptr;
  ModuleHandle instance = nullptr;
  HWND parent = nullptr;
  int32_t cy = 0, cx = 0, y = 0, x = 0;
  uint32_t style = 0;
  WStringView name;
  WStringView className;
  uint32_t exStyle = 0;
};

// WM_CREATE is sent before this returns (a result of -1 destroys the window
// and fails the call). A top-level window (no WS_CHILD) gets, for
// CW_USEDEFAULT, the whole screen; a child the size 0. A visible window's
// area is invalidated; a visible top-level window becomes the active window
// (WM_ACTIVATE) before this returns. Failures: ERROR_CLASS_DOES_NOT_EXIST,
// ERROR_INVALID_WINDOW_HANDLE for a bad parent, ERROR_INVALID_PARAMETER for
// WS_CHILD without a parent.
HWND CreateWindowEx(uint32_t exStyle, WStringView className, WStringView title, uint32_t style, int32_t x,
                    int32_t y, int32_t width, int32_t height, HWND parent, uintptr_t id, ModuleHandle instance,
                    void* param);
// WM_DESTROY to the window, then to its descendants (parent first). Windows
// it owns (its menu bar) go first. Focus and capture inside it are released,
// the area it covered is invalidated, and messages still queued for it are
// dropped when they come up.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);
HWND GetParent(HWND window);

// Properties: names compare without case.
bool SetProp(HWND window, WStringView name, void* data);
void* GetProp(HWND window, WStringView name);
void* RemoveProp(HWND window, WStringView name);

// Geometry. Windows have no frame: the client area is the whole window.
bool GetWindowRect(HWND window, Rect* screenRect);
bool GetClientRect(HWND window, Rect* rect);
int GetSystemMetrics(int index);

// WM_WINDOWPOSCHANGED carries this (lParam).
struct WindowPos {
  HWND hwnd = nullptr;
  HWND insertAfter = nullptr;
  int32_t x = 0, y = 0, cx = 0, cy = 0;  // the window's rectangle in its parent
  uint32_t flags = 0;
};
// Moves, sizes, restacks (after `insertAfter`: HWND_TOP, HWND_BOTTOM,
// HWND_TOPMOST, HWND_NOTOPMOST or a sibling, which the window goes directly
// below), shows or hides. WM_WINDOWPOSCHANGED is sent whenever something
// changed, with SWP_NOMOVE / SWP_NOSIZE / SWP_NOZORDER added for what did
// not; the default procedure turns it into WM_MOVE and WM_SIZE. Unless
// SWP_NOREDRAW is given, the old and new rectangles are invalidated in every
// visible window they touch. Never activates.
bool SetWindowPos(HWND window, HWND insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
bool MoveWindow(HWND window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);
// SW_HIDE, SW_SHOWNORMAL / SW_SHOW (shows and activates a top-level
// window, without a WM_ACTIVATE when it is already active), SW_SHOWNOACTIVATE,
// SW_SHOWNA. Returns whether the window was visible before; unknown commands
// fail with ERROR_INVALID_PARAMETER (and return false).
bool ShowWindow(HWND window, int command);
// The window and all its ancestors are shown.
bool IsWindowVisible(HWND window);
// The visible top-level windows above `window`'s top-level window, topmost
// first (the menu bar is one). Drawing on the screen for `window` leaves
// their area alone.
std::vector<HWND> VisibleTopLevelWindowsAbove(HWND window);

// Focus: WM_KILLFOCUS to the old window (wParam = the new one), then
// WM_SETFOCUS to the new one (wParam = the old one). Returns the window that
// had the focus. A null window only removes the focus.
HWND SetFocus(HWND window);
HWND GetFocus();
// Activation is a property of top-level windows: a child stands for its
// top-level window. SetForegroundWindow ignores the handle's lowest bit,
// sends WM_ACTIVATE only when the window was not already active (WA_INACTIVE
// to the previous one first) and raises the native window. On a handle of
// another instance (see FindWindow) it asks that process to come to the front.
bool SetForegroundWindow(HWND window);
HWND GetForegroundWindow();
HWND GetActiveWindow();
HWND SetCapture(HWND window);
bool ReleaseCapture();
HWND GetCapture();

// A top-level window of this process by class and title (empty: any; both
// compare without case).
// When there is none, the single-instance lock for the class is taken: if
// another process holds it, the result is a handle standing for that
// process's window, on which SetForegroundWindow and ShowWindow ask it to
// come to the front; otherwise this process now holds the lock (until it
// ends) and the result is null. The lock and a socket live in the device
// root's "run" folder.
HWND FindWindow(WStringView className, WStringView title);
// How long, in real milliseconds, asking another instance to come to the
// front may take (reaching its listener and having its answer), and how long
// a listener waits for the line of a request. The other process answers from
// a thread of its own, not from its UI thread, so the bound is only for a
// process that is wedged. Default 2000.
void SetInstanceRequestTimeoutMs(uint32_t ms);

// Messages.
// Fails with ERROR_INVALID_WINDOW_HANDLE for a window that is not (or no
// longer) a window and with ERROR_NOT_ENOUGH_QUOTA beyond kMaxPostedMessages
// queued. A null window posts a message for the loop itself. Any thread;
// wakes a UI thread blocked in GetMessage.
bool PostMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// On the UI thread a direct call of the window procedure. From another
// thread the UI thread makes the call when it next looks at its queue, and
// this waits for it (0 when the window goes away first). 0 with
// ERROR_INVALID_WINDOW_HANDLE for an invalid window.
LRESULT SendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Retrieval order: sent messages are handled on the way; then
//   1. posted messages, first in first out;
//   2. WM_QUIT, once the quit flag is set and no posted message is left;
//   3. input (pointer, keys, close), in order;
//   4. WM_PAINT for the first visible window in tree order (top-level
//      windows from the top, each before its children) with an update area;
//   5. WM_TIMER for due timers, earliest due first, one per timer.
// Filters: a window (null: all) matches itself and its descendants; the
// range [min, max] (both 0: all) applies to every message, WM_QUIT included.
// GetMessage returns 1 for a message, 0 for WM_QUIT, -1 (with
// ERROR_INVALID_WINDOW_HANDLE) for an invalid filter window. Before it
// blocks it presents the damaged framebuffer and runs the idle hook.
int GetMessage(Msg* msg, HWND window, uint32_t min, uint32_t max);
bool PeekMessage(Msg* msg, HWND window, uint32_t min, uint32_t max, uint32_t flags);
// Produces no WM_CHAR: nothing needs it.
bool TranslateMessage(const Msg* msg);
// Calls the procedure. A WM_PAINT whose procedure did nothing about the
// update area (no BeginPaint, ValidateRect or InvalidateRect) validates the
// window, so that such a procedure cannot make the loop spin on WM_PAINT.
LRESULT DispatchMessage(const Msg* msg);
LRESULT DefWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// For loops of their own (the test harness): presents the damaged
// framebuffer, then blocks until a message may be ready (a post, input, a
// wake-up, the next timer) or the platform clock reaches `deadline`.
void WaitMessageUntil(ClockTime deadline);

// Runs on the UI thread inside GetMessage whenever it is about to block.
// Returning true makes GetMessage look at the queue again at once; false
// lets it block. Not re-entered while it runs. An empty function removes it.
void SetIdleHook(std::function<bool()> hook);

// Timers. The first WM_TIMER comes `ms` after SetTimer (at least 10 ms), the
// next one `ms` after the previous one was taken from the queue; at most one
// is pending per timer. Setting an existing id restarts it. KillTimer also
// removes a pending WM_TIMER. Timers run on the platform clock.
uintptr_t SetTimer(HWND window, uintptr_t id, uint32_t ms);
bool KillTimer(HWND window, uintptr_t id);

// Painting. Update areas are lists of rectangles in client coordinates,
// merged into their bounding box beyond 8.
struct PaintInfo {
  HDC hdc = nullptr;
  bool erase = false;  // the background still needs erasing
  Rect rcPaint;        // the bounding box of the update area
};
// A null window invalidates every window.
bool InvalidateRect(HWND window, const Rect* rect, bool erase);
bool ValidateRect(HWND window, const Rect* rect);
// The update area's bounding box; false when there is none. `erase` is not
// acted on: the background is erased by BeginPaint.
bool GetUpdateRect(HWND window, Rect* rect, bool erase);
// Validates the window; sends WM_ERASEBKGND when erasing is pending. The DC
// comes from GDI (see WindowSurface.h); null while no GDI is linked.
HDC BeginPaint(HWND window, PaintInfo* paint);
bool EndPaint(HWND window, const PaintInfo* paint);

// Turns a listed WM_KEYDOWN into WM_COMMAND (id, high word 1), sent to the
// window. Entries that need modifier keys never match: the device has none.
int TranslateAccelerator(HWND window, const Accelerators& table, Msg* msg);

// Always logs "[MessageBox] caption: text" and records the box; the backend
// shows it (headless: returns IDOK at once).
struct MessageBoxRecord {
  HWND owner = nullptr;
  WString text;
  WString caption;
  uint32_t type = 0;
};
int MessageBox(HWND owner, WStringView text, WStringView caption, uint32_t type);
std::vector<MessageBoxRecord> MessageBoxes();
void ClearMessageBoxes();

// Display rotation (0, DMDO_90, DMDO_180, DMDO_270). A real change turns the
// screen (see SetDisplayOrientation), moves the menu bar to the new bottom
// band, invalidates every window and then sends WM_SETTINGCHANGE
// (SETTINGCHANGE_RESET) to each top-level window. The same orientation
// again changes and sends nothing. DISP_CHANGE_BADPARAM for other codes.
int32_t ChangeDisplayOrientation(uint32_t dmdo);
uint32_t QueryDisplayOrientation();

// Input, as the backends and tests deliver it; any thread. Pointer input
// goes to the capture holder, else the deepest visible window under the
// point (top-level windows from the top, children from the top); it becomes
// WM_LBUTTONDOWN / WM_MOUSEMOVE / WM_LBUTTONUP with the client position as
// two unsigned 16-bit words in lParam. Moves come only while the pointer is
// down (a touch screen) and a move still queued is merged with the next.
// Keys go to the focus window, else the active window. Where the input goes
// is decided when it is taken from the queue.
void InjectPointer(PointerKind kind, int32_t screenX, int32_t screenY);
void InjectKey(uint32_t vk, bool down);
// The application as a whole gains or loses the foreground: WM_ACTIVATE
// (WA_ACTIVE / WA_CLICKACTIVE, or WA_INACTIVE) to the main window, in order
// with other input, only when the state changes.
void InjectActivation(bool active, bool byClick);
// WM_CLOSE to the main window (the first top-level window still alive).
void InjectClose();
// The slide: writes HKCU "ControlPanel\MotionSensor" "SlideState" (1 open,
// 0 closed) and posts 0x8002 to the main window.
constexpr uint32_t WM_SLIDE_CHANGED = 0x8002;
bool SetSlideState(bool open);

HWND GetMainWindow();

// Back to no windows, no classes, an empty queue and no single-instance lock,
// without sending anything (procedures of earlier tests may be gone). Pending
// cross-thread sends return 0. For tests and the harness.
void ResetUiForTests();

}  // namespace plat
