// Small value types every part of the program leans on: the rational
// TFraction, the two exception types, the object-id counter and rectangles.
#pragma once

#include <cstdint>

#include "platform/base/Geometry.h"
#include "platform/base/Strings.h"

using RECT = plat::Rect;
using POINT = plat::Point;
using SIZE = plat::Size;

// Root of every polymorphic framework object: deleted through its virtual
// destructor, owned through std::unique_ptr.
class CObject {
 public:
  virtual ~CObject() = default;
};

// Thrown by value for a broken invariant. The text is always null in this
// program; the source names the unit that throws.
struct TPanic {
  const char16_t* text = nullptr;
  const char16_t* source = nullptr;
  int32_t line = 0;
};

#define QUOREL_PANIC(sourceName, lineNo) \
  throw TPanic { nullptr, sourceName, lineNo }

namespace Env {

// Thrown by value for a failed operation.
//   1 id not found, 2 failure inside a registration, 3 already exists,
//   5 bad argument or undecodable data, 6 several failures in one walk or
//   drain, 7 a system call failed.
struct TSysErrorCode {
  int32_t code = 0;
};

enum : int32_t {
  ErrNotFound = 1,
  ErrRegistration = 2,
  ErrAlreadyExists = 3,
  ErrBadArgument = 5,
  ErrSeveral = 6,
  ErrSystem = 7,
};

[[noreturn]] void ThrowError(int32_t code);
void ThrowIfError(int32_t code);

}  // namespace Env

// Greatest common divisor of |a| and |b|; never negative; gcd(0, 0) is 0.
// 64-bit so that |INT32_MIN| does not overflow.
int64_t Gcd(int64_t a, int64_t b);

// A rational number kept reduced with a positive denominator; zero is 0/1.
class TFraction {
 public:
  TFraction() = default;
  TFraction(int32_t num, int32_t den);  // den <= 0 panics ("basetypes", 38)
  int32_t Num() const { return m_num; }
  int32_t Den() const { return m_den; }
  friend bool operator==(const TFraction&, const TFraction&) = default;

 private:
  int32_t m_num = 0;
  int32_t m_den = 1;
};

// Process-wide object ids: 0, 1, 2, ...; safe from any thread.
int32_t NewObjectId();

// Rectangle helpers on {left, top, right, bottom}.
RECT RectIntersect(const RECT& a, const RECT& b);  // all zero when disjoint
RECT RectUnion(const RECT& a, const RECT& b);
void RectUnion(RECT* inOut, const RECT& b);  // in place
bool RectEquals(const RECT& a, const RECT& b);
bool SizeDiffers(const RECT& a, const RECT& b);
