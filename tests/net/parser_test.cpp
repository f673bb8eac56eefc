#include "net/HTTPParser.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetTestUtil.h"

namespace {

[[maybe_unused]] const auto* g_pQuiet = ::testing::AddGlobalTestEnvironment(new nettest::TQuietTrace);

using nettest::Chunked;
using nettest::Gzip;
using nettest::Noise;

enum class ESink { Memory, Gzip };

// What a response leaves behind once it has been fed in.
struct TOutcome {
  std::vector<int32_t> events;  // body-data reports collapsed (see Collapse)
  std::string body;
  bool bHasBuffer = false;
  int32_t status = 0;
  THTTPHeaderMap headers;
  int32_t bodyReports = 0;
  bool bBodyReportsInOrder = true;  // every 5 lies between 4 and the end
};

TOutcome Parse(const std::string& response, const std::vector<size_t>& cuts, ESink kind = ESink::Memory) {
  std::unique_ptr<CHTTPMemorySink> sink(kind == ESink::Gzip ? new CHTTPGzipSink() : new CHTTPMemorySink());
  CHTTPResponseParser parser;
  parser.Start(7);
  TOutcome out;
  std::vector<int32_t> raw;
  auto report = [&](int32_t code) { raw.push_back(code); };
  size_t at = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(response.size());
  for (size_t end : ends) {
    if (end < at) continue;
    // Every receive lands in its own buffer, as the slot's does.
    std::string piece = response.substr(at, end - at);
    bool bGoOn = parser.Feed(piece.data(), piece.size(), sink.get(), out.headers, report);
    at = end;
    if (!bGoOn) break;
  }
  bool bSeenHeaders = false;
  for (int32_t code : raw) {
    if (code == EHttpHeadersDone) bSeenHeaders = true;
    if (code == EHttpBodyData) {
      ++out.bodyReports;
      out.bBodyReportsInOrder = out.bBodyReportsInOrder && bSeenHeaders;
      continue;
    }
    out.events.push_back(code);
  }
  out.status = parser.Status();
  out.bHasBuffer = sink->GetData() != nullptr;
  if (sink->GetData()) out.body.assign(sink->GetData(), static_cast<size_t>(sink->GetLength()));
  return out;
}

struct TCase {
  const char* name;
  std::string response;
  std::vector<int32_t> events;  // without body-data reports
  std::string body;
  ESink sink = ESink::Memory;
};

const std::string kBody = Noise(300);
const std::string kOk = "HTTP/1.1 200 OK\r\n";

std::vector<TCase> Cases() {
  std::string gz = Gzip(kBody, {"reply.xml", "", "", false});
  return {
      {"counted", kOk + "Content-Length: 300\r\n\r\n" + kBody, {3, 4, 6}, kBody},
      {"counted with bytes beyond the length", kOk + "Content-Length: 10\r\n\r\n" + kBody, {3, 4, 6}, kBody.substr(0, 10)},
      {"status without reason phrase", "HTTP/1.1 404\r\nContent-Length: 2\r\n\r\nno", {3, 4, 6}, "no"},
      {"bare line feeds throughout", "HTTP/1.1 200 OK\nContent-Length: 300\nX: y\n\n" + kBody, {3, 4, 6}, kBody},
      {"chunked", kOk + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(kBody, {1, 17, 80}), {3, 4, 6}, kBody},
      {"chunked upper-case hex with extensions and trailers",
       kOk + "Transfer-Encoding: chunked\r\n\r\n1A;name=v\r\n" + kBody.substr(0, 26) + "\r\nb \t;x\r\n" +
           kBody.substr(26, 11) + "\r\n0;end\r\nTrailer: t\r\n\r\n",
       {3, 4, 6}, kBody.substr(0, 37)},
      {"chunked with bare line feeds", kOk + "Transfer-Encoding: chunked\n\n5\n" + kBody.substr(0, 5) + "\n0\n\n",
       {3, 4, 6}, kBody.substr(0, 5)},
      {"chunked wins over content length",
       kOk + "Content-Length: 5\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n" + Chunked(kBody, {100}), {3, 4, 6}, kBody},
      {"other transfer coding without length is chunked", kOk + "Transfer-Encoding: identity\r\n\r\n" + Chunked(kBody),
       {3, 4, 6}, kBody},
      {"empty chunked body", kOk + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", {3, 4, 6}, ""},
      {"gzip with a file name", kOk + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gz.size()) +
           "\r\n\r\n" + gz, {3, 4, 6}, kBody, ESink::Gzip},
      {"chunked gzip", kOk + "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(gz, {7, 100}),
       {3, 4, 6}, kBody, ESink::Gzip},
      {"truncated gzip", kOk + "Content-Encoding: gzip\r\nContent-Length: 40\r\n\r\n" + gz.substr(0, 40), {3, 4, 15},
       gz.substr(0, 40), ESink::Gzip},
      {"repeated equal lengths", kOk + "Content-Length: 3\r\ncontent-length: 3\r\n\r\nabc", {3, 4, 6}, "abc"},
      {"bytes after the end are dropped", kOk + "Content-Length: 3\r\n\r\nabcHTTP/1.1 200 OK\r\n\r\n", {3, 4, 6}, "abc"},
      {"bytes after the last chunk are dropped",
       kOk + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\ngarbage without end", {3, 4, 6}, "abc"},
      // Faults.
      {"version 1.0", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na", {13}, ""},
      {"garbage", "<html>hello</html>\r\n\r\n", {13}, ""},
      {"two-digit status", "HTTP/1.1 20\r\n\r\n", {13}, ""},
      {"status glued to its reason", "HTTP/1.1 200OK\r\n\r\n", {13}, ""},
      {"letters for a status", "HTTP/1.1 2x0 OK\r\n\r\n", {13}, ""},
      {"header without colon", kOk + "Content-Length 5\r\n\r\nhello", {3, 14}, ""},
      {"no length and no coding", kOk + "Server: x\r\n\r\nhello", {3, 4, 16}, ""},
      {"zero length without coding", kOk + "Content-Length: 0\r\n\r\n", {3, 4, 16}, ""},
      {"length with a letter", kOk + "Content-Length: 12a\r\n\r\nhello", {3, 4, 16}, ""},
      {"signed length", kOk + "Content-Length: -5\r\n\r\nhello", {3, 4, 16}, ""},
      {"length beyond 32 bits", kOk + "Content-Length: 4294967301\r\n\r\nhello", {3, 4, 16}, ""},
      {"conflicting lengths", kOk + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", {3, 4, 16}, ""},
      {"length beyond the memory cap", kOk + "Content-Length: 67108865\r\n\r\nx", {3, 4, 18}, ""},
      {"chunk size not hex", kOk + "Transfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n", {3, 4, 17}, ""},
      {"chunk size with trailing junk", kOk + "Transfer-Encoding: chunked\r\n\r\n5 x\r\nabcde\r\n0\r\n\r\n", {3, 4, 17},
       ""},
      {"chunk size overflowing", kOk + "Transfer-Encoding: chunked\r\n\r\n10000000000000001\r\nab\r\n", {3, 4, 17}, ""},
      {"chunk size over 2 GB", kOk + "Transfer-Encoding: chunked\r\n\r\n80000000\r\nab\r\n", {3, 4, 17}, ""},
      {"chunks beyond the memory cap",
       kOk + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n3FFFFFE\r\nxyz", {3, 4, 17}, "abc"},
  };
}

// The same response must give the same outcome however the receives cut it.
void ExpectSame(const TCase& c, const TOutcome& got, const std::string& how) {
  EXPECT_EQ(got.events, c.events) << c.name << " " << how;
  EXPECT_EQ(got.body, c.body) << c.name << " " << how;
  EXPECT_TRUE(got.bBodyReportsInOrder) << c.name << " " << how;
  if (got.bHasBuffer) EXPECT_EQ(got.body.size(), c.body.size());
}

TEST(ResponseParser, EveryCaseInOneReceive) {
  for (const TCase& c : Cases()) ExpectSame(c, Parse(c.response, {}, c.sink), "whole");
}

TEST(ResponseParser, EveryCaseSplitInTwoAtEveryPoint) {
  for (const TCase& c : Cases())
    for (size_t cut = 0; cut <= c.response.size(); ++cut)
      ExpectSame(c, Parse(c.response, {cut}, c.sink), "cut at " + std::to_string(cut));
}

TEST(ResponseParser, EveryCaseByteByByte) {
  for (const TCase& c : Cases()) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < c.response.size(); ++i) cuts.push_back(i);
    ExpectSame(c, Parse(c.response, cuts, c.sink), "byte by byte");
  }
}

TEST(ResponseParser, ShortResponsesSplitInThreeAtEveryPair) {
  std::vector<TCase> cases = {
      {"counted", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", {3, 4, 6}, "abc"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n1\r\nc\r\n0\r\n\r\n", {3, 4, 6}, "abc"},
  };
  for (const TCase& c : cases)
    for (size_t a = 0; a <= c.response.size(); ++a)
      for (size_t b = a; b <= c.response.size(); ++b)
        ExpectSame(c, Parse(c.response, {a, b}), std::to_string(a) + "," + std::to_string(b));
}

TEST(ResponseParser, StatusCodeAndHeadersAsReceived) {
  std::string response =
      "HTTP/1.1 302 Found\r\nLocation:http://x/y\r\nX-Empty:\r\nX-Padded: \t v a l \t \r\ncontent-length: 0\r\n"
      "Transfer-Encoding: chunked\r\nX-Utf8: caf\xC3\xA9\r\nDup: one\r\nDUP: two\r\n\r\n0\r\n\r\n";
  TOutcome got = Parse(response, {});
  EXPECT_EQ(got.status, 302);
  EXPECT_EQ(got.events, (std::vector<int32_t>{3, 4, 6}));
  // An empty chunked body leaves the sink without a buffer.
  EXPECT_FALSE(got.bHasBuffer);
  EXPECT_EQ(got.headers.at(u"location"), u"http://x/y");
  EXPECT_EQ(got.headers.at(u"x-empty"), u"");
  EXPECT_EQ(got.headers.at(u"X-PADDED"), u"v a l");
  EXPECT_EQ(got.headers.at(u"x-utf8"), u"caf\u00e9");
  EXPECT_EQ(got.headers.at(u"dup"), u"two");
  EXPECT_EQ(got.headers.at(u"Content-Length"), u"0");
}

TEST(ResponseParser, ALengthEndingInABareLineFeedKeepsAllItsDigits) {
  // Cutting one byte blindly would read 123 and call a truncated body whole.
  std::string body = Noise(1234);
  TOutcome partial = Parse("HTTP/1.1 200 OK\r\nContent-Length: 1234\n\n" + body.substr(0, 123), {});
  EXPECT_EQ(partial.events, (std::vector<int32_t>{3, 4}));
  TOutcome whole = Parse("HTTP/1.1 200 OK\r\nContent-Length: 1234\n\n" + body, {});
  EXPECT_EQ(whole.events, (std::vector<int32_t>{3, 4, 6}));
  EXPECT_EQ(whole.body, body);
}

TEST(ResponseParser, LinesThatCannotFitTheParseBufferAreRefused) {
  std::string longReason(kParseBufferSize, 'r');
  std::string longValue(kParseBufferSize, 'v');
  std::string fits(kParseBufferSize - 60, 'v');
  struct TLimit {
    const char* name;
    std::string response;
    std::vector<int32_t> events;
  } cases[] = {
      {"status line", "HTTP/1.1 200 " + longReason + "\r\n\r\n", {13}},
      {"header line", kOk + "X-Long: " + longValue + "\r\n\r\n", {3, 14}},
      {"header line that just fits", kOk + "X-Long: " + fits + "\r\nContent-Length: 1\r\n\r\nx", {3, 4, 6}},
      {"header block", kOk + [] {
         std::string block;
         for (int i = 0; i < 1000; ++i) block += "X-Header-" + std::to_string(i) + ": value\r\n";
         return block;
       }() + "\r\n", {3, 14}},
      {"chunk size line", kOk + "Transfer-Encoding: chunked\r\n\r\n1;" + longValue + "\r\nx\r\n0\r\n\r\n", {3, 4, 17}},
  };
  for (const TLimit& c : cases) {
    for (size_t piece : {size_t{8192}, size_t{1000}, c.response.size()}) {
      std::vector<size_t> cuts;
      for (size_t at = piece; at < c.response.size(); at += piece) cuts.push_back(at);
      EXPECT_EQ(Parse(c.response, cuts).events, c.events) << c.name << " in pieces of " << piece;
    }
  }
}

TEST(ResponseParser, StopsForGoodAfterAnError) {
  CHTTPMemorySink sink;
  CHTTPResponseParser parser;
  parser.Start(1);
  THTTPHeaderMap headers;
  std::vector<int32_t> events;
  auto report = [&](int32_t code) { events.push_back(code); };
  std::string bad = "HTTP/1.1 200 OK\r\nbroken\r\n";
  EXPECT_FALSE(parser.Feed(bad.data(), bad.size(), &sink, headers, report));
  std::string more = "Content-Length: 1\r\n\r\nx";
  EXPECT_FALSE(parser.Feed(more.data(), more.size(), &sink, headers, report));
  EXPECT_EQ(events, (std::vector<int32_t>{3, 14}));
  EXPECT_TRUE(parser.Failed());
}

TEST(ResponseParser, RefusesTheBodyWithoutASink) {
  CHTTPResponseParser parser;
  parser.Start(1);
  THTTPHeaderMap headers;
  std::vector<int32_t> events;
  std::string response = kOk + "Content-Length: 1\r\n\r\nx";
  parser.Feed(response.data(), response.size(), nullptr, headers, [&](int32_t code) { events.push_back(code); });
  EXPECT_EQ(events, (std::vector<int32_t>{3, 4, 18}));
}

TEST(ResponseParser, ASinkThatCannotTakeTheBodyEndsItWithFifteen) {
  // A full disk, say: the sink refuses a piece.
  struct TFullSink : CHTTPMemorySink {
    int32_t nRoom = 4;
    int32_t Append(const char* p, int32_t n) override {
      if (n > nRoom) return -1;
      nRoom -= n;
      return CHTTPMemorySink::Append(p, n);
    }
  };
  for (std::string response : {kOk + "Content-Length: 10\r\n\r\n0123456789",
                               kOk + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n"}) {
    TFullSink sink;
    CHTTPResponseParser parser;
    parser.Start(1);
    THTTPHeaderMap headers;
    std::vector<int32_t> events;
    parser.Feed(response.data(), response.size(), &sink, headers, [&](int32_t code) { events.push_back(code); });
    EXPECT_EQ(events.back(), EHttpSinkFailed) << response;
    EXPECT_TRUE(parser.Failed());
  }
}

TEST(ResponseParser, TracesEveryHeaderWithTheConnectionId) {
  nettest::TDebugCapture capture;
  Parse(kOk + "Server: test\r\nX-Empty:\r\nContent-Length: 1\r\n\r\nx", {});
  EXPECT_EQ(capture.Count("[QUOREL] CHTTPEntry::ParseHeaders(7) Server: test\n"), 1u);
  EXPECT_EQ(capture.Count("[QUOREL] CHTTPEntry::ParseHeaders(7) X-Empty: \n"), 1u);
}

// ---------------------------------------------------------------------------
// Request head

TEST(RequestHead, GetOnThePlainPort) {
  THTTPHeaderMap headers{{u"User-Agent", u"AppNumber=10"}, {u"accept-encoding", u"gzip"}};
  EXPECT_EQ(BuildRequestHead(EHttpGet, u"example.org", 80, u"/v2/?method=x&y=1", false, -1, headers),
            "GET /v2/?method=x&y=1 HTTP/1.1\r\nHost: example.org\r\naccept-encoding: gzip\r\n"
            "User-Agent: AppNumber=10\r\n\r\n");
  EXPECT_TRUE(headers.empty());
}

TEST(RequestHead, ChunkedPostThroughAProxy) {
  THTTPHeaderMap headers{{u"User-Agent", u"ua"}, {u"Content-Type", u"binary/octet-stream"}, {u"Accept-Encoding", u"gzip"}};
  EXPECT_EQ(BuildRequestHead(EHttpPost, u"h", 8080, u"/s", true, -1, headers),
            "POST http://h:8080/s HTTP/1.1\r\nHost: h:8080\r\nTransfer-Encoding: chunked\r\n"
            "Accept-Encoding: gzip\r\nContent-Type: binary/octet-stream\r\nProxy-Connection: Keep-Alive\r\n"
            "User-Agent: ua\r\n\r\n");
}

TEST(RequestHead, CountedPostAndWideText) {
  THTTPHeaderMap headers{{u"X-Name", u"caf\u00e9"}};
  EXPECT_EQ(BuildRequestHead(EHttpPost, u"h\u00e9", 80, u"/\u00e9", false, 1500, headers),
            "POST /\xC3\xA9 HTTP/1.1\r\nHost: h\xC3\xA9\r\nContent-Length: 1500\r\nX-Name: caf\xC3\xA9\r\n\r\n");
}

TEST(RequestHead, TargetsFromServerUrls) {
  struct TCase {
    const char16_t* path;
    const char16_t* target;  // null: refused
  } cases[] = {
      {u"", u"/"},
      {u"/", u"/"},
      {u"/a b/c d?q=a b", u"/a%20b/c%20d?q=a%20b"},
      {u"?q=1", u"/?q=1"},
      {u"/%41%20", u"/%41%20"},
      {u"/x\r\nHost: evil", nullptr},
      {u"/x\ty", nullptr},
      {u"/x\x7Fy", nullptr},
      {u"/x\ny", nullptr},
  };
  for (const TCase& c : cases) {
    plat::WString target = u"unchanged";
    bool ok = MakeRequestTarget(c.path, target);
    EXPECT_EQ(ok, c.target != nullptr) << plat::ToUtf8(c.path);
    EXPECT_EQ(target, c.target ? c.target : u"unchanged") << plat::ToUtf8(c.path);
  }
}

}  // namespace
