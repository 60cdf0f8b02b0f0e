#include "graphics/objGraBeam.h"

#include <irrlicht.h>

#include "binding/gmNativeType.h"
#include "graphics/CBeamNode.h"
#include "graphics/graConvert.h"
#include "graphics/graEffect.h"
#include "graphics/graResources.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraBeam::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraBeam> type(a_machine, "_ObjGraBeam");
  type.Method("Texture", &objGraBeam::Texture);
  type.Method("Color", &objGraBeam::Color);
  type.Method("Size", &objGraBeam::Size);
  type.Method("From", &objGraBeam::From);
  // A call without arguments takes the first overload that matches, so the getter leads.
  type.Method<gVector3>("To", &objGraBeam::To);
  type.Method<void, float, float, float>("To", &objGraBeam::To);
  type.Method<void, const gVector3&>("To", &objGraBeam::To);
  return type.Register();
}

// The scene graph holds the node through its parent, and the component holds it too.
objGraBeam::objGraBeam(const char* a_name, objGraphics* a_owner) : name(a_name ? a_name : ""), owner(a_owner) {
  node = new CBeamNode(owner->root, owner->sceneGraphics->sceneManager);
  graEffectMaterials(node);
}

objGraBeam::~objGraBeam() {
  CutWrappers();
  node->remove();
  node->drop();
}

void objGraBeam::Texture(graTexture* a_texture) { graSetTexture(node, a_texture); }

void objGraBeam::Color(float a_red, float a_green, float a_blue, float a_alpha) {
  node->color = video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha));
}

void objGraBeam::Size(float a_width) { node->width = a_width; }

void objGraBeam::From(float a_x, float a_y, float a_z) { node->SetEnds(core::vector3df(a_x, a_y, a_z), node->end); }

void objGraBeam::To(float a_x, float a_y, float a_z) { node->SetEnds(node->start, core::vector3df(a_x, a_y, a_z)); }

void objGraBeam::To(const gVector3& a_end) { To(a_end.x, a_end.y, a_end.z); }

gVector3 objGraBeam::To() { return gVector3(node->end.X, node->end.Y, node->end.Z); }
