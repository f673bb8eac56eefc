// URL cracking and creation.
//
// One cracker serves every caller: the HTTP core's Open (host, port and the
// request path), the server URL builder (scheme, host and port of a base) and
// the link checks of the screens. One creation function, with one escaping
// rule, serves the URL builder and is what the protocol code relies on: with
// ICU_ESCAPE the path and the extra part are percent-escaped as UTF-8 for
//   - code units up to 0x20 and from 0x7F up,
//   - the characters " < > \ ^ ` { | },
// and everything else stays as it is, in particular % # ? & = / + ; and :, so
// a parameter value the caller has already percent-encoded is never escaped a
// second time.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

namespace plat {

// Scheme numbers.
constexpr int INTERNET_SCHEME_UNKNOWN = -1;
constexpr int INTERNET_SCHEME_FTP = 1;
constexpr int INTERNET_SCHEME_HTTP = 3;
constexpr int INTERNET_SCHEME_HTTPS = 4;
constexpr int INTERNET_SCHEME_FILE = 5;
constexpr int INTERNET_SCHEME_MAILTO = 7;

constexpr uint16_t INTERNET_INVALID_PORT_NUMBER = 0;
constexpr uint16_t INTERNET_DEFAULT_FTP_PORT = 21;
constexpr uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

constexpr uint32_t ICU_ESCAPE = 0x80000000u;

struct UrlParts {
  int scheme = INTERNET_SCHEME_UNKNOWN;
  WString schemeName;  // as written in the URL ("HTTP" stays upper case)
  WString host;
  uint16_t port = INTERNET_INVALID_PORT_NUMBER;
  WString user;
  WString password;
  // Everything after the authority: path, query and fragment. Empty when the
  // URL has nothing after the host (callers that need one supply "/").
  WString path;
  // Never filled by CrackUrl (the query stays in the path); CreateUrl appends
  // it after the path.
  WString extra;
};

// Splits `url`. The scheme is matched without regard to case; http, https
// and ftp need "//" and an authority of [user[:password]@]host[:port]; the
// port is 1 to 65535 in decimal and defaults to the scheme's (80, 443, 21,
// else 0). file and mailto take whatever follows the colon (file also with
// "//" and an authority). The host may be empty (callers decide).
// False with the last error:
//   ERROR_INTERNET_UNRECOGNIZED_SCHEME (12006) for an empty string, a string
//     without a scheme, or a scheme other than the five above;
//   ERROR_INTERNET_INVALID_URL (12005) for a missing "//", a port that is not
//     1 to 65535 (an empty one included), or a host holding a space, a control
//     character, DEL or a colon (so "http://a:b:80/" is refused rather than
//     read as host "a:b").
// `out` is only written on success.
bool CrackUrl(WStringView url, UrlParts& out);

// scheme "://" [user [":" password] "@"] host [":" port] path extra. The
// scheme name comes from `schemeName`, else from the scheme number; the port
// is written only when it is neither 0 nor the scheme's default. With
// ICU_ESCAPE the path and extra are escaped by the rule above (lone surrogates
// are encoded as U+FFFD). False with ERROR_INVALID_PARAMETER for flags other
// than ICU_ESCAPE, no usable scheme, a scheme name that is not a scheme, or a
// host holding a space, control character, DEL or colon; `out` is then
// unchanged.
bool CreateUrl(const UrlParts& parts, uint32_t flags, WString& out);

}  // namespace plat
