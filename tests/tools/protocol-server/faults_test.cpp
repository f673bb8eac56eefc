// Every fault family's bytes on the wire, the queue's rules, faults embedded
// in URLs and faults given at start-up.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tools/protocol-server/Media.h"
#include "tools/protocol-server/TestSupport.h"
#include "tools/protocol-server/Xml.h"

using namespace qpstest;

namespace {

class Faults : public ::testing::Test {
 protected:
  void Inject(const std::string& route, const std::string& fault, const std::string& extra = "") {
    Response r = ParseResponse(
        Fetch(server.Port(), "GET /_ctl/inject?route=" + route + "&fault=" + fault + extra + " HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(r.status, 200) << route << " " << fault << ": " << r.body;
  }
  std::string GetRaw(const std::string& target) {
    ClientRequest r;
    r.target = target;
    r.port = server.Port();
    return Fetch(server.Port(), r.Bytes());
  }
  std::string Head(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n") + 4); }
  std::string Body(const std::string& raw) { return raw.substr(raw.find("\r\n\r\n") + 4); }
  double Timed(const std::function<void()>& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  ServerHarness server;
  const std::string lyrics = "/v2/?method=getTrackLyricsLink&track_id=t1";
};

}  // namespace

TEST_F(Faults, StatusLineAndHeaderFaults) {
  Inject("getTrackLyricsLink", "status", "&arg=404");
  std::string raw = GetRaw(lyrics);
  EXPECT_EQ(raw.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_NE(Body(raw).find("<lyrics_link"), std::string::npos) << "the route's own body";

  Inject("getTrackLyricsLink", "redirect");
  raw = GetRaw(lyrics);
  EXPECT_EQ(raw.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  EXPECT_NE(Head(raw).find("\r\nLocation: " + server.Base() + "/page/moved\r\n"), std::string::npos);

  Inject("getTrackLyricsLink", "http10");
  EXPECT_EQ(GetRaw(lyrics).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  Inject("getTrackLyricsLink", "no-reason");
  EXPECT_EQ(GetRaw(lyrics).rfind("HTTP/1.1 200\r\nContent-Type", 0), 0u);

  Inject("getTrackLyricsLink", "lf-only");
  raw = GetRaw(lyrics);
  std::string head = raw.substr(0, raw.find("\n\n") + 2);
  EXPECT_EQ(head.find('\r'), std::string::npos);
  EXPECT_NE(head.find("\nContent-Length: "), std::string::npos);

  Inject("getTrackLyricsLink", "no-space");
  raw = GetRaw(lyrics);
  EXPECT_NE(Head(raw).find("\r\nContent-Length:1"), std::string::npos);
  EXPECT_EQ(Head(raw).find(": "), std::string::npos);

  Inject("getTrackLyricsLink", "no-colon");
  EXPECT_NE(Head(GetRaw(lyrics)).find("\r\nX-Header-Without-Colon\r\n"), std::string::npos);
}

TEST_F(Faults, BodyFramingFaults) {
  const std::string cab = "/dl/update.cab";
  ASSERT_EQ(ParseResponse(Fetch(server.Port(), "GET /_ctl/set?package-bytes=300 HTTP/1.1\r\n\r\n")).status, 200);

  Inject("package", "dup-length");
  std::string head = Head(GetRaw(cab));
  EXPECT_NE(head.find("\r\nContent-Length: 304\r\nContent-Length: 311\r\n"), std::string::npos) << head;

  Inject("package", "cl-zero");
  std::string raw = GetRaw(cab);
  EXPECT_NE(Head(raw).find("\r\nContent-Length: 0\r\n"), std::string::npos);
  EXPECT_EQ(Body(raw), "");

  for (const char* value : {"-5", "12abc", "99999999999"}) {
    Inject("package", "cl-invalid", std::string("&arg=") + value);
    raw = GetRaw(cab);
    EXPECT_NE(Head(raw).find(std::string("\r\nContent-Length: ") + value + "\r\n"), std::string::npos) << value;
    EXPECT_EQ(Body(raw).size(), 304u);
  }
  Inject("package", "cl-huge");
  EXPECT_NE(Head(GetRaw(cab)).find("\r\nContent-Length: 100000000\r\n"), std::string::npos);

  Inject("package", "te-and-cl");
  Response both = ParseResponse(GetRaw(cab));
  EXPECT_EQ(both.Header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(both.Header("Content-Length"), "304");
  EXPECT_EQ(both.body.size(), 304u);

  Inject("package", "te-identity");
  Response identity = ParseResponse(GetRaw(cab));
  ASSERT_TRUE(identity.ok) << identity.error;
  EXPECT_EQ(identity.Header("Transfer-Encoding"), "identity");
  EXPECT_EQ(identity.body.substr(0, 4), "MSCF");

  Inject("package", "chunked", "&arg=100");
  raw = GetRaw(cab);
  EXPECT_EQ(Body(raw).rfind("64\r\nMSCF", 0), 0u);
  EXPECT_TRUE(Body(raw).ends_with("0\r\n\r\n"));
  EXPECT_EQ(ParseResponse(raw).body.size(), 304u);

  Inject("package", "chunk-ext");
  raw = Body(GetRaw(cab));
  EXPECT_EQ(raw.rfind("130;note=\"ext\"\r\nMSCF", 0), 0u) << raw.substr(0, 30);
  EXPECT_TRUE(raw.ends_with("0;last=1\r\nX-Trailer: yes\r\n\r\n"));

  Inject("package", "chunk-upper");
  EXPECT_EQ(Body(GetRaw(cab)).rfind("AB\r\nMSCF", 0), 0u);
  Inject("package", "chunk-bad");
  EXPECT_EQ(Body(GetRaw(cab)).rfind("zz\r\nMSCF", 0), 0u);
  Inject("package", "chunk-long");
  raw = Body(GetRaw(cab));
  EXPECT_EQ(raw.find("\r\n"), 20003u);  // 20000 zeros, then "130"
  EXPECT_EQ(raw.substr(20000, 5), "130\r\n");

  Inject("package", "empty-body");
  raw = GetRaw(cab);
  EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(Head(raw).find("\r\nContent-Length: 0\r\n"), std::string::npos);
  EXPECT_EQ(Body(raw), "");
  Inject("package", "empty-body", "&arg=chunked");
  EXPECT_EQ(Body(GetRaw(cab)), "0\r\n\r\n");

  Inject("package", "extra-bytes", "&arg=5");
  raw = GetRaw(cab);
  EXPECT_EQ(Body(raw).size(), 309u);
  EXPECT_TRUE(raw.ends_with("xxxxx"));
}

TEST_F(Faults, TimingAndConnectionFaults) {
  const std::string picture = "/img/al2.png";
  Inject("image", "delay", "&arg=120");
  std::string raw;
  EXPECT_GE(Timed([&] { raw = GetRaw(picture); }), 0.12);
  EXPECT_TRUE(ParseResponse(raw).ok);

  Inject("image", "split");  // the awkward points: 4 or 5 writes, 5 ms apart
  EXPECT_GE(Timed([&] { raw = GetRaw(picture); }), 0.015);
  EXPECT_TRUE(ParseResponse(raw).ok) << "split bytes reassemble";
  Inject("image", "split", "&arg=400");
  EXPECT_GE(Timed([&] { raw = GetRaw(picture); }), 0.015);
  EXPECT_TRUE(ParseResponse(raw).ok);

  Response whole = ParseResponse(GetRaw(picture));
  Inject("image", "dribble", "&arg=10000");
  size_t size = whole.body.size();
  double seconds = Timed([&] { raw = GetRaw(picture); });
  EXPECT_GE(seconds, 0.8 * static_cast<double>(size) / 10000);
  EXPECT_EQ(ParseResponse(raw).body, whole.body);

  Inject("image", "truncate", "&arg=20");
  EXPECT_EQ(GetRaw(picture), whole.raw.substr(0, 20));

  Inject("image", "stall", "&arg=0.2");
  EXPECT_GE(Timed([&] { raw = GetRaw(picture); }), 0.2);
  EXPECT_EQ(raw, Head(whole.raw)) << "headers, then silence, then a close";

  Inject("image", "close");
  EXPECT_EQ(GetRaw(picture), "");
  EXPECT_EQ(JsonField(JsonField(server.LastLog(), "reply"), "delivery"), "\"closed\"");
  Inject("image", "reset");
  EXPECT_EQ(GetRaw(picture), "");
  EXPECT_EQ(JsonField(JsonField(server.LastLog(), "reply"), "delivery"), "\"reset\"");
}

TEST_F(Faults, EarlyReplyAnswersBeforeTheUploadEnds) {
  Inject("search-post", "early-reply", "&arg=200");
  std::string bytes = SearchUpload(server.Port(), EncodeTone(392, 6), false).Bytes();
  size_t headEnd = bytes.find("\r\n\r\n") + 4;
  RawConnection c(server.Port());
  c.Send(bytes.substr(0, headEnd + 300));
  Response early = ParseResponse(c.ReadReply());
  ASSERT_TRUE(early.ok) << early.error;
  EXPECT_NE(Gunzip(early.body).find("<tracks>"), std::string::npos);
  c.Send(bytes.substr(headEnd + 300));  // the server reads and discards the rest
  std::string tail;
  EXPECT_TRUE(c.ReadToClose(tail));
  std::string log = server.LastLog();
  EXPECT_EQ(JsonField(log, "frames"), "300") << "the whole upload is still checked for the log";
  EXPECT_EQ(JsonField(log, "body_complete"), "true");
}

TEST_F(Faults, GzipFaults) {
  const std::string upload = SearchUpload(server.Port(), EncodeTone(523, 5), false).Bytes();
  auto search = [&] { return ParseResponse(Fetch(server.Port(), upload)); };
  Inject("search-post", "gzip-fname");
  Response r = search();
  EXPECT_EQ(r.body[3], '\x08');
  EXPECT_EQ(r.body.substr(10, 10), std::string("reply.xml\0", 10));
  EXPECT_NE(Gunzip(r.body).find("<orlamet"), std::string::npos);

  Inject("search-post", "gzip-upper");
  EXPECT_EQ(search().Header("Content-Encoding"), "GZIP");

  Inject("search-post", "gzip-double");
  r = search();
  std::string once = Gunzip(r.body);
  EXPECT_EQ(once.substr(0, 2), "\x1f\x8b");
  EXPECT_NE(Gunzip(once).find("<orlamet"), std::string::npos);

  for (const char* broken : {"gzip-corrupt", "gzip-truncated"}) {
    Inject("search-post", broken);
    r = search();
    EXPECT_EQ(r.Header("Content-Encoding"), "gzip") << broken;
    EXPECT_EQ(Gunzip(r.body), "") << broken;
  }
  Inject("search-post", "no-gzip");
  r = search();
  EXPECT_EQ(r.Header("Content-Encoding"), "");
  EXPECT_EQ(r.body.rfind("<?xml", 0), 0u);

  Inject("checkForUpdate", "gzip-unasked");
  r = ParseResponse(GetRaw("/v2/?method=checkForUpdate"));
  EXPECT_EQ(r.Header("Content-Encoding"), "gzip");
  EXPECT_NE(Gunzip(r.body).find("<update_information>"), std::string::npos);
}

TEST_F(Faults, SearchFormatContentFaults) {
  const std::string playlist = "/v2/?method=getUserPlaylist&username=anna";
  auto body = [&] { return ParseResponse(GetRaw(playlist)).body; };
  Inject("getUserPlaylist", "grouped");
  EXPECT_NE(body().find("<tracks_grouped><track_name_group><artist_name_group>"), std::string::npos);
  Inject("getUserPlaylist", "empty");
  EXPECT_NE(body().find("records_end=\"0\"/>"), std::string::npos);
  Inject("getUserPlaylist", "negative-count");
  EXPECT_NE(body().find("total_records=\"-1\" records_start=\"-1\" records_end=\"-1\"><tracks>"), std::string::npos);
  Inject("getUserPlaylist", "single");
  std::string single = body();
  EXPECT_EQ(single.find("<recordings>"), std::string::npos);
  EXPECT_NE(single.find("total_records=\"1\""), std::string::npos);
  Inject("getUserPlaylist", "two-recordings");
  std::string two = body();
  size_t first = two.find("<recordings><recording ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(two.find("<recording ", first + 20), two.find("</recordings>", first));
  Inject("getUserPlaylist", "no-artists");
  EXPECT_EQ(body().find("<artists>"), std::string::npos);
  Inject("getUserPlaylist", "file-full-url");
  std::string files = body();
  const size_t firstFull = files.find("full_url=\"") + 10;
  EXPECT_EQ(files.compare(firstFull, 8, "file:///"), 0) << files;
  EXPECT_NE(files.find("full_url=\"http://", firstFull), std::string::npos) << "only the first track's";
}

TEST_F(Faults, XmlFaults) {
  const std::string info = "/v2/?method=getUserInformation&username=anna";
  auto body = [&] { return ParseResponse(GetRaw(info)).body; };
  Inject("getUserInformation", "error-root", "&arg=error_busy,serverMessage");
  EXPECT_NE(body().find("<orlamet message_type=\"error_busy\" message_text="), std::string::npos);
  Inject("getUserInformation", "error-element", "&arg=exit,True,/page/info");
  std::string element = body();
  EXPECT_NE(element.find("<error type=\"exit\""), std::string::npos);
  EXPECT_NE(element.find("url=\"" + server.Base() + "/page/info\" required=\"True\""), std::string::npos);

  Inject("getUserInformation", "error-no-text");
  EXPECT_NE(body().find("<error type=\"serverMessage\" display_text=\"\" required=\"false\"/>"), std::string::npos);
  Inject("getUserInformation", "error-no-text", "&arg=exit");
  EXPECT_NE(body().find("<error type=\"exit\" display_text=\"\""), std::string::npos);

  Inject("getUserInformation", "not-xml");
  EXPECT_EQ(body().rfind("<!DOCTYPE html>", 0), 0u);
  Inject("getUserInformation", "html-error");
  Response page = ParseResponse(GetRaw(info));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page.body.rfind("<html><head><title>502 Bad Gateway</title>", 0), 0u);
  Inject("getUserInformation", "truncated-xml");
  EXPECT_NE(qps::CheckXmlDocument(body()), "");
  Inject("getUserInformation", "deep", "&arg=50");
  std::string deep = body();
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "<d>";
  EXPECT_NE(deep.find(fifty + "</d>"), std::string::npos);
  EXPECT_EQ(deep.find(fifty + "<d>"), std::string::npos);
  EXPECT_NE(qps::CheckXmlDocument(deep).find("nesting deeper"), std::string::npos);
  Inject("getUserInformation", "huge", "&arg=100000");
  std::string huge = body();
  EXPECT_GE(huge.size(), 100000u);
  EXPECT_EQ(qps::CheckXmlDocument(huge), "") << "large but well formed";
  Inject("getUserInformation", "comment-named");
  EXPECT_NE(body().find("<orlamet><!--user_information--><user_information "), std::string::npos);
  Inject("getUserInformation", "text-named");
  EXPECT_NE(body().find("<orlamet>user_information<user_information "), std::string::npos);
  Inject("getUserInformation", "dup-attr");
  EXPECT_NE(qps::CheckXmlDocument(body()).find("duplicate attribute username"), std::string::npos);
  Inject("getUserInformation", "ncr");
  std::string ncr = body();
  EXPECT_EQ(ncr.rfind("<orlamet><user_information username=\"&#1234;anna\"", 0), 0u) << ncr;

  Inject("any", "int-overflow");  // waits for the first XML route that comes
  EXPECT_NE(ParseResponse(GetRaw("/v2/?method=getVideos&track_id=t1")).body.find("rating_average=\"1e999\""),
            std::string::npos);
}

TEST_F(Faults, UpdateFaults) {
  const std::string check = "/v2/?method=checkForUpdate";
  auto body = [&] { return ParseResponse(GetRaw(check)).body; };
  EXPECT_EQ(body().find("message_url"), std::string::npos) << "default: info without an offer";
  Inject("checkForUpdate", "update-offer");
  std::string offer = body();
  EXPECT_NE(offer.find("message_url=\"" + server.Base() + "/dl/update.cab\" message_type=\"update\""),
            std::string::npos);
  EXPECT_NE(offer.find("message_persistence=\"optional\""), std::string::npos);
  Inject("checkForUpdate", "update-none");
  EXPECT_NE(body().find("<orlamet><no-update/></orlamet>"), std::string::npos);
  Inject("checkForUpdate", "offer-no-url");
  std::string noUrl = body();
  EXPECT_EQ(noUrl.find("message_url"), std::string::npos);
  EXPECT_NE(noUrl.find("message_type=\"update\""), std::string::npos);
  Inject("checkForUpdate", "offer-bad-url", "&arg=crlf");
  EXPECT_NE(body().find("/dl/update.cab&#13;&#10;\""), std::string::npos);
  Inject("checkForUpdate", "offer-bad-url");
  EXPECT_NE(body().find("message_url=\"https://"), std::string::npos);
  Inject("checkForUpdate", "lengths", "&arg=3,45");
  EXPECT_NE(body().find("minimum_search_length=\"3\" maximum_search_length=\"45\""), std::string::npos);
  Inject("checkForUpdate", "switches", "&arg=amg%3D0,video%3D2");
  std::string switches = body();
  EXPECT_NE(switches.find("<license_logo enabled=\"0\"/><videos enabled=\"2\"/><previews enabled=\"1\"/>"),
            std::string::npos);
  Inject("checkForUpdate", "error-root", "&arg=error,checkForUpdate");
  EXPECT_NE(body().find("message_persistence=\"checkForUpdate\""), std::string::npos);
}

TEST_F(Faults, UserAndTrackFaults) {
  Inject("videos", "empty-videos");
  EXPECT_NE(ParseResponse(GetRaw("/v2/?method=getVideos&track_id=t1")).body.find("<videos/>"), std::string::npos);
  Inject("getTrackLyricsLink", "not-found");
  EXPECT_NE(ParseResponse(GetRaw(lyrics)).body.find("<lyrics_link url=\"\" status=\"not-found\"/>"), std::string::npos);
  const std::string buy = "/v2/?method=getTrackBuyLinks&track_id=t1&artist_name=a&track_name=b";
  Inject("getTrackBuyLinks", "first-not-found");
  std::string links = ParseResponse(GetRaw(buy)).body;
  EXPECT_LT(links.find("status=\"not-found\""), links.find("status=\"found\""));
  Inject("getUserInformation", "no-user-info");
  EXPECT_NE(ParseResponse(GetRaw("/v2/?method=getUserInformation&username=anna")).body.find("<orlamet/>"),
            std::string::npos);
}

TEST_F(Faults, PictureAndPreviewFaults) {
  auto picture = [&] { return ParseResponse(GetRaw("/img/al1.png")).body; };
  EXPECT_EQ(qps::DecodePng(picture()).error, "");
  for (const char* broken : {"png-corrupt", "png-truncated", "not-png"}) {
    Inject("image", broken);
    EXPECT_NE(qps::DecodePng(picture()).error, "") << broken;
  }
  Inject("image", "png-huge");
  std::string huge = picture();
  EXPECT_EQ(huge.substr(16, 8), std::string("\x00\x01\x86\xa0\x00\x01\x86\xa0", 8));  // 100000 x 100000
  EXPECT_LT(huge.size(), 10000u);
  Inject("image", "png-tall");
  qps::PngInfo tall = qps::DecodePng(picture());
  EXPECT_EQ(tall.error, "");
  EXPECT_EQ(tall.width, 1);
  EXPECT_EQ(tall.height, 20000);

  auto preview = [&] { return ParseResponse(GetRaw("/media/preview-t1.mp3")).body; };
  Inject("preview", "mp3-id3");
  std::string tagged = preview();
  EXPECT_EQ(tagged.substr(0, 3), "ID3");
  EXPECT_NE(qps::DecodeMp3(tagged).error, "") << "libmad loses sync on the tag";
  Inject("preview", "mp3-garbage");
  EXPECT_NE(qps::DecodeMp3(preview()).error, "");
  Inject("preview", "mp3-short");
  EXPECT_EQ(preview().size(), 3u);
}

TEST_F(Faults, UploadRejectFault) {
  Inject("search-post", "reject");
  Response r = ParseResponse(Fetch(server.Port(), SearchUpload(server.Port(), EncodeTone(440, 5), false).Bytes()));
  EXPECT_EQ(r.status, 200) << "a valid upload, rejected on request, is not a protocol violation";
  EXPECT_NE(Gunzip(r.body).find("message_text=\"Upload rejected: rejected on request\""), std::string::npos);
}

TEST_F(Faults, QueueRulesCountsAndRoutes) {
  const std::string picture = "/img/al1.png";
  Inject("image", "status", "&arg=500&count=2");
  Inject("any", "status", "&arg=503");
  EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 500);
  EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 500);
  EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 503) << "the route's own faults come before 'any'";
  EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 200);

  Inject("image", "status", "&arg=404&count=0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 404);
  ASSERT_EQ(ParseResponse(Fetch(server.Port(), "GET /_ctl/reset HTTP/1.1\r\n\r\n")).status, 200);
  EXPECT_EQ(ParseResponse(GetRaw(picture)).status, 200);

  // A content fault for 'any' waits for a route it applies to.
  Inject("any", "png-corrupt");
  EXPECT_NE(ParseResponse(GetRaw(lyrics)).body.find("<lyrics_link"), std::string::npos);
  EXPECT_NE(qps::DecodePng(ParseResponse(GetRaw(picture)).body).error, "");

  for (const std::string& bad : {std::string("route=image&fault=update-offer"), std::string("route=nowhere&fault=close"),
                                 std::string("route=image&fault=nonsense"), std::string("route=image&fault=status"),
                                 std::string("route=image&fault=delay&arg=soon"), std::string("route=image&fault=close&count=-1")}) {
    Response r = ParseResponse(Fetch(server.Port(), "GET /_ctl/inject?" + bad + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_FALSE(r.body.empty());
  }
  EXPECT_EQ(server.Server().Faults().Size(), 0u) << "refused injections queue nothing";
}

TEST_F(Faults, FaultsEmbeddedInUrls) {
  EXPECT_NE(qps::DecodePng(ParseResponse(GetRaw("/f/png-corrupt/img/al1.png")).body).error, "");
  EXPECT_EQ(ParseResponse(GetRaw("/f/status~404/media/preview-t1.mp3")).status, 404);
  std::string raw;
  EXPECT_GE(Timed([&] { raw = GetRaw("/f/delay~100/f/mp3-short/media/preview-t2.mp3"); }), 0.1);
  EXPECT_EQ(ParseResponse(raw).body.size(), 3u);
  EXPECT_EQ(ParseResponse(GetRaw("/f/empty-videos/v2/?method=getVideos&track_id=t1")).body.find("<video "),
            std::string::npos);
  // A fault that does not parse is the caller's mistake: 400, said plainly.
  Response bad = ParseResponse(GetRaw("/f/bogus~1/img/al1.png"));
  EXPECT_EQ(bad.status, 400);
  EXPECT_NE(bad.body.find("unknown fault 'bogus'"), std::string::npos);
}

TEST(FaultsAtStart, CommandLineFaultsAreQueued) {
  qps::Options o = TestOptions();
  o.faults = {"image:status:503:2", "checkForUpdate:update-offer"};
  ServerHarness server(o);
  ClientRequest r;
  r.target = "/img/al1.png";
  r.port = server.Port();
  EXPECT_EQ(ParseResponse(Fetch(server.Port(), r.Bytes())).status, 503);
  EXPECT_EQ(ParseResponse(Fetch(server.Port(), r.Bytes())).status, 503);
  EXPECT_EQ(ParseResponse(Fetch(server.Port(), r.Bytes())).status, 200);
  r.target = "/v2/?method=checkForUpdate";
  EXPECT_NE(ParseResponse(Fetch(server.Port(), r.Bytes())).body.find("message_url="), std::string::npos);

  for (const char* bad : {"image", "nowhere:close", "image:update-offer", "image:delay:x"}) {
    qps::Options wrong = TestOptions();
    wrong.faults = {bad};
    qps::Server s(wrong);
    std::string error;
    EXPECT_FALSE(s.Start(error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}
