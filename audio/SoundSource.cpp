#include "audio/SoundSource.h"

namespace {

// Kilobits per second for bit-rate indices 1 to 14.
constexpr int16_t kRates[5][14] = {
    // MPEG-1 Layer I
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    // MPEG-1 Layer II
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    // MPEG-1 Layer III
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    // MPEG-2 Layer I
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    // MPEG-2 and 2.5, Layers II and III
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

constexpr int32_t kUnknownRate = 1024;

}  // namespace

int32_t MP3BitRate(const uint8_t header[4]) {
  uint32_t h = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | header[3];
  if ((h & 0xFFE00000u) != 0xFFE00000u) return kUnknownRate;
  uint32_t version = (h >> 19) & 3;
  uint32_t layer = (h >> 17) & 3;
  uint32_t index = (h >> 12) & 15;
  if (layer == 0 || index == 0 || index == 15) return kUnknownRate;
  int table;
  if (version == 3)
    table = 3 - static_cast<int>(layer);  // I → 0, II → 1, III → 2
  else
    table = layer == 3 ? 3 : 4;
  return kRates[table][index - 1] * 128;
}
