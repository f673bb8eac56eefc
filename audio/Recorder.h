// One search's recording: captures 8 kHz mono from the first wave input
// device into the shared audio buffer, has it Speex-encoded and sends it as
// the body of one POST while it records.
//
// The body: an 80-byte Speex stream header, then one record {16-bit
// big-endian length, frame} per 320 bytes of sound, then nothing (streaming:
// the chunked body's zero-length chunk) or 40 zero bytes (counted, with a
// Content-Length). The body is streamed when the network is up and no proxy
// is in use; otherwise capture and encoding run first and the request starts
// when everything is encoded.
//
// Threads: the UI thread starts, stops and reads the level and elapsed time;
// the recorder thread does the capture, the feeding and every send; the HTTP
// worker only signals the recorder's events and posts; the wave device's
// callback only signals. State reaches the application as RecorderStateEvent
// codes (1 capture finished, 2 all encoded, 3 upload sent, 4 response
// complete, 5 no network, 6 network up, 8 error); after an 8 nothing more is
// posted.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/SpeexEncoder.h"
#include "framework/WithdrawablePoster.h"
#include "framework/wrappers.h"
#include "net/HTTPEntry.h"
#include "platform/audio/Audio.h"
#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

class CHTTPCore;
class CHTTPSink;

class CRecorder : public CHTTPListener {
 public:
  static constexpr uint32_t kBufferBytes = 4000;  // 250 ms
  static constexpr int kHeaderCount = 4;
  static constexpr uint32_t kAreaSize = 0x80000;
  static constexpr uint32_t kSingLimitBytes = 480000;  // 30 s
  static constexpr uint32_t kBytesPerSecond = 16000;
  static constexpr int32_t kMaxLevel = 30576;
  static constexpr int kSpeexHeaderBytes = 80;
  static constexpr int kCountedEndBytes = 40;

  CRecorder();
  ~CRecorder() override;
  CRecorder(const CRecorder&) = delete;
  CRecorder& operator=(const CRecorder&) = delete;

  // UI thread. 0, or -1 with everything it did undone and nothing posted.
  int32_t Start(plat::WStringView url);
  // Capture ends once the buffers already queued are back.
  void RequestStop();
  // Ends the thread, the encoder and the connection (its sink is dropped);
  // withdraws the state messages still queued. Safe in any state, twice too.
  void Stop();
  // Hands over the reply's sink (null when no connection is open) and
  // forgets the connection.
  void TakeResponse(CHTTPSink** ppSink);
  // The open upload's HTTP status, else 0.
  int32_t GetResponseStatus();
  // 0 to kMaxLevel, and hundredths of a second captured.
  int32_t GetLevel();
  int32_t GetElapsed();

  void OnHTTPEvent(int32_t id, int32_t code) override;

 private:
  enum EQueue { EQueued, EInUse, EOver };

  uint32_t ThreadMain();
  void StartCapture();
  EQueue QueueBuffer(plat::WaveHeader** ppHeader);
  void OnCaptureBuffer();
  void FinishCapture();
  void FeedEncoder();
  void UploadStep();
  void OnEncoderOutput();
  void SendEnd();
  bool CanSend() const;
  void Send(const uint8_t* pData, int32_t length);
  void PostEvent(int32_t code);
  void CloseDevice();
  void Undo();
  void CloseEvents();
  bool AnyHeaderInUse() const;
  static void WaveInProc(plat::HWaveIn device, uint32_t message, uintptr_t instance, uintptr_t p1, uintptr_t p2);

  // Handles: the thread and its six events.
  plat::Handle m_hThread = nullptr;
  plat::Handle m_hStopRequest = nullptr;
  plat::Handle m_hQuit = nullptr;
  plat::Handle m_hCapture = nullptr;
  plat::Handle m_hUploadStep = nullptr;
  plat::Handle m_hThreadStarted = nullptr;
  plat::Handle m_hStartCapture = nullptr;
  plat::HWaveIn m_hWaveIn = nullptr;

  CHTTPCore* m_pCore = nullptr;
  // Read once per command: TakeResponse and Stop clear it on the UI thread.
  std::atomic<int32_t> m_nUploadId{-1};

  // The capture record.
  int32_t m_nLevel = 0;
  int m_nNextHeader = 0;
  uint32_t m_nCaptured = 0;
  uint32_t m_nQueued = 0;
  uint8_t* m_pArea = nullptr;
  uint32_t m_nAreaSize = kAreaSize;
  bool m_bStopFlag = false;
  plat::WaveHeader m_headers[kHeaderCount];
  // The byte limit, fixed by Start from the search settings.
  uint32_t m_nLimit = kSingLimitBytes;

  CSpeexEncoder m_encoder;

  bool m_bStarted = false;
  bool m_bCaptureStarted = false;
  bool m_bCaptureFinished = false;
  bool m_bEncoderBusy = false;
  uint32_t m_nFed = 0;
  bool m_bAllEncoded = false;
  bool m_bSendInFlight = true;
  int32_t m_nOutputSent = 0;
  bool m_bHeaderPending = true;
  bool m_bEndSent = false;
  std::atomic<bool> m_bCounted{false};
  uint8_t m_speexHeader[kSpeexHeaderBytes];

  plat::CriticalSection m_recorderSection;
  CCriticalSectionLock m_recorderLock{&m_recorderSection};
  int32_t m_nPublishedLevel = 0;
  int32_t m_nElapsed = 0;

  plat::CriticalSection m_postSection;
  CCriticalSectionLock m_postLock{&m_postSection};
  int32_t m_nTerminal = 0;
  std::atomic<bool> m_bFailed{false};
  // Withdrawn at the stop: what is still queued then fires nothing.
  CWithdrawablePoster<RecorderStateEvent> m_states;
};
