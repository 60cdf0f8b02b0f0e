#include "graphics/objGraMesh.h"

#include <irrlicht.h>

#include "binding/gConsole.h"
#include "binding/gmNativeType.h"
#include "graphics/graResources.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraMesh::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraMesh> type(a_machine, "_ObjGraMesh");
  type.Method("Texture", &objGraMesh::Texture);
  type.Method("Position", &objGraMesh::Position);
  type.Method("Animation", &objGraMesh::Animation);
  type.Method("AnimationLoop", &objGraMesh::AnimationLoop);
  type.Method("AnimationSpeed", &objGraMesh::AnimationSpeed);
  type.Method("Transparency", &objGraMesh::Transparency);
  return type.Register();
}

objGraMesh::objGraMesh(const char* a_name, objGraphics* a_owner, graMesh* a_source)
    : name(a_name ? a_name : ""), owner(a_owner), source(a_source) {
  node = owner->sceneGraphics->sceneManager->addAnimatedMeshSceneNode(source->mesh, owner->root, -1);
  node->setMaterialFlag(video::EMF_LIGHTING, true);
  node->setMaterialType(video::EMT_SOLID);
  node->setMaterialFlag(video::EMF_NORMALIZE_NORMALS, true);
}

objGraMesh::~objGraMesh() {
  CutWrappers();
  node->remove();
}

void objGraMesh::Texture(graTexture* a_texture) {
  if (!a_texture || !a_texture->texture) {
    gConsole::Line("Missing texture");
    return;
  }
  node->setMaterialTexture(0, a_texture->texture);
}

void objGraMesh::Position(float a_x, float a_y, float a_z) { node->setPosition(core::vector3df(a_x, a_y, a_z)); }

void objGraMesh::Animation(const char* a_name) { node->setMD2Animation(a_name ? a_name : ""); }

void objGraMesh::AnimationLoop(int a_loop) { node->setLoopMode(a_loop != 0); }

void objGraMesh::AnimationSpeed(float a_framesPerSecond) { node->setAnimationSpeed(a_framesPerSecond); }

void objGraMesh::Transparency(int a_mode) {
  static const video::E_MATERIAL_TYPE types[] = {video::EMT_SOLID, video::EMT_TRANSPARENT_ADD_COLOR,
                                                 video::EMT_TRANSPARENT_ALPHA_CHANNEL};
  if (a_mode >= 0 && a_mode <= 2) node->setMaterialType(types[a_mode]);
}
