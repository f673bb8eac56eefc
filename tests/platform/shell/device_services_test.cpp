// Input panel, power and feedback: the state a device would be in after the
// program's calls, read back as the program and the desktop backend see it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/display/Display.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DeviceServices.h"
#include "platform/ui/MenuBar.h"

namespace fs = std::filesystem;
using namespace plat;

namespace {

class DeviceServices : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceServices();
    ResetRegistryForTests();
    ConfigureRegistry(RegistryConfig{});
    SetDisplayOrientation(DMDO_DEFAULT);
    ReloadDisplayConfig();
  }
  void TearDown() override {
    ResetDeviceServices();
    SetDisplayOrientation(DMDO_DEFAULT);
  }
};

SipInfo QuerySip() {
  SipInfo info;
  info.cbSize = sizeof(SipInfo);
  EXPECT_TRUE(SipGetInfo(&info));
  return info;
}

TEST_F(DeviceServices, InputPanelStateAndAreasFollowShowAndRotation) {
  const int32_t bar = MenuBarHeight();
  ASSERT_GT(bar, 0);
  SipInfo off = QuerySip();
  EXPECT_EQ(off.fdwFlags & SIPF_ON, 0u);
  EXPECT_EQ(off.rcVisibleDesktop.bottom, 800 - bar);
  EXPECT_EQ(off.rcSipRect.bottom, 800 - bar);
  EXPECT_EQ(off.rcSipRect.right, 480);
  EXPECT_GT(off.rcSipRect.Height(), 0);

  ASSERT_TRUE(SipShowIM(SIPF_ON));
  SipInfo on = QuerySip();
  EXPECT_EQ(on.fdwFlags & SIPF_ON, SIPF_ON);
  // The panel takes its band out of what stays usable.
  EXPECT_EQ(on.rcVisibleDesktop.bottom, on.rcSipRect.top);
  EXPECT_EQ(on.rcSipRect, off.rcSipRect);

  // A value that is neither on nor off is refused and changes nothing.
  SetLastError(0);
  EXPECT_FALSE(SipShowIM(2));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(QuerySip().fdwFlags & SIPF_ON, SIPF_ON);

  ASSERT_TRUE(SipShowIM(SIPF_OFF));
  EXPECT_EQ(QuerySip().fdwFlags & SIPF_ON, 0u);

  ASSERT_TRUE(SetDisplayOrientation(DMDO_90));
  SipInfo turned = QuerySip();
  EXPECT_EQ(turned.rcSipRect.right, 800);
  EXPECT_EQ(turned.rcSipRect.bottom, 480 - MenuBarHeight());
}

TEST_F(DeviceServices, InputPanelRecordSizeIsChecked) {
  SetLastError(0);
  EXPECT_FALSE(SipGetInfo(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  SipInfo tooSmall;
  tooSmall.cbSize = kSipInfoMinSize - 1;
  tooSmall.fdwFlags = 0xABCD;
  EXPECT_FALSE(SipGetInfo(&tooSmall));
  EXPECT_EQ(tooSmall.fdwFlags, 0xABCDu);

  // A record that ends before the input-method data gets the rest left alone.
  SipInfo shortRecord;
  shortRecord.cbSize = kSipInfoMinSize;
  shortRecord.dwImDataSize = 77;
  EXPECT_TRUE(SipGetInfo(&shortRecord));
  EXPECT_EQ(shortRecord.dwImDataSize, 77u);
  EXPECT_GT(shortRecord.rcSipRect.Width(), 0);
}

TEST_F(DeviceServices, PowerRequirementsAreCountedPerDeviceAndReleasedOnce) {
  EXPECT_FALSE(BacklightRequired());
  HPowerRequirement backlight = SetPowerRequirement(u"BKL1:", D0, POWER_NAME);
  ASSERT_NE(backlight, nullptr);
  // Device names compare without case, as on the device.
  HPowerRequirement backlight2 = SetPowerRequirement(u"bkl1:", D0, POWER_NAME);
  ASSERT_NE(backlight2, nullptr);
  HPowerRequirement audio = SetPowerRequirement(u"WAV1:", D0, POWER_NAME);
  ASSERT_NE(audio, nullptr);
  EXPECT_NE(backlight, backlight2);

  PowerRecord r = CurrentPowerRecord();
  EXPECT_EQ(r.backlightHeld, 2);
  EXPECT_EQ(r.audioHeld, 1);
  EXPECT_EQ(r.heldTotal, 3);
  EXPECT_TRUE(BacklightRequired());

  EXPECT_EQ(ReleasePowerRequirement(backlight), ERROR_SUCCESS);
  EXPECT_TRUE(BacklightRequired());
  EXPECT_EQ(ReleasePowerRequirement(backlight2), ERROR_SUCCESS);
  EXPECT_FALSE(BacklightRequired());
  // Released, never held, or null: refused without touching the counts.
  int notARequirement = 0;
  EXPECT_EQ(ReleasePowerRequirement(backlight), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReleasePowerRequirement(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReleasePowerRequirement(reinterpret_cast<HPowerRequirement>(&notARequirement)), ERROR_INVALID_HANDLE);
  r = CurrentPowerRecord();
  EXPECT_EQ(r.backlightHeld, 0);
  EXPECT_EQ(r.audioHeld, 1);
  EXPECT_EQ(r.requirementsSet, 3);
  EXPECT_EQ(r.requirementsReleased, 2);

  // Resetting the device drops what is still held.
  ResetDeviceServices();
  EXPECT_EQ(CurrentPowerRecord().heldTotal, 0);
  EXPECT_EQ(ReleasePowerRequirement(audio), ERROR_INVALID_HANDLE);
}

TEST_F(DeviceServices, PowerRequirementFailuresLeaveNothingHeld) {
  struct Case {
    const char16_t* device;
    int state;
    uint32_t error;
  } cases[] = {{u"", 0, ERROR_INVALID_PARAMETER}, {u"BKL1:", 5, ERROR_INVALID_PARAMETER},
               {u"BKL1:", -1, ERROR_INVALID_PARAMETER}};
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(SetPowerRequirement(c.device, static_cast<DevicePowerState>(c.state), POWER_NAME), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  const uint32_t kDeviceGone = 1167;
  InjectPowerRequirementFailure(kDeviceGone);
  SetLastError(0);
  EXPECT_EQ(SetPowerRequirement(u"BKL1:", D0, POWER_NAME), nullptr);
  EXPECT_EQ(GetLastError(), kDeviceGone);
  EXPECT_EQ(SetPowerRequirement(u"WAV1:", D0, POWER_NAME), nullptr);
  EXPECT_FALSE(BacklightRequired());
  EXPECT_EQ(CurrentPowerRecord().requirementsSet, 0);

  InjectPowerRequirementFailure(0);
  HPowerRequirement h = SetPowerRequirement(u"BKL1:", D0, POWER_NAME);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ReleasePowerRequirement(h), ERROR_SUCCESS);
}

TEST_F(DeviceServices, UnattendedModeIdleTimersAndPowerStateAreRecorded) {
  SetLastError(0);
  EXPECT_FALSE(PowerPolicyNotify(PPN_UNATTENDEDMODE, false));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, true));
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, true));
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, false));
  EXPECT_EQ(CurrentPowerRecord().unattended, 1);
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, false));
  EXPECT_EQ(CurrentPowerRecord().unattended, 0);
  EXPECT_TRUE(PowerPolicyNotify(PPN_REEVALUATESTATE, true));
  EXPECT_EQ(CurrentPowerRecord().unattended, 0);

  SystemIdleTimerReset();
  SystemIdleTimerReset();
  SHIdleTimerReset();
  EXPECT_EQ(SetSystemPowerState(nullptr, POWER_STATE_ON, POWER_FORCE), ERROR_SUCCESS);
  EXPECT_EQ(SetSystemPowerState(u"on", POWER_STATE_ON, 0), ERROR_SUCCESS);
  const PowerRecord r = CurrentPowerRecord();
  EXPECT_EQ(r.systemIdleResets, 2);
  EXPECT_EQ(r.shellIdleResets, 1);
  EXPECT_EQ(r.systemPowerStateCalls, 2);
  EXPECT_EQ(r.lastSystemPowerStateName, u"on");
  EXPECT_EQ(r.lastSystemPowerState, POWER_STATE_ON);
  EXPECT_EQ(r.lastSystemPowerStateFlags, 0u);
}

TEST_F(DeviceServices, RequirementsFromManyThreadsBalance) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRounds; ++i) {
        HPowerRequirement h = SetPowerRequirement(t % 2 ? u"BKL1:" : u"WAV1:", D0, POWER_NAME);
        if (h) ReleasePowerRequirement(h);
        SystemIdleTimerReset();
      }
    });
  }
  for (auto& th : threads) th.join();
  const PowerRecord r = CurrentPowerRecord();
  EXPECT_EQ(r.heldTotal, 0);
  EXPECT_EQ(r.requirementsSet, kThreads * kRounds);
  EXPECT_EQ(r.requirementsReleased, kThreads * kRounds);
  EXPECT_EQ(r.systemIdleResets, kThreads * kRounds);
}

class Feedback : public DeviceServices {
 protected:
  void SetUp() override {
    DeviceServices::SetUp();
    char pattern[] = "/tmp/feedback-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    FileSystemConfig config;
    config.deviceRoot = m_root / "device";
    ASSERT_TRUE(ConfigureFileSystem(config));
    fs::create_directories(DeviceFile("Windows"));
    fs::create_directories(DeviceFile("Sounds"));
  }
  void TearDown() override {
    DeviceServices::TearDown();
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }
  fs::path DeviceFile(const std::string& relative) { return m_root / "device" / "fs" / relative; }
  fs::path Touch(const std::string& relative) {
    fs::path p = DeviceFile(relative);
    std::ofstream(p) << "x";
    return p;
  }
  static LedSettings Vibration(const char16_t* path) {
    LedSettings s;
    s.LedNum = kVibrationLed;
    s.OffOnBlink = 1;
    s.MetaCycleOn = reinterpret_cast<intptr_t>(path);
    s.MetaCycleOff = 999;
    return s;
  }
  fs::path m_root;
};

TEST_F(Feedback, VibrationPlaysAnExistingEffectFile) {
  const fs::path press = Touch("Windows/press.ivt");
  // The program names its effects with and without the leading backslash,
  // in any case.
  EXPECT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, Vibration(u"\\Windows\\press.ivt")));
  EXPECT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, Vibration(u"windows\\press.ivt")));

  struct Refused {
    uint32_t id;
    LedSettings settings;
    uint32_t error;
  } refused[] = {
      {NLED_SETTINGS_INFO_ID, Vibration(u"\\Windows\\missing.ivt"), ERROR_FILE_NOT_FOUND},
      {NLED_SETTINGS_INFO_ID, Vibration(u"\\Windows"), ERROR_FILE_NOT_FOUND},  // a folder is no effect
      {NLED_SETTINGS_INFO_ID, Vibration(nullptr), ERROR_FILE_NOT_FOUND},
      {1, Vibration(u"\\Windows\\press.ivt"), ERROR_NOT_SUPPORTED},
  };
  refused[3].settings.LedNum = kVibrationLed;
  for (const Refused& r : refused) {
    SetLastError(0);
    EXPECT_FALSE(NLedSetDevice(r.id, r.settings));
    EXPECT_EQ(GetLastError(), r.error);
  }
  LedSettings otherLed = Vibration(u"\\Windows\\press.ivt");
  otherLed.LedNum = 1;
  SetLastError(0);
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, otherLed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  const auto events = FeedbackEvents();
  ASSERT_EQ(events.size(), 2u);
  for (const FeedbackEvent& e : events) {
    EXPECT_EQ(e.kind, FeedbackEvent::Kind::Vibration);
    EXPECT_TRUE(fs::equivalent(e.file, press));
  }
  EXPECT_EQ(events[1].name, u"windows\\press.ivt");
}

// A program that runs for weeks taps without end: the records keep the
// newest requests, in order, and never more than their limit.
TEST_F(Feedback, OnlyTheNewestRequestsAreKept) {
  Touch("Windows/tap.wav");
  const size_t kPlays = 2 * kKeptFeedbackEvents + 5;
  for (size_t i = 0; i < kPlays; ++i)
    ASSERT_TRUE(PlaySound(i + 1 == kPlays ? u"" : u"tap.wav", nullptr, static_cast<uint32_t>(i)));
  const auto events = FeedbackEvents();
  EXPECT_LE(events.size(), kKeptFeedbackEvents);
  EXPECT_GE(events.size(), kKeptFeedbackEvents / 2);
  EXPECT_EQ(events.back().kind, FeedbackEvent::Kind::SoundStop);
  const size_t first = kPlays - events.size();
  for (size_t i = 0; i < events.size(); ++i) ASSERT_EQ(events[i].flags, first + i);
}

TEST_F(Feedback, AnUnterminatedEffectPathIsReadOnlyUpToTheLimit) {
  // Exactly as long as the limit, with no terminator after it: reading on
  // would leave the buffer.
  std::vector<char16_t> unterminated(260, u'a');
  LedSettings s = Vibration(nullptr);
  s.MetaCycleOn = reinterpret_cast<intptr_t>(unterminated.data());
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, s));
  EXPECT_TRUE(FeedbackEvents().empty());
}

TEST_F(Feedback, SoundsResolveAsPathsThenInTheWindowsFolder) {
  const fs::path enter = Touch("Windows/02_List Enter.wav");
  const fs::path own = Touch("Sounds/tap.wav");
  const fs::path rootCopy = Touch("dup.wav");
  Touch("Windows/dup.wav");

  EXPECT_TRUE(PlaySound(u"02_List Enter.wav", nullptr, SND_ASYNC));
  EXPECT_TRUE(PlaySound(u"\\Sounds\\tap.wav", nullptr, SND_ASYNC));
  EXPECT_TRUE(PlaySound(u"dup.wav", nullptr, SND_ASYNC));  // the path wins over the folder
  SetLastError(0);
  EXPECT_FALSE(PlaySound(u"12_List Popup.wav", nullptr, SND_ASYNC));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(PlaySound(u"Windows", nullptr, SND_ASYNC));
  EXPECT_TRUE(PlaySound(u"", nullptr, SND_ASYNC));

  const auto events = FeedbackEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_TRUE(fs::equivalent(events[0].file, enter));
  EXPECT_EQ(events[0].name, u"02_List Enter.wav");
  EXPECT_EQ(events[0].flags, SND_ASYNC);
  EXPECT_TRUE(fs::equivalent(events[1].file, own));
  EXPECT_TRUE(fs::equivalent(events[2].file, rootCopy));
  EXPECT_EQ(events[3].kind, FeedbackEvent::Kind::SoundStop);

  ResetDeviceServices();
  EXPECT_TRUE(FeedbackEvents().empty());
}

}  // namespace
