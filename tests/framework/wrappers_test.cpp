#include "framework/wrappers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/basetypes.h"

namespace {

// A delegate whose call runs a test-supplied action and records its name.
struct TProbe {
  std::string name;
  std::vector<std::string>* pLog = nullptr;
  std::function<void()> action;
  CDelegate delegate;

  TProbe(std::string n, std::vector<std::string>* log) : name(std::move(n)), pLog(log) {
    delegate.Bind(this, nullptr, [](CDelegate*, void* pObject, void*) {
      auto* self = static_cast<TProbe*>(pObject);
      self->pLog->push_back(self->name);
      if (self->action) self->action();
    });
  }
};

int PanicLine(const std::function<void()>& f) {
  try {
    f();
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source), u"wrappers");
    return p.line;
  }
  return -1;
}

using Log = std::vector<std::string>;

TEST(CDelegateList, InvokesInOrderWithBoundArgument) {
  struct TTarget {
    int calls = 0;
    void* seen = nullptr;
    void Plain() { ++calls; }
    void WithArg(void* p) { seen = p; }
  } target;
  int token = 0;
  CDelegate plain = CDelegate::Member<&TTarget::Plain>(&target);
  CDelegate withArg = CDelegate::Member<&TTarget::WithArg>(&target, &token);
  CDelegate empty;  // linked but unbound: skipped without harm
  CDelegateList list;
  list.Add(&plain);
  list.Add(&empty);
  list.Add(&withArg);
  list.Invoke();
  EXPECT_EQ(target.calls, 1);
  EXPECT_EQ(target.seen, &token);
  EXPECT_EQ(list.Head(), &plain);
  EXPECT_EQ(list.Tail(), &withArg);
}

TEST(CDelegateList, ChangesDuringTheWalk) {
  struct TCase {
    const char* what;
    std::function<void(CDelegateList&, TProbe&, TProbe&, TProbe&, TProbe&)> setUp;
    Log expected;
  };
  const std::vector<TCase> cases = {
      {"self removal keeps the next one",
       [](CDelegateList& l, TProbe& a, TProbe&, TProbe&, TProbe&) {
         a.action = [&] { l.Remove(&a.delegate); };
       },
       {"a", "b", "c"}},
      {"removing the next one skips it",
       [](CDelegateList& l, TProbe& a, TProbe& b, TProbe&, TProbe&) {
         a.action = [&] { l.Remove(&b.delegate); };
       },
       {"a", "c"}},
      {"removing an earlier one changes nothing ahead",
       [](CDelegateList& l, TProbe& a, TProbe& b, TProbe&, TProbe&) {
         b.action = [&] { l.Remove(&a.delegate); };
       },
       {"a", "b", "c"}},
      {"added in the middle of the walk is reached",
       [](CDelegateList& l, TProbe& a, TProbe&, TProbe&, TProbe& d) {
         a.action = [&] { l.Add(&d.delegate); };
       },
       {"a", "b", "c", "d"}},
      {"added by the last one is reached",
       [](CDelegateList& l, TProbe&, TProbe&, TProbe& c, TProbe& d) {
         c.action = [&] { l.Add(&d.delegate); };
       },
       {"a", "b", "c", "d"}},
      {"last one removes itself and adds another",
       [](CDelegateList& l, TProbe&, TProbe&, TProbe& c, TProbe& d) {
         c.action = [&] {
           l.Remove(&c.delegate);
           l.Add(&d.delegate);
         };
       },
       {"a", "b", "c", "d"}},
      {"clear ends the walk",
       [](CDelegateList& l, TProbe& a, TProbe&, TProbe&, TProbe&) {
         a.action = [&] { l.Clear(); };
       },
       {"a"}},
      {"detach of the next one skips it",
       [](CDelegateList&, TProbe& a, TProbe&, TProbe& c, TProbe&) {
         a.action = [&] { c.delegate.Detach(); };
       },
       {"a", "b"}},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    Log log;
    TProbe a("a", &log), b("b", &log), c("c", &log), d("d", &log);
    CDelegateList list;
    list.Add(&a.delegate);
    list.Add(&b.delegate);
    list.Add(&c.delegate);
    tc.setUp(list, a, b, c, d);
    list.Invoke();
    EXPECT_EQ(log, tc.expected);
  }
}

TEST(CDelegateList, OwnershipChecksPanic) {
  CDelegateList list, other;
  CDelegate d, loose;
  list.Add(&d);
  EXPECT_EQ(PanicLine([&] { list.Add(&d); }), 624);
  EXPECT_EQ(PanicLine([&] { other.Add(&d); }), 624);
  EXPECT_EQ(PanicLine([&] { other.Remove(&d); }), 639);
  EXPECT_EQ(PanicLine([&] { list.Remove(&loose); }), 639);
  // The failed calls changed nothing.
  EXPECT_EQ(d.List(), &list);
  EXPECT_TRUE(other.IsEmpty());
  list.Remove(&d);
  EXPECT_FALSE(d.IsLinked());
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Tail(), nullptr);
}

TEST(CDelegateList, NestedWalkRemovingTheOuterWalksNextDelegate) {
  // Outer walk: a (which runs an inner walk), then b, then c. The inner walk's
  // b removes itself, so the outer walk must go on with c, not end or call b.
  Log log;
  TProbe a("a", &log), b("b", &log), c("c", &log);
  CDelegateList list;
  list.Add(&a.delegate);
  list.Add(&b.delegate);
  list.Add(&c.delegate);
  bool nested = false;
  a.action = [&] {
    if (nested) return;
    nested = true;
    list.Invoke();
  };
  b.action = [&] { list.Remove(&b.delegate); };
  list.Invoke();
  EXPECT_EQ(log, (Log{"a", "a", "b", "c", "c"}));
  EXPECT_EQ(list.Head(), &a.delegate);
  EXPECT_EQ(list.Tail(), &c.delegate);
}

TEST(CDelegateList, NestedWalkThatRunsToTheEndLeavesTheOuterWalkGoing) {
  Log log;
  TProbe a("a", &log), b("b", &log), c("c", &log), d("d", &log);
  CDelegateList list;
  list.Add(&a.delegate);
  list.Add(&b.delegate);
  list.Add(&c.delegate);
  int depth = 0;
  b.action = [&] {
    if (depth++ == 0) list.Invoke();
  };
  // The inner walk adds d from its last delegate; both walks reach it.
  c.action = [&] {
    if (!d.delegate.IsLinked()) list.Add(&d.delegate);
  };
  list.Invoke();
  EXPECT_EQ(log, (Log{"a", "b", "a", "b", "c", "d", "c", "d"}));
}

TEST(CDelegateList, AThrowingCalleeEndsOnlyItsOwnWalk) {
  Log log;
  TProbe a("a", &log), b("b", &log), c("c", &log);
  CDelegateList list;
  list.Add(&a.delegate);
  list.Add(&b.delegate);
  list.Add(&c.delegate);
  bool nested = false;
  int bThrows = 1;
  a.action = [&] {
    if (nested) return;
    nested = true;
    EXPECT_THROW(list.Invoke(), Env::TSysErrorCode);
    // The inner frame is gone: this removal must move the outer walk's
    // cursor only, and the outer walk goes on with b.
    list.Remove(&c.delegate);
  };
  b.action = [&] {
    if (bThrows-- > 0) Env::ThrowError(7);
  };
  list.Invoke();
  EXPECT_EQ(log, (Log{"a", "a", "b", "b"}));

  // A throw out of the outermost walk leaves the list ready for the next one.
  log.clear();
  bThrows = 1;
  nested = true;
  EXPECT_THROW(list.Invoke(), Env::TSysErrorCode);
  list.Add(&c.delegate);
  list.Invoke();
  EXPECT_EQ(log, (Log{"a", "b", "a", "b", "c"}));
}

TEST(CDelegateList, DestructorsUnlink) {
  Log log;
  CDelegateList list;
  TProbe a("a", &log), c("c", &log);
  auto b = std::make_unique<TProbe>("b", &log);
  list.Add(&a.delegate);
  list.Add(&b->delegate);
  list.Add(&c.delegate);
  // A delegate destroyed by a callee before its turn is skipped.
  a.action = [&] { b.reset(); };
  list.Invoke();
  EXPECT_EQ(log, (Log{"a", "c"}));
  EXPECT_EQ(a.delegate.List(), &list);
  EXPECT_EQ(list.Tail(), &c.delegate);

  // A list destroyed by a callee ends the walk; its delegates are free again.
  log.clear();
  list.Clear();
  auto owned = std::make_unique<CDelegateList>();
  owned->Add(&a.delegate);
  owned->Add(&c.delegate);
  a.action = [&] { owned.reset(); };
  CDelegateList* raw = owned.get();
  raw->Invoke();
  EXPECT_EQ(log, (Log{"a"}));
  EXPECT_FALSE(a.delegate.IsLinked());
  EXPECT_FALSE(c.delegate.IsLinked());
  list.Add(&c.delegate);  // no panic: really unlinked
  EXPECT_EQ(list.Head(), &c.delegate);
}

TEST(CDelegate, CopiesTakeTheBindingButNotTheLinks) {
  int hits = 0;
  CDelegate original(&hits, nullptr, [](CDelegate*, void* p, void*) { ++*static_cast<int*>(p); });
  CDelegateList list;
  list.Add(&original);
  CDelegate copy(original);
  EXPECT_FALSE(copy.IsLinked());
  EXPECT_EQ(copy.Object(), &hits);
  CDelegate target;
  CDelegateList other;
  other.Add(&target);
  target = original;
  EXPECT_EQ(target.List(), &other);  // keeps its own membership
  EXPECT_EQ(original.List(), &list);
  other.Invoke();
  copy.Call();
  EXPECT_EQ(hits, 2);
}

TEST(CArmedDelegate, DisconnectRunsOnceAndUnlinks) {
  struct TState {
    int calls = 0;
    void* arg = nullptr;
  } state;
  auto invoker = [](CDelegate*, void* p, void* arg) {
    auto* s = static_cast<TState*>(p);
    ++s->calls;
    s->arg = arg;
  };
  CDelegateList list;
  CArmedDelegate armed(&state, nullptr, invoker);
  armed.Arm();
  list.Add(&armed);
  int token = 0;
  armed.Disconnect(&token);
  EXPECT_EQ(state.calls, 1);
  EXPECT_EQ(state.arg, &token);
  EXPECT_FALSE(armed.IsArmed());
  EXPECT_FALSE(armed.IsLinked());
  armed.Disconnect(&token);
  EXPECT_EQ(state.calls, 1);

  // Never armed: nothing is called, but the delegate still leaves its list.
  CArmedDelegate idle(&state, nullptr, invoker);
  list.Add(&idle);
  idle.Disconnect(nullptr);
  EXPECT_EQ(state.calls, 1);
  EXPECT_TRUE(list.IsEmpty());

  // A throwing disconnect function still leaves it disarmed and unlinked.
  CArmedDelegate thrower(nullptr, nullptr, [](CDelegate*, void*, void*) { Env::ThrowError(5); });
  thrower.Arm();
  list.Add(&thrower);
  EXPECT_THROW(thrower.Disconnect(nullptr), Env::TSysErrorCode);
  EXPECT_FALSE(thrower.IsArmed());
  EXPECT_FALSE(thrower.IsLinked());
}

// A counted value that reports its destruction and may hold another value.
class CValue : public RCObject {
 public:
  explicit CValue(int* pDeaths) : m_pDeaths(pDeaths) {}
  CValue(const CValue& other) : RCObject(other), m_pDeaths(other.m_pDeaths) {}
  ~CValue() override {
    RefPtr::Assign(m_pChild, static_cast<CValue*>(nullptr));
    ++*m_pDeaths;
  }
  CValue* m_pChild = nullptr;

 private:
  int* m_pDeaths;
};

TEST(RefPtr, AssignCountsAndDeletesAtZero) {
  int deaths = 0;
  CValue* pSlotA = nullptr;
  CValue* pSlotB = nullptr;
  auto* pValue = new CValue(&deaths);
  EXPECT_EQ(pValue->ReferenceCount(), 0);
  EXPECT_TRUE(pValue->isShareable());
  RefPtr::Assign(pSlotA, pValue);
  RefPtr::Assign(&pSlotB, pValue);
  EXPECT_EQ(pValue->ReferenceCount(), 2);

  // The same object into the slot that holds it: nothing changes.
  RefPtr::Assign(pSlotA, pSlotA);
  RefPtr::Assign(pSlotB, pValue);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(pValue->ReferenceCount(), 2);

  RefPtr::Assign(pSlotA, static_cast<CValue*>(nullptr));
  EXPECT_EQ(pSlotA, nullptr);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(pValue->ReferenceCount(), 1);

  auto* pOther = new CValue(&deaths);
  RefPtr::Assign(pSlotB, pOther);  // the last reference to the first value goes
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(pSlotB, pOther);
  RefPtr::Assign(pSlotB, static_cast<CValue*>(nullptr));
  EXPECT_EQ(deaths, 2);
}

TEST(RefPtr, AssigningAValueKeptAliveOnlyByTheOldOneIsSafe) {
  // slot -> parent -> child; moving the child into the slot frees the parent,
  // whose destructor drops the child's other reference.
  int deaths = 0;
  CValue* pSlot = nullptr;
  auto* pParent = new CValue(&deaths);
  auto* pChild = new CValue(&deaths);
  RefPtr::Assign(pSlot, pParent);
  RefPtr::Assign(pParent->m_pChild, pChild);
  RefPtr::Assign(pSlot, pParent->m_pChild);
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(pSlot, pChild);
  EXPECT_EQ(pChild->ReferenceCount(), 1);
  RefPtr::Assign(pSlot, static_cast<CValue*>(nullptr));
  EXPECT_EQ(deaths, 2);
}

TEST(RCObject, CopyStartsUnreferenced) {
  int deaths = 0;
  CValue* pSlot = nullptr;
  RefPtr::Assign(pSlot, new CValue(&deaths));
  auto* pCopy = new CValue(*pSlot);
  EXPECT_EQ(pCopy->ReferenceCount(), 0);
  EXPECT_EQ(pSlot->ReferenceCount(), 1);
  pCopy->removeReference();  // an unreferenced value goes at once
  EXPECT_EQ(deaths, 1);
  RefPtr::Assign(pSlot, static_cast<CValue*>(nullptr));
  EXPECT_EQ(deaths, 2);
}

TEST(RCObject, ReleasesFromSeveralThreadsDeleteExactlyOnce) {
  int deaths = 0;
  auto* pValue = new CValue(&deaths);
  constexpr int kHolders = 8;
  for (int i = 0; i < kHolders; ++i) pValue->addReference();
  std::vector<std::thread> threads;
  for (int i = 0; i < kHolders; ++i) threads.emplace_back([pValue] { pValue->removeReference(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(deaths, 1);
}

}  // namespace
