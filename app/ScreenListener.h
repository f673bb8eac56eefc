// Event listeners that run one member of a screen object, so that a screen
// can carry one listener per event as plain members. UI thread.
#pragma once

#include <type_traits>

#include "framework/Events.h"

template <class E, class Owner, auto Method>
class CScreenListener : public CEventListenerFor<E> {
 public:
  explicit CScreenListener(Owner* pOwner) : m_pOwner(pOwner) {}

 protected:
  void HandleEvent(const typename E::TPayload& payload) override {
    if constexpr (std::is_invocable_v<decltype(Method), Owner*, const typename E::TPayload&>)
      (m_pOwner->*Method)(payload);
    else
      (m_pOwner->*Method)();
  }

 private:
  Owner* m_pOwner;
};

// A delegate that runs a function of no arguments (history actions).
template <void (*Function)()>
CDelegate FunctionDelegate() {
  return CDelegate(nullptr, nullptr, [](CDelegate*, void*, void*) { Function(); });
}
