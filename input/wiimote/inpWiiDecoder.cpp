#include "input/wiimote/inpWiiDecoder.h"

#include <cmath>
#include <cstring>

#include "input/wiimote/inpWiiRequests.h"
#include "platform/gDebugOutput.h"

namespace {

constexpr uint32_t kExtensionInitAddress = 0x04A40040;
constexpr uint32_t kExtensionCalibrationAddress = 0x04A40020;
constexpr uint32_t kExtensionTypeAddress = 0x04A400FE;
constexpr float kDegreesPerRadian = 57.29578f;

// Extension bytes travel masked; this is the device's own unmasking, byte by byte.
inline uint8_t Unmask(uint8_t b) { return static_cast<uint8_t>((b ^ 0x17) + 0x17); }

// (raw - zero) / (one - zero): an accelerometer axis in g. Before its calibration arrives
// both ends are 0 and the quotient means nothing, so it reads 0 rather than infinity.
float ScaleAccel(uint8_t raw, uint8_t zero, uint8_t one) {
  const int range = int(one) - int(zero);
  if (range == 0) return 0.0f;
  return float(int(raw) - int(zero)) / float(range);
}

void ScaleMotion(inpWiiMotion& m, const uint8_t zero[3], const uint8_t one[3]) {
  m.x = ScaleAccel(m.rawX, zero[0], one[0]);
  m.y = ScaleAccel(m.rawY, zero[1], one[1]);
  m.z = ScaleAccel(m.rawZ, zero[2], one[2]);
}

// Stores three raw readings; true when any of them changed.
bool StoreRawAccel(inpWiiMotion& m, uint8_t x, uint8_t y, uint8_t z) {
  const bool changed = m.rawX != x || m.rawY != y || m.rawZ != z;
  m.rawX = x;
  m.rawY = y;
  m.rawZ = z;
  return changed;
}

// One stick axis to about -1..1. An axis whose calibrated max is 0 has no calibration yet
// and keeps its previous value untouched (scaling, doubling or dead-zoning the old value
// again would make it drift with every report); false then. A calibration with max equal
// to min gives 0.
bool ScaleStickAxis(float raw, uint8_t min, uint8_t mid, uint8_t max, float& value) {
  if (max == 0) return false;
  const int range = int(max) - int(min);
  value = range == 0 ? 0.0f : (raw - float(mid)) / float(range) * 2.0f;
  return true;
}

// Values within the dead zone read 0; the rest of the travel is stretched so that the
// edge of the zone is 0 and full deflection stays 1. A zone outside (0, 1] (including NaN)
// is no zone; a zone of exactly 1 covers the whole axis, overshoot included.
void ApplyDeadZone(float& v, float d) {
  if (!(d > 0.0f && d <= 1.0f)) return;
  if (std::fabs(v) <= d || d == 1.0f) {
    v = 0.0f;
    return;
  }
  const float sign = v >= 0.0f ? 1.0f : -1.0f;
  v = (v - sign * d) / (1.0f - d);
}

// Scales the axes that have a calibration and applies the owner's dead zones to them.
void ScaleStick(inpWiiStick& stick, const inpWiiStickCalibration& cal, const inpWiiStick& owner) {
  stick.deadZoneX = owner.deadZoneX;
  stick.deadZoneY = owner.deadZoneY;
  if (ScaleStickAxis(stick.rawX, cal.minX, cal.midX, cal.maxX, stick.x)) {
    ApplyDeadZone(stick.x, stick.deadZoneX);
  }
  if (ScaleStickAxis(stick.rawY, cal.minY, cal.midY, cal.maxY, stick.y)) {
    ApplyDeadZone(stick.y, stick.deadZoneY);
  }
}

// Stores two raw stick readings; true when either changed.
bool StoreRawStick(inpWiiStick& stick, float x, float y) {
  const bool changed = stick.rawX != x || stick.rawY != y;
  stick.rawX = x;
  stick.rawY = y;
  return changed;
}

float ScaleTrigger(uint8_t raw, uint8_t min, uint8_t max, float previous) {
  if (max == 0) return previous;
  const int range = int(max) - int(min);
  return range == 0 ? 0.0f : float(raw) / float(range);
}

// The IR part of the state that flag 0x40 watches, compared field by field (floats by
// their bytes, as the camera data is).
bool SameDot(const inpWiiDot& a, const inpWiiDot& b) {
  // NOLINTBEGIN(bugprone-suspicious-memory-comparison)
  return a.visible == b.visible && a.rawX == b.rawX && a.rawY == b.rawY && std::memcmp(&a.x, &b.x, sizeof a.x) == 0 &&
         std::memcmp(&a.y, &b.y, sizeof a.y) == 0 && a.size == b.size;
  // NOLINTEND(bugprone-suspicious-memory-comparison)
}

void SetDot(inpWiiDot& dot, int rawX, int rawY) {
  dot.visible = true;
  dot.rawX = rawX;
  dot.rawY = rawY;
  dot.x = 1.0f - float(rawX) / 1016.0f;
  dot.y = float(rawY) / 760.0f;
}

}  // namespace

inpWiiDecoder::inpWiiDecoder(inpWiiRequests& a_requests, gDebugOutput& a_debug)
    : requests(a_requests), debug(a_debug) {}

uint32_t inpWiiDecoder::Decode(const uint8_t* report, inpWiiState& state, const inpWiiState& owner) {
  uint32_t flags = 0;
  uint8_t unmasked[inpWiiReportSize];
  switch (report[0]) {
    case 0x20:
      flags = Status(report, state);
      requests.MarkConnected();
      break;
    case 0x21:
      flags = Buttons(report, state);
      flags |= ReadData(report, state);
      break;
    case 0x30:
      flags = Buttons(report, state);
      break;
    case 0x31:
      flags = Buttons(report, state);
      flags |= Acceleration(report, state);
      break;
    case 0x33:
      flags = Buttons(report, state);
      flags |= Acceleration(report, state);
      flags |= Infrared(report, state);
      break;
    case 0x35:
    case 0x37:
      flags = Buttons(report, state);
      flags |= Acceleration(report, state);
      if (report[0] == 0x37) flags |= Infrared(report, state);
      for (std::size_t i = 0; i < inpWiiReportSize; ++i) unmasked[i] = Unmask(report[i]);
      flags |= Extension(unmasked + (report[0] == 0x35 ? 6 : 16), state, owner);
      break;
    default:
      break;
  }
  return flags;
}

uint32_t inpWiiDecoder::Buttons(const uint8_t* report, inpWiiState& state) {
  const uint16_t buttons = static_cast<uint16_t>(report[1] | report[2] << 8);
  const uint32_t flags = buttons != state.buttons ? WIICHANGE_BUTTONS : 0;
  state.buttons = buttons;
  return flags;
}

uint32_t inpWiiDecoder::Status(const uint8_t* report, inpWiiState& state) {
  uint32_t flags = Buttons(report, state);
  const uint8_t battery = report[6];
  if (battery != state.batteryRaw) flags |= WIICHANGE_BATTERY;
  state.batteryRaw = battery;
  state.batteryLevel = battery >> 1;
  const uint8_t leds = report[3] >> 4;
  if (leds != state.leds) flags |= WIICHANGE_LEDS;
  state.leds = leds;

  const bool extensionPresent = (report[3] & 0x02) != 0;
  if (extensionPresent && !state.extensionConnected) {
    debug.Write("Wiimote : Extension connected:\n");
    state.extensionConnected = true;
    // Writing 0 here wakes the extension up; only then does its type register answer.
    // The extension flag waits for the calibration that the type answer leads to.
    const uint8_t zero = 0x00;
    requests.RequestWrite(kExtensionInitAddress, 1, &zero);
    requests.RequestRead(kExtensionTypeAddress, 2);
  } else if (!extensionPresent && state.extensionConnected) {
    debug.Write("Wiimote : Extension disconnected.\n");
    state.extensionConnected = false;
    state.extensionType = WIIEXT_NONE;
    // The device drops out of its reporting mode when an extension comes or goes.
    requests.RequestReportMode();
    flags |= WIICHANGE_EXTENSION_DISCONNECTED;
  }
  return flags;
}

uint32_t inpWiiDecoder::Acceleration(const uint8_t* report, inpWiiState& state) {
  uint32_t flags = StoreRawAccel(state.motion, report[3], report[4], report[5]) ? WIICHANGE_ACCEL : 0;
  const uint8_t zero[3] = {state.accelZeroX, state.accelZeroY, state.accelZeroZ};
  const uint8_t one[3] = {state.accelOneX, state.accelOneY, state.accelOneZ};
  ScaleMotion(state.motion, zero, one);
  if (Orientation(state.motion)) flags |= WIICHANGE_ORIENTATION;
  return flags;
}

// Only a sample whose length is close to 1 g measures gravity alone, and only the second
// such sample in a row is trusted: one could be a swing passing through 1 g. True when a new
// orientation was computed.
bool inpWiiDecoder::Orientation(inpWiiMotion& m) {
  const float squared = m.x * m.x + m.y * m.y + m.z * m.z;
  if (squared < 0.8f || squared > 1.2f) {
    stableSamples = 0;
    ++m.orientationAge;
    return false;
  }
  if (stableSamples < UINT32_MAX) ++stableSamples;
  if (stableSamples < 2) return false;

  const float inverse = 1.0f / std::sqrt(squared);
  m.orientationX = m.x * inverse;
  m.orientationY = m.y * inverse;
  m.orientationZ = m.z * inverse;
  // Rounding can push a component a hair past 1, where asin has no value.
  const float sinPitch = std::fmin(std::fmax(m.orientationY, -1.0f), 1.0f);
  const float sinRoll = std::fmin(std::fmax(m.orientationX, -1.0f), 1.0f);
  m.pitch = -std::asin(sinPitch) * kDegreesPerRadian;
  m.roll = std::asin(sinRoll) * kDegreesPerRadian;
  // Upside down: carry both angles on past +-90 degrees instead of folding them back.
  if (m.orientationZ < 0.0f) {
    m.pitch = (m.orientationY < 0.0f ? 180.0f : -180.0f) - m.pitch;
    m.roll = (m.orientationX < 0.0f ? -180.0f : 180.0f) - m.roll;
  }
  m.orientationAge = 0;
  return true;
}

uint32_t inpWiiDecoder::Infrared(const uint8_t* report, inpWiiState& state) {
  const int modeBefore = state.irMode;
  inpWiiDot before[4];
  std::memcpy(before, state.dots, sizeof before);

  // A dot out of sight is sent as all ones and keeps its last position and size.
  if (state.irMode == WIIIR_EXTENDED) {
    for (int i = 0; i < 4; ++i) {
      const uint8_t* b = report + 6 + 3 * i;
      inpWiiDot& dot = state.dots[i];
      if (b[0] == 0xFF && b[1] == 0xFF && b[2] == 0xFF) {
        dot.visible = false;
        continue;
      }
      SetDot(dot, (b[2] & 0x30) << 4 | b[0], (b[2] & 0xC0) << 2 | b[1]);
      dot.size = b[2] & 0x0F;
    }
  } else if (state.irMode == WIIIR_BASIC) {
    // Two dots per five bytes: their low bytes around one byte holding both high parts.
    for (int j = 0; j < 2; ++j) {
      const uint8_t* p = report + 6 + 5 * j;
      inpWiiDot& first = state.dots[2 * j];
      inpWiiDot& second = state.dots[2 * j + 1];
      if (p[0] == 0xFF && p[1] == 0xFF) {
        first.visible = false;
      } else {
        SetDot(first, (p[2] & 0x30) << 4 | p[0], (p[2] & 0xC0) << 2 | p[1]);
      }
      if (p[3] == 0xFF && p[4] == 0xFF) {
        second.visible = false;
      } else {
        SetDot(second, (p[2] & 0x03) << 8 | p[3], (p[2] & 0x0C) << 6 | p[4]);
      }
    }
  }

  bool same = modeBefore == state.irMode;
  for (int i = 0; i < 4 && same; ++i) same = SameDot(before[i], state.dots[i]);
  return same ? 0 : WIICHANGE_IR;
}

uint32_t inpWiiDecoder::Extension(const uint8_t* e, inpWiiState& state, const inpWiiState& owner) {
  switch (state.extensionType) {
    case WIIEXT_NUNCHUK:
      return Nunchuk(e, state, owner);
    case WIIEXT_CLASSIC:
      return Classic(e, state, owner);
    default:
      return 0;
  }
}

uint32_t inpWiiDecoder::Nunchuk(const uint8_t* e, inpWiiState& state, const inpWiiState& owner) {
  uint32_t flags = 0;
  // Button bits are low while pressed.
  const bool c = (e[5] & 0x02) == 0;
  const bool z = (e[5] & 0x01) == 0;
  if (c != state.nunchukC || z != state.nunchukZ) flags |= WIICHANGE_NUNCHUK_BUTTONS;
  state.nunchukC = c;
  state.nunchukZ = z;

  const inpWiiNunchukCalibration& cal = state.nunchukCalibration;
  if (StoreRawAccel(state.nunchukMotion, e[2], e[3], e[4])) flags |= WIICHANGE_NUNCHUK_ACCEL;
  const uint8_t zero[3] = {cal.zeroX, cal.zeroY, cal.zeroZ};
  const uint8_t one[3] = {cal.oneX, cal.oneY, cal.oneZ};
  ScaleMotion(state.nunchukMotion, zero, one);
  if (Orientation(state.nunchukMotion)) flags |= WIICHANGE_NUNCHUK_ORIENTATION;

  if (StoreRawStick(state.nunchukStick, e[0], e[1])) flags |= WIICHANGE_NUNCHUK_STICK;
  ScaleStick(state.nunchukStick, cal.stick, owner.nunchukStick);
  return flags;
}

uint32_t inpWiiDecoder::Classic(const uint8_t* e, inpWiiState& state, const inpWiiState& owner) {
  uint32_t flags = 0;
  // Button bits are low while pressed.
  const uint16_t buttons = static_cast<uint16_t>(~(e[4] | e[5] << 8));
  if (buttons != state.classicButtons) flags |= WIICHANGE_CLASSIC_BUTTONS;
  state.classicButtons = buttons;

  // The left stick has six bits per axis, the right five, spread over three bytes.
  const float leftX = e[0] & 0x3F;
  const float leftY = e[1] & 0x3F;
  const float rightX = (e[0] & 0xC0) >> 3 | (e[1] & 0xC0) >> 5 | e[2] >> 7;
  const float rightY = e[2] & 0x1F;
  if (StoreRawStick(state.classicLeftStick, leftX, leftY)) flags |= WIICHANGE_CLASSIC_LEFT_STICK;
  if (StoreRawStick(state.classicRightStick, rightX, rightY)) flags |= WIICHANGE_CLASSIC_RIGHT_STICK;
  const inpWiiClassicCalibration& cal = state.classicCalibration;
  ScaleStick(state.classicLeftStick, cal.leftStick, owner.classicLeftStick);
  ScaleStick(state.classicRightStick, cal.rightStick, owner.classicRightStick);

  const uint8_t left = static_cast<uint8_t>((e[2] & 0x60) >> 2 | e[3] >> 5);
  const uint8_t right = e[3] & 0x1F;
  if (left != state.classicTriggerRawLeft || right != state.classicTriggerRawRight) {
    flags |= WIICHANGE_CLASSIC_TRIGGERS;
  }
  state.classicTriggerRawLeft = left;
  state.classicTriggerRawRight = right;
  state.classicTriggerLeft = ScaleTrigger(left, cal.leftTriggerMin, cal.leftTriggerMax, state.classicTriggerLeft);
  state.classicTriggerRight = ScaleTrigger(right, cal.rightTriggerMin, cal.rightTriggerMax, state.classicTriggerRight);
  return flags;
}

uint32_t inpWiiDecoder::ReadData(const uint8_t* report, inpWiiState& state) {
  const uint8_t error = report[3] & 0x0F;
  if (error & 0x08) {
    debug.Write("Wiimote : * error: read address not valid. *\n");
    return 0;
  }
  if (error & 0x07) {
    debug.Write("Wiimote : * error: attempt to read from write-only registers. *\n");
    return 0;
  }
  const uint8_t* data = report + 6;
  switch (report[4] << 8 | report[5]) {
    case 0x0016:  // the remote's accelerometer calibration; byte 3 is not part of it
      state.accelZeroX = data[0];
      state.accelZeroY = data[1];
      state.accelZeroZ = data[2];
      state.accelOneX = data[4];
      state.accelOneY = data[5];
      state.accelOneZ = data[6];
      return 0;
    case 0x0020:
      return ExtensionCalibration(data, state);
    case 0x00FE:
      return ExtensionType(data, state);
    default:
      return 0;
  }
}

uint32_t inpWiiDecoder::ExtensionCalibration(const uint8_t* masked, inpWiiState& state) {
  uint8_t d[16];
  for (int i = 0; i < 16; ++i) d[i] = Unmask(masked[i]);

  uint32_t flags;
  if (state.extensionType == WIIEXT_NUNCHUK) {
    inpWiiNunchukCalibration& cal = state.nunchukCalibration;
    cal.zeroX = d[0];
    cal.zeroY = d[1];
    cal.zeroZ = d[2];
    cal.oneX = d[4];
    cal.oneY = d[5];
    cal.oneZ = d[6];
    cal.stick.maxX = d[8];
    cal.stick.minX = d[9];
    cal.stick.midX = d[10];
    cal.stick.maxY = d[11];
    cal.stick.minY = d[12];
    cal.stick.midY = d[13];
    flags = WIICHANGE_NUNCHUK_CONNECTED;
  } else if (state.extensionType == WIIEXT_CLASSIC) {
    // Stored at eight bits of precision; the left stick reports six, the right five.
    inpWiiClassicCalibration& cal = state.classicCalibration;
    cal.leftStick.maxX = d[0] >> 2;
    cal.leftStick.minX = d[1] >> 2;
    cal.leftStick.midX = d[2] >> 2;
    cal.leftStick.maxY = d[3] >> 2;
    cal.leftStick.minY = d[4] >> 2;
    cal.leftStick.midY = d[5] >> 2;
    cal.rightStick.maxX = d[6] >> 3;
    cal.rightStick.minX = d[7] >> 3;
    cal.rightStick.midX = d[8] >> 3;
    cal.rightStick.maxY = d[9] >> 3;
    cal.rightStick.minY = d[10] >> 3;
    cal.rightStick.midY = d[11] >> 3;
    cal.leftTriggerMin = 0;
    cal.leftTriggerMax = 31;
    cal.rightTriggerMin = 0;
    cal.rightTriggerMax = 31;
    flags = WIICHANGE_CLASSIC_CONNECTED;
  } else {
    return 0;
  }
  requests.RequestReportMode();
  return flags;
}

uint32_t inpWiiDecoder::ExtensionType(const uint8_t* data, inpWiiState& state) {
  const uint32_t type = data[0] | data[1] << 8;
  switch (type) {
    case WIIEXT_NUNCHUK:
    case WIIEXT_CLASSIC:
      if (type != state.extensionType) {
        debug.Write(type == WIIEXT_NUNCHUK ? "Wiimote : .. Nunchuk!\n" : "Wiimote : .. Classic Controller!\n");
        state.extensionType = type;
        requests.RequestRead(kExtensionCalibrationAddress, 16);
      }
      return 0;
    case WIIEXT_PARTIAL:
      if (type == state.extensionType) return 0;
      debug.Write("Wiimote : .. partially inserted!\n");
      state.extensionType = type;
      // Forget the extension so that the next status report with its bit set, once it is
      // pushed fully home, starts the detection again.
      state.extensionConnected = false;
      requests.RequestStatus();
      return WIICHANGE_EXTENSION_PARTIAL;
    default:
      debug.Printf("Wiimote : * unknown extension controller found (0x%x) *\n", unsigned(data[0]));
      return 0;
  }
}
