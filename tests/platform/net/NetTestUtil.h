// Helpers for the socket tests: a host-side listener on the loopback
// interface, and a started socket layer for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"
#include "tests/support/Waits.h"

namespace nt {

// Bounds the waits a fault could leave hanging; never reached when all is well.
constexpr uint32_t kSafetyMs = support::kHangMs;

struct Wsa {
  Wsa() {
    plat::WsaData data;
    EXPECT_EQ(plat::WSAStartup(0x0202, &data), 0);
  }
  ~Wsa() { plat::WSACleanup(); }
};

struct Event {
  plat::Handle h = plat::CreateEvent(false, false);
  ~Event() { plat::CloseHandle(h); }
  operator plat::Handle() const { return h; }
  bool Signalled(uint32_t ms = 0) const { return plat::WaitForSingleObject(h, ms) == plat::WAIT_OBJECT_0; }
};

inline plat::SockAddrIn Loopback(uint16_t port) {
  plat::SockAddrIn a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A host socket listening on 127.0.0.1 at an ephemeral port; the tests play
// the peer with plain blocking host calls on what it accepts.
class Listener {
 public:
  explicit Listener(int backlog = 16) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(m_fd, backlog), 0);
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
  }
  ~Listener() { Close(); }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  uint16_t Port() const { return m_port; }
  int Fd() const { return m_fd; }
  // The next connection, or -1 when none comes within the safety bound.
  int Accept() {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, kSafetyMs) != 1) return -1;
    return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int m_fd = -1;
  uint16_t m_port = 0;
};

// Reads exactly n bytes from a host socket (bounded); fewer on end or time-out.
inline std::string ReadHost(int fd, size_t n) {
  std::string out;
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSafetyMs);
  while (out.size() < n && std::chrono::steady_clock::now() < giveUp) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) != 1) continue;
    char buf[65536];
    ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

inline void WriteHost(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Real (host) time, to show that virtual time-outs cost none of it.
class RealStopwatch {
 public:
  int64_t Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count();
  }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Closes with a reset instead of the orderly end.
inline void ResetHost(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

}  // namespace nt
