#include "platform/display/Headless.h"

#include <png.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/base/Debug.h"

namespace plat {

HeadlessBackend::HeadlessBackend() : m_wake(CreateEvent(false, false)) {}

HeadlessBackend::~HeadlessBackend() {
  if (m_wake) CloseHandle(m_wake);
}

bool HeadlessBackend::Init(IInputSink&, const FrameBuffer&) { return m_wake != nullptr; }

void HeadlessBackend::Present(const FrameBuffer&, const Rect& damage) {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_stats.presents;
  m_stats.lastDamage = damage;
}

void HeadlessBackend::PumpEvents(ClockTime deadline) {
  // No native input: only a wake-up or the deadline ends the wait. A platform
  // wait, so the virtual clock counts the UI thread as blocked here.
  Handle h = m_wake;
  WaitForMultipleObjectsUntil(std::span<const Handle>(&h, 1), deadline);
}

void HeadlessBackend::Wake() { SetEvent(m_wake); }

void HeadlessBackend::Resize(const FrameBuffer&) {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_stats.resizes;
}

void HeadlessBackend::Raise() {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_stats.raises;
}

int HeadlessBackend::ShowMessageBox(WStringView, WStringView, uint32_t) {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_stats.messageBoxes;
  return IDOK;
}

bool HeadlessBackend::WritePng(const std::filesystem::path& path) const {
  return WriteFrameBufferPng(ScreenFrameBuffer(), path);
}

HeadlessBackend::Counters HeadlessBackend::Stats() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_stats;
}

namespace {

struct PngFailure {
  char message[200] = {};
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Everything that needs cleaning up lives outside the setjmp frame's
// locals, so a longjmp out of libpng skips no destructor.
bool WritePngRows(FILE* file, const FrameBuffer& screen, std::vector<uint8_t>& row, PngFailure& failure) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, OnPngError, OnPngWarning);
  if (!png) {
    std::snprintf(failure.message, sizeof failure.message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!info) std::snprintf(failure.message, sizeof failure.message, "out of memory");
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(screen.Width()), static_cast<png_uint_32>(screen.Height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < screen.Height(); ++y) {
    const uint16_t* src = screen.Row(y);
    for (int32_t x = 0; x < screen.Width(); ++x) {
      row[3 * x] = Red8(src[x]);
      row[3 * x + 1] = Green8(src[x]);
      row[3 * x + 2] = Blue8(src[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WriteFrameBufferPng(const FrameBuffer& screen, const std::filesystem::path& path) {
  if (screen.Width() <= 0 || screen.Height() <= 0) {
    DebugPrintf(u"[platform] snapshot %S: the screen is empty\n", path.string());
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    DebugPrintf(u"[platform] snapshot %S: %S\n", path.string(), std::string(std::strerror(errno)));
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(screen.Width()) * 3);
  PngFailure failure;
  bool ok = WritePngRows(file, screen, row, failure);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    std::snprintf(failure.message, sizeof failure.message, "%s", std::strerror(errno));
  }
  if (!ok) {
    DebugPrintf(u"[platform] snapshot %S: %S\n", path.string(), std::string(failure.message));
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  return ok;
}

}  // namespace plat
