// The start-up tables with the data the build shipped: registering the UI
// strings from the 22 language modules, registering the image catalogue, and
// the first decode of every slot's picture from the main pack, cold and
// cached. The anchor is a memcpy of the same PNG bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <set>
#include <vector>

#include "app/ImageSource.h"
#include "app/LanguageTable.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/testing/TestPlatform.h"

namespace {

// A headless device whose program folder is this executable's folder, where
// the build put the packs.
class CShippedDevice {
 public:
  CShippedDevice() {
    plat::FileSystemConfig config = plat::CurrentFileSystemConfig();
    config.programFolder = plat::ExecutableFolder();
    m_bReady = plat::ConfigureFileSystem(config) && RegOpenAppKey() == 0;
    m_hMain = m_bReady ? plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res") : nullptr;
    plat::SetMainModule(m_hMain);
  }
  ~CShippedDevice() {
    plat::SetMainModule(nullptr);
    if (m_hMain) plat::FreeLibrary(m_hMain);
    RegCloseAppKey();
  }
  bool Ready(benchmark::State& state) {
    if (m_bReady && m_hMain) return true;
    state.SkipWithError("the build's packs are not beside the benchmark");
    return false;
  }

 private:
  plat::TestPlatform m_platform;
  bool m_bReady = false;
  plat::ModuleHandle m_hMain = nullptr;
};

void BM_RegisterUiStrings(benchmark::State& state) {
  CShippedDevice device;
  if (!device.Ready(state)) return;
  plat::SetUILanguageOverride(0x0409);
  for (auto _ : state) {
    CResources::Create();
    RegisterUiStrings();
    CResources::Destroy();
    FreeLanguageModules();
  }
  plat::SetUILanguageOverride(std::nullopt);
}
BENCHMARK(BM_RegisterUiStrings)->Unit(benchmark::kMillisecond);

void BM_RegisterImages(benchmark::State& state) {
  for (auto _ : state) {
    CResources::Create();
    RegisterImages();
    CResources::Destroy();
  }
}
BENCHMARK(BM_RegisterImages)->Unit(benchmark::kMicrosecond);

const RECT kOwnSize{0, 0, 0, 0};

void FetchEverySlot(const std::vector<TImageSlot>& slots) {
  for (const TImageSlot& slot : slots) CResources::GetImage(slot.nSlot, EScaleNone, kOwnSize)->removeReference();
}

// Fetches every slot's picture from the shipped pack (portrait ids) each
// round; `cold` drops the caches before each round.
void FetchEverySlotRounds(benchmark::State& state, bool cold) {
  CShippedDevice device;
  if (!device.Ready(state)) return;
  CResources::Create();
  RegisterImages();
  const std::vector<TImageSlot> slots = ImageCatalogue();
  FetchEverySlot(slots);
  for (auto _ : state) {
    if (cold) CResources::ClearCaches();
    FetchEverySlot(slots);
  }
  CResources::Destroy();
}

void BM_FirstDecodeOfEverySlot(benchmark::State& state) { FetchEverySlotRounds(state, true); }
BENCHMARK(BM_FirstDecodeOfEverySlot)->Unit(benchmark::kMillisecond);

void BM_CachedFetchOfEverySlot(benchmark::State& state) { FetchEverySlotRounds(state, false); }
BENCHMARK(BM_CachedFetchOfEverySlot)->Unit(benchmark::kMicrosecond);

// The anchor: copying the PNG bytes of the same slots.
void BM_MemcpyOfEverySlotsPng(benchmark::State& state) {
  CShippedDevice device;
  if (!device.Ready(state)) return;
  std::vector<std::span<const uint8_t>> files;
  for (const TImageSlot& slot : ImageCatalogue())
    if (!slot.bEmpty && slot.nPortraitId)
      if (auto bytes = plat::FindResource(nullptr, plat::RT_RCDATA, slot.nPortraitId)) files.push_back(*bytes);
  std::vector<uint8_t> buffer;
  size_t nTotal = 0;
  for (const auto& file : files) nTotal = std::max(nTotal, file.size());
  buffer.resize(nTotal);
  for (auto _ : state)
    for (const auto& file : files) {
      std::memcpy(buffer.data(), file.data(), file.size());
      benchmark::DoNotOptimize(buffer.data());
      benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyOfEverySlotsPng)->Unit(benchmark::kMicrosecond);

}  // namespace
