// The built program as a process: headless in a fresh device folder, it
// starts, paints, and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ProgramTest, StartsPaintsAndStopsOnSigterm) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("quorel-program-" + std::to_string(getpid()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  const std::filesystem::path log = root / "out.log";
  const std::string program = std::string(QUOREL_BIN_DIR) + "/quorel";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> env = {"QUOREL_DEVICE_ROOT=" + (root / "device").string(), "QUOREL_BACKEND=headless"};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("QUOREL_", 0) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(0, posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()));
  posix_spawn_file_actions_destroy(&actions);

  // A real process: wait (boundedly) for its first frame.
  std::string out;
  for (int i = 0; i < 500 && out.find("first frame presented") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    out = ReadAll(log);
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  out = ReadAll(log);
  EXPECT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(0, WEXITSTATUS(status)) << out;
  EXPECT_NE(std::string::npos, out.find("[QUOREL] Language id is")) << out;
  EXPECT_NE(std::string::npos, out.find("first frame presented after")) << out;
  EXPECT_NE(std::string::npos, out.find("View 2 is a placeholder")) << out;
  EXPECT_NE(std::string::npos, out.find("signal 15")) << out;
  std::filesystem::remove_all(root);
}

}  // namespace
