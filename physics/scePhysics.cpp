#include "physics/scePhysics.h"

#include <utility>

#include "binding/gVector3.h"
#include "binding/gmNativeType.h"
#include "physics/objPhysics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

namespace {

// A new Vector3 that the script owns, pushed on a_thread at once so that it is rooted.
void PushVector(gmMachineEx* a_machine, gmThread* a_thread, const btVector3& a_v) {
  const int type = a_machine->NativeTypeId<gVector3>();
  if (type == GM_UNKNOWN_TYPE) {
    a_thread->PushNull();
    return;
  }
  gVector3* vector = new gVector3(a_v.x(), a_v.y(), a_v.z());
  gmUserObject* user = a_machine->MakeUserObject(vector, type);
  a_thread->PushUser(user);
  a_machine->AdjustKnownMemoryUsed(static_cast<int>(sizeof(gVector3)));
  a_machine->OwnNative(
      user, [](void* a_p) { delete static_cast<gVector3*>(a_p); }, static_cast<int>(sizeof(gVector3)));
}

void PushTable(gmThread* a_thread, const objPhysics* a_component) {
  gmTableObject* table = a_component->object ? a_component->object->table.Get() : nullptr;
  if (table)
    a_thread->PushTable(table);
  else
    a_thread->PushNull();
}

// a_self's collision function with a_self's table, then a_other's.
void CallCollision(const objPhysics* a_self, const objPhysics* a_other) {
  if (a_self->collisionFunction.empty() || !gScene::machine) return;
  gmThread* thread = gScene::machine->PrepareGlobalCall(a_self->collisionFunction.c_str());
  if (!thread) return;
  PushTable(thread, a_self);
  PushTable(thread, a_other);
  gScene::machine->FinishCall(thread, 2);
}

}  // namespace

// ---- The process-wide list ----------------------------------------------------------------

gPtrList& scePhysics::Worlds() {
  static gPtrList* worlds = new gPtrList();
  return *worlds;
}

void scePhysics::StepAll() {
  gPtrList& worlds = Worlds();
  // By index: a collision function may make a scene, whose world then steps in this frame.
  for (int i = 0; i < worlds.count; ++i) static_cast<scePhysics*>(worlds.Get(i))->Step();
}

void scePhysics::DestroyAll() {
  gPtrList& worlds = Worlds();
  while (worlds.count > 0) delete static_cast<scePhysics*>(worlds.Get(worlds.count - 1));
}

void scePhysics::InstallContactCallback() { gContactAddedCallback = &scePhysics::OnContactAdded; }

bool scePhysics::OnContactAdded(btManifoldPoint&, const btCollisionObjectWrapper* a_a, int, int,
                                const btCollisionObjectWrapper* a_b, int, int) {
  const objPhysics* a = static_cast<const objPhysics*>(a_a->getCollisionObject()->getUserPointer());
  const objPhysics* b = static_cast<const objPhysics*>(a_b->getCollisionObject()->getUserPointer());
  if (!a || !b) return true;
  CallCollision(a, b);
  CallCollision(b, a);
  return true;
}

// ---- One world ----------------------------------------------------------------------------

scePhysics* scePhysics::Make(gScene* a_scene) {
  if (!a_scene) return nullptr;
  if (!a_scene->physics) a_scene->physics = new scePhysics();
  return a_scene->physics;
}

int scePhysics::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<scePhysics> type(a_machine, "_ScePhysics");
  type.FactoryConstructor(&scePhysics::Make);
  type.Method("Gravity", &scePhysics::Gravity);
  type.Method("DrawDebug", &scePhysics::DrawDebug);
  type.Method("RayCast", &scePhysics::RayCast);
  return type.Register();
}

btDefaultCollisionConstructionInfo scePhysics::PoolSizes() {
  btDefaultCollisionConstructionInfo info;
  info.m_defaultMaxPersistentManifoldPoolSize = POOLED_MANIFOLDS;
  info.m_defaultMaxCollisionAlgorithmPoolSize = POOLED_ALGORITHMS;
  return info;
}

scePhysics::scePhysics() {
  world.reset(new btDiscreteDynamicsWorld(&dispatcher, &broadphase, &solver, &configuration));
  // The world's own gravity stays zero: the scene's reaches each dynamic body in its
  // pre-step, so that a change takes effect at the next step for every body alike.
  world->setGravity(btVector3(0, 0, 0));
  debugDrawer.setDebugMode(btIDebugDraw::DBG_DrawFeaturesText);
  world->setDebugDrawer(&debugDrawer);
  Worlds().Append(this);
}

scePhysics::~scePhysics() {
  CutWrappers();
  m_held.clear();
  // Bodies outlive their world only when a session ends out of order; they stay usable,
  // out of any world.
  while (bodies.count > 0) static_cast<objPhysics*>(bodies.Get(bodies.count - 1))->Detach();
  Worlds().Remove(this);
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) {
    gScene* scene = static_cast<gScene*>(scenes.Get(i));
    if (scene->physics == this) scene->physics = nullptr;
  }
  world.reset();
}

void scePhysics::Gravity(float a_x, float a_y, float a_z) {
  if (objPhysics::Finite(a_x, a_y, a_z)) gravity.setValue(a_x, a_y, a_z);
}

void scePhysics::DrawDebug(int a_on) { drawDebug = a_on != 0; }

int scePhysics::RayCast(const gVector3& a_from, const gVector3& a_to, const char* a_function) {
  const btVector3 from(a_from.x, a_from.y, a_from.z);
  const btVector3 to(a_to.x, a_to.y, a_to.z);
  // A ray with an end that is not a finite point meets nothing.
  if (!objPhysics::Finite(a_from.x, a_from.y, a_from.z, a_to.x, a_to.y, a_to.z)) return 0;
  Admit();
  btCollisionWorld::ClosestRayResultCallback hit(from, to);
  world->rayTest(from, to, hit);
  if (!(hit.m_closestHitFraction < 1.0f) || !hit.m_collisionObject) return 0;
  const objPhysics* component = static_cast<const objPhysics*>(hit.m_collisionObject->getUserPointer());
  gmMachineEx* machine = gScene::machine;
  if (!component || !machine || !a_function) return 1;
  gmThread* thread = machine->PrepareGlobalCall(a_function);
  if (!thread) return 1;
  PushTable(thread, component);
  PushVector(machine, thread, hit.m_hitPointWorld);
  PushVector(machine, thread, hit.m_hitNormalWorld);
  machine->FinishCall(thread, 3);
  return 1;
}

void scePhysics::Admit() {
  if (entering) entering->Enter();
}

void scePhysics::Step() {
  Admit();
  for (int i = 0; i < bodies.count; ++i) static_cast<objPhysics*>(bodies.Get(i))->PreStep();
  m_stepping = true;
  // A maximum of 0 sub-steps is Bullet's variable-step mode: exactly one internal step of
  // length 1.0, whatever the fixed step says, and no interpolation.
  world->stepSimulation(1.0f, 0, 1.0f / 60.0f);
  m_stepping = false;
  RunHeldEdits();
}

void scePhysics::Edit(std::function<void()> a_edit) {
  if (m_stepping)
    m_held.push_back(std::move(a_edit));
  else
    a_edit();
}

void scePhysics::RunHeldEdits() {
  std::vector<std::function<void()>> held;
  held.swap(m_held);
  for (std::function<void()>& edit : held) edit();
}
