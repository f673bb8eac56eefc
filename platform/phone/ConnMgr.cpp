#include "platform/phone/ConnMgr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/base/Errors.h"
#include "platform/kernel/Clock.h"
#include "platform/registry/Registry.h"
#include "platform/url/Url.h"

namespace plat {

const Guid IID_DestNetInternet = {0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};
const Guid IID_DestNetCorp = {0xA1182988, 0x0D73, 0x439E, {0x87, 0xAD, 0x2A, 0x5B, 0x36, 0x9F, 0x80, 0x8B}};
const Guid IID_DestNetWAP = {0x7022E968, 0x5A97, 0x4051, {0xBC, 0x1C, 0xC5, 0x78, 0xE2, 0xFB, 0xA5, 0xD9}};
const Guid IID_DestNetSecureWAP = {0xF28D1F74, 0x72BE, 0x4394, {0xA4, 0xA7, 0x4E, 0x29, 0x62, 0x19, 0x39, 0x0C}};
const Guid IID_ConnPrv_IProxyExtension = {0xAF96B0BD, 0xA481, 0x482C, {0xA0, 0x94, 0xA8, 0x44, 0x87, 0x67, 0xA0, 0xC0}};

std::array<uint8_t, 16> Guid::Bytes() const {
  std::array<uint8_t, 16> b{};
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[4 + i] = static_cast<uint8_t>(data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[6 + i] = static_cast<uint8_t>(data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) b[8 + i] = data4[i];
  return b;
}

Guid Guid::FromBytes(std::span<const uint8_t, 16> b) {
  Guid g;
  for (int i = 0; i < 4; ++i) g.data1 |= uint32_t{b[i]} << (8 * i);
  for (int i = 0; i < 2; ++i) g.data2 = static_cast<uint16_t>(g.data2 | (b[4 + i] << (8 * i)));
  for (int i = 0; i < 2; ++i) g.data3 = static_cast<uint16_t>(g.data3 | (b[6 + i] << (8 * i)));
  for (int i = 0; i < 8; ++i) g.data4[i] = b[8 + i];
  return g;
}

using Destination = SimConnMgr::Destination;
using CallKind = SimConnMgr::CallKind;
using Outcome = SimConnMgr::Destination::Outcome;

namespace {

// The simulation was told that no destination serves the URL.
constexpr uint32_t kErrorNotFound = 1168;

struct Connection {
  Guid destination;
  Handle event = nullptr;
  uint32_t status = CONNMGR_STATUS_UNKNOWN;
  std::shared_ptr<SimConnMgr::State> sim;  // null: the host's
  Destination behaviour;
  ClockTime due = kClockForever;  // when a waiting connection's outcome comes
  bool awaitingNetwork = false;   // waits for the network to come back first
};

}  // namespace

struct SimConnMgr::State {
  std::map<std::array<uint8_t, 16>, Destination> destinations;
  Destination fallback;
  std::map<std::array<uint8_t, 16>, bool> dropUsed;
  std::optional<Guid> mapResult = IID_DestNetInternet;
  bool down = false;
  ClockTime downUntil = kClockForever;  // scheduled return; forever = by hand
  struct Drop {
    ClockTime due;
    uint32_t downMs;
  };
  std::vector<Drop> drops;
  std::vector<Call> calls;
  Handle wake = CreateEvent(false, false);
  Handle quit = CreateEvent(true, false);
  Handle thread = nullptr;

  ~State() {
    CloseHandle(wake);
    CloseHandle(quit);
  }
  const Destination& For(const Guid& g) const {
    auto it = destinations.find(g.Bytes());
    return it == destinations.end() ? fallback : it->second;
  }
};

namespace {

using State = SimConnMgr::State;

std::mutex& Lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

struct Globals {
  std::map<Handle, Connection> connections;
  std::shared_ptr<State> sim;
};

Globals& G() {
  static Globals* globals = new Globals;
  return *globals;
}

void SetStatusLocked(Connection& c, uint32_t status) {
  c.status = status;
  SetEvent(c.event);
}

// A waiting connection's outcome has come.
void OutcomeLocked(State& s, Connection& c, ClockTime now) {
  c.due = kClockForever;
  if (c.behaviour.outcome == Outcome::Fail) {
    SetStatusLocked(c, CONNMGR_STATUS_CONNECTIONFAILED);
    return;
  }
  if (s.down) {
    c.awaitingNetwork = true;
    return;
  }
  SetStatusLocked(c, CONNMGR_STATUS_CONNECTED);
  // A scripted drop happens once per destination setting.
  auto key = c.destination.Bytes();
  if (c.behaviour.dropAfterMs && !s.dropUsed[key]) {
    s.dropUsed[key] = true;
    s.drops.push_back({now + static_cast<ClockTime>(*c.behaviour.dropAfterMs) * kClockNsPerMs, c.behaviour.downMs});
  }
}

// Starts the wait for an outcome from `now`.
void BeginLocked(State& s, Connection& c, ClockTime now) {
  c.awaitingNetwork = false;
  if (c.behaviour.outcome == Outcome::Never) return;
  if (c.behaviour.delayMs == 0) {
    OutcomeLocked(s, c, now);
    return;
  }
  c.due = now + static_cast<ClockTime>(c.behaviour.delayMs) * kClockNsPerMs;
}

void GoDownLocked(State& s, ClockTime until) {
  s.down = true;
  s.downUntil = until;
  for (auto& [h, c] : G().connections)
    if (c.sim.get() == &s && c.status == CONNMGR_STATUS_CONNECTED) SetStatusLocked(c, CONNMGR_STATUS_DISCONNECTED);
}

void ComeBackLocked(State& s, ClockTime now) {
  s.down = false;
  s.downUntil = kClockForever;
  for (auto& [h, c] : G().connections) {
    if (c.sim.get() != &s) continue;
    if (c.status == CONNMGR_STATUS_DISCONNECTED) SetStatusLocked(c, CONNMGR_STATUS_CONNECTED);
    else if (c.awaitingNetwork) BeginLocked(s, c, now);
  }
}

// Everything due by `now`, in time order; returns the next deadline.
ClockTime ApplyLocked(State& s, ClockTime now) {
  for (;;) {
    ClockTime first = kClockForever;
    if (s.down) first = std::min(first, s.downUntil);
    for (const auto& d : s.drops) first = std::min(first, d.due);
    for (auto& [h, c] : G().connections)
      if (c.sim.get() == &s && !c.awaitingNetwork) first = std::min(first, c.due);
    if (first > now) return first;
    if (s.down && s.downUntil == first) {
      ComeBackLocked(s, first);
      continue;
    }
    auto drop = std::find_if(s.drops.begin(), s.drops.end(), [first](const auto& d) { return d.due == first; });
    if (drop != s.drops.end()) {
      ClockTime until = first + static_cast<ClockTime>(drop->downMs) * kClockNsPerMs;
      s.drops.erase(drop);
      GoDownLocked(s, until);
      continue;
    }
    for (auto& [h, c] : G().connections) {
      if (c.sim.get() == &s && !c.awaitingNetwork && c.due == first) {
        OutcomeLocked(s, c, first);
        break;
      }
    }
  }
}

uint32_t SimThread(std::shared_ptr<State> s) {
  for (;;) {
    ClockTime next;
    {
      std::lock_guard<std::mutex> guard(Lock());
      if (WaitForSingleObject(s->quit, 0) == WAIT_OBJECT_0) return 0;
      next = ApplyLocked(*s, ClockNow());
    }
    Handle handles[2] = {s->wake, s->quit};
    WaitForMultipleObjectsUntil(handles, next);
  }
}

SimConnMgr::Call MakeCall(CallKind kind, const Guid& destination) {
  SimConnMgr::Call call;
  call.kind = kind;
  call.destination = destination;
  return call;
}

Connection* FindLocked(Handle h) {
  auto it = G().connections.find(h);
  return it == G().connections.end() ? nullptr : &it->second;
}

}  // namespace

Handle ConnMgrEstablish(const ConnRequest& request) {
  Handle event = CreateEvent(false, false);
  if (!event) return nullptr;
  std::lock_guard<std::mutex> guard(Lock());
  Connection c;
  c.destination = request.destination;
  c.event = event;
  c.sim = G().sim;
  if (c.sim) {
    State& s = *c.sim;
    SimConnMgr::Call call = MakeCall(CallKind::Establish, request.destination);
    call.flags = request.flags;
    call.priority = request.priority;
    call.maxLatencyMs = request.maxLatencyMs;
    s.calls.push_back(call);
    c.behaviour = s.For(request.destination);
    c.status = CONNMGR_STATUS_WAITINGCONNECTION;
    if (s.down) c.awaitingNetwork = true;
  } else {
    c.status = CONNMGR_STATUS_CONNECTED;
  }
  Connection& stored = G().connections[event] = std::move(c);
  if (stored.sim) {
    if (!stored.awaitingNetwork) BeginLocked(*stored.sim, stored, ClockNow());
    SetEvent(stored.sim->wake);
  }
  // Establishment itself is a status change the caller may wait for.
  SetEvent(event);
  return event;
}

uint32_t ConnMgrStatus(Handle connection) {
  std::lock_guard<std::mutex> guard(Lock());
  Connection* c = FindLocked(connection);
  if (!c) {
    SetLastError(ERROR_INVALID_HANDLE);
    return CONNMGR_STATUS_UNKNOWN;
  }
  if (c->sim) {
    SimConnMgr::Call call = MakeCall(CallKind::Status, c->destination);
    call.result = c->status;
    c->sim->calls.push_back(call);
  }
  return c->status;
}

void ConnMgrRelease(Handle connection, bool cache) {
  std::lock_guard<std::mutex> guard(Lock());
  Connection* c = FindLocked(connection);
  if (!c) return;
  if (c->sim) {
    SimConnMgr::Call call = MakeCall(CallKind::Release, c->destination);
    call.cache = cache;
    c->sim->calls.push_back(call);
  }
  CloseHandle(c->event);
  G().connections.erase(connection);
}

std::optional<WString> ConnMgrProxy(Handle connection) {
  {
    std::lock_guard<std::mutex> guard(Lock());
    Connection* c = FindLocked(connection);
    if (!c || c->status != CONNMGR_STATUS_CONNECTED) return std::nullopt;
    if (c->sim) {
      SimConnMgr::Call call = MakeCall(CallKind::Proxy, c->destination);
      call.result = c->behaviour.proxy ? 1 : 0;
      c->sim->calls.push_back(call);
      return c->behaviour.proxy;
    }
  }
  // The host backend: only the platform's own setting names a proxy.
  WString proxy = ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Proxy").value_or(WString());
  if (proxy.empty()) return std::nullopt;
  return proxy;
}

bool ConnMgrMapUrl(WStringView url, Guid* out) {
  UrlParts parts;
  bool cracked = CrackUrl(url, parts);
  std::lock_guard<std::mutex> guard(Lock());
  std::optional<Guid> result;
  if (cracked) result = G().sim ? G().sim->mapResult : std::optional<Guid>(IID_DestNetInternet);
  if (G().sim) {
    SimConnMgr::Call call = MakeCall(CallKind::MapUrl, Guid{});
    call.url = WString(url);
    call.result = result ? 1 : 0;
    if (result) call.destination = *result;
    G().sim->calls.push_back(call);
  }
  if (!result) {
    if (cracked) SetLastError(kErrorNotFound);
    return false;
  }
  if (out) *out = *result;
  return true;
}

SimConnMgr::SimConnMgr() : m_state(std::make_shared<State>()) {
  {
    std::lock_guard<std::mutex> guard(Lock());
    if (G().sim) {
      std::fputs("plat::SimConnMgr: a simulated connection manager is already installed\n", stderr);
      std::abort();
    }
    G().sim = m_state;
  }
  auto state = m_state;
  m_state->thread = CreateThread([state] { return SimThread(state); });
}

SimConnMgr::~SimConnMgr() {
  SetEvent(m_state->quit);
  WaitForSingleObject(m_state->thread, INFINITE);
  CloseHandle(m_state->thread);
  std::lock_guard<std::mutex> guard(Lock());
  G().sim.reset();
  for (auto& [h, c] : G().connections) {
    if (c.sim != m_state) continue;
    if (c.status != CONNMGR_STATUS_DISCONNECTED) SetStatusLocked(c, CONNMGR_STATUS_DISCONNECTED);
    c.sim.reset();
    c.due = kClockForever;
    c.awaitingNetwork = false;
    c.behaviour = Destination{};
  }
}

void SimConnMgr::SetDestination(const Guid& destination, Destination behaviour) {
  std::lock_guard<std::mutex> guard(Lock());
  m_state->destinations[destination.Bytes()] = std::move(behaviour);
  m_state->dropUsed.erase(destination.Bytes());
}

void SimConnMgr::SetDefault(Destination behaviour) {
  std::lock_guard<std::mutex> guard(Lock());
  m_state->fallback = std::move(behaviour);
}

void SimConnMgr::SetMapUrlResult(std::optional<Guid> destination) {
  std::lock_guard<std::mutex> guard(Lock());
  m_state->mapResult = destination;
}

void SimConnMgr::DropNetwork() {
  std::lock_guard<std::mutex> guard(Lock());
  GoDownLocked(*m_state, kClockForever);
  SetEvent(m_state->wake);
}

void SimConnMgr::RestoreNetwork() {
  std::lock_guard<std::mutex> guard(Lock());
  if (m_state->down) ComeBackLocked(*m_state, ClockNow());
  SetEvent(m_state->wake);
}

void SimConnMgr::SetWifi(uint32_t bits) {
  WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", bits);
}

std::vector<SimConnMgr::Call> SimConnMgr::Calls() const {
  std::lock_guard<std::mutex> guard(Lock());
  return m_state->calls;
}

size_t SimConnMgr::OpenConnections() const {
  std::lock_guard<std::mutex> guard(Lock());
  return static_cast<size_t>(std::count_if(G().connections.begin(), G().connections.end(),
                                           [this](const auto& e) { return e.second.sim == m_state; }));
}

}  // namespace plat
