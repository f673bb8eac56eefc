#include "audio/SoundCore.h"

#include <cstring>
#include <utility>
#include <new>

#include "audio/AudioServices.h"
#include "framework/Events.h"
#include "framework/Trace.h"

CSoundCore::CSoundCore() = default;

CSoundCore::~CSoundCore() {
  Stop();
  CloseHandles();
  ReleaseBusy();
  SetPower(false);
}

void CSoundCore::CloseHandles() {
  for (plat::Handle* p : {&m_hStarted, &m_hQuit, &m_hDevice, &m_hNoData}) {
    if (*p) plat::CloseHandle(*p);
    *p = nullptr;
  }
  delete[] m_pInput;
  m_pInput = nullptr;
}

int32_t CSoundCore::Play(CSoundSource* pSource) {
  // One play per core: the decoder's events and the error latch belong to
  // the play that made them.
  if (m_hThread || !pSource || GetState() != ESoundIdle) return -1;
  m_pRing = SharedAudioBuffer();
  if (!m_pRing) return -1;
  CloseHandles();
  m_hStarted = plat::CreateEvent(false, false);
  m_hQuit = plat::CreateEvent(false, false);
  m_hDevice = plat::CreateEvent(false, false);
  m_hNoData = plat::CreateEvent(false, false);
  m_pInput = new (std::nothrow) uint8_t[kInputSize];
  if (!m_hStarted || !m_hQuit || !m_hDevice || !m_hNoData || !m_pInput || !m_decoder.Create()) {
    CloseHandles();
    return -1;
  }
  {
    TScopedLock lock(m_coreLock);
    m_pSource = pSource;
    m_nWrite = m_nPlay = 0;
    m_bRingFull = false;
    m_nBytesPlayed = 0;
    m_nFill = 0;
    m_bFirstFrame = true;
    m_bDecoderWaiting = false;
    m_bStartFailed = false;
    m_bEndOfStream = false;
    m_nState = ESoundStarting;
  }
  // Everything is made before the threads run, and 0 is posted before the
  // decoder can produce a frame that would post 1.
  HoldBusy();
  SetPower(true);
  m_states.Renew();
  PostState(EPlayerRequested);
  m_hThread = plat::CreateThread([this] { return ThreadMain(); });
  bool bStarted = false;
  if (m_hThread) {
    const plat::Handle handles[] = {m_hStarted, m_hThread};
    bStarted = plat::WaitForMultipleObjects(handles, plat::INFINITE) == plat::WAIT_OBJECT_0 && !m_bStartFailed;
  }
  if (bStarted) return 0;
  if (m_hThread) {
    plat::WaitForSingleObject(m_hThread, plat::INFINITE);
    plat::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  ReleaseBusy();
  SetPower(false);
  {
    TScopedLock lock(m_coreLock);
    m_nState = ESoundFinished;
  }
  PostState(EPlayerFinished);
  return -1;
}

uint32_t CSoundCore::ThreadMain() {
  if (!m_decoder.Start()) {
    m_bStartFailed = true;
    plat::SetEvent(m_hStarted);
    return 1;
  }
  // The decoder's first output-ready only reports that it runs.
  const plat::Handle report[] = {m_decoder.OutputReadyEvent(), m_decoder.ThreadHandle()};
  plat::WaitForMultipleObjects(report, plat::INFINITE);
  plat::SetEvent(m_hStarted);

  plat::Handle hData = m_pSource->GetDataEvent();
  const plat::Handle handles[] = {m_hQuit, m_decoder.NeedInputEvent(), m_decoder.OutputReadyEvent(),
                                  hData ? hData : m_hNoData, m_hDevice};
  for (bool bRun = true; bRun;) {
    switch (plat::WaitForMultipleObjects(handles, plat::INFINITE)) {
      case plat::WAIT_OBJECT_0 + 1: {
        TScopedLock lock(m_coreLock);
        m_bDecoderWaiting = true;
        OnNeedInput();
        break;
      }
      case plat::WAIT_OBJECT_0 + 2:
        OnOutputReady();
        break;
      case plat::WAIT_OBJECT_0 + 3: {
        // Data are of use only while the decoder waits for input.
        TScopedLock lock(m_coreLock);
        if (m_bDecoderWaiting) OnNeedInput();
        break;
      }
      case plat::WAIT_OBJECT_0 + 4:
        OnBufferDone();
        break;
      default:  // quit, or a wait that failed
        bRun = false;
        break;
    }
  }
  CloseDeviceAfterQuit();
  m_decoder.Stop();
  return 0;
}

void CSoundCore::OnNeedInput() {
  TScopedLock lock(m_coreLock);
  if (m_pSource->IsFinished() || m_decoder.HasEnded()) {
    // The decoder keeps waiting for input until the core stops.
    if (m_bEndOfStream) return;
    m_bEndOfStream = true;
    if (m_decoder.FramesDecoded() == 0) {
      // Nothing in the stream could be decoded (an error page, garbage, an
      // empty body): an error, not an end.
      m_nState = ESoundFinished;
      PostState(EPlayerError);
      ReleaseBusy();
      SetPower(false);
    } else if (m_nWrite == m_nPlay && m_bDeviceOpen) {
      FinishLocked();
    }
    return;
  }
  if (!m_pSource->IsStarving())
    FeedDecoder();
  else
    m_pSource->WaitForData();
}

void CSoundCore::FeedDecoder() {
  TScopedLock lock(m_coreLock);
  uint32_t tail = m_decoder.Remainder();
  // A full buffer that libmad could not use at all is dropped, or it would
  // come back unchanged for ever.
  if (tail > m_nFill || tail == kInputSize) tail = 0;
  std::memmove(m_pInput, m_pInput + (m_nFill - tail), tail);
  int32_t got = m_pSource->Read(m_pInput + tail, static_cast<int32_t>(kInputSize - tail));
  m_nFill = tail + static_cast<uint32_t>(got > 0 ? got : 0);
  m_bDecoderWaiting = false;
  m_decoder.ProvideInput(m_pInput, m_nFill);
}

bool CSoundCore::OpenDeviceLocked(uint32_t rate) {
  m_format = plat::PcmFormat(rate, 1);
  uint32_t count = plat::waveOutGetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    if (plat::waveOutOpen(&m_hWaveOut, id, m_format, &CSoundCore::WaveOutProc, reinterpret_cast<uintptr_t>(this)) !=
        plat::MMSYSERR_NOERROR)
      continue;
    plat::WaitForSingleObject(m_hDevice, plat::INFINITE);  // the open notification
    m_bDeviceOpen = true;
    for (int i = 0; i < kBlocks; ++i) {
      plat::WaveHeader& h = m_headers[i];
      h.lpData = m_pRing + i * kBlockSize;
      h.dwBufferLength = kBlockSize;
      h.dwUser = static_cast<uintptr_t>(i);
      plat::waveOutPrepareHeader(m_hWaveOut, &h, sizeof h);
    }
    plat::waveOutSetVolume(m_hWaveOut, 0xFFFFFFFFu);
    return true;
  }
  m_hWaveOut = nullptr;
  return false;
}

void CSoundCore::OnOutputReady() {
  TScopedLock lock(m_coreLock);
  if ((m_nWrite + 1) % kBlocks == m_nPlay) {
    // The frame waits until a block is done.
    m_bRingFull = true;
    return;
  }
  if (m_bFirstFrame) {
    if (!OpenDeviceLocked(static_cast<uint32_t>(m_decoder.Frame().nRate))) {
      PostState(EPlayerError);
      DebugTrace(u"[QUOREL] Sound core: No free sound devices\n");
      SetPower(false);
      return;
    }
    m_bFirstFrame = false;
    ReleaseBusy();
    m_nState = ESoundPlaying;
    PostState(EPlayerPlaying);
    SetPower(true);
  }
  WriteFrameLocked();
}

void CSoundCore::WriteFrameLocked() {
  const CMP3Decoder::TFrame& f = m_decoder.Frame();
  auto* out = reinterpret_cast<int16_t*>(m_pRing + m_nWrite * kBlockSize);
  MixToMono16(f.left, f.right, f.nChannels, f.nCount, out);
  plat::WaveHeader& h = m_headers[m_nWrite];
  h.dwBufferLength = static_cast<uint32_t>(f.nCount) * 2;
  // The frame is copied: the decoder goes on while the block is handed over.
  m_decoder.OutputConsumed();
  uint32_t result = plat::waveOutWrite(m_hWaveOut, &h, sizeof h);
  if (result != plat::MMSYSERR_NOERROR) {
    // The block would never come back: the frame is dropped instead.
    DebugTrace(u"[QUOREL] Sound core: waveOutWrite error: %d\n", static_cast<int32_t>(result));
    return;
  }
  m_nWrite = (m_nWrite + 1) % kBlocks;
}

void CSoundCore::OnBufferDone() {
  TScopedLock lock(m_coreLock);
  if (!m_bDeviceOpen) return;
  // A header is the core's again once the device has let go of it: done and
  // out of its queue (it marks the first before it clears the second).
  auto isBack = [](uint32_t flags) { return (flags & plat::WHDR_DONE) && !(flags & plat::WHDR_INQUEUE); };
  while (m_nPlay != m_nWrite && isBack(m_headers[m_nPlay].Flags())) {
    m_nBytesPlayed += m_headers[m_nPlay].dwBufferLength;
    m_nPlay = (m_nPlay + 1) % kBlocks;
  }
  if (m_bRingFull && (m_nWrite + 1) % kBlocks != m_nPlay) {
    m_bRingFull = false;
    plat::SetEvent(m_decoder.OutputReadyEvent());
  }
  if (m_nPlay == m_nWrite && m_bEndOfStream && m_nState != ESoundFinished) FinishLocked();
}

void CSoundCore::FinishLocked() {
  m_nState = ESoundFinished;
  PostState(EPlayerFinished);
  SetPower(false);
}

void CSoundCore::CloseDeviceAfterQuit() {
  {
    TScopedLock lock(m_coreLock);
    if (m_bDeviceOpen) {
      m_bDeviceOpen = false;
      plat::waveOutReset(m_hWaveOut);
      for (plat::WaveHeader& h : m_headers) plat::waveOutUnprepareHeader(m_hWaveOut, &h, sizeof h);
      plat::Handle hClose = plat::CreateEvent(false, false);
      m_hClose.store(hClose, std::memory_order_release);
      // A close that failed sends no notification to wait for.
      const uint32_t result = plat::waveOutClose(m_hWaveOut);
      if (result != plat::MMSYSERR_NOERROR)
        DebugTrace(u"[QUOREL] Sound core: waveOutClose error: %d\n", static_cast<int32_t>(result));
      if (hClose) {
        if (result == plat::MMSYSERR_NOERROR) plat::WaitForSingleObject(hClose, plat::INFINITE);
        m_hClose.store(nullptr, std::memory_order_release);
        plat::CloseHandle(hClose);
      }
      m_hWaveOut = nullptr;
      m_nState = ESoundFinished;
      m_bClosedOpenDevice = true;
      PostState(EPlayerFinished);
    } else if (m_nState != ESoundIdle) {
      m_nState = ESoundFinished;
    }
  }
  // Whatever path led here, nothing stays held.
  ReleaseBusy();
  SetPower(false);
}

void CSoundCore::Stop() {
  if (!m_hThread) return;
  plat::SetEvent(m_hQuit);
  plat::WaitForSingleObject(m_hThread, plat::INFINITE);
  plat::CloseHandle(m_hThread);
  m_hThread = nullptr;
  // What the play posted and the UI thread has not run yet is news of a
  // preview that is over: the screen showing the next one must never get
  // it (a late error would stop that one and show its message). Whatever
  // the player's download reports from now on is dropped as well.
  m_states.Withdraw();
  // The end the stop itself brought still goes out, fresh, so that the
  // screen showing this play sees it end.
  if (std::exchange(m_bClosedOpenDevice, false)) {
    auto* pMessage = CEventFireMessage<PlayerStateEvent>::New();
    pMessage->Payload() = EPlayerFinished;
    pMessage->Post();
  }
}

void CSoundCore::Pause() {
  TScopedLock lock(m_coreLock);
  if (!m_bDeviceOpen || m_nState != ESoundPlaying) return;
  plat::waveOutPause(m_hWaveOut);
  m_nState = ESoundPaused;
  PostState(EPlayerPaused);
  SetPower(false);
}

void CSoundCore::Resume() {
  TScopedLock lock(m_coreLock);
  if (!m_bDeviceOpen || m_nState != ESoundPaused) return;
  plat::waveOutRestart(m_hWaveOut);
  m_nState = ESoundPlaying;
  PostState(EPlayerResumed);
  SetPower(true);
}

int32_t CSoundCore::GetState() {
  TScopedLock lock(m_coreLock);
  return m_nState;
}

int32_t CSoundCore::GetPlayedSeconds() {
  TScopedLock lock(m_coreLock);
  if (!m_bDeviceOpen || m_format.nSamplesPerSec == 0) return 0;
  return static_cast<int32_t>(m_nBytesPlayed / (uint64_t{m_format.nSamplesPerSec} * 2));
}

void CSoundCore::PostState(int32_t code) {
  if (code == EPlayerError) {
    if (m_bFailed.exchange(true, std::memory_order_acq_rel)) {
      DebugTrace(u"[QUOREL] Sound core error (already reported)\n");
      return;
    }
    DebugTrace(u"[QUOREL] Sound core error\n");
  }
  m_states.Post(code);
}

void CSoundCore::SetPower(bool bOn) {
  TScopedLock lock(m_powerLock);
  if (bOn && !m_bPowerHeld) {
    m_hPower = plat::SetPowerRequirement(u"WAV1:", plat::D0, plat::POWER_NAME);
    plat::PowerPolicyNotify(plat::PPN_UNATTENDEDMODE, true);
    DebugTrace(u"[QUOREL] * PowerPolicyNotify (PPN_UNATTENDEDMODE,TRUE)\n");
    m_bPowerHeld = true;
  } else if (!bOn && m_bPowerHeld) {
    plat::PowerPolicyNotify(plat::PPN_UNATTENDEDMODE, false);
    if (m_hPower) plat::ReleasePowerRequirement(m_hPower);
    m_hPower = nullptr;
    DebugTrace(u"[QUOREL] * PowerPolicyNotify (PPN_UNATTENDEDMODE,FALSE)\n");
    m_bPowerHeld = false;
  }
}

// The busy token raises the application's busy counter at most once and
// lowers it only when it raised it.
void CSoundCore::HoldBusy() { m_busy.HoldBusy(); }
void CSoundCore::ReleaseBusy() { m_busy.ReleaseBusy(); }

void CSoundCore::WaveOutProc(plat::HWaveOut, uint32_t message, uintptr_t instance, uintptr_t, uintptr_t) {
  auto* self = reinterpret_cast<CSoundCore*>(instance);
  if (message == plat::WOM_CLOSE) {
    if (plat::Handle h = self->m_hClose.load(std::memory_order_acquire)) plat::SetEvent(h);
  } else {
    plat::SetEvent(self->m_hDevice);
  }
}
