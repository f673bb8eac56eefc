#include "protocol/ReplyParsers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "ReplyDocuments.h"
#include "protocol/ReplyXml.h"
#include "protocol/SearchResults.h"

namespace {

using namespace replydocs;

// Registry values the update reply may write.
const char16_t* const kWritten[] = {u"minimum_search_length", u"maximum_search_length", u"isAMG",
                                    u"isVideo", u"isLyrics", u"isPreview"};

std::string Update(const std::string& info) {
  return "<orlamet message_url='http://h/u.cab'><update_information>" + info + "</update_information></orlamet>";
}

class UpdateReply : public ProtocolTest {};

TEST_F(UpdateReply, OfferStoresTheMessageAndAppliesTheSettings) {
  CSearchResults model;
  ASSERT_TRUE(ParseUpdateReply(model, kUpdateOffer, sizeof kUpdateOffer - 1));
  EXPECT_EQ(model.UpdateMessageUrl(), u"http://127.0.0.1:8080/dl/update.cab");
  const StringRecord5& message = *model.UpdateMessage();
  EXPECT_EQ(message.m_texts[0], u"update");
  EXPECT_EQ(message.m_texts[1], u"Version 1.7 is available");
  EXPECT_EQ(message.m_texts[2], u"optional");
  EXPECT_EQ(message.m_texts[3], u"42");
  EXPECT_EQ(RegGetAppDword(u"minimum_search_length"), 8u);
  EXPECT_EQ(RegGetAppDword(u"maximum_search_length"), 20u);
  EXPECT_EQ(MaxSearchLengthSeconds(), 20);
  EXPECT_TRUE(IsAMGEnabled());
  EXPECT_FALSE(IsVideoEnabled());
  EXPECT_TRUE(IsPreviewEnabled());
  EXPECT_TRUE(IsLyricsEnabled());
  EXPECT_TRUE(RegAppValueExists(u"isLyrics"));
  EXPECT_FALSE(LastServerError.m_bPending);
}

TEST_F(UpdateReply, NoUpdateChangesNothingAndNoUrlStillApplies) {
  CSearchResults model;
  EXPECT_FALSE(ParseUpdateReply(model, kNoUpdate, sizeof kNoUpdate - 1));
  for (const char16_t* name : kWritten) EXPECT_FALSE(RegAppValueExists(name)) << plat::ToUtf8(name);
  EXPECT_EQ(model.UpdateMessage(), nullptr);

  const std::string noUrl = "<orlamet message_text='x'><update_information><grab maximum_search_length='12'/>"
                            "<previews enabled='0'/></update_information></orlamet>";
  EXPECT_FALSE(ParseUpdateReply(model, noUrl.data(), noUrl.size()));
  EXPECT_EQ(RegGetAppDword(u"maximum_search_length"), 12u);
  EXPECT_FALSE(IsPreviewEnabled());
  EXPECT_TRUE(IsVideoEnabled());
  EXPECT_EQ(model.UpdateMessageUrl(), u"");
  EXPECT_EQ(model.UpdateMessage()->m_texts[1], u"");  // nothing read without the URL
}

TEST_F(UpdateReply, SearchLengthsAreClampedAndNonIntegersWriteNothing) {
  struct Case {
    const char* value;
    int64_t stored;  // -1: nothing written
  };
  const Case cases[] = {{"3", 5},  {"45", 30}, {"5", 5},   {"30", 30},  {"17", 17}, {"-4", 5},
                        {"12abc", 12}, {"x", -1}, {"", -1}, {"99999999999", -1}, {"-99999999999", -1}};
  for (const Case& c : cases) {
    Restart();
    for (const char* attribute : {"minimum_search_length", "maximum_search_length"}) {
      CSearchResults model;
      const std::string text = Update(std::string("<grab ") + attribute + "='" + c.value + "'/>");
      EXPECT_TRUE(ParseUpdateReply(model, text.data(), text.size()));
      const plat::WString name = plat::Widen(attribute);
      EXPECT_EQ(RegAppValueExists(name), c.stored >= 0) << attribute << "=" << c.value;
      if (c.stored >= 0) {
        EXPECT_EQ(RegGetAppDword(name), c.stored) << attribute << "=" << c.value;
      }
    }
  }
}

TEST_F(UpdateReply, SwitchesFollowEnabled) {
  struct Case {
    const char* element;  // the switch's element, with or without "enabled"
    int state;            // 0 off, 1 on, -1 unchanged (absent: on)
  };
  const Case cases[] = {{"enabled='0'", 0},  {"enabled='2'", 1},  {"enabled='-1'", 1}, {"", -1},
                        {"enabled='abc'", -1}, {"enabled='4294967296'", -1}, {"enabled=' 0'", 0}};
  const std::pair<const char*, bool (*)()> switches[] = {
      {"license_logo", IsAMGEnabled}, {"videos", IsVideoEnabled}, {"previews", IsPreviewEnabled}, {"lyrics_search", IsLyricsEnabled}};
  for (const Case& c : cases) {
    for (const auto& [element, reader] : switches) {
      Restart();
      CSearchResults model;
      // Start from "off" so that "unchanged" and "on" differ.
      const std::string off = Update(std::string("<") + element + " enabled='0'/>");
      ASSERT_TRUE(ParseUpdateReply(model, off.data(), off.size()));
      ASSERT_FALSE(reader());
      const std::string text = Update(std::string("<") + element + " " + c.element + "/>");
      ASSERT_TRUE(ParseUpdateReply(model, text.data(), text.size()));
      EXPECT_EQ(reader(), c.state == 1) << element << " " << c.element;
    }
  }
}

TEST_F(UpdateReply, ErrorRepliesArePendingAndChangeNothing) {
  for (const char* text : {kRootError, kElementError}) {
    CSearchResults model;
    const std::string reply = std::string(text);
    EXPECT_FALSE(ParseUpdateReply(model, reply.data(), reply.size()));
    EXPECT_TRUE(LastServerError.m_bPending);
    EXPECT_EQ(model.UpdateMessage(), nullptr);
  }
  const std::string withSettings = "<orlamet message_type='error' message_url='u'><update_information><videos enabled='0'/></update_information></orlamet>";
  CSearchResults model;
  EXPECT_FALSE(ParseUpdateReply(model, withSettings.data(), withSettings.size()));
  EXPECT_TRUE(IsVideoEnabled());
}

class OtherReplies : public ProtocolTest {};

TEST_F(OtherReplies, UserInformation) {
  plat::WString username, image, homepage;
  plat::WString further[5] = {u"a", u"b", u"c", u"d", u"e"};
  ASSERT_TRUE(ParseUserInformation(kUserInformation, username, image, further, homepage));
  EXPECT_EQ(username, u"alice");
  EXPECT_EQ(image, u"http://127.0.0.1:8080/img/alice.png");
  EXPECT_EQ(homepage, u"http://127.0.0.1:8080/u/alice");
  for (const plat::WString& other : further) EXPECT_EQ(other, u"");

  const std::string noImage = "<orlamet><user_information username='bob'/></orlamet>";
  ASSERT_TRUE(ParseUserInformation(noImage.data(), noImage.size(), username, image, further, homepage));
  EXPECT_EQ(image, u".png");
  EXPECT_EQ(homepage, u"");

  // Without the element: the reply's error, if any; the outputs stay.
  const std::string missing[] = {kElementError, "<orlamet><user/></orlamet>"};
  for (const std::string& text : missing) {
    username = u"kept";
    EXPECT_FALSE(ParseUserInformation(text.c_str(), username, image, further, homepage));
    EXPECT_EQ(username, u"kept");
    EXPECT_EQ(LastServerError.m_bPending, text == kElementError);
  }
}

TEST_F(OtherReplies, Videos) {
  CSearchResults model;
  ASSERT_TRUE(ParseVideos(model, kVideos, sizeof kVideos - 1));
  ASSERT_EQ(model.VideoCount(), 2);
  const CVideoItem& first = model.Videos()[0];
  EXPECT_EQ(model.VideoLink(0), u"http://127.0.0.1:8080/watch/v1");
  EXPECT_EQ(first.m_title, u"Live");
  EXPECT_EQ(first.m_description, u"Concert");
  EXPECT_EQ(first.m_created, u"2009-05-01");
  EXPECT_EQ(first.m_nViewsCount, 1234);
  EXPECT_FLOAT_EQ(first.m_fRatingAverage, 4.5f);
  EXPECT_EQ(first.m_nDuration, 215);
  ASSERT_EQ(first.m_thumbnails.size(), 2u);
  EXPECT_EQ(first.m_thumbnails[1].m_first, u"t2");
  EXPECT_EQ(first.m_thumbnails[1].m_second, u"00:01:00");
  const CVideoItem& second = model.Videos()[1];
  EXPECT_EQ(second.m_nViewsCount, -3);
  EXPECT_EQ(second.m_fRatingAverage, 0.0f);
  EXPECT_EQ(second.m_nDuration, 0);
  EXPECT_TRUE(second.m_thumbnails.empty());
  EXPECT_EQ(model.VideoLink(2), u"");

  // A new reply replaces the videos; an empty list is a success.
  ASSERT_TRUE(ParseVideos(model, kEmptyVideos, sizeof kEmptyVideos - 1));
  EXPECT_EQ(model.VideoCount(), 0);
  EXPECT_EQ(model.VideoLink(0), u"");

  const std::string odd = "<orlamet><videos><video rating_average='nan' views_count='99999999999' duration='7s'/>"
                          "<video rating_average='1e999'/></videos></orlamet>";
  ASSERT_TRUE(ParseVideos(model, odd.data(), odd.size()));
  EXPECT_EQ(model.Videos()[0].m_fRatingAverage, 0.0f);
  EXPECT_EQ(model.Videos()[0].m_nViewsCount, 0);
  EXPECT_EQ(model.Videos()[0].m_nDuration, 7);
  EXPECT_EQ(model.Videos()[1].m_fRatingAverage, FLT_MAX);
  model.ClearVideos();
  EXPECT_EQ(model.VideoCount(), 0);
  EXPECT_TRUE(model.Videos().empty());
}

TEST_F(OtherReplies, BuyLinks) {
  CSearchResults model;
  ASSERT_TRUE(ParseBuyLinks(model, kBuyLinks, sizeof kBuyLinks - 1));
  ASSERT_EQ(model.BuyLinkCount(), 2);
  EXPECT_EQ(model.BuyLinkUrl(0), u"http://127.0.0.1:8080/buy/t1");
  EXPECT_EQ(model.BuyLinkStoreName(0), u"Music Store");
  EXPECT_EQ(model.BuyLinks()[0].m_texts[1], u"Buy now");
  EXPECT_EQ(model.BuyLinks()[0].m_texts[2], u"s1");
  EXPECT_EQ(model.BuyLinkStoreName(1), u"Other Store");
  EXPECT_EQ(model.BuyLinkUrl(2), u"");
  EXPECT_EQ(model.BuyLinkUrl(-1), u"");

  const std::string firstNotFound = "<orlamet><buy_links><buy_link status='not-found'/><buy_link url='u' status='found'/></buy_links></orlamet>";
  EXPECT_TRUE(ParseBuyLinks(model, firstNotFound.data(), firstNotFound.size()));
  EXPECT_EQ(model.BuyLinkCount(), 2);

  EXPECT_FALSE(ParseBuyLinks(model, kBuyLinkNotFound, sizeof kBuyLinkNotFound - 1));
  EXPECT_EQ(model.BuyLinkCount(), 0);
  EXPECT_EQ(model.BuyLinkUrl(0), u"");

  const std::string none = "<orlamet><buy_links/></orlamet>";
  EXPECT_TRUE(ParseBuyLinks(model, none.data(), none.size()));
  EXPECT_EQ(model.BuyLinkCount(), 0);
}

TEST_F(OtherReplies, LyricsLink) {
  CSearchResults model;
  ASSERT_TRUE(ParseLyricsLink(model, kLyrics, sizeof kLyrics - 1));
  EXPECT_EQ(model.Count(), 1);
  EXPECT_EQ(model.LyricsLinkUrl(0), u"http://127.0.0.1:8080/lyrics/t1");
  EXPECT_EQ(model.LyricsLinkUrl(1), u"");

  EXPECT_FALSE(ParseLyricsLink(model, kLyricsNotFound, sizeof kLyricsNotFound - 1));
  EXPECT_EQ(model.Count(), 0);
  EXPECT_EQ(model.LyricsLinkUrl(0), u"");

  const std::string other = "<orlamet><lyrics_link url='http://h/l' status='maybe'/></orlamet>";
  EXPECT_TRUE(ParseLyricsLink(model, other.data(), other.size()));
  EXPECT_EQ(model.Count(), 1);
}

// Every entry point, over one body.
struct EntryPoint {
  const char* name;
  std::function<bool(CSearchResults&, const char*, size_t)> parse;
  const char* valid;  // a reply it accepts
};

std::vector<EntryPoint> EntryPoints() {
  return {
      {"LoadBuffer", [](CSearchResults& m, const char* t, size_t n) { return m.LoadBuffer(t, n); }, kFlatSearch},
      {"ParseUpdateReply", ParseUpdateReply, kUpdateOffer},
      {"ParseUserInformation",
       [](CSearchResults&, const char* t, size_t n) {
         plat::WString u, i, h, f[5];
         return ParseUserInformation(t, n, u, i, f, h);
       },
       kUserInformation},
      {"ParseVideos", ParseVideos, kVideos},
      {"ParseBuyLinks", ParseBuyLinks, kBuyLinks},
      {"ParseLyricsLink", ParseLyricsLink, kLyrics},
  };
}

void LeaveErrorPending() {
  CSearchResults model;
  ASSERT_FALSE(model.LoadText(kRootError));
  ASSERT_TRUE(LastServerError.m_bPending);
}

TEST_F(OtherReplies, NoParserLeavesAnEarlierErrorPending) {
  // The failure (or success) paths that read no error of their own.
  const std::pair<const char*, const char*> sequences[] = {
      {"ParseUpdateReply", kNoUpdate},
      {"ParseUpdateReply", "<orlamet><update_information/></orlamet>"},
      {"ParseBuyLinks", kBuyLinkNotFound},
      {"ParseLyricsLink", kLyricsNotFound},
      {"ParseVideos", kEmptyVideos},
      {"LoadBuffer", kEmptySearch},
  };
  for (const EntryPoint& entry : EntryPoints()) {
    for (const auto& [name, text] : sequences) {
      if (std::string(name) != entry.name) continue;
      LeaveErrorPending();
      CSearchResults model;
      entry.parse(model, text, std::strlen(text));
      EXPECT_FALSE(LastServerError.m_bPending) << name << ": " << text;
    }
    // Any body that is not XML, or refused.
    for (const std::string& text : {std::string("garbage"), DeepNesting(300)}) {
      LeaveErrorPending();
      CSearchResults model;
      EXPECT_FALSE(entry.parse(model, text.data(), text.size())) << entry.name;
      EXPECT_FALSE(LastServerError.m_bPending) << entry.name;
    }
  }
}

TEST_F(OtherReplies, EveryEntryPointTakesAnyBody) {
  for (const EntryPoint& entry : EntryPoints()) {
    CSearchResults model;
    EXPECT_FALSE(entry.parse(model, nullptr, 0)) << entry.name;
    EXPECT_FALSE(entry.parse(model, nullptr, 32)) << entry.name;
    EXPECT_FALSE(entry.parse(model, "", 0)) << entry.name;
    EXPECT_FALSE(LastServerError.m_bPending) << entry.name;

    // Exactly the reply's bytes, with no terminator behind them; never written.
    const std::string text = entry.valid;
    std::vector<char> exact(text.begin(), text.end());
    const std::vector<char> before = exact;
    EXPECT_TRUE(entry.parse(model, exact.data(), exact.size())) << entry.name;
    EXPECT_EQ(exact, before) << entry.name;

    // Hostile shapes: deep, huge, comments named like the expected element.
    std::string huge = text;
    huge.resize(ReplyXml::kMaxBytes + 1, ' ');
    for (const std::string& hostile : {DeepNesting(100000), huge,
                                       std::string("<orlamet><!--videos--><!--buy_links--><!--lyrics_link-->"
                                                   "<!--user_information--><!--tracks-->tracks</orlamet>")}) {
      CSearchResults fresh;
      entry.parse(fresh, hostile.data(), hostile.size());
      EXPECT_FALSE(LastServerError.m_bPending) << entry.name;
    }
  }
}

}  // namespace
