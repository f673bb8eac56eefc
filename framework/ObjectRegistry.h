// The application's registry of shared objects by id. It owns what it holds
// (the event channels among them) and deletes it when it dies, so that an
// application can be created again in the same process.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "framework/basetypes.h"

class CObjectRegistry {
 public:
  // The first registry alive becomes the application's (Current); it stays so
  // until it is destroyed.
  CObjectRegistry();
  ~CObjectRegistry();
  CObjectRegistry(const CObjectRegistry&) = delete;
  CObjectRegistry& operator=(const CObjectRegistry&) = delete;

  static CObjectRegistry* Current() { return s_pCurrent.load(std::memory_order_acquire); }

  // Takes ownership on success. Error 3 when the id is taken, error 2 when the
  // insert itself fails; on failure the caller keeps the object.
  void AddObject(int32_t nId, CObject* pObject);
  // The object registered under the id, or null.
  CObject* FindObject(int32_t nId) const;
  // Registers under a new object id and returns it; -1 (the caller keeping
  // the object) when registration fails.
  int32_t RegisterNewObject(CObject* pObject);

  size_t Count() const { return m_objects.size(); }

 private:
  static std::atomic<CObjectRegistry*> s_pCurrent;
  std::map<int32_t, std::unique_ptr<CObject>> m_objects;
};
