// Opening links and packages on the program's behalf.
//
// Only http and https links are opened, with the configured opener or, in a
// desktop session, xdg-open; the program is started detached with the link
// as its one argument (no shell) and not waited for. A package (a file name
// ending in ".cab") is never run: a configured handler receives its host path,
// or the request is only logged. Everything else (other schemes, local files,
// the empty address) is refused: links come from the server, and a "file:" or
// custom-scheme link must not reach the desktop's handlers.
//
// Settings, HKLM "Platform\Linux": "UrlOpener" and "PackageHandler", each a
// program name (looked up on PATH) or a path. Every request is recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

namespace plat {

constexpr uint32_t SEE_MASK_NOCLOSEPROCESS = 0x40;
// No program to open the link with.
constexpr uint32_t ERROR_NO_ASSOCIATION = 1155;

struct ShellExecInfo {
  uint32_t mask = 0;
  WString verb;
  WString file;
  WString parameters;
  int show = 0;
  // Out: always null. Started programs are detached and not tracked, so
  // there is never a process handle to wait on or close.
  Handle process = nullptr;
};

// True when the link or package was handed over (or, for a package without a
// handler, logged). False with the last error: ERROR_ACCESS_DENIED for a
// refused request, ERROR_NO_ASSOCIATION when no opener is available,
// ERROR_PATH_NOT_FOUND / ERROR_FILE_NOT_FOUND for a package that is not on
// the device or a configured program that cannot be found, or the reason the
// program could not be started.
bool ShellExecuteEx(ShellExecInfo& info);

// Whether the text is an http or https link with a host, free of control
// characters: the only links ShellExecuteEx opens.
bool IsWebLink(WStringView url);

enum class LaunchKind { Link, Package, Refused };

struct LaunchRecord {
  WString verb;
  WString file;
  WString parameters;
  uint32_t mask = 0;
  int show = 0;
  LaunchKind kind = LaunchKind::Refused;
  // The program and arguments handed over (or that would have been, in
  // recording mode); empty when nothing was to be started.
  std::vector<std::string> command;
  bool started = false;  // a process was actually started
  bool result = false;
  uint32_t error = 0;  // the last error when result is false
};

// Every request since start-up or the last ClearLaunches, oldest first.
std::vector<LaunchRecord> Launches();
void ClearLaunches();
// While on, requests are classified, checked, logged and recorded as usual
// but no process is started; a request that would have started one succeeds.
void SetLaunchRecordingOnly(bool on);

}  // namespace plat
