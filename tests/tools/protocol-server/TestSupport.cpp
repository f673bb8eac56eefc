#include "tools/protocol-server/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <speex/speex.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace qpstest {

const char* const kUserAgent =
    "AppNumber=10 AppVersion=1.6.57.0 APIVersion=1.0.0.0 IMEI=356938035643809 6IMSI=262011 IMSI=262011234567890 "
    "IDDEV=a3f0c1e9 DEV=Orvane Pebble 4 LANG=EN";

qps::Options TestOptions() {
  qps::Options o;
  o.strictRequests = true;
  o.lifetime = 300;
  o.previewSeconds = 1;
  o.ioTimeout = 5;
  return o;
}

ServerHarness::ServerHarness(qps::Options options, qps::IoLimits limits) : m_server(std::move(options), limits) {
  std::string error;
  if (!m_server.Start(error)) throw std::runtime_error("server did not start: " + error);
  m_thread = std::thread([this] { m_server.Run(); });
}

ServerHarness::~ServerHarness() {
  m_server.Stop();
  m_thread.join();
}

std::vector<std::string> ServerHarness::Log() {
  std::vector<std::string> lines;
  std::string all = m_server.Log().Since(1);
  size_t start = 0;
  while (start < all.size()) {
    size_t nl = all.find('\n', start);
    std::string line = all.substr(start, nl - start);
    if (line.rfind("{\"next\":", 0) != 0) lines.push_back(line);
    start = nl + 1;
  }
  return lines;
}

std::string ServerHarness::LastLog() {
  // Entries are written after the reply; give the connection thread a moment.
  std::vector<std::string> lines;
  support::PollUntil([&] {
    lines = Log();
    return !lines.empty();
  }, 0, std::chrono::milliseconds(5));
  return lines.empty() ? std::string() : lines.back();
}

namespace {

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

// What the server's end of the loopback connection from `clientPort` holds
// unread, as the kernel lists it; -1 while it is not listed.
long UnreadByServer(int serverPort, int clientPort) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the column names
  while (std::getline(table, line)) {
    unsigned localPort = 0, remotePort = 0;
    unsigned long sending = 0, unread = 0;
    if (std::sscanf(line.c_str(), " %*u: %*x:%x %*x:%x %*x %lx:%lx", &localPort, &remotePort, &sending, &unread) != 4)
      continue;
    if (static_cast<int>(localPort) == serverPort && static_cast<int>(remotePort) == clientPort)
      return static_cast<long>(unread);
  }
  return -1;
}

std::string ReadToEnd(int fd, double timeoutSeconds) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  char buffer[65536];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

}  // namespace

std::string Fetch(int port, const std::string& bytes, bool halfClose, double timeoutSeconds) {
  int fd = Connect(port);
  if (fd < 0) return {};
  SendAll(fd, bytes);
  if (halfClose) shutdown(fd, SHUT_WR);
  return ReadToEnd(fd, timeoutSeconds);
}

std::string FetchInPieces(int port, const std::vector<std::string>& pieces, double pauseSeconds) {
  int fd = Connect(port);
  if (fd < 0) return {};
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in self{};
  socklen_t length = sizeof self;
  getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length);
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i) {
      support::PollUntil([&] { return UnreadByServer(port, ntohs(self.sin_port)) == 0; }, 0,
                         std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::duration<double>(pauseSeconds));
    }
    SendAll(fd, pieces[i]);
  }
  return ReadToEnd(fd, kHangSeconds);
}

Relay::Relay(int serverPort, bool holdReplyEnd) : m_serverPort(serverPort), m_hold(holdReplyEnd) {
  m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(m_listenFd, 16) != 0 || getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    throw std::runtime_error("relay did not start");
  m_port = ntohs(addr.sin_port);
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

Relay::~Relay() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop.store(true);
  }
  m_released.notify_all();
  m_acceptThread.join();
  for (std::thread& t : m_pumps) t.join();
  close(m_listenFd);
}

std::string Relay::Forwarded() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_forwarded;
}

void Relay::Release() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hold = false;
  }
  m_released.notify_all();
}

bool Relay::Holding() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_hold;
}

void Relay::AcceptLoop() {
  while (!m_stop.load()) {
    pollfd p{m_listenFd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    int client = accept(m_listenFd, nullptr, nullptr);
    if (client < 0) continue;
    m_pumps.emplace_back([this, client] { Pump(client); });
  }
}

// Up and down until both sides are done or the relay stops; every wait is
// sliced so that the destructor never waits on a peer.
void Relay::Pump(int client) {
  int server = Connect(m_serverPort);
  if (server < 0) {
    close(client);
    return;
  }
  for (int fd : {client, server}) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  bool upOpen = true, downOpen = true;
  // The head waits until whole so that its Host can name the server, which
  // checks it; everything else goes up as it came.
  std::string head;
  bool headSent = false;
  const std::string relayHost = "\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\n";
  const std::string serverHost = "\r\nHost: 127.0.0.1:" + std::to_string(m_serverPort) + "\r\n";
  std::string heldEnd;  // the latest byte down, while reply ends are held
  char buffer[65536];
  while ((upOpen || downOpen) && !m_stop.load()) {
    // Released while the server keeps its connection open: the held byte
    // goes now, not with the server's next bytes or its close.
    if (!heldEnd.empty() && !Holding()) {
      SendAll(client, heldEnd);
      heldEnd.clear();
    }
    pollfd p[2] = {{client, static_cast<short>(upOpen ? POLLIN : 0), 0},
                   {server, static_cast<short>(downOpen ? POLLIN : 0), 0}};
    if (poll(p, 2, 20) <= 0) continue;
    if (upOpen && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) {
        upOpen = false;
        shutdown(server, SHUT_WR);
      } else {
        {
          std::lock_guard<std::mutex> guard(m_lock);
          m_forwarded.append(buffer, static_cast<size_t>(n));
        }
        if (headSent) {
          SendAll(server, std::string(buffer, static_cast<size_t>(n)));
        } else {
          head.append(buffer, static_cast<size_t>(n));
          if (size_t end = head.find("\r\n\r\n"); end != std::string::npos) {
            if (size_t at = head.find(relayHost); at < end) head.replace(at, relayHost.size(), serverHost);
            SendAll(server, head);
            headSent = true;
          }
        }
      }
    }
    if (downOpen && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = recv(server, buffer, sizeof buffer, 0);
      if (n <= 0) {
        downOpen = false;
        std::unique_lock<std::mutex> lock(m_lock);
        m_released.wait(lock, [&] { return !m_hold || m_stop.load(); });
        lock.unlock();
        SendAll(client, heldEnd);
        shutdown(client, SHUT_WR);
      } else {
        std::string down = heldEnd + std::string(buffer, static_cast<size_t>(n));
        heldEnd = Holding() ? down.substr(down.size() - 1) : std::string();
        down.resize(down.size() - heldEnd.size());
        SendAll(client, down);
      }
    }
  }
  close(server);
  close(client);
}

RawConnection::RawConnection(int port) : m_fd(Connect(port)) {}

RawConnection::~RawConnection() {
  if (m_fd >= 0) close(m_fd);
}

void RawConnection::Send(const std::string& bytes) { SendAll(m_fd, bytes); }

std::string RawConnection::ReadReply(double timeoutSeconds) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  char buffer[65536];
  while (std::chrono::steady_clock::now() < end) {
    size_t headEnd = out.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      size_t cl = out.find("Content-Length: ");
      if (cl != std::string::npos && cl < headEnd &&
          out.size() >= headEnd + 4 + std::stoul(out.substr(cl + 16)))
        break;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

bool RawConnection::ReadToClose(std::string& out, double timeoutSeconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  char buffer[65536];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
  return false;
}

std::string Response::Header(const std::string& name) const {
  std::string value;
  for (const std::string& line : headerLines)
    if (line.rfind(name + ": ", 0) == 0) value = line.substr(name.size() + 2);
  return value;
}

Response ParseResponse(const std::string& raw) {
  Response r;
  r.raw = raw;
  size_t headEnd = raw.find("\r\n\r\n");
  if (headEnd == std::string::npos) {
    r.error = "no CR LF CR LF";
    return r;
  }
  std::string head = raw.substr(0, headEnd + 2);
  size_t pos = 0;
  std::vector<std::string> lines;
  while (pos < head.size()) {
    size_t crlf = head.find("\r\n", pos);
    std::string line = head.substr(pos, crlf - pos);
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) {
      r.error = "bare line end";
      return r;
    }
    lines.push_back(line);
    pos = crlf + 2;
  }
  r.statusLine = lines[0];
  if (r.statusLine.size() < 13 || r.statusLine.compare(0, 9, "HTTP/1.1 ") != 0 || r.statusLine[12] != ' ') {
    r.error = "status line '" + r.statusLine + "'";
    return r;
  }
  r.status = std::stoi(r.statusLine.substr(9, 3));
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t colon = lines[i].find(':');
    if (colon == std::string::npos || lines[i].compare(colon, 2, ": ") != 0 || lines[i].size() < colon + 3 ||
        lines[i][colon + 2] == ' ') {
      r.error = "header line '" + lines[i] + "'";
      return r;
    }
    r.headerLines.push_back(lines[i]);
  }
  std::string body = raw.substr(headEnd + 4);
  if (!r.Header("Transfer-Encoding").empty()) {
    size_t p = 0;
    while (true) {
      size_t crlf = body.find("\r\n", p);
      if (crlf == std::string::npos) {
        r.error = "chunk size line";
        return r;
      }
      unsigned long n = std::stoul(body.substr(p, crlf - p), nullptr, 16);
      p = crlf + 2;
      if (n == 0) break;
      r.body += body.substr(p, n);
      p += n + 2;
    }
  } else {
    std::string cl = r.Header("Content-Length");
    if (cl.empty()) {
      r.error = "no Content-Length";
      return r;
    }
    size_t n = std::stoul(cl);
    if (body.size() != n) {
      r.error = "body of " + std::to_string(body.size()) + " bytes, Content-Length " + cl;
      return r;
    }
    r.body = body;
  }
  r.ok = true;
  return r;
}

std::string ClientRequest::Bytes() const {
  std::string authority = "127.0.0.1:" + std::to_string(port);
  std::string out = method + " " + (proxy ? "http://" + authority : "") + target + " HTTP/1.1\r\n";
  out += "Host: " + authority + "\r\n";
  std::string payload;
  for (const std::string& p : pieces) payload += p;
  if (body == Body::Chunked) out += "Transfer-Encoding: chunked\r\n";
  if (body == Body::Counted) out += "Content-Length: " + std::to_string(payload.size()) + "\r\n";
  if (search) {
    out += "Accept-Encoding: gzip\r\n";
    out += "Content-Type: binary/octet-stream\r\n";
  }
  if (proxy) out += "Proxy-Connection: Keep-Alive\r\n";
  out += "User-Agent: " + userAgent + "\r\n\r\n";
  if (body == Body::Chunked) {
    for (const std::string& p : pieces) {
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", p.size());
      out += size + p + "\r\n";
    }
    out += "0\r\n\r\n";
  } else if (body == Body::Counted) {
    out += payload;
  }
  return out;
}

std::string SpeexHeader() {
  std::string h = "Speex   ";
  std::string version = "1.2beta3";
  version.resize(20, '\0');
  h += version;
  for (int32_t v : {1, 80, 8000, 0, 4, 1, -1, 160, 0, 0, 0, 0, 0})
    for (int i = 0; i < 4; ++i) h += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return h;
}

std::vector<std::string> EncodeTone(double frequency, double seconds, double amplitude) {
  void* state = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
  int vbr = 0, quality = 8, complexity = 1, highpass = 1;
  speex_encoder_ctl(state, SPEEX_SET_VBR, &vbr);
  speex_encoder_ctl(state, SPEEX_SET_QUALITY, &quality);
  speex_encoder_ctl(state, SPEEX_SET_COMPLEXITY, &complexity);
  speex_encoder_ctl(state, SPEEX_SET_HIGHPASS, &highpass);
  SpeexBits bits;
  speex_bits_init(&bits);
  std::vector<std::string> frames;
  const int total = static_cast<int>(seconds * 8000);
  spx_int16_t pcm[160];
  for (int start = 0; start + 160 <= total; start += 160) {
    for (int i = 0; i < 160; ++i)
      pcm[i] = static_cast<spx_int16_t>(amplitude * std::sin(2 * M_PI * frequency * (start + i) / 8000.0));
    speex_bits_reset(&bits);
    speex_encode_int(state, pcm, &bits);
    char out[200];
    int n = speex_bits_write(&bits, out, sizeof out);
    frames.emplace_back(out, static_cast<size_t>(n));
  }
  speex_bits_destroy(&bits);
  speex_encoder_destroy(state);
  return frames;
}

std::string Records(const std::vector<std::string>& frames) {
  std::string out;
  for (const std::string& f : frames) {
    out += static_cast<char>((f.size() >> 8) & 0xFF);
    out += static_cast<char>(f.size() & 0xFF);
    out += f;
  }
  return out;
}

std::string CountedBody(const std::vector<std::string>& frames) {
  return SpeexHeader() + Records(frames) + std::string(40, '\0');
}

ClientRequest SearchUpload(int port, const std::vector<std::string>& frames, bool chunked, const std::string& type) {
  ClientRequest r;
  r.method = "POST";
  r.target = "/v2/?method=search&type=" + type + "&lang=all";
  r.port = port;
  r.search = true;
  if (chunked) {
    r.body = ClientRequest::Body::Chunked;
    r.pieces.push_back(SpeexHeader());
    // The encoder's output goes out in pieces of whatever was ready: here
    // eleven frames at a time, so records straddle chunk boundaries.
    std::string records = Records(frames);
    for (size_t at = 0; at < records.size(); at += 11 * 40) r.pieces.push_back(records.substr(at, 11 * 40));
  } else {
    r.body = ClientRequest::Body::Counted;
    r.pieces.push_back(CountedBody(frames));
  }
  return r;
}

std::string JsonField(const std::string& json, const std::string& name) {
  std::string key = "\"" + name + "\":";
  size_t at = json.find(key);
  if (at == std::string::npos) return {};
  size_t start = at + key.size();
  size_t pos = start;
  int depth = 0;
  bool inString = false;
  for (; pos < json.size(); ++pos) {
    char c = json[pos];
    if (inString) {
      if (c == '\\') ++pos;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '[' || c == '{') ++depth;
    else if (c == ']' || c == '}') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0) break;
  }
  return json.substr(start, pos - start);
}

std::string Gunzip(const std::string& gz) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + 15) != Z_OK) return {};
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  zs.avail_in = static_cast<uInt>(gz.size());
  std::string out;
  char buffer[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - zs.avail_out);
  }
  inflateEnd(&zs);
  return rc == Z_STREAM_END ? out : std::string();
}

}  // namespace qpstest
