// Posts a worker's news of event type E so that the poster can take back,
// at once, everything it posted that the UI thread has not run yet: a
// withdrawn message still runs but fires nothing. A worker that is stopped
// uses it so that its late news never reaches whoever listens next (the
// next recording's or the next preview's screen).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "framework/Events.h"

template <class E>
class CWithdrawablePoster {
 public:
  using TPayload = typename E::TPayload;

  CWithdrawablePoster() = default;
  CWithdrawablePoster(const CWithdrawablePoster&) = delete;
  CWithdrawablePoster& operator=(const CWithdrawablePoster&) = delete;

  // Any thread. False when the queue refused the message, or when the
  // poster is withdrawn (nothing is posted then).
  bool Post(const TPayload& payload) {
    std::shared_ptr<std::atomic<bool>> pLive;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      pLive = m_pLive;
    }
    if (!pLive->load(std::memory_order_acquire)) return false;
    auto* pMessage = new CMessage(std::move(pLive));
    pMessage->Payload() = payload;
    return pMessage->Post();
  }

  // Any thread. Every message posted so far fires nothing, and so does
  // everything posted until Renew.
  void Withdraw() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pLive->store(false, std::memory_order_release);
  }

  // Later posts go out again; those withdrawn stay withdrawn.
  void Renew() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pLive->load(std::memory_order_acquire)) m_pLive = std::make_shared<std::atomic<bool>>(true);
  }

  bool IsWithdrawn() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_pLive->load(std::memory_order_acquire);
  }

 private:
  // The queue owns and deletes a posted message, so each one holds the flag
  // it was posted under, not the poster.
  class CMessage : public CEventFireMessage<E> {
   public:
    explicit CMessage(std::shared_ptr<std::atomic<bool>> pLive) : m_pLive(std::move(pLive)) {}
    void Dispatch() override {
      if (m_pLive->load(std::memory_order_acquire)) CEventFireMessage<E>::Dispatch();
    }

   private:
    std::shared_ptr<std::atomic<bool>> m_pLive;
  };

  mutable std::mutex m_lock;
  std::shared_ptr<std::atomic<bool>> m_pLive = std::make_shared<std::atomic<bool>>(true);
};
