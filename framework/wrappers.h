// Shared templates and small helpers: bound callbacks linked into intrusive
// lists (CDelegate, CDelegateList), the reference counting of shared values
// (RCObject, RefPtr) and the lock object over a critical section.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "platform/kernel/Kernel.h"

class CDelegateList;

// A bound callback {object, argument, invoker} that is also an intrusive list
// node. The invoker does the actual call; it receives the delegate, the bound
// object and an argument (the bound one when a list invokes the delegate).
// Copying a delegate copies the binding only: the copy starts unlinked and the
// target of an assignment keeps its own list membership. The embedding owner
// owns the delegate; a list never does. Destroying a linked delegate unlinks it.
class CDelegate {
 public:
  using TInvoker = void (*)(CDelegate* pSelf, void* pObject, void* pArgument);

  CDelegate() = default;
  CDelegate(void* pObject, void* pArgument, TInvoker pInvoker)
      : m_pObject(pObject), m_pArgument(pArgument), m_pInvoker(pInvoker) {}
  CDelegate(const CDelegate& other)
      : m_pObject(other.m_pObject), m_pArgument(other.m_pArgument), m_pInvoker(other.m_pInvoker) {}
  CDelegate& operator=(const CDelegate& other);
  ~CDelegate();

  // A delegate calling `Method` on `pObject`; the method takes either no
  // argument or the argument pointer.
  template <auto Method, class T>
  static CDelegate Member(T* pObject, void* pArgument = nullptr) {
    return CDelegate(pObject, pArgument, &CallMember<Method, T>);
  }

  void Bind(void* pObject, void* pArgument, TInvoker pInvoker);
  void Unbind() { Bind(nullptr, nullptr, nullptr); }

  // Calls the invoker, when one is set, with the bound argument or with the
  // given one. Returns whether anything was called.
  bool Call() { return Call(m_pArgument); }
  bool Call(void* pArgument);

  // Removes the delegate from the list that holds it, if any.
  void Detach();

  bool IsSet() const { return m_pInvoker != nullptr; }
  bool IsLinked() const { return m_pList != nullptr; }
  CDelegateList* List() const { return m_pList; }
  void* Object() const { return m_pObject; }
  void* Argument() const { return m_pArgument; }
  TInvoker Invoker() const { return m_pInvoker; }

 private:
  friend class CDelegateList;

  template <auto Method, class T>
  static void CallMember(CDelegate*, void* pObject, void* pArgument) {
    T* pTarget = static_cast<T*>(pObject);
    if constexpr (std::is_invocable_v<decltype(Method), T*, void*>)
      (pTarget->*Method)(pArgument);
    else
      (pTarget->*Method)();
  }

  CDelegate* m_pPrev = nullptr;
  CDelegate* m_pNext = nullptr;
  CDelegateList* m_pList = nullptr;
  void* m_pObject = nullptr;
  void* m_pArgument = nullptr;
  TInvoker m_pInvoker = nullptr;
};

// A delegate for subscriptions that must run a disconnect function once.
class CArmedDelegate : public CDelegate {
 public:
  using CDelegate::CDelegate;
  CArmedDelegate(const CArmedDelegate& other) = default;
  CArmedDelegate& operator=(const CArmedDelegate& other) = default;

  void Arm() { m_bArmed = true; }
  bool IsArmed() const { return m_bArmed; }

  // When armed, calls the invoker once with `pArgument`; in every case the
  // delegate ends disarmed and unlinked, also when the invoker throws.
  void Disconnect(void* pArgument);

 private:
  bool m_bArmed = false;
};

// An ordered list of delegates. Invoke calls them in list order and tolerates
// any change of the list from inside a callee: a removed delegate that has not
// run yet is skipped, a delegate added at the tail is still reached, a nested
// Invoke of the same list runs its own walk without disturbing the outer one,
// and the list itself may be destroyed by a callee.
class CDelegateList {
 public:
  CDelegateList() = default;
  CDelegateList(const CDelegateList&) = delete;
  CDelegateList& operator=(const CDelegateList&) = delete;
  ~CDelegateList();  // unlinks every delegate and ends running walks

  void Add(CDelegate* pDelegate);     // at the tail; panics ("wrappers", 624) when linked
  void Remove(CDelegate* pDelegate);  // panics ("wrappers", 639) unless linked here
  void Clear();                       // unlinks every delegate, head first
  void Invoke();

  bool IsEmpty() const { return m_pHead == nullptr; }
  CDelegate* Head() const { return m_pHead; }
  CDelegate* Tail() const { return m_pTail; }

 private:
  // One per running Invoke, innermost first. pNext is the delegate that walk
  // calls next; pList is cleared when the list dies under the walk.
  struct TWalk {
    CDelegateList* pList;
    CDelegate* pNext;
    TWalk* pOuter;
  };
  class CWalkGuard;

  CDelegate* m_pHead = nullptr;
  CDelegate* m_pTail = nullptr;
  TWalk* m_pWalks = nullptr;
};

// Base of reference-counted shared values (images, fonts, records, sinks).
// The count starts at 0; the first holder makes it 1; the value deletes itself
// through its virtual destructor when the last holder lets go. A copy starts
// unreferenced and shareable. The count is atomic so that a value handed to a
// worker thread may be released there.
class RCObject {
 public:
  void addReference() { m_nCount.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference and deletes the value when it held the last one (or,
  // for a value nobody referenced, at once). The caller must not touch the
  // value afterwards.
  void removeReference();
  bool isShareable() const { return m_bShareable; }
  int32_t ReferenceCount() const { return m_nCount.load(std::memory_order_relaxed); }

 protected:
  RCObject() = default;
  RCObject(const RCObject&) {}
  RCObject& operator=(const RCObject&) { return *this; }  // the count stays the holder's
  virtual ~RCObject() = default;
  void SetShareable(bool bShareable) { m_bShareable = bShareable; }

 private:
  std::atomic<int32_t> m_nCount{0};
  bool m_bShareable = true;
};

// Moves a counted reference into a slot: the source gains a reference before
// the old value loses one, so assigning the value a slot already holds (or a
// value only kept alive by that slot) never frees it.
struct RefPtr {
  template <class T, class U>
  static void Assign(T*& rpSlot, U* pSource) {
    static_assert(std::is_base_of_v<RCObject, T>, "RefPtr holds RCObject values only");
    T* pNew = pSource;
    if (pNew == rpSlot) return;
    if (pNew) pNew->addReference();
    T* pOld = rpSlot;
    rpSlot = pNew;
    if (pOld) pOld->removeReference();
  }
  template <class T, class U>
  static void Assign(T** ppSlot, U* pSource) {
    Assign(*ppSlot, pSource);
  }
  // Puts a reference the caller already holds (a fresh result, or null)
  // into a slot, releasing the slot's old value.
  template <class T>
  static void Take(T*& rpSlot, std::type_identity_t<T>* pFresh) {
    static_assert(std::is_base_of_v<RCObject, T>, "RefPtr holds RCObject values only");
    T* pOld = rpSlot;
    rpSlot = pFresh;
    if (pOld) pOld->removeReference();
  }
};

// A lock object over a critical section owned elsewhere. The section is
// re-entrant, so a holder may lock again on the same thread.
class CCriticalSectionLock {
 public:
  explicit CCriticalSectionLock(plat::CriticalSection* pSection) : m_pSection(pSection) {}
  CCriticalSectionLock(const CCriticalSectionLock&) = delete;
  CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
  void Lock() { m_pSection->Enter(); }
  void Unlock() { m_pSection->Leave(); }

 private:
  plat::CriticalSection* m_pSection;
};

// Holds a CCriticalSectionLock for one scope, also when the scope is left by
// an exception.
class TScopedLock {
 public:
  explicit TScopedLock(CCriticalSectionLock& lock) : m_lock(lock) { m_lock.Lock(); }
  ~TScopedLock() { m_lock.Unlock(); }
  TScopedLock(const TScopedLock&) = delete;
  TScopedLock& operator=(const TScopedLock&) = delete;

 private:
  CCriticalSectionLock& m_lock;
};
