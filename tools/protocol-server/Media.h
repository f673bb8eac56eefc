// The pictures and audio previews the server hands out, made on demand and
// kept for the life of the process, plus the decoders its self-check uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qps {

enum class PngKind { Rgb, Rgba, PaletteTrns, Grey, Interlaced };
const char* PngKindName(PngKind kind);

struct PictureSpec {
  int width = 200;
  int height = 200;
  PngKind kind = PngKind::Rgb;
  uint32_t seed = 0;  // colour of the picture, derived from its id
};

// A solid colour with a diagonal stripe, so scaling shows.
std::string MakePng(const PictureSpec& pictureSpec);
// Signature, an IHDR of 100000 x 100000 and only a few bytes of data.
std::string MakeHugePng();

struct PngInfo {
  std::string error;  // empty when the picture decoded
  int width = 0;
  int height = 0;
  int colorType = -1;
  int interlace = 0;
  bool hasTrns = false;
  std::vector<uint8_t> rgba;  // decoded pixels, 4 bytes each
};
PngInfo DecodePng(std::string_view bytes);

enum class Mp3Format { Mono44k, JointStereo44k, Mpeg2Mono22k };
const char* Mp3FormatName(Mp3Format format);

struct Mp3HeaderExpect {
  int version;       // 1 = MPEG-1, 2 = MPEG-2
  int layer;         // 3
  int bitrateIndex;  // 9 = 128 kbit/s (MPEG-1), 8 = 64 kbit/s (MPEG-2)
  int sampleRate;
  int channels;
};
Mp3HeaderExpect ExpectedMp3Header(Mp3Format format);

// A sine tone, whole MPEG frames only, no ID3 tag and no Xing/Info frame.
std::string MakeMp3(Mp3Format format, double frequency, double seconds);
// The same bytes behind an ID3v2 tag.
std::string WithId3Tag(std::string_view mp3);

struct Mp3Decoded {
  std::string error;  // empty when every frame decoded without a libmad error
  int frames = 0;
  int sampleRate = 0;
  int channels = 0;
  int version = 0;
  int layer = 0;
  int bitrateIndex = -1;
  std::vector<int16_t> pcm;  // mono mix
};
Mp3Decoded DecodeMp3(std::string_view bytes);

// Reads version, layer and bit-rate index of the frame header at the start.
bool ParseMp3Header(std::string_view bytes, int& version, int& layer, int& bitrateIndex);

}  // namespace qps
