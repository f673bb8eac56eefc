// RIFF PCM files, and the shell's sound player on a stream of its own.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/audio/Audio.h"
#include "platform/audio/AudioBackend.h"

namespace plat {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

std::optional<WavData> ParseWav(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  std::optional<WaveFormat> format;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + pos;
    uint32_t size = Le32(chunk + 4);
    size_t body = pos + 8;
    size_t available = bytes.size() - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || available < 16) return std::nullopt;
      const uint8_t* f = bytes.data() + body;
      WaveFormat w;
      w.wFormatTag = Le16(f);
      w.nChannels = Le16(f + 2);
      w.nSamplesPerSec = Le32(f + 4);
      w.nAvgBytesPerSec = Le32(f + 8);
      w.nBlockAlign = Le16(f + 12);
      w.wBitsPerSample = Le16(f + 14);
      if (w.wFormatTag != WAVE_FORMAT_PCM || w.nChannels == 0 || w.nSamplesPerSec == 0 ||
          (w.wBitsPerSample != 8 && w.wBitsPerSample != 16) || w.nBlockAlign != w.nChannels * w.wBitsPerSample / 8) {
        return std::nullopt;
      }
      format = w;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!format) return std::nullopt;
      size_t n = std::min<size_t>(size, available);
      n -= n % format->nBlockAlign;
      return WavData{*format, std::vector<uint8_t>(bytes.begin() + body, bytes.begin() + body + n)};
    }
    pos = body + size + (size & 1);
  }
  return std::nullopt;
}

std::optional<WavData> ReadWavFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseWav(bytes);
}

std::vector<uint8_t> MakeWav(const WaveFormat& f, const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> out;
  out.reserve(44 + pcm.size());
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, static_cast<uint32_t>(36 + pcm.size()));
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(out, 16);
  Put16(out, f.wFormatTag);
  Put16(out, f.nChannels);
  Put32(out, f.nSamplesPerSec);
  Put32(out, f.nAvgBytesPerSec);
  Put16(out, f.nBlockAlign);
  Put16(out, f.wBitsPerSample);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(out, static_cast<uint32_t>(pcm.size()));
  out.insert(out.end(), pcm.begin(), pcm.end());
  return out;
}

bool WriteWavFile(const std::filesystem::path& path, const WaveFormat& format, const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> bytes = MakeWav(format, pcm);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<int16_t> ToMono16(const WavData& wav, uint32_t rate) {
  const WaveFormat& f = wav.format;
  size_t frames = wav.pcm.size() / f.nBlockAlign;
  std::vector<int16_t> mono(frames);
  for (size_t i = 0; i < frames; ++i) {
    int32_t sum = 0;
    for (uint16_t c = 0; c < f.nChannels; ++c) {
      const uint8_t* p = wav.pcm.data() + i * f.nBlockAlign + c * (f.wBitsPerSample / 8);
      sum += f.wBitsPerSample == 8 ? (int32_t{p[0]} - 128) << 8 : static_cast<int16_t>(Le16(p));
    }
    mono[i] = static_cast<int16_t>(sum / f.nChannels);
  }
  if (f.nSamplesPerSec == rate || frames == 0 || rate == 0) return mono;
  size_t outFrames = static_cast<size_t>(uint64_t{frames} * rate / f.nSamplesPerSec);
  std::vector<int16_t> out(outFrames);
  for (size_t i = 0; i < outFrames; ++i) {
    double at = double(i) * f.nSamplesPerSec / rate;
    size_t k = static_cast<size_t>(at);
    double frac = at - double(k);
    int16_t a = mono[std::min(k, frames - 1)];
    int16_t b = mono[std::min(k + 1, frames - 1)];
    out[i] = static_cast<int16_t>(std::lround(a + (b - a) * frac));
  }
  return out;
}

namespace {

// The shell's one sound stream: a new sound cuts off the one before.
struct ShellSound {
  std::mutex lock;
  HWaveOut device = nullptr;
  WaveHeader header;
  std::vector<uint8_t> pcm;
};

ShellSound& TheShellSound() {
  static ShellSound* sound = new ShellSound;
  return *sound;
}

void StopLocked(ShellSound& s) {
  if (!s.device) return;
  waveOutReset(s.device);
  waveOutUnprepareHeader(s.device, &s.header, sizeof s.header);
  waveOutClose(s.device);
  s.device = nullptr;
}

}  // namespace

bool PlayWavFile(const std::filesystem::path& hostPath) {
  ShellSound& s = TheShellSound();
  std::lock_guard<std::mutex> guard(s.lock);
  StopLocked(s);
  if (hostPath.empty() || !CurrentAudioBackend()->Audible()) return false;
  std::optional<WavData> wav = ReadWavFile(hostPath);
  if (!wav) return false;
  uint32_t rate = std::clamp<uint32_t>(wav->format.nSamplesPerSec, 8000, 48000);
  std::vector<int16_t> mono = ToMono16(*wav, rate);
  if (mono.empty()) return false;
  s.pcm.assign(reinterpret_cast<const uint8_t*>(mono.data()),
               reinterpret_cast<const uint8_t*>(mono.data()) + mono.size() * 2);
  if (waveOutOpen(&s.device, 0, PcmFormat(rate, 1), nullptr, 0) != MMSYSERR_NOERROR) {
    s.device = nullptr;
    return false;
  }
  s.header.lpData = s.pcm.data();
  s.header.dwBufferLength = static_cast<uint32_t>(s.pcm.size());
  s.header.dwFlags.store(0, std::memory_order_release);
  waveOutPrepareHeader(s.device, &s.header, sizeof s.header);
  return waveOutWrite(s.device, &s.header, sizeof s.header) == MMSYSERR_NOERROR;
}

}  // namespace plat
