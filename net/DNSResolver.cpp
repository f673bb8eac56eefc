#include "net/DNSResolver.h"

#include <algorithm>
#include <atomic>

#include "framework/Trace.h"

namespace {
std::atomic<CDNSResolver*> g_pResolver{nullptr};
}

// What the resolver thread needs; it outlives the resolver object when Stop
// gives up waiting for a lookup that hangs.
struct CDNSResolver::TShared {
  plat::CriticalSection section;
  CCriticalSectionLock lock{&section};
  plat::Handle hQueueEvent = nullptr;
  bool bQuit = false;
  std::deque<std::shared_ptr<TDNSLookup>> queue;
  std::shared_ptr<TDNSLookup> pRunning;

  ~TShared() {
    if (hQueueEvent) plat::CloseHandle(hQueueEvent);
  }
};

CDNSResolver::CDNSResolver() = default;

CDNSResolver::~CDNSResolver() { Stop(); }

CDNSResolver* CDNSResolver::Instance() { return g_pResolver.load(std::memory_order_acquire); }

bool CDNSResolver::Start() {
  if (m_hThread) return true;
  auto pShared = std::make_shared<TShared>();
  pShared->hQueueEvent = plat::CreateEvent(false, false);
  if (!pShared->hQueueEvent) return false;
  m_hThread = plat::CreateThread([pShared] { return Run(pShared); });
  if (!m_hThread) return false;
  m_pShared = std::move(pShared);
  g_pResolver.store(this, std::memory_order_release);
  return true;
}

void CDNSResolver::Stop() {
  if (!m_hThread) return;
  CDNSResolver* pSelf = this;
  g_pResolver.compare_exchange_strong(pSelf, nullptr);
  {
    TScopedLock lock(m_pShared->lock);
    m_pShared->bQuit = true;
    for (auto& pLookup : m_pShared->queue) pLookup->bAbandoned = true;
    m_pShared->queue.clear();
    if (m_pShared->pRunning) m_pShared->pRunning->bAbandoned = true;
  }
  plat::SetEvent(m_pShared->hQueueEvent);
  if (plat::WaitForSingleObject(m_hThread, kStopWaitMs) != plat::WAIT_OBJECT_0)
    DebugTrace(u"[QUOREL] CDNSResolver: a lookup is still running; the resolver thread ends on its own\n");
  plat::CloseHandle(m_hThread);
  m_hThread = nullptr;
  m_pShared.reset();
}

std::shared_ptr<TDNSLookup> CDNSResolver::Lookup(const std::string& host, plat::Handle hEvent) {
  auto pLookup = std::make_shared<TDNSLookup>();
  pLookup->host = host;
  pLookup->hEvent = hEvent;
  if (!m_pShared) {
    // No thread to ask: answer at once, as a failed lookup.
    pLookup->nError = plat::WSAHOST_NOT_FOUND;
    pLookup->bDone = true;
    plat::SetEvent(hEvent);
    return pLookup;
  }
  {
    TScopedLock lock(m_pShared->lock);
    m_pShared->queue.push_back(pLookup);
  }
  plat::SetEvent(m_pShared->hQueueEvent);
  return pLookup;
}

void CDNSResolver::Cancel(const std::shared_ptr<TDNSLookup>& pLookup) {
  if (!pLookup) return;
  plat::AddrInfo* pFree = nullptr;
  auto forget = [&] {
    if (pLookup->bDone) {
      pFree = pLookup->pResult;
      pLookup->pResult = nullptr;
    }
    // From here on the resolver thread neither stores into it nor signals.
    pLookup->bAbandoned = true;
  };
  if (m_pShared) {
    TScopedLock lock(m_pShared->lock);
    auto& queue = m_pShared->queue;
    queue.erase(std::remove(queue.begin(), queue.end(), pLookup), queue.end());
    forget();
  } else {
    forget();
  }
  if (pFree) plat::freeaddrinfo(pFree);
}

bool CDNSResolver::TakeResult(const std::shared_ptr<TDNSLookup>& pLookup, plat::AddrInfo** ppResult,
                              int32_t* pError) {
  auto take = [&] {
    if (!pLookup->bDone) return false;
    *ppResult = pLookup->pResult;
    *pError = pLookup->nError;
    pLookup->pResult = nullptr;
    return true;
  };
  if (!m_pShared) return take();
  TScopedLock lock(m_pShared->lock);
  return take();
}

uint32_t CDNSResolver::Run(std::shared_ptr<TShared> pShared) {
  plat::AddrInfo hints;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  for (;;) {
    plat::WaitForSingleObject(pShared->hQueueEvent, plat::INFINITE);
    for (;;) {
      std::shared_ptr<TDNSLookup> pLookup;
      {
        TScopedLock lock(pShared->lock);
        if (pShared->bQuit) return 0;
        if (pShared->queue.empty()) break;
        pLookup = pShared->queue.front();
        pShared->queue.pop_front();
        pShared->pRunning = pLookup;
      }
      // Outside the lock: a lookup may take long, and Cancel must not wait.
      plat::AddrInfo* pResult = nullptr;
      int rc = plat::getaddrinfo(pLookup->host.c_str(), nullptr, &hints, &pResult);
      {
        TScopedLock lock(pShared->lock);
        pShared->pRunning.reset();
        if (!pLookup->bAbandoned) {
          pLookup->pResult = pResult;
          pLookup->nError = rc;
          pLookup->bDone = true;
          pResult = nullptr;
          plat::SetEvent(pLookup->hEvent);
        }
      }
      if (pResult) plat::freeaddrinfo(pResult);
    }
  }
}
