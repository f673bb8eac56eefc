// Rendered glyphs, kept least recently used first out: the toolkit draws its
// labels on every frame, so the same few dozen glyphs are asked for again and
// again.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstring>
#include <list>

#include "platform/text/FontEngine.h"
#include "platform/text/ShapedText.h"

namespace plat::text {

namespace {

constexpr size_t kDefaultCapacity = 4096;

struct Key {
  const FaceFile* face;
  uint32_t index;
  int32_t ppem;
  uint8_t flags;
  friend bool operator==(const Key&, const Key&) = default;
};

struct KeyHash {
  size_t operator()(const Key& k) const {
    size_t h = std::hash<const void*>()(k.face);
    h = h * 1000003u ^ k.index;
    h = h * 1000003u ^ static_cast<uint32_t>(k.ppem);
    return h * 1000003u ^ k.flags;
  }
};

struct Cache {
  using Entry = std::pair<Key, GlyphBitmap>;
  std::list<Entry> order;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index;
  size_t capacity = kDefaultCapacity;
  uint64_t hits = 0;
  uint64_t misses = 0;
};

Cache& TheCache() {
  static Cache* cache = new Cache;
  return *cache;
}

// Italic made from an upright outline: a shear of about 12 degrees.
constexpr FT_Fixed kObliqueShear = 0x0366A;

GlyphBitmap Render(const GlyphRef& glyph, int32_t ppem, bool antialiased) {
  GlyphBitmap out;
  FaceFile& file = *glyph.face;
  if (!file.SetPixelSize(ppem)) return out;
  const FT_Int32 loadFlags = FT_LOAD_NO_BITMAP | (antialiased ? FT_LOAD_TARGET_LIGHT : FT_LOAD_TARGET_MONO);
  if (FT_Load_Glyph(file.face, glyph.index, loadFlags) != 0) return out;
  FT_GlyphSlot slot = file.face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return out;
  if (glyph.synthItalic) {
    FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  if (glyph.synthBold) FT_Outline_EmboldenXY(&slot->outline, std::max<FT_Pos>(1, FT_Pos{ppem} * 64 / 24), 0);
  if (FT_Render_Glyph(slot, antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return out;
  const FT_Bitmap& bm = slot->bitmap;
  out.left = slot->bitmap_left;
  out.top = slot->bitmap_top;
  out.width = static_cast<int32_t>(bm.width);
  out.rows = static_cast<int32_t>(bm.rows);
  out.coverage.resize(size_t(out.width) * size_t(out.rows));
  for (int32_t y = 0; y < out.rows; ++y) {
    const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
    uint8_t* dst = out.coverage.data() + size_t(y) * size_t(out.width);
    if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
      for (int32_t x = 0; x < out.width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays == 256) {
      std::memcpy(dst, src, size_t(out.width));
    } else {
      out = {};
      return out;
    }
  }
  return out;
}

}  // namespace

const GlyphBitmap& RenderGlyph(const GlyphRef& glyph, int32_t ppem, bool antialiased) {
  static const GlyphBitmap* const kEmpty = new GlyphBitmap;
  if (!glyph.face) return *kEmpty;
  Cache& c = TheCache();
  const Key key{glyph.face, glyph.index, ppem,
                static_cast<uint8_t>((glyph.synthBold ? 1 : 0) | (glyph.synthItalic ? 2 : 0) | (antialiased ? 4 : 0))};
  if (auto it = c.index.find(key); it != c.index.end()) {
    ++c.hits;
    c.order.splice(c.order.begin(), c.order, it->second);
    return it->second->second;
  }
  ++c.misses;
  c.order.emplace_front(key, Render(glyph, ppem, antialiased));
  c.index.emplace(key, c.order.begin());
  while (c.order.size() > c.capacity) {
    c.index.erase(c.order.back().first);
    c.order.pop_back();
  }
  return c.order.front().second;
}

}  // namespace plat::text

namespace plat {

GlyphCacheStats GetGlyphCacheStats() {
  std::lock_guard<std::mutex> guard(text::EngineLock());
  const text::Cache& c = text::TheCache();
  return {c.hits, c.misses, c.order.size(), c.capacity};
}

void ResetGlyphCache(size_t capacity) {
  std::lock_guard<std::mutex> guard(text::EngineLock());
  text::Cache& c = text::TheCache();
  c.index.clear();
  c.order.clear();
  c.hits = c.misses = 0;
  if (capacity > 0) c.capacity = capacity;
  text::ForgetShapedTexts();
}

}  // namespace plat
