// Fuzz target for URL cracking: any text either cracks into parts that
// describe a usable URL or fails with one of the two URL errors, and a
// cracked URL, created again with escaping, cracks back to the same scheme,
// host, port and user, and is then a fixed point of crack-and-create.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/base/Errors.h"
#include "platform/url/Url.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "URL fuzz invariant broken: %s\n", what);
  std::abort();
}

bool HostIsUsable(plat::WStringView host) {
  for (char16_t c : host)
    if (c <= 0x20 || c == 0x7F || c == u':') return false;
  return true;
}

bool Escaped(plat::WStringView text) {
  for (char16_t c : text) {
    if (c <= 0x20 || c >= 0x7F) return false;
    if (plat::WStringView(u"\"<>\\^`{|}").find(c) != plat::WStringView::npos) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plat::WString url = plat::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  plat::UrlParts parts;
  plat::SetLastError(0);
  if (!plat::CrackUrl(url, parts)) {
    uint32_t e = plat::GetLastError();
    Check(e == plat::ERROR_INTERNET_INVALID_URL || e == plat::ERROR_INTERNET_UNRECOGNIZED_SCHEME, "error code");
    return 0;
  }
  Check(parts.scheme != plat::INTERNET_SCHEME_UNKNOWN, "known scheme");
  Check(HostIsUsable(parts.host), "usable host");
  Check(parts.extra.empty(), "no extra");
  Check(url.size() >= parts.path.size() && url.compare(url.size() - parts.path.size(), parts.path.size(), parts.path) == 0,
        "the path is the end of the URL");
  bool network = parts.scheme == plat::INTERNET_SCHEME_HTTP || parts.scheme == plat::INTERNET_SCHEME_HTTPS ||
                 parts.scheme == plat::INTERNET_SCHEME_FTP;
  if (network) Check(parts.port != 0, "a port");

  plat::WString created;
  Check(plat::CreateUrl(parts, plat::ICU_ESCAPE, created), "create a cracked URL");
  plat::UrlParts again;
  Check(plat::CrackUrl(created, again), "crack the created URL");
  Check(again.scheme == parts.scheme && again.port == parts.port, "same scheme and port");
  if (parts.scheme != plat::INTERNET_SCHEME_MAILTO) {
    Check(again.host == parts.host, "same host");
    Check(again.user == parts.user, "same user");
    Check(Escaped(again.path), "the created path is escaped");
  }
  plat::WString twice;
  Check(plat::CreateUrl(again, plat::ICU_ESCAPE, twice), "create again");
  Check(twice == created, "crack-and-create is a fixed point");
  return 0;
}
