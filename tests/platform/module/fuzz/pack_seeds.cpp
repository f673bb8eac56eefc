// Writes the pack fuzzer's seeds into the folder given: packs made by the
// packer's own writer, with every kind of resource and a named type.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/module/PackFormat.h"
#include "tools/qrespack/PackWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  std::string error;
  std::vector<qrespack::PackWriter> packs(3);
  qrespack::PackWriter& full = packs[0];
  full.AddString(1, u"Quorel", "seed", error);
  full.AddString(3, u"", "seed", error);
  full.AddString(4, std::u16string(u"a\0b", 3), "seed", error);
  full.AddString(5, u"ab\U0001F3B5", "seed", error);
  full.AddMenu(102, {{40000, u"Left"}, {40001, u""}}, "seed", error);
  full.AddAccelerators(2, {}, "seed", error);
  full.AddAccelerators(3, {{0x09, 'A', 100}, {0x01, 0x70, 40000}}, "seed", error);
  full.AddRaw({plat::pack::kTypeRcData, {}}, 138, {0x89, 'P', 'N', 'G'}, "seed", error);
  full.AddRaw({0, u"IIMAGE"}, 7, {1, 2, 3}, "seed", error);
  full.AddRaw({0, u"iSkin"}, 7, {}, "seed", error);
  for (uint16_t id = 200; id < 240; ++id) packs[1].AddString(id, u"Sprache " + std::u16string(1, u'0' + id % 10), "seed", error);
  // packs[2] stays empty: a valid pack without resources.
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  std::error_code ec;
  std::filesystem::create_directories(argv[1], ec);
  for (size_t i = 0; i < packs.size(); ++i) {
    std::vector<uint8_t> bytes;
    if (!packs[i].Serialize(bytes, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    char name[32];
    std::snprintf(name, sizeof name, "seed-%02zu.res", i);
    std::ofstream out(std::filesystem::path(argv[1]) / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", name);
      return 1;
    }
  }
  return 0;
}
