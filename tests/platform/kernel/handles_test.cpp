#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "KernelTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/kernel/Kernel.h"

using namespace plat;

namespace {

// What another module registers: an object with no wait semantics.
struct FileLike : KernelObject {
  explicit FileLike(std::atomic<int>* destroyed = nullptr) : m_destroyed(destroyed) {}
  ~FileLike() override {
    if (m_destroyed) ++*m_destroyed;
  }
  std::atomic<int>* m_destroyed;
};

TEST(KernelHandles, ForeignObjectRoundTripAndClose) {
  std::atomic<int> destroyed{0};
  auto object = std::make_shared<FileLike>(&destroyed);
  FileLike* raw = object.get();
  Handle h = RegisterHandle(std::move(object));
  ASSERT_NE(h, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(LookupHandle(h).get(), raw);
  EXPECT_EQ(LookupHandleAs<FileLike>(h).get(), raw);

  // Not waitable: a wait naming it fails and says why.
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // Nor is it an event or a thread.
  EXPECT_FALSE(SetEvent(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  uint32_t code;
  EXPECT_FALSE(GetExitCodeThread(h, &code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_EQ(LookupHandle(h), nullptr);
}

TEST(KernelHandles, StaleAndDoubleCloseFailWithoutTouchingTheNewOwner) {
  Handle first = CreateEvent(false, false);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(CloseHandle(first));

  SetLastError(0);
  EXPECT_FALSE(CloseHandle(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // The slot is reused by the next object; the old handle must not reach it.
  Handle second = CreateEvent(false, false);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_FALSE(SetEvent(first));
  EXPECT_FALSE(CloseHandle(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "a stale SetEvent reached the new object";
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(second));
}

TEST(KernelHandles, BogusHandlesAreRejected) {
  const Handle bogus[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<Handle>(uintptr_t{4}),
                          reinterpret_cast<Handle>(uintptr_t{0x12345}), reinterpret_cast<Handle>(uintptr_t{0x7FFFFFFC})};
  for (Handle h : bogus) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LookupHandle(h), nullptr);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(h));
    EXPECT_FALSE(ResetEvent(h));
  }
  SetLastError(0);
  EXPECT_EQ(RegisterHandle(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(KernelHandles, ConcurrentRegisterLookupAndClose) {
  // Threads churn through slots while others probe handles that are being
  // closed; every close must succeed exactly once and nothing may leak.
  std::atomic<int> destroyed{0};
  constexpr int kThreads = 4, kRounds = 2000;
  std::vector<std::atomic<Handle>> shared(kThreads * kRounds);
  std::vector<std::thread> threads;
  std::atomic<int> doubleCloses{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        Handle h = RegisterHandle(std::make_shared<FileLike>(&destroyed));
        shared[t * kRounds + i].store(h);
        // Probe a neighbour's recent handle: valid or stale, never a crash.
        LookupHandle(shared[((t + 1) % kThreads) * kRounds + i / 2].load());
        ASSERT_TRUE(CloseHandle(h));
        if (CloseHandle(h)) ++doubleCloses;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(doubleCloses.load(), 0);
  EXPECT_EQ(destroyed.load(), kThreads * kRounds);
}

}  // namespace
