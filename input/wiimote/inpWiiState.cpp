#include "input/wiimote/inpWiiState.h"

namespace {

// The six owner settings that no clear or copy may touch.
struct DeadZones {
  float nunchuk[2], classicLeft[2], classicRight[2];

  explicit DeadZones(const inpWiiState& s)
      : nunchuk{s.nunchukStick.deadZoneX, s.nunchukStick.deadZoneY},
        classicLeft{s.classicLeftStick.deadZoneX, s.classicLeftStick.deadZoneY},
        classicRight{s.classicRightStick.deadZoneX, s.classicRightStick.deadZoneY} {}

  void RestoreTo(inpWiiState& s) const {
    s.nunchukStick.deadZoneX = nunchuk[0];
    s.nunchukStick.deadZoneY = nunchuk[1];
    s.classicLeftStick.deadZoneX = classicLeft[0];
    s.classicLeftStick.deadZoneY = classicLeft[1];
    s.classicRightStick.deadZoneX = classicRight[0];
    s.classicRightStick.deadZoneY = classicRight[1];
  }
};

}  // namespace

void inpWiiState::Clear() {
  const DeadZones kept(*this);
  *this = inpWiiState();
  kept.RestoreTo(*this);
}

void inpWiiState::CopyFrom(const inpWiiState& other) {
  if (&other == this) return;
  const DeadZones kept(*this);
  *this = other;
  kept.RestoreTo(*this);
}
