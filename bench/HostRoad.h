// What the benchmarks that run the built program's own loop share: the
// roads' fixtures on the host's clock, the moment of a presented frame, and
// the median and maximum of their runs.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "e2e/Road.h"
#include "framework/AppUi.h"
#include "platform/display/Headless.h"

namespace bench {

using TClock = std::chrono::steady_clock;

inline double Ms(TClock::time_point from, TClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}
inline double Max(const std::vector<double>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }

// The program against its own test server on the host's clock; null (the
// benchmark told why) when the fixtures could not be set up.
inline std::unique_ptr<e2e::Road> HostClockRoad(benchmark::State& state, bool bEchoDebugOutput = false) {
  e2e::RoadConfig config;
  config.virtualClock = false;
  config.echoDebugOutput = bEchoDebugOutput;
  auto road = std::make_unique<e2e::Road>(config);
  if (road->Ready()) return road;
  state.SkipWithError(road->Error().c_str());
  return nullptr;
}

// Notes the moment of the first frame presented once armed: while view
// `nView` is active, or any frame for kAnyView.
class TFrameWatch : public plat::HeadlessBackend {
 public:
  static constexpr int32_t kAnyView = -2;
  void Arm(int32_t nView) {
    m_nView = nView;
    m_painted.reset();
  }
  std::optional<TClock::time_point> Painted() const { return m_painted; }
  void Present(const plat::FrameBuffer& screen, const plat::Rect& damage) override {
    plat::HeadlessBackend::Present(screen, damage);
    if (m_nView == -1 || m_painted) return;
    if (m_nView == kAnyView || (CAppUi::Instance() && CAppUi::Instance()->GetActiveViewId() == m_nView))
      m_painted = TClock::now();
  }

 private:
  int32_t m_nView = -1;
  std::optional<TClock::time_point> m_painted;
};

}  // namespace bench
