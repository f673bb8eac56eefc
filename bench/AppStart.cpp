// Cold start of the built program, headless, each run a fresh process in a
// fresh device folder: the milliseconds to its first presented frame (as the
// platform traces them), and its resident memory after idling; then where
// that time goes, in this process. The anchor is the headless test platform
// started and stopped alone, in this process.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/QuorelAppUi.h"
#include "bench/HostRoad.h"
#include "platform/testing/TestPlatform.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/Waits.h"

namespace {

using bench::Median;
using bench::Ms;
using bench::TClock;

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
  support::PollUntil([&] {
    const std::string out = programtest::ReadAll(log);
    const size_t at = out.find(key);
    if (at != std::string::npos) result.firstFrameMs = std::stod(out.substr(at + key.size()));
    return at != std::string::npos;
  }, pid, std::chrono::milliseconds(2));
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

// The anchor in the same run: the headless platform started and stopped
// alone, median of 10.
double PlatformAloneMs() {
  std::vector<double> ms;
  for (int i = 0; i < 10; ++i) {
    const auto start = TClock::now();
    { plat::TestPlatform alone(plat::TestConfig{}); }
    ms.push_back(Ms(start, TClock::now()));
  }
  return Median(ms);
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
    state.counters["max_ms"] = ms.back();
    state.counters["failed"] = ms.front() < 0;
    const double platform = PlatformAloneMs();
    state.counters["platform_ms"] = platform;
    state.counters["x_platform"] = median / platform;
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

// Where the start's time goes: the program's own loop (WinMain, every view
// registered, view 2 first) started 10 times in this process, each on a
// fresh device, its start-up steps timed through the step hook up to the
// first presented frame. The parts are those of the run with the median
// total, so they add up; the first run, before this process has met any
// font or picture, is beside it. The platform's part is the anchor.
void BM_StartBreakdown(benchmark::State& state) {
  using S = EStartStep;
  using TParts = std::vector<std::pair<std::string, double>>;
  constexpr int kRuns = 10;
  // The step that opens each part; a part runs until the next one opens.
  const std::pair<S, const char*> kParts[] = {
      {S::UiStrings, "languages"}, {S::Images, "images"}, {S::Commands, "commands"},
      {S::Settings, "services"},   {S::LeftBar, "layout_and_paint"}};
  for (auto _ : state) {
    std::vector<std::pair<double, TParts>> runs;  // total, parts
    for (int run = 0; run < kRuns; ++run) {
      std::unique_ptr<e2e::Road> pRoad = bench::HostClockRoad(state);
      if (!pRoad) return;
      e2e::Road& road = *pRoad;
      auto frame = std::make_shared<bench::TFrameWatch>();
      frame->Arm(bench::TFrameWatch::kAnyView);
      plat::InstallDisplayBackend(frame);
      std::map<S, TClock::time_point> opened;
      CQuorelAppUi::SetStartStepHook([&](S step) {
        opened.emplace(step, TClock::now());
        return true;
      });
      road.Then([] {});
      const auto begun = TClock::now();
      const int code = road.Run();
      CQuorelAppUi::SetStartStepHook({});
      if (code != 0 || !frame->Painted() || opened.size() != static_cast<size_t>(S::OptionsMenu)) {
        state.SkipWithError("the program did not start to its first frame");
        return;
      }
      TParts parts{{"before_steps", Ms(begun, opened[S::UiStrings])}};
      for (size_t i = 0; i < std::size(kParts); ++i) {
        const auto end = i + 1 < std::size(kParts) ? opened[kParts[i + 1].first] : *frame->Painted();
        parts.emplace_back(kParts[i].second, Ms(opened[kParts[i].first], end));
      }
      runs.emplace_back(Ms(begun, *frame->Painted()), std::move(parts));
    }
    state.counters["first_run_total_ms"] = runs.front().first;
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto& [total, parts] = runs[(runs.size() - 1) / 2];
    state.SetIterationTime(total / 1000.0);
    state.counters["total_ms"] = total;
    for (const auto& [name, ms] : parts) state.counters[name + "_ms"] = ms;
    const double platform = PlatformAloneMs();
    state.counters["platform_ms"] = platform;
    state.counters["x_platform"] = total / platform;
  }
}
BENCHMARK(BM_StartBreakdown)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
