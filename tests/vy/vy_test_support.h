// The toolkit's test bench: a headless device on the virtual clock, a host
// window that forwards to the current toolkit screen as the application's
// window does, PNG pictures made in code and packed as "IIMAGE" resources,
// the device's feedback files, and every toolkit static put back between
// tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/imaging/Imaging.h"
#include "support/PngMake.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DeviceServices.h"
#include "platform/testing/TestPlatform.h"
#include "tools/qrespack/PackWriter.h"
#include "vy/BaseGUI.h"
#include "vy/BasicMenu.h"
#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/VyCommon.h"
#include "vy/VyControl.h"
#include "vy/VyEdit.h"
#include "vy/VyGesture.h"
#include "vy/VyMenu.h"
#include "vy/VyPanel.h"
#include "vy/VyUtil.h"

namespace vytest {

using pngmake::MakePng;
using pngmake::SolidPng;

inline uint16_t To565(uint32_t r, uint32_t g, uint32_t b) {
  return uint16_t((b >> 3) | ((g & 0xFC) << 3) | ((r & 0xF8) << 8));
}

// Every toolkit static back to its start.
inline void ResetToolkit() {
  CBaseGUI::ResetStaticsForTests();
  CVyMenu::ResetStaticsForTests();
  ResetBasicMenuSharedForTests();
  CIImage::ResetForTests();
  ResetVyConventionsForTests();
  ResetMenuImageIDsForTests();
  ResetLogPixelsForTests();
  SetResourceInstance(nullptr);
  CVyControl::SetDebugOutline(0);
  CVyEdit::s_bActive = CVyEdit::s_bLocked = 0;
  plat::ResetDeviceServices();
  plat::ResetImagingCounters();
}

class VyFixture : public ::testing::Test {
 protected:
  void SetUp() override { Start(plat::TestConfig{}); }
  void TearDown() override { Stop(); }

  void Start(plat::TestConfig config) {
    m_tp = std::make_unique<plat::TestPlatform>(config);
    ResetToolkit();
  }
  void Stop() {
    m_screens.clear();
    if (m_hWnd) plat::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    if (m_hModule) plat::FreeLibrary(m_hModule);
    m_hModule = nullptr;
    ResetToolkit();
    m_tp.reset();
  }

  // The host window: WM_PAINT while a screen is current, WM_TIMER and input
  // to the current screen, nothing without one.
  static plat::LRESULT HostProc(plat::HWND hWnd, uint32_t msg, plat::WPARAM w, plat::LPARAM l) {
    CBaseGUI* pGui = CBaseGUI::GetCurrentGUI();
    switch (msg) {
      case plat::WM_PAINT: {
        plat::PaintInfo ps;
        plat::HDC hdc = plat::BeginPaint(hWnd, &ps);
        if (pGui) pGui->OnPaint(hWnd, hdc);
        plat::EndPaint(hWnd, &ps);
        return 0;
      }
      case plat::WM_TIMER:
        if (pGui) pGui->OnTimer(w, l);
        s_nTimerMessages++;
        return 0;
      default:
        return plat::DefWindowProc(hWnd, msg, w, l);
    }
  }

  plat::HWND MakeHost(int32_t width = 480, int32_t height = 800) {
    plat::WndClass cls;
    cls.proc = &HostProc;
    cls.name = u"VyHost";
    plat::RegisterClass(cls);
    m_hWnd = plat::CreateWindowEx(0, u"VyHost", u"", plat::WS_VISIBLE, 0, 0, width, height, nullptr, 0, nullptr,
                                  nullptr);
    return m_hWnd;
  }

  CBaseGUI* MakeScreen() {
    m_screens.push_back(std::make_unique<CBaseGUI>());
    return m_screens.back().get();
  }

  // "IIMAGE" resources in a pack the toolkit loads from.
  plat::ModuleHandle PackImages(const std::map<uint16_t, std::vector<uint8_t>>& images) {
    qrespack::PackWriter w;
    std::string error;
    for (const auto& [id, bytes] : images) w.AddRaw(qrespack::TypeKey{0, u"IIMAGE"}, id, bytes, "t", error);
    std::vector<uint8_t> pack;
    EXPECT_TRUE(w.Serialize(pack, error)) << error;
    std::filesystem::create_directories(m_tp->DeviceRoot() / "fs");
    std::ofstream(m_tp->DeviceRoot() / "fs" / "vy.res", std::ios::binary)
        .write(reinterpret_cast<const char*>(pack.data()), std::streamsize(pack.size()));
    m_hModule = plat::LoadLibrary(u"\\vy.res");
    EXPECT_NE(m_hModule, nullptr);
    SetResourceInstance(m_hModule);
    return m_hModule;
  }

  void MakeFeedbackFiles() {
    const auto dir = m_tp->DeviceRoot() / "fs" / "Windows";
    std::filesystem::create_directories(dir);
    for (const char* name : {"press.ivt", "listEnd.ivt", "itemSearch.ivt", "49_button.wav", "02_List Enter.wav",
                             "12_List Popup.wav"})
      std::ofstream(dir / name).put('x');
  }
  // The phone's touch-feedback switches; a negative value removes it.
  static void SetTouchSettings(int64_t event, int64_t vibe, int64_t sound) {
    const char16_t* key = u"ControlPanel\\VibeTonz";
    auto put = [key](const char16_t* name, int64_t v) {
      if (v >= 0) {
        plat::WriteDword(plat::HKEY_CURRENT_USER, key, name, uint32_t(v));
        return;
      }
      plat::HKEY h = nullptr;
      if (plat::RegOpenKeyEx(plat::HKEY_CURRENT_USER, key, plat::KEY_ALL_ACCESS, &h) == 0) {
        plat::RegDeleteValue(h, name);
        plat::RegCloseKey(h);
      }
    };
    put(u"TouchEvent", event);
    put(u"TouchVibeOn", vibe);
    put(u"TouchSoundOn", sound);
  }
  void FeedbackOn() {
    MakeFeedbackFiles();
    SetTouchSettings(1, 1, 1);
    plat::ResetDeviceServices();
  }
  // "v <name>" and "s <name>" for what the device played.
  static std::vector<std::string> Played() {
    std::vector<std::string> out;
    for (const plat::FeedbackEvent& e : plat::FeedbackEvents())
      out.push_back((e.kind == plat::FeedbackEvent::Kind::Vibration ? "v " : "s ") + plat::ToUtf8(e.name));
    return out;
  }

  std::vector<std::string> Lines() const { return m_tp->DebugLines(); }
  int CountLines(const std::string& part) const {
    const auto lines = Lines();
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.find(part) != std::string::npos; }));
  }

  std::unique_ptr<plat::TestPlatform> m_tp;
  plat::HWND m_hWnd = nullptr;
  plat::ModuleHandle m_hModule = nullptr;
  std::vector<std::unique_ptr<CBaseGUI>> m_screens;
  static inline int s_nTimerMessages = 0;
};

using TLog = std::vector<std::string>;

// A control that counts its instances and logs what reaches it.
class TProbe : public CVyControl {
 public:
  static inline int s_nLive = 0;
  TProbe(TLog* pLog, std::string name, RECT rc = {}) : m_pLog(pLog), m_name(std::move(name)) {
    ++s_nLive;
    SetRect(rc.left, rc.top, rc.right, rc.bottom, 0);
  }
  ~TProbe() override { --s_nLive; }
  int32_t Draw(plat::HDC hdc) override {
    Log("draw");
    return CVyControl::Draw(hdc);
  }
  int32_t OnRelease(int32_t x, int32_t y, int32_t bCancel) override {
    const int32_t r = CVyControl::OnRelease(x, y, bCancel);
    Log("release " + std::to_string(x) + "," + std::to_string(y) + " cancel " + std::to_string(bCancel) +
        " was " + std::to_string(r));
    return r;
  }
  int32_t OnLButtonDown(int32_t x, int32_t y) override {
    Log("down");
    const int32_t r = CVyControl::OnLButtonDown(x, y);
    if (m_bTakeDown && r == 0) Select();
    return m_bRefuse ? 1 : r;
  }
  int32_t OnKeyDown(uint32_t nKey, plat::LPARAM l) override {
    Log("key " + std::to_string(nKey));
    return CVyControl::OnKeyDown(nKey, l);
  }
  int32_t OnLongPress(int32_t x, int32_t y, int32_t bRelease) override {
    Log("long " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(bRelease));
    return CVyControl::OnLongPress(x, y, bRelease);
  }
  void Log(const std::string& what) {
    if (m_pLog) m_pLog->push_back(m_name + " " + what);
  }
  TLog* m_pLog;
  std::string m_name;
  bool m_bTakeDown = false;
  bool m_bRefuse = false;
};

// A memory DC over a bottom-up RGB565 section the size of the host's client
// area, made the back buffer as a screen's paint makes it.
class BackBuffer {
 public:
  BackBuffer(plat::HWND hWnd) {
    m_hdcScreen = plat::GetDC(hWnd);
    m_hdc = CIImage::CreateMemDC(hWnd, m_hdcScreen);
    m_hWnd = hWnd;
  }
  ~BackBuffer() {
    CIImage::DeleteMemDC(m_hdc);
    plat::ReleaseDC(m_hWnd, m_hdcScreen);
  }
  plat::HDC Dc() const { return m_hdc; }
  // The pixel at screen point (x, y).
  uint16_t& At(int32_t x, int32_t y) const {
    const plat::Size size = CIImage::BackBufferSize();
    auto* base = reinterpret_cast<uint8_t*>(CIImage::BackBufferBits());
    return reinterpret_cast<uint16_t*>(base + size_t(size.cy - 1 - y) * size_t(CIImage::BackBufferStride()))[x];
  }
  void Fill(uint16_t v) const {
    const plat::Size size = CIImage::BackBufferSize();
    for (int32_t y = 0; y < size.cy; ++y)
      for (int32_t x = 0; x < size.cx; ++x) At(x, y) = v;
  }

 private:
  plat::HWND m_hWnd = nullptr;
  plat::HDC m_hdcScreen = nullptr;
  plat::HDC m_hdc = nullptr;
};

}  // namespace vytest
