#include "vy/VyCommon.h"

#include <algorithm>
#include <string_view>

#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"

namespace {

// Constant-initialised: lines may be written from any static's destructor.
constinit plat::WChar g_moduleName[512] = {};

struct TDpiCache {
  bool bRead = false;
  int32_t nDpi = 0;
  int32_t Get() {
    if (!bRead) {
      nDpi = VyReadScreenDpi();
      bRead = true;
    }
    return nDpi;
  }
};
constinit TDpiCache g_focusDpi;
constinit TDpiCache g_editDpi;
constinit TDpiCache g_labelDpi;
constinit TDpiCache g_menuDpi;
constinit bool g_bMenuMetrics = false;
constinit TVyBasicMenuMetrics g_menuMetrics = {};

}  // namespace

plat::WString VyOperationName(const char* prettyFunction) {
  std::string_view s(prettyFunction ? prettyFunction : "");
  // The name ends at the parameter list's parenthesis; it begins after the
  // space that ends the return type (none for constructors and destructors).
  size_t end = s.find('(');
  if (end == std::string_view::npos) end = s.size();
  std::string_view head = s.substr(0, end);
  const size_t space = head.rfind(' ');
  if (space != std::string_view::npos) head = head.substr(space + 1);
  return plat::WString(head.begin(), head.end());
}

plat::WStringView VyModuleName() {
  if (g_moduleName[0] == 0) {
    const plat::WString path = plat::GetModuleFileName();
    const size_t slash = path.rfind(u'\\');
    const plat::WString name = slash == plat::WString::npos ? path : path.substr(slash + 1);
    const size_t n = std::min<size_t>(name.size(), 511);
    std::copy_n(name.begin(), n, g_moduleName);
    g_moduleName[n] = 0;
  }
  return plat::WStringView(g_moduleName);
}

void VyWriteLine(const char* prettyFunction, plat::WStringView message) {
  plat::WStringView cut = message.substr(0, std::min(message.size(), kVyMessageUnits));
  plat::DebugPrintf(u"[%s]%s..%s", VyModuleName(), VyOperationName(prettyFunction), cut);
}

int32_t VyReadScreenDpi() {
  plat::HDC dc = plat::GetDC(nullptr);
  if (!dc) return -1;
  const int32_t dpi = plat::GetDeviceCaps(dc, plat::LOGPIXELSX);
  plat::ReleaseDC(nullptr, dc);
  return dpi;
}

int32_t VyFocusLineTolerance() { return VyScale(g_focusDpi.Get(), 20); }

int32_t VyEditMetric() {
  const int32_t d = g_editDpi.Get();
  return VyScale(d, 52) + VyScale(d, 5);
}

int32_t VyLabelMetric() { return VyScale(g_labelDpi.Get(), 3); }

const TVyBasicMenuMetrics& VyBasicMenuMetrics() {
  if (!g_bMenuMetrics) {
    const int32_t d = g_menuDpi.Get();
    auto s = [d](int32_t n) { return VyScale(d, n); };
    g_menuMetrics = TVyBasicMenuMetrics{s(352), s(450), s(66), s(56), s(22), s(25), s(14), s(20),
                                        s(18),  s(16),  s(2),  s(4),  s(9),  s(9),  s(11), s(11)};
    g_bMenuMetrics = true;
  }
  return g_menuMetrics;
}

void ResetVyConventionsForTests() {
  g_moduleName[0] = 0;
  g_focusDpi = {};
  g_editDpi = {};
  g_labelDpi = {};
  g_menuDpi = {};
  g_bMenuMetrics = false;
}
