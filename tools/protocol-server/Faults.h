// Faults the server injects on request: their names, arguments, the routes
// they apply to, and the bounded queue that holds them.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qps {

enum class Route {
  SearchPost,
  SearchGet,
  CheckForUpdate,
  GetUserInformation,
  GetUserPlaylist,
  GetUserRecordings,
  GetTrackBuyLinks,
  GetTrackLyricsLink,
  Videos,
  Image,
  Preview,
  Package,
  Page,
  Any,
  Unknown,
  Control,
};

const char* RouteName(Route route);
// The names /_ctl/inject and --fault accept.
std::optional<Route> RouteFromName(std::string_view name);
bool IsXmlRoute(Route route);
bool IsSearchFormatRoute(Route route);

enum class FaultFamily { Transport, Gzip, Search, Xml, Update, UserTrack, Picture, Preview, Upload };
const char* FaultFamilyName(FaultFamily family);

struct Fault {
  std::string name;
  std::string arg;  // empty: the fault's default
  FaultFamily family = FaultFamily::Transport;

  std::string Describe() const { return arg.empty() ? name : name + ":" + arg; }
  // The numeric argument, or fallback when none was given.
  long long IntArg(long long fallback) const;
};

// Every fault name by family, one indented line per family (wrapped), for
// --help.
std::string FaultNamesByFamily();

// Parses "name" or "name:arg" (URL-embedded faults use '~' for ':').
std::optional<Fault> ParseFault(std::string_view faultText, std::string& error);
bool FaultApplies(const Fault& fault, Route route);

class FaultQueue {
 public:
  static constexpr size_t kCapacity = 1000;

  // count 0 keeps the fault until Clear.
  bool Push(Route route, const Fault& fault, long long count, std::string& error);
  // The first queued fault of this route that applies, else the first for
  // "any" that applies.
  std::optional<Fault> Take(Route route);
  void Clear();
  size_t Size() const;

 private:
  struct Item {
    Route route;
    Fault fault;
    long long remaining;  // 0: until reset
  };
  mutable std::mutex m_mutex;
  std::deque<Item> m_items;
};

}  // namespace qps
