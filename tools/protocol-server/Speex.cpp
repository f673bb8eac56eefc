#include "tools/protocol-server/Speex.h"

#include <speex/speex.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace qps {

namespace {

int32_t ReadLe32(const std::string& b, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[offset + i]);
  return static_cast<int32_t>(v);
}

struct HeaderField {
  size_t offset;
  const char* name;
  int32_t expected;
};

constexpr HeaderField kHeaderFields[] = {
    {28, "version id", 1},         {32, "header size", 80},
    {36, "sample rate", 8000},     {40, "mode", 0},
    {44, "mode bitstream version", 4}, {48, "channels", 1},
    {52, "bit rate", -1},          {56, "frame size", 160},
    {60, "variable bit rate", 0},  {64, "frames per packet", 0},
    {68, "extra headers", 0},      {72, "reserved (72)", 0},
    {76, "reserved (76)", 0},
};

void CheckHeader(const std::string& b, UploadReport& r) {
  size_t before = r.violations.size();
  if (b.compare(0, 8, "Speex   ") != 0) r.violations.push_back("header: identifier is not \"Speex\" and three spaces");
  std::string version("1.2beta3");
  version.resize(20, '\0');
  if (b.compare(8, 20, version) != 0)
    r.violations.push_back("header: version text is not \"1.2beta3\" padded with zero bytes");
  for (const HeaderField& f : kHeaderFields) {
    int32_t v = ReadLe32(b, f.offset);
    if (v != f.expected)
      r.violations.push_back(std::string("header: ") + f.name + " is " + std::to_string(v) + ", expected " +
                             std::to_string(f.expected));
  }
  r.headerOk = r.violations.size() == before;
}

class SpeexDecoder {
 public:
  SpeexDecoder() {
    m_state = speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
    speex_bits_init(&m_bits);
  }
  ~SpeexDecoder() {
    speex_bits_destroy(&m_bits);
    if (m_state) speex_decoder_destroy(m_state);
  }
  SpeexDecoder(const SpeexDecoder&) = delete;
  SpeexDecoder& operator=(const SpeexDecoder&) = delete;

  // Appends 160 samples; false when the frame does not decode.
  bool Decode(const char* data, int length, std::vector<int16_t>& out) {
    speex_bits_read_from(&m_bits, const_cast<char*>(data), length);
    spx_int16_t pcm[160];
    int rc = speex_decode_int(m_state, &m_bits, pcm);
    bool ok = rc == 0 && speex_bits_remaining(&m_bits) >= 0;
    if (!ok) std::memset(pcm, 0, sizeof pcm);
    out.insert(out.end(), pcm, pcm + 160);
    return ok;
  }

 private:
  void* m_state = nullptr;
  SpeexBits m_bits;
};

}  // namespace

UploadReport ValidateUpload(const UploadBody& in) {
  UploadReport r;
  r.violations = in.framingViolations;
  const bool chunked = in.framing == UploadBody::Framing::Chunked;
  if (chunked) {
    if (in.chunks.empty())
      r.violations.push_back("streamed body has no chunks");
    else if (in.chunks[0].size != kSpeexHeaderBytes)
      r.violations.push_back("first chunk is " + std::to_string(in.chunks[0].size) +
                             " bytes, not the 80-byte header");
    if (!in.terminated) r.violations.push_back("streamed body ends without its terminating zero-length chunk");
  }
  const std::string& b = in.bytes;
  if (b.size() < static_cast<size_t>(kSpeexHeaderBytes)) {
    r.violations.push_back("body of " + std::to_string(b.size()) + " bytes is shorter than the 80-byte header");
    return r;
  }
  CheckHeader(b, r);

  SpeexDecoder decoder;
  size_t pos = kSpeexHeaderBytes;
  size_t recordBytes = 0;
  bool ended = false;
  bool broken = false;
  while (pos < b.size()) {
    int index = r.frames + 1;
    if (pos + 2 > b.size()) {
      r.violations.push_back("body ends inside the length of record " + std::to_string(index));
      broken = true;
      break;
    }
    int length = (static_cast<unsigned char>(b[pos]) << 8) | static_cast<unsigned char>(b[pos + 1]);
    if (length == 0) {
      if (chunked) {
        r.violations.push_back("zero-length record " + std::to_string(index) + " in a streamed body");
        broken = true;
      } else {
        ended = true;
      }
      break;
    }
    if (length > kMaxRecordLength) {
      r.violations.push_back("record " + std::to_string(index) + " has length " + std::to_string(length) +
                             ", outside 1..200");
      broken = true;
      break;
    }
    if (pos + 2 + length > b.size()) {
      r.violations.push_back("body ends inside record " + std::to_string(index));
      broken = true;
      break;
    }
    if (!decoder.Decode(b.data() + pos + 2, length, r.pcm)) {
      if (r.decodeErrors == 0) r.violations.push_back("record " + std::to_string(index) + " does not decode");
      ++r.decodeErrors;
    }
    ++r.lengthHistogram[length];
    ++r.frames;
    pos += 2 + length;
    recordBytes += 2 + length;
  }

  if (!chunked && !broken) {
    const size_t expected = kSpeexHeaderBytes + recordBytes + kCountedEndZeros;
    if (!ended) {
      r.violations.push_back("counted body lacks its 40 zero bytes at the end");
    } else {
      size_t trailing = b.size() - pos;
      bool zeros = b.find_first_not_of('\0', pos) == std::string::npos;
      if (!zeros)
        r.violations.push_back("non-zero bytes after the end record");
      else if (trailing != kCountedEndZeros)
        r.violations.push_back("counted body of " + std::to_string(b.size()) + " bytes ends with " +
                               std::to_string(trailing) + " zero bytes, not 40 (Content-Length should be " +
                               std::to_string(expected) + ")");
    }
  }

  if (r.frames == 0 && !broken) r.violations.push_back("no frames");
  const int limit = in.type == "singing" ? kMaxSingingFrames : kMaxGrabbingFrames;
  if (r.frames > limit)
    r.violations.push_back(std::to_string(r.frames) + " frames exceed the " + std::to_string(limit) +
                           " a " + (in.type.empty() ? std::string("search") : in.type) + " upload can hold");
  if (r.frames > 0) {
    long long k = (static_cast<long long>(r.frames) * 320 + 3999) / 4000;
    r.wholeBuffers = (4000 * k) / 320 == r.frames;
  }

  r.durationSeconds = r.frames * 0.020;
  if (!r.pcm.empty()) {
    double sum = 0;
    for (int16_t s : r.pcm) sum += static_cast<double>(s) * s;
    r.rms = std::sqrt(sum / static_cast<double>(r.pcm.size()));
  }
  r.frequencyHz = DominantFrequency(r.pcm, 8000, 100, 2000);
  return r;
}

double GoertzelPower(const std::vector<float>& x, double frequency, double sampleRate) {
  const double w = 2 * M_PI * frequency / sampleRate;
  const double coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    double s0 = v + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

namespace {

// In-place radix-2 transform; the size is a power of two.
void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * M_PI / static_cast<double>(len);
    const std::complex<double> unit(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1, 0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= unit;
      }
    }
  }
}

}  // namespace

double DominantFrequency(const std::vector<int16_t>& pcm, double sampleRate, double low, double high) {
  constexpr size_t kWindow = 16384;
  constexpr double kSilenceRms = 100;  // about -50 dBFS: nothing was sung
  if (pcm.size() < 256) return 0;
  size_t n = std::min(kWindow, pcm.size());
  size_t start = (pcm.size() - n) / 2;
  std::vector<float> x(n);
  double energy = 0;
  for (size_t i = 0; i < n; ++i) {
    double s = pcm[start + i];
    energy += s * s;
    double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n - 1));
    x[i] = static_cast<float>(s * hann);
  }
  if (std::sqrt(energy / static_cast<double>(n)) < kSilenceRms) return 0;
  // The coarse search: one transform of the window, zero-padded to a power
  // of two, gives the power at every bin (what a Goertzel pass at each bin's
  // frequency would give) for the price of a few passes. A Goertzel pass per
  // bin instead cost a pass over the window for each of thousands of bins,
  // which held every search reply back by a tenth of a second.
  size_t m = 1;
  while (m < n) m <<= 1;
  std::vector<std::complex<double>> bins(m);
  for (size_t i = 0; i < n; ++i) bins[i] = x[i];
  Fft(bins);
  const double step = sampleRate / static_cast<double>(m);
  double best = low, bestPower = -1;
  const size_t first = static_cast<size_t>(std::max(0.0, std::ceil(low / step)));
  for (size_t k = first; k < m / 2 && static_cast<double>(k) * step <= high; ++k) {
    double p = std::norm(bins[k]);
    if (p > bestPower) {
      bestPower = p;
      best = static_cast<double>(k) * step;
    }
  }
  // The fine search between the neighbouring bins, where the peak is the
  // only maximum (inside the window's main lobe): golden-section steps down
  // to a twentieth of a bin, a dozen passes over the window.
  constexpr double kGolden = 0.6180339887498949;
  double a = std::max(low, best - step), b = std::min(high, best + step);
  double c = b - kGolden * (b - a), d = a + kGolden * (b - a);
  double pc = GoertzelPower(x, c, sampleRate), pd = GoertzelPower(x, d, sampleRate);
  while (b - a > step / 20) {
    if (pc > pd) {
      b = d, d = c, pd = pc;
      c = b - kGolden * (b - a);
      pc = GoertzelPower(x, c, sampleRate);
    } else {
      a = c, c = d, pc = pd;
      d = a + kGolden * (b - a);
      pd = GoertzelPower(x, d, sampleRate);
    }
  }
  const double fine = pc > pd ? c : d;
  return std::max(pc, pd) > bestPower ? fine : best;
}

}  // namespace qps
