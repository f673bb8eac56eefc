#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"
#include "platform/shell/Launch.h"
#include "tests/support/Waits.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using plat::LaunchKind;

constexpr const char16_t* kSettings = u"Platform\\Linux";
constexpr const char* kEnv[] = {"DISPLAY", "WAYLAND_DISPLAY", "PATH"};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A started program runs on its own; wait (boundedly) for what it leaves.
bool WaitForFile(const fs::path& p) {
  return support::PollUntil([&] { return fs::exists(p); }, 0, std::chrono::milliseconds(5));
}

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/launch-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "bin");
    fs::create_directories(m_root / "card/quorelstore");
    plat::FileSystemConfig config;
    config.deviceRoot = m_root / "device";
    config.cards.push_back({u"Storage Card", m_root / "card", false});
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
    plat::ResetRegistryForTests();

    for (const char* name : kEnv) {
      const char* v = getenv(name);
      m_savedEnv.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    }
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    m_previousSink = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> guard(m_linesLock);
      m_lines.push_back(plat::ToUtf8(text));
    });
    plat::ClearLaunches();
    plat::SetLaunchRecordingOnly(false);
  }

  void TearDown() override {
    plat::SetLaunchRecordingOnly(false);
    plat::ClearLaunches();
    plat::SetDebugSink(m_previousSink);
    for (size_t i = 0; i < m_savedEnv.size(); ++i) {
      if (m_savedEnv[i]) setenv(kEnv[i], m_savedEnv[i]->c_str(), 1);
      else unsetenv(kEnv[i]);
    }
    plat::ResetRegistryForTests();
    fs::remove_all(m_root);
  }

  // A program that writes its argument count and first argument to `out`.
  fs::path Script(const std::string& name, const fs::path& out, bool executable = true) {
    const fs::path path = m_root / "bin" / name;
    std::ofstream(path) << "#!/bin/sh\n"
                        << "printf '%s\\n%s' \"$#\" \"$1\" > '" << out.string() << ".tmp'\n"
                        << "mv '" << out.string() << ".tmp' '" << out.string() << "'\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return path;
  }

  void Configure(const char16_t* name, const fs::path& program) {
    ASSERT_EQ(plat::WriteString(plat::HKEY_LOCAL_MACHINE, kSettings, name, plat::FromUtf8(program.string())), 0);
  }

  plat::LaunchRecord Run(const std::u16string& file, bool* result = nullptr) {
    plat::ShellExecInfo info;
    info.mask = plat::SEE_MASK_NOCLOSEPROCESS;
    info.verb = u"open";
    info.file = file;
    info.parameters = u"-x";
    info.show = 1;
    info.process = reinterpret_cast<plat::Handle>(uintptr_t{1});
    const bool ok = plat::ShellExecuteEx(info);
    if (result) *result = ok;
    EXPECT_EQ(info.process, nullptr);
    const auto records = plat::Launches();
    if (records.empty()) {
      ADD_FAILURE() << "the request was not recorded";
      return {};
    }
    EXPECT_EQ(records.back().result, ok);
    if (!ok) {
      EXPECT_EQ(plat::GetLastError(), records.back().error);
    }
    return records.back();
  }

  std::string Log() {
    std::lock_guard<std::mutex> guard(m_linesLock);
    std::string all;
    for (const std::string& l : m_lines) all += l;
    return all;
  }

  fs::path m_root;
  std::vector<std::optional<std::string>> m_savedEnv;
  plat::DebugSink m_previousSink;
  std::mutex m_linesLock;
  std::vector<std::string> m_lines;
};

TEST_F(Launch, ClassifiesRequests) {
  std::ofstream(m_root / "card/quorelstore/update.cab") << "package";
  Configure(u"UrlOpener", Script("opener", m_root / "unused"));
  plat::SetLaunchRecordingOnly(true);

  struct Case {
    std::u16string file;
    LaunchKind kind;
    bool result;
  };
  const Case cases[] = {
      {u"http://example.org/", LaunchKind::Link, true},
      {u"HTTPS://Example.org/buy?artist_name=A%26B#top", LaunchKind::Link, true},
      {u"http://example.org/update.cab", LaunchKind::Link, true},
      {u"\\Storage Card\\quorelstore\\update.cab", LaunchKind::Package, true},
      {u"\\storage card\\QUORELSTORE\\UPDATE.CAB", LaunchKind::Package, true},
      {u"", LaunchKind::Refused, false},
      {u"http://", LaunchKind::Refused, false},
      {u"http:///etc/passwd", LaunchKind::Refused, false},
      {u"https:example.org", LaunchKind::Refused, false},
      {u"ftp://example.org/file", LaunchKind::Refused, false},
      {u"file:///etc/passwd", LaunchKind::Refused, false},
      {u"javascript:alert(1)", LaunchKind::Refused, false},
      {u"custom-app://x/update.cab", LaunchKind::Refused, false},
      {u"\\Windows\\calc.exe", LaunchKind::Refused, false},
      {u"http://example.org/\nFAKE LINE", LaunchKind::Refused, false},
      {std::u16string(u"http://example.org/\0x", 20), LaunchKind::Refused, false},
  };
  for (const Case& c : cases) {
    bool ok = false;
    const plat::LaunchRecord r = Run(c.file, &ok);
    const std::string shown = plat::ToUtf8(c.file);
    EXPECT_EQ(r.kind, c.kind) << shown;
    EXPECT_EQ(ok, c.result) << shown;
    EXPECT_EQ(r.file, c.file) << shown;
    EXPECT_FALSE(r.started) << shown;
    if (c.kind == LaunchKind::Refused) {
      EXPECT_EQ(r.error, plat::ERROR_ACCESS_DENIED) << shown;
      EXPECT_TRUE(r.command.empty()) << shown;
    }
    if (c.kind == LaunchKind::Link) {
      EXPECT_EQ(r.command, (std::vector<std::string>{(m_root / "bin/opener").string(), shown})) << shown;
    }
  }
  const auto records = plat::Launches();
  ASSERT_EQ(records.size(), std::size(cases));
  EXPECT_EQ(records[0].mask, plat::SEE_MASK_NOCLOSEPROCESS);
  EXPECT_EQ(records[0].show, 1);
  EXPECT_EQ(records[0].verb, u"open");
  EXPECT_EQ(records[0].parameters, u"-x");

  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("[platform] launch refused: empty address\n"));
  EXPECT_THAT(log, HasSubstr("launch refused, only http and https links open: file:///etc/passwd\n"));
  // A link cannot forge a line of its own in the log.
  EXPECT_THAT(log, ::testing::Not(HasSubstr("\nFAKE LINE")));
  EXPECT_THAT(log, HasSubstr("http://example.org/?FAKE LINE\n"));

  plat::ClearLaunches();
  EXPECT_TRUE(plat::Launches().empty());
}

TEST_F(Launch, OpensLinksDetachedWithTheLinkAsOneArgument) {
  const fs::path out = m_root / "opened";
  Configure(u"UrlOpener", Script("opener", out));
  const std::u16string url = u"http://example.org/a b;$(touch pwned)&x='y'|z \"q\" *";
  const plat::LaunchRecord r = Run(url);
  EXPECT_TRUE(r.result);
  EXPECT_TRUE(r.started);
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(Slurp(out), "1\n" + plat::ToUtf8(url));
  EXPECT_THAT(Log(), HasSubstr("[platform] opening link with " + (m_root / "bin/opener").string()));
}

TEST_F(Launch, RecordingModeStartsNothing) {
  const fs::path recordedOut = m_root / "recorded";
  const fs::path realOut = m_root / "real";
  Configure(u"UrlOpener", Script("first", recordedOut));
  plat::SetLaunchRecordingOnly(true);
  const plat::LaunchRecord recorded = Run(u"https://example.org/recorded");
  EXPECT_TRUE(recorded.result);
  EXPECT_FALSE(recorded.started);
  EXPECT_EQ(recorded.command.size(), 2u);

  // A real launch afterwards finishes; the recorded one never ran.
  plat::SetLaunchRecordingOnly(false);
  Configure(u"UrlOpener", Script("second", realOut));
  EXPECT_TRUE(Run(u"https://example.org/real").started);
  ASSERT_TRUE(WaitForFile(realOut));
  EXPECT_FALSE(fs::exists(recordedOut));
}

TEST_F(Launch, DefaultOpenerNeedsADesktopSessionAndXdgOpen) {
  plat::SetLaunchRecordingOnly(true);
  const fs::path withOpener = m_root / "bin";
  const fs::path withoutOpener = m_root / "empty";
  fs::create_directories(withoutOpener);
  Script("xdg-open", m_root / "unused");

  struct Case {
    const char* display;
    const char* wayland;
    fs::path path;
    bool opens;
  };
  const Case cases[] = {
      {nullptr, nullptr, withOpener, false},   // no session
      {"", "", withOpener, false},             // empty means none
      {":0", nullptr, withOpener, true},
      {nullptr, "wayland-0", withOpener, true},
      {":0", nullptr, withoutOpener, false},   // no xdg-open on PATH
  };
  for (const Case& c : cases) {
    c.display ? setenv("DISPLAY", c.display, 1) : unsetenv("DISPLAY");
    c.wayland ? setenv("WAYLAND_DISPLAY", c.wayland, 1) : unsetenv("WAYLAND_DISPLAY");
    setenv("PATH", c.path.c_str(), 1);
    const plat::LaunchRecord r = Run(u"http://example.org/");
    EXPECT_EQ(r.result, c.opens) << (c.display ? c.display : "-") << (c.wayland ? c.wayland : "-");
    if (c.opens) {
      EXPECT_EQ(r.command, (std::vector<std::string>{"xdg-open", "http://example.org/"}));
    } else {
      EXPECT_EQ(r.error, plat::ERROR_NO_ASSOCIATION);
      EXPECT_TRUE(r.command.empty());
    }
  }
  EXPECT_THAT(Log(), HasSubstr("no desktop session or link opener; link not opened: http://example.org/\n"));

  // A configured opener replaces the default, and must exist and be executable.
  setenv("DISPLAY", ":0", 1);
  setenv("PATH", withOpener.c_str(), 1);
  for (const char16_t* opener : {u"no-such-opener", u"/nowhere/opener"}) {
    ASSERT_EQ(plat::WriteString(plat::HKEY_LOCAL_MACHINE, kSettings, u"UrlOpener", opener), 0);
    const plat::LaunchRecord r = Run(u"http://example.org/");
    EXPECT_FALSE(r.result);
    EXPECT_EQ(r.error, plat::ERROR_NO_ASSOCIATION);
  }
  Configure(u"UrlOpener", Script("plain-file", m_root / "unused", /*executable=*/false));
  EXPECT_FALSE(Run(u"http://example.org/").result);
  ASSERT_EQ(plat::WriteString(plat::HKEY_LOCAL_MACHINE, kSettings, u"UrlOpener", u"xdg-open"), 0);
  EXPECT_TRUE(Run(u"http://example.org/").result);
}

TEST_F(Launch, PackageIsLoggedWithoutAHandler) {
  std::ofstream(m_root / "card/quorelstore/update.cab") << "package";
  const fs::path host = plat::HostPath(u"\\Storage Card\\quorelstore\\update.cab").value();
  bool ok = false;
  const plat::LaunchRecord r = Run(u"\\Storage Card\\quorelstore\\update.cab", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.kind, LaunchKind::Package);
  EXPECT_FALSE(r.started);
  EXPECT_TRUE(r.command.empty());
  EXPECT_THAT(Log(), HasSubstr("[platform] install package requested: " + host.string() + "\n"));
}

TEST_F(Launch, PackageGoesToTheHandlerAndIsNeverRun) {
  // The package is itself a script that would leave a mark if it were run.
  const fs::path package = m_root / "card/quorelstore/update.cab";
  const fs::path ran = m_root / "package-ran";
  std::ofstream(package) << "#!/bin/sh\ntouch '" << ran.string() << "'\n";
  fs::permissions(package, fs::perms::owner_all);
  const fs::path out = m_root / "handled";
  Configure(u"PackageHandler", Script("installer", out));

  const plat::LaunchRecord r = Run(u"\\Storage Card\\quorelstore\\update.cab");
  EXPECT_TRUE(r.result);
  EXPECT_TRUE(r.started);
  const std::string host = plat::HostPath(u"\\Storage Card\\quorelstore\\update.cab")->string();
  EXPECT_EQ(r.command, (std::vector<std::string>{(m_root / "bin/installer").string(), host}));
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(Slurp(out), "1\n" + host);  // one argument, spaces and all
  EXPECT_FALSE(fs::exists(ran));
}

TEST_F(Launch, PackageThatIsNotThereOrHasNoUsableHandler) {
  bool ok = true;
  plat::LaunchRecord r = Run(u"\\Storage Card\\quorelstore\\missing.cab", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(r.kind, LaunchKind::Package);
  EXPECT_EQ(r.error, plat::ERROR_FILE_NOT_FOUND);
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("install package requested")));

  std::ofstream(m_root / "card/quorelstore/update.cab") << "package";
  ASSERT_EQ(plat::WriteString(plat::HKEY_LOCAL_MACHINE, kSettings, u"PackageHandler", u"no-such-installer"), 0);
  r = Run(u"\\Storage Card\\quorelstore\\update.cab", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(r.error, plat::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(r.started);
}

}  // namespace
