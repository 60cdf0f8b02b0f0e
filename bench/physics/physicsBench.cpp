// The physics step against plain Bullet doing the same work in the same binary, from a
// build without sanitizers:
//   build/bench/physics/physics_bench
// 1. Settled piles of 100, 1000 and 3000 boxes built by scripts (stacks of ten on a floor):
//    the mean time of one step (targets 0.7, 10 and 33 ms).
// 2. 1000 RayCasts from a script into 1000 bodies, each calling a script function (target
//    5 ms for all of them).
// 3. The cost of one script collision function call (target 0.5 us).
// 4. 100 objects made and deleted every frame for 3000 frames: the step and the scene walk
//    that makes and deletes them, early and late, and resident memory at frame 300 and at
//    the end (target within 2 MB).
// 5. A cloth of a 64 by 64 vertex grid: AddMesh (target 20 ms) against the merge by a scan
//    of every particle, and one step (target 0.5 ms) against the same relaxation over flat
//    arrays of positions and index pairs.
// Each line gives our figure, plain Bullet's (or the peer's), and the ratio (target 1.2 or
// less), and the pile lines a hash of the body positions: two runs of one binary print the
// same hashes.
#include <irrlicht.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "physics/objPhyCloth.h"
#include "physics/objPhysics.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"
#include "tests/support/physicsGame.h"

namespace {

void Quiet(gmMachine*, const char*) {}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

long ResidentKilobytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void HashFloats(uint64_t& a_hash, const float* a_values, int a_count) {
  for (int i = 0; i < a_count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &a_values[i], 4);
    a_hash = (a_hash ^ bits) * 1099511628211ull;
  }
}

void HashTransform(uint64_t& a_hash, const btTransform& a_t) {
  float values[12];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) values[r * 3 + c] = a_t.getBasis()[r][c];
  for (int i = 0; i < 3; ++i) values[9 + i] = a_t.getOrigin()[i];
  HashFloats(a_hash, values, 12);
}

float MaxSpeed(const std::vector<btRigidBody*>& a_bodies) {
  float fastest = 0;
  for (const btRigidBody* body : a_bodies)
    if (body->getLinearVelocity().length() > fastest) fastest = body->getLinearVelocity().length();
  return fastest;
}

void Report(const char* a_what, double a_ours, double a_bullet, const char* a_unit, const char* a_target,
            const char* a_peer = "bullet") {
  std::printf("%-44s ours %9.4f %s  %s %9.4f %s  ratio %5.2f  (target %s)\n", a_what, a_ours, a_unit, a_peer, a_bullet,
              a_unit, a_bullet > 0 ? a_ours / a_bullet : 0.0, a_target);
}

using Game = testSupport::PhysicsGame;

// Stacks of ten unit boxes, twenty stacks to a row, three units apart, on a floor.
std::string PileScript(int a_count) {
  return "NewScene(\"p\"); p.Physics.Gravity(0, -0.02, 0);"
         "f = p.NewObject(\"floor\"); f.Physics.NewBox(\"b\"); f.Physics.Box(\"b\").Dimensions(500, 1, 500);"
         "f.Physics.Position(0, -1, 0);"
         "for (i = 0; i < " +
         std::to_string(a_count) +
         "; i = i + 1) { s = i / 10; o = p.NewObject(\"box\"); o.Physics.NewBox(\"b\");"
         "  o.Physics.Box(\"b\").Dimensions(0.5, 0.5, 0.5);"
         "  o.Physics.Position((s % 20) * 3, 0.5 + (i % 10) * 1.0, (s / 20) * 3); o.Physics.Mass(1); }";
}

// The same world in plain Bullet: the same shapes, masses, damping, friction, restitution
// and groups, bodies that never sleep, gravity from the world.
struct Plain {
  btDefaultCollisionConfiguration configuration;
  btCollisionDispatcher dispatcher{&configuration};
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &configuration};
  std::vector<btCollisionShape*> shapes;
  std::vector<btRigidBody*> bodies;
  std::vector<btDefaultMotionState*> states;

  Plain() { world.setGravity(btVector3(0, -0.02f, 0)); }
  ~Plain() {
    while (!bodies.empty()) Remove(bodies.size() - 1);
  }

  btRigidBody* Add(float a_mass, const btVector3& a_half, const btVector3& a_at) {
    btBoxShape* box = new btBoxShape(btVector3(0, 0, 0));
    box->setImplicitShapeDimensions(a_half);
    btCompoundShape* compound = new btCompoundShape();
    compound->addChildShape(btTransform::getIdentity(), box);
    btVector3 inertia(0, 0, 0);
    compound->calculateLocalInertia(a_mass, inertia);
    btDefaultMotionState* state = new btDefaultMotionState(btTransform(btQuaternion::getIdentity(), a_at));
    btRigidBody::btRigidBodyConstructionInfo info(a_mass, state, compound, inertia);
    info.m_linearDamping = info.m_angularDamping = 1.0f / 255.0f;
    info.m_friction = info.m_restitution = 0.5f;
    btRigidBody* body = new btRigidBody(info);
    body->setActivationState(DISABLE_DEACTIVATION);
    world.addRigidBody(body);
    shapes.push_back(box);
    shapes.push_back(compound);
    bodies.push_back(body);
    states.push_back(state);
    return body;
  }
  void Remove(size_t a_index) {
    world.removeRigidBody(bodies[a_index]);
    delete bodies[a_index];
    delete states[a_index];
    delete shapes[a_index * 2];
    delete shapes[a_index * 2 + 1];
    bodies.erase(bodies.begin() + a_index);
    states.erase(states.begin() + a_index);
    shapes.erase(shapes.begin() + a_index * 2, shapes.begin() + a_index * 2 + 2);
  }
  void Pile(int a_count) {
    Add(0, btVector3(500, 1, 500), btVector3(0, -1, 0));
    for (int i = 0; i < a_count; ++i) {
      const int s = i / 10;
      Add(1, btVector3(0.5f, 0.5f, 0.5f), btVector3((s % 20) * 3.0f, 0.5f + (i % 10) * 1.0f, (s / 20) * 3.0f));
    }
  }
  void Step() { world.stepSimulation(1.0f, 0, 1.0f / 60.0f); }
  uint64_t Hash() {
    uint64_t hash = 1469598103934665603ull;
    for (btRigidBody* body : bodies) HashTransform(hash, body->getWorldTransform());
    return hash;
  }
};

const int kSettle = 300;
int s_maxPile = 0;
const int kMeasure = 100;

// Both worlds live side by side and are stepped in alternating rounds, so that a busy
// machine weighs on both alike.
void Piles() {
  for (int count : {100, 1000, 3000}) {
    if (s_maxPile && count > s_maxPile) break;
    Game game;
    game.Run(PileScript(count));
    Plain world;
    world.Pile(count);
    for (int i = 0; i < kSettle; ++i) {
      game.frame.Run();
      world.Step();
    }
    double ours = 0, plain = 0;
    const int rounds = 10;
    for (int round = 0; round < rounds; ++round) {
      double start = Now();
      for (int i = 0; i < kMeasure / rounds; ++i) scePhysics::StepAll();
      ours += Now() - start;
      start = Now();
      for (int i = 0; i < kMeasure / rounds; ++i) world.Step();
      plain += Now() - start;
    }
    uint64_t ourHash = 1469598103934665603ull;
    gScene* scene = game.Scene("p");
    std::vector<btRigidBody*> bodies;
    for (int i = 0; i < scene->objects.count; ++i)
      bodies.push_back(static_cast<sceObject*>(scene->objects.Get(i))->physics->body);
    for (btRigidBody* body : bodies) HashTransform(ourHash, body->getWorldTransform());
    char what[64];
    std::snprintf(what, sizeof(what), "settled pile of %d, one step", count);
    const char* targets[] = {"0.7 ms", "10 ms", "33 ms"};
    Report(what, ours * 1000.0 / kMeasure, plain * 1000.0 / kMeasure, "ms",
           targets[count == 100    ? 0
                   : count == 1000 ? 1
                                   : 2]);
    std::printf("%-44s ours %016llx  bullet %016llx  fastest body %.4f / %.4f\n", "  position hashes",
                static_cast<unsigned long long>(ourHash), static_cast<unsigned long long>(world.Hash()),
                MaxSpeed(bodies), MaxSpeed(world.bodies));
  }
}

void RayCasts() {
  double ours, plain;
  {
    Game game;
    game.Run(PileScript(1000));
    for (int i = 0; i < kSettle; ++i) game.frame.Run();
    game.Run(
        "global hits = 0; global seen = function(t, p, n) { global hits = hits + 1; };"
        "global cast = function() { for (i = 0; i < 1000; i = i + 1) { s = i / 10; x = (s % 20) * 3; z = (s / 20) * 3;"
        "  p.Physics.RayCast(Vector3(x, 20, z), Vector3(x, -20, z), \"seen\"); } };");
    const int repeats = 20;
    const double start = Now();
    for (int i = 0; i < repeats; ++i) game.Run("cast();");
    ours = (Now() - start) * 1000.0 / repeats;
  }
  {
    Plain world;
    world.Pile(1000);
    for (int i = 0; i < kSettle; ++i) world.Step();
    const int repeats = 20;
    int hits = 0;
    const double start = Now();
    for (int r = 0; r < repeats; ++r)
      for (int i = 0; i < 1000; ++i) {
        const int s = i / 10;
        const btVector3 from((s % 20) * 3.0f, 20, (s / 20) * 3.0f), to((s % 20) * 3.0f, -20, (s / 20) * 3.0f);
        btCollisionWorld::ClosestRayResultCallback hit(from, to);
        world.world.rayTest(from, to, hit);
        hits += hit.hasHit();
      }
    plain = (Now() - start) * 1000.0 / repeats;
    if (hits == 0) std::printf("no ray hit\n");
  }
  Report("1000 ray casts into 1000 bodies, callbacks", ours, plain, "ms", "5 ms, ratio 1.2");
}

// A pile whose every box has a collision function: the step with it, less the step without,
// per call.
void CollisionCalls() {
  Game game;
  game.Run(PileScript(1000));
  for (int i = 0; i < kSettle; ++i) game.frame.Run();
  gScene* scene = game.Scene("p");
  auto setAll = [&](const char* a_name) {
    for (int i = 0; i < scene->objects.count; ++i)
      static_cast<sceObject*>(scene->objects.Get(i))->physics->ScriptCollision(a_name);
  };
  game.Run("global n = 0; global count = function(a, b) { global n = n + 1; }; global empty = function(a, b) { };");
  setAll("count");
  scePhysics::StepAll();
  const int calls = game.machine->GetGlobals()->GetByName(game.machine, "n").GetInt();
  // Rounds of the three kinds interleaved, so that a busy machine weighs on all alike.
  double unhooked = 0, nameless = 0, empty = 0;
  for (int round = 0; round < 10; ++round) {
    for (int kind = 0; kind < 3; ++kind) {
      gContactAddedCallback = kind == 0 ? nullptr : &scePhysics::OnContactAdded;
      setAll(kind == 2 ? "empty" : "");
      const double start = Now();
      for (int i = 0; i < 20; ++i) scePhysics::StepAll();
      (kind == 0 ? unhooked : kind == 1 ? nameless : empty) += Now() - start;
    }
  }
  gContactAddedCallback = &scePhysics::OnContactAdded;
  const double steps = 200;
  std::printf("%-44s %.3f ms a step unhooked, %.3f ms hooked without functions, %.3f ms with them\n",
              "contact reports in a pile of 1000", unhooked * 1000 / steps, nameless * 1000 / steps,
              empty * 1000 / steps);
  const double perCall = calls > 0 ? (empty - nameless) * 1e6 / (steps * calls) : 0;
  std::printf("%-44s ours %9.4f us per call, %d calls a step  (target 0.5 us)\n", "script collision function", perCall,
              calls);
}

// The frame's physics step and its scene walk (where scripts make and delete the objects)
// are timed apart; plain Bullet adds and removes its bodies and steps.
void Churn() {
  const int frames = 3000;
  double stepEarly = 0, stepLate = 0, walkEarly = 0, walkLate = 0, plainStepEarly = 0, plainStepLate = 0,
         plainEditEarly = 0, plainEditLate = 0;
  long memoryAt300 = 0, memoryAtEnd = 0;
  Game game;
  game.Run(
      "NewScene(\"p\"); p.Physics.Gravity(0, -0.02, 0);"
      "f = p.NewObject(\"floor\"); f.Physics.NewBox(\"b\"); f.Physics.Box(\"b\").Dimensions(500, 1, 500);"
      "f.Physics.Position(0, -1, 0);"
      "global made = table();"
      "global churn = function(o) {"
      "  for (i = 0; i < 100; i = i + 1) { if (made[i]) { made[i].Delete(); }"
      "    b = p.NewObject(\"ball\"); b.Physics.NewSphere(\"s\"); b.Physics.Sphere(\"s\").Radius(0.5);"
      "    b.Physics.Position((i % 10) * 2, 3, (i / 10) * 2); b.Physics.Mass(1); made[i] = b; }"
      "};"
      "f.Script(\"churn\");");
  Plain world;
  world.Add(0, btVector3(500, 1, 500), btVector3(0, -1, 0));
  for (int i = 0; i < frames; ++i) {
    if (i == 300) memoryAt300 = ResidentKilobytes();
    if (i % 100 == 0) game.Run("sysCollectGarbage(1);");
    const bool early = i >= 300 && i < 600, late = i >= frames - 300;
    double start = Now();
    scePhysics::StepAll();
    double step = Now() - start;
    start = Now();
    gScene::UpdateAll();
    double walk = Now() - start;
    if (early) stepEarly += step, walkEarly += walk;
    if (late) stepLate += step, walkLate += walk;

    start = Now();
    if (world.bodies.size() > 1)
      for (int k = 0; k < 100; ++k) world.Remove(1);
    for (int k = 0; k < 100; ++k)
      world.Add(1, btVector3(0.5f, 0.5f, 0.5f), btVector3((k % 10) * 2.0f, 3, (k / 10) * 2.0f));
    walk = Now() - start;
    start = Now();
    world.Step();
    step = Now() - start;
    if (early) plainStepEarly += step, plainEditEarly += walk;
    if (late) plainStepLate += step, plainEditLate += walk;
  }
  game.Run("sysCollectGarbage(1);");
  memoryAtEnd = ResidentKilobytes();
  Report("churn of 100 a frame: step, frames 300-600", stepEarly * 1000.0 / 300, plainStepEarly * 1000.0 / 300, "ms",
         "flat, ratio 1.2");
  Report("churn of 100 a frame: step, last 300", stepLate * 1000.0 / 300, plainStepLate * 1000.0 / 300, "ms",
         "flat, ratio 1.2");
  Report("  making and deleting them, frames 300-600", walkEarly * 1000.0 / 300, plainEditEarly * 1000.0 / 300, "ms",
         "flat");
  Report("  making and deleting them, last 300", walkLate * 1000.0 / 300, plainEditLate * 1000.0 / 300, "ms", "flat");
  std::printf("%-44s %ld kB at frame 300, %ld kB at frame %d: %+ld kB  (target within 2048 kB)\n", "  resident memory",
              memoryAt300, memoryAtEnd, frames, memoryAtEnd - memoryAt300);
}

// ---- Cloth ----------------------------------------------------------------------------------------

// A grid of a_side by a_side vertices one unit apart in the XY plane, two triangles a cell.
irr::scene::SMeshBuffer* GridBuffer(int a_side) {
  irr::scene::SMeshBuffer* buffer = new irr::scene::SMeshBuffer();
  for (int y = 0; y < a_side; ++y)
    for (int x = 0; x < a_side; ++x) {
      irr::video::S3DVertex v;
      v.Pos.set(static_cast<float>(x), static_cast<float>(a_side - 1 - y), 0);
      buffer->Vertices.push_back(v);
    }
  for (int y = 0; y + 1 < a_side; ++y)
    for (int x = 0; x + 1 < a_side; ++x) {
      const irr::u16 a = static_cast<irr::u16>(y * a_side + x), b = a + 1, c = static_cast<irr::u16>(a + a_side),
                     d = c + 1;
      for (irr::u16 i : {a, c, b, b, c, d}) buffer->Indices.push_back(i);
    }
  return buffer;
}

// The peer: particles found by scanning every earlier one, springs as index pairs, and the
// same step over flat arrays.
struct FlatCloth {
  std::vector<irr::core::vector3df> position, delta;
  std::vector<int> ends;  // two particle indices a spring
  std::vector<float> rest;
  std::vector<int> particleOf;

  void Add(const irr::scene::SMeshBuffer* a_buffer) {
    for (irr::u32 v = 0; v < a_buffer->Vertices.size(); ++v) {
      const irr::core::vector3df& p = a_buffer->Vertices[v].Pos;
      int found = -1;
      for (size_t i = 0; i < position.size() && found < 0; ++i)
        if (position[i].X == p.X && position[i].Y == p.Y && position[i].Z == p.Z) found = static_cast<int>(i);
      if (found < 0) {
        found = static_cast<int>(position.size());
        position.push_back(p);
      }
      particleOf.push_back(found);
    }
    delta.resize(position.size());
    for (irr::u32 i = 0; i + 2 < a_buffer->Indices.size(); i += 3)
      for (int e = 0; e < 3; ++e) {
        const int p = particleOf[a_buffer->Indices[i + e]], q = particleOf[a_buffer->Indices[i + (e + 1) % 3]];
        bool known = p == q;
        for (size_t k = 0; k < ends.size() && !known; k += 2)
          known = (ends[k] == p && ends[k + 1] == q) || (ends[k] == q && ends[k + 1] == p);
        if (known) continue;
        ends.push_back(p);
        ends.push_back(q);
        rest.push_back(position[p].getDistanceFrom(position[q]));
      }
  }
  void Step(irr::scene::SMeshBuffer* a_buffer) {
    float top = position[0].Y;
    for (const irr::core::vector3df& p : position) top = std::max(top, p.Y);
    for (size_t i = 0; i < position.size(); ++i) {
      delta[i].set(0, 0, 0);
      if (position[i].Y != top) position[i].Y -= 1.0f;
    }
    for (size_t k = 0; k < rest.size(); ++k) {
      irr::core::vector3df& p = position[ends[2 * k]];
      irr::core::vector3df& n = position[ends[2 * k + 1]];
      if (p.Y == top && n.Y == top) continue;
      const irr::core::vector3df d = p - n;
      const float length = d.getLength();
      if (!(length > 0)) continue;
      const irr::core::vector3df c = d * 0.5f * (1.0f - rest[k] / length);
      const float share = 2.0f * top - p.Y - n.Y;
      delta[ends[2 * k]] -= c * ((top - p.Y) / share);
      delta[ends[2 * k + 1]] += c * ((top - n.Y) / share);
    }
    for (size_t i = 0; i < position.size(); ++i) position[i] += delta[i];
    for (size_t v = 0; v < particleOf.size(); ++v) a_buffer->Vertices[v].Pos = position[particleOf[v]];
  }
};

void Cloth() {
  const int kSide = 64, kRounds = 5, kSteps = 300;
  double ours = 1e9, plain = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    irr::scene::SMeshBuffer* buffer = GridBuffer(kSide);
    objPhyCloth cloth("c", nullptr);
    double t = Now();
    cloth.AddBuffer(buffer);
    ours = std::min(ours, Now() - t);
    FlatCloth flat;
    t = Now();
    flat.Add(buffer);
    plain = std::min(plain, Now() - t);
    buffer->drop();
  }
  Report("cloth 64x64: AddMesh", ours * 1000.0, plain * 1000.0, "ms", "20 ms", "scan  ");

  irr::scene::SMeshBuffer* ourBuffer = GridBuffer(kSide);
  irr::scene::SMeshBuffer* flatBuffer = GridBuffer(kSide);
  objPhyCloth cloth("c", nullptr);
  cloth.AddBuffer(ourBuffer);
  FlatCloth flat;
  flat.Add(flatBuffer);
  double t = Now();
  for (int i = 0; i < kSteps; ++i) cloth.Step();
  ours = (Now() - t) / kSteps;
  t = Now();
  for (int i = 0; i < kSteps; ++i) flat.Step(flatBuffer);
  plain = (Now() - t) / kSteps;
  Report("cloth 64x64: one step", ours * 1000.0, plain * 1000.0, "ms", "0.5 ms, ratio 1.2", "flat  ");
  const irr::core::vector3df& a = ourBuffer->Vertices[kSide * kSide - 1].Pos;
  const irr::core::vector3df& b = flatBuffer->Vertices[kSide * kSide - 1].Pos;
  if (!(a == b)) std::printf("  the two cloths differ: %g %g %g against %g %g %g\n", a.X, a.Y, a.Z, b.X, b.Y, b.Z);
  ourBuffer->drop();
  flatBuffer->drop();
}

}  // namespace

int main(int argc, char** argv) {
  gmMachine::s_printCallback = Quiet;
  const std::string only = argc > 1 ? argv[1] : "";
  if (argc > 2) s_maxPile = std::atoi(argv[2]);
  if (only.empty() || only == "piles") Piles();
  if (only.empty() || only == "rays") RayCasts();
  if (only.empty() || only == "calls") CollisionCalls();
  if (only.empty() || only == "churn") Churn();
  if (only.empty() || only == "cloth") Cloth();
  return 0;
}
