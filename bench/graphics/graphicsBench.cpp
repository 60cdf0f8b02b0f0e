// What the player's graphics cost over the engine itself, from a build without sanitizers:
//   build/bench/graphics/graphics_bench [frames]
// N objects are built through scripts, each showing the textured 10-unit cube, watched by
// one camera, and 300 frames are run: the scene step's pose copies plus the render step.
// The same picture is then drawn by plain engine code (the same nodes in one scene graph,
// no script objects) in the same process. Rows: the null driver with 1000 objects, and
// OpenGL at 1024 by 768 on a private Xvfb (Mesa's software rasteriser) with 500 objects.
// Runs of the two alternate; the medians of five are printed with their ratio.
// A third row draws effects on OpenGL: 20 particle systems at 200 particles per second, 50
// beams and a sky box, on an engine clock moved 33 ms per frame; the plain engine draws the
// same nodes (our beam node among them, as the engine has none).
// Targets: null driver, 1000 objects: at most 0.5 ms per frame; OpenGL, 500 objects: at
// most 10 ms per frame; every row within 1.15 times the plain engine.
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
#include "graphics/CBeamNode.h"
#include "graphics/_gGraphics.h"
#include "graphics/sceGraphics.h"
#include "host/gObjectComponents.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "platform/gWindowSystem.h"
#include "scene/gScene.h"
#include "tests/graphics/graVirtualDisplay.h"

namespace {

using Clock = std::chrono::steady_clock;

void Quiet(gmMachine*, const char*) {}

// The scene step's share of each player run (the pose copies), in ms per frame.
std::vector<double> s_syncMs;

class QuietLog : public irr::IEventReceiver {
 public:
  bool OnEvent(const irr::SEvent& a_event) override { return a_event.EventType == irr::EET_LOG_TEXT_EVENT; }
};

std::string Fixture(const char* a_name) { return std::string(OMBRIX_GRAPHICS_FIXTURES) + "/" + a_name; }

// Grid places: rows of 25 cubes 12 units apart, 60 to 200 units in front of the camera.
void Place(int a_index, float& a_x, float& a_y, float& a_z) {
  a_x = static_cast<float>(a_index % 25 - 12) * 12.0f;
  a_y = static_cast<float>(a_index / 25 % 20 - 10) * 12.0f;
  a_z = 60.0f + static_cast<float>(a_index / 500) * 40.0f;
}

irr::IrrlichtDevice* NewDevice(irr::video::E_DRIVER_TYPE a_driver, QuietLog* a_log) {
  irr::SIrrlichtCreationParameters parameters;
  parameters.DriverType = a_driver;
  parameters.WindowSize = irr::core::dimension2d<irr::u32>(1024, 768);
  parameters.Bits = 32;
  parameters.EventReceiver = a_log;
  irr::IrrlichtDevice* device = irr::createDeviceEx(parameters);
  if (device) {
    device->getVideoDriver()->setTextureCreationFlag(irr::video::ETCF_ALWAYS_32_BIT, true);
    device->getVideoDriver()->setTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS, true);
  }
  return device;
}

// Milliseconds per frame of the player's graphics: objects built by scripts.
double PlayerRun(irr::video::E_DRIVER_TYPE a_driver, int a_objects, int a_frames) {
  QuietLog log;
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  gObjectComponents::Install();
  irr::IrrlichtDevice* device = NewDevice(a_driver, &log);
  if (!device) return -1.0;
  _gGraphics::instance->device = device;
  device->getVideoDriver()->beginScene(true, true, irr::video::SColor(128, 10, 10, 10));
  std::string script =
      "global _ScePhysics = function(s) { return null; }; global _ObjPhysics = function(o) { return null; };"
      "global _ObjAudio = function(o) { return null; };"
      "NewScene(\"world\"); global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\");"
      "eye.Graphics.Camera(\"c\").FarClip(5000);"
      "global cube = Graphics.NewMesh(\"" +
      Fixture("cube.obj") +
      "\");"
      "global tint = Graphics.NewTexture(\"" +
      Fixture("tint.png") +
      "\");"
      "global place = function(i, x, y, z) { o = world.NewObject(\"box\" + i); o.Graphics.NewMesh(\"m\", cube);"
      "  m = o.Graphics.Mesh(\"m\"); m.Texture(tint); m.Position(x, y, z); };";
  for (int i = 0; i < a_objects; ++i) {
    float x, y, z;
    Place(i, x, y, z);
    char line[96];
    std::snprintf(line, sizeof(line), "place(%d, %g, %g, %g);", i, x, y, z);
    script += line;
  }
  machine->RunString(script.c_str());
  for (int i = 0; i < 5; ++i) {  // warm-up: textures uploaded, caches filled
    gScene::UpdateAll();
    _gGraphics::instance->RenderFrame();
  }
  Clock::duration sync{};
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < a_frames; ++i) {
    const Clock::time_point before = Clock::now();
    gScene::UpdateAll();
    sync += Clock::now() - before;
    _gGraphics::instance->RenderFrame();
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / a_frames;
  s_syncMs.push_back(std::chrono::duration<double, std::milli>(sync).count() / a_frames);
  device->getVideoDriver()->endScene();
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
  gScene::DestroyAll();
  host.reset();
  delete _gGraphics::instance;
  delete _gClock::instance;
  delete _gInput::instance;
  device->drop();
  return ms;
}

constexpr int kParticleSystems = 20;
constexpr int kBeams = 50;

// Milliseconds per frame of the player drawing the effects scene.
double PlayerEffectsRun(irr::video::E_DRIVER_TYPE a_driver, int, int a_frames) {
  QuietLog log;
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  gObjectComponents::Install();
  irr::IrrlichtDevice* device = NewDevice(a_driver, &log);
  if (!device) return -1.0;
  device->getTimer()->stop();
  _gGraphics::instance->device = device;
  device->getVideoDriver()->beginScene(true, true, irr::video::SColor(128, 10, 10, 10));
  char text[2048];
  std::snprintf(text, sizeof(text),
                "global _ScePhysics = function(s) { return null; }; global _ObjPhysics = function(o) { return null; };"
                "global _ObjAudio = function(o) { return null; };"
                "NewScene(\"world\"); world.Graphics.SkyBox(\"%s\");"
                "global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\"); "
                "eye.Graphics.Camera(\"c\").Position(0, 0, -150);"
                "global fx = world.NewObject(\"fx\").Graphics;"
                "for (i = 0; i < %d; i = i + 1) { fx.NewParticles(\"p\"); p = fx.Particles(\"p\");"
                "  p.Position(i * 10 - 100, -40, 0); p.MinPerSecond(200); p.MaxPerSecond(200);"
                "  p.MinStartColor(1, 0.5, 0, 1); p.MaxStartColor(1, 1, 0, 1); }"
                "for (i = 0; i < %d; i = i + 1) { fx.NewBeam(\"z\"); z = fx.Beam(\"z\"); z.From(i * 4 - 100, -50, 20);"
                "  z.To(i * 4 - 100, 50, 20); z.Size(1); z.Color(0, 1, 0, 1); }",
                Fixture("sky.png").c_str(), kParticleSystems, kBeams);
  machine->RunString(text);
  auto frame = [&] {
    device->getTimer()->setTime(device->getTimer()->getTime() + 33);
    gScene::UpdateAll();
    _gGraphics::instance->RenderFrame();
  };
  for (int i = 0; i < 60; ++i) frame();  // the systems fill up
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < a_frames; ++i) frame();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / a_frames;
  device->getVideoDriver()->endScene();
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
  gScene::DestroyAll();
  host.reset();
  delete _gGraphics::instance;
  delete _gClock::instance;
  delete _gInput::instance;
  device->drop();
  return ms;
}

double PlainEffectsRun(irr::video::E_DRIVER_TYPE a_driver, int, int a_frames) {
  QuietLog log;
  irr::IrrlichtDevice* device = NewDevice(a_driver, &log);
  if (!device) return -1.0;
  device->getTimer()->stop();
  irr::video::IVideoDriver* driver = device->getVideoDriver();
  irr::scene::ISceneManager* manager = device->getSceneManager()->createNewSceneManager(false);
  driver->setTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS, false);
  irr::video::ITexture* faces[6];
  const char* names[6] = {"sky_top.png",   "sky_bottom.png", "sky_left.png",
                          "sky_right.png", "sky_front.png",  "sky_back.png"};
  for (int i = 0; i < 6; ++i) faces[i] = driver->getTexture(Fixture(names[i]).c_str());
  driver->setTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS, true);
  manager->addSkyBoxSceneNode(faces[0], faces[1], faces[2], faces[3], faces[4], faces[5]);
  manager->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, -150), irr::core::vector3df(0, 0, 0));
  irr::scene::ISceneNode* parent = manager->addEmptySceneNode();
  for (int i = 0; i < kParticleSystems; ++i) {
    irr::scene::IParticleSystemSceneNode* node = manager->addParticleSystemSceneNode(false, parent);
    node->setPosition(irr::core::vector3df(i * 10.0f - 100, -40, 0));
    node->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    node->setMaterialType(irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
    irr::scene::IParticleEmitter* emitter = node->createBoxEmitter(
        irr::core::aabbox3df(-10, 28, -10, 10, 30, 10), irr::core::vector3df(0, 0.05f, 0), 200, 200,
        irr::video::SColor(255, 255, 127, 0), irr::video::SColor(255, 255, 255, 0), 2000, 4000, 30);
    node->setEmitter(emitter);
    emitter->drop();
    irr::scene::IParticleAffector* fade = node->createFadeOutParticleAffector(irr::video::SColor(0), 1000);
    node->addAffector(fade);
    fade->drop();
    irr::scene::IParticleAffector* gravity = node->createGravityAffector(irr::core::vector3df(0, -0.03f, 0), 1000);
    node->addAffector(gravity);
    gravity->drop();
  }
  for (int i = 0; i < kBeams; ++i) {
    CBeamNode* beam = new CBeamNode(parent, manager);
    beam->getMaterial(0).MaterialType = irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL;
    beam->SetEnds(irr::core::vector3df(i * 4.0f - 100, -50, 20), irr::core::vector3df(i * 4.0f - 100, 50, 20));
    beam->width = 1;
    beam->color = irr::video::SColor(255, 0, 255, 0);
    beam->drop();
  }
  driver->beginScene(true, true, irr::video::SColor(128, 10, 10, 10));
  auto frame = [&] {
    device->getTimer()->setTime(device->getTimer()->getTime() + 33);
    driver->endScene();
    driver->beginScene(true, true, irr::video::SColor(128, 0, 0, 0));
    manager->drawAll();
    device->getGUIEnvironment()->drawAll();
  };
  for (int i = 0; i < 60; ++i) frame();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < a_frames; ++i) frame();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / a_frames;
  driver->endScene();
  manager->drop();
  device->drop();
  return ms;
}

// The same picture from plain engine code.
double PlainRun(irr::video::E_DRIVER_TYPE a_driver, int a_objects, int a_frames) {
  QuietLog log;
  irr::IrrlichtDevice* device = NewDevice(a_driver, &log);
  if (!device) return -1.0;
  irr::video::IVideoDriver* driver = device->getVideoDriver();
  irr::scene::ISceneManager* manager = device->getSceneManager()->createNewSceneManager(false);
  manager->setAmbientLight(irr::video::SColorf(1, 1, 1, 1));
  irr::scene::IAnimatedMesh* cube = device->getSceneManager()->getMesh(Fixture("cube.obj").c_str());
  irr::video::ITexture* tint = driver->getTexture(Fixture("tint.png").c_str());
  irr::scene::ICameraSceneNode* camera =
      manager->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, 0), irr::core::vector3df(0, 0, 100));
  camera->setFarValue(5000);
  for (int i = 0; i < a_objects; ++i) {
    float x, y, z;
    Place(i, x, y, z);
    irr::scene::ISceneNode* parent = manager->addEmptySceneNode();
    irr::scene::IAnimatedMeshSceneNode* node = manager->addAnimatedMeshSceneNode(cube, parent);
    node->setPosition(irr::core::vector3df(x, y, z));
    node->setMaterialFlag(irr::video::EMF_NORMALIZE_NORMALS, true);
    node->setMaterialTexture(0, tint);
  }
  driver->beginScene(true, true, irr::video::SColor(128, 10, 10, 10));
  auto frame = [&] {
    driver->endScene();
    driver->beginScene(true, true, irr::video::SColor(128, 0, 0, 0));
    manager->drawAll();
    device->getGUIEnvironment()->drawAll();
  };
  for (int i = 0; i < 5; ++i) frame();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < a_frames; ++i) frame();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / a_frames;
  driver->endScene();
  manager->drop();
  device->drop();
  return ms;
}

double Median(std::vector<double> a_values) {
  if (a_values.empty()) return 0.0;
  std::sort(a_values.begin(), a_values.end());
  return a_values[a_values.size() / 2];
}

typedef double (*Run)(irr::video::E_DRIVER_TYPE a_driver, int a_objects, int a_frames);

void Row(const char* a_name, irr::video::E_DRIVER_TYPE a_driver, int a_objects, int a_frames, double a_target,
         Run a_player = PlayerRun, Run a_plain = PlainRun) {
  std::vector<double> player, plain;
  for (int run = 0; run < 5; ++run) {
    player.push_back(a_player(a_driver, a_objects, a_frames));
    plain.push_back(a_plain(a_driver, a_objects, a_frames));
    if (player.back() < 0 || plain.back() < 0) {
      std::printf("%-26s no device\n", a_name);
      return;
    }
  }
  const double ours = Median(player), theirs = Median(plain), sync = Median(s_syncMs);
  s_syncMs.clear();
  char target[32] = "";
  if (a_target > 0) std::snprintf(target, sizeof(target), "%.1f ms, ", a_target);
  std::printf(
      "%-24s %5d objects  player %8.3f ms (pose copies %.3f)  plain engine %8.3f ms  ratio %.3f"
      "  (target %sratio 1.15)\n",
      a_name, a_objects, ours, sync, theirs, ours / theirs, target);
  std::fflush(stdout);
}

}  // namespace

// [frames] [null|opengl|effects]: one row (opengl includes effects), all by default.
int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const std::string only = argc > 2 ? argv[2] : "";
  gmMachine::s_printCallback = Quiet;
  if (only.empty() || only == "null") Row("null driver", irr::video::EDT_NULL, 1000, frames, 0.5);
  if (only == "null") return 0;
  if (!graphicsTest::VirtualDisplay::Ensure()) {
    std::printf("OpenGL row skipped: no display server\n");
    return 0;
  }
  gWindowSystem::TolerateProtocolErrors();
  if (only != "effects") Row("OpenGL 1024x768 (Xvfb)", irr::video::EDT_OPENGL, 500, frames, 10.0);
  // Software rasterising of the particles is slow: a third of the frames.
  Row("effects, OpenGL (Xvfb)", irr::video::EDT_OPENGL, kParticleSystems + kBeams, std::max(1, frames / 3), 0.0,
      PlayerEffectsRun, PlainEffectsRun);
  return 0;
}
