#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "tests/support/Waits.h"

namespace plat {
namespace {

// Installs a capturing sink for the test's lifetime. The sink runs under the
// output lock, so the vector needs no lock of its own.
class Capture {
 public:
  Capture() {
    m_previous = SetDebugSink([this](WStringView text) { m_records.emplace_back(text); });
  }
  ~Capture() { SetDebugSink(std::move(m_previous)); }
  const std::vector<WString>& Records() const { return m_records; }

 private:
  DebugSink m_previous;
  std::vector<WString> m_records;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DebugOutput, SinkReceivesEachRecordAsWritten) {
  Capture capture;
  DebugWrite(u"[QUOREL] one\n");
  DebugPrintf(u"[%s]%s..%s", u"vymenu.cpp", u"CVyMenu::Open", u"Error CBR(x):y line 12\n");
  DebugPrintf(u"%d%%", 50);
  DebugWrite(WStringView(u"a\0b", 3));
  ASSERT_EQ(capture.Records().size(), 4u);
  EXPECT_EQ(capture.Records()[0], u"[QUOREL] one\n");
  EXPECT_EQ(capture.Records()[1], u"[vymenu.cpp]CVyMenu::Open..Error CBR(x):y line 12\n");
  EXPECT_EQ(capture.Records()[2], u"50%");
  EXPECT_EQ(capture.Records()[3], WStringView(u"a\0b", 3));
}

TEST(DebugOutput, DebugPrintfDoesNotCut) {
  Capture capture;
  const WString longText(1000, u'z');
  DebugPrintf(u"[%s]\n", longText);
  ASSERT_EQ(capture.Records().size(), 1u);
  EXPECT_EQ(capture.Records()[0].size(), 1003u);
}

TEST(DebugOutput, SetDebugSinkHandsBackThePreviousSink) {
  std::vector<WString> first, second;
  DebugSink original = SetDebugSink([&](WStringView t) { first.emplace_back(t); });
  DebugWrite(u"1");
  DebugSink mine = SetDebugSink([&](WStringView t) { second.emplace_back(t); });
  DebugWrite(u"2");
  SetDebugSink(std::move(mine));
  DebugWrite(u"3");
  SetDebugSink(std::move(original));
  EXPECT_EQ(first, (std::vector<WString>{u"1", u"3"}));
  EXPECT_EQ(second, (std::vector<WString>{u"2"}));
}

TEST(DebugOutput, ConcurrentWritersNeverInterleave) {
  Capture capture;
  constexpr int kThreads = 8;
  constexpr int kRecords = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRecords; ++i) {
        // Long enough that an unlocked writer would be caught half-way.
        DebugPrintf(u"T%d R%04d %s\n", t, i, WString(200, static_cast<WChar>(u'a' + t)));
      }
    });
  }
  for (auto& th : threads) th.join();

  ASSERT_EQ(capture.Records().size(), static_cast<size_t>(kThreads * kRecords));
  std::vector<int> next(kThreads, 0);
  for (const WString& r : capture.Records()) {
    ASSERT_GE(r.size(), 2u);
    const int t = r[1] - u'0';
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    // Each thread's records arrive whole and in its own order.
    EXPECT_EQ(r, FormatW(u"T%d R%04d %s\n", t, next[t], WString(200, static_cast<WChar>(u'a' + t))));
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kRecords);
}

TEST(DebugOutput, SinkThatWritesOrSwapsDoesNotDeadlock) {
  std::vector<WString> seen;
  DebugSink replacement = [](WStringView) {};
  DebugSink handedBack;
  DebugSink original = SetDebugSink([&](WStringView t) {
    seen.emplace_back(t);
    DebugWrite(u"[QUOREL] nested write from the sink (goes to stderr)\n");
    handedBack = SetDebugSink(replacement);
  });
  // Run on a thread so that a deadlock fails the test instead of hanging it.
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread writer([&] {
    DebugWrite(u"outer");
    done.set_value();
  });
  if (finished.wait_for(support::kHangLimit) != std::future_status::ready) {
    writer.detach();
    FAIL() << "DebugWrite deadlocked inside its own sink";
  }
  writer.join();
  DebugWrite(u"again");  // the sink is still the capturing one
  SetDebugSink(std::move(original));
  EXPECT_EQ(seen, (std::vector<WString>{u"outer", u"again"}));
  EXPECT_TRUE(static_cast<bool>(handedBack));
}

TEST(DebugOutput, ThrowingSinkNeitherThrowsNorKeepsTheLock) {
  int calls = 0;
  DebugSink original = SetDebugSink([&](WStringView) {
    ++calls;
    throw std::runtime_error("sink failed");
  });
  EXPECT_NO_THROW(DebugWrite(u"x"));
  EXPECT_NO_THROW(DebugPrintf(u"%d", 1));
  SetDebugSink(std::move(original));  // would deadlock if the lock were still held
  EXPECT_EQ(calls, 2);
}

TEST(DebugOutput, DefaultSinkAppendsUtf8ToTheLogFile) {
  const std::string base = ::testing::TempDir() + "quorel_debug_" + std::to_string(getpid());
  const std::string first = base + "_1.log", second = base + "_2.log";
  std::remove(first.c_str());
  std::remove(second.c_str());
  DebugSink original = SetDebugSink({});

  ASSERT_EQ(setenv("QUOREL_LOG", first.c_str(), 1), 0);
  DebugWrite(u"[QUOREL] caf\u00E9 \U0001F600\n");
  DebugWrite(u"[QUOREL] two\n");
  ASSERT_EQ(setenv("QUOREL_LOG", second.c_str(), 1), 0);
  DebugWrite(u"[QUOREL] three\n");
  ASSERT_EQ(unsetenv("QUOREL_LOG"), 0);
  DebugWrite(u"[QUOREL] four (stderr only)\n");

  SetDebugSink(std::move(original));
  EXPECT_EQ(ReadFile(first), "[QUOREL] caf\xC3\xA9 \xF0\x9F\x98\x80\n[QUOREL] two\n");
  EXPECT_EQ(ReadFile(second), "[QUOREL] three\n");
  std::remove(first.c_str());
  std::remove(second.c_str());
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_SHARING_VIOLATION);
  uint32_t seenByOther = 1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_IO_PENDING);
  });
  other.join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

}  // namespace
}  // namespace plat
