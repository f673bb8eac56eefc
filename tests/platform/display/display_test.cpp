// Screen settings, the framebuffer, orientation, PNG snapshots and the
// headless backend's wait.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Debug.h"
#include "platform/display/Display.h"
#include "platform/display/Headless.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"

namespace {

using namespace plat;

// Read while static objects are built, before main and before anybody set
// up a registry: the toolkit computes its metrics this way.
const uint32_t g_dpiBeforeMain = ScreenDpi();
const Size g_sizeBeforeMain = ScreenSize();

TEST(DisplayConfig, WorksBeforeMain) {
  EXPECT_EQ(g_dpiBeforeMain, 192u);
  EXPECT_EQ(g_sizeBeforeMain, (Size{480, 800}));
}

class Display : public ::testing::Test {
 protected:
  void SetUp() override { Configure(""); }
  void TearDown() override {
    ResetRegistryForTests();
    SetDisplayOrientation(DMDO_DEFAULT);
    ReloadDisplayConfig();
  }
  void Configure(const std::string& settings) {
    RegistryConfig c;
    if (!settings.empty()) c.defaultsText = "[HKEY_LOCAL_MACHINE\\Platform\\Linux]\n" + settings;
    ConfigureRegistry(c);
    SetDisplayOrientation(DMDO_DEFAULT);
    ReloadDisplayConfig();
  }
};

TEST_F(Display, SettingsComeFromTheRegistryWithDefaults) {
  struct Case {
    const char* settings;
    DisplayConfig want;
  } cases[] = {
      {"", {480, 800, 192}},
      {"\"ScreenWidth\"=dword:000000f0\n\"ScreenHeight\"=dword:00000190\n\"Dpi\"=dword:00000060\n", {240, 400, 96}},
      {"\"ScreenWidth\"=dword:00000320\n\"ScreenHeight\"=dword:000001e0\n", {800, 480, 192}},
      {"\"ScreenWidth\"=dword:00000000\n\"Dpi\"=dword:00000000\n", {480, 800, 192}},  // 0 means unset
      {"\"ScreenWidth\"=dword:00100000\n\"Dpi\"=dword:00010000\n", {480, 800, 192}},  // absurd: refused
      {"\"ScreenWidth\"=\"240\"\n", {480, 800, 192}},                                   // not a number
  };
  for (const Case& c : cases) {
    Configure(c.settings);
    EXPECT_EQ(CurrentDisplayConfig(), c.want) << c.settings;
    EXPECT_EQ(ScreenSize(), (Size{c.want.width, c.want.height})) << c.settings;
    EXPECT_EQ(ScreenFrameBuffer().Dimensions(), (Size{c.want.width, c.want.height})) << c.settings;
  }
}

TEST_F(Display, OrientationSwapsTheSizeForQuarterTurnsOnly) {
  Configure("\"ScreenWidth\"=dword:000000f0\n\"ScreenHeight\"=dword:00000190\n");
  struct Step {
    uint32_t dmdo;
    Size size;
  } steps[] = {{DMDO_90, {400, 240}}, {DMDO_180, {240, 400}}, {DMDO_270, {400, 240}}, {DMDO_DEFAULT, {240, 400}}};
  for (const Step& s : steps) {
    ASSERT_TRUE(SetDisplayOrientation(s.dmdo));
    EXPECT_EQ(DisplayOrientation(), s.dmdo);
    EXPECT_EQ(ScreenSize(), s.size);
    EXPECT_EQ(ScreenFrameBuffer().Dimensions(), s.size);
    EXPECT_EQ(ScreenDpi(), 192u);
  }
  const uint64_t generation = ScreenFrameBuffer().Generation();
  EXPECT_TRUE(SetDisplayOrientation(DMDO_DEFAULT));  // already there
  EXPECT_EQ(ScreenFrameBuffer().Generation(), generation);
  EXPECT_FALSE(SetDisplayOrientation(3));
  EXPECT_FALSE(IsValidOrientation(8));
  // New settings of another size start upright.
  SetDisplayOrientation(DMDO_90);
  Configure("\"ScreenWidth\"=dword:000001e0\n");
  EXPECT_EQ(DisplayOrientation(), DMDO_DEFAULT);
}

TEST(FrameBuffer, LayoutDamageAndReallocation) {
  FrameBuffer fb;
  fb.Reallocate(241, 3);
  EXPECT_EQ(fb.Stride(), 484);  // 482 bytes padded to 4
  EXPECT_EQ(fb.Damage(), (Rect{0, 0, 241, 3}));
  EXPECT_EQ(fb.TakeDamage(), (Rect{0, 0, 241, 3}));
  EXPECT_TRUE(fb.Damage().IsEmpty());
  fb.Row(2)[240] = 0xBEEF;
  EXPECT_EQ(fb.Pixel(240, 2), 0xBEEF);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&fb.Row(2)[240]) - fb.Bits(), 2 * 484 + 480);
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {241, 0}, {0, 3}}) EXPECT_EQ(fb.Pixel(x, y), 0) << x << "," << y;

  fb.AddDamage({10, 1, 20, 2});
  fb.AddDamage({-5, 0, 3, 1});     // clipped to the screen
  fb.AddDamage({300, 0, 400, 1});  // entirely outside: nothing
  EXPECT_EQ(fb.Damage(), (Rect{0, 0, 20, 2}));

  const uint64_t generation = fb.Generation();
  fb.Reallocate(2, 2);
  EXPECT_EQ(fb.Generation(), generation + 1);
  EXPECT_EQ(fb.Pixel(1, 1), 0);
  EXPECT_EQ(fb.Damage(), (Rect{0, 0, 2, 2}));
  fb.TakeDamage();
  fb.Fill(0x1234);
  EXPECT_EQ(fb.Pixel(0, 0), 0x1234);
  EXPECT_EQ(fb.Pixel(1, 1), 0x1234);
  EXPECT_EQ(fb.Damage(), (Rect{0, 0, 2, 2}));
}

struct PngImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

std::optional<PngImage> ReadPng(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  PngImage out;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) return std::nullopt;
  return out;
}

TEST(Snapshot, PngHoldsThePixelsWidenedByBitReplication) {
  FrameBuffer fb;
  fb.Reallocate(5, 2);
  const uint16_t pixels[] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410};
  const uint8_t want[][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 130, 132}};
  for (int x = 0; x < 5; ++x) fb.Row(0)[x] = pixels[x];
  const auto path = std::filesystem::temp_directory_path() / ("snapshot-" + std::to_string(getpid()) + ".png");
  ASSERT_TRUE(WriteFrameBufferPng(fb, path));
  auto image = ReadPng(path);
  std::filesystem::remove(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 5);
  EXPECT_EQ(image->height, 2);
  for (int x = 0; x < 5; ++x) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(image->rgb[3 * x + c], want[x][c]) << "pixel " << x << " channel " << c;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(image->rgb[15 + 3 * x + c], 0) << "second row";
  }
}

TEST(Snapshot, UnwritablePathFailsWithALogLine) {
  std::vector<std::string> lines;
  DebugSink saved = SetDebugSink([&](WStringView t) { lines.push_back(ToUtf8(t)); });
  FrameBuffer fb;
  fb.Reallocate(2, 2);
  EXPECT_FALSE(WriteFrameBufferPng(fb, "/nonexistent-folder/x.png"));
  FrameBuffer empty;
  EXPECT_FALSE(WriteFrameBufferPng(empty, std::filesystem::temp_directory_path() / "empty.png"));
  SetDebugSink(std::move(saved));
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::temp_directory_path() / "empty.png"));
}

// The headless wait runs on the platform clock: a worker's wake-up ends it
// when the worker runs, a deadline ends it when virtual time gets there.
TEST(HeadlessBackend, WaitEndsOnWakeOrDeadline) {
  VirtualClock clock;
  auto backend = std::make_shared<HeadlessBackend>();
  ClockTime start = ClockNow();
  backend->PumpEvents(start + 250 * kClockNsPerMs);
  EXPECT_EQ(ClockNow() - start, 250 * kClockNsPerMs);

  start = ClockNow();
  HeadlessBackend* raw = backend.get();
  Handle waker = CreateThread([raw] {
    Sleep(40);
    raw->Wake();
    return 0u;
  });
  backend->PumpEvents(start + 5000 * kClockNsPerMs);
  EXPECT_EQ(ClockNow() - start, 40 * kClockNsPerMs);
  WaitForSingleObject(waker, INFINITE);
  CloseHandle(waker);

  // A wake-up before the wait is kept for it; a deadline already past only
  // polls.
  backend->Wake();
  start = ClockNow();
  backend->PumpEvents(start + 5000 * kClockNsPerMs);
  EXPECT_EQ(ClockNow(), start);
  backend->PumpEvents(INT64_MIN);
  EXPECT_EQ(ClockNow(), start);
}

TEST(DisplayBackend, ABackendThatCannotStartIsNotInstalled) {
  struct Backend : HeadlessBackend {
    bool Init(IInputSink& in, const FrameBuffer& fb) override { return ok && HeadlessBackend::Init(in, fb); }
    bool ok = true;
  };
  EXPECT_STREQ(CurrentDisplayBackend()->Name(), "headless");
  EXPECT_FALSE(InstallDisplayBackend(nullptr));
  auto refusing = std::make_shared<Backend>();
  refusing->ok = false;
  auto before = CurrentDisplayBackend();
  EXPECT_FALSE(InstallDisplayBackend(refusing));
  EXPECT_EQ(CurrentDisplayBackend(), before);
  auto backend = std::make_shared<Backend>();
  ASSERT_TRUE(InstallDisplayBackend(backend));
  EXPECT_EQ(CurrentDisplayBackend(), backend);
}

}  // namespace
