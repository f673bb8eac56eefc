#include "audio/FileSoundPlayer.h"

#include "framework/Trace.h"

CFileSoundPlayer::~CFileSoundPlayer() {
  m_core.Stop();
  m_source.Close();
}

int32_t CFileSoundPlayer::Play(plat::WStringView path) {
  // A player plays once; the source stays the running core's.
  if (m_core.GetState() != ESoundIdle) return 0;
  DebugTrace(u"[QUOREL] File sound player url: %s\n", path);
  if (m_source.Open(path) != 0) return 0;
  return m_core.Play(&m_source) == 0 ? 1 : 0;
}

void CFileSoundPlayer::Pause() {
  if (m_core.GetState() == ESoundPlaying) m_core.Pause();
}

void CFileSoundPlayer::Resume() {
  if (m_core.GetState() == ESoundPaused) m_core.Resume();
}
