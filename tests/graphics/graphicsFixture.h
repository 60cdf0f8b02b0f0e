#pragma once
// The player's script API on a device of the test's choosing, with the object hooks
// installed: scripts build scenes and objects through the prelude, console lines and the
// engine's log are collected, and frames are rendered by the module's render step.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <memory>
#include <string>
#include <vector>

#include "binding/gConsole.h"
#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"
#include "host/gObjectComponents.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"
#include "script/values/gmTableObject.h"

namespace graphicsTest {

// The engine's log lines, which tell whether it tried to load a file again.
class LogReceiver : public irr::IEventReceiver {
 public:
  bool OnEvent(const irr::SEvent& a_event) override {
    if (a_event.EventType != irr::EET_LOG_TEXT_EVENT) return false;
    lines.push_back(a_event.LogEvent.Text);
    return true;
  }
  std::vector<std::string> lines;
};

class Fixture : public testing::Test {
 protected:
  // Null when the device cannot be made (the test is then skipped by the caller).
  bool Start(irr::video::E_DRIVER_TYPE a_driver, unsigned a_width = 1024, unsigned a_height = 768) {
    s_console = &console;
    gConsole::SetSink([](const char* a_line) { s_console->push_back(a_line); });
    host = gNewScriptHost(false, gPlayerScriptApi());
    machine = host->GetMachine();
    gObjectComponents::Install();
    irr::SIrrlichtCreationParameters parameters;
    parameters.DriverType = a_driver;
    parameters.WindowSize = irr::core::dimension2d<irr::u32>(a_width, a_height);
    parameters.Bits = 32;
    parameters.Stencilbuffer = false;
    parameters.Vsync = false;
    parameters.EventReceiver = &log;
    device = irr::createDeviceEx(parameters);
    if (!device) return false;
    graphics = _gGraphics::instance;
    graphics->device = device;
    device->getVideoDriver()->setTextureCreationFlag(irr::video::ETCF_ALWAYS_32_BIT, true);
    device->getVideoDriver()->setTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS, true);
    device->getVideoDriver()->beginScene(true, true, irr::video::SColor(128, 10, 10, 10));
    // Physics (unless the test asks for it) and audio are other subsystems: objects are
    // made without them.
    if (!withPhysics)
      Run("global _ScePhysics = function(s) { return null; };"
          "global _ObjPhysics = function(o) { return null; };");
    Run("global _ObjAudio = function(o) { return null; };");
    return true;
  }

  void TearDown() override {
    // Scenes' graphics end before the scenes do (scenes free only their objects).
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
    gScene::DestroyAll();
    scePhysics::DestroyAll();
    host.reset();
    delete _gGraphics::instance;
    delete _gClock::instance;
    delete _gInput::instance;
    if (device) device->drop();
    gConsole::SetSink(nullptr);
    s_console = nullptr;
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }

  // What print wrote for the script expression a_expression.
  std::string Eval(const std::string& a_expression) {
    std::string text;
    s_printed = &text;
    gmPrintCallback saved = gmMachine::s_printCallback;
    gmMachine::s_printCallback = [](gmMachine*, const char* a_text) { *s_printed += a_text; };
    Run("print(" + a_expression + ");");
    gmMachine::s_printCallback = saved;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  std::vector<std::string> LogEntries() {
    std::vector<std::string> entries;
    bool first = true;
    while (const char* entry = machine->GetLog().GetEntry(first)) entries.push_back(entry);
    return entries;
  }

  // The native component behind a script value.
  template <class T>
  T* Native(const std::string& a_expression) {
    Run("global _probe = " + a_expression + ";");
    const gmVariable v = machine->GetGlobals()->GetByName(machine, "_probe");
    return v.type > GM_USER ? static_cast<T*>(static_cast<gmUserObject*>(v.GetUserObject())->user) : nullptr;
  }

  // One frame of the object update and the render step, as the main loop runs them.
  void Frame() {
    gScene::UpdateAll();
    graphics->RenderFrame();
  }

  // Set before Start: scenes get physics worlds and objects bodies.
  bool withPhysics = false;
  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  irr::IrrlichtDevice* device = nullptr;
  _gGraphics* graphics = nullptr;
  LogReceiver log;
  std::vector<std::string> console;

  static inline std::vector<std::string>* s_console = nullptr;
  static inline std::string* s_printed = nullptr;
};

}  // namespace graphicsTest
