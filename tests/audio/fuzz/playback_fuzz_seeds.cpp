// Writes the playback fuzz target's seeds into the folder named on the
// command line: the three fixtures as files and as downloads in pieces,
// truncated frames, garbage, an ID3v2 header claiming a huge size, reserved
// header fields, free format, and frame headers for the bit-rate parser.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/protocol-server/Media.h"

namespace {

bool Save(const std::filesystem::path& dir, const std::string& name, const std::string& bytes) {
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The download form: pieces of `piece` bytes, each `delay` × 4 ms apart.
std::string AsDownload(const std::string& body, size_t piece, uint8_t delay) {
  std::string out(1, '\x02');
  for (size_t at = 0; at < body.size(); at += piece) {
    size_t n = std::min(piece, body.size() - at);
    out += static_cast<char>(((n - 1) >> 8) & 0xFF);
    out += static_cast<char>((n - 1) & 0xFF);
    out += static_cast<char>(delay);
    out += body.substr(at, n);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: playback_fuzz_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  bool ok = true;
  const struct {
    const char* name;
    qps::Mp3Format format;
  } formats[] = {{"mono", qps::Mp3Format::Mono44k},
                 {"stereo", qps::Mp3Format::JointStereo44k},
                 {"mpeg2", qps::Mp3Format::Mpeg2Mono22k}};
  for (const auto& f : formats) {
    std::string mp3 = qps::MakeMp3(f.format, 440.0, 0.3);
    ok &= Save(dir, std::string("file-") + f.name, "\x01" + mp3);
    ok &= Save(dir, std::string("download-") + f.name, AsDownload(mp3, 700, 10));
    ok &= Save(dir, std::string("cut-") + f.name, "\x01" + mp3.substr(0, mp3.size() / 3 + 17));
    ok &= Save(dir, std::string("header-") + f.name, "\x00" + mp3.substr(0, 4));
  }
  std::string garbage(4000, '\0');
  uint32_t seed = 5;
  for (char& c : garbage) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  ok &= Save(dir, "garbage-file", "\x01" + garbage);
  ok &= Save(dir, "garbage-download", AsDownload(garbage, 300, 1));
  ok &= Save(dir, "huge-id3", std::string("\x01ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 11) + std::string(64, '\0'));
  std::string reserved;
  for (int i = 0; i < 40; ++i) reserved += std::string("\xFF\xFF\xFF\xFF", 4) + std::string(200, '\x11');
  ok &= Save(dir, "reserved-fields", "\x01" + reserved);
  std::string freeFormat;
  for (int i = 0; i < 40; ++i) freeFormat += std::string("\xFF\xFB\x00\x64", 4) + std::string(300, '\x22');
  ok &= Save(dir, "free-format", AsDownload(freeFormat, 1000, 3));
  ok &= Save(dir, "header-free", std::string("\x00\xFF\xFB\x00\x64", 5));
  ok &= Save(dir, "header-reserved-layer", std::string("\x00\xFF\xF9\x90\x64", 5));
  return ok ? 0 : 1;
}
