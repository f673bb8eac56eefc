// Internals shared by the socket layer's sources; not for other modules.
//
// One lock (NetLock) guards every socket's state, every pending operation,
// the socket table and the simulated network. It is taken before the
// kernel's lock (SetEvent is called under it), never after.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/Net.h"

namespace plat::net_detail {

std::mutex& NetLock();
using NetGuard = std::unique_lock<std::mutex>;

struct PendingSend {
  std::vector<char> data;
  size_t done = 0;
  Overlapped* overlapped = nullptr;
  bool inCall = false;  // still inside WSASend: a failure is returned, not signalled
};

struct PendingRecv {
  std::vector<WsaBuf> buffers;
  Overlapped* overlapped = nullptr;
  bool inCall = false;

  size_t Room() const;
  // Copies up to Room() bytes into the buffers; returns how many.
  size_t Fill(const char* data, size_t n) const;
};

enum class SocketState { Fresh, Connecting, Connected, Failed };

// The state every socket has whatever network carries it. All members and
// methods need NetLock unless said otherwise.
class SocketBase {
 public:
  virtual ~SocketBase();

  Socket number = INVALID_SOCKET;
  SocketState state = SocketState::Fresh;
  bool open = true;
  bool nonBlocking = false;
  bool readShut = false;
  bool writeShut = false;
  Handle selectEvent = nullptr;
  uint32_t selectMask = 0;
  uint32_t recorded = 0;
  int recordedErrors[FD_MAX_EVENTS] = {};
  std::deque<PendingSend> sends;
  std::deque<PendingRecv> recvs;

  // The connect outcome: records FD_CONNECT and signals the selection.
  void ConnectFinishedLocked(uint32_t error);
  // Completes and removes the first pending operation of a direction.
  void CompleteSendLocked(uint32_t status);
  void CompleteRecvLocked(uint32_t status, size_t bytes);
  // Fails every pending operation with `status`.
  void FailAllLocked(uint32_t status);
  bool HasPendingLocked() const { return state == SocketState::Connecting || !sends.empty() || !recvs.empty(); }

  // Network-specific parts.
  // Starts connecting (state is Fresh): 0 when the attempt is under way or
  // its outcome has been recorded, else an error to return at once.
  virtual uint32_t StartConnectLocked(uint32_t ip, uint16_t port) = 0;
  // Moves queued operations as far as they can go now.
  virtual void PumpLocked() = 0;
  virtual uint32_t ShutdownLocked(int how) = 0;
  // The socket leaves the table: pending operations are already failed.
  virtual void CloseLocked() = 0;
};

class NetStack {
 public:
  virtual ~NetStack();
  // Called with NetLock held.
  virtual std::shared_ptr<SocketBase> NewSocketLocked(uint32_t& error) = 0;
  // Called without the lock; may block.
  virtual uint32_t Lookup(std::string_view host, std::vector<uint32_t>& addresses) = 0;
};

// The network new sockets and lookups go to. NetLock held.
std::shared_ptr<NetStack> CurrentStackLocked();
void InstallStackLocked(std::shared_ptr<NetStack> stack);  // null: the host's
std::shared_ptr<NetStack> HostStack();

// WSAStartup has been called more often than WSACleanup. NetLock held.
bool StartedLocked();

// The socket table. NetLock held.
std::shared_ptr<SocketBase> FindSocketLocked(Socket s);
// Closes every socket for which `pred` holds (pending operations fail with
// 995).
template <class Pred>
void CloseSocketsLocked(Pred pred);
void CloseSocketLocked(const std::shared_ptr<SocketBase>& socket);
std::vector<std::shared_ptr<SocketBase>> AllSocketsLocked();

template <class Pred>
void CloseSocketsLocked(Pred pred) {
  for (auto& socket : AllSocketsLocked())
    if (pred(*socket)) CloseSocketLocked(socket);
}

// Host reactor lifetime (the last WSACleanup stops it).
void StopReactorLocked(NetGuard& guard);

// IPv4 literal "a.b.c.d" (each part decimal 0-255) to host order.
bool ParseIpv4(std::string_view text, uint32_t& ip);

}  // namespace plat::net_detail
