#include "audio/MP3Decoder.h"

#include <mad.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "framework/Trace.h"

CMP3Decoder::~CMP3Decoder() {
  Stop();
  CloseEvents();
}

bool CMP3Decoder::Create() {
  if (m_hInputReady) return true;
  m_hInputReady = plat::CreateEvent(false, false);
  m_hOutputReady = plat::CreateEvent(false, false);
  m_hNeedInput = plat::CreateEvent(false, false);
  m_hOutputConsumed = plat::CreateEvent(false, false);
  if (m_hInputReady && m_hOutputReady && m_hNeedInput && m_hOutputConsumed) return true;
  CloseEvents();
  return false;
}

void CMP3Decoder::CloseEvents() {
  for (plat::Handle* p : {&m_hInputReady, &m_hOutputReady, &m_hNeedInput, &m_hOutputConsumed}) {
    if (*p) plat::CloseHandle(*p);
    *p = nullptr;
  }
}

bool CMP3Decoder::Start() {
  if (!m_hInputReady || m_hThread) return false;
  m_nRequest.store(ERequestNone);
  m_bEnded.store(false);
  m_nFrames.store(0);
  m_nErrors.store(0);
  m_nRemainder = 0;
  m_hThread = plat::CreateThread([this] { return ThreadMain(); });
  if (!m_hThread) return false;
  plat::SetThreadPriority(m_hThread, plat::THREAD_PRIORITY_HIGHEST);
  return true;
}

void CMP3Decoder::Stop() {
  if (!m_hThread) return;
  m_nRequest.store(ERequestStop, std::memory_order_release);
  plat::SetEvent(m_hInputReady);
  const plat::Handle handles[] = {m_hThread, m_hOutputReady};
  for (;;) {
    plat::SetEvent(m_hOutputConsumed);
    uint32_t r = plat::WaitForMultipleObjects(handles, plat::INFINITE);
    if (r != plat::WAIT_OBJECT_0 + 1) break;
  }
  plat::CloseHandle(m_hThread);
  m_hThread = nullptr;
}

void CMP3Decoder::ProvideInput(const uint8_t* pInput, uint32_t length) {
  m_pInput = pInput;
  m_nLength = length;
  m_nRequest.store(ERequestInput, std::memory_order_release);
  plat::SetEvent(m_hInputReady);
}

struct TMadCallbacks {
  static mad_flow Input(void* pData, mad_stream* pStream);
  static mad_flow Output(void* pData, const mad_header* pHeader, mad_pcm* pPcm);
  static mad_flow Error(void* pData, mad_stream* pStream, mad_frame* pFrame);
};

uint32_t CMP3Decoder::ThreadMain() {
  auto decoder = std::make_unique<mad_decoder>();
  mad_decoder_init(decoder.get(), this, &TMadCallbacks::Input, nullptr, nullptr, &TMadCallbacks::Output,
                   &TMadCallbacks::Error, nullptr);
  plat::SetEvent(m_hOutputReady);  // it runs
  mad_decoder_run(decoder.get(), MAD_DECODER_MODE_SYNC);
  mad_decoder_finish(decoder.get());
  if (m_nRequest.load(std::memory_order_acquire) != ERequestStop) {
    // libmad gave up on its own: nothing more will be decoded, which the
    // core takes for the end of the stream.
    DebugTrace(u"[QUOREL] MP3 decoder ended\n");
    m_bEnded.store(true, std::memory_order_release);
    plat::SetEvent(m_hNeedInput);
  }
  return 0;
}

mad_flow TMadCallbacks::Input(void* pData, mad_stream* pStream) {
  auto* self = static_cast<CMP3Decoder*>(pData);
  // What libmad has not used of the last buffer: the core keeps it, so a
  // buffer that holds no complete frame is not handed back unchanged.
  self->m_nRemainder = pStream->buffer && pStream->next_frame
                           ? static_cast<uint32_t>(pStream->bufend - pStream->next_frame)
                           : 0;
  plat::SetEvent(self->m_hNeedInput);
  plat::WaitForSingleObject(self->m_hInputReady, plat::INFINITE);
  int32_t expected = CMP3Decoder::ERequestInput;
  if (!self->m_nRequest.compare_exchange_strong(expected, CMP3Decoder::ERequestNone, std::memory_order_acq_rel))
    return MAD_FLOW_STOP;
  mad_stream_buffer(pStream, self->m_pInput, self->m_nLength);
  return MAD_FLOW_CONTINUE;
}

mad_flow TMadCallbacks::Output(void* pData, const mad_header*, mad_pcm* pPcm) {
  auto* self = static_cast<CMP3Decoder*>(pData);
  CMP3Decoder::TFrame& f = self->m_frame;
  f.nChannels = pPcm->channels;
  f.nRate = static_cast<int32_t>(pPcm->samplerate);
  f.nCount = std::min<int32_t>(pPcm->length, CMP3Decoder::kMaxSamples);
  std::memcpy(f.left, pPcm->samples[0], sizeof(int32_t) * static_cast<size_t>(f.nCount));
  if (f.nChannels > 1) std::memcpy(f.right, pPcm->samples[1], sizeof(int32_t) * static_cast<size_t>(f.nCount));
  self->m_nFrames.fetch_add(1, std::memory_order_acq_rel);
  plat::SetEvent(self->m_hOutputReady);
  plat::WaitForSingleObject(self->m_hOutputConsumed, plat::INFINITE);
  return self->m_nRequest.load(std::memory_order_acquire) == CMP3Decoder::ERequestStop ? MAD_FLOW_STOP : MAD_FLOW_CONTINUE;
}

// libmad calls this only for errors it recovers from by skipping the frame
// (a tag, the first frames of a cut stream, a bad CRC): decoding goes on.
// Whether a stream had anything playable is decided at its end.
mad_flow TMadCallbacks::Error(void* pData, mad_stream* pStream, mad_frame*) {
  auto* self = static_cast<CMP3Decoder*>(pData);
  int32_t n = self->m_nErrors.fetch_add(1, std::memory_order_acq_rel);
  if (n < CMP3Decoder::kTracedErrors)
    DebugTrace(u"[QUOREL] MP3 decoder error: 0x%04x (%hs)\n", static_cast<int32_t>(pStream->error),
               mad_stream_errorstr(pStream));
  return MAD_FLOW_CONTINUE;
}
