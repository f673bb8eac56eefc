// A network in memory, for tests that need exact control over timing and
// faults: names resolve from a table, connects to an address end as a rule
// says (accepted by a scripted peer, refused, timed out, unreachable, after a
// delay or never), and each accepted connection runs a script on a platform
// thread that reads what the client sent and answers.
//
// Everything happens on the platform clock and on platform threads (the peer
// scripts and one "wire" thread that delivers delayed bytes), so under the
// virtual clock a run is fully deterministic: a peer's write reaches the
// client before time can move, a delay ends exactly when its time comes, and
// a client receive never takes more than one of the peer's writes (writes
// stay split as the script made them).
//
// Install one (construct it) after the VirtualClock, if any, and before the
// sockets it should carry; destroy it before the clock. While it exists, new
// sockets and lookups go to it; its destructor closes its sockets (pending
// operations end with 995), ends the scripts' waits and joins their threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"

namespace plat {

namespace net_detail {
struct SimNet;
struct SimConn;
}  // namespace net_detail

// Host-order IPv4 address.
constexpr uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | uint32_t{d};
}

// The server side of one accepted connection, handed to its script. Every
// wait here is a platform wait that also ends when the network is torn down.
class SimPeer {
 public:
  SimPeer(std::shared_ptr<net_detail::SimNet> net, std::shared_ptr<net_detail::SimConn> conn);

  // Up to `max` bytes the client sent (at least one), or "" once the client
  // can send no more (closed, shut down its sending side) or the time-out
  // passed.
  std::string Read(size_t max, uint32_t timeoutMs = INFINITE);
  // Everything up to and including `terminator` (e.g. the blank line ending
  // a request head); "" when it did not come, leaving what did come unread.
  std::string ReadUntil(std::string_view terminator, uint32_t timeoutMs = INFINITE);
  // Exactly n bytes, or "" as above.
  std::string ReadExactly(size_t n, uint32_t timeoutMs = INFINITE);
  // Every byte the client has sent so far, read or not.
  std::string Received() const;
  // The client's sending side has ended (close, shutdown or reset).
  bool ClientDone() const;

  // Sends bytes toward the client. Without a bandwidth limit one write is
  // one arrival; with one, the bytes arrive in paced pieces. False when the
  // connection can no longer carry them (closed by either side, reset).
  bool Write(std::string_view bytes);
  // Ends the stream after what was written: the client then reads 0 bytes.
  void Close();
  // Resets the connection at once: bytes not yet read by the client are
  // lost, and the client's pending and later operations fail with
  // WSAECONNRESET. A script that wants the client to see earlier bytes
  // first sleeps a moment before resetting.
  void Reset();
  // Lets time pass on the platform clock.
  void Sleep(uint32_t ms);
  // Stalls until the client closes its socket (or the time-out passes).
  bool WaitClientClosed(uint32_t timeoutMs = INFINITE);
  // Client sends complete only while at most this many sent bytes are
  // unread by the script (default: no limit). A smaller window makes an
  // upload stall until the script reads.
  void SetReceiveWindow(size_t bytes);

 private:
  std::shared_ptr<net_detail::SimNet> m_net;
  std::shared_ptr<net_detail::SimConn> m_conn;
};

using SimPeerScript = std::function<void(SimPeer&)>;

// How a connect to one address ends, `delayMs` after the attempt starts.
struct SimConnectRule {
  uint32_t delayMs = 0;
  // 0: the listener accepts (refused, 10061, when there is none); otherwise
  // the FD_CONNECT error, e.g. WSAECONNREFUSED, WSAETIMEDOUT, WSAENETUNREACH.
  uint32_t error = 0;
  // The attempt never ends (a lost SYN); only closesocket ends it.
  bool never = false;
};

class SimNetwork {
 public:
  SimNetwork();
  ~SimNetwork();
  SimNetwork(const SimNetwork&) = delete;
  SimNetwork& operator=(const SimNetwork&) = delete;

  // Name table; unknown names fail with WSAHOST_NOT_FOUND. IPv4 literals
  // resolve to themselves without the table.
  void AddHost(std::string name, uint32_t ip);
  void FailLookup(std::string name, uint32_t error = WSAHOST_NOT_FOUND);
  // Every lookup of a name takes this long (platform clock).
  void SetLookupDelay(uint32_t ms);
  // The names looked up so far, in order.
  std::vector<std::string> Lookups() const;

  // Each connect to ip:port that is accepted runs `script` on its own
  // platform thread. When the script returns, its side is closed (unless
  // it reset the connection).
  void Listen(uint32_t ip, uint16_t port, SimPeerScript script);
  void SetConnectRule(uint32_t ip, uint16_t port, SimConnectRule rule);

  // Paces bytes toward clients: at most `bytesPerSecond` (0 = no limit), in
  // pieces of `piece` bytes (0 = a tenth of a second's worth, at least 1).
  void SetBandwidth(uint32_t bytesPerSecond, uint32_t piece = 0);

  struct ConnectionInfo {
    uint32_t ip = 0;
    uint16_t port = 0;
    std::string fromClient;  // every byte the client sent
    size_t toClient = 0;     // bytes that reached the client
    bool clientClosed = false;
    bool peerClosed = false;
    bool reset = false;
  };
  // Accepted connections, in order of acceptance.
  std::vector<ConnectionInfo> Connections() const;

 private:
  std::shared_ptr<net_detail::SimNet> m_net;
};

}  // namespace plat
