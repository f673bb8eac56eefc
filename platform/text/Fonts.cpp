// Finding font files, opening them with FreeType and realising fonts.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/display/Display.h"
#include "platform/registry/Registry.h"
#include "platform/text/FontEngine.h"

namespace plat::text {

namespace {

constexpr WChar kFontFileKey[] = u"Platform\\Linux\\FontFile";
constexpr WChar kDefaultFace[] = u"Tahoma";
// Sizes beyond this are drawn at this size: one glyph of it is already a
// megabyte of coverage.
constexpr int32_t kMaxPpem = 1024;
// Where Debian's fonts-wine may keep its Tahoma look-alike.
const char* const kWineFontFolders[] = {"/usr/share/wine/fonts", "/usr/share/fonts/truetype/wine",
                                        "/usr/share/fonts/wine"};

struct Engine {
  FT_Library library = nullptr;
  bool fontconfigReady = false;
  std::map<std::pair<std::string, int>, std::unique_ptr<FaceFile>> faces;
  std::map<const FaceFile*, FcFontSet*> fallbackSets;
  std::map<const FaceFile*, std::unordered_map<char32_t, FaceFile*>> fallbacks;
  std::set<std::string> reported;
  // What the installed fonts give for {family, bold, italic}: asking
  // fontconfig and probing folders again for every font a screen makes cost
  // milliseconds per screen.
  std::map<std::tuple<WString, bool, bool>, FaceChoice> installed;
};

// Never destroyed: fonts may be in use during static destruction.
Engine& TheEngine() {
  static Engine* engine = new Engine;
  return *engine;
}

FT_Library Library() {
  Engine& e = TheEngine();
  if (!e.library && FT_Init_FreeType(&e.library) != 0) e.library = nullptr;
  return e.library;
}

bool Fontconfig() {
  Engine& e = TheEngine();
  if (!e.fontconfigReady) {
#if defined(__SANITIZE_ADDRESS__)
    // fontconfig loses a few hundred bytes while parsing its configuration,
    // once per process (a bare FcInit shows it); that is not ours to report.
    __lsan::ScopedDisabler notOurs;
#endif
    e.fontconfigReady = FcInit() == FcTrue;
  }
  return e.fontconfigReady;
}

void ReportOnce(const std::string& key, const WString& line) {
  if (TheEngine().reported.insert(key).second) DebugWrite(line);
}

// Synthetic bold widens outlines by this much (26.6 pixels).
int64_t BoldStrength(int32_t ppem) { return std::max<int64_t>(1, int64_t{ppem} * 64 / 24); }

FaceChoice Choose(FaceFile* face, bool bold, bool italic) {
  return {face, bold && !face->bold, italic && !face->italic};
}

// The best installed match for a family; with `exact`, only a font whose
// family really is that name.
FaceFile* FontconfigMatch(const std::string& family, bool bold, bool italic, bool exact) {
  if (!Fontconfig()) return nullptr;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;
  FaceFile* face = nullptr;
  bool familyMatches = !exact;
  FcChar8* name = nullptr;
  for (int i = 0; !familyMatches && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    familyMatches = FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(family.c_str())) == 0;
  }
  FcChar8* file = nullptr;
  int index = 0;
  if (familyMatches && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    face = OpenFace(reinterpret_cast<const char*>(file), index);
  }
  FcPatternDestroy(match);
  return face;
}

FaceFile* RegistryFont(const WString& name) {
  std::optional<WString> file = ReadString(HKEY_LOCAL_MACHINE, kFontFileKey, name);
  if (!file || file->empty()) return nullptr;
  FaceFile* face = OpenFace(ToUtf8(*file), 0);
  if (!face) {
    ReportOnce("reg:" + ToUtf8(name) + ToUtf8(*file),
               FormatW(u"[platform] font file \"%s\" set for \"%s\" cannot be opened; looking further\n", *file, name));
  }
  return face;
}

// The installed font for a family no registry entry names: the family
// itself, the default face's look-alike, else a common sans face.
FaceChoice InstalledFace(const WString& family, bool bold, bool italic) {
  const std::string name = ToUtf8(family);
  if (FaceFile* face = FontconfigMatch(name, bold, italic, true)) return Choose(face, bold, italic);
  if (EqualsNoCase(family, kDefaultFace)) {
    for (const char* folder : kWineFontFolders) {
      const std::filesystem::path dir(folder);
      if (bold) {
        if (FaceFile* face = OpenFace((dir / "tahomabd.ttf").string(), 0)) return Choose(face, bold, italic);
      }
      if (FaceFile* face = OpenFace((dir / "tahoma.ttf").string(), 0)) return Choose(face, bold, italic);
    }
  }
  if (FaceFile* face = FontconfigMatch("DejaVu Sans", bold, italic, true)) return Choose(face, bold, italic);
  if (FaceFile* face = FontconfigMatch("sans-serif", bold, italic, false)) return Choose(face, bold, italic);
  return {};
}

}  // namespace

std::mutex& EngineLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

bool FaceFile::SetPixelSize(int32_t ppem) {
  if (sizedPpem == ppem) return true;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem)) != 0) return false;
  sizedPpem = ppem;
  return true;
}

FaceFile* OpenFace(const std::string& path, int index) {
  Engine& e = TheEngine();
  auto key = std::make_pair(path, index);
  if (auto it = e.faces.find(key); it != e.faces.end()) return it->second.get();
  FT_Library library = Library();
  if (!library) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(library, path.c_str(), index, &face) != 0) return nullptr;
  // Only outline fonts scale to every size the program asks for.
  if (!FT_IS_SCALABLE(face) || FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  auto file = std::make_unique<FaceFile>();
  file->path = path;
  file->index = index;
  file->face = face;
  file->bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
  file->italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
  file->serial = static_cast<uint32_t>(e.faces.size());
  FaceFile* result = file.get();
  e.faces.emplace(key, std::move(file));
  return result;
}

FaceChoice ResolveFace(WStringView familyView, bool bold, bool italic) {
  const WString family = familyView.empty() ? WString(kDefaultFace) : WString(familyView);
  if (bold || italic) {
    const WString styled = family + (bold && italic ? u" Bold Italic" : bold ? u" Bold" : u" Italic");
    if (FaceFile* face = RegistryFont(styled)) return {face, false, false};
  }
  if (FaceFile* face = RegistryFont(family)) return Choose(face, bold, italic);
  // The registry may change while the program runs and is read every time;
  // the installed fonts are looked up once.
  auto [it, inserted] = TheEngine().installed.try_emplace({family, bold, italic});
  if (inserted) it->second = InstalledFace(family, bold, italic);
  return it->second;
}

FaceFile* FallbackFace(const FaceFile& primary, char32_t cp) {
  Engine& e = TheEngine();
  auto& known = e.fallbacks[&primary];
  if (auto it = known.find(cp); it != known.end()) return it->second;
  FaceFile* found = nullptr;
  if (Fontconfig()) {
    FcFontSet*& set = e.fallbackSets[&primary];
    if (!set) {
      FcPattern* pattern = FcPatternCreate();
      const char* family = primary.face->family_name ? primary.face->family_name : "sans-serif";
      FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
      FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
      FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result;
      set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
      FcPatternDestroy(pattern);
    }
    for (int i = 0; set && i < set->nfont && !found; ++i) {
      FcCharSet* chars = nullptr;
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &chars) != FcResultMatch ||
          !FcCharSetHasChar(chars, cp) || FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) {
        continue;
      }
      FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
      FaceFile* face = OpenFace(reinterpret_cast<const char*>(file), index);
      if (face && face != &primary && FT_Get_Char_Index(face->face, cp) != 0) found = face;
    }
  }
  known.emplace(cp, found);
  return found;
}

std::shared_ptr<FontInstance> FontInstance::Create(const FontDesc& desc) {
  auto font = std::make_shared<FontInstance>();
  font->m_desc = desc;
  font->m_desc.faceName[LF_FACESIZE - 1] = 0;
  const WStringView family(font->m_desc.faceName);
  if (desc.width != 0 || desc.escapement != 0 || desc.orientation != 0) {
    DebugPrintf(u"[platform] font \"%s\": width %d, escapement %d, orientation %d not supported; ignored\n", family,
                desc.width, desc.escapement, desc.orientation);
  }
  const bool bold = desc.weight >= FW_SEMIBOLD;
  const bool italic = desc.italic != 0;
  font->m_choice = ResolveFace(family, bold, italic);
  if (!font->m_choice.face) {
    ReportOnce("nofont", u"[platform] no usable font is installed; text cannot be drawn\n");
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  FT_Face f = font->m_choice.face->face;
  const int64_t upem = f->units_per_EM > 0 ? f->units_per_EM : 2048;
  // The cell: usWinAscent + usWinDescent of the OS/2 table, as GDI
  // measures TrueType fonts, else the horizontal header's.
  int64_t winAscent = f->ascender, winDescent = -f->descender;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    winAscent = os2->usWinAscent;
    winDescent = os2->usWinDescent;
  }
  if (winAscent + winDescent <= 0) {
    winAscent = upem * 4 / 5;
    winDescent = upem - winAscent;
  }
  int64_t ppem;
  if (desc.height < 0) {
    ppem = -int64_t{desc.height};
  } else if (desc.height > 0) {
    ppem = int64_t{desc.height} * upem / (winAscent + winDescent);  // the cell must fit
  } else {
    ppem = int64_t{12} * ScreenDpi() / 96;
  }
  font->m_ppem = static_cast<int32_t>(std::clamp<int64_t>(ppem, 1, kMaxPpem));
  const int64_t p = font->m_ppem;
  auto scale = [&](int64_t units) { return static_cast<int32_t>((2 * units * p + upem) / (2 * upem)); };
  TextMetrics& m = font->m_metrics;
  m.ascent = scale(winAscent);
  m.height = scale(winAscent + winDescent);
  m.descent = m.height - m.ascent;
  m.internalLeading = std::max<int32_t>(0, m.height - font->m_ppem);
  m.externalLeading = 0;
  const int32_t boldExtra = font->m_choice.synthBold ? static_cast<int32_t>((BoldStrength(font->m_ppem) + 32) / 64) : 0;
  m.aveCharWidth = (os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) ? scale(os2->xAvgCharWidth) + boldExtra
                                                                            : RoundFixed(font->Glyph(U'x').advance);
  m.maxCharWidth = scale(f->max_advance_width) + boldExtra;
  m.weight = bold ? FW_BOLD : FW_NORMAL;
  m.italic = italic ? 1 : 0;
  m.underlined = desc.underline ? 1 : 0;
  m.struckOut = desc.strikeOut ? 1 : 0;

  // Underline: the face's stroke, kept inside the cell.
  int64_t underlinePos = f->underline_position, underlineThickness = f->underline_thickness;
  if (underlineThickness <= 0) {
    underlineThickness = upem / 14;
    underlinePos = -upem / 10;
  }
  font->m_underlineSize = std::max(1, scale(underlineThickness));
  font->m_underlineTop = scale(-underlinePos) - font->m_underlineSize / 2;
  font->m_underlineTop = std::clamp(font->m_underlineTop, 0, std::max(0, m.descent - font->m_underlineSize));
  int64_t strikePos = upem * 3 / 10, strikeSize = underlineThickness;
  if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
    strikePos = os2->yStrikeoutPosition;
    strikeSize = os2->yStrikeoutSize;
  }
  font->m_strikeSize = std::max(1, scale(strikeSize));
  font->m_strikeTop = -scale(strikePos);
  return font;
}

GlyphRef FontInstance::Glyph(char32_t cp) {
  if (auto it = m_glyphs.find(cp); it != m_glyphs.end()) return it->second;
  GlyphRef g;
  if (cp >= 0x20) {
    FaceFile* face = m_choice.face;
    FT_UInt index = FT_Get_Char_Index(face->face, cp);
    bool synthBold = m_choice.synthBold, synthItalic = m_choice.synthItalic;
    if (index == 0) {
      if (FaceFile* other = FallbackFace(*face, cp)) {
        face = other;
        index = FT_Get_Char_Index(face->face, cp);
        synthBold = m_desc.weight >= FW_SEMIBOLD && !face->bold;
        synthItalic = m_desc.italic && !face->italic;
      }
    }
    g.face = face;
    g.index = index;
    g.synthBold = synthBold;
    g.synthItalic = synthItalic;
    g.advance = Advance(face, index, synthBold);
  }
  m_glyphs.emplace(cp, g);
  return g;
}

Fixed FontInstance::Advance(FaceFile* face, uint32_t index, bool synthBold) {
  const uint64_t key = uint64_t{face->serial} << 33 | uint64_t{index} << 1 | (synthBold ? 1 : 0);
  if (auto it = m_advances.find(key); it != m_advances.end()) return it->second;
  Fixed advance = 0;
  FT_Fixed ft = 0;
  if (face->SetPixelSize(m_ppem) && FT_Get_Advance(face->face, index, FT_LOAD_NO_HINTING, &ft) == 0) advance = ft;
  if (synthBold) advance += BoldStrength(m_ppem) << 10;
  m_advances.emplace(key, advance);
  return advance;
}

Fixed FontInstance::Kerning(const GlyphRef& left, const GlyphRef& right) {
  if (!left.face || left.face != right.face || !FT_HAS_KERNING(left.face->face)) return 0;
  if (!left.face->SetPixelSize(m_ppem)) return 0;
  FT_Vector kern{0, 0};
  if (FT_Get_Kerning(left.face->face, left.index, right.index, FT_KERNING_UNFITTED, &kern) != 0) return 0;
  return Fixed{kern.x} << 10;
}

std::shared_ptr<FontInstance> FontOfDc(const gdi::DcObject& dc) {
  gdi::FontObject& object = *dc.font;
  if (!object.instance && object.stock) {
    // The system font: the platform's face at a size that reads well at the
    // screen's DPI (9 points).
    FontDesc desc;
    desc.height = -static_cast<int32_t>(std::max<uint32_t>(1, 12 * ScreenDpi() / 96));
    desc.weight = FW_NORMAL;
    object.instance = FontInstance::Create(desc);
  }
  if (!object.instance) SetLastError(ERROR_FILE_NOT_FOUND);
  return object.instance;
}

}  // namespace plat::text
