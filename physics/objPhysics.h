#pragma once
// An object's physics component: one Bullet rigid body whose shape is a compound of named
// primitives (spheres, boxes, capsules) and of hulls read from hull files, and the motion
// controller that steers it before each step. A new body is static, at the origin, without
// primitives; it moves once it has a mass.
//
// Children of the compound are found by their shape, never by a stored position: removing
// a child moves the compound's last child into its place.
#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "binding/gVector3.h"
#include "binding/gmWrappable.h"
#include "scene/gPose.h"
#include "scene/gPtrList.h"

class gmMachineEx;
class sceObject;
class scePhysics;
class objPhySphere;
class objPhyBox;
class objPhyCapsule;
class objPhyCloth;
class objPhyPrimitive;

class objPhysics : public gmWrappable {
 public:
  // The constructor of _ObjPhysics(core): the object's component, made on first use; a
  // script error when the object's scene has no physics world.
  static objPhysics* Make(sceObject* a_object);
  static int RegisterScriptType(gmMachineEx* a_machine);
  // Scripts' numbers reach Bullet only when finite: one not-a-number or infinity in a pose,
  // force, size or setting spreads through the body's state until Bullet drops the body
  // from the simulation for good (a direction normalised from a zero vector is enough).
  // Setters given such a number change nothing.
  template <typename... T>
  static bool Finite(T... a_values) {
    return (std::isfinite(static_cast<float>(a_values)) && ...);
  }

  objPhysics(sceObject* a_object, scePhysics* a_physics);
  ~objPhysics();
  objPhysics(const objPhysics&) = delete;
  objPhysics& operator=(const objPhysics&) = delete;

  // The body's world transform and linear velocity, for the graphics node and the sound
  // sources that follow it.
  gPose Pose() const;
  // Before every step: the cloths (of static bodies too), then motion control and gravity
  // for a dynamic body.
  void PreStep();

  gVector3 Position() const;
  void Position(float a_x, float a_y, float a_z);
  void Position(const gVector3& a_position);
  void YawPitchRoll(float a_yaw, float a_pitch, float a_roll);
  void AxisAngle(const gVector3& a_axis, float a_angle);
  gVector3 Forward() const;
  gVector3 Up() const;
  gVector3 Right() const;
  gVector3 LinearVelocity() const;
  void AddForce(const gVector3& a_force);
  void AddTorque(const gVector3& a_torque);
  void AddPmap(const char* a_file);
  float Mass() const;
  void Mass(float a_mass);

  void RightTarget(float a_x, float a_y, float a_z) {
    if (Finite(a_x, a_y, a_z)) rightTarget.setValue(a_x, a_y, a_z);
  }
  void RightTarget(const gVector3& a_v) { RightTarget(a_v.x, a_v.y, a_v.z); }
  void UpTarget(float a_x, float a_y, float a_z) {
    if (Finite(a_x, a_y, a_z)) upTarget.setValue(a_x, a_y, a_z);
  }
  void UpTarget(const gVector3& a_v) { UpTarget(a_v.x, a_v.y, a_v.z); }
  void ForwardTarget(float a_x, float a_y, float a_z) {
    if (Finite(a_x, a_y, a_z)) forwardTarget.setValue(a_x, a_y, a_z);
  }
  void ForwardTarget(const gVector3& a_v) { ForwardTarget(a_v.x, a_v.y, a_v.z); }
  // Stored as a unit direction; the zero vector stays zero (a brake).
  void VelocityTarget(float a_x, float a_y, float a_z);
  void VelocityTarget(const gVector3& a_v) { VelocityTarget(a_v.x, a_v.y, a_v.z); }
  float RightPower() const { return rightPower; }
  void RightPower(float a_p) { rightPower = Finite(a_p) ? a_p : rightPower; }
  float UpPower() const { return upPower; }
  void UpPower(float a_p) { upPower = Finite(a_p) ? a_p : upPower; }
  float ForwardPower() const { return forwardPower; }
  void ForwardPower(float a_p) { forwardPower = Finite(a_p) ? a_p : forwardPower; }
  float VelocityPower() const { return velocityPower; }
  void VelocityPower(float a_p) { velocityPower = Finite(a_p) ? a_p : velocityPower; }
  float VelocitySpeed() const { return velocitySpeed; }
  void VelocitySpeed(float a_s) { velocitySpeed = Finite(a_s) ? a_s : velocitySpeed; }

  void Damping(float a_linear, float a_angular) {
    if (Finite(a_linear, a_angular)) body->setDamping(a_linear, a_angular);
  }
  void Friction(float a_friction) {
    if (Finite(a_friction)) body->setFriction(a_friction);
  }
  void Restitution(float a_restitution) {
    if (Finite(a_restitution)) body->setRestitution(a_restitution);
  }
  // Nonzero: contacts are still reported but get no response. Zero clears every collision
  // flag, the static one included, until the next Mass(0).
  void Phantom(int a_on);
  // The empty name switches collision reports of this body off.
  void ScriptCollision(const char* a_function) { collisionFunction = a_function ? a_function : ""; }

  void NewSphere(const char* a_name);
  void NewBox(const char* a_name);
  void NewCapsule(const char* a_name);
  objPhySphere* Sphere(const char* a_name);
  objPhyBox* Box(const char* a_name);
  objPhyCapsule* Capsule(const char* a_name);
  void DelSphere(const char* a_name);
  void DelBox(const char* a_name);
  void DelCapsule(const char* a_name);
  void NewCloth(const char* a_name);
  objPhyCloth* Cloth(const char* a_name);
  void DelCloth(const char* a_name);

  // A primitive's size or offset changed: its child's bounds in the compound, the compound's
  // own bounds (which may shrink) and the body's broadphase box follow.
  void RefreshChild(objPhyPrimitive* a_record);
  // The body's broadphase box after a move, so a ray cast right after it sees the body there.
  void RefreshAabb();
  // Takes the body out of its world for good (the component or the world is going away).
  void Detach();
  // A waiting body's entry into the broadphase, exactly as it would have happened when it
  // was made and at every move since (scePhysics::Admit).
  void Enter();

  gPtrList spheres;
  gPtrList boxes;
  gPtrList capsules;
  gPtrList cloths;
  btDefaultMotionState motionState;
  btCompoundShape shape;
  btRigidBody* body = nullptr;
  scePhysics* physics = nullptr;
  btVector3 rightTarget{0, 0, 0};
  btVector3 upTarget{0, 0, 0};
  btVector3 forwardTarget{0, 0, 0};
  btVector3 velocityTarget{0, 0, 0};
  float rightPower = 0;
  float upPower = 0;
  float forwardPower = 0;
  float velocityPower = 0;
  float velocitySpeed = 0;
  sceObject* object = nullptr;
  std::string collisionFunction;

 private:
  void AddPrimitive(gPtrList& a_list, objPhyPrimitive* a_record);
  objPhyPrimitive* Find(gPtrList& a_list, const char* a_name, const char* a_kind);
  // The index of the first cloth named a_name in `cloths`, or -1.
  int FindCloth(const char* a_name) const;
  void Delete(gPtrList& a_list, const char* a_name, const char* a_kind);
  void ApplyMass(float a_mass);
  // The mass the body has now, whatever a held Mass(m) will give it.
  float BodyMass() const;
  // In the broadphase group its mass calls for: static bodies do not pair with one another.
  void AddToWorld();
  void RemoveFromWorld();
  // A new body waits to enter the world as a static one (scePhysics::Admit). Its moves are
  // noted meanwhile; when it leaves or changes group before entering, the static proxy it
  // would have had is never made, and only what that proxy would have left behind in the
  // broadphase (its id, its pair count, the clean-up request) is written there.
  void Wait();
  void Forgo();
  bool Waiting() const;
  // Out of the world and in again: Bullet lists a body among its moving ones only when it is
  // added, and builds its proxy from the shape's bounds there.
  void Readd();
  void SetTransform(const btTransform& a_transform);
  // a_edit now, or held until the end of a step in progress (the world's Edit); wrapped
  // only when held, as nearly every edit runs at once.
  template <class F>
  void Held(F a_edit);

  // Hull shapes read by AddPmap; they have no records.
  std::vector<btCollisionShape*> m_hulls;
  // Mass(m) inside a step answers Mass() at once; the body gets it after the step.
  bool m_massHeld = false;
  float m_heldInverseMass = 0;
  bool m_inWorld = false;
  // Where the component last was in its world's `bodies` (gPtrList::RemoveFrom).
  int m_slot = -1;
  // While waiting: the bounds the body entered with, then every bounds refresh since.
  struct Bounds {
    btVector3 min, max;
  };
  Bounds m_entryBounds;
  std::vector<Bounds> m_moves;
};
