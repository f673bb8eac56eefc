#include "tools/protocol-server/Log.h"

#include <cerrno>
#include <cstring>

namespace qps {

RequestLog::RequestLog(const std::string& file) {
  if (file.empty()) return;
  m_file = std::fopen(file.c_str(), "a");
  if (!m_file) m_fileError = "cannot open log file " + file + ": " + std::strerror(errno);
}

RequestLog::~RequestLog() {
  if (m_file) std::fclose(m_file);
}

long long RequestLog::NextSequence() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_next++;
}

void RequestLog::Add(long long seq, const std::string& json, const std::string& readable) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // Requests finish out of order; keep the list sorted by sequence.
  auto it = m_entries.end();
  while (it != m_entries.begin() && std::prev(it)->first > seq) --it;
  m_entries.insert(it, {seq, json});
  while (m_entries.size() > kKeep) m_entries.pop_front();
  if (m_file) {
    std::fputs(json.c_str(), m_file);
    std::fputc('\n', m_file);
    std::fflush(m_file);
  }
  std::fprintf(stderr, "%s\n", readable.c_str());
}

std::string RequestLog::Since(long long since) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string out;
  for (const auto& [seq, json] : m_entries)
    if (seq >= since) out += json + "\n";
  out += "{\"next\":" + std::to_string(m_next) + "}\n";
  return out;
}

void RequestLog::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.clear();
  m_next = 1;
}

}  // namespace qps
