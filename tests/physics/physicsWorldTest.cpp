// Worlds and bodies driven by scripts over whole frames: stepping, the control laws,
// collision functions, ray casts, primitives, hull files, and edits made from inside a step.
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer's run-time (its header is not installed with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "physics/objPhyPrimitives.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"
#include "physicsFixture.h"

namespace physicsTest {
namespace {

// A static floor whose top is y = 0, and a unit ball above it; gravity is left to the test.
const char* const kFloorAndBall =
    "NewScene(\"w\");"
    "global floor = w.NewObject(\"floor\"); floor.name = \"floor\";"
    "floor.Physics.NewBox(\"b\"); floor.Physics.Box(\"b\").Dimensions(50, 1, 50); floor.Physics.Position(0, -1, 0);"
    "global ball = w.NewObject(\"ball\"); ball.name = \"ball\";"
    "ball.Physics.NewSphere(\"s\"); ball.Physics.Sphere(\"s\").Radius(1); ball.Physics.Position(0, 3, 0);"
    "ball.Physics.Mass(1);";

btVector3 Origin(const objPhysics* a_body) { return a_body->body->getWorldTransform().getOrigin(); }

// Ray hits on convex shapes come from an iterative search: near, not exact.
void ExpectNear(const gVector3& a_v, float a_x, float a_y, float a_z, float a_within = 1e-6f) {
  EXPECT_NEAR(a_v.x, a_x, a_within);
  EXPECT_NEAR(a_v.y, a_y, a_within);
  EXPECT_NEAR(a_v.z, a_z, a_within);
}

TEST_F(PhysicsTest, BodiesAreStaticUntilGivenMassThenFallExactly) {
  Run("NewScene(\"w\"); global ball = w.NewObject(\"ball\");"
      "ball.Physics.NewSphere(\"s\"); ball.Physics.Sphere(\"s\").Radius(1); w.Physics.Gravity(0, -1, 0);");
  objPhysics* ball = Body("w", "ball");
  ASSERT_NE(ball, nullptr);
  Frames(3);
  EXPECT_EQ(Origin(ball), btVector3(0, 0, 0));
  EXPECT_EQ(ball->Mass(), 0.0f);

  Run("ball.Physics.Mass(1);");
  const float keep = 1.0f - 1.0f / 255.0f;
  float v = 0, y = 0;
  for (int i = 0; i < 40; ++i) {
    Frames(1);
    v = v * keep - 1.0f;
    y = y + v;
    ASSERT_EQ(ball->body->getLinearVelocity().y(), v) << "frame " << i;
    ASSERT_EQ(Origin(ball).y(), y) << "frame " << i;
  }
  EXPECT_EQ(ball->body->getBroadphaseHandle()->m_collisionFilterGroup, btBroadphaseProxy::DefaultFilter);

  // Back to static: it stays where it is, in the static group, with no mass.
  Run("ball.Physics.Mass(0); global m = ball.Physics.Mass();");
  Frames(5);
  EXPECT_EQ(Origin(ball).y(), y);
  EXPECT_EQ(machine->GetGlobals()->GetByName(machine, "m").GetFloat(), 0.0f);
  EXPECT_EQ(ball->body->getBroadphaseHandle()->m_collisionFilterGroup, btBroadphaseProxy::StaticFilter);
  EXPECT_EQ(ball->body->getBroadphaseHandle()->m_collisionFilterMask,
            btBroadphaseProxy::AllFilter ^ btBroadphaseProxy::StaticFilter);
}

// Forces, damping and the velocity and axis controllers, each on a body of its own far from
// the others, in one world without gravity.
TEST_F(PhysicsTest, ForcesDampingAndMotionControl) {
  Run("NewScene(\"w\");"
      "global make = function(name, x, mass) { o = w.NewObject(name); o.Physics.NewSphere(\"s\");"
      "  o.Physics.Sphere(\"s\").Radius(1); o.Physics.Position(x, 0, 0); o.Physics.Mass(mass);"
      "  o.Physics.Damping(0, 0); return o; };"
      "make(\"push\", 0, 2).Physics.AddForce(Vector3(2, 0, 0));"
      "global damp = make(\"damp\", 100, 1); damp.Physics.Damping(0.5, 0); damp.Physics.AddForce(Vector3(4, 0, 0));"
      "global vel = make(\"vel\", 200, 1); vel.Physics.VelocityTarget(0, 0, 5);"
      "vel.Physics.VelocitySpeed(2); vel.Physics.VelocityPower(1);"
      "global brake = make(\"brake\", 300, 1); brake.Physics.AddForce(Vector3(3, 0, 0));"
      "global turn = make(\"turn\", 400, 1); turn.Physics.ForwardTarget(1, 0, 0); turn.Physics.ForwardPower(1);"
      "print(turn.Physics.ForwardPower(), vel.Physics.VelocitySpeed());");
  EXPECT_EQ(Body("w", "vel")->velocityTarget, btVector3(0, 0, 1));
  Frames(1);
  EXPECT_EQ(Body("w", "push")->body->getLinearVelocity(), btVector3(1, 0, 0));
  // Damping comes before the force within the step.
  EXPECT_EQ(Body("w", "damp")->body->getLinearVelocity(), btVector3(4, 0, 0));
  EXPECT_EQ(Body("w", "vel")->body->getLinearVelocity(), btVector3(0, 0, 2));
  EXPECT_EQ(Body("w", "brake")->body->getLinearVelocity(), btVector3(3, 0, 0));
  // (2w + F x target) / 3 with w = 0 and F = (0, 0, 1).
  EXPECT_EQ(Body("w", "turn")->body->getAngularVelocity(), btVector3(0, 0.33333334f, 0));

  Run("brake.Physics.VelocityTarget(Vector3(0, 0, 0)); brake.Physics.VelocityPower(1);");
  Frames(1);
  EXPECT_EQ(Body("w", "push")->body->getLinearVelocity(), btVector3(1, 0, 0));  // the force was for one step
  EXPECT_EQ(Body("w", "damp")->body->getLinearVelocity(), btVector3(2, 0, 0));
  EXPECT_EQ(Body("w", "brake")->body->getLinearVelocity(), btVector3(0, 0, 0));
  EXPECT_EQ(printed, (std::vector<std::string>{"1 2"}));
}

TEST_F(PhysicsTest, OrientationSettersAndAxes) {
  Run("NewScene(\"w\"); global o = w.NewObject(\"o\");");
  objPhysics* body = Body("w", "o");
  struct Case {
    const char* script;
    float forward[3];
  } const cases[] = {
      {"o.Physics.YawPitchRoll(90, 0, 0);", {1, 0, 0}},
      {"o.Physics.YawPitchRoll(0, 90, 0);", {0, -1, 0}},
      {"o.Physics.AxisAngle(Vector3(0, 2, 0), -90);", {-1, 0, 0}},
      // A zero axis names no rotation: the last orientation stays.
      {"o.Physics.AxisAngle(Vector3(0, 0, 0), 45);", {-1, 0, 0}},
  };
  for (const Case& c : cases) {
    Run(c.script);
    SCOPED_TRACE(c.script);
    ExpectNear(body->Forward(), c.forward[0], c.forward[1], c.forward[2]);
  }
  Run("o.Physics.Position(1, 2, 3);");
  ExpectNear(body->Right(), 0, 0, 1);
  ExpectNear(body->Up(), 0, 1, 0);
  const gPose pose = body->Pose();
  EXPECT_EQ(pose.origin[0], 1.0f);
  EXPECT_EQ(pose.origin[2], 3.0f);
  EXPECT_NEAR(pose.basis[0][2], body->Forward().x, 0.0f);
  EXPECT_NEAR(pose.basis[2][0], body->Right().z, 0.0f);
}

TEST_F(PhysicsTest, CollisionFunctionsRunForEveryContactEveryStep) {
  Run(kFloorAndBall);
  Run("w.Physics.Gravity(0, -0.05, 0);"
      "global hit = function(self, other) { print(self.name, other.name); };"
      "floor.Physics.ScriptCollision(\"hit\"); ball.Physics.ScriptCollision(\"hit\");");
  Frames(60);
  for (int frame = 0; frame < 2; ++frame) {
    printed.clear();
    Frames(1);
    ASSERT_FALSE(printed.empty());
    ASSERT_EQ(printed.size() % 2, 0u);
    // One contact report calls A's function and then B's, each with its own table first.
    for (size_t i = 0; i < printed.size(); i += 2) {
      EXPECT_TRUE(printed[i] == "ball floor" || printed[i] == "floor ball") << printed[i];
      EXPECT_NE(printed[i], printed[i + 1]);
    }
  }
  EXPECT_NEAR(Origin(Body("w", "ball")).y(), 1.0f, 0.1f);

  Run("floor.Physics.ScriptCollision(\"\");");
  printed.clear();
  Frames(1);
  ASSERT_FALSE(printed.empty());
  for (const std::string& line : printed) EXPECT_EQ(line, "ball floor");
}

TEST_F(PhysicsTest, PhantomsFallThroughAndStillReport) {
  Run(kFloorAndBall);
  Run("w.Physics.Gravity(0, -0.05, 0); ball.Physics.Phantom(1);"
      "global touched = 0; global hit = function(self, other) { global touched = touched + 1; };"
      "ball.Physics.ScriptCollision(\"hit\");");
  Frames(60);
  EXPECT_LT(Origin(Body("w", "ball")).y(), -5.0f);
  EXPECT_GT(machine->GetGlobals()->GetByName(machine, "touched").GetInt(), 0);
}

TEST_F(PhysicsTest, RayCastsCallTheirFunctionBeforeReturning) {
  Run(kFloorAndBall);
  Run("global seen = function(t, p, n) { print(t.name); global hitP = p; global hitN = n; };");
  struct Case {
    const char* script;
    std::vector<std::string> printed;
    float point[3];
  } const cases[] = {
      {"print(w.Physics.RayCast(Vector3(5, 10, 0), Vector3(5, -10, 0), \"seen\"));", {"floor", "1"}, {5, 0, 0}},
      {"print(w.Physics.RayCast(Vector3(99, 10, 0), Vector3(99, -10, 0), \"seen\"));", {"0"}, {}},
      {"print(w.Physics.RayCast(Vector3(5, 10, 0), Vector3(5, -10, 0), \"nothing\"));", {"1"}, {}},
      // A body just moved is hit where it now is, before any step.
      {"ball.Physics.Position(20, 3, 0); print(w.Physics.RayCast(Vector3(20, 10, 0), Vector3(20, -10, 0), \"seen\"));",
       {"ball", "1"},
       {20, 4, 0}},
      {"print(w.Physics.RayCast(Vector3(5, 10, 0), Vector3(5, 10, 0), \"seen\"));", {"0"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    printed.clear();
    Run("global hitP = null;");
    Run(c.script);
    EXPECT_EQ(printed, c.printed);
    if (c.printed.size() == 2) {
      ExpectNear(Vec("hitP"), c.point[0], c.point[1], c.point[2], 1e-3f);
      ExpectNear(Vec("hitN"), 0, 1, 0, 1e-3f);
    }
  }
}

TEST_F(PhysicsTest, PrimitivesAreFoundByNameAndKeepTheirPlaces) {
  Run("NewScene(\"w\"); global o = w.NewObject(\"o\"); global p = o.Physics; p.Position(0, 50, 0);"
      "p.NewSphere(\"a\"); p.NewSphere(\"b\"); p.NewSphere(\"c\");"
      "p.Sphere(\"a\").Radius(1); p.Sphere(\"b\").Radius(2); p.Sphere(\"b\").Position(5, 0, 0);"
      "p.Sphere(\"c\").Radius(3); p.Sphere(\"c\").Position(10, 0, 0);"
      "p.NewCapsule(\"k\"); p.Capsule(\"k\").Height(4); p.Capsule(\"k\").Radius(0.5);"
      "p.NewBox(\"x\"); p.Box(\"x\").Dimensions(1, 2, 3);"
      "d = p.Box(\"x\").Dimensions(); print(p.Capsule(\"k\").Height(), p.Capsule(\"k\").Radius(), d.X(), d.Y(), d.Z());"
      "print(p.Sphere(\"nope\"), p.Box(\"nope\"), p.Capsule(\"nope\"));"
      "p.DelSphere(\"nope\"); p.DelBox(\"nope\"); p.DelCapsule(\"nope\");"
      "p.DelSphere(\"a\"); print(p.Sphere(\"b\").Radius(), p.Sphere(\"c\").Radius());");
  EXPECT_EQ(printed, (std::vector<std::string>{"4 0.5 1 2 3", "null null null", "2 3"}));
  EXPECT_EQ(console,
            (std::vector<std::string>{"Unable to find the requested sphere", "Unable to find the requested box",
                                      "Unable to find the requested capsule", "Unable to find the requested sphere",
                                      "Unable to find the requested box", "Unable to find the requested capsule"}));
  objPhysics* body = Body("w", "o");
  const btCompoundShape& shape = body->shape;
  ASSERT_EQ(shape.getNumChildShapes(), 4);
  objPhyPrimitive* b = body->Sphere("b");
  objPhyPrimitive* c = body->Sphere("c");
  EXPECT_EQ(shape.getChildTransform(b->ChildIndex()).getOrigin(), btVector3(5, 0, 0));
  EXPECT_EQ(shape.getChildTransform(c->ChildIndex()).getOrigin(), btVector3(10, 0, 0));

  // The child that moved into the deleted one's place is still the one its record edits,
  // and the compound's bounds follow a shrinking primitive.
  Run("p.Sphere(\"c\").Position(20, 0, 0); p.Sphere(\"c\").Radius(0.5);");
  EXPECT_EQ(shape.getChildTransform(c->ChildIndex()).getOrigin(), btVector3(20, 0, 0));
  EXPECT_EQ(shape.getChildTransform(b->ChildIndex()).getOrigin(), btVector3(5, 0, 0));
  btVector3 low, high;
  shape.getAabb(btTransform::getIdentity(), low, high);
  EXPECT_FLOAT_EQ(high.x(), 20.5f);
  Run("global seen = function(t, p, n) { global hitP = p; };"
      "w.Physics.RayCast(Vector3(20, 60, 0), Vector3(20, 40, 0), \"seen\");");
  ExpectNear(Vec("hitP"), 20, 50.5f, 0, 1e-3f);
}

// Whatever a collision function does to bodies and shapes, Bullet is in the middle of its
// step: the edits reach it after the step, while the script sees them at once. Run under the
// sanitizer build, this also shows that nothing freed or moved is reached.
TEST_F(PhysicsTest, EditsFromInsideAStepTakeEffectAfterIt) {
  Run(kFloorAndBall);
  Run("w.Physics.Gravity(0, -0.05, 0); global calls = 0;"
      "global edit = function(self, other) {"
      "  global calls = calls + 1; p = self.Physics;"
      "  p.NewSphere(\"t\"); p.Sphere(\"t\").Radius(0.5); p.Sphere(\"t\").Position(0, 1, 0);"
      "  r = p.Sphere(\"t\").Radius(); p.DelSphere(\"t\");"
      "  p.Mass(5); m = p.Mass(); p.Mass(0); p.Mass(1);"
      "  p.Sphere(\"s\").Radius(1.5); p.Sphere(\"s\").Radius(1); p.Position(p.Position());"
      "  other.Physics.Box(\"b\").Dimensions(50, 1, 50);"
      "  o = w.NewObject(\"late\"); o.Physics.NewSphere(\"s\"); o.Physics.Sphere(\"s\").Radius(0.2);"
      "  o.Physics.Position(calls * 3, 30, 0); o.Physics.Mass(1); o.Delete();"
      "  if (calls == 1) { print(r, m, p.Mass()); }"
      "};"
      "ball.Physics.ScriptCollision(\"edit\");");
  Frames(80);
  const int calls = machine->GetGlobals()->GetByName(machine, "calls").GetInt();
  EXPECT_GT(calls, 10);
  EXPECT_EQ(printed, (std::vector<std::string>{"0.5 5 1"}));
  objPhysics* ball = Body("w", "ball");
  EXPECT_EQ(ball->Mass(), 1.0f);
  EXPECT_EQ(ball->shape.getNumChildShapes(), 1);
  EXPECT_EQ(ball->spheres.count, 1);
  // It still rests on the floor, in the dynamic group.
  EXPECT_NEAR(Origin(ball).y(), 1.0f, 0.1f);
  EXPECT_EQ(ball->body->getBroadphaseHandle()->m_collisionFilterGroup, btBroadphaseProxy::DefaultFilter);
}

std::string WriteFile(const char* a_name, const std::vector<unsigned char>& a_bytes) {
  const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / a_name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(a_bytes.data()), a_bytes.size());
  return path.string();
}

void Put32(std::vector<unsigned char>& a_bytes, uint32_t a_v) {
  for (int i = 0; i < 4; ++i) a_bytes.push_back(static_cast<unsigned char>(a_v >> (8 * i)));
}

void PutFloat(std::vector<unsigned char>& a_bytes, float a_f) {
  uint32_t bits;
  std::memcpy(&bits, &a_f, 4);
  Put32(a_bytes, bits);
}

// A hull of the eight corners of a cube of half size a_half.
void PutCube(std::vector<unsigned char>& a_bytes, float a_half) {
  Put32(a_bytes, 8);
  for (int i = 0; i < 8; ++i) {
    PutFloat(a_bytes, i & 1 ? a_half : -a_half);
    PutFloat(a_bytes, i & 2 ? a_half : -a_half);
    PutFloat(a_bytes, i & 4 ? a_half : -a_half);
    PutFloat(a_bytes, 0);
  }
}

TEST_F(PhysicsTest, HullFiles) {
  std::vector<unsigned char> good;
  PutCube(good, 1);
  PutCube(good, 2);
  std::vector<unsigned char> bad;
  PutCube(bad, 1);
  Put32(bad, static_cast<uint32_t>(-5));
  const std::string goodFile = WriteFile("good.pmap", good);
  const std::string badFile = WriteFile("bad.pmap", bad);
  Run("NewScene(\"w\"); global a = w.NewObject(\"a\"); global b = w.NewObject(\"b\");"
      "a.Physics.Mass(2); a.Physics.AddPmap(\"" +
      goodFile +
      "\");"
      "b.Physics.Position(10, 0, 0); b.Physics.AddPmap(\"" +
      badFile +
      "\"); b.Physics.AddPmap(\"nothere.pmap\");"
      "global seen = function(t, p, n) { global hitP = p; };");
  // Hulls keep Bullet's default collision margin of 0.04 around their points.
  Run("w.Physics.RayCast(Vector3(0, 10, 0), Vector3(0, -10, 0), \"seen\");");
  ExpectNear(Vec("hitP"), 0, 2.04f, 0, 2e-3f);
  Run("w.Physics.RayCast(Vector3(10, 10, 0), Vector3(10, -10, 0), \"seen\");");
  ExpectNear(Vec("hitP"), 10, 1.04f, 0, 2e-3f);
  EXPECT_EQ(console, (std::vector<std::string>{badFile + " is not a valid hull file", "nothere.pmap not found"}));
  objPhysics* a = Body("w", "a");
  EXPECT_EQ(a->shape.getNumChildShapes(), 2);
  EXPECT_EQ(Body("w", "b")->shape.getNumChildShapes(), 1);
  // The inertia is that of the loaded shape; the body is dynamic.
  EXPECT_EQ(a->Mass(), 2.0f);
  EXPECT_GT(a->body->getInvInertiaDiagLocal().x(), 0.0f);
  EXPECT_EQ(a->body->getBroadphaseHandle()->m_collisionFilterGroup, btBroadphaseProxy::DefaultFilter);
}

uint64_t PileHash(const char* a_scene) {
  uint64_t hash = 1469598103934665603ull;
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) {
    gScene* scene = static_cast<gScene*>(scenes.Get(i));
    if (scene->name != a_scene) continue;
    for (int j = 0; j < scene->objects.count; ++j) {
      const gPose pose = static_cast<sceObject*>(scene->objects.Get(j))->physics->Pose();
      const float* values[] = {&pose.basis[0][0], pose.origin};
      const int sizes[] = {9, 3};
      for (int k = 0; k < 2; ++k)
        for (int n = 0; n < sizes[k]; ++n) {
          uint32_t bits;
          std::memcpy(&bits, &values[k][n], 4);
          hash = (hash ^ bits) * 1099511628211ull;
        }
    }
  }
  return hash;
}

// The same pile built twice in one process settles bit for bit the same.
TEST_F(PhysicsTest, StackedPileIsDeterministic) {
  uint64_t hashes[2];
  for (int run = 0; run < 2; ++run) {
    char text[1024];
    std::snprintf(text, sizeof(text),
                  "NewScene(\"pile%d\"); global s = pile%d; s.Physics.Gravity(0, -0.02, 0);"
                  "f = s.NewObject(\"floor\"); f.Physics.NewBox(\"b\"); f.Physics.Box(\"b\").Dimensions(20, 1, 20);"
                  "f.Physics.Position(0, -1, 0);"
                  "for (i = 0; i < 12; i = i + 1) { o = s.NewObject(format(\"box%%d\", i)); o.Physics.NewBox(\"b\");"
                  "  o.Physics.Box(\"b\").Dimensions(0.5, 0.5, 0.5); o.Physics.Position(i * 0.05, 0.5 + i * 1.01, 0);"
                  "  o.Physics.YawPitchRoll(i * 7, 0, 0); o.Physics.Mass(1); }",
                  run, run);
    Run(text);
    Frames(150);
    hashes[run] = PileHash(run == 0 ? "pile0" : "pile1");
    // Each pile is measured after its own 150 frames; the first one is out of the way.
    Run("pile0.Physics.Gravity(0, 0, 0);");
  }
  EXPECT_EQ(hashes[0], hashes[1]);
}

// What a world's broadphase holds that later steps depend on: counters, the order of its
// pairs and of the world's bodies. The count of new pairs matters to the next step only up
// to the number of pairs in the cache.
std::vector<long long> BroadphaseState(const char* a_scene) {
  std::vector<long long> state;
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) {
    gScene* scene = static_cast<gScene*>(scenes.Get(i));
    if (scene->name != a_scene) continue;
    scePhysics* p = scene->physics;
    const btDbvtBroadphase& b = p->broadphase;
    const btBroadphasePairArray& pairs = b.m_paircache->getOverlappingPairArray();
    state = {b.m_gid,
             std::min(b.m_newpairs, pairs.size()),
             b.m_needcleanup,
             b.m_updates_call,
             b.m_updates_done,
             b.m_cid,
             b.m_sets[0].m_leaves,
             b.m_sets[1].m_leaves,
             b.m_sets[0].m_opath};
    for (int k = 0; k < pairs.size(); ++k) {
      state.push_back(pairs[k].m_pProxy0->m_uniqueId);
      state.push_back(pairs[k].m_pProxy1->m_uniqueId);
    }
    const btCollisionObjectArray& bodies = p->world->getCollisionObjectArray();
    for (int k = 0; k < bodies.size(); ++k) {
      const objPhysics* body = static_cast<const objPhysics*>(bodies[k]->getUserPointer());
      state.push_back(std::hash<std::string>()(body->object->name));
      state.push_back(bodies[k]->getBroadphaseHandle()->m_collisionFilterGroup);
    }
  }
  return state;
}

// A new body enters the broadphase late, as a dynamic one when it gets its mass first; the
// world must end up as if it had entered static when made and followed every edit. A ray
// cast (which needs every body in place) makes it enter at once, where the script puts it.
TEST_F(PhysicsTest, LateEntryLeavesTheWorldAsEarlyEntry) {
  const char* const kAtOnce = "s.Physics.RayCast(Vector3(0, -100, 0), Vector3(0, -99, 0), \"none\");";
  struct Variant {
    const char* afterMade;
    const char* beforeMass;
  } variants[] = {{kAtOnce, ""}, {"", kAtOnce}, {"", ""}};
  std::vector<long long> built[3], stepped[3];
  uint64_t hashes[3];
  for (int run = 0; run < 3; ++run) {
    const std::string scene = "late" + std::to_string(run);
    const std::string made = variants[run].afterMade, massed = variants[run].beforeMass;
    Run("NewScene(\"" + scene + "\"); global s = " + scene +
        "; s.Physics.Gravity(0, -0.02, 0);"
        "f = s.NewObject(\"floor\");" +
        made +
        "f.Physics.NewBox(\"b\"); f.Physics.Box(\"b\").Dimensions(20, 1, 20);"
        "f.Physics.Position(0, -1, 0);"
        "for (i = 0; i < 10; i = i + 1) { o = s.NewObject(format(\"box%d\", i));" +
        made +
        "  o.Physics.NewBox(\"b\"); o.Physics.Box(\"b\").Dimensions(0.5, 0.5, 0.5);"
        "  o.Physics.Position(i * 0.05, 0.5 + i * 1.01, 0); o.Physics.YawPitchRoll(i * 7, 0, 0);" +
        massed +
        "  o.Physics.Mass(1); }"
        // Given a mass first, then shaped and moved onto the pile.
        "m = s.NewObject(\"late\");" +
        made + "m.Physics.NewSphere(\"s\");" + massed +
        "m.Physics.Mass(1);"
        "m.Physics.Sphere(\"s\").Radius(0.5); m.Physics.Position(0.2, 11, 0.1);"
        // Two made before either gets a mass, the second over the first.
        "a = s.NewObject(\"a\");" +
        made +
        "a.Physics.NewSphere(\"s\"); a.Physics.Sphere(\"s\").Radius(1);"
        "a.Physics.Position(5, 1, 0);"
        "b = s.NewObject(\"b\");" +
        made +
        "b.Physics.NewSphere(\"s\"); b.Physics.Sphere(\"s\").Radius(1);"
        "b.Physics.Position(5, 2.5, 0);" +
        massed +
        "b.Physics.Mass(1); a.Physics.Mass(2);"
        // Static, moved far from where it was made.
        "w = s.NewObject(\"wall\");" +
        made +
        "w.Physics.NewBox(\"b\"); w.Physics.Box(\"b\").Dimensions(1, 5, 5);"
        "w.Physics.Position(-3, 2, 0);" +
        kAtOnce);
    built[run] = BroadphaseState(scene.c_str());
    Frames(120);
    stepped[run] = BroadphaseState(scene.c_str());
    hashes[run] = PileHash(scene.c_str());
    Run("s.Physics.Gravity(0, 0, 0);");
  }
  for (int run = 1; run < 3; ++run) {
    EXPECT_EQ(built[run], built[0]) << "run " << run;
    EXPECT_EQ(stepped[run], stepped[0]) << "run " << run;
    EXPECT_EQ(hashes[run], hashes[0]) << "run " << run;
  }
}

// Bytes the allocator has handed out and not had back (the sanitizers bring their own).
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// Scenes live until the process ends, so what an empty one holds is what a game that
// makes a level per scene keeps; and the world's small pools still hold every contact of
// a big scene, taking more from the heap.
TEST_F(PhysicsTest, EmptyScenesAreSmallAndBigScenesStillCollide) {
  Run("NewScene(\"first\");");  // what only the first scene makes: types, hooks, lists
  const size_t before = HeapInUse();
  Run("for (i = 0; i < 100; i = i + 1) { NewScene(format(\"empty%d\", i)); }");
  const size_t perScene = (HeapInUse() - before) / 100;
  EXPECT_LT(perScene, 512u * 1024u);

  const int balls = 3 * scePhysics::POOLED_MANIFOLDS;
  Run("NewScene(\"big\"); big.Physics.Gravity(0, -0.02, 0);"
      "f = big.NewObject(\"floor\"); f.Physics.NewBox(\"b\"); f.Physics.Box(\"b\").Dimensions(200, 1, 200);"
      "f.Physics.Position(0, -1, 0);"
      "for (i = 0; i < " +
      std::to_string(balls) +
      "; i = i + 1) { o = big.NewObject(format(\"ball%d\", i));"
      "  o.Physics.NewSphere(\"s\"); o.Physics.Sphere(\"s\").Radius(0.5);"
      "  o.Physics.Position((i % 30) * 3 - 45, 1, (i / 30) * 3 - 45); o.Physics.Mass(1); }");
  Frames(90);
  scePhysics* world = static_cast<scePhysics*>(scePhysics::Worlds().Get(scePhysics::Worlds().count - 1));
  ASSERT_EQ(world->bodies.count, balls + 1);
  EXPECT_GT(world->dispatcher.getNumManifolds(), int(scePhysics::POOLED_MANIFOLDS));
  int resting = 0;
  for (int i = 0; i < world->bodies.count; ++i) {
    const float y = Origin(static_cast<objPhysics*>(world->bodies.Get(i))).y();
    resting += std::fabs(y - 0.5f) < 0.05f;
  }
  EXPECT_EQ(resting, balls);
}

TEST_F(PhysicsTest, WrappersOfDeletedBodiesAndRecordsCallNothing) {
  Run(kFloorAndBall);
  Run("global kept = ball.Physics; global keptSphere = ball.Physics.Sphere(\"s\");"
      "ball.Physics.NewCapsule(\"c\"); global keptCapsule = ball.Physics.Capsule(\"c\");"
      "global box = floor.Physics.Box(\"b\"); floor.Physics.DelBox(\"b\"); print(box.Dimensions());"
      "ball.Delete(); global keptWorld = w.Physics;");
  Frames(1);
  Run("print(kept.Mass(), kept.Position(), keptSphere.Radius(), keptCapsule.Height()); kept.Mass(3);"
      "keptSphere.Radius(2); keptCapsule.Radius(1);"
      "kept = null; keptSphere = null; keptCapsule = null; box = null; sysCollectGarbage(1);");
  gScene::DestroyAll();
  scePhysics::DestroyAll();
  Run("print(keptWorld.RayCast(Vector3(0, 9, 0), Vector3(0, -9, 0), \"\")); keptWorld = null; sysCollectGarbage(1);");
  EXPECT_EQ(printed, (std::vector<std::string>{"null", "null null null null", "null"}));
}

TEST_F(PhysicsTest, ComponentsNeedAWorldAndAreMadeOncePerOwner) {
  Run(kFloorAndBall);
  Run("ball.Physics.Mass(3); print(_ObjPhysics(ball._core).Mass(), _ScePhysics(w._core).RayCast(Vector3(0, 9, 0), "
      "Vector3(0, -9, 0), \"\"));");
  EXPECT_EQ(printed, (std::vector<std::string>{"3 1"}));
  const int entries = LogCount();
  Run("global s = _Scene(); global o = _Object(s); o._Name(\"lost\"); global p = _ObjPhysics(o); print(\"not "
      "reached\");");
  EXPECT_EQ(printed.size(), 1u);
  ASSERT_GT(LogCount(), entries);
}

// A body given numbers that are not finite must go on exactly as a twin in a world of its
// own that was given none; and one whose speed overflowed comes back with a new pose, at
// rest.
TEST_F(PhysicsTest, NumbersThatAreNotFiniteChangeNothing) {
  const char* const twin =
      "NewScene(\"%s\"); %s.Physics.Gravity(0, -0.1, 0); global %s = %s.NewObject(\"body\");"
      "%s.Physics.NewSphere(\"s\"); %s.Physics.Sphere(\"s\").Radius(1); %s.Physics.NewBox(\"b\");"
      "%s.Physics.Box(\"b\").Dimensions(1, 1, 1); %s.Physics.NewCapsule(\"c\"); %s.Physics.Mass(1);"
      "%s.Physics.ForwardTarget(1, 0, 0); %s.Physics.ForwardPower(0.1); %s.Physics.AddTorque(Vector3(0, 0.1, 0));";
  for (const char* name : {"w", "v"}) {
    const char* body = name[0] == 'w' ? "a" : "b";
    char text[1024];
    std::snprintf(text, sizeof text, twin, name, name, body, name, body, body, body, body, body, body, body, body,
                  body);
    Run(text);
  }
  Run("global hit = function(o, p, n) { print(\"hit\"); };");
  const char* const calls[] = {
      "a.Physics.Position(%s, 0, 0)",
      "a.Physics.Position(Vector3(0, %s, 0))",
      "a.Physics.YawPitchRoll(0, %s, 0)",
      "a.Physics.AxisAngle(Vector3(0, 1, 0), %s)",
      "a.Physics.AddForce(Vector3(%s, 0, 0))",
      "a.Physics.AddTorque(Vector3(0, 0, %s))",
      "a.Physics.RightTarget(%s, 0, 0)",
      "a.Physics.UpTarget(Vector3(0, %s, 0))",
      "a.Physics.ForwardTarget(0, 0, %s)",
      "a.Physics.VelocityTarget(%s, 0, 0)",
      "a.Physics.RightPower(%s)",
      "a.Physics.UpPower(%s)",
      "a.Physics.ForwardPower(%s)",
      "a.Physics.VelocityPower(%s)",
      "a.Physics.VelocitySpeed(%s)",
      "a.Physics.Mass(%s)",
      "a.Physics.Damping(%s, 0)",
      "a.Physics.Friction(%s)",
      "a.Physics.Restitution(%s)",
      "a.Physics.Sphere(\"s\").Radius(%s)",
      "a.Physics.Sphere(\"s\").Position(0, %s, 0)",
      "a.Physics.Box(\"b\").Dimensions(1, %s, 1)",
      "a.Physics.Capsule(\"c\").Radius(%s)",
      "a.Physics.Capsule(\"c\").Height(%s)",
      "w.Physics.Gravity(0, %s, 0)",
      "w.Physics.RayCast(Vector3(0, 10, 0), Vector3(0, %s, 0), \"hit\")",
  };
  objPhysics* a = Body("w", "body");
  objPhysics* b = Body("v", "body");
  ASSERT_TRUE(a && b);
  for (const char* call : calls)
    for (const char* value : {"0.0 / 0.0", "1.0 / 0.0", "-1.0 / 0.0"}) {
      char text[256];
      std::snprintf(text, sizeof text, call, value);
      Run(std::string(text) + ";");
      Frames(2);
      ASSERT_EQ(Origin(a), Origin(b)) << text;
      ASSERT_EQ(a->body->getWorldTransform().getBasis(), b->body->getWorldTransform().getBasis()) << text;
      ASSERT_EQ(a->body->getLinearVelocity(), b->body->getLinearVelocity()) << text;
      ASSERT_EQ(a->body->getAngularVelocity(), b->body->getAngularVelocity()) << text;
    }
  EXPECT_TRUE(printed.empty());
  EXPECT_TRUE(std::isfinite(Origin(a).y()) && Origin(a).y() < -1);

  // Finite but huge forces: the speed overflows, and with it the pose.
  for (int i = 0; i < 4; ++i) {
    Run("a.Physics.AddForce(Vector3(3.0e38, 0, 0));");
    Frames(1);
  }
  EXPECT_FALSE(std::isfinite(Origin(a).x()));
  Run("a.Physics.Position(0, 5, 0);");
  Frames(3);
  EXPECT_EQ(Origin(a).x(), 0.0f);
  EXPECT_LT(Origin(a).y(), 5.0f);
  EXPECT_GT(Origin(a).y(), 4.0f);
}

}  // namespace
}  // namespace physicsTest
