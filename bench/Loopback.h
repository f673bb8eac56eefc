// A server on 127.0.0.1 at an ephemeral port for the benchmarks' own small
// servers: one connection at a time, handed to Serve and closed after it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace bench {

class CLoopbackServer {
 public:
  explicit CLoopbackServer(int backlog) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_fd, backlog);
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  virtual ~CLoopbackServer() { ::close(m_fd); }
  CLoopbackServer(const CLoopbackServer&) = delete;
  CLoopbackServer& operator=(const CLoopbackServer&) = delete;

  uint16_t Port() const { return m_port; }

 protected:
  // The derived server calls these from its own constructor and destructor,
  // so that Serve never runs on a half-made or half-gone object.
  void StartServing() {
    m_thread = std::thread([this] { Run(); });
  }
  void StopServing() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  virtual void Serve(int fd) = 0;

 private:
  void Run() {
    while (!m_stop) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Serve(fd);
      ::close(fd);
    }
  }

  int m_fd = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace bench
