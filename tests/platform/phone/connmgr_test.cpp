// The connection manager: GUIDs in memory order, the host backend, and the
// simulation's status sequences under the virtual clock, read the way the
// HTTP core's network wait reads them (wait on the handle, read the status).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <vector>

#include "platform/base/Errors.h"
#include "platform/kernel/Clock.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"

using namespace plat;
using Destination = SimConnMgr::Destination;

namespace {

TEST(Guids, AreKeptInMemoryOrder) {
  const std::array<uint8_t, 16> internet = {0x44, 0xF1, 0x6E, 0x43, 0xFB, 0xB4, 0x63, 0x48,
                                            0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72};
  EXPECT_EQ(IID_DestNetInternet.Bytes(), internet);
  const std::array<uint8_t, 16> proxy = {0xBD, 0xB0, 0x96, 0xAF, 0x81, 0xA4, 0x2C, 0x48,
                                         0xA0, 0x94, 0xA8, 0x44, 0x87, 0x67, 0xA0, 0xC0};
  EXPECT_EQ(IID_ConnPrv_IProxyExtension.Bytes(), proxy);
  for (const Guid* g : {&IID_DestNetInternet, &IID_DestNetCorp, &IID_DestNetWAP, &IID_DestNetSecureWAP}) {
    auto bytes = g->Bytes();
    EXPECT_EQ(Guid::FromBytes(bytes), *g);
  }
  EXPECT_FALSE(IID_DestNetWAP == IID_DestNetSecureWAP);
  EXPECT_EQ(IID_DestNetCorp.data1, 0xA1182988u);
  EXPECT_EQ(IID_DestNetSecureWAP.data4[7], 0x0C);
}

ConnRequest Request(const Guid& destination) {
  ConnRequest r;
  r.destination = destination;
  r.flags = CONNMGR_FLAG_PROXY_HTTP | CONNMGR_FLAG_PROXY_WAP;
  r.priority = CONNMGR_PRIORITY_USERINTERACTIVE;
  r.maxLatencyMs = 30000;
  return r;
}

class HostConnMgr : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistryForTests(); }
  void TearDown() override {
    unsetenv("http_proxy");
    ResetRegistryForTests();
  }
};

TEST_F(HostConnMgr, IsConnectedAtOnceWithNoProxyUnlessThePlatformNamesOne) {
  // The machine's environment must not decide what the program sees.
  setenv("http_proxy", "http://10.9.9.9:3128", 1);
  Handle c = ConnMgrEstablish(Request(IID_DestNetInternet));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0) << "establishment is a status change";
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_TIMEOUT) << "auto-reset";
  EXPECT_EQ(ConnMgrStatus(c), CONNMGR_STATUS_CONNECTED);
  EXPECT_FALSE(ConnMgrProxy(c));
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Proxy", u"127.0.0.1:3128"), 0);
  EXPECT_EQ(ConnMgrProxy(c), std::optional<WString>(u"127.0.0.1:3128"));
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Proxy", u""), 0);
  EXPECT_FALSE(ConnMgrProxy(c));

  ConnMgrRelease(c, false);
  SetLastError(0);
  EXPECT_EQ(ConnMgrStatus(c), CONNMGR_STATUS_UNKNOWN);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_FAILED) << "release closes the handle";
  EXPECT_FALSE(ConnMgrProxy(c));
  ConnMgrRelease(c, false);  // a second release is harmless
}

TEST_F(HostConnMgr, MapsEveryUrlThatCracksToTheInternet) {
  Guid g;
  EXPECT_TRUE(ConnMgrMapUrl(u"http://server.example/v2/", &g));
  EXPECT_EQ(g, IID_DestNetInternet);
  EXPECT_TRUE(ConnMgrMapUrl(u"https://x", &g));
  EXPECT_FALSE(ConnMgrMapUrl(u"", &g)) << "an absent server URL";
  EXPECT_FALSE(ConnMgrMapUrl(u"not a url", &g));
}

class SimConn : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistryForTests(); }
  void TearDown() override { ResetRegistryForTests(); }

  int64_t Ms() const { return (clock.Now() - start) / kClockNsPerMs; }

  struct Step {
    uint32_t status;
    int64_t atMs;
    bool operator==(const Step&) const = default;
  };
  // Every status the handle signals until `untilMs` of virtual time.
  std::vector<Step> Watch(Handle c, int64_t untilMs) {
    std::vector<Step> steps;
    for (;;) {
      ClockTime deadline = start + untilMs * kClockNsPerMs;
      if (WaitForMultipleObjectsUntil(std::span<const Handle>(&c, 1), deadline) != WAIT_OBJECT_0) break;
      steps.push_back({ConnMgrStatus(c), Ms()});
    }
    return steps;
  }

  VirtualClock clock;
  SimConnMgr sim;
  ClockTime start = clock.Now();
};

TEST_F(SimConn, StatusSequencesFollowTheDestinationsScript) {
  Destination slow;
  slow.delayMs = 3000;
  sim.SetDefault(slow);
  Destination failing;
  failing.delayMs = 2000;
  failing.outcome = Destination::Outcome::Fail;
  sim.SetDestination(IID_DestNetWAP, failing);
  Destination never;
  never.outcome = Destination::Outcome::Never;
  sim.SetDestination(IID_DestNetCorp, never);
  Destination instant;
  sim.SetDestination(IID_DestNetSecureWAP, instant);

  Handle internet = ConnMgrEstablish(Request(IID_DestNetInternet));
  EXPECT_EQ(Watch(internet, 60000), (std::vector<Step>{{0x40, 0}, {0x10, 3000}}));
  start = clock.Now();
  Handle wap = ConnMgrEstablish(Request(IID_DestNetWAP));
  EXPECT_EQ(Watch(wap, 60000), (std::vector<Step>{{0x40, 0}, {0x21, 2000}}));
  start = clock.Now();
  Handle corp = ConnMgrEstablish(Request(IID_DestNetCorp));
  EXPECT_EQ(Watch(corp, 60000), (std::vector<Step>{{0x40, 0}})) << "waits for good";
  start = clock.Now();
  Handle secure = ConnMgrEstablish(Request(IID_DestNetSecureWAP));
  EXPECT_EQ(Watch(secure, 1000), (std::vector<Step>{{0x10, 0}}));
  for (Handle h : {internet, wap, corp, secure}) ConnMgrRelease(h, false);
  EXPECT_EQ(sim.OpenConnections(), 0u);
}

TEST_F(SimConn, ADropTakesTheNetworkDownUntilItComesBack) {
  Destination flaky;
  flaky.dropAfterMs = 10000;
  flaky.downMs = 5000;
  flaky.delayMs = 0;
  sim.SetDefault(flaky);
  Handle first = ConnMgrEstablish(Request(IID_DestNetInternet));
  EXPECT_EQ(Watch(first, 12000), (std::vector<Step>{{0x10, 0}, {0x20, 10000}}));
  // While it is down a new establishment waits, then connects on return.
  Handle second = ConnMgrEstablish(Request(IID_DestNetInternet));
  EXPECT_EQ(ConnMgrStatus(second), CONNMGR_STATUS_WAITINGCONNECTION);
  EXPECT_FALSE(ConnMgrProxy(second)) << "no proxy before it is connected";
  EXPECT_EQ(Watch(second, 30000), (std::vector<Step>{{0x40, 12000}, {0x10, 15000}}));
  EXPECT_EQ(ConnMgrStatus(first), CONNMGR_STATUS_CONNECTED) << "the dropped one came back too";
  // The drop happens once per setting, not again for each connection.
  EXPECT_EQ(Watch(first, 120000), (std::vector<Step>{{0x10, 30000}})) << "signalled at the return, read now";
  EXPECT_EQ(Watch(second, 120000), std::vector<Step>{});
  ConnMgrRelease(first, false);
  ConnMgrRelease(second, false);
}

TEST_F(SimConn, DropAndRestoreByHand) {
  Handle c = ConnMgrEstablish(Request(IID_DestNetInternet));
  ASSERT_EQ(Watch(c, 100), (std::vector<Step>{{0x10, 0}}));
  sim.DropNetwork();
  EXPECT_EQ(Watch(c, 100), (std::vector<Step>{{0x20, 100}}));
  Handle waiting = ConnMgrEstablish(Request(IID_DestNetInternet));
  EXPECT_EQ(ConnMgrStatus(waiting), CONNMGR_STATUS_WAITINGCONNECTION);
  EXPECT_EQ(Watch(waiting, 100000), (std::vector<Step>{{0x40, 100}})) << "down until restored";
  sim.RestoreNetwork();
  EXPECT_EQ(Watch(c, 100000), (std::vector<Step>{{0x10, 100000}}));
  EXPECT_EQ(Watch(waiting, 100000), (std::vector<Step>{{0x10, 100000}}));
  ConnMgrRelease(c, true);
  ConnMgrRelease(waiting, false);
}

TEST_F(SimConn, ProxyMappingAndTheCallLog) {
  Destination withProxy;
  withProxy.proxy = u"10.0.0.5:8080";
  sim.SetDestination(IID_DestNetWAP, withProxy);
  sim.SetMapUrlResult(IID_DestNetWAP);
  Guid g;
  ASSERT_TRUE(ConnMgrMapUrl(u"http://server.example/", &g));
  EXPECT_EQ(g, IID_DestNetWAP);
  EXPECT_FALSE(ConnMgrMapUrl(u"", &g)) << "a URL that does not crack maps nowhere";
  Handle c = ConnMgrEstablish(Request(g));
  EXPECT_EQ(ConnMgrStatus(c), CONNMGR_STATUS_CONNECTED);
  EXPECT_EQ(ConnMgrProxy(c), std::optional<WString>(u"10.0.0.5:8080"));
  ConnMgrRelease(c, false);
  sim.SetMapUrlResult(std::nullopt);
  EXPECT_FALSE(ConnMgrMapUrl(u"http://server.example/", &g));

  auto calls = sim.Calls();
  using K = SimConnMgr::CallKind;
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0].kind, K::MapUrl);
  EXPECT_EQ(calls[0].url, u"http://server.example/");
  EXPECT_EQ(calls[0].result, 1u);
  EXPECT_EQ(calls[1].result, 0u);
  EXPECT_EQ(calls[2].kind, K::Establish);
  EXPECT_EQ(calls[2].destination, IID_DestNetWAP);
  EXPECT_EQ(calls[2].flags, 3u);
  EXPECT_EQ(calls[2].priority, 0x8000u);
  EXPECT_EQ(calls[2].maxLatencyMs, 30000u);
  EXPECT_EQ(calls[3].kind, K::Status);
  EXPECT_EQ(calls[3].result, CONNMGR_STATUS_CONNECTED);
  EXPECT_EQ(calls[4].kind, K::Proxy);
  EXPECT_EQ(calls[5].kind, K::Release);
  EXPECT_FALSE(calls[5].cache);
  EXPECT_EQ(calls[6].kind, K::MapUrl);
  EXPECT_EQ(calls[6].result, 0u);
}

TEST(SimConnLifetime, RemovalDisconnectsWhatItHeldAndTheHostComesBack) {
  ResetRegistryForTests();
  Handle c;
  {
    SimConnMgr sim;
    Destination never;
    never.outcome = Destination::Outcome::Never;
    sim.SetDefault(never);
    c = ConnMgrEstablish(Request(IID_DestNetInternet));
    EXPECT_EQ(ConnMgrStatus(c), CONNMGR_STATUS_WAITINGCONNECTION);
    WaitForSingleObject(c, 0);
  }
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0);
  EXPECT_EQ(ConnMgrStatus(c), CONNMGR_STATUS_DISCONNECTED);
  ConnMgrRelease(c, false);
  Handle host = ConnMgrEstablish(Request(IID_DestNetInternet));
  EXPECT_EQ(ConnMgrStatus(host), CONNMGR_STATUS_CONNECTED);
  ConnMgrRelease(host, false);
}

}  // namespace
