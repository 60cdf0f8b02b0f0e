#pragma once
// The hull files read by AddPmap: raw little-endian data, hulls one after the other to the
// end of the file, each a 32-bit signed point count n followed by n points of four 32-bit
// floats (x, y, z and an unused w).
//
// The counts come from the file, so they are checked against what remains before anything
// is read or allocated: reading stops at the first hull that is not whole and sound, and
// the hulls before it are kept.
#include <cstddef>
#include <vector>

struct objPhyHulls {
  // Each hull's points as x, y, z, w quadruples (16 bytes apart, as Bullet takes them).
  std::vector<std::vector<float>> hulls;
  // False when reading stopped early: a count below 1, a count that needs more bytes than
  // remain, a tail too short for a count, or a coordinate that is not a finite number.
  bool valid = true;

  static objPhyHulls Parse(const unsigned char* a_data, size_t a_size);
};
