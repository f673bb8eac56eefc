// Plays a preview cached in the store folder.
#pragma once

#include <cstdint>

#include "audio/MP3FileSource.h"
#include "audio/SoundCore.h"
#include "platform/base/Strings.h"

class CFileSoundPlayer {
 public:
  CFileSoundPlayer() = default;
  // Stops the core before the source it reads from goes.
  ~CFileSoundPlayer();
  CFileSoundPlayer(const CFileSoundPlayer&) = delete;
  CFileSoundPlayer& operator=(const CFileSoundPlayer&) = delete;

  // 1 started, 0 failed (the file cannot be opened: nothing is posted). A
  // player plays once: Play after a play began is 0 and does nothing.
  int32_t Play(plat::WStringView path);
  // Pause only while playing, Resume only while paused.
  void Pause();
  void Resume();

  int32_t GetState() { return m_core.GetState(); }
  int32_t GetPlayedSeconds() { return m_core.GetPlayedSeconds(); }
  // The estimate from the file's size and its first frame's bit rate.
  int32_t GetLengthSeconds() const { return m_source.GetDurationSeconds(); }
  // A cached file that failed to decode is to be dropped.
  bool HasFailed() const { return m_core.HasFailed(); }

 private:
  CSoundCore m_core;
  CMP3FileSource m_source;
};
