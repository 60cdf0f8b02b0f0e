#ifndef GMSTRINGOBJECT_H
#define GMSTRINGOBJECT_H

// An interned, immutable string. The machine never holds two string objects with the same
// text, so two string values are equal exactly when their references are equal.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "script/values/gmObject.h"

class gmStringObject : public gmObject {
 public:
  // Hash of the text, the one that picked the chain: destruction finds the chain from it, and
  // a string add hashes its result from the hashes of its parts.
  gmuint hash = 0;
  gmint length = 0;
  // NUL-terminated copy owned by the object, from the machine's size-class storage.
  char* text = nullptr;

  int GetType() const override { return GM_STRING; }
  void Destruct(gmMachine* a_machine) override;

  const char* GetString() const { return text; }
  gmint GetLength() const { return length; }
  operator const char*() const { return text; }
};

// The interning hash, h = h * 33 + b over the bytes taken as signed, wrapping. Four bytes per
// step: the same sum regrouped, so the multiplications of one step do not wait on each other.
inline gmuint gmStringHash(const char* a_text, size_t a_length) {
  const gmuint k1 = 33u, k2 = k1 * 33u, k3 = k2 * 33u, k4 = k3 * 33u;
  auto b = [](char c) { return static_cast<gmuint>(static_cast<int>(static_cast<signed char>(c))); };
  gmuint h = 0;
  size_t i = 0;
  for (; i + 4 <= a_length; i += 4) {
    h = h * k4 + b(a_text[i]) * k3 + b(a_text[i + 1]) * k2 + b(a_text[i + 2]) * k1 + b(a_text[i + 3]);
  }
  for (; i < a_length; ++i) h = h * k1 + b(a_text[i]);
  return h;
}

// The hash of a text joined from two parts, from the parts' hashes: the left part's hash runs
// on through every byte of the right one, which multiplies it by 33 once per byte.
inline gmuint gmStringHashJoin(gmuint a_left, gmuint a_right, size_t a_rightLength) {
  gmuint factor = 1, power = 33u;
  for (size_t n = a_rightLength; n; n >>= 1) {
    if (n & 1) factor *= power;
    power *= power;
  }
  return a_left * factor + a_right;
}

// A big-endian number of 4 or 8 bytes, widened to 64 bits.
template <class T>
inline uint64_t gmLoadBigEndian(const char* a_bytes) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "four or eight bytes");
  T w;
  std::memcpy(&w, a_bytes, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if constexpr (sizeof(T) == 8)
    w = __builtin_bswap64(w);
  else
    w = __builtin_bswap32(w);
#endif
  return w;
}
inline uint64_t gmLoadBigEndian64(const char* a_bytes) { return gmLoadBigEndian<uint64_t>(a_bytes); }
inline uint64_t gmLoadBigEndian32(const char* a_bytes) { return gmLoadBigEndian<uint32_t>(a_bytes); }

// The first sixteen bytes of a text as two big-endian words, zero past the NUL: two keys order
// two texts as a byte-wise comparison does whenever the keys differ, and equal keys of a text
// shorter than sixteen bytes mean the same text (the NUL sits at the same place). Interning
// orders its chains by these keys and reads texts only where keys tie.
struct gmStringKey {
  static const int BYTES = 16;
  uint64_t high;
  uint64_t low;
};

// Shorter texts are read with two loads that overlap rather than byte by byte (and never past
// the NUL): the second load's bytes beyond the first one's are shifted into place.
inline gmStringKey gmStringKeyOf(const char* a_text, int a_length) {
  if (a_length >= 16) return {gmLoadBigEndian64(a_text), gmLoadBigEndian64(a_text + 8)};
  if (a_length > 8) {
    return {gmLoadBigEndian64(a_text), gmLoadBigEndian64(a_text + a_length - 8) << (8 * (16 - a_length))};
  }
  if (a_length >= 4) {
    uint64_t first = gmLoadBigEndian32(a_text) << 32;
    uint64_t last = (gmLoadBigEndian32(a_text + a_length - 4) << (8 * (8 - a_length))) & 0xffffffffu;
    return {first | last, 0};
  }
  uint64_t high = 0;
  for (int i = 0; i < a_length; ++i) {
    high |= static_cast<uint64_t>(static_cast<unsigned char>(a_text[i])) << (56 - 8 * i);
  }
  return {high, 0};
}

inline bool gmStringKeyBelow(const gmStringKey& a, const gmStringKey& b) {
  return a.high < b.high || (a.high == b.high && a.low < b.low);
}

inline bool gmStringKeyEqual(const gmStringKey& a, const gmStringKey& b) {
  return ((a.high ^ b.high) | (a.low ^ b.low)) == 0;
}

inline gmVariable::gmVariable(gmStringObject* a_string) : type(GM_STRING) { value.ref = a_string; }
inline void gmVariable::SetString(gmStringObject* a_string) { SetRef(GM_STRING, a_string); }
inline gmStringObject* gmVariable::GetStringObject() const { return static_cast<gmStringObject*>(value.ref); }

#endif
