// URL cracking and creation, as the HTTP core's Open, the server URL builder
// and the screens' link checks use them.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/Errors.h"
#include "platform/url/Url.h"

using namespace plat;

namespace {

std::string U8(WStringView s) { return ToUtf8(s); }

struct CrackCase {
  const char16_t* url;
  int scheme;
  const char16_t* host;
  uint16_t port;
  const char16_t* path;
  const char16_t* user = u"";
  const char16_t* password = u"";
};

TEST(CrackUrl, SplitsWhatTheCallersAskFor) {
  const CrackCase cases[] = {
      // Open: the path is everything after the host, query included.
      {u"http://host", INTERNET_SCHEME_HTTP, u"host", 80, u""},
      {u"http://host:8080/p?q=1", INTERNET_SCHEME_HTTP, u"host", 8080, u"/p?q=1"},
      {u"http://host/v2/?method=search&type=singing&lang=en", INTERNET_SCHEME_HTTP, u"host", 80,
       u"/v2/?method=search&type=singing&lang=en"},
      {u"http://host?x=1", INTERNET_SCHEME_HTTP, u"host", 80, u"?x=1"},
      {u"http://host#top", INTERNET_SCHEME_HTTP, u"host", 80, u"#top"},
      {u"http://host:65535/", INTERNET_SCHEME_HTTP, u"host", 65535, u"/"},
      {u"http://host:1", INTERNET_SCHEME_HTTP, u"host", 1, u""},
      {u"http://127.0.0.1:8000/a%20b", INTERNET_SCHEME_HTTP, u"127.0.0.1", 8000, u"/a%20b"},
      // The scheme in any case; the host keeps its case.
      {u"HtTp://Example.COM/Path", INTERNET_SCHEME_HTTP, u"Example.COM", 80, u"/Path"},
      // Link checks refuse these by their scheme number, not by a failure.
      {u"https://shop.example/buy", INTERNET_SCHEME_HTTPS, u"shop.example", 443, u"/buy"},
      {u"ftp://files.example", INTERNET_SCHEME_FTP, u"files.example", 21, u""},
      {u"file:///tmp/x", INTERNET_SCHEME_FILE, u"", 0, u"/tmp/x"},
      {u"mailto:someone@example.com", INTERNET_SCHEME_MAILTO, u"", 0, u"someone@example.com"},
      {u"mailto://x@h", INTERNET_SCHEME_MAILTO, u"", 0, u"//x@h"},  // never an authority
      // An empty host cracks; Open and the link check refuse it themselves.
      {u"http:///path", INTERNET_SCHEME_HTTP, u"", 80, u"/path"},
      {u"http://", INTERNET_SCHEME_HTTP, u"", 80, u""},
      // User information; a password may hold ':' and '@'.
      {u"http://user:pa:ss@host:81/x", INTERNET_SCHEME_HTTP, u"host", 81, u"/x", u"user", u"pa:ss"},
      {u"http://user:p@ss@host/", INTERNET_SCHEME_HTTP, u"host", 80, u"/", u"user", u"p@ss"},
      {u"http://user@host", INTERNET_SCHEME_HTTP, u"host", 80, u"", u"user"},
      // '@' after the authority belongs to the path.
      {u"http://host/a@b", INTERNET_SCHEME_HTTP, u"host", 80, u"/a@b"},
  };
  for (const CrackCase& c : cases) {
    SCOPED_TRACE(U8(c.url));
    UrlParts parts;
    ASSERT_TRUE(CrackUrl(c.url, parts)) << GetLastError();
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(U8(parts.host), U8(c.host));
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(U8(parts.path), U8(c.path));
    EXPECT_EQ(U8(parts.user), U8(c.user));
    EXPECT_EQ(U8(parts.password), U8(c.password));
    EXPECT_TRUE(parts.extra.empty());
  }
  UrlParts parts;
  ASSERT_TRUE(CrackUrl(u"HTTP://h", parts));
  EXPECT_EQ(U8(parts.schemeName), "HTTP");
}

TEST(CrackUrl, RefusesWithTheDevicesCodesAndLeavesTheOutputAlone) {
  struct Bad {
    const char16_t* url;
    uint32_t error;
  };
  const Bad cases[] = {
      {u"", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"www.example.com/path", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"://host/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"gopher://host/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"javascript:alert(1)", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"1http://host/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u" http://host/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {u"http:host/path", ERROR_INTERNET_INVALID_URL},
      {u"http:/host/path", ERROR_INTERNET_INVALID_URL},
      {u"https:host", ERROR_INTERNET_INVALID_URL},
      {u"http://host:0/", ERROR_INTERNET_INVALID_URL},
      {u"http://host:65536/", ERROR_INTERNET_INVALID_URL},
      {u"http://host:123456/", ERROR_INTERNET_INVALID_URL},
      {u"http://host:/", ERROR_INTERNET_INVALID_URL},
      {u"http://host:8a/", ERROR_INTERNET_INVALID_URL},
      {u"http://host:-1/", ERROR_INTERNET_INVALID_URL},
      // A host that would break a request line or a header.
      {u"http://ho st/", ERROR_INTERNET_INVALID_URL},
      {u"http://host\r\nX-Injected: 1/", ERROR_INTERNET_INVALID_URL},
      {u"http://ho\x7Fst/", ERROR_INTERNET_INVALID_URL},
      {u"http://a:b:80/", ERROR_INTERNET_INVALID_URL},
      {u"http://[::1]/", ERROR_INTERNET_INVALID_URL},  // no IPv6 literals
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(U8(c.url));
    UrlParts parts;
    parts.host = u"untouched";
    SetLastError(0);
    EXPECT_FALSE(CrackUrl(c.url, parts));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(U8(parts.host), "untouched");
  }
}

// The URL builder's use: only scheme, host and port of the base survive, and
// its own path with its query goes in escaped.
WString Build(WStringView base, WStringView path) {
  UrlParts parts;
  if (!CrackUrl(base, parts)) return u"<crack failed>";
  parts.path = WString(path);
  parts.user.clear();
  parts.password.clear();
  WString out = u"<unchanged>";
  if (!CreateUrl(parts, ICU_ESCAPE, out)) return u"<create failed>";
  return out;
}

TEST(CreateUrl, KeepsSchemeHostAndPortOfTheBaseOnly) {
  EXPECT_EQ(U8(Build(u"http://server.example/old/path?x=1", u"/v2/?method=search")),
            "http://server.example/v2/?method=search");
  EXPECT_EQ(U8(Build(u"http://server.example:8080/", u"/v2/?method=search&type=singing&lang=en")),
            "http://server.example:8080/v2/?method=search&type=singing&lang=en");
  EXPECT_EQ(U8(Build(u"http://server.example:80", u"/v2/?method=checkForUpdate")),
            "http://server.example/v2/?method=checkForUpdate");
  EXPECT_EQ(U8(Build(u"https://secure.example:443/", u"/x")), "https://secure.example/x");
  EXPECT_EQ(U8(Build(u"https://secure.example:80/", u"/x")), "https://secure.example:80/x");
  EXPECT_EQ(U8(Build(u"HTTP://h/", u"/x")), "HTTP://h/x");
  // A path without its leading slash must not run on into the host name.
  EXPECT_EQ(U8(Build(u"http://h:81", u"search")), "http://h:81/search");
  EXPECT_EQ(U8(Build(u"http://h", u"")), "http://h");
}

TEST(CreateUrl, EscapesUnsafeUnitsAsUtf8AndKeepsQuerySyntax) {
  struct Case {
    const char16_t* in;
    const char* out;
  };
  const Case cases[] = {
      {u"/a b", "/a%20b"},
      {u"/\"<>\\^`{|}", "/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {u"/\x01\x1F\x7F", "/%01%1F%7F"},
      {u"/\t\r\n", "/%09%0D%0A"},
      {u"/caf\u00E9", "/caf%C3%A9"},
      {u"/\u20AC", "/%E2%82%AC"},
      {u"/\U0001F600", "/%F0%9F%98%80"},
      {u"/\xD800x", "/%EF%BF%BDx"},  // a lone surrogate
      // Kept as they are, so a value the caller already encoded is not
      // encoded twice and the query keeps its structure.
      {u"/?a=1&b=%20%26#f+g;h:i", "/?a=1&b=%20%26#f+g;h:i"},
      {u"/-._~!$'()*,@[]", "/-._~!$'()*,@[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(U8(Build(u"http://h", c.in)), std::string("http://h") + c.out);
  }
}

TEST(CreateUrl, ExtraUserAndUnescapedForms) {
  UrlParts parts;
  parts.scheme = INTERNET_SCHEME_HTTP;
  parts.host = u"h";
  parts.port = 8080;
  parts.user = u"u";
  parts.password = u"p";
  parts.path = u"/a b";
  parts.extra = u"?q=x y";
  WString out;
  ASSERT_TRUE(CreateUrl(parts, ICU_ESCAPE, out));
  EXPECT_EQ(U8(out), "http://u:p@h:8080/a%20b?q=x%20y");
  ASSERT_TRUE(CreateUrl(parts, 0, out));
  EXPECT_EQ(U8(out), "http://u:p@h:8080/a b?q=x y");

  parts = UrlParts{};
  parts.scheme = INTERNET_SCHEME_MAILTO;
  parts.path = u"a@b.example";
  ASSERT_TRUE(CreateUrl(parts, ICU_ESCAPE, out));
  EXPECT_EQ(U8(out), "mailto:a@b.example");
}

TEST(CreateUrl, RefusesWhatCannotMakeAUrl) {
  UrlParts good;
  good.scheme = INTERNET_SCHEME_HTTP;
  good.host = u"h";
  struct Bad {
    const char* why;
    UrlParts parts;
    uint32_t flags;
  };
  std::vector<Bad> cases;
  cases.push_back({"unknown flag", good, 0x1});
  UrlParts p = good;
  p.scheme = INTERNET_SCHEME_UNKNOWN;
  cases.push_back({"no scheme", p, ICU_ESCAPE});
  p = good;
  p.schemeName = u"1bad";
  cases.push_back({"bad scheme name", p, ICU_ESCAPE});
  p = good;
  p.host = u"a b";
  cases.push_back({"blank in host", p, ICU_ESCAPE});
  p = good;
  p.host = u"a\nb";
  cases.push_back({"line break in host", p, 0});
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.why);
    WString out = u"untouched";
    SetLastError(0);
    EXPECT_FALSE(CreateUrl(c.parts, c.flags, out));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(U8(out), "untouched");
  }
}

}  // namespace
