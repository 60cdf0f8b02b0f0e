#pragma once
// A dynamic light of an object (script type _ObjGraLight): white, radius 100, no specular
// colour until a script says otherwise. Colours stay floats.
#include <string>

#include "binding/gmWrappable.h"

namespace irr {
namespace scene {
class ILightSceneNode;
}
}  // namespace irr
class gmMachineEx;
class objGraphics;

class objGraLight : public gmWrappable {
 public:
  static int RegisterScriptType(gmMachineEx* a_machine);

  objGraLight(const char* a_name, objGraphics* a_owner);
  ~objGraLight();
  objGraLight(const objGraLight&) = delete;
  objGraLight& operator=(const objGraLight&) = delete;

  void AmbientColor(float a_red, float a_green, float a_blue, float a_alpha);
  void DiffuseColor(float a_red, float a_green, float a_blue, float a_alpha);
  void SpecularColor(float a_red, float a_green, float a_blue, float a_alpha);
  float Radius();
  void Radius(float a_radius);

  std::string name;
  irr::scene::ILightSceneNode* node = nullptr;
  objGraphics* owner;
};
