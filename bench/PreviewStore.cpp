// The preview store over a full folder (500 cached previews of 2,000 bytes
// and a 100,000-byte "buffer.dat"): a commit that has to evict, cache hits
// and misses and the size count, next to one directory walk with sizes over
// the same folder in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"
#include "protocol/PreviewStore.h"

namespace {

constexpr int kEntries = 500;
constexpr size_t kEntryBytes = 2000;
constexpr size_t kBufferBytes = 100000;

struct TStoreFixture {
  std::filesystem::path root;
  std::unique_ptr<PreviewStore> store;
  std::filesystem::path folder;

  TStoreFixture() {
    plat::SetDebugSink([](plat::WStringView) {});
    std::string pattern = (std::filesystem::temp_directory_path() / "quorel-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    root = pattern;
    plat::FileSystemConfig config;
    config.deviceRoot = root;
    plat::ConfigureFileSystem(config);
    store = std::make_unique<PreviewStore>();
    folder = *plat::HostPath(store->Directory());
  }
  ~TStoreFixture() {
    store.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  void Fill() {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string entry(kEntryBytes, 'e');
    for (int i = 0; i < kEntries; ++i) std::ofstream(folder / ("t-e" + std::to_string(i) + ".mp3_")) << entry;
    WriteBuffer();
  }
  void WriteBuffer() { std::ofstream(folder / "buffer.dat") << std::string(kBufferBytes, 'b'); }
};

TStoreFixture& Fixture() {
  static TStoreFixture fixture;
  return fixture;
}

TrackRecord Track(const char16_t* id) {
  TrackRecord track;
  track.m_nKind = TrackKindPreview;
  track.m_trackId = id;
  return track;
}

void BM_DirectoryWalk(benchmark::State& state) {
  TStoreFixture& f = Fixture();
  f.Fill();
  for (auto _ : state) {
    uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(f.folder)) total += entry.file_size();
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_DirectoryWalk)->Unit(benchmark::kMicrosecond);

void BM_TotalSize(benchmark::State& state) {
  TStoreFixture& f = Fixture();
  f.Fill();
  for (auto _ : state) benchmark::DoNotOptimize(PreviewStore::TotalSize(f.store->Directory(), nullptr));
}
BENCHMARK(BM_TotalSize)->Unit(benchmark::kMicrosecond);

// Argument 1: a cached track; 0: one that is not.
void BM_IsCached(benchmark::State& state) {
  TStoreFixture& f = Fixture();
  f.Fill();
  TrackRecord track = Track(state.range(0) ? u"e250" : u"absent");
  plat::WString name;
  for (auto _ : state) benchmark::DoNotOptimize(f.store->IsCached(track, name));
}
BENCHMARK(BM_IsCached)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// A full folder each time: the commit evicts about fifty previews first.
void BM_CommitFullStore(benchmark::State& state) {
  TStoreFixture& f = Fixture();
  TrackRecord track = Track(u"new");
  for (auto _ : state) {
    state.PauseTiming();
    f.Fill();
    state.ResumeTiming();
    benchmark::DoNotOptimize(f.store->Commit(track));
  }
}
BENCHMARK(BM_CommitFullStore)->Unit(benchmark::kMicrosecond)->Iterations(30);

}  // namespace
