#pragma once
// A mesh shown by an object (script type _ObjGraMesh): lit, solid, with normals
// renormalised so that the object's scale does not darken it.
#include <string>

#include "binding/gmWrappable.h"

namespace irr {
namespace scene {
class IAnimatedMeshSceneNode;
}
}  // namespace irr
class gmMachineEx;
class graMesh;
class graTexture;
class objGraphics;

class objGraMesh : public gmWrappable {
 public:
  static int RegisterScriptType(gmMachineEx* a_machine);

  // a_source must hold a mesh (objGraphics::NewMesh checks).
  objGraMesh(const char* a_name, objGraphics* a_owner, graMesh* a_source);
  ~objGraMesh();
  objGraMesh(const objGraMesh&) = delete;
  objGraMesh& operator=(const objGraMesh&) = delete;

  // A handle without a texture changes nothing ("Missing texture").
  void Texture(graTexture* a_texture);
  // Relative to the object; rotation and scale stay identity.
  void Position(float a_x, float a_y, float a_z);
  // An animation of an MD2 mesh; other meshes and unknown names change nothing.
  void Animation(const char* a_name);
  void AnimationLoop(int a_loop);
  void AnimationSpeed(float a_framesPerSecond);
  // 0 solid, 1 additive, 2 by the texture's alpha channel; other values change nothing.
  void Transparency(int a_mode);

  std::string name;
  irr::scene::IAnimatedMeshSceneNode* node = nullptr;
  objGraphics* owner;
  graMesh* source;
};
