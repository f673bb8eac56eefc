#include "platform/url/Url.h"

#include "platform/base/Errors.h"

namespace plat {
namespace {

struct SchemeInfo {
  WStringView name;
  int number;
  uint16_t defaultPort;
  bool needsAuthority;  // "//" is required after the colon
};

constexpr SchemeInfo kSchemes[] = {
    {u"ftp", INTERNET_SCHEME_FTP, INTERNET_DEFAULT_FTP_PORT, true},
    {u"http", INTERNET_SCHEME_HTTP, INTERNET_DEFAULT_HTTP_PORT, true},
    {u"https", INTERNET_SCHEME_HTTPS, INTERNET_DEFAULT_HTTPS_PORT, true},
    {u"file", INTERNET_SCHEME_FILE, INTERNET_INVALID_PORT_NUMBER, false},
    {u"mailto", INTERNET_SCHEME_MAILTO, INTERNET_INVALID_PORT_NUMBER, false},
};

const SchemeInfo* SchemeByName(WStringView name) {
  for (const SchemeInfo& s : kSchemes)
    if (EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

const SchemeInfo* SchemeByNumber(int number) {
  for (const SchemeInfo& s : kSchemes)
    if (s.number == number) return &s;
  return nullptr;
}

bool IsAsciiAlpha(WChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(WChar c) { return c >= u'0' && c <= u'9'; }

// ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool IsSchemeName(WStringView s) {
  if (s.empty() || !IsAsciiAlpha(s[0])) return false;
  for (WChar c : s)
    if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != u'+' && c != u'-' && c != u'.') return false;
  return true;
}

// A host with a blank or a control character would break every request line
// and header it is written into; one with a colon would read back with
// another port.
bool IsUsableHost(WStringView host) {
  for (WChar c : host)
    if (c <= 0x20 || c == 0x7F || c == u':') return false;
  return true;
}

bool ParsePort(WStringView text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (WChar c : text) {
    if (!IsAsciiDigit(c)) return false;
    value = value * 10 + (c - u'0');
  }
  if (value < 1 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool MustEscape(char32_t cp) {
  if (cp <= 0x20 || cp >= 0x7F) return true;
  switch (cp) {
    case U'"': case U'<': case U'>': case U'\\': case U'^': case U'`': case U'{': case U'|': case U'}':
      return true;
    default:
      return false;
  }
}

void AppendEscaped(WString& out, WStringView text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = NextCodePoint(text, i);
    if (!MustEscape(cp)) {
      out.push_back(static_cast<WChar>(cp));
      continue;
    }
    WString unit;
    AppendCodePoint(unit, cp);
    for (unsigned char byte : ToUtf8(unit)) {
      out.push_back(u'%');
      out.push_back(static_cast<WChar>(kHex[byte >> 4]));
      out.push_back(static_cast<WChar>(kHex[byte & 0xF]));
    }
  }
}

}  // namespace

bool CrackUrl(WStringView url, UrlParts& out) {
  size_t colon = url.find(u':');
  if (url.empty() || colon == WStringView::npos || !IsSchemeName(url.substr(0, colon)))
    return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  const SchemeInfo* scheme = SchemeByName(url.substr(0, colon));
  if (!scheme) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);

  UrlParts parts;
  parts.scheme = scheme->number;
  parts.schemeName = WString(url.substr(0, colon));
  parts.port = scheme->defaultPort;

  WStringView rest = url.substr(colon + 1);
  // A mailto address has no authority, whatever it starts with.
  if (rest.substr(0, 2) != u"//" || scheme->number == INTERNET_SCHEME_MAILTO) {
    if (scheme->needsAuthority) return Fail(ERROR_INTERNET_INVALID_URL);
    parts.path = WString(rest);
    out = std::move(parts);
    return true;
  }
  rest.remove_prefix(2);
  size_t authorityEnd = rest.find_first_of(u"/?#");
  if (authorityEnd == WStringView::npos) authorityEnd = rest.size();
  WStringView authority = rest.substr(0, authorityEnd);
  parts.path = WString(rest.substr(authorityEnd));

  // A password may hold '@'; the host never does.
  size_t at = authority.rfind(u'@');
  if (at != WStringView::npos) {
    WStringView userInfo = authority.substr(0, at);
    size_t split = userInfo.find(u':');
    parts.user = WString(userInfo.substr(0, split));
    if (split != WStringView::npos) parts.password = WString(userInfo.substr(split + 1));
    authority.remove_prefix(at + 1);
  }
  size_t portColon = authority.rfind(u':');
  if (portColon != WStringView::npos) {
    if (!ParsePort(authority.substr(portColon + 1), parts.port)) return Fail(ERROR_INTERNET_INVALID_URL);
    authority = authority.substr(0, portColon);
  }
  if (!IsUsableHost(authority)) return Fail(ERROR_INTERNET_INVALID_URL);
  parts.host = WString(authority);
  out = std::move(parts);
  return true;
}

bool CreateUrl(const UrlParts& parts, uint32_t flags, WString& out) {
  if ((flags & ~ICU_ESCAPE) != 0) return Fail(ERROR_INVALID_PARAMETER);
  const SchemeInfo* scheme = nullptr;
  WString name;
  if (!parts.schemeName.empty()) {
    if (!IsSchemeName(parts.schemeName)) return Fail(ERROR_INVALID_PARAMETER);
    scheme = SchemeByName(parts.schemeName);
    name = parts.schemeName;
  } else {
    scheme = SchemeByNumber(parts.scheme);
    if (!scheme) return Fail(ERROR_INVALID_PARAMETER);
    name = WString(scheme->name);
  }
  if (!IsUsableHost(parts.host)) return Fail(ERROR_INVALID_PARAMETER);

  WString url = name;
  if (scheme && scheme->number == INTERNET_SCHEME_MAILTO) {
    url += u':';
  } else {
    url += u"://";
    if (!parts.user.empty()) {
      url += parts.user;
      if (!parts.password.empty()) url += u':' + parts.password;
      url += u'@';
    }
    url += parts.host;
    uint16_t defaultPort = scheme ? scheme->defaultPort : INTERNET_INVALID_PORT_NUMBER;
    if (parts.port != INTERNET_INVALID_PORT_NUMBER && parts.port != defaultPort)
      url += u':' + Widen(std::to_string(parts.port));
    // Without a separator the path would run on into the host name
    // ("http://hostsearch").
    WStringView first = !parts.path.empty() ? WStringView(parts.path) : WStringView(parts.extra);
    if (!first.empty() && first[0] != u'/') url += u'/';
  }
  if (flags & ICU_ESCAPE) {
    AppendEscaped(url, parts.path);
    AppendEscaped(url, parts.extra);
  } else {
    url += parts.path;
    url += parts.extra;
  }
  out = std::move(url);
  return true;
}

}  // namespace plat
