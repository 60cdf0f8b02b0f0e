// The hull file reader on byte arrays: whole hulls are kept up to the first one that is not
// whole and sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "physics/objPhyHulls.h"

namespace {

struct Bytes {
  std::vector<unsigned char> data;
  Bytes& Count(int32_t a_n) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(static_cast<uint32_t>(a_n) >> (8 * i)));
    return *this;
  }
  Bytes& Point(float a_x, float a_y, float a_z, float a_w = 0) {
    for (float f : {a_x, a_y, a_z, a_w}) {
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    }
    return *this;
  }
  Bytes& Raw(size_t a_n) {
    data.insert(data.end(), a_n, 0);
    return *this;
  }
};

TEST(HullFile, KeepsTheHullsBeforeTheFirstBadOne) {
  const float nan = std::nanf("");
  struct Case {
    const char* what;
    Bytes bytes;
    size_t hulls;
    bool valid;
  } const cases[] = {
      {"empty file", Bytes(), 0, true},
      {"two hulls", Bytes().Count(1).Point(1, 2, 3).Count(2).Point(0, 0, 0).Point(1, 1, 1), 2, true},
      {"unused w may be anything", Bytes().Count(1).Point(1, 2, 3, nan), 1, true},
      {"zero count", Bytes().Count(1).Point(1, 2, 3).Count(0), 1, false},
      {"negative count", Bytes().Count(-1).Point(1, 2, 3), 0, false},
      {"count past the end", Bytes().Count(1).Point(1, 2, 3).Count(2).Point(1, 2, 3), 1, false},
      {"largest count", Bytes().Count(INT32_MAX).Point(1, 2, 3), 0, false},
      {"tail shorter than a count", Bytes().Count(1).Point(1, 2, 3).Raw(3), 1, false},
      {"point cut short", Bytes().Count(1).Raw(15), 0, false},
      {"not-a-number coordinate", Bytes().Count(1).Point(1, 2, 3).Count(1).Point(nan, 0, 0), 1, false},
      {"infinite coordinate", Bytes().Count(1).Point(0, INFINITY, 0), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const objPhyHulls read = objPhyHulls::Parse(c.bytes.data.data(), c.bytes.data.size());
    EXPECT_EQ(read.hulls.size(), c.hulls);
    EXPECT_EQ(read.valid, c.valid);
  }
  const Bytes two = Bytes().Count(1).Point(1, 2, 3).Count(2).Point(4, 5, 6).Point(7, 8, 9);
  const objPhyHulls read = objPhyHulls::Parse(two.data.data(), two.data.size());
  ASSERT_EQ(read.hulls.size(), 2u);
  EXPECT_EQ(read.hulls[1], (std::vector<float>{4, 5, 6, 0, 7, 8, 9, 0}));
}

}  // namespace
