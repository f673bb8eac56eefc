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

bool Parse(bool (*parser)(CSearchResults&, const char*, size_t), CSearchResults& model, const std::string& text) {
  return parser(model, text.data(), text.size());
}

std::string Update(const std::string& info) {
  return "<orlamet message_url='http://h/u.cab'><update_information>" + info + "</update_information></orlamet>";
}

class UpdateReply : public ProtocolTest {};

TEST_F(UpdateReply, OfferNoUpdateAndNoUrl) {
  CSearchResults model;
  ASSERT_TRUE(Parse(ParseUpdateReply, model, kUpdateOffer));
  EXPECT_EQ(model.UpdateMessageUrl(), u"http://127.0.0.1:8080/dl/update.cab");
  const plat::WString* texts = model.UpdateMessage()->m_texts;
  EXPECT_EQ(texts[0] + u"|" + texts[1] + u"|" + texts[2] + u"|" + texts[3], u"update|Version 1.7 is available|optional|42");
  EXPECT_EQ(std::make_pair(RegGetAppDword(kMinimumSearchLength), RegGetAppDword(kMaximumSearchLength)), std::make_pair(8u, 20u));
  EXPECT_TRUE(IsAMGEnabled() && !IsVideoEnabled() && IsPreviewEnabled() && IsLyricsEnabled());
  EXPECT_TRUE(RegAppValueExists(u"isLyrics"));

  Restart();
  model.ClearUpdateMessage();
  EXPECT_FALSE(Parse(ParseUpdateReply, model, kNoUpdate));  // its update_information is ignored
  for (const char16_t* name : {u"minimum_search_length", u"maximum_search_length", u"isAMG", u"isVideo", u"isLyrics", u"isPreview"})
    EXPECT_FALSE(RegAppValueExists(name));
  EXPECT_EQ(model.UpdateMessage(), nullptr);

  const std::string noUrl = "<orlamet message_text='x'><update_information><grab maximum_search_length='12'/>"
                            "<previews enabled='0'/></update_information></orlamet>";
  EXPECT_FALSE(Parse(ParseUpdateReply, model, noUrl));  // settings applied all the same
  EXPECT_EQ(RegGetAppDword(kMaximumSearchLength), 12u);
  EXPECT_TRUE(!IsPreviewEnabled() && IsVideoEnabled());
  EXPECT_EQ(model.UpdateMessageUrl() + model.UpdateMessage()->m_texts[1], u"");

  for (const char* error : {kRootError, kElementError,
                            "<orlamet message_type='error' message_url='u'><update_information><videos enabled='0'/>"
                            "</update_information></orlamet>"}) {
    EXPECT_FALSE(Parse(ParseUpdateReply, model, error));
    EXPECT_TRUE(LastServerError.m_bPending);
    EXPECT_TRUE(IsVideoEnabled());
  }
}

TEST_F(UpdateReply, SearchLengthsAreClampedAndNonIntegersWriteNothing) {
  const std::pair<const char*, int64_t> cases[] = {  // -1: nothing written
      {"3", 5}, {"45", 30}, {"5", 5}, {"30", 30}, {"17", 17}, {"-4", 5}, {"12abc", 12},
      {"x", -1}, {"", -1}, {"99999999999", -1}, {"-99999999999", -1}};
  for (const auto& [value, stored] : cases) {
    for (const char* attribute : {"minimum_search_length", "maximum_search_length"}) {
      Restart();
      CSearchResults model;
      EXPECT_TRUE(Parse(ParseUpdateReply, model, Update(std::string("<grab ") + attribute + "='" + value + "'/>")));
      const plat::WString name = plat::Widen(attribute);
      EXPECT_EQ(RegAppValueExists(name), stored >= 0) << attribute << "=" << value;
      EXPECT_EQ(RegGetAppDword(name), stored >= 0 ? stored : 0) << attribute << "=" << value;
    }
  }
}

TEST_F(UpdateReply, SwitchesFollowEnabled) {
  const std::pair<const char*, int> cases[] = {  // 0 off, 1 on, -1 unchanged
      {"enabled='0'", 0}, {"enabled=' 0'", 0}, {"enabled='2'", 1}, {"enabled='-1'", 1},
      {"", -1}, {"enabled='abc'", -1}, {"enabled='4294967296'", -1}};
  const std::pair<const char*, bool (*)()> switches[] = {
      {"license_logo", IsAMGEnabled}, {"videos", IsVideoEnabled}, {"previews", IsPreviewEnabled}, {"lyrics_search", IsLyricsEnabled}};
  for (const auto& [attribute, state] : cases) {
    for (const auto& [element, reader] : switches) {
      Restart();
      CSearchResults model;
      ASSERT_TRUE(Parse(ParseUpdateReply, model, Update(std::string("<") + element + " enabled='0'/>")));
      ASSERT_FALSE(reader());  // from off, "unchanged" and "on" differ
      ASSERT_TRUE(Parse(ParseUpdateReply, model, Update(std::string("<") + element + " " + attribute + "/>")));
      EXPECT_EQ(reader(), state == 1) << element << " " << attribute;
    }
  }
}

class OtherReplies : public ProtocolTest {};

TEST_F(OtherReplies, UserInformation) {
  plat::WString username, image, homepage;
  plat::WString further[5] = {u"a", u"b", u"c", u"d", u"e"};
  ASSERT_TRUE(ParseUserInformation(kUserInformation, username, image, further, homepage));
  EXPECT_EQ(username + u"|" + image + u"|" + homepage, u"alice|http://127.0.0.1:8080/img/alice.png|http://127.0.0.1:8080/u/alice");
  EXPECT_EQ(further[0] + further[1] + further[2] + further[3] + further[4], u"");
  ASSERT_TRUE(ParseUserInformation("<orlamet><user_information username='bob'/></orlamet>", username, image, further, homepage));
  EXPECT_EQ(image, u".png");
  for (const char* missing : {kElementError, "<orlamet><user/></orlamet>"}) {
    EXPECT_FALSE(ParseUserInformation(missing, username, image, further, homepage));
    EXPECT_EQ(username, u"bob");  // outputs kept
    EXPECT_EQ(LastServerError.m_bPending, missing == kElementError);
  }
}

TEST_F(OtherReplies, Videos) {
  CSearchResults model;
  ASSERT_TRUE(Parse(ParseVideos, model, kVideos));
  ASSERT_EQ(model.VideoCount(), 2);
  const CVideoItem& first = model.Videos()[0];
  EXPECT_EQ(model.VideoLink(0), u"http://127.0.0.1:8080/watch/v1");
  EXPECT_EQ(first.m_title + u"|" + first.m_description + u"|" + first.m_created, u"Live|Concert|2009-05-01");
  EXPECT_EQ(std::make_pair(first.m_nViewsCount, first.m_nDuration), std::make_pair(1234, 215));
  EXPECT_FLOAT_EQ(first.m_fRatingAverage, 4.5f);
  ASSERT_EQ(first.m_thumbnails.size(), 2u);
  EXPECT_EQ(first.m_thumbnails[1].m_first + u"|" + first.m_thumbnails[1].m_second, u"t2|00:01:00");
  const CVideoItem& second = model.Videos()[1];
  EXPECT_EQ(second.m_nViewsCount, -3);
  EXPECT_EQ(second.m_fRatingAverage, 0.0f);  // "abc"
  EXPECT_TRUE(second.m_thumbnails.empty());
  EXPECT_EQ(model.VideoLink(2) + model.VideoLink(-1), u"");

  ASSERT_TRUE(Parse(ParseVideos, model, "<orlamet><videos><video rating_average='nan' views_count='99999999999' "
                                        "duration='7s'/><video rating_average='1e999'/><video rating_average='-inf'/>"
                                        "</videos></orlamet>"));
  const std::vector<CVideoItem>& odd = model.Videos();
  EXPECT_EQ(odd[0].m_fRatingAverage, 0.0f);
  EXPECT_EQ(odd[0].m_nViewsCount, 0);
  EXPECT_EQ(odd[0].m_nDuration, 7);
  EXPECT_EQ(odd[1].m_fRatingAverage, FLT_MAX);
  EXPECT_EQ(odd[2].m_fRatingAverage, -FLT_MAX);

  ASSERT_TRUE(Parse(ParseVideos, model, kEmptyVideos));  // no videos is a success here
  EXPECT_EQ(model.VideoCount(), 0);
  EXPECT_EQ(model.VideoLink(0), u"");
}

TEST_F(OtherReplies, BuyLinksAndLyrics) {
  CSearchResults model;
  ASSERT_TRUE(Parse(ParseBuyLinks, model, kBuyLinks));
  ASSERT_EQ(model.BuyLinkCount(), 2);
  EXPECT_EQ(model.BuyLinkUrl(0) + u"|" + model.BuyLinkStoreName(0), u"http://127.0.0.1:8080/buy/t1|Music Store");
  EXPECT_EQ(model.BuyLinks()[0].m_texts[1] + model.BuyLinks()[0].m_texts[2], u"Buy nows1");
  EXPECT_EQ(model.BuyLinkStoreName(1), u"Other Store");
  EXPECT_EQ(model.BuyLinkUrl(2) + model.BuyLinkStoreName(-1), u"");
  EXPECT_TRUE(Parse(ParseBuyLinks, model, "<orlamet><buy_links><buy_link status='not-found'/><buy_link url='u'/></buy_links></orlamet>"));
  EXPECT_EQ(model.BuyLinkCount(), 2);
  EXPECT_FALSE(Parse(ParseBuyLinks, model, kBuyLinkNotFound));
  EXPECT_EQ(model.BuyLinkCount(), 0);
  EXPECT_EQ(model.BuyLinkUrl(0), u"");
  EXPECT_TRUE(Parse(ParseBuyLinks, model, "<orlamet><buy_links/></orlamet>"));

  ASSERT_TRUE(Parse(ParseLyricsLink, model, kLyrics));
  EXPECT_EQ(model.Count(), 1);
  EXPECT_EQ(model.LyricsLinkUrl(0) + model.LyricsLinkUrl(1), u"http://127.0.0.1:8080/lyrics/t1");
  EXPECT_FALSE(Parse(ParseLyricsLink, model, kLyricsNotFound));
  EXPECT_EQ(model.Count(), 0);
  EXPECT_EQ(model.LyricsLinkUrl(0), u"");
  EXPECT_TRUE(Parse(ParseLyricsLink, model, "<orlamet><lyrics_link url='http://h/l' status='maybe'/></orlamet>"));
}

// Every entry point: the name, the parse, a reply it accepts.
struct EntryPoint {
  const char* name;
  std::function<bool(CSearchResults&, const char*, size_t)> parse;
  const char* valid;
};

const EntryPoint kEntryPoints[] = {
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

TEST_F(OtherReplies, NoParserLeavesAnEarlierErrorPending) {
  // Per entry point, replies that carry no error of their own (failures and
  // successes alike), then bodies that are not XML or are refused.
  const std::pair<const char*, std::string> replies[] = {
      {"ParseUpdateReply", kNoUpdate}, {"ParseUpdateReply", "<orlamet><update_information/></orlamet>"},
      {"ParseBuyLinks", kBuyLinkNotFound}, {"ParseLyricsLink", kLyricsNotFound},
      {"ParseVideos", kEmptyVideos}, {"LoadBuffer", kEmptySearch}};
  for (const EntryPoint& entry : kEntryPoints) {
    std::vector<std::string> bodies = {"garbage", DeepNesting(300)};
    for (const auto& [name, text] : replies)
      if (std::strcmp(name, entry.name) == 0) bodies.push_back(text);
    for (const std::string& body : bodies) {
      CSearchResults previous;
      ASSERT_FALSE(previous.LoadText(kRootError));
      ASSERT_TRUE(LastServerError.m_bPending);
      CSearchResults model;
      entry.parse(model, body.data(), body.size());
      EXPECT_FALSE(LastServerError.m_bPending) << entry.name << ": " << body.substr(0, 60);
    }
  }
}

TEST_F(OtherReplies, EveryEntryPointTakesAnyBody) {
  std::string manyTracks = "<orlamet><tracks>";
  for (int i = 0; i < 50000; ++i) manyTracks += "<track/>";
  for (const EntryPoint& entry : kEntryPoints) {
    // Exactly the reply's bytes, with no terminator behind them; never written.
    std::vector<char> exact(entry.valid, entry.valid + std::strlen(entry.valid));
    const std::vector<char> before = exact;
    CSearchResults model;
    EXPECT_TRUE(entry.parse(model, exact.data(), exact.size())) << entry.name;
    EXPECT_EQ(exact, before) << entry.name;
    EXPECT_FALSE(entry.parse(model, exact.data(), exact.size() - 10)) << entry.name;  // the length counts

    std::string huge = entry.valid;
    huge.resize(ReplyXml::kMaxBytes + 1, ' ');
    const std::string bodies[] = {"", "not xml", "<html/>", huge, DeepNesting(100000), manyTracks + "</tracks></orlamet>",
                                  "<orlamet><!--videos--><!--buy_links--><!--lyrics_link--><!--user_information-->"
                                  "<!--tracks-->tracks</orlamet>"};
    for (const std::string& body : bodies) {
      CSearchResults fresh;
      entry.parse(fresh, body.data(), body.size());
      EXPECT_FALSE(LastServerError.m_bPending) << entry.name << ": " << body.substr(0, 60);
    }
    CSearchResults empty;
    EXPECT_FALSE(entry.parse(empty, nullptr, 0)) << entry.name;
    EXPECT_FALSE(entry.parse(empty, nullptr, 32)) << entry.name;
  }
  // A failed search load leaves exactly one empty page.
  CSearchResults model;
  model.PushPage().m_tracks.resize(2);
  EXPECT_FALSE(model.LoadBuffer(nullptr, 0));
  ASSERT_TRUE(model.Page() && !model.Page()->m_pPrevious && model.Page()->m_tracks.empty());
  EXPECT_FALSE(model.LoadText(nullptr));
}

}  // namespace

namespace {

// The reply with `padding` inserted just after its root's start tag.
std::string PaddedReply(const std::string& reply, const std::string& padding) {
  std::string text = reply;
  text.insert(text.find('>', text.find("<orlamet")) + 1, padding);
  return text;
}

// The fewest nodes the markup check allows `text` to hold.
size_t NodesOf(const std::string& text) {
  ReplyXml::Limits limits;
  for (limits.maxNodes = 0; ReplyXml::CheckMarkup(text, limits) != ReplyXml::Verdict::kWithin;) ++limits.maxNodes;
  return limits.maxNodes;
}

std::string Attributes(size_t count) {
  std::string text;
  for (size_t k = 0; k < count; ++k) text += " a" + std::to_string(k) + "=\"x\"";
  return text;
}

// Everything but the newest result page, which a search load replaces.
std::string Snapshot(const CSearchResults& model) {
  const CResultPage* older = model.Page() ? model.Page()->m_pPrevious.get() : nullptr;
  return plat::ToUtf8((older ? older->m_searchId : u"-") + u"|" + model.UpdateMessageUrl() + u"|" +
                      model.VideoLink(0) + u"|" + model.BuyLinkUrl(0) + u"|" + model.LyricsLinkUrl(0));
}

TEST_F(OtherReplies, RepliesBeyondTheMarkupLimitsAreRefusedAndChangeNothing) {
  // A root with 300 000 attributes took TinyXML minutes: each one is
  // compared with all before it.
  const std::string hostile[] = {
      "<?xml version=\"1.0\"?><orlamet " + Attributes(300000) + "/>",
      PaddedReply(kVideos, "<pad" + Attributes(ReplyXml::kMaxAttributes + 1) + "/>"),
      PaddedReply(kVideos, [] {
        std::string many;
        for (size_t k = 0; k <= ReplyXml::kMaxNodes; ++k) many += "<a/>";
        return many;
      }())};
  for (const EntryPoint& entry : kEntryPoints) {
    CSearchResults model;
    ASSERT_TRUE(model.LoadText(kGroupedSearch) && model.LoadText(kFlatSearch));
    ASSERT_TRUE(Parse(ParseUpdateReply, model, kUpdateOffer) && Parse(ParseVideos, model, kVideos) &&
                Parse(ParseBuyLinks, model, kBuyLinks) && Parse(ParseLyricsLink, model, kLyrics));
    const std::string before = Snapshot(model);
    for (const std::string& body : hostile) {
      EXPECT_FALSE(entry.parse(model, body.data(), body.size())) << entry.name;
      EXPECT_FALSE(LastServerError.m_bPending) << entry.name;
      EXPECT_EQ(Snapshot(model), before) << entry.name;
    }
    ASSERT_TRUE(model.Page());
    EXPECT_EQ(model.RecordingCount(), entry.name == std::string("LoadBuffer") ? 0 : 2) << entry.name;
  }
}

TEST_F(OtherReplies, RepliesAtTheMarkupLimitsParse) {
  for (const EntryPoint& entry : kEntryPoints) {
    const std::string wide = PaddedReply(entry.valid, "<pad" + Attributes(ReplyXml::kMaxAttributes) + "/>");
    const size_t nodes = NodesOf(entry.valid);
    ASSERT_LT(nodes, ReplyXml::kMaxNodes);
    std::string comments;
    for (size_t k = nodes; k < ReplyXml::kMaxNodes; ++k) comments += "<!---->";
    const std::string full = PaddedReply(entry.valid, comments);
    for (const std::string& body : {wide, full}) {
      CSearchResults model;
      EXPECT_TRUE(entry.parse(model, body.data(), body.size())) << entry.name;
    }
    const std::string beyond = PaddedReply(full, "<!---->");
    CSearchResults model;
    EXPECT_FALSE(entry.parse(model, beyond.data(), beyond.size())) << entry.name;
  }
}

}  // namespace
