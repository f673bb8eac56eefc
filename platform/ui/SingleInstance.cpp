// One instance per window class across processes. The first process to ask
// for a class takes an exclusive lock on <device root>/run/<name>.lock and
// listens on <name>.sock beside it; a later process fails to take the lock,
// and its FindWindow answers with a handle standing for the first process's
// window. Asking that handle to come to the front sends one line over the
// socket; the first process's listener hands the request to its UI thread.
// The lock is the kernel's, so it goes with the process however it ends, and
// two processes starting at once cannot both win it.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {
namespace {

namespace fs = std::filesystem;

std::atomic<int> g_requestTimeoutMs{2000};
constexpr size_t kMaxLine = 64;

struct Held {
  WString cls;
  int lockFd = -1;
  int listenFd = -1;
  int stopFd = -1;
  fs::path socketPath;
  std::thread listener;
};

struct Proxy {
  WString cls;
  fs::path socketPath;
  fs::path lockPath;
};

struct InstanceState {
  std::mutex lock;
  std::vector<std::unique_ptr<Held>> held;
  std::vector<Proxy> proxies;
};

InstanceState& Instances() {
  static InstanceState* s = new InstanceState;
  return *s;
}

// A short, file-name-safe name for a class: class names compare without
// case, so the name does too.
std::string NameFor(WStringView cls) {
  uint64_t hash = 1469598103934665603ull;
  for (WChar c : cls) {
    WChar f = FoldCase(c);
    hash = (hash ^ (f & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (f >> 8)) * 1099511628211ull;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "instance-%016llx", static_cast<unsigned long long>(hash));
  return buf;
}

std::string Errno() { return std::strerror(errno); }

// A socket address for `path`. Paths too long for the address go through
// the folder's descriptor (/proc/self/fd/N/name); *dirFd then holds it.
bool MakeAddress(const fs::path& path, sockaddr_un* addr, int* dirFd) {
  *dirFd = -1;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::string full = path.string();
  if (full.size() < sizeof addr->sun_path) {
    std::memcpy(addr->sun_path, full.c_str(), full.size() + 1);
    return true;
  }
  *dirFd = open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (*dirFd < 0) return false;
  std::string viaFd = "/proc/self/fd/" + std::to_string(*dirFd) + "/" + path.filename().string();
  if (viaFd.size() >= sizeof addr->sun_path) {
    close(*dirFd);
    *dirFd = -1;
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr->sun_path, viaFd.c_str(), viaFd.size() + 1);
  return true;
}

// The UI thread's side of a request: the class's first window comes to the
// front (shown if hidden, activated, the native window raised).
void BringToFront(const WString& cls, int showCommand) {
  HWND target = nullptr;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* best = nullptr;
    for (Window* t : s.topLevels) {
      if (t->platform || t->destroying || !EqualsNoCase(t->cls->cls.name, cls)) continue;
      if (!best || t->serial < best->serial) best = t;
    }
    if (best) target = best->handle;
  }
  if (!target) return;  // still starting up: it will be in front anyway
  if (showCommand >= 0) {
    ShowWindow(target, showCommand);
    if (showCommand == SW_HIDE) return;
  } else if (!IsWindowVisible(target)) {
    ShowWindow(target, SW_SHOW);
  }
  SetForegroundWindow(target);
  if (auto backend = CurrentDisplayBackend()) backend->Raise();
}

void Serve(int connection, const WString& cls) {
  const int limitMs = g_requestTimeoutMs.load();
  timeval timeout{limitMs / 1000, (limitMs % 1000) * 1000};
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string line;
  char c;
  while (line.size() < kMaxLine && recv(connection, &c, 1, 0) == 1 && c != '\n') line.push_back(c);
  int showCommand;
  if (line == "activate") {
    showCommand = -1;
  } else if (line.rfind("show ", 0) == 0) {
    showCommand = std::atoi(line.c_str() + 5);
  } else {
    const char reply[] = "bad request\n";
    send(connection, reply, sizeof reply - 1, MSG_NOSIGNAL);
    return;
  }
  {
    // The listener is no platform thread: keep virtual time still until the
    // UI thread has the request.
    ClockBusyScope busy;
    PostTask([cls, showCommand] { BringToFront(cls, showCommand); });
  }
  const char reply[] = "ok\n";
  send(connection, reply, sizeof reply - 1, MSG_NOSIGNAL);
}

void Listen(Held* h) {
  for (;;) {
    pollfd fds[2] = {{h->listenFd, POLLIN, 0}, {h->stopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      DebugPrintf(u"[platform] single instance: poll failed: %S\n", Errno());
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int connection = accept4(h->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Serve(connection, h->cls);
    close(connection);
  }
}

// Listens on the socket; false (with a log line) if that cannot be done, in
// which case the lock is still held: this process is the instance, a second
// one only cannot reach it.
bool StartListening(Held& h) {
  unlink(h.socketPath.c_str());  // left by an instance that ended
  h.listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr;
  int dirFd = -1;
  bool ok = h.listenFd >= 0 && MakeAddress(h.socketPath, &addr, &dirFd) &&
            bind(h.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(h.listenFd, 8) == 0;
  if (dirFd >= 0) close(dirFd);
  if (ok) h.stopFd = eventfd(0, EFD_CLOEXEC);
  if (!ok || h.stopFd < 0) {
    DebugPrintf(u"[platform] single instance: cannot listen on %S: %S\n", h.socketPath.string(), Errno());
    if (h.listenFd >= 0) close(h.listenFd);
    h.listenFd = -1;
    return false;
  }
  h.listener = std::thread(Listen, &h);
  return true;
}

HWND ProxyHandle(size_t index) { return reinterpret_cast<HWND>(((index + 1) << 4) | 8); }

std::optional<Proxy> FindProxy(HWND h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if ((v & 0xF) != 8) return std::nullopt;
  size_t index = (v >> 4) - 1;
  InstanceState& s = Instances();
  std::lock_guard<std::mutex> guard(s.lock);
  if (index >= s.proxies.size()) return std::nullopt;
  return s.proxies[index];
}

// Whether some process holds the lock now (it may be about to listen).
bool LockIsHeld(const fs::path& lockPath) {
  int fd = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // releases it again if it was ours for a moment
  return held;
}

// One request, one "ok". The other process may have taken the lock a moment
// ago and not be listening yet, so a refused connection is tried again for a
// short while.
bool Request(HWND proxy, const std::string& line) {
  std::optional<Proxy> target = FindProxy(proxy);
  if (!target) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(g_requestTimeoutMs.load());
  int fd = -1;
  for (;;) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr;
    int dirFd = -1;
    bool connected = fd >= 0 && MakeAddress(target->socketPath, &addr, &dirFd) &&
                     connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    int err = errno;
    if (dirFd >= 0) close(dirFd);
    if (connected) break;
    if (fd >= 0) close(fd);
    fd = -1;
    // Refused while the lock is held: the holder is about to listen. Refused
    // with the lock free: the instance is gone.
    bool retry = (err == ECONNREFUSED || err == ENOENT || err == EAGAIN) && SteadyClock::now() < deadline &&
                 LockIsHeld(target->lockPath);
    if (!retry) {
      DebugPrintf(u"[platform] single instance: cannot reach the running instance: %S\n",
                  std::string(std::strerror(err)));
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string request = line + "\n";
  bool ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  std::string reply;
  while (ok && reply.size() < kMaxLine) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) {
      ok = false;
      break;
    }
    char c;
    if (recv(fd, &c, 1, 0) != 1) {
      ok = false;
      break;
    }
    if (c == '\n') break;
    reply.push_back(c);
  }
  close(fd);
  if (!ok || reply != "ok") {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

}  // namespace

HWND FindOtherInstance(WStringView className) {
  InstanceState& s = Instances();
  std::lock_guard<std::mutex> guard(s.lock);
  for (auto& h : s.held) {
    if (EqualsNoCase(h->cls, className)) return nullptr;  // this process is the instance
  }
  const fs::path folder = CurrentFileSystemConfig().deviceRoot / "run";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    DebugPrintf(u"[platform] single instance: cannot create %S: %S\n", folder.string(), ec.message());
    return nullptr;
  }
  const std::string name = NameFor(className);
  const fs::path lockPath = folder / (name + ".lock");
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    DebugPrintf(u"[platform] single instance: cannot open %S: %S\n", lockPath.string(), Errno());
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    if (err != EWOULDBLOCK) {
      DebugPrintf(u"[platform] single instance: cannot lock %S: %S\n", lockPath.string(),
                  std::string(std::strerror(err)));
      return nullptr;
    }
    s.proxies.push_back({WString(className), folder / (name + ".sock"), lockPath});
    return ProxyHandle(s.proxies.size() - 1);
  }
  // Ours. Say who holds it, for a person looking at the folder.
  std::string who = std::to_string(getpid()) + " " + ToUtf8(className) + "\n";
  if (ftruncate(fd, 0) == 0) {
    ssize_t ignored = write(fd, who.data(), who.size());
    (void)ignored;
  }
  auto held = std::make_unique<Held>();
  held->cls = WString(className);
  held->lockFd = fd;
  held->socketPath = folder / (name + ".sock");
  StartListening(*held);
  s.held.push_back(std::move(held));
  return nullptr;
}

bool IsLiveProxy(HWND h) { return FindProxy(h).has_value(); }

bool ProxyActivate(HWND proxy) { return Request(proxy, "activate"); }

bool ProxyShow(HWND proxy, int command) {
  if (command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW && command != SW_SHOWNOACTIVATE &&
      command != SW_SHOWNA) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return Request(proxy, "show " + std::to_string(command));
}

void ResetSingleInstance() {
  std::vector<std::unique_ptr<Held>> held;
  {
    InstanceState& s = Instances();
    std::lock_guard<std::mutex> guard(s.lock);
    held.swap(s.held);
    s.proxies.clear();
  }
  for (auto& h : held) {
    if (h->listener.joinable()) {
      uint64_t one = 1;
      ssize_t ignored = write(h->stopFd, &one, sizeof one);
      (void)ignored;
      h->listener.join();
    }
    if (h->listenFd >= 0) {
      close(h->listenFd);
      unlink(h->socketPath.c_str());
    }
    if (h->stopFd >= 0) close(h->stopFd);
    close(h->lockFd);  // releases the lock
  }
}

}  // namespace ui_detail

void SetInstanceRequestTimeoutMs(uint32_t ms) {
  ui_detail::g_requestTimeoutMs.store(static_cast<int>(std::min<uint32_t>(ms, INT32_MAX)));
}

}  // namespace plat
