#include "net/HTTPSink.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "framework/Trace.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"

void DisposeOwnedSink(CHTTPSink* pSink) {
  if (pSink && pSink->IsMemory() && pSink->ReferenceCount() == 0) delete pSink;
}

// ---------------------------------------------------------------------------
// CHTTPMemorySink

CHTTPMemorySink::~CHTTPMemorySink() { std::free(m_pData); }

bool CHTTPMemorySink::Reserve(int64_t length) {
  int64_t need = length + 1;
  if (need <= m_nCapacity) return true;
  // Grow geometrically for bodies of unknown length, so a chunked download
  // does not copy its whole body at every piece.
  int64_t capacity = need;
  if (m_nExpected < 0) capacity = std::max(need, std::min<int64_t>(m_nCapacity * 2, int64_t{kMaxMemoryBody} + 1));
  char* pNew = static_cast<char*>(std::realloc(m_pData, static_cast<size_t>(capacity)));
  if (!pNew) return false;
  m_pData = pNew;
  m_nCapacity = capacity;
  return true;
}

void CHTTPMemorySink::Adopt(char* pData, int32_t length, int64_t capacity) {
  std::free(m_pData);
  m_pData = pData;
  m_nHeld = length;
  m_nCapacity = capacity;
}

int32_t CHTTPMemorySink::Begin(int32_t expectedLength, int32_t status) {
  if (expectedLength < 0) {
    m_nExpected = -1;
    return 0;
  }
  if (expectedLength > kMaxMemoryBody) return -1;
  std::free(m_pData);
  m_pData = nullptr;
  m_nHeld = 0;
  m_nCapacity = 0;
  m_nExpected = expectedLength;
  if (!Reserve(expectedLength)) return -1;
  m_pData[0] = 0;
  return expectedLength;
}

int32_t CHTTPMemorySink::Append(const char* pData, int32_t length) {
  if (length < 0 || (length > 0 && !pData)) return -1;
  int64_t newHeld = int64_t{m_nHeld} + length;
  if (newHeld > kMaxMemoryBody) return -1;
  if (!Reserve(newHeld)) return -1;
  // A body longer than announced still fits; the announcement grows with it.
  if (m_nExpected >= 0 && newHeld > m_nExpected) m_nExpected = static_cast<int32_t>(newHeld);
  if (length > 0) std::memcpy(m_pData + m_nHeld, pData, static_cast<size_t>(length));
  m_nHeld = static_cast<int32_t>(newHeld);
  // Readers take the body as a terminated text.
  m_pData[m_nHeld] = 0;
  return m_nHeld;
}

void CHTTPMemorySink::Release() {
  std::free(m_pData);
  m_pData = nullptr;
  m_nHeld = 0;
  m_nCapacity = 0;
}

// ---------------------------------------------------------------------------
// CHTTPGzipSink

namespace {

enum : uint8_t { kGzFText = 1, kGzFHcrc = 2, kGzFExtra = 4, kGzFName = 8, kGzFComment = 16, kGzReserved = 0xE0 };

// Offset of the deflate data after a gzip member header, or 0 when the
// header is not one or runs past the data.
size_t GzipDataOffset(const uint8_t* p, size_t n) {
  if (n < 10 || p[0] != 0x1F || p[1] != 0x8B || p[2] != 8 || (p[3] & kGzReserved)) return 0;
  uint8_t flags = p[3];
  size_t pos = 10;
  if (flags & kGzFExtra) {
    if (n - pos < 2) return 0;
    size_t extra = p[pos] | (size_t{p[pos + 1]} << 8);
    pos += 2;
    if (n - pos < extra) return 0;
    pos += extra;
  }
  for (uint8_t field : {kGzFName, kGzFComment}) {
    if (!(flags & field)) continue;
    const void* pEnd = std::memchr(p + pos, 0, n - pos);
    if (!pEnd) return 0;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(pEnd) - p) + 1;
  }
  if (flags & kGzFHcrc) {
    if (n - pos < 2) return 0;
    pos += 2;
  }
  return pos < n ? pos : 0;
}

bool IsGzipStart(const char* p, int32_t n) {
  return n >= 11 && static_cast<uint8_t>(p[0]) == 0x1F && static_cast<uint8_t>(p[1]) == 0x8B;
}

}  // namespace

bool CHTTPGzipSink::DecodeOnce() {
  const uint8_t* pIn = reinterpret_cast<const uint8_t*>(m_pData);
  size_t offset = GzipDataOffset(pIn, static_cast<size_t>(m_nHeld));
  if (offset == 0) return false;

  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(pIn + offset);
  stream.avail_in = static_cast<uInt>(static_cast<size_t>(m_nHeld) - offset);

  char* pOut = nullptr;
  int64_t size = 0;
  bool bDone = false;
  // The room grows a step per round (by half again once it is past a few
  // steps, so a large body costs a few dozen rounds, not thousands) and
  // inflating carries on where it stopped. The trailer's CRC and size are
  // not checked.
  for (;;) {
    size += std::max<int64_t>(kInflateStep, size / 2);
    int64_t room = std::min<int64_t>(size - 1, kMaxMemoryBody);
    if (room <= static_cast<int64_t>(stream.total_out)) break;  // decoded body too large
    char* pNew = static_cast<char*>(std::realloc(pOut, static_cast<size_t>(size)));
    if (!pNew) break;
    pOut = pNew;
    stream.next_out = reinterpret_cast<Bytef*>(pOut + stream.total_out);
    stream.avail_out = static_cast<uInt>(room - static_cast<int64_t>(stream.total_out));
    int rc = inflate(&stream, Z_FINISH);
    if (rc == Z_STREAM_END) {
      bDone = true;
      break;
    }
    // Out of room only when the output is full; a buffer error with room
    // left means the input ended early.
    if ((rc == Z_BUF_ERROR || rc == Z_OK) && stream.avail_out == 0) continue;
    break;
  }
  int32_t decoded = static_cast<int32_t>(stream.total_out);
  inflateEnd(&stream);
  if (!bDone) {
    std::free(pOut);
    return false;
  }
  pOut[decoded] = 0;
  Adopt(pOut, decoded, size);
  return true;
}

int32_t CHTTPGzipSink::Finish(const THTTPHeaderMap& responseHeaders) {
  m_bFinished = true;
  auto it = responseHeaders.find(plat::WStringView(u"Content-Encoding"));
  if (it == responseHeaders.end() || it->second != u"gzip") return 0;
  if (!m_pData || m_nHeld < 11) return -1;
  for (int nDecodes = 0;; ++nDecodes) {
    if (nDecodes == kMaxDecodes) {
      DebugTrace(u"[QUOREL] CHTTPGzipSink: gzip nested more than %d deep\n", kMaxDecodes);
      return -1;
    }
    if (!DecodeOnce()) return -1;
    if (!IsGzipStart(m_pData, m_nHeld)) return 0;
  }
}

// ---------------------------------------------------------------------------
// CHTTPFileSink

namespace {

std::mutex& FolderMutex() {
  static std::mutex mutex;
  return mutex;
}
CHTTPFileSink::TFolderSource& FolderSource() {
  static CHTTPFileSink::TFolderSource source;
  return source;
}

}  // namespace

void CHTTPFileSink::SetFolderSource(TFolderSource source) {
  std::lock_guard<std::mutex> guard(FolderMutex());
  FolderSource() = std::move(source);
}

plat::WString CHTTPFileSink::MakePath(plat::WStringView name) {
  TFolderSource source;
  {
    std::lock_guard<std::mutex> guard(FolderMutex());
    source = FolderSource();
  }
  plat::WString folder = source ? source() : plat::WString();
  return folder + u"\\" + plat::WString(name);
}

CHTTPFileSink::CHTTPFileSink() : m_pProgress(CEventFireMessage<FileDownloadEvent>::New()) {
  m_pProgress->SetKept(true);
}

CHTTPFileSink::~CHTTPFileSink() {
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  // A kept message leaves the queue on its own when deleted.
  delete m_pProgress;
}

void CHTTPFileSink::PostProgressLocked() {
  CEventQueue* pQueue = CEventQueue::Current();
  if (!pQueue) return;
  // Fill and queue under the queue's lock: the UI reads the payload under the
  // same lock, so it never sees a half-written pair.
  pQueue->UpdateAndPost(m_pProgress, [this] { m_pProgress->Payload() = {m_nExpected, m_nWritten}; });
}

int32_t CHTTPFileSink::Begin(int32_t expectedLength, int32_t status) {
  TScopedLock lock(m_lock);
  m_nExpected = expectedLength;
  bool bAccept = status == 200 && expectedLength >= 0 && m_hFile != plat::INVALID_HANDLE_VALUE;
  PostProgressLocked();
  return bAccept ? 0 : -1;
}

int32_t CHTTPFileSink::Append(const char* pData, int32_t length) {
  TScopedLock lock(m_lock);
  if (m_hFile == plat::INVALID_HANDLE_VALUE || length < 0 || (length > 0 && !pData)) return -1;
  if (int64_t{m_nWritten} + length > std::numeric_limits<int32_t>::max()) return -1;
  if (plat::SetFilePointer(m_hFile, m_nWritten, nullptr, plat::FILE_BEGIN) == plat::INVALID_SET_FILE_POINTER)
    return -1;
  uint32_t done = 0;
  if (!plat::WriteFile(m_hFile, pData, static_cast<uint32_t>(length), &done) ||
      done != static_cast<uint32_t>(length))
    return -1;
  m_nWritten += length;
  PostProgressLocked();
  return 0;
}

int32_t CHTTPFileSink::GetLength() {
  TScopedLock lock(m_lock);
  return m_nWritten;
}

int32_t CHTTPFileSink::GetExpectedLength() {
  TScopedLock lock(m_lock);
  return m_nExpected;
}

void CHTTPFileSink::Release() {
  TScopedLock lock(m_lock);
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  m_hFile = plat::INVALID_HANDLE_VALUE;
}

void CHTTPFileSink::Open(plat::WStringView name) {
  TScopedLock lock(m_lock);
  if (m_hFile != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(m_hFile);
  m_path = MakePath(name);
  m_hFile = plat::CreateFile(m_path, plat::GENERIC_READ | plat::GENERIC_WRITE, 0, plat::CREATE_ALWAYS,
                             plat::FILE_ATTRIBUTE_NORMAL);
  // Nothing is known of the next body until its headers arrive.
  m_nExpected = -1;
  m_nWritten = 0;
  if (m_hFile == plat::INVALID_HANDLE_VALUE) throw Env::TSysErrorCode{Env::ErrSystem};
}

bool CHTTPFileSink::DeleteFile(plat::WStringView name) { return plat::DeleteFile(MakePath(name)); }

bool CHTTPFileSink::IsComplete() {
  TScopedLock lock(m_lock);
  return m_nExpected >= 0 && m_nWritten >= m_nExpected;
}
