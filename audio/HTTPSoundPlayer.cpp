#include "audio/HTTPSoundPlayer.h"

#include "audio/AudioServices.h"
#include "framework/Trace.h"
#include "net/HTTPCore.h"
#include "net/HTTPParser.h"
#include "net/HTTPWrapper.h"

CHTTPSoundPlayer::~CHTTPSoundPlayer() {
  if (m_pHttp && m_nId >= 0) m_pHttp->Close(m_nId);
  m_nId = -1;
  m_core.Stop();
  m_file.Release();
}

int32_t CHTTPSoundPlayer::Play(plat::WStringView url) {
  // A player plays once: opening the download file again would empty it
  // under the core that reads it.
  if (m_core.GetState() != ESoundIdle) return 0;
  DebugTrace(u"[QUOREL] HTTP sound player url: %s\n", url);
  int32_t openError = m_file.Open();
  // The core starts first, so its 0 comes before any error the download
  // reports; when the download cannot begin it waits for data that never
  // come, and the error is reported as the worker would report it.
  if (m_core.Play(&m_file) != 0) return 0;
  m_pHttp = AudioHTTPCore();
  int32_t id = -1;
  if (openError == 0 && m_pHttp) {
    id = m_pHttp->Open(EHttpGet, url);
    if (id >= 0) {
      m_nId = id;
      m_pHttp->SetHeader(id, u"User-Agent", CHTTPSession::IdentityLine());
      m_pHttp->SetBodySink(id, &m_file);
      m_pHttp->SetListener(id, this);
      m_pHttp->Start(id);
    }
  } else if (openError != 0) {
    DebugTrace(u"[QUOREL] HTTP sound player: cannot create the download file: %d\n", openError);
  }
  if (id < 0) OnHTTPEvent(id, EHttpIoFailed);
  return 1;
}

void CHTTPSoundPlayer::Pause() {
  if (m_core.GetState() == ESoundPlaying) m_core.Pause();
}

void CHTTPSoundPlayer::Resume() {
  if (m_core.GetState() == ESoundPaused) m_core.Resume();
}

void CHTTPSoundPlayer::OnHTTPEvent(int32_t, int32_t code) {
  if (code >= EHttpLookupFailed) {
    DebugTrace(u"[QUOREL] Player error look to HTTP core\n");
    m_core.PostState(EPlayerError);
  } else if (code == EHttpNoNetwork) {
    m_core.PostState(EPlayerNoNetwork);
  } else if (code == EHttpNetworkUp) {
    m_core.PostState(EPlayerNetworkUp);
  }
}

int32_t CHTTPSoundPlayer::GetLengthSeconds() {
  int32_t rate = m_file.GetBitRate();
  int32_t total = m_file.GetExpectedLength();
  if (rate <= 0 || total < 0) return -1;
  return total / rate;
}
