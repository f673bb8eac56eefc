// The toolkit's conventions: result codes, the one debug line every check
// writes ("[module]Class::Method..message"), the check macros that log and
// leave the operation, and the DPI scaling of design lengths with the scaled
// metrics the toolkit's classes share.
#pragma once

#include <cstdint>

#include "platform/base/Errors.h"
#include "platform/base/Format.h"
#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/gdi/Gdi.h"
#include "platform/ui/Ui.h"

using RECT = plat::Rect;
using POINT = plat::Point;
using plat::HRESULT;
using plat::E_FAIL;
using plat::S_OK;

// ---- Debug line --------------------------------------------------------------

// The longest message a line carries; longer ones are cut.
constexpr size_t kVyMessageUnits = 1024;

// "Class::Method" (or a free function's bare name) from a compiler function
// signature.
plat::WString VyOperationName(const char* prettyFunction);
// Writes "[module]operation..message" to the debug output, the message cut to
// kVyMessageUnits.
void VyWriteLine(const char* prettyFunction, plat::WStringView message);

template <class... A>
void VyLogAs(const char* prettyFunction, plat::WStringView fmt, const A&... args) {
  VyWriteLine(prettyFunction, plat::FormatWCut(kVyMessageUnits, fmt, args...));
}
// Logs under the enclosing operation's name.
#define VY_LOG(...) VyLogAs(__PRETTY_FUNCTION__, __VA_ARGS__)

// The module name the lines carry (the program file after its last
// backslash), filled on first use.
plat::WStringView VyModuleName();

// ---- Check macros ------------------------------------------------------------
// Each logs one line naming the expression as written, the source file (its
// path from the project root) and the line, then leaves the operation: the
// plain forms with E_FAIL (CHR with the failing code), the _RET forms with the
// given value (empty for void).

#define VY_WIDE_(s) u"" s
#define VY_SOURCE VY_WIDE_(__FILE__)

#define CPR_RET(p, ...)                                                                          \
  do {                                                                                           \
    if ((p) == nullptr) {                                                                        \
      VY_LOG(u"Error CPR(%s):%s line %d\n", VY_WIDE_(#p), VY_SOURCE, __LINE__);                  \
      return __VA_ARGS__;                                                                        \
    }                                                                                            \
  } while (0)
#define CBR_RET(c, ...)                                                                          \
  do {                                                                                           \
    if (!(c)) {                                                                                  \
      VY_LOG(u"Error CBR(%s):%s line %d\n", VY_WIDE_(#c), VY_SOURCE, __LINE__);                  \
      return __VA_ARGS__;                                                                        \
    }                                                                                            \
  } while (0)
#define CHR_RET(h, ...)                                                                          \
  do {                                                                                           \
    const HRESULT vyCheckedHr = (h);                                                             \
    if (vyCheckedHr < 0) {                                                                       \
      VY_LOG(u"Error CHR(%s):%s line %d, %s = %d\n", VY_WIDE_(#h), VY_SOURCE, __LINE__, VY_WIDE_(#h), \
             vyCheckedHr);                                                                       \
      return __VA_ARGS__;                                                                        \
    }                                                                                            \
  } while (0)
// Forms that log and jump to a failure label of the operation instead.
#define CPR_GOTO(p, label)                                                                       \
  do {                                                                                           \
    if ((p) == nullptr) {                                                                        \
      VY_LOG(u"Error CPR(%s):%s line %d\n", VY_WIDE_(#p), VY_SOURCE, __LINE__);                  \
      goto label;                                                                                \
    }                                                                                            \
  } while (0)
#define CHR_GOTO(h, label)                                                                       \
  do {                                                                                           \
    if ((h) < 0) {                                                                               \
      VY_LOG(u"Error CHR(%s):%s line %d, %s = %d\n", VY_WIDE_(#h), VY_SOURCE, __LINE__, VY_WIDE_(#h), \
             HRESULT(h));                                                                        \
      goto label;                                                                                \
    }                                                                                            \
  } while (0)
#define CPR(p) CPR_RET(p, E_FAIL)
#define CBR(c) CBR_RET(c, E_FAIL)
#define CHR(h) CHR_RET(h, vyCheckedHr)

// Releases an object through its Release() (which reports the count left, as
// an interface release does) and nulls the pointer in every case; a negative
// count logs and leaves with E_FAIL.
#define RELEASE_OBJ(p)                                                                           \
  do {                                                                                           \
    if (p) {                                                                                     \
      const int32_t vyReleaseCount = VyReleaseObject(p);                                         \
      if (vyReleaseCount < 0) {                                                                  \
        VY_LOG(u"Error RELEASE_OBJ(%s):%s line %d\n", VY_WIDE_(#p), VY_SOURCE, __LINE__);        \
        return E_FAIL;                                                                           \
      }                                                                                          \
    }                                                                                            \
  } while (0)

// Owned objects (the imaging library's) have no count: releasing deletes.
template <class T>
int32_t VyReleaseObject(T& owner)
  requires requires { owner.reset(); }
{
  owner.reset();
  return 0;
}
template <class T>
int32_t VyReleaseObject(T*& p)
  requires requires { p->Release(); }
{
  const int32_t n = p->Release();
  p = nullptr;
  return n;
}

// The child-loop failure: a control's child vector gave a null child.
inline void VyLogMissingChild(const char* prettyFunction, const plat::WChar* pwszSource, int nLine, int32_t nIndex) {
  VyLogAs(prettyFunction, u"Error %s = %s->GetChildControl(%d) : %s, line %d\n", u"pControl", u"this", nIndex,
          pwszSource, nLine);
}
#define VY_LOG_MISSING_CHILD(index) VyLogMissingChild(__PRETTY_FUNCTION__, VY_SOURCE, __LINE__, (index))

// ---- Scaling -----------------------------------------------------------------

// A design length at 192 dpi in device pixels at `dpi`, truncating;
// dpi -1 stands for "no screen DC".
constexpr int32_t VyScale(int32_t dpi, int32_t n) { return (dpi * n + 96) / 192; }

// The screen's horizontal DPI as the metrics read it: from the screen DC,
// -1 without one. Read anew on each call.
int32_t VyReadScreenDpi();

// The scaled metrics, in four groups, each group reading the DPI once at its
// first use and never changing afterwards.
struct TVyBasicMenuMetrics {
  int32_t nNestedWidth;           // 352
  int32_t nNestedHeight;          // 450
  int32_t nItemHeight;            // 66
  int32_t nItemHeightLandscape;   // 56
  int32_t nItem22, nItem25, nItem14, nItem20, nItem18, nItem16;
  int32_t nItem2, nItem4;
  int32_t nItem9a, nItem9b, nItem11a, nItem11b;
};
int32_t VyFocusLineTolerance();  // S(20)
int32_t VyEditMetric();          // S(52) + S(5)
int32_t VyLabelMetric();         // S(3)
const TVyBasicMenuMetrics& VyBasicMenuMetrics();
// Forgets the computed metrics and the module name. Tests only.
void ResetVyConventionsForTests();
