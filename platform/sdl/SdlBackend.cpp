#include "platform/sdl/SdlBackend.h"

#include <strings.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/kernel/Kernel.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"
#include "platform/sdl/SdlAudio.h"
#include "platform/shell/DeviceServices.h"

namespace plat {
namespace {

constexpr char kWindowTitle[] = "Quorel";
constexpr WChar kSlideKey[] = u"ControlPanel\\MotionSensor";
constexpr WChar kSlideValue[] = u"SlideState";
// Under the virtual clock SDL's own wait would count as running and stall
// time, so the backend waits on the platform in slices and polls between.
constexpr uint32_t kVirtualPollMs = 16;

constexpr uint32_t VK_RETURN = 13;
constexpr uint32_t VK_BACK_KEY = 27;  // the phone's Back key arrives as Escape
constexpr uint32_t VK_LEFT = 37;
constexpr uint32_t VK_UP = 38;
constexpr uint32_t VK_RIGHT = 39;
constexpr uint32_t VK_DOWN = 40;
constexpr uint32_t VK_F1 = 112;
constexpr uint32_t VK_F2 = 113;
constexpr uint32_t VK_F4 = 115;

// The window size that shows the whole screen on the desktop: 1:1 when it
// fits, else scaled down keeping the aspect.
Size FittedWindowSize(Size screen) {
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= 0) return screen;
  const double scale = std::min({1.0, static_cast<double>(usable.w) / screen.cx,
                                 static_cast<double>(usable.h) / screen.cy});
  return {std::max(1, static_cast<int32_t>(std::floor(screen.cx * scale))),
          std::max(1, static_cast<int32_t>(std::floor(screen.cy * scale)))};
}

}  // namespace

uint32_t VirtualKeyForSdlKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_ESCAPE:
    case SDLK_BACKSPACE:
    case SDLK_AC_BACK:
      return VK_BACK_KEY;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_F1:
      return VK_F1;
    case SDLK_F2:
      return VK_F2;
    case SDLK_F4:
      return VK_F4;
    default:
      return 0;
  }
}

SdlBackend::SdlBackend() = default;

SdlBackend::~SdlBackend() { Shutdown(); }

void SdlBackend::Shutdown() {
  {
    std::lock_guard<std::mutex> guard(m_wakeLock);
    m_wakeEvent = 0;
  }
  if (m_screenSaverHeldOff) SDL_EnableScreenSaver();
  m_screenSaverHeldOff = false;
  if (m_texture) SDL_DestroyTexture(m_texture);
  if (m_renderer) SDL_DestroyRenderer(m_renderer);
  if (m_window) SDL_DestroyWindow(m_window);
  m_texture = nullptr;
  m_renderer = nullptr;
  m_window = nullptr;
  m_input = nullptr;
  if (m_videoStarted) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    SDL_Quit();
    m_videoStarted = false;
  }
}

bool SdlBackend::Init(IInputSink& input, const FrameBuffer& screen) {
  if (m_videoStarted) return false;  // one window per backend
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The window's close button is the program's WM_CLOSE, not SDL's quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // The screensaver is held off only while the program asks for the
  // backlight, not merely because a window is open.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
#if defined(__SANITIZE_ADDRESS__)
  // Starting video and opening the window go through the session bus and
  // the X libraries, which keep buffers for the process's life (and SDL
  // unloads the latter at exit, so their traces cannot even be read); not
  // ours to report. SDL allocates nothing here for us to free.
  __lsan::ScopedDisabler notOurs;
#endif
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    DebugPrintf(u"[platform] sdl: cannot start video: %S\n", std::string(SDL_GetError()));
    return false;
  }
  m_videoStarted = true;
  const Size size = screen.Dimensions();
  const Size window = FittedWindowSize(size);
  m_window = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, window.cx, window.cy,
                              SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
  if (m_window) m_renderer = SDL_CreateRenderer(m_window, -1, 0);
  if (m_window && !m_renderer) m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_SOFTWARE);
  if (!m_renderer || !CreateTexture(screen)) {
    DebugPrintf(u"[platform] sdl: cannot open the window: %S\n", std::string(SDL_GetError()));
    Shutdown();
    return false;
  }
  const Uint32 wakeEvent = SDL_RegisterEvents(1);
  if (wakeEvent == static_cast<Uint32>(-1)) {
    DebugPrintf(u"[platform] sdl: no user event left for wake-ups\n");
    Shutdown();
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(m_wakeLock);
    m_wakeEvent = wakeEvent;
  }
  m_input = &input;
  Draw();
  return true;
}

bool SdlBackend::CreateTexture(const FrameBuffer& screen) {
  if (m_texture) SDL_DestroyTexture(m_texture);
  m_texture = nullptr;
  m_textureSize = {};
  if (screen.Width() <= 0 || screen.Height() <= 0) return false;
  m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, screen.Width(),
                                screen.Height());
  if (!m_texture) return false;
  m_textureSize = screen.Dimensions();
  // The renderer scales the framebuffer to the window and maps the mouse
  // back into framebuffer coordinates.
  SDL_RenderSetLogicalSize(m_renderer, screen.Width(), screen.Height());
  SDL_UpdateTexture(m_texture, nullptr, screen.Bits(), screen.Stride());
  return true;
}

void SdlBackend::Draw() {
  if (!m_renderer || !m_texture) return;
  SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
  SDL_RenderClear(m_renderer);
  SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
  SDL_RenderPresent(m_renderer);
}

void SdlBackend::Present(const FrameBuffer& screen, const Rect& damage) {
  if (!m_texture) return;
  if (screen.Dimensions() != m_textureSize) {
    Resize(screen);
    return;
  }
  Rect r{std::max(damage.left, 0), std::max(damage.top, 0), std::min(damage.right, screen.Width()),
         std::min(damage.bottom, screen.Height())};
  if (r.left >= r.right || r.top >= r.bottom) return;
  const SDL_Rect area{r.left, r.top, r.Width(), r.Height()};
  SDL_UpdateTexture(m_texture, &area, screen.Row(r.top) + r.left, screen.Stride());
  Draw();
}

void SdlBackend::Resize(const FrameBuffer& screen) {
  if (!m_window) return;
  if (!CreateTexture(screen)) {
    DebugPrintf(u"[platform] sdl: cannot resize the window: %S\n", std::string(SDL_GetError()));
    return;
  }
  const Size window = FittedWindowSize(screen.Dimensions());
  SDL_SetWindowSize(m_window, window.cx, window.cy);
  Draw();
}

void SdlBackend::Raise() {
  if (m_window) SDL_RaiseWindow(m_window);
}

int SdlBackend::ShowMessageBox(WStringView text, WStringView caption, uint32_t type) {
  const Uint32 flags = (type & MB_ICONHAND) ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  if (SDL_ShowSimpleMessageBox(flags, ToUtf8(caption).c_str(), ToUtf8(text).c_str(), m_window) != 0)
    DebugPrintf(u"[platform] sdl: message box failed: %S\n", std::string(SDL_GetError()));
  return IDOK;
}

void SdlBackend::UpdateScreenSaver() {
  const bool want = BacklightRequired();
  if (want == m_screenSaverHeldOff) return;
  {
#if defined(__SANITIZE_ADDRESS__)
    // Inhibiting goes through the session bus, whose library keeps its
    // connection buffers for the process's life; not ours to report.
    __lsan::ScopedDisabler notOurs;
#endif
    if (want)
      SDL_DisableScreenSaver();
    else
      SDL_EnableScreenSaver();
  }
  m_screenSaverHeldOff = want;
}

void SdlBackend::PumpEvents(ClockTime deadline) {
  if (!m_videoStarted) return;
  UpdateScreenSaver();
  auto handle = [this](const SDL_Event& e) {
    if (m_wakeEvent != 0 && e.type == m_wakeEvent) {
      m_wakePending.store(false);
    } else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) {
      Draw();
    } else if (m_input) {
      Translate(e, *m_input);
    }
  };
  SDL_Event e;
  for (;;) {
    bool any = false;
    while (SDL_PollEvent(&e)) {
      handle(e);
      any = true;
    }
    if (any) return;
    const ClockTime now = ClockNow();
    if (deadline <= now) return;
    if (ClockIsVirtual()) {
      // Nothing ends this platform wait early but time; a wake-up is seen
      // by the poll at the next slice.
      SleepUntil(std::min(deadline, now + kVirtualPollMs * kClockNsPerMs));
      continue;
    }
    const ClockTime wait = (deadline - now + kClockNsPerMs - 1) / kClockNsPerMs;
    if (SDL_WaitEventTimeout(&e, static_cast<int>(std::min<ClockTime>(wait, INT_MAX)))) {
      handle(e);
      while (SDL_PollEvent(&e)) handle(e);
      return;
    }
    // Timed out (or an error, which a timed loop also survives): the caller
    // checks its timers against the clock.
    if (deadline != kClockForever) return;
  }
}

void SdlBackend::Wake() {
  std::lock_guard<std::mutex> guard(m_wakeLock);
  if (m_wakeEvent == 0) return;
  // One queued wake-up ends the wait; more would only fill SDL's queue.
  if (m_wakePending.exchange(true)) return;
  SDL_Event e{};
  e.type = m_wakeEvent;
  if (SDL_PushEvent(&e) <= 0) m_wakePending.store(false);
}

void SdlBackend::Translate(const SDL_Event& event, IInputSink& input) {
  const Size screen = ScreenFrameBuffer().Dimensions();
  auto clampX = [&](int32_t x) { return screen.cx > 0 ? std::clamp(x, 0, screen.cx - 1) : x; };
  auto clampY = [&](int32_t y) { return screen.cy > 0 ? std::clamp(y, 0, screen.cy - 1) : y; };
  switch (event.type) {
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button != SDL_BUTTON_LEFT || m_pointerDown) return;
      m_pointerDown = true;
      m_lastPointer = {clampX(event.button.x), clampY(event.button.y)};
      input.Pointer(PointerKind::Down, m_lastPointer.x, m_lastPointer.y);
      return;
    case SDL_MOUSEMOTION:
      // A touch screen knows no hovering.
      if (!m_pointerDown) return;
      m_lastPointer = {clampX(event.motion.x), clampY(event.motion.y)};
      input.Pointer(PointerKind::Move, m_lastPointer.x, m_lastPointer.y);
      return;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button != SDL_BUTTON_LEFT || !m_pointerDown) return;
      m_pointerDown = false;
      input.Pointer(PointerKind::Up, clampX(event.button.x), clampY(event.button.y));
      return;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const bool down = event.type == SDL_KEYDOWN;
      const SDL_Keycode key = event.key.keysym.sym;
      if (key == SDLK_F9 || key == SDLK_F11 || key == SDLK_F12) {
        if (!down || event.key.repeat) return;
        if (key == SDLK_F9) {
          // A call comes in on the first line.
          SimulateIncomingCall(0);
        } else if (key == SDLK_F11) {
          input.Rotate(DisplayOrientation() == DMDO_DEFAULT ? DMDO_90 : DMDO_DEFAULT);
        } else {
          input.Slide(ShellReadDword(HKEY_CURRENT_USER, kSlideKey, kSlideValue) == 0);
        }
        return;
      }
      if (const uint32_t vk = VirtualKeyForSdlKey(key)) input.Key(vk, down);
      return;
    }
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          input.Activation(true, false);
          return;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          // A release the window never sees must not leave the finger down.
          if (m_pointerDown) {
            m_pointerDown = false;
            input.Pointer(PointerKind::Up, m_lastPointer.x, m_lastPointer.y);
          }
          input.Activation(false, false);
          return;
        case SDL_WINDOWEVENT_CLOSE:
          input.Close();
          return;
        default:
          return;
      }
    case SDL_QUIT:
      input.Close();
      return;
    default:
      return;
  }
}

std::vector<uint16_t> SdlBackend::ReadBack() const {
  std::vector<uint16_t> pixels;
  if (!m_renderer || !m_texture) return pixels;
  int w = 0;
  int h = 0;
  if (SDL_GetRendererOutputSize(m_renderer, &w, &h) != 0 || w <= 0 || h <= 0) return pixels;
  SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
  SDL_RenderClear(m_renderer);
  SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
  pixels.resize(static_cast<size_t>(w) * h);
  if (SDL_RenderReadPixels(m_renderer, nullptr, SDL_PIXELFORMAT_RGB565, pixels.data(), w * 2) != 0) pixels.clear();
  return pixels;
}

Size SdlBackend::WindowSize() const {
  int w = 0;
  int h = 0;
  if (m_renderer) SDL_GetRendererOutputSize(m_renderer, &w, &h);
  return {w, h};
}

BackendKind ChooseDisplayBackend(const char* forced, bool displayAvailable) {
  if (forced && strcasecmp(forced, "sdl") == 0) return BackendKind::Sdl;
  if (forced && strcasecmp(forced, "headless") == 0) return BackendKind::Headless;
  return displayAvailable ? BackendKind::Sdl : BackendKind::Headless;
}

const char* InstallPreferredDisplayBackend() {
  const char* forced = std::getenv("QUOREL_BACKEND");
  if (forced && *forced && strcasecmp(forced, "sdl") != 0 && strcasecmp(forced, "headless") != 0)
    DebugPrintf(u"[platform] QUOREL_BACKEND=%S is neither sdl nor headless; choosing by the display\n",
                std::string(forced));
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  const bool display = set("DISPLAY") || set("WAYLAND_DISPLAY");
  if (ChooseDisplayBackend(forced, display) == BackendKind::Sdl) {
    if (!InstallDisplayBackend(std::make_shared<SdlBackend>()))
      DebugPrintf(u"[platform] no window could be opened; running headless\n");
  }
  const char* name = CurrentDisplayBackend()->Name();
  std::string audio = ToUtf8(ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"AudioBackend").value_or(u""));
  if (!AudioFileSwitchesSet() && ChooseAudioBackend(audio.c_str(), std::strcmp(name, "sdl") == 0) == AudioChoice::Sdl) {
    if (auto sdlAudio = MakeSdlAudioBackend()) InstallAudioBackend(std::move(sdlAudio));
  }
  return name;
}

}  // namespace plat
