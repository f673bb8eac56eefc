// The phone-line monitor over the telephony stand-in: which lines it opens,
// what a call posts, how it fails, and destruction while calls arrive.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "framework/PhoneLineMonitor.h"
#include "platform/kernel/Kernel.h"
#include "platform/phone/Telephony.h"
#include "tests/support/Waits.h"

namespace {

using plat::SimLineDevice;

// The application's queue and registry; a wake-up signals `woken`.
struct TApp {
  plat::Handle woken = plat::CreateEvent(false, false);
  CObjectRegistry registry;
  CEventQueue queue{[this] { return plat::SetEvent(woken); }};
  TApp() { queue.SetInitialised(true); }
  ~TApp() { plat::CloseHandle(woken); }
};

class CallListener : public CEventListenerFor<IncomingCallEvent> {
 public:
  std::vector<int32_t> lines;
  std::vector<bool> onUiThread;

 protected:
  void HandleEvent(const int32_t& line) override {
    lines.push_back(line);
    onUiThread.push_back(CEventQueue::IsUiThread());
  }
};

class PhoneLineMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_app = std::make_unique<TApp>();
    m_listener.Subscribe();
  }
  void TearDown() override {
    m_listener.Unsubscribe();
    m_app.reset();
    plat::ConfigureTelephony(std::nullopt);
  }
  static void Devices(std::vector<SimLineDevice> devices) {
    plat::TelephonyConfig config;
    config.devices = std::move(devices);
    plat::ConfigureTelephony(config);
  }
  static SimLineDevice Cellular() { return SimLineDevice{}; }
  static SimLineDevice Named(const char16_t* name) { return SimLineDevice{name}; }
  // Rings `device` and runs what reaches the queue; the lines told.
  int Ring(uint32_t device) {
    const int told = plat::SimulateIncomingCall(device);
    for (int i = 0; i < told; ++i) {
      EXPECT_EQ(plat::WaitForSingleObject(m_app->woken, support::kHangMs), plat::WAIT_OBJECT_0);
      m_app->queue.RunEvents();
    }
    while (!m_app->queue.IsEmpty()) m_app->queue.RunEvents();
    return told;
  }
  static int32_t StartError(CPhoneLineMonitor& monitor) {
    try {
      monitor.Start();
    } catch (const Env::TSysErrorCode& e) {
      return e.code;
    }
    return 0;
  }

  std::unique_ptr<TApp> m_app;
  CallListener m_listener;
};

TEST_F(PhoneLineMonitorTest, OpensTheFirstTenCellularLinesAndACallPostsItsLineIndex) {
  std::vector<SimLineDevice> devices(11, Cellular());
  Devices(devices);
  {
    CPhoneLineMonitor monitor;
    EXPECT_EQ(CPhoneLineMonitor::Live(), &monitor);
    ASSERT_EQ(StartError(monitor), 0);
    EXPECT_EQ(monitor.OpenLineCount(), 10u);
    EXPECT_EQ(Ring(10), 0) << "the eleventh line is not watched";
    EXPECT_EQ(Ring(9), 1);
  }
  EXPECT_EQ(CPhoneLineMonitor::Live(), nullptr);
  EXPECT_EQ(m_listener.lines, std::vector<int32_t>{9});
  EXPECT_EQ(m_listener.onUiThread, std::vector<bool>{true});
  EXPECT_EQ(plat::SimulateIncomingCall(0), 0) << "every line closed";
}

TEST_F(PhoneLineMonitorTest, LinesAreIndexedAmongCellularLinesOnly) {
  SimLineDevice noCaps = Cellular();
  noCaps.capabilities = false;
  SimLineDevice noVersion = Cellular();
  noVersion.negotiates = false;
  Devices({Cellular(), Named(u"Data Line"), noCaps, Cellular(), noVersion, Named(u"cellular line"), Cellular()});
  CPhoneLineMonitor monitor;
  ASSERT_EQ(StartError(monitor), 0);
  EXPECT_EQ(monitor.OpenLineCount(), 3u);
  EXPECT_EQ(Ring(6), 1);
  EXPECT_EQ(Ring(3), 1);
  EXPECT_EQ(Ring(1), 0);
  EXPECT_EQ(Ring(2), 0) << "capabilities failed: skipped";
  EXPECT_EQ(m_listener.lines, (std::vector<int32_t>{2, 1}));
}

TEST_F(PhoneLineMonitorTest, EveryFailureIsErrorSevenAndOnlyOpenedLinesAreClosed) {
  SimLineDevice refuses = Cellular();
  refuses.opens = false;
  struct Case {
    const char* what;
    std::vector<SimLineDevice> devices;
    bool initializes;
    size_t opened;
  };
  const Case cases[] = {
      {"no cellular line", {Named(u"Data Line")}, true, 0},
      {"no line at all", {}, true, 0},
      {"no telephony", {Cellular()}, false, 0},
      {"the third line does not open", {Cellular(), Cellular(), refuses, Cellular()}, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::TelephonyConfig config;
    config.devices = c.devices;
    config.initializes = c.initializes;
    plat::ConfigureTelephony(config);
    {
      CPhoneLineMonitor monitor;
      EXPECT_EQ(StartError(monitor), 7);
      EXPECT_EQ(monitor.OpenLineCount(), c.opened);
      // The lines a failed start did open are still watched until the end.
      EXPECT_EQ(Ring(1), c.opened ? 1 : 0);
    }
    for (uint32_t device = 0; device < 4; ++device) EXPECT_EQ(plat::SimulateIncomingCall(device), 0);
  }
  EXPECT_TRUE(m_app->queue.IsEmpty());
}

TEST_F(PhoneLineMonitorTest, OtherMessagesAreIgnored) {
  for (uint32_t message : {0u, 2u, 22u, 24u, 0xFFFFFFFFu})
    CPhoneLineMonitor::OnLineMessage(1, message, 3, 0, 0, 0);
  EXPECT_TRUE(m_app->queue.IsEmpty());
  CPhoneLineMonitor::OnLineMessage(1, plat::LINE_APPNEWCALL, 3, 0, 7, plat::LINECALLPRIVILEGE_MONITOR);
  m_app->queue.RunEvents();
  EXPECT_EQ(m_listener.lines, std::vector<int32_t>{3});
}

TEST_F(PhoneLineMonitorTest, DestructionWhileCallsArrive) {
  Devices({Cellular(), Cellular()});
  for (int round = 0; round < 20; ++round) {
    auto monitor = std::make_unique<CPhoneLineMonitor>();
    ASSERT_EQ(StartError(*monitor), 0);
    std::atomic<bool> stop{false};
    std::thread caller([&] {
      while (!stop.load()) plat::SimulateIncomingCall(round % 2);
    });
    monitor.reset();
    stop = true;
    caller.join();
    while (!m_app->queue.IsEmpty()) m_app->queue.RunEvents();
  }
  // Devices 0 and 1 are lines 0 and 1.
  for (int32_t line : m_listener.lines) EXPECT_TRUE(line == 0 || line == 1) << line;
}

}  // namespace
