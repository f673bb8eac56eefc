// The program in a real window: the SDL backend with SDL's sound devices
// (the dummy driver) on a virtual X server, against the protocol test
// server, driven only by synthetic SDL events.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>

#include <algorithm>
#include <cstdio>

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/SearchRecorder.h"
#include "e2e/RoadTest.h"
#include "framework/Control.h"
#include "platform/audio/HeadlessAudio.h"
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

// A finger's tap on the middle of a control, as SDL reports one: the window
// shows the screen at its own size (the virtual screen holds it whole).
void PushTap(CControl* pControl) {
  const RECT r = pControl->ScreenRect();
  for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
    SDL_Event e{};
    e.type = type;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = (r.left + r.right) / 2;
    e.button.y = (r.top + r.bottom) / 2;
    SDL_PushEvent(&e);
  }
}

// Whether SDL's sound driver offers a microphone the recorder's way.
bool SdlOffersCapture() {
  SDL_AudioSpec want{};
  want.freq = 8000;
  want.format = AUDIO_S16SYS;
  want.channels = 1;
  want.samples = 512;
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 1, &want, nullptr, 0);
  if (device == 0) return false;
  SDL_CloseAudioDevice(device);
  return true;
}

bool Called(const std::string& call) {
  const auto& calls = CQuorelAppUi::OutwardCalls();
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// The program in the window with SDL's dummy sound driver, on the host's
// clock: SDL's own threads know nothing of a virtual clock.
e2e::RoadConfig WindowRoad() {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("QUOREL_BACKEND", "sdl", 1);
  e2e::RoadConfig config = e2e::TestRoadConfig();
  config.virtualClock = false;
  return config;
}

// A recording started and stopped by taps that reach the program as SDL
// events, from SDL's own microphone (the dummy driver's, silent) or, with
// `bWavMicrophone`, from the WAV file QUOREL_MIC names; F4 ends it.
void RecordAndStopThroughTheWindow(bool bWavMicrophone) {
  e2e::Road road(WindowRoad());
  ASSERT_TRUE(road.Ready()) << road.Error();
  if (bWavMicrophone) {
    setenv("QUOREL_MIC", road.Microphone().c_str(), 1);
    ASSERT_EQ(plat::ApplyAudioFileSwitches(), "");
  } else {
    unsetenv("QUOREL_MIC");
  }
  ASSERT_STREQ(plat::InstallPreferredDisplayBackend(), "sdl");
  const bool bCapture = bWavMicrophone || SdlOffersCapture();
  std::printf("[ NOTE ] microphone: %s\n", bWavMicrophone ? "the WAV file" : bCapture ? "SDL's dummy capture"
                                                                                    : "none (SDL offers no capture)");

  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); },
             10000);
  road.Wait(300);
  road.Then([&] {
    ASSERT_NE(CRecorderView::Current(), nullptr);
    PushTap(CRecorderView::Current()->RecordButton());
  });
  if (bCapture) {
    // On the host's clock: the recording takes its 5.5 s, however loaded
    // the machine.
    road.Until("5.5 s recorded", [] {
      CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
      return pRecorder && pRecorder->GetElapsed() >= 550;
    }, 30000);
    road.Then([&] { PushTap(CRecorderView::Current()->RecordButton()); });
    road.Until("the results", [&] { return road.ActiveView() == 4; }, 30000);
    road.Wait(300);
    road.Then([&] {
      auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView());
      ASSERT_NE(pView, nullptr);
      EXPECT_GE(pView->Panel()->RowCount(), 3u);
      EXPECT_TRUE(road.Traced("[QUOREL] User stoped recorder"));
      const auto uploads = road.Requests("search-post");
      ASSERT_EQ(uploads.size(), 1u);
      EXPECT_EQ(e2e::Field(uploads[0], "valid"), "true") << uploads[0];
      EXPECT_GT(std::stod(e2e::Field(uploads[0], "duration_s")), 5.4) << uploads[0];
      if (bWavMicrophone) {
        EXPECT_NEAR(std::stod(e2e::Field(uploads[0], "frequency_hz")), 262, 8) << uploads[0];
      }
      // The headless device's microphone was opened only when the file was
      // the microphone; otherwise SDL's was.
      EXPECT_EQ(road.Device().MicrophoneLog().empty(), !bWavMicrophone);
      std::printf("[ NOTE ] the record-stop cycle ended on the results (view 4, %zu rows)\n",
                  pView->Panel()->RowCount());
    });
  } else {
    road.Until("message 44", [] { return Called("ShowMessage 44 152"); }, 15000);
    road.Wait(300);
    road.Then([&] {
      EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
      ASSERT_NE(CRecorderView::Current(), nullptr);
      EXPECT_FALSE(CRecorderView::Current()->IsRecording());
      EXPECT_TRUE(road.Requests("search-post").empty());
      std::printf("[ NOTE ] no capture: the record tap ended on message 44 with the recorder idle\n");
    });
  }
  road.Then([] { PushKey(SDLK_F4); });
  road.Until("F4 ended the program", [] { return false; }, 10000);
  EXPECT_EQ(road.Run(), 0);
  EXPECT_TRUE(road.Misses().empty()) << road.Misses().front();
  unsetenv("QUOREL_MIC");
  plat::InstallDisplayBackend(std::make_shared<plat::HeadlessBackend>());
}

TEST(SdlSmoke, RecordStopThroughSdlCapture) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run through SdlSmokeUnderXvfb";
  RecordAndStopThroughTheWindow(false);
}

TEST(SdlSmoke, RecordStopFromTheWavMicrophone) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run through SdlSmokeUnderXvfb";
  RecordAndStopThroughTheWindow(true);
}

TEST(SdlSmoke, PaintsReachesTheServerAndEndsOnF4) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run through SdlSmokeUnderXvfb";
  e2e::Road road(WindowRoad());
  ASSERT_TRUE(road.Ready()) << road.Error();
  ASSERT_STREQ(plat::InstallPreferredDisplayBackend(), "sdl");
  auto pWindow = std::dynamic_pointer_cast<plat::SdlBackend>(plat::CurrentDisplayBackend());
  ASSERT_NE(pWindow, nullptr);

  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); },
             10000);
  // The window shows what the program painted, and that is a picture: once
  // the last paint has reached the window, however long that takes on the
  // host's clock.
  bool sameSize = false;
  size_t differ = 0;
  std::set<uint16_t> colours;
  road.Until("the window shows the program's picture", [&] {
    const std::vector<uint16_t> shown = pWindow->ReadBack();
    const plat::FrameBuffer& screen = plat::ScreenFrameBuffer();
    sameSize = shown.size() == static_cast<size_t>(screen.Width() * screen.Height());
    if (!sameSize) return false;
    differ = 0;
    colours.clear();
    for (int32_t y = 0; y < screen.Height(); ++y)
      for (int32_t x = 0; x < screen.Width(); ++x) {
        const uint16_t pixel = shown[static_cast<size_t>(y * screen.Width() + x)];
        differ += pixel != screen.Pixel(x, y);
        colours.insert(pixel);
      }
    return differ == 0;
  });
  road.Then([&] {
    ASSERT_TRUE(sameSize);
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

TEST(SdlSmokeUnderXvfb, RecordStopThroughSdlCapture) {
  xvfbchild::ExpectChildPasses(kChildFlag, "SdlSmoke.RecordStopThroughSdlCapture");
}

TEST(SdlSmokeUnderXvfb, RecordStopFromTheWavMicrophone) {
  xvfbchild::ExpectChildPasses(kChildFlag, "SdlSmoke.RecordStopFromTheWavMicrophone");
}

}  // namespace
