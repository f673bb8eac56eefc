// Fonts and text on GDI device contexts: outline fonts found through
// fontconfig and rasterised by FreeType as grey antialiased glyphs, with the
// call shapes and measuring rules the program's layout code is written
// against.
//
// Measuring and drawing agree exactly: every width is the sum of the glyphs'
// unhinted advances and kerning, rounded once per run, and DrawText lays out
// with the same numbers GetTextExtentPoint32 and GetTextExtentExPoint give.
// A line of text is GetTextMetrics().height pixels high (ascent + descent,
// the cell height); there is no extra space between lines.
//
// Text is UTF-16; surrogate pairs are one character, a lone surrogate draws
// as U+FFFD. Characters the font lacks come from another installed font that
// has them (per character), else the font's missing-glyph box. Control
// characters (below U+0020) take no room and draw nothing.
//
// Text is shaped (Arabic letters join) and each line is put in visual order
// by the bidirectional algorithm, the paragraph's direction taken from its
// first strong character; lines break on logical text. Scripts that read
// without shaping (Latin, Greek, Cyrillic, CJK, Hangul) keep their plain
// glyphs, advances and pair kerning. Tabs are not expanded.
//
// All calls may be made from any thread; they are serialised internally.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"
#include "platform/gdi/Gdi.h"

namespace plat {

constexpr int FW_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_MEDIUM = 500;
constexpr int FW_SEMIBOLD = 600;
constexpr int FW_BOLD = 700;
constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t NONANTIALIASED_QUALITY = 3;
constexpr uint8_t ANTIALIASED_QUALITY = 4;
constexpr int LF_FACESIZE = 32;

struct FontDesc {
  // < 0: the character (em) height in pixels; > 0: the cell height
  // (ascent + descent) the font must not exceed; 0: the default size.
  int32_t height = 0;
  // The remaining geometry is not supported; non-zero values are written to
  // the debug output and ignored.
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  // Below FW_SEMIBOLD regular, from it on bold (the fonts have only these
  // two weights, so FW_MEDIUM is regular).
  int32_t weight = FW_DONTCARE;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strikeOut = 0;
  uint8_t charSet = DEFAULT_CHARSET;  // ignored: fonts are Unicode
  uint8_t outPrecision = 0;
  uint8_t clipPrecision = 0;
  uint8_t quality = 0;  // NONANTIALIASED_QUALITY draws without grey levels
  uint8_t pitchAndFamily = 0;
  // Up to 31 characters and a terminator; empty means "Tahoma".
  WChar faceName[LF_FACESIZE] = {};
};

// Finds the font file for the face, weight and slant:
//   1. HKLM "Platform\Linux\FontFile", value "<face>" for the regular style,
//      "<face> Bold", "<face> Italic", "<face> Bold Italic" for the others
//      (a style without its own value is made from the regular file);
//   2. an installed font whose family is exactly the face (fontconfig);
//   3. for "Tahoma", the look-alike from the fonts-wine package where Debian
//      keeps it outside fontconfig's folders;
//   4. DejaVu Sans, then whatever fontconfig offers for sans-serif.
// Bold and italic a file lacks are synthesised (outline emboldening, shear).
// Null, with ERROR_FILE_NOT_FOUND, only when no font can be found at all.
HFONT CreateFontIndirect(const FontDesc& desc);

struct TextMetrics {
  int32_t height = 0;  // ascent + descent
  int32_t ascent = 0;
  int32_t descent = 0;
  int32_t internalLeading = 0;  // height - em size
  int32_t externalLeading = 0;
  int32_t aveCharWidth = 0;
  int32_t maxCharWidth = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underlined = 0;
  uint8_t struckOut = 0;
};
// Of the font selected into the DC.
bool GetTextMetrics(HDC dc, TextMetrics* out);

// Width of the text and the line height.
bool GetTextExtentPoint32(HDC dc, WStringView text, Size* size);
// As GetTextExtentPoint32, plus: partialExtents[i] (when given, text.size()
// entries) = the width of the text up to and including UTF-16 unit i (both
// units of a surrogate pair get the width with the pair's character); *fit
// (when given) = how many leading units fit within maxExtent, never ending
// between the units of a pair.
bool GetTextExtentExPoint(HDC dc, WStringView text, int32_t maxExtent, int32_t* fit, int32_t* partialExtents,
                          Size* size);

constexpr uint32_t DT_TOP = 0x0;
constexpr uint32_t DT_LEFT = 0x0;
constexpr uint32_t DT_CENTER = 0x1;
constexpr uint32_t DT_RIGHT = 0x2;
constexpr uint32_t DT_VCENTER = 0x4;
constexpr uint32_t DT_BOTTOM = 0x8;
constexpr uint32_t DT_WORDBREAK = 0x10;
constexpr uint32_t DT_SINGLELINE = 0x20;
constexpr uint32_t DT_NOCLIP = 0x100;
constexpr uint32_t DT_CALCRECT = 0x400;
constexpr uint32_t DT_NOPREFIX = 0x800;
constexpr uint32_t DT_END_ELLIPSIS = 0x8000;
constexpr uint32_t DT_WORD_ELLIPSIS = 0x40000;

// Lays the text out in *rect and draws it in the DC's text colour, over a
// background cell per line in the background colour when the background mode
// is OPAQUE. Lines:
//   - CR LF, LF and CR end a line (with DT_SINGLELINE they are ignored);
//     a break at the very end of the text starts no further line;
//   - DT_WORDBREAK wraps at spaces (the spaces at a wrap take no room) and
//     between CJK ideographs, kana and Hangul syllables; a word wider than the
//     rectangle stays whole on its line;
//   - a line wider than the rectangle is cut to fit with "..." at its
//     logical end (on the left of a right-to-left line): with
//     DT_WORD_ELLIPSIS any such line, with DT_END_ELLIPSIS the text's last
//     line only; other lines are clipped;
//   - horizontally DT_LEFT, DT_CENTER (left + (width - line) / 2, integer
//     division) or DT_RIGHT per line; DT_VCENTER and DT_BOTTOM place single-
//     line text (DT_SINGLELINE) only, the rest starts at the top.
// '&' is an ordinary character whatever DT_NOPREFIX says. Drawing is clipped
// to *rect unless DT_NOCLIP. With DT_CALCRECT nothing is drawn and *rect gets
// right = left + the widest line and bottom = top + the height of all lines.
// Returns the height of the text (for DT_VCENTER / DT_BOTTOM single-line
// text: from rect->top to the bottom of the text), 0 on failure.
int DrawText(HDC dc, WStringView text, Rect* rect, uint32_t format);

// The font file a font was made from (empty for an invalid handle).
std::filesystem::path GetFontFile(HFONT font);

// The glyph cache: rendered glyphs, least recently used first out.
struct GlyphCacheStats {
  uint64_t hits = 0;
  uint64_t misses = 0;
  size_t entries = 0;
  size_t capacity = 0;
};
GlyphCacheStats GetGlyphCacheStats();
// Empties the cache, zeroes the counters and sets the capacity in glyphs
// (0 keeps the current one; the default holds 4096).
void ResetGlyphCache(size_t capacity = 0);

}  // namespace plat
