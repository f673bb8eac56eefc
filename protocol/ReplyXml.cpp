#include "protocol/ReplyXml.h"

#include <locale.h>
#include <stdlib.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "framework/Trace.h"

namespace ReplyXml {

namespace {

bool StartsWith(std::string_view text, size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (size_t k = 0; k < prefix.size(); ++k) {
    unsigned char a = static_cast<unsigned char>(text[at + k]);
    unsigned char b = static_cast<unsigned char>(prefix[k]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// TinyXML starts an element at '<' followed by a letter, '_' or any byte from
// 127 up.
bool StartsElementName(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 127 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_';
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

locale_t CLocale() {
  // Numbers in replies always use '.', whatever locale the process runs in.
  static locale_t s_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return s_locale;
}

bool IsWellFormedUtf8(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    unsigned char second = static_cast<unsigned char>(text[i + 1]);
    if (second < lo || second > hi) return false;
    for (size_t k = 2; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

// The length of ToUtf8(text): a surrogate pair takes four bytes, anything
// else from U+0800 up (a lone surrogate becomes U+FFFD) three.
size_t Utf8Length(plat::WStringView text) {
  size_t length = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      length += 1;
    } else if (c < 0x800) {
      length += 2;
    } else if ((c & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00) {
      length += 4;
      ++i;
    } else {
      length += 3;
    }
  }
  return length;
}

}  // namespace

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Where TinyXML's reading of a character reference ends. For "&#" it takes
// everything up to the next ';', however far, when the characters just before
// that ';' back to the nearest 'x' (hexadecimal, "&#x") or '#' (decimal) are
// digits: so a reference can swallow a quote, a '<' or an end tag. Whether a
// ';' ends a reference does not depend on where the reference starts, so
// each ';' is judged once and the scan stays linear.
class References {
 public:
  explicit References(std::string_view text) : m_text(text) {}

  // The position after the reference starting at `at` ('&'), or npos when
  // TinyXML would not read one there (it then either takes the '&' as it
  // stands or gives up; reading on counts at least what it reads).
  size_t EndOf(size_t at) {
    if (at + 2 >= m_text.size() || m_text[at + 1] != '#') return std::string_view::npos;
    const bool bHex = m_text[at + 2] == 'x';
    const size_t from = at + (bHex ? 3 : 2);
    if (from >= m_text.size()) return std::string_view::npos;
    // The scan only moves forward, so the first ';' found at or after an
    // earlier start is still the first one at or after this one.
    if (!m_bSearched || (m_semicolon != std::string_view::npos && m_semicolon < from)) {
      m_bSearched = true;
      m_semicolon = m_text.find(';', from);
      if (m_semicolon == std::string_view::npos) return std::string_view::npos;
      m_bHexEnds = EndsReference(m_semicolon, 'x', IsHex);
      m_bDecimalEnds = EndsReference(m_semicolon, '#', IsDecimal);
    }
    if (m_semicolon == std::string_view::npos) return std::string_view::npos;
    return (bHex ? m_bHexEnds : m_bDecimalEnds) ? m_semicolon + 1 : std::string_view::npos;
  }

 private:

  bool EndsReference(size_t semicolon, char stop, bool (*digit)(char)) const {
    for (size_t q = semicolon; q-- > 0;) {
      if (m_text[q] == stop) return true;
      if (!digit(m_text[q])) return false;
    }
    return false;
  }

  std::string_view m_text;
  bool m_bSearched = false;
  size_t m_semicolon = std::string_view::npos;
  bool m_bHexEnds = false;
  bool m_bDecimalEnds = false;
};

// Mirrors how TinyXML finds the extent of each construct, so that a closing
// tag is only counted where TinyXML would read one: comments run to "-->",
// CDATA to "]]>", start tags to the first '>' outside quotes, other "<!" and
// "<?" markup to its first '>'. The XML declaration alone reads quoted values
// and may run past a '>' inside them, so a declaration whose quotes hold '<'
// or '>' (or any reference) is refused rather than guessed at. Character
// references in text and attribute values are read as TinyXML reads them. An
// unfinished construct ends TinyXML's parse, and so the scan.
Verdict CheckMarkup(std::string_view text, const Limits& limits) {
  const size_t n = text.size();
  References references(text);
  int depth = 0;
  size_t nodes = 0;
  size_t i = 0;
  while (true) {
    i = text.find_first_of("<&", i);
    if (i == std::string_view::npos) return Verdict::kWithin;
    if (text[i] == '&') {
      const size_t after = references.EndOf(i);
      i = after == std::string_view::npos ? i + 1 : after;
      continue;
    }
    // An end tag closes a node counted at its start, but outside every
    // element TinyXML keeps it as a node of its own.
    if ((depth == 0 || !StartsWith(text, i, "</")) && ++nodes > limits.maxNodes) return Verdict::kTooManyNodes;
    size_t end;
    if (StartsWithNoCase(text, i, "<?xml")) {
      char quote = 0;
      for (end = i + 5; end < n; ++end) {
        char c = text[end];
        if (quote) {
          if (c == quote) quote = 0;
          else if (c == '<' || c == '>' || c == '&') return Verdict::kTooDeep;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (end >= n) return Verdict::kWithin;
      i = end + 1;
    } else if (StartsWith(text, i, "<!--")) {
      end = text.find("-->", i + 4);
      if (end == std::string_view::npos) return Verdict::kWithin;
      i = end + 3;
    } else if (StartsWith(text, i, "<![CDATA[")) {
      end = text.find("]]>", i + 9);
      if (end == std::string_view::npos) return Verdict::kWithin;
      i = end + 3;
    } else if (StartsWith(text, i, "</")) {
      if (depth > 0) --depth;
      end = text.find('>', i + 2);
      if (end == std::string_view::npos) return Verdict::kWithin;
      i = end + 1;
    } else if (i + 1 < n && StartsElementName(text[i + 1])) {
      char quote = 0;
      size_t attributes = 0;
      for (end = i + 1; end < n; ++end) {
        char c = text[end];
        if (quote) {
          if (c == quote) {
            quote = 0;
          } else if (c == '&') {
            const size_t after = references.EndOf(end);
            if (after != std::string_view::npos) end = after - 1;
          }
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '=') {
          if (++attributes > limits.maxAttributes) return Verdict::kTooManyAttributes;
          if (++nodes > limits.maxNodes) return Verdict::kTooManyNodes;
        } else if (c == '>') {
          break;
        }
      }
      if (end >= n) return Verdict::kWithin;
      if (text[end - 1] != '/' && ++depth > limits.maxDepth) return Verdict::kTooDeep;
      i = end + 1;
    } else {
      end = text.find('>', i + 1);
      if (end == std::string_view::npos) return Verdict::kWithin;
      i = end + 1;
    }
  }
}

bool NestingWithin(std::string_view text, int maxDepth) {
  Limits limits;
  limits.maxDepth = maxDepth;
  limits.maxAttributes = limits.maxNodes = SIZE_MAX;
  return CheckMarkup(text, limits) == Verdict::kWithin;
}

bool Parse(TiXmlDocument& doc, const char* text, size_t length, const Limits& limits) {
  if (!text) length = 0;
  if (length > kMaxBytes) {
    DebugTrace(u"[QUOREL] ReplyXml: reply of %u bytes refused (limit %u)\n", static_cast<unsigned>(length),
               static_cast<unsigned>(kMaxBytes));
    return false;
  }
  // TinyXML reads up to the first NUL; the copy supplies the terminator the
  // caller's buffer may lack.
  std::string body(text ? text : "", length);
  body.resize(std::strlen(body.c_str()));
  // In UTF-8 mode TinyXML takes a lead byte and the next one to three bytes
  // as one character, whatever they are, so a stray lead byte would hide a
  // '<', a quote or the terminator from it (and from the markup check's view
  // of the text). Malformed sequences become U+FFFD here, which is also what
  // the attribute conversion would make of them.
  // Each replacement takes three bytes, so the repaired body is bounded
  // again: TinyXML's memory grows with what it reads.
  if (!IsWellFormedUtf8(body)) {
    const plat::WString wide = plat::FromUtf8(body);
    if (Utf8Length(wide) > kMaxBytes) {
      DebugTrace(u"[QUOREL] ReplyXml: reply of more than %u bytes once repaired refused\n",
                 static_cast<unsigned>(kMaxBytes));
      return false;
    }
    body = plat::ToUtf8(wide);
  }
  switch (CheckMarkup(body, limits)) {
    case Verdict::kWithin:
      break;
    case Verdict::kTooDeep:
      DebugTrace(u"[QUOREL] ReplyXml: reply nested deeper than %d refused\n", limits.maxDepth);
      return false;
    case Verdict::kTooManyAttributes:
      DebugTrace(u"[QUOREL] ReplyXml: reply with more than %u attributes on one element refused\n",
                 static_cast<unsigned>(limits.maxAttributes));
      return false;
    case Verdict::kTooManyNodes:
      DebugTrace(u"[QUOREL] ReplyXml: reply of more than %u nodes refused\n", static_cast<unsigned>(limits.maxNodes));
      return false;
  }
  doc.Parse(body.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  return !doc.Error();
}

const TiXmlElement* Root(const TiXmlDocument& doc) { return Child(&doc, nullptr); }

const TiXmlElement* Child(const TiXmlNode* parent, const char* name) {
  if (!parent) return nullptr;
  for (const TiXmlNode* node = parent->FirstChild(); node; node = node->NextSibling()) {
    const TiXmlElement* element = node->ToElement();
    if (element && (!name || std::strcmp(element->Value(), name) == 0)) return element;
  }
  return nullptr;
}

const TiXmlElement* Next(const TiXmlElement* element, const char* name) {
  if (!element) return nullptr;
  for (const TiXmlNode* node = element->NextSibling(); node; node = node->NextSibling()) {
    const TiXmlElement* sibling = node->ToElement();
    if (sibling && std::strcmp(sibling->Value(), name) == 0) return sibling;
  }
  return nullptr;
}

size_t CountChildren(const TiXmlNode* parent, const char* name) {
  size_t count = 0;
  for (const TiXmlElement* e = Child(parent, name); e; e = Next(e, name)) ++count;
  return count;
}

plat::WString Text(const TiXmlElement* element, const char* name) {
  const char* value = element ? element->Attribute(name) : nullptr;
  return value ? plat::FromUtf8(value) : plat::WString();
}

bool ReadInt(const char* text, int32_t& out) {
  if (!text) return false;
  const char* p = text;
  while (IsCSpace(*p)) ++p;
  bool bNegative = false;
  if (*p == '+' || *p == '-') bNegative = (*p++ == '-');
  if (*p < '0' || *p > '9') return false;
  // Accumulated as a magnitude; anything past 2^31 is out of range either way.
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
  }
  int64_t value = bNegative ? -magnitude : magnitude;
  if (value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool Int(const TiXmlElement* element, const char* name, int32_t& out) {
  return element && ReadInt(element->Attribute(name), out);
}

float Real(const TiXmlElement* element, const char* name) {
  const char* value = element ? element->Attribute(name) : nullptr;
  if (!value) return 0.0f;
  char* end = nullptr;
  double d = strtod_l(value, &end, CLocale());
  if (end == value || std::isnan(d)) return 0.0f;
  if (d > FLT_MAX) return FLT_MAX;
  if (d < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(d);
}

}  // namespace ReplyXml
