// The wave device core: the handle table, the header queue, the dispatch
// thread of each device and the synchronous reset and close.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/HeadlessAudio.h"
#include "platform/base/Debug.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr WChar kSettingsKey[] = u"Platform\\Linux";

struct Device {
  WaveDeviceCore core;
  std::mutex lock;
  std::unique_ptr<WaveEngine> engine;
  WaveInCallback inCallback = nullptr;
  WaveOutCallback outCallback = nullptr;
  uintptr_t instance = 0;
  uintptr_t id = 0;
  uint32_t deviceIndex = 0;
  Handle thread = nullptr;
  uint32_t threadId = 0;
  // Manual-reset; set after each notification is delivered.
  Handle drained = nullptr;
  uint64_t delivered = 0;
  bool quit = false;
  // Also read under the table's lock (Find, WakeWaveDevices).
  std::atomic<bool> abandoned{false};
  std::atomic<bool> closing{false};
};

struct Table {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Device>> devices;
  uintptr_t nextId = 1;
  std::shared_ptr<IAudioBackend> backend;
  std::optional<uint32_t> countOverride[2];  // [input, output]
  uint32_t failNext[2] = {0, 0};
  uint32_t failNextClose[2] = {0, 0};
};

Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

std::shared_ptr<IAudioBackend> Backend() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (!t.backend) t.backend = MakeHeadlessAudioBackend();
  return t.backend;
}

std::shared_ptr<Device> Find(uintptr_t id, bool input) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.devices.find(id);
  if (it == t.devices.end() || it->second->core.input != input || it->second->closing) return nullptr;
  return it->second;
}

void Deliver(Device& d, const WaveDeviceCore::Note& note) {
  uintptr_t p1 = reinterpret_cast<uintptr_t>(note.header);
  if (d.core.input) {
    if (d.inCallback) d.inCallback(reinterpret_cast<HWaveIn>(d.id), note.message, d.instance, p1, 0);
  } else if (d.outCallback) {
    d.outCallback(reinterpret_cast<HWaveOut>(d.id), note.message, d.instance, p1, 0);
  }
}

uint32_t DispatchLoop(const std::shared_ptr<Device>& dp) {
  Device& d = *dp;
  std::unique_lock<std::mutex> l(d.lock);
  for (;;) {
    if (d.abandoned) break;
    if (!d.quit) d.engine->Poll(d.core, ClockNow());
    if (!d.core.notes.empty()) {
      WaveDeviceCore::Note note = d.core.notes.front();
      d.core.notes.pop_front();
      l.unlock();
      Deliver(d, note);
      l.lock();
      ++d.delivered;
      SetEvent(d.drained);
      continue;
    }
    if (d.quit) break;
    ClockTime deadline = d.engine->NextDeadline(d.core);
    l.unlock();
    Handle wake = d.core.wake;
    WaitForMultipleObjectsUntil(std::span<const Handle>(&wake, 1), deadline);
    l.lock();
  }
  return 0;
}

// Blocks until the notifications queued so far have been delivered. From
// the dispatch thread itself (a callback) they follow once it returns.
void WaitDelivered(Device& d) {
  if (GetCurrentThreadId() == d.threadId) return;
  SetEvent(d.core.wake);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(d.lock);
      if (d.delivered >= d.core.posted || d.abandoned) return;
      ResetEvent(d.drained);
    }
    WaitForSingleObject(d.drained, INFINITE);
  }
}

uint32_t DeviceCount(bool input) {
  Table& t = TheTable();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    if (t.countOverride[input ? 0 : 1]) return *t.countOverride[input ? 0 : 1];
  }
  if (auto v = ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, input ? u"WaveInDevices" : u"WaveOutDevices")) return *v;
  return Backend()->DeviceCount(input);
}

uint32_t Open(uintptr_t* out, uint32_t index, const WaveFormat& format, bool input, WaveInCallback inCb,
              WaveOutCallback outCb, uintptr_t instance) {
  if (!out) return MMSYSERR_INVALPARAM;
  *out = 0;
  if (index == WAVE_MAPPER) index = 0;
  if (index >= DeviceCount(input)) return MMSYSERR_BADDEVICEID;
  if (!IsSupportedFormat(format)) return WAVERR_BADFORMAT;
  Table& t = TheTable();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    uint32_t& fail = t.failNext[input ? 0 : 1];
    if (fail != 0) {
      uint32_t code = fail;
      fail = 0;
      return code;
    }
    if (input) {
      for (auto& [id, dev] : t.devices) {
        if (dev->core.input && dev->deviceIndex == index) return MMSYSERR_ALLOCATED;
      }
    }
  }
  uint32_t error = MMSYSERR_NOERROR;
  std::unique_ptr<WaveEngine> engine = Backend()->Open(input, format, &error);
  if (!engine) return error != MMSYSERR_NOERROR ? error : MMSYSERR_NODRIVER;

  auto d = std::make_shared<Device>();
  d->core.input = input;
  d->core.format = format;
  d->core.wake = CreateEvent(false, false);
  d->drained = CreateEvent(true, false);
  d->engine = std::move(engine);
  d->inCallback = inCb;
  d->outCallback = outCb;
  d->instance = instance;
  d->deviceIndex = index;
  d->core.running = !input;  // playback runs until paused
  {
    std::lock_guard<std::mutex> guard(t.lock);
    if (input) {
      for (auto& [id, dev] : t.devices) {
        if (dev->core.input && dev->deviceIndex == index) {
          CloseHandle(d->core.wake);
          CloseHandle(d->drained);
          return MMSYSERR_ALLOCATED;
        }
      }
    }
    d->id = t.nextId++;
    t.devices[d->id] = d;
  }
  {
    std::lock_guard<std::mutex> guard(d->lock);
    d->core.notes.push_back({input ? WIM_OPEN : WOM_OPEN, nullptr});
    ++d->core.posted;
    d->engine->OnRunning(d->core, d->core.running, ClockNow());
  }
  d->thread = CreateThread([d] { return DispatchLoop(d); }, &d->threadId);
  *out = d->id;
  return MMSYSERR_NOERROR;
}

uint32_t Prepare(uintptr_t id, bool input, WaveHeader* h, bool prepare) {
  std::shared_ptr<Device> d = Find(id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!h || !h->lpData) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> guard(d->lock);
  uint32_t flags = h->dwFlags.load(std::memory_order_acquire);
  if (prepare) {
    h->dwFlags.store(flags | WHDR_PREPARED, std::memory_order_release);
  } else {
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwFlags.store(flags & ~WHDR_PREPARED, std::memory_order_release);
  }
  return MMSYSERR_NOERROR;
}

uint32_t Queue(uintptr_t id, bool input, WaveHeader* h) {
  std::shared_ptr<Device> d = Find(id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!h || !h->lpData) return MMSYSERR_INVALPARAM;
  {
    std::lock_guard<std::mutex> guard(d->lock);
    uint32_t flags = h->dwFlags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwBytesRecorded = 0;
    h->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_release);
    d->core.queue.push_back(h);
    d->engine->OnQueued(d->core, h, ClockNow());
  }
  SetEvent(d->core.wake);
  return MMSYSERR_NOERROR;
}

uint32_t SetRunning(uintptr_t id, bool input, bool running) {
  std::shared_ptr<Device> d = Find(id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard<std::mutex> guard(d->lock);
    ClockTime now = ClockNow();
    if (d->core.running == running) return MMSYSERR_NOERROR;
    d->engine->Poll(d->core, now);
    if (input && !running && !d->core.queue.empty()) {
      // Stopping capture hands back the header being filled.
      d->core.CompleteFront(d->engine->TakePartial(d->core, now));
    }
    d->core.running = running;
    d->engine->OnRunning(d->core, running, now);
  }
  SetEvent(d->core.wake);
  return MMSYSERR_NOERROR;
}

uint32_t Reset(uintptr_t id, bool input) {
  std::shared_ptr<Device> d = Find(id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard<std::mutex> guard(d->lock);
    ClockTime now = ClockNow();
    d->engine->Poll(d->core, now);
    while (!d->core.queue.empty()) d->core.CompleteFront(d->engine->TakePartial(d->core, now));
    if (input && d->core.running) {
      d->core.running = false;
      d->engine->OnRunning(d->core, false, now);
    }
  }
  WaitDelivered(*d);
  return MMSYSERR_NOERROR;
}

void Remove(uintptr_t id) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.devices.erase(id);
}

uint32_t Close(uintptr_t id, bool input) {
  std::shared_ptr<Device> d = Find(id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (GetCurrentThreadId() == d->threadId) return MMSYSERR_ERROR;  // not from a callback
  {
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->core.queue.empty()) return WAVERR_STILLPLAYING;
    if (d->closing) return MMSYSERR_INVALHANDLE;
    d->closing = true;
    d->core.running = false;
  }
  uint32_t failure = MMSYSERR_NOERROR;
  {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    failure = std::exchange(t.failNextClose[input ? 0 : 1], MMSYSERR_NOERROR);
  }
  d->engine->Shutdown();
  {
    std::lock_guard<std::mutex> guard(d->lock);
    // A close that fails sends no notification.
    if (failure == MMSYSERR_NOERROR) {
      d->core.notes.push_back({input ? WIM_CLOSE : WOM_CLOSE, nullptr});
      ++d->core.posted;
    }
    d->quit = true;
  }
  SetEvent(d->core.wake);
  WaitForSingleObject(d->thread, INFINITE);
  CloseHandle(d->thread);
  CloseHandle(d->core.wake);
  CloseHandle(d->drained);
  d->engine.reset();
  Remove(id);
  return failure;
}

uintptr_t Id(HWaveIn h) { return reinterpret_cast<uintptr_t>(h); }
uintptr_t Id(HWaveOut h) { return reinterpret_cast<uintptr_t>(h); }

}  // namespace

void WaveDeviceCore::CompleteFront(uint32_t bytesRecorded) {
  WaveHeader* h = queue.front();
  queue.pop_front();
  if (input) h->dwBytesRecorded = std::min(bytesRecorded, h->dwBufferLength);
  uint32_t flags = h->dwFlags.load(std::memory_order_relaxed);
  h->dwFlags.store((flags | WHDR_DONE) & ~WHDR_INQUEUE, std::memory_order_release);
  notes.push_back({input ? WIM_DATA : WOM_DONE, h});
  ++posted;
}

void InstallAudioBackend(std::shared_ptr<IAudioBackend> backend) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.backend = std::move(backend);
}

std::shared_ptr<IAudioBackend> CurrentAudioBackend() { return Backend(); }

WaveFormat PcmFormat(uint32_t samplesPerSecond, uint16_t channels) {
  WaveFormat f;
  f.nChannels = channels;
  f.nSamplesPerSec = samplesPerSecond;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = samplesPerSecond * f.nBlockAlign;
  f.wBitsPerSample = 16;
  return f;
}

bool IsSupportedFormat(const WaveFormat& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) && f.wBitsPerSample == 16 &&
         f.nSamplesPerSec >= 8000 && f.nSamplesPerSec <= 48000 && f.nBlockAlign == f.nChannels * 2 &&
         f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

void ApplyGain(uint8_t* pcm, uint32_t bytes, uint16_t channels, uint32_t volume) {
  if (volume == 0xFFFFFFFFu) return;
  uint32_t gains[2] = {volume & 0xFFFF, volume >> 16};
  uint32_t samples = bytes / 2;
  for (uint32_t i = 0; i < samples; ++i) {
    uint32_t gain = gains[channels == 2 ? i % 2 : 0];
    int16_t s;
    std::memcpy(&s, pcm + i * 2, 2);
    s = static_cast<int16_t>(static_cast<int32_t>(s) * static_cast<int32_t>(gain) / 0xFFFF);
    std::memcpy(pcm + i * 2, &s, 2);
  }
}

uint32_t waveInGetNumDevs() { return DeviceCount(true); }
uint32_t waveInOpen(HWaveIn* device, uint32_t id, const WaveFormat& format, WaveInCallback callback,
                    uintptr_t instance) {
  uintptr_t out = 0;
  uint32_t r = Open(device ? &out : nullptr, id, format, true, callback, nullptr, instance);
  if (device) *device = reinterpret_cast<HWaveIn>(out);
  return r;
}
uint32_t waveInPrepareHeader(HWaveIn d, WaveHeader* h, uint32_t) { return Prepare(Id(d), true, h, true); }
uint32_t waveInUnprepareHeader(HWaveIn d, WaveHeader* h, uint32_t) { return Prepare(Id(d), true, h, false); }
uint32_t waveInAddBuffer(HWaveIn d, WaveHeader* h, uint32_t) { return Queue(Id(d), true, h); }
uint32_t waveInStart(HWaveIn d) { return SetRunning(Id(d), true, true); }
uint32_t waveInStop(HWaveIn d) { return SetRunning(Id(d), true, false); }
uint32_t waveInReset(HWaveIn d) { return Reset(Id(d), true); }
uint32_t waveInClose(HWaveIn d) { return Close(Id(d), true); }

uint32_t waveOutGetNumDevs() { return DeviceCount(false); }
uint32_t waveOutOpen(HWaveOut* device, uint32_t id, const WaveFormat& format, WaveOutCallback callback,
                     uintptr_t instance) {
  uintptr_t out = 0;
  uint32_t r = Open(device ? &out : nullptr, id, format, false, nullptr, callback, instance);
  if (device) *device = reinterpret_cast<HWaveOut>(out);
  return r;
}
uint32_t waveOutPrepareHeader(HWaveOut d, WaveHeader* h, uint32_t) { return Prepare(Id(d), false, h, true); }
uint32_t waveOutUnprepareHeader(HWaveOut d, WaveHeader* h, uint32_t) { return Prepare(Id(d), false, h, false); }
uint32_t waveOutWrite(HWaveOut d, WaveHeader* h, uint32_t) { return Queue(Id(d), false, h); }
uint32_t waveOutPause(HWaveOut d) { return SetRunning(Id(d), false, false); }
uint32_t waveOutRestart(HWaveOut d) { return SetRunning(Id(d), false, true); }
uint32_t waveOutReset(HWaveOut d) { return Reset(Id(d), false); }
uint32_t waveOutClose(HWaveOut d) { return Close(Id(d), false); }

uint32_t waveOutSetVolume(HWaveOut h, uint32_t volume) {
  std::shared_ptr<Device> d = Find(Id(h), false);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> guard(d->lock);
  d->core.volume = volume;
  return MMSYSERR_NOERROR;
}

uint32_t waveOutGetVolume(HWaveOut h, uint32_t* volume) {
  std::shared_ptr<Device> d = Find(Id(h), false);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!volume) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> guard(d->lock);
  *volume = d->core.volume;
  return MMSYSERR_NOERROR;
}

void WakeWaveDevices() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  for (auto& [id, d] : t.devices) {
    if (!d->closing && !d->abandoned) SetEvent(d->core.wake);
  }
}

size_t OpenWaveDeviceCount() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.devices.size();
}

size_t AbandonOpenWaveDevices() {
  std::vector<std::shared_ptr<Device>> open;
  {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    for (auto& [id, d] : t.devices) open.push_back(d);
  }
  size_t abandoned = 0;
  for (auto& d : open) {
    {
      std::lock_guard<std::mutex> guard(d->lock);
      if (d->abandoned || !d->thread) continue;
      d->abandoned = true;
    }
    ++abandoned;
    DebugPrintf(u"[platform] a wave device was left open; its dispatch ends without callbacks\n");
    SetEvent(d->core.wake);
    WaitForSingleObject(d->thread, INFINITE);
    d->engine->Shutdown();
  }
  return abandoned;
}

namespace headless_audio {

void SetDeviceCounts(std::optional<uint32_t> inputs, std::optional<uint32_t> outputs) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.countOverride[0] = inputs;
  t.countOverride[1] = outputs;
}

void FailNextOpen(bool input, uint32_t code) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.failNext[input ? 0 : 1] = code;
}

void FailNextClose(bool input, uint32_t code) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.failNextClose[input ? 0 : 1] = code;
}

void ResetDeviceOverrides() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.countOverride[0].reset();
  t.countOverride[1].reset();
  t.failNext[0] = t.failNext[1] = 0;
  t.failNextClose[0] = t.failNextClose[1] = 0;
}

}  // namespace headless_audio
}  // namespace plat
