// Test helpers for the protocol test server: an in-process server, a raw
// socket client, requests composed the way the client composes them, and
// Speex bodies built by hand or with the real encoder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Waits.h"
#include "tools/protocol-server/Server.h"

namespace qpstest {

extern const char* const kUserAgent;

qps::Options TestOptions();

class ServerHarness {
 public:
  explicit ServerHarness(qps::Options options = TestOptions(), qps::IoLimits limits = {});
  ~ServerHarness();

  int Port() const { return m_server.Port(); }
  std::string Base() const { return m_server.Base(); }
  std::string Authority() const { return "127.0.0.1:" + std::to_string(Port()); }
  qps::Server& Server() { return m_server; }
  // Log entries (JSON objects), oldest first.
  std::vector<std::string> Log();
  std::string LastLog();

 private:
  qps::Server m_server;
  std::thread m_thread;
};

// The time-outs below only bound a hang (the server closes after its reply).
constexpr double kHangSeconds = support::kHangMs / 1000.0;

// Connects to 127.0.0.1:port, sends the bytes (optionally half-closing), and
// reads until the server closes or the time-out passes.
std::string Fetch(int port, const std::string& bytes, bool halfClose = false, double timeoutSeconds = kHangSeconds);

// The same, with the pieces sent one by one and a pause between them that
// begins once the server has read the piece before.
std::string FetchInPieces(int port, const std::vector<std::string>& pieces, double pauseSeconds);

// A connection the test drives step by step.
class RawConnection {
 public:
  explicit RawConnection(int port);
  ~RawConnection();
  bool Connected() const { return m_fd >= 0; }
  void Send(const std::string& bytes);
  // Reads until a whole reply (by its Content-Length) is in, the peer
  // closes, or the time-out passes.
  std::string ReadReply(double timeoutSeconds = kHangSeconds);
  // Reads until the peer closes or the time-out passes; false on time-out.
  bool ReadToClose(std::string& out, double timeoutSeconds = kHangSeconds);

 private:
  int m_fd = -1;
};

// A relay on loopback between the client and the server, for tests whose
// point is an order between what the client does and what the server sends
// or gets. Both run in real time, so only a relay that waits for the test
// makes such an order independent of how fast either runs: it keeps a copy
// of every byte that went up to the server, and with holdReplyEnd each
// reply's last byte stays back until Release, so no download through it can
// end before the test has looked.
class Relay {
 public:
  explicit Relay(int serverPort, bool holdReplyEnd = false);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  int Port() const { return m_port; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  // What the clients sent up to the server so far, connections in the order
  // their bytes came.
  std::string Forwarded();
  // Lets the held reply ends go, now and from now on.
  void Release();

 private:
  void AcceptLoop();
  void Pump(int client);
  bool Holding();

  int m_serverPort;
  int m_listenFd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::condition_variable m_released;
  bool m_hold;
  std::string m_forwarded;
  std::vector<std::thread> m_pumps;
  std::thread m_acceptThread;
};

struct Response {
  bool ok = false;  // parsed as a strict reply
  std::string error;
  std::string statusLine;
  int status = 0;
  std::vector<std::string> headerLines;
  std::string body;  // after chunk framing, not inflated
  std::string raw;
  std::string Header(const std::string& name) const;  // exact name, "" when absent
};
Response ParseResponse(const std::string& raw);

// A request as the client composes it: request line, Host, the framing
// header of a POST, then the other headers sorted without regard to case.
struct ClientRequest {
  std::string method = "GET";
  std::string target;  // path and query
  int port = 0;
  bool proxy = false;  // absolute form with Proxy-Connection
  bool search = false; // Accept-Encoding and Content-Type of the search POST
  enum class Body { None, Chunked, Counted } body = Body::None;
  std::vector<std::string> pieces;  // chunked: one chunk each; counted: concatenated
  std::string userAgent = kUserAgent;

  std::string Bytes() const;
};

// Speex upload bodies.
std::string SpeexHeader();  // the 80 bytes, built field by field
std::vector<std::string> EncodeTone(double frequency, double seconds, double amplitude = 12000);
std::string Records(const std::vector<std::string>& frames);  // length-prefixed
std::string CountedBody(const std::vector<std::string>& frames);  // header, records, 40 zeros
ClientRequest SearchUpload(int port, const std::vector<std::string>& frames, bool chunked,
                           const std::string& type = "singing");

// The value of a JSON member (raw text: a number, "string", [...] or {...}).
std::string JsonField(const std::string& json, const std::string& name);

std::string Gunzip(const std::string& gz);  // empty on failure

}  // namespace qpstest
