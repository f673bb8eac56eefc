#include "tools/protocol-server/Documents.h"

#include <algorithm>
#include <cmath>

#include "tools/protocol-server/Util.h"
#include "tools/protocol-server/Xml.h"

namespace qps {

std::string DocContext::Url(const std::string& path) const {
  if (path.empty() || path[0] != '/') return path;
  return base + path;
}

namespace {

const char* kOverflow = "99999999999";

void WriteTrack(XmlWriter& w, const DocContext& ctx, const ResultEntry& entry, const std::string& suffix,
                bool withRecordings, bool first = false) {
  const Catalogue& c = ctx.catalogue;
  const Track& t = c.tracks[entry.track];
  std::string video = t.videoPath.empty() ? "" : ctx.Url(t.videoPath);
  if (t.videoHttps && StartsWith(video, "http://")) video = "https://" + video.substr(7);
  w.Open("track")
      .Attr("track_id", t.id)
      .Attr("album_id", t.albumId)
      .Attr("track_name", t.name + suffix)
      .Attr("album_name", t.albumName)
      .Attr("audio_preview_url", ctx.Url(t.previewPath))
      .Attr("video_url", video)
      .Attr("album_primary_image", ctx.Url(t.albumImage));
  if (!ctx.faults.noArtists) {
    w.Open("artists");
    for (int a : t.artists) {
      const Artist& artist = c.artists[a];
      w.Open("artist")
          .Attr("artist_id", artist.id)
          .Attr("artist_name", artist.name)
          .Attr("artist_primary_image", ctx.Url(artist.image))
          .Close();
    }
    w.Close();
  }
  if (withRecordings) {
    std::vector<Recording> recordings = entry.recordings;
    if (ctx.faults.twoRecordings && recordings.size() < 2) recordings.push_back(t.spare);
    w.Open("recordings");
    for (const Recording& r : recordings) {
      const std::string full = ctx.faults.fileFullUrl && first ? "file:///recordings/" + r.id + ".mp3"
                                                                : ctx.Url(PreviewPath(PreviewKind::Full, r.id));
      w.Open("recording")
          .Attr("recording_id", r.id)
          .Attr("full_url", full)
          .Attr("matched_url", ctx.Url(PreviewPath(PreviewKind::Matched, r.id)));
      w.Open("users").Open("user").Attr("username", r.user);
      const User* u = c.FindUser(r.user);
      if (u && u->image) w.Attr("user_primary_image", ctx.Url(*u->image));
      w.Close().Close();
      w.Close();
    }
    w.Close();
  }
  w.Close();
}

}  // namespace

std::string SearchDocument(const DocContext& ctx, const ResultSet& set) {
  const ContentFaults& f = ctx.faults;
  XmlWriter w;
  w.Open("orlamet");
  if (!set.searchId.empty()) w.Attr("search_id", set.searchId);
  // A count as written, or -1 under negative-count.
  auto count = [&](long long value) { return f.negativeCount ? -1 : value; };
  if (f.single) {
    // One track without recordings: the client reads only the first.
    if (f.intOverflow) w.Attr("total_records", kOverflow); else w.Attr("total_records", count(1));
    if (!set.entries.empty()) {
      w.Open("tracks");
      WriteTrack(w, ctx, set.entries[0], set.nameSuffix, false);
      w.Close();
    }
    return w.Finish();
  }
  if (f.empty || set.entries.empty()) {
    w.Attr("total_records", count(0)).Attr("records_start", count(1)).Attr("records_end", count(0));
    return w.Finish();
  }
  const long long tracks = static_cast<long long>(set.entries.size());
  if (f.intOverflow) w.Attr("total_records", kOverflow);
  else w.Attr("total_records", count(set.countAsZero ? 0 : tracks));
  w.Attr("records_start", count(1)).Attr("records_end", count(tracks));
  Layout layout = f.layout.value_or(set.layout);
  if (layout == Layout::Flat) {
    w.Open("tracks");
    for (const ResultEntry& e : set.entries) WriteTrack(w, ctx, e, set.nameSuffix, true, &e == &set.entries[0]);
    w.Close();
    return w.Finish();
  }
  // Grouped: the first half in one track-name group split over two artist
  // groups, the rest in a second track-name group, so a reader has to walk
  // both to the next artist group and to the next track-name group.
  const size_t firstHalf = (set.entries.size() + 1) / 2;
  w.Open("tracks_grouped");
  auto writeGroup = [&](size_t from, size_t to) {
    if (from >= to) return;
    w.Open("artist_name_group").Open("tracks");
    for (size_t i = from; i < to; ++i) WriteTrack(w, ctx, set.entries[i], set.nameSuffix, true, i == 0);
    w.Close().Close();
  };
  w.Open("track_name_group");
  writeGroup(0, 1);
  writeGroup(1, firstHalf);
  w.Close();
  if (firstHalf < set.entries.size()) {
    w.Open("track_name_group");
    writeGroup(firstHalf, set.entries.size());
    w.Close();
  }
  w.Close();
  return w.Finish();
}

std::string UpdateDocument(const DocContext& ctx, const UpdateSettings& settings) {
  const ContentFaults& f = ctx.faults;
  UpdateMode mode = f.update.value_or(settings.mode);
  XmlWriter w;
  w.Open("orlamet");
  if (mode == UpdateMode::None) {
    w.Open("no-update").Close();
    return w.Finish();
  }
  bool crlfUrl = false;
  if (mode == UpdateMode::Offer) {
    if (!f.offerNoUrl) {
      std::string url = ctx.Url("/dl/update.cab");
      if (f.offerBadUrl == "https" && StartsWith(url, "http://")) url = "https://" + url.substr(7);
      crlfUrl = f.offerBadUrl == "crlf";
      w.Attr("message_url", crlfUrl ? url + "@CRLF@" : url);
    }
    w.Attr("message_type", "update")
        .Attr("message_text", "Version 1.7 is available")
        .Attr("message_persistence", "optional")
        .Attr("message_id", "42");
  }
  w.Open("update_information");
  std::string minLength = settings.minLength, maxLength = settings.maxLength;
  if (f.lengths) {
    minLength = f.lengths->first;
    maxLength = f.lengths->second;
  }
  w.Open("grab").Attr("minimum_search_length", minLength).Attr("maximum_search_length", maxLength).Close();
  for (const auto& [name, value] : settings.switches) {
    std::string v = value;
    for (const auto& [fname, fvalue] : f.switches)
      if (fname == name) v = fvalue;
    w.Open(name).Attr("enabled", f.intOverflow ? std::string(kOverflow) : v).Close();
  }
  w.Close();
  std::string doc = w.Finish();
  if (crlfUrl) {
    // The writer never emits character references; this fault needs two.
    size_t at = doc.find("@CRLF@");
    doc.replace(at, 6, "&#13;&#10;");
  }
  return doc;
}

std::string UserInformationDocument(const DocContext& ctx, const User& user) {
  XmlWriter w;
  w.Open("orlamet");
  if (!ctx.faults.noUserInfo) {
    w.Open("user_information").Attr("username", user.name).Attr("homepage_url", ctx.Url(user.homepage));
    if (user.image) w.Attr("user_primary_image", ctx.Url(*user.image));
    w.Close();
  }
  return w.Finish();
}

std::string VideosDocument(const DocContext& ctx, const Track* track) {
  XmlWriter w;
  w.Open("orlamet").Open("videos");
  if (track && !ctx.faults.emptyVideos) {
    for (const Video& v : track->videos) {
      w.Open("video")
          .Attr("video", ctx.Url(v.video))
          .Attr("title", v.title)
          .Attr("description", v.description)
          .Attr("created", v.created)
          .Attr("views_count", v.views)
          .Attr("rating_average", ctx.faults.intOverflow ? std::string("1e999") : v.rating)
          .Attr("duration", v.duration);
      if (!v.thumbnails.empty()) {
        w.Open("thumbnails");
        for (const auto& [url, time] : v.thumbnails) w.Open("thumbnail").Attr("url", ctx.Url(url)).Attr("time", time).Close();
        w.Close();
      }
      w.Close();
    }
  }
  return w.Finish();
}

std::string BuyLinksDocument(const DocContext& ctx, const Track* track) {
  std::vector<BuyLink> links = track ? track->buyLinks : std::vector<BuyLink>{};
  if (ctx.faults.notFound) links = {{"", "", "s1", "Music Store", "not-found"}};
  if (ctx.faults.firstNotFound)
    links = {{"", "", "s1", "Music Store", "not-found"}, {"/page/buy-second", "Buy", "s2", "Second Store", "found"}};
  XmlWriter w;
  w.Open("orlamet").Open("buy_links");
  for (const BuyLink& l : links)
    w.Open("buy_link")
        .Attr("url", ctx.Url(l.url))
        .Attr("url_title", l.title)
        .Attr("store", l.store)
        .Attr("store_name", l.storeName)
        .Attr("status", l.status)
        .Close();
  return w.Finish();
}

std::string LyricsDocument(const DocContext& ctx, const Track* track) {
  XmlWriter w;
  w.Open("orlamet").Open("lyrics_link");
  if (track && !track->lyricsStatus.empty() && !ctx.faults.notFound)
    w.Attr("url", ctx.Url(track->lyricsUrl)).Attr("status", track->lyricsStatus);
  else
    w.Attr("url", "").Attr("status", "not-found");
  return w.Finish();
}

std::string ErrorRootDocument(const std::string& type, const std::string& text, const std::string& persistence) {
  XmlWriter w;
  w.Open("orlamet").Attr("message_type", type).Attr("message_text", text).Attr("message_persistence", persistence);
  return w.Finish();
}

std::string ErrorElementDocument(const std::string& type, const std::string& text, const std::string& url,
                                 const std::string& required) {
  XmlWriter w;
  w.Open("orlamet").Open("error").Attr("type", type).Attr("display_text", text);
  if (!url.empty()) w.Attr("url", url);
  w.Attr("required", required);
  return w.Finish();
}

std::optional<std::string> FaultErrorDocument(const DocContext& ctx) {
  const ContentFaults& f = ctx.faults;
  if (f.errorRoot)
    return ErrorRootDocument(f.errorRoot->first, "Server message (" + f.errorRoot->first + ", " +
                                                     f.errorRoot->second + ")",
                             f.errorRoot->second);
  if (f.errorElement)
    return ErrorElementDocument(f.errorElement->type, "Please visit our site", ctx.Url(f.errorElement->url),
                                f.errorElement->required);
  if (f.errorNoText) return ErrorElementDocument(*f.errorNoText, "", "", "false");
  return std::nullopt;
}

std::string ApplyXmlFaults(const ContentFaults& f, std::string doc) {
  if (f.notXml) return HtmlPage("Not XML");
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  size_t root = doc.find("<orlamet");
  if (f.commentNamed || f.textNamed) {
    // Name the node after the first child element the client looks for.
    size_t rootEnd = doc.find('>', root);
    size_t child = doc.find('<', rootEnd);
    if (rootEnd != std::string::npos && doc[rootEnd - 1] != '/' && child != std::string::npos) {
      size_t nameEnd = doc.find_first_of(" />", child + 1);
      std::string name = doc.substr(child + 1, nameEnd - child - 1);
      doc.insert(rootEnd + 1, f.commentNamed ? "<!--" + name + "-->" : name);
    } else {
      std::string inner = f.commentNamed ? "<!--tracks-->" : "tracks";
      if (rootEnd != std::string::npos && doc[rootEnd - 1] == '/')
        doc.replace(rootEnd - 1, 2, ">" + inner + "</orlamet>");
    }
  }
  if (f.dupAttr) {
    size_t eq = doc.find("=\"", root);
    if (eq != std::string::npos) {
      size_t nameStart = doc.rfind(' ', eq) + 1;
      std::string name = doc.substr(nameStart, eq - nameStart);
      size_t valueEnd = doc.find('"', eq + 2);
      doc.insert(valueEnd + 1, " " + name + "=\"duplicate\"");
    }
  }
  if (f.ncr) {
    if (StartsWith(doc, decl)) doc.erase(0, decl.size());
    size_t eq = doc.find("=\"");
    if (eq != std::string::npos) doc.insert(eq + 2, "&#1234;");
  }
  if (f.deep > 0) {
    std::string open, close;
    open.reserve(static_cast<size_t>(f.deep) * 3);
    for (long long i = 0; i < f.deep; ++i) open += "<d>";
    for (long long i = 0; i < f.deep; ++i) close += "</d>";
    size_t rootEnd = doc.find('>', doc.find("<orlamet"));
    if (doc[rootEnd - 1] == '/') {
      doc.replace(rootEnd - 1, 2, ">" + open + close + "</orlamet>");
    } else {
      doc.insert(rootEnd + 1, open + close);
    }
  }
  if (f.huge > 0 && static_cast<long long>(doc.size()) < f.huge) {
    // Padding inside the root: well-formed, just large.
    size_t close = doc.rfind("</orlamet>");
    std::string pad;
    long long missing = f.huge - static_cast<long long>(doc.size());
    while (static_cast<long long>(pad.size()) + 17 <= missing) pad += "<pad x=\"......\"/>";
    pad.resize(pad.size() + static_cast<size_t>(missing - static_cast<long long>(pad.size())), ' ');
    if (close == std::string::npos) {
      size_t selfClose = doc.rfind("/>");
      doc.replace(selfClose, 2, ">" + pad + "</orlamet>");
    } else {
      doc.insert(close, pad);
    }
  }
  if (f.truncatedXml) doc.resize(doc.size() / 2);
  return doc;
}

std::vector<int> RankTracks(const Catalogue& catalogue, double frequencyHz) {
  std::vector<int> ranked;
  for (size_t i = 0; i < catalogue.tracks.size(); ++i)
    if (catalogue.tracks[i].ranked) ranked.push_back(static_cast<int>(i));
  if (frequencyHz > 0)
    std::stable_sort(ranked.begin(), ranked.end(), [&](int a, int b) {
      return std::abs(catalogue.tracks[a].frequency - frequencyHz) <
             std::abs(catalogue.tracks[b].frequency - frequencyHz);
    });
  return ranked;
}

ResultSet MakeSearchResults(const Catalogue& catalogue, const std::vector<int>& ranked, bool grabbing,
                            const std::string& searchId) {
  ResultSet set;
  set.searchId = searchId;
  set.layout = grabbing ? Layout::Grouped : Layout::Flat;
  set.countAsZero = grabbing;
  const size_t take = std::min<size_t>(grabbing ? 4 : 3, ranked.size());
  for (size_t i = 0; i < take; ++i) set.entries.push_back({ranked[i], catalogue.tracks[ranked[i]].recordings});
  for (size_t i = 0; i < catalogue.tracks.size(); ++i)
    if (!catalogue.tracks[i].ranked)
      set.entries.push_back({static_cast<int>(i), catalogue.tracks[i].recordings});
  return set;
}

ResultSet MakeListResults(const std::vector<ListEntry>& list) {
  ResultSet set;
  for (const ListEntry& e : list) set.entries.push_back({e.track, {e.recording}});
  return set;
}

std::vector<std::pair<std::string, std::string>> CannedDocuments(const Catalogue& catalogue, const std::string& base,
                                                                 const UpdateSettings& update) {
  static const ContentFaults none;
  DocContext ctx{catalogue, base, none};
  std::vector<std::pair<std::string, std::string>> docs;
  std::vector<int> ranked = RankTracks(catalogue, 0);
  docs.emplace_back("search singing", SearchDocument(ctx, MakeSearchResults(catalogue, ranked, false, "s-1")));
  docs.emplace_back("search grabbing", SearchDocument(ctx, MakeSearchResults(catalogue, ranked, true, "s-2")));
  ResultSet followUp = MakeSearchResults(catalogue, ranked, false, "s-1");
  followUp.nameSuffix = " [de]";
  docs.emplace_back("search follow-up", SearchDocument(ctx, followUp));
  docs.emplace_back("search too short", ErrorRootDocument("error", "Recording too short", "serverMessage"));
  docs.emplace_back("unknown search", ErrorElementDocument("serverMessage", "This search has expired", "", "false"));
  docs.emplace_back("unknown user", ErrorElementDocument("serverMessage", "No such user", "", "false"));
  for (UpdateMode mode : {UpdateMode::None, UpdateMode::Info, UpdateMode::Offer}) {
    UpdateSettings u = update;
    u.mode = mode;
    const char* name = mode == UpdateMode::None ? "update none" : mode == UpdateMode::Info ? "update info" : "update offer";
    docs.emplace_back(name, UpdateDocument(ctx, u));
  }
  for (const User& user : catalogue.users) {
    docs.emplace_back("user information " + user.name, UserInformationDocument(ctx, user));
    docs.emplace_back("playlist " + user.name, SearchDocument(ctx, MakeListResults(user.playlist)));
    docs.emplace_back("recordings " + user.name, SearchDocument(ctx, MakeListResults(user.recordings)));
  }
  for (const Track& t : catalogue.tracks) {
    docs.emplace_back("videos " + t.id, VideosDocument(ctx, &t));
    docs.emplace_back("buy links " + t.id, BuyLinksDocument(ctx, &t));
    docs.emplace_back("lyrics " + t.id, LyricsDocument(ctx, &t));
  }
  docs.emplace_back("buy links none", BuyLinksDocument(ctx, nullptr));
  docs.emplace_back("videos none", VideosDocument(ctx, nullptr));
  return docs;
}

std::string HtmlPage(const std::string& title) {
  std::string t = XmlEscape(title);
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + t + "</title></head><body><h1>" + t +
         "</h1><p>A page of the local protocol test server.</p></body></html>\n";
}

std::string HtmlErrorPage() {
  return "<html><head><title>502 Bad Gateway</title></head><body><h1>Bad Gateway</h1>"
         "<p>The proxy received an invalid response from the server.</p></body></html>\n";
}

}  // namespace qps
