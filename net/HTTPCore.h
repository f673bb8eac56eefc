// The program's HTTP engine: one worker thread owning ten connection slots
// and every socket, driven through synchronous commands from any thread.
//
// A command takes the command lock, hands its block to the worker, waits for
// the answer and returns it. The worker answers commands even while it waits
// for a network to be established, so no caller waits for the network (a
// request started then is tried once that wait is over). The worker also
// watches the Wi-Fi state, retries requests that wait for the network, drops
// every connection when the network goes, and closes connections that stay
// quiet for about two minutes.
//
// Network selection lives here too: the destination network is picked from
// the Wi-Fi state, the user's choice, the system's external path or the
// server URL, established through the connection manager, and its proxy
// learnt from the "proxy" setting or from the connection manager.
//
// Lock order: command lock, then the slot-table lock, then a slot's connect
// lock. The network lock is taken by the worker; callers on other threads
// only read a snapshot of the network state.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "framework/Events.h"
#include "framework/wrappers.h"
#include "net/HTTPEntry.h"
#include "net/HTTPSink.h"
#include "platform/kernel/Kernel.h"
#include "platform/phone/ConnMgr.h"

// {connection id, event code}, fired on the UI thread by the default
// listener's posted messages.
struct THTTPForwarded {
  int32_t nId = 0;
  int32_t nCode = 0;
};
struct HTTPForwardedEvent {
  using TPayload = THTTPForwarded;
};

// The default listener of every slot: posts each event to the application's
// queue, where it fires HTTPForwardedEvent.
class CHTTPEventForwarder : public CHTTPListener {
 public:
  void OnHTTPEvent(int32_t id, int32_t code) override;
  static CHTTPEventForwarder* Instance();
};

enum HTTPCoreCommand : int32_t {
  ECmdOpen = 0,
  ECmdSetHeader = 2,
  ECmdSetBodySink = 3,
  ECmdSetListener = 4,
  ECmdStart = 5,
  ECmdSetContentLength = 6,
  ECmdSendData = 7,
  ECmdGetStatusCode = 8,
  ECmdGetHeader = 9,
  ECmdGetBodyLength = 10,
  ECmdIsProxied = 11,
  ECmdAcceptGzip = 12,
  ECmdClose = 13,
  ECmdShutdown = 14,
};

// The worker's periods. The defaults are the program's; tests on the real
// clock shorten them.
struct THTTPCoreTimings {
  uint32_t nRetryMs = 1000;       // between tries of a request waiting for the network
  uint32_t nIdleMs = 5000;        // one quiet period
  int32_t nIdleLimit = 24;        // quiet periods passed before idle connections are dropped
  uint32_t nEstablishMs = 60000;  // a network establishment's wait, renewed at each status change
};

class CHTTPCore {
 public:
  static constexpr int kSlotCount = 10;

  explicit CHTTPCore(THTTPCoreTimings timings = {});
  ~CHTTPCore();
  CHTTPCore(const CHTTPCore&) = delete;
  CHTTPCore& operator=(const CHTTPCore&) = delete;

  // Starts the worker and waits until it runs.
  bool StartThread();

  // Commands. An unknown id gives -1. Called from the worker thread itself
  // (a listener), every command is refused with -1.
  int32_t Open(int32_t method, plat::WStringView url);
  int32_t SetHeader(int32_t id, plat::WStringView name, plat::WStringView value);
  // The slot's previous sink is deleted when the slot owns it.
  int32_t SetBodySink(int32_t id, CHTTPSink* pSink);
  int32_t SetListener(int32_t id, CHTTPListener* pListener);
  // Returns at once; the request then waits for the network in the worker.
  int32_t Start(int32_t id);
  int32_t SetContentLength(int32_t id, int32_t length);
  int32_t SendData(int32_t id, const char* pData, int32_t length);
  int32_t GetStatusCode(int32_t id);
  int32_t GetHeader(int32_t id, plat::WStringView name, plat::WString& value);
  int32_t GetBodyLength(int32_t id);
  int32_t IsProxied(int32_t id);
  int32_t AcceptGzip(int32_t id);
  // Hands the body sink to *ppSink when given; without it a sink the slot
  // owns is deleted and any other left to its owner.
  int32_t Close(int32_t id, CHTTPSink** ppSink = nullptr);
  int32_t Shutdown();

  // Network selection and state.
  bool IsNetworkConnected(bool bLock);
  // Releases the connection; during an establishment it cuts that short
  // instead of waiting for it.
  void ReleaseNetwork();
  // True when the network is not up (or is being established) or a proxy is
  // in use: a body must then be counted, not streamed. Never blocks.
  bool IsProxiedOrOffline();
  bool SelectDestinationNetwork(plat::Guid* pGuid);
  bool EstablishNetwork(plat::Handle hCancel, bool* pbCancelled);
  void SetProxy(plat::WStringView text);
  // The proxy in use (empty host: none), read under the network lock.
  void GetProxy(plat::WString& host, uint16_t& port);

  const THTTPCoreTimings& Timings() const { return m_timings; }

  // Test hooks: signal a slot's slot event or send event from outside, as a
  // socket event arriving in a state that expects none would.
  bool SignalSlotForTests(int32_t id, bool bSendEvent);

 private:
  struct TCommand {
    TCommand(int32_t code, int32_t id) : nCode(code), nId(id) {}
    int32_t nCode = 0;
    int32_t nId = 0;
    int32_t nArg = 0;
    plat::WStringView text1;
    plat::WStringView text2;
    plat::WString* pOutText = nullptr;
    const char* pData = nullptr;
    CHTTPSink* pSink = nullptr;
    CHTTPListener* pListener = nullptr;
    int32_t nResult = 0;
  };

  int32_t Execute(TCommand& command);
  // A command that carries nothing but the slot id.
  int32_t ExecuteFor(int32_t code, int32_t id);
  uint32_t WorkerMain();
  void RunCommand();
  CHTTPEntry* FindSlot(int32_t id);
  void RetryWaitingSlot();
  void DropAll(bool bNetworkUp);
  bool AnySlotInUse();
  void ReleaseNetworkLocked();
  uint32_t WaitForConnection(const plat::ConnRequest& request, uint32_t timeoutMs, uint32_t* pStatus,
                             plat::Handle hCancel, bool* pbCancelled);
  void PublishNetworkState();

  THTTPCoreTimings m_timings;

  // Command interface.
  plat::CriticalSection m_commandSection;
  CCriticalSectionLock m_commandLock{&m_commandSection};
  TCommand* m_pCommand = nullptr;
  plat::Handle m_hCommandEvent = nullptr;
  plat::Handle m_hDoneEvent = nullptr;
  plat::Handle m_hThread = nullptr;
  std::atomic<uint32_t> m_nWorkerThreadId{0};
  std::atomic<bool> m_bStopped{false};
  bool m_bQuit = false;
  // The worker is serving a command from inside a network establishment.
  bool m_bServingDuringEstablishment = false;
  bool m_bWsaStarted = false;

  // Slot table.
  plat::CriticalSection m_slotSection;
  CCriticalSectionLock m_slotLock{&m_slotSection};
  std::array<CHTTPEntry, kSlotCount> m_slots;
  int32_t m_nLastId = 0;
  int m_nStartIndex = 0;
  int32_t m_nIdle = 0;
  bool m_bReleasePending = false;
  uint32_t m_nWifi = 0;
  uint32_t m_nSlideState = 0;

  // Network.
  plat::CriticalSection m_networkSection;
  CCriticalSectionLock m_networkLock{&m_networkSection};
  plat::Handle m_hConnection = nullptr;
  plat::WString m_proxyHost;
  uint16_t m_nProxyPort = 80;
  plat::Handle m_hReleaseEvent = nullptr;
  std::atomic<bool> m_bEstablishing{false};
  // What IsProxiedOrOffline reads: the connection (whose status it asks the
  // connection manager for) and whether a proxy is in use.
  std::atomic<plat::Handle> m_hSnapshotConnection{nullptr};
  std::atomic<bool> m_bSnapshotProxied{false};
};
