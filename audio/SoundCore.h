// Plays an MP3 stream from a sound source through the first free wave
// output device. The sound-core thread feeds the decoder, turns each decoded
// frame into 16-bit mono in one block of a sixteen-block ring laid in the
// shared audio buffer, and keeps the device supplied; the states go to the
// application as PlayerStateEvent codes. While sound plays the audio device
// is held powered and the system in unattended mode.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/ActivityHold.h"
#include "audio/MP3Decoder.h"
#include "audio/SoundSource.h"
#include "framework/WithdrawablePoster.h"
#include "framework/wrappers.h"
#include "platform/audio/Audio.h"
#include "platform/kernel/Kernel.h"
#include "platform/shell/DeviceServices.h"

enum SoundCoreState : int32_t {
  ESoundIdle = 0,  // Play has not run
  ESoundStarting = 1,
  ESoundPlaying = 2,
  ESoundPaused = 3,
  ESoundFinished = 4,
};

// PlayerStateEvent codes.
enum : int32_t {
  EPlayerRequested = 0,
  EPlayerPlaying = 1,
  EPlayerPaused = 2,
  EPlayerResumed = 3,
  EPlayerFinished = 4,
  EPlayerNetworkUp = 5,
  EPlayerNoNetwork = 6,
  EPlayerError = 7,
};

// libmad's fixed point to 16 bits: rounded, clipped, shifted.
inline int32_t ScaleMadSample(int32_t sample) {
  int64_t s = int64_t{sample} + 0x1000;
  if (s >= 0x10000000) s = 0x0FFFFFFF;
  if (s < -0x10000000) s = -0x10000000;
  return static_cast<int32_t>(s >> 13);
}

// One decoded frame as 16-bit mono: stereo is the mean of the two converted
// channels (an arithmetic shift).
inline void MixToMono16(const int32_t* left, const int32_t* right, int32_t channels, int32_t count, int16_t* out) {
  if (channels > 1) {
    for (int32_t i = 0; i < count; ++i)
      out[i] = static_cast<int16_t>((ScaleMadSample(left[i]) + ScaleMadSample(right[i])) >> 1);
  } else {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(ScaleMadSample(left[i]));
  }
}

class CSoundCore {
 public:
  static constexpr int kBlocks = 16;
  static constexpr uint32_t kBlockSize = 0x80000 / kBlocks;
  static constexpr uint32_t kInputSize = 10240;

  CSoundCore();
  ~CSoundCore();
  CSoundCore(const CSoundCore&) = delete;
  CSoundCore& operator=(const CSoundCore&) = delete;

  // 0, or -1 when the core could not start (nothing posted when nothing
  // could be made; 0 then 4 when the thread did not come up). A core plays
  // once: Play after a play began, stopped or not, is -1 and does nothing.
  int32_t Play(CSoundSource* pSource);
  // Only while the device is open: Pause while playing, Resume while paused.
  void Pause();
  void Resume();
  // Ends the thread (and the device); safe before Play and twice. States
  // the play posted that have not run yet are withdrawn; only the stop's
  // own 4 (when it closed the device) is posted afresh.
  void Stop();

  int32_t GetState();
  int32_t GetPlayedSeconds();
  // Any thread. Error 7 is posted at most once; later ones only trace.
  // After a stop nothing is posted.
  void PostState(int32_t code);
  // Whether 7 has been posted (by the core or by its player).
  bool HasFailed() const { return m_bFailed.load(std::memory_order_acquire); }
  void SetPower(bool bOn);

 private:
  uint32_t ThreadMain();
  void OnNeedInput();
  void OnOutputReady();
  void OnBufferDone();
  void FeedDecoder();
  // End of stream played: state 4, post 4, power off.
  void FinishLocked();
  void CloseDeviceAfterQuit();
  bool OpenDeviceLocked(uint32_t rate);
  void WriteFrameLocked();
  void HoldBusy();
  void ReleaseBusy();
  void CloseHandles();
  static void WaveOutProc(plat::HWaveOut device, uint32_t message, uintptr_t instance, uintptr_t, uintptr_t);

  CSoundSource* m_pSource = nullptr;
  CMP3Decoder m_decoder;

  uint8_t* m_pRing = nullptr;
  int m_nWrite = 0;
  int m_nPlay = 0;
  bool m_bRingFull = false;
  uint64_t m_nBytesPlayed = 0;
  plat::WaveHeader m_headers[kBlocks];

  plat::Handle m_hThread = nullptr;
  plat::Handle m_hStarted = nullptr;
  plat::Handle m_hQuit = nullptr;
  plat::Handle m_hDevice = nullptr;
  std::atomic<plat::Handle> m_hClose{nullptr};
  // Stands for the data event of a source that has none.
  plat::Handle m_hNoData = nullptr;
  uint8_t* m_pInput = nullptr;
  uint32_t m_nFill = 0;
  bool m_bFirstFrame = true;
  bool m_bDecoderWaiting = false;
  bool m_bStartFailed = false;
  plat::WaveFormat m_format;
  plat::HWaveOut m_hWaveOut = nullptr;
  bool m_bDeviceOpen = false;

  plat::CriticalSection m_coreSection;
  CCriticalSectionLock m_coreLock{&m_coreSection};
  plat::CriticalSection m_powerSection;
  CCriticalSectionLock m_powerLock{&m_powerSection};
  int32_t m_nState = ESoundIdle;
  bool m_bEndOfStream = false;
  ActivityHold m_busy;
  std::atomic<bool> m_bFailed{false};
  CWithdrawablePoster<PlayerStateEvent> m_states;
  // The thread closed an open device as it quit (read after it ended).
  bool m_bClosedOpenDevice = false;
  bool m_bPowerHeld = false;
  plat::HPowerRequirement m_hPower = nullptr;
};
