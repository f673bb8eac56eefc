// Killed at any point: the writers run as a child process that is killed
// with SIGKILL at random moments while it rewrites the hives and while it
// commits previews; after each kill a fresh start must load every hive
// without a complaint and find only whole previews in the store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

  // Starts the target, waits (boundedly) for its first change, lets it run
  // `ms` more and kills it. False when it never got going.
  bool RunAndKill(uint32_t microseconds) {
    const fs::path log = m_root / "target.log";
    const pid_t pid = programtest::SpawnProgram({QUOREL_KILL_TARGET, (m_root / "device").string(), GetParam()},
                                                m_root / "device", "headless", log);
    if (pid == 0) return false;
    const bool ready = support::PollUntil([&] { return programtest::ReadAll(log).find("ready") != std::string::npos; },
                                          pid, std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << programtest::ReadAll(log);
    return ready;
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
  std::set<std::string> previews;
  int started = 0;
  for (int kill = 0; kill < kKillsEach; ++kill) {
    started += RunAndKill(rng() % 30000);
    if (hives)
      CheckHives(kill);
    else
      CheckStore(kill, previews);
    if (HasFailure()) break;
  }
  EXPECT_EQ(started, kKillsEach);
  // The kills fell while previews were being committed, not before.
  if (!hives) EXPECT_GT(previews.size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Writers, KillAtAnyPoint, ::testing::Values("hives", "store"));

}  // namespace
