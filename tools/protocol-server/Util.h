// Small text, number and hashing helpers of the protocol test server.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qps {

std::string ToLower(std::string_view s);
bool IEquals(std::string_view a, std::string_view b);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);

// Splits at every separator; with maxParts > 0 the last part keeps the rest.
std::vector<std::string> Split(std::string_view s, char sep, size_t maxParts = 0);

// Strict decimal: optional '-', digits only, no blanks, no overflow of 64 bits.
bool ParseInt(std::string_view s, long long& out);
// Decimal with an optional fraction, no exponent; used for seconds.
bool ParseSeconds(std::string_view s, double& out);

bool IsValidUtf8(std::string_view s);
// Invalid sequences become U+FFFD so the text can go into JSON or XML.
std::string SanitizeUtf8(std::string_view s);

// Keeps only the unreserved characters [A-Za-z0-9-._~]; everything else %XX.
std::string PercentEncode(std::string_view s);

struct DecodedValue {
  std::string value;
  bool badEscape = false;  // '%' not followed by two hex digits
  bool unescaped = false;  // a raw space, control character or byte >= 0x80
};
// '+' stays a plus: the client escapes a space as %20.
DecodedValue PercentDecode(std::string_view raw);

// A quoted JSON string; invalid UTF-8 becomes U+FFFD.
std::string JsonString(std::string_view s);

std::string Sha256Hex(std::string_view data);

// Deterministic bytes for the package and the garbage faults.
std::string PseudoRandomBytes(size_t n, uint32_t seed);

// FNV-1a, used to derive picture colours from ids.
uint32_t Fnv1a(std::string_view s);

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start);

}  // namespace qps
