#include "ScriptServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace nettest {

namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TScript Reply(std::vector<std::string> pieces, bool bClose) {
  TScript script;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i) script.steps.push_back(Pause(30));
    script.steps.push_back(Send(std::move(pieces[i])));
  }
  if (bClose) script.steps.push_back(CloseStep());
  return script;
}

bool ReadHttpRequest(const std::function<std::string()>& readSome, std::string& buffer) {
  auto more = [&] {
    std::string s = readSome();
    buffer += s;
    return !s.empty();
  };
  size_t headEnd;
  while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
    if (!more()) return false;
  std::string head = Lower(buffer.substr(0, headEnd + 2));
  size_t pos = headEnd + 4;
  if (head.find("\r\ntransfer-encoding: chunked\r\n") != std::string::npos) {
    for (int chunks = 0; chunks < 1000000; ++chunks) {
      size_t lineEnd;
      while ((lineEnd = buffer.find("\r\n", pos)) == std::string::npos)
        if (!more()) return false;
      size_t size = std::strtoul(buffer.c_str() + pos, nullptr, 16);
      pos = lineEnd + 2;
      size_t need = size == 0 ? 2 : size + 2;
      while (buffer.size() < pos + need)
        if (!more()) return false;
      pos += need;
      if (size == 0) return true;
    }
    return false;
  }
  size_t at = head.find("\r\ncontent-length: ");
  if (at == std::string::npos) return true;
  size_t length = std::strtoul(head.c_str() + at + 18, nullptr, 10);
  while (buffer.size() < pos + length)
    if (!more()) return false;
  return true;
}

plat::SimPeerScript SimScript(TScript script) {
  return [script](plat::SimPeer& peer) {
    std::string buffer;
    auto readSome = [&peer] { return peer.Read(65536); };
    if (script.bReadFirst) ReadHttpRequest(readSome, buffer);
    for (const TStep& step : script.steps) {
      switch (step.eKind) {
        case TStep::Write:
          peer.Write(step.bytes);
          break;
        case TStep::Pause:
          peer.Sleep(step.nMs);
          break;
        case TStep::Close:
          peer.Close();
          return;
        case TStep::Reset:
          peer.Reset();
          return;
        case TStep::Stall:
          peer.WaitClientClosed();
          return;
        case TStep::ReadRequest:
          ReadHttpRequest(readSome, buffer);
          break;
      }
    }
    peer.WaitClientClosed();
  };
}

// ---------------------------------------------------------------------------
// CLoopbackServer

CLoopbackServer::CLoopbackServer(bool bAccept) : m_bAccept(bAccept) {
  m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(m_listenFd, bAccept ? 64 : 0);
  socklen_t length = sizeof address;
  ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
  m_nPort = ntohs(address.sin_port);
  if (bAccept) m_acceptThread = std::thread([this] { AcceptLoop(); });
}

CLoopbackServer::~CLoopbackServer() { Stop(); }

void CLoopbackServer::Stop() {
  m_bStop = true;
  if (m_acceptThread.joinable()) m_acceptThread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    threads.swap(m_threads);
  }
  for (std::thread& t : threads) t.join();
  if (m_listenFd >= 0) ::close(m_listenFd);
  m_listenFd = -1;
}

void CLoopbackServer::Add(TScript script) {
  THold hold = plat::ClockIsVirtual() ? std::make_unique<plat::ClockBusyScope>() : nullptr;
  std::lock_guard<std::mutex> guard(m_lock);
  m_scripts.push_back({std::move(script), std::move(hold)});
}

std::vector<std::string> CLoopbackServer::Requests() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_requests;
}

size_t CLoopbackServer::Accepted() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_requests.size();
}

bool CLoopbackServer::WaitFinished(size_t n, int ms) {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return m_nFinished >= n; });
}

void CLoopbackServer::AcceptLoop() {
  while (!m_bStop) {
    pollfd p{m_listenFd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard<std::mutex> guard(m_lock);
    TScript script;
    THold hold;
    if (!m_scripts.empty()) {
      script = std::move(m_scripts.front().script);
      hold = std::move(m_scripts.front().hold);
      m_scripts.pop_front();
    } else {
      script.steps.push_back(Stall());
    }
    size_t index = m_requests.size();
    m_requests.emplace_back();
    m_threads.emplace_back([this, fd, index, script = std::move(script), hold = std::move(hold)]() mutable {
      Serve(fd, index, std::move(script), std::move(hold));
    });
  }
}

void CLoopbackServer::Serve(int fd, size_t index, TScript script, THold hold) {
  auto deadline = Clock::now() + std::chrono::milliseconds(kConnectionLimitMs);
  // The answer is given: the reactor takes what was written, then time may
  // move.
  auto answered = [&] {
    if (!hold) return;
    plat::NotePeerActivity();
    hold.reset();
  };
  auto alive = [&] { return !m_bStop && Clock::now() < deadline; };
  // One arrival from the client, recorded; "" once it closed or time is up.
  auto readSome = [&]() -> std::string {
    while (alive()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buffer[65536];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return {};
      std::lock_guard<std::mutex> guard(m_lock);
      m_requests[index].append(buffer, static_cast<size_t>(n));
      return std::string(buffer, static_cast<size_t>(n));
    }
    return {};
  };
  auto writeAll = [&](const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size() && alive()) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  };
  auto stall = [&] {
    while (!readSome().empty()) {
    }
  };

  std::string buffer;
  if (script.bReadFirst) ReadHttpRequest(readSome, buffer);
  bool bOpen = true;
  for (const TStep& step : script.steps) {
    if (!bOpen) break;
    switch (step.eKind) {
      case TStep::Write:
        writeAll(step.bytes);
        break;
      case TStep::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(step.nMs, 1000)));
        break;
      case TStep::Close:
        ::close(fd);
        bOpen = false;
        answered();
        break;
      case TStep::Reset: {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
        bOpen = false;
        answered();
        break;
      }
      case TStep::Stall:
        answered();
        stall();
        break;
      case TStep::ReadRequest:
        ReadHttpRequest(readSome, buffer);
        break;
    }
  }
  if (bOpen) {
    answered();
    stall();
    ::close(fd);
  }
  answered();
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_nFinished;
  m_changed.notify_all();
}

}  // namespace nettest
