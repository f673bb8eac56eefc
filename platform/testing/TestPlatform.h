// The headless platform for tests: one object sets up a device (virtual
// clock, memory registry with a seed, a temporary device root, the screen,
// a headless display, the menu bar's painter) and drives it: runs the
// message loop for a time in virtual time, injects taps, drags and keys,
// turns the screen, and reads the framebuffer, the debug output, message
// boxes and the menu bar.
//
// Make it on the test's thread, which becomes the UI thread; make one at a
// time. The program's own loop (WinMain, GetMessage) can run unchanged under
// it: SetIdleHook gives the test a turn whenever that loop would block.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/display/Display.h"
#include "platform/display/Headless.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Clock.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/Ui.h"

namespace plat {

struct TestConfig {
  // The screen at orientation 0.
  int32_t screenWidth = kDefaultScreenWidth;
  int32_t screenHeight = kDefaultScreenHeight;
  uint32_t dpi = kDefaultScreenDpi;
  // Virtual time (the default) or the host's clock.
  bool virtualClock = true;
  uint32_t startTick = 0;
  int64_t qpcFrequency = kDefaultPerformanceFrequency;
  // Registry text (regedit format) merged over the device profile as
  // defaults; the registry itself lives in memory only.
  std::string registrySeed;
  // Debug output is captured for DebugLines(); with this set it is also
  // written to stderr.
  bool echoDebugOutput = false;
};

class TestPlatform {
 public:
  explicit TestPlatform(TestConfig config = {});
  ~TestPlatform();
  TestPlatform(const TestPlatform&) = delete;
  TestPlatform& operator=(const TestPlatform&) = delete;

  const TestConfig& Config() const { return m_config; }
  // Null when the host clock was asked for.
  VirtualClock* Clock() { return m_clock.get(); }
  const std::filesystem::path& DeviceRoot() const { return m_deviceRoot; }
  HeadlessBackend& Backend() { return *m_backend; }

  // Dispatches every message that is ready now, without letting time pass.
  // Returns how many. A WM_QUIT met here ends the pump and is kept (QuitCode).
  int Pump();
  // Runs the loop for `ms` of platform time: timers fire as they fall due,
  // other threads run, and under the virtual clock no real time is spent
  // waiting.
  void RunFor(uint32_t ms);
  // Runs the loop until `done` is true (checked after each pump) or `maxMs`
  // passed; false on time-out.
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs);
  // Waits, in bounded real time, until the other threads are all blocked
  // (virtual clock only; true at once otherwise).
  bool Settle(uint32_t realLimitMs = 120000);
  // The exit code of the WM_QUIT a pump met, if any.
  std::optional<int> QuitCode() const { return m_quitCode; }

  // Input, queued as a backend would queue it; run or pump to deliver.
  void Down(int32_t x, int32_t y);
  void Move(int32_t x, int32_t y);
  void Up(int32_t x, int32_t y);
  void Tap(int32_t x, int32_t y);
  // Down at `from`, `steps` moves spread evenly over `ms` (the loop runs in
  // between), up at `to`.
  void Drag(Point from, Point to, int steps, uint32_t ms);
  void KeyDown(uint32_t vk);
  void KeyUp(uint32_t vk);
  void Key(uint32_t vk);
  void Activate(bool active, bool byClick = false);
  void Close();
  // Device: 0, 90, 180 or 270 degrees; the display-change result.
  int32_t Rotate(int angle);
  bool SetSlide(bool open);

  // Observing.
  const FrameBuffer& Screen() const { return ScreenFrameBuffer(); }
  uint16_t Pixel(int32_t x, int32_t y) const { return ScreenFrameBuffer().Pixel(x, y); }
  bool SnapshotPng(const std::filesystem::path& path) const;
  std::vector<std::string> DebugLines() const;
  void ClearDebugLines();
  std::vector<MessageBoxRecord> MessageBoxes() const { return plat::MessageBoxes(); }
  std::optional<MenuBarState> MenuBar() const { return MainMenuBarState(); }

  // Sound devices (headless). The microphone source and the short count
  // apply to the next input that opens or completes; the log and the
  // speaker captures are read back after the fact.
  void SetMicrophone(MicSource source) { headless_audio::SetMicrophone(std::move(source)); }
  void SetMicrophoneShortCount(uint32_t bytes, std::optional<uint32_t> headerOrdinal = std::nullopt) {
    headless_audio::SetShortCount(bytes, headerOrdinal);
  }
  std::vector<MicDelivery> MicrophoneLog() const { return headless_audio::DeliveryLog(); }
  std::vector<uint8_t> MicrophoneDelivered() const { return headless_audio::Delivered(); }
  std::vector<SpeakerStream> Speaker() const { return headless_audio::Speaker(); }
  void SetWaveDeviceCounts(std::optional<uint32_t> inputs, std::optional<uint32_t> outputs) {
    headless_audio::SetDeviceCounts(inputs, outputs);
  }
  void FailNextWaveOpen(bool input, uint32_t code) { headless_audio::FailNextOpen(input, code); }
  void SetAudioUnpaced(bool unpaced) { headless_audio::SetUnpaced(unpaced); }

  // Called on the UI thread whenever GetMessage would block; see
  // plat::SetIdleHook.
  void SetIdleHook(std::function<bool()> hook) { plat::SetIdleHook(std::move(hook)); }

 private:
  TestConfig m_config;
  std::unique_ptr<VirtualClock> m_clock;
  std::filesystem::path m_tempRoot;
  std::filesystem::path m_deviceRoot;
  FileSystemConfig m_savedFileSystem;
  std::shared_ptr<HeadlessBackend> m_backend;
  std::optional<int> m_quitCode;
  mutable std::mutex m_debugLock;
  std::vector<std::string> m_debugLines;
  DebugSink m_savedSink;
};

}  // namespace plat
