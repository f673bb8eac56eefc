// The anchor the drawing benchmarks are measured against: a plain memcpy of
// the frame's bytes, timed in the same run. The counter x_memcpy is the
// operation's time per iteration divided by memcpy's.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Nanoseconds for one memcpy of `bytes`, measured now, on warm buffers.
inline double MemcpyNanos(size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  std::memcpy(to.data(), from.data(), bytes);
  int rounds = 0;
  const auto start = Clock::now();
  do {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    ++rounds;
  } while (Clock::now() - start < std::chrono::milliseconds(50));
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / rounds;
}

// Runs `op` once per iteration and reports it against memcpy of `frameBytes`.
template <class Op>
void RunAgainstMemcpy(benchmark::State& state, size_t frameBytes, Op op) {
  const double memcpyNs = MemcpyNanos(frameBytes);
  const auto start = Clock::now();
  for (auto _ : state) {
    op();
    benchmark::ClobberMemory();
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                    static_cast<double>(state.iterations());
  state.counters["x_memcpy"] = ns / memcpyNs;
  state.counters["memcpy_us"] = memcpyNs / 1000.0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frameBytes));
}

}  // namespace bench
