#include "platform/shell/Launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr WStringView kSettingsKey = u"Platform\\Linux";

std::atomic<bool> g_recordingOnly{false};

std::mutex& RecordLock() {
  static std::mutex lock;
  return lock;
}

std::vector<LaunchRecord>& Records() {
  static std::vector<LaunchRecord> records;
  return records;
}

// Log text from outside (links come from the server) must not forge log lines.
WString Printable(WStringView text) {
  WString out(text);
  for (WChar& c : out)
    if (c < 0x20 || c == 0x7F) c = u'?';
  return out;
}

void Log(WStringView text) { DebugWrite(u"[platform] " + WString(text) + u"\n"); }

bool IsAsciiAlpha(WChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Whether the text starts with a URL scheme ("name:"); a device path never
// does, since it has no drive letters and starts with a folder name or '\'.
bool HasScheme(WStringView text) {
  if (text.empty() || !IsAsciiAlpha(text[0])) return false;
  for (size_t i = 1; i < text.size(); ++i) {
    const WChar c = text[i];
    if (c == u':') return i >= 2;
    if (!IsAsciiAlpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') return false;
  }
  return false;
}

bool EndsWithNoCase(WStringView text, WStringView suffix) {
  return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::optional<std::string> Setting(WStringView name) {
  auto value = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, name);
  if (!value || value->empty()) return std::nullopt;
  return ToUtf8(*value);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A program name is looked up on PATH; anything with a slash is taken as a
// path. Resolved here because the child may only make async-signal-safe
// calls, which rules out a PATH search after fork.
std::optional<std::string> FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return IsExecutableFile(program) ? std::optional(program) : std::nullopt;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "";
  while (true) {
    const size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    dirs.remove_prefix(colon + 1);
  }
}

bool HasDesktopSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// Starts `path` with `argv` fully detached (its own session, reaped by init)
// and without waiting for it. Returns 0 or the errno of the failure; a
// failing exec is reported too, through a close-on-exec pipe.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    return err;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::close(pipefd[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction dfl{};
      dfl.sa_handler = SIG_DFL;
      ::sigaction(SIGPIPE, &dfl, nullptr);
      ::sigaction(SIGCHLD, &dfl, nullptr);
      const int devnull = ::open("/dev/null", O_RDONLY);
      if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
      ::execv(path.c_str(), argv.data());
    }
    const int err = grandchild < 0 || grandchild == 0 ? errno : 0;
    if (err) {
      ssize_t ignored = ::write(pipefd[1], &err, sizeof err);
      (void)ignored;
    }
    ::_exit(err ? 127 : 0);
  }
  ::close(pipefd[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // EOF once the program is running (or the middle process failed silently,
  // which cannot happen without writing first).
  int err = 0;
  ssize_t got;
  while ((got = ::read(pipefd[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(pipefd[0]);
  return got == static_cast<ssize_t>(sizeof err) ? err : 0;
}

// Starts the program (or, in recording mode, only notes it) and fills the
// record's outcome.
bool Start(LaunchRecord& record, const std::string& path) {
  if (g_recordingOnly.load()) return true;
  if (const int err = SpawnDetached(path, record.command); err != 0) {
    Log(u"could not start " + FromUtf8(path) + u": " + FromUtf8(std::strerror(err)));
    SetLastError(ErrorFromErrno(err));
    return false;
  }
  record.started = true;
  return true;
}

bool OpenLink(LaunchRecord& record) {
  const WString shown = Printable(record.file);
  std::optional<std::string> program = Setting(u"UrlOpener");
  std::optional<std::string> path;
  if (program) {
    path = FindProgram(*program);
    if (!path) {
      Log(u"link opener " + FromUtf8(*program) + u" not found; link not opened: " + shown);
      SetLastError(ERROR_NO_ASSOCIATION);
      return false;
    }
  } else if (HasDesktopSession()) {
    program = "xdg-open";
    path = FindProgram(*program);
  }
  if (!path) {
    Log(u"no desktop session or link opener; link not opened: " + shown);
    SetLastError(ERROR_NO_ASSOCIATION);
    return false;
  }
  record.command = {*program, ToUtf8(record.file)};
  Log(u"opening link with " + FromUtf8(*program) + u": " + shown);
  return Start(record, *path);
}

bool InstallPackage(LaunchRecord& record) {
  const auto host = HostPath(record.file);
  if (!host) {
    Log(u"install package refused, not a device path: " + Printable(record.file));
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const WString shown = Printable(FromUtf8(host->string()));
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*host, ec)) {
    Log(u"install package not found: " + shown);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const std::optional<std::string> handler = Setting(u"PackageHandler");
  if (!handler) {
    Log(u"install package requested: " + shown);
    return true;
  }
  const std::optional<std::string> path = FindProgram(*handler);
  if (!path) {
    Log(u"package handler " + FromUtf8(*handler) + u" not found; install package not handed over: " + shown);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  record.command = {*handler, host->string()};
  Log(u"install package handed to " + FromUtf8(*handler) + u": " + shown);
  return Start(record, *path);
}

}  // namespace

bool IsWebLink(WStringView url) {
  size_t rest;
  if (StartsWithNoCase(url, u"http://")) rest = 7;
  else if (StartsWithNoCase(url, u"https://")) rest = 8;
  else return false;
  if (rest == url.size() || url[rest] == u'/' || url[rest] == u'?' || url[rest] == u'#') return false;
  for (WChar c : url)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool ShellExecuteEx(ShellExecInfo& info) {
  info.process = nullptr;
  LaunchRecord record;
  record.verb = info.verb;
  record.file = info.file;
  record.parameters = info.parameters;
  record.mask = info.mask;
  record.show = info.show;

  bool ok;
  if (IsWebLink(info.file)) {
    record.kind = LaunchKind::Link;
    ok = OpenLink(record);
  } else if (!HasScheme(info.file) && EndsWithNoCase(info.file, u".cab")) {
    record.kind = LaunchKind::Package;
    ok = InstallPackage(record);
  } else {
    record.kind = LaunchKind::Refused;
    Log(info.file.empty() ? WString(u"launch refused: empty address")
                          : u"launch refused, only http and https links open: " + Printable(info.file));
    SetLastError(ERROR_ACCESS_DENIED);
    ok = false;
  }
  record.result = ok;
  record.error = ok ? 0 : GetLastError();
  const uint32_t error = record.error;
  {
    std::lock_guard<std::mutex> guard(RecordLock());
    Records().push_back(std::move(record));
  }
  if (!ok) SetLastError(error);
  return ok;
}

std::vector<LaunchRecord> Launches() {
  std::lock_guard<std::mutex> guard(RecordLock());
  return Records();
}

void ClearLaunches() {
  std::lock_guard<std::mutex> guard(RecordLock());
  Records().clear();
}

void SetLaunchRecordingOnly(bool on) { g_recordingOnly.store(on); }

}  // namespace plat
