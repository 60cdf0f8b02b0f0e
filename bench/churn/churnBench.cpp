// Objects made and deleted by scripts against the same native work, from a build without
// sanitizers, on the null video driver:
//   build/bench/churn/churn_bench [FRAMES [OBJECTS]]
// 1. Churn: every frame a script function deletes the 100 objects it made the frame before
//    and makes 100 new ones, each with a mesh and a sphere body with mass in a grid 3 units
//    apart (bodies stacked in one place would measure Bullet's pair cache); the scene update
//    destroys the deleted ones and a full collection runs. The peer makes and deletes 100
//    Irrlicht mesh nodes and Bullet bodies (a compound holding a sphere, a motion state, in
//    the same kind of world) a frame in plain C++. Blocks of 50 frames alternate between
//    the two; the figure is the median block (target ratio 2.0 or less).
// 2. Memory figure: sysGetMemoryUsage after 100 000 objects made and deleted, against its
//    value before them, both after a full collection (target within 1%).
#include <btBulletDynamicsCommon.h>
#include <irrlicht.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "graphics/sceGraphics.h"
#include "host/gObjectComponents.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "physics/scePhysics.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double Median(std::vector<double> a_values) {
  std::sort(a_values.begin(), a_values.end());
  return a_values[a_values.size() / 2];
}

const int kPerFrame = 100;

// The player's script API with graphics on the null driver and physics; sound has no device.
struct Game {
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  gMilliClockFake time;

  Game() {
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gGraphics::instance->device = device;
    gObjectComponents::Install();
    scePhysics::InstallContactCallback();
    Run("NewScene(\"p\");"
        "global mesh = Graphics.NewMesh(\"" OMBRIX_MESH
        "\");"
        "global made = table();"
        "global churn = function() {"
        "  for (i = 0; i < " +
        std::to_string(kPerFrame) +
        "; i = i + 1) {"
        "    if (made[i]) { made[i].Delete(); }"
        "    b = p.NewObject(\"ball\");"
        "    b.Graphics.NewMesh(\"m\", mesh);"
        "    b.Physics.NewSphere(\"s\"); b.Physics.Sphere(\"s\").Radius(0.5);"
        "    b.Physics.Position((i % 10) * 3, 0, (i / 10) * 3);"
        "    b.Physics.Mass(1);"
        "    made[i] = b;"
        "  }"
        "};");
  }
  ~Game() {
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
    gScene::DestroyAll();
    scePhysics::DestroyAll();
    host.reset();
    device->drop();
  }
  void Run(const std::string& a_text) {
    if (machine->RunString(a_text.c_str()) != 0) std::fprintf(stderr, "script failed: %s\n", a_text.c_str());
  }
  // The script's frame: its function, the scene update that destroys what it deleted, and
  // the full collection a game asking for sysCollectGarbage(1) every frame gets.
  void Frame() {
    machine->FinishCall(machine->PrepareGlobalCall("churn"), 0);
    gScene::UpdateAll();
    machine->Collect(true);
  }
  long long Memory() { return machine->GetCurrentMemoryUsage(); }
};

// The same nodes and bodies in plain Irrlicht and Bullet.
struct Plain {
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768));
  irr::scene::IAnimatedMesh* mesh = device->getSceneManager()->getMesh(OMBRIX_MESH);
  btDefaultCollisionConfiguration configuration;
  btCollisionDispatcher dispatcher{&configuration};
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &configuration};
  struct Made {
    irr::scene::IMeshSceneNode* node;
    btCompoundShape* compound;
    btSphereShape* sphere;
    btDefaultMotionState* state;
    btRigidBody* body;
  };
  std::vector<Made> made;

  ~Plain() {
    Delete();
    device->drop();
  }
  void Delete() {
    for (Made& m : made) {
      world.removeRigidBody(m.body);
      delete m.body;
      delete m.state;
      delete m.compound;
      delete m.sphere;
      m.node->remove();
    }
    made.clear();
  }
  void Frame() {
    Delete();
    for (int i = 0; i < kPerFrame; ++i) {
      Made m;
      m.node = device->getSceneManager()->addMeshSceneNode(mesh);
      m.compound = new btCompoundShape();
      m.sphere = new btSphereShape(0.5f);
      m.compound->addChildShape(btTransform::getIdentity(), m.sphere);
      btVector3 inertia(0, 0, 0);
      m.compound->calculateLocalInertia(1, inertia);
      m.state = new btDefaultMotionState(
          btTransform(btQuaternion::getIdentity(), btVector3((i % 10) * 3.0f, 0, (i / 10) * 3.0f)));
      m.body = new btRigidBody(1, m.state, m.compound, inertia);
      m.body->setActivationState(DISABLE_DEACTIVATION);
      world.addRigidBody(m.body);
      made.push_back(m);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int block = 50;
  const int frames = argc > 1 ? std::max(block, std::atoi(argv[1])) : 1000;
  const int objects = argc > 2 ? std::max(0, std::atoi(argv[2])) : 100000;
  Game game;
  Plain plain;
  game.Frame();
  plain.Frame();

  std::vector<double> ours, peer;
  for (int done = 0; done < frames; done += block) {
    double t = Now();
    for (int i = 0; i < block; ++i) game.Frame();
    ours.push_back((Now() - t) / block);
    t = Now();
    for (int i = 0; i < block; ++i) plain.Frame();
    peer.push_back((Now() - t) / block);
  }
  const double a = Median(ours) * 1000.0, b = Median(peer) * 1000.0;
  std::printf(
      "churn of %d objects a frame, collecting every frame  ours %8.3f ms  native %8.3f ms  ratio %5.2f  "
      "(target 2.0)\n",
      kPerFrame, a, b, b > 0 ? a / b : 0.0);

  const long long before = game.Memory();
  for (int i = 0; i < objects / kPerFrame; ++i) game.Frame();
  const long long after = game.Memory();
  std::printf(
      "memory figure after %d objects made and deleted  before %lld bytes  after %lld bytes  change %+.2f%%  "
      "(target within 1%%)\n",
      objects, before, after, before > 0 ? (after - before) * 100.0 / before : 0.0);
  return 0;
}
