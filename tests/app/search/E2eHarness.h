// The application with its real HTTP core against one in-process protocol
// test server per test process (strict requests, one-second previews),
// reset before every case. Requests go out in origin form, or through the
// server as their proxy.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "AppHarness.h"
#include "TestRecorder.h"
#include "framework/AppRegistry.h"
#include "net/HTTPWrapper.h"
#include "platform/kernel/Clock.h"
#include "platform/net/Net.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"
#include "tests/support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

namespace searchtest {

class E2eHarness : public AppHarness {
 protected:
  static void SetUpTestSuite() {
    s_server = new qpstest::ServerHarness(qpstest::TestOptions());
    s_server->Server().SetAnsweredHook(&E2eHarness::OnAnswered);
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }

  // Before the application sends a request: under the virtual clock, time
  // stands still from here until the server has answered it. The server runs
  // on host threads that a loaded machine may starve for longer than any
  // quiet stretch of the socket reactor, and a time-out of the program's must
  // not run out on an answer that is merely late. A deliberate stall or delay
  // releases the hold, so those still meet the program's time-outs.
  // Exchanges are answered in the order they were asked for. No effect on
  // the real clock.
  static void OweAnswer() {
    if (!plat::ClockIsVirtual()) return;
    std::lock_guard<std::mutex> lock(s_owedLock);
    s_owed.push_back(std::make_unique<plat::ClockBusyScope>());
  }
  static void OnAnswered() {
    std::lock_guard<std::mutex> lock(s_owedLock);
    if (s_owed.empty()) return;
    // What was written is taken before time moves on.
    plat::NotePeerActivity();
    s_owed.pop_front();
  }
  static void ForgiveAnswers() {
    std::lock_guard<std::mutex> lock(s_owedLock);
    s_owed.clear();
  }

  // A reset server, the application with its services on the real clock
  // (or the virtual one when asked), the identity line the server accepts, the base URLs and a recorder that
  // uploads `toneHz` for 5.2 seconds.
  void StartApp(bool bProxy = false, THTTPCoreTimings timings = {}, double toneHz = 440, bool bVirtualClock = false) {
    // The last case's exchanges end (and are logged) before the reset.
    support::PollUntil([] { return s_server->Server().ActiveConnections() == 0; });
    Control("/_ctl/reset");
    CHTTPSession::SetIdentitySource([] { return plat::Widen(qpstest::kUserAgent); });
    MakeApp(bVirtualClock, true, timings, [&] {
      m_connMgr = std::make_unique<plat::SimConnMgr>();
      plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
      const plat::WString base = plat::Widen(Base());
      for (const char16_t* name : {u"url", u"singurl", u"graburl"}) RegSetAppString(name, base);
      if (bProxy) RegSetAppString(u"proxy", plat::Widen(s_server->Authority()));
    });
    SetLangCodes({u"all", u"en", u"de", u"fr", u"ja", u"pt_BR"});
    std::vector<std::string> frames = qpstest::EncodeTone(toneHz, 5.2);
    qpstest::ClientRequest upload = qpstest::SearchUpload(Port(), frames, true);
    std::string counted = qpstest::CountedBody(frames);
    m_pUploadError = std::make_shared<std::atomic<int32_t>>(0);
    SetSearchRecorderFactory([upload, counted, pError = m_pUploadError] {
      return std::make_unique<TTestRecorder>(CQuorelAppUi::HTTPCore(), upload.pieces, counted, pError);
    });
  }
  void TearDown() override {
    ForgiveAnswers();
    AppHarness::TearDown();
    m_connMgr.reset();
    CHTTPSession::SetIdentitySource(nullptr);
  }

  static int Port() { return s_server->Port(); }
  static std::string Base() { return s_server->Base(); }
  // A control request; its body.
  static std::string Control(const std::string& target) {
    qpstest::Response r = qpstest::ParseResponse(qpstest::Fetch(
        Port(), "GET " + target + " HTTP/1.1\r\nHost: " + s_server->Authority() + "\r\n\r\n"));
    EXPECT_EQ(200, r.status) << target << ": " << r.body;
    return r.body;
  }
  static void Inject(const std::string& route, const std::string& fault, const std::string& arg = "", int count = 1) {
    Control("/_ctl/inject?route=" + route + "&fault=" + fault + (arg.empty() ? "" : "&arg=" + arg) +
            "&count=" + std::to_string(count));
  }
  // The client requests logged since the last reset.
  static std::vector<std::string> Requests() { return s_server->Log(); }
  static size_t CountRequests(const std::string& part) {
    size_t n = 0;
    for (const std::string& entry : Requests()) n += entry.find(part) != std::string::npos;
    return n;
  }
  // The server logs an exchange once it has delivered the reply, which may
  // be after the client has it.
  static bool WaitForRequests(size_t count) {
    return support::PollUntil([count] { return Requests().size() >= count; });
  }
  // Every logged request was as the client must send it.
  static void ExpectNoViolation() {
    for (const std::string& entry : Requests()) EXPECT_EQ("[]", qpstest::JsonField(entry, "violations")) << entry;
  }
  // A resource fetched straight from the server: its body.
  static std::string Raw(const std::string& target) {
    return qpstest::ParseResponse(qpstest::Fetch(Port(), "GET " + target + " HTTP/1.1\r\nHost: " + s_server->Authority() +
                                                             "\r\nUser-Agent: " + qpstest::kUserAgent + "\r\n\r\n"))
        .body;
  }

  static inline qpstest::ServerHarness* s_server = nullptr;
  static inline std::mutex s_owedLock;
  static inline std::deque<std::unique_ptr<plat::ClockBusyScope>> s_owed;
  std::unique_ptr<plat::SimConnMgr> m_connMgr;
  // The first core error an upload of this case met.
  std::shared_ptr<std::atomic<int32_t>> m_pUploadError;
};

}  // namespace searchtest
