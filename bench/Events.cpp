// Posted-event queue: the cost of one post plus its dispatch on the UI thread,
// alone and with a worker thread posting while the UI thread drains.
#include <benchmark/benchmark.h>

#include <thread>

#include "framework/Events.h"
#include "platform/kernel/Kernel.h"

namespace {

class CCountMessage : public CEventMessage {
 public:
  explicit CCountMessage(int64_t* pCount) : m_pCount(pCount) {}
  void Dispatch() override { ++*m_pCount; }

 private:
  int64_t* m_pCount;
};

void BM_PostThenDispatch(benchmark::State& state) {
  CEventQueue queue([] { return true; });
  queue.SetInitialised(true);
  queue.SetLoopAlive(true);
  int64_t nDispatched = 0;
  for (auto _ : state) {
    queue.PostEvent(new CCountMessage(&nDispatched));
    queue.RunEvents();
  }
  if (nDispatched != state.iterations()) state.SkipWithError("a message was lost");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostThenDispatch);

// One worker posts a burst; the UI thread waits for each wake-up and runs one
// message per wake-up, as its message loop does.
void BM_WorkerBurstToUiThread(benchmark::State& state) {
  const int64_t nBurst = state.range(0);
  for (auto _ : state) {
    plat::Handle wake = plat::CreateEvent(false, false);
    CEventQueue queue([wake] { return plat::SetEvent(wake); });
    queue.SetInitialised(true);
    queue.SetLoopAlive(true);
    int64_t nDispatched = 0;
    std::thread worker([&] {
      for (int64_t i = 0; i < nBurst; ++i) queue.PostEvent(new CCountMessage(&nDispatched));
    });
    while (nDispatched < nBurst) {
      plat::WaitForSingleObject(wake, plat::INFINITE);
      queue.RunEvents();
    }
    worker.join();
    queue.SetLoopAlive(false);
    plat::CloseHandle(wake);
  }
  state.SetItemsProcessed(state.iterations() * nBurst);
}
BENCHMARK(BM_WorkerBurstToUiThread)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
