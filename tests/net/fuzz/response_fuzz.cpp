// Fuzz target: the response parser with the memory and gzip sinks.
//
// The first input byte picks the sink and the size of the pieces the rest
// is fed in; the rest is the response. The response is parsed twice, in one
// piece and in pieces, and both runs must agree (events without the
// body-data reports, and the body): how the bytes arrive must never change
// what the client makes of them. The sink must keep its zero after the data
// and stay within its cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/HTTPParser.h"
#include "net/HTTPSink.h"
#include "platform/base/Debug.h"

namespace {

struct TOutcome {
  std::vector<int32_t> events;
  std::string body;
};

TOutcome Parse(const uint8_t* data, size_t size, bool bGzip, size_t piece) {
  std::unique_ptr<CHTTPMemorySink> sink(bGzip ? new CHTTPGzipSink() : new CHTTPMemorySink());
  CHTTPResponseParser parser;
  parser.Start(1);
  THTTPHeaderMap headers;
  TOutcome out;
  bool bEnded = false;
  auto report = [&](int32_t code) {
    // Nothing is reported once the parser has stopped or completed.
    if (bEnded) std::abort();
    if (code >= EHttpBadStatus || code == EHttpComplete) bEnded = true;
    if (code != EHttpBodyData) out.events.push_back(code);
  };
  for (size_t at = 0; at < size; at += piece) {
    // Each piece in its own buffer, as a receive delivers it.
    std::vector<char> buffer(data + at, data + std::min(size, at + piece));
    if (!parser.Feed(buffer.data(), buffer.size(), sink.get(), headers, report)) break;
  }
  if (sink->GetLength() < 0 || sink->GetLength() > kMaxMemoryBody) std::abort();
  if (char* p = sink->GetData()) {
    if (p[sink->GetLength()] != 0) std::abort();
    out.body.assign(p, static_cast<size_t>(sink->GetLength()));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool s_quiet = [] {
    plat::SetDebugSink([](plat::WStringView) {});
    return true;
  }();
  (void)s_quiet;
  if (size < 1) return 0;
  bool bGzip = data[0] & 0x80;
  size_t piece = (data[0] & 0x7F) + 1;
  TOutcome whole = Parse(data + 1, size - 1, bGzip, size);
  TOutcome split = Parse(data + 1, size - 1, bGzip, piece);
  if (whole.events != split.events || whole.body != split.body) std::abort();
  return 0;
}
