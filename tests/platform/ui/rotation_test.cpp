// Turning the display: sizes, framebuffer, invalidation and the
// setting-change message.
#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "tests/platform/ui/UiTestUtil.h"

namespace {

using namespace plat;
using namespace uit;

class Rotation : public ::testing::Test {
 protected:
  void SetUp() override {
    main = rec.Create("M", nullptr, {0, 0, 480, 800});
    child = rec.Create("C", main, {0, 0, 100, 100});
    other = rec.Create("O", nullptr, {0, 0, 50, 50});
    rec.OnMessage(main, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (m == WM_SETTINGCHANGE) sizeSeen = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      return std::nullopt;
    });
    Drain();
    rec.Clear();
    rec.Only({WM_SETTINGCHANGE});
  }
  TestPlatform p;
  Recorder rec;
  HWND main = nullptr, child = nullptr, other = nullptr;
  Size sizeSeen;
};

TEST_F(Rotation, EachTurnResizesInvalidatesAndTellsTheTopLevelWindows) {
  struct Step {
    int angle;
    uint32_t query;
    Size screen;
    bool told;
  } steps[] = {
      {90, DMDO_90, {800, 480}, true},   {90, DMDO_90, {800, 480}, false},  // the same again: nothing
      {180, DMDO_180, {480, 800}, true}, {0, DMDO_DEFAULT, {480, 800}, true},  // a half turn keeps the size
      {270, DMDO_270, {800, 480}, true}, {0, DMDO_DEFAULT, {480, 800}, true},
  };
  for (const Step& s : steps) {
    for (HWND h : {main, child, other}) ValidateRect(h, nullptr);
    rec.Clear();
    sizeSeen = {};
    const uint64_t generation = ScreenFrameBuffer().Generation();
    ASSERT_EQ(p.Rotate(s.angle), DISP_CHANGE_SUCCESSFUL) << s.angle;
    EXPECT_EQ(QueryDisplayOrientation(), s.query) << s.angle;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), s.screen.cx) << s.angle;
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), s.screen.cy) << s.angle;
    EXPECT_EQ(p.Screen().Dimensions(), s.screen) << s.angle;
    Rect update;
    if (s.told) {
      EXPECT_TRUE(Sequence(rec.Records(), {{"O", WM_SETTINGCHANGE, SETTINGCHANGE_RESET},
                                           {"M", WM_SETTINGCHANGE, SETTINGCHANGE_RESET}}))
          << s.angle;
      EXPECT_EQ(sizeSeen, s.screen) << "the size is the new one when the window hears of it";
      EXPECT_NE(ScreenFrameBuffer().Generation(), generation);
      EXPECT_EQ(p.Screen().Damage(), (Rect{0, 0, s.screen.cx, s.screen.cy}));
      ASSERT_TRUE(GetUpdateRect(child, &update, false)) << s.angle;
      EXPECT_EQ(update, (Rect{0, 0, 100, 100}));
    } else {
      EXPECT_TRUE(rec.Records().empty()) << s.angle;
      EXPECT_EQ(ScreenFrameBuffer().Generation(), generation);
      EXPECT_FALSE(GetUpdateRect(child, &update, false));
    }
  }
}

TEST_F(Rotation, BadOrientationsChangeNothing) {
  for (uint32_t dmdo : {3u, 5u, 8u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ChangeDisplayOrientation(dmdo), DISP_CHANGE_BADPARAM) << dmdo;
  }
  EXPECT_EQ(p.Rotate(45), DISP_CHANGE_BADPARAM);
  EXPECT_EQ(QueryDisplayOrientation(), DMDO_DEFAULT);
  EXPECT_TRUE(rec.Records().empty());
}

// The program writes "Angle" and polls it back; the platform never resets it.
TEST_F(Rotation, TheProgramsAngleValueIsLeftAlone) {
  constexpr const char16_t* kKey = u"System\\GDI\\ROTATION";
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, kKey, u"Angle", 90), 0);
  p.Rotate(90);
  p.Rotate(0);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kKey, u"Angle"), 90u);
}

TEST_F(Rotation, TheSlideWritesItsStateAndTellsTheMainWindow) {
  rec.Only({WM_SLIDE_CHANGED});
  ASSERT_TRUE(p.SetSlide(true));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState"), 1u);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_SLIDE_CHANGED}}));
  ASSERT_TRUE(p.SetSlide(false));
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState"), 0u);
}

// A backend's device keys arrive through the display's input sink and run
// on the UI thread in order with the rest of the queue.
TEST_F(Rotation, BackendDeviceKeysRunOnTheUiThread) {
  class Capturing : public HeadlessBackend {
   public:
    bool Init(IInputSink& input, const FrameBuffer& screen) override {
      sink = &input;
      return HeadlessBackend::Init(input, screen);
    }
    IInputSink* sink = nullptr;
  };
  auto backend = std::make_shared<Capturing>();
  ASSERT_TRUE(InstallDisplayBackend(backend));
  ASSERT_NE(backend->sink, nullptr);
  backend->sink->Rotate(DMDO_90);
  EXPECT_EQ(QueryDisplayOrientation(), DMDO_DEFAULT);  // not yet: it is queued
  p.Pump();
  EXPECT_EQ(QueryDisplayOrientation(), DMDO_90);
  EXPECT_TRUE(Sequence(rec.Records(), {{"O", WM_SETTINGCHANGE}, {"M", WM_SETTINGCHANGE}}));
  rec.Only({WM_LBUTTONDOWN, WM_KEYDOWN, WM_CLOSE});
  backend->sink->Pointer(PointerKind::Down, 60, 60);
  backend->sink->Key(VK_RETURN, true);
  backend->sink->Close();
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"C", WM_LBUTTONDOWN}, {"O", WM_KEYDOWN}, {"M", WM_CLOSE}}));
}

}  // namespace
