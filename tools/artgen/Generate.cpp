#include "tools/artgen/Generate.h"

#include <fstream>
#include <map>
#include <stdexcept>

#include "tools/artgen/Png.h"
#include "tools/artgen/Recipes.h"

namespace artgen {

namespace fs = std::filesystem;

std::vector<Output> Generate(const Tables& tables) {
  std::vector<Output> outputs;
  std::map<std::pair<Section, uint16_t>, const Row*> seen;
  for (const Row& row : tables.rows) {
    for (uint16_t id : row.ids) {
      auto [it, fresh] = seen.emplace(std::pair{row.section, id}, &row);
      if (!fresh)
        throw TableError(row.Where() + ": " + std::string(SectionFolder(row.section)) + " id " + std::to_string(id) +
                         " is already drawn by " + it->second->Where());
    }
    std::vector<Image> images = Render(row, tables.palette);
    for (size_t i = 0; i < images.size(); ++i) {
      Output out;
      out.section = row.section;
      out.id = row.ids[i];
      out.opaque = row.opaque.count(out.id) != 0;
      out.png = EncodePng(images[i], out.opaque);
      out.image = std::move(images[i]);
      out.row = &row;
      out.index = static_cast<int>(i);
      outputs.push_back(std::move(out));
    }
  }
  return outputs;
}

void WriteOutputs(const std::vector<Output>& outputs, const fs::path& folder) {
  for (Section section : {Section::RcData, Section::IImage, Section::Icon}) {
    const fs::path sub = folder / SectionFolder(section);
    std::error_code ec;
    fs::remove_all(sub, ec);
    if (ec) throw std::runtime_error("cannot clear " + sub.string() + ": " + ec.message());
  }
  for (const Output& out : outputs) {
    const fs::path sub = folder / SectionFolder(out.section);
    fs::create_directories(sub);
    const fs::path file = sub / (std::to_string(out.id) + ".png");
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(out.png.data()), static_cast<std::streamsize>(out.png.size()));
    stream.close();
    if (!stream) throw std::runtime_error("cannot write " + file.string());
  }
  std::ofstream stamp(folder / ".stamp", std::ios::trunc);
  stamp << outputs.size() << " pictures\n";
  if (!stamp) throw std::runtime_error("cannot write " + (folder / ".stamp").string());
}

}  // namespace artgen
