// Single instance with real processes: this test program starts copies of
// itself that run only SingleInstanceChild.Run, as a second start of the
// program would.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "tests/platform/ui/UiTestUtil.h"
#include "tests/support/Waits.h"

extern char** environ;

namespace {

using namespace plat;
using namespace uit;

constexpr char16_t kClass[] = u"QuorelInstanceTest";
constexpr char16_t kTitle[] = u"Quorel";

// Whether a second start reaches the first is what these tests check, not
// how fast: on a loaded machine either process may be starved for longer than
// the program allows itself. The children are this program too, so both sides
// take the longer bound from here.
const bool kPatientRequests = (SetInstanceRequestTimeoutMs(support::kHangMs), true);

// Exit codes of a child.
constexpr int kWon = 10;          // nobody else had it: the child is the instance
constexpr int kBroughtFront = 20; // found the first instance and asked it forward
constexpr int kAskFailed = 30;

// The child's side. Skipped unless started by a test below.
TEST(SingleInstanceChild, Run) {
  const char* root = std::getenv("QUOREL_INSTANCE_ROOT");
  if (!root) GTEST_SKIP() << "runs only as a child of the single-instance tests";
  FileSystemConfig files;
  files.deviceRoot = root;
  ConfigureFileSystem(files);
  HWND found = FindWindow(kClass, kTitle);
  if (!found) {
    // Hold the instance until the parent says so, so that a sibling started
    // at the same moment has to meet it.
    if (const char* ready = std::getenv("QUOREL_INSTANCE_READY")) std::ofstream(ready).put('x');
    if (const char* release = std::getenv("QUOREL_INSTANCE_RELEASE"))
      support::PollUntil([release] { return std::filesystem::exists(release); });
    _exit(kWon);
  }
  // As the program does: the handle with its lowest bit set, then SW_SHOW.
  bool front = SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(found) | 1));
  bool shown = ShowWindow(found, SW_SHOW);
  _exit(front && shown ? kBroughtFront : kAskFailed);
}

class Child {
 public:
  Child(const std::filesystem::path& root, const std::string& release = "", const std::string& ready = "") {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("QUOREL_INSTANCE_ROOT=" + root.string());
    if (!release.empty()) env.push_back("QUOREL_INSTANCE_RELEASE=" + release);
    if (!ready.empty()) env.push_back("QUOREL_INSTANCE_READY=" + ready);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=SingleInstanceChild.Run";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    m_ok = posix_spawn(&m_pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) == 0;
  }
  bool Started() const { return m_ok; }
  // The exit code once the child has ended, without waiting.
  std::optional<int> Poll() {
    if (!m_ok || m_code) return m_code;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) m_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_code;
  }
  // Waits for the end, boundedly.
  std::optional<int> Wait() {
    support::PollUntil([this] { return Poll().has_value(); });
    return Poll();
  }
  ~Child() {
    if (m_ok && !m_code) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }

 private:
  pid_t m_pid = 0;
  bool m_ok = false;
  std::optional<int> m_code;
};

TestConfig HostClock() {
  TestConfig c;
  c.virtualClock = false;  // the other process lives in real time
  return c;
}

TEST(SingleInstance, ASecondStartBringsTheFirstToTheFrontAndEnds) {
  TestPlatform p(HostClock());
  Recorder rec;
  ASSERT_EQ(FindWindow(kClass, kTitle), nullptr);  // the first start: nobody there, the lock is ours
  WndClass cls;
  cls.name = kClass;
  cls.proc = DefWindowProc;
  ASSERT_NE(RegisterClass(cls), 0);
  HWND main = CreateWindowEx(0, kClass, kTitle, WS_VISIBLE, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, 0, nullptr,
                             nullptr);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(FindWindow(kClass, kTitle), main);
  EXPECT_EQ(FindWindow(u"quorelinstancetest", u"QUOREL"), main);  // neither name minds case
  p.Activate(false);  // the user switched to something else
  p.Pump();
  ASSERT_EQ(GetForegroundWindow(), nullptr);
  const int raisesBefore = p.Backend().Stats().raises;

  Child second(p.DeviceRoot());
  ASSERT_TRUE(second.Started());
  support::PollUntil([&] {
    if (second.Poll() && GetForegroundWindow() == main) return true;
    p.RunFor(5);  // the loop takes the child's request
    return false;
  }, 0, std::chrono::milliseconds(0));
  EXPECT_EQ(second.Poll(), kBroughtFront);
  EXPECT_EQ(GetForegroundWindow(), main);
  EXPECT_GT(p.Backend().Stats().raises, raisesBefore);
}

TEST(SingleInstance, TheLockGoesWithTheProcessThatHeldIt) {
  TestPlatform p(HostClock());
  {
    Child first(p.DeviceRoot());
    EXPECT_EQ(first.Wait(), kWon);
  }
  // The first one ended: a new start is the instance again.
  EXPECT_EQ(FindWindow(kClass, kTitle), nullptr);
  Child second(p.DeviceRoot());
  EXPECT_EQ(second.Wait(), kBroughtFront);  // reached this process's listener
}

TEST(SingleInstance, TwoStartsAtOnceCannotBothWin) {
  TestPlatform p(HostClock());
  const std::filesystem::path release = p.DeviceRoot().parent_path() / "release";
  Child a(p.DeviceRoot(), release.string());
  Child b(p.DeviceRoot(), release.string());
  ASSERT_TRUE(a.Started() && b.Started());
  // The loser ends by itself once it has asked the winner forward.
  std::optional<int> first;
  support::PollUntil([&] {
    first = a.Poll() ? a.Poll() : b.Poll();
    return first.has_value();
  });
  EXPECT_EQ(first, kBroughtFront);
  std::ofstream(release).put('x');
  std::optional<int> ca = a.Wait(), cb = b.Wait();
  ASSERT_TRUE(ca && cb);
  EXPECT_EQ(std::min(*ca, *cb), kWon);
  EXPECT_EQ(std::max(*ca, *cb), kBroughtFront);
}

TEST(SingleInstance, AskingAnInstanceThatIsGoneFails) {
  TestPlatform p(HostClock());
  const std::filesystem::path release = p.DeviceRoot().parent_path() / "release";
  const std::filesystem::path ready = p.DeviceRoot().parent_path() / "ready";
  Child holder(p.DeviceRoot(), release.string(), ready.string());
  support::PollUntil([&] { return std::filesystem::exists(ready) || holder.Poll(); });
  HWND proxy = FindWindow(kClass, kTitle);
  ASSERT_NE(proxy, nullptr);
  EXPECT_TRUE(IsWindow(proxy));
  EXPECT_FALSE(PostMessage(proxy, WM_APP, 0, 0));  // only front requests go across
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  std::ofstream(release).put('x');
  EXPECT_EQ(holder.Wait(), kWon);
  EXPECT_FALSE(SetForegroundWindow(proxy));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

}  // namespace
