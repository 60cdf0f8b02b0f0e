#pragma once
// A billboard of an object (script type _ObjGraBillboard): a rectangle that always faces the
// camera, 10 by 10 units and white at both edges when made.
#include <string>

#include "binding/gmWrappable.h"

namespace irr {
namespace scene {
class IBillboardSceneNode;
}
}  // namespace irr
class gmMachineEx;
class graTexture;
class objGraphics;

class objGraBillboard : public gmWrappable {
 public:
  static int RegisterScriptType(gmMachineEx* a_machine);

  objGraBillboard(const char* a_name, objGraphics* a_owner);
  ~objGraBillboard();
  objGraBillboard(const objGraBillboard&) = delete;
  objGraBillboard& operator=(const objGraBillboard&) = delete;

  void Texture(graTexture* a_texture);
  void TopColor(float a_red, float a_green, float a_blue, float a_alpha);
  void BottomColor(float a_red, float a_green, float a_blue, float a_alpha);
  void Size(float a_width, float a_height);

  std::string name;
  irr::scene::IBillboardSceneNode* node = nullptr;
  objGraphics* owner;
};
