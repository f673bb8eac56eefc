// Line breaking and ellipses on logical text.
#include "platform/text/TextLayout.h"

namespace plat::text {

namespace {

bool IsBreakSpace(char32_t c) { return c == U' '; }

// Characters between which a line may break although there is no space.
bool IsCjk(char32_t c) {
  return (c >= 0x1100 && c <= 0x11FF) ||    // Hangul jamo
         (c >= 0x2E80 && c <= 0x2FDF) ||    // CJK radicals
         (c >= 0x3040 && c <= 0x30FF) ||    // kana
         (c >= 0x3130 && c <= 0x318F) ||    // Hangul compatibility jamo
         (c >= 0x3400 && c <= 0x4DBF) ||    // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // CJK unified ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||    // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||    // CJK compatibility ideographs
         (c >= 0x20000 && c <= 0x3FFFF);    // CJK extensions B and later
}

// Where a wrapped line may end (end) and its successor start (next).
struct BreakAt {
  size_t end;
  size_t next;
};

void WrapParagraph(const ShapedText& s, size_t pb, size_t pe, int32_t maxWidth, std::vector<Line>& lines) {
  std::vector<BreakAt> breaks;
  for (size_t i = pb; i < pe;) {
    if (IsBreakSpace(s.Cp(i))) {
      size_t j = i;
      while (j < pe && IsBreakSpace(s.Cp(j))) ++j;
      if (i > pb) breaks.push_back({i, j});  // spaces opening the paragraph belong to its first word
      i = j;
      continue;
    }
    if (i > pb && !IsBreakSpace(s.Cp(i - 1)) && (IsCjk(s.Cp(i - 1)) || IsCjk(s.Cp(i)))) breaks.push_back({i, i});
    ++i;
  }
  breaks.push_back({pe, pe});
  size_t start = pb, k = 0;
  while (start < pe) {
    while (breaks[k].end <= start) ++k;
    // The first break is taken even when it does not fit: a word is never split.
    size_t chosen = k;
    for (size_t j = k; j < breaks.size() && s.Width(start, breaks[j].end) <= maxWidth; ++j) chosen = j;
    lines.push_back({start, breaks[chosen].end});
    start = breaks[chosen].next;
    k = chosen + 1;
  }
}

}  // namespace

std::vector<Line> LayOut(const ShapedText& s, int32_t maxWidth, uint32_t format) {
  std::vector<Line> lines;
  if (s.size() == 0) return lines;
  if (format & DT_SINGLELINE) {
    lines.push_back({0, s.size()});
    return lines;
  }
  const bool wrap = format & DT_WORDBREAK;
  size_t pb = 0;
  for (size_t i = 0; i <= s.size();) {
    const bool atEnd = i == s.size();
    if (!atEnd && s.Cp(i) != U'\r' && s.Cp(i) != U'\n') {
      ++i;
      continue;
    }
    if (atEnd && pb == s.size() && pb > 0) break;  // a final break opens no new line
    if (!wrap || pb == i) {
      lines.push_back({pb, i});
    } else {
      WrapParagraph(s, pb, i, maxWidth, lines);
    }
    if (atEnd) break;
    i += (s.Cp(i) == U'\r' && i + 1 < s.size() && s.Cp(i + 1) == U'\n') ? 2 : 1;
    pb = i;
  }
  return lines;
}

void Ellipsise(const ShapedText& s, std::vector<Line>& lines, int32_t maxWidth, uint32_t format, int32_t ellipsisWidth) {
  for (size_t n = 0; n < lines.size(); ++n) {
    Line& line = lines[n];
    line.width = s.Width(line.begin, line.end);
    const bool wanted = (format & DT_WORD_ELLIPSIS) || ((format & DT_END_ELLIPSIS) && n + 1 == lines.size());
    if (!wanted || line.width <= maxWidth) continue;
    size_t cut = line.begin;
    while (cut < line.end && s.Width(line.begin, cut + 1) + ellipsisWidth <= maxWidth) ++cut;
    line.end = cut;
    line.ellipsis = true;
    line.width = s.Width(line.begin, cut) + ellipsisWidth;
  }
}


}  // namespace plat::text
