#include "framework/Events.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/base/Debug.h"

namespace {

// A worker thread must never see an exception from posting: the fault is
// traced and reported by the result. A message the queue refused is disposed
// of here unless its owner keeps it.
bool RefuseFromWorker(CEventMessage* pMessage, const char16_t* pszWhy, bool bDispose) {
  plat::WString line = u"[QUOREL] Posted event refused: ";
  line += pszWhy;
  line += u"\n";
  plat::DebugWrite(line);
  if (bDispose && !pMessage->IsKept()) delete pMessage;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// CEventMessage

CEventMessage::~CEventMessage() {
  if (IsQueued())
    if (CEventQueue* pQueue = CEventQueue::Current()) pQueue->UnlinkQuietly(this);
}

bool CEventMessage::Post() {
  CEventQueue* pQueue = CEventQueue::Current();
  if (!pQueue) {
    if (CEventQueue::IsUiThread()) QUOREL_PANIC(u"Events", 59);
    return RefuseFromWorker(this, u"no application", true);
  }
  return pQueue->PostEvent(this);
}

void CEventMessage::Cancel() {
  CEventQueue* pQueue = CEventQueue::Current();
  if (!pQueue) QUOREL_PANIC(u"Events", 35);
  bool bWasQueued = pQueue->Unlink(this);
  std::unique_ptr<CEventMessage> pOwned(m_bKept ? nullptr : this);
  if (bWasQueued) OnCancelled();
}

void CEventMessage::Process() {
  // Decide before Dispatch: a kept message may be gone once it returns.
  std::unique_ptr<CEventMessage> pOwned(m_bKept ? nullptr : this);
  Dispatch();
}

// ---------------------------------------------------------------------------
// CEventQueue

std::atomic<CEventQueue*> CEventQueue::s_pCurrent{nullptr};

CEventQueue::CEventQueue(TWakeUp wakeUp) : m_wakeUp(std::move(wakeUp)) {
  CEventQueue* pNone = nullptr;
  s_pCurrent.compare_exchange_strong(pNone, this, std::memory_order_acq_rel);
}

CEventQueue::~CEventQueue() {
  CEventQueue* pSelf = this;
  s_pCurrent.compare_exchange_strong(pSelf, nullptr, std::memory_order_acq_rel);
  std::vector<CEventMessage*> orphans;
  {
    TScopedLock lock(m_lock);
    while (CEventMessage* pMessage = m_pHead) {
      UnlinkLocked(pMessage);
      if (!pMessage->IsKept()) orphans.push_back(pMessage);
    }
  }
  for (CEventMessage* pMessage : orphans) delete pMessage;
}

bool CEventQueue::IsUiThread() {
  // Asked on every post; a thread never changes its answer, so spare the two
  // system calls after the first time.
  static thread_local const bool t_bUiThread = ::gettid() == ::getpid();
  return t_bUiThread;
}

void CEventQueue::SetInitialised(bool bInitialised) {
  TScopedLock lock(m_lock);
  m_bInitialised = bInitialised;
}

bool CEventQueue::IsInitialised() const {
  TScopedLock lock(m_lock);
  return m_bInitialised;
}

void CEventQueue::SetLoopAlive(bool bAlive) {
  TScopedLock lock(m_lock);
  m_bLoopAlive = bAlive;
}

bool CEventQueue::IsLoopAlive() const {
  TScopedLock lock(m_lock);
  return m_bLoopAlive;
}

bool CEventQueue::IsWakeUpOutstanding() const {
  TScopedLock lock(m_lock);
  return m_bWakeUpOutstanding;
}

bool CEventQueue::IsEmpty() const {
  TScopedLock lock(m_lock);
  return m_pHead == nullptr;
}

bool CEventQueue::WakeUpLocked() noexcept {
  try {
    return m_wakeUp && m_wakeUp();
  } catch (...) {
    return false;
  }
}

bool CEventQueue::PostEvent(CEventMessage* pMessage) {
  const bool bUi = IsUiThread();
  bool bInitialised;
  {
    TScopedLock lock(m_lock);
    bInitialised = m_bInitialised;
    if (bInitialised && !pMessage->IsQueued()) {
      LinkLocked(pMessage);
      if (!m_bWakeUpOutstanding) m_bWakeUpOutstanding = WakeUpLocked();
      return true;
    }
  }
  if (!bInitialised) {
    if (bUi) QUOREL_PANIC(u"AppUi", 1768);
    return RefuseFromWorker(pMessage, u"application not running", true);
  }
  // Already queued: the queue owns it and will run it once.
  if (bUi) QUOREL_PANIC(u"Events", 59);
  return RefuseFromWorker(pMessage, u"message already queued", false);
}

bool CEventQueue::UpdateAndPost(CEventMessage* pKept, const std::function<void()>& update) {
  {
    TScopedLock lock(m_lock);
    if (m_bInitialised) {
      if (update) update();
      if (!pKept->IsQueued()) {
        LinkLocked(pKept);
        if (!m_bWakeUpOutstanding) m_bWakeUpOutstanding = WakeUpLocked();
      }
      return true;
    }
  }
  if (IsUiThread()) QUOREL_PANIC(u"AppUi", 1768);
  return RefuseFromWorker(pKept, u"application not running", true);
}

CEventMessage* CEventQueue::Pop() {
  TScopedLock lock(m_lock);
  if (!m_bInitialised) QUOREL_PANIC(u"AppUi", 1821);
  CEventMessage* pMessage = m_pHead;
  if (pMessage) UnlinkLocked(pMessage);
  return pMessage;
}

bool CEventQueue::Unlink(CEventMessage* pMessage) {
  TScopedLock lock(m_lock);
  if (!pMessage->IsQueued()) return false;
  if (!m_bInitialised) QUOREL_PANIC(u"AppUi", 1803);
  UnlinkLocked(pMessage);
  return true;
}

void CEventQueue::UnlinkQuietly(CEventMessage* pMessage) {
  TScopedLock lock(m_lock);
  if (pMessage->IsQueued()) UnlinkLocked(pMessage);
}

void CEventQueue::LinkLocked(CEventMessage* pMessage) {
  pMessage->m_pNext = nullptr;
  pMessage->m_pPrev = m_pTail;
  if (m_pTail)
    m_pTail->m_pNext = pMessage;
  else
    m_pHead = pMessage;
  m_pTail = pMessage;
  pMessage->m_bQueued.store(true, std::memory_order_release);
}

void CEventQueue::UnlinkLocked(CEventMessage* pMessage) {
  if (pMessage->m_pPrev)
    pMessage->m_pPrev->m_pNext = pMessage->m_pNext;
  else
    m_pHead = pMessage->m_pNext;
  if (pMessage->m_pNext)
    pMessage->m_pNext->m_pPrev = pMessage->m_pPrev;
  else
    m_pTail = pMessage->m_pPrev;
  pMessage->m_pNext = nullptr;
  pMessage->m_pPrev = nullptr;
  pMessage->m_bQueued.store(false, std::memory_order_release);
}

int32_t CEventQueue::RunEvents() {
  int32_t nCode = 0;
  int nFailures = 0;
  // Finding the queue empty and clearing the wake-up flag happen under one
  // hold of the lock: a post slipping in between would see a wake-up still
  // outstanding, send none, and its message would wait for the next post.
  // A panic escaping a handler clears the flag too, so later posts still wake
  // the loop.
  bool bSettled = false;
  struct TFinish {
    CEventQueue* pQueue;
    const bool& bSettled;
    ~TFinish() {
      if (bSettled) return;
      TScopedLock lock(pQueue->m_lock);
      pQueue->m_bWakeUpOutstanding = false;
    }
  } finish{this, bSettled};

  for (;;) {
    CEventMessage* pMessage;
    {
      TScopedLock lock(m_lock);
      if (!m_bInitialised) QUOREL_PANIC(u"AppUi", 1821);
      pMessage = m_pHead;
      if (!pMessage) {
        m_bWakeUpOutstanding = false;
        bSettled = true;
        break;
      }
      UnlinkLocked(pMessage);
    }
    try {
      pMessage->Process();
    } catch (const Env::TSysErrorCode& e) {
      nCode = ++nFailures == 1 ? e.code : Env::ErrSeveral;
      continue;
    }
    TScopedLock lock(m_lock);
    if (m_bLoopAlive) {
      // One message per wake-up while the loop runs, so painting and input
      // interleave with queued work; the next wake-up is sent even when the
      // queue has just run empty.
      m_bWakeUpOutstanding = WakeUpLocked();
      bSettled = true;
      break;
    }
  }
  return nCode;
}

// ---------------------------------------------------------------------------
// CEventListener

CEventListener::~CEventListener() { Unsubscribe(); }

void CEventListener::Unsubscribe() {
  if (m_pChannel) m_pChannel->Unsubscribe(this);
}

// ---------------------------------------------------------------------------
// CEvent

// Hangs a walk frame off the channel for one Fire and takes it off again on
// every way out.
class CEvent::CWalkGuard {
 public:
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
  explicit CWalkGuard(CEvent* pChannel)
      : m_walk{pChannel, pChannel->m_listeners.begin(), false, pChannel->m_pWalks} {
    pChannel->m_pWalks = &m_walk;
  }
#pragma GCC diagnostic pop
  ~CWalkGuard() {
    if (m_walk.pChannel) m_walk.pChannel->m_pWalks = m_walk.pOuter;
  }
  CWalkGuard(const CWalkGuard&) = delete;
  CWalkGuard& operator=(const CWalkGuard&) = delete;
  TWalk& Walk() { return m_walk; }

 private:
  TWalk m_walk;
};

CEvent::~CEvent() {
  for (CEventListener* pListener : m_listeners) pListener->m_pChannel = nullptr;
  m_listeners.clear();
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter) pWalk->pChannel = nullptr;
  if (m_nId != -1 && *m_pIdSlot == m_nId) *m_pIdSlot = -1;
}

CEvent* CEvent::InstanceFor(int32_t* pIdSlot) {
  if (*pIdSlot == -1) {
    auto* pChannel = new CEvent(pIdSlot);
    try {
      CObjectRegistry* pRegistry = CObjectRegistry::Current();
      if (!pRegistry) QUOREL_PANIC(u"AppUi", 1854);
      int32_t nId = NewObjectId();
      pRegistry->AddObject(nId, pChannel);
      pChannel->m_nId = nId;
      *pIdSlot = nId;
    } catch (...) {
      // Not registered, so nobody else owns it.
      delete pChannel;
    }
    if (*pIdSlot == -1) QUOREL_PANIC(u"Events", 209);
  }
  CObjectRegistry* pRegistry = CObjectRegistry::Current();
  if (!pRegistry) QUOREL_PANIC(u"AppUi", 1869);
  return dynamic_cast<CEvent*>(pRegistry->FindObject(*pIdSlot));
}

void CEvent::Subscribe(CEventListener* pListener) {
  if (pListener->m_pChannel) return;
  auto it = m_listeners.insert(m_listeners.end(), pListener);
  pListener->m_pChannel = this;
  // A walk whose cursor an unsubscription pushed past the end would stop
  // after its current call; it must still reach the new listener.
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter)
    if (pWalk->cursor == m_listeners.end()) pWalk->cursor = it;
}

void CEvent::Unsubscribe(CEventListener* pListener) {
  if (pListener->m_pChannel != this) return;
  auto it = std::find(m_listeners.begin(), m_listeners.end(), pListener);
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter) {
    if (pWalk->cursor == it) {
      ++pWalk->cursor;
      pWalk->bAdvanced = true;
    }
  }
  if (it != m_listeners.end()) m_listeners.erase(it);
  pListener->m_pChannel = nullptr;
}

int32_t CEvent::Fire(const void* pPayload) {
  CWalkGuard guard(this);
  TWalk& walk = guard.Walk();
  int32_t nCode = 0;
  int nFailures = 0;
  // walk.pChannel turns null when a handler destroys the channel.
  while (walk.pChannel && walk.cursor != m_listeners.end()) {
    CEventListener* pListener = *walk.cursor;
    try {
      pListener->OnEvent(pPayload);
    } catch (const Env::TSysErrorCode& e) {
      nCode = ++nFailures == 1 ? e.code : Env::ErrSeveral;
    }
    if (!walk.pChannel) break;
    if (walk.bAdvanced)
      walk.bAdvanced = false;
    else
      ++walk.cursor;
  }
  return nCode;
}
