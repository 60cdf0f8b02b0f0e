#pragma once
// The state of one key, mouse button or Wiimote button between two dispatches, and the
// script functions it calls. Events only set flags; the dispatch of the input step calls
// the functions, so scripts run at one known point of the frame.
#include <string>

class gmMachineEx;

enum { BUT_DOWN = 0, BUT_ON = 1, BUT_UP = 2 };

struct inpButtonState {
  unsigned char down = 0;      // held now
  unsigned char released = 0;  // an up event arrived since the last dispatch
  unsigned char pressed = 0;   // a down event arrived since the last dispatch
  // Function names by BUT_DOWN, BUT_ON, BUT_UP; an empty name is never called.
  std::string callback[3];

  void Press() {
    pressed = 1;
    down = 1;
  }
  void Release() {
    released = 1;
    down = 0;
  }
  void Clear() { *this = inpButtonState(); }

  // Calls, in this order, the BUT_DOWN function after a press, the BUT_ON function while
  // held and the BUT_UP function after a release; with the developer menu open nothing is
  // called. Clears the event flags either way.
  void Dispatch(gmMachineEx* a_machine, bool a_menuOpen);
};
