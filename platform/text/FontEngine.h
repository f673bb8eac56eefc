// The font engine behind the text calls: FreeType faces, the fonts realised
// for HFONTs, per-character fallback and the glyph cache. Internal to the
// text module. Everything here runs under EngineLock().
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/text/Text.h"

struct FT_FaceRec_;
struct hb_font_t;

namespace plat::text {

std::mutex& EngineLock();

// One font file opened by FreeType; kept for the life of the process.
struct FaceFile {
  std::string path;
  int index = 0;
  uint32_t serial = 0;  // the order in which it was opened
  FT_FaceRec_* face = nullptr;
  bool bold = false;    // the file's own style
  bool italic = false;
  int32_t sizedPpem = 0;  // the pixel size the face is set to now
  hb_font_t* shaper = nullptr;  // HarfBuzz's view of the face, in font units; made on first use
  // Sets the face to `ppem` pixels per em if it is not already.
  bool SetPixelSize(int32_t ppem);
};

// A face file opened once and shared; null when FreeType cannot open it.
FaceFile* OpenFace(const std::string& path, int index);

struct FaceChoice {
  FaceFile* face = nullptr;
  bool synthBold = false;
  bool synthItalic = false;
};
FaceChoice ResolveFace(WStringView family, bool bold, bool italic);
// Another installed face that has the character, or null.
FaceFile* FallbackFace(const FaceFile& primary, char32_t cp);

// 16.16 fixed point pixels.
using Fixed = int64_t;
inline int32_t RoundFixed(Fixed v) { return static_cast<int32_t>((v + 0x8000) >> 16); }

struct GlyphRef {
  FaceFile* face = nullptr;  // null: takes no room, draws nothing
  uint32_t index = 0;
  Fixed advance = 0;
  bool synthBold = false;
  bool synthItalic = false;
};

class ShapedText;
// Texts a font has shaped, reused while the generation holds (see
// ShapedText::Of).
struct ShapedTextCache {
  uint64_t generation = 0;
  std::unordered_map<WString, std::shared_ptr<const ShapedText>> texts;
};

// The font an HFONT stands for, realised at one pixel size.
class FontInstance {
 public:
  static std::shared_ptr<FontInstance> Create(const FontDesc& desc);

  const FontDesc& Desc() const { return m_desc; }
  const FaceFile& Primary() const { return *m_choice.face; }
  int32_t Ppem() const { return m_ppem; }
  bool Antialiased() const { return m_desc.quality != NONANTIALIASED_QUALITY; }
  const TextMetrics& Metrics() const { return m_metrics; }
  // Rows relative to the baseline (positive downwards) and thickness.
  int32_t UnderlineTop() const { return m_underlineTop; }
  int32_t UnderlineSize() const { return m_underlineSize; }
  int32_t StrikeTop() const { return m_strikeTop; }
  int32_t StrikeSize() const { return m_strikeSize; }

  GlyphRef Glyph(char32_t cp);
  // The unhinted advance of a glyph of `face` at this size, synthetic bold
  // included.
  Fixed Advance(FaceFile* face, uint32_t index, bool synthBold);
  ShapedTextCache& ShapedTexts() { return m_shaped; }
  // Kerning between two neighbours of the same face, 0 otherwise.
  Fixed Kerning(const GlyphRef& left, const GlyphRef& right);

 private:
  FontDesc m_desc;
  FaceChoice m_choice;
  int32_t m_ppem = 0;
  TextMetrics m_metrics;
  int32_t m_underlineTop = 0, m_underlineSize = 1, m_strikeTop = 0, m_strikeSize = 1;
  std::unordered_map<char32_t, GlyphRef> m_glyphs;
  std::unordered_map<uint64_t, Fixed> m_advances;  // by face serial and glyph id
  ShapedTextCache m_shaped;
};

// The instance behind the DC's font, realising the stock font on first use.
// Null (with the last error) when the DC is invalid or no font exists.
std::shared_ptr<FontInstance> FontOfDc(const gdi::DcObject& dc);

// A rendered glyph: 8-bit coverage, its top-left relative to the pen
// position on the baseline (y up, as FreeType gives it).
struct GlyphBitmap {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t rows = 0;
  std::vector<uint8_t> coverage;
};
// From the cache, rendering on a miss. Never null; empty for glyphs that
// draw nothing. Valid until the next call.
const GlyphBitmap& RenderGlyph(const GlyphRef& glyph, int32_t ppem, bool antialiased);

}  // namespace plat::text
