#include "graphics/graEffect.h"

#include <irrlicht.h>

#include "binding/gConsole.h"
#include "graphics/graResources.h"

using namespace irr;

void graEffectMaterials(scene::ISceneNode* a_node) {
  a_node->setMaterialFlag(video::EMF_LIGHTING, false);
  a_node->setMaterialType(video::EMT_TRANSPARENT_ALPHA_CHANNEL);
  if (a_node->getMaterialCount() > 0) a_node->getMaterial(0).MaterialTypeParam = 1.0f / 255.0f;
}

void graSetTexture(scene::ISceneNode* a_node, graTexture* a_texture) {
  if (!a_texture || !a_texture->texture) {
    gConsole::Line("Missing texture");
    return;
  }
  a_node->setMaterialTexture(0, a_texture->texture);
}
