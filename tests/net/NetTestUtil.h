// Helpers shared by the HTTP client's tests: building gzip and chunked
// bodies, and a small application harness (object registry and event queue)
// that stands for the application object.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "net/HTTPSink.h"
#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"

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

// A temporary device root with a \Store folder that is the file sink's
// folder; Remove gives the sink its default folder back and deletes the root.
class CStoreRoot {
 public:
  // `prefix` names the host folder ("quorel-sink" and so on).
  ::testing::AssertionResult Make(const char* prefix) {
    std::string templ = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr) return ::testing::AssertionFailure() << "no temporary folder";
    m_top = templ;
    plat::FileSystemConfig config;
    config.deviceRoot = m_top / "device";
    if (!plat::ConfigureFileSystem(config)) return ::testing::AssertionFailure() << "device root refused";
    if (!plat::CreateDirectory(u"\\Store")) return ::testing::AssertionFailure() << "no \\Store folder";
    CHTTPFileSink::SetFolderSource([] { return plat::WString(u"\\Store"); });
    return ::testing::AssertionSuccess();
  }
  void Remove() {
    CHTTPFileSink::SetFolderSource({});
    std::error_code ec;
    std::filesystem::remove_all(m_top, ec);
  }
  // The host path of \Store\<name>, and what that file holds ("" when absent).
  std::filesystem::path HostPath(const char* name) const { return m_top / "device" / "fs" / "Store" / name; }
  std::string HostFile(const char* name) const {
    std::ifstream in(HostPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path m_top;
};

}  // namespace nettest
