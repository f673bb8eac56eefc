#include "tools/protocol-server/Requests.h"

#include <algorithm>

#include "tools/protocol-server/Util.h"

namespace qps {

namespace {

std::string AuthorityOf(const std::string& host, long long port) {
  return port == 80 ? host : host + ":" + std::to_string(port);
}

// The client sends "all" or an ISO 639 code, possibly with a region.
bool IsSearchLanguageCode(const std::string& code) {
  if (code == "all") return true;
  size_t i = 0;
  while (i < code.size() && code[i] >= 'a' && code[i] <= 'z') ++i;
  if (i < 2 || i > 3) return false;
  if (i == code.size()) return true;
  if (code[i] != '_' && code[i] != '-') return false;
  std::string region = code.substr(i + 1);
  return region.size() >= 2 && region.size() <= 4 &&
         std::all_of(region.begin(), region.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out = "(";
  for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + names[i];
  return out + ")";
}

void CheckHeaders(const Request& req, RequestInfo& info) {
  std::vector<std::string>& v = info.violations;
  const bool post = req.method == "POST";
  const bool search = info.route == Route::SearchPost;
  if (req.headers.empty() || req.headers[0].name != "Host") {
    v.push_back("the first header is not Host");
  }
  size_t next = 1;
  if (post) {
    if (req.headers.size() < 2 ||
        (req.headers[1].name != "Transfer-Encoding" && req.headers[1].name != "Content-Length"))
      v.push_back("the second header of a POST is not Transfer-Encoding or Content-Length");
    else
      next = 2;
  }
  std::vector<std::string> expected;
  if (search) {
    expected.push_back("Accept-Encoding");
    expected.push_back("Content-Type");
  }
  if (info.absoluteForm) expected.push_back("Proxy-Connection");
  expected.push_back("User-Agent");
  std::vector<std::string> got;
  for (size_t i = next; i < req.headers.size(); ++i) got.push_back(req.headers[i].name);
  if (got != expected) {
    // Say which of order, spelling or membership is wrong.
    std::vector<std::string> sortedGot = got;
    std::sort(sortedGot.begin(), sortedGot.end(),
              [](const std::string& a, const std::string& b) { return ToLower(a) < ToLower(b); });
    if (sortedGot == expected)
      v.push_back("headers after Host are not sorted without regard to case: " + JoinNames(got));
    else
      v.push_back("headers after Host are " + JoinNames(got) + ", expected " + JoinNames(expected));
  }
  auto expectValue = [&](const char* name, const char* value) {
    const HeaderLine* h = req.Find(name);
    if (h && h->value != value) v.push_back(std::string(name) + " is '" + h->value + "', expected '" + value + "'");
  };
  if (search) {
    expectValue("Accept-Encoding", "gzip");
    expectValue("Content-Type", "binary/octet-stream");
  } else if (req.Find("Accept-Encoding")) {
    v.push_back("Accept-Encoding on a request that takes no gzip");
  }
  expectValue("Proxy-Connection", "Keep-Alive");
  if (const HeaderLine* ua = req.Find("User-Agent")) {
    std::string problem = CheckUserAgent(ua->value);
    if (!problem.empty()) v.push_back("User-Agent: " + problem);
  }
}

void ParseQuery(RequestInfo& info) {
  if (info.query.empty()) return;
  for (const std::string& item : Split(info.query, '&')) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) info.violations.push_back("query item '" + item + "' without '='");
    DecodedValue key = PercentDecode(item.substr(0, eq));
    DecodedValue value = PercentDecode(eq == std::string::npos ? "" : item.substr(eq + 1));
    for (const DecodedValue* d : {&key, &value}) {
      if (d->badEscape) info.violations.push_back("bad percent escape in '" + item + "'");
      if (d->unescaped) info.violations.push_back("unescaped character in '" + item + "'");
      if (!IsValidUtf8(d->value)) info.violations.push_back("'" + item + "' does not decode to UTF-8");
    }
    info.params.emplace_back(key.value, value.value);
  }
}

void CheckParams(const Request& req, RequestInfo& info) {
  std::vector<std::string> names;
  for (const auto& p : info.params) names.push_back(p.first);
  std::vector<std::string> expected = {"method"};
  switch (info.route) {
    case Route::SearchPost: expected.insert(expected.end(), {"type", "lang"}); break;
    case Route::SearchGet: expected.insert(expected.end(), {"search_id", "lang"}); break;
    case Route::CheckForUpdate: break;
    case Route::GetUserInformation:
    case Route::GetUserPlaylist:
    case Route::GetUserRecordings: expected.push_back("username"); break;
    case Route::GetTrackBuyLinks:
      if (info.Param("track_id")) expected.push_back("track_id");
      expected.insert(expected.end(), {"artist_name", "track_name"});
      break;
    case Route::GetTrackLyricsLink:
    case Route::Videos: expected.push_back("track_id"); break;
    default: return;
  }
  if (names != expected)
    info.violations.push_back("parameters are " + JoinNames(names) + ", expected " + JoinNames(expected));
  if (info.route == Route::SearchPost) {
    const std::string* type = info.Param("type");
    if (type && *type != "singing" && *type != "grabbing")
      info.violations.push_back("type is '" + *type + "', not singing or grabbing");
  }
  if (info.route == Route::SearchPost || info.route == Route::SearchGet) {
    const std::string* lang = info.Param("lang");
    if (lang && !IsSearchLanguageCode(*lang))
      info.violations.push_back("lang '" + *lang + "' is not a search-language code");
  }
  if (info.route == Route::GetTrackBuyLinks) {
    const std::string* id = info.Param("track_id");
    if (id && id->empty()) info.violations.push_back("track_id sent empty instead of left out");
  }
}

}  // namespace

ServerIdentity MakeServerIdentity(int port, const std::string& publicBase) {
  ServerIdentity s;
  s.authorities.push_back(AuthorityOf("127.0.0.1", port));
  s.authorities.push_back(AuthorityOf("localhost", port));
  if (StartsWith(publicBase, "http://")) {
    std::string authority = publicBase.substr(7);
    authority = authority.substr(0, authority.find('/'));
    size_t colon = authority.rfind(':');
    long long p = 80;
    if (colon != std::string::npos && ParseInt(authority.substr(colon + 1), p))
      authority = AuthorityOf(authority.substr(0, colon), p);
    if (std::find(s.authorities.begin(), s.authorities.end(), authority) == s.authorities.end())
      s.authorities.push_back(authority);
  }
  return s;
}

const std::string* RequestInfo::Param(const std::string& name) const {
  for (const auto& p : params)
    if (p.first == name) return &p.second;
  return nullptr;
}

bool IsUiLanguageCode(const std::string& code) {
  static const char* codes[] = {"EN", "FR", "IT", "DE", "RU", "NO", "NE", "CS", "EL", "SP", "PT",
                                "FI", "DA", "PL", "SW", "pt_BR", "CHI_S", "CHI_T", "KO", "TR", "AR", "CA"};
  for (const char* c : codes)
    if (code == c) return true;
  return false;
}

std::string CheckUserAgent(const std::string& ua) {
  static const std::string prefix = "AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI=";
  if (!StartsWith(ua, prefix)) return "does not begin with '" + prefix + "'";
  size_t pos = prefix.size();
  auto field = [&](const char* next, std::string& value) {
    size_t at = ua.find(next, pos);
    if (at == std::string::npos) return false;
    value = ua.substr(pos, at - pos);
    pos = at + std::string(next).size();
    return true;
  };
  std::string imei, imsi6, imsi, iddev;
  if (!field(" 6IMSI=", imei) || !field(" IMSI=", imsi6) || !field(" IDDEV=", imsi) || !field(" DEV=", iddev))
    return "fields missing or out of order";
  size_t langAt = ua.rfind(" LANG=");
  if (langAt == std::string::npos || langAt < pos) return "LANG= missing";
  std::string lang = ua.substr(langAt + 6);
  for (const std::string* f : {&imei, &imsi6, &imsi})
    if (f->find(' ') != std::string::npos) return "blank inside IMEI, 6IMSI or IMSI";
  if (imsi6 != imsi.substr(0, 6)) return "6IMSI '" + imsi6 + "' is not the first six characters of IMSI '" + imsi + "'";
  if (iddev.find_first_not_of("0123456789abcdef") != std::string::npos)
    return "IDDEV '" + iddev + "' is not lower-case hexadecimal";
  if (!IsUiLanguageCode(lang)) return "LANG '" + lang + "' is not an interface-language code";
  return {};
}

RequestInfo AnalyseRequest(const Request& req, const ServerIdentity& server) {
  RequestInfo info;
  std::string target = req.target;
  if (StartsWith(target, "http://")) {
    info.absoluteForm = true;
    size_t slash = target.find('/', 7);
    std::string authority = target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    if (std::find(server.authorities.begin(), server.authorities.end(), authority) == server.authorities.end()) {
      info.foreignAuthority = true;
      info.violations.push_back("absolute target names another server: " + authority);
    }
    target = slash == std::string::npos ? "/" : target.substr(slash);
  } else if (target.empty() || target[0] != '/') {
    info.violations.push_back("request target is neither in origin nor in absolute http form");
    return info;
  }
  size_t q = target.find('?');
  info.path = target.substr(0, q);
  if (q != std::string::npos) info.query = target.substr(q + 1);
  for (unsigned char c : info.path)
    if (c <= 0x20 || c >= 0x7F) {
      info.violations.push_back("unescaped character in the path '" + info.path + "'");
      break;
    }

  if (StartsWith(info.path, "/_ctl/")) {
    info.route = Route::Control;
    return info;
  }

  // Faults riding in resource URLs: /f/<fault>[~<arg>]/<normal path>.
  for (int guard = 0; guard < 8 && StartsWith(info.path, "/f/"); ++guard) {
    size_t end = info.path.find('/', 3);
    if (end == std::string::npos) break;
    std::string faultText = PercentDecode(info.path.substr(3, end - 3)).value;
    std::replace(faultText.begin(), faultText.end(), '~', ':');
    std::string error;
    if (auto fault = ParseFault(faultText, error))
      info.urlFaults.push_back(*fault);
    else if (info.urlFaultError.empty())
      info.urlFaultError = error;
    info.path = info.path.substr(end);
  }

  if (info.path == "/v2/") {
    ParseQuery(info);
    if (info.params.empty() || info.params[0].first != "method") {
      info.violations.push_back("query does not begin with method=");
    } else {
      info.method = info.params[0].second;
      const std::string& m = info.method;
      if (m == "search") info.route = req.method == "POST" ? Route::SearchPost : Route::SearchGet;
      else if (m == "checkForUpdate") info.route = Route::CheckForUpdate;
      else if (m == "getUserInformation") info.route = Route::GetUserInformation;
      else if (m == "getUserPlaylist") info.route = Route::GetUserPlaylist;
      else if (m == "getUserRecordings") info.route = Route::GetUserRecordings;
      else if (m == "getTrackBuyLinks") info.route = Route::GetTrackBuyLinks;
      else if (m == "getTrackLyricsLink") info.route = Route::GetTrackLyricsLink;
      else if (m == "getVideos") info.route = Route::Videos;
      else info.violations.push_back("unknown method '" + m + "'");
    }
    CheckParams(req, info);
  } else if (StartsWith(info.path, "/img/")) {
    info.route = Route::Image;
  } else if (StartsWith(info.path, "/media/")) {
    info.route = Route::Preview;
  } else if (info.path == "/dl/update.cab") {
    info.route = Route::Package;
  } else if (StartsWith(info.path, "/page/")) {
    // Pages open in the desktop's browser, which has habits of its own.
    info.route = Route::Page;
    return info;
  }

  if (info.route == Route::Image || info.route == Route::Preview || info.route == Route::Package) {
    if (!info.query.empty()) info.violations.push_back("query on a resource URL");
    if (info.route == Route::Image && !EndsWith(info.path, ".png"))
      info.violations.push_back("picture asked for by '" + info.path + "' instead of its .png name");
  }

  if (req.method != "GET" && req.method != "POST") {
    info.violations.push_back("method " + req.method + " is neither GET nor POST");
  } else if (req.method == "POST" && info.route != Route::SearchPost) {
    info.violations.push_back("POST for a request the client sends with GET");
  }
  if (req.method == "GET" && req.framing != Request::Framing::None) info.violations.push_back("GET with a body");
  if (info.route == Route::SearchPost && req.framing == Request::Framing::None)
    info.violations.push_back("search POST without a body");

  const HeaderLine* host = req.Find("Host");
  if (!host)
    info.violations.push_back("no Host header");
  else if (std::find(server.authorities.begin(), server.authorities.end(), host->value) == server.authorities.end())
    info.violations.push_back("Host is '" + host->value + "', not this server");
  CheckHeaders(req, info);
  if (!info.absoluteForm && req.Find("Proxy-Connection"))
    info.violations.push_back("Proxy-Connection on a request in origin form");
  return info;
}

}  // namespace qps
