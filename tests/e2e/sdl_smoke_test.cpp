// The program in a real window: the SDL backend with SDL's sound devices
// (the dummy driver) on a virtual X server, against the protocol test
// server, driven only by synthetic SDL events.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>

#include "app/QuorelAppUi.h"
#include "e2e/Road.h"
#include "platform/display/Display.h"
#include "platform/sdl/SdlBackend.h"
#include "support/XvfbChild.h"

namespace {

constexpr char kChildFlag[] = "QUOREL_E2E_SDL_CHILD";

void PushKey(SDL_Keycode key) {
  for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = key;
    SDL_PushEvent(&e);
  }
}

TEST(SdlSmoke, PaintsReachesTheServerAndEndsOnF4) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run through SdlSmokeUnderXvfb";
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("QUOREL_BACKEND", "sdl", 1);
  e2e::RoadConfig config;
  config.virtualClock = false;  // SDL's own threads know nothing of a virtual clock
  e2e::Road road(config);
  ASSERT_TRUE(road.Ready()) << road.Error();
  ASSERT_STREQ(plat::InstallPreferredDisplayBackend(), "sdl");
  auto pWindow = std::dynamic_pointer_cast<plat::SdlBackend>(plat::CurrentDisplayBackend());
  ASSERT_NE(pWindow, nullptr);

  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); },
             10000);
  road.Wait(300);
  road.Then([&] {
    // The window shows what the program painted, and that is a picture.
    const std::vector<uint16_t> shown = pWindow->ReadBack();
    const plat::FrameBuffer& screen = plat::ScreenFrameBuffer();
    ASSERT_EQ(shown.size(), static_cast<size_t>(screen.Width() * screen.Height()));
    size_t differ = 0;
    std::set<uint16_t> colours;
    for (int32_t y = 0; y < screen.Height(); ++y)
      for (int32_t x = 0; x < screen.Width(); ++x) {
        const uint16_t pixel = shown[static_cast<size_t>(y * screen.Width() + x)];
        differ += pixel != screen.Pixel(x, y);
        colours.insert(pixel);
      }
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(colours.size(), 1u);
    EXPECT_EQ(road.ActiveView(), 2);
    PushKey(SDLK_F4);
  });
  road.Until("F4 ended the program", [] { return false; }, 5000);
  EXPECT_EQ(road.Run(), 0);
  // F4 quit before the wait ran out: the harness never had to ask.
  EXPECT_TRUE(road.Misses().empty()) << road.Misses().front();
  plat::InstallDisplayBackend(std::make_shared<plat::HeadlessBackend>());
}

TEST(SdlSmokeUnderXvfb, ChildPassesOnAVirtualScreen) {
  xvfbchild::ExpectChildPasses(kChildFlag, "SdlSmoke.PaintsReachesTheServerAndEndsOnF4");
}

}  // namespace
