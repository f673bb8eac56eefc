// Helpers shared by the HTTP client's tests: building gzip and chunked
// bodies, and a small application harness (object registry and event queue)
// that stands for the application object.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "platform/base/Debug.h"

namespace nettest {

struct TGzipOptions {
  std::string name;     // FNAME when not empty
  std::string comment;  // FCOMMENT when not empty
  std::string extra;    // FEXTRA when not empty
  bool bHeaderCrc = false;
};

// `data` as one gzip member, made by zlib's own gzip writer.
inline std::string Gzip(const std::string& data, const TGzipOptions& options = {}) {
  z_stream s{};
  deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
  gz_header header{};
  std::string name = options.name, comment = options.comment, extra = options.extra;
  if (!name.empty()) header.name = reinterpret_cast<Bytef*>(name.data());
  if (!comment.empty()) header.comment = reinterpret_cast<Bytef*>(comment.data());
  if (!extra.empty()) {
    header.extra = reinterpret_cast<Bytef*>(extra.data());
    header.extra_len = static_cast<uInt>(extra.size());
  }
  header.hcrc = options.bHeaderCrc ? 1 : 0;
  deflateSetHeader(&s, &header);
  std::string out(deflateBound(&s, data.size()) + 64 + name.size() + comment.size() + extra.size(), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

// The body as chunks of the given sizes (the rest in one last chunk), then
// the last chunk and the blank line.
inline std::string Chunked(const std::string& body, std::vector<size_t> sizes = {}, bool bUpper = false) {
  std::string out;
  size_t pos = 0;
  auto chunk = [&](size_t n) {
    char line[32];
    snprintf(line, sizeof line, bUpper ? "%zX\r\n" : "%zx\r\n", n);
    out += line;
    out += body.substr(pos, n);
    out += "\r\n";
    pos += n;
  };
  for (size_t n : sizes)
    if (n && pos < body.size()) chunk(std::min(n, body.size() - pos));
  if (pos < body.size()) chunk(body.size() - pos);
  out += "0\r\n\r\n";
  return out;
}

// Text that compresses badly, so sizes are predictable.
inline std::string Noise(size_t n, uint32_t seed = 1) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>('!' + (seed >> 16) % 90);
  }
  return s;
}

// What a running application provides to the HTTP client: the object
// registry and the event queue. Wake-ups are counted; RunAll dispatches
// everything queued on the calling (UI) thread.
struct TTestApp {
  std::atomic<int> nWakeUps{0};
  CObjectRegistry registry;
  CEventQueue queue{[this] {
    ++nWakeUps;
    return true;
  }};
  TTestApp() {
    queue.SetInitialised(true);
    queue.SetLoopAlive(false);  // every RunEvents drains the queue
  }
  void RunAll() { queue.RunEvents(); }
};

// Collects debug output for the life of the object.
class TDebugCapture {
 public:
  TDebugCapture() {
    m_previous = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_lines.push_back(plat::ToUtf8(text));
    });
  }
  ~TDebugCapture() { plat::SetDebugSink(std::move(m_previous)); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }
  size_t Count(const std::string& part) {
    size_t n = 0;
    for (const std::string& line : Lines()) n += line.find(part) != std::string::npos;
    return n;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
  plat::DebugSink m_previous;
};

// Keeps the trace of the code under test off the test output (set
// QUOREL_TEST_TRACE to see it).
class TQuietTrace : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QUOREL_TEST_TRACE")) m_previous = plat::SetDebugSink([](plat::WStringView) {});
  }
  void TearDown() override {
    if (!std::getenv("QUOREL_TEST_TRACE")) plat::SetDebugSink(std::move(m_previous));
  }

 private:
  plat::DebugSink m_previous;
};

}  // namespace nettest
