// The HTTP core under test: a registry with the application key, a pinned
// proxy setting (none), the connection manager's simulation, the resolver
// with a lookup hook (no result ever depends on the machine's resolver), and
// a listener that records every event per connection.
//
// Two networks: real loopback sockets on the real clock, or the platform's
// simulated network on the virtual clock (long time-outs then cost nothing).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "NetTestUtil.h"
#include "ScriptServer.h"
#include "framework/AppRegistry.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "platform/kernel/Clock.h"
#include "platform/net/SimNet.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"

namespace nettest {

// Every event of every connection, in order; a platform event wakes waiters,
// so waiting works on the virtual clock too.
class TEventLog : public CHTTPListener {
 public:
  TEventLog() : m_hChanged(plat::CreateEvent(false, false)) {}
  ~TEventLog() override { plat::CloseHandle(m_hChanged); }

  void OnHTTPEvent(int32_t id, int32_t code) override {
    std::function<void(int32_t, int32_t)> hook;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_events[id].push_back(code);
      hook = m_onEvent;
    }
    if (hook) hook(id, code);
    plat::SetEvent(m_hChanged);
  }
  // Runs on the worker for every event.
  void SetHook(std::function<void(int32_t, int32_t)> hook) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_onEvent = std::move(hook);
  }

  std::vector<int32_t> Raw(int32_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events[id];
  }
  // Without the body-data reports, whose number depends on how the bytes
  // happened to arrive.
  std::vector<int32_t> Events(int32_t id) {
    std::vector<int32_t> out;
    for (int32_t code : Raw(id))
      if (code != EHttpBodyData) out.push_back(code);
    return out;
  }
  size_t Count(int32_t id, int32_t code) {
    std::vector<int32_t> raw = Raw(id);
    return static_cast<size_t>(std::count(raw.begin(), raw.end(), code));
  }

  // Waits on the platform clock until `done` holds for the connection.
  bool WaitUntil(int32_t id, const std::function<bool(const std::vector<int32_t>&)>& done,
                 uint32_t ms = support::kHangMs) {
    uint32_t start = plat::GetTickCount();
    for (;;) {
      if (done(Raw(id))) return true;
      uint32_t spent = plat::GetTickCount() - start;
      if (spent >= ms) return false;
      plat::WaitForSingleObject(m_hChanged, ms - spent);
    }
  }
  bool WaitFor(int32_t id, int32_t code, size_t times = 1, uint32_t ms = support::kHangMs) {
    return WaitUntil(
        id, [&](const std::vector<int32_t>& e) { return static_cast<size_t>(std::count(e.begin(), e.end(), code)) >= times; },
        ms);
  }
  // An end: closed, or any error.
  bool WaitEnd(int32_t id, uint32_t ms = support::kHangMs) {
    return WaitUntil(
        id,
        [](const std::vector<int32_t>& e) {
          return std::any_of(e.begin(), e.end(), [](int32_t c) { return c == EHttpClosed || c >= EHttpAborted; });
        },
        ms);
  }

 private:
  plat::Handle m_hChanged;
  std::mutex m_lock;
  std::map<int32_t, std::vector<int32_t>> m_events;
  std::function<void(int32_t, int32_t)> m_onEvent;
};

struct TNetOptions {
  bool bSimulated = false;     // simulated network on the virtual clock
  bool bVirtualClock = false;  // loopback sockets on the virtual clock
  THTTPCoreTimings timings;
};

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {}

  void Build(TNetOptions options = {}) {
    plat::ResetRegistryForTests();
    RegOpenAppKey();
    // The server's base URL, which picks the network when nothing else does.
    RegSetAppString(u"url", u"http://server.test/");
    // The proxy is what the test says, whatever the machine's environment.
    plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
    if (options.bSimulated || options.bVirtualClock) m_clock = std::make_unique<plat::VirtualClock>();
    m_connMgr = std::make_unique<plat::SimConnMgr>();
    if (options.bSimulated) {
      m_net = std::make_unique<plat::SimNetwork>();
      m_net->AddHost("server.test", kServerIp);
    }
    plat::SetLookupHook([](std::string_view host, std::vector<uint32_t>& addresses) -> uint32_t {
      if (host == "fail.test") return plat::WSAHOST_NOT_FOUND;
      if (host == "loop.test") {
        addresses.push_back(plat::Ipv4(127, 0, 0, 1));
        return 0;
      }
      return plat::kLookupNotHandled;
    });
    ASSERT_TRUE(m_resolver.Start());
    m_core = std::make_unique<CHTTPCore>(options.timings);
    ASSERT_TRUE(m_core->StartThread());
  }

  void TearDown() override {
    CHTTPEntry::SetConnectHookForTests({});
    m_core.reset();
    m_resolver.Stop();
    plat::SetLookupHook({});
    m_net.reset();
    m_connMgr.reset();
    m_clock.reset();
    RegCloseAppKey();
    plat::ResetRegistryForTests();
  }

  // Opens, listens, optionally prepares, and starts a request.
  int32_t Begin(int32_t method, const std::u16string& url, const std::function<void(int32_t)>& prepare = {}) {
    int32_t id = m_core->Open(method, url);
    EXPECT_GT(id, 0);
    if (id <= 0) return id;
    EXPECT_EQ(m_core->SetListener(id, &m_log), 0);
    if (prepare) prepare(id);
    EXPECT_EQ(m_core->Start(id), 0);
    return id;
  }
  // Closes and returns the body (or what the sink holds) as text.
  std::string Take(int32_t id) {
    CHTTPSink* pSink = nullptr;
    EXPECT_EQ(m_core->Close(id, &pSink), 0);
    std::string body;
    if (pSink && pSink->GetData()) body.assign(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
    DisposeOwnedSink(pSink);
    return body;
  }

  static std::u16string Url(uint16_t port, const char* path = "/") {
    return plat::Widen("http://127.0.0.1:" + std::to_string(port) + path);
  }
  static constexpr uint32_t kServerIp = plat::Ipv4(10, 0, 0, 7);

  std::unique_ptr<plat::VirtualClock> m_clock;
  std::unique_ptr<plat::SimConnMgr> m_connMgr;
  std::unique_ptr<plat::SimNetwork> m_net;
  CDNSResolver m_resolver;
  std::unique_ptr<CHTTPCore> m_core;
  TEventLog m_log;
};

}  // namespace nettest
