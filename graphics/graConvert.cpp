#include "graphics/graConvert.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>

irr::u32 graColorChannel(float a_value) {
  double scaled = static_cast<double>(a_value) * 255.0;
  if (std::isnan(scaled)) return 0;
  if (scaled > INT_MAX) scaled = INT_MAX;
  if (scaled < INT_MIN) scaled = INT_MIN;
  return static_cast<irr::u32>(static_cast<int>(scaled)) & 0xFFu;
}

irr::u32 graScriptColor(float a_red, float a_green, float a_blue, float a_alpha) {
  return graColorChannel(a_alpha) << 24 | graColorChannel(a_red) << 16 | graColorChannel(a_green) << 8 |
         graColorChannel(a_blue);
}

std::wstring graWideText(const char* a_text) {
  std::wstring wide;
  if (!a_text) return wide;
  size_t left = std::strlen(a_text);
  const char* p = a_text;
  std::mbstate_t state{};
  while (left > 0) {
    wchar_t c = 0;
    size_t used = std::mbrtowc(&c, p, left, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
      c = static_cast<wchar_t>(static_cast<unsigned char>(*p));
      used = 1;
      state = std::mbstate_t{};
    }
    wide.push_back(c);
    p += used;
    left -= used;
  }
  return wide;
}
