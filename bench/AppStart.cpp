// Cold start of the built program, headless, each run a fresh process in a
// fresh device folder: the milliseconds to its first presented frame (as the
// platform traces them), and its resident memory after idling. The anchor is
// the headless test platform started and stopped alone, in this process.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/TestPlatform.h"
#include "tests/support/ProgramProcess.h"


namespace {

struct TStart {
  double firstFrameMs = -1;
  long rssKb = -1;
};

// Starts the program, waits for its first frame, optionally idles, and ends
// it with SIGTERM.
TStart StartOnce(const std::filesystem::path& root, int idleSeconds) {
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  const std::filesystem::path log = root / "out.log";
  const std::string program = (std::filesystem::canonical("/proc/self/exe").parent_path() / "quorel").string();
  TStart result;
  const pid_t pid = programtest::SpawnProgram({program}, root / "device", "headless", log);
  if (pid == 0) return result;
  const std::string key = "first frame presented after ";
  for (int i = 0; i < 2000; ++i) {
    const std::string out = programtest::ReadAll(log);
    if (size_t at = out.find(key); at != std::string::npos) {
      result.firstFrameMs = std::stod(out.substr(at + key.size()));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (idleSeconds > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmRSS:", 0) == 0) result.rssKb = std::stol(line.substr(6));
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return result;
}

std::filesystem::path Root() {
  return std::filesystem::temp_directory_path() / ("quorel-bench-start-" + std::to_string(getpid()));
}

// The median of 10 cold starts per iteration is what the report reads.
void BM_ColdStartToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<double> ms;
    for (int i = 0; i < 10; ++i) ms.push_back(StartOnce(Root(), 0).firstFrameMs);
    std::sort(ms.begin(), ms.end());
    const double median = (ms[4] + ms[5]) / 2;
    state.SetIterationTime(median / 1000.0);
    state.counters["median_ms"] = median;
    state.counters["failed"] = ms.front() < 0;
  }
  std::filesystem::remove_all(Root());
}
BENCHMARK(BM_ColdStartToFirstFrame)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ResidentAfterFiveSecondsIdle(benchmark::State& state) {
  for (auto _ : state) {
    const TStart start = StartOnce(Root(), 5);
    state.counters["rss_mb"] = static_cast<double>(start.rssKb) / 1024.0;
  }
  std::filesystem::remove_all(Root());
}
BENCHMARK(BM_ResidentAfterFiveSecondsIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

// Anchor: the headless platform alone, started and stopped.
void BM_HeadlessPlatformAlone(benchmark::State& state) {
  for (auto _ : state) {
    plat::TestPlatform platform(plat::TestConfig{});
    benchmark::DoNotOptimize(&platform);
  }
}
BENCHMARK(BM_HeadlessPlatformAlone)->Unit(benchmark::kMillisecond);

}  // namespace
