#include "input/_gInput.h"

#include <irrlicht.h>

#include "input/inpDeveloperMenu.h"
#include "binding/gmNativeType.h"
#include "platform/gDebugOutput.h"
#include "platform/gHid.h"
#include "platform/gMilliClock.h"
#include "scene/gScriptCall.h"

_gInput* _gInput::instance = nullptr;

_gInput::_gInput()
    : wiimote(std::make_unique<inpWiimote>(gHid::System(), gMilliClock::System(), gDebugOutput::System())) {
  receiver.input = this;
}

_gInput::~_gInput() {
  if (instance == this) instance = nullptr;
}

void _gInput::Setup(irr::IrrlichtDevice* a_device, gmMachineEx* a_machine, bool a_developer) {
  m_device = a_device;
  machine = a_machine;
  developer = a_developer;
  for (inpButtonState& key : keys) key.Clear();
  SetUpMouse();
  receiver.keys = keys;
  receiver.mouse = &mouse;
  receiver.device = a_device;
  if (wiimote) wiimote->machine = a_machine;
  running = 1;
}

void _gInput::Teardown() {
  for (inpButtonState& key : keys) key.Clear();
  for (inpButtonState& button : mouse.buttons) button.Clear();
  mouse.moveCallback.clear();
  machine = nullptr;
  if (wiimote) wiimote->ForgetCallbacks();
}

int _gInput::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<_gInput> type(a_machine, "_Input");
  type.ModuleConstructor(&instance);
  type.Method("ScriptButton", &_gInput::ScriptButton);
  type.Method("ScriptMouse", &_gInput::ScriptMouse);
  type.Method("Wiimote", &_gInput::Wiimote);
  return type.Register();
}

bool _gInput::MenuOpen() const { return menu && menu->IsOpen(); }

void _gInput::Update() {
  if (m_device && !m_device->run()) running = 0;
  if (m_device && (alwaysActive || m_device->isWindowActive())) UpdateMouse();
  const bool menuOpen = MenuOpen();
  for (inpButtonState& key : keys) key.Dispatch(machine, menuOpen);
  if (wiimote) wiimote->Step(menuOpen);
}

void _gInput::ScriptButton(int a_key, int a_state, const char* a_function) {
  const char* problem = nullptr;
  if (a_key < 0 || a_key > 255)
    problem = "the key code must be 0 to 255 (MOU_ or KEY_ constants)";
  else if (a_state < BUT_DOWN || a_state > BUT_UP)
    problem = "the state must be BUT_DOWN, BUT_ON or BUT_UP (0 to 2)";
  if (problem) {
    if (machine) {
      machine->GetLog().LogEntry("Input.ScriptButton(%d, %d, \"%.64s\"): %s; no callback was set", a_key, a_state,
                                 a_function ? a_function : "", problem);
      if (machine->GetCallingThread()) machine->FailCurrentCall();
    }
    return;
  }
  inpButtonState& button = a_key <= MOU_MIDDLE ? mouse.buttons[a_key] : keys[a_key];
  button.callback[a_state] = a_function ? a_function : "";
}

void _gInput::ScriptMouse(const char* a_function) { mouse.moveCallback = a_function ? a_function : ""; }

void _gInput::CentreCursor() {
  const irr::core::dimension2d<irr::u32> size = m_device->getVideoDriver()->getScreenSize();
  mouse.cursor->setPosition(static_cast<irr::s32>(size.Width / 2), static_cast<irr::s32>(size.Height / 2));
}

void _gInput::SetUpMouse() {
  for (inpButtonState& button : mouse.buttons) button.Clear();
  mouse.moveCallback.clear();
  mouse.deltaX = mouse.deltaY = 0.0f;
  mouse.lastX = mouse.lastY = 0.0f;
  mouse.cursor = m_device ? m_device->getCursorControl() : nullptr;
  if (!mouse.cursor) return;
  CentreCursor();
  const irr::core::position2d<irr::f32> at = mouse.cursor->getRelativePosition();
  mouse.lastX = at.X;
  mouse.lastY = at.Y;
  mouse.cursor->setVisible(false);
}

void _gInput::UpdateMouse() {
  const bool menuOpen = MenuOpen();
  for (inpButtonState& button : mouse.buttons) button.Dispatch(machine, menuOpen);
  if (!mouse.cursor) return;
  irr::core::position2d<irr::f32> at = mouse.cursor->getRelativePosition();
  mouse.deltaX = at.X - mouse.lastX;
  mouse.deltaY = at.Y - mouse.lastY;
  if (!mouse.cursor->isVisible()) CentreCursor();
  at = mouse.cursor->getRelativePosition();
  mouse.lastX = at.X;
  mouse.lastY = at.Y;
  if (!mouse.moveCallback.empty() && !MenuOpen())
    gScriptCall::Global(
        machine, mouse.moveCallback.c_str(),
        {gmVariable(mouse.deltaX), gmVariable(mouse.deltaY), gmVariable(mouse.lastX), gmVariable(mouse.lastY)});
}
