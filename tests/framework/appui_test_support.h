// A small application for the framework tests: a resource pack with the
// title, class, menu bar and accelerators, an application object that logs
// its hooks, views that log their life, and coloured boxes that log input.
// The program's own loop runs under the headless platform; the test script
// runs a step each time the loop would block.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/AppUi.h"
#include "framework/Control.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"
#include "platform/module/Module.h"
#include "platform/shell/DeviceServices.h"
#include "platform/testing/TestPlatform.h"
#include "tools/qrespack/PackWriter.h"

namespace apptest {

using TLog = std::vector<std::string>;

inline uint16_t To565(TColor c) {
  uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// A filled rectangle that takes focus, logs its input and focus changes.
class TBox : public CControl {
 public:
  TBox(TLog* pLog, std::string name, TColor colour) : m_pLog(pLog), m_name(std::move(name)), m_colour(colour) {
    SetEnableStateRaw(EnableOn);
  }
  ~TBox() override {
    if (m_pLog) m_pLog->push_back(m_name + " dtor");
  }
  void Paint(CGraphics& g, const POINT& origin, const RECT&) override {
    ++m_nPaints;
    g.SetFillColor(m_colour, EColorSolid);
    g.SetLineColor(0, EColorOff);
    RECT rc = LocalRect();
    g.DrawRectangle(RECT{origin.x, origin.y, origin.x + rc.right, origin.y + rc.bottom});
  }
  bool OnInput(const TInputEvent& e) override {
    if (m_pLog)
      m_pLog->push_back(m_name + " input " + std::to_string(e.bPressed) + " " + std::to_string(e.nKey) + " " +
                        std::to_string(e.x) + " " + std::to_string(e.y));
    if (e.nKey == KeyPointer && !e.bPressed) {
      m_bTapAtRelease = IsTap();
      if (m_bEndDragOnRelease) EndDrag();
    }
    if (m_throwPanic) throw TPanic{nullptr, u"Box", 7};
    if (m_throwError) Env::ThrowError(Env::ErrSystem);
    return e.nKey == KeyPointer ? m_bTakePointer : m_bTakeKeys;
  }
  void OnFocusChanged(bool bFocused, CControl*, CControl*) override {
    if (m_pLog) m_pLog->push_back(m_name + (bFocused ? " focus" : " blur"));
  }
  void SetColour(TColor c) {
    m_colour = c;
    Invalidate();
  }
  TLog* m_pLog;
  std::string m_name;
  TColor m_colour;
  bool m_bTakePointer = true;
  bool m_bTakeKeys = false;
  bool m_throwPanic = false;
  bool m_throwError = false;
  int m_nPaints = 0;
  bool m_bTapAtRelease = false;
  bool m_bEndDragOnRelease = true;
  RECT m_rcDisplay{};  // the last display change's rectangle
  void OnDisplayChanged(const RECT& rc) override { m_rcDisplay = rc; }
};

class TView : public CView {
 public:
  TView(TLog* pLog, std::string name, TColor colour) : m_pLog(pLog), m_name(std::move(name)) {
    m_pLog->push_back(m_name + " ctor");
    m_colour = colour;
  }
  ~TView() override {
    m_pLog->push_back(m_name + " dtor active=" + std::to_string(CAppUi::Instance()->GetActiveViewId()));
  }
  void ApplyLayout(CLayoutNode* pNode) override {
    m_pNode = pNode;
    m_pLog->push_back(m_name + " apply " + std::to_string(pNode->GetId()));
    SetColor(m_colour);
  }
  void OnViewActivated(CLayoutNode* pNode) override {
    m_pLog->push_back(m_name + " activated " + std::to_string(pNode->GetId()) +
                      " laidout=" + std::to_string(pNode->IsLaidOut()));
  }
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override {
    m_pLog->push_back(m_name + " leave " + std::to_string(pOld->nViewId) + "->" + std::to_string(pNew->nViewId));
  }
  void OnRectChanged(const RECT& rcNew, const RECT&) override {
    m_pLog->push_back(m_name + " rect " + std::to_string(rcNew.right - rcNew.left) + "x" +
                      std::to_string(rcNew.bottom - rcNew.top));
  }
  // Two boxes side by side in the upper part of the view.
  void AddBoxes() {
    m_pA = new TBox(m_pLog, "A", 0xFFFF0000u);
    m_pA->Create(this);
    m_pA->MoveTo(RECT{10, 10, 110, 60});
    m_pB = new TBox(m_pLog, "B", 0xFF0000FFu);
    m_pB->Create(this);
    m_pB->MoveTo(RECT{10, 100, 110, 150});
  }
  TLog* m_pLog;
  std::string m_name;
  TColor m_colour;
  CLayoutNode* m_pNode = nullptr;
  TBox* m_pA = nullptr;
  TBox* m_pB = nullptr;
};

class TFactory : public CViewFactory {
 public:
  TFactory(TLog* pLog, std::string name, TColor colour, bool bBoxes)
      : m_pLog(pLog), m_name(std::move(name)), m_colour(colour), m_bBoxes(bBoxes) {}
  CView* CreateView() override {
    auto* p = new TView(m_pLog, m_name, m_colour);
    m_pLast = p;
    return p;
  }
  TLog* m_pLog;
  std::string m_name;
  TColor m_colour;
  bool m_bBoxes;
  TView* m_pLast = nullptr;
};

class TApp : public CAppUi {
 public:
  explicit TApp(TLog* pLog) : m_pLog(pLog) {}
  void OnStart() override { m_pLog->push_back("app start"); }
  void OnShutdown() override {
    m_pLog->push_back("app shutdown");
    if (m_onShutdown) m_onShutdown();
  }
  void OnLayoutTreeCreated(CLayoutNode*) override { m_pLog->push_back("app tree"); }
  void OnViewActivated() override {
    m_pLog->push_back("app view " + std::to_string(GetActiveViewId()));
    if (auto* pView = dynamic_cast<TView*>(ActiveView()); pView && !pView->m_pA) pView->AddBoxes();
  }
  bool OnInput(const TInputEvent& e) override {
    m_pLog->push_back("app input " + std::to_string(e.bPressed) + " " + std::to_string(e.nKey));
    return CAppUi::OnInput(e);
  }
  void OnOptionsMenuClosed(int32_t nTop, int32_t nTopShown) override {
    m_pLog->push_back("app layers " + std::to_string(nTop) + " " + std::to_string(nTopShown));
  }
  TLog* m_pLog;
  std::function<void()> m_onShutdown;
};

// A posted message that runs a function.
class TCall : public CEventMessage {
 public:
  explicit TCall(std::function<void()> f) : m_f(std::move(f)) {}
  void Dispatch() override { m_f(); }
  std::function<void()> m_f;
};

// These effect and sound files in the device's \Windows, so that the
// feedback ids that name them play.
inline void WriteFeedbackFiles(const std::filesystem::path& deviceRoot, std::initializer_list<const char*> names) {
  const auto dir = deviceRoot / "fs" / "Windows";
  std::filesystem::create_directories(dir);
  for (const char* name : names) std::ofstream(dir / name).put('x');
}

// What the device played since its last reset: "v <file>" for a vibration
// and "s <name>" for a sound.
inline std::vector<std::string> PlayedFeedback() {
  std::vector<std::string> out;
  for (const plat::FeedbackEvent& e : plat::FeedbackEvents())
    out.push_back((e.kind == plat::FeedbackEvent::Kind::Vibration ? "v " : "s ") + plat::ToUtf8(e.name));
  return out;
}

// "\app.res" on the device: the window's title and class, the menu bar with
// its two soft keys, empty accelerators.
inline void WriteWindowPack(const std::filesystem::path& deviceRoot) {
  qrespack::PackWriter w;
  std::string error;
  w.AddString(1, u"Quorel", "t", error);
  w.AddString(2, u"QuorelMainWnd", "t", error);
  w.AddMenu(102, {{40000, u""}, {40001, u""}}, "t", error);
  w.AddAccelerators(2, {}, "t", error);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(w.Serialize(bytes, error)) << error;
  std::filesystem::create_directories(deviceRoot / "fs");
  std::ofstream(deviceRoot / "fs" / "app.res", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override { MakePlatform({}); }
  void MakePlatform(plat::TestConfig config) {
    m_app.reset();
    m_tp.reset();
    m_tp = std::make_unique<plat::TestPlatform>(config);
    WriteWindowPack(m_tp->DeviceRoot());
    m_hModule = plat::LoadLibrary(u"\\app.res");
    ASSERT_NE(m_hModule, nullptr);
  }
  void TearDown() override {
    m_app.reset();
    if (m_hModule) plat::FreeLibrary(m_hModule);
    m_hModule = nullptr;
    m_tp.reset();
  }
  // An application with views 2 (start, with boxes) and 4 (green).
  void MakeApp() {
    m_app = std::make_unique<TApp>(&m_log);
    m_bLoopRan = false;
    m_app->Init(m_hModule, plat::SW_SHOW);
    m_pStart = new TFactory(&m_log, "V2", 0xFF808080u, true);
    m_pOther = new TFactory(&m_log, "V4", 0xFF00FF00u, false);
    m_app->RegisterView(2, m_pStart);
    m_app->RegisterView(4, m_pOther);
    m_app->SetStartView(2);
  }
  bool m_bLoopRan = false;
  using TStep = std::function<void()>;
  // Runs the application's loop; each step runs when the loop would block,
  // Wait(ms) lets virtual time pass; after the last step the loop quits.
  int Run(std::vector<TStep> steps) {
    // Shut-down ends the event queue: a second loop would post nothing.
    EXPECT_FALSE(m_bLoopRan) << "the application runs its loop once";
    m_bLoopRan = true;
    size_t next = 0;
    bool bQuit = false;
    m_nWaitUntil = 0;
    m_tp->SetIdleHook([&] {
      if (plat::GetTickCount() < m_nWaitUntil) return false;
      if (m_until) {
        if (!m_until() && ++m_nUntilTurns < m_nUntilTurnLimit) return false;
        m_until = nullptr;
      }
      if (next < steps.size()) {
        TStep step = steps[next++];
        step();
        return true;
      }
      if (!bQuit) {
        bQuit = true;
        plat::PostQuitMessage(0);
      }
      return true;
    });
    int nResult = m_app->Run();
    m_tp->SetIdleHook({});
    return nResult;
  }
  TStep Wait(uint32_t ms) {
    return [this, ms] { m_nWaitUntil = plat::GetTickCount() + ms; };
  }
  // Lets the loop block (timers run) until the condition holds, boundedly.
  TStep WaitUntil(std::function<bool()> condition, int nTurns = 400) {
    return [this, condition, nTurns] {
      m_until = condition;
      m_nUntilTurns = 0;
      m_nUntilTurnLimit = nTurns;
    };
  }
  TView* StartView() const { return m_pStart->m_pLast; }
  // The box's screen pixel at its centre.
  uint16_t CentrePixel(CControl* p) const {
    RECT rc = p->ScreenRect();
    return m_tp->Pixel((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  }
  POINT Centre(CControl* p) const {
    RECT rc = p->ScreenRect();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  }
  // The device's effect files and sounds, so that feedback resolves.
  void MakeFeedbackFiles() {
    WriteFeedbackFiles(m_tp->DeviceRoot(),
                       {"press.ivt", "release.ivt", "itemSearch.ivt", "listEnd.ivt", "tap.ivt", "popup.ivt",
                        "button.ivt", "02_List Enter.wav", "26_Tap_touch.wav", "25_Tap_take off.wav",
                        "12_List Popup.wav", "09_Play,Pause.wav", "22_Cancel.wav", "23_Select.wav", "13_Popup.wav",
                        "03_Toolbar.wav"});
  }
  static std::vector<std::string> Played() { return PlayedFeedback(); }
  bool Logged(const std::string& line) const {
    return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
  }
  size_t IndexOf(const std::string& line) const {
    return static_cast<size_t>(std::find(m_log.begin(), m_log.end(), line) - m_log.begin());
  }

  std::unique_ptr<plat::TestPlatform> m_tp;
  plat::ModuleHandle m_hModule = nullptr;
  TLog m_log;
  std::unique_ptr<TApp> m_app;
  TFactory* m_pStart = nullptr;
  TFactory* m_pOther = nullptr;
  uint32_t m_nWaitUntil = 0;
  std::function<bool()> m_until;
  int m_nUntilTurns = 0;
  int m_nUntilTurnLimit = 400;
};

}  // namespace apptest
