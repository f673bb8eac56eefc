// The HTTP core on the simulated network and connection manager, under the
// virtual clock: exact receive splits, network waits, losses, look-ups and
// the long time-outs, in milliseconds of real time.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "CoreHarness.h"
#include "Exchanges.h"

namespace nettest {
namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new TQuietTrace);

using plat::SimConnMgr;

class SimTest : public CoreTest {
 protected:
  void SetUp() override {
    TNetOptions options;
    options.bSimulated = true;
    Build(options);
  }

  // Every connection to ip:port takes the next script; one without a
  // script reads its request and stalls.
  void Serve(std::vector<TScript> scripts, uint32_t ip = kServerIp, uint16_t port = 8080) {
    auto queue = std::make_shared<std::pair<std::mutex, std::deque<TScript>>>();
    for (TScript& s : scripts) queue->second.push_back(std::move(s));
    m_net->Listen(ip, port, [queue](plat::SimPeer& peer) {
      TScript script;
      {
        std::lock_guard<std::mutex> guard(queue->first);
        if (!queue->second.empty()) {
          script = std::move(queue->second.front());
          queue->second.pop_front();
        }
      }
      SimScript(script)(peer);
    });
  }
  uint32_t Now() const { return plat::GetTickCount(); }

  static constexpr const char16_t* kUrl = u"http://server.test:8080/v2/?method=x";
};

TEST_F(SimTest, ExchangesAsDataWithExactSplits) {
  std::vector<TExchange> exchanges = Exchanges();
  std::vector<TScript> scripts;
  for (const TExchange& x : exchanges) scripts.push_back(x.script);
  Serve(scripts);
  for (const TExchange& x : exchanges) {
    int32_t id = Begin(EHttpGet, kUrl, [&](int32_t id) {
      if (x.bGzip) m_core->AcceptGzip(id);
    });
    ASSERT_TRUE(m_log.WaitEnd(id, 60000)) << x.name;
    EXPECT_EQ(m_log.Events(id), x.events) << x.name;
    EXPECT_EQ(Take(id), x.body) << x.name;
  }
  std::vector<plat::SimNetwork::ConnectionInfo> connections = m_net->Connections();
  ASSERT_EQ(connections.size(), exchanges.size());
  EXPECT_EQ(connections[0].fromClient, "GET /v2/?method=x HTTP/1.1\r\nHost: server.test:8080\r\n\r\n");
}

TEST_F(SimTest, TheWholeResponseInOneArrival) {
  std::string counted = Counted(kBody);
  std::string chunked = kOk + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(kBody, {10, 100, 1000});
  Serve({Reply({counted}), Reply({chunked})});
  for (int i = 0; i < 2; ++i) {
    int32_t id = Begin(EHttpGet, kUrl);
    ASSERT_TRUE(m_log.WaitEnd(id, 60000));
    // Counted: one arrival gives no body-data report at all; chunked: one
    // per chunk.
    Events expected = i == 0 ? Events{9, 1, 3, 4, 6, 7} : Events{9, 1, 3, 4, 5, 5, 5, 5, 6, 7};
    EXPECT_EQ(m_log.Raw(id), expected);
    EXPECT_EQ(Take(id), kBody);
  }
}

TEST_F(SimTest, AResetConnectionFailsTheReceive) {
  TScript script = Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false);
  script.steps.push_back(Pause(100));
  script.steps.push_back(ResetStep());
  Serve({script});
  int32_t id = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_log.WaitEnd(id, 60000));
  EXPECT_EQ(m_log.Events(id), (Events{9, 1, 3, 4, 21}));
  EXPECT_EQ(Take(id), "ab");
}

TEST_F(SimTest, WaitsForTheNetworkThenGoesOn) {
  SimConnMgr::Destination never;
  never.outcome = SimConnMgr::Destination::Outcome::Never;
  m_connMgr->SetDefault(never);
  Serve({Reply({Counted("late")})});
  uint32_t before = Now();
  int32_t id = Begin(EHttpGet, kUrl);
  EXPECT_EQ(Now(), before);  // Start does not wait for the network
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
  ASSERT_TRUE(m_log.WaitFor(id, EHttpNoNetwork, 1, 120000));
  EXPECT_GE(Now() - before, 60000u);
  // The network comes: the next retry (a second later) connects.
  m_connMgr->SetDefault({});
  ASSERT_TRUE(m_log.WaitEnd(id, 200000));
  Events events = m_log.Events(id);
  ASSERT_GE(events.size(), 7u);
  EXPECT_EQ(events.front(), EHttpNoNetwork);
  EXPECT_EQ(Events(events.end() - 6, events.end()), (Events{9, 1, 3, 4, 6, 7}));
  EXPECT_EQ(Take(id), "late");
}

TEST_F(SimTest, ClosingDuringTheNetworkWaitEndsItQuietly) {
  SimConnMgr::Destination slow;
  slow.delayMs = 30000;
  m_connMgr->SetDefault(slow);
  int32_t id = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  uint32_t before = Now();
  EXPECT_TRUE(m_core->IsProxiedOrOffline());  // answers during the establishment
  EXPECT_EQ(m_core->Close(id), 0);
  EXPECT_LT(Now() - before, 1000u);
  m_clock->RunFor(70000);
  EXPECT_EQ(m_log.Raw(id), Events{});
}

// One request waits for a network that is not there; the others' commands
// (a screen closing its preview, a new request) answer at once, and a
// request started meanwhile goes on once the network comes.
TEST_F(SimTest, CommandsForOtherRequestsAnswerDuringAnEstablishment) {
  SimConnMgr::Destination never;
  never.outcome = SimConnMgr::Destination::Outcome::Never;
  m_connMgr->SetDefault(never);
  Serve({Reply({Counted("first")}), Reply({Counted("second")})});
  int32_t waiting = m_core->Open(EHttpGet, kUrl);
  ASSERT_GT(waiting, 0);
  int32_t closed = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  const uint32_t before = Now();
  EXPECT_EQ(m_core->Close(waiting), 0);
  int32_t later = Begin(EHttpGet, kUrl);
  EXPECT_GT(later, 0);
  EXPECT_EQ(m_core->GetBodyLength(later), 0);
  EXPECT_EQ(m_core->Close(closed), 0);
  EXPECT_LT(Now() - before, 1000u);
  EXPECT_EQ(m_log.Raw(closed), Events{});
  // The network comes: the request started during the wait is served.
  m_connMgr->SetDefault({});
  ASSERT_TRUE(m_log.WaitEnd(later, 200000));
  Events events = m_log.Events(later);
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(Events(events.end() - 6, events.end()), (Events{9, 1, 3, 4, 6, 7}));
  EXPECT_EQ(Take(later), "first");
}

TEST_F(SimTest, ReleasingDuringAnEstablishmentCutsItShort) {
  SimConnMgr::Destination slow;
  slow.delayMs = 30000;
  m_connMgr->SetDefault(slow);
  Serve({Reply({Counted("ok")})});
  int32_t id = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  uint32_t before = Now();
  m_core->ReleaseNetwork();
  EXPECT_LT(Now() - before, 1000u);
  // The request tries again with a new establishment, without a report 8.
  ASSERT_TRUE(m_log.WaitEnd(id, 120000));
  Events events = m_log.Events(id);
  EXPECT_EQ(events, (Events{9, 1, 3, 4, 6, 7}));
  Take(id);
}

TEST_F(SimTest, NetworkLossDropsEverySocketAndTheNetworkComesBack) {
  Serve({Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false)});
  Serve({Reply({Counted("x")}, false)}, kServerIp, 8082);
  int32_t a = Begin(EHttpGet, kUrl);
  int32_t b = Begin(EHttpGet, u"http://server.test:8082/");
  ASSERT_TRUE(m_log.WaitFor(a, EHttpHeadersDone, 1, 60000));
  ASSERT_TRUE(m_log.WaitFor(b, EHttpComplete, 1, 60000));
  uint32_t before = Now();
  m_connMgr->DropNetwork();
  ASSERT_TRUE(m_log.WaitFor(a, EHttpNetworkLost, 1, 60000));
  ASSERT_TRUE(m_log.WaitFor(b, EHttpNetworkLost, 1, 60000));
  EXPECT_LE(Now() - before, 5000u);
  EXPECT_EQ(m_log.Events(a), (Events{9, 1, 3, 4, 25}));
  EXPECT_EQ(m_log.Events(b), (Events{9, 1, 3, 4, 6, 25}));
  Take(a);
  Take(b);

  m_connMgr->RestoreNetwork();
  Serve({Reply({Counted("back")})}, kServerIp, 8081);
  int32_t c = Begin(EHttpGet, u"http://server.test:8081/");
  ASSERT_TRUE(m_log.WaitEnd(c, 60000));
  EXPECT_EQ(Take(c), "back");
}

TEST_F(SimTest, QuietConnectionsDropAfterTwentyFivePeriods) {
  Serve({Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false)});
  int32_t id = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_log.WaitFor(id, EHttpHeadersDone, 1, 60000));
  uint32_t before = Now();
  ASSERT_TRUE(m_log.WaitFor(id, EHttpIdle, 1, 200000));
  uint32_t spent = Now() - before;
  EXPECT_GT(spent, 120000u);
  EXPECT_LE(spent, 130000u);
  Take(id);
}

TEST_F(SimTest, TrafficOnOneSlotKeepsAnotherAlive) {
  // The idle counter is the core's, not the slot's.
  TScript ticking;
  ticking.steps.push_back(Send(kOk + "Transfer-Encoding: chunked\r\n\r\n"));
  for (int i = 0; i < 40; ++i) {
    ticking.steps.push_back(Pause(4000));
    ticking.steps.push_back(Send("1\r\nx\r\n"));
  }
  Serve({Reply({kOk + "Content-Length: 100\r\n\r\nab"}, false)});
  Serve({ticking}, kServerIp, 8082);
  int32_t stalled = Begin(EHttpGet, kUrl);
  int32_t busy = Begin(EHttpGet, u"http://server.test:8082/");
  m_clock->RunFor(150000);
  EXPECT_EQ(m_log.Count(stalled, EHttpIdle), 0u);
  EXPECT_GE(m_log.Count(busy, EHttpBodyData), 30u);
  Take(stalled);
  Take(busy);
}

TEST_F(SimTest, LookupsRunInOrderAndCancellingNeverWaits) {
  m_net->AddHost("a.test", kServerIp);
  m_net->AddHost("b.test", plat::Ipv4(10, 0, 0, 8));
  m_net->AddHost("c.test", plat::Ipv4(10, 0, 0, 9));
  m_net->SetLookupDelay(20000);
  Serve({Reply({Counted("a")})}, kServerIp, 80);
  Serve({Reply({Counted("b")})}, plat::Ipv4(10, 0, 0, 8), 80);
  int32_t a = Begin(EHttpGet, u"http://a.test/");
  int32_t b = Begin(EHttpGet, u"http://b.test/");
  int32_t c = Begin(EHttpGet, u"http://c.test/");
  ASSERT_TRUE(m_clock->Settle());
  uint32_t before = Now();
  // b is queued behind a's lookup; a is inside its lookup.
  EXPECT_EQ(m_core->Close(b), 0);
  EXPECT_EQ(m_core->Close(a), 0);
  EXPECT_EQ(Now(), before);
  ASSERT_TRUE(m_log.WaitEnd(c, 120000));
  EXPECT_EQ(m_net->Lookups(), (std::vector<std::string>{"a.test", "c.test"}));
  // The abandoned lookup reached nobody: no 11, no connection.
  EXPECT_EQ(m_log.Raw(a), (Events{9}));
  EXPECT_EQ(m_log.Raw(b), (Events{9}));
  EXPECT_EQ(m_log.Events(c), (Events{9, 12}));  // nobody listens on c.test
  EXPECT_TRUE(m_net->Connections().empty());
  Take(c);
}

TEST_F(SimTest, AnAbandonedLookupNeverReachesTheSlotsNextRequest) {
  m_net->SetLookupDelay(10000);
  Serve({Reply({Counted("second")})});
  int32_t first = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  m_core->Close(first);
  // The same slot serves the next request while the old lookup still runs.
  m_net->SetLookupDelay(0);
  int32_t second = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_log.WaitEnd(second, 60000));
  m_clock->RunFor(20000);
  EXPECT_EQ(m_log.Events(second), (Events{9, 1, 3, 4, 6, 7}));
  EXPECT_EQ(Take(second), "second");
  EXPECT_EQ(m_net->Connections().size(), 1u);
}

TEST_F(SimTest, StoppingTheResolverIsBoundedAndDropsQueuedLookups) {
  m_net->SetLookupDelay(CDNSResolver::kStopWaitMs * 3);
  int32_t a = Begin(EHttpGet, kUrl);
  int32_t b = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  m_core.reset();  // the worker first, as at shut-down
  uint32_t before = Now();
  m_resolver.Stop();
  EXPECT_LE(Now() - before, CDNSResolver::kStopWaitMs + 100);
  EXPECT_EQ(m_log.Raw(a), (Events{9}));
  EXPECT_EQ(m_log.Raw(b), (Events{9}));
  // The lookup still running ends by itself and frees what it got.
  m_clock->RunFor(CDNSResolver::kStopWaitMs * 4);
}

TEST_F(SimTest, WifiComingUpReleasesTheConnectionOnceNoRequestIsOpen) {
  Serve({Reply({Counted("1")}, false), Reply({Counted("2")}, false)});
  int32_t a = Begin(EHttpGet, kUrl);
  int32_t b = Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_log.WaitFor(b, EHttpComplete, 1, 60000));
  ASSERT_TRUE(m_log.WaitFor(a, EHttpComplete, 1, 60000));
  auto releases = [&] {
    size_t n = 0;
    for (const SimConnMgr::Call& call : m_connMgr->Calls()) n += call.kind == SimConnMgr::CallKind::Release;
    return n;
  };
  SimConnMgr::SetWifi(0x10);
  ASSERT_TRUE(m_clock->Settle());
  EXPECT_EQ(releases(), 0u);
  Take(a);
  ASSERT_TRUE(m_clock->Settle());
  EXPECT_EQ(releases(), 0u);
  Take(b);
  ASSERT_TRUE(m_clock->Settle());
  EXPECT_EQ(releases(), 1u);
  EXPECT_EQ(m_connMgr->OpenConnections(), 0u);
}

TEST_F(SimTest, ShutdownDoesNotWaitForAnEstablishment) {
  SimConnMgr::Destination never;
  never.outcome = SimConnMgr::Destination::Outcome::Never;
  m_connMgr->SetDefault(never);
  Begin(EHttpGet, kUrl);
  ASSERT_TRUE(m_clock->Settle());
  uint32_t before = Now();
  EXPECT_EQ(m_core->Shutdown(), 0);
  EXPECT_LT(Now() - before, 1000u);
  EXPECT_EQ(m_core->Open(EHttpGet, kUrl), -1);  // nobody answers any more
}

// ---------------------------------------------------------------------------
// Network selection

class SelectionTest : public SimTest {
 protected:
  plat::Guid Selected() {
    plat::Guid guid;
    EXPECT_TRUE(m_core->SelectDestinationNetwork(&guid));
    return guid;
  }
};

TEST_F(SelectionTest, PicksTheDestinationInItsOrder) {
  m_connMgr->SetMapUrlResult(plat::IID_DestNetCorp);
  EXPECT_EQ(Selected(), plat::IID_DestNetCorp);  // nothing set: the URL decides
  const plat::Guid* table[] = {&plat::IID_DestNetInternet, &plat::IID_DestNetCorp, &plat::IID_DestNetWAP,
                               &plat::IID_DestNetSecureWAP};
  for (uint32_t type = 1; type <= 4; ++type) {
    RegSetAppDword(u"quorelGUIDType", type);
    EXPECT_EQ(Selected(), *table[type - 1]) << type;
  }
  // Wi-Fi up: the URL decides even over the user's choice.
  SimConnMgr::SetWifi(0x10);
  EXPECT_EQ(Selected(), plat::IID_DestNetCorp);
  SimConnMgr::SetWifi(0);
  // An unknown type falls through to the external path, which must be
  // exactly 16 bytes.
  RegSetAppDword(u"quorelGUIDType", 5);
  std::vector<uint8_t> bytes(16);
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);
  plat::WriteBinary(plat::HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                    u"ConnMgrExternalPath", bytes);
  auto external = Selected().Bytes();
  EXPECT_EQ(std::vector<uint8_t>(external.begin(), external.end()), bytes);
  bytes.pop_back();
  plat::WriteBinary(plat::HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                    u"ConnMgrExternalPath", bytes);
  EXPECT_EQ(Selected(), plat::IID_DestNetCorp);
  m_connMgr->SetMapUrlResult(std::nullopt);
  plat::Guid guid;
  EXPECT_FALSE(m_core->SelectDestinationNetwork(&guid));
}

TEST_F(SelectionTest, EstablishingTracesTheGuidAndLearnsTheProxy) {
  SimConnMgr::Destination withProxy;
  withProxy.proxy = u"proxy.test:3128";
  m_connMgr->SetDefault(withProxy);
  RegSetAppDword(u"quorelGUIDType", 1);
  TDebugCapture capture;
  plat::Handle hCancel = plat::CreateEvent(false, false);
  bool bCancelled = true;
  ASSERT_TRUE(m_core->EstablishNetwork(hCancel, &bCancelled));
  EXPECT_FALSE(bCancelled);
  EXPECT_EQ(capture.Count("[QUOREL] Network GUID used: 44,f1,6e,43,fb,b4,63,48,a0,41,8f,90,5a,62,c5,72\n"), 1u);
  plat::WString host;
  uint16_t port = 0;
  m_core->GetProxy(host, port);
  EXPECT_EQ(host, u"proxy.test");
  EXPECT_EQ(port, 3128);
  EXPECT_TRUE(m_core->IsProxiedOrOffline());
  std::vector<SimConnMgr::Call> calls = m_connMgr->Calls();
  auto establish = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.kind == SimConnMgr::CallKind::Establish; });
  ASSERT_NE(establish, calls.end());
  EXPECT_EQ(establish->flags, 3u);
  EXPECT_EQ(establish->priority, 0x8000u);
  EXPECT_EQ(establish->maxLatencyMs, 30000u);
  // The setting wins over the connection manager's proxy.
  RegSetAppString(u"proxy", u"10.1.1.1");
  ASSERT_TRUE(m_core->EstablishNetwork(hCancel, &bCancelled));
  m_core->GetProxy(host, port);
  EXPECT_EQ(host, u"10.1.1.1");
  EXPECT_EQ(port, 80);
  plat::CloseHandle(hCancel);
}

TEST_F(SelectionTest, ProxyTexts) {
  struct TCase {
    const char16_t* text;
    const char16_t* host;
    uint16_t port;
  } cases[] = {
      {u"1.2.3.4", u"1.2.3.4", 80},         {u"1.2.3.4:8080", u"1.2.3.4", 8080}, {u":8080", u":8080", 80},
      {u"h:", u"h", 80},                    {u"h:abc", u"h", 80},                {u"h:70000", u"h", 80},
      {u"h:0", u"h", 80},                   {u"", u"", 80},
  };
  for (const TCase& c : cases) {
    m_core->SetProxy(c.text);
    plat::WString host;
    uint16_t port = 0;
    m_core->GetProxy(host, port);
    EXPECT_EQ(host, c.host) << plat::ToUtf8(c.text);
    EXPECT_EQ(port, c.port) << plat::ToUtf8(c.text);
  }
}

TEST_F(SelectionTest, AProxiedRequestResolvesAndConnectsToTheProxy) {
  m_net->AddHost("proxy.test", plat::Ipv4(10, 9, 9, 9));
  RegSetAppString(u"proxy", u"proxy.test:3128");
  Serve({Reply({Counted("p")})}, plat::Ipv4(10, 9, 9, 9), 3128);
  int32_t id = Begin(EHttpGet, u"http://origin.test/a");
  ASSERT_TRUE(m_log.WaitEnd(id, 60000));
  EXPECT_EQ(Take(id), "p");
  EXPECT_EQ(m_net->Lookups(), (std::vector<std::string>{"proxy.test"}));
  EXPECT_EQ(m_net->Connections().at(0).fromClient,
            "GET http://origin.test/a HTTP/1.1\r\nHost: origin.test\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

}  // namespace
}  // namespace nettest
