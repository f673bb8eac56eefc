// Server request URLs: the scheme, host and port of a base URL from the
// registry, then a fixed path prefix, the method and the query parameters in
// call order.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

// Path prefixes by builder mode; every request of the program uses
// UrlModeV2. Any other mode gives the method alone.
enum : int32_t {
  UrlModeExternal = 0,  // "/?action=external.main&method="
  UrlModeV2 = 1,        // "/v2/?method="
};

// Registry values (under the application key) holding the base URLs.
inline constexpr char16_t kSingBaseValue[] = u"singurl";  // Sing and follow-up searches
inline constexpr char16_t kGrabBaseValue[] = u"graburl";  // Grab searches
inline constexpr char16_t kServerBaseValue[] = u"url";    // update check, user requests

// Methods and their parameters.
inline constexpr char16_t kMethodSearch[] = u"search";
inline constexpr char16_t kMethodCheckForUpdate[] = u"checkForUpdate";
inline constexpr char16_t kMethodGetUserInformation[] = u"getUserInformation";
inline constexpr char16_t kMethodGetUserPlaylist[] = u"getUserPlaylist";
inline constexpr char16_t kMethodGetUserRecordings[] = u"getUserRecordings";
inline constexpr char16_t kMethodGetTrackBuyLinks[] = u"getTrackBuyLinks";
inline constexpr char16_t kMethodGetTrackLyricsLink[] = u"getTrackLyricsLink";

inline constexpr char16_t kParamType[] = u"type";  // kSearchTypeSinging or kSearchTypeGrabbing
inline constexpr char16_t kParamLang[] = u"lang";
inline constexpr char16_t kParamSearchId[] = u"search_id";
inline constexpr char16_t kParamUsername[] = u"username";
inline constexpr char16_t kParamTrackId[] = u"track_id";  // left out of buy links when empty
inline constexpr char16_t kParamArtistName[] = u"artist_name";
inline constexpr char16_t kParamTrackName[] = u"track_name";
inline constexpr char16_t kSearchTypeSinging[] = u"singing";
inline constexpr char16_t kSearchTypeGrabbing[] = u"grabbing";

// A base URL as stored now (read afresh for every request); "" when absent.
plat::WString ServerBaseUrl(plat::WStringView valueName);

// Percent-encodes `text` as UTF-8, keeping only A-Z a-z 0-9 - . _ ~, so that
// no value can end or extend the query.
plat::WString EncodeQueryValue(plat::WStringView text);

// Lives for the statement that sends one request.
class CUrlBuilder {
 public:
  CUrlBuilder(plat::WStringView base, plat::WStringView method, int32_t mode);

  // Appends "&" key "=" value, both percent-encoded (EncodeQueryValue).
  CUrlBuilder& AddParam(plat::WStringView key, plat::WStringView value);

  // scheme://host[:port] of the base (its own path, query, user and password
  // are dropped) followed by the path, with characters unsafe in a URL
  // escaped. Empty when the base cannot be read as a URL with a host, so that
  // the request fails at once.
  const plat::WString& GetUrl();

 private:
  plat::WString m_base;
  plat::WString m_path;
  plat::WString m_url;
};
