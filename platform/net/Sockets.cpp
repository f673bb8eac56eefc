// The socket calls themselves: argument checks, the socket table, event
// selection and the bookkeeping of overlapped operations, whichever network
// carries the bytes.
#include <cstring>
#include <map>

#include "platform/net/NetInternal.h"

namespace plat {
namespace net_detail {

namespace {

struct Globals {
  int startups = 0;
  uintptr_t nextNumber = 1;
  std::map<uintptr_t, std::shared_ptr<SocketBase>> sockets;
  std::shared_ptr<NetStack> stack;  // null: the host's
};

Globals& G() {
  static Globals* globals = new Globals;  // sockets may outlive static destruction
  return *globals;
}

void Complete(Overlapped* ov, bool inCall, uint32_t status, size_t bytes) {
  ov->Internal = status;
  ov->InternalHigh = static_cast<uint32_t>(bytes);
  // A failure found while the call is still running is its return value; the
  // device does not signal an operation it never queued.
  if (!inCall || status == 0) SetEvent(ov->hEvent);
}

}  // namespace

std::mutex& NetLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

size_t PendingRecv::Room() const {
  size_t room = 0;
  for (const WsaBuf& b : buffers) room += b.len;
  return room;
}

size_t PendingRecv::Fill(const char* data, size_t n) const {
  size_t copied = 0;
  for (const WsaBuf& b : buffers) {
    if (copied == n) break;
    size_t part = std::min<size_t>(b.len, n - copied);
    std::memcpy(b.buf, data + copied, part);
    copied += part;
  }
  return copied;
}

SocketBase::~SocketBase() = default;
NetStack::~NetStack() = default;

void SocketBase::ConnectFinishedLocked(uint32_t error) {
  state = error == 0 ? SocketState::Connected : SocketState::Failed;
  recorded |= FD_CONNECT;
  recordedErrors[FD_CONNECT_BIT] = static_cast<int>(error);
  if ((selectMask & FD_CONNECT) && selectEvent) SetEvent(selectEvent);
}

void SocketBase::CompleteSendLocked(uint32_t status) {
  PendingSend& op = sends.front();
  Complete(op.overlapped, op.inCall, status, op.done);
  sends.pop_front();
}

void SocketBase::CompleteRecvLocked(uint32_t status, size_t bytes) {
  PendingRecv& op = recvs.front();
  Complete(op.overlapped, op.inCall, status, bytes);
  recvs.pop_front();
}

void SocketBase::FailAllLocked(uint32_t status) {
  while (!sends.empty()) CompleteSendLocked(status);
  while (!recvs.empty()) CompleteRecvLocked(status, 0);
}

bool StartedLocked() { return G().startups > 0; }

std::shared_ptr<NetStack> CurrentStackLocked() {
  return G().stack ? G().stack : HostStack();
}

void InstallStackLocked(std::shared_ptr<NetStack> stack) { G().stack = std::move(stack); }

std::shared_ptr<SocketBase> FindSocketLocked(Socket s) {
  auto it = G().sockets.find(static_cast<uintptr_t>(s));
  return it == G().sockets.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<SocketBase>> AllSocketsLocked() {
  std::vector<std::shared_ptr<SocketBase>> all;
  for (auto& [number, socket] : G().sockets) all.push_back(socket);
  return all;
}

void CloseSocketLocked(const std::shared_ptr<SocketBase>& socket) {
  if (!socket->open) return;
  socket->open = false;
  G().sockets.erase(static_cast<uintptr_t>(socket->number));
  socket->FailAllLocked(ERROR_OPERATION_ABORTED);
  socket->selectEvent = nullptr;
  socket->selectMask = 0;
  socket->CloseLocked();
}

bool ParseIpv4(std::string_view text, uint32_t& ip) {
  uint32_t value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t start = i;
    uint32_t part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) part = part * 10 + (text[i++] - '0');
    if (i == start || part > 255) return false;
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  ip = value;
  return true;
}

}  // namespace net_detail

using namespace net_detail;

namespace {

int Fail(uint32_t code) {
  SetLastError(code);
  return SOCKET_ERROR;
}

// Looks up a socket for a call, with the device's errors for a layer that was
// not started or a number that names nothing.
std::shared_ptr<SocketBase> Find(Socket s, uint32_t& error) {
  if (G().startups == 0) {
    error = WSANOTINITIALISED;
    return nullptr;
  }
  auto socket = FindSocketLocked(s);
  if (!socket) error = WSAENOTSOCK;
  return socket;
}

bool ValidOverlapped(const Overlapped* ov, const void* completionRoutine) {
  return ov && ov->hEvent && !completionRoutine;
}

}  // namespace

int WSAStartup(uint16_t version, WsaData* data) {
  if (!data) return static_cast<int>(WSAEFAULT);
  if ((version & 0xFF) == 0) return static_cast<int>(WSAVERNOTSUPPORTED);
  NetGuard guard(NetLock());
  ++G().startups;
  *data = WsaData{};
  data->version = 0x0202;
  data->highVersion = 0x0202;
  std::strcpy(data->description, "Quorel sockets");
  std::strcpy(data->systemStatus, "Running");
  return 0;
}

int WSACleanup() {
  NetGuard guard(NetLock());
  if (G().startups == 0) return Fail(WSANOTINITIALISED);
  if (--G().startups == 0) {
    CloseSocketsLocked([](SocketBase&) { return true; });
    StopReactorLocked(guard);
  }
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

Socket WSASocketW(int family, int type, int protocol, const void* protocolInfo, uint32_t group, uint32_t flags) {
  uint32_t error = 0;
  if (family != AF_INET) error = WSAEAFNOSUPPORT;
  else if (type != SOCK_STREAM) error = WSAESOCKTNOSUPPORT;
  else if (protocol != 0 && protocol != IPPROTO_TCP) error = WSAEPROTONOSUPPORT;
  else if (protocolInfo || group != 0 || (flags & ~WSA_FLAG_OVERLAPPED) != 0) error = WSAEINVAL;
  NetGuard guard(NetLock());
  if (G().startups == 0) error = WSANOTINITIALISED;
  std::shared_ptr<SocketBase> socket;
  if (error == 0) socket = CurrentStackLocked()->NewSocketLocked(error);
  if (!socket) {
    SetLastError(error);
    return INVALID_SOCKET;
  }
  socket->number = static_cast<Socket>(G().nextNumber++);
  G().sockets[static_cast<uintptr_t>(socket->number)] = socket;
  return socket->number;
}

int closesocket(Socket s) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  CloseSocketLocked(socket);
  return 0;
}

int shutdown(Socket s, int how) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return Fail(WSAEINVAL);
  if (socket->state != SocketState::Connected) return Fail(WSAENOTCONN);
  if (uint32_t e = socket->ShutdownLocked(how)) return Fail(e);
  if (how != SD_SEND) socket->readShut = true;
  if (how != SD_RECEIVE) socket->writeShut = true;
  // A send still queued can no longer go out, and a receive waiting for data
  // that can no longer come ends now.
  while (socket->writeShut && !socket->sends.empty()) socket->CompleteSendLocked(WSAESHUTDOWN);
  while (socket->readShut && !socket->recvs.empty()) socket->CompleteRecvLocked(0, 0);
  socket->PumpLocked();
  return 0;
}

int ioctlsocket(Socket s, long command, uint32_t* argument) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (command != static_cast<long>(FIONBIO)) return Fail(WSAEINVAL);
  if (!argument) return Fail(WSAEFAULT);
  if (*argument == 0 && socket->selectMask != 0) return Fail(WSAEINVAL);
  socket->nonBlocking = *argument != 0;
  return 0;
}

int WSAEventSelect(Socket s, Handle event, uint32_t events) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (events & ~FD_CONNECT) return Fail(WSAEINVAL);
  if (events != 0 && (!event || !LookupHandle(event))) return Fail(ERROR_INVALID_HANDLE);
  // A new selection starts from an empty record, as on the device.
  socket->recorded = 0;
  std::memset(socket->recordedErrors, 0, sizeof socket->recordedErrors);
  socket->selectEvent = events ? event : nullptr;
  socket->selectMask = events;
  if (events) socket->nonBlocking = true;
  return 0;
}

int WSAEnumNetworkEvents(Socket s, Handle event, NetworkEvents* out) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (!out) return Fail(WSAEFAULT);
  if (event && !ResetEvent(event)) return Fail(ERROR_INVALID_HANDLE);
  out->lNetworkEvents = socket->recorded;
  std::memcpy(out->iErrorCode, socket->recordedErrors, sizeof out->iErrorCode);
  socket->recorded = 0;
  std::memset(socket->recordedErrors, 0, sizeof socket->recordedErrors);
  return 0;
}

int WSAConnect(Socket s, const SockAddr* address, int addressLength, const WsaBuf* callerData, WsaBuf* calleeData,
               const void* socketQos, const void* groupQos) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (callerData || calleeData || socketQos || groupQos) return Fail(WSAEOPNOTSUPP);
  if (!address || addressLength < static_cast<int>(sizeof(SockAddrIn))) return Fail(WSAEFAULT);
  SockAddrIn in;
  std::memcpy(&in, address, sizeof in);
  if (in.sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
  switch (socket->state) {
    case SocketState::Connecting: return Fail(WSAEALREADY);
    case SocketState::Connected: return Fail(WSAEISCONN);
    case SocketState::Failed: return Fail(WSAEINVAL);  // a socket gets one connect attempt
    case SocketState::Fresh: break;
  }
  if (uint32_t e = socket->StartConnectLocked(ntohl(in.sin_addr.s_addr), ntohs(in.sin_port))) return Fail(e);
  return Fail(WSAEWOULDBLOCK);
}

int WSASend(Socket s, const WsaBuf* buffers, uint32_t count, uint32_t* sent, uint32_t flags, Overlapped* overlapped,
            const void* completionRoutine) {
  if (!ValidOverlapped(overlapped, completionRoutine) || (count > 0 && !buffers)) return Fail(WSAEINVAL);
  if (flags != 0) return Fail(WSAEOPNOTSUPP);
  PendingSend op;
  for (uint32_t i = 0; i < count; ++i) {
    if (buffers[i].len > 0 && !buffers[i].buf) return Fail(WSAEFAULT);
    op.data.insert(op.data.end(), buffers[i].buf, buffers[i].buf + buffers[i].len);
  }
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (socket->writeShut) return Fail(WSAESHUTDOWN);
  if (socket->state != SocketState::Connected) return Fail(WSAENOTCONN);
  overlapped->Internal = ERROR_IO_PENDING;
  overlapped->InternalHigh = 0;
  op.overlapped = overlapped;
  op.inCall = true;
  socket->sends.push_back(std::move(op));
  socket->PumpLocked();
  for (PendingSend& p : socket->sends)
    if (p.overlapped == overlapped) p.inCall = false;
  if (overlapped->Internal == ERROR_IO_PENDING) return Fail(ERROR_IO_PENDING);
  if (overlapped->Internal != 0) return Fail(overlapped->Internal);
  if (sent) *sent = overlapped->InternalHigh;
  return 0;
}

int WSARecv(Socket s, WsaBuf* buffers, uint32_t count, uint32_t* received, uint32_t* flags, Overlapped* overlapped,
            const void* completionRoutine) {
  if (!ValidOverlapped(overlapped, completionRoutine) || count == 0 || !buffers) return Fail(WSAEINVAL);
  if (flags && *flags != 0) return Fail(WSAEOPNOTSUPP);
  PendingRecv op;
  for (uint32_t i = 0; i < count; ++i) {
    if (buffers[i].len > 0 && !buffers[i].buf) return Fail(WSAEFAULT);
    op.buffers.push_back(buffers[i]);
  }
  if (op.Room() == 0) return Fail(WSAEINVAL);  // a receive needs room: 0 bytes means the peer closed
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) return Fail(error);
  if (socket->readShut) return Fail(WSAESHUTDOWN);
  if (socket->state != SocketState::Connected) return Fail(WSAENOTCONN);
  overlapped->Internal = ERROR_IO_PENDING;
  overlapped->InternalHigh = 0;
  op.overlapped = overlapped;
  op.inCall = true;
  socket->recvs.push_back(std::move(op));
  socket->PumpLocked();
  for (PendingRecv& p : socket->recvs)
    if (p.overlapped == overlapped) p.inCall = false;
  if (overlapped->Internal == ERROR_IO_PENDING) return Fail(ERROR_IO_PENDING);
  if (overlapped->Internal != 0) return Fail(overlapped->Internal);
  if (received) *received = overlapped->InternalHigh;
  if (flags) *flags = 0;
  return 0;
}

bool WSAGetOverlappedResult(Socket s, Overlapped* overlapped, uint32_t* bytes, bool wait, uint32_t* flags) {
  NetGuard guard(NetLock());
  uint32_t error = 0;
  auto socket = Find(s, error);
  if (!socket) {
    SetLastError(error);
    return false;
  }
  if (!overlapped) {
    SetLastError(WSAEFAULT);
    return false;
  }
  while (overlapped->Internal == ERROR_IO_PENDING) {
    if (!wait) {
      SetLastError(WSA_IO_INCOMPLETE);
      return false;
    }
    Handle event = overlapped->hEvent;
    guard.unlock();
    uint32_t waited = WaitForSingleObject(event, INFINITE);
    guard.lock();
    if (waited == WAIT_FAILED) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
  }
  if (bytes) *bytes = overlapped->InternalHigh;
  if (flags) *flags = 0;
  if (overlapped->Internal != 0) {
    SetLastError(overlapped->Internal);
    return false;
  }
  return true;
}

}  // namespace plat
