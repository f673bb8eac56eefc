// The catalogue and the self-check. Documents are read back with TinyXML,
// the parser the client uses, not with the server's own checker.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <functional>
#include <regex>
#include <set>

#include "tools/protocol-server/SelfCheck.h"
#include "tools/protocol-server/Speex.h"
#include "tools/protocol-server/TestSupport.h"

using namespace qpstest;

namespace {

void ForEachElement(const TiXmlElement* e, const std::function<void(const TiXmlElement*)>& f) {
  for (; e; e = e->NextSiblingElement()) {
    f(e);
    ForEachElement(e->FirstChildElement(), f);
  }
}

std::vector<std::string> AttributesNamed(const std::string& doc, const std::set<std::string>& names) {
  TiXmlDocument x;
  x.Parse(doc.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  std::vector<std::string> values;
  ForEachElement(x.RootElement(), [&](const TiXmlElement* e) {
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
      if (names.count(a->Name()) && a->ValueStr() != "") values.push_back(a->ValueStr());
  });
  return values;
}

std::string PathOf(const std::string& url, const std::string& base) {
  return url.rfind(base, 0) == 0 ? url.substr(base.size()) : url;
}

}  // namespace

TEST(Catalogue, EveryCannedDocumentParsesAndKeepsItsNames) {
  for (const char* name : {"default", "edge"}) {
    qps::Catalogue c = *qps::Catalogue::ByName(name);
    for (const auto& [what, doc] : qps::CannedDocuments(c, "http://127.0.0.1:9", {})) {
      TiXmlDocument x;
      x.Parse(doc.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
      ASSERT_FALSE(x.Error()) << name << " " << what << ": " << x.ErrorDesc();
      ASSERT_STREQ(x.RootElement()->Value(), "orlamet") << what;
      // Every search-format track carries what the client's search parse needs.
      ForEachElement(x.RootElement(), [&](const TiXmlElement* e) {
        if (std::string(e->Value()) != "track") return;
        const TiXmlElement* artists = e->FirstChildElement("artists");
        ASSERT_TRUE(artists && artists->FirstChildElement("artist")) << what;
        const TiXmlElement* rec = e->FirstChildElement("recordings");
        ASSERT_TRUE(rec && rec->FirstChildElement("recording")) << what;
        const TiXmlElement* users = rec->FirstChildElement("recording")->FirstChildElement("users");
        ASSERT_TRUE(users && users->FirstChildElement("user")) << what;
        const qps::Track* t = c.FindTrack(e->Attribute("track_id"));
        ASSERT_NE(t, nullptr) << what;
        std::string shown = e->Attribute("track_name");
        EXPECT_EQ(shown.substr(0, t->name.size()), t->name) << what << ": escaping round trip";
      });
    }
  }
}

TEST(Catalogue, ContentsTheClientScreensNeed) {
  qps::Catalogue c = qps::Catalogue::Default();
  ASSERT_EQ(c.tracks.size(), 6u);
  ASSERT_EQ(c.artists.size(), 4u);
  ASSERT_EQ(c.users.size(), 5u);
  std::vector<double> signatures;
  std::string allNames;
  for (const qps::Track& t : c.tracks) {
    signatures.push_back(t.frequency);
    allNames += t.name + t.albumName;
    EXPECT_TRUE(std::regex_match(t.id, std::regex("[a-z0-9]{1,8}"))) << t.id;
    EXPECT_TRUE(std::regex_match(t.recordings[0].id, std::regex("[a-z0-9]{1,8}")));
  }
  for (const qps::Artist& a : c.artists) allNames += a.name;
  EXPECT_EQ(signatures, (std::vector<double>{262, 330, 392, 440, 523, 659}));
  for (const char* needed : {"&", "<", ">", "\"", "\xC3"}) EXPECT_NE(allNames.find(needed), std::string::npos) << needed;

  EXPECT_FALSE(c.tracks[0].videos.empty());
  EXPECT_FALSE(c.tracks[1].videos.empty());
  EXPECT_EQ(c.tracks[2].videoPath, "");
  EXPECT_EQ(c.tracks[0].buyLinks.size(), 2u);
  ASSERT_EQ(c.tracks[1].buyLinks.size(), 1u);
  EXPECT_EQ(c.tracks[1].buyLinks[0].status, "not-found");
  ASSERT_EQ(c.tracks[3].buyLinks.size(), 2u);
  EXPECT_EQ(c.tracks[3].buyLinks[0].status, "not-found");
  EXPECT_EQ(c.tracks[0].lyricsStatus, "found");
  EXPECT_EQ(c.tracks[1].lyricsStatus, "not-found");

  EXPECT_NE(c.FindUser("zoë"), nullptr);
  EXPECT_FALSE(c.FindUser("nopic")->image.has_value());
  EXPECT_TRUE(c.FindUser("empty")->playlist.empty());
  const qps::User* collector = c.FindUser("collector");
  ASSERT_EQ(collector->playlist.size(), 20u);
  for (const qps::ListEntry& e : collector->playlist) EXPECT_NE(e.recording.user, "collector");
  for (const qps::User& u : c.users)
    for (const qps::ListEntry& e : u.recordings) EXPECT_EQ(e.recording.user, u.name);

  std::set<qps::PngKind> kinds;
  for (const auto& [name, pictureSpec] : c.pictures) {
    kinds.insert(pictureSpec.kind);
    bool user = c.FindUser(name) || name == "zoe";
    EXPECT_EQ(pictureSpec.width, 200) << name;
    EXPECT_EQ(pictureSpec.height, user ? 100 : 200) << name;
  }
  EXPECT_EQ(kinds.size(), 5u) << "RGB, RGBA, palette with tRNS, grey and interlaced";
}

TEST(Catalogue, RankingFollowsThePitchAndTheLayoutsSpreadTheTracks) {
  qps::Catalogue c = qps::Catalogue::Default();
  EXPECT_EQ(qps::RankTracks(c, 0), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(qps::RankTracks(c, 650), (std::vector<int>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(qps::RankTracks(c, 400)[0], 2);
  qps::ResultSet sing = qps::MakeSearchResults(c, qps::RankTracks(c, 330), false, "s-1");
  EXPECT_EQ(sing.entries.size(), 3u);
  EXPECT_EQ(sing.entries[0].track, 1);
  qps::ResultSet grab = qps::MakeSearchResults(c, qps::RankTracks(c, 0), true, "s-2");
  qps::ContentFaults none;
  std::string doc = qps::SearchDocument({c, "http://h", none}, grab);
  EXPECT_NE(doc.find("total_records=\"0\" records_start=\"1\" records_end=\"4\""), std::string::npos);
  // Two track-name groups; the first holds two artist groups.
  TiXmlDocument x;
  x.Parse(doc.c_str());
  const TiXmlElement* group = x.RootElement()->FirstChildElement("tracks_grouped")->FirstChildElement("track_name_group");
  int artistGroups = 0;
  for (const TiXmlElement* g = group->FirstChildElement(); g; g = g->NextSiblingElement()) ++artistGroups;
  EXPECT_EQ(artistGroups, 2);
  EXPECT_NE(group->NextSiblingElement("track_name_group"), nullptr);
  std::vector<std::string> order;
  ForEachElement(x.RootElement(), [&](const TiXmlElement* e) {
    if (std::string(e->Value()) == "track") order.push_back(e->Attribute("track_id"));
  });
  EXPECT_EQ(order, (std::vector<std::string>{"t1", "t2", "t3", "t4"})) << "document order is rank order";
}

TEST(Catalogue, EveryImageAndPreviewUrlIsServed) {
  for (const char* name : {"default", "edge"}) {
    qps::Options o = TestOptions();
    o.catalogue = name;
    o.previewSeconds = 0.5;  // the edge catalogue dribbles one preview
    ServerHarness server(o);
    qps::Catalogue c = *qps::Catalogue::ByName(name);
    std::set<std::string> images, previews;
    for (const auto& [what, doc] : qps::CannedDocuments(c, server.Base(), {})) {
      for (const std::string& url : AttributesNamed(doc, {"album_primary_image", "artist_primary_image",
                                                          "user_primary_image", "url"}))
        if (url.find("/img/") != std::string::npos) images.insert(url);
      for (const std::string& url : AttributesNamed(doc, {"audio_preview_url", "full_url", "matched_url"}))
        previews.insert(url);
    }
    ASSERT_GE(images.size(), 10u);
    for (const std::string& url : images) {
      std::string png = qps::PngNameOf(url);  // the client's rule
      ClientRequest r;
      r.target = PathOf(png, server.Base());
      r.port = server.Port();
      Response reply = ParseResponse(Fetch(server.Port(), r.Bytes()));
      ASSERT_EQ(reply.status, 200) << url;
      EXPECT_EQ(reply.Header("Content-Type"), "image/png");
      if (url.find("/f/") == std::string::npos) {
        EXPECT_EQ(qps::DecodePng(reply.body).error, "") << url;
      }
    }
    for (const std::string& url : previews) {
      ClientRequest r;
      r.target = PathOf(url, server.Base());
      r.port = server.Port();
      Response reply = ParseResponse(Fetch(server.Port(), r.Bytes()));
      if (url.find("/f/status~404/") != std::string::npos) {
        EXPECT_EQ(reply.status, 404);
        continue;
      }
      ASSERT_EQ(reply.status, 200) << url;
      EXPECT_GT(std::stoul(reply.Header("Content-Length")), 0u) << url;
    }
    for (const std::string& entry : server.Log()) EXPECT_EQ(JsonField(entry, "violations"), "[]") << entry;
  }
}

TEST(Catalogue, EachPreviewKindPlaysItsOwnTone) {
  qps::Catalogue c = qps::Catalogue::Default();
  const qps::Track& t1 = c.tracks[0];
  struct Case {
    qps::PreviewKind kind;
    double expected;
  };
  for (const Case& k : {Case{qps::PreviewKind::Track, 262}, Case{qps::PreviewKind::Full, 131},
                        Case{qps::PreviewKind::Matched, 393}}) {
    qps::Mp3Decoded d = qps::DecodeMp3(qps::MakeMp3(t1.format, qps::PreviewFrequency(t1.frequency, k.kind), 1));
    ASSERT_EQ(d.error, "");
    EXPECT_NEAR(qps::DominantFrequency(d.pcm, d.sampleRate, 60, 2000), k.expected, 5);
  }
}

TEST(SelfCheck, PassesForBothCataloguesAndBrokenMediaFailIt) {
  for (const char* name : {"default", "edge"}) {
    auto items = qps::CollectSelfCheckItems(*qps::Catalogue::ByName(name), "http://127.0.0.1:1", 0.5, {});
    qps::SelfCheckResult ok = qps::RunSelfCheck(items);
    EXPECT_TRUE(ok.Ok()) << name << ": " << (ok.failures.empty() ? "" : ok.failures.front());
    EXPECT_GT(ok.mp3s, 0);
    EXPECT_GT(ok.pngs, 0);
    EXPECT_GT(ok.documents, 0);
  }
  auto items = qps::CollectSelfCheckItems(qps::Catalogue::Default(), "http://127.0.0.1:1", 0.5, {});
  auto find = [&](qps::SelfCheckItem::Kind kind, size_t skip = 0) -> qps::SelfCheckItem& {
    for (qps::SelfCheckItem& item : items)
      if (item.kind == kind && skip-- == 0) return item;
    throw std::runtime_error("no such item");
  };
  struct Breakage {
    const char* what;
    std::function<void()> apply;
  };
  std::vector<qps::SelfCheckItem> pristine = items;
  const Breakage breakages[] = {
      {"garbage inside an MP3", [&] { find(qps::SelfCheckItem::Kind::Mp3).bytes.replace(2000, 600, std::string(600, '\x55')); }},
      {"an ID3 tag before an MP3", [&] { auto& i = find(qps::SelfCheckItem::Kind::Mp3); i.bytes = qps::WithId3Tag(i.bytes); }},
      {"another kind's tone", [&] { find(qps::SelfCheckItem::Kind::Mp3).bytes = find(qps::SelfCheckItem::Kind::Mp3, 1).bytes; }},
      {"a cut PNG", [&] { auto& i = find(qps::SelfCheckItem::Kind::Png); i.bytes.resize(i.bytes.size() - 30); }},
      {"a PNG of the wrong size", [&] { find(qps::SelfCheckItem::Kind::Png).bytes = qps::MakePng({20, 20}); }},
      {"a document with a comment", [&] { find(qps::SelfCheckItem::Kind::Xml).bytes.insert(45, "<!--x-->"); }},
  };
  for (const Breakage& b : breakages) {
    items = pristine;
    b.apply();
    qps::SelfCheckResult r = qps::RunSelfCheck(items);
    EXPECT_EQ(r.failures.size(), 1u) << b.what;
  }
}
