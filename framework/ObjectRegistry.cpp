#include "framework/ObjectRegistry.h"

#include <new>

std::atomic<CObjectRegistry*> CObjectRegistry::s_pCurrent{nullptr};

CObjectRegistry::CObjectRegistry() {
  CObjectRegistry* pNone = nullptr;
  s_pCurrent.compare_exchange_strong(pNone, this, std::memory_order_acq_rel);
}

CObjectRegistry::~CObjectRegistry() {
  // Newest first, and one at a time, so that a destructor that looks an
  // object up still finds everything not yet deleted.
  while (!m_objects.empty()) {
    auto it = std::prev(m_objects.end());
    std::unique_ptr<CObject> pObject = std::move(it->second);
    m_objects.erase(it);
    pObject.reset();
  }
  CObjectRegistry* pSelf = this;
  s_pCurrent.compare_exchange_strong(pSelf, nullptr, std::memory_order_acq_rel);
}

void CObjectRegistry::AddObject(int32_t nId, CObject* pObject) {
  if (m_objects.count(nId)) Env::ThrowError(Env::ErrAlreadyExists);
  // Make the slot first and hand the object over only once it exists, so a
  // failed insert leaves the object with the caller.
  try {
    m_objects.try_emplace(nId).first->second.reset(pObject);
  } catch (const std::bad_alloc&) {
    Env::ThrowError(Env::ErrRegistration);
  }
}

CObject* CObjectRegistry::FindObject(int32_t nId) const {
  auto it = m_objects.find(nId);
  return it == m_objects.end() ? nullptr : it->second.get();
}

int32_t CObjectRegistry::RegisterNewObject(CObject* pObject) {
  int32_t nId = NewObjectId();
  try {
    AddObject(nId, pObject);
  } catch (const Env::TSysErrorCode&) {
    return -1;
  }
  return nId;
}
