#include "graphics/objGraParticles.h"

#include <irrlicht.h>

#include <algorithm>
#include <cmath>

#include "binding/gmNativeType.h"
#include "graphics/graConvert.h"
#include "graphics/graEffect.h"
#include "graphics/graResources.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraParticles::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraParticles> type(a_machine, "_ObjGraParticles");
  type.Method("Position", &objGraParticles::Position);
  type.Method("Scale", &objGraParticles::Scale);
  type.Method("Size", &objGraParticles::Size);
  type.Method("Texture", &objGraParticles::Texture);
  type.Method("Gravity", &objGraParticles::Gravity);
  type.Method("TimeForceLost", &objGraParticles::TimeForceLost);
  type.Method("FadeOutTime", &objGraParticles::FadeOutTime);
  type.Method("TargetColor", &objGraParticles::TargetColor);
  type.Method<void, float, float, float>("Direction", &objGraParticles::Direction);
  type.Method<void, const gVector3&>("Direction", &objGraParticles::Direction);
  type.Method("MinStartColor", &objGraParticles::MinStartColor);
  type.Method("MaxStartColor", &objGraParticles::MaxStartColor);
  type.Method("MinPerSecond", &objGraParticles::MinPerSecond);
  type.Method("MaxPerSecond", &objGraParticles::MaxPerSecond);
  type.Method("MaxAngleDegrees", &objGraParticles::MaxAngleDegrees);
  type.Method("MinLifeTime", &objGraParticles::MinLifeTime);
  type.Method("MaxLifeTime", &objGraParticles::MaxLifeTime);
  return type.Register();
}

objGraParticles::objGraParticles(const char* a_name, objGraphics* a_owner)
    : name(a_name ? a_name : ""), owner(a_owner) {
  node = owner->sceneGraphics->sceneManager->addParticleSystemSceneNode(false, owner->root, -1);
  graEffectMaterials(node);
  // Start colours with alpha 0: particles show only through their texture's alpha until a
  // script gives them colours.
  emitter = node->createBoxEmitter(core::aabbox3df(-10, 28, -10, 10, 30, 10), core::vector3df(0, 0.05f, 0), 10, 20,
                                   video::SColor(0x00FFFFFF), video::SColor(0x00FFFFFF), 2000, 4000, 30);
  node->setEmitter(emitter);
  emitter->drop();  // the node holds it
  fadeOut = node->createFadeOutParticleAffector(video::SColor(0), 1000);
  node->addAffector(fadeOut);
  fadeOut->drop();
  gravity = node->createGravityAffector(core::vector3df(0, -0.03f, 0), 1000.0f);
  node->addAffector(gravity);
  gravity->drop();
}

objGraParticles::~objGraParticles() {
  CutWrappers();
  node->removeAllAffectors();
  node->remove();
}

void objGraParticles::Position(float a_x, float a_y, float a_z) { node->setPosition(core::vector3df(a_x, a_y, a_z)); }

void objGraParticles::Scale(float a_x, float a_y, float a_z) { node->setScale(core::vector3df(a_x, a_y, a_z)); }

void objGraParticles::Size(float a_width, float a_height) {
  emitter->setMinStartSize(core::dimension2df(a_width, a_height));
  emitter->setMaxStartSize(core::dimension2df(a_width, a_height));
}

void objGraParticles::Texture(graTexture* a_texture) { graSetTexture(node, a_texture); }

void objGraParticles::Gravity(float a_x, float a_y, float a_z) { gravity->setGravity(core::vector3df(a_x, a_y, a_z)); }

// The affector divides a particle's age by this time; 0 would make its first position NaN.
void objGraParticles::TimeForceLost(float a_milliseconds) {
  gravity->setTimeForceLost(a_milliseconds > 0.0f ? a_milliseconds : 1e-6f);
}

void objGraParticles::FadeOutTime(float a_milliseconds) {
  const double time = a_milliseconds > 0.0f ? std::min(static_cast<double>(a_milliseconds), 4294967295.0) : 0.0;
  fadeOut->setFadeOutTime(static_cast<u32>(time));
}

void objGraParticles::TargetColor(float a_red, float a_green, float a_blue, float a_alpha) {
  fadeOut->setTargetColor(video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha)));
}

void objGraParticles::Direction(float a_x, float a_y, float a_z) {
  emitter->setDirection(core::vector3df(a_x, a_y, a_z));
}

void objGraParticles::Direction(const gVector3& a_direction) { Direction(a_direction.x, a_direction.y, a_direction.z); }

void objGraParticles::MinStartColor(float a_red, float a_green, float a_blue, float a_alpha) {
  emitter->setMinStartColor(video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha)));
}

void objGraParticles::MaxStartColor(float a_red, float a_green, float a_blue, float a_alpha) {
  emitter->setMaxStartColor(video::SColor(graScriptColor(a_red, a_green, a_blue, a_alpha)));
}

void objGraParticles::MinPerSecond(int a_count) {
  m_minPerSecond = a_count;
  PushRates();
}

void objGraParticles::MaxPerSecond(int a_count) {
  m_maxPerSecond = a_count;
  PushRates();
}

void objGraParticles::MaxAngleDegrees(float a_degrees) {
  const float degrees = std::isnan(a_degrees) ? 0.0f : std::max(-360.0f, std::min(360.0f, a_degrees));
  emitter->setMaxAngleDegrees(static_cast<s32>(degrees));
}

void objGraParticles::MinLifeTime(int a_milliseconds) {
  m_minLifeTime = a_milliseconds;
  PushLifeTimes();
}

void objGraParticles::MaxLifeTime(int a_milliseconds) {
  m_maxLifeTime = a_milliseconds;
  PushLifeTimes();
}

void objGraParticles::PushRates() {
  const int low = std::clamp(std::min(m_minPerSecond, m_maxPerSecond), 0, kMaxPerSecond);
  const int high = std::clamp(std::max(m_minPerSecond, m_maxPerSecond), 0, kMaxPerSecond);
  emitter->setMinParticlesPerSecond(static_cast<u32>(low));
  emitter->setMaxParticlesPerSecond(static_cast<u32>(high));
}

void objGraParticles::PushLifeTimes() {
  emitter->setMinLifeTime(static_cast<u32>(std::max(0, std::min(m_minLifeTime, m_maxLifeTime))));
  emitter->setMaxLifeTime(static_cast<u32>(std::max(0, std::max(m_minLifeTime, m_maxLifeTime))));
}
