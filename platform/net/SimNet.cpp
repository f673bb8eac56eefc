// The in-memory network. All state is guarded by NetLock; the peer scripts
// and the wire thread are platform threads, and every wait is a platform
// wait, so the virtual clock sees all of it.
#include "platform/net/SimNet.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>

#include "platform/kernel/Clock.h"
#include "platform/net/NetInternal.h"

namespace plat {
namespace net_detail {

class SimSocket;

struct SimConn {
  SimConn() : wake(CreateEvent(false, false)) {}
  ~SimConn() { CloseHandle(wake); }

  uint32_t ip = 0;
  uint16_t port = 0;
  SimSocket* client = nullptr;  // null once the client closed its socket

  // Client to peer.
  std::string upstream;  // not yet read by the script
  std::string fromClient;
  size_t window = SIZE_MAX;
  bool clientWriteDone = false;
  bool clientGone = false;

  // Peer to client.
  struct Piece {
    std::string bytes;
    ClockTime due = 0;
    bool fin = false;
  };
  std::deque<Piece> inFlight;
  std::deque<std::string> arrived;  // at the client, unread; one entry per arrival
  bool finArrived = false;
  bool peerClosed = false;
  bool reset = false;
  ClockTime lastDue = 0;
  size_t toClient = 0;

  Handle wake;  // the script's: something changed on this connection
};

struct SimNet {
  ~SimNet() {
    CloseHandle(wireWake);
    CloseHandle(teardown);
  }

  std::map<std::string, uint32_t> hosts;
  std::map<std::string, uint32_t> failures;
  uint32_t lookupDelay = 0;
  std::vector<std::string> lookups;

  std::map<uint64_t, SimPeerScript> listeners;
  std::map<uint64_t, SimConnectRule> rules;
  uint32_t bandwidth = 0;
  uint32_t piece = 0;

  std::vector<std::shared_ptr<SimConn>> conns;
  struct Timer {
    std::weak_ptr<SimSocket> socket;
    ClockTime due;
    uint32_t error;
  };
  std::vector<Timer> timers;
  std::vector<Handle> threads;
  Handle wire = nullptr;
  Handle wireWake = CreateEvent(false, false);
  Handle teardown = CreateEvent(true, false);
  bool tornDown = false;

  static uint64_t Key(uint32_t ip, uint16_t port) { return (uint64_t{ip} << 16) | port; }

  // Moves pieces whose time has come to the client. NetLock held.
  void ArriveLocked(SimConn& c);
  void FinishConnectLocked(const std::shared_ptr<SimNet>& self, SimSocket& socket, uint32_t error);
  void QueueLocked(SimConn& c, std::string_view bytes, bool fin);
};

class SimSocket final : public SocketBase {
 public:
  explicit SimSocket(std::shared_ptr<SimNet> network) : net(std::move(network)) {}

  std::shared_ptr<SimNet> net;
  std::weak_ptr<SimSocket> self;
  std::shared_ptr<SimConn> conn;

  uint32_t StartConnectLocked(uint32_t ip, uint16_t port) override {
    m_ip = ip;
    m_port = port;
    auto rule = net->rules.find(SimNet::Key(ip, port));
    if (rule != net->rules.end() && (rule->second.never || rule->second.delayMs > 0)) {
      state = SocketState::Connecting;
      if (!rule->second.never) {
        net->timers.push_back({self, ClockDeadlineAfter(rule->second.delayMs), rule->second.error});
        SetEvent(net->wireWake);
      }
      return 0;
    }
    net->FinishConnectLocked(net, *this, rule != net->rules.end() ? rule->second.error : 0);
    return 0;
  }

  void PumpLocked() override {
    if (state != SocketState::Connected || !conn) return;
    SimConn& c = *conn;
    while (!sends.empty()) {
      if (c.reset) {
        CompleteSendLocked(WSAECONNRESET);
        continue;
      }
      PendingSend& op = sends.front();
      size_t left = op.data.size() - op.done;
      size_t room = c.upstream.size() >= c.window ? 0 : c.window - c.upstream.size();
      size_t n = std::min(left, room);
      if (n > 0) {
        c.upstream.append(op.data.data() + op.done, n);
        c.fromClient.append(op.data.data() + op.done, n);
        op.done += n;
        SetEvent(c.wake);
      }
      if (op.done < op.data.size()) break;
      CompleteSendLocked(0);
    }
    while (!recvs.empty()) {
      if (c.reset) {
        CompleteRecvLocked(WSAECONNRESET, 0);
      } else if (!c.arrived.empty()) {
        std::string& front = c.arrived.front();
        size_t n = recvs.front().Fill(front.data(), front.size());
        front.erase(0, n);
        if (front.empty()) c.arrived.pop_front();
        c.toClient += n;
        CompleteRecvLocked(0, n);
      } else if (c.finArrived) {
        CompleteRecvLocked(0, 0);
      } else {
        break;
      }
    }
  }

  uint32_t ShutdownLocked(int how) override {
    if (how != SD_RECEIVE && conn) {
      conn->clientWriteDone = true;
      SetEvent(conn->wake);
    }
    return 0;
  }

  void CloseLocked() override {
    if (!conn) return;
    conn->client = nullptr;
    conn->clientGone = true;
    conn->clientWriteDone = true;
    conn->inFlight.clear();
    conn->arrived.clear();
    SetEvent(conn->wake);
  }

  uint32_t m_ip = 0;
  uint16_t m_port = 0;
};

void SimNet::ArriveLocked(SimConn& c) {
  ClockTime now = ClockNow();
  bool moved = false;
  while (!c.inFlight.empty() && c.inFlight.front().due <= now) {
    SimConn::Piece& p = c.inFlight.front();
    if (p.fin) c.finArrived = true;
    else c.arrived.push_back(std::move(p.bytes));
    c.inFlight.pop_front();
    moved = true;
  }
  if (moved && c.client) c.client->PumpLocked();
}

void SimNet::QueueLocked(SimConn& c, std::string_view bytes, bool fin) {
  ClockTime now = ClockNow();
  ClockTime start = std::max(now, c.lastDue);
  if (fin || bandwidth == 0) {
    c.inFlight.push_back({std::string(bytes), start, fin});
    c.lastDue = start;
  } else {
    size_t size = piece ? piece : std::max<uint32_t>(1, bandwidth / 10);
    for (size_t at = 0; at < bytes.size(); at += size) {
      std::string_view part = bytes.substr(at, size);
      start += static_cast<ClockTime>(part.size()) * 1'000'000'000 / bandwidth;
      c.inFlight.push_back({std::string(part), start, false});
    }
    c.lastDue = start;
  }
  ArriveLocked(c);
  if (!c.inFlight.empty()) SetEvent(wireWake);
}

void SimNet::FinishConnectLocked(const std::shared_ptr<SimNet>& self, SimSocket& socket, uint32_t error) {
  if (!socket.open || (socket.state != SocketState::Fresh && socket.state != SocketState::Connecting)) return;
  if (error != 0) {
    socket.ConnectFinishedLocked(error);
    return;
  }
  auto listener = listeners.find(Key(socket.m_ip, socket.m_port));
  if (listener == listeners.end() || tornDown) {
    socket.ConnectFinishedLocked(WSAECONNREFUSED);
    return;
  }
  auto conn = std::make_shared<SimConn>();
  conn->ip = socket.m_ip;
  conn->port = socket.m_port;
  conn->client = &socket;
  socket.conn = conn;
  conns.push_back(conn);
  socket.ConnectFinishedLocked(0);
  SimPeerScript script = listener->second;
  threads.push_back(CreateThread([self, conn, script]() -> uint32_t {
    SimPeer peer(self, conn);
    script(peer);
    peer.Close();  // a script that returns is done with the connection
    return 0;
  }));
}

namespace {

class SimStack final : public NetStack {
 public:
  explicit SimStack(std::shared_ptr<SimNet> net) : m_net(std::move(net)) {}

  std::shared_ptr<SocketBase> NewSocketLocked(uint32_t& error) override {
    if (m_net->tornDown) {
      error = WSAENETDOWN;
      return nullptr;
    }
    auto socket = std::make_shared<SimSocket>(m_net);
    socket->self = socket;
    return socket;
  }

  uint32_t Lookup(std::string_view host, std::vector<uint32_t>& addresses) override {
    uint32_t rc = WSAHOST_NOT_FOUND;
    uint32_t delay;
    Handle teardown;
    {
      NetGuard guard(NetLock());
      std::string name(host);
      m_net->lookups.push_back(name);
      delay = m_net->lookupDelay;
      teardown = m_net->teardown;
      auto failure = m_net->failures.find(name);
      auto entry = m_net->hosts.find(name);
      if (failure != m_net->failures.end()) {
        rc = failure->second;
      } else if (entry != m_net->hosts.end()) {
        addresses.push_back(entry->second);
        rc = 0;
      }
    }
    if (delay > 0) WaitForMultipleObjectsUntil(std::span<const Handle>(&teardown, 1), ClockDeadlineAfter(delay));
    return rc;
  }

 private:
  std::shared_ptr<SimNet> m_net;
};

bool g_installed = false;  // guarded by NetLock

uint32_t WireThread(std::shared_ptr<SimNet> net) {
  for (;;) {
    ClockTime next = kClockForever;
    {
      NetGuard guard(NetLock());
      if (net->tornDown) return 0;
      ClockTime now = ClockNow();
      std::vector<SimNet::Timer> due;
      std::vector<SimNet::Timer> later;
      for (auto& t : net->timers) (t.due <= now ? due : later).push_back(t);
      net->timers = std::move(later);
      for (auto& t : due)
        if (auto socket = t.socket.lock()) net->FinishConnectLocked(net, *socket, t.error);
      for (auto& t : net->timers) next = std::min(next, t.due);
      for (auto& c : net->conns) {
        net->ArriveLocked(*c);
        if (!c->inFlight.empty()) next = std::min(next, c->inFlight.front().due);
      }
    }
    Handle handles[2] = {net->wireWake, net->teardown};
    WaitForMultipleObjectsUntil(handles, next);
  }
}

}  // namespace
}  // namespace net_detail

using namespace net_detail;

SimNetwork::SimNetwork() : m_net(std::make_shared<SimNet>()) {
  NetGuard guard(NetLock());
  if (g_installed) {
    std::fputs("plat::SimNetwork: a simulated network is already installed\n", stderr);
    std::abort();
  }
  g_installed = true;
  InstallStackLocked(std::make_shared<SimStack>(m_net));
  auto net = m_net;
  m_net->wire = CreateThread([net]() { return WireThread(net); });
}

SimNetwork::~SimNetwork() {
  std::vector<Handle> threads;
  {
    NetGuard guard(NetLock());
    m_net->tornDown = true;
    InstallStackLocked(nullptr);
    g_installed = false;
    CloseSocketsLocked([this](SocketBase& s) {
      auto* sim = dynamic_cast<SimSocket*>(&s);
      return sim && sim->net == m_net;
    });
    SetEvent(m_net->teardown);
    for (auto& c : m_net->conns) SetEvent(c->wake);
    threads = std::move(m_net->threads);
    threads.push_back(m_net->wire);
  }
  for (Handle t : threads) {
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
  }
  NetGuard guard(NetLock());
  m_net->conns.clear();
  m_net->listeners.clear();  // scripts may hold what the test gave them
}

void SimNetwork::AddHost(std::string name, uint32_t ip) {
  NetGuard guard(NetLock());
  m_net->failures.erase(name);
  m_net->hosts[std::move(name)] = ip;
}

void SimNetwork::FailLookup(std::string name, uint32_t error) {
  NetGuard guard(NetLock());
  m_net->failures[std::move(name)] = error;
}

void SimNetwork::SetLookupDelay(uint32_t ms) {
  NetGuard guard(NetLock());
  m_net->lookupDelay = ms;
}

std::vector<std::string> SimNetwork::Lookups() const {
  NetGuard guard(NetLock());
  return m_net->lookups;
}

void SimNetwork::Listen(uint32_t ip, uint16_t port, SimPeerScript script) {
  NetGuard guard(NetLock());
  m_net->listeners[SimNet::Key(ip, port)] = std::move(script);
}

void SimNetwork::SetConnectRule(uint32_t ip, uint16_t port, SimConnectRule rule) {
  NetGuard guard(NetLock());
  m_net->rules[SimNet::Key(ip, port)] = rule;
}

void SimNetwork::SetBandwidth(uint32_t bytesPerSecond, uint32_t piece) {
  NetGuard guard(NetLock());
  m_net->bandwidth = bytesPerSecond;
  m_net->piece = piece;
}

std::vector<SimNetwork::ConnectionInfo> SimNetwork::Connections() const {
  NetGuard guard(NetLock());
  std::vector<ConnectionInfo> out;
  for (auto& c : m_net->conns) {
    ConnectionInfo info;
    info.ip = c->ip;
    info.port = c->port;
    info.fromClient = c->fromClient;
    info.toClient = c->toClient;
    info.clientClosed = c->clientGone;
    info.peerClosed = c->peerClosed;
    info.reset = c->reset;
    out.push_back(std::move(info));
  }
  return out;
}

SimPeer::SimPeer(std::shared_ptr<SimNet> net, std::shared_ptr<SimConn> conn)
    : m_net(std::move(net)), m_conn(std::move(conn)) {}

namespace {

// Waits for the script's connection event until `deadline`; false on time-out.
bool WaitPeer(SimNet& net, SimConn& c, ClockTime deadline) {
  Handle handles[2] = {c.wake, net.teardown};
  return WaitForMultipleObjectsUntil(handles, deadline) != WAIT_TIMEOUT;
}

// Takes bytes from what the client sent once `take` says how many (0: not
// yet), and lets a stalled client send go on.
template <class Take>
std::string ReadWhen(SimNet& net, SimConn& c, uint32_t timeoutMs, Take take) {
  ClockTime deadline = ClockDeadlineAfter(timeoutMs);
  for (;;) {
    {
      NetGuard guard(NetLock());
      if (size_t n = take(c.upstream)) {
        std::string out = c.upstream.substr(0, n);
        c.upstream.erase(0, n);
        if (c.client) c.client->PumpLocked();
        return out;
      }
      if (c.clientWriteDone || c.reset || net.tornDown) return {};
    }
    if (!WaitPeer(net, c, deadline)) return {};
  }
}

}  // namespace

std::string SimPeer::Read(size_t max, uint32_t timeoutMs) {
  return ReadWhen(*m_net, *m_conn, timeoutMs, [max](const std::string& buffered) {
    return std::min(max, buffered.size());
  });
}

std::string SimPeer::ReadUntil(std::string_view terminator, uint32_t timeoutMs) {
  return ReadWhen(*m_net, *m_conn, timeoutMs, [terminator](const std::string& buffered) -> size_t {
    size_t at = buffered.find(terminator);
    return at == std::string::npos ? 0 : at + terminator.size();
  });
}

std::string SimPeer::ReadExactly(size_t n, uint32_t timeoutMs) {
  return ReadWhen(*m_net, *m_conn, timeoutMs,
                  [n](const std::string& buffered) -> size_t { return buffered.size() >= n ? n : 0; });
}

std::string SimPeer::Received() const {
  NetGuard guard(NetLock());
  return m_conn->fromClient;
}

bool SimPeer::ClientDone() const {
  NetGuard guard(NetLock());
  return m_conn->clientWriteDone || m_conn->reset;
}

bool SimPeer::Write(std::string_view bytes) {
  NetGuard guard(NetLock());
  SimConn& c = *m_conn;
  if (c.reset || c.peerClosed || c.clientGone || m_net->tornDown) return false;
  if (!bytes.empty()) m_net->QueueLocked(c, bytes, false);
  return true;
}

void SimPeer::Close() {
  NetGuard guard(NetLock());
  SimConn& c = *m_conn;
  if (c.reset || c.peerClosed) return;
  c.peerClosed = true;
  if (!c.clientGone) m_net->QueueLocked(c, {}, true);
}

void SimPeer::Reset() {
  NetGuard guard(NetLock());
  SimConn& c = *m_conn;
  if (c.reset) return;
  c.reset = true;
  c.inFlight.clear();
  c.arrived.clear();
  if (c.client) c.client->PumpLocked();
}

void SimPeer::Sleep(uint32_t ms) {
  Handle teardown = m_net->teardown;
  WaitForMultipleObjectsUntil(std::span<const Handle>(&teardown, 1), ClockDeadlineAfter(ms));
}

bool SimPeer::WaitClientClosed(uint32_t timeoutMs) {
  ClockTime deadline = ClockDeadlineAfter(timeoutMs);
  for (;;) {
    {
      NetGuard guard(NetLock());
      if (m_conn->clientGone) return true;
      if (m_net->tornDown) return false;
    }
    if (!WaitPeer(*m_net, *m_conn, deadline)) return false;
  }
}

void SimPeer::SetReceiveWindow(size_t bytes) {
  NetGuard guard(NetLock());
  m_conn->window = bytes;
  if (m_conn->client) m_conn->client->PumpLocked();
}

}  // namespace plat
