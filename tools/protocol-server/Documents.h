// The XML replies, written from the catalogue with the server's own writer,
// and the content faults that bend them.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/protocol-server/Catalogue.h"

namespace qps {

enum class Layout { Flat, Grouped };
enum class UpdateMode { None, Info, Offer };

struct ContentFaults {
  // Search-format replies (search, follow-up, playlist, recordings).
  std::optional<Layout> layout;
  bool empty = false;
  bool single = false;
  bool twoRecordings = false;
  // The first track's recordings point their full_url at a local file, a
  // scheme the client cannot fetch.
  bool fileFullUrl = false;
  bool noArtists = false;
  bool negativeCount = false;  // total_records, records_start, records_end "-1"
  // Any XML reply.
  std::optional<std::pair<std::string, std::string>> errorRoot;  // message_type, persistence
  struct ErrorElement {
    std::string type, required, url;
  };
  std::optional<ErrorElement> errorElement;
  std::optional<std::string> errorNoText;  // an error element of this type, display_text ""
  bool htmlError = false;
  bool intOverflow = false;
  bool notXml = false;
  bool truncatedXml = false;
  long long deep = 0;
  long long huge = 0;
  bool commentNamed = false;
  bool textNamed = false;
  bool dupAttr = false;
  bool ncr = false;
  // Update check.
  std::optional<UpdateMode> update;
  bool offerNoUrl = false;
  std::string offerBadUrl;  // "https" or "crlf"
  std::optional<std::pair<std::string, std::string>> lengths;
  std::vector<std::pair<std::string, std::string>> switches;
  // User and track requests.
  bool emptyVideos = false;
  bool notFound = false;
  bool firstNotFound = false;
  bool noUserInfo = false;
};

struct DocContext {
  const Catalogue& catalogue;
  std::string base;  // "http://127.0.0.1:<port>", no trailing slash
  const ContentFaults& faults;

  std::string Url(const std::string& path) const;
};

struct ResultEntry {
  int track = 0;
  std::vector<Recording> recordings;
};

struct ResultSet {
  std::string searchId;  // empty: no search_id attribute
  std::vector<ResultEntry> entries;
  Layout layout = Layout::Flat;
  bool countAsZero = false;  // total_records "0": the client counts for itself
  std::string nameSuffix;    // appended to every track_name
};

// The four switches of the update reply, by element name.
struct UpdateSettings {
  UpdateMode mode = UpdateMode::Info;
  std::string minLength = "5", maxLength = "30";
  std::vector<std::pair<std::string, std::string>> switches = {
      {"license_logo", "1"}, {"videos", "1"}, {"previews", "1"}, {"lyrics_search", "1"}};
};

std::string SearchDocument(const DocContext& ctx, const ResultSet& set);
std::string UpdateDocument(const DocContext& ctx, const UpdateSettings& settings);
std::string UserInformationDocument(const DocContext& ctx, const User& user);
std::string VideosDocument(const DocContext& ctx, const Track* track);
std::string BuyLinksDocument(const DocContext& ctx, const Track* track);
std::string LyricsDocument(const DocContext& ctx, const Track* track);

std::string ErrorRootDocument(const std::string& type, const std::string& text, const std::string& persistence);
std::string ErrorElementDocument(const std::string& type, const std::string& text, const std::string& url,
                                 const std::string& required);

// The error forms a content fault asks for, or nullopt.
std::optional<std::string> FaultErrorDocument(const DocContext& ctx);
// Text-level XML faults (not-xml, truncated, deep, huge, comment- or
// text-named, dup-attr, ncr) applied to a finished document.
std::string ApplyXmlFaults(const ContentFaults& faults, std::string doc);

std::string HtmlPage(const std::string& title);
// A gateway's error page, well formed enough to parse as XML (root "html").
std::string HtmlErrorPage();

// The ranked catalogue tracks, nearest signature frequency first; catalogue
// order when no pitch was found (frequency 0).
std::vector<int> RankTracks(const Catalogue& catalogue, double frequencyHz);
// Singing: a flat page of the first three. Grabbing: a grouped page of the
// first four with total_records "0". The edge catalogue appends its edge
// tracks so they can be seen.
ResultSet MakeSearchResults(const Catalogue& catalogue, const std::vector<int>& ranked, bool grabbing,
                            const std::string& searchId);
ResultSet MakeListResults(const std::vector<ListEntry>& list);

// Every reply document the server writes when no fault is asked for, by name.
std::vector<std::pair<std::string, std::string>> CannedDocuments(const Catalogue& catalogue, const std::string& base,
                                                                 const UpdateSettings& update);

}  // namespace qps
