// A recorder for end-to-end searches: the search POST on the real HTTP core
// with the headers and framing of a real upload (chunked while the network
// is up and direct, counted behind a proxy or offline), but a canned
// recording. It posts 6, 1, 2, 3 and 4 as the upload goes, 5 for a network
// wait and 8 once for any core error, and keeps the contract of the search
// recorder (Stop withdraws its queued states).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/SearchRecorder.h"
#include "net/HTTPCore.h"
#include "platform/kernel/Kernel.h"

namespace searchtest {

class TTestRecorder : public CSearchRecorder, public CHTTPListener {
 public:
  // `pieces`: the chunks of a streamed upload; a counted upload sends
  // `counted` in one piece.
  TTestRecorder(CHTTPCore* pCore, std::vector<std::string> pieces, std::string counted,
                std::shared_ptr<std::atomic<int32_t>> pErrorCode = nullptr);
  ~TTestRecorder() override;

  int32_t Start(plat::WStringView url) override;
  void RequestStop() override {}
  void Stop() override;
  void TakeResponse(CHTTPSink*& pSink) override;
  int32_t GetResponseStatus() override;
  int32_t GetLevel() override { return 0; }
  int32_t GetElapsed() override { return 0; }

  void OnHTTPEvent(int32_t id, int32_t code) override;

  bool IsCounted() const { return m_bCounted; }
  // The tick count when the end of the body was handed to the core.
  uint32_t BodyEndTick() const { return m_bodyEndTick.load(); }

 private:
  uint32_t Upload();
  void PostState(int32_t state);

  CHTTPCore* m_pCore;
  std::vector<std::string> m_pieces;
  std::string m_counted;
  std::atomic<int32_t> m_id{-1};
  bool m_bCounted = false;
  plat::Handle m_hPartSent;
  plat::Handle m_hQuit;
  plat::Handle m_hThread = nullptr;
  std::atomic<bool> m_bTerminal{false};
  std::atomic<uint32_t> m_bodyEndTick{0};
  // Where the first core error code goes, for tests that outlive the recorder.
  std::shared_ptr<std::atomic<int32_t>> m_pErrorCode;
  // Cleared by Stop: queued states of this recorder then fire nothing.
  std::shared_ptr<std::atomic<bool>> m_pAlive = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace searchtest
