#include "graphics/objGraLight.h"

#include <irrlicht.h>

#include "binding/gmNativeType.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraLight::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraLight> type(a_machine, "_ObjGraLight");
  type.Method("AmbientColor", &objGraLight::AmbientColor);
  type.Method("DiffuseColor", &objGraLight::DiffuseColor);
  type.Method("SpecularColor", &objGraLight::SpecularColor);
  type.Method<float>("Radius", &objGraLight::Radius);
  type.Method<void, float>("Radius", &objGraLight::Radius);
  return type.Register();
}

objGraLight::objGraLight(const char* a_name, objGraphics* a_owner) : name(a_name ? a_name : ""), owner(a_owner) {
  node = owner->sceneGraphics->sceneManager->addLightSceneNode(owner->root, core::vector3df(0, 0, 0),
                                                               video::SColorf(1.0f, 1.0f, 1.0f, 1.0f), 100.0f, -1);
  node->getLightData().SpecularColor = video::SColorf(0.0f, 0.0f, 0.0f, 1.0f);
}

objGraLight::~objGraLight() {
  CutWrappers();
  node->remove();
}

void objGraLight::AmbientColor(float a_red, float a_green, float a_blue, float a_alpha) {
  node->getLightData().AmbientColor = video::SColorf(a_red, a_green, a_blue, a_alpha);
}

void objGraLight::DiffuseColor(float a_red, float a_green, float a_blue, float a_alpha) {
  node->getLightData().DiffuseColor = video::SColorf(a_red, a_green, a_blue, a_alpha);
}

void objGraLight::SpecularColor(float a_red, float a_green, float a_blue, float a_alpha) {
  node->getLightData().SpecularColor = video::SColorf(a_red, a_green, a_blue, a_alpha);
}

float objGraLight::Radius() { return node->getRadius(); }

// The node's own setter: the driver reads the range from the attenuation it derives.
void objGraLight::Radius(float a_radius) { node->setRadius(a_radius); }
