#pragma once
// A particle system of an object (script type _ObjGraParticles): a box emitter above the
// object's origin with a fade-out and a gravity affector, set up by its setters. Times are
// in milliseconds, speeds in units per millisecond.
//
// The engine's emitter takes unsigned counts and times and computes max - min unsigned, so
// the setters keep the script's values and hand it only sound ones: negative counts and
// times are 0, each range is passed in order, and counts stop at kMaxPerSecond (a system
// holds at most 16250 live particles, so more than that many per frame only costs memory).
#include <string>

#include "binding/gVector3.h"
#include "binding/gmWrappable.h"

namespace irr {
namespace scene {
class IParticleBoxEmitter;
class IParticleFadeOutAffector;
class IParticleGravityAffector;
class IParticleSystemSceneNode;
}  // namespace scene
}  // namespace irr
class gmMachineEx;
class graTexture;
class objGraphics;

class objGraParticles : public gmWrappable {
 public:
  static constexpr int kMaxPerSecond = 500000;

  static int RegisterScriptType(gmMachineEx* a_machine);

  objGraParticles(const char* a_name, objGraphics* a_owner);
  // Affectors first, then the node with its particles.
  ~objGraParticles();
  objGraParticles(const objGraParticles&) = delete;
  objGraParticles& operator=(const objGraParticles&) = delete;

  void Position(float a_x, float a_y, float a_z);
  void Scale(float a_x, float a_y, float a_z);
  // The start size of particles emitted from now on.
  void Size(float a_width, float a_height);
  void Texture(graTexture* a_texture);
  void Gravity(float a_x, float a_y, float a_z);
  // Zero, negative or NaN: full gravity from a particle's first millisecond.
  void TimeForceLost(float a_milliseconds);
  void FadeOutTime(float a_milliseconds);
  void TargetColor(float a_red, float a_green, float a_blue, float a_alpha);
  void Direction(float a_x, float a_y, float a_z);
  void Direction(const gVector3& a_direction);
  void MinStartColor(float a_red, float a_green, float a_blue, float a_alpha);
  void MaxStartColor(float a_red, float a_green, float a_blue, float a_alpha);
  void MinPerSecond(int a_count);
  void MaxPerSecond(int a_count);
  // Whole degrees toward zero, within one turn either way (NaN is 0).
  void MaxAngleDegrees(float a_degrees);
  void MinLifeTime(int a_milliseconds);
  void MaxLifeTime(int a_milliseconds);

  std::string name;
  irr::scene::IParticleSystemSceneNode* node = nullptr;
  irr::scene::IParticleBoxEmitter* emitter = nullptr;
  irr::scene::IParticleFadeOutAffector* fadeOut = nullptr;
  irr::scene::IParticleGravityAffector* gravity = nullptr;
  objGraphics* owner;

 private:
  void PushRates();
  void PushLifeTimes();

  // As the scripts last gave them.
  int m_minPerSecond = 10;
  int m_maxPerSecond = 20;
  int m_minLifeTime = 2000;
  int m_maxLifeTime = 4000;
};
