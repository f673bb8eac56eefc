// The device's screen: its size and DPI, its orientation, the one RGB565
// framebuffer every drawing ends up in, and the backend that shows it (or, in
// tests, keeps it in memory) and turns native input into platform input.
//
// Settings come from HKLM "Platform\Linux" ("ScreenWidth", "ScreenHeight",
// "Dpi"; 480 x 800 at 192 dpi when absent). They are read on first use, so
// code that runs before main (static initialisers that ask for the DPI) gets
// a working answer; ReloadDisplayConfig reads them again once the device's
// registry is set up.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/kernel/Clock.h"

namespace plat {

constexpr int32_t kDefaultScreenWidth = 480;
constexpr int32_t kDefaultScreenHeight = 800;
constexpr uint32_t kDefaultScreenDpi = 192;
// Larger values in the settings are refused (with a log line) in favour of
// the defaults: a typo must not make the framebuffer gigabytes big.
constexpr int32_t kMaxScreenSide = 8192;
constexpr uint32_t kMaxScreenDpi = 2000;

// Orientation codes as the display-settings call takes them.
constexpr uint32_t DMDO_DEFAULT = 0;
constexpr uint32_t DMDO_90 = 1;
constexpr uint32_t DMDO_180 = 2;
constexpr uint32_t DMDO_270 = 4;

struct DisplayConfig {
  int32_t width = kDefaultScreenWidth;  // at orientation 0
  int32_t height = kDefaultScreenHeight;
  uint32_t dpi = kDefaultScreenDpi;
  friend bool operator==(const DisplayConfig&, const DisplayConfig&) = default;
};

// The settings in force (read on first use).
DisplayConfig CurrentDisplayConfig();
// Reads the settings again. A changed size puts the orientation back to 0
// and reallocates the framebuffer.
void ReloadDisplayConfig();

// The screen as the program sees it now: width and height swap at 90 and 270.
Size ScreenSize();
uint32_t ScreenDpi();
uint32_t DisplayOrientation();
// Whether `dmdo` is one of the four orientation codes.
bool IsValidOrientation(uint32_t dmdo);
// Turns the screen: swaps the size for 90/270, reallocates the framebuffer
// (cleared, all damaged) and tells the backend. Windows are the window
// system's business (see ChangeDisplayOrientation in platform/ui). False
// for an invalid code; true without effect for the current one.
bool SetDisplayOrientation(uint32_t dmdo);

// The screen framebuffer: RGB565, rows padded to 4 bytes, top row first.
// Windows keep no pixels of their own; GDI draws here, reading back from a
// window or the screen reads here. The object lives as long as the process;
// its storage is replaced when the screen size changes (Generation() moves
// on), so a drawer must not keep the pixel pointer across calls.
// UI thread only.
class FrameBuffer {
 public:
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  int32_t Stride() const { return m_stride; }  // bytes per row
  Size Dimensions() const { return {m_width, m_height}; }
  uint64_t Generation() const { return m_generation; }

  uint16_t* Row(int32_t y) { return reinterpret_cast<uint16_t*>(m_bytes.data() + static_cast<size_t>(y) * m_stride); }
  const uint16_t* Row(int32_t y) const {
    return reinterpret_cast<const uint16_t*>(m_bytes.data() + static_cast<size_t>(y) * m_stride);
  }
  uint8_t* Bits() { return m_bytes.data(); }
  const uint8_t* Bits() const { return m_bytes.data(); }
  // 0 outside the screen.
  uint16_t Pixel(int32_t x, int32_t y) const;
  void Fill(uint16_t colour);

  // What changed since the last present, as one bounding box (clipped to the
  // screen). Whoever writes pixels adds what it wrote.
  void AddDamage(const Rect& r);
  const Rect& Damage() const { return m_damage; }
  Rect TakeDamage();

  // Replaces the storage: cleared to black and damaged whole.
  void Reallocate(int32_t width, int32_t height);

 private:
  int32_t m_width = 0;
  int32_t m_height = 0;
  int32_t m_stride = 0;
  uint64_t m_generation = 0;
  Rect m_damage;
  std::vector<uint8_t> m_bytes;
};

FrameBuffer& ScreenFrameBuffer();

// Colour helpers for 565 (bit replication when widening, truncation when
// narrowing), shared by snapshots and tests.
constexpr uint16_t Rgb565(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}
constexpr uint8_t Red8(uint16_t p) { return static_cast<uint8_t>(((p >> 11) << 3) | (p >> 13)); }
constexpr uint8_t Green8(uint16_t p) { return static_cast<uint8_t>((((p >> 5) & 0x3F) << 2) | ((p >> 9) & 0x3)); }
constexpr uint8_t Blue8(uint16_t p) { return static_cast<uint8_t>(((p & 0x1F) << 3) | ((p >> 2) & 0x7)); }

// What a backend hands native input to. The window system installs the
// real one; until then input is dropped. Called on the thread that runs
// PumpEvents (the UI thread).
enum class PointerKind { Down, Move, Up };
class IInputSink {
 public:
  virtual ~IInputSink() = default;
  virtual void Pointer(PointerKind kind, int32_t screenX, int32_t screenY) = 0;
  virtual void Key(uint32_t vk, bool down) = 0;
  // The native window gained or lost the desktop's focus.
  virtual void Activation(bool active, bool byClick) = 0;
  // The native window's close button.
  virtual void Close() = 0;
  // Desktop stand-ins for the device's hardware: turning the screen and
  // opening or closing the slide.
  virtual void Rotate(uint32_t dmdo) = 0;
  virtual void Slide(bool open) = 0;
};

// Message-box results and types the platform understands.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONERROR = MB_ICONHAND;
constexpr int IDOK = 1;

// A presentation backend. Everything but Wake runs on the UI thread.
class IDisplayBackend {
 public:
  virtual ~IDisplayBackend() = default;
  virtual const char* Name() const = 0;
  // Called once when the backend is installed, with the screen as it is.
  virtual bool Init(IInputSink& input, const FrameBuffer& screen) = 0;
  // Shows the damaged part of the framebuffer.
  virtual void Present(const FrameBuffer& screen, const Rect& damage) = 0;
  // Turns native events into input calls. Blocks until native input arrives,
  // Wake is called, or the platform clock reaches `deadline`; a deadline
  // that has passed only polls. Blocking goes through the platform clock so
  // that virtual time can move while the UI thread waits here.
  virtual void PumpEvents(ClockTime deadline) = 0;
  // Ends a PumpEvents that is blocked now, or makes the next one return at
  // once. Any thread.
  virtual void Wake() = 0;
  // The framebuffer changed size (rotation).
  virtual void Resize(const FrameBuffer& screen) = 0;
  // Brings the native window to the front of the desktop.
  virtual void Raise() = 0;
  // Modal where there is something to be modal in; returns the button.
  virtual int ShowMessageBox(WStringView text, WStringView caption, uint32_t type) = 0;
};

// The backend in use. When none was installed a headless one is made on
// first use, so tests and tools need no set-up.
std::shared_ptr<IDisplayBackend> CurrentDisplayBackend();
// Installs a backend (Init is called here) and returns false if Init failed,
// in which case the previous backend stays.
bool InstallDisplayBackend(std::shared_ptr<IDisplayBackend> backend);
// The window system's input entry; null drops input.
void SetDisplayInputSink(IInputSink* sink);
// Convenience for the window system: Wake the current backend.
void WakeDisplay();

}  // namespace plat
