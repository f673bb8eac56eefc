// The protocol test server: listener, one thread per connection, routing,
// faults, control and the request log.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/protocol-server/Catalogue.h"
#include "tools/protocol-server/Documents.h"
#include "tools/protocol-server/Faults.h"
#include "tools/protocol-server/Http.h"
#include "tools/protocol-server/Log.h"
#include "tools/protocol-server/Options.h"
#include "tools/protocol-server/Requests.h"

namespace qps {

class Server {
 public:
  explicit Server(Options options, IoLimits limits = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens, writes the port file, queues the start-up faults.
  bool Start(std::string& error);
  int Port() const { return m_port; }
  std::string Base() const;

  // Serves until Stop, /_ctl/quit, the external flag or the end of the
  // lifetime; returns once every connection thread has ended.
  void Run();
  void Stop() { m_stop.store(true); }
  void SetExternalStopFlag(const std::atomic<bool>* flag) { m_externalStop = flag; }

  FaultQueue& Faults() { return m_faults; }
  RequestLog& Log() { return *m_log; }
  int ActiveConnections() const { return m_active.load(); }

  // Called on a connection's thread, once per connection that is not a
  // control request, as soon as its client is owed nothing more: the whole
  // reply is out, the connection is cut or closed, or the server has begun
  // to hold the rest back on purpose (a stall or a delay). A host that runs
  // its clients on a clock of its own uses it to let that clock move only
  // when the server is not the one keeping them waiting.
  void SetAnsweredHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answered = std::move(hook);
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  struct Snapshot {
    Options options;
    std::shared_ptr<const Catalogue> catalogue;
  };
  struct Exchange;  // everything one request gathers on its way

  Snapshot Current() const;
  void Refuse(int fd);
  void Serve(int fd);
  void HandleControl(Connection& c, const Request& req, const RequestInfo& info);
  void BuildReply(Exchange& x);
  void Deliver(Connection& c, Exchange& x);
  void Answered(Exchange& x);
  void LogDue(Exchange& x, bool due);
  void WaitForDueLogs();
  void WriteLog(Exchange& x);
  std::string NewSearchId();
  void StoreSearch(const ResultSet& set);
  std::optional<ResultSet> FindSearch(const std::string& id) const;

  const Options m_startOptions;
  IoLimits m_limits;
  mutable std::mutex m_mutex;  // guards m_options, m_catalogue, m_searches, m_answered
  Options m_options;
  std::shared_ptr<const Catalogue> m_catalogue;
  std::deque<ResultSet> m_searches;
  long long m_nextSearch = 1;

  std::unique_ptr<RequestLog> m_log;
  // Exchanges whose reply is on its way or out and whose entry is not yet
  // written; a log request waits for them.
  std::mutex m_dueMutex;
  std::condition_variable m_dueWritten;
  int m_logsDue = 0;
  FaultQueue m_faults;
  ServerIdentity m_identity;
  int m_listenFd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  const std::atomic<bool>* m_externalStop = nullptr;
  std::atomic<int> m_active{0};
  std::list<Worker> m_workers;
  std::function<void()> m_answered;
  Clock::time_point m_started;
  Clock::time_point m_deadline;
};

}  // namespace qps
