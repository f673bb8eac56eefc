#include "net/HTTPWrapper.h"

#include <mutex>
#include <new>

#include "framework/DeviceIdentity.h"

namespace {

std::mutex& IdentityMutex() {
  static std::mutex mutex;
  return mutex;
}
CHTTPSession::TIdentitySource& IdentitySource() {
  static CHTTPSession::TIdentitySource source;
  return source;
}

template <class E>
void PostPayload(const typename E::TPayload& payload) {
  // Informational only: without a running application there is nobody to
  // tell, which happens while a session is torn down after the queue.
  if (!CEventQueue::Current()) return;
  auto* pMessage = CEventFireMessage<E>::New();
  pMessage->Payload() = payload;
  pMessage->Post();
}

}  // namespace

// ---------------------------------------------------------------------------
// CHTTPRequest

CHTTPRequest::~CHTTPRequest() {
  Detach(true);
  m_callback.Unbind();
  RefPtr::Assign(m_pSink, static_cast<CHTTPSink*>(nullptr));
}

void CHTTPRequest::Open(CHTTPSession* pSession, int32_t method, plat::WStringView url) {
  if (!pSession || !pSession->Core()) QUOREL_PANIC(u"HTTPWrapper", 274);
  Detach(true);
  m_nLastStatus = 0;
  RefPtr::Assign(m_pSink, static_cast<CHTTPSink*>(nullptr));
  CHTTPCore* pCore = pSession->Core();
  int32_t id = pCore->Open(method, url);
  if (id < 0) throw Env::TSysErrorCode{Env::ErrSystem};
  try {
    Attach(pSession, id);
  } catch (const std::bad_alloc&) {
    pCore->Close(id);
    throw Env::TSysErrorCode{Env::ErrRegistration};
  }
  plat::WString identity = CHTTPSession::IdentityLine();
  if (!identity.empty()) pCore->SetHeader(id, u"User-Agent", identity);
  pSession->PostActivity();
}

void CHTTPRequest::Attach(CHTTPSession* pSession, int32_t id) {
  CHTTPSession::THandles& handles = pSession->m_requests[id];
  m_pPrev = handles.pLast;
  m_pNext = nullptr;
  if (handles.pLast) handles.pLast->m_pNext = this;
  handles.pLast = this;
  if (!handles.pFirst) handles.pFirst = this;
  m_pSession = pSession;
  m_nId = id;
}

void CHTTPRequest::Detach(bool bCloseIfLast) {
  CHTTPSession* pSession = m_pSession;
  if (!pSession) return;
  int32_t id = m_nId;
  if (pSession->m_pCursor == this) pSession->m_pCursor = m_pNext;
  auto it = pSession->m_requests.find(id);
  if (it != pSession->m_requests.end()) {
    CHTTPSession::THandles& handles = it->second;
    if (handles.pFirst == this) handles.pFirst = m_pNext;
    if (handles.pLast == this) handles.pLast = m_pPrev;
  }
  if (m_pPrev) m_pPrev->m_pNext = m_pNext;
  if (m_pNext) m_pNext->m_pPrev = m_pPrev;
  m_pPrev = m_pNext = nullptr;
  m_pSession = nullptr;
  m_nId = -1;
  if (bCloseIfLast && it != pSession->m_requests.end() && !it->second.pFirst) {
    pSession->m_requests.erase(it);
    if (CHTTPCore* pCore = pSession->Core()) pCore->Close(id);
    pSession->PostActivity();
  }
}

void CHTTPRequest::SetHeader(plat::WStringView name, plat::WStringView value) {
  if (m_pSession && m_pSession->Core()) m_pSession->Core()->SetHeader(m_nId, name, value);
}

void CHTTPRequest::SetBodySink(CHTTPSink* pSink) {
  if (m_pSession && m_pSession->Core()) m_pSession->Core()->SetBodySink(m_nId, pSink);
}

void CHTTPRequest::Start() {
  if (!m_pSession || !m_pSession->Core()) QUOREL_PANIC(u"HTTPWrapper", 147);
  m_pSession->Core()->Start(m_nId);
}

int32_t CHTTPRequest::GetStatus() {
  if (!m_pSession || !m_pSession->Core()) return 0;
  return m_pSession->Core()->GetStatusCode(m_nId);
}

void CHTTPRequest::SetStatus(int32_t code) {
  int32_t previous = m_nLastStatus;
  m_nLastStatus = code;
  // The callback may destroy this handle: nothing of it is touched after.
  if (code != EHttpRequestClosed && code != previous) m_callback.Call();
}

void CHTTPRequest::Close() {
  CHTTPSession* pSession = m_pSession;
  if (!pSession || !pSession->Core()) return;
  int32_t id = m_nId;
  CHTTPSink* pSink = nullptr;
  pSession->Core()->Close(id, &pSink);
  // Held while the handles take their references; dropped after, so the
  // sink lives exactly as long as some handle (or its owner) refers to it.
  CHTTPSink* pHeld = nullptr;
  RefPtr::Assign(pHeld, pSink);
  pSession->Finish(id, pSink, EHttpRequestClosed);
  RefPtr::Assign(pHeld, static_cast<CHTTPSink*>(nullptr));
}

void CHTTPRequest::Assign(CHTTPRequest& other) {
  if (&other == this) return;
  Detach(true);
  m_nLastStatus = other.m_nLastStatus;
  m_callback = other.m_callback;
  if (other.m_pSession) Attach(other.m_pSession, other.m_nId);
}

// ---------------------------------------------------------------------------
// CHTTPSession

CHTTPSession* CHTTPSession::Create(CHTTPCore* pCore) {
  auto* pSession = new CHTTPSession(pCore);
  pSession->Subscribe();
  return pSession;
}

CHTTPSession::~CHTTPSession() {
  if (!m_requests.empty() || m_pCore) Release();
}

void CHTTPSession::SetIdentitySource(TIdentitySource source) {
  std::lock_guard<std::mutex> guard(IdentityMutex());
  IdentitySource() = std::move(source);
}

plat::WString CHTTPSession::IdentityLine() {
  TIdentitySource source;
  {
    std::lock_guard<std::mutex> guard(IdentityMutex());
    source = IdentitySource();
  }
  return source ? source() : CurrentIdentityLine();
}

void CHTTPSession::PostActivity() { PostPayload<HttpActivityEvent>(OpenCount()); }

void CHTTPSession::HandleEvent(const THTTPForwarded& payload) {
  auto it = m_requests.find(payload.nId);
  if (it == m_requests.end()) return;
  if (payload.nCode == EHttpNoNetwork || payload.nCode == EHttpNetworkUp) {
    PostPayload<NetworkStateEvent>(payload.nCode == EHttpNetworkUp ? 1 : 0);
    return;
  }
  // The cursor moves on when a callback detaches the handle it points at, so
  // callbacks may close, reassign or destroy handles of this id.
  m_pCursor = it->second.pFirst;
  while (CHTTPRequest* pHandle = m_pCursor) {
    pHandle->SetStatus(payload.nCode);
    if (m_pCursor == pHandle) m_pCursor = pHandle->m_pNext;
  }
}

void CHTTPSession::Finish(int32_t id, CHTTPSink* pSink, int32_t status) {
  for (;;) {
    // Looked up again each time: a callback may have ended the id meanwhile.
    auto it = m_requests.find(id);
    if (it == m_requests.end() || !it->second.pFirst) break;
    CHTTPRequest* pHandle = it->second.pFirst;
    RefPtr::Assign(pHandle->m_pSink, pSink);
    pHandle->Detach(false);
    pHandle->SetStatus(status);
  }
  m_requests.erase(id);
  PostActivity();
}

void CHTTPSession::Release() {
  Unsubscribe();
  while (!m_requests.empty()) Finish(m_requests.begin()->first, nullptr, EHttpSessionEnded);
  m_pCore = nullptr;
}
