// The simulated network under the virtual clock: lookups from a table with
// failures and delays, connect outcomes, answers split as the script wrote
// them, stalls, resets, a bandwidth limit, a stalled upload, and tear-down.
// Every time asserted is exact, because nothing here depends on real time.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "NetTestUtil.h"
#include "platform/kernel/Clock.h"
#include "platform/net/SimNet.h"

using namespace nt;
using plat::Overlapped;
using plat::Socket;
using plat::WsaBuf;

namespace {

constexpr uint32_t kServer = plat::Ipv4(10, 0, 0, 1);
constexpr uint16_t kPort = 80;

class SimNet : public ::testing::Test {
 protected:
  plat::VirtualClock clock;
  Wsa wsa;
  plat::SimNetwork net;
  plat::ClockTime start = clock.Now();

  int64_t ElapsedMs() const { return (clock.Now() - start) / plat::kClockNsPerMs; }

  Socket NewSocket() {
    Socket s = plat::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
    EXPECT_NE(s, plat::INVALID_SOCKET);
    return s;
  }

  void StartConnect(Socket s, plat::Handle event, uint32_t ip, uint16_t port) {
    ASSERT_EQ(plat::WSAEventSelect(s, event, plat::FD_CONNECT), 0);
    plat::SockAddrIn to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ip);
    ASSERT_EQ(plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to), plat::SOCKET_ERROR);
    ASSERT_EQ(plat::GetLastError(), plat::WSAEWOULDBLOCK);
  }

  // Waits up to `ms` of virtual time for the connect outcome; -1 if none.
  int ConnectResult(Socket s, plat::Handle event, uint32_t ms) {
    if (plat::WaitForSingleObject(event, ms) != plat::WAIT_OBJECT_0) return -1;
    plat::NetworkEvents ne;
    EXPECT_EQ(plat::WSAEnumNetworkEvents(s, event, &ne), 0);
    return ne.iErrorCode[plat::FD_CONNECT_BIT];
  }

  Socket Connected() {
    Socket s = NewSocket();
    Event event;
    StartConnect(s, event, kServer, kPort);
    EXPECT_EQ(ConnectResult(s, event, 0), 0);
    plat::WSAEventSelect(s, nullptr, 0);
    return s;
  }

  void Send(Socket s, const std::string& bytes) {
    std::string copy = bytes;
    WsaBuf b{static_cast<uint32_t>(copy.size()), copy.data()};
    Event done;
    Overlapped ov{0, 0, done};
    uint32_t sent = 0;
    ASSERT_EQ(plat::WSASend(s, &b, 1, &sent, 0, &ov, nullptr), 0) << plat::GetLastError();
    EXPECT_EQ(sent, bytes.size());
  }

  struct Arrival {
    std::string bytes;
    int64_t atMs;
    bool operator==(const Arrival&) const = default;
  };

  // Receives (8192 at a time, like the connection slot) until the end of
  // the stream or an error; each arrival with its virtual time.
  std::vector<Arrival> ReceiveAll(Socket s, uint32_t* error = nullptr) {
    std::vector<Arrival> out;
    Event slot;
    for (int i = 0; i < 1000; ++i) {
      char buf[8192];
      WsaBuf b{sizeof buf, buf};
      Overlapped ov{0, 0, slot};
      uint32_t got = 0, flags = 0;
      int rc = plat::WSARecv(s, &b, 1, &got, &flags, &ov, nullptr);
      if (rc != 0 && plat::GetLastError() != plat::ERROR_IO_PENDING) {
        if (error) *error = plat::GetLastError();
        break;
      }
      if (plat::WaitForSingleObject(slot, 600000) != plat::WAIT_OBJECT_0) break;
      if (!plat::WSAGetOverlappedResult(s, &ov, &got, false, &flags)) {
        if (error) *error = plat::GetLastError();
        break;
      }
      out.push_back({std::string(buf, got), ElapsedMs()});
      if (got == 0) break;
    }
    return out;
  }
};

TEST_F(SimNet, LookupsComeFromTheTableWithTheirDelay) {
  net.AddHost("srv.test", kServer);
  net.FailLookup("broken.test", plat::WSANO_RECOVERY);
  net.SetLookupDelay(250);
  plat::AddrInfo* list = nullptr;
  ASSERT_EQ(plat::getaddrinfo("srv.test", "", nullptr, &list), 0);
  EXPECT_EQ(ElapsedMs(), 250);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ntohl(reinterpret_cast<plat::SockAddrIn*>(list->ai_addr)->sin_addr.s_addr), kServer);
  EXPECT_EQ(list->ai_next, nullptr);
  plat::freeaddrinfo(list);
  EXPECT_EQ(plat::getaddrinfo("broken.test", "", nullptr, &list), static_cast<int>(plat::WSANO_RECOVERY));
  EXPECT_EQ(plat::getaddrinfo("nowhere.test", "", nullptr, &list), static_cast<int>(plat::WSAHOST_NOT_FOUND));
  EXPECT_EQ(ElapsedMs(), 750);
  // A literal needs no lookup.
  ASSERT_EQ(plat::getaddrinfo("10.0.0.9", "", nullptr, &list), 0);
  plat::freeaddrinfo(list);
  EXPECT_EQ(ElapsedMs(), 750);
  EXPECT_EQ(net.Lookups(), (std::vector<std::string>{"srv.test", "broken.test", "nowhere.test"}));
}

TEST_F(SimNet, ConnectsEndAsTheRulesSay) {
  net.Listen(kServer, kPort, [](plat::SimPeer&) {});
  net.SetConnectRule(kServer, 81, {3000, plat::WSAETIMEDOUT, false});
  net.SetConnectRule(kServer, 82, {0, 0, true});
  net.SetConnectRule(kServer, 83, {0, plat::WSAENETUNREACH, false});
  net.SetConnectRule(kServer, kPort, {500, 0, false});
  net.Listen(kServer, 84, [](plat::SimPeer&) {});
  net.SetConnectRule(kServer, 84, {200, plat::WSAECONNREFUSED, false});
  struct Case {
    uint16_t port;
    int error;
    int64_t atMs;
  };
  const Case cases[] = {
      {99, static_cast<int>(plat::WSAECONNREFUSED), 0},  // nobody listens
      {83, static_cast<int>(plat::WSAENETUNREACH), 0},
      {84, static_cast<int>(plat::WSAECONNREFUSED), 200},  // refused although listened
      {kPort, 0, 500},
      {81, static_cast<int>(plat::WSAETIMEDOUT), 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    start = clock.Now();
    Socket s = NewSocket();
    Event event;
    StartConnect(s, event, kServer, c.port);
    EXPECT_EQ(ConnectResult(s, event, 60000), c.error);
    EXPECT_EQ(ElapsedMs(), c.atMs);
    plat::closesocket(s);
  }
  // A lost connect never ends by itself; closing ends it without a result.
  start = clock.Now();
  Socket s = NewSocket();
  Event event;
  StartConnect(s, event, kServer, 82);
  EXPECT_EQ(ConnectResult(s, event, 120000), -1);
  EXPECT_EQ(ElapsedMs(), 120000);
  EXPECT_EQ(plat::closesocket(s), 0);
  EXPECT_FALSE(event.Signalled());
  EXPECT_EQ(net.Connections().size(), 1u);
}

TEST_F(SimNet, AnswersArriveSplitAsTheScriptWroteThem) {
  net.Listen(kServer, kPort, [](plat::SimPeer& peer) {
    if (peer.ReadUntil("\r\n\r\n").empty()) return;
    peer.Write("HTTP/1.");
    peer.Write("1 200 OK\r\n");
    peer.Sleep(10);
    peer.Write("Transfer-Encoding: chunked\r\n\r\n1");
    peer.Write("a\r\n");
  });
  Socket s = Connected();
  Send(s, "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  std::vector<Arrival> expected = {{"HTTP/1.", 0},
                                   {"1 200 OK\r\n", 0},
                                   {"Transfer-Encoding: chunked\r\n\r\n1", 10},
                                   {"a\r\n", 10},
                                   {"", 10}};
  EXPECT_EQ(ReceiveAll(s), expected);
  auto connections = net.Connections();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].fromClient, "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(connections[0].toClient, 51u);
  EXPECT_TRUE(connections[0].peerClosed);
  plat::closesocket(s);
}

TEST_F(SimNet, AStalledPeerLeavesTheReceivePendingUntilClose) {
  std::atomic<bool> sawClose{false};
  net.Listen(kServer, kPort, [&](plat::SimPeer& peer) { sawClose = peer.WaitClientClosed(); });
  Socket s = Connected();
  char buf[16];
  WsaBuf b{sizeof buf, buf};
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t flags = 0;
  ASSERT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WaitForSingleObject(slot, 5000), plat::WAIT_TIMEOUT);
  EXPECT_EQ(ElapsedMs(), 5000);
  ASSERT_EQ(plat::closesocket(s), 0);
  EXPECT_TRUE(slot.Signalled());
  EXPECT_EQ(ov.Internal, plat::ERROR_OPERATION_ABORTED);
  ASSERT_TRUE(clock.Settle());
  EXPECT_TRUE(sawClose);
  EXPECT_TRUE(net.Connections()[0].clientClosed);
}

TEST_F(SimNet, AResetMidBodyFailsWhatFollows) {
  net.Listen(kServer, kPort, [](plat::SimPeer& peer) {
    peer.ReadUntil("\r\n\r\n");
    peer.Write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'b'));
    peer.Sleep(10);
    peer.Reset();
  });
  Socket s = Connected();
  Send(s, "GET / HTTP/1.1\r\n\r\n");
  uint32_t error = 0;
  auto arrivals = ReceiveAll(s, &error);
  ASSERT_EQ(arrivals.size(), 1u);
  EXPECT_EQ(arrivals[0].bytes.size(), 141u);
  EXPECT_EQ(error, plat::WSAECONNRESET) << "the pending receive fails";
  EXPECT_EQ(ElapsedMs(), 10);
  // Later calls fail at once and signal nothing.
  char buf[16];
  WsaBuf b{sizeof buf, buf};
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t flags = 0;
  EXPECT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAECONNRESET);
  EXPECT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAECONNRESET);
  EXPECT_FALSE(slot.Signalled());
  EXPECT_TRUE(net.Connections()[0].reset);
  plat::closesocket(s);
}

TEST_F(SimNet, ABandwidthLimitPacesTheArrivals) {
  net.SetBandwidth(1000, 100);
  net.Listen(kServer, kPort, [](plat::SimPeer& peer) {
    peer.Write(std::string(450, 'x'));
    peer.Write("tail");
  });
  Socket s = Connected();
  std::vector<Arrival> expected;
  for (int i = 1; i <= 4; ++i) expected.push_back({std::string(100, 'x'), 100 * i});
  expected.push_back({std::string(50, 'x'), 450});
  expected.push_back({"tail", 454});
  expected.push_back({"", 454});
  EXPECT_EQ(ReceiveAll(s), expected);
  plat::closesocket(s);
}

TEST_F(SimNet, AnUploadStallsUntilThePeerReads) {
  net.Listen(kServer, kPort, [](plat::SimPeer& peer) {
    peer.SetReceiveWindow(10);
    peer.Write("ready");
    peer.Sleep(1000);
    // Ten bytes at a time fit; each read lets the next ten in.
    size_t total = 0;
    while (total < 100) {
      std::string part = peer.Read(100);
      if (part.empty()) break;
      EXPECT_LE(part.size(), 10u);
      total += part.size();
    }
    EXPECT_EQ(total, 100u);
    peer.WaitClientClosed();
  });
  Socket s = Connected();
  char ready[16];
  WsaBuf r{sizeof ready, ready};
  Event slot;
  Overlapped rov{0, 0, slot};
  uint32_t got = 0, rflags = 0;
  if (plat::WSARecv(s, &r, 1, &got, &rflags, &rov, nullptr) != 0) {
    ASSERT_TRUE(slot.Signalled(60000));
  }
  ASSERT_TRUE(plat::WSAGetOverlappedResult(s, &rov, &got, false, &rflags));
  EXPECT_EQ(std::string(ready, got), "ready");
  EXPECT_EQ(ElapsedMs(), 0);
  std::string body(100, 'u');
  WsaBuf b{100, body.data()};
  Event done;
  Overlapped ov{0, 0, done};
  ASSERT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &ov, nullptr), plat::SOCKET_ERROR);
  ASSERT_EQ(plat::GetLastError(), plat::ERROR_IO_PENDING);
  start = clock.Now();
  ASSERT_EQ(plat::WaitForSingleObject(done, 60000), plat::WAIT_OBJECT_0);
  EXPECT_EQ(ElapsedMs(), 1000);
  uint32_t sent = 0, flags = 0;
  EXPECT_TRUE(plat::WSAGetOverlappedResult(s, &ov, &sent, false, &flags));
  EXPECT_EQ(sent, 100u);
  plat::closesocket(s);
}

TEST(SimNetTeardown, EndsScriptsAndAbortsWhatIsPending) {
  plat::VirtualClock clock;
  Wsa wsa;
  std::atomic<bool> scriptEnded{false};
  Event slot;
  Overlapped ov{0, 0, slot};
  char buf[16];
  Socket s;
  {
    plat::SimNetwork net;
    net.Listen(kServer, kPort, [&](plat::SimPeer& peer) {
      EXPECT_EQ(peer.Read(10), "");  // blocks until the tear-down
      EXPECT_FALSE(peer.Write("too late"));
      peer.Sleep(3600 * 1000);      // ends at once as well
      scriptEnded = true;
    });
    s = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
    Event connect;
    plat::WSAEventSelect(s, connect, plat::FD_CONNECT);
    plat::SockAddrIn to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = htonl(kServer);
    plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to);
    ASSERT_TRUE(connect.Signalled());
    WsaBuf b{sizeof buf, buf};
    uint32_t flags = 0;
    ASSERT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, &ov, nullptr), plat::SOCKET_ERROR);
  }
  EXPECT_TRUE(scriptEnded);
  EXPECT_TRUE(slot.Signalled());
  EXPECT_EQ(ov.Internal, plat::ERROR_OPERATION_ABORTED);
  EXPECT_EQ(plat::closesocket(s), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTSOCK);
  // New sockets go to the host's network again.
  Socket host = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
  EXPECT_NE(host, plat::INVALID_SOCKET);
  plat::closesocket(host);
}

}  // namespace
