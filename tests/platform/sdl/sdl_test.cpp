// The desktop backend: its translation of native events, the choice between
// it and the headless backend, and a real window on a virtual X server.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/display/Display.h"
#include "platform/display/Headless.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"
#include "platform/sdl/SdlBackend.h"
#include "platform/shell/DeviceServices.h"
#include "support/Waits.h"
#include "support/XvfbChild.h"

using namespace plat;

namespace {

struct Recorder : IInputSink {
  std::vector<std::string> calls;
  void Pointer(PointerKind kind, int32_t x, int32_t y) override {
    const char* k = kind == PointerKind::Down ? "down" : kind == PointerKind::Move ? "move" : "up";
    calls.push_back(std::string(k) + " " + std::to_string(x) + "," + std::to_string(y));
  }
  void Key(uint32_t vk, bool down) override { calls.push_back("key " + std::to_string(vk) + (down ? " down" : " up")); }
  void Activation(bool active, bool) override { calls.push_back(active ? "active" : "inactive"); }
  void Close() override { calls.push_back("close"); }
  void Rotate(uint32_t dmdo) override { calls.push_back("rotate " + std::to_string(dmdo)); }
  void Slide(bool open) override { calls.push_back(open ? "slide open" : "slide closed"); }
};

SDL_Event Mouse(Uint32 type, int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
  SDL_Event e{};
  e.type = type;
  if (type == SDL_MOUSEMOTION) {
    e.motion.x = x;
    e.motion.y = y;
  } else {
    e.button.button = button;
    e.button.x = x;
    e.button.y = y;
  }
  return e;
}

SDL_Event KeyEvent(Uint32 type, SDL_Keycode key, bool repeat = false) {
  SDL_Event e{};
  e.type = type;
  e.key.keysym.sym = key;
  e.key.repeat = repeat ? 1 : 0;
  return e;
}

SDL_Event Window(Uint8 what) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = what;
  return e;
}

class SdlTranslate : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRegistryForTests();
    ConfigureRegistry(RegistryConfig{});
    SetDisplayOrientation(DMDO_DEFAULT);
    ReloadDisplayConfig();
  }
  void TearDown() override { SetDisplayOrientation(DMDO_DEFAULT); }
  std::vector<std::string> Feed(std::initializer_list<SDL_Event> events) {
    Recorder r;
    for (const SDL_Event& e : events) m_backend.Translate(e, r);
    return r.calls;
  }
  SdlBackend m_backend;  // never started: translation needs no window
};

using Calls = std::vector<std::string>;

TEST(SdlKeys, DesktopKeysMapToThePhonesKeys) {
  struct Case {
    SDL_Keycode key;
    uint32_t vk;
  } cases[] = {{SDLK_RETURN, 13},   {SDLK_KP_ENTER, 13}, {SDLK_ESCAPE, 27}, {SDLK_BACKSPACE, 27},
               {SDLK_AC_BACK, 27},  {SDLK_LEFT, 37},     {SDLK_UP, 38},     {SDLK_RIGHT, 39},
               {SDLK_DOWN, 40},     {SDLK_F1, 112},      {SDLK_F2, 113},    {SDLK_F4, 115},
               {SDLK_F3, 0},        {SDLK_a, 0},         {SDLK_F11, 0},     {SDLK_F12, 0},
               {SDLK_F9, 0}};
  for (const Case& c : cases) EXPECT_EQ(VirtualKeyForSdlKey(c.key), c.vk) << SDL_GetKeyName(c.key);
}

TEST_F(SdlTranslate, TheMouseIsAFingerThatOnlyMovesWhileDown) {
  EXPECT_EQ(Feed({Mouse(SDL_MOUSEMOTION, 5, 5), Mouse(SDL_MOUSEBUTTONDOWN, 10, 20), Mouse(SDL_MOUSEMOTION, 12, 25),
                  Mouse(SDL_MOUSEBUTTONDOWN, 30, 30, SDL_BUTTON_RIGHT), Mouse(SDL_MOUSEBUTTONUP, 12, 26),
                  Mouse(SDL_MOUSEMOTION, 40, 40), Mouse(SDL_MOUSEBUTTONUP, 40, 40)}),
            (Calls{"down 10,20", "move 12,25", "up 12,26"}));
  // Outside the screen (the letterbox, a drag off the window) clamps to its edge.
  EXPECT_EQ(Feed({Mouse(SDL_MOUSEBUTTONDOWN, -3, 900), Mouse(SDL_MOUSEMOTION, 600, -1), Mouse(SDL_MOUSEBUTTONUP, 479, 799)}),
            (Calls{"down 0,799", "move 479,0", "up 479,799"}));
}

TEST_F(SdlTranslate, KeysFocusAndCloseBecomeInput) {
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F1), KeyEvent(SDL_KEYUP, SDLK_F1), KeyEvent(SDL_KEYDOWN, SDLK_ESCAPE, true),
                  KeyEvent(SDL_KEYDOWN, SDLK_a), Window(SDL_WINDOWEVENT_FOCUS_GAINED),
                  Window(SDL_WINDOWEVENT_FOCUS_LOST), Window(SDL_WINDOWEVENT_CLOSE), Window(SDL_WINDOWEVENT_MOVED)}),
            (Calls{"key 112 down", "key 112 up", "key 27 down", "active", "inactive", "close"}));
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  EXPECT_EQ(Feed({quit}), Calls{"close"});
  // Losing the desktop's focus mid-touch ends the touch where it last was.
  EXPECT_EQ(Feed({Mouse(SDL_MOUSEBUTTONDOWN, 7, 8), Mouse(SDL_MOUSEMOTION, 9, 10), Window(SDL_WINDOWEVENT_FOCUS_LOST),
                  Mouse(SDL_MOUSEBUTTONUP, 9, 10)}),
            (Calls{"down 7,8", "move 9,10", "up 9,10", "inactive"}));
}

TEST_F(SdlTranslate, RotationAndSlideKeysToggleFromTheCurrentState) {
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F11), KeyEvent(SDL_KEYDOWN, SDLK_F11, true), KeyEvent(SDL_KEYUP, SDLK_F11)}),
            Calls{"rotate 1"});
  ASSERT_TRUE(SetDisplayOrientation(DMDO_90));
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F11)}), Calls{"rotate 0"});
  ASSERT_TRUE(SetDisplayOrientation(DMDO_180));
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F11)}), Calls{"rotate 0"});

  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F12), KeyEvent(SDL_KEYUP, SDLK_F12)}), Calls{"slide open"});
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState", 1), 0);
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F12)}), Calls{"slide closed"});
}

TEST_F(SdlTranslate, F9RingsTheFirstLineOncePerPress) {
  ConfigureTelephony(std::nullopt);
  std::atomic<int> calls{0};
  Handle rang = CreateEvent(false, false);
  TelSession session = Telephony::Initialize([&](uintptr_t, uint32_t message, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {
    if (message == LINE_APPNEWCALL) ++calls;
    SetEvent(rang);
  });
  ASSERT_NE(Telephony::Open(session, 0, LinePrivilege::Monitor, 0), nullptr);
  EXPECT_EQ(Feed({KeyEvent(SDL_KEYDOWN, SDLK_F9), KeyEvent(SDL_KEYDOWN, SDLK_F9, true), KeyEvent(SDL_KEYUP, SDLK_F9)}),
            Calls{}) << "no key reaches the program";
  ASSERT_EQ(WaitForSingleObject(rang, support::kHangMs), WAIT_OBJECT_0);
  // A marker call behind it: messages arrive in order, so nothing else came.
  ASSERT_EQ(SimulateIncomingCall(0), 1);
  ASSERT_EQ(WaitForSingleObject(rang, support::kHangMs), WAIT_OBJECT_0);
  EXPECT_EQ(calls.load(), 2);
  Telephony::Shutdown(session);
  CloseHandle(rang);
}

// Environment variables the backend choice reads, put back afterwards.
class EnvGuard {
 public:
  EnvGuard() {
    for (const char* n : kNames) {
      const char* v = getenv(n);
      m_saved.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~EnvGuard() {
    for (auto& [n, v] : m_saved) {
      if (v)
        setenv(n, v->c_str(), 1);
      else
        unsetenv(n);
    }
  }

 private:
  static constexpr const char* kNames[] = {"QUOREL_BACKEND", "DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};
  std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
};

TEST(SdlChoice, ForcedValueWinsElseTheDisplayDecides) {
  struct Case {
    const char* forced;
    bool display;
    BackendKind want;
  } cases[] = {
      {nullptr, false, BackendKind::Headless}, {nullptr, true, BackendKind::Sdl},
      {"sdl", false, BackendKind::Sdl},        {"SDL", false, BackendKind::Sdl},
      {"headless", true, BackendKind::Headless}, {"", true, BackendKind::Sdl},
      {"opengl", false, BackendKind::Headless},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseDisplayBackend(c.forced, c.display), c.want) << (c.forced ? c.forced : "(none)") << c.display;
}

TEST(SdlChoice, WithoutADisplayTheHeadlessBackendIsInstalled) {
  EnvGuard env;
  unsetenv("QUOREL_BACKEND");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_STREQ(InstallPreferredDisplayBackend(), "headless");
  EXPECT_STREQ(CurrentDisplayBackend()->Name(), "headless");
  // Forcing headless opens no window even where a display is announced.
  setenv("DISPLAY", ":4242", 1);
  setenv("QUOREL_BACKEND", "headless", 1);
  EXPECT_STREQ(InstallPreferredDisplayBackend(), "headless");
  EXPECT_STREQ(CurrentDisplayBackend()->Name(), "headless");
  // A window that cannot be opened leaves the program running headless.
  setenv("QUOREL_BACKEND", "sdl", 1);
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  EXPECT_STREQ(InstallPreferredDisplayBackend(), "headless");
  EXPECT_STREQ(CurrentDisplayBackend()->Name(), "headless");
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

// ---- A real window ----------------------------------------------------------
//
// The window test runs in a child process under xvfb-run, so that it has an X
// server of its own whatever the machine offers; run directly it is skipped.

constexpr char kChildFlag[] = "QUOREL_SDL_WINDOW_CHILD";

uint16_t At(const std::vector<uint16_t>& pixels, Size size, int x, int y) {
  return pixels[static_cast<size_t>(y) * size.cx + x];
}

TEST(SdlWindow, OpensDrawsReadsBackAndCloses) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run, started by SdlWindowUnderXvfb";
  ResetRegistryForTests();
  ConfigureRegistry(RegistryConfig{});
  ReloadDisplayConfig();
  ResetDeviceServices();
  unsetenv("QUOREL_BACKEND");
  ASSERT_TRUE(getenv("DISPLAY"));
  ASSERT_STREQ(InstallPreferredDisplayBackend(), "sdl");
  auto backend = std::dynamic_pointer_cast<SdlBackend>(CurrentDisplayBackend());
  ASSERT_TRUE(backend);
  FrameBuffer& fb = ScreenFrameBuffer();
  const Size size = backend->WindowSize();
  ASSERT_EQ(size, fb.Dimensions());  // the virtual screen is big enough for 1:1

  const uint16_t blue = Rgb565(0, 0, 255), red = Rgb565(255, 0, 0), green = Rgb565(0, 255, 0);
  fb.Fill(blue);
  for (int y = 200; y < 260; ++y)
    for (int x = 100; x < 140; ++x) fb.Row(y)[x] = red;
  fb.AddDamage({0, 0, fb.Width(), fb.Height()});
  backend->Present(fb, fb.TakeDamage());
  std::vector<uint16_t> shown = backend->ReadBack();
  ASSERT_EQ(shown.size(), static_cast<size_t>(size.cx) * size.cy);
  EXPECT_EQ(At(shown, size, 120, 230), red);
  EXPECT_EQ(At(shown, size, 99, 230), blue);
  EXPECT_EQ(At(shown, size, fb.Width() - 1, fb.Height() - 1), blue);
  // Window tests draw without the system's GL driver (XvfbChild.h).
  std::ifstream maps("/proc/self/maps");
  const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
  EXPECT_EQ(mapped.find("libGL"), std::string::npos) << "a GL library is loaded";
  EXPECT_EQ(mapped.find("libEGL"), std::string::npos) << "an EGL library is loaded";

  // Only the damaged part goes to the window.
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) fb.Row(y)[x] = green;
  fb.Row(400)[300] = green;  // changed, but not reported
  backend->Present(fb, Rect{0, 0, 10, 10});
  shown = backend->ReadBack();
  EXPECT_EQ(At(shown, size, 5, 5), green);
  EXPECT_EQ(At(shown, size, 300, 400), blue);

  // Native input reaches the sink through the pump.
  Recorder recorder;
  SetDisplayInputSink(&recorder);
  SDL_Event key = KeyEvent(SDL_KEYDOWN, SDLK_F2);
  ASSERT_EQ(SDL_PushEvent(&key), 1);
  for (int i = 0; i < 50 && recorder.calls.empty(); ++i) backend->PumpEvents(ClockNow());
  SetDisplayInputSink(nullptr);
  std::erase_if(recorder.calls, [](const std::string& c) { return c == "active" || c == "inactive"; });
  EXPECT_EQ(recorder.calls, Calls{"key 113 down"});

  // A wake-up from another thread ends a long wait at once: the deadline is
  // five hang bounds away, and the wait may take one.
  while (SDL_PollEvent(nullptr)) backend->PumpEvents(ClockNow());
  std::thread waker([&] { backend->Wake(); });
  const auto start = std::chrono::steady_clock::now();
  backend->PumpEvents(ClockDeadlineAfter(5 * support::kHangMs));
  const auto waited = std::chrono::steady_clock::now() - start;
  waker.join();
  EXPECT_LT(waited, support::kHangLimit);

  // The screensaver is held off exactly while the backlight is required.
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  HPowerRequirement light = SetPowerRequirement(u"BKL1:", D0, POWER_NAME);
  ASSERT_NE(light, nullptr);
  backend->PumpEvents(ClockNow());
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  EXPECT_TRUE(backend->ScreenSaverHeldOff());
  ASSERT_EQ(ReleasePowerRequirement(light), 0u);
  backend->PumpEvents(ClockNow());
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());

  // Rotation resizes the window to the turned screen.
  ASSERT_TRUE(SetDisplayOrientation(DMDO_90));
  EXPECT_EQ(backend->WindowSize(), (Size{fb.Width(), fb.Height()}));
  EXPECT_EQ(fb.Width(), 800);
  ASSERT_TRUE(SetDisplayOrientation(DMDO_DEFAULT));

  // Handing over to another backend closes the window and SDL with it.
  ASSERT_TRUE(InstallDisplayBackend(std::make_shared<HeadlessBackend>()));
  backend.reset();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST(SdlWindowUnderXvfb, ChildPassesOnAVirtualScreen) {
  xvfbchild::ExpectChildPasses(kChildFlag, "SdlWindow.OpensDrawsReadsBackAndCloses");
}

}  // namespace
