// Plays a preview while it downloads: the download file is the body sink of
// a GET and the sound core's source, and the player listens to the download
// to turn its network events into player states.
#pragma once

#include <cstdint>

#include "audio/MP3HTTPFile.h"
#include "audio/SoundCore.h"
#include "net/HTTPEntry.h"
#include "platform/base/Strings.h"

class CHTTPCore;

class CHTTPSoundPlayer : public CHTTPListener {
 public:
  CHTTPSoundPlayer() = default;
  // Closes the download, stops the core, closes the file ("buffer.dat"
  // stays in the store folder).
  ~CHTTPSoundPlayer() override;
  CHTTPSoundPlayer(const CHTTPSoundPlayer&) = delete;
  CHTTPSoundPlayer& operator=(const CHTTPSoundPlayer&) = delete;

  // 1 when the core started, 0 otherwise (no download then). A download
  // that cannot begin is reported as 7 through the player's own listener.
  // A player plays once: Play after a play began is 0 and does nothing.
  int32_t Play(plat::WStringView url);
  void Pause();
  void Resume();

  // HTTP worker: errors become 7 (once per play), the network's wait 6 and
  // its return 5.
  void OnHTTPEvent(int32_t id, int32_t code) override;

  int32_t GetState() { return m_core.GetState(); }
  int32_t GetPlayedSeconds() { return m_core.GetPlayedSeconds(); }
  // The announced length has arrived in full.
  bool IsComplete() { return m_file.IsComplete(); }
  // Announced length over the stream's bit rate; -1 while either is unknown.
  int32_t GetLengthSeconds();
  // A download that failed is not to be cached.
  bool HasFailed() const { return m_core.HasFailed(); }

 private:
  CMP3HTTPFile m_file;
  CSoundCore m_core;
  CHTTPCore* m_pHttp = nullptr;
  int32_t m_nId = -1;
};
