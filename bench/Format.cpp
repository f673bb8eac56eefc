// The cost of one trace line: the program formats one for nearly every step
// of a recognition, on the UI thread and the network worker alike.
#include <benchmark/benchmark.h>

#include "platform/base/Format.h"

namespace {

const plat::WString kHost = u"recognition.example.net";
const plat::WString kPath = u"/api/v3/recognize?session=3F2504E0&codec=speex&rate=8000";

void BM_FormatW_TraceLine(benchmark::State& state) {
  for (auto _ : state) {
    plat::WString line = plat::FormatW(u"[QUOREL] HTTP core id: %d error: %d host: %s path: %s port %d\n", 7, 14,
                                       kHost, kPath, 80);
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_FormatW_TraceLine);

// The trace's own path: a fixed 256-unit buffer, cut at 255.
void BM_FormatWTo_TraceLine(benchmark::State& state) {
  plat::WChar buf[256];
  for (auto _ : state) {
    size_t n = plat::FormatWTo(buf, 256, u"[QUOREL] HTTP core id: %d error: %d host: %s path: %s port %d\n", 7, 14,
                               kHost, kPath, 80);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_FormatWTo_TraceLine);

void BM_FormatW_ToolkitLine(benchmark::State& state) {
  for (auto _ : state) {
    plat::WString line = plat::FormatW(u"[%s]%s..%s", u"vycontrol.cpp", u"CVyControl::SetName",
                                       u"Error CHR(hr):SetName line 212, hr = -2147467259\n");
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_FormatW_ToolkitLine);

void BM_FormatW_Numbers(benchmark::State& state) {
  unsigned char guid[16] = {0x3F, 0x25, 0x04, 0xE0, 0x4F, 0x89, 0x11, 0xD3, 0x9A, 0x0C, 0x03, 0x05, 0xE8, 0x2C, 0x33, 0x01};
  for (auto _ : state) {
    plat::WString line = plat::FormatW(u"%02x%02x%02x%02x-%02x%02x-%02x%02x %02d:%02d %08X %p", guid[0], guid[1],
                                       guid[2], guid[3], guid[4], guid[5], guid[6], guid[7], 12, 5, 0xBEEFu, &guid);
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_FormatW_Numbers);

}  // namespace
