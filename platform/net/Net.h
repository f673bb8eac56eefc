// Sockets with the device's calling conventions: overlapped connect, send and
// receive that complete onto events, event selection for the connect result,
// and name lookup. The HTTP core is written around these completion rules, so
// they are kept exactly:
//
//   - WSAConnect never connects synchronously: it answers SOCKET_ERROR with
//     WSAEWOULDBLOCK and the outcome arrives as FD_CONNECT (0, or 10061,
//     10060, 10051, 10065), read with WSAEnumNetworkEvents. Only a bad
//     address or a bad socket fails at once.
//   - WSASend and WSARecv either finish at once (0; the overlapped event is
//     signalled too) or answer SOCKET_ERROR with ERROR_IO_PENDING (997) and
//     later signal the overlapped record's event. A send completes only when
//     every byte of every buffer has been taken; the bytes are copied when
//     the send is posted, so the caller may reuse its buffers at once. A
//     receive completes with whatever one arrival brought (at most the
//     buffers' room); 0 bytes means the peer closed. Receive buffers must stay
//     valid until completion or closesocket. Operations of one direction
//     complete in the order they were posted.
//   - closesocket completes every pending operation with
//     ERROR_OPERATION_ABORTED (995) and signals its event before it returns;
//     nothing touches the caller's buffers or records afterwards. Socket
//     numbers are never reused, so an operation on a closed socket fails with
//     WSAENOTSOCK instead of reaching another connection.
//   - Only overlapped operations exist: every send and receive needs an
//     Overlapped record with an event and no completion routine.
//
// Sockets are IPv4 TCP only. Every call needs WSAStartup first (else
// WSANOTINITIALISED, as on the device); the last WSACleanup closes what is
// still open.
//
// Where the bytes go: by default the host's network, through non-blocking
// sockets driven by one reactor thread (epoll) that performs the pending
// operations and signals their events; writes never raise SIGPIPE. Tests can
// install a simulated network instead (SimNet.h); a socket stays with the
// network it was created on.
//
// The BSD constants AF_INET, SOCK_STREAM, IPPROTO_TCP and FIONBIO and the
// sockaddr / sockaddr_in records are the host's (the first three have the
// device's values; FIONBIO is only ever passed back to ioctlsocket).
#pragma once

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/kernel/Kernel.h"

namespace plat {

// Socket result codes beyond those of Errors.h.
enum : uint32_t {
  WSA_IO_INCOMPLETE = 996,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAECONNABORTED = 10053,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAEHOSTUNREACH = 10065,
  WSAVERNOTSUPPORTED = 10092,
  WSANOTINITIALISED = 10093,
  WSATYPE_NOT_FOUND = 10109,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

using SockAddr = ::sockaddr;
using SockAddrIn = ::sockaddr_in;

// A socket number of this layer (not a host descriptor).
enum class Socket : uintptr_t {};
inline constexpr Socket INVALID_SOCKET = static_cast<Socket>(~uintptr_t{0});
constexpr int SOCKET_ERROR = -1;

constexpr uint32_t WSA_FLAG_OVERLAPPED = 0x01;

// Network events for WSAEventSelect. Only FD_CONNECT is delivered; asking for
// any other is refused with WSAEINVAL rather than silently never reported.
constexpr uint32_t FD_READ = 0x01;
constexpr uint32_t FD_WRITE = 0x02;
constexpr uint32_t FD_OOB = 0x04;
constexpr uint32_t FD_ACCEPT = 0x08;
constexpr uint32_t FD_CONNECT = 0x10;
constexpr uint32_t FD_CLOSE = 0x20;
constexpr int FD_CONNECT_BIT = 4;
constexpr int FD_MAX_EVENTS = 10;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

struct WsaData {
  uint16_t version = 0;
  uint16_t highVersion = 0;
  char description[257] = {};
  char systemStatus[129] = {};
};

struct WsaBuf {
  uint32_t len = 0;
  char* buf = nullptr;
};

// The overlapped record. While an operation is pending Internal holds
// ERROR_IO_PENDING; at completion it holds the result code (0 = success) and
// InternalHigh the bytes transferred. Read them through
// WSAGetOverlappedResult, which takes the layer's lock.
struct Overlapped {
  uint32_t Internal = 0;
  uint32_t InternalHigh = 0;
  Handle hEvent = nullptr;
};

struct NetworkEvents {
  uint32_t lNetworkEvents = 0;
  int iErrorCode[FD_MAX_EVENTS] = {};
};

// A version with a major number of 0 is refused (WSAVERNOTSUPPORTED); any
// other is served as 2.2. Returns the error code (0 on success).
int WSAStartup(uint16_t version, WsaData* data);
int WSACleanup();
int WSAGetLastError();

// AF_INET, SOCK_STREAM, IPPROTO_TCP (or 0); flags 0 or WSA_FLAG_OVERLAPPED.
// INVALID_SOCKET with the error otherwise.
Socket WSASocketW(int family, int type, int protocol, const void* protocolInfo, uint32_t group, uint32_t flags);
int closesocket(Socket s);
// SD_RECEIVE, SD_SEND or SD_BOTH on a connected socket (else WSAENOTCONN):
// later sends or receives in that direction fail with WSAESHUTDOWN, pending
// receives complete with 0 bytes, and the peer sees the end of the stream.
// Any thread may call it while another uses the socket.
int shutdown(Socket s, int how);
// FIONBIO only. Sockets are always non-blocking underneath; the mode is kept
// for the record. Clearing it while an event selection is active is refused
// with WSAEINVAL, as on the device.
int ioctlsocket(Socket s, long command, uint32_t* argument);

// `events` 0 clears the selection. Either way the record of network events
// starts empty again (a connect result not yet enumerated is dropped), and
// the event itself is left as it is.
int WSAEventSelect(Socket s, Handle event, uint32_t events);
// Hands over and clears the recorded events, and resets `event` when given.
int WSAEnumNetworkEvents(Socket s, Handle event, NetworkEvents* out);

int WSAConnect(Socket s, const SockAddr* address, int addressLength, const WsaBuf* callerData = nullptr,
               WsaBuf* calleeData = nullptr, const void* socketQos = nullptr, const void* groupQos = nullptr);

// `flags` must be 0 (no out-of-band or peeking).
int WSASend(Socket s, const WsaBuf* buffers, uint32_t count, uint32_t* sent, uint32_t flags, Overlapped* overlapped,
            const void* completionRoutine);
int WSARecv(Socket s, WsaBuf* buffers, uint32_t count, uint32_t* received, uint32_t* flags, Overlapped* overlapped,
            const void* completionRoutine);
// False with WSA_IO_INCOMPLETE while pending and `wait` is false; with `wait`
// it blocks on the record's event until the operation ends. False with the
// operation's error when it failed (bytes still tells how far it got).
bool WSAGetOverlappedResult(Socket s, Overlapped* overlapped, uint32_t* bytes, bool wait, uint32_t* flags);

// Name lookup, IPv4 only. One entry per address, each with its own
// sockaddr_in carrying the service's port (null or "" = port 0; a service
// must be a decimal port). Hints may ask for AF_INET or AF_UNSPEC, a stream
// socket and TCP, with no flags. Returns 0 or a code: WSAHOST_NOT_FOUND
// (11001) for an unknown or empty name, WSATRY_AGAIN, WSANO_RECOVERY,
// WSAEAFNOSUPPORT, WSAESOCKTNOSUPPORT, WSATYPE_NOT_FOUND, WSAEINVAL,
// WSANOTINITIALISED. Blocks the calling thread for as long as the lookup
// takes; safe from any thread.
struct AddrInfo {
  int ai_flags = 0;
  int ai_family = 0;
  int ai_socktype = 0;
  int ai_protocol = 0;
  size_t ai_addrlen = 0;
  char* ai_canonname = nullptr;
  SockAddr* ai_addr = nullptr;
  AddrInfo* ai_next = nullptr;
};
int getaddrinfo(const char* node, const char* service, const AddrInfo* hints, AddrInfo** result);
void freeaddrinfo(AddrInfo* list);

// The seam in front of every lookup, whichever network is installed: tests
// put one in so that no result depends on the machine's resolver. The hook
// runs on the looking-up thread and may block through the platform (a Sleep
// on the platform clock stands for a slow lookup). It returns 0 with the
// addresses (host byte order) in order, a lookup error code, or
// kLookupNotHandled to let the installed network answer. Returns the previous
// hook; an empty function removes it.
constexpr uint32_t kLookupNotHandled = 0xFFFFFFFFu;
using LookupHook = std::function<uint32_t(std::string_view host, std::vector<uint32_t>& addresses)>;
LookupHook SetLookupHook(LookupHook hook);

// The host reactor holds the virtual clock still while it has an operation
// in flight and something happened on it within this many real milliseconds
// (a loopback peer's answer that is already on its way is taken before time
// jumps). After that stretch of quiet the operation is taken to be waiting
// for its peer, and virtual time may move, within the pace margin below.
// Default 100.
void SetReactorQuietMs(uint32_t ms);
// Past the quiet stretch, while an operation is still in flight, virtual time
// runs at most this many milliseconds ahead of the real time since the
// operation's socket last moved. The peer is another process or a host
// thread, which a loaded machine may starve for seconds: without the bound,
// virtual time would race through a time-out of the program's that the peer,
// given the same real time, would have beaten. Time-outs shorter than the
// margin still cost no real waiting. Default 5000; kReactorUnpaced lifts the
// bound, for a harness whose peer delays on purpose and that takes any
// time-out as an outcome.
constexpr uint32_t kReactorUnpaced = UINT32_MAX;
void SetReactorPaceMarginMs(uint32_t ms);
// For loopback peers played by test code: call it right after writing to
// (or closing) a host socket whose other end is one of ours, before blocking
// in a platform wait. The reactor then holds the virtual clock for another
// quiet stretch, so the bytes are taken before time can move; without it a
// peer that writes and at once waits on the platform clock may see time
// jump past its answer.
void NotePeerActivity();

}  // namespace plat
