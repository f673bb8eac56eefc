// Shared by the audio tests and benchmarks: test sound and a reference
// Speex encode made with the same library calls as the program's.
#pragma once

#include <speex/speex.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace audiotest {

// A voiced-looking test signal: two harmonics with a slow tremolo.
inline std::vector<int16_t> TestSound(size_t samples, double hz = 220.0) {
  std::vector<int16_t> out(samples);
  for (size_t i = 0; i < samples; ++i) {
    double t = double(i) / 8000.0;
    double v = 9000 * std::sin(2 * M_PI * hz * t) + 3000 * std::sin(2 * M_PI * 3 * hz * t);
    out[i] = static_cast<int16_t>(v * (0.6 + 0.4 * std::sin(2 * M_PI * 1.5 * t)));
  }
  return out;
}

// The records {2-byte big-endian length, frame} for every whole frame.
inline std::vector<uint8_t> ReferenceEncode(const int16_t* samples, size_t count) {
  void* state = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
  spx_int32_t off = 0, on = 1, quality = 8, complexity = 1;
  speex_encoder_ctl(state, SPEEX_SET_VBR, &off);
  speex_encoder_ctl(state, SPEEX_SET_QUALITY, &quality);
  speex_encoder_ctl(state, SPEEX_SET_COMPLEXITY, &complexity);
  speex_encoder_ctl(state, SPEEX_SET_HIGHPASS, &on);
  SpeexBits bits;
  speex_bits_init(&bits);
  std::vector<uint8_t> out;
  std::vector<spx_int16_t> frame(160);
  char packed[200];
  for (size_t at = 0; at + 160 <= count; at += 160) {
    std::memcpy(frame.data(), samples + at, 320);
    speex_bits_reset(&bits);
    speex_encode_int(state, frame.data(), &bits);
    int n = speex_bits_write(&bits, packed, 200);
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), packed, packed + n);
  }
  speex_bits_destroy(&bits);
  speex_encoder_destroy(state);
  return out;
}

}  // namespace audiotest
