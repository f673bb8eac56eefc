#include "audio/MP3HTTPFile.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"

CMP3HTTPFile::CMP3HTTPFile() : m_hDataEvent(plat::CreateEvent(false, false)) {}

CMP3HTTPFile::~CMP3HTTPFile() {
  Release();
  if (m_hDataEvent) plat::CloseHandle(m_hDataEvent);
}

int32_t CMP3HTTPFile::Open() {
  TScopedLock lock(m_lock);
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  m_path = CHTTPFileSink::MakePath(kFileName);
  m_hFile = plat::CreateFile(m_path, plat::GENERIC_READ | plat::GENERIC_WRITE, 0, plat::CREATE_ALWAYS);
  if (m_hFile == plat::INVALID_HANDLE_VALUE) {
    uint32_t error = plat::GetLastError();
    return error ? static_cast<int32_t>(error) : -1;
  }
  return 0;
}

int32_t CMP3HTTPFile::Begin(int32_t expectedLength, int32_t status) {
  TScopedLock lock(m_lock);
  if (status != 200 || expectedLength < 0) return -1;
  m_nTotal = expectedLength;
  WakeIfReadyLocked();
  return 0;
}

int32_t CMP3HTTPFile::GetLength() {
  TScopedLock lock(m_lock);
  return m_nWrite;
}

int32_t CMP3HTTPFile::GetExpectedLength() {
  TScopedLock lock(m_lock);
  return m_nTotal;
}

void CMP3HTTPFile::Release() {
  TScopedLock lock(m_lock);
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  m_hFile = plat::INVALID_HANDLE_VALUE;
}

int32_t CMP3HTTPFile::AppendData(const char* pData, int32_t length) {
  TScopedLock lock(m_lock);
  if (length <= 0) return length == 0 ? 0 : -1;
  if (!pData || m_nWrite > INT32_MAX - length) return -1;
  if (plat::SetFilePointer(m_hFile, m_nWrite, nullptr, plat::FILE_BEGIN) == plat::INVALID_SET_FILE_POINTER &&
      plat::GetLastError() != plat::ERROR_SUCCESS) {
    DebugTrace(u"[QUOREL] CMP3HTTPFile::AppendData(0) error: %d, LastError: %d, m_WritePos: %d\n", -1,
               static_cast<int32_t>(plat::GetLastError()), m_nWrite);
    return -1;
  }
  uint32_t written = 0;
  bool ok = plat::WriteFile(m_hFile, pData, static_cast<uint32_t>(length), &written);
  if (!ok || written != static_cast<uint32_t>(length)) {
    DebugTrace(u"[QUOREL] CMP3HTTPFile::AppendData(1) error: %d, LastError: %d, size: %d, wrsize: %d\n",
               static_cast<int32_t>(ok), static_cast<int32_t>(plat::GetLastError()), length,
               static_cast<int32_t>(written));
    return -1;
  }
  if (m_nBitRate == 0) {
    int32_t take = std::min(4 - m_nHeaderBytes, length);
    std::memcpy(m_header + m_nHeaderBytes, pData, static_cast<size_t>(take));
    m_nHeaderBytes += take;
    if (m_nHeaderBytes == 4) m_nBitRate = MP3BitRate(m_header);
  }
  m_nWrite += length;
  m_nLatestRate = RateLocked(length, plat::GetTickCount());
  WakeIfReadyLocked();
  return 0;
}

// The lower of the rate since the first append and the mean of the last
// four appends: a download that slows down is believed at once, one that
// speeds up only once it has kept it up. Times are differences of the
// wrapping tick count; the arithmetic is 64-bit, as a preview can pass the
// size where bytes × 1000 leave 32 bits.
int64_t CMP3HTTPFile::RateLocked(int32_t length, uint32_t now) {
  if (m_nAppends++ == 0) {
    m_nFirstTime = m_nLatestTime = now;
    m_nFirstSize = length;
    return 0;
  }
  uint32_t sinceFirst = now - m_nFirstTime;
  int64_t overall = sinceFirst ? int64_t{m_nWrite - m_nFirstSize} * 1000 / sinceFirst : 1000;
  uint32_t sinceLatest = now - m_nLatestTime;
  m_rates[0] = m_rates[1];
  m_rates[1] = m_rates[2];
  m_rates[2] = m_rates[3];
  int64_t sum = m_rates[0] + m_rates[1] + m_rates[2];
  if (sinceLatest) {
    m_rates[3] = int64_t{length} * 1000 / sinceLatest;
    sum += m_rates[3];
  } else {
    m_rates[3] = 1000;
  }
  m_nLatestTime = now;
  return std::min(overall, sum / 4);
}

void CMP3HTTPFile::WakeIfReadyLocked() {
  if (!m_bWaiting || m_nWrite <= m_nRead) return;
  bool ready = m_nWrite == m_nTotal;
  if (!ready && m_nBitRate > 0 && m_nTotal >= 0) {
    // (total - write) / rate <= (total - read) / bit rate, without rounding.
    int64_t left = int64_t{m_nTotal} - m_nRead;
    int64_t toCome = std::max<int64_t>(0, int64_t{m_nTotal} - m_nWrite);
    if (m_nLatestRate > 0)
      ready = toCome * m_nBitRate <= left * m_nLatestRate;
    else
      ready = kUnknownDownloadSeconds * m_nBitRate <= left;
  }
  if (!ready) return;
  m_bWaiting = false;
  plat::SetEvent(m_hDataEvent);
}

int32_t CMP3HTTPFile::ReadLimitLocked() const {
  return m_nTotal >= 0 ? std::min(m_nWrite, m_nTotal) : m_nWrite;
}

int32_t CMP3HTTPFile::Read(uint8_t* pBuffer, int32_t length) {
  TScopedLock lock(m_lock);
  int32_t count = std::min(length, ReadLimitLocked() - m_nRead);
  if (count <= 0) return 0;
  uint32_t got = 0;
  if ((plat::SetFilePointer(m_hFile, m_nRead, nullptr, plat::FILE_BEGIN) == plat::INVALID_SET_FILE_POINTER &&
       plat::GetLastError() != plat::ERROR_SUCCESS) ||
      !plat::ReadFile(m_hFile, pBuffer, static_cast<uint32_t>(count), &got) || got == 0) {
    DebugTrace(u"[QUOREL] CMP3HTTPFile::Read error: %d, m_ReadPos: %d\n", static_cast<int32_t>(plat::GetLastError()),
               m_nRead);
    m_bBroken = true;
    return 0;
  }
  m_nRead += static_cast<int32_t>(got);
  return static_cast<int32_t>(got);
}

bool CMP3HTTPFile::IsFinished() {
  TScopedLock lock(m_lock);
  return m_nRead == m_nTotal || m_bBroken;
}

bool CMP3HTTPFile::IsStarving() {
  TScopedLock lock(m_lock);
  return m_nRead >= ReadLimitLocked() && !m_bBroken;
}

void CMP3HTTPFile::WaitForData() {
  TScopedLock lock(m_lock);
  m_bWaiting = true;
  // The last append may have come between the core's look at the source and
  // this call; it would have woken nobody.
  WakeIfReadyLocked();
}

int32_t CMP3HTTPFile::GetBitRate() {
  TScopedLock lock(m_lock);
  return m_nBitRate;
}

int64_t CMP3HTTPFile::GetLatestRate() {
  TScopedLock lock(m_lock);
  return m_nLatestRate;
}

bool CMP3HTTPFile::IsComplete() {
  TScopedLock lock(m_lock);
  return m_nTotal != -1 && m_nTotal == m_nWrite;
}
