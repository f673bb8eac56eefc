// The request log: one JSON object per client request, kept in memory for
// /_ctl/log, appended to --log, and echoed as one readable line on stderr.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace qps {

class RequestLog {
 public:
  static constexpr size_t kKeep = 10000;  // entries kept in memory

  explicit RequestLog(const std::string& file = {});
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  bool Opened() const { return m_fileError.empty(); }
  const std::string& FileError() const { return m_fileError; }

  // The next sequence number; entries are numbered from 1.
  long long NextSequence();
  // json must be one object whose first member is "seq".
  void Add(long long seq, const std::string& json, const std::string& readable);
  // Entries with sequence >= since, one per line, then {"next":N}.
  std::string Since(long long since) const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::deque<std::pair<long long, std::string>> m_entries;
  long long m_next = 1;
  std::FILE* m_file = nullptr;
  std::string m_fileError;
};

}  // namespace qps
