#include <gtest/gtest.h>

#include "framework/Feedback.h"
#include "framework/Trace.h"
#include "platform/registry/Registry.h"
#include "tests/framework/appui_test_support.h"

using namespace apptest;

namespace {

constexpr char16_t kVibe[] = u"ControlPanel\\VibeTonz";

class FeedbackTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    DeviceServices().ClearCalls();
  }
  std::vector<std::string> CallsOf(int32_t nId) {
    DeviceServices().ClearCalls();
    PlayFeedback(nId);
    return DeviceServices().Calls();
  }
};

TEST_F(FeedbackTest, TableVibratesFirstThenSoundsAndIgnoresOtherIds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(CallsOf(1), (V{"vibe \\Windows\\press.ivt"}));
  EXPECT_EQ(CallsOf(2), (V{"sound 02_List Enter.wav"}));
  EXPECT_EQ(CallsOf(7), (V{"vibe \\Windows\\release.ivt", "sound 25_Tap_take off.wav"}));
  EXPECT_EQ(CallsOf(10).back(), "sound 22_Cancel.wav");
  EXPECT_EQ(CallsOf(14).back(), "sound 22_Cancel.wav");
  EXPECT_EQ(CallsOf(15), (V{"vibe \\Windows\\button.ivt", "sound 03_Toolbar.wav"}));
  for (int32_t id : {0, -1, 16, 1000}) {
    EXPECT_TRUE(CallsOf(id).empty()) << id;
    EXPECT_FALSE(PlayFeedback(id));
  }
}

TEST_F(FeedbackTest, VibrationNeedsTouchEventOneButSoundsDoNot) {
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchEvent", 2);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchVibeOn", 1);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchSoundOn", 1);
  EXPECT_EQ(CallsOf(6), (std::vector<std::string>{"sound 26_Tap_touch.wav"}));
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchEvent", 1);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchVibeOn", 0);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchSoundOn", 0);
  EXPECT_TRUE(CallsOf(6).empty());
  EXPECT_FALSE(PlayFeedback(6));
}

TEST_F(FeedbackTest, BacklightIsRequestedAndReleasedOnceAndFailuresAreTraced) {
  MakeApp();
  m_tp->ClearDebugLines();
  m_app->SetBacklightOn(true);
  m_app->SetBacklightOn(true);
  EXPECT_EQ(DeviceServices().HeldRequirements(), 1);
  m_app->SetBacklightOn(false);
  m_app->SetBacklightOn(false);
  EXPECT_EQ(DeviceServices().HeldRequirements(), 0);
  auto calls = DeviceServices().Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "power set"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "power release"), 1);

  DeviceServices().FailNextRequirement(55);
  m_app->SetBacklightOn(true);
  EXPECT_TRUE(m_app->IsBacklightHeld());
  m_app->SetBacklightOn(false);
  auto lines = m_tp->DebugLines();
  auto has = [&](const std::string& s) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(s) != std::string::npos; });
  };
  EXPECT_TRUE(has("[QUOREL] * Backlight: power req set OK"));
  EXPECT_TRUE(has("[QUOREL] * Backlight: power req released OK"));
  EXPECT_TRUE(has("[QUOREL] * Backlight: power req set error 55!"));
  EXPECT_TRUE(has("[QUOREL] * Backlight: power req released error!"));
}

TEST_F(FeedbackTest, IdleTimersAreResetOnlyInTheForegroundAndOnTicksWhileHeld) {
  MakeApp();
  Run({[&] {
         m_app->SetBacklightOn(true);
         DeviceServices().ClearCalls();
       },
       Wait(300),
       [&] {
         auto calls = DeviceServices().Calls();
         EXPECT_GE(std::count(calls.begin(), calls.end(), "idle"), 2);
         EXPECT_GE(std::count(calls.begin(), calls.end(), "shell idle"), 2);
         m_tp->Activate(false);
       },
       [&] {
         DeviceServices().ClearCalls();
         m_app->KeepDeviceAwake();
       },
       Wait(300),
       [&] {
         EXPECT_TRUE(DeviceServices().Calls().empty());
         m_app->SetBacklightOn(false);
       }});
}

}  // namespace
