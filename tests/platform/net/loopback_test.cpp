// The socket layer over real loopback sockets: connect results through event
// selection, gathered and long sends, receives that complete at once or
// later, the end of the stream, resets, closes that abort, and the rules of
// the calls themselves.
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <atomic>
#include <thread>
#include <vector>

#include "NetTestUtil.h"
#include "platform/kernel/Clock.h"

using namespace nt;
using plat::Handle;
using plat::Overlapped;
using plat::Socket;
using plat::WsaBuf;

namespace {

class Loopback : public ::testing::Test {
 protected:
  Wsa wsa;
  Listener listener;

  Socket NewSocket() {
    Socket s = plat::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
    EXPECT_NE(s, plat::INVALID_SOCKET);
    return s;
  }

  // Starts a connect to `port` with FD_CONNECT selected onto `event`;
  // returns WSAConnect's answer and error.
  std::pair<int, uint32_t> StartConnect(Socket s, Handle event, uint16_t port) {
    EXPECT_EQ(plat::WSAEventSelect(s, event, plat::FD_CONNECT), 0);
    plat::SockAddrIn to = nt::Loopback(port);
    int rc = plat::WSAConnect(s, reinterpret_cast<const plat::SockAddr*>(&to), sizeof to);
    return {rc, plat::GetLastError()};
  }

  // The connect outcome, read as the connection slot reads it.
  int ConnectError(Socket s, Handle event) {
    if (plat::WaitForSingleObject(event, kSafetyMs) != plat::WAIT_OBJECT_0) return -1;
    plat::NetworkEvents ne;
    EXPECT_EQ(plat::WSAEnumNetworkEvents(s, event, &ne), 0);
    if (!(ne.lNetworkEvents & plat::FD_CONNECT)) return -2;
    return ne.iErrorCode[plat::FD_CONNECT_BIT];
  }

  // A connected socket with event selection cleared and blocking mode set,
  // as the slot leaves it before its first send; `peer` is the host side.
  Socket Connected(int& peer) {
    Socket s = NewSocket();
    Event connect;
    auto [rc, err] = StartConnect(s, connect, listener.Port());
    EXPECT_EQ(rc, plat::SOCKET_ERROR);
    EXPECT_EQ(err, plat::WSAEWOULDBLOCK);
    EXPECT_EQ(ConnectError(s, connect), 0);
    EXPECT_EQ(plat::WSAEventSelect(s, nullptr, 0), 0);
    uint32_t blocking = 0;
    EXPECT_EQ(plat::ioctlsocket(s, FIONBIO, &blocking), 0);
    peer = listener.Accept();
    EXPECT_GE(peer, 0);
    return s;
  }

  int Recv(Socket s, char* buf, uint32_t len, Overlapped& ov, uint32_t* got) {
    WsaBuf b{len, buf};
    uint32_t flags = 0;
    return plat::WSARecv(s, &b, 1, got, &flags, &ov, nullptr);
  }

  // Waits for an overlapped operation and reads its result.
  bool Finish(Socket s, Overlapped& ov, uint32_t& bytes) {
    if (plat::WaitForSingleObject(ov.hEvent, kSafetyMs) != plat::WAIT_OBJECT_0) {
      ADD_FAILURE() << "operation never completed";
      return false;
    }
    uint32_t flags = 0;
    return plat::WSAGetOverlappedResult(s, &ov, &bytes, false, &flags);
  }
};

TEST_F(Loopback, ConnectReportsThroughTheSelectedEvent) {
  Socket s = NewSocket();
  Event event;
  auto [rc, err] = StartConnect(s, event, listener.Port());
  EXPECT_EQ(rc, plat::SOCKET_ERROR);
  EXPECT_EQ(err, plat::WSAEWOULDBLOCK) << "never a synchronous connect";
  EXPECT_EQ(ConnectError(s, event), 0);
  EXPECT_FALSE(event.Signalled()) << "enumerating resets the event";
  plat::NetworkEvents ne;
  ASSERT_EQ(plat::WSAEnumNetworkEvents(s, nullptr, &ne), 0);
  EXPECT_EQ(ne.lNetworkEvents, 0u) << "the record is handed over once";

  // A second attempt on the same socket is refused.
  plat::SockAddrIn to = nt::Loopback(listener.Port());
  EXPECT_EQ(plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEISCONN);
  EXPECT_EQ(plat::closesocket(s), 0);

  // A new selection starts from an empty record and leaves the event alone.
  s = NewSocket();
  StartConnect(s, event, listener.Port());
  ASSERT_TRUE(event.Signalled(kSafetyMs));
  Event second;
  plat::SetEvent(second);
  ASSERT_EQ(plat::WSAEventSelect(s, second, plat::FD_CONNECT), 0);
  EXPECT_TRUE(second.Signalled()) << "not reset by the selection";
  ASSERT_EQ(plat::WSAEnumNetworkEvents(s, nullptr, &ne), 0);
  EXPECT_EQ(ne.lNetworkEvents, 0u) << "the unread connect result was dropped";
  plat::closesocket(s);
}

TEST_F(Loopback, ConnectToAClosedPortIsRefusedThroughTheEvent) {
  uint16_t port = listener.Port();
  listener.Close();
  Socket s = NewSocket();
  Event event;
  auto [rc, err] = StartConnect(s, event, port);
  EXPECT_EQ(rc, plat::SOCKET_ERROR);
  EXPECT_EQ(err, plat::WSAEWOULDBLOCK);
  EXPECT_EQ(ConnectError(s, event), static_cast<int>(plat::WSAECONNREFUSED));
  // Nothing can be sent or received on a socket that never connected.
  char byte = 'x';
  WsaBuf b{1, &byte};
  Event done;
  Overlapped ov{0, 0, done};
  EXPECT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTCONN);
  EXPECT_FALSE(done.Signalled());
  plat::closesocket(s);
}

TEST_F(Loopback, GatheredSendArrivesInOrderAndCompletesAtOnce) {
  int peer;
  Socket s = Connected(peer);
  // The shape of a body chunk: size line, data, line end.
  std::string size = "50\r\n", data(80, 'd'), crlf = "\r\n";
  WsaBuf parts[3] = {{4, size.data()}, {80, data.data()}, {2, crlf.data()}};
  Event done;
  Overlapped ov{0, 0, done};
  uint32_t sent = 0;
  ASSERT_EQ(plat::WSASend(s, parts, 3, &sent, 0, &ov, nullptr), 0) << plat::GetLastError();
  EXPECT_EQ(sent, 86u);
  EXPECT_TRUE(done.Signalled()) << "an immediate completion signals too";
  // The buffers were taken when the send was posted.
  size[0] = 'X';
  EXPECT_EQ(ReadHost(peer, 86), "50\r\n" + std::string(80, 'd') + "\r\n");
  uint32_t bytes = 0, flags = 0;
  EXPECT_TRUE(plat::WSAGetOverlappedResult(s, &ov, &bytes, false, &flags));
  EXPECT_EQ(bytes, 86u);
  ::close(peer);
  plat::closesocket(s);
}

TEST_F(Loopback, LongSendCompletesOnlyWhenEveryByteIsTaken) {
  int peer;
  Socket s = Connected(peer);
  std::string big(16 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WsaBuf b{static_cast<uint32_t>(big.size()), big.data()};
  Event done;
  Overlapped ov{0, 0, done};
  ASSERT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &ov, nullptr), plat::SOCKET_ERROR);
  ASSERT_EQ(plat::GetLastError(), plat::ERROR_IO_PENDING) << "more than the socket buffers hold";
  uint32_t bytes = 0, flags = 0;
  EXPECT_FALSE(plat::WSAGetOverlappedResult(s, &ov, &bytes, false, &flags));
  EXPECT_EQ(plat::GetLastError(), plat::WSA_IO_INCOMPLETE);
  std::string expected = big;
  big.assign(big.size(), 'Z');  // the caller may reuse its buffer at once
  EXPECT_EQ(ReadHost(peer, expected.size()), expected);
  uint32_t got = 0;
  ASSERT_TRUE(Finish(s, ov, got));
  EXPECT_EQ(got, expected.size());
  ::close(peer);
  plat::closesocket(s);
}

TEST_F(Loopback, ReceiveCompletesLaterOrAtOnceAndZeroBytesMeansClosed) {
  int peer;
  Socket s = Connected(peer);
  char buf[8192];
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t got = 99;
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);
  ASSERT_EQ(plat::GetLastError(), plat::ERROR_IO_PENDING);
  EXPECT_FALSE(slot.Signalled());
  WriteHost(peer, "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(Finish(s, ov, got));
  EXPECT_EQ(std::string(buf, got), "HTTP/1.1 200 OK\r\n");

  // One arrival, taken in two receives (the first scattered over two
  // buffers): the second finds its bytes waiting and completes inside the
  // call, signalling as well.
  WriteHost(peer, "0123456789");
  char head[2];
  WsaBuf two[2] = {{2, head}, {2, buf}};
  uint32_t flags = 0;
  int rc = plat::WSARecv(s, two, 2, &got, &flags, &ov, nullptr);
  ASSERT_TRUE(rc == 0 || plat::GetLastError() == plat::ERROR_IO_PENDING);
  ASSERT_TRUE(Finish(s, ov, got));
  EXPECT_EQ(std::string(head, 2) + std::string(buf, got - 2), "0123");
  got = 0;
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), 0) << plat::GetLastError();
  EXPECT_EQ(std::string(buf, got), "456789");
  EXPECT_TRUE(slot.Signalled());

  // The orderly end, pending or not, is a receive of 0 bytes; it stays so.
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(Finish(s, ov, got));
  EXPECT_EQ(got, 0u);
  got = 99;
  EXPECT_EQ(Recv(s, buf, sizeof buf, ov, &got), 0);
  EXPECT_EQ(got, 0u);
  ::close(peer);
  plat::closesocket(s);
}

TEST_F(Loopback, PeerResetFailsThePendingReceive) {
  int peer;
  Socket s = Connected(peer);
  char buf[64];
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t got = 0;
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);
  ResetHost(peer);
  EXPECT_FALSE(Finish(s, ov, got));
  EXPECT_EQ(plat::GetLastError(), plat::WSAECONNRESET);
  plat::closesocket(s);
}

TEST_F(Loopback, CloseAbortsPendingOperationsAndRetiresTheNumber) {
  int peer;
  Socket s = Connected(peer);
  char buf[64];
  Event slot, send;
  Overlapped rov{0, 0, slot}, sov{0, 0, send};
  uint32_t got = 0;
  ASSERT_EQ(Recv(s, buf, sizeof buf, rov, &got), plat::SOCKET_ERROR);
  std::string big(16 << 20, 'b');
  WsaBuf b{static_cast<uint32_t>(big.size()), big.data()};
  ASSERT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &sov, nullptr), plat::SOCKET_ERROR);
  ASSERT_EQ(plat::GetLastError(), plat::ERROR_IO_PENDING);

  ASSERT_EQ(plat::closesocket(s), 0);
  // Both ended before closesocket returned, with their events signalled.
  EXPECT_TRUE(slot.Signalled());
  EXPECT_TRUE(send.Signalled());
  EXPECT_EQ(rov.Internal, plat::ERROR_OPERATION_ABORTED);
  EXPECT_EQ(sov.Internal, plat::ERROR_OPERATION_ABORTED);

  // The number names nothing any more, even after a new socket is made.
  Socket next = NewSocket();
  EXPECT_NE(next, s);
  EXPECT_EQ(Recv(s, buf, sizeof buf, rov, &got), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTSOCK);
  EXPECT_EQ(plat::closesocket(s), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTSOCK);
  uint32_t flags = 0;
  EXPECT_FALSE(plat::WSAGetOverlappedResult(s, &rov, &got, false, &flags));
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTSOCK);
  plat::closesocket(next);
  ::close(peer);
}

TEST_F(Loopback, CloseDuringAConnectThatHangsSignalsNothing) {
  // A listener with a full queue that never accepts drops further SYNs, so
  // a connect to it stays in progress.
  Listener full(0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to = nt::Loopback(full.Port());
    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    fillers.push_back(fd);
  }
  // Until a connection waits in its queue: from then on it drops every SYN.
  // (Linux reports a listener's queue as its unacknowledged count.)
  ASSERT_TRUE(support::PollUntil([&] {
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(full.Fd(), IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_unacked > 0;
  }, 0, std::chrono::milliseconds(1)));
  Socket s = NewSocket();
  Event event;
  StartConnect(s, event, full.Port());
  EXPECT_FALSE(event.Signalled(200)) << "the connect is still in progress";
  EXPECT_EQ(plat::shutdown(s, plat::SD_BOTH), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTCONN);
  EXPECT_EQ(plat::closesocket(s), 0);
  EXPECT_FALSE(event.Signalled(50)) << "no connect result after close";
  for (int fd : fillers) ::close(fd);
}

TEST_F(Loopback, ShutdownEndsEachDirection) {
  int peer;
  Socket s = Connected(peer);
  char buf[16];
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t got = 0;
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);

  ASSERT_EQ(plat::shutdown(s, plat::SD_SEND), 0);
  EXPECT_EQ(ReadHost(peer, 1), "") << "the peer sees the end of the stream";
  WsaBuf b{1, buf};
  Event send;
  Overlapped sov{0, 0, send};
  EXPECT_EQ(plat::WSASend(s, &b, 1, nullptr, 0, &sov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAESHUTDOWN);
  EXPECT_FALSE(slot.Signalled()) << "receiving goes on";

  ASSERT_EQ(plat::shutdown(s, plat::SD_RECEIVE), 0);
  ASSERT_TRUE(Finish(s, ov, got));
  EXPECT_EQ(got, 0u) << "the waiting receive ends as at the end of the stream";
  EXPECT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAESHUTDOWN);
  ::close(peer);
  plat::closesocket(s);
}

TEST_F(Loopback, WaitingForTheResultBlocksUntilItComes) {
  int peer;
  Socket s = Connected(peer);
  char buf[16];
  Event slot;
  Overlapped ov{0, 0, slot};
  uint32_t got = 0;
  ASSERT_EQ(Recv(s, buf, sizeof buf, ov, &got), plat::SOCKET_ERROR);
  std::thread writer([peer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteHost(peer, "late");
  });
  uint32_t flags = 0;
  EXPECT_TRUE(plat::WSAGetOverlappedResult(s, &ov, &got, true, &flags));
  EXPECT_EQ(std::string(buf, got), "late");
  writer.join();
  ::close(peer);
  plat::closesocket(s);
}

TEST_F(Loopback, CallsCheckTheirArguments) {
  struct Case {
    int family, type, protocol;
    uint32_t flags;
    uint32_t error;
  };
  const Case cases[] = {
      {AF_INET6, SOCK_STREAM, IPPROTO_TCP, plat::WSA_FLAG_OVERLAPPED, plat::WSAEAFNOSUPPORT},
      {AF_INET, SOCK_DGRAM, IPPROTO_UDP, plat::WSA_FLAG_OVERLAPPED, plat::WSAESOCKTNOSUPPORT},
      {AF_INET, SOCK_STREAM, IPPROTO_UDP, plat::WSA_FLAG_OVERLAPPED, plat::WSAEPROTONOSUPPORT},
      {AF_INET, SOCK_STREAM, IPPROTO_TCP, 0x80, plat::WSAEINVAL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plat::WSASocketW(c.family, c.type, c.protocol, nullptr, 0, c.flags), plat::INVALID_SOCKET);
    EXPECT_EQ(plat::GetLastError(), c.error);
  }

  Socket s = NewSocket();
  Event event;
  char buf[4];
  WsaBuf b{4, buf};
  uint32_t flags = 0;
  // Only FD_CONNECT is delivered, so asking for more is refused.
  EXPECT_EQ(plat::WSAEventSelect(s, event, plat::FD_CONNECT | plat::FD_READ), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::WSAEventSelect(s, nullptr, plat::FD_CONNECT), plat::SOCKET_ERROR);
  // Blocking mode cannot be set while a selection is active.
  ASSERT_EQ(plat::WSAEventSelect(s, event, plat::FD_CONNECT), 0);
  uint32_t mode = 0;
  EXPECT_EQ(plat::ioctlsocket(s, FIONBIO, &mode), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEINVAL);
  ASSERT_EQ(plat::WSAEventSelect(s, nullptr, 0), 0);
  EXPECT_EQ(plat::ioctlsocket(s, FIONBIO, &mode), 0);
  EXPECT_EQ(plat::ioctlsocket(s, FIONREAD, &mode), plat::SOCKET_ERROR);
  // Overlapped records need an event and no completion routine.
  Overlapped noEvent{};
  EXPECT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, &noEvent, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, nullptr, nullptr), plat::SOCKET_ERROR);
  Overlapped ov{0, 0, event};
  WsaBuf empty{0, buf};
  EXPECT_EQ(plat::WSARecv(s, &empty, 1, nullptr, &flags, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEINVAL) << "a receive needs room";
  // Not connected yet.
  EXPECT_EQ(plat::WSARecv(s, &b, 1, nullptr, &flags, &ov, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTCONN);
  // Addresses.
  plat::SockAddrIn to = nt::Loopback(listener.Port());
  EXPECT_EQ(plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to - 1), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEFAULT);
  to.sin_family = AF_INET6;
  EXPECT_EQ(plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAEAFNOSUPPORT);
  EXPECT_FALSE(event.Signalled());
  plat::closesocket(s);
}

TEST(SocketLayer, NeedsStartingAndCountsStarts) {
  plat::WsaData data;
  EXPECT_EQ(plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, 0), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::GetLastError(), plat::WSANOTINITIALISED);
  EXPECT_EQ(plat::WSACleanup(), plat::SOCKET_ERROR);
  plat::AddrInfo* list = nullptr;
  EXPECT_EQ(plat::getaddrinfo("127.0.0.1", nullptr, nullptr, &list), static_cast<int>(plat::WSANOTINITIALISED));
  EXPECT_EQ(plat::WSAStartup(0x0000, &data), static_cast<int>(plat::WSAVERNOTSUPPORTED));
  EXPECT_EQ(plat::WSAStartup(0x0202, nullptr), static_cast<int>(plat::WSAEFAULT));

  ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.version, 0x0202);
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
  Socket s = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
  ASSERT_NE(s, plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSACleanup(), 0);
  EXPECT_EQ(plat::closesocket(s), 0) << "still started once";
  s = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
  ASSERT_NE(s, plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSACleanup(), 0);
  // The last clean-up closed what was left.
  ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(plat::closesocket(s), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::GetLastError(), plat::WSAENOTSOCK);
  EXPECT_EQ(plat::WSACleanup(), 0);
}

}  // namespace

namespace {

// One thread starts and stops the layer over and over while another keeps
// making connections: each connection must work whichever reactor it lands on.
TEST(SocketLayerLifetime, StartsAndStopsRaceWithUse) {
  Listener listener;
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    plat::WsaData data;
    while (!stop) {
      plat::WSAStartup(0x0202, &data);
      plat::WSACleanup();
    }
  });
  std::thread peer([&] {
    for (int i = 0; i < 30; ++i) {
      int fd = listener.Accept();
      if (fd < 0) return;
      WriteHost(fd, "hi");
      ::close(fd);
    }
  });
  int ok = 0;
  for (int i = 0; i < 30; ++i) {
    Wsa wsa;
    Socket s = plat::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
    Event connect, slot;
    plat::WSAEventSelect(s, connect, plat::FD_CONNECT);
    plat::SockAddrIn to = nt::Loopback(listener.Port());
    plat::WSAConnect(s, reinterpret_cast<plat::SockAddr*>(&to), sizeof to);
    if (!connect.Signalled(kSafetyMs)) break;
    plat::WSAEventSelect(s, nullptr, 0);
    std::string got;
    for (int r = 0; r < 4 && got.size() < 2; ++r) {
      char buf[8];
      WsaBuf b{sizeof buf, buf};
      Overlapped ov{0, 0, slot};
      uint32_t n = 0, flags = 0;
      plat::WSARecv(s, &b, 1, &n, &flags, &ov, nullptr);
      if (!slot.Signalled(kSafetyMs) || !plat::WSAGetOverlappedResult(s, &ov, &n, false, &flags) || n == 0) break;
      got.append(buf, n);
    }
    if (got == "hi") ++ok;
    plat::closesocket(s);
  }
  stop = true;
  churn.join();
  peer.join();
  EXPECT_EQ(ok, 30);
}

}  // namespace
