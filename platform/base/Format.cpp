#include "platform/base/Format.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace plat::format_detail {
namespace {

constexpr size_t kMaxWidth = 65536;
constexpr int kMaxPrecision = 512;
constexpr WChar kReplacement = 0xFFFD;

bool IsHighSurrogate(WChar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WChar c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Collects the output into a string or a caller's buffer, up to a limit. The
// first unit that does not fit ends the output; if it is the second half of a
// surrogate pair, the first half goes too.
class Output {
 public:
  Output(WString* str, WChar* buf, size_t limit) : m_str(str), m_buf(buf), m_limit(limit) {}

  bool Cut() const { return m_cut; }
  size_t Size() const { return m_size; }

  void Put(WChar c) {
    if (m_size < m_limit) {
      if (m_str) m_str->push_back(c); else m_buf[m_size] = c;
      ++m_size;
    } else {
      Stop(c);
    }
  }

  void Put(const WChar* p, size_t n) {
    size_t fit = std::min(n, m_limit - m_size);
    if (m_str) m_str->append(p, fit); else std::copy(p, p + fit, m_buf + m_size);
    m_size += fit;
    if (fit < n) Stop(p[fit]);
  }

  void Fill(WChar c, size_t n) {
    size_t fit = std::min(n, m_limit - m_size);
    if (m_str) m_str->append(fit, c); else std::fill(m_buf + m_size, m_buf + m_size + fit, c);
    m_size += fit;
    if (fit < n) Stop(c);
  }

 private:
  void Stop(WChar next) {
    if (m_cut) return;
    m_cut = true;
    WChar last = m_size == 0 ? 0 : (m_str ? m_str->back() : m_buf[m_size - 1]);
    if (IsLowSurrogate(next) && IsHighSurrogate(last)) {
      --m_size;
      if (m_str) m_str->pop_back();
    }
    m_limit = m_size;
  }

  WString* m_str;
  WChar* m_buf;
  size_t m_limit;
  size_t m_size = 0;
  bool m_cut = false;
};

enum class Length : uint8_t { Default, Bits8, Bits16, Bits64 };
enum class TextWidth : uint8_t { Default, Narrow, Wide };

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  size_t width = 0;
  int precision = -1;
  Length length = Length::Default;
  TextWidth textWidth = TextWidth::Default;
};

// Width and precision taken from an argument ('*'): any integer, by its value.
bool IntValue(const Arg& a, int64_t& v) {
  if (a.type != ArgType::Integer) return false;
  v = static_cast<int64_t>(a.bits);
  return true;
}

uint64_t Mask(unsigned bytes) { return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1; }

// Pads to the width around an optional prefix (sign, "0x") and a body of
// `bodyLen` units written by `body`, the way the device's printf lays it out:
// spaces before, or zeros between prefix and body, or spaces after.
template <class Body>
void Emit(Output& out, const Spec& s, bool zeroPad, const WChar* prefix, size_t prefixLen, size_t bodyLen,
          Body&& body) {
  size_t total = prefixLen + bodyLen;
  size_t pad = s.width > total ? s.width - total : 0;
  if (!s.left && !zeroPad) out.Fill(u' ', pad);
  out.Put(prefix, prefixLen);
  if (!s.left && zeroPad) out.Fill(u'0', pad);
  body();
  if (s.left) out.Fill(u' ', pad);
}

void EmitUnits(Output& out, const Spec& s, const WChar* text, size_t n) {
  Emit(out, s, s.zero, nullptr, 0, n, [&] { out.Put(text, n); });
}

void Bad(Output& out) { out.Put(u'?'); }

void EmitNumber(Output& out, const Spec& s, uint64_t magnitude, bool negative, bool isSigned, WChar conv,
                int precision) {
  bool zeroPad = s.zero;
  if (precision < 0) {
    precision = 1;
  } else {
    zeroPad = false;  // an explicit precision does the zero padding itself
    precision = std::min(precision, kMaxPrecision);
  }
  unsigned radix = conv == u'o' ? 8 : (conv == u'x' || conv == u'X') ? 16 : 10;
  const char* digitSet = conv == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";

  WChar digits[kMaxPrecision + 32];
  WChar* end = digits + sizeof digits / sizeof digits[0];
  WChar* p = end;
  uint64_t n = magnitude;
  // A zero with precision 0 prints no digits at all. Each radix has its own
  // loop so the divisions are by constants.
  if (radix == 10) {
    for (; n != 0; --precision, n /= 10) *--p = static_cast<WChar>(u'0' + n % 10);
  } else if (radix == 16) {
    for (; n != 0; --precision, n >>= 4) *--p = static_cast<WChar>(digitSet[n & 15]);
  } else {
    for (; n != 0; --precision, n >>= 3) *--p = static_cast<WChar>(u'0' + (n & 7));
  }
  for (; precision > 0; --precision) *--p = u'0';
  if (conv == u'o' && s.alt && (p == end || *p != u'0')) *--p = u'0';

  WChar prefix[2];
  size_t prefixLen = 0;
  if (isSigned) {
    if (negative) prefix[prefixLen++] = u'-';
    else if (s.plus) prefix[prefixLen++] = u'+';
    else if (s.space) prefix[prefixLen++] = u' ';
  } else if (radix == 16 && s.alt && magnitude != 0) {
    prefix[prefixLen++] = u'0';
    prefix[prefixLen++] = conv;  // 'x' or 'X'
  }
  size_t len = static_cast<size_t>(end - p);
  Emit(out, s, zeroPad, prefix, prefixLen, len, [&] { out.Put(p, len); });
}

void FormatInteger(Output& out, const Spec& s, const Arg& a, WChar conv) {
  if (a.type != ArgType::Integer) return Bad(out);
  unsigned bytes = a.bytes;
  switch (s.length) {
    case Length::Bits8: bytes = 1; break;
    case Length::Bits16: bytes = 2; break;
    case Length::Bits64: bytes = 8; break;
    case Length::Default: break;
  }
  uint64_t mask = Mask(bytes);
  uint64_t u = a.bits & mask;
  bool isSigned = conv == u'd' || conv == u'i';
  bool negative = false;
  if (isSigned && (u >> (8 * bytes - 1)) & 1) {
    negative = true;
    u = (~u + 1) & mask;
  }
  EmitNumber(out, s, u, negative, isSigned, conv, s.precision);
}

void FormatPointer(Output& out, const Spec& s, const Arg& a) {
  uint64_t value;
  switch (a.type) {
    case ArgType::Pointer: value = reinterpret_cast<uintptr_t>(a.ptr); break;
    case ArgType::Null: value = 0; break;
    case ArgType::WideText:
    case ArgType::NarrowText:
      if (!a.isAddress) return Bad(out);
      value = reinterpret_cast<uintptr_t>(a.ptr);
      break;
    case ArgType::Integer: value = a.bits & Mask(a.bytes); break;
    default: return Bad(out);
  }
  EmitNumber(out, s, value, false, false, u'X', 2 * sizeof(void*));
}

void FormatChar(Output& out, const Spec& s, const Arg& a, WChar conv) {
  if (a.type != ArgType::Integer || a.charKind == CharKind::Bool) return Bad(out);
  bool wide = s.textWidth == TextWidth::Wide || (s.textWidth == TextWidth::Default && conv == u'c');
  WChar units[2];
  size_t n = 1;
  if (a.charKind == CharKind::Narrow || !wide) {
    // A narrow character is one byte of UTF-8: only ASCII stands on its own.
    if (!wide && a.charKind == CharKind::Wide) return Bad(out);
    uint8_t byte = static_cast<uint8_t>(a.bits);
    units[0] = byte < 0x80 ? byte : kReplacement;
  } else if (a.charKind == CharKind::Wide && a.bits > 0xFFFF) {
    uint64_t cp = a.bits;
    if (cp > 0x10FFFF) {
      units[0] = kReplacement;
    } else {
      cp -= 0x10000;
      units[0] = static_cast<WChar>(0xD800 + (cp >> 10));
      units[1] = static_cast<WChar>(0xDC00 + (cp & 0x3FF));
      n = 2;
    }
  } else {
    units[0] = static_cast<WChar>(a.bits);  // an int: its low 16 bits are the unit
  }
  EmitUnits(out, s, units, n);
}

void FormatNarrowText(Output& out, const Spec& s, const char* text, size_t length) {
  size_t n = length;
  if (length == kNulTerminated) {
    size_t limit = s.precision < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(s.precision);
    for (n = 0; n < limit && text[n] != '\0';) ++n;
  } else if (s.precision >= 0) {
    n = std::min(n, static_cast<size_t>(s.precision));
  }
  if (s.precision >= 0 && n == static_cast<size_t>(s.precision)) {
    // The precision counts bytes; a sequence it would split is left out whole.
    size_t start = n;
    while (start > 0 && n - start < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
      unsigned char lead = static_cast<unsigned char>(text[start - 1]);
      size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (need > n - (start - 1)) n = start - 1;
    }
  }
  std::string_view bytes(text, n);
  size_t units = 0;
  for (size_t i = 0; i < n;) units += NextCodePointUtf8(bytes, i) >= 0x10000 ? 2 : 1;
  Emit(out, s, s.zero, nullptr, 0, units, [&] {
    for (size_t i = 0; i < n && !out.Cut();) {
      char32_t cp = NextCodePointUtf8(bytes, i);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.Put(static_cast<WChar>(0xD800 + (cp >> 10)));
        out.Put(static_cast<WChar>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.Put(static_cast<WChar>(cp));
      }
    }
  });
}

void FormatText(Output& out, const Spec& s, const Arg& a, WChar conv) {
  bool wide = s.textWidth == TextWidth::Wide || (s.textWidth == TextWidth::Default && conv == u's');
  ArgType want = wide ? ArgType::WideText : ArgType::NarrowText;
  if (a.type == ArgType::Null || (a.type == want && a.isAddress && a.ptr == nullptr)) {
    static constexpr WChar kNull[] = u"(null)";
    size_t n = 6;
    if (s.precision >= 0) n = std::min(n, static_cast<size_t>(s.precision));
    return EmitUnits(out, s, kNull, n);
  }
  if (a.type != want) return Bad(out);
  if (!wide) return FormatNarrowText(out, s, static_cast<const char*>(a.ptr), a.length);

  const WChar* text = static_cast<const WChar*>(a.ptr);
  size_t n = a.length;
  if (n == kNulTerminated) {
    // Never read past the precision: the text need not be terminated there.
    size_t limit = s.precision < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(s.precision);
    for (n = 0; n < limit && text[n] != 0;) ++n;
  } else if (s.precision >= 0) {
    n = std::min(n, static_cast<size_t>(s.precision));
  }
  EmitUnits(out, s, text, n);
}

void FormatReal(Output& out, const Spec& s, const Arg& a, WChar conv) {
  if (a.type != ArgType::Real) return Bad(out);
  char format[32];
  char* f = format;
  *f++ = '%';
  if (s.left) *f++ = '-';
  if (s.plus) *f++ = '+';
  if (s.space) *f++ = ' ';
  if (s.alt) *f++ = '#';
  if (s.zero) *f++ = '0';
  *f++ = '*';
  *f++ = '.';
  *f++ = '*';
  *f++ = static_cast<char>(conv);
  *f = '\0';
  int width = static_cast<int>(s.width);
  int precision = std::min(s.precision, kMaxPrecision);

  char small[128];
  int n = std::snprintf(small, sizeof small, format, width, precision, a.real);
  if (n < 0) return Bad(out);
  std::string large;
  const char* text = small;
  if (static_cast<size_t>(n) >= sizeof small) {
    large.resize(static_cast<size_t>(n) + 1);
    std::snprintf(large.data(), large.size(), format, width, precision, a.real);
    text = large.data();
  }
  for (int i = 0; i < n; ++i) out.Put(static_cast<WChar>(static_cast<unsigned char>(text[i])));
}

bool IsDigit(WChar c) { return c >= u'0' && c <= u'9'; }

size_t ParseNumber(WStringView fmt, size_t& i, size_t max) {
  size_t v = 0;
  for (; i < fmt.size() && IsDigit(fmt[i]); ++i) v = std::min(v * 10 + (fmt[i] - u'0'), max);
  return v;
}

void Run(Output& out, WStringView fmt, const Arg* args, size_t count) {
  static const Arg kMissing;
  size_t next = 0;
  auto take = [&]() -> const Arg& { return next < count ? args[next++] : kMissing; };

  const size_t n = fmt.size();
  size_t i = 0;
  while (i < n && !out.Cut()) {
    size_t pct = fmt.find(u'%', i);
    if (pct == WStringView::npos) pct = n;
    out.Put(fmt.data() + i, pct - i);
    if (pct >= n) break;
    i = pct + 1;

    Spec s;
    bool bad = false;  // a '*' without an integer argument
    for (; i < n; ++i) {
      WChar c = fmt[i];
      if (c == u'-') s.left = true;
      else if (c == u'+') s.plus = true;
      else if (c == u' ') s.space = true;
      else if (c == u'#') s.alt = true;
      else if (c == u'0') s.zero = true;
      else break;
    }
    if (i < n && fmt[i] == u'*') {
      ++i;
      int64_t v;
      if (!IntValue(take(), v)) {
        bad = true;
      } else {
        if (v < 0) {
          s.left = true;
          v = v == INT64_MIN ? INT64_MAX : -v;
        }
        s.width = static_cast<size_t>(std::min<int64_t>(v, kMaxWidth));
      }
    } else {
      s.width = ParseNumber(fmt, i, kMaxWidth);
    }
    if (i < n && fmt[i] == u'.') {
      ++i;
      if (i < n && fmt[i] == u'*') {
        ++i;
        int64_t v;
        if (!IntValue(take(), v)) bad = true;
        else s.precision = v < 0 ? -1 : static_cast<int>(std::min<int64_t>(v, INT32_MAX));
      } else {
        s.precision = static_cast<int>(ParseNumber(fmt, i, INT32_MAX));
      }
    }
    // Length modifiers.
    if (i < n) {
      WChar c = fmt[i];
      if (c == u'h') {
        ++i;
        s.length = Length::Bits16;
        s.textWidth = TextWidth::Narrow;
        if (i < n && fmt[i] == u'h') {
          ++i;
          s.length = Length::Bits8;
        }
      } else if (c == u'l' || c == u'w') {
        ++i;
        s.textWidth = TextWidth::Wide;
        if (c == u'l' && i < n && fmt[i] == u'l') {
          ++i;
          s.length = Length::Bits64;
        }
      } else if (c == u'I') {
        ++i;
        if (fmt.substr(i, 2) == u"64") {
          i += 2;
          s.length = Length::Bits64;
        } else if (fmt.substr(i, 2) == u"32") {
          i += 2;
        } else {
          s.length = Length::Bits64;  // pointer-sized
        }
      } else if (c == u'j' || c == u'z' || c == u't') {
        ++i;
        s.length = Length::Bits64;
      } else if (c == u'L') {
        ++i;
      }
    }
    if (i >= n) break;  // a format that ends inside a conversion prints nothing of it
    WChar conv = fmt[i++];

    switch (conv) {
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
      case u'p': case u'c': case u'C': case u's': case u'S':
      case u'e': case u'E': case u'f': case u'F': case u'g': case u'G': {
        const Arg& a = take();
        if (bad) Bad(out);
        else if (conv == u'p') FormatPointer(out, s, a);
        else if (conv == u'c' || conv == u'C') FormatChar(out, s, a, conv);
        else if (conv == u's' || conv == u'S') FormatText(out, s, a, conv);
        else if (conv == u'e' || conv == u'E' || conv == u'f' || conv == u'F' || conv == u'g' || conv == u'G')
          FormatReal(out, s, a, conv);
        else FormatInteger(out, s, a, conv);
        break;
      }
      default:
        // '%%' and unknown conversions print the character itself.
        if (bad) Bad(out);
        else out.Put(conv);
        break;
    }
  }
}

}  // namespace

void FormatToString(WString& out, size_t limit, WStringView fmt, const Arg* args, size_t count) {
  out.reserve(out.size() + std::min(limit, fmt.size() + 64));
  Output o(&out, nullptr, limit);
  Run(o, fmt, args, count);
}

size_t FormatToBuffer(WChar* buf, size_t cap, WStringView fmt, const Arg* args, size_t count) {
  if (!buf || cap == 0) return 0;
  Output o(nullptr, buf, cap - 1);
  Run(o, fmt, args, count);
  buf[o.Size()] = 0;
  return o.Size();
}

}  // namespace plat::format_detail
