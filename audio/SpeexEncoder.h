// The Speex stage of a recording: turns captured 8 kHz 16-bit sound into
// narrowband frames on a thread of its own, so the recorder never waits for
// the codec.
//
// It reads sound from the shared audio buffer at its input position and
// writes records {2-byte big-endian length, frame} into the same buffer from
// its start. A record is at most 202 bytes for every 320 bytes read, and a
// frame is written only after its sound has been taken, so the output never
// reaches sound that is not yet encoded.
#pragma once

#include <atomic>
#include <cstdint>

#include <speex/speex.h>

#include "framework/wrappers.h"
#include "platform/kernel/Kernel.h"

class CSpeexEncoder {
 public:
  static constexpr int32_t kFrameBytes = 320;  // 160 samples
  static constexpr int32_t kMaxFrameBytes = 200;

  CSpeexEncoder();
  ~CSpeexEncoder();
  CSpeexEncoder(const CSpeexEncoder&) = delete;
  CSpeexEncoder& operator=(const CSpeexEncoder&) = delete;

  // Sets the codec up (narrowband, constant bit rate, quality 8, complexity
  // 1, high-pass on), starts the thread and waits until it runs. False when
  // something cannot be made; Stop then undoes the rest.
  bool Init(uint8_t* pBuffer);
  // n more bytes of sound follow what was fed before.
  void Feed(int32_t n);
  int32_t GetOutputLength();
  // Signalled after every encode step.
  plat::Handle OutputEvent() const { return m_hOutput; }
  // Ends the thread (a pending feed is not encoded) and frees the codec.
  // Touches only what exists; a second call does nothing.
  void Stop();

 private:
  friend class CSpeexEncoderPeer;  // tests
  uint32_t ThreadMain();
  void EncodeStep();

  plat::Handle m_hData = nullptr;
  plat::Handle m_hOutput = nullptr;
  plat::Handle m_hQuit = nullptr;
  plat::Handle m_hStarted = nullptr;
  plat::Handle m_hThread = nullptr;
  plat::CriticalSection m_section;
  CCriticalSectionLock m_lock{&m_section};
  std::atomic<bool> m_bQuitting{false};

  uint8_t* m_pBuffer = nullptr;
  int32_t m_nFed = 0;
  int32_t m_nOutput = 0;
  int32_t m_nInput = 0;
  int32_t m_nLeftover = 0;
  SpeexBits m_bits{};
  bool m_bBitsReady = false;
  void* m_pState = nullptr;
};
