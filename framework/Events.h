// Work handed to the UI thread and the publish/subscribe channels on top.
//
// Any thread posts a CEventMessage to the application's queue (CEventQueue);
// the queue wakes the UI thread with one window message and the UI thread
// runs one queued message per wake-up. A CEvent channel exists once per event
// type; CEventListener objects subscribe to it and a CEventFireMessage carries
// a payload to the channel from any thread. Firing is synchronous on the UI
// thread; posting is the way across threads.
#pragma once

#include <type_traits>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>

#include "framework/ObjectRegistry.h"
#include "framework/basetypes.h"
#include "framework/wrappers.h"

class CEventQueue;

// A unit of work for the UI thread. Once posted it belongs to the queue, which
// deletes it after it has run, unless it is kept: a kept message belongs to
// whoever embeds it and may be posted again once it has run.
class CEventMessage : public CObject {
 public:
  CEventMessage() = default;
  ~CEventMessage() override;  // leaves the queue if still in it
  CEventMessage(const CEventMessage&) = delete;
  CEventMessage& operator=(const CEventMessage&) = delete;

  virtual void Dispatch() = 0;
  // Called by Cancel when the message was still waiting in the queue.
  virtual void OnCancelled() {}

  // Queues the message on the application's queue. On the UI thread, posting
  // without an application panics ("Events", 59), as does posting a message
  // that is already queued. On another thread both are reported by a trace
  // and a false result instead; a refused message is deleted unless kept,
  // while one already queued stays queued.
  bool Post();
  bool IsQueued() const { return m_bQueued.load(std::memory_order_acquire); }

  // Takes the message out of the queue (OnCancelled when it was queued), then
  // deletes it unless kept. Without an application: panic ("Events", 35).
  void Cancel();

  // Runs the message on the UI thread and then deletes it unless it was kept
  // when it started; it is deleted also when Dispatch throws. A kept message
  // may delete itself inside Dispatch.
  void Process();

  bool IsKept() const { return m_bKept; }
  void SetKept(bool bKept) { m_bKept = bKept; }

 private:
  friend class CEventQueue;
  CEventMessage* m_pNext = nullptr;
  CEventMessage* m_pPrev = nullptr;
  std::atomic<bool> m_bQueued{false};  // written under the queue lock only
  bool m_bKept = false;
};

// The application's first-in-first-out queue of posted messages, with the
// flags the application sets around its message loop. The wake-up callable
// posts the wake-up window message (0x8000) to the main window and tells
// whether that post succeeded.
class CEventQueue {
 public:
  using TWakeUp = std::function<bool()>;

  // The first queue alive becomes the application's (Current) until it dies.
  explicit CEventQueue(TWakeUp wakeUp);
  // Messages still queued leave it; those not kept are deleted unrun.
  ~CEventQueue();
  CEventQueue(const CEventQueue&) = delete;
  CEventQueue& operator=(const CEventQueue&) = delete;

  static CEventQueue* Current() { return s_pCurrent.load(std::memory_order_acquire); }
  // The UI thread is the process's main thread.
  static bool IsUiThread();

  void SetInitialised(bool bInitialised);
  bool IsInitialised() const;
  void SetLoopAlive(bool bAlive);
  bool IsLoopAlive() const;
  bool IsWakeUpOutstanding() const;
  bool IsEmpty() const;

  // Any thread. Appends the message and sends one wake-up unless one is
  // outstanding; the flag is set only when the wake-up post succeeded. Not
  // initialised: panic ("AppUi", 1768) on the UI thread; elsewhere a trace, the
  // message deleted unless kept, and false. Already queued: panic ("Events",
  // 59) on the UI thread; elsewhere a trace and false.
  bool PostEvent(CEventMessage* pMessage);

  // UI thread: the oldest message, taken out of the queue, or null. Not
  // initialised: panic ("AppUi", 1821).
  CEventMessage* Pop();

  // Takes the message out of the queue; returns whether it was queued. A
  // queued message while not initialised: panic ("AppUi", 1803).
  bool Unlink(CEventMessage* pMessage);

  // UI thread; the handler of the wake-up message. While the loop is alive it
  // runs one message and posts the next wake-up (after a message whose
  // Dispatch threw an error code it goes on with the next one); once the loop
  // has ended it runs the queue until empty, including messages posted by the
  // handlers. Returns 0, the error code of the one failed message, or 6 when
  // several failed.
  int32_t RunEvents();

  // Any thread: updates a kept message under the queue lock and queues it
  // when it is not queued already, so that its Dispatch, reading the payload
  // under the same lock (WithLock), always sees a consistent update. Fails like
  // PostEvent when the queue is not initialised.
  bool UpdateAndPost(CEventMessage* pKept, const std::function<void()>& update);

  template <class F>
  decltype(auto) WithLock(F&& f) {
    TScopedLock lock(m_lock);
    return f();
  }

 private:
  friend class CEventMessage;
  void LinkLocked(CEventMessage* pMessage);
  void UnlinkLocked(CEventMessage* pMessage);
  // Takes the message out without the initialised check (its destructor).
  void UnlinkQuietly(CEventMessage* pMessage);
  // Posts the wake-up; a callable that throws counts as a failed post.
  bool WakeUpLocked() noexcept;

  static std::atomic<CEventQueue*> s_pCurrent;

  mutable plat::CriticalSection m_section;
  mutable CCriticalSectionLock m_lock{&m_section};
  TWakeUp m_wakeUp;
  CEventMessage* m_pHead = nullptr;
  CEventMessage* m_pTail = nullptr;
  bool m_bWakeUpOutstanding = false;
  bool m_bInitialised = false;
  bool m_bLoopAlive = false;
};

class CEvent;

// A handler of one channel. Destroying a subscribed listener unsubscribes it;
// that never throws and works whether or not the application still exists.
class CEventListener {
 public:
  CEventListener() = default;
  virtual ~CEventListener();
  CEventListener(const CEventListener&) = delete;
  CEventListener& operator=(const CEventListener&) = delete;

  virtual void OnEvent(const void* pPayload) = 0;

  bool IsSubscribed() const { return m_pChannel != nullptr; }
  CEvent* Channel() const { return m_pChannel; }
  void Unsubscribe();

 private:
  friend class CEvent;
  CEvent* m_pChannel = nullptr;
};

// The channel id of each event type: the object id its channel is registered
// under, -1 while it has none. Reset when the channel dies with the registry.
template <class E>
struct TEventChannelId {
  static inline int32_t s_nId = -1;
};

// One channel per event type, owned by the application's object registry.
class CEvent : public CObject {
 public:
  ~CEvent() override;  // leaves its listeners unsubscribed and its id reset

  // The channel of event type E, created and registered on first use; null
  // when its id is no longer registered. Registration failing: panic
  // ("Events", 209).
  template <class E>
  static CEvent* Instance() {
    return InstanceFor(&TEventChannelId<E>::s_nId);
  }
  // Fires E's channel with the payload.
  template <class E>
  static int32_t FireEvent(const typename E::TPayload& payload) {
    CEvent* pChannel = Instance<E>();
    return pChannel ? pChannel->Fire(&payload) : 0;
  }

  // Appends the listener unless it is subscribed already.
  void Subscribe(CEventListener* pListener);
  void Unsubscribe(CEventListener* pListener);

  // Calls every subscribed listener in subscription order. A listener that
  // throws an error code does not stop the walk. Returns 0, the code of the
  // one failing listener, or 6 when several failed. Listeners may subscribe
  // and unsubscribe (themselves or others) and fire the channel again from
  // inside a handler.
  int32_t Fire(const void* pPayload);

  size_t ListenerCount() const { return m_listeners.size(); }

 private:
  using TList = std::list<CEventListener*>;
  // One per running Fire, innermost first: the listener being called (or the
  // next one, when an unsubscription moved the cursor on).
  struct TWalk {
    CEvent* pChannel;
    TList::iterator cursor;
    bool bAdvanced;
    TWalk* pOuter;
  };
  class CWalkGuard;

  explicit CEvent(int32_t* pIdSlot) : m_pIdSlot(pIdSlot) {}
  static CEvent* InstanceFor(int32_t* pIdSlot);

  TList m_listeners;
  TWalk* m_pWalks = nullptr;
  int32_t* m_pIdSlot;
  int32_t m_nId = -1;
};

// A listener of event type E with a typed handler.
template <class E>
class CEventListenerFor : public CEventListener {
 public:
  using TPayload = typename E::TPayload;
  void Subscribe() {
    if (CEvent* pChannel = CEvent::Instance<E>()) pChannel->Subscribe(this);
  }

 protected:
  virtual void HandleEvent(const TPayload& payload) = 0;

 private:
  void OnEvent(const void* pPayload) final { HandleEvent(*static_cast<const TPayload*>(pPayload)); }
};

// A listener of event type E that runs one method of its owner, with the
// payload when the method takes one.
template <class E, class T, auto Method>
class CMemberListener : public CEventListenerFor<E> {
 public:
  explicit CMemberListener(T* pOwner) : m_pOwner(pOwner) {}

 protected:
  void HandleEvent(const typename E::TPayload& payload) override {
    if constexpr (std::is_invocable_v<decltype(Method), T*, const typename E::TPayload&>)
      (m_pOwner->*Method)(payload);
    else
      (m_pOwner->*Method)();
  }

 private:
  T* m_pOwner;
};

// A posted message that fires event type E's channel with its payload when it
// runs: the way other threads reach listeners.
template <class E>
class CEventFireMessage : public CEventMessage {
 public:
  using TPayload = typename E::TPayload;

  // A new message, neither queued nor kept, with an empty payload; the caller
  // fills the payload and posts it.
  static CEventFireMessage* New() { return new CEventFireMessage(); }

  TPayload& Payload() { return m_payload; }

  void Dispatch() override {
    // A kept message may be updated from another thread through
    // CEventQueue::UpdateAndPost; read its payload under the same lock.
    TPayload payload{};
    if (CEventQueue* pQueue = CEventQueue::Current())
      pQueue->WithLock([&] { payload = m_payload; });
    else
      payload = m_payload;
    if (CEvent* pChannel = CEvent::Instance<E>()) Env::ThrowIfError(pChannel->Fire(&payload));
  }

 protected:
  CEventFireMessage() = default;

 private:
  TPayload m_payload{};
};

// The framework's event types. Each names its payload; listeners receive a
// reference to it. Other subsystems declare their own types the same way.
struct TNoPayload {};
struct TDisplayRotation {
  int32_t nWidth = 0;
  int32_t nHeight = 0;
  int32_t nAngle = 0;  // 0, 90, 180 or 270
};

struct AppStartedEvent { using TPayload = TNoPayload; };
struct TimerTickEvent { using TPayload = TNoPayload; };
struct AppActivatedEvent { using TPayload = uint8_t; };  // 1 activated, 0 deactivated
struct DisplayRotatedEvent { using TPayload = TDisplayRotation; };
struct IncomingCallEvent { using TPayload = int32_t; };    // the line index
struct RecorderStateEvent { using TPayload = int32_t; };
struct PlayerStateEvent { using TPayload = int32_t; };
struct NetworkStateEvent { using TPayload = uint8_t; };    // non-zero: success
struct HttpActivityEvent { using TPayload = int32_t; };    // open request ids
struct HelpViewEvent { using TPayload = TNoPayload; };
struct MessageCommandEvent { using TPayload = int32_t; };
struct SearchAbortedEvent { using TPayload = TNoPayload; };
struct StartRecordingEvent { using TPayload = TNoPayload; };
struct FollowUpSearchEvent { using TPayload = TNoPayload; };  // the search language was picked
