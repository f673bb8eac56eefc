// A cached preview in the store folder as a sound source. Everything is
// there from the start: it never starves and its data event never fires.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/SoundSource.h"
#include "platform/base/Strings.h"

class CMP3FileSource : public CSoundSource {
 public:
  CMP3FileSource() = default;
  ~CMP3FileSource() override { Close(); }
  CMP3FileSource(const CMP3FileSource&) = delete;
  CMP3FileSource& operator=(const CMP3FileSource&) = delete;

  // 0, the system error of the open or of the event, or -1 for a file too
  // short to hold a frame header. Estimates the duration from that header.
  int32_t Open(plat::WStringView path);
  void Close();

  int32_t Read(uint8_t* pBuffer, int32_t length) override;
  bool IsFinished() override { return m_bFinished.load(std::memory_order_acquire); }
  bool IsStarving() override { return false; }
  void WaitForData() override {}
  plat::Handle GetDataEvent() override { return m_hDataEvent; }

  // File size over the header's bit rate; 0 before Open.
  int32_t GetDurationSeconds() const { return m_nDuration; }

 private:
  plat::Handle m_hFile = plat::INVALID_HANDLE_VALUE;
  plat::Handle m_hDataEvent = nullptr;
  std::atomic<bool> m_bFinished{false};
  int32_t m_nDuration = 0;
};
