#include "framework/wrappers.h"

#include "framework/basetypes.h"

CDelegate& CDelegate::operator=(const CDelegate& other) {
  Bind(other.m_pObject, other.m_pArgument, other.m_pInvoker);
  return *this;
}

CDelegate::~CDelegate() { Detach(); }

void CDelegate::Bind(void* pObject, void* pArgument, TInvoker pInvoker) {
  m_pObject = pObject;
  m_pArgument = pArgument;
  m_pInvoker = pInvoker;
}

bool CDelegate::Call(void* pArgument) {
  if (!m_pInvoker) return false;
  m_pInvoker(this, m_pObject, pArgument);
  return true;
}

void CDelegate::Detach() {
  if (m_pList) m_pList->Remove(this);
}

void CArmedDelegate::Disconnect(void* pArgument) {
  // Disarm before the call so that a Disconnect from inside the invoker does
  // not run it a second time, and unlink whatever the invoker does.
  struct TUnlink {
    CArmedDelegate* pSelf;
    ~TUnlink() { pSelf->Detach(); }
  } unlink{this};
  bool bWasArmed = m_bArmed;
  m_bArmed = false;
  if (bWasArmed) Call(pArgument);
}

// Hangs a walk frame off the list for the duration of one Invoke and takes it
// off again on every exit path, exceptions included.
class CDelegateList::CWalkGuard {
 public:
  // The list keeps the frame's address only while the guard lives; the
  // compiler cannot see that the destructor takes it back.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
  explicit CWalkGuard(CDelegateList* pList) : m_walk{pList, pList->m_pHead, pList->m_pWalks} {
    pList->m_pWalks = &m_walk;
  }
#pragma GCC diagnostic pop
  ~CWalkGuard() {
    // Frames are strictly nested, so a living list has this frame on top.
    if (m_walk.pList) m_walk.pList->m_pWalks = m_walk.pOuter;
  }
  CWalkGuard(const CWalkGuard&) = delete;
  CWalkGuard& operator=(const CWalkGuard&) = delete;
  TWalk& Walk() { return m_walk; }

 private:
  TWalk m_walk;
};

CDelegateList::~CDelegateList() {
  Clear();
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter) {
    pWalk->pList = nullptr;
    pWalk->pNext = nullptr;
  }
}

void CDelegateList::Add(CDelegate* pDelegate) {
  if (pDelegate->m_pList) QUOREL_PANIC(u"wrappers", 624);
  pDelegate->m_pNext = nullptr;
  pDelegate->m_pPrev = m_pTail;
  if (m_pTail) m_pTail->m_pNext = pDelegate;
  m_pTail = pDelegate;
  if (!m_pHead) m_pHead = pDelegate;
  pDelegate->m_pList = this;
  // A walk that has run out of delegates ends after its current call; the
  // new tail must still be reached by it.
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter)
    if (!pWalk->pNext) pWalk->pNext = pDelegate;
}

void CDelegateList::Remove(CDelegate* pDelegate) {
  if (pDelegate->m_pList != this) QUOREL_PANIC(u"wrappers", 639);
  for (TWalk* pWalk = m_pWalks; pWalk; pWalk = pWalk->pOuter)
    if (pWalk->pNext == pDelegate) pWalk->pNext = pDelegate->m_pNext;
  if (m_pTail == pDelegate) m_pTail = pDelegate->m_pPrev;
  if (m_pHead == pDelegate) m_pHead = pDelegate->m_pNext;
  if (pDelegate->m_pPrev) pDelegate->m_pPrev->m_pNext = pDelegate->m_pNext;
  if (pDelegate->m_pNext) pDelegate->m_pNext->m_pPrev = pDelegate->m_pPrev;
  pDelegate->m_pPrev = nullptr;
  pDelegate->m_pNext = nullptr;
  pDelegate->m_pList = nullptr;
}

void CDelegateList::Clear() {
  while (m_pHead) Remove(m_pHead);
}

void CDelegateList::Invoke() {
  CWalkGuard guard(this);
  TWalk& walk = guard.Walk();
  // walk.pList turns null when a callee destroys the list; stop there.
  while (walk.pList) {
    CDelegate* pDelegate = walk.pNext;
    if (!pDelegate) break;
    walk.pNext = pDelegate->m_pNext;
    pDelegate->Call();
  }
}

void RCObject::removeReference() {
  if (m_nCount.fetch_sub(1, std::memory_order_acq_rel) <= 1) delete this;
}
