// The debug drawing of a world, from a build without sanitizers, on a private Xvfb (Mesa's
// software rasteriser), 1024 by 768:
//   build/bench/physics/physics_draw_bench
// 100 bodies in front of one camera, twice: each body one primitive (boxes, spheres and
// capsules in turn, as game bodies mostly are), then each a compound of all three. The time
// of one camera pass's overlay (state saved and restored, every shape drawn, finished by
// glFinish; target 2 ms), against Bullet's own debugDrawWorld through the same drawer's
// immediate-mode lines; with the world's own mode (labels on every box) and with lines only,
// and the labelled pass against the lines-only one (target 2.0 or less).
// Medians of five runs of 100 passes.
#include <GL/gl.h>
#include <btBulletDynamicsCommon.h>
#include <irrlicht.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "graphics/sceGraphics.h"
#include "physics/GLDebugDrawer.h"
#include "physics/scePhysics.h"
#include "platform/gWindowSystem.h"
#include "scene/gScene.h"
#include "tests/graphics/graVirtualDisplay.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double Median(std::vector<double> a_values) {
  std::sort(a_values.begin(), a_values.end());
  return a_values[a_values.size() / 2];
}

}  // namespace

int main() {
  if (!graphicsTest::VirtualDisplay::Ensure()) {
    std::printf("debug drawing skipped: no display server\n");
    return 0;
  }
  gWindowSystem::TolerateProtocolErrors();
  irr::SIrrlichtCreationParameters parameters;
  parameters.DriverType = irr::video::EDT_OPENGL;
  parameters.WindowSize = irr::core::dimension2d<irr::u32>(1024, 768);
  parameters.Bits = 32;
  parameters.Vsync = false;
  irr::IrrlichtDevice* device = irr::createDeviceEx(parameters);
  if (!device) {
    std::printf("debug drawing skipped: no OpenGL device\n");
    return 0;
  }
  irr::video::IVideoDriver* driver = device->getVideoDriver();
  irr::scene::ISceneManager* manager = device->getSceneManager();
  irr::scene::ICameraSceneNode* camera =
      manager->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, 0), irr::core::vector3df(0, 0, 1));

  // Made for the process; the bench ends with it.
  gScene* scene = new gScene();
  scene->physics = new scePhysics();
  new sceGraphics(scene, manager);
  scene->physics->drawDebug = true;
  btDiscreteDynamicsWorld* world = scene->physics->world.get();
  std::vector<std::unique_ptr<btCollisionShape>> shapes;
  std::vector<std::unique_ptr<btRigidBody>> bodies;
  const auto primitive = [&](int a_kind) -> btCollisionShape* {
    switch (a_kind) {
      case 0:
        shapes.emplace_back(new btBoxShape(btVector3(1, 1, 1)));
        break;
      case 1:
        shapes.emplace_back(new btSphereShape(0.8f));
        break;
      default:
        shapes.emplace_back(new btCapsuleShape(0.5f, 2));
        break;
    }
    return shapes.back().get();
  };

  for (const bool compoundBodies : {false, true}) {
    for (std::unique_ptr<btRigidBody>& body : bodies) world->removeRigidBody(body.get());
    bodies.clear();
    shapes.clear();
    for (int i = 0; i < 100; ++i) {
      btCompoundShape* compound = new btCompoundShape();
      shapes.emplace_back(compound);
      if (compoundBodies) {
        compound->addChildShape(btTransform::getIdentity(), primitive(0));
        compound->addChildShape(btTransform(btQuaternion::getIdentity(), btVector3(2, 0, 0)), primitive(1));
        compound->addChildShape(btTransform(btQuaternion::getIdentity(), btVector3(-2, 0, 0)), primitive(2));
      } else {
        compound->addChildShape(btTransform::getIdentity(), primitive(i % 3));
      }
      btRigidBody::btRigidBodyConstructionInfo info(0, nullptr, compound);
      info.m_startWorldTransform.setOrigin(btVector3((i % 10 - 4.5f) * 6, (i / 10 - 4.5f) * 5, 60));
      bodies.emplace_back(new btRigidBody(info));
      bodies.back()->setActivationState(DISABLE_DEACTIVATION);
      world->addRigidBody(bodies.back().get());
    }

    // The world's own mode labels every box's corners and faces; mode 0 draws lines only.
    double labelled = 0, linesOnly = 0;
    for (const int mode : {int(btIDebugDraw::DBG_DrawFeaturesText), 0}) {
      const int kPasses = 100;
      std::vector<double> ours, bullet;
      for (int run = 0; run < 5; ++run) {
        driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
        manager->drawAll();
        camera->render();
        scene->physics->debugDrawer.setDebugMode(mode);
        glFinish();
        double t = Now();
        for (int i = 0; i < kPasses; ++i) GLDebugDrawer::DrawOverlay(scene, driver);
        glFinish();
        ours.push_back((Now() - t) / kPasses);

        // Bullet's own walk over the same shapes, through the drawer's lines.
        scene->physics->debugDrawer.setDebugMode(btIDebugDraw::DBG_DrawWireframe);
        glMatrixMode(GL_MODELVIEW);
        t = Now();
        for (int i = 0; i < kPasses; ++i) world->debugDrawWorld();
        glFinish();
        bullet.push_back((Now() - t) / kPasses);
        driver->endScene();
      }
      const double a = Median(ours) * 1000.0, b = Median(bullet) * 1000.0;
      (mode == 0 ? linesOnly : labelled) = a;
      std::printf(
          "debug drawing, 100 bodies of %s, one pass, mode %d  ours %8.3f ms  bullet %8.3f ms  ratio %5.2f  "
          "(target 2 ms)\n",
          compoundBodies ? "three shapes" : "one shape   ", mode, a, b, b > 0 ? a / b : 0.0);
    }
    std::printf("debug drawing, 100 bodies of %s, labels against lines only  ratio %5.2f  (target 2.0)\n",
                compoundBodies ? "three shapes" : "one shape   ", linesOnly > 0 ? labelled / linesOnly : 0.0);
  }
  world->getCollisionObjectArray().clear();
  return 0;
}
