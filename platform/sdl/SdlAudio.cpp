#include "platform/sdl/SdlAudio.h"

#include <SDL.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/base/Debug.h"

namespace plat {
namespace {

// SDL's audio calls are serialised by the platform.
std::mutex& SdlAudioLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// A byte ring shared with SDL's audio thread.
class Ring {
 public:
  explicit Ring(size_t capacity) : m_data(capacity) {}
  size_t Size() const { return m_size; }
  size_t Space() const { return m_data.size() - m_size; }
  size_t Push(const uint8_t* p, size_t n) {
    n = std::min(n, Space());
    for (size_t i = 0; i < n; ++i) m_data[(m_head + m_size + i) % m_data.size()] = p[i];
    m_size += n;
    return n;
  }
  size_t Pop(uint8_t* p, size_t n) {
    n = std::min(n, m_size);
    for (size_t i = 0; i < n; ++i) p[i] = m_data[(m_head + i) % m_data.size()];
    m_head = (m_head + n) % m_data.size();
    m_size -= n;
    return n;
  }
  void Clear() { m_head = m_size = 0; }

 private:
  std::vector<uint8_t> m_data;
  size_t m_head = 0;
  size_t m_size = 0;
};

class SdlEngine : public WaveEngine {
 public:
  SdlEngine(bool input, const WaveFormat& format)
      : m_input(input),
        m_format(format),
        m_ring(input ? format.nAvgBytesPerSec * 2 : std::max<size_t>(format.nAvgBytesPerSec / 20, 4096)) {}

  bool Open() {
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(m_format.nSamplesPerSec);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(m_format.nChannels);
    want.samples = 512;
    want.callback = &SdlEngine::Callback;
    want.userdata = this;
    std::lock_guard<std::mutex> guard(SdlAudioLock());
    m_device = SDL_OpenAudioDevice(nullptr, m_input ? 1 : 0, &want, nullptr, 0);
    if (m_device == 0) {
      DebugPrintf(u"[platform] sdl: cannot open the %S device: %S\n", std::string(m_input ? "capture" : "playback"),
                  std::string(SDL_GetError()));
      return false;
    }
    SDL_PauseAudioDevice(m_device, 0);
    return true;
  }

  void OnQueued(WaveDeviceCore& core, WaveHeader*, ClockTime) override { m_wake.store(core.wake); }

  void OnRunning(WaveDeviceCore& core, bool running, ClockTime) override {
    m_wake.store(core.wake);
    m_running.store(running);
  }

  void Poll(WaveDeviceCore& core, ClockTime) override {
    m_wake.store(core.wake);
    if (uint64_t lost = m_overflow.load(); lost != m_overflowTraced) {
      DebugPrintf(u"[platform] sdl: %u captured bytes did not fit the ring\n", static_cast<unsigned>(lost));
      m_overflowTraced = lost;
    }
    std::lock_guard<std::mutex> guard(m_ringLock);
    while (core.running && !core.queue.empty()) {
      WaveHeader* h = core.queue.front();
      uint32_t length = h->dwBufferLength - h->dwBufferLength % m_format.nBlockAlign;
      if (m_input) {
        m_fill += static_cast<uint32_t>(m_ring.Pop(h->lpData + m_fill, length - m_fill));
      } else {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(m_ring.Space(), length - m_fill));
        n -= n % m_format.nBlockAlign;
        std::vector<uint8_t> chunk(h->lpData + m_fill, h->lpData + m_fill + n);
        ApplyGain(chunk.data(), n, m_format.nChannels, core.volume);
        m_ring.Push(chunk.data(), n);
        m_fill += n;
      }
      if (m_fill < length) break;
      m_fill = 0;
      core.CompleteFront(length);
    }
  }

  uint32_t TakePartial(WaveDeviceCore&, ClockTime) override {
    uint32_t bytes = m_fill;
    m_fill = 0;
    if (!m_input) {
      std::lock_guard<std::mutex> guard(m_ringLock);
      m_ring.Clear();
    }
    return bytes;
  }

  void Shutdown() override {
    std::lock_guard<std::mutex> guard(SdlAudioLock());
    if (m_device != 0) SDL_CloseAudioDevice(m_device);
    m_device = 0;
  }

  ~SdlEngine() override { Shutdown(); }

 private:
  static void SDLCALL Callback(void* self, Uint8* stream, int len) {
    static_cast<SdlEngine*>(self)->Move(stream, static_cast<size_t>(len));
  }

  void Move(Uint8* stream, size_t len) {
    {
      std::lock_guard<std::mutex> guard(m_ringLock);
      if (m_input) {
        if (m_running.load()) {
          size_t kept = m_ring.Push(stream, len);
          if (kept < len) m_overflow.fetch_add(len - kept);
        }
      } else {
        size_t n = m_running.load() ? m_ring.Pop(stream, len) : 0;
        std::memset(stream + n, 0, len - n);
      }
    }
    if (Handle wake = m_wake.load()) SetEvent(wake);
  }

  bool m_input;
  WaveFormat m_format;
  SDL_AudioDeviceID m_device = 0;
  std::mutex m_ringLock;
  Ring m_ring;
  std::atomic<bool> m_running{false};
  std::atomic<Handle> m_wake{nullptr};
  std::atomic<uint64_t> m_overflow{0};
  uint64_t m_overflowTraced = 0;
  // Bytes of the front header filled (input) or handed to SDL (output).
  uint32_t m_fill = 0;
};

class SdlAudioBackend : public IAudioBackend {
 public:
  ~SdlAudioBackend() override {
    std::lock_guard<std::mutex> guard(SdlAudioLock());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  const char* Name() const override { return "sdl"; }
  bool Audible() const override { return true; }
  uint32_t DeviceCount(bool input) override {
    std::lock_guard<std::mutex> guard(SdlAudioLock());
    // -1: the driver offers only its default device.
    return SDL_GetNumAudioDevices(input ? 1 : 0) != 0 ? 1 : 0;
  }
  std::unique_ptr<WaveEngine> Open(bool input, const WaveFormat& format, uint32_t* error) override {
    auto engine = std::make_unique<SdlEngine>(input, format);
    if (!engine->Open()) {
      *error = MMSYSERR_NODRIVER;
      return nullptr;
    }
    return engine;
  }
};

}  // namespace

std::shared_ptr<IAudioBackend> MakeSdlAudioBackend() {
  std::lock_guard<std::mutex> guard(SdlAudioLock());
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    DebugPrintf(u"[platform] sdl: cannot start audio: %S\n", std::string(SDL_GetError()));
    return nullptr;
  }
  return std::make_shared<SdlAudioBackend>();
}

AudioChoice ChooseAudioBackend(const char* forced, bool sdlDisplay) {
  if (forced && strcasecmp(forced, "sdl") == 0) return AudioChoice::Sdl;
  if (forced && strcasecmp(forced, "headless") == 0) return AudioChoice::Headless;
  return sdlDisplay ? AudioChoice::Sdl : AudioChoice::Headless;
}

}  // namespace plat
