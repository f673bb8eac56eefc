// Reading requests strictly: what the client sends passes untouched, every
// deviation is named in the log (and answered with 400 when strict), query
// values are percent-decoded UTF-8 with '+' literal; and the control paths.
#include <gtest/gtest.h>

#include "tools/protocol-server/TestSupport.h"

using namespace qpstest;

namespace {

class Requests : public ::testing::Test {
 protected:
  ClientRequest Get(const std::string& target, bool proxy = false) {
    ClientRequest r;
    r.target = target;
    r.port = server.Port();
    r.proxy = proxy;
    return r;
  }
  Response Send(const std::string& bytes) { return ParseResponse(Fetch(server.Port(), bytes)); }
  void Control(const std::string& command) {
    ASSERT_EQ(Send("GET /_ctl/" + command + " HTTP/1.1\r\n\r\n").status, 200) << command;
  }
  std::string Replace(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  }

  ServerHarness server;
};

}  // namespace

TEST_F(Requests, WhatTheClientSendsPassesInOriginAndProxyForm) {
  const std::vector<std::string> frames = EncodeTone(659, 5);
  for (bool proxy : {false, true}) {
    for (bool chunked : {true, false}) {
      ClientRequest upload = SearchUpload(server.Port(), frames, chunked, proxy ? "grabbing" : "singing");
      upload.proxy = proxy;
      Response r = Send(upload.Bytes());
      EXPECT_EQ(r.status, 200) << "proxy " << proxy << " chunked " << chunked;
    }
    for (const char* target : {"/v2/?method=checkForUpdate", "/v2/?method=getUserRecordings&username=anna",
                               "/v2/?method=getTrackBuyLinks&artist_name=Mira%20S%C3%B3l%20%26%20The%20Lanterns&"
                               "track_name=Caf%C3%A9%20Nights%20%26%20Days",
                               "/v2/?method=search&search_id=s-1&lang=pt_BR", "/img/u.png", "/media/full-r1.mp3"}) {
      Response r = Send(Get(target, proxy).Bytes());
      EXPECT_TRUE(r.status == 200 || r.status == 404) << target;
    }
  }
  // Buy links found by artist and track name alone, names with '&' intact.
  Response links = Send(Get("/v2/?method=getTrackBuyLinks&artist_name=Mira%20S%C3%B3l%20%26%20The%20Lanterns&"
                            "track_name=Caf%C3%A9%20Nights%20%26%20Days").Bytes());
  EXPECT_NE(links.body.find("/page/buy-t1-s1"), std::string::npos);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 17u);
  for (const std::string& entry : log) EXPECT_EQ(JsonField(entry, "violations"), "[]") << entry;
  EXPECT_EQ(JsonField(log[0], "form"), "\"origin\"");
  EXPECT_EQ(JsonField(log[8], "form"), "\"absolute\"");
  EXPECT_EQ(JsonField(log[8], "framing"), "\"chunked\"");
  EXPECT_EQ(JsonField(log[9], "framing"), "\"counted\"");
}

TEST_F(Requests, EveryDeviationIsNamedAndRefusedWhenStrict) {
  const std::string base = Get("/v2/?method=getUserInformation&username=anna").Bytes();
  const std::string host = "Host: " + server.Authority() + "\r\n";
  const std::string ua = std::string("User-Agent: ") + kUserAgent + "\r\n";
  struct Case {
    std::string request;
    std::string violation;
  };
  const Case cases[] = {
      {Replace(base, "HTTP/1.1\r\n", "HTTP/1.0\r\n"), "not HTTP/1.1"},
      {Replace(base, host, "Host: example.org\r\n"), "Host is 'example.org'"},
      {Replace(base, host, ""), "no Host header"},
      {Replace(Replace(base, host, ""), ua, ua + host), "the first header is not Host"},
      {Replace(base, ua, "X-Extra: 1\r\n" + ua), "expected (User-Agent)"},
      {Replace(base, "User-Agent: ", "User-Agent:  "), "not exactly one space"},
      {Replace(base, "Host: ", "Host:"), "not exactly one space"},
      {Replace(base, ua, ua + "Accept-Encoding: gzip\r\n"), "Accept-Encoding on a request that takes no gzip"},
      {Replace(base, ua, "Proxy-Connection: Keep-Alive\r\n" + ua), "Proxy-Connection on a request in origin form"},
      {Replace(base, "\r\n\r\n", "\r\nX-Pad\r\n\r\n"), "header line without a name"},
      {Replace(base, "\r\n", "\n"), "bare LF"},
      {Replace(base, "GET ", "POST "), "POST for a request the client sends with GET"},
      {Replace(base, ua, "Content-Length: 2\r\n" + ua) + "xy", "GET with a body"},
      {Replace(base, "username=anna", "user=anna"), "parameters are (method, user), expected (method, username)"},
      {Replace(base, "?method=getUserInformation&username=anna", "?username=anna&method=getUserInformation"),
       "query does not begin with method="},
      {Replace(base, "username=anna", "username=an na"), "unescaped character"},
      {Replace(base, "username=anna", "username=zo\xC3\xAB"), "unescaped character"},
      {Replace(base, "username=anna", "username=an%G1na"), "bad percent escape"},
      {Replace(base, "username=anna", "username=%FF"), "does not decode to UTF-8"},
      {Replace(base, "getUserInformation", "getUserEverything"), "unknown method 'getUserEverything'"},
      {Replace(base, "6IMSI=262011 ", "6IMSI=262012 "), "6IMSI '262012' is not the first six"},
      {Replace(base, "IDDEV=a3f0c1e9", "IDDEV=A3F0C1E9"), "IDDEV 'A3F0C1E9' is not lower-case"},
      {Replace(base, "LANG=EN", "LANG=en"), "LANG 'en' is not an interface-language code"},
      {Replace(base, "AppVersion=1.6.57.0", "AppVersion=1.6.58.0"), "does not begin with"},
      {Replace(base, " DEV=Orvane", " DEVICE=Orvane"), "fields missing or out of order"},
      {Get("/img/al1.jpg").Bytes(), "instead of its .png name"},
      {Get("/media/preview-t1.mp3?x=1").Bytes(), "query on a resource URL"},
      {Get("/v2/?method=getTrackBuyLinks&track_id=&artist_name=a&track_name=b").Bytes(), "track_id sent empty"},
      {Get("/v2/?method=search&search_id=s-1&lang=all%20of%20them").Bytes(), "is not a search-language code"},
  };
  for (const Case& c : cases) {
    Response r = Send(c.request);
    EXPECT_GE(r.status, 400) << c.violation;
    EXPECT_FALSE(r.body.empty()) << c.violation;
    std::string violations = JsonField(server.LastLog(), "violations");
    EXPECT_NE(violations.find(c.violation), std::string::npos) << "expected '" << c.violation << "' in " << violations;
  }
  // Not strict: the same deviations are logged and served.
  Control("set?strict-requests=off");
  Response served = Send(cases[0].request);
  EXPECT_EQ(served.status, 200);
  EXPECT_NE(served.body.find("<user_information username=\"anna\""), std::string::npos);
  EXPECT_NE(JsonField(server.LastLog(), "violations").find("not HTTP/1.1"), std::string::npos);
  // A raw UTF-8 value is tolerated: decoded as it stands.
  EXPECT_NE(Send(cases[16].request).body.find("username=\"zo\xC3\xAB\""), std::string::npos);
}

TEST_F(Requests, IdentityLinesWithEmptyFieldsAndOtherLanguagesPass) {
  for (const char* line :
       {"AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI= 6IMSI= IMSI= IDDEV=a0b1 DEV=NonameDevice LANG=EN",
        "AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI=1 6IMSI=12345 IMSI=12345 IDDEV= DEV=A B C LANG=pt_BR",
        "AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI=1 6IMSI=123456 IMSI=1234567 IDDEV=0 DEV=x LANG=CHI_T"}) {
    EXPECT_EQ(qps::CheckUserAgent(line), "") << line;
  }
}

TEST_F(Requests, PercentDecodingKeepsPlusAndUtf8) {
  Control("set?strict-requests=off");
  Send(Get("/v2/?method=getUserInformation&username=a+b%2Bc%20d%C3%A9").Bytes());
  EXPECT_EQ(JsonField(server.LastLog(), "params"), "[[\"method\",\"getUserInformation\"],[\"username\",\"a+b+c d\xC3\xA9\"]]");
  Response zoe = Send(Get("/v2/?method=getUserPlaylist&username=zo%c3%ab").Bytes());
  EXPECT_NE(zoe.body.find("total_records=\"1\""), std::string::npos) << "lower-case escapes decode too";
}

TEST_F(Requests, ForeignAbsoluteTargetsGet502) {
  std::string bytes = Get("/v2/?method=checkForUpdate", true).Bytes();
  bytes = Replace(bytes, "http://" + server.Authority(), "http://example.org:81");
  Response r = Send(bytes);
  EXPECT_EQ(r.status, 502);
  EXPECT_NE(JsonField(server.LastLog(), "violations").find("names another server: example.org:81"), std::string::npos);
  // localhost with the port names this server.
  std::string local = Replace(Get("/v2/?method=checkForUpdate", true).Bytes(), "http://127.0.0.1:", "http://localhost:");
  local = Replace(local, "Host: 127.0.0.1:", "Host: localhost:");
  EXPECT_EQ(Send(local).status, 200);
}

TEST_F(Requests, ControlSetLogAndReset) {
  size_t before = server.Log().size();
  Control("set?update=offer&delay-ms=0&catalogue=edge");
  EXPECT_EQ(server.Log().size(), before) << "control requests are not logged";
  EXPECT_NE(Send(Get("/v2/?method=checkForUpdate").Bytes()).body.find("message_url="), std::string::npos);
  EXPECT_NE(Send(Get("/v2/?method=getUserInformation&username=tall").Bytes()).body.find("username=\"tall\""),
            std::string::npos);

  for (const char* bad : {"set?update=sometimes", "set?lifetime=5", "set?nothing=1", "set", "log?since=x", "nonsense"}) {
    Response r = Send(std::string("GET /_ctl/") + bad + " HTTP/1.1\r\n\r\n");
    EXPECT_GE(r.status, 400) << bad;
    EXPECT_FALSE(r.body.empty()) << bad;
  }
  // A refused set changes nothing, even the parts that were fine.
  Send("GET /_ctl/set?gzip=off&update=sometimes HTTP/1.1\r\n\r\n");
  Response gz = Send(SearchUpload(server.Port(), EncodeTone(440, 5), false).Bytes());
  EXPECT_EQ(gz.Header("Content-Encoding"), "gzip");

  Response log = Send("GET /_ctl/log?since=2 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(log.Header("Content-Type"), "application/x-ndjson");
  EXPECT_EQ(log.body.rfind("{\"seq\":2,", 0), 0u);
  EXPECT_NE(log.body.find("{\"next\":4}\n"), std::string::npos);

  Control("reset");
  EXPECT_EQ(Send("GET /_ctl/log HTTP/1.1\r\n\r\n").body, "{\"next\":1}\n");
  EXPECT_EQ(Send(Get("/v2/?method=checkForUpdate").Bytes()).body.find("message_url="), std::string::npos);
  EXPECT_NE(Send(Get("/v2/?method=getUserInformation&username=tall").Bytes()).body.find("No such user"),
            std::string::npos);
}

// The entry is written after the reply has gone out; a client that has its
// whole answer and then asks for the log must still find it, however late
// the exchange's thread gets to write it.
TEST_F(Requests, TheLogHoldsEveryExchangeWhoseReplyIsOut) {
  server.Server().SetAnsweredHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
  RawConnection c(server.Port());
  c.Send(Get("/v2/?method=checkForUpdate").Bytes());
  EXPECT_EQ(ParseResponse(c.ReadReply()).status, 200);
  Response log = Send("GET /_ctl/log HTTP/1.1\r\n\r\n");
  server.Server().SetAnsweredHook(nullptr);
  EXPECT_EQ(log.body.rfind("{\"seq\":1,", 0), 0u) << log.body;
}
