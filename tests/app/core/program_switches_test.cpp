// The program's sound switches: a microphone file that is not there ends the
// start with a message naming it, whatever the display backend.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/ProgramProcess.h"

namespace {

TEST(ProgramSwitches, AMissingMicrophoneFileStopsTheStartWithAMessage) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("quorel-switches-" + std::to_string(getpid()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  const std::string missing = (root / "absent.wav").string();
  // `env` sets the switch after the spawn has cleared the caller's QUOREL_ variables.
  const pid_t pid = programtest::SpawnProgram({"env", "QUOREL_MIC=" + missing, std::string(QUOREL_BIN_DIR) + "/quorel"},
                                              root / "device", "headless", root / "out.log");
  ASSERT_NE(pid, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string out = programtest::ReadAll(root / "out.log");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << out;
  EXPECT_NE(out.find("QUOREL_MIC: " + missing), std::string::npos) << out;
  EXPECT_EQ(out.find("first frame presented"), std::string::npos) << out;
  std::filesystem::remove_all(root);
}

}  // namespace
