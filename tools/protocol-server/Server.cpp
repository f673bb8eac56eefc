#include "tools/protocol-server/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "tools/protocol-server/Gzip.h"
#include "tools/protocol-server/Speex.h"
#include "tools/protocol-server/Util.h"

namespace qps {

namespace {

constexpr size_t kKeptSearches = 64;
const char* kXml = "text/xml; charset=utf-8";
const char* kText = "text/plain; charset=utf-8";

bool HasFault(const std::vector<Fault>& faults, const char* name) {
  for (const Fault& f : faults)
    if (f.name == name) return true;
  return false;
}

const Fault* FindFault(const std::vector<Fault>& faults, const char* name) {
  for (const Fault& f : faults)
    if (f.name == name) return &f;
  return nullptr;
}

ContentFaults ToContentFaults(const std::vector<Fault>& faults) {
  ContentFaults c;
  for (const Fault& f : faults) {
    const std::string& n = f.name;
    if (n == "flat") c.layout = Layout::Flat;
    else if (n == "grouped") c.layout = Layout::Grouped;
    else if (n == "empty") c.empty = true;
    else if (n == "single") c.single = true;
    else if (n == "two-recordings") c.twoRecordings = true;
    else if (n == "file-full-url") c.fileFullUrl = true;
    else if (n == "no-artists") c.noArtists = true;
    else if (n == "negative-count") c.negativeCount = true;
    else if (n == "error-root") {
      auto parts = Split(f.arg.empty() ? "error,serverMessage" : f.arg, ',');
      c.errorRoot = std::make_pair(parts[0], parts[1]);
    } else if (n == "error-element") {
      auto parts = Split(f.arg.empty() ? "serverMessage,true,/page/info" : f.arg, ',', 3);
      c.errorElement = ContentFaults::ErrorElement{parts[0], parts[1], parts[2]};
    } else if (n == "error-no-text") c.errorNoText = f.arg.empty() ? "serverMessage" : f.arg;
    else if (n == "html-error") c.htmlError = true;
    else if (n == "int-overflow") c.intOverflow = true;
    else if (n == "not-xml") c.notXml = true;
    else if (n == "truncated-xml") c.truncatedXml = true;
    else if (n == "deep") c.deep = f.IntArg(10000);
    else if (n == "huge") c.huge = f.IntArg(4 << 20);
    else if (n == "comment-named") c.commentNamed = true;
    else if (n == "text-named") c.textNamed = true;
    else if (n == "dup-attr") c.dupAttr = true;
    else if (n == "ncr") c.ncr = true;
    else if (n == "update-none") c.update = UpdateMode::None;
    else if (n == "update-info") c.update = UpdateMode::Info;
    else if (n == "update-offer") c.update = UpdateMode::Offer;
    else if (n == "offer-no-url") {
      c.update = UpdateMode::Offer;
      c.offerNoUrl = true;
    } else if (n == "offer-bad-url") {
      c.update = UpdateMode::Offer;
      c.offerBadUrl = f.arg.empty() ? "https" : f.arg;
    } else if (n == "lengths") {
      auto parts = Split(f.arg, ',');
      c.lengths = std::make_pair(parts[0], parts[1]);
    } else if (n == "switches") {
      for (const std::string& item : Split(f.arg, ',')) {
        auto kv = Split(item, '=', 2);
        std::string k = kv[0];
        if (k == "amg") k = "license_logo";
        else if (k == "video") k = "videos";
        else if (k == "preview") k = "previews";
        else if (k == "lyrics") k = "lyrics_search";
        c.switches.emplace_back(k, kv[1]);
      }
    } else if (n == "empty-videos") c.emptyVideos = true;
    else if (n == "not-found") c.notFound = true;
    else if (n == "first-not-found") c.firstNotFound = true;
    else if (n == "no-user-info") c.noUserInfo = true;
  }
  return c;
}

std::string NowIso() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buffer;
}

std::string JsonNumber(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3f", v);
  return buffer;
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonString(items[i]);
  return out + "]";
}

// Where the deflate data starts in a gzip member we wrote ourselves.
size_t GzipHeaderLength(const std::string& gz) {
  if (gz.size() < 10) return gz.size();
  size_t pos = 10;
  if (static_cast<unsigned char>(gz[3]) & 0x08) pos = gz.find('\0', 10) + 1;
  return pos;
}

}  // namespace

struct Server::Exchange {
  Snapshot snap;
  IoLimits limits;
  Request req;
  RequestInfo info;
  long long seq = 0;
  int peerPort = 0;
  std::string time;
  ReadOutcome outcome = ReadOutcome::Ok;
  std::vector<Fault> faults;
  ContentFaults content;
  std::optional<UploadReport> upload;
  std::vector<std::string> violations;
  Reply reply;
  WirePlan plan;
  bool gzipped = false;
  std::string packageSha;
  long long earlyReply = -1;
  size_t replyBytes = 0;
  std::string deliveryNote;
  bool bAnswered = false;   // the answered hook has run
  bool bLogDue = false;     // counted in m_logsDue
  bool bControl = false;

  std::string base;  // what the reply's URLs start with

  DocContext Ctx() const { return DocContext{*snap.catalogue, base, content}; }
};

Server::Server(Options options, IoLimits limits)
    : m_startOptions(options), m_limits(limits), m_options(std::move(options)) {
  m_catalogue = std::make_shared<const Catalogue>(*Catalogue::ByName(m_options.catalogue));
  m_log = std::make_unique<RequestLog>(m_options.logFile);
}

Server::~Server() {
  Stop();
  for (Worker& w : m_workers)
    if (w.thread.joinable()) w.thread.join();
  if (m_listenFd >= 0) ::close(m_listenFd);
}

std::string Server::Base() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_options.publicBase.empty() ? "http://127.0.0.1:" + std::to_string(m_port) : m_options.publicBase;
}

Server::Snapshot Server::Current() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return {m_options, m_catalogue};
}

bool Server::Start(std::string& error) {
  if (!m_log->Opened()) {
    error = m_log->FileError();
    return false;
  }
  if (m_options.listenAddress != "127.0.0.1") {
    error = "refusing to listen on " + m_options.listenAddress + ": only 127.0.0.1 is allowed";
    return false;
  }
  for (const std::string& faultText : m_options.faults) {
    // route:fault[:arg[:count]]; an argument with ':' in it needs the count.
    auto parts = Split(faultText, ':');
    std::optional<Route> route = parts.size() >= 2 ? RouteFromName(parts[0]) : std::nullopt;
    if (!route) {
      error = "--fault " + faultText + ": expected ROUTE:FAULT[:ARG[:COUNT]] with a known route";
      return false;
    }
    long long count = 1;
    size_t end = parts.size();
    if (parts.size() >= 4 && ParseInt(parts.back(), count)) --end;
    std::string faultSpec = parts[1];
    for (size_t i = 2; i < end; ++i) faultSpec += (i == 2 ? ":" : ":") + parts[i];
    std::string faultError;
    auto fault = ParseFault(faultSpec, faultError);
    if (!fault || !m_faults.Push(*route, *fault, count, faultError)) {
      error = "--fault " + faultText + ": " + faultError;
      return false;
    }
  }
  m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listenFd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(m_options.listenPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listenFd, 64) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(m_options.listenPort) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
  m_port = ntohs(addr.sin_port);
  m_identity = MakeServerIdentity(m_port, m_options.publicBase);
  if (!m_options.portFile.empty()) {
    // Written beside and renamed, so a reader never sees half a number.
    std::string temp = m_options.portFile + ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << m_port << "\n";
      if (!out) {
        error = "cannot write port file " + temp;
        return false;
      }
    }
    if (std::rename(temp.c_str(), m_options.portFile.c_str()) != 0) {
      error = "cannot rename " + temp + " to " + m_options.portFile + ": " + std::strerror(errno);
      return false;
    }
  }
  m_started = Clock::now();
  m_deadline = m_started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.lifetime));
  return true;
}

void Server::Run() {
  while (!m_stop.load()) {
    if (m_externalStop && m_externalStop->load()) break;
    if (Clock::now() >= m_deadline) break;
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = m_workers.erase(it);
      } else {
        ++it;
      }
    }
    pollfd p{m_listenFd, POLLIN, 0};
    int rc = poll(&p, 1, 50);
    if (rc <= 0) continue;
    int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (m_active.load() >= Current().options.maxConnections) {
      Refuse(fd);
      continue;
    }
    ++m_active;
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_workers.push_back({std::thread([this, fd, done] {
                           Serve(fd);
                           --m_active;
                           done->store(true);
                         }),
                         done});
  }
  m_stop.store(true);
  for (Worker& w : m_workers) w.thread.join();
  m_workers.clear();
  if (m_listenFd >= 0) {
    ::close(m_listenFd);
    m_listenFd = -1;
  }
}

void Server::Refuse(int fd) {
  // Said without waiting: the accept loop must not block on a slow peer.
  static const std::string body = "too many connections\n";
  std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  (void)send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_WR);
  ::close(fd);
  std::fprintf(stderr, "refused a connection: %d already open\n", m_active.load());
}

std::string Server::NewSearchId() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return "s-" + std::to_string(m_nextSearch++);
}

void Server::StoreSearch(const ResultSet& set) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_searches.push_back(set);
  while (m_searches.size() > kKeptSearches) m_searches.pop_front();
}

std::optional<ResultSet> Server::FindSearch(const std::string& id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (id.empty()) return std::nullopt;
  for (const ResultSet& s : m_searches)
    if (s.searchId == id) return s;
  return std::nullopt;
}

void Server::Serve(int fd) {
  Exchange x;
  // Whatever path the exchange takes, its client is owed nothing once the
  // connection is closed (it is destroyed before this).
  struct AnsweredAtEnd {
    Server& server;
    Exchange& x;
    ~AnsweredAtEnd() {
      server.Answered(x);
      server.LogDue(x, false);
    }
  } answeredAtEnd{*this, x};
  Connection c(fd, m_stop, m_deadline);
  x.snap = Current();
  x.base = x.snap.options.publicBase.empty() ? "http://127.0.0.1:" + std::to_string(m_port) : x.snap.options.publicBase;
  x.limits = m_limits;
  x.limits.ioTimeout = x.snap.options.ioTimeout;
  x.peerPort = c.PeerPort();
  x.time = NowIso();
  const auto requestDeadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(x.limits.requestTimeout));

  x.outcome = ReadHead(c, x.limits, requestDeadline, x.req);
  if (x.outcome == ReadOutcome::NoRequest || x.outcome == ReadOutcome::Stopped) return;
  if (x.outcome != ReadOutcome::Ok) {
    x.seq = m_log->NextSequence();
    x.violations.push_back(ReadOutcomeName(x.outcome));
    x.reply.status = x.outcome == ReadOutcome::Timeout ? 408 : 400;
    x.reply.contentType = kText;
    x.reply.body = std::string(ReadOutcomeName(x.outcome)) + "\n";
    Deliver(c, x);
    if (x.deliveryNote.empty()) Answered(x);
    WriteLog(x);
    c.FinishGracefully(x.limits.drainSeconds);
    return;
  }

  x.info = AnalyseRequest(x.req, m_identity);
  if (x.info.route == Route::Control) {
    x.bControl = true;
    BodyReader(c, x.limits, requestDeadline, x.req).Run();
    HandleControl(c, x.req, x.info);
    c.FinishGracefully(x.limits.drainSeconds);
    return;
  }
  x.seq = m_log->NextSequence();
  x.faults = x.info.urlFaults;
  if (x.info.route != Route::Unknown) {
    if (auto queued = m_faults.Take(x.info.route)) x.faults.push_back(*queued);
  }
  // Faults embedded in a URL only count where they make sense.
  std::erase_if(x.faults, [&](const Fault& f) { return !FaultApplies(f, x.info.route); });
  x.content = ToContentFaults(x.faults);
  if (const Fault* early = FindFault(x.faults, "early-reply")) x.earlyReply = early->IntArg(80);

  BodyReader body(c, x.limits, requestDeadline, x.req);
  x.outcome = body.Run(x.earlyReply);
  if (x.outcome == ReadOutcome::Stopped) return;

  if (HasFault(x.faults, "close") || HasFault(x.faults, "reset")) {
    if (x.earlyReply >= 0) x.outcome = body.Run();
    x.deliveryNote = HasFault(x.faults, "reset") ? "reset" : "closed";
    x.violations.insert(x.violations.begin(), x.req.violations.begin(), x.req.violations.end());
    x.violations.insert(x.violations.end(), x.info.violations.begin(), x.info.violations.end());
    // Logged first, so whoever sees the connection end finds the entry.
    WriteLog(x);
    if (HasFault(x.faults, "reset")) c.Abort(); else c.Close();
    return;
  }

  BuildReply(x);
  Deliver(c, x);
  // A cut reply is answered only by the close that follows it.
  if (x.deliveryNote.empty()) Answered(x);
  if (x.earlyReply >= 0 && x.outcome == ReadOutcome::Ok && !x.req.bodyComplete) {
    // Read and discard the rest, then look at the whole upload for the log.
    // A log request need not wait for an upload its client may still send.
    LogDue(x, false);
    x.outcome = body.Run();
    if (x.info.route == Route::SearchPost && x.req.bodyComplete) {
      UploadBody ub;
      ub.framing = x.req.framing == Request::Framing::Chunked ? UploadBody::Framing::Chunked : UploadBody::Framing::Counted;
      ub.bytes = x.req.body;
      ub.chunks = x.req.chunks;
      ub.terminated = x.req.terminated;
      ub.framingViolations = x.req.bodyViolations;
      const std::string* type = x.info.Param("type");
      ub.type = type ? *type : "";
      x.upload = ValidateUpload(ub);
      for (const std::string& v : x.upload->violations) x.violations.push_back("upload: " + v);
    }
  }
  WriteLog(x);
  if (x.deliveryNote.empty())
    c.FinishGracefully(x.limits.drainSeconds);
  else
    c.Close();  // stalled or truncated: the cut is the point
}

void Server::BuildReply(Exchange& x) {
  const Options& o = x.snap.options;
  const Catalogue& cat = *x.snap.catalogue;
  const RequestInfo& info = x.info;
  DocContext ctx = x.Ctx();
  Reply& r = x.reply;
  x.violations = x.req.violations;
  x.violations.insert(x.violations.end(), info.violations.begin(), info.violations.end());
  if (info.route != Route::SearchPost)
    x.violations.insert(x.violations.end(), x.req.bodyViolations.begin(), x.req.bodyViolations.end());

  auto notFound = [&] {
    r.status = 404;
    r.contentType = kText;
    r.body = "not found\n";
  };
  auto xmlError = [&](const std::string& text) {
    r.contentType = kXml;
    r.body = ErrorElementDocument("serverMessage", text, "", "false");
  };
  auto param = [&](const char* name) {
    const std::string* v = info.Param(name);
    return v ? *v : std::string();
  };

  // The request itself went wrong before any route could answer.
  if (x.outcome != ReadOutcome::Ok && !(info.route == Route::SearchPost && x.outcome == ReadOutcome::Closed)) {
    x.violations.push_back(ReadOutcomeName(x.outcome));
    r.status = x.outcome == ReadOutcome::BodyTooLarge ? 413 : x.outcome == ReadOutcome::Timeout ? 408 : 400;
    r.contentType = kText;
    r.body = std::string(ReadOutcomeName(x.outcome)) + "\n";
    return;
  }
  if (!info.urlFaultError.empty()) {
    x.violations.push_back("URL fault: " + info.urlFaultError);
    r.status = 400;
    r.contentType = kText;
    r.body = "bad fault in URL: " + info.urlFaultError + "\n";
    return;
  }

  switch (info.route) {
    case Route::SearchPost: {
      UploadBody ub;
      ub.framing = x.req.framing == Request::Framing::Chunked ? UploadBody::Framing::Chunked : UploadBody::Framing::Counted;
      ub.bytes = x.req.body;
      ub.chunks = x.req.chunks;
      ub.terminated = x.req.terminated;
      ub.framingViolations = x.req.bodyViolations;
      ub.type = param("type");
      if (x.earlyReply >= 0 && !x.req.bodyComplete) {
        // Answered before the upload is in: no pitch yet, catalogue order.
        ResultSet set = MakeSearchResults(cat, RankTracks(cat, 0), ub.type == "grabbing", NewSearchId());
        StoreSearch(set);
        r.body = SearchDocument(ctx, set);
        break;
      }
      x.upload = ValidateUpload(ub);
      for (const std::string& v : x.upload->violations) x.violations.push_back("upload: " + v);
      if (!x.upload->Valid() || HasFault(x.faults, "reject")) {
        std::string why = x.upload->Valid() ? "rejected on request" : x.upload->violations.front();
        r.body = ErrorRootDocument("error", "Upload rejected: " + why, "serverMessage");
      } else if (x.upload->frames < o.minUploadSeconds * 50) {
        r.body = ErrorRootDocument("error", "Recording too short", "serverMessage");
      } else {
        ResultSet set = MakeSearchResults(cat, RankTracks(cat, x.upload->frequencyHz), ub.type == "grabbing", NewSearchId());
        StoreSearch(set);
        r.body = SearchDocument(ctx, set);
      }
      break;
    }
    case Route::SearchGet: {
      std::optional<ResultSet> set = FindSearch(param("search_id"));
      if (!set) {
        xmlError("This search has expired");
        break;
      }
      set->nameSuffix = " [" + param("lang") + "]";
      r.body = SearchDocument(ctx, *set);
      break;
    }
    case Route::CheckForUpdate: r.body = UpdateDocument(ctx, o.update); break;
    case Route::GetUserInformation:
    case Route::GetUserPlaylist:
    case Route::GetUserRecordings: {
      const User* user = cat.FindUser(param("username"));
      if (!user) {
        xmlError("No such user");
        break;
      }
      if (info.route == Route::GetUserInformation) r.body = UserInformationDocument(ctx, *user);
      else r.body = SearchDocument(ctx, MakeListResults(info.route == Route::GetUserPlaylist ? user->playlist : user->recordings));
      break;
    }
    case Route::GetTrackBuyLinks: {
      const Track* track = info.Param("track_id") ? cat.FindTrack(param("track_id")) : nullptr;
      if (!track) {
        for (const Track& t : cat.tracks)
          if (t.name == param("track_name") && !t.artists.empty() && cat.artists[t.artists[0]].name == param("artist_name"))
            track = &t;
      }
      r.body = BuyLinksDocument(ctx, track);
      break;
    }
    case Route::GetTrackLyricsLink: r.body = LyricsDocument(ctx, cat.FindTrack(param("track_id"))); break;
    case Route::Videos: r.body = VideosDocument(ctx, cat.FindTrack(param("track_id"))); break;
    case Route::Image: {
      if (!EndsWith(info.path, ".png")) {
        notFound();
        return;
      }
      std::string name = info.path.substr(5, info.path.size() - 5 - 4);
      auto it = cat.pictures.find(PercentDecode(name).value);
      if (it == cat.pictures.end()) {
        notFound();
        return;
      }
      r.contentType = "image/png";
      if (HasFault(x.faults, "png-huge")) {
        r.body = MakeHugePng();
      } else if (HasFault(x.faults, "png-tall")) {
        r.body = MakePng({1, 20000, PngKind::Rgb, it->second.seed});
      } else {
        r.body = MakePng(it->second);
      }
      if (HasFault(x.faults, "png-corrupt")) {
        size_t idat = r.body.find("IDAT");
        if (idat != std::string::npos && idat + 8 < r.body.size()) r.body[idat + 6] ^= 0x5A;
      }
      if (HasFault(x.faults, "png-truncated")) r.body.resize(r.body.size() / 2);
      if (HasFault(x.faults, "not-png")) r.body = HtmlPage("Not a picture");
      return;
    }
    case Route::Preview: {
      std::string file = info.path.substr(7);
      if (!EndsWith(file, ".mp3")) {
        notFound();
        return;
      }
      file.resize(file.size() - 4);
      size_t dash = file.find('-');
      std::string kindName = file.substr(0, dash);
      std::string id = dash == std::string::npos ? "" : PercentDecode(file.substr(dash + 1)).value;
      const Track* track = nullptr;
      PreviewKind kind = PreviewKind::Track;
      if (dash != std::string::npos && kindName == "preview") track = cat.FindTrack(id);
      else if (dash != std::string::npos && (kindName == "full" || kindName == "matched")) {
        kind = kindName == "full" ? PreviewKind::Full : PreviewKind::Matched;
        track = cat.TrackOfRecording(id);
      }
      if (!track) {
        notFound();
        return;
      }
      r.contentType = "audio/mpeg";
      r.body = MakeMp3(track->format, PreviewFrequency(track->frequency, kind), o.previewSeconds);
      if (HasFault(x.faults, "mp3-id3")) r.body = WithId3Tag(r.body);
      if (HasFault(x.faults, "mp3-garbage")) r.body = PseudoRandomBytes(r.body.size(), Fnv1a(id) | 1);
      if (HasFault(x.faults, "mp3-short")) r.body.resize(std::min<size_t>(3, r.body.size()));
      return;
    }
    case Route::Package:
      r.contentType = "application/vnd.ms-cab-compressed";
      r.body = "MSCF" + PseudoRandomBytes(static_cast<size_t>(o.packageBytes), 0xCAB5EED);
      x.packageSha = Sha256Hex(r.body);
      return;
    case Route::Page:
      r.contentType = "text/html; charset=utf-8";
      r.body = HtmlPage("Quorel test page: " + info.path.substr(6));
      return;
    default:
      if (info.path == "/v2/") {
        r.status = 404;
        xmlError("Unknown method");
      } else {
        notFound();
      }
      return;
  }
  // Every XML route ends here.
  if (auto error = FaultErrorDocument(ctx)) r.body = *error;
  r.body = ApplyXmlFaults(x.content, r.body);
  if (x.content.htmlError) {
    r.contentType = "text/html; charset=utf-8";
    r.body = HtmlErrorPage();
  }
}

void Server::LogDue(Exchange& x, bool due) {
  if (x.bLogDue == due) return;
  x.bLogDue = due;
  std::lock_guard<std::mutex> lock(m_dueMutex);
  m_logsDue += due ? 1 : -1;
  if (m_logsDue == 0) m_dueWritten.notify_all();
}

void Server::WaitForDueLogs() {
  std::unique_lock<std::mutex> lock(m_dueMutex);
  // Bounded: a reply whose client stopped reading holds its entry back until
  // the write gives up.
  m_dueWritten.wait_for(lock, std::chrono::duration<double>(m_limits.ioTimeout), [this] { return m_logsDue == 0; });
}

void Server::Answered(Exchange& x) {
  if (x.bAnswered || x.bControl) return;
  x.bAnswered = true;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    hook = m_answered;
  }
  if (hook) hook();
}

void Server::Deliver(Connection& c, Exchange& x) {
  const Options& o = x.snap.options;
  Reply& r = x.reply;
  WirePlan& plan = x.plan;
  const auto& faults = x.faults;

  if (x.info.foreignAuthority) {
    r.status = 502;
    r.contentType = kText;
    r.body = "this server only answers for itself\n";
  } else if (o.strictRequests && r.status < 400 && !x.violations.empty()) {
    r.status = 400;
    if (IsXmlRoute(x.info.route) || x.info.path == "/v2/") {
      r.contentType = kXml;
      r.body = x.upload && !x.upload->Valid() ? r.body
                                              : ErrorRootDocument("error", "Bad request: " + x.violations.front(), "serverMessage");
    } else {
      r.contentType = kText;
      r.body = "bad request: " + x.violations.front() + "\n";
    }
  }

  if (const Fault* empty = FindFault(faults, "empty-body")) {
    r.body.clear();
    if (empty->arg == "chunked") plan.chunked = true;
  }

  // gzip: only the search reply, only when asked, unless a fault says otherwise.
  const HeaderLine* accept = x.req.Find("Accept-Encoding");
  bool gzip = x.info.route == Route::SearchPost && accept && accept->value == "gzip" && o.gzip;
  if (HasFault(faults, "no-gzip")) gzip = false;
  for (const char* f : {"gzip-unasked", "gzip-fname", "gzip-upper", "gzip-double", "gzip-corrupt", "gzip-truncated"})
    if (HasFault(faults, f)) gzip = true;
  if (gzip && !r.body.empty()) {
    r.body = GzipCompress(r.body, HasFault(faults, "gzip-fname") ? "reply.xml" : "");
    if (HasFault(faults, "gzip-double")) r.body = GzipCompress(r.body);
    if (HasFault(faults, "gzip-corrupt")) {
      // The reserved block type: no inflater can read past it.
      size_t at = GzipHeaderLength(r.body);
      if (at < r.body.size()) r.body[at] = static_cast<char>(r.body[at] | 0x06);
    }
    if (HasFault(faults, "gzip-truncated")) r.body.resize(r.body.size() / 2);
    r.contentEncoding = HasFault(faults, "gzip-upper") ? "GZIP" : "gzip";
    x.gzipped = true;
  }

  long long delayMs = 0, split = -1, truncate = -1;
  double dribble = 0, stall = -1;
  for (const Fault& f : faults) {
    const std::string& n = f.name;
    if (n == "status") r.status = static_cast<int>(f.IntArg(500));
    else if (n == "redirect") {
      r.status = 302;
      r.contentType = kText;
      r.body = "moved\n";
      r.contentEncoding.clear();
      r.extraHeaders.emplace_back("Location", x.base + "/page/moved");
    } else if (n == "http10") plan.version = "HTTP/1.0";
    else if (n == "no-reason") plan.noReason = true;
    else if (n == "lf-only") plan.lfOnly = true;
    else if (n == "no-space") plan.noSpace = true;
    else if (n == "no-colon") plan.noColon = true;
    else if (n == "dup-length") plan.dupLength = true;
    else if (n == "cl-zero") {
      plan.lengthValue = "0";
      plan.omitBody = true;
    } else if (n == "cl-invalid") plan.lengthValue = f.arg.empty() ? "12abc" : f.arg;
    else if (n == "cl-huge") plan.lengthValue = "100000000";
    else if (n == "te-and-cl") {
      plan.chunked = true;
      plan.alsoLength = true;
    } else if (n == "te-identity") {
      plan.chunked = true;
      plan.transferEncoding = "identity";
    } else if (n == "chunked") {
      plan.chunked = true;
      plan.chunkSize = static_cast<size_t>(f.IntArg(1024));
    } else if (n == "chunk-ext") plan.chunked = plan.chunkExt = true;
    else if (n == "chunk-upper") plan.chunked = plan.chunkUpper = true;
    else if (n == "chunk-bad") plan.chunked = plan.chunkBad = true;
    else if (n == "chunk-long") plan.chunked = plan.chunkLong = true;
    else if (n == "extra-bytes") plan.extraBytes = static_cast<size_t>(f.IntArg(16));
    else if (n == "split") split = f.IntArg(0);
    else if (n == "dribble") dribble = static_cast<double>(f.IntArg(4000));
    else if (n == "delay") delayMs = f.IntArg(1000);
    else if (n == "stall") {
      stall = 3600;
      if (!f.arg.empty()) ParseSeconds(f.arg, stall);
    } else if (n == "truncate") truncate = f.IntArg(-1);
  }
  if (x.info.route == Route::SearchPost) delayMs += o.delayMs;

  RenderedReply rendered = RenderReply(r, plan);
  std::string bytes = std::move(rendered.bytes);
  if (HasFault(faults, "truncate")) {
    size_t at = truncate < 0 ? bytes.size() / 2 : static_cast<size_t>(truncate);
    if (at < bytes.size()) bytes.resize(at);
    x.deliveryNote = "truncated";
  }
  x.replyBytes = bytes.size();
  const double idle = x.limits.ioTimeout;
  if (delayMs > 0) {
    Answered(x);
    if (!c.Wait(static_cast<double>(delayMs) / 1000)) return;
  }

  if (stall >= 0) {
    c.Write(std::string_view(bytes).substr(0, rendered.headLength), idle);
    Answered(x);
    c.Wait(stall);
    x.deliveryNote = "stalled";
    return;
  }
  // The client may have its whole answer before this thread runs again; a
  // log request made after that must find the entry.
  LogDue(x, true);
  if (split >= 0) {
    c.SetNoDelay();
    std::vector<size_t> cuts;
    if (split == 0) {
      cuts = rendered.awkwardSplits;
    } else {
      for (size_t at = static_cast<size_t>(split); at < bytes.size(); at += static_cast<size_t>(split)) cuts.push_back(at);
    }
    size_t from = 0;
    for (size_t cut : cuts) {
      if (cut <= from || cut >= bytes.size()) continue;
      if (c.Write(std::string_view(bytes).substr(from, cut - from), idle) != Connection::Status::Ok) return;
      from = cut;
      if (!c.Wait(0.005)) return;
    }
    c.Write(std::string_view(bytes).substr(from), idle);
  } else if (dribble > 0) {
    c.SetNoDelay();
    if (c.Write(std::string_view(bytes).substr(0, std::min(rendered.headLength, bytes.size())), idle) != Connection::Status::Ok)
      return;
    const double tick = 0.02;
    const size_t piece = std::max<size_t>(1, static_cast<size_t>(dribble * tick));
    for (size_t from = rendered.headLength; from < bytes.size(); from += piece) {
      if (c.Write(std::string_view(bytes).substr(from, piece), idle) != Connection::Status::Ok) return;
      if (from + piece < bytes.size() && !c.Wait(static_cast<double>(piece) / dribble)) return;
    }
  } else {
    c.Write(bytes, idle);
  }
}

void Server::HandleControl(Connection& c, const Request& req, const RequestInfo& info) {
  Reply r;
  r.contentType = kText;
  r.body = "ok\n";
  std::vector<std::pair<std::string, std::string>> params;
  for (const std::string& item : Split(info.query, '&')) {
    if (item.empty()) continue;
    auto kv = Split(item, '=', 2);
    params.emplace_back(PercentDecode(kv[0]).value, kv.size() == 2 ? PercentDecode(kv[1]).value : "");
  }
  auto get = [&](const char* name) -> const std::string* {
    for (const auto& p : params)
      if (p.first == name) return &p.second;
    return nullptr;
  };
  auto fail = [&](int status, const std::string& why) {
    r.status = status;
    r.body = why + "\n";
  };
  const std::string command = info.path.substr(6);
  bool quit = false;
  if (info.absoluteForm) {
    fail(403, "control only in origin form");
  } else if (command == "set") {
    Options copy = Current().options;
    std::string error;
    bool ok = !params.empty();
    if (!ok) error = "nothing to set";
    for (const auto& [name, value] : params)
      if (ok && !ApplyOption(copy, name, value, true, error)) ok = false;
    if (!ok) {
      fail(400, error);
    } else {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (copy.catalogue != m_options.catalogue) m_catalogue = std::make_shared<const Catalogue>(*Catalogue::ByName(copy.catalogue));
      m_options = copy;
    }
  } else if (command == "inject") {
    const std::string* routeName = get("route");
    const std::string* faultName = get("fault");
    const std::string* arg = get("arg");
    const std::string* countText = get("count");
    std::optional<Route> route = routeName ? RouteFromName(*routeName) : std::nullopt;
    long long count = 1;
    std::string error;
    if (!route) {
      fail(400, "inject needs route= with a known route");
    } else if (!faultName) {
      fail(400, "inject needs fault=");
    } else if (countText && (!ParseInt(*countText, count) || count < 0)) {
      fail(400, "count must be a whole number, 0 meaning until reset");
    } else {
      auto fault = ParseFault(*faultName + (arg ? ":" + *arg : ""), error);
      if (!fault || !m_faults.Push(*route, *fault, count, error)) fail(400, error);
    }
  } else if (command == "log") {
    long long since = 1;
    if (const std::string* s = get("since"); s && !ParseInt(*s, since)) {
      fail(400, "since must be a sequence number");
    } else {
      r.contentType = "application/x-ndjson";
      WaitForDueLogs();
      r.body = m_log->Since(since);
    }
  } else if (command == "reset") {
    m_faults.Clear();
    m_log->Clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_searches.clear();
    m_nextSearch = 1;
    m_options = m_startOptions;
    m_catalogue = std::make_shared<const Catalogue>(*Catalogue::ByName(m_options.catalogue));
  } else if (command == "quit") {
    r.body = "bye\n";
    quit = true;
  } else {
    fail(404, "unknown control command");
  }
  (void)req;
  c.Write(RenderReply(r, WirePlan{}).bytes, m_limits.ioTimeout);
  // Only now: a stopping server writes nothing more.
  if (quit) Stop();
}

void Server::WriteLog(Exchange& x) {
  const Request& q = x.req;
  std::string j = "{\"seq\":" + std::to_string(x.seq);
  j += ",\"time\":" + JsonString(x.time);
  j += ",\"peer_port\":" + std::to_string(x.peerPort);
  j += ",\"method\":" + JsonString(q.method);
  j += ",\"target\":" + JsonString(q.target);
  j += ",\"form\":" + JsonString(x.info.absoluteForm ? "absolute" : "origin");
  j += ",\"route\":" + JsonString(RouteName(x.info.route));
  j += ",\"headers\":" + JsonArray(q.rawHeaderLines);
  j += ",\"params\":[";
  for (size_t i = 0; i < x.info.params.size(); ++i)
    j += (i ? "," : "") + std::string("[") + JsonString(x.info.params[i].first) + "," + JsonString(x.info.params[i].second) + "]";
  j += "]";
  const char* framing = q.framing == Request::Framing::Chunked ? "chunked" : q.framing == Request::Framing::Counted ? "counted" : "none";
  j += ",\"framing\":" + JsonString(framing);
  j += ",\"body_length\":" + std::to_string(q.body.size());
  j += ",\"body_complete\":" + std::string(q.bodyComplete ? "true" : "false");
  j += ",\"chunks\":[";
  for (size_t i = 0; i < q.chunks.size(); ++i)
    j += (i ? "," : "") + std::string("{\"size\":") + std::to_string(q.chunks[i].size) + ",\"ms\":" + JsonNumber(q.chunks[i].arrivalMs) + "}";
  j += "]";
  if (x.upload) {
    const UploadReport& u = *x.upload;
    j += ",\"upload\":{\"valid\":" + std::string(u.Valid() ? "true" : "false");
    j += ",\"header_ok\":" + std::string(u.headerOk ? "true" : "false");
    j += ",\"frames\":" + std::to_string(u.frames);
    j += ",\"lengths\":{";
    bool first = true;
    for (const auto& [len, count] : u.lengthHistogram) {
      j += (first ? "" : ",") + JsonString(std::to_string(len)) + ":" + std::to_string(count);
      first = false;
    }
    j += "},\"decode_errors\":" + std::to_string(u.decodeErrors);
    j += ",\"duration_s\":" + JsonNumber(u.durationSeconds);
    j += ",\"rms\":" + JsonNumber(u.rms);
    j += ",\"frequency_hz\":" + JsonNumber(u.frequencyHz);
    j += ",\"whole_buffers\":" + std::string(u.wholeBuffers ? "true" : "false");
    j += ",\"violations\":" + JsonArray(u.violations) + "}";
  }
  std::vector<std::string> faultNames;
  for (const Fault& f : x.faults) faultNames.push_back(f.Describe());
  j += ",\"reply\":{\"status\":" + std::to_string(x.reply.status);
  j += ",\"framing\":" + JsonString(x.plan.chunked ? "chunked" : "counted");
  j += ",\"body_bytes\":" + std::to_string(x.reply.body.size());
  j += ",\"bytes\":" + std::to_string(x.replyBytes);
  j += ",\"gzip\":" + std::string(x.gzipped ? "true" : "false");
  j += ",\"faults\":" + JsonArray(faultNames);
  if (!x.deliveryNote.empty()) j += ",\"delivery\":" + JsonString(x.deliveryNote);
  j += "}";
  if (!x.packageSha.empty()) j += ",\"package_sha256\":" + JsonString(x.packageSha);
  j += ",\"violations\":" + JsonArray(x.violations) + "}";

  std::string line = "#" + std::to_string(x.seq) + " " + q.method + " " + q.target + " -> ";
  line += x.deliveryNote == "closed" || x.deliveryNote == "reset" ? x.deliveryNote
                                                                   : std::to_string(x.reply.status) + " " + std::to_string(x.replyBytes) + " bytes";
  if (x.gzipped) line += " gzip";
  if (!faultNames.empty()) line += " faults: " + JsonArray(faultNames);
  if (x.upload)
    line += " upload: " + std::to_string(x.upload->frames) + " frames, " + JsonNumber(x.upload->frequencyHz) + " Hz";
  if (!x.violations.empty()) line += " VIOLATIONS(" + std::to_string(x.violations.size()) + "): " + x.violations.front();
  m_log->Add(x.seq, j, SanitizeUtf8(line));
  LogDue(x, false);
}

}  // namespace qps
