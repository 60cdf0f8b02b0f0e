#pragma once
// A scene's physics world: the Bullet world its bodies live in, the scene gravity, ray
// casts and the switch for debug drawing. Every world ever made is in one process-wide
// list, stepped once per frame in creation order.
//
// Time is counted in frames: each step is exactly one Bullet step of length 1.0, so scripts
// see velocities in units per frame and gravity in units per frame squared.
//
// Scripts run inside a step (collision functions, and whatever they call), while Bullet is
// walking its pair cache, contact manifolds and compound trees. Edits that Bullet must not
// see then (adding or removing bodies and compound children, tree and broadphase updates,
// freeing shapes) go through Edit, which holds them until the step has ended and then runs
// them in the order they were asked for. Records, lists and values that scripts read back
// change at once, so a script sees its own edits.
#include <btBulletDynamicsCommon.h>

#include <functional>
#include <memory>
#include <vector>

#include "binding/gmWrappable.h"
#include "physics/GLDebugDrawer.h"
#include "scene/gPtrList.h"

class gmMachineEx;
class gScene;
class gVector3;
class objPhysics;

class scePhysics : public gmWrappable {
 public:
  // The constructor of _ScePhysics(core): the scene's world, made on first use.
  static scePhysics* Make(gScene* a_scene);
  static int RegisterScriptType(gmMachineEx* a_machine);

  // Every world ever made, in creation order.
  static gPtrList& Worlds();
  // The physics step of a frame: every world's Step, in creation order.
  static void StepAll();
  // Frees every world (bodies must be gone first: call after gScene::DestroyAll). The player
  // leaves this to the process; in-process sessions such as tests need a clean list.
  static void DestroyAll();
  // Puts OnContactAdded into Bullet's global contact-added hook.
  static void InstallContactCallback();
  // Calls the collision functions of the two bodies, A's then B's, each with its own table
  // first. Bullet calls it for every contact point added or refreshed while one of the two
  // carries the custom-material flag.
  static bool OnContactAdded(btManifoldPoint& a_point, const btCollisionObjectWrapper* a_a, int a_partA, int a_indexA,
                             const btCollisionObjectWrapper* a_b, int a_partB, int a_indexB);

  scePhysics();
  ~scePhysics();
  scePhysics(const scePhysics&) = delete;
  scePhysics& operator=(const scePhysics&) = delete;

  void Gravity(float a_x, float a_y, float a_z);
  void DrawDebug(int a_on);
  // 1 when the ray hits a body, and then the named function has been called with the hit
  // object's table, the hit point and the hit normal; 0 otherwise.
  int RayCast(const gVector3& a_from, const gVector3& a_to, const char* a_function);

  // Pre-steps every body, then advances the world by one step of 1.0 and runs the edits
  // held during it.
  void Step();

  // Runs a_edit now, or, inside a step, right after it.
  void Edit(std::function<void()> a_edit);
  bool Stepping() const { return m_stepping; }

  // The newest body enters the broadphase only when something else needs it there (a step,
  // a ray cast, a drawing, or a world edit by another body). A body shaped and given a mass
  // before then never pays for the static proxy it would have had in between. Run before
  // anything that reads or changes the world; cheap when no body is waiting.
  void Admit();
  // The body whose entry is waiting (at most one per world, so that the order of the
  // world's edits stays what it would have been).
  objPhysics* entering = nullptr;

  // Contacts and collision algorithms kept in a world's own pools before it asks the heap
  // for more. Bullet's defaults (4096 of each) cost every scene megabytes up front, even
  // an empty one; a small game's contacts fit these, and a big one's take what they need.
  enum { POOLED_MANIFOLDS = 128, POOLED_ALGORITHMS = 128 };

  gPtrList bodies;  // of objPhysics, in creation order until removals move the last one
  btDefaultCollisionConfiguration configuration{PoolSizes()};
  btCollisionDispatcher dispatcher{&configuration};
  // A dynamic tree rather than the all-pairs broadphase: the same pairs, without a proxy
  // cap (the all-pairs one fails past 16384 bodies) and with ray casts that do not test
  // every body.
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  GLDebugDrawer debugDrawer;
  std::unique_ptr<btDiscreteDynamicsWorld> world;
  bool drawDebug = false;
  btVector3 gravity{0, 0, 0};

 private:
  static btDefaultCollisionConstructionInfo PoolSizes();
  void RunHeldEdits();

  bool m_stepping = false;
  std::vector<std::function<void()>> m_held;
};
