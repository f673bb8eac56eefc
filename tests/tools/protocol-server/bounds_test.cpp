// Bounds: loopback only, head and body limits, the connection cap, time-outs,
// the lifetime, the control queue cap; and the program itself (LISTENING
// line, port file, exit on lifetime and on SIGTERM, self-check).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "platform/registry/Registry.h"
#include "tests/support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

extern char** environ;

using namespace qpstest;

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The server program as a child process, ended by its own pid only.
class Child {
 public:
  explicit Child(std::vector<std::string> args, const char* exe = QPS_SERVER_EXE) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    args.insert(args.begin(), exe);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, exe, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
  }
  ~Child() {
    if (m_pid > 0 && !m_reaped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    close(m_out);
    close(m_err);
  }
  pid_t Pid() const { return m_pid; }

  // The first line on stdout; "" when it ended or hung first.
  std::string ReadLine() {
    auto start = std::chrono::steady_clock::now();
    std::string line;
    char c;
    while (std::chrono::steady_clock::now() - start < support::kHangLimit) {
      pollfd p{m_out, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      if (read(m_out, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  // The exit code, or -1 when it hung.
  int Wait() {
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < support::kHangLimit) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      DrainStderr();
      usleep(10000);
    }
    return -1;
  }
  std::string Stderr() {
    DrainStderr();
    return m_stderr;
  }

 private:
  void DrainStderr() {
    char buffer[4096];
    while (true) {
      pollfd p{m_err, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
      ssize_t n = read(m_err, buffer, sizeof buffer);
      if (n <= 0) return;
      m_stderr.append(buffer, static_cast<size_t>(n));
    }
  }
  pid_t m_pid = -1;
  int m_out = -1, m_err = -1;
  bool m_reaped = false;
  std::string m_stderr;
};

std::string TempPath(const std::string& name) {
  return "/tmp/qps-test-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

TEST(Bounds, OnlyLoopbackIsEverListenedOn) {
  for (const char* address : {"0.0.0.0:0", "192.168.1.10:8080", "localhost:0", "::1:0", "127.0.0.2:0"}) {
    qps::Options o;
    std::string error;
    EXPECT_FALSE(qps::ApplyOption(o, "listen", address, false, error)) << address;
    EXPECT_NE(error.find("only 127.0.0.1"), std::string::npos) << error;
  }
  qps::Options direct = TestOptions();
  direct.listenAddress = "0.0.0.0";
  qps::Server server(direct);
  std::string error;
  EXPECT_FALSE(server.Start(error));

  Child child({"--listen", "0.0.0.0:0"});
  EXPECT_EQ(child.Wait(), 2);
  EXPECT_NE(child.Stderr().find("only 127.0.0.1 is allowed"), std::string::npos);
}

TEST(Bounds, HeadLimitsGive400AndAClose) {
  ServerHarness server;
  std::string tooLong = "GET /v2/?method=checkForUpdate HTTP/1.1\r\nHost: " + server.Authority() +
                        "\r\nUser-Agent: " + std::string(17 * 1024, 'a');  // never ends
  RawConnection c(server.Port());
  c.Send(tooLong);
  std::string raw;
  ASSERT_TRUE(c.ReadToClose(raw)) << "the server closes";
  Response r = ParseResponse(raw);
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(r.body, "request head too large\n");

  std::string manyLines = "GET /v2/?method=checkForUpdate HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i) manyLines += "X-Line: " + std::to_string(i) + "\r\n";
  EXPECT_EQ(ParseResponse(Fetch(server.Port(), manyLines + "\r\n")).body, "request head too large\n");

  // Just inside the byte limit: read, and judged on its merits.
  std::string head = "GET /v2/?method=checkForUpdate HTTP/1.1\r\nHost: " + server.Authority() + "\r\nUser-Agent: ";
  head += std::string(16 * 1024 - head.size() - 4, 'b') + "\r\n\r\n";
  ASSERT_EQ(head.size(), 16u * 1024);
  Response inside = ParseResponse(Fetch(server.Port(), head));
  EXPECT_NE(inside.body.find("User-Agent: does not begin with"), std::string::npos) << inside.body;

  EXPECT_EQ(ParseResponse(Fetch(server.Port(), "NONSENSE\r\n\r\n")).status, 400);
}

TEST(Bounds, BodyLimitAndTimeouts) {
  // Each time-out alone, the other one far past the hang bound, so that the
  // 408 can only come from the one under test however slowly either side
  // runs.
  constexpr double kNever = 10 * kHangSeconds;
  qps::Options patient = TestOptions();
  patient.ioTimeout = kNever;
  qps::IoLimits roomy;
  roomy.requestTimeout = kNever;
  ServerHarness server(patient, roomy);

  RawConnection big(server.Port());
  big.Send("POST /v2/?method=search&type=singing&lang=all HTTP/1.1\r\nHost: " + server.Authority() +
           "\r\nContent-Length: 5000000\r\n\r\nSpeex");
  Response tooBig = ParseResponse(big.ReadReply());
  EXPECT_EQ(tooBig.status, 413);
  EXPECT_EQ(tooBig.body, "request body too large\n");

  // Silence in the middle of a head: the idle limit. A connection given up
  // before the head's first bytes came (the client ran late) ends without a
  // reply and is made again.
  qps::Options brief = TestOptions();
  brief.ioTimeout = 0.2;
  ServerHarness idleServer(brief, roomy);
  auto start = std::chrono::steady_clock::now();
  Response idled;
  do {
    RawConnection idle(idleServer.Port());
    idle.Send("GET /v2/?method=checkForUpdate HTTP/1.1\r\nHo");
    idled = ParseResponse(idle.ReadReply());
  } while (idled.status == 0 && Since(start) < kHangSeconds);
  EXPECT_EQ(idled.status, 408);
  EXPECT_LT(Since(start), kHangSeconds);

  // A trickle that never stops: the whole-request limit, counted from the
  // connection, so from before it.
  qps::IoLimits whole;
  whole.requestTimeout = 0.6;
  ServerHarness wholeServer(patient, whole);
  start = std::chrono::steady_clock::now();
  RawConnection trickle(wholeServer.Port());
  trickle.Send("GET /v2/?method=checkForUpdate HTTP/1.1\r\n");
  std::string raw;
  while (raw.empty() && Since(start) < kHangSeconds) {
    trickle.Send("X-Slow: 1\r\n");
    raw = trickle.ReadReply(0.05);
  }
  EXPECT_EQ(ParseResponse(raw).status, 408);
  EXPECT_GE(Since(start), 0.5);
}

TEST(Bounds, TheConnectionCapRefusesThe33rd) {
  ServerHarness server;
  std::vector<std::unique_ptr<RawConnection>> open;
  for (int i = 0; i < 32; ++i) open.push_back(std::make_unique<RawConnection>(server.Port()));
  support::PollUntil([&] { return server.Server().ActiveConnections() >= 32; });
  ASSERT_EQ(server.Server().ActiveConnections(), 32);

  RawConnection extra(server.Port());
  std::string raw;
  ASSERT_TRUE(extra.ReadToClose(raw));
  Response refused = ParseResponse(raw);
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.body, "too many connections\n");

  open.pop_back();  // one leaves; the next is served
  support::PollUntil([&] { return server.Server().ActiveConnections() <= 31; });
  ClientRequest r;
  r.target = "/v2/?method=checkForUpdate";
  r.port = server.Port();
  EXPECT_EQ(ParseResponse(Fetch(server.Port(), r.Bytes())).status, 200);
}

TEST(Bounds, LifetimeAndStopEndTheServerWithConnectionsOpen) {
  qps::Options o = TestOptions();
  o.lifetime = 0.4;
  // A stall five hang bounds long: the end may take one.
  o.faults = {"image:stall:600"};
  qps::Server server(o);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  auto start = std::chrono::steady_clock::now();
  std::thread run([&] { server.Run(); });
  ClientRequest r;
  r.target = "/img/al1.png";
  r.port = server.Port();
  std::string stalled = Fetch(server.Port(), r.Bytes());  // ends when the server does
  run.join();
  double seconds = Since(start);
  EXPECT_GE(seconds, 0.35);
  EXPECT_LT(seconds, kHangSeconds);
  EXPECT_EQ(stalled.find("HTTP/1.1 200 OK"), 0u);

  // /_ctl/quit ends it too.
  qps::Server quitting(TestOptions());
  ASSERT_TRUE(quitting.Start(error));
  std::thread run2([&] { quitting.Run(); });
  EXPECT_EQ(ParseResponse(Fetch(quitting.Port(), "GET /_ctl/quit HTTP/1.1\r\n\r\n")).body, "bye\n");
  run2.join();
}

TEST(Bounds, TheFaultQueueCapsAtAThousand) {
  ServerHarness server;
  std::string error;
  qps::Fault fault = *qps::ParseFault("delay:1", error);
  for (int i = 0; i < 999; ++i) ASSERT_TRUE(server.Server().Faults().Push(qps::Route::Image, fault, 1, error));
  Response last = ParseResponse(Fetch(server.Port(), "GET /_ctl/inject?route=image&fault=close HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(last.status, 200);
  Response over = ParseResponse(Fetch(server.Port(), "GET /_ctl/inject?route=image&fault=close HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(over.status, 400);
  EXPECT_EQ(over.body, "fault queue is full (1000 entries)\n");
  EXPECT_EQ(server.Server().Faults().Size(), 1000u);
}

TEST(Program, ListensPrintsItsPortAndEndsByItself) {
  const std::string portFile = TempPath("port"), logFile = TempPath("log");
  std::remove(portFile.c_str());
  std::remove(logFile.c_str());
  Child child({"--listen", "127.0.0.1:0", "--port-file", portFile, "--log", logFile, "--lifetime", "1.5",
               "--preview-seconds", "0.5"});
  std::string line = child.ReadLine();
  ASSERT_EQ(line.rfind("LISTENING 127.0.0.1:", 0), 0u) << line << child.Stderr();
  int port = std::stoi(line.substr(20));
  int fromFile = 0;
  std::ifstream(portFile) >> fromFile;
  EXPECT_EQ(fromFile, port);
  ClientRequest r;
  r.target = "/v2/?method=checkForUpdate";
  r.port = port;
  EXPECT_EQ(ParseResponse(Fetch(port, r.Bytes())).status, 200);
  EXPECT_EQ(child.Wait(), 0) << "ends at the end of its lifetime";
  std::string err = child.Stderr();
  EXPECT_NE(err.find("self-check: 18 previews"), std::string::npos) << err;
  EXPECT_NE(err.find("#1 GET /v2/?method=checkForUpdate -> 200"), std::string::npos) << err;
  std::string logged;
  std::getline(std::ifstream(logFile), logged);
  EXPECT_EQ(logged.rfind("{\"seq\":1,", 0), 0u) << logged;
  std::remove(portFile.c_str());
  std::remove(logFile.c_str());
}

TEST(Program, SigtermEndsItAndBadArgumentsAreRefused) {
  Child child({"--lifetime", "60", "--preview-seconds", "0.5"});
  ASSERT_EQ(child.ReadLine().rfind("LISTENING", 0), 0u);
  kill(child.Pid(), SIGTERM);
  EXPECT_EQ(child.Wait(), 0);

  for (std::vector<std::string> bad : {std::vector<std::string>{"--lifetime", "0"}, {"--update", "maybe"},
                                       {"--bogus", "1"}, {"--gzip"}, {"positional"}}) {
    Child wrong(bad);
    EXPECT_EQ(wrong.Wait(), 2) << bad[0];
    EXPECT_FALSE(wrong.Stderr().empty());
  }
}

TEST(Program, ServerUrlsGoIntoTheHiveAndNothingElseChanges) {
  const std::filesystem::path root = TempPath("device");
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "registry");
  std::ofstream(root / "registry" / "HKCU.reg")
      << "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\n\"app_language\"=\"DE\"\n\"url\"=\"http://old\"\n";
  setenv("QUOREL_DEVICE_ROOT", root.c_str(), 1);
  Child urls({"http://127.0.0.1:4567/"}, QPS_URLS_EXE);
  int code = urls.Wait();
  Child https({"https://127.0.0.1:4567"}, QPS_URLS_EXE);
  int refused = https.Wait();
  unsetenv("QUOREL_DEVICE_ROOT");
  ASSERT_EQ(code, 0) << urls.Stderr();
  EXPECT_EQ(refused, 2);

  plat::RegistryConfig config;
  config.folder = root / "registry";
  plat::ConfigureRegistry(config);
  const std::u16string key = u"SOFTWARE\\Orlamet\\Quorel";
  EXPECT_EQ(plat::ReadString(plat::HKEY_CURRENT_USER, key, u"app_language"), u"DE");
  for (const char16_t* name : {u"url", u"singurl", u"graburl"})
    EXPECT_EQ(plat::ReadString(plat::HKEY_CURRENT_USER, key, name), u"http://127.0.0.1:4567");
  EXPECT_EQ(plat::ReadString(plat::HKEY_CURRENT_USER, key, u"terms_and_conditions_url"),
            u"http://127.0.0.1:4567/page/terms");
  plat::ResetRegistryForTests();
  std::filesystem::remove_all(root);
}
