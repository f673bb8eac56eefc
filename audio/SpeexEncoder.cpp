#include "audio/SpeexEncoder.h"

#include "framework/Trace.h"

namespace {
constexpr spx_int32_t kQuality = 8;
constexpr spx_int32_t kComplexity = 1;
}  // namespace

CSpeexEncoder::CSpeexEncoder() = default;

CSpeexEncoder::~CSpeexEncoder() { Stop(); }

bool CSpeexEncoder::Init(uint8_t* pBuffer) {
  if (!pBuffer || m_hThread) return false;
  m_pBuffer = pBuffer;
  m_nFed = m_nOutput = m_nInput = m_nLeftover = 0;
  m_bQuitting.store(false);
  m_hData = plat::CreateEvent(false, false);
  m_hOutput = plat::CreateEvent(false, false);
  m_hQuit = plat::CreateEvent(false, false);
  // A started event of its own: the data event is the feed's alone, so a
  // start-up signal can never be taken for a feed or a feed for start-up.
  m_hStarted = plat::CreateEvent(false, false);
  if (!m_hData || !m_hOutput || !m_hQuit || !m_hStarted) return false;

  m_pState = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
  if (!m_pState) {
    DebugTrace(u"[QUOREL] Speex encoder cannot start\n");
    return false;
  }
  spx_int32_t off = 0, on = 1, quality = kQuality, complexity = kComplexity;
  speex_encoder_ctl(m_pState, SPEEX_SET_VBR, &off);
  speex_encoder_ctl(m_pState, SPEEX_SET_QUALITY, &quality);
  speex_encoder_ctl(m_pState, SPEEX_SET_COMPLEXITY, &complexity);
  speex_encoder_ctl(m_pState, SPEEX_SET_HIGHPASS, &on);
  speex_bits_init(&m_bits);
  m_bBitsReady = true;

  m_hThread = plat::CreateThread([this] { return ThreadMain(); });
  if (!m_hThread) return false;
  plat::WaitForSingleObject(m_hStarted, plat::INFINITE);
  return true;
}

void CSpeexEncoder::Feed(int32_t n) {
  {
    TScopedLock lock(m_lock);
    m_nFed += n;
  }
  plat::SetEvent(m_hData);
}

int32_t CSpeexEncoder::GetOutputLength() {
  TScopedLock lock(m_lock);
  return m_nOutput;
}

uint32_t CSpeexEncoder::ThreadMain() {
  plat::SetEvent(m_hStarted);
  const plat::Handle waits[] = {m_hQuit, m_hData};
  for (;;) {
    uint32_t r = plat::WaitForMultipleObjects(waits, plat::INFINITE);
    if (r != plat::WAIT_OBJECT_0 + 1) return 0;
    EncodeStep();
  }
}

void CSpeexEncoder::EncodeStep() {
  {
    TScopedLock lock(m_lock);
    // A stop that came while this step waited for the lock wins.
    if (m_bQuitting.load()) return;
    int32_t pending = m_nLeftover + m_nFed;
    while (pending >= kFrameBytes) {
      speex_bits_reset(&m_bits);
      speex_encode_int(m_pState, reinterpret_cast<spx_int16_t*>(m_pBuffer + m_nInput), &m_bits);
      int count = speex_bits_write(&m_bits, reinterpret_cast<char*>(m_pBuffer + m_nOutput + 2), kMaxFrameBytes);
      m_pBuffer[m_nOutput] = static_cast<uint8_t>(count >> 8);
      m_pBuffer[m_nOutput + 1] = static_cast<uint8_t>(count);
      m_nOutput += count + 2;
      m_nInput += kFrameBytes;
      pending -= kFrameBytes;
    }
    m_nLeftover = pending;
    m_nFed = 0;
  }
  plat::SetEvent(m_hOutput);
}

void CSpeexEncoder::Stop() {
  if (m_hThread) {
    m_bQuitting.store(true);
    plat::SetEvent(m_hQuit);
    plat::WaitForSingleObject(m_hThread, plat::INFINITE);
    plat::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  for (plat::Handle* h : {&m_hData, &m_hOutput, &m_hQuit, &m_hStarted}) {
    if (*h) plat::CloseHandle(*h);
    *h = nullptr;
  }
  if (m_pState) speex_encoder_destroy(m_pState);
  m_pState = nullptr;
  if (m_bBitsReady) speex_bits_destroy(&m_bits);
  m_bBitsReady = false;
}
