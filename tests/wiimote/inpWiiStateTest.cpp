#include <gtest/gtest.h>

#include "input/wiimote/inpWiiState.h"

namespace {

void SetDeadZones(inpWiiState& s, float base) {
  s.nunchukStick.deadZoneX = base + 0.1f;
  s.nunchukStick.deadZoneY = base + 0.2f;
  s.classicLeftStick.deadZoneX = base + 0.3f;
  s.classicLeftStick.deadZoneY = base + 0.4f;
  s.classicRightStick.deadZoneX = base + 0.5f;
  s.classicRightStick.deadZoneY = base + 0.6f;
}

void ExpectDeadZones(const inpWiiState& s, float base) {
  EXPECT_FLOAT_EQ(s.nunchukStick.deadZoneX, base + 0.1f);
  EXPECT_FLOAT_EQ(s.nunchukStick.deadZoneY, base + 0.2f);
  EXPECT_FLOAT_EQ(s.classicLeftStick.deadZoneX, base + 0.3f);
  EXPECT_FLOAT_EQ(s.classicLeftStick.deadZoneY, base + 0.4f);
  EXPECT_FLOAT_EQ(s.classicRightStick.deadZoneX, base + 0.5f);
  EXPECT_FLOAT_EQ(s.classicRightStick.deadZoneY, base + 0.6f);
}

// A record with something non-zero in every part.
inpWiiState Busy() {
  inpWiiState s;
  s.accelOneZ = 0x9A;
  s.buttons = 0x8001;
  s.motion.pitch = 12.5f;
  s.irMode = WIIIR_EXTENDED;
  s.dots[3].visible = true;
  s.dots[3].size = 9;
  s.extensionConnected = true;
  s.extensionType = WIIEXT_CLASSIC;
  s.nunchukStick.x = 0.75f;
  s.classicCalibration.rightTriggerMax = 31;
  s.classicTriggerRight = 0.5f;
  return s;
}

TEST(WiiState, ClearResetsEverythingButTheDeadZones) {
  inpWiiState s = Busy();
  SetDeadZones(s, 0.0f);
  s.Clear();
  EXPECT_EQ(s.accelOneZ, 0);
  EXPECT_EQ(s.buttons, 0);
  EXPECT_EQ(s.motion.pitch, 0.0f);
  EXPECT_EQ(s.irMode, WIIIR_OFF);
  EXPECT_FALSE(s.dots[3].visible);
  EXPECT_EQ(s.dots[3].size, 0);
  EXPECT_FALSE(s.extensionConnected);
  EXPECT_EQ(s.extensionType, WIIEXT_NONE);
  EXPECT_EQ(s.nunchukStick.x, 0.0f);
  EXPECT_EQ(s.classicCalibration.rightTriggerMax, 0);
  EXPECT_EQ(s.classicTriggerRight, 0.0f);
  ExpectDeadZones(s, 0.0f);
}

TEST(WiiState, CopyKeepsTheTargetsDeadZones) {
  inpWiiState source = Busy();
  SetDeadZones(source, 0.0f);
  inpWiiState target;
  SetDeadZones(target, 0.05f);
  target.CopyFrom(source);
  EXPECT_EQ(target.accelOneZ, 0x9A);
  EXPECT_EQ(target.buttons, 0x8001);
  EXPECT_EQ(target.motion.pitch, 12.5f);
  EXPECT_EQ(target.dots[3].size, 9);
  EXPECT_EQ(target.extensionType, WIIEXT_CLASSIC);
  EXPECT_EQ(target.nunchukStick.x, 0.75f);
  EXPECT_EQ(target.classicTriggerRight, 0.5f);
  ExpectDeadZones(target, 0.05f);

  target.CopyFrom(target);
  ExpectDeadZones(target, 0.05f);
}

}  // namespace
