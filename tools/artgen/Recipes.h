// The recipes: each turns one table row into its pictures, one per id of the
// row and in the row's id order.
#pragma once

#include <vector>

#include "tools/artgen/Canvas.h"
#include "tools/artgen/Table.h"

namespace artgen {

// Throws TableError (with the row's place) for an unknown kind, a missing or
// wrong parameter, or an id count the recipe cannot fill.
std::vector<Image> Render(const Row& row, const Palette& palette);

// How a nine-slice skin is cut from a button drawn whole: for slice i
// (0 top-left ... 8 bottom-right) the rectangle in the whole picture.
struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};
Rect NineSlice(int width, int height, int corner, int slice);

}  // namespace artgen
