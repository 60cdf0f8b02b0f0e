#pragma once
// The Wiimote state record: everything the input reports tell about the remote and its
// extension controller, plus the owner's stick dead zones. The driver keeps two of these (one
// written by its read thread, one published to the owner); the dead zones are the owner's
// settings and survive every Clear and every CopyFrom.
#include <cstdint>

// Change flags: one bit per kind of change, ORed together per decoded report.
constexpr uint32_t WIICHANGE_LOST = 0x1;  // set by the driver, never by the decoder
constexpr uint32_t WIICHANGE_BATTERY = 0x2;
constexpr uint32_t WIICHANGE_LEDS = 0x4;
constexpr uint32_t WIICHANGE_BUTTONS = 0x8;
constexpr uint32_t WIICHANGE_ACCEL = 0x10;
constexpr uint32_t WIICHANGE_ORIENTATION = 0x20;
constexpr uint32_t WIICHANGE_IR = 0x40;
constexpr uint32_t WIICHANGE_EXTENSION_DISCONNECTED = 0x80;
constexpr uint32_t WIICHANGE_EXTENSION_PARTIAL = 0x100;
constexpr uint32_t WIICHANGE_NUNCHUK_CONNECTED = 0x200;
constexpr uint32_t WIICHANGE_NUNCHUK_BUTTONS = 0x400;
constexpr uint32_t WIICHANGE_NUNCHUK_ACCEL = 0x800;
constexpr uint32_t WIICHANGE_NUNCHUK_ORIENTATION = 0x1000;
constexpr uint32_t WIICHANGE_NUNCHUK_STICK = 0x2000;
constexpr uint32_t WIICHANGE_CLASSIC_CONNECTED = 0x4000;
constexpr uint32_t WIICHANGE_CLASSIC_BUTTONS = 0x8000;
constexpr uint32_t WIICHANGE_CLASSIC_LEFT_STICK = 0x10000;
constexpr uint32_t WIICHANGE_CLASSIC_RIGHT_STICK = 0x20000;
constexpr uint32_t WIICHANGE_CLASSIC_TRIGGERS = 0x40000;

// Extension types as the device reports them in its type register.
constexpr uint32_t WIIEXT_NONE = 0;
constexpr uint32_t WIIEXT_NUNCHUK = 0xFEFE;
constexpr uint32_t WIIEXT_CLASSIC = 0xFDFD;
constexpr uint32_t WIIEXT_PARTIAL = 0xFFFF;  // plugged in, but not far enough to answer

// IR camera formats, as stored in inpWiiState::irMode.
constexpr int WIIIR_OFF = 0;
constexpr int WIIIR_BASIC = 1;
constexpr int WIIIR_EXTENDED = 3;

// One accelerometer: the remote's or the nunchuk's.
struct inpWiiMotion {
  uint8_t rawX = 0, rawY = 0, rawZ = 0;
  float x = 0, y = 0, z = 0;  // in g, once calibrated
  // Unit vector of the last sample whose length was close to 1 g, i.e. gravity alone.
  float orientationX = 0, orientationY = 0, orientationZ = 0;
  uint32_t orientationAge = 0;  // samples since the orientation was last computed
  float pitch = 0, roll = 0;    // degrees
};

// One point tracked by the IR camera. A dot that goes out of sight keeps its last position.
struct inpWiiDot {
  bool visible = false;
  int rawX = 0, rawY = 0;  // camera pixels, 0 to 1023 and 0 to 767
  float x = 0, y = 0;      // 0 to 1; x is mirrored so that it grows to the right
  int size = 0;            // 0 to 15; only the extended format reports it
};

struct inpWiiStick {
  float rawX = 0, rawY = 0;
  float x = 0, y = 0;  // about -1 to 1 once calibrated, after the dead zone
  // Owner settings: an axis whose magnitude is within its dead zone reads 0.
  float deadZoneX = 0, deadZoneY = 0;
};

// Calibration of one analog stick as stored in the extension's memory.
struct inpWiiStickCalibration {
  uint8_t minX = 0, midX = 0, maxX = 0;
  uint8_t minY = 0, midY = 0, maxY = 0;
};

struct inpWiiNunchukCalibration {
  uint8_t zeroX = 0, zeroY = 0, zeroZ = 0;  // accelerometer reading at 0 g
  uint8_t oneX = 0, oneY = 0, oneZ = 0;     // accelerometer reading at 1 g
  inpWiiStickCalibration stick;
};

struct inpWiiClassicCalibration {
  inpWiiStickCalibration leftStick;
  inpWiiStickCalibration rightStick;
  uint8_t leftTriggerMin = 0, leftTriggerMax = 0;
  uint8_t rightTriggerMin = 0, rightTriggerMax = 0;
};

class inpWiiState {
 public:
  // Remote accelerometer calibration.
  uint8_t accelZeroX = 0, accelZeroY = 0, accelZeroZ = 0;
  uint8_t accelOneX = 0, accelOneY = 0, accelOneZ = 0;
  uint16_t buttons = 0;  // input byte 1 in the low half, byte 2 in the high half
  inpWiiMotion motion;
  int irMode = WIIIR_OFF;  // set by the driver when it switches the camera
  inpWiiDot dots[4];
  uint8_t leds = 0;  // low four bits
  uint8_t batteryRaw = 0;
  uint8_t batteryLevel = 0;  // batteryRaw >> 1
  bool rumble = false;
  bool extensionConnected = false;
  bool speakerMuted = false;
  uint32_t extensionType = WIIEXT_NONE;
  inpWiiNunchukCalibration nunchukCalibration;
  inpWiiMotion nunchukMotion;
  inpWiiStick nunchukStick;
  bool nunchukC = false, nunchukZ = false;  // true while pressed
  inpWiiClassicCalibration classicCalibration;
  uint16_t classicButtons = 0;  // set bits are pressed buttons
  inpWiiStick classicLeftStick, classicRightStick;
  uint8_t classicTriggerRawLeft = 0, classicTriggerRawRight = 0;  // 0 to 31
  float classicTriggerLeft = 0, classicTriggerRight = 0;

  // Everything back to its initial value except the dead zones.
  void Clear();
  // Everything from other except the dead zones, which stay this record's own.
  void CopyFrom(const inpWiiState& other);
};
