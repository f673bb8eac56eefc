// Wide text as the program counts it: UTF-16 code units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

using WChar = char16_t;
using WString = std::u16string;
using WStringView = std::u16string_view;

// UTF-8 <-> UTF-16. Malformed input (bad lead bytes, truncated or overlong
// sequences, surrogates encoded in UTF-8, lone surrogates in UTF-16) becomes
// U+FFFD, one replacement per maximal ill-formed subpart.
std::string ToUtf8(WStringView text);
WString FromUtf8(std::string_view text);

// Decodes the code point starting at `i` and advances `i` past it; a lone
// surrogate decodes as U+FFFD. `i` must be below text.size().
char32_t NextCodePoint(WStringView text, size_t& i);

// The same over UTF-8: a malformed sequence decodes as one U+FFFD and `i`
// moves past its maximal ill-formed subpart. `i` must be below text.size().
char32_t NextCodePointUtf8(std::string_view text, size_t& i);

// Appends one code point as UTF-16.
void AppendCodePoint(WString& out, char32_t cp);

// Case-insensitive comparison for names the platform treats that way
// (registry keys and values, file names, header names): ASCII plus the
// Latin-1 letters, folded to lower case.
WChar FoldCase(WChar c);
int CompareNoCase(WStringView a, WStringView b);
bool EqualsNoCase(WStringView a, WStringView b);
bool StartsWithNoCase(WStringView text, WStringView prefix);

// Joins a folder and a name with exactly one backslash between them, whether
// or not the folder already ends in one or the name starts with one.
WString JoinPath(WStringView folder, WStringView name);

// ASCII-only conversion for literals and protocol text known to be ASCII.
WString Widen(std::string_view ascii);

}  // namespace plat
