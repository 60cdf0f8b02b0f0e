#include "input/inpButtonState.h"

#include "scene/gScriptCall.h"

void inpButtonState::Dispatch(gmMachineEx* a_machine, bool a_menuOpen) {
  if (!a_menuOpen) {
    if (pressed) gScriptCall::Global(a_machine, callback[BUT_DOWN].c_str());
    if (down) gScriptCall::Global(a_machine, callback[BUT_ON].c_str());
    if (released) gScriptCall::Global(a_machine, callback[BUT_UP].c_str());
  }
  pressed = 0;
  released = 0;
}
