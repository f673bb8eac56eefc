// The headless backend: a scripted microphone and a recording speaker, both
// paced on the platform clock.
#include "platform/audio/HeadlessAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <numbers>

#include "platform/audio/AudioBackend.h"
#include "platform/base/Debug.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

constexpr WChar kSettingsKey[] = u"Platform\\Linux";
constexpr ClockTime kNever = INT64_MIN;

struct ShortCount {
  uint32_t bytes = 0;
  std::optional<uint32_t> ordinal;
};

struct HeadlessState {
  std::mutex lock;
  std::optional<MicSource> source;
  std::vector<ShortCount> shortCounts;
  std::optional<uint32_t> heldOrdinal;
  std::vector<MicDelivery> log;
  std::vector<uint8_t> delivered;
  std::vector<SpeakerStream> speaker;
  bool unpaced = false;
  size_t speakerKeepBytes = headless_audio::kDefaultSpeakerKeepBytes;
  // QUOREL_SPEAKER: where every stream goes when it closes, over the setting.
  std::optional<std::filesystem::path> speakerFile;
};

HeadlessState& State() {
  static HeadlessState* state = new HeadlessState;
  return *state;
}

void DropStream(SpeakerStream& stream) {
  std::vector<uint8_t>().swap(stream.pcm);
  std::vector<SpeakerRecord>().swap(stream.records);
  stream.dropped = true;
}

// Oldest first, closed streams let go of what they played until the rest
// fits the limit.
void KeepSpeakerWithinLimitLocked(HeadlessState& s) {
  size_t kept = 0;
  for (const SpeakerStream& stream : s.speaker)
    if (!stream.open) kept += stream.pcm.size();
  for (SpeakerStream& stream : s.speaker) {
    if (kept <= s.speakerKeepBytes) break;
    if (stream.open || stream.dropped) continue;
    kept -= stream.pcm.size();
    DropStream(stream);
  }
}

ClockTime DurationNs(uint64_t bytes, uint32_t bytesPerSecond, bool unpaced) {
  if (unpaced || bytesPerSecond == 0) return 0;
  return static_cast<ClockTime>(bytes * 1'000'000'000ull / bytesPerSecond);
}

uint32_t BytesIn(ClockTime ns, const WaveFormat& f) {
  if (ns <= 0) return 0;
  uint64_t bytes = static_cast<uint64_t>(ns) * f.nAvgBytesPerSec / 1'000'000'000ull;
  return static_cast<uint32_t>(bytes - bytes % f.nBlockAlign);
}

// The script, rendered one sample at a time at the device's rate.
class MicReader {
 public:
  MicReader(const MicSource& source, uint32_t rate) : m_rate(rate), m_loop(source.loop) {
    for (const MicSegment& segment : source.script) {
      Segment seg{segment, {}, UINT64_MAX};
      if (segment.kind == MicSegment::Kind::Wav) {
        std::optional<WavData> wav = ReadWavFile(segment.file);
        if (!wav) DebugPrintf(u"[platform] microphone file unreadable: %S\n", segment.file.string());
        if (wav) seg.wav = ToMono16(*wav, rate);
        seg.length = seg.wav.size();
      }
      if (segment.durationMs != 0) seg.length = uint64_t{segment.durationMs} * rate / 1000;
      m_total += std::min<uint64_t>(seg.length, UINT64_MAX / 4);
      m_segments.push_back(std::move(seg));
    }
  }

  int16_t Next() {
    while (m_index < m_segments.size() && m_pos >= m_segments[m_index].length) {
      ++m_index;
      m_pos = 0;
      if (m_index == m_segments.size() && m_loop && m_total > 0) m_index = 0;
    }
    if (m_index >= m_segments.size()) return 0;
    return Sample(m_segments[m_index], m_pos++);
  }

 private:
  struct Segment {
    MicSegment segment;
    std::vector<int16_t> wav;
    uint64_t length;
  };

  int16_t Sample(const Segment& s, uint64_t pos) const {
    switch (s.segment.kind) {
      case MicSegment::Kind::Silence:
        return 0;
      case MicSegment::Kind::Sine: {
        double v = s.segment.amplitude * std::sin(2 * std::numbers::pi * s.segment.frequency * double(pos) / m_rate);
        return static_cast<int16_t>(std::clamp(std::lround(v), -32768l, 32767l));
      }
      case MicSegment::Kind::Pulse: {
        uint64_t period = uint64_t{s.segment.periodMs} * m_rate / 1000;
        bool on = period == 0 ? pos == 0 : pos % period == 0;
        return on ? s.segment.value : 0;
      }
      case MicSegment::Kind::Constant:
        return s.segment.value;
      case MicSegment::Kind::Wav:
        return pos < s.wav.size() ? s.wav[pos] : 0;
    }
    return 0;
  }

  uint32_t m_rate;
  bool m_loop;
  uint64_t m_total = 0;
  std::vector<Segment> m_segments;
  size_t m_index = 0;
  uint64_t m_pos = 0;
};

MicSource ConfiguredSource() {
  HeadlessState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.source) return *s.source;
  }
  MicSource source;
  if (auto file = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, u"MicrophoneFile"); file && !file->empty()) {
    source.script.push_back(MicSegment::Wav(ToUtf8(*file)));
  }
  return source;
}

// Header timing shared by both directions: a header starts at the later of
// its queue time, the previous completion and the moment the device ran.
class PacedEngine : public WaveEngine {
 public:
  void OnQueued(WaveDeviceCore&, WaveHeader* h, ClockTime now) override { m_queuedAt[h] = now; }

 protected:
  ClockTime FrontStart(const WaveDeviceCore& core) const {
    auto it = m_queuedAt.find(core.queue.front());
    ClockTime queued = it == m_queuedAt.end() ? 0 : it->second;
    return std::max({queued, m_lastCompletion, m_ranSince});
  }
  void Forget(WaveHeader* h, ClockTime completion) {
    m_queuedAt.erase(h);
    m_lastCompletion = completion;
  }

  std::map<WaveHeader*, ClockTime> m_queuedAt;
  ClockTime m_lastCompletion = kNever;
  ClockTime m_ranSince = kNever;
};

class HeadlessInput : public PacedEngine {
 public:
  HeadlessInput(const WaveFormat& format, bool unpaced)
      : m_format(format), m_reader(ConfiguredSource(), format.nSamplesPerSec), m_unpaced(unpaced) {}

  void OnRunning(WaveDeviceCore&, bool running, ClockTime now) override {
    if (running) m_ranSince = now;
  }

  void Poll(WaveDeviceCore& core, ClockTime now) override {
    while (core.running && !core.queue.empty() && !Held()) {
      uint32_t bytes = Target(core);
      ClockTime due = FrontStart(core) + DurationNs(bytes, m_format.nAvgBytesPerSec, m_unpaced);
      if (due > now) break;
      Deliver(core, bytes, due, true);
      core.CompleteFront(bytes);
    }
  }

  ClockTime NextDeadline(const WaveDeviceCore& core) const override {
    if (!core.running || core.queue.empty() || Held()) return kClockForever;
    return FrontStart(core) + DurationNs(Target(core), m_format.nAvgBytesPerSec, m_unpaced);
  }

  uint32_t TakePartial(WaveDeviceCore& core, ClockTime now) override {
    uint32_t bytes = 0;
    if (core.running && !Held()) {
      ClockTime start = FrontStart(core);
      bytes = m_unpaced ? 0 : std::min(BytesIn(now - start, m_format), Target(core));
    }
    Deliver(core, bytes, now, false);
    return bytes;
  }

 private:
  bool Held() const {
    HeadlessState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.heldOrdinal == m_ordinal;
  }

  uint32_t Target(const WaveDeviceCore& core) const {
    uint32_t length = core.queue.front()->dwBufferLength;
    length -= length % m_format.nBlockAlign;
    HeadlessState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = FindShortCount(s);
    if (it != s.shortCounts.end()) return std::min(length, it->bytes - it->bytes % m_format.nBlockAlign);
    return length;
  }

  // The short count for the front header: one for its ordinal, else the
  // oldest for "the next".
  std::vector<ShortCount>::iterator FindShortCount(HeadlessState& s) const {
    auto it = std::find_if(s.shortCounts.begin(), s.shortCounts.end(),
                           [&](const ShortCount& c) { return c.ordinal == m_ordinal; });
    if (it != s.shortCounts.end()) return it;
    return std::find_if(s.shortCounts.begin(), s.shortCounts.end(), [](const ShortCount& c) { return !c.ordinal; });
  }

  // Fills the front header from the source; the source moves on only by
  // what was delivered.
  void Deliver(WaveDeviceCore& core, uint32_t bytes, ClockTime when, bool consumeShortCount) {
    WaveHeader* h = core.queue.front();
    for (uint32_t i = 0; i < bytes; i += m_format.nBlockAlign) {
      int16_t sample = m_reader.Next();
      for (uint16_t c = 0; c < m_format.nChannels; ++c) std::memcpy(h->lpData + i + c * 2, &sample, 2);
    }
    {
      HeadlessState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      if (consumeShortCount) {
        if (auto it = FindShortCount(s); it != s.shortCounts.end()) s.shortCounts.erase(it);
      }
      s.log.push_back({when, bytes});
      s.delivered.insert(s.delivered.end(), h->lpData, h->lpData + bytes);
    }
    ++m_ordinal;
    Forget(h, when);
  }

  WaveFormat m_format;
  MicReader m_reader;
  bool m_unpaced;
  uint32_t m_ordinal = 0;
};

class HeadlessOutput : public PacedEngine {
 public:
  HeadlessOutput(const WaveFormat& format, bool unpaced, size_t stream)
      : m_format(format), m_unpaced(unpaced), m_stream(stream) {}

  void OnRunning(WaveDeviceCore& core, bool running, ClockTime now) override {
    if (running) {
      m_ranSince = now;
    } else if (!core.queue.empty()) {
      ClockTime start = FrontStart(core);
      if (start <= now) m_consumedNs += now - start;
    }
  }

  void Poll(WaveDeviceCore& core, ClockTime now) override {
    while (core.running && !core.queue.empty()) {
      ClockTime due = Due(core);
      if (due > now) break;
      Play(core, core.queue.front()->dwBufferLength, due);
      core.CompleteFront(0);
    }
  }

  ClockTime NextDeadline(const WaveDeviceCore& core) const override {
    if (!core.running || core.queue.empty()) return kClockForever;
    return Due(core);
  }

  uint32_t TakePartial(WaveDeviceCore& core, ClockTime now) override {
    ClockTime played = m_consumedNs;
    if (core.running && FrontStart(core) <= now) played += now - FrontStart(core);
    uint32_t bytes = std::min(BytesIn(played, m_format), core.queue.front()->dwBufferLength);
    if (m_unpaced) bytes = 0;
    Play(core, bytes, now);
    return bytes;
  }

  void Shutdown() override {
    HeadlessState& s = State();
    SpeakerStream copy;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      if (m_stream >= s.speaker.size()) return;
      s.speaker[m_stream].open = false;
      copy = s.speaker[m_stream];
      KeepSpeakerWithinLimitLocked(s);
    }
    std::optional<std::filesystem::path> target;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      target = s.speakerFile;
    }
    if (!target)
      if (auto file = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, u"SpeakerFile"); file && !file->empty())
        target = std::filesystem::path(ToUtf8(*file));
    if (target && !WriteWavFile(*target, copy.format, copy.pcm))
      DebugPrintf(u"[platform] cannot write the speaker file %S\n", target->string());
  }

 private:
  ClockTime Due(const WaveDeviceCore& core) const {
    ClockTime length = DurationNs(core.queue.front()->dwBufferLength, m_format.nAvgBytesPerSec, m_unpaced);
    return FrontStart(core) + std::max<ClockTime>(0, length - m_consumedNs);
  }

  // The front header's first `bytes` reach the speaker.
  void Play(WaveDeviceCore& core, uint32_t bytes, ClockTime when) {
    WaveHeader* h = core.queue.front();
    std::vector<uint8_t> pcm(h->lpData, h->lpData + bytes);
    ApplyGain(pcm.data(), bytes, m_format.nChannels, core.volume);
    {
      HeadlessState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      if (m_stream < s.speaker.size()) {
        SpeakerStream& stream = s.speaker[m_stream];
        stream.pcm.insert(stream.pcm.end(), pcm.begin(), pcm.end());
        stream.records.push_back({bytes, when});
      }
    }
    m_consumedNs = 0;
    Forget(h, when);
  }

  WaveFormat m_format;
  bool m_unpaced;
  size_t m_stream;
  ClockTime m_consumedNs = 0;
};

class HeadlessBackend : public IAudioBackend {
 public:
  const char* Name() const override { return "headless"; }
  bool Audible() const override { return false; }
  uint32_t DeviceCount(bool) override { return 1; }
  std::unique_ptr<WaveEngine> Open(bool input, const WaveFormat& format, uint32_t*) override {
    HeadlessState& s = State();
    bool unpaced;
    size_t stream = 0;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      unpaced = s.unpaced;
      if (input) {
        s.log.clear();
        s.delivered.clear();
      } else {
        stream = s.speaker.size();
        s.speaker.push_back(SpeakerStream{format, {}, {}, true});
      }
    }
    if (input) return std::make_unique<HeadlessInput>(format, unpaced);
    return std::make_unique<HeadlessOutput>(format, unpaced, stream);
  }
};

}  // namespace

std::shared_ptr<IAudioBackend> MakeHeadlessAudioBackend() { return std::make_shared<HeadlessBackend>(); }

MicSegment MicSegment::Silence(uint32_t ms) {
  MicSegment s;
  s.durationMs = ms;
  return s;
}
MicSegment MicSegment::Sine(double hz, double peak, uint32_t ms) {
  MicSegment s;
  s.kind = Kind::Sine;
  s.frequency = hz;
  s.amplitude = peak;
  s.durationMs = ms;
  return s;
}
MicSegment MicSegment::Pulse(int16_t value, uint32_t periodMs, uint32_t ms) {
  MicSegment s;
  s.kind = Kind::Pulse;
  s.value = value;
  s.periodMs = periodMs;
  s.durationMs = ms;
  return s;
}
MicSegment MicSegment::Constant(int16_t value, uint32_t ms) {
  MicSegment s;
  s.kind = Kind::Constant;
  s.value = value;
  s.durationMs = ms;
  return s;
}
MicSegment MicSegment::Wav(std::filesystem::path file, uint32_t ms) {
  MicSegment s;
  s.kind = Kind::Wav;
  s.file = std::move(file);
  s.durationMs = ms;
  return s;
}

namespace headless_audio {

void SetMicrophone(MicSource source) {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.source = std::move(source);
}

void SetShortCount(uint32_t bytes, std::optional<uint32_t> headerOrdinal) {
  {
    HeadlessState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.shortCounts.push_back(ShortCount{bytes, headerOrdinal});
  }
  WakeWaveDevices();
}

void HoldHeader(uint32_t ordinal) {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.heldOrdinal = ordinal;
}

void ReleaseHeader() {
  {
    HeadlessState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.heldOrdinal.reset();
  }
  WakeWaveDevices();
}

std::vector<MicDelivery> DeliveryLog() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.log;
}

std::vector<uint8_t> Delivered() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.delivered;
}

std::vector<SpeakerStream> Speaker() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.speaker;
}

size_t CapturedBytes() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  size_t n = s.delivered.size() + s.log.size() * sizeof(MicDelivery);
  for (const SpeakerStream& stream : s.speaker)
    n += sizeof stream + stream.pcm.size() + stream.records.size() * sizeof(SpeakerRecord);
  return n;
}

void SetSpeakerKeepBytes(size_t bytes) {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.speakerKeepBytes = bytes;
  KeepSpeakerWithinLimitLocked(s);
}

void ClearCaptures() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  for (SpeakerStream& stream : s.speaker)
    if (!stream.open) DropStream(stream);
}

void SetUnpaced(bool unpaced) {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.unpaced = unpaced;
}

void Reset() {
  ResetDeviceOverrides();
  HeadlessState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.source.reset();
  s.shortCounts.clear();
  s.heldOrdinal.reset();
  s.log.clear();
  s.delivered.clear();
  s.speaker.clear();
  s.unpaced = false;
  s.speakerKeepBytes = kDefaultSpeakerKeepBytes;
  s.speakerFile.reset();
}

}  // namespace headless_audio

bool AudioFileSwitchesSet() {
  for (const char* name : {"QUOREL_MIC", "QUOREL_SPEAKER"})
    if (const char* v = std::getenv(name); v && *v) return true;
  return false;
}

std::string ApplyAudioFileSwitches() {
  if (const char* mic = std::getenv("QUOREL_MIC"); mic && *mic) {
    std::optional<WavData> wav = ReadWavFile(mic);
    if (!wav) return std::string("QUOREL_MIC: ") + mic + " is missing or not a readable WAV file";
    MicSource source;
    source.script.push_back(MicSegment::Wav(mic));
    headless_audio::SetMicrophone(std::move(source));
  }
  if (const char* speaker = std::getenv("QUOREL_SPEAKER"); speaker && *speaker) {
    // Found out now rather than when the first preview ends.
    const bool existed = std::filesystem::exists(speaker);
    if (!std::ofstream(speaker, std::ios::app))
      return std::string("QUOREL_SPEAKER: ") + speaker + " cannot be written";
    if (!existed) std::filesystem::remove(speaker);
    HeadlessState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.speakerFile = std::filesystem::path(speaker);
  }
  return {};
}
}  // namespace plat
