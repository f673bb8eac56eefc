#include "platform/text/ShapedText.h"

#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <numeric>

namespace plat::text {

namespace {

// Texts longer than this are shaped on every call rather than kept.
constexpr size_t kLongestCachedText = 512;
constexpr size_t kCachedTextsPerFont = 256;
uint64_t g_generation = 1;

hb_font_t* ShaperOf(FaceFile& face) {
  if (!face.shaper) {
    hb_face_t* hbFace = hb_ft_face_create_referenced(face.face);
    face.shaper = hb_font_create(hbFace);  // positions come back in font units
    hb_face_destroy(hbFace);
  }
  return face.shaper;
}

hb_buffer_t* Buffer() {
  static hb_buffer_t* const buffer = hb_buffer_create();
  hb_buffer_clear_contents(buffer);
  return buffer;
}

bool ReadsWithoutShaping(hb_script_t script) {
  switch (script) {
    case HB_SCRIPT_LATIN:
    case HB_SCRIPT_GREEK:
    case HB_SCRIPT_CYRILLIC:
    case HB_SCRIPT_HAN:
    case HB_SCRIPT_HIRAGANA:
    case HB_SCRIPT_KATAKANA:
    case HB_SCRIPT_HANGUL:
    case HB_SCRIPT_BOPOMOFO:
    case HB_SCRIPT_COMMON:
    case HB_SCRIPT_INHERITED:
    case HB_SCRIPT_UNKNOWN: return true;
    default: return false;
  }
}

bool SharedScript(hb_script_t script) {
  return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN;
}

// Features off for scripts that read without shaping: their glyphs and
// widths stay what they were before shaping (the old pair kerning applies).
const hb_feature_t kPlainFeatures[] = {
    {HB_TAG('k', 'e', 'r', 'n'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
    {HB_TAG('l', 'i', 'g', 'a'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
    {HB_TAG('c', 'l', 'i', 'g'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
    {HB_TAG('c', 'a', 'l', 't'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
};

// Font units to 16.16 pixels, rounded to the nearest.
Fixed FromUnits(int64_t units, int32_t ppem, int64_t upem) {
  const int64_t n = units * ppem * 65536 * 2;
  return n >= 0 ? (n + upem) / (2 * upem) : -((-n + upem) / (2 * upem));
}

}  // namespace

std::shared_ptr<const ShapedText> ShapedText::Of(FontInstance& font, WStringView text) {
  ShapedTextCache& cache = font.ShapedTexts();
  if (cache.generation != g_generation) {
    cache.texts.clear();
    cache.generation = g_generation;
  }
  const bool keep = text.size() <= kLongestCachedText;
  if (keep) {
    if (auto it = cache.texts.find(WString(text)); it != cache.texts.end()) return it->second;
  }
  auto shaped = std::make_shared<ShapedText>();
  shaped->Build(font, text);
  if (keep) {
    if (cache.texts.size() >= kCachedTextsPerFont) cache.texts.clear();
    cache.texts.emplace(WString(text), shaped);
  }
  return shaped;
}

void ForgetShapedTexts() { ++g_generation; }

void ShapedText::Build(FontInstance& font, WStringView text) {
  for (size_t i = 0; i < text.size();) {
    m_units.push_back(i);
    m_cps.push_back(NextCodePoint(text, i));
  }
  m_units.push_back(text.size());
  const size_t n = m_cps.size();
  m_bidiTypes.assign(n, FRIBIDI_TYPE_ON);
  m_levels.assign(n, 0);
  m_rtl.assign(n, 0);
  m_paragraphEnd.assign(n, n);
  m_kernBefore.assign(n + 1, 0);
  std::vector<OwnedGlyph> owned;
  owned.reserve(n);
  std::vector<uint8_t> kernable(n, 0);
  // Paragraphs end at line breaks; each break is a paragraph of its own that
  // draws nothing.
  size_t begin = 0;
  for (size_t i = 0; i <= n; ++i) {
    if (i < n && m_cps[i] != U'\r' && m_cps[i] != U'\n') continue;
    ShapeParagraph(font, begin, i, owned, kernable);
    if (i < n) m_paragraphEnd[i] = i + 1;
    begin = i + 1;
  }
  // Glyphs grouped by the character that owns them, in the order HarfBuzz
  // gave them within a character.
  const auto byOwner = [](const OwnedGlyph& a, const OwnedGlyph& b) { return a.owner < b.owner; };
  if (!std::is_sorted(owned.begin(), owned.end(), byOwner)) std::stable_sort(owned.begin(), owned.end(), byOwner);
  m_glyphs.reserve(owned.size());
  m_firstGlyph.assign(n + 1, 0);
  for (const OwnedGlyph& o : owned) {
    ++m_firstGlyph[o.owner + 1];
    m_glyphs.push_back(o.glyph);
  }
  std::partial_sum(m_firstGlyph.begin(), m_firstGlyph.end(), m_firstGlyph.begin());
  m_prefix.assign(n + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t first = m_firstGlyph[i], last = m_firstGlyph[i + 1];
    if (kernable[i] && first > m_firstGlyph[i - 1] && last > first) {
      m_kernBefore[i] = font.Kerning(m_glyphs[first - 1].ref, m_glyphs[first].ref);
    }
    Fixed advance = 0;
    for (uint32_t g = first; g < last; ++g) advance += m_glyphs[g].ref.advance;
    m_prefix[i + 1] = m_prefix[i] + advance + m_kernBefore[i];
  }
}

void ShapedText::ShapeParagraph(FontInstance& font, size_t begin, size_t end, std::vector<OwnedGlyph>& owned,
                                std::vector<uint8_t>& kernable) {
  const size_t len = end - begin;
  if (len == 0) return;
  const std::vector<uint32_t> chars(m_cps.begin() + static_cast<ptrdiff_t>(begin),
                                    m_cps.begin() + static_cast<ptrdiff_t>(end));
  FriBidiCharType* types = m_bidiTypes.data() + begin;
  fribidi_get_bidi_types(chars.data(), static_cast<FriBidiStrIndex>(len), types);
  std::vector<FriBidiBracketType> brackets(len);
  fribidi_get_bracket_types(chars.data(), static_cast<FriBidiStrIndex>(len), types, brackets.data());
  // The direction comes from the first strong character, left to right when
  // there is none.
  FriBidiParType direction = FRIBIDI_PAR_ON;
  std::vector<FriBidiLevel> levels(len, 0);
  // Without right-to-left letters, Arabic digits or explicit embeddings
  // every level is 0: the algorithm has nothing to do.
  const bool leftToRightOnly = std::none_of(types, types + len, [](FriBidiCharType t) {
    return FRIBIDI_IS_RTL(t) || FRIBIDI_IS_ARABIC(t) || FRIBIDI_IS_EXPLICIT_OR_ISOLATE_OR_BN_OR_NSM(t);
  });
  if (leftToRightOnly) {
    direction = FRIBIDI_PAR_LTR;
  } else if (fribidi_get_par_embedding_levels_ex(types, brackets.data(), static_cast<FriBidiStrIndex>(len),
                                                 &direction, levels.data()) == 0) {
    std::fill(levels.begin(), levels.end(), 0);
    direction = FRIBIDI_PAR_LTR;
  }
  const bool rtl = direction == FRIBIDI_PAR_RTL;
  // Characters every script uses take the script around them.
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  std::vector<hb_script_t> scripts(len);
  hb_script_t last = HB_SCRIPT_INVALID;
  for (size_t k = 0; k < len; ++k) {
    const hb_script_t own = hb_unicode_script(unicode, m_cps[begin + k]);
    if (!SharedScript(own)) last = own;
    scripts[k] = SharedScript(own) ? last : own;
  }
  const auto firstReal = std::find_if(scripts.begin(), scripts.end(), [](hb_script_t s) { return s != HB_SCRIPT_INVALID; });
  const hb_script_t leading = firstReal == scripts.end() ? HB_SCRIPT_COMMON : *firstReal;
  for (size_t k = 0; k < len && scripts[k] == HB_SCRIPT_INVALID; ++k) scripts[k] = leading;

  std::vector<GlyphRef> nominal(len);
  for (size_t k = 0; k < len; ++k) {
    nominal[k] = font.Glyph(m_cps[begin + k]);
    m_levels[begin + k] = static_cast<int8_t>(levels[k]);
    m_rtl[begin + k] = rtl ? 1 : 0;
    m_paragraphEnd[begin + k] = end;
  }
  // Runs: one face (fallback splits them), one direction, one script.
  for (size_t k = 0; k < len;) {
    FaceFile* face = nominal[k].face;
    if (!face) {  // control characters take no room
      ++k;
      continue;
    }
    size_t r = k + 1;
    while (r < len && nominal[r].face == face && levels[r] == levels[k] && scripts[r] == scripts[k]) ++r;
    const bool rightToLeft = (levels[k] & 1) != 0;
    const bool plain = !rightToLeft && ReadsWithoutShaping(scripts[k]);
    hb_font_t* shaper = ShaperOf(*face);
    hb_buffer_t* buffer = Buffer();
    // The whole paragraph goes in as context, so that letters join across
    // the ends of a run.
    hb_buffer_add_utf32(buffer, chars.data(), static_cast<int>(len),
                        static_cast<unsigned>(k), static_cast<int>(r - k));
    hb_buffer_set_direction(buffer, rightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer, scripts[k]);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(shaper, buffer, plain ? kPlainFeatures : nullptr, plain ? std::size(kPlainFeatures) : 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, nullptr);
    const int64_t upem = std::max(1u, hb_face_get_upem(hb_font_get_face(shaper)));
    const int32_t ppem = font.Ppem();
    const bool synthBold = nominal[k].synthBold;
    for (unsigned j = 0; j < count; ++j) {
      ShapedGlyph g;
      g.ref.face = face;
      g.ref.index = infos[j].codepoint;
      g.ref.synthBold = synthBold;
      g.ref.synthItalic = nominal[k].synthItalic;
      // The glyph's own advance measures exactly as it did unshaped; only an
      // advance that shaping changed is taken from HarfBuzz.
      g.ref.advance = font.Advance(face, g.ref.index, synthBold);
      if (positions[j].x_advance != hb_font_get_glyph_h_advance(shaper, g.ref.index)) {
        g.ref.advance += FromUnits(positions[j].x_advance, ppem, upem) - font.Advance(face, g.ref.index, false);
      }
      g.dx = FromUnits(positions[j].x_offset, ppem, upem);
      g.dy = FromUnits(positions[j].y_offset, ppem, upem);
      owned.push_back({static_cast<uint32_t>(begin + infos[j].cluster), g});
    }
    if (plain) std::fill(kernable.begin() + static_cast<ptrdiff_t>(begin + k + 1),
                         kernable.begin() + static_cast<ptrdiff_t>(begin + r), 1);
    k = r;
  }
}

void ShapedText::Place(size_t a, size_t b, std::vector<PlacedGlyph>& out) const {
  out.clear();
  Fixed pen = 0;
  size_t previous = SIZE_MAX;
  std::vector<FriBidiLevel> levels;
  std::vector<FriBidiStrIndex> map;
  for (size_t p = a; p < b;) {
    const size_t pe = std::min(b, m_paragraphEnd[p]);
    const auto len = static_cast<FriBidiStrIndex>(pe - p);
    levels.assign(m_levels.begin() + static_cast<ptrdiff_t>(p), m_levels.begin() + static_cast<ptrdiff_t>(pe));
    map.resize(size_t(len));
    std::iota(map.begin(), map.end(), 0);
    const bool reorder = std::any_of(levels.begin(), levels.end(), [](FriBidiLevel l) { return l != 0; });
    if (reorder && fribidi_reorder_line(0, m_bidiTypes.data() + p, len, 0, m_rtl[p] ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR,
                             levels.data(), nullptr, map.data()) == 0) {
      std::iota(map.begin(), map.end(), 0);  // out of memory: logical order rather than nothing
    }
    for (FriBidiStrIndex v = 0; v < len; ++v) {
      const size_t c = p + size_t(map[size_t(v)]);
      if (previous + 1 == c) pen += m_kernBefore[c];
      previous = c;
      for (uint32_t g = m_firstGlyph[c]; g < m_firstGlyph[c + 1]; ++g) {
        out.push_back({&m_glyphs[g], pen, c});
        pen += m_glyphs[g].ref.advance;
      }
    }
    p = pe;
  }
}

}  // namespace plat::text
