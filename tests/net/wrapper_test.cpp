// Request handles and the session, on the UI thread (the test's main
// thread), over a running core.
#include "net/HTTPWrapper.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "CoreHarness.h"
#include "Exchanges.h"
#include "tests/support/Waits.h"

namespace nettest {
namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new TQuietTrace);

// The owner of a handle: records the statuses its callback saw, then runs an
// optional action (which may destroy or reuse the handle).
struct TOwner {
  CHTTPRequest* pHandle = nullptr;
  std::vector<int32_t> seen;
  std::function<void()> action;
  void OnStatus() {
    seen.push_back(pHandle->LastStatus());
    if (action) action();
  }
  void Bind(CHTTPRequest* p) {
    pHandle = p;
    p->SetCallback(CDelegate::Member<&TOwner::OnStatus>(this));
  }
};

template <class E>
struct TRecord : CEventListenerFor<E> {
  std::vector<typename E::TPayload> seen;
  TRecord() { this->Subscribe(); }
  void HandleEvent(const typename E::TPayload& p) override { seen.push_back(p); }
};

class WrapperTest : public CoreTest {
 protected:
  void SetUp() override {
    Build();
    CHTTPSession::SetIdentitySource([] { return plat::WString(u"AppNumber=10 test"); });
    m_pSession = CHTTPSession::Create(m_core.get());
  }
  void TearDown() override {
    if (m_pSession) {
      m_pSession->Release();
      delete m_pSession;
    }
    m_app.RunAll();
    CHTTPSession::SetIdentitySource({});
    CoreTest::TearDown();
  }
  // An event of the core as the forwarder delivers it.
  void Deliver(int32_t id, int32_t code) { CEvent::FireEvent<HTTPForwardedEvent>(THTTPForwarded{id, code}); }
  std::u16string Url() { return CoreTest::Url(m_server.Port()); }

  TTestApp m_app;
  CLoopbackServer m_server;
  CHTTPSession* m_pSession = nullptr;
};

TEST_F(WrapperTest, ARequestFromOpenToItsBody) {
  TRecord<HttpActivityEvent> activity;
  TRecord<NetworkStateEvent> network;
  m_server.Add(Reply({Counted(kBody)}));
  CHTTPRequest request;
  TOwner owner;
  owner.Bind(&request);
  owner.action = [&] {
    if (request.LastStatus() == EHttpComplete) request.Close();
  };
  request.Open(m_pSession, EHttpGet, Url());
  EXPECT_TRUE(request.IsOpen());
  request.Start();
  support::PollUntil([&] {
    m_app.RunAll();
    return !request.IsOpen();
  }, 0, std::chrono::milliseconds(2));
  m_app.RunAll();
  ASSERT_FALSE(request.IsOpen());
  ASSERT_GE(owner.seen.size(), 4u);
  EXPECT_EQ(std::vector<int32_t>(owner.seen.begin(), owner.seen.begin() + 3), (std::vector<int32_t>{1, 3, 4}));
  EXPECT_EQ(owner.seen.back(), EHttpComplete);
  EXPECT_EQ(request.LastStatus(), EHttpRequestClosed);  // told, but not called back
  ASSERT_NE(request.BodySink(), nullptr);
  EXPECT_EQ(std::string(request.BodySink()->GetData(), kBody.size()), kBody);
  EXPECT_EQ(activity.seen, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(network.seen, (std::vector<uint8_t>{1}));
  EXPECT_EQ(m_server.Requests().at(0), "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_server.Port()) +
                                           "\r\nUser-Agent: AppNumber=10 test\r\n\r\n");
}

TEST_F(WrapperTest, SharedHandlesBothHearEverythingAndBothGetTheBody) {
  CHTTPRequest first, second;
  TOwner a, b;
  a.Bind(&first);
  first.Open(m_pSession, EHttpGet, Url());
  second.Assign(first);
  b.Bind(&second);
  int32_t id = first.Id();
  EXPECT_EQ(second.Id(), id);
  Deliver(id, 3);
  Deliver(id, 3);  // the same status again calls nobody
  Deliver(id, 4);
  Deliver(id, 8);  // network events reach no handle
  Deliver(id, 9);
  Deliver(id + 100, 5);  // nor do events of ids not open here
  EXPECT_EQ(a.seen, (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(b.seen, (std::vector<int32_t>{3, 4}));
  second.Close();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_FALSE(second.IsOpen());
  ASSERT_NE(first.BodySink(), nullptr);
  EXPECT_EQ(first.BodySink(), second.BodySink());
  EXPECT_EQ(first.BodySink()->ReferenceCount(), 2);
  EXPECT_EQ(a.seen, (std::vector<int32_t>{3, 4}));  // 27 calls nobody
  EXPECT_EQ(m_pSession->OpenCount(), 0);
  second.Close();  // a detached handle: nothing
}

TEST_F(WrapperTest, CallbacksMayDestroyCloseOrReuseHandlesDuringAWalk) {
  // Destroying its own handle: the others are told exactly once.
  {
    auto* pDoomed = new CHTTPRequest();
    CHTTPRequest middle, last;
    TOwner doomed, m, l;
    doomed.Bind(pDoomed);
    pDoomed->Open(m_pSession, EHttpGet, Url());
    middle.Assign(*pDoomed);
    last.Assign(*pDoomed);
    m.Bind(&middle);
    l.Bind(&last);
    doomed.action = [&] { delete pDoomed; };
    Deliver(middle.Id(), 3);
    EXPECT_EQ(doomed.seen, (std::vector<int32_t>{3}));
    EXPECT_EQ(m.seen, (std::vector<int32_t>{3}));
    EXPECT_EQ(l.seen, (std::vector<int32_t>{3}));
  }
  // Closing on 6 while another handle shares the id: that one ends with 27,
  // silently, and holds the body.
  {
    CHTTPRequest closer, other;
    TOwner c, o;
    c.Bind(&closer);
    closer.Open(m_pSession, EHttpGet, Url());
    other.Assign(closer);
    o.Bind(&other);
    c.action = [&] {
      if (closer.LastStatus() == EHttpComplete) closer.Close();
    };
    Deliver(closer.Id(), EHttpComplete);
    EXPECT_EQ(c.seen, (std::vector<int32_t>{6}));
    EXPECT_EQ(o.seen, (std::vector<int32_t>{}));
    EXPECT_EQ(other.LastStatus(), EHttpRequestClosed);
    EXPECT_NE(other.BodySink(), nullptr);
  }
  // Reusing its own handle for a new request.
  {
    CHTTPRequest reused, stays;
    TOwner r, s;
    r.Bind(&reused);
    reused.Open(m_pSession, EHttpGet, Url());
    stays.Assign(reused);
    s.Bind(&stays);
    int32_t oldId = reused.Id();
    CHTTPRequest fresh;
    r.action = [&] {
      fresh.Open(m_pSession, EHttpGet, Url());
      reused.Assign(fresh);
      r.action = nullptr;
    };
    Deliver(oldId, 3);
    EXPECT_EQ(reused.Id(), fresh.Id());
    EXPECT_NE(reused.Id(), oldId);
    EXPECT_EQ(s.seen, (std::vector<int32_t>{3}));
    // It took the new request's status and (empty) callback with it.
    Deliver(fresh.Id(), 4);
    EXPECT_EQ(r.seen, (std::vector<int32_t>{3}));
    EXPECT_EQ(reused.LastStatus(), 4);
  }
  EXPECT_EQ(m_pSession->OpenCount(), 0);
}

TEST_F(WrapperTest, TheLastHandleGoingClosesTheConnection) {
  TRecord<HttpActivityEvent> activity;
  auto pHandle = std::make_unique<CHTTPRequest>();
  pHandle->Open(m_pSession, EHttpGet, Url());
  int32_t id = pHandle->Id();
  {
    CHTTPRequest copy;
    copy.Assign(*pHandle);
  }  // not the last: nothing closes
  EXPECT_EQ(m_pSession->OpenCount(), 1);
  pHandle.reset();
  EXPECT_EQ(m_pSession->OpenCount(), 0);
  EXPECT_EQ(m_core->Start(id), -1);  // the core's slot is closed
  m_app.RunAll();
  EXPECT_EQ(activity.seen, (std::vector<int32_t>{1, 0}));
}

TEST_F(WrapperTest, RefusedOpensLeaveTheHandleDetached) {
  std::vector<std::unique_ptr<CHTTPRequest>> handles;
  for (int i = 0; i < CHTTPCore::kSlotCount; ++i) {
    handles.push_back(std::make_unique<CHTTPRequest>());
    handles.back()->Open(m_pSession, EHttpGet, Url());
  }
  for (const char16_t* url : {u"http://127.0.0.1/", u"https://127.0.0.1/"}) {
    CHTTPRequest refused;
    try {
      refused.Open(m_pSession, EHttpGet, url);
      ADD_FAILURE() << "no exception";
    } catch (const Env::TSysErrorCode& e) {
      EXPECT_EQ(e.code, 7);
    }
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(refused.Id(), -1);
  }
  CHTTPRequest detached;
  try {
    detached.Start();
    ADD_FAILURE() << "no panic";
  } catch (const TPanic& panic) {
    EXPECT_EQ(plat::WString(panic.source), u"HTTPWrapper");
    EXPECT_EQ(panic.line, 147);
  }
  EXPECT_EQ(detached.GetStatus(), 0);
  detached.SetHeader(u"A", u"b");  // nothing to pass it to
}

TEST_F(WrapperTest, ShutDownTellsEveryOpenRequest) {
  CHTTPRequest one, two, shared;
  TOwner a, b, c;
  a.Bind(&one);
  b.Bind(&two);
  one.Open(m_pSession, EHttpGet, Url());
  two.Open(m_pSession, EHttpGet, Url());
  shared.Assign(two);
  c.Bind(&shared);
  m_pSession->Release();
  EXPECT_EQ(a.seen, (std::vector<int32_t>{26}));
  EXPECT_EQ(b.seen, (std::vector<int32_t>{26}));
  EXPECT_EQ(c.seen, (std::vector<int32_t>{26}));
  EXPECT_FALSE(one.IsOpen());
  CHTTPRequest late;
  try {
    late.Open(m_pSession, EHttpGet, Url());
    ADD_FAILURE() << "no panic";
  } catch (const TPanic& panic) {
    EXPECT_EQ(panic.line, 274);
  }
  delete m_pSession;
  m_pSession = nullptr;
}

}  // namespace
}  // namespace nettest
