#include "protocol/UrlBuilder.h"

#include <string>

#include "framework/AppRegistry.h"
#include "platform/url/Url.h"

plat::WString ServerBaseUrl(plat::WStringView valueName) {
  plat::WString base;
  RegGetAppString(valueName, base);  // empties `base` when the value is missing
  return base;
}

plat::WString EncodeQueryValue(plat::WStringView text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const std::string bytes = plat::ToUtf8(text);
  plat::WString out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char16_t>(c);
    } else {
      out += u'%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

CUrlBuilder::CUrlBuilder(plat::WStringView base, plat::WStringView method, int32_t mode)
    : m_base(base) {
  if (mode == UrlModeExternal) m_path = u"/?action=external.main&method=";
  else if (mode == UrlModeV2) m_path = u"/v2/?method=";
  m_path += method;
}

CUrlBuilder& CUrlBuilder::AddParam(plat::WStringView key, plat::WStringView value) {
  m_path += u'&';
  m_path += EncodeQueryValue(key);
  m_path += u'=';
  m_path += EncodeQueryValue(value);
  return *this;
}

const plat::WString& CUrlBuilder::GetUrl() {
  m_url.clear();
  plat::UrlParts base;
  if (!plat::CrackUrl(m_base, base) || base.host.empty()) return m_url;
  plat::UrlParts parts;
  parts.scheme = base.scheme;
  parts.host = base.host;
  parts.port = base.port;
  parts.path = m_path;
  if (!plat::CreateUrl(parts, plat::ICU_ESCAPE, m_url)) m_url.clear();
  return m_url;
}
