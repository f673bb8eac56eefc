// What an audio backend supplies to the wave devices: a device count and, per
// open device, an engine that moves samples between the queued headers and
// its sound source or sink. The device core (WaveDevices.cpp) owns the header
// queue, the notifications and the dispatch thread; every engine call but the
// constructor and Shutdown runs with the core's lock held, so an engine never
// needs a lock of its own for the headers.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/audio/Audio.h"
#include "platform/kernel/Clock.h"

namespace plat {

class WaveDeviceCore {
 public:
  bool input = true;
  WaveFormat format;
  // Queued headers, oldest first.
  std::deque<WaveHeader*> queue;
  // Input: started; output: not paused.
  bool running = false;
  // Output gain, as waveOutSetVolume gave it.
  uint32_t volume = 0xFFFFFFFFu;
  // Auto-reset; signalling it makes the dispatch thread poll the engine.
  // Safe from any thread, the backend's audio thread included.
  Handle wake = nullptr;

  // Hands the oldest queued header back: bytes recorded (input), DONE, no
  // INQUEUE, and queues its notification.
  void CompleteFront(uint32_t bytesRecorded);

  uint64_t posted = 0;  // notifications queued so far
  struct Note {
    uint32_t message;
    WaveHeader* header;
  };
  std::deque<Note> notes;
};

class WaveEngine {
 public:
  virtual ~WaveEngine() = default;
  // A header went into the queue.
  virtual void OnQueued(WaveDeviceCore&, WaveHeader*, ClockTime) {}
  // Capture started or stopped; playback restarted or paused.
  virtual void OnRunning(WaveDeviceCore&, bool running, ClockTime now) = 0;
  // Moves what is due and completes the headers that are full (input) or
  // consumed (output).
  virtual void Poll(WaveDeviceCore&, ClockTime now) = 0;
  // When Poll has work next without being woken.
  virtual ClockTime NextDeadline(const WaveDeviceCore&) const { return kClockForever; }
  // Reset or stop: the bytes the front header holds now (input) or has
  // consumed (output); the engine forgets its progress on that header.
  virtual uint32_t TakePartial(WaveDeviceCore&, ClockTime now) = 0;
  // Close: no more engine calls follow; the backend's audio thread stops.
  // Called without the core's lock.
  virtual void Shutdown() {}
};

class IAudioBackend {
 public:
  virtual ~IAudioBackend() = default;
  virtual const char* Name() const = 0;
  // Whether sound reaches the user's ears (PlaySound stays silent otherwise).
  virtual bool Audible() const = 0;
  virtual uint32_t DeviceCount(bool input) = 0;
  // Null with *error set when the device cannot open.
  virtual std::unique_ptr<WaveEngine> Open(bool input, const WaveFormat& format, uint32_t* error) = 0;
};

// The backend in use; headless until another is installed. Installing null
// goes back to headless. Install before devices open.
void InstallAudioBackend(std::shared_ptr<IAudioBackend> backend);
std::shared_ptr<IAudioBackend> CurrentAudioBackend();
std::shared_ptr<IAudioBackend> MakeHeadlessAudioBackend();

// Makes every open device poll its engine (after a change of the test
// settings that moves a deadline).
void WakeWaveDevices();

namespace headless_audio {
// Clears the device count overrides and open failures (part of Reset).
void ResetDeviceOverrides();
}  // namespace headless_audio

// Applies a waveOutSetVolume gain to 16-bit samples in place.
void ApplyGain(uint8_t* pcm, uint32_t bytes, uint16_t channels, uint32_t volume);

}  // namespace plat
