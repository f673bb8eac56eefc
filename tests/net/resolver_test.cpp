// The name resolver on its own, on the virtual clock: look-ups go through
// the platform's look-up hook, which stands for a name server of any speed.
#include "net/DNSResolver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "NetTestUtil.h"
#include "platform/kernel/Clock.h"
#include "platform/net/SimNet.h"

namespace nettest {
namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new TQuietTrace);

class ResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::WsaData data;
    plat::WSAStartup(0x0202, &data);
    plat::SetLookupHook([this](std::string_view host, std::vector<uint32_t>& addresses) -> uint32_t {
      {
        std::lock_guard<std::mutex> guard(m_lock);
        m_asked.emplace_back(host);
      }
      if (host.starts_with("slow")) plat::Sleep(5000);
      if (host.starts_with("bad")) return plat::WSAHOST_NOT_FOUND;
      addresses.push_back(plat::Ipv4(10, 0, 0, static_cast<uint8_t>(host.size())));
      return 0;
    });
    ASSERT_TRUE(m_resolver.Start());
    for (plat::Handle& h : m_events) h = plat::CreateEvent(false, false);
  }
  void TearDown() override {
    m_resolver.Stop();
    plat::SetLookupHook({});
    for (plat::Handle h : m_events) plat::CloseHandle(h);
    plat::WSACleanup();
  }
  std::vector<std::string> Asked() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_asked;
  }
  bool Signalled(int i, uint32_t ms = 0) { return plat::WaitForSingleObject(m_events[i], ms) == plat::WAIT_OBJECT_0; }

  plat::VirtualClock m_clock;
  CDNSResolver m_resolver;
  plat::Handle m_events[4] = {};
  std::mutex m_lock;
  std::vector<std::string> m_asked;
};

TEST_F(ResolverTest, AnswersInOrderOfAsking) {
  EXPECT_EQ(CDNSResolver::Instance(), &m_resolver);
  auto a = m_resolver.Lookup("a.test", m_events[0]);
  auto b = m_resolver.Lookup("bad.test", m_events[1]);
  auto c = m_resolver.Lookup("ccc.test", m_events[2]);
  ASSERT_TRUE(Signalled(2, 1000));
  ASSERT_TRUE(Signalled(0, 0));
  ASSERT_TRUE(Signalled(1, 0));
  EXPECT_EQ(Asked(), (std::vector<std::string>{"a.test", "bad.test", "ccc.test"}));
  plat::AddrInfo* pList = nullptr;
  int32_t error = -1;
  ASSERT_TRUE(m_resolver.TakeResult(a, &pList, &error));
  EXPECT_EQ(error, 0);
  ASSERT_NE(pList, nullptr);
  EXPECT_EQ(ntohl(reinterpret_cast<plat::SockAddrIn*>(pList->ai_addr)->sin_addr.s_addr), plat::Ipv4(10, 0, 0, 6));
  plat::freeaddrinfo(pList);
  ASSERT_TRUE(m_resolver.TakeResult(b, &pList, &error));
  EXPECT_EQ(error, static_cast<int32_t>(plat::WSAHOST_NOT_FOUND));
  EXPECT_EQ(pList, nullptr);
  // An answer nobody takes is freed by Cancel (the leak checker watches).
  m_resolver.Cancel(c);
}

TEST_F(ResolverTest, CancellingNeverWaitsAndAnAbandonedAnswerReachesNobody) {
  auto running = m_resolver.Lookup("slow.test", m_events[0]);
  auto queued = m_resolver.Lookup("q.test", m_events[1]);
  ASSERT_TRUE(m_clock.Settle());
  uint32_t before = plat::GetTickCount();
  m_resolver.Cancel(running);
  m_resolver.Cancel(queued);
  EXPECT_EQ(plat::GetTickCount(), before);
  m_clock.RunFor(10000);
  EXPECT_FALSE(Signalled(0));
  EXPECT_FALSE(Signalled(1));
  EXPECT_EQ(Asked(), (std::vector<std::string>{"slow.test"}));
  plat::AddrInfo* pList = nullptr;
  int32_t error = 0;
  EXPECT_FALSE(m_resolver.TakeResult(running, &pList, &error));
  // The resolver goes on serving others.
  auto next = m_resolver.Lookup("n.test", m_events[2]);
  ASSERT_TRUE(Signalled(2, 1000));
  m_resolver.Cancel(next);
}

TEST_F(ResolverTest, StoppingDropsWhatIsQueued) {
  m_resolver.Lookup("slow.test", m_events[0]);
  m_resolver.Lookup("q1.test", m_events[1]);
  m_resolver.Lookup("q2.test", m_events[2]);
  ASSERT_TRUE(m_clock.Settle());
  m_resolver.Stop();
  EXPECT_EQ(CDNSResolver::Instance(), nullptr);
  m_clock.RunFor(10000);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Signalled(i)) << i;
  EXPECT_EQ(Asked(), (std::vector<std::string>{"slow.test"}));
  // Without a thread a look-up fails at once rather than never.
  auto late = m_resolver.Lookup("late.test", m_events[3]);
  EXPECT_TRUE(Signalled(3));
  plat::AddrInfo* pList = nullptr;
  int32_t error = 0;
  ASSERT_TRUE(m_resolver.TakeResult(late, &pList, &error));
  EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace nettest
