#pragma once
// Whole frames in-process for the physics: the player's script API, the frame unit of the
// main loop, a fake clock, the null device (its file system reads hull files), the object
// hooks and the contact callback. Scripts build the scenes; the tests read what scripts
// print, the console lines, and the bodies themselves.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/gConsole.h"
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

namespace physicsTest {

class PhysicsTest : public testing::Test {
 protected:
  void SetUp() override {
    s_current = this;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = CapturePrint;
    gConsole::SetSink(CaptureConsole);
    host = gNewScriptHost(false, gPlayerScriptApi());
    machine = host->GetMachine();
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32, false, false,
                               false, &_gInput::instance->receiver);
    ASSERT_NE(device, nullptr);
    gFileSystem::Set(device->getFileSystem());
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gInput::instance->Setup(device, machine, false);
    frame.machine = machine;
    frame.input = _gInput::instance;
    frame.clock = _gClock::instance;
    gObjectComponents::Install();
    scePhysics::InstallContactCallback();
    // Graphics and audio are other subsystems: objects are made without them here.
    Run("global _SceGraphics = function(s) { return null; };"
        "global _ObjGraphics = function(o) { return null; };"
        "global _ObjAudio = function(o) { return null; };");
  }
  void TearDown() override {
    gScene::DestroyAll();
    scePhysics::DestroyAll();
    gFileSystem::Set(nullptr);
    delete _gClock::instance;
    delete _gInput::instance;
    device->drop();
    host.reset();
    gConsole::SetSink(nullptr);
    gmMachine::s_printCallback = m_savedPrint;
    s_current = nullptr;
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }
  void Frames(int a_count) {
    for (int i = 0; i < a_count; ++i) frame.Run();
  }
  int LogCount() { return machine->GetLog().GetEntryCount(); }
  // The Vector3 held by a global (zero when it holds none).
  gVector3 Vec(const char* a_global) {
    const gmVariable v = machine->GetGlobals()->GetByName(machine, a_global);
    const gmUserObject* user = v.type >= GM_USER ? v.GetUserObject() : nullptr;
    return user && user->user ? *static_cast<const gVector3*>(user->user) : gVector3();
  }

  // The physics component of the named object of the named scene.
  static objPhysics* Body(const char* a_scene, const char* a_object) {
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) {
      gScene* scene = static_cast<gScene*>(scenes.Get(i));
      if (scene->name != a_scene) continue;
      for (int j = 0; j < scene->objects.count; ++j) {
        sceObject* object = static_cast<sceObject*>(scene->objects.Get(j));
        if (object->name == a_object) return object->physics;
      }
    }
    return nullptr;
  }

  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  irr::IrrlichtDevice* device = nullptr;
  gMilliClockFake time;
  gFrame frame;
  std::vector<std::string> printed;
  std::vector<std::string> console;

 private:
  static void CapturePrint(gmMachine*, const char* a_text) {
    std::string line = a_text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    s_current->printed.push_back(line);
  }
  static void CaptureConsole(const char* a_line) { s_current->console.push_back(a_line); }
  static inline PhysicsTest* s_current = nullptr;
  gmPrintCallback m_savedPrint = nullptr;
};

}  // namespace physicsTest
