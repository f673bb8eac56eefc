// The roads' fixtures: the built program's own loop (WinMain) on the headless
// device at 480 x 800 and 192 dpi, the local protocol test server as a
// process of its own, the device's registry pointed at it, a microphone that
// plays a WAV file the road writes, and the evidence the steps read: the
// application's state, the platform's records and the server's request log.
//
// Shared by the road tests and the gallery tool, so nothing here needs
// GoogleTest.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/testing/TestPlatform.h"

class CControl;
class CQuorelAppUi;

namespace e2e {

// quorel-protocol-server from the build's bin folder, on a free loopback
// port, with its port file and request log in `folder`. Ended by its own pid
// only; the destructor asks it to quit first.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts it and waits for its port (as long as support::PollUntil
  // allows, less when it dies); false with Error() when it did not come up.
  bool Start(const std::filesystem::path& folder, const std::vector<std::string>& options);
  const std::string& Error() const { return m_error; }
  // Started and not ended.
  bool Alive() const;
  int Port() const { return m_port; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

  // One GET on the control routes (origin form), the reply's body; empty
  // when the server did not answer.
  std::string Control(const std::string& target) const;
  // The request log, one JSON object per entry, oldest first.
  std::vector<std::string> Log() const;
  // Asks it to quit and reaps it; its exit status (-1 when it had to be
  // killed or never ran).
  int Stop();

 private:
  pid_t m_pid = 0;
  int m_port = 0;
  std::string m_error;
  std::filesystem::path m_folder;
};

// A member of a JSON log entry: strings unquoted (escapes kept as written),
// numbers, booleans, arrays and objects as their raw text; "" when absent.
std::string Field(const std::string& entry, const std::string& name);
// The entries whose route is `route`.
std::vector<std::string> Entries(const std::vector<std::string>& log, const std::string& route);

// 16-bit mono PCM WAV: a sine of `hz` at `dbfs` (peak) for `seconds`.
bool WriteToneWav(const std::filesystem::path& file, double seconds, uint32_t rate, double hz, double dbfs);

struct RoadConfig {
  int32_t width = 480;
  int32_t height = 800;
  uint32_t dpi = 192;
  int theme = 0;                    // 0: "Linux", 1: "QT-M5180"
  uint16_t uiLanguage = 0x0409;     // the phone's language
  std::vector<std::string> serverOptions = {"--update", "info"};
  // The server's catalogue: "default" (what the main road meets) or "edge".
  std::string catalogue = "default";
  double micSeconds = 8;
  double micHz = 262;
  double micDbfs = -12;
  bool echoDebugOutput = false;
  // The benchmarks run on the host's clock with the microphone unpaced.
  bool virtualClock = true;
  bool unpacedAudio = false;
  // Asked after each step; true skips the steps left (a test's fatal
  // failure), which would meet what the failed one did not make.
  std::function<bool()> abandon;
};

// One start of the program against one server. Make it on the thread that is
// to be the UI thread; one at a time.
class Road {
 public:
  explicit Road(RoadConfig config = {});
  ~Road();
  Road(const Road&) = delete;
  Road& operator=(const Road&) = delete;

  // False (with Error()) when the server or the device could not be set up.
  bool Ready() const { return m_error.empty(); }
  const std::string& Error() const { return m_error; }

  plat::TestPlatform& Device() { return *m_tp; }
  ServerProcess& Server() { return m_server; }
  const RoadConfig& Config() const { return m_config; }

  // Steps run in order inside the program's loop, each when the loop would
  // block; Until lets the loop run (timers, threads, the network) until the
  // condition holds, at most `maxMs` of platform time and as long in real
  // time (the server does not run on the virtual clock), and records a miss.
  // A named wait only bounds a hang, so in real time it lasts at least
  // support::kHangLimit while the server lives; an unnamed one (`what`
  // empty, nothing recorded) may run out and keeps `maxMs`.
  using Step = std::function<void()>;
  void Then(Step step);
  void Until(std::string what, std::function<bool()> condition, uint32_t maxMs = 15000);
  // Lets the program run for `ms` of platform time.
  void Wait(uint32_t ms);
  // Runs WinMain with the queued steps; after the last one the program is
  // asked to quit as the Exit command does, unless a step made it quit
  // already. Returns WinMain's exit code. Run again for another start on
  // the same device with the steps queued since.
  int Run();
  // The conditions that did not come true in time, in order, each with
  // what the screen held then (Describe) and how it came to be.
  const std::vector<std::string>& Misses() const { return m_misses; }
  // What the screen holds now, for a report: the active view and history,
  // the top layer, every open dialog with its text, the preview's state,
  // the pointer's capture holder and the program's last 20 trace lines.
  std::string Describe() const;

  // A finger's tap on the middle of a control.
  void TapOn(CControl* pControl);

  // Evidence.
  static CQuorelAppUi* App();
  int32_t ActiveView() const;
  std::vector<int32_t> History() const;
  // Every view the steps found active, in order, each change once.
  const std::vector<int32_t>& ViewsSeen() const { return m_viewsSeen; }
  // The names of the files in the preview store's folder (empty before
  // start-up).
  std::vector<std::string> StoreFiles() const;
  std::vector<std::string> DebugLines() const { return m_tp->DebugLines(); }
  bool Traced(const std::string& line) const;
  // HKCU "SOFTWARE\Orlamet\Quorel" string value, nullopt when absent.
  std::optional<std::string> AppString(const std::u16string& name) const;
  // The server's log entries of one route (from the control route).
  std::vector<std::string> Requests(const std::string& route) const { return Entries(m_server.Log(), route); }
  const std::filesystem::path& Microphone() const { return m_wav; }

 private:
  void StartDevice();
  // Notes a change of what the screen shows, a tap or a wait, with the
  // platform and real time since Run started.
  void Journal(const std::string& line);
  void JournalState();

  RoadConfig m_config;
  std::string m_error;
  std::filesystem::path m_folder;
  std::filesystem::path m_wav;
  ServerProcess m_server;
  std::unique_ptr<plat::TestPlatform> m_tp;
  struct Pending {
    Step step;
    std::string what;
    std::function<bool()> until;
    uint32_t maxMs = 0;
  };
  std::vector<Pending> m_steps;
  std::vector<std::string> m_misses;
  std::vector<int32_t> m_viewsSeen;
  std::vector<std::string> m_journal;
  std::string m_lastState;
  uint32_t m_runTick = 0;
  std::chrono::steady_clock::time_point m_runReal;
};

// The build's bin folder (the program's folder on the device).
std::filesystem::path BinFolder();

}  // namespace e2e
