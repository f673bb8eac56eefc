// The server's own building blocks: XML writer and checker, escaping and
// decoding, gzip framing, hashing, fault specs, options and reply rendering.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include "tools/protocol-server/Catalogue.h"
#include "tools/protocol-server/Faults.h"
#include "tools/protocol-server/Gzip.h"
#include "tools/protocol-server/Http.h"
#include "tools/protocol-server/Options.h"
#include "tools/protocol-server/TestSupport.h"
#include "tools/protocol-server/Util.h"
#include "tools/protocol-server/Xml.h"

TEST(XmlWriter, EscapesWhatTheClientParserMustReadBack) {
  qps::XmlWriter w;
  const std::string tricky = "A & B <C> \"D\" 'E' caf\xC3\xA9 \x01 \xFF";
  w.Open("orlamet").Attr("name", tricky).Attr("n", -7).Open("empty").Close().Open("child").Open("leaf");
  std::string doc = w.Finish();
  EXPECT_EQ(doc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orlamet name=\"A &amp; B &lt;C&gt; &quot;D&quot; 'E' "
                 "caf\xC3\xA9 ? ?\" n=\"-7\"><empty/><child><leaf/></child></orlamet>\n");
  EXPECT_EQ(qps::CheckXmlDocument(doc), "");
  TiXmlDocument x;
  x.Parse(doc.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  ASSERT_FALSE(x.Error());
  EXPECT_STREQ(x.RootElement()->Attribute("name"), "A & B <C> \"D\" 'E' caf\xC3\xA9 ? ?");
}

TEST(XmlChecker, RefusesEverythingOutsideTheReplyStyle) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::pair<std::string, std::string> bad[] = {
      {"<orlamet/>", "missing the declaration"},
      {decl + "<other/>", "root element is not orlamet"},
      {decl + "<orlamet><!-- c --></orlamet>", "comment"},
      {decl + "<!DOCTYPE x><orlamet/>", "DOCTYPE"},
      {decl + "<orlamet a=\"&#65;\"/>", "numeric character reference"},
      {decl + "<orlamet a=\"&nbsp;\"/>", "unknown entity"},
      {decl + "<orlamet a=\"1\" a=\"2\"/>", "duplicate attribute a"},
      {decl + "<orlamet>text</orlamet>", "text outside attributes"},
      {decl + "<orlamet><a></b></orlamet>", "mismatched end tag"},
      {decl + "<orlamet><a>", "unclosed element"},
      {decl + "<orlamet total_records=\"99999999999\"/>", "32-bit decimal"},
      {decl + "<orlamet total_records=\"+3\"/>", "32-bit decimal"},
      {decl + "<orlamet a=\"x\"b=\"y\"/>", "separated by a blank"},
      {decl + "<orlamet/><orlamet/>", "content after the root"},
      {decl + "<orlamet a=\"\xC3\"/>", "not valid UTF-8"},
  };
  for (const auto& [doc, why] : bad) EXPECT_NE(qps::CheckXmlDocument(doc).find(why), std::string::npos) << doc;
  std::string nested = decl;
  for (int i = 0; i < 10; ++i) nested += i == 0 ? "<orlamet>" : "<d>";
  nested += "<d/>";
  EXPECT_NE(qps::CheckXmlDocument(nested).find("nesting deeper than 10"), std::string::npos);
  EXPECT_EQ(qps::CheckXmlDocument(decl + "<orlamet total_records=\"-2147483648\" a='x'>\n <b/>\n</orlamet>\n"), "");
}

TEST(Escaping, PercentDecodeAndEncode) {
  auto d = qps::PercentDecode("a%2Bb+c%20%C3%A9%e2%82%ac");
  EXPECT_EQ(d.value, "a+b+c \xC3\xA9\xE2\x82\xAC");
  EXPECT_FALSE(d.badEscape);
  EXPECT_FALSE(d.unescaped);
  for (const char* broken : {"%", "%4", "%G0", "abc%"}) EXPECT_TRUE(qps::PercentDecode(broken).badEscape) << broken;
  EXPECT_TRUE(qps::PercentDecode("a b").unescaped);
  EXPECT_TRUE(qps::PercentDecode("\xC3\xA9").unescaped);
  EXPECT_TRUE(qps::PercentDecode("a\tb").unescaped);
  EXPECT_EQ(qps::PercentEncode("a\\b/../x ~-._&=+#"), "a%5Cb%2F..%2Fx%20~-._%26%3D%2B%23");
  EXPECT_EQ(qps::PercentDecode(qps::PercentEncode("zo\xC3\xAB & co")).value, "zo\xC3\xAB & co");
}

TEST(Escaping, Utf8AndJson) {
  EXPECT_TRUE(qps::IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x8E\xB5"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
    EXPECT_FALSE(qps::IsValidUtf8(bad)) << bad;
  EXPECT_EQ(qps::JsonString("a\"b\\c\n\x01\xFF"), "\"a\\\"b\\\\c\\n\\u0001\xEF\xBF\xBD\"");
}

TEST(Gzip, OneMemberWithTheTenByteHeader) {
  std::string data(5000, 'q');
  std::string gz = qps::GzipCompress(data);
  EXPECT_EQ(gz.substr(0, 10), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10));
  EXPECT_EQ(qpstest::Gunzip(gz), data);
  std::string named = qps::GzipCompress(data, "x.xml");
  EXPECT_EQ(named[3], '\x08');
  EXPECT_EQ(named.substr(10, 6), std::string("x.xml\0", 6));
  EXPECT_EQ(qpstest::Gunzip(named), data);
  EXPECT_EQ(qpstest::Gunzip(qps::GzipCompress("")), "");
  EXPECT_EQ(qps::GzipCompress("").size(), 20u);  // header, empty deflate block, CRC, ISIZE
}

TEST(Hashing, Sha256KnownVectors) {
  EXPECT_EQ(qps::Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(qps::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(qps::Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(FaultSpecs, ArgumentsAreCheckedWhenGiven) {
  std::string error;
  EXPECT_TRUE(qps::ParseFault("status:404", error));
  EXPECT_TRUE(qps::ParseFault("stall:0.5", error));
  EXPECT_TRUE(qps::ParseFault("error-element:serverMessage,true,http://h:1/a,b", error));
  const char* bad[] = {"status",          "status:99",        "status:abc",      "close:1",
                       "chunked:0",       "delay:",           "lengths:3",       "switches:speed=1",
                       "offer-bad-url:ftp", "error-root:error", "deep:2000000",    "teapot"};
  for (const char* faultText : bad) {
    error.clear();
    EXPECT_FALSE(qps::ParseFault(faultText, error)) << faultText;
    EXPECT_FALSE(error.empty()) << faultText;
  }
  qps::Fault early = *qps::ParseFault("early-reply:10", error);
  EXPECT_TRUE(qps::FaultApplies(early, qps::Route::SearchPost));
  EXPECT_FALSE(qps::FaultApplies(early, qps::Route::Preview));
  qps::Fault notXml = *qps::ParseFault("not-xml", error);
  EXPECT_TRUE(qps::FaultApplies(notXml, qps::Route::Videos));
  EXPECT_FALSE(qps::FaultApplies(notXml, qps::Route::Image));
}

TEST(OptionsParsing, CommandLineAndRunTimeRules) {
  qps::Options o;
  std::string error;
  const char* argv[] = {"x", "--listen", "127.0.0.1:8080", "--strict-requests", "--update=offer", "--switches",
                        "amg=0,lyrics=2", "--search-lengths", "3,45", "--lifetime", "0.25", "--fault", "image:close"};
  ASSERT_TRUE(qps::ParseCommandLine(13, argv, o, error)) << error;
  EXPECT_EQ(o.listenPort, 8080);
  EXPECT_TRUE(o.strictRequests);
  EXPECT_EQ(o.update.mode, qps::UpdateMode::Offer);
  EXPECT_EQ(o.update.switches[0].second, "0");
  EXPECT_EQ(o.update.switches[3].second, "2");
  EXPECT_EQ(o.update.minLength, "3");
  EXPECT_DOUBLE_EQ(o.lifetime, 0.25);
  EXPECT_EQ(o.faults.size(), 1u);
  EXPECT_FALSE(qps::ApplyOption(o, "lifetime", "10", true, error)) << "fixed at start";
  EXPECT_FALSE(qps::ApplyOption(o, "switches", "amg=x", true, error));
  EXPECT_EQ(o.update.switches[0].second, "0") << "a refused value leaves the option alone";
  EXPECT_FALSE(qps::ApplyOption(o, "listen", "127.0.0.1:70000", false, error));
  EXPECT_FALSE(qps::ApplyOption(o, "public-base", "https://h", false, error));
}

TEST(ReplyRendering, FramesAndAwkwardSplitPoints) {
  qps::Reply r;
  r.body = std::string(300, 'b');
  qps::WirePlan plan;
  qps::RenderedReply counted = qps::RenderReply(r, plan);
  EXPECT_EQ(counted.bytes, "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: 300\r\n"
                           "Connection: close\r\n\r\n" + r.body);
  EXPECT_EQ(counted.headLength, counted.bytes.size() - 300);
  // Inside "HTTP", between the status line's CR and LF, inside a header name
  // and inside the blank line.
  EXPECT_EQ(counted.awkwardSplits, (std::vector<size_t>{4, 16, 24, counted.headLength - 1}));
  EXPECT_EQ(counted.bytes[15], '\r');

  plan.chunked = true;
  plan.chunkSize = 128;
  qps::RenderedReply chunked = qps::RenderReply(r, plan);
  std::string body = chunked.bytes.substr(chunked.headLength);
  EXPECT_EQ(body, "80\r\n" + std::string(128, 'b') + "\r\n80\r\n" + std::string(128, 'b') + "\r\n2c\r\n" +
                      std::string(44, 'b') + "\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.awkwardSplits.back(), chunked.headLength + 1) << "inside the first size line";
  r.body.clear();
  EXPECT_TRUE(qps::RenderReply(r, plan).bytes.ends_with("\r\n\r\n0\r\n\r\n"));
}

TEST(PictureNames, TheClientsPngRule) {
  EXPECT_EQ(qps::PngNameOf("http://127.0.0.1:9/img/al1.jpg"), "http://127.0.0.1:9/img/al1.png");
  EXPECT_EQ(qps::PngNameOf("http://127.0.0.1:9/img/al3"), "http://127.0.0.1:9/img/al3.png");
  EXPECT_EQ(qps::PngNameOf("http://127.0.0.1:9/img/u.d/u1"), "http://127.0.0.1:9/img/u.d/u1.png");
  EXPECT_EQ(qps::PngNameOf("a.b.c"), "a.b.png");
  EXPECT_EQ(qps::PngNameOf(""), ".png");
}
