// Reading the server's XML replies without trusting them.
//
// A reply body becomes an owned, NUL-terminated copy (the caller's buffer is
// never written), and TinyXML only sees it after its size and markup have
// been checked: the library parses and destroys trees recursively, so a deep
// document would overflow the stack; it checks each attribute against every
// earlier one of its element; and it allocates a few hundred bytes per node. Lookups walk elements only, because
// TinyXML's lookups by name also match comments and text nodes with that
// value.
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/base/Strings.h"

namespace ReplyXml {

// Largest reply body accepted, in bytes. The biggest real reply (a full result
// page) is a few hundred kilobytes.
inline constexpr size_t kMaxBytes = 4 * 1024 * 1024;
// Deepest element nesting accepted. Real replies nest six levels.
inline constexpr int kMaxDepth = 256;
// Most attributes on one start tag. Real replies carry at most a dozen; the
// bound matters because TinyXML compares each attribute with every earlier one
// of its element, so its time grows with the square of their number.
inline constexpr size_t kMaxAttributes = 256;
// Most nodes in one reply: elements, attributes, comments and other markup
// (text nodes, at most one between two of these, follow their count). TinyXML
// allocates a few hundred bytes per node, so this is what bounds a parse's
// memory. A full result page of a hundred tracks holds about 2 500.
inline constexpr size_t kMaxNodes = 40000;

struct Limits {
  int maxDepth = kMaxDepth;
  size_t maxAttributes = kMaxAttributes;
  size_t maxNodes = kMaxNodes;
};

enum class Verdict { kWithin, kTooDeep, kTooManyAttributes, kTooManyNodes };

// Whether the markup of `text` (as TinyXML would read it) stays within
// `limits`: elements nest at most maxDepth deep, no start tag has more than
// maxAttributes attributes and there are at most maxNodes nodes. Errs on the
// side of refusing: markup whose extent TinyXML might read differently counts
// as too deep, and every '=' in a start tag counts as an attribute.
Verdict CheckMarkup(std::string_view text, const Limits& limits);
// The nesting part alone.
bool NestingWithin(std::string_view text, int maxDepth);

// Parses `length` bytes at `text` (a null pointer is an empty body; the text
// ends at its first NUL) with the encoding left to TinyXML's detection.
// Malformed UTF-8 sequences are replaced by U+FFFD first. False when the body
// is refused (over kMaxBytes, or beyond `limits` by CheckMarkup: `doc` is then
// left empty and a trace says why) or TinyXML reports an error (`doc` keeps
// what it read).
bool Parse(TiXmlDocument& doc, const char* text, size_t length, const Limits& limits = {});

// The document's root element, or null.
const TiXmlElement* Root(const TiXmlDocument& doc);

// The first child element of `parent` named `name`; null when there is none or
// `parent` is null. Comments, text and other nodes never match.
const TiXmlElement* Child(const TiXmlNode* parent, const char* name);
// The next sibling element of `element` named `name`, or null.
const TiXmlElement* Next(const TiXmlElement* element, const char* name);
// The number of child elements of `parent` named `name`.
size_t CountChildren(const TiXmlNode* parent, const char* name);

// An attribute as wide text; empty when absent. Malformed UTF-8 becomes
// U+FFFD.
plat::WString Text(const TiXmlElement* element, const char* name);

// Whether `text` reads as a 32-bit integer: optional leading white space, an
// optional sign and at least one digit; whatever follows the digits is
// ignored ("12abc" is 12). A value outside the 32-bit range is not an integer.
bool ReadInt(const char* text, int32_t& out);
// An integer attribute; false (and `out` untouched) when absent or not an
// integer by ReadInt.
bool Int(const TiXmlElement* element, const char* name, int32_t& out);

// A real attribute narrowed to float: the numeric prefix of the text, 0 when
// absent or not a number, NaN as 0, and values beyond the float range clamped
// to its largest magnitude.
float Real(const TiXmlElement* element, const char* name);

}  // namespace ReplyXml
