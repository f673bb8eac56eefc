// Writes the PNG fuzz target's seed corpus into the folder named on the
// command line: every colour type and depth, plain and interlaced, with and
// without transparency chunks, plus cut, damaged and oversize files.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "png_test_util.h"

namespace {

bool Save(const std::filesystem::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: png_fuzz_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  struct Type {
    int colorType, bitDepth;
  };
  const Type types[] = {{PNG_COLOR_TYPE_GRAY, 1},       {PNG_COLOR_TYPE_GRAY, 4},       {PNG_COLOR_TYPE_GRAY, 16},
                        {PNG_COLOR_TYPE_GRAY_ALPHA, 8}, {PNG_COLOR_TYPE_RGB, 8},        {PNG_COLOR_TYPE_RGB, 16},
                        {PNG_COLOR_TYPE_RGB_ALPHA, 8},  {PNG_COLOR_TYPE_RGB_ALPHA, 16}, {PNG_COLOR_TYPE_PALETTE, 2},
                        {PNG_COLOR_TYPE_PALETTE, 8}};
  bool ok = true;
  uint32_t seed = 1;
  for (const Type& t : types)
    for (bool interlaced : {false, true}) {
      pngt::Picture p = pngt::MakePicture(9, 7, t.colorType, t.bitDepth, interlaced, seed++);
      if (t.colorType == PNG_COLOR_TYPE_PALETTE) p.paletteAlpha = {0, 90, 255};
      if (t.colorType == PNG_COLOR_TYPE_RGB) p.trnsColor = png_color_16{0, 1, 2, 3, 0};
      const std::string name = "type" + std::to_string(t.colorType) + "_depth" + std::to_string(t.bitDepth) +
                               (interlaced ? "_adam7" : "") + ".png";
      const std::vector<uint8_t> file = pngt::Encode(p);
      ok = ok && !file.empty() && Save(dir, name, file);
      if (t.colorType == PNG_COLOR_TYPE_RGB_ALPHA && t.bitDepth == 8) {
        ok = ok && Save(dir, name + ".half", std::vector<uint8_t>(file.begin(), file.begin() + long(file.size() / 2)));
        std::vector<uint8_t> damaged = file;
        damaged[damaged.size() / 2] ^= 0x5A;
        ok = ok && Save(dir, name + ".damaged", damaged);
      }
    }
  std::vector<uint8_t> oversize = pngt::Signature();
  for (const auto& c : {pngt::Chunk("IHDR", pngt::IhdrData(5000, 5000, 8, 6)), pngt::Chunk("IEND", {})})
    oversize.insert(oversize.end(), c.begin(), c.end());
  ok = ok && Save(dir, "oversize.png", oversize);
  ok = ok && Save(dir, "short.bin", {0x89, 'P', 'N'});
  if (!ok) std::fprintf(stderr, "png_fuzz_seeds: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
