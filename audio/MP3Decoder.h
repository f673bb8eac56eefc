// libmad's synchronous decoder on a thread of its own, handing over one
// frame at a time. The sound core drives it through two event pairs: need
// input / input ready, and output ready / output consumed, so the decoder
// never runs ahead of the output ring.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/Kernel.h"

struct mad_decoder;

class CMP3Decoder {
 public:
  // The most samples a frame holds per channel.
  static constexpr int kMaxSamples = 1152;
  // Errors traced per play; the rest are only counted.
  static constexpr int32_t kTracedErrors = 16;

  // libmad's fixed-point samples (28 fraction bits).
  struct TFrame {
    int32_t nChannels = 0;
    int32_t nRate = 0;
    int32_t nCount = 0;
    int32_t left[kMaxSamples] = {};
    int32_t right[kMaxSamples] = {};
  };

  CMP3Decoder() = default;
  ~CMP3Decoder();
  CMP3Decoder(const CMP3Decoder&) = delete;
  CMP3Decoder& operator=(const CMP3Decoder&) = delete;

  // The four events; false when one cannot be made.
  bool Create();
  // Starts the thread. Its first signal of output ready only says that it
  // runs; the caller takes it before anything else.
  bool Start();
  // Ends the thread wherever it is: waiting for input, for its output to be
  // consumed, or between frames.
  void Stop();

  plat::Handle NeedInputEvent() const { return m_hNeedInput; }
  plat::Handle OutputReadyEvent() const { return m_hOutputReady; }
  plat::Handle ThreadHandle() const { return m_hThread; }

  // After need input: the bytes to decode next (they stay the caller's until
  // the next need input).
  void ProvideInput(const uint8_t* pInput, uint32_t length);
  // After need input: the unused tail of the last input (a frame not yet
  // complete, or the bytes kept while looking for a sync word).
  uint32_t Remainder() const { return m_nRemainder; }
  // After output ready: the frame; OutputConsumed lets the decoder go on.
  const TFrame& Frame() const { return m_frame; }
  void OutputConsumed() { plat::SetEvent(m_hOutputConsumed); }

  // libmad gave up on its own (out of memory): the stream ends here.
  bool HasEnded() const { return m_bEnded.load(std::memory_order_acquire); }
  int32_t FramesDecoded() const { return m_nFrames.load(std::memory_order_acquire); }
  int32_t Errors() const { return m_nErrors.load(std::memory_order_acquire); }

 private:
  enum : int32_t { ERequestNone = 0, ERequestInput = 1, ERequestStop = 2 };

  uint32_t ThreadMain();
  // libmad's callbacks, in the source file where libmad's types are known.
  friend struct TMadCallbacks;
  void CloseEvents();

  std::atomic<int32_t> m_nRequest{ERequestNone};
  const uint8_t* m_pInput = nullptr;
  uint32_t m_nLength = 0;
  uint32_t m_nRemainder = 0;
  TFrame m_frame;
  std::atomic<bool> m_bEnded{false};
  std::atomic<int32_t> m_nFrames{0};
  std::atomic<int32_t> m_nErrors{0};

  plat::Handle m_hThread = nullptr;
  plat::Handle m_hInputReady = nullptr;
  plat::Handle m_hOutputReady = nullptr;
  plat::Handle m_hNeedInput = nullptr;
  plat::Handle m_hOutputConsumed = nullptr;
};
