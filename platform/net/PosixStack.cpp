// The host's network: non-blocking sockets and one reactor thread that
// performs pending operations when epoll says they can progress, the way the
// device's kernel completes overlapped I/O.
//
// Descriptors are opened and closed only under NetLock, and epoll carries the
// layer's socket number (never reused), not the descriptor: a readiness report
// that arrives after a close names a socket that is gone and is dropped, so
// it can never act on a descriptor number the host has handed out again.
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/base/Debug.h"
#include "platform/kernel/Clock.h"
#include "platform/net/NetInternal.h"

namespace plat::net_detail {
namespace {

using Steady = std::chrono::steady_clock;

uint32_t SocketErrorFromErrno(int err) {
  switch (err) {
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ENETUNREACH: return WSAENETUNREACH;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENETDOWN: return WSAENETDOWN;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case ENOTCONN: return WSAENOTCONN;
    case EINVAL: return WSAEINVAL;
    default: return ErrorFromErrno(err);
  }
}

class PosixSocket;

// The reactor. Its members are guarded by NetLock except where noted.
class Reactor {
 public:
  // Starts a thread when none runs. NetLock held.
  bool EnsureRunningLocked() {
    if (m_run) return true;
    auto run = std::make_shared<RunState>();
    run->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    run->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (run->epoll < 0 || run->wake < 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeKey;
    if (::epoll_ctl(run->epoll, EPOLL_CTL_ADD, run->wake, &ev) != 0) return false;
    // The thread gets a plain reference: StopLocked keeps the state alive
    // until the thread has ended, so it is never destroyed on that thread.
    RunState* state = run.get();
    run->thread = std::thread([this, state] { Run(*state); });
    m_run = std::move(run);
    return true;
  }

  // Called by the last WSACleanup, after every socket was closed. A new
  // start while this one waits for its thread gets a thread of its own.
  void StopLocked(NetGuard& guard) {
    if (!m_run) return;
    std::shared_ptr<RunState> run = std::move(m_run);
    run->quit = true;
    Wake(*run);
    m_busy.reset();
    m_pace.reset();
    guard.unlock();
    run->thread.join();
    guard.lock();
  }

  int EpollFd() const { return m_run ? m_run->epoll : -1; }

  // Something was posted or moved: hold the virtual clock while operations
  // are pending and let the thread recompute its quiet deadline.
  void NoteActivityLocked(bool pending) {
    if (!pending || !m_run) return;
    m_lastActivity = Steady::now();
    PaceLocked();
    if (m_busy) return;  // the thread already counts down a quiet stretch
    m_busy.emplace();
    Wake(*m_run);
  }

  // A socket went away: let the thread see at once whether anything is
  // still pending, so the clock is not held for nothing.
  void NoteClosedLocked() {
    if (m_run && m_busy) Wake(*m_run);
  }

  void SetQuietMs(uint32_t ms) { m_quietMs.store(ms); }
  void SetPaceMarginMs(uint32_t ms) { m_paceMarginMs.store(ms); }

 private:
  // An operation is pending and something just moved: virtual time may run
  // ahead of the real time from here by the margin only.
  void PaceLocked() {
    const uint32_t margin = m_paceMarginMs.load();
    if (margin == plat::kReactorUnpaced) {
      m_pace.reset();
      return;
    }
    if (m_pace && m_pace->MarginMs() == margin)
      m_pace->Renew();
    else
      m_pace.emplace(margin);
  }

  static constexpr uint64_t kWakeKey = ~uint64_t{0};

  struct RunState {
    ~RunState() {
      if (epoll >= 0) ::close(epoll);
      if (wake >= 0) ::close(wake);
    }
    int epoll = -1;
    int wake = -1;
    bool quit = false;  // NetLock
    std::thread thread;
  };

  static void Wake(RunState& run) {
    uint64_t one = 1;
    ssize_t ignored = ::write(run.wake, &one, sizeof one);
    (void)ignored;
  }

  void Run(RunState& run);

  std::shared_ptr<RunState> m_run;
  std::optional<ClockBusyScope> m_busy;
  std::optional<ClockPaceScope> m_pace;  // while any operation is pending
  Steady::time_point m_lastActivity{};
  std::atomic<uint32_t> m_quietMs{100};
  std::atomic<uint32_t> m_paceMarginMs{5000};
};

Reactor& TheReactor() {
  static Reactor* reactor = new Reactor;  // its thread may outlive static destruction
  return *reactor;
}

class PosixSocket final : public SocketBase {
 public:
  explicit PosixSocket(int fd) : m_fd(fd) {}
  ~PosixSocket() override {
    if (m_fd >= 0) ::close(m_fd);
  }

  uint32_t StartConnectLocked(uint32_t ip, uint16_t port) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    int rc;
    do {
      rc = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) {
      ConnectFinishedLocked(0);
      return 0;
    }
    int err = errno;
    switch (err) {
      case EINPROGRESS:
        state = SocketState::Connecting;
        ArmLocked();
        TheReactor().NoteActivityLocked(true);
        return 0;
      case ECONNREFUSED: case ENETUNREACH: case EHOSTUNREACH: case ETIMEDOUT: case ECONNRESET:
        // Outcomes of the attempt itself: reported as FD_CONNECT, as on the
        // device, however quickly the host knew them.
        ConnectFinishedLocked(SocketErrorFromErrno(err));
        return 0;
      default:
        return SocketErrorFromErrno(err);
    }
  }

  void PumpLocked() override {
    if (state == SocketState::Connected) {
      PumpSendsLocked();
      PumpRecvsLocked();
    }
    ArmLocked();
    TheReactor().NoteActivityLocked(HasPendingLocked());
  }

  uint32_t ShutdownLocked(int how) override {
    int hostHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(m_fd, hostHow) != 0 && errno != ENOTCONN) return SocketErrorFromErrno(errno);
    return 0;
  }

  void CloseLocked() override {
    if (m_fd >= 0) {
      ::epoll_ctl(TheReactor().EpollFd(), EPOLL_CTL_DEL, m_fd, nullptr);
      ::close(m_fd);
      m_fd = -1;
      TheReactor().NoteClosedLocked();
    }
  }

  // The reactor saw the descriptor ready (or in error).
  void OnReadyLocked() {
    m_armed = 0;
    if (state == SocketState::Connecting) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err == EINPROGRESS || err == EALREADY) {
        ArmLocked();
        return;
      }
      ConnectFinishedLocked(err == 0 ? 0 : SocketErrorFromErrno(err));
    }
    PumpLocked();
  }

  bool registered = false;

 private:
  void FailSendsLocked(uint32_t status) {
    while (!sends.empty()) CompleteSendLocked(status);
  }

  void PumpSendsLocked() {
    while (!sends.empty()) {
      PendingSend& op = sends.front();
      if (op.done < op.data.size()) {
        ssize_t n = ::send(m_fd, op.data.data() + op.done, op.data.size() - op.done, MSG_NOSIGNAL);
        if (n < 0) {
          if (errno == EINTR) continue;
          if (errno == EAGAIN || errno == EWOULDBLOCK) return;
          FailSendsLocked(SocketErrorFromErrno(errno));
          return;
        }
        op.done += static_cast<size_t>(n);
        if (op.done < op.data.size()) continue;
      }
      CompleteSendLocked(0);
    }
  }

  void PumpRecvsLocked() {
    while (!recvs.empty()) {
      PendingRecv& op = recvs.front();
      iovec iov[16];
      size_t count = std::min<size_t>(op.buffers.size(), 16);
      for (size_t i = 0; i < count; ++i) iov[i] = {op.buffers[i].buf, op.buffers[i].len};
      ssize_t n = ::readv(m_fd, iov, static_cast<int>(count));
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        CompleteRecvLocked(SocketErrorFromErrno(errno), 0);
        continue;
      }
      CompleteRecvLocked(0, static_cast<size_t>(n));
    }
  }

  // One-shot interest in what the pending operations wait for.
  void ArmLocked() {
    uint32_t want = 0;
    if (state == SocketState::Connecting || (state == SocketState::Connected && !sends.empty())) want |= EPOLLOUT;
    if (state == SocketState::Connected && !recvs.empty()) want |= EPOLLIN | EPOLLRDHUP;
    if (want == 0 || want == m_armed) return;
    epoll_event ev{};
    ev.events = want | EPOLLONESHOT;
    ev.data.u64 = static_cast<uint64_t>(number);
    int op = registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(TheReactor().EpollFd(), op, m_fd, &ev) == 0) {
      registered = true;
      m_armed = want;
    } else {
      DebugPrintf(u"[platform] socket %u: epoll_ctl failed (errno %d); its operations fail\n",
                  static_cast<uint32_t>(number), errno);
      if (state == SocketState::Connecting) ConnectFinishedLocked(WSAENETDOWN);
      FailAllLocked(WSAENETDOWN);
    }
  }

  int m_fd;
  uint32_t m_armed = 0;
};

void Reactor::Run(RunState& run) {
  epoll_event events[64];
  for (;;) {
    int timeout = -1;
    {
      NetGuard guard(NetLock());
      if (run.quit) return;
      if (m_busy) {
        auto quietEnd = m_lastActivity + std::chrono::milliseconds(m_quietMs.load());
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(quietEnd - Steady::now()).count();
        timeout = static_cast<int>(std::max<int64_t>(0, left) + 1);
      }
    }
    int n = ::epoll_wait(run.epoll, events, 64, timeout);
    NetGuard guard(NetLock());
    if (run.quit) return;
    bool moved = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kWakeKey) {
        uint64_t drained;
        while (::read(run.wake, &drained, sizeof drained) > 0) {
        }
        continue;
      }
      auto socket = std::dynamic_pointer_cast<PosixSocket>(FindSocketLocked(static_cast<Socket>(events[i].data.u64)));
      if (!socket) continue;  // closed meanwhile
      socket->OnReadyLocked();
      moved = true;
    }
    bool pending = false;
    for (auto& socket : AllSocketsLocked()) {
      if (dynamic_cast<PosixSocket*>(socket.get()) && socket->HasPendingLocked()) {
        pending = true;
        break;
      }
    }
    if (moved) m_lastActivity = Steady::now();
    if (pending && (moved || !m_pace)) PaceLocked();
    if (!pending) {
      m_busy.reset();
      m_pace.reset();
    } else if (moved && !m_busy) {
      m_busy.emplace();
    } else if (m_busy && Steady::now() - m_lastActivity >= std::chrono::milliseconds(m_quietMs.load())) {
      m_busy.reset();  // quiet: the operations wait for their peers
    }
  }
}

uint32_t LookupErrorFromEai(int rc) {
  switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
    case EAI_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SYSTEM: return SocketErrorFromErrno(errno);
    default: return WSANO_RECOVERY;
  }
}

class PosixStack final : public NetStack {
 public:
  std::shared_ptr<SocketBase> NewSocketLocked(uint32_t& error) override {
    if (!TheReactor().EnsureRunningLocked()) {
      error = WSAENOBUFS;
      return nullptr;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
      error = SocketErrorFromErrno(errno);
      return nullptr;
    }
    return std::make_shared<PosixSocket>(fd);
  }

  uint32_t Lookup(std::string_view host, std::vector<uint32_t>& addresses) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    std::string name(host);
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) return LookupErrorFromEai(rc);
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
      uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
      addresses.push_back(ip);
    }
    ::freeaddrinfo(list);
    return addresses.empty() ? static_cast<uint32_t>(WSANO_DATA) : 0u;
  }
};

}  // namespace

std::shared_ptr<NetStack> HostStack() {
  static std::shared_ptr<NetStack>* stack = new std::shared_ptr<NetStack>(std::make_shared<PosixStack>());
  return *stack;
}

void StopReactorLocked(NetGuard& guard) { TheReactor().StopLocked(guard); }

}  // namespace plat::net_detail

namespace plat {

void SetReactorQuietMs(uint32_t ms) { net_detail::TheReactor().SetQuietMs(ms); }

void SetReactorPaceMarginMs(uint32_t ms) { net_detail::TheReactor().SetPaceMarginMs(ms); }

void NotePeerActivity() {
  net_detail::NetGuard guard(net_detail::NetLock());
  net_detail::TheReactor().NoteActivityLocked(true);
}

}  // namespace plat
