// The backend without a window: the framebuffer stays in memory, input comes
// only from injection (tests, tools), message boxes return IDOK at once.
#pragma once

#include <filesystem>
#include <mutex>

#include "platform/display/Display.h"
#include "platform/kernel/Kernel.h"

namespace plat {

class HeadlessBackend : public IDisplayBackend {
 public:
  HeadlessBackend();
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  const char* Name() const override { return "headless"; }
  bool Init(IInputSink& input, const FrameBuffer& screen) override;
  void Present(const FrameBuffer& screen, const Rect& damage) override;
  void PumpEvents(ClockTime deadline) override;
  void Wake() override;
  void Resize(const FrameBuffer& screen) override;
  void Raise() override;
  int ShowMessageBox(WStringView text, WStringView caption, uint32_t type) override;

  // The screen as a window would show it.
  uint16_t Pixel(int32_t x, int32_t y) const { return ScreenFrameBuffer().Pixel(x, y); }
  bool WritePng(const std::filesystem::path& path) const;

  // What a window would have shown, for tests.
  struct Counters {
    int presents = 0;
    Rect lastDamage;
    int resizes = 0;
    int raises = 0;
    int messageBoxes = 0;
  };
  Counters Stats() const;

 private:
  Handle m_wake = nullptr;  // auto-reset: one Wake ends one PumpEvents
  mutable std::mutex m_lock;
  Counters m_stats;
};

// Writes the framebuffer as an 8-bit RGB PNG (565 widened by bit
// replication). False with a log line when the file cannot be written.
bool WriteFrameBufferPng(const FrameBuffer& screen, const std::filesystem::path& path);

}  // namespace plat
