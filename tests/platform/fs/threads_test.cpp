// The file system from several threads at once.
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsThreads = FsTest;

// Without an outer lock each call on a shared handle must still move the
// position as one step: no record overwritten or torn.
TEST_F(FsThreads, SharedHandleWritesNeverOverlap) {
  Handle h = CreateFile(u"\\log.bin", RW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  constexpr uint32_t kThreads = 4, kRecords = 400;
  struct Record {
    uint32_t thread, seq, check;
  };
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < kThreads; ++t)
    threads.emplace_back([h, t] {
      uint32_t done = 0;
      for (uint32_t i = 0; i < kRecords; ++i) {
        Record r{t, i, t * 977u + i};
        if (!WriteFile(h, &r, sizeof r, &done)) return;
      }
    });
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  std::map<std::pair<uint32_t, uint32_t>, int> seen;
  Record r;
  uint32_t done = 0, torn = 0;
  while (ReadFile(h, &r, sizeof r, &done) && done == sizeof r) {
    torn += r.check != r.thread * 977u + r.seq;
    ++seen[{r.thread, r.seq}];
  }
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(seen.size(), size_t{kThreads * kRecords});
  EXPECT_EQ(GetFileSize(h, nullptr), kThreads * kRecords * sizeof(Record));
  CloseHandle(h);
}

// The sharing check and the entry it makes are one step: two threads never
// hold an unshared file at once.
TEST_F(FsThreads, ExclusiveOpenIsExclusiveUnderContention) {
  ASSERT_TRUE(Put(u"\\buffer.dat", "x"));
  std::atomic<int> inside{0}, overlaps{0}, wins{0}, otherErrors{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        Handle h = CreateFile(u"\\BUFFER.DAT", RW, 0, OPEN_ALWAYS);
        if (h == INVALID_HANDLE_VALUE) {
          otherErrors += GetLastError() != ERROR_SHARING_VIOLATION;
          continue;
        }
        overlaps += inside.fetch_add(1) != 0;
        ++wins;
        char c;
        uint32_t done;
        for (int k = 0; k < 20; ++k) {  // hold it across real work, so that holders would meet
          SetFilePointer(h, 0, nullptr, FILE_BEGIN);
          ReadFile(h, &c, 1, &done);
        }
        overlaps += inside.fetch_sub(1) != 1;
        CloseHandle(h);
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(otherErrors, 0);
  EXPECT_GT(wins, 0);
  EXPECT_TRUE(DeleteFile(u"\\buffer.dat"));  // nothing was left open
}

}  // namespace
}  // namespace fstest
