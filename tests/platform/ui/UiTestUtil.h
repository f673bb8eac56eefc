// Window-system test support: a recording window procedure and message
// sequences checked against tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/testing/TestPlatform.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/Ui.h"

namespace uit {

using namespace plat;

struct Record {
  std::string window;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// One row of an expected sequence; wParam and lParam are checked only when
// given.
struct Expect {
  Expect(std::string w, uint32_t m) : window(std::move(w)), message(m) {}
  Expect(std::string w, uint32_t m, WPARAM wp) : window(std::move(w)), message(m), wParam(wp) {}
  Expect(std::string w, uint32_t m, WPARAM wp, LPARAM lp)
      : window(std::move(w)), message(m), wParam(wp), lParam(lp) {}
  std::string window;
  uint32_t message = 0;
  std::optional<WPARAM> wParam;
  std::optional<LPARAM> lParam;
};

inline std::string MessageName(uint32_t m) {
  static const std::map<uint32_t, const char*> names = {
      {WM_CREATE, "WM_CREATE"},         {WM_DESTROY, "WM_DESTROY"},
      {WM_MOVE, "WM_MOVE"},             {WM_SIZE, "WM_SIZE"},
      {WM_ACTIVATE, "WM_ACTIVATE"},     {WM_SETFOCUS, "WM_SETFOCUS"},
      {WM_KILLFOCUS, "WM_KILLFOCUS"},   {WM_PAINT, "WM_PAINT"},
      {WM_CLOSE, "WM_CLOSE"},           {WM_ERASEBKGND, "WM_ERASEBKGND"},
      {WM_SETTINGCHANGE, "WM_SETTINGCHANGE"}, {WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"},
      {WM_KEYDOWN, "WM_KEYDOWN"},       {WM_KEYUP, "WM_KEYUP"},
      {WM_COMMAND, "WM_COMMAND"},       {WM_TIMER, "WM_TIMER"},
      {WM_MOUSEMOVE, "WM_MOUSEMOVE"},   {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
      {WM_LBUTTONUP, "WM_LBUTTONUP"},   {WM_APP, "WM_APP"},
  };
  auto it = names.find(m);
  if (it != names.end()) return it->second;
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", m);
  return buf;
}

// Records every message that reaches a window of the "Rec" class, by the
// window's name; a per-window handler may answer instead of DefWindowProc.
class Recorder {
 public:
  Recorder() {
    s_current = this;
    WndClass cls;
    cls.proc = &Recorder::Proc;
    cls.name = u"Rec";
    RegisterClass(cls);
  }
  ~Recorder() { s_current = nullptr; }

  // A window of the recording class; visible unless told otherwise.
  HWND Create(const std::string& name, HWND parent, Rect r, uint32_t style = WS_VISIBLE, uint32_t exStyle = 0) {
    m_pendingName = name;
    uint32_t s = style | (parent ? WS_CHILD : 0);
    HWND h = CreateWindowEx(exStyle, u"Rec", Widen(name), s, r.left, r.top, r.Width(), r.Height(), parent, 0,
                            nullptr, nullptr);
    m_pendingName.clear();
    return h;
  }

  void OnMessage(HWND h, std::function<std::optional<LRESULT>(uint32_t, WPARAM, LPARAM)> handler) {
    m_handlers[h] = std::move(handler);
  }
  // Only these messages are recorded from now on (empty: all); what was
  // recorded so far is dropped.
  void Only(std::set<uint32_t> messages) {
    m_only = std::move(messages);
    m_records.clear();
  }
  void Clear() { m_records.clear(); }
  const std::vector<Record>& Records() const { return m_records; }
  std::string NameOf(HWND h) const {
    auto it = m_names.find(h);
    return it == m_names.end() ? "?" : it->second;
  }

 private:
  static LRESULT Proc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
    Recorder* r = s_current;
    if (!r) return DefWindowProc(h, m, w, l);
    if (m == WM_CREATE && !r->m_names.count(h)) r->m_names[h] = r->m_pendingName;
    if (r->m_only.empty() || r->m_only.count(m)) r->m_records.push_back({r->NameOf(h), m, w, l});
    auto it = r->m_handlers.find(h);
    if (it != r->m_handlers.end()) {
      if (auto result = it->second(m, w, l)) return *result;
    }
    return DefWindowProc(h, m, w, l);
  }

  static inline Recorder* s_current = nullptr;
  std::string m_pendingName;
  std::map<HWND, std::string> m_names;
  std::map<HWND, std::function<std::optional<LRESULT>(uint32_t, WPARAM, LPARAM)>> m_handlers;
  std::set<uint32_t> m_only;
  std::vector<Record> m_records;
};

inline std::string Describe(const Record& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s %s w=0x%llx l=0x%llx", r.window.c_str(), MessageName(r.message).c_str(),
                static_cast<unsigned long long>(r.wParam), static_cast<unsigned long long>(r.lParam));
  return buf;
}

// Compares a recorded sequence with a table and names the first difference.
inline ::testing::AssertionResult Sequence(const std::vector<Record>& got, const std::vector<Expect>& want) {
  std::string all;
  for (const Record& r : got) all += "\n    " + Describe(r);
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    if (i >= got.size()) {
      return ::testing::AssertionFailure() << "missing row " << i << ": " << want[i].window << " "
                                           << MessageName(want[i].message) << "; got:" << all;
    }
    if (i >= want.size()) return ::testing::AssertionFailure() << "extra row " << i << "; got:" << all;
    const Record& r = got[i];
    const Expect& e = want[i];
    bool ok = r.window == e.window && r.message == e.message && (!e.wParam || *e.wParam == r.wParam) &&
              (!e.lParam || *e.lParam == r.lParam);
    if (!ok) {
      return ::testing::AssertionFailure() << "row " << i << " differs: want " << e.window << " "
                                           << MessageName(e.message) << "; got:" << all;
    }
  }
  return ::testing::AssertionSuccess();
}

// Dispatches what is ready now (without the harness's WM_QUIT handling).
inline int Drain() {
  int n = 0;
  Msg m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) break;
    DispatchMessage(&m);
    ++n;
  }
  return n;
}

}  // namespace uit
