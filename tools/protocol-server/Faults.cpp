#include "tools/protocol-server/Faults.h"

#include <map>

#include "tools/protocol-server/Util.h"

namespace qps {

namespace {

struct RouteEntry {
  Route route;
  const char* name;
};

constexpr RouteEntry kRoutes[] = {
    {Route::SearchPost, "search-post"},
    {Route::SearchGet, "search-get"},
    {Route::CheckForUpdate, "checkForUpdate"},
    {Route::GetUserInformation, "getUserInformation"},
    {Route::GetUserPlaylist, "getUserPlaylist"},
    {Route::GetUserRecordings, "getUserRecordings"},
    {Route::GetTrackBuyLinks, "getTrackBuyLinks"},
    {Route::GetTrackLyricsLink, "getTrackLyricsLink"},
    {Route::Videos, "videos"},
    {Route::Image, "image"},
    {Route::Preview, "preview"},
    {Route::Package, "package"},
    {Route::Page, "page"},
    {Route::Any, "any"},
};

enum class ArgKind { None, Int, Text, Seconds };

struct FaultSpec {
  FaultFamily family;
  ArgKind arg;
  bool required;
  long long min, max;  // for Int
};

const std::map<std::string, FaultSpec, std::less<>>& Specs() {
  static const std::map<std::string, FaultSpec, std::less<>> specs = {
      // Transport.
      {"status", {FaultFamily::Transport, ArgKind::Int, true, 100, 599}},
      {"redirect", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"http10", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"no-reason", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"lf-only", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"no-space", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"no-colon", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"dup-length", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"cl-zero", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"cl-invalid", {FaultFamily::Transport, ArgKind::Text, false, 0, 0}},
      {"cl-huge", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"te-and-cl", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"te-identity", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"chunked", {FaultFamily::Transport, ArgKind::Int, false, 1, 1 << 20}},
      {"chunk-ext", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"chunk-upper", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"chunk-bad", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"chunk-long", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"extra-bytes", {FaultFamily::Transport, ArgKind::Int, false, 1, 1 << 20}},
      {"split", {FaultFamily::Transport, ArgKind::Int, false, 1, 1 << 16}},
      {"dribble", {FaultFamily::Transport, ArgKind::Int, false, 1, 100000000}},
      {"delay", {FaultFamily::Transport, ArgKind::Int, false, 0, 3600000}},
      {"stall", {FaultFamily::Transport, ArgKind::Seconds, false, 0, 86400}},
      {"truncate", {FaultFamily::Transport, ArgKind::Int, false, 0, 1LL << 40}},
      {"close", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"reset", {FaultFamily::Transport, ArgKind::None, false, 0, 0}},
      {"early-reply", {FaultFamily::Transport, ArgKind::Int, false, 0, 1LL << 40}},
      {"empty-body", {FaultFamily::Transport, ArgKind::Text, false, 0, 0}},
      // gzip.
      {"gzip-fname", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"gzip-upper", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"gzip-double", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"gzip-corrupt", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"gzip-truncated", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"gzip-unasked", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      {"no-gzip", {FaultFamily::Gzip, ArgKind::None, false, 0, 0}},
      // Search-format content.
      {"flat", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"grouped", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"empty", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"single", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"two-recordings", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"file-full-url", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"no-artists", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      {"negative-count", {FaultFamily::Search, ArgKind::None, false, 0, 0}},
      // Any XML reply.
      {"error-root", {FaultFamily::Xml, ArgKind::Text, false, 0, 0}},
      {"error-element", {FaultFamily::Xml, ArgKind::Text, false, 0, 0}},
      {"not-xml", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"truncated-xml", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"deep", {FaultFamily::Xml, ArgKind::Int, false, 1, 1000000}},
      {"huge", {FaultFamily::Xml, ArgKind::Int, false, 1, 64LL << 20}},
      {"comment-named", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"text-named", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"dup-attr", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"ncr", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"int-overflow", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"html-error", {FaultFamily::Xml, ArgKind::None, false, 0, 0}},
      {"error-no-text", {FaultFamily::Xml, ArgKind::Text, false, 0, 0}},
      // Update check.
      {"update-none", {FaultFamily::Update, ArgKind::None, false, 0, 0}},
      {"update-info", {FaultFamily::Update, ArgKind::None, false, 0, 0}},
      {"update-offer", {FaultFamily::Update, ArgKind::None, false, 0, 0}},
      {"offer-no-url", {FaultFamily::Update, ArgKind::None, false, 0, 0}},
      {"offer-bad-url", {FaultFamily::Update, ArgKind::Text, false, 0, 0}},
      {"lengths", {FaultFamily::Update, ArgKind::Text, true, 0, 0}},
      {"switches", {FaultFamily::Update, ArgKind::Text, true, 0, 0}},
      // User and track requests.
      {"empty-videos", {FaultFamily::UserTrack, ArgKind::None, false, 0, 0}},
      {"not-found", {FaultFamily::UserTrack, ArgKind::None, false, 0, 0}},
      {"first-not-found", {FaultFamily::UserTrack, ArgKind::None, false, 0, 0}},
      {"no-user-info", {FaultFamily::UserTrack, ArgKind::None, false, 0, 0}},
      // Pictures, previews, upload.
      {"png-corrupt", {FaultFamily::Picture, ArgKind::None, false, 0, 0}},
      {"png-truncated", {FaultFamily::Picture, ArgKind::None, false, 0, 0}},
      {"not-png", {FaultFamily::Picture, ArgKind::None, false, 0, 0}},
      {"png-huge", {FaultFamily::Picture, ArgKind::None, false, 0, 0}},
      {"png-tall", {FaultFamily::Picture, ArgKind::None, false, 0, 0}},
      {"mp3-id3", {FaultFamily::Preview, ArgKind::None, false, 0, 0}},
      {"mp3-garbage", {FaultFamily::Preview, ArgKind::None, false, 0, 0}},
      {"mp3-short", {FaultFamily::Preview, ArgKind::None, false, 0, 0}},
      {"reject", {FaultFamily::Upload, ArgKind::None, false, 0, 0}},
  };
  return specs;
}

bool ValidText(const std::string& name, const std::string& arg, std::string& error) {
  for (char c : arg)
    if (static_cast<unsigned char>(c) < 0x20) {
      error = "fault " + name + ": control character in its argument";
      return false;
    }
  if (name == "error-root" && Split(arg, ',').size() != 2) {
    error = "fault error-root takes <message_type>,<persistence>";
    return false;
  }
  if (name == "error-element" && Split(arg, ',', 3).size() != 3) {
    error = "fault error-element takes <type>,<required>,<url>";
    return false;
  }
  if (name == "empty-body" && arg != "chunked") {
    error = "fault empty-body takes chunked or nothing";
    return false;
  }
  if (name == "lengths" && Split(arg, ',').size() != 2) {
    error = "fault lengths takes <min>,<max>";
    return false;
  }
  if (name == "offer-bad-url" && arg != "https" && arg != "crlf") {
    error = "fault offer-bad-url takes https or crlf";
    return false;
  }
  if (name == "switches") {
    for (const std::string& item : Split(arg, ',')) {
      auto kv = Split(item, '=', 2);
      static const char* known[] = {"amg", "license_logo", "video", "videos", "preview", "previews",
                                    "lyrics", "lyrics_search"};
      bool ok = kv.size() == 2;
      if (ok) {
        ok = false;
        for (const char* k : known) ok = ok || kv[0] == k;
      }
      if (!ok) {
        error = "fault switches takes amg=,video=,previews=,lyrics= items, not '" + item + "'";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

const char* RouteName(Route route) {
  for (const RouteEntry& e : kRoutes)
    if (e.route == route) return e.name;
  return route == Route::Control ? "control" : "unknown";
}

std::optional<Route> RouteFromName(std::string_view name) {
  for (const RouteEntry& e : kRoutes)
    if (name == e.name) return e.route;
  return std::nullopt;
}

bool IsXmlRoute(Route r) {
  switch (r) {
    case Route::SearchPost:
    case Route::SearchGet:
    case Route::CheckForUpdate:
    case Route::GetUserInformation:
    case Route::GetUserPlaylist:
    case Route::GetUserRecordings:
    case Route::GetTrackBuyLinks:
    case Route::GetTrackLyricsLink:
    case Route::Videos: return true;
    default: return false;
  }
}

bool IsSearchFormatRoute(Route r) {
  return r == Route::SearchPost || r == Route::SearchGet || r == Route::GetUserPlaylist ||
         r == Route::GetUserRecordings;
}

const char* FaultFamilyName(FaultFamily family) {
  switch (family) {
    case FaultFamily::Transport: return "transport";
    case FaultFamily::Gzip: return "gzip";
    case FaultFamily::Search: return "search";
    case FaultFamily::Xml: return "xml";
    case FaultFamily::Update: return "update";
    case FaultFamily::UserTrack: return "user-track";
    case FaultFamily::Picture: return "picture";
    case FaultFamily::Preview: return "preview";
    case FaultFamily::Upload: return "upload";
  }
  return "?";
}

std::string FaultNamesByFamily() {
  constexpr size_t kWidth = 100;
  std::string out;
  for (FaultFamily family : {FaultFamily::Transport, FaultFamily::Gzip, FaultFamily::Search, FaultFamily::Xml,
                             FaultFamily::Update, FaultFamily::UserTrack, FaultFamily::Picture, FaultFamily::Preview,
                             FaultFamily::Upload}) {
    std::string line = std::string("    ") + FaultFamilyName(family) + ":";
    for (const auto& [name, rule] : Specs()) {
      if (rule.family != family) continue;
      if (line.size() + 1 + name.size() > kWidth) {
        out += line + "\n";
        line = "     ";
      }
      line += " " + name;
    }
    out += line + "\n";
  }
  return out;
}

long long Fault::IntArg(long long fallback) const {
  long long v = 0;
  return !arg.empty() && ParseInt(arg, v) ? v : fallback;
}

std::optional<Fault> ParseFault(std::string_view faultText, std::string& error) {
  size_t colon = faultText.find(':');
  std::string name(faultText.substr(0, colon));
  std::string arg = colon == std::string_view::npos ? "" : std::string(faultText.substr(colon + 1));
  auto it = Specs().find(name);
  if (it == Specs().end()) {
    error = "unknown fault '" + name + "'";
    return std::nullopt;
  }
  const FaultSpec& s = it->second;
  if (arg.empty() && colon != std::string_view::npos) {
    error = "fault " + name + ": empty argument";
    return std::nullopt;
  }
  if (arg.empty() && s.required) {
    error = "fault " + name + " needs an argument";
    return std::nullopt;
  }
  if (!arg.empty()) {
    switch (s.arg) {
      case ArgKind::None:
        error = "fault " + name + " takes no argument";
        return std::nullopt;
      case ArgKind::Int: {
        long long v = 0;
        if (!ParseInt(arg, v) || v < s.min || v > s.max) {
          error = "fault " + name + ": argument must be a whole number from " + std::to_string(s.min) + " to " +
                  std::to_string(s.max);
          return std::nullopt;
        }
        break;
      }
      case ArgKind::Seconds: {
        double v = 0;
        if (!ParseSeconds(arg, v) || v > static_cast<double>(s.max)) {
          error = "fault " + name + ": argument must be seconds from 0 to " + std::to_string(s.max);
          return std::nullopt;
        }
        break;
      }
      case ArgKind::Text:
        if (!ValidText(name, arg, error)) return std::nullopt;
        break;
    }
  }
  return Fault{name, arg, s.family};
}

bool FaultApplies(const Fault& fault, Route route) {
  if (route == Route::Control || route == Route::Unknown || route == Route::Any) return false;
  switch (fault.family) {
    case FaultFamily::Transport:
      return fault.name != "early-reply" || route == Route::SearchPost;
    case FaultFamily::Gzip: return true;
    case FaultFamily::Search: return IsSearchFormatRoute(route);
    case FaultFamily::Xml: return IsXmlRoute(route);
    case FaultFamily::Update: return route == Route::CheckForUpdate;
    case FaultFamily::UserTrack:
      if (fault.name == "empty-videos") return route == Route::Videos;
      if (fault.name == "not-found") return route == Route::GetTrackBuyLinks || route == Route::GetTrackLyricsLink;
      if (fault.name == "first-not-found") return route == Route::GetTrackBuyLinks;
      return route == Route::GetUserInformation;
    case FaultFamily::Picture: return route == Route::Image;
    case FaultFamily::Preview: return route == Route::Preview;
    case FaultFamily::Upload: return route == Route::SearchPost;
  }
  return false;
}

bool FaultQueue::Push(Route route, const Fault& fault, long long count, std::string& error) {
  if (count < 0) {
    error = "count must be 0 (until reset) or more";
    return false;
  }
  if (route != Route::Any && !FaultApplies(fault, route)) {
    error = "fault " + fault.name + " does not apply to route " + RouteName(route);
    return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_items.size() >= kCapacity) {
    error = "fault queue is full (" + std::to_string(kCapacity) + " entries)";
    return false;
  }
  m_items.push_back({route, fault, count});
  return true;
}

std::optional<Fault> FaultQueue::Take(Route route) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Route wanted : {route, Route::Any}) {
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
      if (it->route != wanted || !FaultApplies(it->fault, route)) continue;
      Fault f = it->fault;
      if (it->remaining > 0 && --it->remaining == 0) m_items.erase(it);
      return f;
    }
  }
  return std::nullopt;
}

void FaultQueue::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_items.clear();
}

size_t FaultQueue::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_items.size();
}

}  // namespace qps
