#pragma once
// The resources scripts load through the graphics module: opaque handles that are never
// freed while the game runs. Every creation call makes a new handle, even for a file loaded
// before; the engine's own caches share the texture or mesh inside.
#include <irrlicht.h>

#include <string>

#include "binding/gmResourceHandle.h"

class graTexture : public gmResourceHandle {
 public:
  static constexpr int kHandleKind = GM_HANDLE_TEXTURE;
  explicit graTexture(irr::video::ITexture* a_texture) : gmResourceHandle(kHandleKind), texture(a_texture) {}
  // Null when the file could not be loaded.
  irr::video::ITexture* texture;
};

class graMesh : public gmResourceHandle {
 public:
  static constexpr int kHandleKind = GM_HANDLE_MESH;
  explicit graMesh(irr::scene::IAnimatedMesh* a_mesh) : gmResourceHandle(kHandleKind), mesh(a_mesh) {}
  // Null when the file could not be loaded.
  irr::scene::IAnimatedMesh* mesh;
};

// One line of on-screen text, drawn every frame at its pixel position in the font read
// from the file `font`.
class graText : public gmResourceHandle {
 public:
  static constexpr int kHandleKind = GM_HANDLE_TEXT;
  graText(const char* a_caption, int a_x, int a_y, const char* a_font)
      : gmResourceHandle(kHandleKind), caption(a_caption), x(a_x), y(a_y), font(a_font) {}
  std::string caption;
  int x;
  int y;
  std::string font;
  irr::u32 color = 0xFFFFFFFF;  // opaque white until SetTextColor
};
