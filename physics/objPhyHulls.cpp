#include "physics/objPhyHulls.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

uint32_t ReadLittle32(const unsigned char* a_p) {
  return static_cast<uint32_t>(a_p[0]) | static_cast<uint32_t>(a_p[1]) << 8 | static_cast<uint32_t>(a_p[2]) << 16 |
         static_cast<uint32_t>(a_p[3]) << 24;
}

float ReadFloat(const unsigned char* a_p) {
  const uint32_t bits = ReadLittle32(a_p);
  float value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

}  // namespace

objPhyHulls objPhyHulls::Parse(const unsigned char* a_data, size_t a_size) {
  objPhyHulls result;
  size_t at = 0;
  while (at < a_size) {
    if (a_size - at < 4) {
      result.valid = false;
      break;
    }
    const int32_t count = static_cast<int32_t>(ReadLittle32(a_data + at));
    // 64-bit arithmetic: the largest count times 16 does not overflow it.
    if (count < 1 || static_cast<uint64_t>(count) * 16u > a_size - at - 4) {
      result.valid = false;
      break;
    }
    std::vector<float> points(static_cast<size_t>(count) * 4);
    const unsigned char* p = a_data + at + 4;
    bool finite = true;
    for (size_t i = 0; i < points.size(); ++i) {
      points[i] = ReadFloat(p + i * 4);
      // A non-finite point gives the body non-finite bounds, which the broadphase cannot sort.
      if (i % 4 != 3 && !std::isfinite(points[i])) finite = false;
    }
    if (!finite) {
      result.valid = false;
      break;
    }
    result.hulls.push_back(std::move(points));
    at += 4 + static_cast<size_t>(count) * 16;
  }
  return result;
}
