#ifndef GMLIBNUMBERS_H
#define GMLIBNUMBERS_H

// Number conversions shared by the core and math libraries. Each is defined for every
// input, where the plain C conversion would be undefined for some.

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "script/values/gmVariable.h"

// Truncation toward zero. A float outside the int range, and NaN, give the minimum int:
// the value the x86 truncating conversion produces, which scripts have always seen there.
inline gmint gmFloatToInt(float a_value) {
  if (!(a_value >= -2147483648.0f && a_value < 2147483648.0f)) return INT_MIN;
  return static_cast<gmint>(a_value);
}

// The C text-to-int rules (leading space, sign, decimal digits, stop at the first other
// character, 0 when there are none), saturating at the int range on overflow.
inline gmint gmTextToInt(const char* a_text) {
  long long value = std::strtoll(a_text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<gmint>(value);
}

// The C library's generator cut to 0..32767 on every host, the range scripts and the
// math library's formulas are written for.
inline int gmRand() { return std::rand() & 0x7FFF; }

#endif
