#include "tools/layoutdump/LayoutDump.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/layoutdump/LayoutScenes.h"

namespace {

const char kUsage[] =
    "usage: layoutdump [--size WxH] [--window L,T,R,B | --menu-bar] SCENE [NAME=VALUE ...]\n"
    "       layoutdump --list\n";

// A whole decimal number, optionally negative; nothing else.
bool ParseInt(std::string_view s, int32_t* pValue) {
  if (s.empty() || s.size() > 11) return false;
  char buf[16];
  s.copy(buf, s.size());
  buf[s.size()] = 0;
  char* pEnd = nullptr;
  long v = std::strtol(buf, &pEnd, 10);
  if (*pEnd || pEnd == buf || v < INT32_MIN || v > INT32_MAX) return false;
  *pValue = static_cast<int32_t>(v);
  return true;
}

// Numbers separated by `sep`, exactly `count` of them.
bool ParseList(std::string_view s, char sep, int32_t* pValues, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    size_t pos = i + 1 < count ? s.find(sep) : s.size();
    if (pos == std::string_view::npos || !ParseInt(s.substr(0, pos), &pValues[i])) return false;
    s.remove_prefix(i + 1 < count ? pos + 1 : pos);
  }
  return s.empty();
}

std::string Narrow(const char16_t* psz) {
  std::string s;
  for (; psz && *psz; ++psz) s += *psz < 0x80 ? static_cast<char>(*psz) : '?';
  return s;
}

}  // namespace

int LayoutDumpMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  int32_t size[2] = {480, 800};
  int32_t window[4] = {0, 0, 0, 0};
  bool bWindow = false, bMenuBar = false;
  const TLayoutScene* pScene = nullptr;
  TLayoutSceneArgs args;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--list") {
      for (const TLayoutScene& scene : LayoutScenes()) {
        out << scene.pszName << "  " << scene.pszShows;
        if (*scene.pszParams) out << "  [" << scene.pszParams << "]";
        out << "\n";
      }
      return 0;
    }
    if (arg == "--size" && i + 1 < argc) {
      if (!ParseList(argv[++i], 'x', size, 2) || size[0] <= 0 || size[1] <= 0) {
        err << "layoutdump: bad size " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--window" && i + 1 < argc) {
      if (!ParseList(argv[++i], ',', window, 4)) {
        err << "layoutdump: bad window " << argv[i] << "\n";
        return 2;
      }
      bWindow = true;
    } else if (arg == "--menu-bar") {
      bMenuBar = true;
    } else if (!pScene && !arg.empty() && arg[0] != '-') {
      if (!(pScene = FindLayoutScene(arg))) {
        err << "layoutdump: no scene " << arg << " (--list shows them)\n";
        return 2;
      }
    } else if (pScene && arg.find('=') != std::string_view::npos) {
      size_t eq = arg.find('=');
      int32_t value;
      if (eq == 0 || !ParseInt(arg.substr(eq + 1), &value)) {
        err << "layoutdump: bad parameter " << arg << "\n";
        return 2;
      }
      args.values[std::string(arg.substr(0, eq))] = value;
    } else {
      err << kUsage;
      return 2;
    }
  }
  if (!pScene || (bWindow && bMenuBar)) {
    err << kUsage;
    return 2;
  }

  RECT rcWindow = bWindow     ? RECT{window[0], window[1], window[2], window[3]}
                  : bMenuBar ? CLayoutHarness::MenuBarWindow(size[0], size[1])
                             : RECT{0, 0, size[0], size[1]};
  CLayoutHarness harness(size[0], size[1], rcWindow);
  out << "# " << pScene->pszName << " (" << pScene->pszShows << ") at " << size[0] << "x" << size[1]
      << ", main window " << rcWindow.left << "," << rcWindow.top << "," << rcWindow.right << "," << rcWindow.bottom
      << "\n";
  try {
    out << DumpLayoutTree(pScene->pfnRun(harness, args));
  } catch (const TPanic& panic) {
    out << "! panic in " << Narrow(panic.source) << " at line " << panic.line << "\n";
    return 1;
  }
  for (const std::string& problem : harness.Problems()) out << "! " << problem << "\n";
  return harness.Problems().empty() ? 0 : 1;
}
