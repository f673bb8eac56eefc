// The telephony stand-in: the default line and identity, version and name
// queries, incoming calls delivered to monitored lines on the telephony
// thread, and sessions that end cleanly even from inside their callback.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"
#include "tests/support/Waits.h"

using namespace plat;

namespace {

constexpr uint32_t kSafetyMs = support::kHangMs;

struct Delivery {
  uintptr_t device;
  uint32_t message;
  uintptr_t instance;
  uintptr_t p3;
  uint32_t thread;
};

class Telephony_ : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRegistryForTests();
    ConfigureTelephony(std::nullopt);
  }
  void TearDown() override {
    ConfigureTelephony(std::nullopt);
    if (delivered) CloseHandle(delivered);
  }

  // A session whose callback records each message and signals `delivered`.
  TelSession Recording() {
    delivered = CreateEvent(false, false);
    return Telephony::Initialize([this](uintptr_t device, uint32_t message, uintptr_t instance, uintptr_t,
                                        uintptr_t, uintptr_t p3) {
      {
        std::lock_guard<std::mutex> guard(lock);
        deliveries.push_back({device, message, instance, p3, GetCurrentThreadId()});
      }
      SetEvent(delivered);
    });
  }
  std::vector<Delivery> Deliveries() {
    std::lock_guard<std::mutex> guard(lock);
    return deliveries;
  }

  std::mutex lock;
  std::vector<Delivery> deliveries;
  Handle delivered = nullptr;
};

TEST_F(Telephony_, TheDefaultDeviceIsOneCellularLineWithTheConfiguredIdentity) {
  TelSession session = Telephony::Initialize({});
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(Telephony::DeviceCount(session), 1u);
  EXPECT_EQ(Telephony::LineName(session, 0), std::optional<WString>(u"Cellular Line"));
  EXPECT_EQ(Telephony::NegotiateVersion(session, 0, 0x10004, 0x20000), std::optional<uint32_t>(0x20000));
  LineHandle line = Telephony::Open(session, 0, LinePrivilege::None, 0);
  ASSERT_NE(line, nullptr);
  auto info = Telephony::GetGeneralInfo(line);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->serial.empty()) << "no identity configured: a phone without SIM";
  EXPECT_TRUE(info->subscriber.empty());
  EXPECT_TRUE(Telephony::Close(line));
  EXPECT_TRUE(Telephony::Shutdown(session));

  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"IMEI", u"356938035643809"), 0);
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"IMSI", u"310150123456789"), 0);
  session = Telephony::Initialize({});
  line = Telephony::Open(session, 0, LinePrivilege::None, 0);
  info = Telephony::GetGeneralInfo(line);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->serial, u"356938035643809");
  EXPECT_EQ(info->subscriber, u"310150123456789");
  Telephony::Shutdown(session);
}

TEST_F(Telephony_, VersionsNamesAndFailingDevices) {
  TelephonyConfig config;
  config.devices = {SimLineDevice{}, SimLineDevice{u"Cellular Line", false, true},
                    SimLineDevice{u"Cellular Line", true, false}};
  ConfigureTelephony(config);
  TelSession session = Telephony::Initialize({});
  EXPECT_EQ(Telephony::DeviceCount(session), 3u);
  struct Case {
    uint32_t device, low, high;
    std::optional<uint32_t> agreed;
  };
  const Case cases[] = {
      {0, 0x20000, 0x20000, 0x20000},  // the line monitor asks for exactly this
      {0, 0x10004, 0x30000, 0x20000},  // the highest the device has
      {0, 0x10004, 0x10004, 0x10004},
      {0, 0x30000, 0x40000, std::nullopt},
      {1, 0x10004, 0x20000, std::nullopt},  // does not negotiate
      {3, 0x10004, 0x20000, std::nullopt},  // no such device
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.device << " " << std::hex << c.low << "-" << c.high);
    EXPECT_EQ(Telephony::NegotiateVersion(session, c.device, c.low, c.high), c.agreed);
  }
  EXPECT_TRUE(Telephony::LineName(session, 1));
  EXPECT_FALSE(Telephony::LineName(session, 2)) << "capabilities cannot be read";
  EXPECT_FALSE(Telephony::LineName(session, 3));
  EXPECT_EQ(Telephony::Open(session, 3, LinePrivilege::Monitor, 0), nullptr);
  Telephony::Shutdown(session);

  // Stale handles are refused, never mistaken for newer ones.
  EXPECT_EQ(Telephony::DeviceCount(session), 0u);
  EXPECT_EQ(Telephony::Open(session, 0, LinePrivilege::None, 0), nullptr);
  EXPECT_FALSE(Telephony::Shutdown(session));
  ConfigureTelephony(TelephonyConfig{{}, u"", u""});
  session = Telephony::Initialize({});
  EXPECT_EQ(Telephony::DeviceCount(session), 0u) << "a device without lines";
  Telephony::Shutdown(session);
}

TEST_F(Telephony_, InjectedFailuresOfTheServiceOfOneOpenAndOfTheGeneralInformation) {
  TelephonyConfig config;
  config.devices = {SimLineDevice{}, SimLineDevice{u"Cellular Line", true, true, false}};
  config.imei = u"356938035643809";
  config.generalInfo = false;
  ConfigureTelephony(config);
  TelSession session = Telephony::Initialize({});
  ASSERT_NE(session, nullptr);
  LineHandle line = Telephony::Open(session, 0, LinePrivilege::None, 0);
  ASSERT_NE(line, nullptr);
  EXPECT_FALSE(Telephony::GetGeneralInfo(line));
  EXPECT_EQ(Telephony::Open(session, 1, LinePrivilege::Monitor, 1), nullptr) << "this device refuses to open";
  EXPECT_TRUE(Telephony::NegotiateVersion(session, 1, 0x20000, 0x20000)) << "it still negotiates";
  Telephony::Shutdown(session);

  config.initializes = false;
  ConfigureTelephony(config);
  EXPECT_EQ(Telephony::Initialize({}), nullptr);
  EXPECT_EQ(Telephony::Initialize([](uintptr_t, uint32_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {}), nullptr);
}

TEST_F(Telephony_, AnIncomingCallReachesMonitoredLinesOfItsDeviceOnTheTelephonyThread) {
  TelephonyConfig config;
  config.devices = {SimLineDevice{}, SimLineDevice{u"Data Line"}, SimLineDevice{}};
  ConfigureTelephony(config);
  TelSession session = Recording();
  LineHandle watched = Telephony::Open(session, 2, LinePrivilege::Monitor, 7);
  LineHandle other = Telephony::Open(session, 0, LinePrivilege::Monitor, 3);
  LineHandle unprivileged = Telephony::Open(session, 2, LinePrivilege::None, 9);
  ASSERT_TRUE(watched && other && unprivileged);

  EXPECT_EQ(SimulateIncomingCall(2), 1);
  ASSERT_EQ(WaitForSingleObject(delivered, kSafetyMs), WAIT_OBJECT_0);
  auto got = Deliveries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, LINE_APPNEWCALL);
  EXPECT_EQ(got[0].instance, 7u);
  EXPECT_EQ(got[0].device, reinterpret_cast<uintptr_t>(watched));
  EXPECT_EQ(got[0].p3, LINECALLPRIVILEGE_MONITOR);
  EXPECT_NE(got[0].thread, GetCurrentThreadId());

  EXPECT_EQ(SimulateIncomingCall(1), 0);
  ASSERT_TRUE(Telephony::Close(watched));
  EXPECT_FALSE(Telephony::Close(watched));
  EXPECT_FALSE(Telephony::GetGeneralInfo(watched));
  EXPECT_EQ(SimulateIncomingCall(2), 0) << "a closed line hears nothing";
  EXPECT_EQ(SimulateIncomingCall(0), 1);
  ASSERT_EQ(WaitForSingleObject(delivered, kSafetyMs), WAIT_OBJECT_0);
  EXPECT_EQ(Deliveries().back().instance, 3u);
  EXPECT_TRUE(Telephony::Shutdown(session));
  EXPECT_EQ(SimulateIncomingCall(0), 0) << "shutting down closes the lines";
}

TEST_F(Telephony_, ShutdownWaitsForARunningCallbackAndNoneRunsAfter) {
  Handle entered = CreateEvent(false, false);
  Handle gate = CreateEvent(true, false);
  std::atomic<int> calls{0};
  std::atomic<bool> callbackDone{false}, doneBeforeShutdownReturned{false};
  TelSession session = Telephony::Initialize([&](uintptr_t, uint32_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {
    ++calls;
    SetEvent(entered);
    WaitForSingleObject(gate, kSafetyMs);
    callbackDone = true;
  });
  Telephony::Open(session, 0, LinePrivilege::Monitor, 0);
  ASSERT_EQ(SimulateIncomingCall(0), 1);
  ASSERT_EQ(WaitForSingleObject(entered, kSafetyMs), WAIT_OBJECT_0);
  SimulateIncomingCall(0);  // queued behind the running one; never delivered
  std::thread closer([&] {
    Telephony::Shutdown(session);
    doneBeforeShutdownReturned = callbackDone.load();
  });
  // The callback is let go only once the shutdown has begun (the session is
  // gone from view), and a moment later, so a shutdown that does not wait
  // for it would have returned first.
  EXPECT_TRUE(support::PollUntil([&] { return Telephony::DeviceCount(session) == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  SetEvent(gate);
  closer.join();
  EXPECT_TRUE(doneBeforeShutdownReturned);
  EXPECT_EQ(calls.load(), 1);
  CloseHandle(entered);
  CloseHandle(gate);
}

TEST_F(Telephony_, ShutdownFromInsideTheCallbackEndsTheSession) {
  Handle finished = CreateEvent(false, false);
  TelSession session = nullptr;
  std::atomic<bool> result{false};
  session = Telephony::Initialize([&](uintptr_t, uint32_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {
    result = Telephony::Shutdown(session);
    SetEvent(finished);
  });
  Telephony::Open(session, 0, LinePrivilege::Monitor, 0);
  SimulateIncomingCall(0);
  ASSERT_EQ(WaitForSingleObject(finished, kSafetyMs), WAIT_OBJECT_0);
  EXPECT_TRUE(result);
  EXPECT_EQ(Telephony::DeviceCount(session), 0u);
  EXPECT_EQ(SimulateIncomingCall(0), 0);
  CloseHandle(finished);
}

}  // namespace
