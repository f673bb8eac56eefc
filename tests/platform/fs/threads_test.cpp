// The file system from several threads at once: a download file written by
// one thread and read by another, a shared handle without an outer lock, and
// races on exclusive opens and on no-replace moves.
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/fs/FsInternal.h"
#include "platform/kernel/Kernel.h"
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsThreads = FsTest;

uint8_t PatternByte(uint32_t offset) { return static_cast<uint8_t>((offset * 7u + (offset >> 8)) & 0xFF); }

// The download pattern: the worker seeks to its write position and appends,
// the player seeks to its read position and reads what has arrived, both
// through one handle and under the owner's lock.
TEST_F(FsThreads, DownloadFileWrittenByOneThreadReadByAnother) {
  Handle h = Open(u"\\buffer.dat", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  constexpr uint32_t kTotal = 300000;
  std::mutex lock;
  uint32_t writePos = 0;
  std::atomic<bool> writeFailed{false};

  std::thread worker([&] {
    std::vector<uint8_t> chunk;
    uint32_t size = 1;
    while (true) {
      std::lock_guard<std::mutex> g(lock);
      if (writePos >= kTotal) break;
      uint32_t n = std::min(size, kTotal - writePos);
      chunk.resize(n);
      for (uint32_t i = 0; i < n; ++i) chunk[i] = PatternByte(writePos + i);
      uint32_t done = 0;
      if (SetFilePointer(h, static_cast<int32_t>(writePos), nullptr, FILE_BEGIN) != writePos ||
          !WriteFile(h, chunk.data(), n, &done) || done != n) {
        writeFailed = true;
        break;
      }
      writePos += n;
      size = size * 3 % 4093 + 1;  // uneven pieces, as the network delivers them
    }
  });

  uint32_t readPos = 0;
  uint32_t mismatches = 0;
  std::vector<uint8_t> buf(8192);
  while (readPos < kTotal && !writeFailed) {
    std::lock_guard<std::mutex> g(lock);
    uint32_t available = writePos - readPos;
    if (available == 0) continue;
    uint32_t done = 0;
    ASSERT_EQ(SetFilePointer(h, static_cast<int32_t>(readPos), nullptr, FILE_BEGIN), readPos);
    ASSERT_TRUE(ReadFile(h, buf.data(), std::min<uint32_t>(available, buf.size()), &done));
    ASSERT_GT(done, 0u);
    for (uint32_t i = 0; i < done; ++i) mismatches += buf[i] != PatternByte(readPos + i);
    readPos += done;
  }
  worker.join();
  EXPECT_FALSE(writeFailed);
  EXPECT_EQ(readPos, kTotal);
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(GetFileSize(h, nullptr), kTotal);
  CloseHandle(h);
}

// Without an outer lock, each call on a shared handle must still move the
// position as one step: no record may be overwritten or torn.
TEST_F(FsThreads, SharedHandleWritesNeverOverlap) {
  Handle h = Open(u"\\log.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  constexpr int kThreads = 4, kRecords = 400;
  struct Record {
    uint32_t thread, seq, check1, check2;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([h, t] {
      for (uint32_t i = 0; i < kRecords; ++i) {
        Record r{static_cast<uint32_t>(t), i, i ^ 0xA5A5A5A5u, static_cast<uint32_t>(t) * 977u + i};
        uint32_t done = 0;
        if (!WriteFile(h, &r, sizeof r, &done) || done != sizeof r) return;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(GetFileSize(h, nullptr), kThreads * kRecords * sizeof(Record));
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  std::map<std::pair<uint32_t, uint32_t>, int> seen;
  Record r;
  uint32_t done = 0;
  int torn = 0;
  while (ReadFile(h, &r, sizeof r, &done) && done == sizeof r) {
    if (r.check1 != (r.seq ^ 0xA5A5A5A5u) || r.check2 != r.thread * 977u + r.seq) ++torn;
    ++seen[{r.thread, r.seq}];
  }
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kRecords));
  CloseHandle(h);
}

// The share table's check and insert are one step: two threads never hold
// an unshared file at once.
TEST_F(FsThreads, ExclusiveOpenIsExclusiveUnderContention) {
  ASSERT_TRUE(Put(u"\\buffer.dat", "x"));
  std::atomic<int> inside{0}, overlaps{0}, wins{0}, otherErrors{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        Handle h = CreateFile(u"\\BUFFER.DAT", GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
        if (h == INVALID_HANDLE_VALUE) {
          if (GetLastError() != ERROR_SHARING_VIOLATION) ++otherErrors;
          continue;
        }
        if (inside.fetch_add(1) != 0) ++overlaps;
        ++wins;
        // Hold the file across some real work, so that holders would meet.
        char c = 0;
        uint32_t done = 0;
        for (int k = 0; k < 20; ++k) {
          SetFilePointer(h, 0, nullptr, FILE_BEGIN);
          ReadFile(h, &c, 1, &done);
        }
        if (inside.load() != 1) ++overlaps;
        inside.fetch_sub(1);
        CloseHandle(h);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(otherErrors, 0);
  EXPECT_GT(wins, 0);
  EXPECT_TRUE(DeleteFile(u"\\buffer.dat"));  // nothing was left open
}

class FsMoveRace : public FsTest, public testing::WithParamInterface<bool> {
 protected:
  void TearDown() override {
    fs_detail::ForceRenameFallbackForTest(false);
    FsTest::TearDown();
  }
};

// Several threads commit different files under one name: exactly one wins,
// the others keep their files.
TEST_P(FsMoveRace, ExactlyOneMoveWins) {
  fs_detail::ForceRenameFallbackForTest(GetParam());
  constexpr int kThreads = 4;
  for (int round = 0; round < 40; ++round) {
    for (int t = 0; t < kThreads; ++t) ASSERT_TRUE(Put(u"\\src" + Widen(std::to_string(t)), std::to_string(t)));
    std::atomic<int> ready{0};
    std::atomic<int> winner{-1}, wins{0}, wrongError{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        if (MoveFile(u"\\src" + Widen(std::to_string(t)), u"\\Key.mp3_")) {
          ++wins;
          winner = t;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
          ++wrongError;
        }
      });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(wins, 1);
    ASSERT_EQ(wrongError, 0);
    ASSERT_EQ(Get(u"\\key.mp3_"), std::to_string(winner.load()));
    for (int t = 0; t < kThreads; ++t) {
      WString src = u"\\src" + Widen(std::to_string(t));
      if (t == winner) {
        EXPECT_FALSE(CanOpenForRead(src));
      } else {
        EXPECT_EQ(Get(src), std::to_string(t));
        ASSERT_TRUE(DeleteFile(src));
      }
    }
    ASSERT_TRUE(DeleteFile(u"\\Key.mp3_"));
  }
}

INSTANTIATE_TEST_SUITE_P(Rename, FsMoveRace, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "LinkFallback" : "KernelNoReplace";
                         });

}  // namespace
}  // namespace fstest
