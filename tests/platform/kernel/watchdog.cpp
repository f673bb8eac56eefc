// A wait-semantics fault (a lost wake-up, a virtual clock that never moves)
// shows up as a hang. This turns a hang into a failure naming the test.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

class Watchdog : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo& info) override {
    m_done = false;
    std::string name = std::string(info.test_suite_name()) + "." + info.name();
    m_thread = std::thread([this, name] {
      std::unique_lock<std::mutex> lock(m_lock);
      if (!m_cv.wait_for(lock, std::chrono::seconds(120), [this] { return m_done; })) {
        std::fprintf(stderr, "watchdog: %s still running after 120 s; aborting\n", name.c_str());
        std::abort();
      }
    });
  }
  void OnTestEnd(const testing::TestInfo&) override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_done = true;
    }
    m_cv.notify_one();
    m_thread.join();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_cv;
  bool m_done = false;
  std::thread m_thread;
};

const bool g_installed = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  return true;
}();

}  // namespace
