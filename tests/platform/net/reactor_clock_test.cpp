// The host reactor and the virtual clock: an answer already on its way over
// loopback is taken before virtual time can jump, an operation whose peer is
// quiet lets time move after the quiet stretch, and a starved peer is given
// the real time of a time-out, less the pace margin.
#include <gtest/gtest.h>

#include <thread>

#include "NetTestUtil.h"
#include "platform/kernel/Clock.h"

using namespace nt;
using plat::Overlapped;
using plat::Socket;
using plat::WsaBuf;

namespace {

class ReactorClock : public ::testing::Test {
 protected:
  void SetUp() override { plat::SetReactorQuietMs(150); }
  void TearDown() override {
    plat::SetReactorQuietMs(100);
    plat::SetReactorPaceMarginMs(5000);
  }

  // A connected socket and its host peer, made before the clock is virtual.
  Socket Connect(Listener& listener, int& peer) {
    Socket s = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
    Event connect;
    plat::WSAEventSelect(s, connect, plat::FD_CONNECT);
    plat::SockAddrIn to = nt::Loopback(listener.Port());
    plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to);
    EXPECT_TRUE(connect.Signalled(kSafetyMs));
    plat::WSAEventSelect(s, nullptr, 0);
    peer = listener.Accept();
    return s;
  }

  // A receive left pending on `s`; its completion signals m_slot.
  bool StartReceive(Socket s) {
    return plat::WSARecv(s, &m_b, 1, nullptr, &m_flags, &m_ov, nullptr) == plat::SOCKET_ERROR;
  }

  Wsa wsa;
  char m_buf[64];
  WsaBuf m_b{sizeof m_buf, m_buf};
  Event m_slot;
  Overlapped m_ov{0, 0, m_slot};
  uint32_t m_flags = 0;
};

TEST_F(ReactorClock, AnAnswerOnItsWayIsTakenBeforeTimeMoves) {
  // However late the peer gets to run: here the quiet stretch only bounds a
  // hang.
  plat::SetReactorQuietMs(support::kHangMs);
  Listener listener;
  int peer;
  Socket s = Connect(listener, peer);
  plat::VirtualClock clock;
  plat::ClockTime start = clock.Now();

  ASSERT_TRUE(StartReceive(s));
  // The peer is a host thread the clock does not know; it answers after a
  // few real milliseconds.
  std::thread answer([peer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    WriteHost(peer, "pong");
  });
  // Without the reactor holding the clock this 5 s wait would time out at
  // once in virtual time.
  EXPECT_EQ(plat::WaitForSingleObject(m_slot, 5000), plat::WAIT_OBJECT_0);
  EXPECT_EQ(clock.Now(), start) << "no virtual time passed while the answer travelled";
  uint32_t got = 0;
  EXPECT_TRUE(plat::WSAGetOverlappedResult(s, &m_ov, &got, false, &m_flags));
  EXPECT_EQ(std::string(m_buf, got), "pong");
  answer.join();
  plat::closesocket(s);
  ::close(peer);
}

// A peer another process or a starved host thread plays: it answers after
// a second of real time, well inside a two-minute time-out, and the
// receive gets the answer however little real time the wait took.
TEST_F(ReactorClock, AStarvedPeerAnswersInsideATimeOutItBeatsInRealTime) {
  plat::SetReactorPaceMarginMs(300);
  Listener listener;
  int peer;
  Socket s = Connect(listener, peer);
  plat::VirtualClock clock;
  plat::ClockTime start = clock.Now();
  RealStopwatch watch;  // started before the receive anchors the pace
  ASSERT_TRUE(StartReceive(s));
  std::thread answer([peer] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    WriteHost(peer, "pong");
  });
  EXPECT_EQ(plat::WaitForSingleObject(m_slot, 125000), plat::WAIT_OBJECT_0) << "the time-out raced past the peer";
  EXPECT_LE(clock.Now() - start, (watch.Ms() + 300) * plat::kClockNsPerMs)
      << "virtual time ran further ahead of the real time than the margin";
  answer.join();
  plat::closesocket(s);
  ::close(peer);
}

// Time-outs within the pace margin cost no real waiting; beyond it they
// wait out the real time less the margin.
TEST_F(ReactorClock, AQuietPeerLetsTimeMoveToTheTimeOut) {
  Listener listener;
  int peer;
  Socket s = Connect(listener, peer);
  plat::VirtualClock clock;
  ASSERT_TRUE(StartReceive(s));
  const struct {
    uint32_t marginMs;
    uint32_t timeoutMs;
  } cases[] = {{600000, 125000}, {300, 2000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.marginMs);
    plat::SetReactorPaceMarginMs(c.marginMs);
    RealStopwatch watch;  // started first, so it never reads less than the pace
    plat::NotePeerActivity();  // the margin counts from here
    plat::ClockTime start = clock.Now();
    EXPECT_EQ(plat::WaitForSingleObject(m_slot, c.timeoutMs), plat::WAIT_TIMEOUT);
    EXPECT_EQ(clock.Now() - start, c.timeoutMs * plat::kClockNsPerMs);
    if (c.marginMs >= c.timeoutMs)
      EXPECT_LT(watch.Ms(), c.timeoutMs) << "the quiet was waited out in real time";
    else
      EXPECT_GE(watch.Ms(), c.timeoutMs - c.marginMs) << "virtual time ran ahead by more than the margin";
  }
  // The receive is still pending and works when the peer finally speaks.
  // A peer on this thread writes and at once blocks on the platform clock;
  // the reactor takes the bytes however late it gets to run.
  plat::SetReactorQuietMs(support::kHangMs);
  plat::ClockTime start = clock.Now();
  WriteHost(peer, "late");
  plat::NotePeerActivity();
  EXPECT_EQ(plat::WaitForSingleObject(m_slot, 5000), plat::WAIT_OBJECT_0);
  EXPECT_EQ(clock.Now(), start);
  plat::closesocket(s);
  ::close(peer);
}

}  // namespace
