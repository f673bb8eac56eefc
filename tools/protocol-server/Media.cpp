#include "tools/protocol-server/Media.h"

#include <lame/lame.h>
#include <mad.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace qps {

const char* PngKindName(PngKind kind) {
  switch (kind) {
    case PngKind::Rgb: return "rgb";
    case PngKind::Rgba: return "rgba";
    case PngKind::PaletteTrns: return "palette+trns";
    case PngKind::Grey: return "grey";
    case PngKind::Interlaced: return "interlaced";
  }
  return "?";
}

const char* Mp3FormatName(Mp3Format format) {
  switch (format) {
    case Mp3Format::Mono44k: return "44.1 kHz mono 128 kbit/s";
    case Mp3Format::JointStereo44k: return "44.1 kHz joint stereo 128 kbit/s";
    case Mp3Format::Mpeg2Mono22k: return "22.05 kHz MPEG-2 mono 64 kbit/s";
  }
  return "?";
}

namespace {

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void PngFlush(png_structp) {}

// Only plain C data lives in this frame, so a longjmp out of libpng skips no
// destructor.
bool WritePng(std::string* out, int width, int height, int colorType, int interlace, png_bytep* rows,
              const png_color* palette, int paletteSize, const png_byte* trns, int trnsSize) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, out, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, colorType,
               interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette) png_set_PLTE(png, info, palette, paletteSize);
  if (trns) png_set_tRNS(png, info, trns, trnsSize, nullptr);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::mutex g_cacheMutex;

}  // namespace

std::string MakePng(const PictureSpec& pictureSpec) {
  using Key = std::tuple<int, int, int, uint32_t>;
  static std::map<Key, std::shared_ptr<const std::string>> cache;
  Key key{pictureSpec.width, pictureSpec.height, static_cast<int>(pictureSpec.kind), pictureSpec.seed};
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end()) return *it->second;
  }
  const uint8_t r = pictureSpec.seed & 0xFF, g = (pictureSpec.seed >> 8) & 0xFF, b = (pictureSpec.seed >> 16) & 0xFF;
  const uint8_t grey = static_cast<uint8_t>((r * 30 + g * 59 + b * 11) / 100);
  int colorType = PNG_COLOR_TYPE_RGB;
  int channels = 3;
  switch (pictureSpec.kind) {
    case PngKind::Rgb:
    case PngKind::Interlaced: break;
    case PngKind::Rgba: colorType = PNG_COLOR_TYPE_RGB_ALPHA; channels = 4; break;
    case PngKind::PaletteTrns: colorType = PNG_COLOR_TYPE_PALETTE; channels = 1; break;
    case PngKind::Grey: colorType = PNG_COLOR_TYPE_GRAY; channels = 1; break;
  }
  const int period = std::max(8, std::min(pictureSpec.width, pictureSpec.height) / 4 + 1);
  std::vector<png_byte> pixels(static_cast<size_t>(pictureSpec.width) * pictureSpec.height * channels);
  std::vector<png_bytep> rows(pictureSpec.height);
  for (int y = 0; y < pictureSpec.height; ++y) {
    png_bytep row = pixels.data() + static_cast<size_t>(y) * pictureSpec.width * channels;
    rows[y] = row;
    for (int x = 0; x < pictureSpec.width; ++x) {
      bool stripe = (x + y) % period < period / 4;
      png_bytep p = row + static_cast<size_t>(x) * channels;
      switch (pictureSpec.kind) {
        case PngKind::Rgb:
        case PngKind::Interlaced:
        case PngKind::Rgba:
          p[0] = stripe ? 255 - r : r;
          p[1] = stripe ? 255 - g : g;
          p[2] = stripe ? 255 - b : b;
          if (channels == 4) p[3] = stripe ? 128 : 255;
          break;
        case PngKind::PaletteTrns: p[0] = stripe ? 1 : 0; break;
        case PngKind::Grey: p[0] = stripe ? 255 - grey : grey; break;
      }
    }
  }
  png_color palette[2] = {{r, g, b}, {static_cast<png_byte>(255 - r), static_cast<png_byte>(255 - g),
                                      static_cast<png_byte>(255 - b)}};
  png_byte trns[2] = {255, 96};
  const bool paletted = pictureSpec.kind == PngKind::PaletteTrns;
  std::string out;
  if (!WritePng(&out, pictureSpec.width, pictureSpec.height, colorType,
                pictureSpec.kind == PngKind::Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, rows.data(),
                paletted ? palette : nullptr, 2, paletted ? trns : nullptr, 2))
    return {};
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  cache.emplace(key, std::make_shared<const std::string>(out));
  return out;
}

namespace {

void AppendChunk(std::string& out, const char* type, const std::string& data) {
  uint32_t length = static_cast<uint32_t>(data.size());
  for (int i = 3; i >= 0; --i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
  std::string typed = std::string(type, 4) + data;
  out += typed;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
  for (int i = 3; i >= 0; --i) out += static_cast<char>((crc >> (8 * i)) & 0xFF);
}

}  // namespace

std::string MakeHugePng() {
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  for (uint32_t v : {100000u, 100000u})
    for (int i = 3; i >= 0; --i) ihdr += static_cast<char>((v >> (8 * i)) & 0xFF);
  ihdr += '\x08';  // bit depth
  ihdr += '\x02';  // RGB
  ihdr.append(3, '\0');
  AppendChunk(out, "IHDR", ihdr);
  // A few rows' worth of zlib data, nowhere near the 30 GB the header promises.
  std::string raw(2 * (1 + 3 * 100000), '\0');
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  z.resize(size);
  AppendChunk(out, "IDAT", z);
  AppendChunk(out, "IEND", "");
  return out;
}

namespace {

struct PngReadSource {
  const char* data;
  size_t size;
  size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* src = static_cast<PngReadSource*>(png_get_io_ptr(png));
  if (src->pos + length > src->size) png_error(png, "unexpected end of data");
  std::memcpy(out, src->data + src->pos, length);
  src->pos += length;
}

void PngErrorHandler(png_structp png, png_const_charp message) {
  auto* buffer = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(buffer, 256, "%s", message);
  png_longjmp(png, 1);
}
void PngWarningHandler(png_structp, png_const_charp) {}

// Plain C frame around libpng's longjmp, as for writing.
bool ReadPng(PngReadSource* src, char* error, png_uint_32* width, png_uint_32* height, int* colorType,
             int* interlace, int* hasTrns, uint8_t** pixels) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, error, PngErrorHandler, PngWarningHandler);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  png_bytep* volatile rows = nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    std::free(rows);
    std::free(*pixels);
    *pixels = nullptr;
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return false;
  }
  png_set_read_fn(png, src, PngRead);
  png_set_user_limits(png, 20000, 20000);
  png_read_info(png, info);
  int bitDepth = 0;
  png_get_IHDR(png, info, width, height, &bitDepth, colorType, interlace, nullptr, nullptr);
  *hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) ? 1 : 0;
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != static_cast<size_t>(*width) * 4) png_error(png, "unexpected row size");
  *pixels = static_cast<uint8_t*>(std::malloc(rowBytes * *height));
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * *height));
  if (!*pixels || !rows) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < *height; ++y) rows[y] = *pixels + rowBytes * y;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

PngInfo DecodePng(std::string_view bytes) {
  PngInfo info;
  if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0) {
    info.error = "no PNG signature";
    return info;
  }
  PngReadSource src{bytes.data(), bytes.size(), 0};
  char error[256] = "libpng failed";
  png_uint_32 width = 0, height = 0;
  int colorType = -1, interlace = 0, hasTrns = 0;
  uint8_t* pixels = nullptr;
  if (!ReadPng(&src, error, &width, &height, &colorType, &interlace, &hasTrns, &pixels)) {
    info.error = error;
    return info;
  }
  info.width = static_cast<int>(width);
  info.height = static_cast<int>(height);
  info.colorType = colorType;
  info.interlace = interlace;
  info.hasTrns = hasTrns != 0;
  info.rgba.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
  std::free(pixels);
  return info;
}

Mp3HeaderExpect ExpectedMp3Header(Mp3Format format) {
  switch (format) {
    case Mp3Format::Mono44k: return {1, 3, 9, 44100, 1};
    case Mp3Format::JointStereo44k: return {1, 3, 9, 44100, 2};
    case Mp3Format::Mpeg2Mono22k: return {2, 3, 8, 22050, 1};
  }
  return {};
}

std::string MakeMp3(Mp3Format format, double frequency, double seconds) {
  using Key = std::tuple<int, long long, long long>;
  static std::map<Key, std::shared_ptr<const std::string>> cache;
  Key key{static_cast<int>(format), std::llround(frequency * 1000), std::llround(seconds * 1000)};
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end()) return *it->second;
  }
  const Mp3HeaderExpect expect = ExpectedMp3Header(format);
  lame_global_flags* lame = lame_init();
  if (!lame) return {};
  lame_set_num_channels(lame, expect.channels);
  lame_set_in_samplerate(lame, expect.sampleRate);
  lame_set_out_samplerate(lame, expect.sampleRate);
  lame_set_brate(lame, format == Mp3Format::Mpeg2Mono22k ? 64 : 128);
  lame_set_mode(lame, expect.channels == 2 ? JOINT_STEREO : MONO);
  lame_set_VBR(lame, vbr_off);
  lame_set_bWriteVbrTag(lame, 0);
  lame_set_write_id3tag_automatic(lame, 0);
  lame_set_quality(lame, 7);
  if (lame_init_params(lame) < 0) {
    lame_close(lame);
    return {};
  }
  const int total = static_cast<int>(seconds * expect.sampleRate);
  const int fade = expect.sampleRate / 100;
  std::vector<short> left(total), right(total);
  for (int i = 0; i < total; ++i) {
    double gain = 0.5;
    if (i < fade) gain *= static_cast<double>(i) / fade;
    if (total - i < fade) gain *= static_cast<double>(total - i) / fade;
    double v = gain * 32767 * std::sin(2 * M_PI * frequency * i / expect.sampleRate);
    left[i] = static_cast<short>(std::lround(v));
    // The second channel is slightly quieter so a down-mix differs from either.
    right[i] = static_cast<short>(std::lround(v * 0.8));
  }
  std::string out;
  const int block = 1152 * 8;
  std::vector<unsigned char> buffer(block * 5 / 4 + 7200);
  for (int start = 0; start < total; start += block) {
    int n = std::min(block, total - start);
    int bytes = lame_encode_buffer(lame, left.data() + start, expect.channels == 2 ? right.data() + start : nullptr,
                                   n, buffer.data(), static_cast<int>(buffer.size()));
    if (bytes < 0) {
      lame_close(lame);
      return {};
    }
    out.append(reinterpret_cast<const char*>(buffer.data()), bytes);
  }
  int bytes = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
  if (bytes > 0) out.append(reinterpret_cast<const char*>(buffer.data()), bytes);
  lame_close(lame);
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  cache.emplace(key, std::make_shared<const std::string>(out));
  return out;
}

std::string WithId3Tag(std::string_view mp3) {
  const std::string title = std::string("\0Quorel preview", 15);
  std::string frame = "TIT2";
  uint32_t frameSize = static_cast<uint32_t>(title.size());
  for (int i = 3; i >= 0; --i) frame += static_cast<char>((frameSize >> (8 * i)) & 0xFF);
  frame.append(2, '\0');
  frame += title;
  const uint32_t tagSize = 1024;  // frames plus padding, after the 10-byte header
  std::string tag = "ID3";
  tag += '\x03';
  tag += '\0';
  tag += '\0';
  for (int i = 3; i >= 0; --i) tag += static_cast<char>((tagSize >> (7 * i)) & 0x7F);
  tag += frame;
  tag.resize(10 + tagSize, '\0');
  return tag + std::string(mp3);
}

bool ParseMp3Header(std::string_view b, int& version, int& layer, int& bitrateIndex) {
  if (b.size() < 4) return false;
  auto u = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  if (u(0) != 0xFF || (u(1) & 0xE0) != 0xE0) return false;
  int v = (u(1) >> 3) & 3;
  version = v == 3 ? 1 : v == 2 ? 2 : v == 0 ? 25 : 0;
  int l = (u(1) >> 1) & 3;
  layer = l == 1 ? 3 : l == 2 ? 2 : l == 3 ? 1 : 0;
  bitrateIndex = u(2) >> 4;
  return version != 0 && layer != 0;
}

Mp3Decoded DecodeMp3(std::string_view bytes) {
  Mp3Decoded d;
  std::vector<unsigned char> buffer(bytes.begin(), bytes.end());
  buffer.resize(bytes.size() + MAD_BUFFER_GUARD, 0);
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  mad_stream_init(&stream);
  mad_frame_init(&frame);
  mad_synth_init(&synth);
  mad_stream_buffer(&stream, buffer.data(), buffer.size());
  int errors = 0;
  std::string firstError;
  for (int guard = 0; guard < 1000000; ++guard) {
    if (mad_frame_decode(&frame, &stream) == -1) {
      if (stream.error == MAD_ERROR_BUFLEN) break;
      // The guard bytes at the very end are not a frame; libmad reports them
      // as lost sync once every real frame was read.
      if (stream.error == MAD_ERROR_LOSTSYNC && stream.this_frame >= buffer.data() + bytes.size()) break;
      ++errors;
      if (firstError.empty()) firstError = mad_stream_errorstr(&stream);
      if (MAD_RECOVERABLE(stream.error)) continue;
      break;
    }
    if (d.frames == 0) {
      d.sampleRate = static_cast<int>(frame.header.samplerate);
      d.channels = MAD_NCHANNELS(&frame.header);
    }
    ++d.frames;
    mad_synth_frame(&synth, &frame);
    for (unsigned i = 0; i < synth.pcm.length; ++i) {
      long sum = 0;
      for (unsigned ch = 0; ch < synth.pcm.channels; ++ch) {
        mad_fixed_t s = synth.pcm.samples[ch][i];
        if (s >= MAD_F_ONE) s = MAD_F_ONE - 1;
        if (s < -MAD_F_ONE) s = -MAD_F_ONE;
        sum += s >> (MAD_F_FRACBITS + 1 - 16);
      }
      d.pcm.push_back(static_cast<int16_t>(sum / static_cast<long>(synth.pcm.channels)));
    }
  }
  mad_synth_finish(&synth);
  mad_frame_finish(&frame);
  mad_stream_finish(&stream);
  ParseMp3Header(bytes, d.version, d.layer, d.bitrateIndex);
  if (errors > 0)
    d.error = std::to_string(errors) + " libmad error(s), first: " + firstError;
  else if (d.frames == 0)
    d.error = "no MPEG audio frame";
  return d;
}

}  // namespace qps
