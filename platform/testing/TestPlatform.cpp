#include "platform/testing/TestPlatform.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "platform/audio/AudioBackend.h"
#include "platform/base/Debug.h"
#include "platform/registry/Registry.h"
#include "platform/shell/MenuBarPaint.h"

namespace plat {
namespace {

// What the device's profile holds, so code under test finds the values a
// device has; the test's own seed is merged after it and wins.
constexpr char kDeviceProfile[] =
    "[HKEY_LOCAL_MACHINE\\Ident]\n"
    "\"OrigName\"=\"Linux Device\"\n"
    "\"Name\"=\"Linux\"\n"
    "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n"
    "\"TouchEvent\"=dword:00000001\n"
    "\"TouchVibeOn\"=dword:00000001\n"
    "\"TouchSoundOn\"=dword:00000001\n"
    "[HKEY_CURRENT_USER\\ControlPanel\\MotionSensor]\n"
    "\"SlideState\"=dword:00000000\n"
    "[HKEY_LOCAL_MACHINE\\System\\State\\Hardware]\n"
    "\"Wifi\"=dword:00000000\n"
    "[HKEY_LOCAL_MACHINE\\System\\GDI\\ROTATION]\n"
    "\"Angle\"=dword:00000000\n";

constexpr int kPumpLimit = 100000;

std::string Dword(const char* name, uint32_t v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "\"%s\"=dword:%08x\n", name, v);
  return buf;
}

}  // namespace

TestPlatform::TestPlatform(TestConfig config) : m_config(std::move(config)) {
  if (m_config.virtualClock) m_clock = std::make_unique<VirtualClock>(m_config.startTick, m_config.qpcFrequency);

  m_savedSink = SetDebugSink([this](WStringView text) {
    std::string line = ToUtf8(text);
    if (m_config.echoDebugOutput) std::fputs(line.c_str(), stderr);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::lock_guard<std::mutex> guard(m_debugLock);
    m_debugLines.push_back(std::move(line));
  });

  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorel-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) {
    m_tempRoot = buf.data();
  } else {
    DebugPrintf(u"[test] cannot make a temporary folder: %S\n", std::string(std::strerror(errno)));
  }
  m_deviceRoot = m_tempRoot / "device";
  m_savedFileSystem = CurrentFileSystemConfig();
  FileSystemConfig files;
  files.deviceRoot = m_deviceRoot;
  ConfigureFileSystem(files);

  ResetUiForTests();
  ClearMessageBoxes();

  RegistryConfig registry;
  registry.defaultsText = std::string(kDeviceProfile) + "[HKEY_LOCAL_MACHINE\\Platform\\Linux]\n" +
                          Dword("ScreenWidth", static_cast<uint32_t>(m_config.screenWidth)) +
                          Dword("ScreenHeight", static_cast<uint32_t>(m_config.screenHeight)) +
                          Dword("Dpi", m_config.dpi) + m_config.registrySeed;
  ConfigureRegistry(registry);
  ReloadDisplayConfig();
  SetDisplayOrientation(DMDO_DEFAULT);
  Size screen = ScreenSize();
  ScreenFrameBuffer().Reallocate(screen.cx, screen.cy);

  m_backend = std::make_shared<HeadlessBackend>();
  InstallDisplayBackend(m_backend);
  InstallAudioBackend(nullptr);
  headless_audio::Reset();
  InstallMenuBarPainter();
}

TestPlatform::~TestPlatform() {
  // A device left open keeps its input allocated, so the next test's open
  // fails; its dispatch thread must still end before the clock goes.
  if (AbandonOpenWaveDevices() != 0) std::fputs("[test] a wave device was left open\n", stderr);
  headless_audio::Reset();
  ResetUiForTests();
  ClearMessageBoxes();
  ResetRegistryForTests();
  SetDisplayOrientation(DMDO_DEFAULT);
  ReloadDisplayConfig();
  ConfigureFileSystem(m_savedFileSystem);
  SetDebugSink(std::move(m_savedSink));
  if (!m_tempRoot.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_tempRoot, ignored);
  }
  m_clock.reset();
}

int TestPlatform::Pump() {
  int count = 0;
  Msg msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      m_quitCode = static_cast<int>(static_cast<intptr_t>(msg.wParam));
      return count;
    }
    TranslateMessage(&msg);
    DispatchMessage(&msg);
    if (++count >= kPumpLimit) {
      // A window that never stops asking for work must fail its test, not
      // hang it.
      DebugPrintf(u"[test] the queue was still busy after %d messages\n", count);
      return count;
    }
  }
  return count;
}

void TestPlatform::RunFor(uint32_t ms) {
  const ClockTime deadline = ClockNow() + static_cast<ClockTime>(ms) * kClockNsPerMs;
  for (;;) {
    Pump();
    if (ClockNow() >= deadline) return;
    WaitMessageUntil(deadline);
  }
}

bool TestPlatform::RunUntil(const std::function<bool()>& done, uint32_t maxMs) {
  const ClockTime deadline = ClockNow() + static_cast<ClockTime>(maxMs) * kClockNsPerMs;
  for (;;) {
    Pump();
    if (done()) return true;
    if (ClockNow() >= deadline) return false;
    WaitMessageUntil(deadline);
  }
}

bool TestPlatform::Settle(uint32_t realLimitMs) { return m_clock ? m_clock->Settle(realLimitMs) : true; }

void TestPlatform::Down(int32_t x, int32_t y) { InjectPointer(PointerKind::Down, x, y); }
void TestPlatform::Move(int32_t x, int32_t y) { InjectPointer(PointerKind::Move, x, y); }
void TestPlatform::Up(int32_t x, int32_t y) { InjectPointer(PointerKind::Up, x, y); }

void TestPlatform::Tap(int32_t x, int32_t y) {
  Down(x, y);
  Up(x, y);
}

void TestPlatform::Drag(Point from, Point to, int steps, uint32_t ms) {
  if (steps < 1) steps = 1;
  Down(from.x, from.y);
  Pump();
  for (int i = 1; i <= steps; ++i) {
    // Spread the time so that the total is exactly ms.
    RunFor(ms * i / steps - ms * (i - 1) / steps);
    Move(from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps);
    Pump();
  }
  Up(to.x, to.y);
}

void TestPlatform::KeyDown(uint32_t vk) { InjectKey(vk, true); }
void TestPlatform::KeyUp(uint32_t vk) { InjectKey(vk, false); }

void TestPlatform::Key(uint32_t vk) {
  KeyDown(vk);
  KeyUp(vk);
}

void TestPlatform::Activate(bool active, bool byClick) { InjectActivation(active, byClick); }
void TestPlatform::Close() { InjectClose(); }

int32_t TestPlatform::Rotate(int angle) {
  switch (angle) {
    case 0: return ChangeDisplayOrientation(DMDO_DEFAULT);
    case 90: return ChangeDisplayOrientation(DMDO_90);
    case 180: return ChangeDisplayOrientation(DMDO_180);
    case 270: return ChangeDisplayOrientation(DMDO_270);
    default: return DISP_CHANGE_BADPARAM;
  }
}

bool TestPlatform::SetSlide(bool open) { return SetSlideState(open); }

bool TestPlatform::SnapshotPng(const std::filesystem::path& path) const { return m_backend->WritePng(path); }

std::vector<std::string> TestPlatform::DebugLines() const {
  std::lock_guard<std::mutex> guard(m_debugLock);
  return m_debugLines;
}

void TestPlatform::ClearDebugLines() {
  std::lock_guard<std::mutex> guard(m_debugLock);
  m_debugLines.clear();
}

}  // namespace plat
