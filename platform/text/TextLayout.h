// DrawText's lines: where a text breaks into lines and where an ellipsis
// cuts one, on logical text (each line is put in visual order only when it is
// drawn). Internal to the text module.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text/ShapedText.h"

namespace plat::text {

struct Line {
  size_t begin = 0;  // characters [begin, end) of the text
  size_t end = 0;
  int32_t width = 0;  // including the ellipsis
  bool ellipsis = false;
};

// The lines of the text in a rectangle `maxWidth` wide under DrawText's
// format flags: line breaks, word wrapping (DT_WORDBREAK), DT_SINGLELINE.
std::vector<Line> LayOut(const ShapedText& s, int32_t maxWidth, uint32_t format);
// Sets each line's width, cutting lines that are too wide and marking them
// for an ellipsis where the flags ask for one.
void Ellipsise(const ShapedText& s, std::vector<Line>& lines, int32_t maxWidth, uint32_t format,
               int32_t ellipsisWidth);

}  // namespace plat::text
