#include "protocol/ReplyParsers.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>

#include "framework/AppRegistry.h"
#include "protocol/AppSettings.h"
#include "protocol/ReplyXml.h"
#include "protocol/SearchResults.h"
#include "protocol/ServerError.h"

namespace {

constexpr char16_t kNotFound[] = u"not-found";

// The common start: the document's root, or null when the parser must return
// false. A body that does not parse empties LastServerError (it was reset on
// entry already); a reply without `expected` below its root (or, with
// bErrorTest, an error reply) fills it from the reply.
const TiXmlElement* ParseExpecting(TiXmlDocument& doc, const char* text, size_t length,
                                   const char* expected, bool bErrorTest) {
  LastServerError.Reset();
  if (!ReplyXml::Parse(doc, text, length)) return nullptr;
  const TiXmlElement* root = ReplyXml::Root(doc);
  if ((bErrorTest && IsErrorReply(doc)) || (expected && !ReplyXml::Child(root, expected))) {
    ParseServerError(doc);
    return nullptr;
  }
  return root;
}

void WriteSearchLength(const TiXmlElement* grab, const char* attribute, plat::WStringView name) {
  int32_t seconds = 0;
  if (!ReplyXml::Int(grab, attribute, seconds)) return;
  RegSetAppDword(name, static_cast<uint32_t>(std::clamp(seconds, kShortestSearchSeconds, kLongestSearchSeconds)));
}

void ApplySwitch(const TiXmlElement* info, const char* element, void (*setter)(bool)) {
  int32_t enabled = 0;
  if (ReplyXml::Int(ReplyXml::Child(info, element), "enabled", enabled)) setter(enabled != 0);
}

}  // namespace

bool ParseUpdateReply(CSearchResults& model, const char* text, size_t length) {
  TiXmlDocument doc;
  const TiXmlElement* root = ParseExpecting(doc, text, length, nullptr, true);
  if (!root || ReplyXml::Child(root, "no-update")) return false;

  model.m_updateMessage = std::make_unique<StringRecord5>();
  const bool bOffer = root->Attribute("message_url") != nullptr;
  if (bOffer) {
    plat::WString* texts = model.m_updateMessage->m_texts;
    texts[4] = ReplyXml::Text(root, "message_url");
    texts[0] = ReplyXml::Text(root, "message_type");
    texts[1] = ReplyXml::Text(root, "message_text");
    texts[2] = ReplyXml::Text(root, "message_persistence");
    texts[3] = ReplyXml::Text(root, "message_id");
  }
  if (const TiXmlElement* info = ReplyXml::Child(root, "update_information")) {
    const TiXmlElement* grab = ReplyXml::Child(info, "grab");
    WriteSearchLength(grab, "minimum_search_length", kMinimumSearchLength);
    WriteSearchLength(grab, "maximum_search_length", kMaximumSearchLength);
    ApplySwitch(info, "license_logo", SetAMGEnabled);
    ApplySwitch(info, "videos", SetVideoEnabled);
    ApplySwitch(info, "previews", SetPreviewEnabled);
    ApplySwitch(info, "lyrics_search", SetLyricsEnabled);
  }
  return bOffer;
}

bool ParseUserInformation(const char* text, size_t length, plat::WString& username,
                          plat::WString& image, plat::WString (&further)[5], plat::WString& homepage) {
  TiXmlDocument doc;
  const TiXmlElement* info = ReplyXml::Child(ParseExpecting(doc, text, length, "user_information", false),
                                             "user_information");
  if (!info) return false;
  username = ReplyXml::Text(info, "username");
  homepage = ReplyXml::Text(info, "homepage_url");
  image = PngImageName(ReplyXml::Text(info, "user_primary_image"));
  for (plat::WString& other : further) other.clear();
  return true;
}

bool ParseUserInformation(const char* text, plat::WString& username, plat::WString& image,
                          plat::WString (&further)[5], plat::WString& homepage) {
  return ParseUserInformation(text, text ? std::strlen(text) : 0, username, image, further, homepage);
}

bool ParseVideos(CSearchResults& model, const char* text, size_t length) {
  TiXmlDocument doc;
  const TiXmlElement* videos = ReplyXml::Child(ParseExpecting(doc, text, length, "videos", false), "videos");
  if (!videos) return false;
  model.ClearVideos();
  for (const TiXmlElement* video = ReplyXml::Child(videos, "video"); video;
       video = ReplyXml::Next(video, "video")) {
    CVideoItem& item = model.m_videos.emplace_back();
    item.m_video = ReplyXml::Text(video, "video");
    item.m_title = ReplyXml::Text(video, "title");
    item.m_description = ReplyXml::Text(video, "description");
    item.m_created = ReplyXml::Text(video, "created");
    ReplyXml::Int(video, "views_count", item.m_nViewsCount);
    item.m_fRatingAverage = ReplyXml::Real(video, "rating_average");
    ReplyXml::Int(video, "duration", item.m_nDuration);
    const TiXmlElement* thumbnails = ReplyXml::Child(video, "thumbnails");
    for (const TiXmlElement* thumbnail = ReplyXml::Child(thumbnails, "thumbnail"); thumbnail;
         thumbnail = ReplyXml::Next(thumbnail, "thumbnail"))
      item.m_thumbnails.push_back({ReplyXml::Text(thumbnail, "url"), ReplyXml::Text(thumbnail, "time")});
  }
  model.m_videoCount = static_cast<int32_t>(model.m_videos.size());
  return true;
}

bool ParseBuyLinks(CSearchResults& model, const char* text, size_t length) {
  TiXmlDocument doc;
  const TiXmlElement* links = ReplyXml::Child(ParseExpecting(doc, text, length, "buy_links", false), "buy_links");
  if (!links) return false;
  model.ClearBuyLinks();
  for (const TiXmlElement* link = ReplyXml::Child(links, "buy_link"); link;
       link = ReplyXml::Next(link, "buy_link")) {
    plat::WString* texts = model.m_buyLinks.emplace_back().m_texts;
    texts[0] = ReplyXml::Text(link, "url");
    texts[1] = ReplyXml::Text(link, "url_title");
    texts[2] = ReplyXml::Text(link, "store");
    texts[3] = ReplyXml::Text(link, "store_name");
    texts[4] = ReplyXml::Text(link, "status");
  }
  model.m_buyLinkCount = static_cast<int32_t>(model.m_buyLinks.size());
  if (model.m_buyLinkCount == 1 && model.m_buyLinks[0].m_texts[4] == kNotFound) {
    model.ClearBuyLinks();
    return false;
  }
  return true;
}

bool ParseLyricsLink(CSearchResults& model, const char* text, size_t length) {
  TiXmlDocument doc;
  const TiXmlElement* link = ReplyXml::Child(ParseExpecting(doc, text, length, "lyrics_link", false), "lyrics_link");
  if (!link) return false;
  model.ClearLyricsLinks();
  model.m_lyricsLinks.push_back({ReplyXml::Text(link, "url"), ReplyXml::Text(link, "status")});
  model.m_lyricsLinkCount = 1;
  if (model.m_lyricsLinks[0].m_second == kNotFound) {
    model.ClearLyricsLinks();
    return false;
  }
  return true;
}
