// Wave devices: the phone's waveform audio interface, with its result codes,
// header flags and notifications, over a backend (headless or SDL).
//
// Each open device has a dispatch thread of its own (a platform thread, so
// the virtual clock sees it) that delivers the device's callbacks in order;
// no callback ever runs inside a backend's real-time audio callback.
//
// A finished header gets its bytes recorded, then DONE, then loses INQUEUE
// (flags stored with release), before its callback runs; readers load the
// flags with acquire and may then read the bytes recorded.
//
// Reset and close are synchronous: reset hands every queued header back done
// (partial count) and has delivered their notifications when it returns;
// close has delivered its notification when it returns, and no callback
// runs, or still runs, after that.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace plat {

constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_ERROR = 1;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_ALLOCATED = 4;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t WAVERR_BADFORMAT = 32;
constexpr uint32_t WAVERR_STILLPLAYING = 33;
constexpr uint32_t WAVERR_UNPREPARED = 34;

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;
constexpr uint16_t WAVE_FORMAT_PCM = 1;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;
constexpr uint32_t WIM_OPEN = 0x3BE;
constexpr uint32_t WIM_CLOSE = 0x3BF;
constexpr uint32_t WIM_DATA = 0x3C0;

struct WaveFormat {
  uint16_t wFormatTag = WAVE_FORMAT_PCM;
  uint16_t nChannels = 1;
  uint32_t nSamplesPerSec = 8000;
  uint32_t nAvgBytesPerSec = 16000;
  uint16_t nBlockAlign = 2;
  uint16_t wBitsPerSample = 16;
};
// 16-bit PCM with the derived fields filled in.
WaveFormat PcmFormat(uint32_t samplesPerSecond, uint16_t channels);
// PCM, 1 or 2 channels, 16 bits, 8000-48000 Hz, consistent block align and
// byte rate: what the devices accept.
bool IsSupportedFormat(const WaveFormat& format);

struct WaveHeader {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  // Written by the device with release; read with acquire.
  std::atomic<uint32_t> dwFlags{0};
  WaveHeader* lpNext = nullptr;  // the device's own link; leave alone

  uint32_t Flags() const { return dwFlags.load(std::memory_order_acquire); }
};

struct WaveInTag;
struct WaveOutTag;
using HWaveIn = WaveInTag*;
using HWaveOut = WaveOutTag*;

// (device, message, instance, p1, p2); p1 is the header for WIM_DATA/WOM_DONE.
using WaveInCallback = void (*)(HWaveIn, uint32_t, uintptr_t, uintptr_t, uintptr_t);
using WaveOutCallback = void (*)(HWaveOut, uint32_t, uintptr_t, uintptr_t, uintptr_t);

uint32_t waveInGetNumDevs();
// A second open of an input device that is open gives MMSYSERR_ALLOCATED.
uint32_t waveInOpen(HWaveIn* device, uint32_t id, const WaveFormat& format, WaveInCallback callback,
                    uintptr_t instance);
uint32_t waveInPrepareHeader(HWaveIn device, WaveHeader* header, uint32_t size);
uint32_t waveInUnprepareHeader(HWaveIn device, WaveHeader* header, uint32_t size);
// Clears DONE and sets INQUEUE; UNPREPARED unless prepared.
uint32_t waveInAddBuffer(HWaveIn device, WaveHeader* header, uint32_t size);
uint32_t waveInStart(HWaveIn device);
// Stops capture; the header being filled comes back done with what it has.
uint32_t waveInStop(HWaveIn device);
uint32_t waveInReset(HWaveIn device);
// STILLPLAYING while headers are queued; prepared but unqueued ones are fine.
uint32_t waveInClose(HWaveIn device);

uint32_t waveOutGetNumDevs();
// Each open is a stream of its own.
uint32_t waveOutOpen(HWaveOut* device, uint32_t id, const WaveFormat& format, WaveOutCallback callback,
                     uintptr_t instance);
uint32_t waveOutPrepareHeader(HWaveOut device, WaveHeader* header, uint32_t size);
uint32_t waveOutUnprepareHeader(HWaveOut device, WaveHeader* header, uint32_t size);
uint32_t waveOutWrite(HWaveOut device, WaveHeader* header, uint32_t size);
uint32_t waveOutPause(HWaveOut device);
uint32_t waveOutRestart(HWaveOut device);
uint32_t waveOutReset(HWaveOut device);
// A gain on this stream only (low word left, high word right; 0xFFFF is
// unity). The system mixer is never touched.
uint32_t waveOutSetVolume(HWaveOut device, uint32_t volume);
uint32_t waveOutGetVolume(HWaveOut device, uint32_t* volume);
uint32_t waveOutClose(HWaveOut device);

// Plays a WAV file on a stream of its own, cutting off the one it started
// before; an empty path only stops. Silent (false) unless the installed
// backend is audible. For the shell's PlaySound.
bool PlayWavFile(const std::filesystem::path& hostPath);

// ---- WAV files ------------------------------------------------------------

struct WavData {
  WaveFormat format;
  std::vector<uint8_t> pcm;
};
// RIFF PCM, 8 or 16 bits, any rate and channel count; nullopt otherwise.
std::optional<WavData> ReadWavFile(const std::filesystem::path& path);
std::optional<WavData> ParseWav(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> MakeWav(const WaveFormat& format, const std::vector<uint8_t>& pcm);
bool WriteWavFile(const std::filesystem::path& path, const WaveFormat& format, const std::vector<uint8_t>& pcm);
// 16-bit mono at `rate` from any PCM the reader accepts: channels averaged,
// linear resampling.
std::vector<int16_t> ToMono16(const WavData& wav, uint32_t rate);

}  // namespace plat
