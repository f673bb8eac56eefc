#include "platform/base/Strings.h"

namespace plat {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char32_t NextCodePoint(WStringView text, size_t& i) {
  char32_t c = text[i++];
  if (IsHighSurrogate(c)) {
    if (i < text.size() && IsLowSurrogate(text[i])) {
      char32_t low = text[i++];
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
  }
  if (IsLowSurrogate(c)) return kReplacement;
  return c;
}

void AppendCodePoint(WString& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<WChar>(0xD800 + (cp >> 10));
    out += static_cast<WChar>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<WChar>(cp);
  }
}

std::string ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}

char32_t NextCodePointUtf8(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b = byte(i);
  if (b < 0x80) {
    ++i;
    return b;
  }
  // Expected length and the allowed range of the second byte (which rules
  // out overlong forms, surrogates and code points above U+10FFFF).
  size_t need = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) { need = 1; cp = b & 0x1F; }
  else if (b == 0xE0) { need = 2; cp = b & 0x0F; lo = 0xA0; }
  else if (b >= 0xE1 && b <= 0xEC) { need = 2; cp = b & 0x0F; }
  else if (b == 0xED) { need = 2; cp = b & 0x0F; hi = 0x9F; }
  else if (b >= 0xEE && b <= 0xEF) { need = 2; cp = b & 0x0F; }
  else if (b == 0xF0) { need = 3; cp = b & 0x07; lo = 0x90; }
  else if (b >= 0xF1 && b <= 0xF3) { need = 3; cp = b & 0x07; }
  else if (b == 0xF4) { need = 3; cp = b & 0x07; hi = 0x8F; }
  else {
    ++i;
    return kReplacement;
  }
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j) {
    unsigned char min = k == 0 ? lo : 0x80, max = k == 0 ? hi : 0xBF;
    if (j >= text.size() || byte(j) < min || byte(j) > max) {
      // The well-formed prefix read so far is consumed and replaced once.
      i = j;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(j) & 0x3F);
  }
  i = j;
  return cp;
}

WString FromUtf8(std::string_view text) {
  WString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendCodePoint(out, NextCodePointUtf8(text, i));
  return out;
}

WChar FoldCase(WChar c) {
  if (c >= u'A' && c <= u'Z') return static_cast<WChar>(c + 32);
  // Latin-1 capitals À..Þ except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WChar>(c + 32);
  return c;
}

int CompareNoCase(WStringView a, WStringView b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    WChar x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(WStringView a, WStringView b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(WStringView text, WStringView prefix) {
  return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

WString JoinPath(WStringView folder, WStringView name) {
  while (!folder.empty() && folder.back() == u'\\') folder.remove_suffix(1);
  while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);
  WString out(folder);
  out += u'\\';
  out += name;
  return out;
}

WString Widen(std::string_view ascii) {
  WString out;
  out.reserve(ascii.size());
  for (char c : ascii) out += static_cast<WChar>(static_cast<unsigned char>(c));
  return out;
}

}  // namespace plat
