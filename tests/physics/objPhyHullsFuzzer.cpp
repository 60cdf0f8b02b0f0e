// libFuzzer target for the hull file reader: any bytes give whole hulls of finite points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "physics/objPhyHulls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  const objPhyHulls read = objPhyHulls::Parse(a_data, a_size);
  size_t bytes = 0;
  for (const std::vector<float>& hull : read.hulls) {
    if (hull.empty() || hull.size() % 4 != 0) std::abort();
    for (size_t i = 0; i < hull.size(); ++i)
      if (i % 4 != 3 && !std::isfinite(hull[i])) std::abort();
    bytes += 4 + hull.size() * 4;
  }
  if (bytes > a_size || (read.valid && bytes != a_size)) std::abort();
  return 0;
}
