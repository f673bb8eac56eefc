// artgen: draws the interface pictures from the tables under resources/art.
//
//   artgen <tables> -o <folder>      rcdata/, iimage/ and icon/ PNGs for qrespack
//   artgen <tables> --list           one line per picture: section, id, size, colour type, row
//   artgen <tables> --sheet <folder> contact sheets art-theme0.png and art-theme1.png
//
// The same tables always give the same bytes: nothing reads the clock, the
// environment or the network.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/artgen/Generate.h"
#include "tools/artgen/Sheet.h"
#include "tools/artgen/Table.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: artgen <tables> -o <folder>\n"
               "       artgen <tables> --list\n"
               "       artgen <tables> --sheet <folder>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const fs::path tablesFolder = argv[1];
  const std::string mode = argv[2];
  if ((mode == "-o" || mode == "--sheet") != (argc == 4) || (mode == "--list" && argc != 3)) return Usage();
  if (mode != "-o" && mode != "--sheet" && mode != "--list") return Usage();
  try {
    const artgen::Tables tables = artgen::ReadTables(tablesFolder);
    const std::vector<artgen::Output> outputs = artgen::Generate(tables);
    if (mode == "-o") {
      artgen::WriteOutputs(outputs, argv[3]);
    } else if (mode == "--list") {
      for (const artgen::Output& out : outputs)
        std::printf("%s\t%u\t%dx%d\t%s\t%s\n", std::string(artgen::SectionFolder(out.section)).c_str(), out.id,
                    out.image.width, out.image.height, out.opaque ? "rgb" : "rgba", out.row->Where().c_str());
    } else {
      const fs::path folder = argv[3];
      fs::create_directories(folder);
      artgen::WriteSheet(tables, outputs, artgen::Theme::Zero, folder / "art-theme0.png");
      artgen::WriteSheet(tables, outputs, artgen::Theme::One, folder / "art-theme1.png");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "artgen: error: %s\n", e.what());
    return 1;
  }
  return 0;
}
