// Runs one test of this binary again in a child process under xvfb-run, so
// that it has an X server of its own whatever the machine offers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace xvfbchild {

inline bool OnPath(const char* program) {
  const char* path = getenv("PATH");
  if (!path) return false;
  const std::string all(path);
  for (size_t start = 0; start <= all.size();) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    if (access((std::filesystem::path(all.substr(start, end - start)) / program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The environment of a program in a window under test: SDL draws in
// software and shows its frames without a GL texture, so the system's GL
// driver (not built with our sanitizers, whose threads look racy to them)
// stays out. The program itself keeps the accelerated renderer where there
// is one.
inline constexpr char kSoftwareSdl[] = "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0";

// Runs `filter` with `flag`=1 in the environment on a 1024 x 1024 virtual
// screen, SDL in software, and expects it to pass; skips when xvfb-run or
// Xvfb is missing.
inline void ExpectChildPasses(const char* flag, const std::string& filter) {
  if (getenv(flag)) GTEST_SKIP() << "already the child";
  if (!OnPath("xvfb-run") || !OnPath("Xvfb")) GTEST_SKIP() << "xvfb-run or Xvfb is not installed";
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  const std::filesystem::path log =
      std::filesystem::temp_directory_path() / ("xvfb-child-" + std::to_string(getpid()) + ".log");
  const std::string command = std::string(flag) + "=1 " + kSoftwareSdl + " xvfb-run -a -s '-screen 0 1024x1024x24' '" +
                              std::string(self, size_t(n)) + "' --gtest_filter=" + filter + " > '" + log.string() +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(log);
  const std::string output((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(log);
  // What the child says about the way it went shows in the parent's output.
  for (size_t at = output.find("[ NOTE ] "); at != std::string::npos; at = output.find("[ NOTE ] ", at + 1))
    std::printf("%s\n", output.substr(at, output.find('\n', at) - at).c_str());
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
}

}  // namespace xvfbchild
