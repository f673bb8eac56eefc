// The desktop backend: a window that shows the framebuffer, with the mouse
// as the touch screen and keyboard keys standing in for the phone's keys.
//
// Keys: Return → 13, Escape/Backspace/Back → 27 (the phone's Back), arrows →
// 37-40, F1/F2 → the soft keys 112/113, F4 → 115. Two keys of our own stand
// in for hardware a desktop lacks: F11 turns the screen between 0 and 90
// degrees, F12 opens or closes the slide.
//
// SDL wants its video and event calls on the thread that started it, so the
// backend must be installed and pumped by the UI thread; only Wake may be
// called from elsewhere.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/display/Display.h"

namespace plat {

class SdlBackend : public IDisplayBackend {
 public:
  SdlBackend();
  ~SdlBackend() override;
  SdlBackend(const SdlBackend&) = delete;
  SdlBackend& operator=(const SdlBackend&) = delete;

  const char* Name() const override { return "sdl"; }
  bool Init(IInputSink& input, const FrameBuffer& screen) override;
  void Present(const FrameBuffer& screen, const Rect& damage) override;
  void PumpEvents(ClockTime deadline) override;
  void Wake() override;
  void Resize(const FrameBuffer& screen) override;
  void Raise() override;
  int ShowMessageBox(WStringView text, WStringView caption, uint32_t type) override;

  // What the window shows now, read back from the renderer in the
  // framebuffer's own size and format. Empty when nothing is shown yet.
  std::vector<uint16_t> ReadBack() const;
  // The window's size on the desktop (the framebuffer scaled to fit).
  Size WindowSize() const;
  // Whether the desktop's screensaver is held off now.
  bool ScreenSaverHeldOff() const { return m_screenSaverHeldOff; }

  // Turns one native event into input. Exposed so the mapping can be checked
  // without a window.
  void Translate(const SDL_Event& event, IInputSink& input);

 private:
  bool CreateTexture(const FrameBuffer& screen);
  void Draw();
  void UpdateScreenSaver();
  void Shutdown();

  IInputSink* m_input = nullptr;
  SDL_Window* m_window = nullptr;
  SDL_Renderer* m_renderer = nullptr;
  SDL_Texture* m_texture = nullptr;
  Size m_textureSize;
  bool m_pointerDown = false;
  Point m_lastPointer;
  bool m_screenSaverHeldOff = false;
  bool m_videoStarted = false;

  // Wake may race the backend's destruction; the lock keeps SDL alive for
  // the push, and one pending wake-up event is enough however many wakes.
  mutable std::mutex m_wakeLock;
  uint32_t m_wakeEvent = 0;  // 0: not registered
  std::atomic<bool> m_wakePending{false};
};

// The phone's key for a desktop key, or 0 for a key the phone has no match
// for (our own desktop keys included).
uint32_t VirtualKeyForSdlKey(SDL_Keycode key);

enum class BackendKind { Headless, Sdl };
// The choice: `forced` ("sdl" or "headless", from QUOREL_BACKEND) wins; an
// unknown or empty value counts as absent; else sdl when a desktop display
// is there.
BackendKind ChooseDisplayBackend(const char* forced, bool displayAvailable);
// Reads QUOREL_BACKEND, DISPLAY and WAYLAND_DISPLAY, and installs the chosen
// backend. When the window cannot be made the headless backend stays, with a
// log line. Returns the name of the backend in use. Call on the main thread
// before the first window is made.
const char* InstallPreferredDisplayBackend();

}  // namespace plat
