#include "platform/display/Display.h"

#include <algorithm>
#include <mutex>

#include "platform/base/Debug.h"
#include "platform/display/Headless.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr WChar kSettingsKey[] = u"Platform\\Linux";

struct DisplayState {
  std::mutex lock;  // config, orientation, backend pointer
  bool loaded = false;
  DisplayConfig config;
  uint32_t orientation = DMDO_DEFAULT;
  std::shared_ptr<IDisplayBackend> backend;
  IInputSink* sink = nullptr;
};

// Never destroyed: static initialisers may ask for the DPI before this
// file's own statics exist, and threads may still wake the backend at exit.
DisplayState& State() {
  static DisplayState* state = new DisplayState;
  return *state;
}

// Hands input to whatever sink the window system installed, read at the time
// of the call, so a backend can keep one reference for its lifetime.
class ForwardingSink : public IInputSink {
 public:
  void Pointer(PointerKind kind, int32_t x, int32_t y) override {
    if (IInputSink* s = Target()) s->Pointer(kind, x, y);
  }
  void Key(uint32_t vk, bool down) override {
    if (IInputSink* s = Target()) s->Key(vk, down);
  }
  void Activation(bool active, bool byClick) override {
    if (IInputSink* s = Target()) s->Activation(active, byClick);
  }
  void Close() override {
    if (IInputSink* s = Target()) s->Close();
  }
  void Rotate(uint32_t dmdo) override {
    if (IInputSink* s = Target()) s->Rotate(dmdo);
  }
  void Slide(bool open) override {
    if (IInputSink* s = Target()) s->Slide(open);
  }

 private:
  static IInputSink* Target() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().sink;
  }
};

ForwardingSink& Forwarder() {
  static ForwardingSink* sink = new ForwardingSink;
  return *sink;
}

int32_t SettingOr(std::optional<uint32_t> v, int32_t fallback, uint32_t max, const char16_t* name) {
  if (!v || *v == 0) return fallback;
  if (*v > max) {
    DebugPrintf(u"[platform] %s %u is out of range; using %d\n", name, *v, fallback);
    return fallback;
  }
  return static_cast<int32_t>(*v);
}

DisplayConfig ReadConfig() {
  DisplayConfig c;
  c.width = SettingOr(ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, u"ScreenWidth"), kDefaultScreenWidth,
                      kMaxScreenSide, u"ScreenWidth");
  c.height = SettingOr(ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, u"ScreenHeight"), kDefaultScreenHeight,
                       kMaxScreenSide, u"ScreenHeight");
  c.dpi = static_cast<uint32_t>(
      SettingOr(ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, u"Dpi"), kDefaultScreenDpi, kMaxScreenDpi, u"Dpi"));
  return c;
}

void EnsureLoadedLocked(DisplayState& s) {
  if (s.loaded) return;
  s.config = ReadConfig();
  s.loaded = true;
}

bool Swapped(uint32_t dmdo) { return dmdo == DMDO_90 || dmdo == DMDO_270; }

Size RotatedLocked(const DisplayState& s) {
  return Swapped(s.orientation) ? Size{s.config.height, s.config.width} : Size{s.config.width, s.config.height};
}

// The framebuffer object itself; sized on first use from the settings.
FrameBuffer& RawFrameBuffer() {
  static FrameBuffer* fb = new FrameBuffer;
  return *fb;
}

}  // namespace

uint16_t FrameBuffer::Pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
  return Row(y)[x];
}

void FrameBuffer::Fill(uint16_t colour) {
  for (int32_t y = 0; y < m_height; ++y) std::fill_n(Row(y), m_width, colour);
  AddDamage({0, 0, m_width, m_height});
}

void FrameBuffer::AddDamage(const Rect& r) {
  Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, m_width), std::min(r.bottom, m_height)};
  if (c.IsEmpty()) return;
  if (m_damage.IsEmpty()) {
    m_damage = c;
    return;
  }
  m_damage = {std::min(m_damage.left, c.left), std::min(m_damage.top, c.top), std::max(m_damage.right, c.right),
              std::max(m_damage.bottom, c.bottom)};
}

Rect FrameBuffer::TakeDamage() {
  Rect d = m_damage;
  m_damage = {};
  return d;
}

void FrameBuffer::Reallocate(int32_t width, int32_t height) {
  m_width = std::max(width, 0);
  m_height = std::max(height, 0);
  m_stride = (m_width * 2 + 3) & ~3;
  m_bytes.assign(static_cast<size_t>(m_stride) * m_height, 0);
  ++m_generation;
  m_damage = {};
  AddDamage({0, 0, m_width, m_height});
}

DisplayConfig CurrentDisplayConfig() {
  DisplayState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  EnsureLoadedLocked(s);
  return s.config;
}

Size ScreenSize() {
  DisplayState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  EnsureLoadedLocked(s);
  return RotatedLocked(s);
}

uint32_t ScreenDpi() {
  DisplayState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  EnsureLoadedLocked(s);
  return s.config.dpi;
}

uint32_t DisplayOrientation() {
  DisplayState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.orientation;
}

bool IsValidOrientation(uint32_t dmdo) {
  return dmdo == DMDO_DEFAULT || dmdo == DMDO_90 || dmdo == DMDO_180 || dmdo == DMDO_270;
}

FrameBuffer& ScreenFrameBuffer() {
  FrameBuffer& fb = RawFrameBuffer();
  if (fb.Generation() == 0) {
    Size size = ScreenSize();
    fb.Reallocate(size.cx, size.cy);
  }
  return fb;
}

namespace {

// Brings the framebuffer and the backend to the current screen size.
void ApplyScreenSize() {
  FrameBuffer& fb = RawFrameBuffer();
  Size size = ScreenSize();
  if (fb.Generation() != 0 && fb.Dimensions() == size) return;
  fb.Reallocate(size.cx, size.cy);
  if (auto backend = CurrentDisplayBackend()) backend->Resize(fb);
}

}  // namespace

void ReloadDisplayConfig() {
  DisplayState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    DisplayConfig fresh = ReadConfig();
    bool sizeChanged = !s.loaded || fresh.width != s.config.width || fresh.height != s.config.height;
    s.config = fresh;
    s.loaded = true;
    if (sizeChanged) s.orientation = DMDO_DEFAULT;
  }
  ApplyScreenSize();
}

bool SetDisplayOrientation(uint32_t dmdo) {
  if (!IsValidOrientation(dmdo)) return false;
  DisplayState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    EnsureLoadedLocked(s);
    if (s.orientation == dmdo) return true;
    s.orientation = dmdo;
  }
  // A half turn keeps the size but every pixel moves: start from a clean,
  // fully damaged screen either way.
  FrameBuffer& fb = RawFrameBuffer();
  Size size = ScreenSize();
  fb.Reallocate(size.cx, size.cy);
  if (auto backend = CurrentDisplayBackend()) backend->Resize(fb);
  return true;
}

std::shared_ptr<IDisplayBackend> CurrentDisplayBackend() {
  DisplayState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.backend) return s.backend;
  }
  auto headless = std::make_shared<HeadlessBackend>();
  headless->Init(Forwarder(), ScreenFrameBuffer());
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.backend) s.backend = headless;  // another thread may have won the race
  return s.backend;
}

bool InstallDisplayBackend(std::shared_ptr<IDisplayBackend> backend) {
  if (!backend) return false;
  if (!backend->Init(Forwarder(), ScreenFrameBuffer())) return false;
  std::shared_ptr<IDisplayBackend> previous;
  {
    DisplayState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    previous = std::move(s.backend);
    s.backend = std::move(backend);
  }
  // A UI thread blocked in the old backend must not sleep on forever.
  if (previous) previous->Wake();
  return true;
}

void SetDisplayInputSink(IInputSink* sink) {
  DisplayState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.sink = sink;
}

void WakeDisplay() {
  if (auto backend = CurrentDisplayBackend()) backend->Wake();
}

}  // namespace plat
