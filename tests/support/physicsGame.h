#pragma once
// Whole frames in-process for the physics, shared by its tests and its benchmark: the
// player's script API, the frame unit of the main loop, a fake clock, the null device (its
// file system reads hull files), the object hooks and the contact callback. Graphics and
// audio are other subsystems: objects are made without them. One instance at a time: the
// subsystems it sets up are the process's own.
#include <irrlicht.h>

#include <cstdio>
#include <memory>
#include <string>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gObjectComponents.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "physics/objPhysics.h"
#include "physics/scePhysics.h"
#include "platform/gFileSystem.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

namespace testSupport {

class PhysicsGame {
 public:
  PhysicsGame() {
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gInput::instance->Setup(device, machine, false);
    gFileSystem::Set(device->getFileSystem());
    frame.machine = machine;
    frame.input = _gInput::instance;
    frame.clock = _gClock::instance;
    gObjectComponents::Install();
    scePhysics::InstallContactCallback();
    Run("global _SceGraphics = function(s) { return null; };"
        "global _ObjGraphics = function(o) { return null; };"
        "global _ObjAudio = function(o) { return null; };");
  }
  ~PhysicsGame() {
    gScene::DestroyAll();
    scePhysics::DestroyAll();
    gFileSystem::Set(nullptr);
    delete _gClock::instance;
    delete _gInput::instance;
    device->drop();
    host.reset();
  }
  PhysicsGame(const PhysicsGame&) = delete;
  PhysicsGame& operator=(const PhysicsGame&) = delete;

  // False, with the text on standard error, when the script does not run.
  bool Run(const std::string& a_text) {
    if (machine->RunString(a_text.c_str()) == 0) return true;
    std::fprintf(stderr, "script failed: %s\n", a_text.c_str());
    return false;
  }
  void Frames(int a_count) {
    for (int i = 0; i < a_count; ++i) frame.Run();
  }

  static gScene* Scene(const char* a_name) {
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) {
      gScene* scene = static_cast<gScene*>(scenes.Get(i));
      if (scene->name == a_name) return scene;
    }
    return nullptr;
  }
  // The physics component of the named object of the named scene.
  static objPhysics* Body(const char* a_scene, const char* a_object) {
    gScene* scene = Scene(a_scene);
    for (int j = 0; scene && j < scene->objects.count; ++j) {
      sceObject* object = static_cast<sceObject*>(scene->objects.Get(j));
      if (object->name == a_object) return object->physics;
    }
    return nullptr;
  }

  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  gMilliClockFake time;
  gFrame frame;
};

}  // namespace testSupport
