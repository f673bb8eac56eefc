// The server's own HTTP/1.1 reader and writer: strict about what it reads,
// exact about what it writes, bounded in size and time everywhere.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/protocol-server/Speex.h"
#include "tools/protocol-server/Util.h"

namespace qps {

struct IoLimits {
  size_t maxHeadBytes = 16 * 1024;
  int maxHeadLines = 100;
  size_t maxBodyBytes = 4 * 1024 * 1024;
  double ioTimeout = 60;       // per read or write without progress
  double requestTimeout = 120; // for the whole request
  double drainSeconds = 2;     // reading after the reply before the close
};

// One accepted socket. Every wait is sliced so that a stop request or the end
// of the server's lifetime ends it promptly.
class Connection {
 public:
  enum class Status { Ok, Eof, Timeout, Stopped, Error };

  Connection(int fd, const std::atomic<bool>& stop, Clock::time_point hardDeadline);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Appends what arrives to In(); waits at most idle seconds and never past
  // the deadline.
  Status ReadMore(double idle, Clock::time_point deadline);
  std::string& In() { return m_in; }
  Status Write(std::string_view data, double idle);
  // Sleeps; false when the server stops meanwhile.
  bool Wait(double seconds);
  void SetNoDelay();
  // Half-close, read and discard for up to the given time, then close: unread
  // bytes must not turn into a reset that cuts the reply.
  void FinishGracefully(double drainSeconds);
  void Abort();  // RST: SO_LINGER 0, then close
  void Close();
  int PeerPort() const;
  int Fd() const { return m_fd; }
  double MillisSinceStart() const { return SecondsSince(m_start) * 1000; }
  bool Stopping() const;

 private:
  int m_fd;
  const std::atomic<bool>& m_stop;
  Clock::time_point m_hardDeadline;
  Clock::time_point m_start;
  std::string m_in;
};

struct HeaderLine {
  std::string name, value;
};

struct Request {
  std::string requestLine, method, target, version;
  std::vector<std::string> rawHeaderLines;
  std::vector<HeaderLine> headers;
  std::vector<std::string> violations;  // how the head strays from the client's habits
  double headMs = 0;

  enum class Framing { None, Counted, Chunked };
  Framing framing = Framing::None;
  long long contentLength = -1;
  std::string body;
  std::vector<ChunkInfo> chunks;
  bool terminated = false;
  bool bodyComplete = false;
  std::vector<std::string> bodyViolations;

  const HeaderLine* Find(std::string_view name) const;  // case-insensitive
};

enum class ReadOutcome {
  Ok,
  NoRequest,     // closed or silent before the first byte
  HeadTooLarge,  // over the byte or line limit
  BadRequest,    // no usable request line or framing
  BodyTooLarge,
  Timeout,
  Closed,        // the peer closed mid-request
  Stopped,
};
const char* ReadOutcomeName(ReadOutcome outcome);

ReadOutcome ReadHead(Connection& c, const IoLimits& limits, Clock::time_point deadline, Request& req);

// Reads the body the head announces. With stopAfter >= 0 it returns once that
// many body bytes are in, and a later call continues where it stopped.
class BodyReader {
 public:
  BodyReader(Connection& c, const IoLimits& limits, Clock::time_point deadline, Request& req);
  ReadOutcome Run(long long stopAfter = -1);

 private:
  enum class State { SizeLine, Data, DataEnd, Trailers, Done };
  ReadOutcome Fill();
  bool TakeLine(std::string& line, bool& bareLf);

  Connection& m_c;
  const IoLimits& m_limits;
  Clock::time_point m_deadline;
  Request& m_req;
  State m_state = State::SizeLine;
  unsigned long long m_remaining = 0;
  bool m_started = false;
};

struct Reply {
  int status = 200;
  std::string contentType = "text/xml; charset=utf-8";
  std::string body;
  std::string contentEncoding;  // "gzip" once the body is compressed
  std::vector<std::pair<std::string, std::string>> extraHeaders;
};

const char* ReasonPhrase(int status);

// How the reply goes onto the wire; the defaults are the strict habits.
struct WirePlan {
  std::string version = "HTTP/1.1";
  bool noReason = false;
  bool lfOnly = false;
  bool noSpace = false;
  bool noColon = false;
  bool dupLength = false;
  std::optional<std::string> lengthValue;  // a Content-Length that lies
  bool omitBody = false;
  bool chunked = false;
  std::string transferEncoding = "chunked";
  bool alsoLength = false;
  size_t chunkSize = 0;  // 0: the body in one chunk
  bool chunkUpper = false;
  bool chunkExt = false;
  bool chunkBad = false;
  bool chunkLong = false;
  size_t extraBytes = 0;
};

struct RenderedReply {
  std::string bytes;
  size_t headLength = 0;
  std::vector<size_t> awkwardSplits;  // offsets a careful reader must survive
};

RenderedReply RenderReply(const Reply& reply, const WirePlan& plan);

}  // namespace qps
