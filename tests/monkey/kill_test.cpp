// Killed at any point: the writers run as a child process that is killed
// with SIGKILL while it rewrites the hives and while it commits previews;
// after each kill a fresh start must load every hive without a complaint and
// find only whole previews in the store. The child reports every step it
// finishes, and each kill falls after a random number of steps (and a random
// moment more), so where the kills land does not depend on the child's speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KillDevice.h"
#include "framework/AppRegistry.h"
#include "platform/base/Debug.h"
#include "protocol/PreviewStore.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/Waits.h"

namespace {

namespace fs = std::filesystem;

constexpr int kKillsEach = 100;

// The steps the target reports in its first `rounds` rounds: three hive
// writes, or a preview's 1 KiB pieces and its commit.
int StepsOfRounds(bool hives, int rounds) {
  int steps = 0;
  for (int i = 0; i < rounds; ++i)
    steps += hives ? 3 : static_cast<int>((killtest::PreviewBody(static_cast<uint32_t>(i)).size() + 1023) / 1024) + 1;
  return steps;
}

class KillAtAnyPoint : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    m_root = fs::temp_directory_path() / ("quorel-kill-" + std::string(GetParam()) + "-" + std::to_string(getpid()));
    fs::remove_all(m_root);
    fs::create_directories(m_root);
    m_savedSink = plat::SetDebugSink([this](plat::WStringView text) { m_reported.push_back(plat::ToUtf8(text)); });
  }
  void TearDown() override {
    plat::SetDebugSink(m_savedSink);
    plat::ResetRegistryForTests();
    fs::remove_all(m_root);
  }

  struct Run {
    bool reached = false;  // the child reported the steps asked for
    int commits = 0;       // commits it reported before the kill
  };

  // Starts the target, reads its reports until it has finished `steps`
  // steps (boundedly: the wait ends when the child dies or hangs), waits
  // `microseconds` more and kills it.
  Run RunAndKill(int steps, uint32_t microseconds) {
    Run run;
    const fs::path log = m_root / "target.log";
    int reports[2];
    if (pipe2(reports, O_CLOEXEC) != 0) return run;
    fcntl(reports[1], F_SETFD, 0);  // the child's end is inherited
    const pid_t pid =
        programtest::SpawnProgram({QUOREL_KILL_TARGET, (m_root / "device").string(), GetParam(), std::to_string(reports[1])},
                                  m_root / "device", "headless", log);
    close(reports[1]);
    if (pid == 0) {
      close(reports[0]);
      return run;
    }
    int seen = 0;
    const auto giveUp = std::chrono::steady_clock::now() + support::kHangLimit;
    while (seen < steps) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now()).count();
      pollfd ready{reports[0], POLLIN, 0};
      const int polled = left > 0 ? poll(&ready, 1, static_cast<int>(left)) : 0;
      if (polled == 0 || (polled < 0 && errno != EINTR)) break;
      if (polled < 0) continue;
      char step[256];
      const ssize_t n = read(reports[0], step, std::min<size_t>(sizeof step, static_cast<size_t>(steps - seen)));
      if (n == 0 || (n < 0 && errno != EINTR)) break;  // the child has died
      for (ssize_t i = 0; i < n; ++i) run.commits += step[i] == killtest::kCommitted;
      seen += static_cast<int>(std::max<ssize_t>(n, 0));
    }
    run.reached = seen == steps;
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(reports[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "after " << seen << " of " << steps << " steps: " << programtest::ReadAll(log);
    return run;
  }

  // A fresh start's view of the device.
  void CheckHives(int kill) {
    m_reported.clear();
    killtest::UseDevice(m_root / "device");
    ASSERT_EQ(RegOpenAppKey(), 0);
    plat::WString language;
    ASSERT_EQ(RegGetAppString(u"app_language", language), 0) << "kill " << kill;
    bool known = false;
    for (uint32_t i = 0; i < 6; ++i) known |= language == killtest::LanguageValue(i);
    EXPECT_TRUE(known) << "kill " << kill << ": a torn language value";
    EXPECT_TRUE(plat::ReadDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage").has_value());
    RegCloseAppKey();
    for (const std::string& line : m_reported) ADD_FAILURE() << "kill " << kill << ": the start reported " << line;
    plat::ResetRegistryForTests();
  }

  void CheckStore(int kill, std::set<std::string>& names) {
    killtest::UseDevice(m_root / "device");
    PreviewStore store;
    const fs::path folder = plat::HostPath(store.Directory()).value();
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      EXPECT_NE(name, "buffer.dat") << "kill " << kill << ": a stale buffer stayed";
      if (name == "buffer.dat") continue;
      EXPECT_TRUE(name.size() > 7 && name.rfind("t-k", 0) == 0 && name.substr(name.size() - 5) == ".mp3_")
          << "kill " << kill << ": " << name;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      EXPECT_TRUE(killtest::IsWholePreview(bytes.str())) << "kill " << kill << ": " << name << " is cut";
      names.insert(name);
    }
    EXPECT_LE(PreviewStore::TotalSize(store.Directory(), nullptr), PreviewStore::kSizeLimit) << "kill " << kill;
  }

  fs::path m_root;
  std::vector<std::string> m_reported;
  plat::DebugSink m_savedSink;
};

TEST_P(KillAtAnyPoint, EveryKillLeavesReadableHivesAndWholePreviews) {
  std::mt19937 rng(20261209);
  const bool hives = std::string(GetParam()) == "hives";
  // A kill falls anywhere in the target's first rounds: every language value
  // once (each hive write is made durable, so they are slow), or the store's
  // whole round of names.
  const int mostSteps = StepsOfRounds(hives, hives ? 8 : 40);
  std::set<std::string> previews;
  int started = 0;
  int mostCommits = 0;
  for (int kill = 0; kill < kKillsEach; ++kill) {
    const int steps = 1 + static_cast<int>(rng() % mostSteps);
    const Run run = RunAndKill(steps, rng() % 1000);
    started += run.reached;
    mostCommits = std::max(mostCommits, run.commits);
    if (hives)
      CheckHives(kill);
    else
      CheckStore(kill, previews);
    if (HasFailure()) break;
  }
  EXPECT_EQ(started, kKillsEach);
  // The kills fell while previews were being committed, not before.
  if (!hives) EXPECT_GT(previews.size(), 5u) << "the most commits before a kill: " << mostCommits;
}

INSTANTIATE_TEST_SUITE_P(Writers, KillAtAnyPoint, ::testing::Values("hives", "store"));

}  // namespace
