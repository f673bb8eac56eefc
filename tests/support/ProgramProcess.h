// Runs the built program as a process of its own, with its output in a log
// file, the device in a given folder and the display backend forced (for
// the program tests and the start benchmark).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace programtest {

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Starts `argv` (searched in PATH) with stdout and stderr in `log`; the
// caller's QUOREL_ variables give way to the device root and backend. 0 when
// it cannot start.
inline pid_t SpawnProgram(std::vector<std::string> argv, const std::filesystem::path& deviceRoot,
                          const std::string& backend, const std::filesystem::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> env = {"QUOREL_DEVICE_ROOT=" + deviceRoot.string(), "QUOREL_BACKEND=" + backend};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("QUOREL_", 0) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return result == 0 ? pid : 0;
}

}  // namespace programtest
