// The strict habits on raw bytes: every route's default reply has the exact
// status line, one space after each colon, CR LF line ends, a Content-Length
// of at least 1 that matches the body, gzip only where it is asked for, and
// one exchange per connection.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "tools/protocol-server/Media.h"
#include "tools/protocol-server/TestSupport.h"
#include "tools/protocol-server/Util.h"

using namespace qpstest;

namespace {

class Wire : public ::testing::Test {
 protected:
  ClientRequest Get(const std::string& target) {
    ClientRequest r;
    r.target = target;
    r.port = server.Port();
    return r;
  }
  Response Send(const ClientRequest& r) { return ParseResponse(Fetch(server.Port(), r.Bytes())); }

  // The habits every default reply keeps.
  void ExpectStrict(const Response& r, const std::string& what, const std::string& contentType) {
    ASSERT_TRUE(r.ok) << what << ": " << r.error << "\n" << r.raw.substr(0, 300);
    EXPECT_EQ(r.status, 200) << what;
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK") << what;
    std::set<std::string> names;
    for (const std::string& line : r.headerLines) {
      std::string name = line.substr(0, line.find(':'));
      EXPECT_TRUE(names.insert(name).second) << what << ": " << name << " twice";
      for (unsigned char c : line) EXPECT_LT(c, 0x80) << what << ": non-ASCII header";
    }
    EXPECT_EQ(names.count("Transfer-Encoding"), 0u) << what;
    EXPECT_GE(std::stoul(r.Header("Content-Length")), 1u) << what;
    EXPECT_EQ(r.Header("Connection"), "close") << what;
    EXPECT_EQ(r.Header("Content-Type").rfind(contentType, 0), 0u) << what << ": " << r.Header("Content-Type");
    if (contentType == "text/xml" && r.Header("Content-Encoding").empty()) {
      EXPECT_EQ(r.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << what;
    }
  }

  ServerHarness server;
};

}  // namespace

TEST_F(Wire, EveryGetRouteAnswersInTheStrictForm) {
  const std::pair<const char*, const char*> routes[] = {
      {"/v2/?method=checkForUpdate", "text/xml"},
      {"/v2/?method=getUserInformation&username=anna", "text/xml"},
      {"/v2/?method=getUserPlaylist&username=collector", "text/xml"},
      {"/v2/?method=getUserRecordings&username=zo%C3%AB", "text/xml"},
      {"/v2/?method=getTrackBuyLinks&track_id=t1&artist_name=a&track_name=b", "text/xml"},
      {"/v2/?method=getTrackLyricsLink&track_id=t1", "text/xml"},
      {"/v2/?method=getVideos&track_id=t1", "text/xml"},
      {"/img/al1.png", "image/png"},
      {"/media/preview-t1.mp3", "audio/mpeg"},
      {"/media/full-r2.mp3", "audio/mpeg"},
      {"/media/matched-r3.mp3", "audio/mpeg"},
      {"/dl/update.cab", "application/vnd.ms-cab-compressed"},
      {"/page/terms", "text/html"},
  };
  for (const auto& [target, type] : routes) {
    Response r = Send(Get(target));
    ExpectStrict(r, target, type);
    EXPECT_TRUE(r.Header("Content-Encoding").empty()) << target << ": only the search reply is ever gzipped";
  }
  for (const std::string& entry : server.Log()) EXPECT_EQ(JsonField(entry, "violations"), "[]") << entry;
}

TEST_F(Wire, SearchReplyIsGzippedOnlyWhenAskedAndWithTheExactHeader) {
  ClientRequest upload = SearchUpload(server.Port(), EncodeTone(330, 5), false);
  Response r = Send(upload);
  ExpectStrict(r, "search", "text/xml");
  ASSERT_EQ(r.Header("Content-Encoding"), "gzip");
  ASSERT_GE(r.body.size(), 18u);
  const std::string expectedHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  EXPECT_EQ(r.body.substr(0, 10), expectedHeader);  // FLG 0, MTIME 0
  std::string doc = Gunzip(r.body);
  EXPECT_EQ(doc.rfind("<?xml", 0), 0u) << "one gzip member, not nested";

  // The follow-up search by the id just handed out: never gzipped, relabelled.
  std::string id = doc.substr(doc.find("search_id=\"") + 11);
  id = id.substr(0, id.find('"'));
  Response followUp = Send(Get("/v2/?method=search&search_id=" + id + "&lang=de"));
  ExpectStrict(followUp, "follow-up", "text/xml");
  EXPECT_TRUE(followUp.Header("Content-Encoding").empty());
  EXPECT_NE(followUp.body.find("Lullaby [de]"), std::string::npos);
  EXPECT_NE(followUp.body.find("search_id=\"" + id + "\""), std::string::npos);
  Response unknown = Send(Get("/v2/?method=search&search_id=s-999&lang=de"));
  EXPECT_NE(unknown.body.find("<error type=\"serverMessage\""), std::string::npos);

  // Without Accept-Encoding the reply is plain (and the request a violation).
  ASSERT_EQ(ParseResponse(Fetch(server.Port(), "GET /_ctl/set?strict-requests=off HTTP/1.1\r\n\r\n")).status, 200);
  ClientRequest plain = upload;
  plain.search = false;
  std::string bytes = plain.Bytes();
  bytes.insert(bytes.find("User-Agent"), "Content-Type: binary/octet-stream\r\n");
  Response unasked = ParseResponse(Fetch(server.Port(), bytes));
  ASSERT_TRUE(unasked.ok) << unasked.error;
  EXPECT_TRUE(unasked.Header("Content-Encoding").empty());
  EXPECT_EQ(unasked.body.rfind("<?xml", 0), 0u);

  // --gzip off keeps even an accepting search plain.
  ASSERT_EQ(ParseResponse(Fetch(server.Port(), "GET /_ctl/set?gzip=off HTTP/1.1\r\n\r\n")).status, 200);
  Response off = Send(upload);
  EXPECT_TRUE(off.Header("Content-Encoding").empty());
  EXPECT_NE(off.body.find("<orlamet search_id="), std::string::npos);
}

TEST_F(Wire, OneReplyPerConnectionThenClose) {
  // A server that waited for the client would keep the connection until its
  // idle limit, five hang bounds away; the close may take one.
  qps::Options patient = TestOptions();
  patient.ioTimeout = 5 * kHangSeconds;
  ServerHarness lingering(patient);
  ClientRequest request = Get("/v2/?method=checkForUpdate");
  request.port = lingering.Port();
  std::string twice = request.Bytes() + request.Bytes();
  auto start = std::chrono::steady_clock::now();
  std::string raw = Fetch(lingering.Port(), twice);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, kHangSeconds) << "the server closes without waiting for the client";
  Response r = ParseResponse(raw);
  ASSERT_TRUE(r.ok) << r.error;  // exactly one reply: the body matches its Content-Length
  EXPECT_EQ(raw.find("HTTP/1.1", 1), std::string::npos);
}

TEST_F(Wire, PreviewsAndPackageAreWholeCountedBodies) {
  Response mono = Send(Get("/media/preview-t1.mp3"));
  Response stereo = Send(Get("/media/preview-t2.mp3"));
  Response mpeg2 = Send(Get("/media/preview-t3.mp3"));
  struct Case {
    const Response& r;
    int version, index, channels;
  };
  for (const Case& c : {Case{mono, 1, 9, 1}, Case{stereo, 1, 9, 2}, Case{mpeg2, 2, 8, 1}}) {
    ASSERT_TRUE(c.r.ok) << c.r.error;
    int version = 0, layer = 0, index = 0;
    ASSERT_TRUE(qps::ParseMp3Header(c.r.body, version, layer, index)) << "no ID3 tag: a frame header comes first";
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(layer, 3);
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(c.r.body.find("Xing"), std::string::npos);
    EXPECT_EQ(c.r.body.find("Info"), std::string::npos);
    qps::Mp3Decoded d = qps::DecodeMp3(c.r.body);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.channels, c.channels);
  }

  Response cab = Send(Get("/dl/update.cab"));
  ASSERT_TRUE(cab.ok) << cab.error;
  EXPECT_EQ(cab.body.size(), 300004u);
  EXPECT_EQ(cab.body.substr(0, 4), "MSCF");
  EXPECT_EQ(JsonField(server.LastLog(), "package_sha256"), "\"" + qps::Sha256Hex(cab.body) + "\"");
  EXPECT_EQ(Send(Get("/dl/update.cab")).body, cab.body) << "deterministic";
}
