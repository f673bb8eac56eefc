#include <gtest/gtest.h>

#include "framework/Feedback.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DeviceServices.h"
#include "tests/framework/appui_test_support.h"

using namespace apptest;

namespace {

constexpr char16_t kVibe[] = u"ControlPanel\\VibeTonz";

class FeedbackTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    MakeFeedbackFiles();
  }
  // What feedback `id` played: "v <name>" and "s <name>" in order.
  std::vector<std::string> PlayedBy(int32_t nId) {
    plat::ResetDeviceServices();
    PlayFeedback(nId);
    return Played();
  }
};

TEST_F(FeedbackTest, TableVibratesFirstThenSoundsAndIgnoresOtherIds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(PlayedBy(1), (V{"v \\Windows\\press.ivt"}));
  EXPECT_EQ(PlayedBy(2), (V{"s 02_List Enter.wav"}));
  EXPECT_EQ(PlayedBy(7), (V{"v \\Windows\\release.ivt", "s 25_Tap_take off.wav"}));
  EXPECT_EQ(PlayedBy(10).back(), "s 22_Cancel.wav");
  EXPECT_EQ(PlayedBy(14).back(), "s 22_Cancel.wav");
  EXPECT_EQ(PlayedBy(15), (V{"v \\Windows\\button.ivt", "s 03_Toolbar.wav"}));
  EXPECT_TRUE(PlayFeedback(15));
  for (int32_t id : {0, -1, 16, 1000}) {
    EXPECT_TRUE(PlayedBy(id).empty()) << id;
    EXPECT_FALSE(PlayFeedback(id));
  }
}

TEST_F(FeedbackTest, VibrationNeedsTouchEventOneButSoundsDoNot) {
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchEvent", 2);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchVibeOn", 1);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchSoundOn", 1);
  EXPECT_EQ(PlayedBy(6), (std::vector<std::string>{"s 26_Tap_touch.wav"}));
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchEvent", 1);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchVibeOn", 0);
  plat::WriteDword(plat::HKEY_CURRENT_USER, kVibe, u"TouchSoundOn", 0);
  EXPECT_TRUE(PlayedBy(6).empty());
  EXPECT_FALSE(PlayFeedback(6));
}

TEST_F(FeedbackTest, BacklightIsRequestedAndReleasedOnceAndFailuresAreTraced) {
  MakeApp();
  plat::ResetDeviceServices();
  m_tp->ClearDebugLines();
  m_app->SetBacklightOn(true);
  m_app->SetBacklightOn(true);
  EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 1);
  m_app->SetBacklightOn(false);
  m_app->SetBacklightOn(false);
  plat::PowerRecord record = plat::CurrentPowerRecord();
  EXPECT_EQ(record.backlightHeld, 0);
  EXPECT_EQ(record.requirementsSet, 1);
  EXPECT_EQ(record.requirementsReleased, 1);

  plat::InjectPowerRequirementFailure(55);
  m_app->SetBacklightOn(true);
  plat::InjectPowerRequirementFailure(0);
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
  plat::PowerRecord before{};
  Run({[&] {
         m_app->SetBacklightOn(true);
         before = plat::CurrentPowerRecord();
       },
       Wait(300),
       [&] {
         plat::PowerRecord now = plat::CurrentPowerRecord();
         EXPECT_GE(now.systemIdleResets - before.systemIdleResets, 2);
         EXPECT_GE(now.shellIdleResets - before.shellIdleResets, 2);
         EXPECT_EQ(now.lastSystemPowerState, plat::POWER_STATE_ON);
         m_tp->Activate(false);
       },
       [&] {
         before = plat::CurrentPowerRecord();
         m_app->KeepDeviceAwake();
       },
       Wait(300),
       [&] {
         plat::PowerRecord now = plat::CurrentPowerRecord();
         EXPECT_EQ(now.systemIdleResets, before.systemIdleResets);
         EXPECT_EQ(now.shellIdleResets, before.shellIdleResets);
         EXPECT_EQ(now.systemPowerStateCalls, before.systemPowerStateCalls);
         m_app->SetBacklightOn(false);
       }});
}

}  // namespace
