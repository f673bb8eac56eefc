// Fuzz target: URL cracking, and the request target the HTTP core makes of
// a cracked URL.
//
// The input is taken as UTF-16 (pairs of bytes). A URL that cracks must have
// a host fit for the Host line and, for http, a real port; its request target
// must never hold a byte that could end the request line; and creating the
// URL again from its parts must crack back to the same host and port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/HTTPParser.h"
#include "platform/url/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plat::WString url;
  for (size_t i = 0; i + 1 < size; i += 2) url += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  plat::UrlParts parts;
  if (!plat::CrackUrl(url, parts)) return 0;
  if (parts.scheme == plat::INTERNET_SCHEME_HTTP) {
    if (parts.port == 0) std::abort();
    for (char16_t c : parts.host)
      if (c <= 0x20 || c == 0x7F) std::abort();
    plat::WString target;
    if (MakeRequestTarget(parts.path, target)) {
      if (target.empty() || target[0] != u'/') std::abort();
      for (char16_t c : target)
        if (c <= 0x20 || c == 0x7F) std::abort();
    }
    plat::WString again;
    if (plat::CreateUrl(parts, plat::ICU_ESCAPE, again)) {
      plat::UrlParts back;
      if (!plat::CrackUrl(again, back)) std::abort();
      if (back.host != parts.host || back.port != parts.port || back.scheme != parts.scheme) std::abort();
    }
  }
  return 0;
}
