// A recorder's world under test: the headless platform on the virtual clock
// (its microphone is the test's), the application's queue and object
// registry, the HTTP core on the simulated network with the simulated
// connection manager, the shared audio buffer, and the search settings.
// Upload servers record the request's raw bytes as they come and answer with
// a gzip reply.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestUtil.h"
#include "audio/AudioServices.h"
#include "audio/Recorder.h"
#include "framework/AppRegistry.h"
#include "framework/Events.h"
#include "net/DNSResolver.h"
#include "net/HTTPCore.h"
#include "net/HTTPParser.h"
#include "net/HTTPWrapper.h"
#include "net/NetTestUtil.h"
#include "net/ScriptServer.h"
#include "platform/net/SimNet.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"
#include "platform/testing/TestPlatform.h"
#include "tests/support/Waits.h"

namespace audiotest {

// Every RecorderStateEvent code, in order.
class TStateLog : public CEventListenerFor<RecorderStateEvent> {
 public:
  std::vector<int32_t> codes;
  std::function<void(int32_t)> onCode;

 protected:
  void HandleEvent(const int32_t& code) override {
    codes.push_back(code);
    if (onCode) onCode(code);
  }
};

// Stands between the core and the recorder on one connection and counts the
// core's "piece sent" reports: with one piece outstanding at a time, they
// count the pieces the recorder sent.
class TPartCounter : public CHTTPListener {
 public:
  explicit TPartCounter(CHTTPListener* pTarget) : m_pTarget(pTarget) {}
  void OnHTTPEvent(int32_t id, int32_t code) override {
    if (code == EHttpPartSent) ++nPartsSent;
    m_pTarget->OnHTTPEvent(id, code);
  }
  std::atomic<int> nPartsSent{0};

 private:
  CHTTPListener* m_pTarget;
};

// What one upload connection carried.
struct TUpload {
  std::mutex lock;
  std::vector<std::string> pieces;  // as read
  std::string raw;
  bool complete = false;

  std::string Head() {
    std::lock_guard<std::mutex> guard(lock);
    return raw.substr(0, raw.find("\r\n\r\n") + 4);
  }
  // The body with any chunk framing taken off; the chunk sizes in `chunks`.
  std::string Body(std::vector<size_t>* chunks = nullptr) {
    std::lock_guard<std::mutex> guard(lock);
    size_t pos = raw.find("\r\n\r\n") + 4;
    if (raw.find("Transfer-Encoding: chunked") == std::string::npos) return raw.substr(pos);
    std::string body;
    while (pos < raw.size()) {
      size_t end = raw.find("\r\n", pos);
      size_t size = std::strtoul(raw.c_str() + pos, nullptr, 16);
      if (chunks) chunks->push_back(size);
      body += raw.substr(end + 2, size);
      pos = end + 2 + size + 2;
      if (size == 0) break;
    }
    return body;
  }
};

inline std::string GzipReply(const std::string& body) {
  std::string gz = nettest::Gzip(body);
  return "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(gz.size()) + "\r\n\r\n" + gz;
}

inline const std::string kReplyXml = "<?xml version=\"1.0\"?><result><track name=\"Invented Song\"/></result>";

// Counts the process's threads (Linux): a failed start must leave none.
inline size_t ThreadCount() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
// A joined thread may linger in the kernel's list for a moment after its
// body returned: polls (bounded) until the count comes down to `expected`.
inline size_t ThreadCountSettled(size_t expected) {
  size_t n = 0;
  support::PollUntil([&] {
    n = ThreadCount();
    return n <= expected;
  }, 0, std::chrono::milliseconds(1));
  return n;
}

class RecorderTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kServerIp = plat::Ipv4(10, 0, 0, 7);
  static constexpr const char16_t* kUrl = u"http://server.test:8080/search?s=1";

  void SetUp() override {
    RegOpenAppKey();
    RegSetAppString(u"url", u"http://server.test/");
    plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
    m_net->AddHost("server.test", kServerIp);
    ASSERT_TRUE(m_resolver.Start());
    m_core = std::make_unique<CHTTPCore>();
    ASSERT_TRUE(m_core->StartThread());
    TAudioServices services;
    services.httpCore = [this] { return m_bWithCore ? m_core.get() : nullptr; };
    services.audioBuffer = [this] { return m_bWithBuffer ? m_buffer.get() : nullptr; };
    services.searchMode = [this] { return m_nMode; };
    services.maxSearchSeconds = [this] { return m_maxSeconds(); };
    InstallAudioServices(std::move(services));
    CHTTPSession::SetIdentitySource([] { return plat::WString(u"Quorel/1.0 (Test Handset; 1.0)"); });
    m_states.Subscribe();
    m_tp.SetMicrophone({{plat::MicSegment::Sine(300, 6000, 0)}});
    Serve(m_uploads);
  }

  void TearDown() override {
    InstallAudioServices({});
    CHTTPSession::SetIdentitySource({});
    m_core.reset();
    m_resolver.Stop();
    m_net.reset();
    m_connMgr.reset();
    RegCloseAppKey();
    if (HasFailure() || std::getenv("QUOREL_TEST_TRACE")) {
      for (const std::string& line : m_tp.DebugLines()) std::fprintf(stderr, "%s\n", line.c_str());
    }
  }

  // Connections to ip:port each record a TUpload and answer per `answer`
  // (given the peer and the upload once the request is read or the
  // answer's own reading decided to stop).
  using TAnswer = std::function<void(plat::SimPeer&, TUpload&)>;
  void Serve(std::vector<std::shared_ptr<TUpload>>& into, uint32_t ip = kServerIp, uint16_t port = 8080) {
    m_net->Listen(ip, port, [this, &into](plat::SimPeer& peer) {
      auto upload = std::make_shared<TUpload>();
      TAnswer answer;
      {
        std::lock_guard<std::mutex> guard(m_serverLock);
        into.push_back(upload);
        answer = m_answer;
      }
      if (answer) return answer(peer, *upload);
      ReadUpload(peer, *upload);
      peer.Write(GzipReply(kReplyXml));
      peer.WaitClientClosed(600000);
    });
  }
  // Reads the request, at most `pieces` sends of it (0: all).
  static bool ReadUpload(plat::SimPeer& peer, TUpload& upload, size_t pieces = 0) {
    std::string buffer;
    bool done = nettest::ReadHttpRequest(
        [&] {
          {
            std::lock_guard<std::mutex> guard(upload.lock);
            if (pieces && upload.pieces.size() >= pieces) return std::string();
          }
          std::string piece = peer.Read(1 << 20, 600000);
          std::lock_guard<std::mutex> guard(upload.lock);
          if (!piece.empty()) {
            upload.pieces.push_back(piece);
            upload.raw += piece;
          }
          return piece;
        },
        buffer);
    std::lock_guard<std::mutex> guard(upload.lock);
    upload.complete = done;
    return done;
  }
  std::shared_ptr<TUpload> Upload(size_t i) {
    std::lock_guard<std::mutex> guard(m_serverLock);
    return i < m_uploads.size() ? m_uploads[i] : nullptr;
  }
  void SetAnswer(TAnswer answer) {
    std::lock_guard<std::mutex> guard(m_serverLock);
    m_answer = std::move(answer);
  }

  // The id the core gives the next connection it opens.
  int32_t NextConnectionId() {
    int32_t id = m_core->Open(EHttpGet, kUrl);
    m_core->Close(id);
    return id + 1;
  }

  // The network up, so that a request streams its body.
  void BringNetworkUp() {
    bool bCancelled = false;
    plat::Handle hCancel = plat::CreateEvent(true, false);
    bool bUp = m_core->EstablishNetwork(hCancel, &bCancelled);
    plat::CloseHandle(hCancel);
    ASSERT_TRUE(bUp);
  }

  // Runs the platform and the application's queue until `done` or maxMs.
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs = 120000) {
    for (uint32_t spent = 0; spent <= maxMs; spent += 10) {
      m_app.RunAll();
      if (done()) return true;
      m_tp.Clock()->RunFor(10);
    }
    return false;
  }
  bool RunUntilCode(int32_t code, uint32_t maxMs = 120000) {
    bool ok = RunUntil([&] { return std::count(m_states.codes.begin(), m_states.codes.end(), code) > 0; }, maxMs);
    if (!ok) {
      std::string seen;
      for (int32_t c : m_states.codes) seen += std::to_string(c) + " ";
      ADD_FAILURE() << "no code " << code << " after " << maxMs << " ms; codes: " << seen << "; buffers "
                    << BuffersDelivered();
    }
    return ok;
  }
  void RunMs(uint32_t ms) {
    RunUntil([] { return false; }, ms);
  }

  // Sound captured: the bytes the device delivered to the recorder.
  std::vector<uint8_t> Delivered() { return m_tp.MicrophoneDelivered(); }
  size_t BuffersDelivered() { return m_tp.MicrophoneLog().size(); }

  // The frames a direct encode of `pcm` gives.
  static std::string ReferenceFrames(const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> out =
        ReferenceEncode(reinterpret_cast<const int16_t*>(pcm.data()), pcm.size() / 2);
    return std::string(out.begin(), out.end());
  }

  plat::TestPlatform m_tp;
  nettest::TTestApp m_app;
  std::unique_ptr<plat::SimConnMgr> m_connMgr = std::make_unique<plat::SimConnMgr>();
  std::unique_ptr<plat::SimNetwork> m_net = std::make_unique<plat::SimNetwork>();
  CDNSResolver m_resolver;
  std::unique_ptr<CHTTPCore> m_core;
  std::unique_ptr<uint8_t[]> m_buffer{new uint8_t[kSharedAudioBufferSize]};
  bool m_bWithCore = true;
  bool m_bWithBuffer = true;
  int32_t m_nMode = ESearchSing;
  std::function<int32_t()> m_maxSeconds = [] { return 30; };
  TStateLog m_states;
  std::mutex m_serverLock;
  TAnswer m_answer;
  std::vector<std::shared_ptr<TUpload>> m_uploads;
};

}  // namespace audiotest
