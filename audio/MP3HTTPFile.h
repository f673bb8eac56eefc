// A preview download that is played while it arrives. The HTTP worker hands
// the body to it as a sink and it writes the bytes into "buffer.dat" of the
// store folder; the sound core reads the part already written. From the
// download rate and the stream's bit rate it decides when the core, waiting
// for data, can go on without running dry before the last byte.
#pragma once

#include <cstdint>

#include "audio/SoundSource.h"
#include "framework/wrappers.h"
#include "net/HTTPSink.h"
#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

class CMP3HTTPFile : public CHTTPSink, public CSoundSource {
 public:
  static constexpr char16_t kFileName[] = u"buffer.dat";
  // The download time assumed while the rate is unknown.
  static constexpr int64_t kUnknownDownloadSeconds = 10000;

  // The data event and the lock live as long as the object, so a download
  // file that could not be created is still a source the core can wait on.
  CMP3HTTPFile();
  ~CMP3HTTPFile() override;
  CMP3HTTPFile(const CMP3HTTPFile&) = delete;
  CMP3HTTPFile& operator=(const CMP3HTTPFile&) = delete;

  // Creates (or truncates) the download file; 0, or the system error.
  int32_t Open();

  // The sink, on the HTTP worker. Only a 200 with a known length is taken.
  int32_t Begin(int32_t expectedLength, int32_t status) override;
  int32_t Append(const char* pData, int32_t length) override { return AppendData(pData, length); }
  int32_t GetLength() override;
  int32_t GetExpectedLength() override;
  void Release() override;  // closes the file
  char* GetData() override { return nullptr; }
  bool IsMemory() override { return false; }
  int32_t Finish(const THTTPHeaderMap&) override { return 0; }

  // 0, or -1 when the file could not take the bytes.
  int32_t AppendData(const char* pData, int32_t length);

  // The source, on the sound-core thread.
  int32_t Read(uint8_t* pBuffer, int32_t length) override;
  bool IsFinished() override;
  bool IsStarving() override;
  void WaitForData() override;
  plat::Handle GetDataEvent() override { return m_hDataEvent; }

  // The whole announced body has arrived (both read under the lock).
  bool IsComplete();
  // What the estimate runs on, for the player and for tests.
  int32_t GetBitRate();
  int64_t GetLatestRate();
  const plat::WString& Path() const { return m_path; }

 private:
  int64_t RateLocked(int32_t length, uint32_t now);
  // Signals the data event and clears the waiting flag when the core waits
  // and can go on: the download is complete, or the rest will arrive before
  // what is buffered has played.
  void WakeIfReadyLocked();
  // How far a read may go: the bytes written, never beyond the total.
  int32_t ReadLimitLocked() const;

  plat::CriticalSection m_section;
  CCriticalSectionLock m_lock{&m_section};
  plat::Handle m_hFile = plat::INVALID_HANDLE_VALUE;
  plat::Handle m_hDataEvent = nullptr;
  plat::WString m_path;
  int32_t m_nTotal = -1;
  int32_t m_nRead = 0;
  int32_t m_nWrite = 0;
  bool m_bWaiting = false;
  // A read of the file itself failed: nothing more can be served.
  bool m_bBroken = false;
  int32_t m_nAppends = 0;
  uint32_t m_nFirstTime = 0;
  uint32_t m_nLatestTime = 0;
  int64_t m_rates[4] = {};
  int32_t m_nFirstSize = 0;
  int64_t m_nLatestRate = 0;
  int32_t m_nBitRate = 0;
  uint8_t m_header[4] = {};
  int32_t m_nHeaderBytes = 0;
};
