// The preview of the current track: at most one player at a time, a file
// player when the preview store holds the track, else a stream player that
// downloads into the store's download file. The application's preview
// operations run through one object of this class. Players are made through
// replaceable factories (tests script them). UI thread only; the players
// run their own threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/base/Strings.h"
#include "protocol/Records.h"

class CHTTPUserModel;
class PreviewStore;

// What the control needs of a player.
class IPreviewPlayer {
 public:
  virtual ~IPreviewPlayer() = default;
  // 1 started, 0 not (a file that cannot be opened, a core that would not
  // start).
  virtual int32_t Play(plat::WStringView source) = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // 1 starting, 2 playing, 3 paused, 4 finished (0 before the first play).
  virtual int32_t GetState() = 0;
  virtual int32_t GetPlayedSeconds() = 0;
  // -1 while unknown.
  virtual int32_t GetLengthSeconds() = 0;
  // The download arrived in full (never for a file).
  virtual bool IsComplete() = 0;
  // The player hit an error (nothing decodable, a broken download).
  virtual bool HasFailed() = 0;
};

class CPreviewControl {
 public:
  struct TServices {
    std::function<CHTTPUserModel*()> userModel;
    std::function<PreviewStore*()> store;
    std::function<std::unique_ptr<IPreviewPlayer>()> makeFilePlayer;
    std::function<std::unique_ptr<IPreviewPlayer>()> makeStreamPlayer;
    // The options menu's play/pause item: true shows "play".
    std::function<void(bool)> setMenuItem;
  };

  // The real players on the program's own services.
  static std::unique_ptr<IPreviewPlayer> NewFilePlayer();
  static std::unique_ptr<IPreviewPlayer> NewStreamPlayer();

  explicit CPreviewControl(TServices services);
  ~CPreviewControl();
  CPreviewControl(const CPreviewControl&) = delete;
  CPreviewControl& operator=(const CPreviewControl&) = delete;

  void Play();
  void Stop();
  // Shut-down: the players go and the download file is settled as a stop
  // settles it, but nothing is posted, for no screen is left to show it.
  void Shutdown();
  void Pause();
  void Resume();
  int32_t GetState();
  int32_t GetPlayedSeconds();
  int32_t GetLength();
  void Toggle(bool bPlay);
  void Command();
  void PlayKind(int32_t nKind);

  bool HasFilePlayer() const { return m_filePlayer != nullptr; }
  bool HasStreamPlayer() const { return m_streamPlayer != nullptr; }
  TServices& Services() { return m_services; }

 private:
  IPreviewPlayer* Active() const;
  // Deletes the players, keeps a complete download under its key and
  // removes any other; true when the player had not opened the device yet.
  bool EndPlayers();
  static void PostState(int32_t nState);

  TServices m_services;
  std::unique_ptr<IPreviewPlayer> m_filePlayer;
  std::unique_ptr<IPreviewPlayer> m_streamPlayer;
  // The track each player was made for: what a finished download is
  // cached as, and which cache entry a broken file drops, whatever the user
  // model's current track has become since.
  TrackRecord m_fileTrack;
  TrackRecord m_streamTrack;
};
