// Body sinks: where the HTTP core puts a response body as it arrives.
//
// The worker thread hands every body to the sink of its connection slot piece
// by piece: Begin once the headers are complete, Append for each piece, Finish
// once the body is complete. A memory sink grows a buffer, a gzip sink is a
// memory sink that inflates itself at Finish, a file sink writes into the
// preview store's folder and reports its progress to the UI thread. The MP3
// download file of the sound player is a sink of its own kind.
//
// Sinks are reference counted (the count starts at 0) so that the request
// layer can hand one body to several handles. Memory-backed sinks belong to
// the slot that made them until they are handed out; file-backed sinks always
// belong to whoever made them, and the core never deletes them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "framework/Events.h"
#include "framework/wrappers.h"
#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

// Case-insensitive ordering of header names.
struct TNoCaseLess {
  bool operator()(plat::WStringView a, plat::WStringView b) const { return plat::CompareNoCase(a, b) < 0; }
  using is_transparent = void;
};

// Request headers until the head is sent, then the response headers: each
// name once (compared without regard to case), the last value set wins, and
// iteration runs in case-insensitive name order.
using THTTPHeaderMap = std::map<plat::WString, plat::WString, TNoCaseLess>;

// The most a memory-backed sink holds, announced or not: a larger body is
// refused rather than allowed to exhaust the phone's memory.
inline constexpr int32_t kMaxMemoryBody = 64 * 1024 * 1024;

class CHTTPSink : public RCObject {
 public:
  ~CHTTPSink() override = default;

  // Once, when the response headers are complete. `expectedLength` is the
  // Content-Length or -1 when unknown. A negative result refuses the body.
  virtual int32_t Begin(int32_t expectedLength, int32_t status) = 0;
  // Body bytes in arrival order; -1 is failure.
  virtual int32_t Append(const char* pData, int32_t length) = 0;
  virtual int32_t GetLength() = 0;
  virtual int32_t GetExpectedLength() = 0;
  // Frees what the sink holds (buffer, file).
  virtual void Release() = 0;
  // The body in memory, followed by one zero byte, where there is one.
  virtual char* GetData() = 0;
  virtual bool IsMemory() = 0;
  // Once, when the body is complete; 0 success, -1 failure.
  virtual int32_t Finish(const THTTPHeaderMap& responseHeaders) = 0;
};

// Deletes a sink that nobody else can own: a memory-backed sink that no
// counted reference holds. File-backed sinks and referenced sinks are left
// to their holders.
void DisposeOwnedSink(CHTTPSink* pSink);

class CHTTPMemorySink : public CHTTPSink {
 public:
  CHTTPMemorySink() = default;
  ~CHTTPMemorySink() override;
  CHTTPMemorySink(const CHTTPMemorySink&) = delete;
  CHTTPMemorySink& operator=(const CHTTPMemorySink&) = delete;

  int32_t Begin(int32_t expectedLength, int32_t status) override;
  int32_t Append(const char* pData, int32_t length) override;
  int32_t GetLength() override { return m_nHeld; }
  int32_t GetExpectedLength() override { return m_nExpected; }
  void Release() override;
  char* GetData() override { return m_pData; }
  bool IsMemory() override { return true; }
  int32_t Finish(const THTTPHeaderMap& responseHeaders) override { return 0; }

 protected:
  // Makes room for `length` bytes plus the zero byte; false when the
  // allocation fails (the held bytes stay).
  bool Reserve(int64_t length);
  // Takes over a malloc'ed buffer of `capacity` bytes holding `length`
  // bytes and a zero after them, freeing the old one.
  void Adopt(char* pData, int32_t length, int64_t capacity);

  char* m_pData = nullptr;
  int32_t m_nHeld = 0;
  int32_t m_nExpected = -1;
  int64_t m_nCapacity = 0;  // bytes allocated, the zero byte's included
};

// A memory sink whose body is inflated at Finish when the response says
// "Content-Encoding: gzip". Its data is readable only once Finish has run.
class CHTTPGzipSink : public CHTTPMemorySink {
 public:
  char* GetData() override { return m_bFinished ? m_pData : nullptr; }
  int32_t Finish(const THTTPHeaderMap& responseHeaders) override;

  // How many times a body may be found gzip'ed inside gzip before the sink
  // gives up on it.
  static constexpr int kMaxDecodes = 4;
  // Output room grows by this much per decode round at first.
  static constexpr int32_t kInflateStep = 10240;

 private:
  // One gzip member over the held bytes; false leaves them as they are.
  bool DecodeOnce();

  bool m_bFinished = false;
};

// Progress of a file download as the UI sees it.
struct TFileDownloadProgress {
  int32_t nExpected = 0;
  int32_t nWritten = 0;
};
struct FileDownloadEvent {
  using TPayload = TFileDownloadProgress;
};

// A sink that writes the body into a file of the preview store's folder and
// keeps at most one progress notification waiting for the UI thread, with the
// latest numbers. Its counters are read from the UI thread while the worker
// writes, so they live under the sink's lock.
class CHTTPFileSink : public CHTTPSink {
 public:
  CHTTPFileSink();
  ~CHTTPFileSink() override;
  CHTTPFileSink(const CHTTPFileSink&) = delete;
  CHTTPFileSink& operator=(const CHTTPFileSink&) = delete;

  // Accepts only status 200 with a known length; reports progress either way.
  int32_t Begin(int32_t expectedLength, int32_t status) override;
  int32_t Append(const char* pData, int32_t length) override;
  int32_t GetLength() override;
  int32_t GetExpectedLength() override;
  void Release() override;  // closes the file
  char* GetData() override { return nullptr; }
  bool IsMemory() override { return false; }
  int32_t Finish(const THTTPHeaderMap& responseHeaders) override { return 0; }

  // The store folder, a backslash, the name.
  static plat::WString MakePath(plat::WStringView name);
  // Creates (or truncates) the file for the next download; throws
  // Env::TSysErrorCode 7 when it cannot be created.
  void Open(plat::WStringView name);
  static bool DeleteFile(plat::WStringView name);
  bool IsComplete();

  // Where the store folder comes from (the preview store once it exists).
  using TFolderSource = std::function<plat::WString()>;
  static void SetFolderSource(TFolderSource source);

 private:
  void PostProgressLocked();

  plat::CriticalSection m_section;
  CCriticalSectionLock m_lock{&m_section};
  plat::Handle m_hFile = plat::INVALID_HANDLE_VALUE;
  plat::WString m_path;
  int32_t m_nExpected = -1;
  int32_t m_nWritten = 0;
  CEventFireMessage<FileDownloadEvent>* m_pProgress;
};
