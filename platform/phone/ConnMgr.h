// The connection manager: data connections to a destination network, their
// status, the proxy they use, and which network serves a URL.
//
// A connection is a handle that can be waited on with the kernel's waits
// together with any other handle: auto-reset, signalled at establishment and
// on every later status change.
//
// Two backends stand behind the calls:
//   - the host (default): the machine is online, so every connection is
//     connected at once; it has a proxy only when HKLM "Platform\Linux"
//     "Proxy" (REG_SZ "host:port") names one; any URL that cracks maps to the
//     Internet destination.
//   - SimConnMgr (tests): per destination, a delay to connected or failed, a
//     connection that never comes, drops and returns, a proxy text; the URL
//     mapping result; the "Wifi" value; and a log of every call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

namespace plat {

// A GUID as the device keeps it in memory: three little-endian integer
// fields and eight bytes. Stored, compared and traced in that byte order.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  // The 16 bytes in memory order.
  std::array<uint8_t, 16> Bytes() const;
  static Guid FromBytes(std::span<const uint8_t, 16> bytes);
  friend bool operator==(const Guid& a, const Guid& b) { return a.Bytes() == b.Bytes(); }
};

// Destination networks and the proxy extension.
extern const Guid IID_DestNetInternet;    // {436EF144-B4FB-4863-A041-8F905A62C572}
extern const Guid IID_DestNetCorp;        // {A1182988-0D73-439E-87AD-2A5B369F808B}
extern const Guid IID_DestNetWAP;         // {7022E968-5A97-4051-BC1C-C578E2FBA5D9}
extern const Guid IID_DestNetSecureWAP;   // {F28D1F74-72BE-4394-A4A7-4E296219390C}
extern const Guid IID_ConnPrv_IProxyExtension;  // {AF96B0BD-A481-482C-A094-A8448767A0C0}

constexpr uint32_t CONNMGR_STATUS_UNKNOWN = 0x00;
constexpr uint32_t CONNMGR_STATUS_CONNECTED = 0x10;
constexpr uint32_t CONNMGR_STATUS_DISCONNECTED = 0x20;
constexpr uint32_t CONNMGR_STATUS_CONNECTIONFAILED = 0x21;
constexpr uint32_t CONNMGR_STATUS_WAITINGCONNECTION = 0x40;

constexpr uint32_t CONNMGR_FLAG_PROXY_HTTP = 0x1;
constexpr uint32_t CONNMGR_FLAG_PROXY_WAP = 0x2;
constexpr uint32_t CONNMGR_PRIORITY_USERINTERACTIVE = 0x8000;

struct ConnRequest {
  Guid destination;
  uint32_t flags = 0;
  uint32_t priority = CONNMGR_PRIORITY_USERINTERACTIVE;
  uint32_t maxLatencyMs = 0;
  bool exclusive = false;
  bool disabled = false;
};

// Null (with the last error) only when the handle could not be made.
Handle ConnMgrEstablish(const ConnRequest& request);
// CONNMGR_STATUS_UNKNOWN with ERROR_INVALID_HANDLE for a handle that is not
// a live connection (never made, or released).
uint32_t ConnMgrStatus(Handle connection);
// Ends the connection and closes its handle; `cache` is recorded only.
void ConnMgrRelease(Handle connection, bool cache);
// The proxy of a connected connection as "host:port"; nothing when it has
// none or is not connected.
std::optional<WString> ConnMgrProxy(Handle connection);
// The destination that serves `url`. False for a URL that does not crack
// (the empty string included), or when the simulation says so.
bool ConnMgrMapUrl(WStringView url, Guid* out);

// The simulated backend. Installing it (constructing) makes every later call
// go to it; its destructor puts the host back and disconnects what it still
// holds (their handles stay valid until released, reading DISCONNECTED).
// Times are on the platform clock, so under the virtual clock scripted delays
// cost no real time. One at a time.
class SimConnMgr {
 public:
  struct Destination {
    // Time from establishment (or from the network's return) to the outcome.
    uint32_t delayMs = 0;
    enum class Outcome { Connect, Fail, Never } outcome = Outcome::Connect;
    // The connection drops this long after it first connected (status
    // DISCONNECTED, signalled), and the network comes back `downMs` later:
    // then every connection that was dropped and not released connects again
    // (signalled). While it is down, a new establishment waits.
    std::optional<uint32_t> dropAfterMs;
    uint32_t downMs = 0;
    std::optional<WString> proxy;  // "host:port"
  };

  enum class CallKind { Establish, Status, Release, Proxy, MapUrl };
  struct Call {
    CallKind kind = CallKind::Establish;
    Guid destination;        // Establish: the request's; others: the connection's
    uint32_t flags = 0;      // Establish
    uint32_t priority = 0;   // Establish
    uint32_t maxLatencyMs = 0;
    bool cache = false;      // Release
    uint32_t result = 0;     // Status: the status; Proxy/MapUrl: 1 = answered
    WString url;             // MapUrl
  };

  SimConnMgr();
  ~SimConnMgr();
  SimConnMgr(const SimConnMgr&) = delete;
  SimConnMgr& operator=(const SimConnMgr&) = delete;

  // The behaviour for one destination, and for every destination not set.
  void SetDestination(const Guid& destination, Destination behaviour);
  void SetDefault(Destination behaviour);
  // What ConnMgrMapUrl answers for a URL that cracks (nothing = it fails).
  void SetMapUrlResult(std::optional<Guid> destination);

  // Drop and restore the network by hand, at once (every destination).
  void DropNetwork();
  void RestoreNetwork();

  // Writes HKLM "System\State\Hardware" "Wifi" (which fires its change
  // notification).
  static void SetWifi(uint32_t bits);

  std::vector<Call> Calls() const;
  // Connections established and not yet released.
  size_t OpenConnections() const;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace plat
