// Pictures as bytes for tests of the checked loaders and the load trials: well-formed small
// BMPs and the damaged header that made the engine's own loader throw.
#pragma once

#include <string>

namespace testSupport {

inline void Put16(std::string& a_bytes, size_t a_at, unsigned a_value) {
  a_bytes[a_at] = static_cast<char>(a_value & 0xFF);
  a_bytes[a_at + 1] = static_cast<char>((a_value >> 8) & 0xFF);
}

inline void Put32(std::string& a_bytes, size_t a_at, unsigned a_value) {
  Put16(a_bytes, a_at, a_value & 0xFFFF);
  Put16(a_bytes, a_at + 2, a_value >> 16);
}

// An 8-bit BMP with a palette of a_colours entries, every pixel a_index.
inline std::string Bmp8(int a_width, int a_height, unsigned a_colours, unsigned char a_index) {
  const unsigned row = (static_cast<unsigned>(a_width) + 3) / 4 * 4;
  const unsigned offset = 54 + a_colours * 4;
  std::string bytes(offset + row * static_cast<unsigned>(a_height > 0 ? a_height : 1), '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, static_cast<unsigned>(bytes.size()));
  Put32(bytes, 10, offset);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, static_cast<unsigned>(a_width));
  Put32(bytes, 22, static_cast<unsigned>(a_height));
  Put16(bytes, 26, 1);
  Put16(bytes, 28, 8);
  for (size_t i = offset; i < bytes.size(); ++i) bytes[i] = static_cast<char>(a_index);
  return bytes;
}

// 62 bytes claiming -1 by -1 pixels of 24 bits: the engine's BMP loader throws for the memory.
inline std::string NegativeBmp() {
  std::string bytes(62, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, 62);
  Put32(bytes, 10, 54);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, 0xFFFFFFFFu);
  Put32(bytes, 22, 0xFFFFFFFFu);
  Put16(bytes, 26, 1);
  Put16(bytes, 28, 24);
  return bytes;
}

}  // namespace testSupport
