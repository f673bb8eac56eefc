#include "net/HTTPEntry.h"

#include <arpa/inet.h>

#include <cstring>
#include <mutex>

#include "framework/Trace.h"
#include "net/HTTPCore.h"

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}
std::function<void(CHTTPEntry&)>& ConnectHook() {
  static std::function<void(CHTTPEntry&)> hook;
  return hook;
}

void AppendHex(std::string& out, uint32_t value) {
  char text[16];
  int n = 0;
  do {
    text[n++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value);
  while (n) out += text[--n];
}

}  // namespace

void CHTTPEntry::SetConnectHookForTests(std::function<void(CHTTPEntry&)> hook) {
  std::lock_guard<std::mutex> guard(HookMutex());
  ConnectHook() = std::move(hook);
}

CHTTPEntry::~CHTTPEntry() {
  if (m_pLookup)
    if (CDNSResolver* pResolver = CDNSResolver::Instance()) pResolver->Cancel(m_pLookup);
  CloseSocket();
  CloseEvents();
  DisposeOwnedSink(m_pSink);
}

void CHTTPEntry::Init(CHTTPCore* pCore, int32_t id, int32_t method, plat::WStringView host,
                      plat::WStringView target, uint16_t port) {
  m_pCore = pCore;
  m_nId = id;
  m_bInUse = true;
  m_host = host;
  m_path = target;
  m_nPort = port;
  m_nMethod = method;
  m_nState = EStateIdle;
  m_hSlotEvent = plat::CreateEvent(false, false);
  m_hSendEvent = plat::CreateEvent(false, false);
  m_hCancelEvent = plat::CreateEvent(false, false);
  m_pListener = CHTTPEventForwarder::Instance();
  m_pSink = new CHTTPMemorySink();
  m_parser.Start(id);
  m_headers.clear();
  m_nContentLength = -1;
  m_bAllSent = false;
  m_bSendPending = false;
  m_bNetworkWaiting = false;
  m_proxyHost.clear();
  m_nProxyPort = 80;
}

void CHTTPEntry::CloseSocket() {
  if (m_socket == plat::INVALID_SOCKET) return;
  plat::closesocket(m_socket);
  m_socket = plat::INVALID_SOCKET;
  m_bSendPending = false;
}

void CHTTPEntry::CloseEvents() {
  for (plat::Handle* pEvent : {&m_hSlotEvent, &m_hSendEvent, &m_hCancelEvent}) {
    if (*pEvent) plat::CloseHandle(*pEvent);
    *pEvent = nullptr;
  }
}

void CHTTPEntry::ReportError(int32_t code) {
  if (code >= EHttpLookupFailed)
    DebugTrace(u"[QUOREL] HTTP core id: %d error: %d host: %s path: %s port %d\n", m_nId, code, m_host, m_path,
               m_nPort);
  if (m_pListener) m_pListener->OnHTTPEvent(m_nId, code);
}

void CHTTPEntry::SignalClose() {
  if (m_hCancelEvent) plat::SetEvent(m_hCancelEvent);
  TScopedLock lock(m_connectLock);
  if (m_nConnectState == EConnectInProgress) m_nConnectState = EConnectAbort;
}

void CHTTPEntry::SetBodySink(CHTTPSink* pSink) {
  if (pSink == m_pSink) return;
  DisposeOwnedSink(m_pSink);
  m_pSink = pSink;
}

void CHTTPEntry::SetListener(CHTTPListener* pListener) {
  m_pListener = pListener ? pListener : CHTTPEventForwarder::Instance();
}

void CHTTPEntry::AcceptGzip() {
  m_headers[u"Accept-Encoding"] = u"gzip";
  SetBodySink(new CHTTPGzipSink());
}

int32_t CHTTPEntry::GetHeader(plat::WStringView name, plat::WString& value) const {
  auto it = m_headers.find(name);
  if (it == m_headers.end()) return 1;
  value = it->second;
  return 0;
}

int32_t CHTTPEntry::StartRequest() {
  if (!m_pCore->IsNetworkConnected(true)) {
    bool bCancelled = false;
    if (!m_pCore->EstablishNetwork(m_hCancelEvent, &bCancelled)) {
      if (!bCancelled) ReportError(EHttpNoNetwork);
      m_bNetworkWaiting = true;
      return 1;
    }
  }
  ReportError(EHttpNetworkUp);
  m_bNetworkWaiting = false;
  m_pCore->GetProxy(m_proxyHost, m_nProxyPort);
  m_nState = EStateResolving;
  std::string host = plat::ToUtf8(m_proxyHost.empty() ? m_host : m_proxyHost);
  if (CDNSResolver* pResolver = CDNSResolver::Instance()) {
    m_pLookup = pResolver->Lookup(host, m_hSlotEvent);
  } else {
    // Nobody to resolve names: the lookup fails when the slot event comes.
    m_pLookup = std::make_shared<TDNSLookup>();
    m_pLookup->bDone = true;
    m_pLookup->nError = plat::WSAHOST_NOT_FOUND;
    plat::SetEvent(m_hSlotEvent);
  }
  return 0;
}

void CHTTPEntry::OnSlotEvent() {
  switch (m_nState) {
    case EStateResolving:
      Connect();
      break;
    case EStateConnecting:
      BuildRequest();
      break;
    case EStateSending:
    case EStateReceiving:
      OnReceive();
      break;
    default:
      ReportError(EHttpUnexpected);
      break;
  }
}

void CHTTPEntry::OnSendEvent() {
  if (m_nState == EStateSending)
    OnSendComplete();
  else
    ReportError(EHttpUnexpected);
}

void CHTTPEntry::Connect() {
  m_nState = EStateConnecting;
  plat::AddrInfo* pResult = nullptr;
  int32_t error = plat::WSAHOST_NOT_FOUND;
  std::shared_ptr<TDNSLookup> pLookup = std::move(m_pLookup);
  bool bAnswered = false;
  if (pLookup) {
    CDNSResolver* pResolver = CDNSResolver::Instance();
    if (pResolver) {
      bAnswered = pResolver->TakeResult(pLookup, &pResult, &error);
    } else if (pLookup->bDone) {
      // Answered without a resolver (see StartRequest).
      bAnswered = true;
      error = pLookup->nError;
    }
  }
  if (!bAnswered || error != 0 || !pResult || !pResult->ai_addr) {
    if (pResult) plat::freeaddrinfo(pResult);
    ReportError(EHttpLookupFailed);
    return;
  }
  plat::SockAddrIn address;
  std::memcpy(&address, pResult->ai_addr, sizeof address);
  plat::freeaddrinfo(pResult);
  address.sin_port = htons(m_proxyHost.empty() ? m_nPort : m_nProxyPort);

  m_socket = plat::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, plat::WSA_FLAG_OVERLAPPED);
  if (m_socket == plat::INVALID_SOCKET || plat::WSAEventSelect(m_socket, m_hSlotEvent, plat::FD_CONNECT) != 0) {
    plat::ResetEvent(m_hSlotEvent);
    ReportError(EHttpConnectFailed);
    return;
  }
  {
    TScopedLock lock(m_connectLock);
    m_nConnectState = EConnectInProgress;
  }
  int rc = plat::WSAConnect(m_socket, reinterpret_cast<const plat::SockAddr*>(&address), sizeof address);
  uint32_t wsaError = rc == 0 ? 0 : static_cast<uint32_t>(plat::WSAGetLastError());
  {
    std::function<void(CHTTPEntry&)> hook;
    {
      std::lock_guard<std::mutex> guard(HookMutex());
      hook = ConnectHook();
    }
    if (hook) hook(*this);
  }
  bool bAborted = false;
  {
    TScopedLock lock(m_connectLock);
    bAborted = m_nConnectState == EConnectAbort;
    m_nConnectState = EConnectNone;
  }
  if (bAborted) {
    // Closed here, on the worker, so a connect result arriving now cannot
    // carry the aborted request on.
    CloseSocket();
    plat::ResetEvent(m_hSlotEvent);
    ReportError(EHttpAborted);
    return;
  }
  if (rc != 0 && wsaError != plat::WSAEWOULDBLOCK) {
    plat::ResetEvent(m_hSlotEvent);
    ReportError(EHttpConnectFailed);
  }
}

void CHTTPEntry::BuildRequest() {
  plat::NetworkEvents events;
  if (m_socket == plat::INVALID_SOCKET) return;
  if (plat::WSAEnumNetworkEvents(m_socket, m_hSlotEvent, &events) != 0 || !(events.lNetworkEvents & plat::FD_CONNECT) ||
      events.iErrorCode[plat::FD_CONNECT_BIT] != 0) {
    ReportError(EHttpConnectFailed);
    return;
  }
  ReportError(EHttpConnected);
  std::string head = BuildRequestHead(m_nMethod, m_host, m_nPort, m_path, !m_proxyHost.empty(), m_nContentLength,
                                      m_headers);
  m_nState = EStateSending;
  m_parser.Start(m_nId);
  m_bAllSent = false;
  uint32_t blocking = 0;
  plat::WSAEventSelect(m_socket, nullptr, 0);
  plat::ioctlsocket(m_socket, FIONBIO, &blocking);

  plat::WsaBuf buffer;
  buffer.buf = head.data();
  buffer.len = static_cast<uint32_t>(head.size());
  m_sendOverlapped = plat::Overlapped();
  m_sendOverlapped.hEvent = m_hSendEvent;
  uint32_t sent = 0;
  if (plat::WSASend(m_socket, &buffer, 1, &sent, 0, &m_sendOverlapped, nullptr) != 0 &&
      static_cast<uint32_t>(plat::WSAGetLastError()) != plat::ERROR_IO_PENDING) {
    ReportError(EHttpConnectFailed);
    return;
  }
  m_bSendPending = true;
  PostReceive();
}

bool CHTTPEntry::PostReceive() {
  plat::WsaBuf buffer;
  buffer.buf = m_receive;
  buffer.len = kReceiveSize;
  m_recvOverlapped = plat::Overlapped();
  m_recvOverlapped.hEvent = m_hSlotEvent;
  uint32_t received = 0;
  uint32_t flags = 0;
  if (plat::WSARecv(m_socket, &buffer, 1, &received, &flags, &m_recvOverlapped, nullptr) == 0) {
    // Finished at once; the event says so as a pending one would.
    plat::SetEvent(m_hSlotEvent);
    return true;
  }
  if (static_cast<uint32_t>(plat::WSAGetLastError()) == plat::ERROR_IO_PENDING) return true;
  ReportError(EHttpSocketFailed);
  return false;
}

void CHTTPEntry::OnSendComplete() {
  if (!m_bSendPending) return;  // nothing of ours is in flight
  uint32_t bytes = 0;
  uint32_t flags = 0;
  if (!plat::WSAGetOverlappedResult(m_socket, &m_sendOverlapped, &bytes, false, &flags)) {
    if (static_cast<uint32_t>(plat::WSAGetLastError()) == plat::WSA_IO_INCOMPLETE) return;
    m_bSendPending = false;
    if (m_socket != plat::INVALID_SOCKET) ReportError(EHttpIoFailed);
    return;
  }
  m_bSendPending = false;
  if (m_nMethod == EHttpGet || m_bAllSent)
    m_nState = EStateReceiving;
  else
    ReportError(EHttpPartSent);
}

void CHTTPEntry::OnReceive() {
  if (m_socket == plat::INVALID_SOCKET) return;
  uint32_t bytes = 0;
  uint32_t flags = 0;
  if (!plat::WSAGetOverlappedResult(m_socket, &m_recvOverlapped, &bytes, false, &flags)) {
    if (static_cast<uint32_t>(plat::WSAGetLastError()) == plat::WSA_IO_INCOMPLETE) return;
    ReportError(EHttpIoFailed);
    return;
  }
  if (bytes == 0) {
    ReportError(m_parser.Phase() == EPhaseComplete ? EHttpClosed : EHttpClosedEarly);
    return;
  }
  if (!m_parser.Feed(m_receive, bytes, m_pSink, m_headers, [this](int32_t code) { ReportError(code); })) return;
  PostReceive();
}

int32_t CHTTPEntry::SendData(const char* pData, int32_t length) {
  bool bChunked = m_nContentLength < 0;
  // One piece at a time, within the announced length, while the body is
  // being sent: anything else would corrupt the framing or reach a socket
  // that is no longer this request's.
  if (m_nState != EStateSending || m_socket == plat::INVALID_SOCKET || m_bAllSent || m_bSendPending || length < 0 ||
      (length > 0 && !pData) || (!bChunked && length > m_nContentLength)) {
    ReportError(EHttpSocketFailed);
    return -1;
  }
  std::string sizeLine;
  plat::WsaBuf buffers[3];
  uint32_t count = 0;
  if (bChunked) {
    AppendHex(sizeLine, static_cast<uint32_t>(length));
    sizeLine += "\r\n";
    buffers[count++] = {static_cast<uint32_t>(sizeLine.size()), sizeLine.data()};
    if (length > 0) buffers[count++] = {static_cast<uint32_t>(length), const_cast<char*>(pData)};
    static char s_crlf[] = "\r\n";
    buffers[count++] = {2, s_crlf};
  } else {
    buffers[count++] = {static_cast<uint32_t>(length), const_cast<char*>(pData)};
  }
  m_sendOverlapped = plat::Overlapped();
  m_sendOverlapped.hEvent = m_hSendEvent;
  uint32_t sent = 0;
  if (plat::WSASend(m_socket, buffers, count, &sent, 0, &m_sendOverlapped, nullptr) != 0 &&
      static_cast<uint32_t>(plat::WSAGetLastError()) != plat::ERROR_IO_PENDING) {
    ReportError(EHttpSocketFailed);
    return -1;
  }
  m_bSendPending = true;
  if (bChunked) {
    if (length == 0) m_bAllSent = true;
  } else {
    m_nContentLength -= length;
    if (m_nContentLength == 0) m_bAllSent = true;
  }
  return 0;
}

void CHTTPEntry::DropConnection(bool bNetworkUp) {
  if (m_socket == plat::INVALID_SOCKET) return;
  if (!bNetworkUp)
    ReportError(EHttpNetworkLost);
  else if (m_parser.Phase() != EPhaseComplete)
    ReportError(EHttpIdle);
  {
    TScopedLock lock(m_connectLock);
    m_nConnectState = EConnectNone;
  }
  CloseSocket();
}

CHTTPSink* CHTTPEntry::Reset() {
  CHTTPSink* pSink = m_pSink;
  m_pSink = nullptr;
  m_bInUse = false;
  if (m_pLookup) {
    if (CDNSResolver* pResolver = CDNSResolver::Instance()) pResolver->Cancel(m_pLookup);
    m_pLookup.reset();
  }
  CloseSocket();
  CloseEvents();
  {
    TScopedLock lock(m_connectLock);
    m_nConnectState = EConnectNone;
  }
  m_headers.clear();
  m_bAllSent = false;
  m_bSendPending = false;
  m_pListener = CHTTPEventForwarder::Instance();
  m_bNetworkWaiting = false;
  m_nContentLength = -1;
  m_nState = EStateIdle;
  return pSink;
}
