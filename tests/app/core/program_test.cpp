// The built program as a process: headless in a fresh device folder, it
// starts, paints, and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/ProgramProcess.h"
#include "tests/support/Waits.h"
#include "tests/support/XvfbChild.h"

namespace {

using programtest::ReadAll;
using programtest::SpawnProgram;

// Runs `argv` with the device in a fresh folder and the backend forced;
// `stop` ends it once its first frame was presented. Returns the output and
// the wait status.
std::pair<std::string, int> RunProgram(std::vector<std::string> argv, const char* backend,
                                       const std::function<void(pid_t, const std::filesystem::path&)>& stop,
                                       const std::filesystem::path& root) {
  const std::filesystem::path log = root / "out.log";
  const pid_t pid = SpawnProgram(argv, root / "device", backend, log);
  if (pid == 0) return {"cannot start " + argv[0], -1};
  // A real process: wait (boundedly) for its first frame.
  support::PollUntil([&] { return ReadAll(log).find("first frame presented") != std::string::npos; }, pid);
  stop(pid, root);
  int status = 0;
  waitpid(pid, &status, 0);
  return {ReadAll(log), status};
}

void ExpectCleanRun(const std::pair<std::string, int>& run) {
  const auto& [out, status] = run;
  EXPECT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(0, WEXITSTATUS(status)) << out;
  for (const char* line : {"[QUOREL] Language id is", "first frame presented after", "[QUOREL] User select Sing mode",
                           "signal 15: closing the main window"})
    EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
}

std::filesystem::path FreshRoot(const char* name) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  return root;
}

const std::string kProgram = std::string(QUOREL_BIN_DIR) + "/quorel";

TEST(ProgramTest, HeadlessItStartsPaintsAndStopsOnSigterm) {
  const std::filesystem::path root = FreshRoot("quorel-headless");
  ExpectCleanRun(RunProgram({kProgram}, "headless", [](pid_t pid, const auto&) { kill(pid, SIGTERM); }, root));
  std::filesystem::remove_all(root);
}

TEST(ProgramTest, InAWindowItStartsPaintsAndStopsOnSigterm) {
  if (access("/usr/bin/xvfb-run", X_OK) != 0) GTEST_SKIP() << "no xvfb-run";
  const std::filesystem::path root = FreshRoot("quorel-window");
  // The signal goes to the program inside the X server's wrapper, once the
  // test drops the stop file (or the program has died, so the wrapper ends
  // and the test does not wait for a frame that cannot come).
  const std::string script = std::string(xvfbchild::kSoftwareSdl) + " '" + kProgram + "' & p=$!; while [ ! -e '" +
                             (root / "stop").string() +
                             "' ] && kill -0 $p 2>/dev/null; do sleep 0.05; done; kill -TERM $p; wait $p";
  ExpectCleanRun(RunProgram({"xvfb-run", "-a", "sh", "-c", script}, "sdl",
                            [](pid_t, const std::filesystem::path& at) { std::ofstream(at / "stop") << ""; }, root));
  std::filesystem::remove_all(root);
}

}  // namespace
