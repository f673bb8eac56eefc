// Contact sheets for review: every picture of one theme (and the shared
// ones) at its real size with its slots, the nine-slice skins put together
// as the buttons draw them, the frames around their inside, and each
// animation as a strip. Labels use cairo's own text: the sheet documents
// the art and is not part of it.
#pragma once

#include <filesystem>
#include <vector>

#include "tools/artgen/Generate.h"
#include "tools/artgen/Table.h"

namespace artgen {

void WriteSheet(const Tables& tables, const std::vector<Output>& outputs, Theme theme,
                const std::filesystem::path& file);

}  // namespace artgen
