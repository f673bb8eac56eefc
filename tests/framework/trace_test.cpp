#include "framework/Trace.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/base/Debug.h"

namespace {

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previous = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_records.emplace_back(text);
    });
  }
  void TearDown() override { plat::SetDebugSink(std::move(m_previous)); }
  std::vector<plat::WString> Records() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
  }

 private:
  std::mutex m_lock;
  std::vector<plat::WString> m_records;
  plat::DebugSink m_previous;
};

TEST_F(Trace, FormatsByWidePrintfRules) {
  DebugTrace(u"[QUOREL] Starting Quorel %u.%u.%u.\n", 1, 6, 57);
  DebugTrace(u"[QUOREL] %s got %d (%02d:%02d)\n", plat::WString(u"Recorder"), -3, 1, 5);
  EXPECT_EQ(Records(), (std::vector<plat::WString>{u"[QUOREL] Starting Quorel 1.6.57.\n",
                                                   u"[QUOREL] Recorder got -3 (01:05)\n"}));
}

TEST_F(Trace, LongLinesAreCutAt255Units) {
  const plat::WString prefix = u"[QUOREL] ";
  struct TCase {
    const char* what;
    plat::WString text;  // the %s argument after the prefix, followed by "\n"
    plat::WString expected;
  };
  plat::WString fits(255 - prefix.size() - 1, u'x');
  plat::WString over(400, u'y');
  // A pair whose low half would be unit 256: both halves go.
  plat::WString split(255 - prefix.size() - 1, u'z');
  split += u"\U0001F3B5";
  plat::WString pairInside(255 - prefix.size() - 2, u'w');
  pairInside += u"\U0001F3B5";  // ends exactly at unit 255
  const std::vector<TCase> cases = {
      {"exactly 255 with its line feed", fits, prefix + fits + u"\n"},
      {"longer: cut, line feed lost", over, prefix + over.substr(0, 255 - prefix.size())},
      {"cut inside a surrogate pair", split, prefix + split.substr(0, split.size() - 2)},
      {"pair ending at the limit", pairInside, prefix + pairInside},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    size_t before = Records().size();
    DebugTrace(u"[QUOREL] %s\n", tc.text);
    std::vector<plat::WString> records = Records();
    ASSERT_EQ(records.size(), before + 1);
    EXPECT_EQ(records.back(), tc.expected);
    EXPECT_LE(records.back().size(), 255u);
  }
}

TEST_F(Trace, PreformattedRecordsAreCutByTheSameRule) {
  plat::WString text(254, u'a');
  text += u"\U0001F3B5 and more";  // the pair starts at unit 255
  WriteTraceRecord(text);
  WriteTraceRecord(plat::WString(300, u'b'));
  WriteTraceRecord(u"short\n");
  EXPECT_EQ(Records(), (std::vector<plat::WString>{plat::WString(254, u'a'), plat::WString(255, u'b'),
                                                   u"short\n"}));
}

TEST_F(Trace, RecordsFromManyThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) DebugTrace(u"[QUOREL] thread %d line %d\n", t, i);
    });
  for (auto& th : threads) th.join();
  std::vector<plat::WString> records = Records();
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kLines));
  std::set<plat::WString> unique(records.begin(), records.end());
  EXPECT_EQ(unique.size(), records.size());
  for (int t = 0; t < kThreads; ++t)
    EXPECT_TRUE(unique.count(plat::FormatW(u"[QUOREL] thread %d line %d\n", t, kLines - 1)));
}

}  // namespace
