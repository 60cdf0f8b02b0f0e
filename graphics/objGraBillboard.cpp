#include "graphics/objGraBillboard.h"

#include <irrlicht.h>

#include "binding/gmNativeType.h"
#include "graphics/graConvert.h"
#include "graphics/graEffect.h"
#include "graphics/graResources.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraBillboard::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraBillboard> type(a_machine, "_ObjGraBillboard");
  type.Method("Texture", &objGraBillboard::Texture);
  type.Method("TopColor", &objGraBillboard::TopColor);
  type.Method("BottomColor", &objGraBillboard::BottomColor);
  type.Method("Size", &objGraBillboard::Size);
  return type.Register();
}

objGraBillboard::objGraBillboard(const char* a_name, objGraphics* a_owner)
    : name(a_name ? a_name : ""), owner(a_owner) {
  node = owner->sceneGraphics->sceneManager->addBillboardSceneNode(
      owner->root, core::dimension2d<f32>(10.0f, 10.0f), core::vector3df(0, 0, 0), -1, 0xFFFFFFFF, 0xFFFFFFFF);
  graEffectMaterials(node);
}

objGraBillboard::~objGraBillboard() {
  CutWrappers();
  node->remove();
}

void objGraBillboard::Texture(graTexture* a_texture) { graSetTexture(node, a_texture); }

void objGraBillboard::TopColor(float a_red, float a_green, float a_blue, float a_alpha) {
  video::SColor top, bottom;
  node->getColor(top, bottom);
  node->setColor(video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha)), bottom);
}

void objGraBillboard::BottomColor(float a_red, float a_green, float a_blue, float a_alpha) {
  video::SColor top, bottom;
  node->getColor(top, bottom);
  node->setColor(top, video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha)));
}

void objGraBillboard::Size(float a_width, float a_height) { node->setSize(core::dimension2d<f32>(a_width, a_height)); }
