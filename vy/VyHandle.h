// The handle of a shared value: one pointer to an RCObject-derived value.
// Binding a value references it before the value held before is released,
// so rebinding to a value only the handle keeps alive never frees it; binding
// the value already held does nothing; a value that may not be shared is
// copied and the handle holds the copy. A handle may hold null.
#pragma once

#include <new>

#include "framework/wrappers.h"

template <class T>
class TVyHandle {
 public:
  TVyHandle() = default;
  explicit TVyHandle(T* pValue) { Bind(pValue); }
  TVyHandle(const TVyHandle& other) { Bind(other.m_pValue); }
  TVyHandle& operator=(const TVyHandle& other) {
    Bind(other.m_pValue);
    return *this;
  }
  ~TVyHandle() {
    if (m_pValue) m_pValue->removeReference();
  }

  T* Value() const { return m_pValue; }

 protected:
  void Bind(T* pValue) {
    if (pValue == m_pValue) return;
    T* pNew = pValue;
    if (pNew && !pNew->isShareable()) pNew = new (std::nothrow) T(*pNew);
    if (pNew) pNew->addReference();
    T* pOld = m_pValue;
    m_pValue = pNew;
    if (pOld) pOld->removeReference();
  }

  T* m_pValue = nullptr;
};
