#include "protocol/UrlBuilder.h"

#include <gtest/gtest.h>

#include "ProtocolTestUtil.h"

namespace {

constexpr char16_t kBase[] = u"http://127.0.0.1:8080";

TEST(UrlBuilder, EveryRequestOfTheProgram) {
  struct Case {
    plat::WString url;
    const char16_t* expected;
  };
  const Case cases[] = {
      {CUrlBuilder(kBase, kMethodSearch, UrlModeV2).AddParam(kParamType, kSearchTypeSinging).AddParam(kParamLang, u"en").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=search&type=singing&lang=en"},
      {CUrlBuilder(kBase, kMethodSearch, UrlModeV2).AddParam(kParamType, kSearchTypeGrabbing).AddParam(kParamLang, u"ko").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=search&type=grabbing&lang=ko"},
      {CUrlBuilder(kBase, kMethodSearch, UrlModeV2).AddParam(kParamSearchId, u"s-1001").AddParam(kParamLang, u"pt-BR").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=search&search_id=s-1001&lang=pt-BR"},
      {CUrlBuilder(kBase, kMethodSearch, UrlModeV2).GetUrl(), u"http://127.0.0.1:8080/v2/?method=search"},
      {CUrlBuilder(kBase, kMethodCheckForUpdate, UrlModeV2).GetUrl(), u"http://127.0.0.1:8080/v2/?method=checkForUpdate"},
      {CUrlBuilder(kBase, kMethodGetUserInformation, UrlModeV2).AddParam(kParamUsername, u"alice").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=getUserInformation&username=alice"},
      {CUrlBuilder(kBase, kMethodGetUserPlaylist, UrlModeV2).AddParam(kParamUsername, u"").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=getUserPlaylist&username="},
      {CUrlBuilder(kBase, kMethodGetUserRecordings, UrlModeV2).AddParam(kParamUsername, u"x&method=evil").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=getUserRecordings&username=x%26method%3Devil"},
      {CUrlBuilder(kBase, kMethodGetTrackBuyLinks, UrlModeV2)
           .AddParam(kParamTrackId, u"t1").AddParam(kParamArtistName, u"Simon & Garfunkel").AddParam(kParamTrackName, u"#1 Hit?").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=getTrackBuyLinks&track_id=t1&artist_name=Simon%20%26%20Garfunkel&track_name=%231%20Hit%3F"},
      {CUrlBuilder(kBase, kMethodGetTrackLyricsLink, UrlModeV2).AddParam(kParamTrackId, u"../x").GetUrl(),
       u"http://127.0.0.1:8080/v2/?method=getTrackLyricsLink&track_id=..%2Fx"},
      {CUrlBuilder(kBase, kMethodSearch, UrlModeExternal).GetUrl(), u"http://127.0.0.1:8080/?action=external.main&method=search"},
      {CUrlBuilder(kBase, kMethodSearch, 7).GetUrl(), u"http://127.0.0.1:8080/search"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.url, c.expected);
}

TEST(UrlBuilder, ValuesArePercentEncodedUtf8) {
  const std::pair<plat::WString, plat::WString> cases[] = {
      {u"a b", u"a%20b"},
      {u"&=#+?%/;:", u"%26%3D%23%2B%3F%25%2F%3B%3A"},
      {u"AZaz09-._~", u"AZaz09-._~"},
      {u"\u00E9\u4E2D", u"%C3%A9%E4%B8%AD"},
      {u"\U0001F600", u"%F0%9F%98%80"},
      {plat::WString(1, char16_t(0xD800)), u"%EF%BF%BD"},  // a lone surrogate
      {plat::WString(u"a\0b", 3), u"a%00b"},
      {u"%41", u"%2541"},  // never decoded, never doubled later
  };
  for (const auto& [value, encoded] : cases) {
    EXPECT_EQ(EncodeQueryValue(value), encoded);
    EXPECT_EQ(CUrlBuilder(u"http://h", u"m", UrlModeV2).AddParam(u"k", value).GetUrl(), u"http://h/v2/?method=m&k=" + encoded);
  }
}

TEST(UrlBuilder, OnlySchemeHostAndPortOfTheBaseSurvive) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"http://h:8080/x/y?z", u"http://h:8080/v2/?method=search"},
      {u"http://h:80/x", u"http://h/v2/?method=search"},
      {u"http://user:pw@h:81", u"http://h:81/v2/?method=search"},
      {u"HTTP://Host", u"http://Host/v2/?method=search"},
      {u"https://h", u"https://h/v2/?method=search"},  // refused later, by the request layer
      {u"", u""},
      {u"not a url", u""},
      {u"http:h", u""},
      {u"http://", u""},
      {u"http://h:0", u""},
  };
  for (const auto& [base, expected] : cases) {
    CUrlBuilder builder(base, kMethodSearch, UrlModeV2);
    EXPECT_EQ(builder.GetUrl(), expected) << plat::ToUtf8(base);
    EXPECT_EQ(builder.GetUrl(), expected) << plat::ToUtf8(base);  // again, the same
  }
}

class ServerBase : public ProtocolTest {};

TEST_F(ServerBase, ReadFreshForEveryRequest) {
  EXPECT_EQ(ServerBaseUrl(kSingBaseValue), u"");
  RegSetAppString(kSingBaseValue, u"http://a:1");
  EXPECT_EQ(ServerBaseUrl(kSingBaseValue), u"http://a:1");
  RegSetAppString(kSingBaseValue, u"http://b:2");
  EXPECT_EQ(CUrlBuilder(ServerBaseUrl(kSingBaseValue), kMethodSearch, UrlModeV2).GetUrl(), u"http://b:2/v2/?method=search");
  EXPECT_EQ(ServerBaseUrl(kGrabBaseValue), u"");
  EXPECT_EQ(CUrlBuilder(ServerBaseUrl(kServerBaseValue), kMethodCheckForUpdate, UrlModeV2).GetUrl(), u"");
}

}  // namespace
