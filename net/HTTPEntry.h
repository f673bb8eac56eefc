// One connection slot of the HTTP core: one HTTP/1.1 exchange over an
// overlapped socket, from the network wait and the host lookup through the
// request head and body to the parsed response. The core's worker drives it
// whenever one of its two events is signalled; the slot tells its listener
// how far it got with the codes of HTTPCoreEvent.
//
// Everything here runs on the worker thread except SignalClose, which a
// closing caller runs on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/wrappers.h"
#include "net/DNSResolver.h"
#include "net/HTTPParser.h"
#include "net/HTTPSink.h"
#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"

class CHTTPCore;

class CHTTPListener {
 public:
  virtual ~CHTTPListener() = default;
  // Runs on the worker thread. It must not issue core commands (they are
  // refused there) and must not wait for anything a command caller holds.
  virtual void OnHTTPEvent(int32_t id, int32_t code) = 0;
};

// Slot states.
enum : int32_t { EStateIdle = 0, EStateResolving = 1, EStateConnecting = 2, EStateSending = 3, EStateReceiving = 4 };
// Connect states, under the connect lock.
enum : int32_t { EConnectNone = 0, EConnectInProgress = 1, EConnectAbort = 2 };

class CHTTPEntry {
 public:
  static constexpr size_t kReceiveSize = 8192;

  CHTTPEntry() = default;
  ~CHTTPEntry();
  CHTTPEntry(const CHTTPEntry&) = delete;
  CHTTPEntry& operator=(const CHTTPEntry&) = delete;

  void Init(CHTTPCore* pCore, int32_t id, int32_t method, plat::WStringView host, plat::WStringView target,
            uint16_t port);
  // 0 with the lookup queued, 1 while the network is not there (the worker
  // retries).
  int32_t StartRequest();
  // Leaves the request to the worker's next network retry.
  void WaitForNetwork() { m_bNetworkWaiting = true; }
  void OnSlotEvent();
  void OnSendEvent();
  // One piece of the request body; 0, or -1 (with report 20) when it cannot
  // be sent now.
  int32_t SendData(const char* pData, int32_t length);
  int32_t GetHeader(plat::WStringView name, plat::WString& value) const;
  void SetHeader(plat::WStringView name, plat::WStringView value) { m_headers[plat::WString(name)] = value; }
  void SetBodySink(CHTTPSink* pSink);
  void SetListener(CHTTPListener* pListener);
  void SetContentLength(int32_t length) { m_nContentLength = length; }
  void AcceptGzip();
  // Closes everything and hands back the body sink, detached.
  CHTTPSink* Reset();
  void DropConnection(bool bNetworkUp);
  void ReportError(int32_t code);

  // The closing caller's part, on its own thread: ends a network wait in
  // progress and turns a connect in progress into an abort. It never closes
  // the socket; the worker does that in Reset.
  void SignalClose();

  int32_t Id() const { return m_nId; }
  bool InUse() const { return m_bInUse; }
  int32_t State() const { return m_nState; }
  int32_t Phase() const { return m_parser.Phase(); }
  int32_t StatusCode() const { return m_parser.Status(); }
  bool IsNetworkWaiting() const { return m_bNetworkWaiting; }
  bool IsProxied() const { return !m_proxyHost.empty(); }
  bool HasSocket() const { return m_socket != plat::INVALID_SOCKET; }
  int32_t BodyLength() const { return m_pSink ? m_pSink->GetLength() : 0; }
  plat::Handle SlotEvent() const { return m_hSlotEvent; }
  plat::Handle SendEvent() const { return m_hSendEvent; }
  plat::Handle CancelEvent() const { return m_hCancelEvent; }

  // Runs right after WSAConnect, before the abort is checked: lets a test
  // close the request at the one moment a connect abort can be seen.
  static void SetConnectHookForTests(std::function<void(CHTTPEntry&)> hook);

 private:
  void Connect();
  void BuildRequest();
  void OnReceive();
  void OnSendComplete();
  // Starts the next receive; false after reporting a failure.
  bool PostReceive();
  void CloseSocket();
  void CloseEvents();

  CHTTPCore* m_pCore = nullptr;
  int32_t m_nId = -1;
  bool m_bInUse = false;
  plat::WString m_host;
  plat::WString m_path;  // the request target
  uint16_t m_nPort = 80;
  int32_t m_nMethod = EHttpGet;
  int32_t m_nState = EStateIdle;

  plat::Handle m_hSlotEvent = nullptr;
  plat::Handle m_hSendEvent = nullptr;
  plat::Handle m_hCancelEvent = nullptr;
  plat::Socket m_socket = plat::INVALID_SOCKET;

  plat::CriticalSection m_connectSection;
  CCriticalSectionLock m_connectLock{&m_connectSection};
  int32_t m_nConnectState = EConnectNone;

  THTTPHeaderMap m_headers;
  plat::Overlapped m_sendOverlapped;
  plat::Overlapped m_recvOverlapped;
  bool m_bSendPending = false;
  char m_receive[kReceiveSize];
  CHTTPResponseParser m_parser;

  CHTTPListener* m_pListener = nullptr;
  CHTTPSink* m_pSink = nullptr;
  int32_t m_nContentLength = -1;
  bool m_bAllSent = false;

  bool m_bNetworkWaiting = false;
  plat::WString m_proxyHost;
  uint16_t m_nProxyPort = 80;
  std::shared_ptr<TDNSLookup> m_pLookup;
};
