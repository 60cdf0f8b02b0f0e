#pragma once
// A small bitmap font for the labels of the physics debug drawing. Draw writes with glBitmap
// at the current raster position (which the caller sets, with its colour); a world's camera
// pass copies the same glyphs into a texture and places them as glBitmap would.
#include <string>

class BMF_BitmapFont {
 public:
  // One glyph: its bitmap (rows bottom up, one byte per row, leftmost pixel in the high bit)
  // starts at `offset` in the shared byte array, or offset is -1 for a glyph drawn as space.
  struct Glyph {
    signed char width, height, xOrigin, yOrigin, advance;
    int offset;
  };

  // Font 0, the one built into the program: digits and letters (capitals drawn as small
  // letters), a few signs; every other code only advances.
  static const BMF_BitmapFont& Get(int a_font = 0);

  // Draws a_text from the current raster position onwards.
  void Draw(const char* a_text) const;

  Glyph glyphs[256];
  std::string bitmaps;
};
