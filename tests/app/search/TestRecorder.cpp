#include "TestRecorder.h"

#include "framework/AppUi.h"
#include "net/HTTPWrapper.h"

namespace searchtest {
namespace {

// A recorder state that fires only while its recorder has not been stopped.
class TStateMessage : public CEventMessage {
 public:
  TStateMessage(int32_t state, std::shared_ptr<std::atomic<bool>> pAlive) : m_state(state), m_pAlive(std::move(pAlive)) {}
  void Dispatch() override {
    if (m_pAlive->load()) Env::ThrowIfError(CEvent::FireEvent<RecorderStateEvent>(m_state));
  }

 private:
  int32_t m_state;
  std::shared_ptr<std::atomic<bool>> m_pAlive;
};

}  // namespace

TTestRecorder::TTestRecorder(CHTTPCore* pCore, std::vector<std::string> pieces, std::string counted,
                             std::shared_ptr<std::atomic<int32_t>> pErrorCode)
    : m_pCore(pCore),
      m_pieces(std::move(pieces)),
      m_counted(std::move(counted)),
      m_hPartSent(plat::CreateEvent(false, false)),
      m_hQuit(plat::CreateEvent(true, false)),
      m_pErrorCode(std::move(pErrorCode)) {}

TTestRecorder::~TTestRecorder() {
  Stop();
  plat::CloseHandle(m_hPartSent);
  plat::CloseHandle(m_hQuit);
}

int32_t TTestRecorder::Start(plat::WStringView url) {
  if (!m_pCore) return -1;
  int32_t id = m_pCore->Open(EHttpPost, url);
  if (id < 0) return -1;
  m_id = id;
  m_pCore->SetHeader(id, u"User-Agent", CHTTPSession::IdentityLine());
  m_pCore->SetHeader(id, u"Content-Type", u"binary/octet-stream");
  m_pCore->SetListener(id, this);
  m_pCore->AcceptGzip(id);
  m_bCounted = m_pCore->IsProxiedOrOffline();
  if (m_bCounted) m_pCore->SetContentLength(id, static_cast<int32_t>(m_counted.size()));
  m_hThread = plat::CreateThread([this] { return Upload(); });
  m_pCore->Start(id);
  return 0;
}

uint32_t TTestRecorder::Upload() {
  std::vector<std::string> pieces = m_bCounted ? std::vector<std::string>{m_counted} : m_pieces;
  if (!m_bCounted) pieces.emplace_back();  // the end of a chunked body
  plat::Handle waits[] = {m_hQuit, m_hPartSent};
  for (const std::string& piece : pieces) {
    if (plat::WaitForMultipleObjects(waits, plat::INFINITE) != plat::WAIT_OBJECT_0 + 1) return 0;
    int32_t id = m_id.load();
    if (id < 0 || m_bTerminal) return 0;
    if (&piece == &pieces.back()) {
      PostState(1);
      PostState(2);
      m_bodyEndTick = plat::GetTickCount();
    }
    m_pCore->SendData(id, piece.empty() ? nullptr : piece.data(), static_cast<int32_t>(piece.size()));
  }
  PostState(3);
  return 0;
}

void TTestRecorder::OnHTTPEvent(int32_t id, int32_t code) {
  (void)id;
  if (code == EHttpPartSent) plat::SetEvent(m_hPartSent);
  else if (code == EHttpComplete) PostState(4);
  else if (code == EHttpNoNetwork) PostState(5);
  else if (code == EHttpNetworkUp) PostState(6);
  else if (code >= EHttpLookupFailed && code != EHttpRequestClosed) {
    int32_t none = 0;
    if (m_pErrorCode) m_pErrorCode->compare_exchange_strong(none, code);
    PostState(8);
  }
}

void TTestRecorder::PostState(int32_t state) {
  if (state >= 8 && m_bTerminal.exchange(true)) return;
  if (m_bTerminal && state < 8) return;
  CAppUi* pApp = CAppUi::Instance();
  auto* pMessage = new TStateMessage(state, m_pAlive);
  if (!pApp || !pApp->PostEvent(pMessage)) delete pMessage;
}

void TTestRecorder::Stop() {
  plat::SetEvent(m_hQuit);
  if (m_hThread) {
    plat::WaitForSingleObject(m_hThread, plat::INFINITE);
    plat::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  int32_t id = m_id.exchange(-1);
  if (id >= 0) m_pCore->Close(id);
  m_pAlive->store(false);
}

void TTestRecorder::TakeResponse(CHTTPSink*& pSink) {
  pSink = nullptr;
  int32_t id = m_id.exchange(-1);
  if (id >= 0) m_pCore->Close(id, &pSink);
}

int32_t TTestRecorder::GetResponseStatus() {
  int32_t id = m_id.load();
  return id >= 0 ? m_pCore->GetStatusCode(id) : 0;
}

}  // namespace searchtest
