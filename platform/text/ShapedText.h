// Text as the renderer measures and draws it: split into runs of one face,
// one direction and one script, each run shaped by HarfBuzz, each paragraph's
// directions resolved by FriBiDi. Internal to the text module; everything
// here runs under EngineLock().
//
// Measuring works on logical order: character i carries the advance of the
// glyphs it starts (a ligature's advance belongs to its first character, the
// others get none), so the width of any logical range is a prefix
// difference, rounded once. Drawing orders one line at a time (the text is
// broken into lines on logical text first) and places the same glyphs with
// the same advances, so a drawn line is exactly as wide as it measures.
//
// Runs in scripts that read without shaping (Latin, Greek, Cyrillic, CJK,
// Hangul and the characters they share) keep the glyphs, advances and kerning
// they had before shaping: HarfBuzz shapes them with kerning and ligatures off
// and the old pair kerning is applied, so their layouts do not move.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/text/FontEngine.h"

namespace plat::text {

struct ShapedGlyph {
  GlyphRef ref;  // face, glyph id, advance (16.16, shaping included)
  Fixed dx = 0;  // offset from the pen position, right
  Fixed dy = 0;  // and up
};

// A glyph placed on a line: its pen position from the line's left end.
struct PlacedGlyph {
  const ShapedGlyph* glyph = nullptr;
  Fixed x = 0;
  size_t owner = 0;  // the character it belongs to
};

class ShapedText {
 public:
  // From the font's cache of shaped texts when it holds this text.
  static std::shared_ptr<const ShapedText> Of(FontInstance& font, WStringView text);

  size_t size() const { return m_cps.size(); }
  char32_t Cp(size_t i) const { return m_cps[i]; }
  // UTF-16 index of character i (i == size(): the text's length).
  size_t Unit(size_t i) const { return m_units[i]; }
  // Width of characters [a, b), rounded once.
  int32_t Width(size_t a, size_t b) const {
    return b <= a ? 0 : RoundFixed(m_prefix[b] - m_prefix[a] - m_kernBefore[a]);
  }
  // Whether character i's paragraph runs right to left.
  bool RightToLeft(size_t i) const { return m_rtl[i] != 0; }
  // The glyphs of characters [a, b) in visual order, left to right.
  void Place(size_t a, size_t b, std::vector<PlacedGlyph>& out) const;
  // Every glyph in logical order of the characters that own them.
  const std::vector<ShapedGlyph>& Glyphs() const { return m_glyphs; }

 private:
  void Build(FontInstance& font, WStringView text);
  struct OwnedGlyph {
    uint32_t owner;  // the character
    ShapedGlyph glyph;
  };
  void ShapeParagraph(FontInstance& font, size_t begin, size_t end, std::vector<OwnedGlyph>& owned,
                      std::vector<uint8_t>& kernable);

  std::vector<char32_t> m_cps;
  std::vector<size_t> m_units;
  std::vector<Fixed> m_prefix;      // advances and kerning before character i
  std::vector<Fixed> m_kernBefore;  // pair kerning between character i - 1 and i
  std::vector<uint32_t> m_bidiTypes;
  std::vector<int8_t> m_levels;     // resolved embedding level of character i
  std::vector<uint8_t> m_rtl;       // of character i's paragraph
  std::vector<size_t> m_paragraphEnd;  // of character i's paragraph
  std::vector<uint32_t> m_firstGlyph;  // glyphs of character i: [m_firstGlyph[i], m_firstGlyph[i + 1])
  std::vector<ShapedGlyph> m_glyphs;
};

// Empties every font's cache of shaped texts (with the glyph cache).
void ForgetShapedTexts();

}  // namespace plat::text
