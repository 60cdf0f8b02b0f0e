#pragma once
// Keyboard and mouse for scripts (script global Input): scripts name functions for key and
// mouse button states and for the per-frame mouse movement, and the input step of each
// frame calls them. Also holds the flag that keeps the main loop running.
#include <memory>
#include <string>

#include "input/inpButtonState.h"
#include "input/inpEventReceiver.h"
#include "input/wiimote/inpWiimote.h"

namespace irr {
class IrrlichtDevice;
namespace gui {
class ICursorControl;
}
}  // namespace irr
class gmMachineEx;
class inpDeveloperMenu;

enum { MOU_LEFT = 0, MOU_RIGHT = 1, MOU_MIDDLE = 2 };

struct inpMouseState {
  inpButtonState buttons[3];  // by MOU_LEFT, MOU_RIGHT, MOU_MIDDLE
  std::string moveCallback;   // empty: none
  // Cursor position relative to the window (0 to 1) at the end of the previous frame.
  float lastX = 0.0f;
  float lastY = 0.0f;
  float deltaX = 0.0f;
  float deltaY = 0.0f;
  irr::gui::ICursorControl* cursor = nullptr;
};

class _gInput {
 public:
  // The module the script global Input wraps; made by its first construction.
  static _gInput* instance;

  inpButtonState keys[256];
  inpMouseState mouse;
  unsigned char running = 0;
  inpEventReceiver receiver;

  // Functions are called in this machine.
  gmMachineEx* machine = nullptr;
  // Escape toggles the developer menu only in developer mode.
  bool developer = false;
  // Null until the developer console exists: then the menu is never open. While it is
  // open, no keyboard, mouse or Wiimote callback runs.
  inpDeveloperMenu* menu = nullptr;
  // Treat the window as always active. Set for the null device, which has no window to lose
  // focus and whose pointer only replayed input moves: its mouse then works as in a
  // focused window instead of never at all. Set too for a run with replayed input, which
  // is the game's whatever the desktop's focus.
  bool alwaysActive = false;
  // Made with the module; stepped at the end of every input step. Null after ShutdownWiimote.
  std::unique_ptr<inpWiimote> wiimote;

  _gInput();
  ~_gInput();
  _gInput(const _gInput&) = delete;
  _gInput& operator=(const _gInput&) = delete;

  // Once the device exists: clears every key record and the mouse state (callbacks
  // included), hides the cursor at the window's centre, and sets running.
  void Setup(irr::IrrlichtDevice* a_device, gmMachineEx* a_machine, bool a_developer);

  // The input step of a frame: the device's message pump (a closed window clears running,
  // and the step goes on), the mouse buttons and movement while the window is active, then
  // the 256 keys in ascending order, then the Wiimote.
  void Update();

  // The script's Wiimote object (Input.Wiimote()).
  inpWiimote* Wiimote() { return wiimote.get(); }
  // The end of a game: every key, mouse and Wiimote callback forgotten and no machine to
  // call into; the device, the running flag and a connected remote stay. Setup starts the
  // next game.
  void Teardown();
  // At exit: leaves a connected remote quiet and closes it.
  void ShutdownWiimote() { wiimote.reset(); }

  // Codes 0 to 2 are the mouse buttons, 3 to 255 keys; a_state is BUT_DOWN, BUT_ON or
  // BUT_UP. Anything else is a script error (the calling script stops, as on any native
  // error) and changes nothing.
  void ScriptButton(int a_key, int a_state, const char* a_function);
  // Called every frame the window is active with (dx, dy, x, y); the empty text removes it.
  void ScriptMouse(const char* a_function);

  bool MenuOpen() const;

  static int RegisterScriptType(gmMachineEx* a_machine);

 private:
  void SetUpMouse();
  void UpdateMouse();
  void CentreCursor();
  irr::IrrlichtDevice* m_device = nullptr;
};
