#include "audio/MP3FileSource.h"

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"

int32_t CMP3FileSource::Open(plat::WStringView path) {
  Close();
  m_hFile = plat::CreateFile(path, plat::GENERIC_READ, 0, plat::OPEN_EXISTING);
  if (m_hFile == plat::INVALID_HANDLE_VALUE) return static_cast<int32_t>(plat::GetLastError());
  uint8_t header[4];
  uint32_t got = 0;
  if (!plat::ReadFile(m_hFile, header, 4, &got) || got < 4) {
    Close();
    return -1;
  }
  uint32_t size = plat::GetFileSize(m_hFile, nullptr);
  if (size == plat::INVALID_FILE_SIZE) size = 0;
  m_nDuration = static_cast<int32_t>(size / static_cast<uint32_t>(MP3BitRate(header)));
  plat::SetFilePointer(m_hFile, 0, nullptr, plat::FILE_BEGIN);
  m_hDataEvent = plat::CreateEvent(false, false);
  if (!m_hDataEvent) {
    int32_t error = static_cast<int32_t>(plat::GetLastError());
    Close();
    return error;
  }
  m_bFinished.store(false, std::memory_order_release);
  return 0;
}

void CMP3FileSource::Close() {
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  m_hFile = plat::INVALID_HANDLE_VALUE;
  if (m_hDataEvent) plat::CloseHandle(m_hDataEvent);
  m_hDataEvent = nullptr;
}

int32_t CMP3FileSource::Read(uint8_t* pBuffer, int32_t length) {
  uint32_t got = 0;
  if (length <= 0) return 0;
  bool ok = m_hFile != plat::INVALID_HANDLE_VALUE &&
            plat::ReadFile(m_hFile, pBuffer, static_cast<uint32_t>(length), &got);
  // A failed read ends the stream like its end would: the core must not
  // ask again for bytes that will never come.
  if (!ok || got < static_cast<uint32_t>(length)) m_bFinished.store(true, std::memory_order_release);
  return static_cast<int32_t>(got);
}
