// A scripted HTTP server for the client's tests.
//
// Each accepted connection takes the next script: by default it first reads
// the whole request (head, then a counted or chunked body), recording every
// raw byte, and then plays its steps: write bytes (one write each, with
// TCP_NODELAY, so a pause between writes splits the reply across receives),
// pause, close, reset, or stall until the client closes. A script that runs
// out of steps waits for the client to close.
//
// The same scripts run on two networks: real loopback sockets
// (CLoopbackServer: 127.0.0.1, an ephemeral port, every loop bounded in time)
// and the platform's simulated network (SimScript, where every write is one
// arrival at the client and pauses are virtual time).
//
// Under the virtual clock a script added to the loopback server holds time
// still from then until it has answered (it stalls, runs out of steps,
// closes or resets): the server is a host thread, and however late it gets
// to run, no time-out of the client's can run out while it owes an answer.
// What it wrote is noted to the socket reactor, which takes the bytes
// before time moves on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/net/SimNet.h"
#include "tests/support/Waits.h"

namespace nettest {

struct TStep {
  enum EKind { Write, Pause, Close, Reset, Stall, ReadRequest } eKind = Write;
  std::string bytes;
  uint32_t nMs = 0;
};
inline TStep Send(std::string bytes) { return {TStep::Write, std::move(bytes), 0}; }
inline TStep Pause(uint32_t ms) { return {TStep::Pause, {}, ms}; }
inline TStep CloseStep() { return {TStep::Close, {}, 0}; }
inline TStep ResetStep() { return {TStep::Reset, {}, 0}; }
inline TStep Stall() { return {TStep::Stall, {}, 0}; }
// Reads the rest of the request (for scripts that answer early).
inline TStep ReadRest() { return {TStep::ReadRequest, {}, 0}; }

struct TScript {
  bool bReadFirst = true;  // read the whole request before the first step
  std::vector<TStep> steps;
};

// A reply sent as the given pieces, then closed.
TScript Reply(std::vector<std::string> pieces, bool bClose = true);

// Reads one request through `readSome` (which returns "" when nothing more
// comes): the head up to its blank line, then the body by its framing.
// Returns what was read; false when the request did not end properly.
bool ReadHttpRequest(const std::function<std::string()>& readSome, std::string& buffer);

// The script as a simulated peer.
plat::SimPeerScript SimScript(TScript script);

class CLoopbackServer {
 public:
  // bAccept false: a listener with a backlog of 0 that never accepts, so that
  // connects beyond the first hang in progress.
  explicit CLoopbackServer(bool bAccept = true);
  ~CLoopbackServer();
  CLoopbackServer(const CLoopbackServer&) = delete;
  CLoopbackServer& operator=(const CLoopbackServer&) = delete;

  uint16_t Port() const { return m_nPort; }
  // Scripts for the next connections, in order. A connection without one
  // reads its request and stalls.
  void Add(TScript script);
  // The raw bytes each connection sent, in order of acceptance.
  std::vector<std::string> Requests();
  size_t Accepted();
  // Waits (real time) until n connections have ended on the server's side.
  bool WaitFinished(size_t n, int ms = support::kHangMs);
  // Stops accepting and ends every connection.
  void Stop();

  // The upper bound on any one connection's life.
  static constexpr int kConnectionLimitMs = support::kHangMs;

 private:
  // Holds the virtual clock while a script owes an answer; none on the
  // real clock.
  using THold = std::unique_ptr<plat::ClockBusyScope>;
  struct TQueued {
    TScript script;
    THold hold;
  };

  void AcceptLoop();
  void Serve(int fd, size_t index, TScript script, THold hold);

  int m_listenFd = -1;
  uint16_t m_nPort = 0;
  bool m_bAccept = true;
  std::atomic<bool> m_bStop{false};
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<TQueued> m_scripts;
  std::vector<std::string> m_requests;
  size_t m_nFinished = 0;
  std::vector<std::thread> m_threads;
  std::thread m_acceptThread;
};

}  // namespace nettest
