#include "tools/protocol-server/Http.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace qps {

namespace {

constexpr double kSlice = 0.05;  // seconds: how often waits look at the stop flag

int SliceMillis(double seconds) {
  return static_cast<int>(std::clamp(seconds, 0.0, kSlice) * 1000) + 1;
}

}  // namespace

Connection::Connection(int fd, const std::atomic<bool>& stop, Clock::time_point hardDeadline)
    : m_fd(fd), m_stop(stop), m_hardDeadline(hardDeadline), m_start(Clock::now()) {}

Connection::~Connection() { Close(); }

bool Connection::Stopping() const {
  return m_stop.load() || Clock::now() >= m_hardDeadline;
}

Connection::Status Connection::ReadMore(double idle, Clock::time_point deadline) {
  if (m_fd < 0) return Status::Error;
  auto end = std::min({Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idle)),
                       deadline, m_hardDeadline});
  char buffer[65536];
  while (true) {
    if (m_stop.load()) return Status::Stopped;
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return Clock::now() >= m_hardDeadline ? Status::Stopped : Status::Timeout;
    pollfd p{m_fd, POLLIN, 0};
    int rc = poll(&p, 1, SliceMillis(left));
    if (rc < 0 && errno != EINTR) return Status::Error;
    if (rc <= 0) continue;
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      m_in.append(buffer, static_cast<size_t>(n));
      return Status::Ok;
    }
    if (n == 0) return Status::Eof;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return Status::Error;
  }
}

Connection::Status Connection::Write(std::string_view data, double idle) {
  if (m_fd < 0) return Status::Error;
  size_t sent = 0;
  auto idleEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idle));
  while (sent < data.size()) {
    if (m_stop.load()) return Status::Stopped;
    auto end = std::min(idleEnd, m_hardDeadline);
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return Status::Timeout;
    pollfd p{m_fd, POLLOUT, 0};
    int rc = poll(&p, 1, SliceMillis(left));
    if (rc < 0 && errno != EINTR) return Status::Error;
    if (rc <= 0) continue;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return Status::Error;
    ssize_t n = send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      idleEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idle));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return Status::Error;
  }
  return Status::Ok;
}

bool Connection::Wait(double seconds) {
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    if (Stopping()) return false;
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, kSlice)));
  }
  return !Stopping();
}

void Connection::SetNoDelay() {
  int one = 1;
  setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void Connection::FinishGracefully(double drainSeconds) {
  if (m_fd < 0) return;
  shutdown(m_fd, SHUT_WR);
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(drainSeconds));
  char buffer[4096];
  while (Clock::now() < end && !m_stop.load()) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    pollfd p{m_fd, POLLIN, 0};
    int rc = poll(&p, 1, SliceMillis(left));
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0) continue;
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  Close();
}

void Connection::Abort() {
  if (m_fd < 0) return;
  linger l{1, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void Connection::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

int Connection::PeerPort() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (m_fd < 0 || getpeername(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

const HeaderLine* Request::Find(std::string_view name) const {
  for (const HeaderLine& h : headers)
    if (IEquals(h.name, name)) return &h;
  return nullptr;
}

const char* ReadOutcomeName(ReadOutcome outcome) {
  switch (outcome) {
    case ReadOutcome::Ok: return "ok";
    case ReadOutcome::NoRequest: return "no request";
    case ReadOutcome::HeadTooLarge: return "request head too large";
    case ReadOutcome::BadRequest: return "bad request";
    case ReadOutcome::BodyTooLarge: return "request body too large";
    case ReadOutcome::Timeout: return "request timed out";
    case ReadOutcome::Closed: return "connection closed mid-request";
    case ReadOutcome::Stopped: return "server stopping";
  }
  return "?";
}

ReadOutcome ReadHead(Connection& c, const IoLimits& limits, Clock::time_point deadline, Request& req) {
  size_t end = std::string::npos;
  while (true) {
    const std::string& in = c.In();
    size_t crlf = in.find("\r\n\r\n");
    size_t lf = in.find("\n\n");
    if (crlf != std::string::npos) end = crlf + 4;
    if (lf != std::string::npos && (end == std::string::npos || lf + 2 < end)) end = lf + 2;
    size_t scanned = end == std::string::npos ? in.size() : end;
    if (scanned > limits.maxHeadBytes) return ReadOutcome::HeadTooLarge;
    if (std::count(in.begin(), in.begin() + static_cast<long>(scanned), '\n') > limits.maxHeadLines + 1)
      return ReadOutcome::HeadTooLarge;
    if (end != std::string::npos) break;
    switch (c.ReadMore(limits.ioTimeout, deadline)) {
      case Connection::Status::Ok: continue;
      case Connection::Status::Eof:
      case Connection::Status::Error: return in.empty() ? ReadOutcome::NoRequest : ReadOutcome::Closed;
      case Connection::Status::Timeout: return in.empty() ? ReadOutcome::NoRequest : ReadOutcome::Timeout;
      case Connection::Status::Stopped: return ReadOutcome::Stopped;
    }
  }
  std::string head = c.In().substr(0, end);
  c.In().erase(0, end);
  req.headMs = c.MillisSinceStart();

  std::vector<std::string> lines;
  bool bareLf = false;
  size_t start = 0;
  while (start < head.size()) {
    size_t nl = head.find('\n', start);
    std::string line = head.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    else
      bareLf = true;
    lines.push_back(line);
    start = nl + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (bareLf) req.violations.push_back("line ends with a bare LF instead of CR LF");
  if (lines.empty()) return ReadOutcome::BadRequest;

  req.requestLine = lines[0];
  // Method and version are the outer words; a raw space inside the target
  // (an unescaped query value) keeps the target whole and is named later.
  size_t first = req.requestLine.find(' ');
  size_t last = req.requestLine.rfind(' ');
  if (first == std::string::npos || last <= first + 1 || first == 0 || last + 1 >= req.requestLine.size())
    return ReadOutcome::BadRequest;
  req.method = req.requestLine.substr(0, first);
  req.target = req.requestLine.substr(first + 1, last - first - 1);
  req.version = req.requestLine.substr(last + 1);
  if (req.version != "HTTP/1.1") req.violations.push_back("request line ends with '" + req.version + "', not HTTP/1.1");

  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    req.rawHeaderLines.push_back(line);
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) {
      req.violations.push_back("header line without a name and ':': '" + line + "'");
      continue;
    }
    HeaderLine h{line.substr(0, colon), line.substr(colon + 1)};
    if (h.name.find_first_of(" \t") != std::string::npos)
      req.violations.push_back("blank inside the header name '" + h.name + "'");
    if (h.value.size() < 2 || h.value[0] != ' ' || h.value[1] == ' ' || h.value[1] == '\t')
      req.violations.push_back("header " + h.name + ": not exactly one space after the colon");
    size_t first = h.value.find_first_not_of(" \t");
    h.value = first == std::string::npos ? "" : h.value.substr(first);
    if (req.Find(h.name)) req.violations.push_back("header " + h.name + " appears twice");
    req.headers.push_back(h);
  }

  const HeaderLine* te = req.Find("Transfer-Encoding");
  const HeaderLine* cl = req.Find("Content-Length");
  if (te) {
    req.framing = Request::Framing::Chunked;
    if (te->value != "chunked") req.violations.push_back("Transfer-Encoding is '" + te->value + "', not chunked");
    if (cl) req.violations.push_back("both Transfer-Encoding and Content-Length");
  } else if (cl) {
    long long n = 0;
    if (!ParseInt(cl->value, n) || n < 0) return ReadOutcome::BadRequest;
    req.framing = Request::Framing::Counted;
    req.contentLength = n;
  }
  return ReadOutcome::Ok;
}

BodyReader::BodyReader(Connection& c, const IoLimits& limits, Clock::time_point deadline, Request& req)
    : m_c(c), m_limits(limits), m_deadline(deadline), m_req(req) {}

ReadOutcome BodyReader::Fill() {
  switch (m_c.ReadMore(m_limits.ioTimeout, m_deadline)) {
    case Connection::Status::Ok: return ReadOutcome::Ok;
    case Connection::Status::Eof:
    case Connection::Status::Error: return ReadOutcome::Closed;
    case Connection::Status::Timeout: return ReadOutcome::Timeout;
    case Connection::Status::Stopped: return ReadOutcome::Stopped;
  }
  return ReadOutcome::Closed;
}

bool BodyReader::TakeLine(std::string& line, bool& bareLf) {
  std::string& in = m_c.In();
  size_t nl = in.find('\n');
  if (nl == std::string::npos) return false;
  line = in.substr(0, nl);
  in.erase(0, nl + 1);
  bareLf = line.empty() || line.back() != '\r';
  if (!bareLf) line.pop_back();
  return true;
}

ReadOutcome BodyReader::Run(long long stopAfter) {
  auto enough = [&] { return stopAfter >= 0 && static_cast<long long>(m_req.body.size()) >= stopAfter; };
  if (m_req.framing == Request::Framing::None) {
    m_req.bodyComplete = true;
    return ReadOutcome::Ok;
  }
  if (m_req.framing == Request::Framing::Counted) {
    if (static_cast<unsigned long long>(m_req.contentLength) > m_limits.maxBodyBytes) return ReadOutcome::BodyTooLarge;
    const size_t total = static_cast<size_t>(m_req.contentLength);
    while (true) {
      std::string& in = m_c.In();
      size_t take = std::min(total - m_req.body.size(), in.size());
      if (stopAfter >= 0) {
        long long wanted = std::max<long long>(0, stopAfter - static_cast<long long>(m_req.body.size()));
        take = std::min(take, static_cast<size_t>(wanted));
      }
      m_req.body.append(in, 0, take);
      in.erase(0, take);
      if (m_req.body.size() == total) {
        m_req.bodyComplete = true;
        return ReadOutcome::Ok;
      }
      if (enough()) return ReadOutcome::Ok;
      ReadOutcome r = Fill();
      if (r != ReadOutcome::Ok) {
        if (r == ReadOutcome::Closed)
          m_req.bodyViolations.push_back("body ended after " + std::to_string(m_req.body.size()) + " of " +
                                         std::to_string(total) + " announced bytes");
        return r;
      }
    }
  }
  constexpr size_t kMaxSizeLine = 256;
  while (m_state != State::Done) {
    if (enough()) return ReadOutcome::Ok;
    std::string& in = m_c.In();
    bool progressed = false;
    switch (m_state) {
      case State::SizeLine: {
        std::string line;
        bool bareLf = false;
        if (!TakeLine(line, bareLf)) {
          if (in.size() > kMaxSizeLine) return ReadOutcome::BadRequest;
          break;
        }
        progressed = true;
        if (bareLf) m_req.bodyViolations.push_back("chunk size line ends with a bare LF");
        size_t semi = line.find(';');
        if (semi != std::string::npos) {
          m_req.bodyViolations.push_back("chunk extension in '" + line + "'");
          line.resize(semi);
        }
        if (line.empty() || line.size() > 16 || line.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
          return ReadOutcome::BadRequest;
        if (line.find_first_of("ABCDEF") != std::string::npos)
          m_req.bodyViolations.push_back("chunk size '" + line + "' in upper-case hexadecimal");
        if (line.size() > 1 && line[0] == '0')
          m_req.bodyViolations.push_back("chunk size '" + line + "' with leading zeros");
        m_remaining = std::stoull(line, nullptr, 16);
        if (m_remaining == 0) {
          m_state = State::Trailers;
        } else {
          if (m_req.body.size() + m_remaining > m_limits.maxBodyBytes) return ReadOutcome::BodyTooLarge;
          m_req.chunks.push_back({m_remaining, 0});
          m_state = State::Data;
        }
        break;
      }
      case State::Data: {
        size_t take = static_cast<size_t>(std::min<unsigned long long>(m_remaining, in.size()));
        if (take == 0) break;
        m_req.body.append(in, 0, take);
        in.erase(0, take);
        m_remaining -= take;
        progressed = true;
        if (m_remaining == 0) {
          m_req.chunks.back().arrivalMs = m_c.MillisSinceStart() - m_req.headMs;
          m_state = State::DataEnd;
        }
        break;
      }
      case State::DataEnd: {
        if (in.size() >= 2 && in.compare(0, 2, "\r\n") == 0) {
          in.erase(0, 2);
        } else if (!in.empty() && in[0] == '\n') {
          m_req.bodyViolations.push_back("chunk data ends with a bare LF");
          in.erase(0, 1);
        } else if (in.size() >= 2 || (!in.empty() && in[0] != '\r')) {
          return ReadOutcome::BadRequest;  // chunk longer than its size line says
        } else {
          break;
        }
        progressed = true;
        m_state = State::SizeLine;
        break;
      }
      case State::Trailers: {
        std::string line;
        bool bareLf = false;
        if (!TakeLine(line, bareLf)) {
          if (in.size() > m_limits.maxHeadBytes) return ReadOutcome::BadRequest;
          break;
        }
        progressed = true;
        if (line.empty()) {
          m_req.terminated = true;
          m_req.bodyComplete = true;
          m_state = State::Done;
          if (!m_c.In().empty()) m_req.bodyViolations.push_back("bytes after the end of the request");
        } else {
          m_req.bodyViolations.push_back("trailer after the last chunk: '" + line + "'");
        }
        break;
      }
      case State::Done: break;
    }
    if (!progressed && m_state != State::Done) {
      ReadOutcome r = Fill();
      if (r != ReadOutcome::Ok) return r;
    }
  }
  return ReadOutcome::Ok;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

RenderedReply RenderReply(const Reply& reply, const WirePlan& plan) {
  RenderedReply out;
  const std::string eol = plan.lfOnly ? "\n" : "\r\n";
  const std::string sep = plan.noSpace ? ":" : ": ";
  std::string& b = out.bytes;
  auto header = [&](const std::string& name, const std::string& value) { b += name + sep + value + eol; };

  b = plan.version + " " + std::to_string(reply.status);
  if (!plan.noReason) b += std::string(" ") + ReasonPhrase(reply.status);
  out.awkwardSplits.push_back(4);  // inside "HTTP"
  out.awkwardSplits.push_back(b.size() + (plan.lfOnly ? 0 : 1));  // between CR and LF
  b += eol;
  size_t firstHeader = b.size();
  header("Content-Type", reply.contentType);
  out.awkwardSplits.push_back(firstHeader + 7);  // inside a header name
  if (plan.noColon) b += "X-Header-Without-Colon" + eol;
  const std::string length = std::to_string(reply.body.size());
  if (plan.chunked) {
    header("Transfer-Encoding", plan.transferEncoding);
    if (plan.alsoLength) header("Content-Length", length);
  } else {
    header("Content-Length", plan.lengthValue.value_or(length));
    if (plan.dupLength) header("Content-Length", std::to_string(reply.body.size() + 7));
  }
  if (!reply.contentEncoding.empty()) header("Content-Encoding", reply.contentEncoding);
  for (const auto& [name, value] : reply.extraHeaders) header(name, value);
  header("Connection", "close");
  out.awkwardSplits.push_back(b.size() + (plan.lfOnly ? 0 : 1));  // inside the blank line
  b += eol;
  out.headLength = b.size();

  if (!plan.chunked) {
    if (!plan.omitBody) b += reply.body;
  } else {
    const size_t piece = plan.chunkSize ? plan.chunkSize : plan.chunkUpper ? 0xAB : std::max<size_t>(reply.body.size(), 1);
    bool first = true;
    for (size_t pos = 0; pos < reply.body.size(); pos += piece) {
      size_t n = std::min(piece, reply.body.size() - pos);
      char hex[32];
      std::snprintf(hex, sizeof hex, plan.chunkUpper ? "%zX" : "%zx", n);
      std::string sizeLine = hex;
      if (first && plan.chunkBad) sizeLine = "zz";
      if (first && plan.chunkLong) sizeLine = std::string(20000, '0') + sizeLine;
      if (plan.chunkExt) sizeLine += ";note=\"ext\"";
      if (first) out.awkwardSplits.push_back(b.size() + std::min<size_t>(1, sizeLine.size()));
      b += sizeLine + eol;
      b.append(reply.body, pos, n);
      b += eol;
      first = false;
    }
    b += std::string("0") + (plan.chunkExt ? ";last=1" : "") + eol;
    if (plan.chunkExt) b += "X-Trailer" + sep + "yes" + eol;
    b += eol;
  }
  if (plan.extraBytes) b += std::string(plan.extraBytes, 'x');
  std::sort(out.awkwardSplits.begin(), out.awkwardSplits.end());
  out.awkwardSplits.erase(std::unique(out.awkwardSplits.begin(), out.awkwardSplits.end()), out.awkwardSplits.end());
  std::erase_if(out.awkwardSplits, [&](size_t s) { return s == 0 || s >= b.size(); });
  return out;
}

}  // namespace qps
