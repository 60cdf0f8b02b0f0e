#include "physics/objPhysics.h"

#include <irrlicht.h>

#include <cstring>
#include <utility>

#include "binding/gConsole.h"
#include "binding/gmNativeType.h"
#include "physics/objPhyCloth.h"
#include "physics/objPhyHulls.h"
#include "physics/objPhyPrimitives.h"
#include "physics/scePhysics.h"
#include "platform/gFileSystem.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

namespace {

const float kDegrees = 0.017453292f;

gVector3 ToScript(const btVector3& a_v) { return gVector3(a_v.x(), a_v.y(), a_v.z()); }

// One axis of the motion controller: the angular velocity blended toward turning the axis
// a_axis onto a_target (their cross product), by a_power.
btVector3 AxisTerm(const btVector3& a_w, const btVector3& a_axis, const btVector3& a_target, float a_power) {
  return a_w + (a_axis.cross(a_target) - a_w) * a_power;
}

bool ReadWholeFile(irr::io::IReadFile* a_file, std::vector<unsigned char>& a_bytes) {
  const long size = a_file->getSize();
  if (size <= 0) return true;
  a_bytes.resize(static_cast<size_t>(size));
  size_t at = 0;
  while (at < a_bytes.size()) {
    const irr::s32 got = a_file->read(a_bytes.data() + at, static_cast<irr::u32>(a_bytes.size() - at));
    if (got <= 0) break;
    at += static_cast<size_t>(got);
  }
  a_bytes.resize(at);
  return true;
}

}  // namespace

template <class F>
void objPhysics::Held(F a_edit) {
  if (physics && physics->Stepping())
    physics->Edit(std::function<void()>(std::move(a_edit)));
  else
    a_edit();
}

// ---- Construction and registration ----------------------------------------------------------

objPhysics* objPhysics::Make(sceObject* a_object) {
  if (!a_object) return nullptr;
  if (a_object->physics) return a_object->physics;
  scePhysics* world = a_object->scene ? a_object->scene->physics : nullptr;
  if (!world) {
    if (gmMachineEx* machine = gScene::machine) {
      machine->GetLog().LogEntry(
          "_ObjPhysics: the object \"%.40s\" is in no scene with a physics world; it gets no physics",
          a_object->name.c_str());
      machine->FailCurrentCall();
    }
    return nullptr;
  }
  return new objPhysics(a_object, world);
}

int objPhysics::RegisterScriptType(gmMachineEx* a_machine) {
  typedef objPhysics P;
  gmNativeType<P> type(a_machine, "_ObjPhysics");
  type.FactoryConstructor(&P::Make);
  type.Method<gVector3>("Position", &P::Position)
      .Method<void, float, float, float>("Position", &P::Position)
      .Method<void, const gVector3&>("Position", &P::Position);
  type.Method("YawPitchRoll", &P::YawPitchRoll).Method("AxisAngle", &P::AxisAngle);
  type.Method("Forward", &P::Forward).Method("Up", &P::Up).Method("Right", &P::Right);
  type.Method("LinearVelocity", &P::LinearVelocity);
  type.Method("AddForce", &P::AddForce).Method("AddTorque", &P::AddTorque).Method("AddPmap", &P::AddPmap);
  type.Method<float>("Mass", &P::Mass).Method<void, float>("Mass", &P::Mass);
  type.Method<void, float, float, float>("RightTarget", &P::RightTarget)
      .Method<void, const gVector3&>("RightTarget", &P::RightTarget);
  type.Method<void, float, float, float>("UpTarget", &P::UpTarget)
      .Method<void, const gVector3&>("UpTarget", &P::UpTarget);
  type.Method<void, float, float, float>("ForwardTarget", &P::ForwardTarget)
      .Method<void, const gVector3&>("ForwardTarget", &P::ForwardTarget);
  type.Method<void, float, float, float>("VelocityTarget", &P::VelocityTarget)
      .Method<void, const gVector3&>("VelocityTarget", &P::VelocityTarget);
  type.Method<float>("RightPower", &P::RightPower).Method<void, float>("RightPower", &P::RightPower);
  type.Method<float>("UpPower", &P::UpPower).Method<void, float>("UpPower", &P::UpPower);
  type.Method<float>("ForwardPower", &P::ForwardPower).Method<void, float>("ForwardPower", &P::ForwardPower);
  type.Method<float>("VelocityPower", &P::VelocityPower).Method<void, float>("VelocityPower", &P::VelocityPower);
  type.Method<float>("VelocitySpeed", &P::VelocitySpeed).Method<void, float>("VelocitySpeed", &P::VelocitySpeed);
  type.Method("Damping", &P::Damping).Method("Friction", &P::Friction).Method("Restitution", &P::Restitution);
  type.Method("Phantom", &P::Phantom).Method("ScriptCollision", &P::ScriptCollision);
  type.Method("NewSphere", &P::NewSphere).Method("NewBox", &P::NewBox).Method("NewCapsule", &P::NewCapsule);
  type.Method("Sphere", &P::Sphere).Method("Box", &P::Box).Method("Capsule", &P::Capsule);
  type.Method("DelSphere", &P::DelSphere).Method("DelBox", &P::DelBox).Method("DelCapsule", &P::DelCapsule);
  type.Method("NewCloth", &P::NewCloth).Method("Cloth", &P::Cloth).Method("DelCloth", &P::DelCloth);
  return type.Register();
}

objPhysics::objPhysics(sceObject* a_object, scePhysics* a_physics)
    : motionState(btTransform::getIdentity()), physics(a_physics), object(a_object) {
  object->physics = this;
  m_slot = physics->bodies.count;
  physics->bodies.Append(this);
  btRigidBody::btRigidBodyConstructionInfo info(0, &motionState, &shape, btVector3(0, 0, 0));
  info.m_linearDamping = 1.0f / 255.0f;
  info.m_angularDamping = 1.0f / 255.0f;
  info.m_friction = 0.5f;
  info.m_restitution = 0.5f;
  body = new btRigidBody(info);
  body->setUserPointer(this);
  body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_CUSTOM_MATERIAL_CALLBACK |
                          btCollisionObject::CF_STATIC_OBJECT);
  // Never sleeps: a body at rest still reports its contacts every step.
  body->setActivationState(DISABLE_DEACTIVATION);
  physics->Edit([this] { Wait(); });
}

objPhysics::~objPhysics() {
  CutWrappers();
  Detach();
  delete body;
  for (gPtrList* list : {&spheres, &boxes, &capsules}) {
    while (list->count > 0) {
      objPhyPrimitive* record = static_cast<objPhyPrimitive*>(list->Get(list->count - 1));
      list->RemoveAt(list->count - 1);
      delete record;
    }
  }
  for (btCollisionShape* hull : m_hulls) delete hull;
  while (cloths.count > 0) {
    objPhyCloth* cloth = static_cast<objPhyCloth*>(cloths.Get(cloths.count - 1));
    cloths.RemoveAt(cloths.count - 1);
    delete cloth;
  }
}

void objPhysics::Detach() {
  if (!physics) return;
  RemoveFromWorld();
  gPtrList& bodies = physics->bodies;
  const int at = bodies.RemoveFrom(this, m_slot);
  if (at >= 0 && at < bodies.count) static_cast<objPhysics*>(bodies.Get(at))->m_slot = at;
  m_slot = -1;
  physics = nullptr;
}

// ---- World membership -----------------------------------------------------------------------

bool objPhysics::Waiting() const { return physics && physics->entering == this; }

void objPhysics::AddToWorld() {
  if (!physics || m_inWorld || Waiting()) return;
  physics->Admit();
  if (body->getInvMass() == 0) {
    // Static bodies do not pair with one another.
    body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_STATIC_OBJECT);
    physics->world->addRigidBody(body, btBroadphaseProxy::StaticFilter,
                                 btBroadphaseProxy::AllFilter ^ btBroadphaseProxy::StaticFilter);
  } else {
    physics->world->addRigidBody(body, btBroadphaseProxy::DefaultFilter, btBroadphaseProxy::AllFilter);
  }
  m_inWorld = true;
}

void objPhysics::RemoveFromWorld() {
  if (Waiting()) {
    Forgo();
    return;
  }
  if (!physics || !m_inWorld) return;
  physics->Admit();
  physics->world->removeRigidBody(body);
  m_inWorld = false;
}

void objPhysics::Readd() {
  RemoveFromWorld();
  AddToWorld();
}

// A new body is static with the custom-material and static flags, so it would have entered
// with addRigidBody's static path and every refresh would have been a plain setAabb.
void objPhysics::Wait() {
  if (!physics || m_inWorld) return;
  physics->Admit();
  btTransform at = body->getWorldTransform();
  shape.getAabb(at, m_entryBounds.min, m_entryBounds.max);
  m_moves.clear();
  // A new body is usually shaped, sized and placed before it enters: one allocation.
  m_moves.reserve(4);
  physics->entering = this;
}

void objPhysics::Enter() {
  if (!Waiting()) return;
  physics->entering = nullptr;
  // addRigidBody of a static body, with the bounds it had when it was made.
  btCollisionObjectArray& objects = physics->world->getCollisionObjectArray();
  body->setWorldArrayIndex(objects.size());
  objects.push_back(body);
  body->setBroadphaseHandle(physics->broadphase.createProxy(
      m_entryBounds.min, m_entryBounds.max, shape.getShapeType(), body, btBroadphaseProxy::StaticFilter,
      btBroadphaseProxy::AllFilter ^ btBroadphaseProxy::StaticFilter, &physics->dispatcher));
  m_inWorld = true;
  for (const Bounds& move : m_moves)
    physics->broadphase.setAabb(body->getBroadphaseHandle(), move.min, move.max, &physics->dispatcher);
  m_moves.clear();
}

namespace {

// Leaves of the broadphase whose boxes meet a_box: the pairs the tree collider would have
// been asked to make (it counts them whether or not the filters let them in), added to the
// broadphase's count of new pairs. A walk of its own, as Bullet's takes a heap stack for
// every query.
//
// That count is read only by the next step's pair cleanup, which visits the smaller of the
// pairs in the cache and the count (or a share of the cache). Every pair that enters the
// cache before that step adds one to the count, so once the count has reached the pairs in
// the cache, the cleanup visits every pair whatever is added to it: the walk stops there.
void AddMeetings(btDbvtBroadphase& a_broadphase, const btDbvtVolume& a_box) {
  const int room = a_broadphase.m_paircache->getNumOverlappingPairs() - a_broadphase.m_newpairs;
  if (room <= 0) return;
  int count = 0;
  std::vector<const btDbvtNode*> deep;
  for (const btDbvt& set : a_broadphase.m_sets) {
    const btDbvtNode* stack[64];
    int top = 0;
    if (set.m_root) stack[top++] = set.m_root;
    while (top > 0 || !deep.empty()) {
      const btDbvtNode* node;
      if (!deep.empty()) {
        node = deep.back();
        deep.pop_back();
      } else {
        node = stack[--top];
      }
      if (!Intersect(node->volume, a_box)) continue;
      if (node->isleaf()) {
        if (++count >= room) {
          a_broadphase.m_newpairs += count;
          return;
        }
        continue;
      }
      for (const btDbvtNode* child : node->childs) {
        if (top < 64)
          stack[top++] = child;
        else
          deep.push_back(child);
      }
    }
  }
  a_broadphase.m_newpairs += count;
}

}  // namespace

// What the static proxy's life (made, moved by each refresh, destroyed) would have left in
// the broadphase, the pairs aside: its pairs would all have been the last ones of the cache,
// made after everything else, and gone with it.
void objPhysics::Forgo() {
  physics->entering = nullptr;
  btDbvtBroadphase& broadphase = physics->broadphase;
  ++broadphase.m_gid;
  btDbvtVolume leaf = btDbvtVolume::FromMM(m_entryBounds.min, m_entryBounds.max);
  btVector3 lastMin = m_entryBounds.min, lastMax = m_entryBounds.max;
  if (!broadphase.m_deferedcollide) AddMeetings(broadphase, leaf);
  for (const Bounds& move : m_moves) {
    btDbvtVolume box = btDbvtVolume::FromMM(move.min, move.max);
    bool moved = false;
    ++broadphase.m_updates_call;
    if (Intersect(leaf, box)) {
      if (!leaf.Contain(box)) {
        const btVector3 delta = move.min - lastMin;
        btVector3 velocity(((lastMax - lastMin) / 2) * broadphase.m_prediction);
        for (int i = 0; i < 3; ++i)
          if (delta[i] < 0) velocity[i] = -velocity[i];
        box.Expand(btVector3(gDbvtMargin, gDbvtMargin, gDbvtMargin));
        box.SignedExpand(velocity);
        leaf = box;
        moved = true;
      }
    } else {
      leaf = box;
      moved = true;
    }
    lastMin = move.min;
    lastMax = move.max;
    if (moved) {
      ++broadphase.m_updates_done;
      broadphase.m_needcleanup = true;
      if (!broadphase.m_deferedcollide) AddMeetings(broadphase, leaf);
    }
  }
  broadphase.m_needcleanup = true;
  m_moves.clear();
}

void objPhysics::RefreshAabb() {
  Held([this] {
    if (Waiting()) {
      // updateSingleAabb of a static body: the shape's bounds grown by the contact threshold.
      Bounds bounds;
      shape.getAabb(body->getWorldTransform(), bounds.min, bounds.max);
      const btVector3 threshold(gContactBreakingThreshold, gContactBreakingThreshold, gContactBreakingThreshold);
      bounds.min -= threshold;
      bounds.max += threshold;
      m_moves.push_back(bounds);
    } else if (physics && m_inWorld) {
      physics->Admit();
      physics->world->updateSingleAabb(body);
    }
  });
}

void objPhysics::RefreshChild(objPhyPrimitive* a_record) {
  Held([this, a_record] {
    const int index = a_record->ChildIndex();
    if (index < 0) return;
    shape.updateChildTransform(index, a_record->offset, true);
    RefreshAabb();
  });
}

// ---- Pose, pre-step ---------------------------------------------------------------------------

gPose objPhysics::Pose() const {
  gPose pose;
  const btTransform& transform = body->getWorldTransform();
  const btMatrix3x3& basis = transform.getBasis();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) pose.basis[r][c] = basis[r][c];
  const btVector3& origin = transform.getOrigin();
  const btVector3& velocity = body->getLinearVelocity();
  for (int i = 0; i < 3; ++i) {
    pose.origin[i] = origin[i];
    pose.velocity[i] = velocity[i];
  }
  return pose;
}

void objPhysics::PreStep() {
  for (int i = 0; i < cloths.count; ++i) static_cast<objPhyCloth*>(cloths.Get(i))->Step();
  if (body->getCollisionFlags() & btCollisionObject::CF_STATIC_OBJECT) return;
  // With every power at 0 the blend would give back the angular velocity, up to the
  // rounding of the third; skipped so that it is given back exactly.
  if (rightPower != 0 || upPower != 0 || forwardPower != 0) {
    const btVector3 w = body->getAngularVelocity();
    const btMatrix3x3& basis = body->getWorldTransform().getBasis();
    const btVector3 sum = AxisTerm(w, basis.getColumn(0), rightTarget, rightPower) +
                          AxisTerm(w, basis.getColumn(1), upTarget, upPower) +
                          AxisTerm(w, basis.getColumn(2), forwardTarget, forwardPower);
    body->setAngularVelocity(sum * 0.33333334f);
  }
  if (velocityPower != 0) {
    const btVector3 v = body->getLinearVelocity();
    body->setLinearVelocity(v + (velocityTarget * velocitySpeed - v) * velocityPower);
  }
  // Bullet keeps gravity as a force, acceleration times mass.
  body->setGravity(physics ? physics->gravity : btVector3(0, 0, 0));
}

// ---- Placement and motion -----------------------------------------------------------------------

gVector3 objPhysics::Position() const { return ToScript(body->getWorldTransform().getOrigin()); }

void objPhysics::Position(float a_x, float a_y, float a_z) {
  if (!Finite(a_x, a_y, a_z)) return;
  btTransform transform = body->getWorldTransform();
  transform.setOrigin(btVector3(a_x, a_y, a_z));
  SetTransform(transform);
}

void objPhysics::Position(const gVector3& a_position) { Position(a_position.x, a_position.y, a_position.z); }

void objPhysics::SetTransform(const btTransform& a_transform) {
  body->setWorldTransform(a_transform);
  body->setInterpolationWorldTransform(a_transform);
  // Finite but huge forces can still overflow a speed; no script call sets a speed, so a
  // new pose is the one way back, and the body starts from it at rest.
  const btVector3 linear = body->getLinearVelocity(), angular = body->getAngularVelocity();
  if (!Finite(linear.x(), linear.y(), linear.z(), angular.x(), angular.y(), angular.z())) {
    body->setLinearVelocity(btVector3(0, 0, 0));
    body->setAngularVelocity(btVector3(0, 0, 0));
    body->clearForces();
  }
  RefreshAabb();
}

void objPhysics::YawPitchRoll(float a_yaw, float a_pitch, float a_roll) {
  if (!Finite(a_yaw, a_pitch, a_roll)) return;
  btQuaternion rotation;
  rotation.setEuler(a_yaw * kDegrees, a_pitch * kDegrees, a_roll * kDegrees);
  btTransform transform = body->getWorldTransform();
  transform.setRotation(rotation);
  SetTransform(transform);
}

void objPhysics::AxisAngle(const gVector3& a_axis, float a_angle) {
  const btVector3 axis(a_axis.x, a_axis.y, a_axis.z);
  // A zero (or not-a-number) axis names no rotation; Bullet would divide by its length and
  // leave a pose of not-a-numbers that no later setter can repair.
  if (!(axis.length2() > 0) || !Finite(a_axis.x, a_axis.y, a_axis.z, a_angle)) return;
  btTransform transform = body->getWorldTransform();
  transform.setRotation(btQuaternion(axis, a_angle * kDegrees));
  SetTransform(transform);
}

gVector3 objPhysics::Forward() const { return ToScript(body->getWorldTransform().getBasis().getColumn(2)); }
gVector3 objPhysics::Up() const { return ToScript(body->getWorldTransform().getBasis().getColumn(1)); }
gVector3 objPhysics::Right() const { return ToScript(body->getWorldTransform().getBasis().getColumn(0)); }
gVector3 objPhysics::LinearVelocity() const { return ToScript(body->getLinearVelocity()); }

void objPhysics::AddForce(const gVector3& a_force) {
  if (!Finite(a_force.x, a_force.y, a_force.z)) return;
  body->activate();
  body->applyCentralForce(btVector3(a_force.x, a_force.y, a_force.z));
}

void objPhysics::AddTorque(const gVector3& a_torque) {
  if (!Finite(a_torque.x, a_torque.y, a_torque.z)) return;
  body->activate();
  body->applyTorque(btVector3(a_torque.x, a_torque.y, a_torque.z));
}

void objPhysics::VelocityTarget(float a_x, float a_y, float a_z) {
  if (!Finite(a_x, a_y, a_z)) return;
  const btVector3 target(a_x, a_y, a_z);
  const float length = target.length();
  velocityTarget = length != 0 ? target / length : btVector3(0, 0, 0);
}

void objPhysics::Phantom(int a_on) {
  // A waiting body's refreshes are noted as those of a static body; without the static
  // flag they would no longer be.
  if (Waiting()) physics->Admit();
  if (a_on)
    body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_NO_CONTACT_RESPONSE);
  else
    body->setCollisionFlags(0);
}

// ---- Mass ---------------------------------------------------------------------------------------

float objPhysics::Mass() const {
  const float inverse = m_massHeld ? m_heldInverseMass : body->getInvMass();
  return inverse == 0 ? 0.0f : 1.0f / inverse;
}

void objPhysics::Mass(float a_mass) {
  if (!Finite(a_mass)) return;
  if (physics && physics->Stepping()) {
    m_massHeld = true;
    m_heldInverseMass = a_mass == 0 ? 0.0f : 1.0f / a_mass;
    physics->Edit([this, a_mass] {
      m_massHeld = false;
      ApplyMass(a_mass);
    });
    return;
  }
  ApplyMass(a_mass);
}

float objPhysics::BodyMass() const {
  const float inverse = body->getInvMass();
  return inverse == 0 ? 0.0f : 1.0f / inverse;
}

void objPhysics::ApplyMass(float a_mass) {
  const bool wasDynamic = body->getInvMass() != 0;
  // Bullet takes a compound's inertia from its bounding box.
  btVector3 inertia(0, 0, 0);
  shape.calculateLocalInertia(a_mass, inertia);
  body->setMassProps(a_mass, inertia);
  body->updateInertiaTensor();
  const bool dynamic = body->getInvMass() != 0;
  if (wasDynamic != dynamic) Readd();
}

// ---- Hull files ---------------------------------------------------------------------------------

void objPhysics::AddPmap(const char* a_file) {
  const char* name = a_file ? a_file : "";
  irr::io::IFileSystem* files = gFileSystem::Get();
  irr::io::IReadFile* file = gFileSystem::Open(files, name);
  if (!file) {
    gConsole::Line("%s not found", gConsole::Quote(name).c_str());
    return;
  }
  std::vector<unsigned char> bytes;
  ReadWholeFile(file, bytes);
  file->drop();

  const objPhyHulls read = objPhyHulls::Parse(bytes.data(), bytes.size());
  if (!read.valid) gConsole::Line("%s is not a valid hull file", gConsole::Quote(name).c_str());
  if (read.hulls.empty()) return;
  std::vector<btCollisionShape*> added;
  for (const std::vector<float>& points : read.hulls) {
    btConvexHullShape* hull = new btConvexHullShape(points.data(), static_cast<int>(points.size() / 4), 16);
    m_hulls.push_back(hull);
    added.push_back(hull);
  }
  Held([this, added] {
    for (btCollisionShape* hull : added) shape.addChildShape(btTransform::getIdentity(), hull);
    // A new proxy for the new bounds, then the inertia of the new shape.
    Readd();
    ApplyMass(BodyMass());
  });
}

// ---- Primitives ---------------------------------------------------------------------------------

void objPhysics::AddPrimitive(gPtrList& a_list, objPhyPrimitive* a_record) {
  a_list.Append(a_record);
  Held([this, a_record] {
    shape.addChildShape(a_record->offset, a_record->shape);
    RefreshAabb();
  });
}

void objPhysics::NewSphere(const char* a_name) { AddPrimitive(spheres, new objPhySphere(a_name, this)); }
void objPhysics::NewBox(const char* a_name) { AddPrimitive(boxes, new objPhyBox(a_name, this)); }
void objPhysics::NewCapsule(const char* a_name) { AddPrimitive(capsules, new objPhyCapsule(a_name, this)); }

objPhyPrimitive* objPhysics::Find(gPtrList& a_list, const char* a_name, const char* a_kind) {
  const char* name = a_name ? a_name : "";
  for (int i = 0; i < a_list.count; ++i) {
    objPhyPrimitive* record = static_cast<objPhyPrimitive*>(a_list.Get(i));
    if (record->name == name) return record;
  }
  gConsole::Line("Unable to find the requested %s", a_kind);
  return nullptr;
}

objPhySphere* objPhysics::Sphere(const char* a_name) {
  return static_cast<objPhySphere*>(Find(spheres, a_name, "sphere"));
}
objPhyBox* objPhysics::Box(const char* a_name) { return static_cast<objPhyBox*>(Find(boxes, a_name, "box")); }
objPhyCapsule* objPhysics::Capsule(const char* a_name) {
  return static_cast<objPhyCapsule*>(Find(capsules, a_name, "capsule"));
}

void objPhysics::Delete(gPtrList& a_list, const char* a_name, const char* a_kind) {
  objPhyPrimitive* record = Find(a_list, a_name, a_kind);
  if (!record) return;
  a_list.Remove(record);
  record->CutWrappers();
  Held([this, record] {
    const int index = record->ChildIndex();
    if (index >= 0) {
      shape.removeChildShapeByIndex(index);
      shape.recalculateLocalAabb();
    }
    RefreshAabb();
    delete record;
  });
}

void objPhysics::DelSphere(const char* a_name) { Delete(spheres, a_name, "sphere"); }
void objPhysics::DelBox(const char* a_name) { Delete(boxes, a_name, "box"); }
void objPhysics::DelCapsule(const char* a_name) { Delete(capsules, a_name, "capsule"); }

// ---- Cloths -------------------------------------------------------------------------------------

void objPhysics::NewCloth(const char* a_name) { cloths.Append(new objPhyCloth(a_name, this)); }

int objPhysics::FindCloth(const char* a_name) const {
  const char* name = a_name ? a_name : "";
  for (int i = 0; i < cloths.count; ++i)
    if (static_cast<objPhyCloth*>(cloths.Get(i))->name == name) return i;
  return -1;
}

objPhyCloth* objPhysics::Cloth(const char* a_name) {
  const int index = FindCloth(a_name);
  if (index < 0) {
    gConsole::Line("Unable to find the requested cloth");
    return nullptr;
  }
  return static_cast<objPhyCloth*>(cloths.Get(index));
}

// Cloths are stepped before the world's step, never inside it, so one can go at once.
void objPhysics::DelCloth(const char* a_name) {
  const int index = FindCloth(a_name);
  if (index < 0) {
    gConsole::Line("Unable to find the requested Cloth");  // capital C, as the game messages have it
    return;
  }
  objPhyCloth* cloth = static_cast<objPhyCloth*>(cloths.Get(index));
  cloths.RemoveAt(index);
  delete cloth;
}
