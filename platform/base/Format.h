// Wide printf for the program's trace and text formats.
//
// The formats are written for the device's wide printf, so that is what the
// conversions follow: %s is wide text, %S narrow, %p is sixteen upper-case hex
// digits, the 0 flag pads strings with zeros too. The difference is that the
// arguments are typed: a conversion whose argument has the wrong type (or is
// missing) prints '?' instead of reading garbage, and surplus arguments are
// ignored.
//
//   %s %ls %ws   wide text: const WChar*, WChar arrays, WString, WStringView;
//                a null pointer prints "(null)"
//   %S %hs       narrow UTF-8 text: const char*, char arrays, std::string,
//                std::string_view; the precision counts bytes but never ends
//                inside a multi-byte sequence
//   %c %lc       a wide character (char16_t, char32_t, or any integer, whose
//                low 16 bits are the unit); an ASCII char
//   %C %hc       a narrow character; bytes above 0x7F are not text on their own
//                and print U+FFFD
//   %d %i %u %x %X %o   any integer, enum or bool; signed values are read
//                with their own width, as C promotion gives them (an int -1
//                prints ffffffff for %x, an int64_t -1 sixteen f's)
//   %p           a pointer (or an integer), as 16 upper-case hex digits
//   %e %f %g     (and upper case) a float or double
//   %%           a percent sign
//
// Flags - + space # 0, width and precision (both may be *, taking an int
// argument; a negative width means left-justified, a negative precision none).
// Length modifiers: hh and h narrow an integer to 8 or 16 bits; ll, I64, I, j,
// z and t widen a signed one to 64 bits; l, I32, L and w change nothing. A
// 64-bit argument is never cut to 32 bits without a modifier: on the device
// every such value was 32 bits wide, so the full value is what the format meant.
//
// An unknown conversion character is printed as it stands and takes no
// argument. Widths are capped at 65536 and numeric precisions at 512, so a
// stray '*' argument cannot ask for gigabytes of padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/base/Strings.h"

namespace plat {

namespace format_detail {

enum class ArgType : uint8_t { Missing, Unsupported, Integer, Real, Pointer, Null, WideText, NarrowText };
enum class CharKind : uint8_t { None, Narrow, Wide, Bool };

inline constexpr size_t kNulTerminated = static_cast<size_t>(-1);

// One argument, erased to what the conversions need. Text is referenced, never
// copied.
struct Arg {
  ArgType type = ArgType::Missing;
  CharKind charKind = CharKind::None;  // integers: what %c makes of the value
  bool isSigned = false;
  bool isAddress = false;  // text passed by pointer: %p prints the pointer
  uint8_t bytes = 0;       // integers: width after integer promotion
  uint64_t bits = 0;       // integers: the value, sign- or zero-extended
  double real = 0;
  const void* ptr = nullptr;  // pointers and text
  size_t length = 0;          // text: units, or kNulTerminated
};

template <class C>
size_t BoundedLength(const C* s, size_t extent) {
  size_t n = 0;
  while (n < extent && s[n] != C{}) ++n;
  return n;
}

template <class T>
Arg MakeIntegerArg(T v, CharKind kind) {
  using Promoted = decltype(+v);
  Arg a;
  a.type = ArgType::Integer;
  a.charKind = kind;
  a.isSigned = std::is_signed_v<Promoted>;
  a.bytes = static_cast<uint8_t>(sizeof(Promoted));
  a.bits = a.isSigned ? static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
  return a;
}

inline Arg MakeTextArg(ArgType type, const void* data, size_t length, bool isAddress) {
  Arg a;
  a.type = type;
  a.ptr = data;
  a.length = length;
  a.isAddress = isAddress;
  return a;
}

template <class T>
Arg MakeArg(const T& v) {
  using D = std::remove_cv_t<T>;
  if constexpr (std::is_array_v<D>) {
    // A fixed buffer need not be terminated: never read past its end.
    using E = std::remove_cv_t<std::remove_extent_t<D>>;
    constexpr size_t n = std::extent_v<D>;
    if constexpr (std::is_same_v<E, char16_t>)
      return MakeTextArg(ArgType::WideText, v, BoundedLength(v, n), true);
    else if constexpr (std::is_same_v<E, char>)
      return MakeTextArg(ArgType::NarrowText, v, BoundedLength(v, n), true);
    else
      return MakeArg(static_cast<const E*>(v));
  } else if constexpr (std::is_same_v<D, bool>) {
    return MakeIntegerArg(v, CharKind::Bool);
  } else if constexpr (std::is_same_v<D, char> || std::is_same_v<D, signed char> ||
                       std::is_same_v<D, unsigned char>) {
    return MakeIntegerArg(v, CharKind::Narrow);
  } else if constexpr (std::is_same_v<D, char16_t> || std::is_same_v<D, char32_t> ||
                       std::is_same_v<D, wchar_t>) {
    return MakeIntegerArg(v, CharKind::Wide);
  } else if constexpr (std::is_enum_v<D>) {
    return MakeIntegerArg(static_cast<std::underlying_type_t<D>>(v), CharKind::None);
  } else if constexpr (std::is_integral_v<D>) {
    return MakeIntegerArg(v, CharKind::None);
  } else if constexpr (std::is_floating_point_v<D>) {
    Arg a;
    a.type = ArgType::Real;
    a.real = static_cast<double>(v);
    return a;
  } else if constexpr (std::is_null_pointer_v<D>) {
    Arg a;
    a.type = ArgType::Null;
    return a;
  } else if constexpr (std::is_pointer_v<D>) {
    using P = std::remove_cv_t<std::remove_pointer_t<D>>;
    if constexpr (std::is_same_v<P, char16_t>) {
      return MakeTextArg(ArgType::WideText, v, kNulTerminated, true);
    } else if constexpr (std::is_same_v<P, char>) {
      return MakeTextArg(ArgType::NarrowText, v, kNulTerminated, true);
    } else if constexpr (std::is_object_v<P> || std::is_void_v<P>) {
      Arg a;
      a.type = ArgType::Pointer;
      a.ptr = const_cast<const void*>(static_cast<const volatile void*>(v));
      return a;
    } else {
      return Arg{ArgType::Unsupported};
    }
  } else if constexpr (std::is_convertible_v<const D&, std::u16string_view>) {
    std::u16string_view s = v;
    return MakeTextArg(ArgType::WideText, s.data(), s.size(), false);
  } else if constexpr (std::is_convertible_v<const D&, std::string_view>) {
    std::string_view s = v;
    return MakeTextArg(ArgType::NarrowText, s.data(), s.size(), false);
  } else {
    return Arg{ArgType::Unsupported};
  }
}

// Formats into `out` (appending) or into `buf`; at most `limit` units are
// written and a cut never leaves the first half of a surrogate pair.
// FormatToBuffer terminates and returns the units written.
void FormatToString(WString& out, size_t limit, WStringView fmt, const Arg* args, size_t count);
size_t FormatToBuffer(WChar* buf, size_t cap, WStringView fmt, const Arg* args, size_t count);

}  // namespace format_detail

template <class... A>
WString FormatW(WStringView fmt, const A&... args) {
  const format_detail::Arg list[sizeof...(A) + 1] = {format_detail::MakeArg(args)...};
  WString out;
  format_detail::FormatToString(out, static_cast<size_t>(-1), fmt, list, sizeof...(A));
  return out;
}

// Writes at most cap - 1 units and a terminator (nothing when cap is 0) and
// returns the units written. A cut that would split a surrogate pair drops its
// first half as well.
template <class... A>
size_t FormatWTo(WChar* buf, size_t cap, WStringView fmt, const A&... args) {
  const format_detail::Arg list[sizeof...(A) + 1] = {format_detail::MakeArg(args)...};
  return format_detail::FormatToBuffer(buf, cap, fmt, list, sizeof...(A));
}

// FormatW cut at `maxUnits` units, by the same rule as FormatWTo.
template <class... A>
WString FormatWCut(size_t maxUnits, WStringView fmt, const A&... args) {
  const format_detail::Arg list[sizeof...(A) + 1] = {format_detail::MakeArg(args)...};
  WString out;
  format_detail::FormatToString(out, maxUnits, fmt, list, sizeof...(A));
  return out;
}

}  // namespace plat
