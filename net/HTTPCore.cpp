#include "net/HTTPCore.h"

#include <optional>
#include <vector>

#include "framework/AppRegistry.h"
#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"
#include "platform/url/Url.h"

namespace {

constexpr char16_t kHardwareKey[] = u"System\\State\\Hardware";
constexpr char16_t kSlideKey[] = u"\\ControlPanel\\MotionSensor";
constexpr char16_t kInternetSettingsKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr uint32_t kWifiConnected = 0x10;

uint32_t ReadHardwareDword(plat::HKEY root, plat::WStringView key, plat::WStringView name) {
  return plat::ReadDword(root, key, name).value_or(0);
}

// A change notification on a key, or one that never fires when the key is
// not there.
plat::Handle WatchKey(plat::HKEY root, plat::WStringView key, plat::HKEY* pKey) {
  *pKey = nullptr;
  if (plat::RegOpenKeyEx(root, key, plat::KEY_READ, pKey) == 0) {
    plat::Handle h = plat::CeFindFirstRegChange(*pKey, false, plat::REG_NOTIFY_CHANGE_LAST_SET);
    if (h != plat::INVALID_HANDLE_VALUE) return h;
    plat::RegCloseKey(*pKey);
    *pKey = nullptr;
  }
  return plat::CreateStandInRegChange();
}

}  // namespace

// ---------------------------------------------------------------------------
// CHTTPEventForwarder

void CHTTPEventForwarder::OnHTTPEvent(int32_t id, int32_t code) {
  auto* pMessage = CEventFireMessage<HTTPForwardedEvent>::New();
  pMessage->Payload() = {id, code};
  pMessage->Post();  // refused (and deleted) when no application runs
}

CHTTPEventForwarder* CHTTPEventForwarder::Instance() {
  static CHTTPEventForwarder s_forwarder;
  return &s_forwarder;
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

CHTTPCore::CHTTPCore(THTTPCoreTimings timings) : m_timings(timings) {}

CHTTPCore::~CHTTPCore() {
  Shutdown();
  {
    TScopedLock lock(m_networkLock);
    ReleaseNetworkLocked();
  }
  for (CHTTPEntry& slot : m_slots) DisposeOwnedSink(slot.Reset());
  if (m_hReleaseEvent) plat::CloseHandle(m_hReleaseEvent);
  if (m_bWsaStarted) plat::WSACleanup();
}

bool CHTTPCore::StartThread() {
  if (m_hThread) return true;
  plat::WsaData data;
  m_bWsaStarted = plat::WSAStartup(0x0202, &data) == 0;
  m_hCommandEvent = plat::CreateEvent(false, false);
  m_hDoneEvent = plat::CreateEvent(false, false);
  m_hReleaseEvent = plat::CreateEvent(false, false);
  if (!m_hCommandEvent || !m_hDoneEvent || !m_hReleaseEvent) return false;
  uint32_t threadId = 0;
  m_hThread = plat::CreateThread([this] { return WorkerMain(); }, &threadId);
  if (!m_hThread) return false;
  m_nWorkerThreadId.store(threadId);
  plat::WaitForSingleObject(m_hDoneEvent, plat::INFINITE);
  return true;
}

int32_t CHTTPCore::Shutdown() {
  if (!m_hThread) return 0;
  if (plat::GetCurrentThreadId() == m_nWorkerThreadId.load()) {
    DebugTrace(u"[QUOREL] CHTTPCore: command %d refused on the worker thread\n", ECmdShutdown);
    return -1;
  }
  // A network wait in progress would keep the worker from seeing the command
  // for up to a minute; end it first.
  {
    TScopedLock lock(m_slotLock);
    for (CHTTPEntry& slot : m_slots)
      if (slot.CancelEvent()) plat::SetEvent(slot.CancelEvent());
  }
  ExecuteFor(ECmdShutdown, 0);
  m_bStopped = true;
  plat::WaitForSingleObject(m_hThread, plat::INFINITE);
  plat::CloseHandle(m_hThread);
  m_hThread = nullptr;
  plat::CloseHandle(m_hCommandEvent);
  plat::CloseHandle(m_hDoneEvent);
  m_hCommandEvent = m_hDoneEvent = nullptr;
  return 0;
}

// ---------------------------------------------------------------------------
// Commands (caller side)

int32_t CHTTPCore::Execute(TCommand& command) {
  if (m_bStopped || !m_hThread) return -1;
  if (plat::GetCurrentThreadId() == m_nWorkerThreadId.load()) {
    // The worker would wait for itself.
    DebugTrace(u"[QUOREL] CHTTPCore: command %d refused on the worker thread\n", command.nCode);
    return -1;
  }
  TScopedLock lock(m_commandLock);
  if (m_bStopped) return -1;
  if (command.nCode == ECmdClose) {
    TScopedLock slotLock(m_slotLock);
    if (CHTTPEntry* pSlot = FindSlot(command.nId)) pSlot->SignalClose();
  }
  m_pCommand = &command;
  plat::SetEvent(m_hCommandEvent);
  plat::WaitForSingleObject(m_hDoneEvent, plat::INFINITE);
  m_pCommand = nullptr;
  return command.nResult;
}

int32_t CHTTPCore::ExecuteFor(int32_t code, int32_t id) {
  TCommand c(code, id);
  return Execute(c);
}

int32_t CHTTPCore::Open(int32_t method, plat::WStringView url) {
  TCommand c(ECmdOpen, 0);
  c.nArg = method;
  c.text1 = url;
  return Execute(c);
}

int32_t CHTTPCore::SetHeader(int32_t id, plat::WStringView name, plat::WStringView value) {
  TCommand c(ECmdSetHeader, id);
  c.text1 = name;
  c.text2 = value;
  return Execute(c);
}

int32_t CHTTPCore::SetBodySink(int32_t id, CHTTPSink* pSink) {
  TCommand c(ECmdSetBodySink, id);
  c.pSink = pSink;
  return Execute(c);
}

int32_t CHTTPCore::SetListener(int32_t id, CHTTPListener* pListener) {
  TCommand c(ECmdSetListener, id);
  c.pListener = pListener;
  return Execute(c);
}

int32_t CHTTPCore::Start(int32_t id) {
  return ExecuteFor(ECmdStart, id);
}

int32_t CHTTPCore::SetContentLength(int32_t id, int32_t length) {
  TCommand c(ECmdSetContentLength, id);
  c.nArg = length;
  return Execute(c);
}

int32_t CHTTPCore::SendData(int32_t id, const char* pData, int32_t length) {
  TCommand c(ECmdSendData, id);
  c.pData = pData;
  c.nArg = length;
  return Execute(c);
}

int32_t CHTTPCore::GetStatusCode(int32_t id) {
  return ExecuteFor(ECmdGetStatusCode, id);
}

int32_t CHTTPCore::GetHeader(int32_t id, plat::WStringView name, plat::WString& value) {
  TCommand c(ECmdGetHeader, id);
  c.text1 = name;
  c.pOutText = &value;
  return Execute(c);
}

int32_t CHTTPCore::GetBodyLength(int32_t id) {
  return ExecuteFor(ECmdGetBodyLength, id);
}

int32_t CHTTPCore::IsProxied(int32_t id) {
  return ExecuteFor(ECmdIsProxied, id);
}

int32_t CHTTPCore::AcceptGzip(int32_t id) {
  return ExecuteFor(ECmdAcceptGzip, id);
}

int32_t CHTTPCore::Close(int32_t id, CHTTPSink** ppSink) {
  if (ppSink) *ppSink = nullptr;
  TCommand c(ECmdClose, id);
  int32_t result = Execute(c);
  if (ppSink)
    *ppSink = c.pSink;
  else
    DisposeOwnedSink(c.pSink);  // file sinks and the MP3 download file stay with their owners
  return result;
}

bool CHTTPCore::SignalSlotForTests(int32_t id, bool bSendEvent) {
  TScopedLock lock(m_slotLock);
  CHTTPEntry* pSlot = FindSlot(id);
  if (!pSlot || !pSlot->InUse()) return false;
  return plat::SetEvent(bSendEvent ? pSlot->SendEvent() : pSlot->SlotEvent());
}

// ---------------------------------------------------------------------------
// Worker

CHTTPEntry* CHTTPCore::FindSlot(int32_t id) {
  if (id <= 0) return nullptr;
  for (CHTTPEntry& slot : m_slots)
    if (slot.Id() == id) return &slot;
  return nullptr;
}

bool CHTTPCore::AnySlotInUse() {
  for (CHTTPEntry& slot : m_slots)
    if (slot.InUse()) return true;
  return false;
}

void CHTTPCore::RunCommand() {
  TCommand& c = *m_pCommand;
  auto answer = [this, &c](int32_t result) {
    c.nResult = result;
    plat::SetEvent(m_hDoneEvent);
  };
  if (c.nCode == ECmdShutdown) {
    m_bQuit = true;
    // Before the answer: a caller already queued on the command lock must
    // find the worker gone rather than wait for it.
    m_bStopped = true;
    answer(0);
    return;
  }
  if (c.nCode == ECmdOpen) {
    plat::UrlParts parts;
    if (!plat::CrackUrl(c.text1, parts)) return answer(-static_cast<int32_t>(plat::GetLastError()));
    if (parts.scheme != plat::INTERNET_SCHEME_HTTP || parts.host.empty()) return answer(-1);
    plat::WString target;
    // Server-supplied URLs go on the request line as they are; one that
    // could break that line is refused.
    if (!MakeRequestTarget(parts.path, target)) return answer(-static_cast<int32_t>(plat::ERROR_INTERNET_INVALID_URL));
    TScopedLock lock(m_slotLock);
    for (CHTTPEntry& slot : m_slots) {
      if (slot.InUse()) continue;
      DisposeOwnedSink(slot.Reset());
      slot.Init(this, ++m_nLastId, c.nArg == EHttpPost ? EHttpPost : EHttpGet, parts.host, target, parts.port);
      return answer(slot.Id());
    }
    return answer(-1);
  }

  CHTTPEntry* pSlot = FindSlot(c.nId);
  if (!pSlot) return answer(-1);
  CHTTPEntry& slot = *pSlot;
  // Changing a closed slot would leave state behind for its next user.
  bool bOpen = slot.InUse();
  switch (c.nCode) {
    case ECmdSetHeader:
      if (!bOpen) return answer(-1);
      slot.SetHeader(c.text1, c.text2);
      return answer(0);
    case ECmdSetBodySink:
      if (!bOpen) return answer(-1);
      slot.SetBodySink(c.pSink);
      return answer(0);
    case ECmdSetListener:
      if (!bOpen) return answer(-1);
      slot.SetListener(c.pListener);
      return answer(0);
    case ECmdStart:
      if (!bOpen || slot.State() != EStateIdle || slot.IsNetworkWaiting()) return answer(-1);
      // Answer first: the caller must not wait while the network comes up.
      answer(0);
      if (m_bServingDuringEstablishment)
        slot.WaitForNetwork();  // tried once the establishment under way is over
      else
        slot.StartRequest();
      return;
    case ECmdSetContentLength:
      if (!bOpen) return answer(-1);
      slot.SetContentLength(c.nArg);
      return answer(0);
    case ECmdSendData: {
      TScopedLock lock(m_slotLock);
      return answer(slot.SendData(c.pData, c.nArg));
    }
    case ECmdGetStatusCode:
      return answer(slot.StatusCode());
    case ECmdGetHeader:
      return answer(slot.GetHeader(c.text1, *c.pOutText));
    case ECmdGetBodyLength:
      return answer(slot.BodyLength());
    case ECmdIsProxied:
      return answer(slot.IsProxied() ? 1 : 0);
    case ECmdAcceptGzip:
      if (!bOpen) return answer(-1);
      slot.AcceptGzip();
      return answer(0);
    case ECmdClose: {
      TScopedLock lock(m_slotLock);
      c.pSink = slot.Reset();
      return answer(0);
    }
    default:
      DebugTrace(u"[QUOREL] CHTTPCore: unknown command %d\n", c.nCode);
      return answer(-1);
  }
}

void CHTTPCore::RetryWaitingSlot() {
  for (CHTTPEntry& slot : m_slots) {
    if (!slot.InUse() || !slot.IsNetworkWaiting()) continue;
    if (slot.StartRequest() != 0) DropAll(false);
    return;
  }
}

void CHTTPCore::DropAll(bool bNetworkUp) {
  TScopedLock lock(m_slotLock);
  for (CHTTPEntry& slot : m_slots) slot.DropConnection(bNetworkUp);
}

uint32_t CHTTPCore::WorkerMain() {
  plat::SetEvent(m_hDoneEvent);
  plat::HKEY hWifiKey = nullptr;
  plat::HKEY hSlideKey = nullptr;
  m_nWifi = ReadHardwareDword(plat::HKEY_LOCAL_MACHINE, kHardwareKey, u"Wifi");
  plat::Handle hWifiNotify = WatchKey(plat::HKEY_LOCAL_MACHINE, kHardwareKey, &hWifiKey);
  m_nSlideState = ReadHardwareDword(plat::HKEY_CURRENT_USER, kSlideKey, u"SlideState");
  plat::Handle hSlideNotify = WatchKey(plat::HKEY_CURRENT_USER, kSlideKey, &hSlideKey);

  bool bRetryPeriod = false;
  std::vector<plat::Handle> handles;
  struct TTarget {
    int nSlot;
    bool bSend;
  };
  std::vector<TTarget> targets;
  while (!m_bQuit) {
    handles.assign({m_hCommandEvent, hWifiNotify, hSlideNotify});
    targets.clear();
    int nFirst = -1;
    int nInUse = 0;
    for (int i = 0; i < kSlotCount; ++i) {
      int n = (m_nStartIndex + i) % kSlotCount;
      CHTTPEntry& slot = m_slots[n];
      if (!slot.InUse()) continue;
      if (nFirst < 0) nFirst = n;
      ++nInUse;
      handles.push_back(slot.SendEvent());
      targets.push_back({n, true});
      handles.push_back(slot.SlotEvent());
      targets.push_back({n, false});
    }
    // The wait reports the lowest signalled handle; starting the next round
    // after the first busy slot keeps one slot from starving the others.
    m_nStartIndex = nInUse >= 2 ? (nFirst + 1) % kSlotCount : 0;

    uint32_t r = plat::WaitForMultipleObjects(handles, bRetryPeriod ? m_timings.nRetryMs : m_timings.nIdleMs);
    if (r == plat::WAIT_OBJECT_0) {
      m_nIdle = 0;
      RunCommand();
    } else if (r == plat::WAIT_OBJECT_0 + 1) {
      uint32_t wifi = ReadHardwareDword(plat::HKEY_LOCAL_MACHINE, kHardwareKey, u"Wifi");
      if (wifi != m_nWifi) {
        if (!(wifi & kWifiConnected)) {
          m_bReleasePending = false;
        } else if (!(m_nWifi & kWifiConnected)) {
          // Wi-Fi came up: the next request should pick its network anew.
          if (AnySlotInUse())
            m_bReleasePending = true;
          else
            ReleaseNetwork();
        }
        m_nWifi = wifi;
      }
      plat::CeFindNextRegChange(hWifiNotify);
    } else if (r == plat::WAIT_OBJECT_0 + 2) {
      m_nSlideState = ReadHardwareDword(plat::HKEY_CURRENT_USER, kSlideKey, u"SlideState");
      plat::CeFindNextRegChange(hSlideNotify);
    } else if (r == plat::WAIT_TIMEOUT) {
      if (bRetryPeriod) {
        RetryWaitingSlot();
      } else if (!IsNetworkConnected(true)) {
        DropAll(false);
      } else if (++m_nIdle > m_timings.nIdleLimit) {
        DropAll(true);
        m_nIdle = 0;
      }
    } else if (r >= plat::WAIT_OBJECT_0 + 3 && r < plat::WAIT_OBJECT_0 + handles.size()) {
      m_nIdle = 0;
      const TTarget& target = targets[r - plat::WAIT_OBJECT_0 - 3];
      {
        TScopedLock lock(m_slotLock);
        CHTTPEntry& slot = m_slots[target.nSlot];
        if (target.bSend)
          slot.OnSendEvent();
        else
          slot.OnSlotEvent();
      }
      if (bRetryPeriod) RetryWaitingSlot();
    } else {
      DebugTrace(u"[QUOREL] CHTTPCore: wait failed (%u)\n", plat::GetLastError());
    }

    if (m_bReleasePending && !AnySlotInUse()) {
      ReleaseNetwork();
      m_bReleasePending = false;
    }
    bRetryPeriod = false;
    for (CHTTPEntry& slot : m_slots) bRetryPeriod = bRetryPeriod || (slot.InUse() && slot.IsNetworkWaiting());
  }

  plat::CeFindCloseRegChange(hWifiNotify);
  plat::CeFindCloseRegChange(hSlideNotify);
  if (hWifiKey) plat::RegCloseKey(hWifiKey);
  if (hSlideKey) plat::RegCloseKey(hSlideKey);
  return 0;
}

// ---------------------------------------------------------------------------
// Network selection

void CHTTPCore::PublishNetworkState() {
  m_hSnapshotConnection.store(m_bEstablishing ? nullptr : m_hConnection);
  m_bSnapshotProxied.store(!m_proxyHost.empty());
}

bool CHTTPCore::IsNetworkConnected(bool bLock) {
  std::optional<TScopedLock> lock;
  if (bLock) lock.emplace(m_networkLock);
  return m_hConnection && plat::ConnMgrStatus(m_hConnection) == plat::CONNMGR_STATUS_CONNECTED;
}

bool CHTTPCore::IsProxiedOrOffline() {
  if (m_bEstablishing) return true;
  plat::Handle h = m_hSnapshotConnection.load();
  // A handle released meanwhile reads as not connected, never as another
  // connection.
  if (!h || plat::ConnMgrStatus(h) != plat::CONNMGR_STATUS_CONNECTED) return true;
  return m_bSnapshotProxied.load();
}

void CHTTPCore::ReleaseNetworkLocked() {
  if (m_hConnection) plat::ConnMgrRelease(m_hConnection, false);
  m_hConnection = nullptr;
  PublishNetworkState();
}

void CHTTPCore::ReleaseNetwork() {
  for (;;) {
    if (m_networkSection.TryEnter()) {
      ReleaseNetworkLocked();
      m_networkSection.Leave();
      return;
    }
    if (m_bEstablishing) {
      // The establishment ends early and the waiting request tries again
      // with whatever network is chosen then.
      if (m_hReleaseEvent) plat::SetEvent(m_hReleaseEvent);
      return;
    }
    plat::Sleep(1);  // the worker holds the lock only for a status read
  }
}

void CHTTPCore::GetProxy(plat::WString& host, uint16_t& port) {
  TScopedLock lock(m_networkLock);
  host = m_proxyHost;
  port = m_nProxyPort;
}

void CHTTPCore::SetProxy(plat::WStringView text) {
  TScopedLock lock(m_networkLock);
  m_proxyHost = text;
  m_nProxyPort = 80;
  size_t colon = text.find(u':');
  if (colon != plat::WStringView::npos && colon >= 1) {
    m_proxyHost = text.substr(0, colon);
    plat::WStringView digits = text.substr(colon + 1);
    uint32_t port = 0;
    bool bValid = !digits.empty() && digits.size() <= 5;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') bValid = false;
      port = port * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (bValid && port >= 1 && port <= 65535)
      m_nProxyPort = static_cast<uint16_t>(port);
    else
      DebugTrace(u"[QUOREL] Proxy port not valid: %s, using 80\n", text);
  }
  PublishNetworkState();
}

bool CHTTPCore::SelectDestinationNetwork(plat::Guid* pGuid) {
  plat::WString url;
  RegGetAppString(u"url", url);
  if (ReadHardwareDword(plat::HKEY_LOCAL_MACHINE, kHardwareKey, u"Wifi") & kWifiConnected)
    return plat::ConnMgrMapUrl(url, pGuid);
  switch (RegGetAppDword(u"quorelGUIDType")) {
    case 1:
      *pGuid = plat::IID_DestNetInternet;
      return true;
    case 2:
      *pGuid = plat::IID_DestNetCorp;
      return true;
    case 3:
      *pGuid = plat::IID_DestNetWAP;
      return true;
    case 4:
      *pGuid = plat::IID_DestNetSecureWAP;
      return true;
    default:
      break;
  }
  std::optional<std::vector<uint8_t>> external =
      plat::ReadBinary(plat::HKEY_CURRENT_USER, kInternetSettingsKey, u"ConnMgrExternalPath");
  if (external && external->size() == 16) {
    *pGuid = plat::Guid::FromBytes(std::span<const uint8_t, 16>(external->data(), 16));
    return true;
  }
  return plat::ConnMgrMapUrl(url, pGuid);
}

uint32_t CHTTPCore::WaitForConnection(const plat::ConnRequest& request, uint32_t timeoutMs, uint32_t* pStatus,
                                      plat::Handle hCancel, bool* pbCancelled) {
  *pStatus = plat::CONNMGR_STATUS_CONNECTIONFAILED;
  m_hConnection = plat::ConnMgrEstablish(request);
  if (!m_hConnection) return 1;
  // On the worker, the commands of every other request are served during
  // the wait: a caller (the UI closing a preview) must never wait for a
  // network that may not come. The cancel event comes first, so closing the
  // waiting request itself ends the wait before its command runs.
  const bool bServe = m_hCommandEvent && plat::GetCurrentThreadId() == m_nWorkerThreadId.load();
  uint32_t since = plat::GetTickCount();  // the last status change
  for (;;) {
    plat::Handle handles[4] = {hCancel, m_hReleaseEvent, m_hConnection, m_hCommandEvent};
    const uint32_t spent = plat::GetTickCount() - since;
    const uint32_t left = timeoutMs == plat::INFINITE ? timeoutMs : spent >= timeoutMs ? 0 : timeoutMs - spent;
    uint32_t r = plat::WaitForMultipleObjects(std::span(handles, bServe ? 4 : 3), left);
    if (r == plat::WAIT_OBJECT_0 || r == plat::WAIT_OBJECT_0 + 1) {
      *pbCancelled = true;
      break;
    }
    if (r == plat::WAIT_OBJECT_0 + 3) {
      m_bServingDuringEstablishment = true;
      RunCommand();
      m_bServingDuringEstablishment = false;
      continue;
    }
    if (r != plat::WAIT_OBJECT_0 + 2) break;  // time-out
    since = plat::GetTickCount();
    *pStatus = plat::ConnMgrStatus(m_hConnection);
    if (*pStatus != plat::CONNMGR_STATUS_WAITINGCONNECTION) break;
  }
  if (*pStatus == plat::CONNMGR_STATUS_CONNECTED && !*pbCancelled) return 0;
  ReleaseNetworkLocked();
  return 1;
}

bool CHTTPCore::EstablishNetwork(plat::Handle hCancel, bool* pbCancelled) {
  TScopedLock lock(m_networkLock);
  plat::ResetEvent(m_hReleaseEvent);
  m_bEstablishing = true;
  *pbCancelled = false;
  ReleaseNetworkLocked();
  m_proxyHost.clear();
  m_nProxyPort = 80;
  PublishNetworkState();

  bool bConnected = false;
  plat::Guid guid;
  if (SelectDestinationNetwork(&guid)) {
    auto b = guid.Bytes();
    DebugTrace(
        u"[QUOREL] Network GUID used: "
        u"%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x\n",
        b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    plat::ConnRequest request;
    request.destination = guid;
    request.flags = plat::CONNMGR_FLAG_PROXY_HTTP | plat::CONNMGR_FLAG_PROXY_WAP;
    request.priority = plat::CONNMGR_PRIORITY_USERINTERACTIVE;
    request.maxLatencyMs = 30000;
    uint32_t status = 0;
    bConnected = WaitForConnection(request, m_timings.nEstablishMs, &status, hCancel, pbCancelled) == 0;
    if (bConnected) {
      plat::WString setting;
      if (!RegAppValueExists(u"proxy")) {
        if (std::optional<plat::WString> proxy = plat::ConnMgrProxy(m_hConnection)) SetProxy(*proxy);
      } else if (RegGetAppString(u"proxy", setting) == 0) {
        SetProxy(setting);
      }
    }
  }
  m_bEstablishing = false;
  PublishNetworkState();
  return bConnected;
}
