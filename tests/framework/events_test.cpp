#include "framework/Events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/ObjectRegistry.h"
#include "platform/base/Debug.h"
#include "tests/support/Waits.h"

namespace {

using Log = std::vector<std::string>;

// What a running application provides: the object registry and the queue,
// whose wake-up stands for the posted 0x8000 and is counted here as a pending
// window message.
struct TTestApp {
  std::atomic<int> nPendingWakeUps{0};
  std::atomic<int> nWakeUpPosts{0};
  std::atomic<int> nMaxPending{0};
  std::atomic<bool> bFailWakeUps{false};
  CObjectRegistry registry;
  CEventQueue queue{[this] {
    ++nWakeUpPosts;
    if (bFailWakeUps) return false;
    int n = ++nPendingWakeUps;
    if (n > nMaxPending) nMaxPending = n;
    return true;
  }};

  TTestApp() {
    queue.SetInitialised(true);
    queue.SetLoopAlive(true);
  }
  // The message loop taking one wake-up message; false when none was pending.
  bool DeliverWakeUp(int32_t* pCode = nullptr) {
    if (nPendingWakeUps == 0) return false;
    --nPendingWakeUps;
    int32_t nCode = queue.RunEvents();
    if (pCode) *pCode = nCode;
    return true;
  }
};

// A message running a test action; counts its deletions.
class CTestMessage : public CEventMessage {
 public:
  CTestMessage(std::function<void()> action, int* pDeaths = nullptr, bool bKept = false)
      : m_action(std::move(action)), m_pDeaths(pDeaths) {
    SetKept(bKept);
  }
  ~CTestMessage() override {
    if (m_pDeaths) ++*m_pDeaths;
  }
  void Dispatch() override {
    if (m_action) m_action();
  }
  void OnCancelled() override { ++m_nCancelled; }
  int m_nCancelled = 0;

 private:
  std::function<void()> m_action;
  int* m_pDeaths;
};

CTestMessage* Logging(Log* pLog, std::string name, int* pDeaths = nullptr) {
  return new CTestMessage([pLog, name] { pLog->push_back(name); }, pDeaths);
}

template <class F>
std::pair<std::u16string, int> Panic(F&& f) {
  try {
    f();
  } catch (const TPanic& p) {
    return {p.source, p.line};
  }
  return {u"", -1};
}

// Captures the debug output for the duration of a test.
class CTraceCapture {
 public:
  CTraceCapture() {
    m_previous = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_lines.emplace_back(text);
    });
  }
  ~CTraceCapture() { plat::SetDebugSink(std::move(m_previous)); }
  size_t Count() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines.size();
  }

 private:
  std::mutex m_mutex;
  std::vector<std::u16string> m_lines;
  plat::DebugSink m_previous;
};

// ---------------------------------------------------------------------------
// The queue

TEST(EventQueue, OneMessagePerWakeUpWhileTheLoopRuns) {
  TTestApp app;
  Log log;
  std::thread worker([&] {
    EXPECT_TRUE(Logging(&log, "first")->Post());
    EXPECT_TRUE(Logging(&log, "second")->Post());
  });
  worker.join();
  EXPECT_EQ(app.nWakeUpPosts, 1);  // the second post found one outstanding
  EXPECT_TRUE(app.queue.IsWakeUpOutstanding());

  ASSERT_TRUE(app.DeliverWakeUp());
  EXPECT_EQ(log, (Log{"first"}));
  ASSERT_TRUE(app.DeliverWakeUp());
  EXPECT_EQ(log, (Log{"first", "second"}));
  // The wake-up is re-posted even though the queue just ran empty; the extra
  // one finds nothing and leaves no wake-up outstanding.
  ASSERT_TRUE(app.DeliverWakeUp());
  EXPECT_EQ(log.size(), 2u);
  EXPECT_FALSE(app.DeliverWakeUp());
  EXPECT_EQ(app.nWakeUpPosts, 3);
  EXPECT_FALSE(app.queue.IsWakeUpOutstanding());

  // The next post wakes the loop again.
  Logging(&log, "third")->Post();
  EXPECT_EQ(app.nWakeUpPosts, 4);
}

TEST(EventQueue, FailedWakeUpIsRetriedByTheNextPost) {
  TTestApp app;
  Log log;
  app.bFailWakeUps = true;
  Logging(&log, "a")->Post();
  EXPECT_FALSE(app.queue.IsWakeUpOutstanding());
  app.bFailWakeUps = false;
  Logging(&log, "b")->Post();
  EXPECT_EQ(app.nWakeUpPosts, 2);
  EXPECT_TRUE(app.queue.IsWakeUpOutstanding());
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(log, (Log{"a", "b"}));

  // A re-post that fails after a message ran also leaves the flag clear.
  Logging(&log, "c")->Post();
  Logging(&log, "d")->Post();
  app.bFailWakeUps = true;
  app.DeliverWakeUp();
  EXPECT_EQ(log.back(), "c");
  EXPECT_FALSE(app.queue.IsWakeUpOutstanding());
  app.bFailWakeUps = false;
  Logging(&log, "e")->Post();
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(log, (Log{"a", "b", "c", "d", "e"}));
}

TEST(EventQueue, ErrorCodesFromDispatchAreCollected) {
  struct TCase {
    std::vector<int32_t> codes;  // 0: a message that succeeds
    int32_t expected;
    size_t ranInFirstWakeUp;
  };
  const std::vector<TCase> cases = {
      {{0, 0}, 0, 1},
      {{7, 0, 0}, 7, 2},   // after a throw the next message runs at once
      {{7, 5, 0}, 6, 3},   // two failures in one wake-up
      {{7, 5}, 6, 2},      // ... also when the queue runs empty
      {{0, 7}, 0, 1},      // the failure belongs to the next wake-up
  };
  for (const TCase& tc : cases) {
    TTestApp app;
    int deaths = 0;
    size_t ran = 0;
    for (int32_t code : tc.codes)
      (new CTestMessage(
           [&ran, code] {
             ++ran;
             if (code) Env::ThrowError(code);
           },
           &deaths))
          ->Post();
    int32_t nCode = -1;
    ASSERT_TRUE(app.DeliverWakeUp(&nCode));
    EXPECT_EQ(nCode, tc.expected);
    EXPECT_EQ(ran, tc.ranInFirstWakeUp);
    EXPECT_EQ(deaths, static_cast<int>(ran));  // thrown or not, each one ran is gone
  }
}

TEST(EventQueue, ShutdownDrainRunsEverythingInOneCall) {
  TTestApp app;
  Log log;
  int deaths = 0;
  Logging(&log, "a", &deaths)->Post();
  (new CTestMessage(
       [&] {
         log.push_back("b");
         Logging(&log, "posted by b", &deaths)->Post();
       },
       &deaths))
      ->Post();
  (new CTestMessage([] { Env::ThrowError(7); }, &deaths))->Post();
  Logging(&log, "c", &deaths)->Post();
  app.queue.SetLoopAlive(false);
  int32_t nCode = app.queue.RunEvents();
  EXPECT_EQ(nCode, 7);
  EXPECT_EQ(log, (Log{"a", "b", "c", "posted by b"}));
  EXPECT_EQ(deaths, 5);
  EXPECT_TRUE(app.queue.IsEmpty());
  EXPECT_FALSE(app.queue.IsWakeUpOutstanding());
}

TEST(EventQueue, KeptMessages) {
  TTestApp app;
  int deaths = 0;
  int runs = 0;
  CTestMessage kept([&] { ++runs; }, &deaths, /*bKept=*/true);
  EXPECT_TRUE(kept.Post());
  EXPECT_TRUE(kept.IsQueued());
  // Re-posting only when not queued keeps it in the queue once.
  if (!kept.IsQueued()) kept.Post();
  EXPECT_EQ(Panic([&] { kept.Post(); }), std::make_pair(std::u16string(u"Events"), 59));
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(deaths, 0);
  EXPECT_FALSE(kept.IsQueued());
  kept.Post();  // may run again once it has run
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(runs, 2);

  // A kept message may delete itself while it runs.
  struct CSelfDeleting : CEventMessage {
    int* pDeaths;
    explicit CSelfDeleting(int* p) : pDeaths(p) { SetKept(true); }
    ~CSelfDeleting() override { ++*pDeaths; }
    void Dispatch() override { delete this; }
  };
  deaths = 0;
  (new CSelfDeleting(&deaths))->Post();
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(deaths, 1);
}

TEST(EventQueue, Cancel) {
  TTestApp app;
  int deaths = 0;
  Log log;

  // Queued, not kept: taken out, told, deleted, never run.
  auto* pQueued = Logging(&log, "queued", &deaths);
  pQueued->Post();
  int cancelledSeen = -1;
  struct CProbe : CTestMessage {
    int* pSeen;
    CProbe(int* seen, int* deaths) : CTestMessage(nullptr, deaths), pSeen(seen) {}
    ~CProbe() override { *pSeen = m_nCancelled; }
  };
  auto* pProbe = new CProbe(&cancelledSeen, &deaths);
  pProbe->Post();
  pProbe->Cancel();
  EXPECT_EQ(cancelledSeen, 1);
  pQueued->Cancel();
  EXPECT_EQ(deaths, 2);
  EXPECT_TRUE(app.queue.IsEmpty());

  // Not queued: not told, but still deleted.
  auto* pIdle = new CProbe(&cancelledSeen, &deaths);
  pIdle->Cancel();
  EXPECT_EQ(cancelledSeen, 0);
  EXPECT_EQ(deaths, 3);

  // Kept: taken out and told, but left to its owner.
  CTestMessage kept(nullptr, &deaths, true);
  kept.Post();
  kept.Cancel();
  EXPECT_EQ(kept.m_nCancelled, 1);
  EXPECT_FALSE(kept.IsQueued());
  EXPECT_EQ(deaths, 3);
  while (app.DeliverWakeUp()) {
  }
  EXPECT_TRUE(log.empty());
}

TEST(EventQueue, MisuseOnTheUiThreadPanics) {
  int deaths = 0;
  {
    // No application at all.
    CTestMessage kept(nullptr, nullptr, true);
    EXPECT_EQ(Panic([&] { kept.Post(); }), std::make_pair(std::u16string(u"Events"), 59));
    EXPECT_EQ(Panic([&] { kept.Cancel(); }), std::make_pair(std::u16string(u"Events"), 35));
  }
  TTestApp app;
  app.queue.SetInitialised(false);
  CTestMessage kept(nullptr, nullptr, true);
  EXPECT_EQ(Panic([&] { kept.Post(); }), std::make_pair(std::u16string(u"AppUi"), 1768));
  EXPECT_EQ(Panic([&] { app.queue.Pop(); }), std::make_pair(std::u16string(u"AppUi"), 1821));
  app.queue.SetInitialised(true);
  kept.Post();
  app.queue.SetInitialised(false);
  EXPECT_EQ(Panic([&] { kept.Cancel(); }), std::make_pair(std::u16string(u"AppUi"), 1803));
  EXPECT_TRUE(kept.IsQueued());
  // Destroying a queued message while not initialised (the frame messages at
  // the end of the run) just takes it out.
  auto* pQueued = new CTestMessage(nullptr, &deaths);
  app.queue.SetInitialised(true);
  pQueued->Post();
  app.queue.SetInitialised(false);
  delete pQueued;
  EXPECT_EQ(deaths, 1);
  app.queue.SetInitialised(true);
  EXPECT_EQ(app.queue.Pop(), &kept);
  EXPECT_EQ(app.queue.Pop(), nullptr);
}

TEST(EventQueue, WorkerMisuseIsReportedNotThrown) {
  CTraceCapture trace;
  int deaths = 0;
  CTestMessage kept(nullptr, &deaths, true);
  auto onWorker = [](const std::function<void()>& f) {
    std::thread t([&] {
      try {
        f();
      } catch (...) {
        ADD_FAILURE() << "an exception reached a worker thread";
      }
    });
    t.join();
  };

  // No application: the plain message is disposed of, the kept one is not.
  onWorker([&] { EXPECT_FALSE((new CTestMessage(nullptr, &deaths))->Post()); });
  onWorker([&] { EXPECT_FALSE(kept.Post()); });
  EXPECT_EQ(deaths, 1);

  TTestApp app;
  app.queue.SetInitialised(false);
  onWorker([&] { EXPECT_FALSE((new CTestMessage(nullptr, &deaths))->Post()); });
  onWorker([&] { EXPECT_FALSE(app.queue.UpdateAndPost(&kept, nullptr)); });
  EXPECT_EQ(deaths, 2);
  EXPECT_FALSE(kept.IsQueued());

  // Already queued: refused, and it stays queued to run once.
  app.queue.SetInitialised(true);
  Log log;
  auto* pMessage = Logging(&log, "once", &deaths);
  onWorker([&] { EXPECT_TRUE(pMessage->Post()); });
  onWorker([&] { EXPECT_FALSE(pMessage->Post()); });
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(log, (Log{"once"}));
  EXPECT_EQ(deaths, 3);
  EXPECT_EQ(trace.Count(), 5u);
}

TEST(EventQueue, DestroyedQueueDisposesOfWhatIsLeft) {
  int deaths = 0;
  CTestMessage kept(nullptr, &deaths, true);
  {
    TTestApp app;
    (new CTestMessage(nullptr, &deaths))->Post();
    kept.Post();
    (new CTestMessage(nullptr, &deaths))->Post();
  }
  EXPECT_EQ(deaths, 2);
  EXPECT_FALSE(kept.IsQueued());
  EXPECT_EQ(CEventQueue::Current(), nullptr);
}

TEST(EventQueueThreads, ManyPostersDeliverEverythingOnceInOrder) {
  TTestApp app;
  constexpr int kThreads = 6;
  constexpr int kPerThread = 400;
  std::vector<std::vector<int>> received(kThreads);
  std::atomic<int> total{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i)
        EXPECT_TRUE((new CTestMessage([&, t, i] {
                       received[t].push_back(i);
                       ++total;
                     }))->Post());
    });
  // The UI thread runs wake-ups as they come while the workers post; a lost
  // wake-up would leave messages behind and end in the deadline.
  auto deadline = std::chrono::steady_clock::now() + support::kHangLimit;
  while (total < kThreads * kPerThread && std::chrono::steady_clock::now() < deadline) {
    if (!app.DeliverWakeUp()) std::this_thread::yield();
  }
  for (auto& w : workers) w.join();
  ASSERT_EQ(total, kThreads * kPerThread);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(received[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(received[t][i], i);
  }
  // Never more than one wake-up was waiting at a time: no storm.
  EXPECT_EQ(app.nMaxPending, 1);
}

// ---------------------------------------------------------------------------
// Channels

struct TPair {
  int a = 0;
  int b = 0;
};
struct TestCountEvent { using TPayload = int32_t; };
struct TestOtherEvent { using TPayload = int32_t; };
struct TestPairEvent { using TPayload = TPair; };

// A listener of TestCountEvent that logs its name and runs an action.
class CNamedListener : public CEventListenerFor<TestCountEvent> {
 public:
  CNamedListener(std::string name, Log* pLog) : m_name(std::move(name)), m_pLog(pLog) {}
  std::function<void(int32_t)> action;

 protected:
  void HandleEvent(const int32_t& nValue) override {
    m_pLog->push_back(m_name);
    if (action) action(nValue);
  }

 private:
  std::string m_name;
  Log* m_pLog;
};

TEST(CEvent, InstancePerTypeRegisteredInTheApplication) {
  TTestApp app;
  CEvent* pCount = CEvent::Instance<TestCountEvent>();
  ASSERT_NE(pCount, nullptr);
  EXPECT_EQ(CEvent::Instance<TestCountEvent>(), pCount);
  EXPECT_NE(CEvent::Instance<TestOtherEvent>(), pCount);
  EXPECT_EQ(app.registry.FindObject(TEventChannelId<TestCountEvent>::s_nId), pCount);
  EXPECT_EQ(app.registry.Count(), 2u);
}

TEST(CEvent, ChangesDuringTheWalk) {
  struct TCase {
    const char* what;
    std::function<void(CNamedListener&, CNamedListener&, CNamedListener&, CNamedListener&)> setUp;
    Log expected;
  };
  const std::vector<TCase> cases = {
      {"self unsubscription keeps the next one",
       [](CNamedListener& a, CNamedListener&, CNamedListener&, CNamedListener&) {
         a.action = [&](int32_t) { a.Unsubscribe(); };
       },
       {"a", "b", "c"}},
      {"unsubscribing the next one skips it",
       [](CNamedListener& a, CNamedListener& b, CNamedListener&, CNamedListener&) {
         a.action = [&](int32_t) { b.Unsubscribe(); };
       },
       {"a", "c"}},
      {"unsubscribing itself and the next one",
       [](CNamedListener& a, CNamedListener& b, CNamedListener&, CNamedListener&) {
         a.action = [&](int32_t) {
           a.Unsubscribe();
           b.Unsubscribe();
         };
       },
       {"a", "c"}},
      {"subscribed during the walk is reached",
       [](CNamedListener& a, CNamedListener&, CNamedListener&, CNamedListener& d) {
         a.action = [&](int32_t) { d.Subscribe(); };
       },
       {"a", "b", "c", "d"}},
      {"the last one leaves and subscribes another",
       [](CNamedListener&, CNamedListener&, CNamedListener& c, CNamedListener& d) {
         c.action = [&](int32_t) {
           c.Unsubscribe();
           d.Subscribe();
         };
       },
       {"a", "b", "c", "d"}},
      {"a second subscription is ignored",
       [](CNamedListener& a, CNamedListener&, CNamedListener&, CNamedListener&) {
         a.action = [&](int32_t) { a.Subscribe(); };
       },
       {"a", "b", "c"}},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    TTestApp app;
    Log log;
    CNamedListener a("a", &log), b("b", &log), c("c", &log), d("d", &log);
    a.Subscribe();
    b.Subscribe();
    c.Subscribe();
    tc.setUp(a, b, c, d);
    EXPECT_EQ(CEvent::FireEvent<TestCountEvent>(1), 0);
    EXPECT_EQ(log, tc.expected);
  }
}

TEST(CEvent, ListenerDestroyedDuringTheWalkIsSkipped) {
  TTestApp app;
  Log log;
  CNamedListener a("a", &log), c("c", &log);
  auto b = std::make_unique<CNamedListener>("b", &log);
  a.Subscribe();
  b->Subscribe();
  c.Subscribe();
  a.action = [&](int32_t) { b.reset(); };
  CEvent::FireEvent<TestCountEvent>(0);
  EXPECT_EQ(log, (Log{"a", "c"}));
  EXPECT_EQ(CEvent::Instance<TestCountEvent>()->ListenerCount(), 2u);
}

TEST(CEvent, NestedFireRemovingTheOuterWalksNextListener) {
  TTestApp app;
  Log log;
  CNamedListener a("a", &log), b("b", &log), c("c", &log);
  a.Subscribe();
  b.Subscribe();
  c.Subscribe();
  // a fires the channel again; in the inner walk b leaves. The outer walk,
  // standing on a, must go on with c.
  a.action = [&](int32_t depth) {
    if (depth == 0) CEvent::FireEvent<TestCountEvent>(1);
  };
  b.action = [&](int32_t) { b.Unsubscribe(); };
  CEvent::FireEvent<TestCountEvent>(0);
  EXPECT_EQ(log, (Log{"a", "a", "b", "c", "c"}));

  // The inner walk removing the listener the outer walk is calling.
  log.clear();
  b.Subscribe();  // a, c, b
  b.action = nullptr;
  c.action = [&](int32_t depth) {
    if (depth == 0) {
      CEvent::FireEvent<TestCountEvent>(1);
    } else {
      c.Unsubscribe();
    }
  };
  a.action = nullptr;
  CEvent::FireEvent<TestCountEvent>(0);
  EXPECT_EQ(log, (Log{"a", "c", "a", "c", "b", "b"}));
}

TEST(CEvent, FailingListenersDoNotStopTheWalk) {
  struct TCase {
    std::vector<int32_t> throws;  // per listener; 0 = succeeds
    int32_t expected;
  };
  const std::vector<TCase> cases = {
      {{0, 0, 0}, 0}, {{7, 0, 0}, 7}, {{0, 0, 5}, 5}, {{7, 0, 5}, 6}, {{7, 7, 7}, 6},
  };
  for (const TCase& tc : cases) {
    TTestApp app;
    Log log;
    std::vector<std::unique_ptr<CNamedListener>> listeners;
    for (size_t i = 0; i < tc.throws.size(); ++i) {
      listeners.push_back(std::make_unique<CNamedListener>(std::to_string(i), &log));
      int32_t code = tc.throws[i];
      listeners.back()->action = [code](int32_t) {
        if (code) Env::ThrowError(code);
      };
      listeners.back()->Subscribe();
    }
    EXPECT_EQ(CEvent::FireEvent<TestCountEvent>(0), tc.expected);
    EXPECT_EQ(log.size(), tc.throws.size());
  }
}

TEST(CEvent, APanicInAHandlerLeavesTheChannelUsable) {
  TTestApp app;
  Log log;
  CNamedListener a("a", &log), b("b", &log);
  a.Subscribe();
  b.Subscribe();
  a.action = [](int32_t v) {
    if (v == 0) QUOREL_PANIC(u"test", 1);
  };
  EXPECT_THROW(CEvent::FireEvent<TestCountEvent>(0), TPanic);
  // No stale walk is left behind: unsubscribing and firing behave normally.
  b.Unsubscribe();
  b.Subscribe();
  log.clear();
  CEvent::FireEvent<TestCountEvent>(1);
  EXPECT_EQ(log, (Log{"a", "b"}));
}

TEST(CEventFireMessage, CarriesItsPayloadToTheChannel) {
  TTestApp app;
  Log log;
  std::vector<int32_t> seen;
  CNamedListener a("a", &log);
  a.action = [&](int32_t v) {
    seen.push_back(v);
    if (v == 7) Env::ThrowError(7);
  };
  a.Subscribe();
  auto* pMessage = CEventFireMessage<TestCountEvent>::New();
  EXPECT_EQ(pMessage->Payload(), 0);
  EXPECT_FALSE(pMessage->IsQueued());
  EXPECT_FALSE(pMessage->IsKept());
  pMessage->Payload() = 42;
  std::thread([pMessage] { pMessage->Post(); }).join();
  auto* pFailing = CEventFireMessage<TestCountEvent>::New();
  pFailing->Payload() = 7;
  pFailing->Post();
  int32_t nCode = -1;
  app.DeliverWakeUp(&nCode);
  EXPECT_EQ(nCode, 0);
  app.DeliverWakeUp(&nCode);
  EXPECT_EQ(nCode, 7);  // the listener's code comes back through the queue
  EXPECT_EQ(seen, (std::vector<int32_t>{42, 7}));

  // A channel nobody listens to yet: created on the spot, nothing happens.
  auto* pOther = CEventFireMessage<TestOtherEvent>::New();
  pOther->Post();
  while (app.DeliverWakeUp(&nCode)) EXPECT_EQ(nCode, 0);
}

TEST(EventQueueThreads, KeptMessageUpdatedFromAWorkerWhileTheUiDispatchesIt) {
  TTestApp app;
  struct CPairListener : CEventListenerFor<TestPairEvent> {
    int nTorn = 0;
    int nSeen = 0;
    int nLast = 0;
    void HandleEvent(const TPair& p) override {
      ++nSeen;
      if (p.a != p.b) ++nTorn;
      nLast = p.a;
    }
  } listener;
  listener.Subscribe();
  std::unique_ptr<CEventFireMessage<TestPairEvent>> pProgress(
      CEventFireMessage<TestPairEvent>::New());
  pProgress->SetKept(true);
  constexpr int kUpdates = 2000;
  std::atomic<bool> bDone{false};
  std::thread worker([&] {
    for (int i = 1; i <= kUpdates; ++i)
      app.queue.UpdateAndPost(pProgress.get(), [&, i] {
        pProgress->Payload().a = i;
        pProgress->Payload().b = i;
      });
    bDone = true;
  });
  while (!bDone || app.nPendingWakeUps > 0) {
    if (!app.DeliverWakeUp()) std::this_thread::yield();
  }
  worker.join();
  while (app.DeliverWakeUp()) {
  }
  EXPECT_EQ(listener.nTorn, 0);
  EXPECT_GE(listener.nSeen, 1);
  EXPECT_EQ(listener.nLast, kUpdates);  // the last update is never lost
  EXPECT_FALSE(pProgress->IsQueued());
}

// ---------------------------------------------------------------------------
// The object registry and the lifetime of channels

class CCounted : public CObject {
 public:
  explicit CCounted(int* pDeaths) : m_pDeaths(pDeaths) {}
  ~CCounted() override { ++*m_pDeaths; }

 private:
  int* m_pDeaths;
};

TEST(CObjectRegistry, AddFindAndOwnership) {
  int deaths = 0;
  {
    CObjectRegistry registry;
    EXPECT_EQ(CObjectRegistry::Current(), &registry);
    auto* pFirst = new CCounted(&deaths);
    registry.AddObject(100, pFirst);
    EXPECT_EQ(registry.FindObject(100), pFirst);
    EXPECT_EQ(registry.FindObject(101), nullptr);
    CCounted duplicate(&deaths);
    try {
      registry.AddObject(100, &duplicate);
      ADD_FAILURE() << "a taken id was accepted";
    } catch (const Env::TSysErrorCode& e) {
      EXPECT_EQ(e.code, 3);
    }
    EXPECT_EQ(registry.FindObject(100), pFirst);

    int32_t nId = registry.RegisterNewObject(new CCounted(&deaths));
    EXPECT_NE(nId, -1);
    EXPECT_NE(registry.FindObject(nId), nullptr);
    EXPECT_EQ(deaths, 0);
  }
  EXPECT_EQ(deaths, 3);  // the two registered objects and the local duplicate
  EXPECT_EQ(CObjectRegistry::Current(), nullptr);
}

TEST(CEvent, ChannelsDieWithTheRegistryAndComeBackWithTheNext) {
  Log log;
  CNamedListener survivor("survivor", &log);
  {
    TTestApp app;
    survivor.Subscribe();
    EXPECT_NE(TEventChannelId<TestCountEvent>::s_nId, -1);
  }
  // The channel is gone: its id is reset and the listener left unsubscribed,
  // and destroying or unsubscribing the listener now touches nothing.
  EXPECT_EQ(TEventChannelId<TestCountEvent>::s_nId, -1);
  EXPECT_FALSE(survivor.IsSubscribed());
  survivor.Unsubscribe();

  TTestApp second;
  CEvent* pChannel = CEvent::Instance<TestCountEvent>();
  ASSERT_NE(pChannel, nullptr);
  EXPECT_EQ(pChannel->ListenerCount(), 0u);
  survivor.Subscribe();
  CEvent::FireEvent<TestCountEvent>(0);
  EXPECT_EQ(log, (Log{"survivor"}));
}

TEST(CEvent, InstanceWithoutAnApplicationPanics) {
  // The channel made for the attempt must not leak (checked under ASan).
  EXPECT_EQ(Panic([] { CEvent::Instance<TestOtherEvent>(); }),
            std::make_pair(std::u16string(u"Events"), 209));
  EXPECT_EQ(TEventChannelId<TestOtherEvent>::s_nId, -1);
  CTraceCapture trace;  // and a listener destroyed without one is quiet
  { CNamedListener idle("idle", nullptr); }
  EXPECT_EQ(trace.Count(), 0u);
}

}  // namespace
