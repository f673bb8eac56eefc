// From tables to PNG files: render every row, check the expansion, encode.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/artgen/Canvas.h"
#include "tools/artgen/Table.h"

namespace artgen {

struct Output {
  Section section = Section::RcData;
  uint16_t id = 0;
  bool opaque = false;
  Image image;
  std::vector<uint8_t> png;
  const Row* row = nullptr;  // points into the Tables the outputs were made from
  int index = 0;             // position of the id within its row
};

// Every picture of every row, in table order. Throws TableError when an id
// appears twice within one resource type or a recipe fails.
std::vector<Output> Generate(const Tables& tables);

// Writes <folder>/<rcdata|iimage|icon>/<id>.png. Pictures left over from an
// earlier run in those sub-folders are removed first, so a row taken out of
// the table leaves the pack too. A ".stamp" file is written last.
void WriteOutputs(const std::vector<Output>& outputs, const std::filesystem::path& folder);

}  // namespace artgen
