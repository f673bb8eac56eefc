#include "audio/Recorder.h"

#include <algorithm>
#include <cstring>

#include "audio/AudioServices.h"
#include "framework/Events.h"
#include "framework/Trace.h"
#include "net/HTTPCore.h"
#include "net/HTTPParser.h"
#include "net/HTTPWrapper.h"

namespace {

constexpr uint32_t kFeedBytes = 2000;
constexpr int32_t kLevelStep = 2184;
constexpr int32_t kDefaultGrabSeconds = 30;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The Speex stream header, laid out by hand: the library's own would carry
// the installed version's text.
void BuildSpeexHeader(uint8_t* p) {
  std::memset(p, 0, CRecorder::kSpeexHeaderBytes);
  std::memcpy(p, "Speex   ", 8);
  std::memcpy(p + 8, "1.2beta3", 8);
  Put32(p + 28, 1);            // version id
  Put32(p + 32, 80);           // header size
  Put32(p + 36, 8000);         // sample rate
  Put32(p + 40, 0);            // narrowband
  Put32(p + 44, 4);            // mode bitstream version
  Put32(p + 48, 1);            // channels
  Put32(p + 52, 0xFFFFFFFFu);  // bit rate: unknown
  Put32(p + 56, 160);          // frame size
}

int HighestBit(int32_t v) {
  int b = -1;
  while (v > 0) {
    ++b;
    v >>= 1;
  }
  return b;
}

}  // namespace

CRecorder::CRecorder() { BuildSpeexHeader(m_speexHeader); }

CRecorder::~CRecorder() {
  Stop();
  CloseEvents();
}

int32_t CRecorder::Start(plat::WStringView url) {
  if (m_bStarted) return -1;  // one start per recorder
  m_bStarted = true;
  uint8_t* pBuffer = SharedAudioBuffer();
  m_pCore = AudioHTTPCore();

  // Every event and both locks first: the core may report (and the listener
  // signal) as soon as the request starts.
  m_hStopRequest = plat::CreateEvent(false, false);
  m_hQuit = plat::CreateEvent(false, false);
  m_hCapture = plat::CreateEvent(false, false);
  m_hUploadStep = plat::CreateEvent(false, false);
  m_hThreadStarted = plat::CreateEvent(false, false);
  m_hStartCapture = plat::CreateEvent(false, false);
  if (!pBuffer || !m_pCore || !m_encoder.Init(pBuffer)) {
    DebugTrace(u"[QUOREL] CRecorder: no audio buffer, HTTP core or encoder\n");
    Undo();
    return -1;
  }
  m_pArea = pBuffer;

  // The limit is fixed here, on the UI thread, where the settings live.
  if (AudioSearchMode() == ESearchSing) {
    m_nLimit = kSingLimitBytes;
  } else {
    int32_t seconds = AudioMaxSearchSeconds();
    m_nLimit = static_cast<uint32_t>(seconds > 0 ? seconds : kDefaultGrabSeconds) * kBytesPerSecond;
  }

  const plat::WaveFormat format = plat::PcmFormat(8000, 1);
  uint32_t count = plat::waveInGetNumDevs();
  for (uint32_t i = 0; i < count && !m_hWaveIn; ++i) {
    plat::HWaveIn h = nullptr;
    if (plat::waveInOpen(&h, i, format, &CRecorder::WaveInProc, reinterpret_cast<uintptr_t>(this)) ==
        plat::MMSYSERR_NOERROR) {
      m_hWaveIn = h;
    }
  }
  if (!m_hWaveIn) {
    DebugTrace(u"[QUOREL] CRecorder: no input device opens\n");
    Undo();
    return -1;
  }
  plat::WaitForSingleObject(m_hCapture, plat::INFINITE);  // the open notification

  int32_t id = m_pCore->Open(EHttpPost, url);
  if (id <= 0) {
    DebugTrace(u"[QUOREL] CRecorder: the upload cannot open (%d)\n", id);
    Undo();
    return -1;
  }
  m_nUploadId.store(id);
  // An empty identity (not known yet) sends no header rather than a blank one.
  plat::WString identity = CHTTPSession::IdentityLine();
  if (!identity.empty()) m_pCore->SetHeader(id, u"User-Agent", identity);
  m_pCore->SetHeader(id, u"Content-Type", u"binary/octet-stream");
  bool bReady = m_pCore->SetListener(id, this) >= 0 && m_pCore->AcceptGzip(id) >= 0;
  m_bCounted.store(m_pCore->IsProxiedOrOffline());
  if (bReady && !m_bCounted.load()) bReady = m_pCore->Start(id) >= 0;
  if (bReady) {
    m_hThread = plat::CreateThread([this] { return ThreadMain(); });
    bReady = m_hThread != nullptr;
  }
  if (!bReady) {
    DebugTrace(u"[QUOREL] CRecorder: the upload cannot start\n");
    Undo();
    return -1;
  }
  plat::WaitForSingleObject(m_hThreadStarted, plat::INFINITE);
  // Counted: capture now, on the recorder thread like every header change.
  if (m_bCounted.load()) plat::SetEvent(m_hStartCapture);
  return 0;
}

// A failed Start leaves nothing behind: the connection, the device (after
// its close notification), the encoder; whatever was posted stays silent.
void CRecorder::Undo() {
  m_states.Withdraw();
  int32_t id = m_nUploadId.exchange(-1);
  if (id >= 0 && m_pCore) m_pCore->Close(id);
  CloseDevice();
  m_encoder.Stop();
  CloseEvents();
}

void CRecorder::CloseEvents() {
  for (plat::Handle* h : {&m_hStopRequest, &m_hQuit, &m_hCapture, &m_hUploadStep, &m_hThreadStarted, &m_hStartCapture}) {
    if (*h) plat::CloseHandle(*h);
    *h = nullptr;
  }
}

void CRecorder::RequestStop() {
  if (m_hStopRequest) plat::SetEvent(m_hStopRequest);
}

void CRecorder::Stop() {
  if (m_hThread) {
    plat::SetEvent(m_hQuit);
    plat::WaitForSingleObject(m_hThread, plat::INFINITE);
    plat::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  CloseDevice();
  m_encoder.Stop();
  // The worker calls OnHTTPEvent until Close returns, so the connection goes
  // before the events and the locks.
  int32_t id = m_nUploadId.exchange(-1);
  if (id >= 0 && m_pCore) m_pCore->Close(id);
  // A stopped recorder's news never reaches the next one's listeners.
  m_states.Withdraw();
}

void CRecorder::TakeResponse(CHTTPSink** ppSink) {
  if (!ppSink) return;
  *ppSink = nullptr;
  int32_t id = m_nUploadId.exchange(-1);
  if (id >= 0 && m_pCore) m_pCore->Close(id, ppSink);
}

int32_t CRecorder::GetResponseStatus() {
  int32_t id = m_nUploadId.load();
  if (id < 0 || !m_pCore) return 0;
  return std::max(0, m_pCore->GetStatusCode(id));
}

int32_t CRecorder::GetLevel() {
  TScopedLock lock(m_recorderLock);
  return m_nPublishedLevel;
}

int32_t CRecorder::GetElapsed() {
  TScopedLock lock(m_recorderLock);
  return m_nElapsed;
}

void CRecorder::WaveInProc(plat::HWaveIn, uint32_t, uintptr_t instance, uintptr_t, uintptr_t) {
  plat::SetEvent(reinterpret_cast<CRecorder*>(instance)->m_hCapture);
}

uint32_t CRecorder::ThreadMain() {
  plat::SetEvent(m_hThreadStarted);
  const plat::Handle waits[] = {m_hStopRequest, m_hQuit,  m_hCapture, m_hUploadStep, m_encoder.OutputEvent(),
                                m_hStartCapture};
  for (bool bRun = true; bRun;) {
    switch (plat::WaitForMultipleObjects(waits, plat::INFINITE)) {
      case plat::WAIT_OBJECT_0:
        m_bStopFlag = true;
        break;
      case plat::WAIT_OBJECT_0 + 2:
        OnCaptureBuffer();
        break;
      case plat::WAIT_OBJECT_0 + 3:
        UploadStep();
        break;
      case plat::WAIT_OBJECT_0 + 4:
        OnEncoderOutput();
        break;
      case plat::WAIT_OBJECT_0 + 5:
        StartCapture();
        break;
      default:  // quit, or a wait that cannot go on
        bRun = false;
        break;
    }
  }
  CloseDevice();
  return 0;
}

void CRecorder::StartCapture() {
  if (m_bCaptureStarted || !m_hWaveIn) return;
  m_bCaptureStarted = true;
  plat::WaveHeader* pHeader = nullptr;
  if (QueueBuffer(&pHeader) == EQueued) {
    plat::waveInAddBuffer(m_hWaveIn, pHeader, sizeof *pHeader);
    plat::waveInStart(m_hWaveIn);
    return;
  }
  // Nothing to capture (stopped before capture began): over at once.
  FinishCapture();
}

CRecorder::EQueue CRecorder::QueueBuffer(plat::WaveHeader** ppHeader) {
  plat::WaveHeader& h = m_headers[m_nNextHeader];
  if (h.Flags() != 0) return EInUse;
  if (m_nQueued + kBufferBytes > m_nLimit || m_nQueued + kBufferBytes > m_nAreaSize || m_bStopFlag) return EOver;
  h.lpData = m_pArea + m_nQueued;
  h.dwBufferLength = kBufferBytes;
  h.dwBytesRecorded = 0;
  plat::waveInPrepareHeader(m_hWaveIn, &h, sizeof h);
  m_nQueued += kBufferBytes;
  m_nNextHeader = (m_nNextHeader + 1) % kHeaderCount;
  *ppHeader = &h;
  return EQueued;
}

bool CRecorder::AnyHeaderInUse() const {
  return std::any_of(std::begin(m_headers), std::end(m_headers), [](const plat::WaveHeader& h) { return h.Flags() != 0; });
}

void CRecorder::OnCaptureBuffer() {
  if (!m_bCaptureFinished && m_hWaveIn) {
    int32_t peak = 0;
    for (plat::WaveHeader& h : m_headers) {
      if (!(h.Flags() & plat::WHDR_DONE)) continue;
      peak = 0;
      for (uint32_t i = 0; i + 1 < h.dwBytesRecorded; i += 2) {
        int32_t sample = static_cast<int16_t>(h.lpData[i] | h.lpData[i + 1] << 8);
        peak = std::max(peak, sample);
      }
      plat::waveInUnprepareHeader(m_hWaveIn, &h, sizeof h);
      m_nCaptured += h.dwBytesRecorded;
      h.dwFlags.store(0, std::memory_order_release);
    }
    m_nLevel = std::max(m_nLevel * 3 / 4, HighestBit(peak) * kLevelStep);
  }
  if (!m_bEncoderBusy) FeedEncoder();
  // Published before capture can finish, so whoever reacts to code 1 reads
  // the final elapsed time.
  {
    TScopedLock lock(m_recorderLock);
    m_nPublishedLevel = m_nLevel;
    m_nElapsed = static_cast<int32_t>(m_nCaptured / 160);
  }
  if (!m_bCaptureFinished && m_hWaveIn) {
    for (;;) {
      plat::WaveHeader* pHeader = nullptr;
      EQueue result = QueueBuffer(&pHeader);
      if (result == EQueued) {
        plat::waveInAddBuffer(m_hWaveIn, pHeader, sizeof *pHeader);
        continue;
      }
      if (result == EOver && !AnyHeaderInUse()) FinishCapture();
      break;
    }
  }
}

// Feeds the encoder the next part of the captured sound, if any.
void CRecorder::FeedEncoder() {
  if (m_nCaptured <= m_nFed) return;
  uint32_t n = std::min(kFeedBytes, m_nCaptured - m_nFed);
  m_encoder.Feed(static_cast<int32_t>(n));
  m_bEncoderBusy = true;
  m_nFed += n;
}

void CRecorder::FinishCapture() {
  if (m_bCaptureFinished) return;
  m_bCaptureFinished = true;
  PostEvent(1);
  CloseDevice();
  // Everything fed and the encoder idle: no output event will come to end
  // the body, so its step runs now.
  if (m_nFed == m_nCaptured && !m_bEncoderBusy) OnEncoderOutput();
}

void CRecorder::CloseDevice() {
  if (!m_hWaveIn) return;
  plat::waveInReset(m_hWaveIn);
  for (plat::WaveHeader& h : m_headers) {
    if (h.Flags() & plat::WHDR_PREPARED) plat::waveInUnprepareHeader(m_hWaveIn, &h, sizeof h);
  }
  bool bClosed = plat::waveInClose(m_hWaveIn) == plat::MMSYSERR_NOERROR;
  m_hWaveIn = nullptr;
  if (bClosed) plat::WaitForSingleObject(m_hCapture, plat::INFINITE);
}

bool CRecorder::CanSend() const { return m_nUploadId.load() >= 0 && !m_bFailed.load() && m_pCore; }

void CRecorder::Send(const uint8_t* pData, int32_t length) {
  int32_t id = m_nUploadId.load();
  if (id < 0 || m_bFailed.load() || !m_pCore) return;
  m_pCore->SendData(id, reinterpret_cast<const char*>(pData), length);
}

void CRecorder::UploadStep() {
  if (m_bHeaderPending) {
    m_bHeaderPending = false;
    Send(m_speexHeader, kSpeexHeaderBytes);
    return;
  }
  int32_t output = m_encoder.GetOutputLength();
  if (output > m_nOutputSent) {
    Send(m_pArea + m_nOutputSent, output - m_nOutputSent);
    m_nOutputSent = output;
    return;
  }
  m_bSendInFlight = false;
  if (m_bAllEncoded) SendEnd();
}

void CRecorder::SendEnd() {
  if (m_bEndSent) return;
  m_bEndSent = true;
  m_bSendInFlight = true;
  if (!CanSend()) return;
  // Posted as the end is handed over: a server that answers at once must not
  // have its reply (4) reported before the upload's end (3).
  PostEvent(3);
  if (m_bCounted.load()) {
    // Over output that has gone out already.
    std::memset(m_pArea, 0, kCountedEndBytes);
    Send(m_pArea, kCountedEndBytes);
  } else {
    Send(m_pArea, 0);
  }
}

void CRecorder::OnEncoderOutput() {
  m_bEncoderBusy = false;
  int32_t output = m_encoder.GetOutputLength();
  if (!m_bSendInFlight && output > m_nOutputSent) {
    Send(m_pArea + m_nOutputSent, output - m_nOutputSent);
    m_bSendInFlight = true;
    m_nOutputSent = output;
  }
  if (m_nCaptured > m_nFed) {
    FeedEncoder();
    return;
  }
  if (!m_bCaptureFinished || m_bAllEncoded) return;
  m_bAllEncoded = true;
  PostEvent(2);
  int32_t id = m_nUploadId.load();
  if (m_bCounted.load()) {
    if (id >= 0 && !m_bFailed.load()) {
      m_pCore->SetContentLength(id, output + kSpeexHeaderBytes + kCountedEndBytes);
      m_pCore->Start(id);
    }
  } else if (!m_bSendInFlight) {
    SendEnd();
  }
}

void CRecorder::OnHTTPEvent(int32_t, int32_t code) {
  switch (code) {
    case EHttpPartSent:
      plat::SetEvent(m_hUploadStep);
      break;
    case EHttpComplete:
      PostEvent(4);
      break;
    case EHttpNoNetwork:
      PostEvent(5);
      break;
    case EHttpNetworkUp:
      PostEvent(6);
      if (!m_bCounted.load()) plat::SetEvent(m_hStartCapture);
      break;
    default:
      if (code >= EHttpLookupFailed) {
        plat::SetEvent(m_hStopRequest);
        PostEvent(8);
      }
      break;
  }
}

void CRecorder::PostEvent(int32_t code) {
  TScopedLock lock(m_postLock);
  if (m_nTerminal != 0) return;
  if (code >= 8) {
    m_nTerminal = code;
    m_bFailed.store(true);
  }
  m_states.Post(code);
}
