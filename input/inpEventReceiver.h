#pragma once
// The window's event receiver: turns key and mouse button events into the input module's
// button states as they arrive inside the device's message pump. It records, and never
// calls scripts; it returns false for every event so the device goes on with it.
#include <IEventReceiver.h>

namespace irr {
class IrrlichtDevice;
}
struct inpButtonState;
struct inpMouseState;
class _gInput;

class inpEventReceiver : public irr::IEventReceiver {
 public:
  bool OnEvent(const irr::SEvent& a_event) override;

  inpButtonState* keys = nullptr;  // 256 records, by key code
  inpMouseState* mouse = nullptr;
  irr::IrrlichtDevice* device = nullptr;
  _gInput* input = nullptr;

 private:
  void OnKey(int a_key, bool a_down);
};
