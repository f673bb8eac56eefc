// The cost of turning a full result page into the model the screens read: a
// 100-track grouped search reply, parsed on the UI thread when it arrives.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/SearchResults.h"
#include "tests/protocol/ReplyDocuments.h"

namespace {

void BM_LoadGroupedSearch100(benchmark::State& state) {
  const std::string reply = replydocs::GroupedSearchOf(100);
  CSearchResults model;
  for (auto _ : state) {
    bool bOk = model.LoadBuffer(reply.data(), reply.size());
    benchmark::DoNotOptimize(bOk);
  }
  if (model.RecordingCount() != 100) state.SkipWithError("the reply did not parse");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_LoadGroupedSearch100)->Unit(benchmark::kMicrosecond);

}  // namespace
