#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "input/wiimote/inpWiiDecoder.h"
#include "platform/gDebugOutputCapture.h"
#include "tests/wiimote/inpWiiRecordingRequests.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The device masks extension bytes; this is the inverse of its unmasking, so tests can
// write the values they mean.
uint8_t Mask(uint8_t value) { return static_cast<uint8_t>(((value - 0x17) & 0xFF) ^ 0x17); }

struct Report {
  uint8_t bytes[inpWiiReportSize] = {};

  explicit Report(uint8_t id) { bytes[0] = id; }
  Report& Set(std::size_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) bytes[at++] = v;
    return *this;
  }
  Report& SetMasked(std::size_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) bytes[at++] = Mask(v);
    return *this;
  }
};

// A read-data answer without error: address low 16 bits, then the data bytes.
Report ReadAnswer(uint16_t address, std::initializer_list<uint8_t> data) {
  return Report(0x21).Set(4, {uint8_t(address >> 8), uint8_t(address)}).Set(6, data);
}

// The remote's calibration with zero at 0x80 and 1 g 25 steps above it on every axis, so
// raw 0x80 + 25 * g reads g exactly for the values used here.
constexpr uint8_t kZero = 0x80;
constexpr uint8_t kOneG = 25;
uint8_t G(float g) { return static_cast<uint8_t>(kZero + std::lround(g * kOneG)); }

class Decoding : public ::testing::Test {
 protected:
  uint32_t Decode(const Report& r) { return decoder.Decode(r.bytes, state, owner); }

  void CalibrateRemote() {
    Decode(ReadAnswer(0x0016, {kZero, kZero, kZero, 0xEE, kZero + kOneG, kZero + kOneG, kZero + kOneG}));
  }

  // A nunchuk known to the state, with a stick calibrated to min 0, mid 100, max 200 on both
  // axes (so raw 100 + 50 v reads v) and the accelerometer calibrated like the remote's.
  void PlugCalibratedNunchuk() {
    state.extensionConnected = true;
    state.extensionType = WIIEXT_NUNCHUK;
    inpWiiNunchukCalibration& cal = state.nunchukCalibration;
    cal.zeroX = cal.zeroY = cal.zeroZ = kZero;
    cal.oneX = cal.oneY = cal.oneZ = kZero + kOneG;
    cal.stick = {0, 100, 200, 0, 100, 200};
  }

  // A 0x35 report carrying nunchuk data (before masking), the remote lying still.
  static Report Nunchuk(uint8_t stickX, uint8_t stickY, uint8_t ax, uint8_t ay, uint8_t az, uint8_t buttons) {
    return Report(0x35).Set(3, {G(0), G(0), G(1)}).SetMasked(6, {stickX, stickY, ax, ay, az, buttons});
  }

  inpWiiRecordingRequests requests;
  gDebugOutputCapture debug;
  inpWiiDecoder decoder{requests, debug};
  inpWiiState state;
  inpWiiState owner;  // where the owner sets the dead zones
};

TEST_F(Decoding, UnhandledReportIdsChangeNothing) {
  CalibrateRemote();
  PlugCalibratedNunchuk();
  state.irMode = WIIIR_EXTENDED;
  state.buttons = 0x0810;
  requests.Take();
  inpWiiState before;
  std::memcpy(&before, &state, sizeof state);

  for (uint8_t id : {0x00, 0x11, 0x22, 0x32, 0x34, 0x36, 0x3D, 0x3E, 0xFF}) {
    Report r(id);
    std::memset(r.bytes + 1, 0xA5, inpWiiReportSize - 1);
    EXPECT_EQ(Decode(r), 0u) << "id " << int(id);
  }
  // Byte for byte against a byte copy: any write at all, padding included, is a fault here.
  EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);  // NOLINT(bugprone-suspicious-memory-comparison)
  EXPECT_THAT(requests.log, IsEmpty());
  EXPECT_THAT(debug.Messages(), IsEmpty());
}

TEST_F(Decoding, ButtonsAreFlaggedOnlyWhenTheyChange) {
  EXPECT_EQ(Decode(Report(0x30).Set(1, {0x1F, 0x9F})), WIICHANGE_BUTTONS);
  EXPECT_EQ(state.buttons, 0x9F1F);
  EXPECT_EQ(Decode(Report(0x30).Set(1, {0x1F, 0x9F})), 0u);
  // Every handled report carries them.
  EXPECT_EQ(Decode(Report(0x31).Set(1, {0x00, 0x08})), WIICHANGE_BUTTONS);
  EXPECT_EQ(state.buttons, 0x0800);
}

TEST_F(Decoding, StatusReportsBatteryAndLedsAndMarksTheDriverConnected) {
  const Report status = Report(0x20).Set(3, {0x50}).Set(6, {0xC9});
  EXPECT_EQ(Decode(status), uint32_t(WIICHANGE_BATTERY | WIICHANGE_LEDS));
  EXPECT_EQ(state.batteryRaw, 0xC9);
  EXPECT_EQ(state.batteryLevel, 0x64);
  EXPECT_EQ(state.leds, 0x5);
  EXPECT_EQ(Decode(status), 0u);
  EXPECT_THAT(requests.log, ElementsAre("connected", "connected"));
}

TEST_F(Decoding, AccelerationIsScaledWithTheRemotesCalibration) {
  // Before the calibration has arrived every scaled axis reads 0, not a division by zero.
  EXPECT_EQ(Decode(Report(0x31).Set(3, {0x99, 0x10, 0xFF})) & WIICHANGE_ACCEL, WIICHANGE_ACCEL);
  EXPECT_EQ(state.motion.x, 0.0f);
  EXPECT_EQ(state.motion.z, 0.0f);

  CalibrateRemote();
  EXPECT_EQ(state.accelZeroY, kZero);
  EXPECT_EQ(state.accelOneX, kZero + kOneG);  // the byte between zero and one-g is skipped
  Decode(Report(0x31).Set(3, {G(1), G(-0.6f), G(2)}));
  EXPECT_EQ(state.motion.rawX, G(1));
  EXPECT_FLOAT_EQ(state.motion.x, 1.0f);
  EXPECT_FLOAT_EQ(state.motion.y, -0.6f);
  EXPECT_FLOAT_EQ(state.motion.z, 2.0f);
  EXPECT_EQ(Decode(Report(0x31).Set(3, {G(1), G(-0.6f), G(2)})) & WIICHANGE_ACCEL, 0u);
}

TEST_F(Decoding, OrientationNeedsTwoStillSamplesAndAgesWhileShaking) {
  CalibrateRemote();
  struct Step {
    float x, y, z;
    uint32_t orientationFlag;
    float pitch, roll;
    uint32_t age;
  };
  const float tilt = std::asin(0.6f) * 57.29578f;
  const Step steps[] = {
      {0, 0, 1, 0, 0, 0, 0},  // first still sample: not trusted yet
      {0, 0, 1, WIICHANGE_ORIENTATION, 0, 0, 0},
      {0, 0, 2, 0, 0, 0, 1},  // shaking keeps the old angles and ages them
      {0, 0, 2, 0, 0, 0, 2},
      {0.6f, 0, 0.8f, 0, 0, 0, 2},  // still again, the count starts over
      {0.6f, 0, 0.8f, WIICHANGE_ORIENTATION, -0.0f, tilt, 0},
      {0, -0.6f, 0.8f, WIICHANGE_ORIENTATION, tilt, 0, 0},
      {0.6f, 0, -0.8f, WIICHANGE_ORIENTATION, -180, 180 - tilt, 0},  // upside down
      {-0.6f, 0, -0.8f, WIICHANGE_ORIENTATION, -180, -180 + tilt, 0},
      {0, -0.6f, -0.8f, WIICHANGE_ORIENTATION, 180 - tilt, 180, 0},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(i++);
    const uint32_t flags = Decode(Report(0x31).Set(3, {G(s.x), G(s.y), G(s.z)}));
    EXPECT_EQ(flags & WIICHANGE_ORIENTATION, s.orientationFlag);
    EXPECT_NEAR(state.motion.pitch, s.pitch, 1e-4);
    EXPECT_NEAR(state.motion.roll, s.roll, 1e-4);
    EXPECT_EQ(state.motion.orientationAge, s.age);
  }
  EXPECT_FLOAT_EQ(state.motion.orientationX, 0.0f);
  EXPECT_FLOAT_EQ(state.motion.orientationY, -0.6f);
  EXPECT_FLOAT_EQ(state.motion.orientationZ, -0.8f);
}

TEST_F(Decoding, RemoteAndNunchukShareTheStillSampleCount) {
  CalibrateRemote();
  PlugCalibratedNunchuk();
  // One still remote sample, then one still nunchuk sample in the same report: the second
  // in a row, so the nunchuk gets an orientation at once.
  const Report still = Report(0x35).Set(3, {G(0), G(0), G(1)}).SetMasked(6, {100, 100, G(0), G(1), G(0), 0x03});
  const uint32_t flags = Decode(still);
  EXPECT_EQ(flags & (WIICHANGE_ORIENTATION | WIICHANGE_NUNCHUK_ORIENTATION), WIICHANGE_NUNCHUK_ORIENTATION);
  EXPECT_NEAR(state.nunchukMotion.pitch, -90.0f, 1e-4);
  EXPECT_EQ(decoder.stableSamples, 2u);

  // A shaking nunchuk breaks the remote's run too.
  Decode(Report(0x35).Set(3, {G(0), G(0), G(1)}).SetMasked(6, {100, 100, G(0), G(3), G(0), 0x03}));
  EXPECT_EQ(decoder.stableSamples, 0u);
}

TEST_F(Decoding, ExtendedInfraredDots) {
  state.irMode = WIIIR_EXTENDED;
  const Report seen = Report(0x33).Set(6, {0x10, 0x20, 0x35,    // x 0x310, y 0x020, size 5
                                           0xFF, 0xFF, 0xCF,    // x 0x0FF, y 0x3FF, size 15
                                           0xFF, 0xFF, 0xFF,    // out of sight
                                           0x00, 0x00, 0x00});  // the corner, size 0
  EXPECT_EQ(Decode(seen), WIICHANGE_IR);
  struct Expected {
    bool visible;
    int rawX, rawY, size;
  };
  const Expected expected[] = {{true, 0x310, 0x020, 5}, {true, 0x0FF, 0x3FF, 15}, {false, 0, 0, 0}, {true, 0, 0, 0}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const inpWiiDot& dot = state.dots[i];
    EXPECT_EQ(dot.visible, expected[i].visible);
    EXPECT_EQ(dot.rawX, expected[i].rawX);
    EXPECT_EQ(dot.rawY, expected[i].rawY);
    EXPECT_EQ(dot.size, expected[i].size);
    EXPECT_FLOAT_EQ(dot.x, expected[i].visible ? 1.0f - expected[i].rawX / 1016.0f : 0.0f);
    EXPECT_FLOAT_EQ(dot.y, expected[i].rawY / 760.0f);
  }
  EXPECT_EQ(Decode(seen), 0u);

  // Dot 0 goes out of sight: only its visibility changes.
  Report lost = seen;
  lost.Set(6, {0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Decode(lost), WIICHANGE_IR);
  EXPECT_FALSE(state.dots[0].visible);
  EXPECT_EQ(state.dots[0].rawX, 0x310);
  EXPECT_EQ(state.dots[0].rawY, 0x020);
  EXPECT_EQ(state.dots[0].size, 5);
  EXPECT_FLOAT_EQ(state.dots[0].x, 1.0f - 0x310 / 1016.0f);
}

TEST_F(Decoding, BasicInfraredDotsComeInPairs) {
  state.irMode = WIIIR_BASIC;
  for (inpWiiDot& dot : state.dots) dot.size = 7;
  state.dots[3].rawX = 123;
  // Pair 0: high bits 0xE4 give dot 0 x 0x210 y 0x320 and dot 1 x 0x030 y 0x140.
  // Pair 1: dot 2 at 0xFF 0x01 is seen; dot 3 at 0xFF 0xFF is not.
  const Report r = Report(0x37).Set(6, {0x10, 0x20, 0xE4, 0x30, 0x40, 0xFF, 0x01, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(Decode(r), WIICHANGE_IR);
  const int expected[4][3] = {{1, 0x210, 0x320}, {1, 0x030, 0x140}, {1, 0x0FF, 0x001}, {0, 123, 0}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(state.dots[i].visible, expected[i][0] == 1);
    EXPECT_EQ(state.dots[i].rawX, expected[i][1]);
    EXPECT_EQ(state.dots[i].rawY, expected[i][2]);
    EXPECT_EQ(state.dots[i].size, 7);  // the basic format has no sizes
  }
  EXPECT_FLOAT_EQ(state.dots[1].x, 1.0f - 0x030 / 1016.0f);
  EXPECT_FLOAT_EQ(state.dots[1].y, 0x140 / 760.0f);
}

TEST_F(Decoding, InfraredFollowsTheCameraModeNotTheReport) {
  const Report r = Report(0x33).Set(6, {0x10, 0x20, 0x35});
  EXPECT_EQ(Decode(r), 0u);  // camera off: nothing decoded
  EXPECT_FALSE(state.dots[0].visible);
  state.irMode = WIIIR_BASIC;  // 0x33 carries extended data, but the camera decides
  EXPECT_EQ(Decode(r), WIICHANGE_IR);
  EXPECT_EQ(state.dots[0].rawX, 0x310);
  EXPECT_EQ(state.dots[0].size, 0);
}

TEST_F(Decoding, StickDeadZones) {
  PlugCalibratedNunchuk();
  struct Case {
    uint8_t raw;
    float deadZone, expected;
  };
  const Case cases[] = {
      {160, 0.2f, 0.5f},                                         // 0.6 stretched past the zone
      {40, 0.2f, -0.5f}, {120, 0.2f, 0.0f},                      // exactly at the zone
      {80, 0.2f, 0.0f},  {110, 0.2f, 0.0f},  {160, 0.0f, 0.6f},  // no zone
      {160, 1.5f, 0.6f}, {160, -0.2f, 0.6f}, {160, NAN, 0.6f},
      {250, 1.0f, 0.0f},  // a zone over the whole travel swallows overshoot too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.raw) << " in " << c.deadZone);
    state.nunchukStick.deadZoneX = 0.9f;  // ignored: the owner's value counts
    owner.nunchukStick.deadZoneX = c.deadZone;
    owner.nunchukStick.deadZoneY = c.deadZone;
    Decode(Nunchuk(c.raw, uint8_t(200 - c.raw), G(0), G(0), G(1), 0x03));
    EXPECT_FLOAT_EQ(state.nunchukStick.x, c.expected);
    EXPECT_FLOAT_EQ(state.nunchukStick.y, -c.expected);
    EXPECT_TRUE(std::isnan(c.deadZone) ? std::isnan(state.nunchukStick.deadZoneX)
                                       : state.nunchukStick.deadZoneX == c.deadZone);
  }
}

TEST_F(Decoding, StickAxisWithoutCalibrationKeepsItsValue) {
  PlugCalibratedNunchuk();
  state.nunchukCalibration.stick = {50, 50, 0, 50, 50, 50};  // X not yet known; Y of no width
  state.nunchukStick.x = 0.25f;
  state.nunchukStick.y = 0.75f;
  owner.nunchukStick.deadZoneX = 0.1f;
  for (uint8_t raw : {200, 10, 10}) {
    Decode(Nunchuk(raw, raw, G(0), G(0), G(1), 0x03));
    EXPECT_EQ(state.nunchukStick.rawX, raw);
    EXPECT_EQ(state.nunchukStick.x, 0.25f);
    EXPECT_EQ(state.nunchukStick.y, 0.0f);
  }
}

TEST_F(Decoding, PluggingInANunchuk) {
  CalibrateRemote();
  requests.Take();

  // The status report tells an extension is there; its type is asked for.
  EXPECT_EQ(Decode(Report(0x20).Set(3, {0x02})), 0u);
  EXPECT_TRUE(state.extensionConnected);
  EXPECT_THAT(requests.Take(), ElementsAre("write 04A40040 00", "read 04A400FE 2", "connected"));
  // Later status reports with the bit still set start nothing new.
  EXPECT_EQ(Decode(Report(0x20).Set(3, {0x02})), 0u);
  EXPECT_THAT(requests.Take(), ElementsAre("connected"));

  // The type answer asks for the calibration.
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFE, 0xFE})), 0u);
  EXPECT_EQ(state.extensionType, WIIEXT_NUNCHUK);
  EXPECT_THAT(requests.Take(), ElementsAre("read 04A40020 16"));
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFE, 0xFE})), 0u);  // a repeated answer is quiet
  EXPECT_THAT(requests.Take(), IsEmpty());

  // The calibration answer, masked: the nunchuk is ready.
  Report calibration = ReadAnswer(0x0020, {});
  calibration.SetMasked(6, {0x80, 0x81, 0x82, 0xEE, 0x99, 0x9A, 0x9B, 0xEE,  //
                            0xE0, 0x20, 0x80, 0xD0, 0x30, 0x7F, 0xEE, 0xEE});
  EXPECT_EQ(Decode(calibration), WIICHANGE_NUNCHUK_CONNECTED);
  EXPECT_THAT(requests.Take(), ElementsAre("mode"));
  const inpWiiNunchukCalibration& cal = state.nunchukCalibration;
  EXPECT_EQ(cal.zeroX, 0x80);
  EXPECT_EQ(cal.zeroZ, 0x82);
  EXPECT_EQ(cal.oneX, 0x99);
  EXPECT_EQ(cal.oneZ, 0x9B);
  EXPECT_EQ(cal.stick.maxX, 0xE0);
  EXPECT_EQ(cal.stick.minX, 0x20);
  EXPECT_EQ(cal.stick.midX, 0x80);
  EXPECT_EQ(cal.stick.maxY, 0xD0);
  EXPECT_EQ(cal.stick.minY, 0x30);
  EXPECT_EQ(cal.stick.midY, 0x7F);

  EXPECT_THAT(debug.Take(), ElementsAre("Wiimote : Extension connected:\n", "Wiimote : .. Nunchuk!\n"));

  // Its data: C pressed, Z not, the stick full right and centred, the nunchuk at rest.
  const uint32_t changes = WIICHANGE_NUNCHUK_BUTTONS | WIICHANGE_NUNCHUK_ACCEL | WIICHANGE_NUNCHUK_STICK;
  const Report data = Nunchuk(0xE0, 0x7F, 0x80, 0x81, 0x9B, 0x01);
  EXPECT_EQ(Decode(data) & changes, changes);
  EXPECT_TRUE(state.nunchukC);
  EXPECT_FALSE(state.nunchukZ);
  EXPECT_FLOAT_EQ(state.nunchukStick.x, 2.0f * 0x60 / 0xC0);
  EXPECT_FLOAT_EQ(state.nunchukStick.y, 0.0f);
  EXPECT_FLOAT_EQ(state.nunchukMotion.z, 1.0f);
  EXPECT_EQ(Decode(data) & changes, 0u);

  // Pulling it out: the type is forgotten, its last values stay, and the mode is set again.
  EXPECT_EQ(Decode(Report(0x20)), WIICHANGE_EXTENSION_DISCONNECTED);
  EXPECT_FALSE(state.extensionConnected);
  EXPECT_EQ(state.extensionType, WIIEXT_NONE);
  EXPECT_THAT(requests.Take(), ElementsAre("mode", "connected"));
  EXPECT_THAT(debug.Take(), ElementsAre("Wiimote : Extension disconnected.\n"));
  EXPECT_EQ(Decode(Nunchuk(0x20, 0x20, 0x80, 0x81, 0x9B, 0x03)) & ~WIICHANGE_ORIENTATION, 0u);
  EXPECT_TRUE(state.nunchukC);
  EXPECT_FLOAT_EQ(state.nunchukStick.x, 2.0f * 0x60 / 0xC0);
}

TEST_F(Decoding, PartialInsertionIsReportedOnce) {
  Decode(Report(0x20).Set(3, {0x02}));
  requests.Take();
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFF, 0xFF})), WIICHANGE_EXTENSION_PARTIAL);
  EXPECT_EQ(state.extensionType, WIIEXT_PARTIAL);
  EXPECT_FALSE(state.extensionConnected);
  EXPECT_THAT(requests.Take(), ElementsAre("status"));

  // The status answer starts the detection again; still half in, so nothing more is said.
  Decode(Report(0x20).Set(3, {0x02}));
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFF, 0xFF})), 0u);
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFF, 0xFF})), 0u);
  EXPECT_THAT(requests.Take(), ElementsAre("write 04A40040 00", "read 04A400FE 2", "connected"));

  // Pushed home, it is found as usual.
  EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0xFD, 0xFD})), 0u);
  EXPECT_EQ(state.extensionType, WIIEXT_CLASSIC);
  EXPECT_THAT(debug.Messages(), ElementsAre("Wiimote : Extension connected:\n", "Wiimote : .. partially inserted!\n",
                                            "Wiimote : Extension connected:\n", "Wiimote : .. Classic Controller!\n"));
}

TEST_F(Decoding, UnknownExtensionTypeIsReportedEveryTime) {
  state.extensionType = WIIEXT_NUNCHUK;
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Decode(ReadAnswer(0x00FE, {0x34, 0x12})), 0u);
  EXPECT_EQ(state.extensionType, WIIEXT_NUNCHUK);
  EXPECT_THAT(requests.log, IsEmpty());
  EXPECT_THAT(debug.Messages(), ElementsAre("Wiimote : * unknown extension controller found (0x34) *\n",
                                            "Wiimote : * unknown extension controller found (0x34) *\n"));
}

TEST_F(Decoding, ClassicController) {
  state.extensionConnected = true;
  state.extensionType = WIIEXT_CLASSIC;
  // Left stick 0..63 centred on 32, right stick 0..31 centred on 16, at eight-bit precision.
  Report calibration = ReadAnswer(0x0020, {});
  calibration.SetMasked(6, {63 << 2, 0, 32 << 2, 63 << 2, 0, 32 << 2,  //
                            31 << 3, 0, 16 << 3, 31 << 3, 0, 16 << 3, 0xEE, 0xEE, 0xEE, 0xEE});
  EXPECT_EQ(Decode(calibration), WIICHANGE_CLASSIC_CONNECTED);
  EXPECT_THAT(requests.Take(), ElementsAre("mode"));
  const inpWiiClassicCalibration& cal = state.classicCalibration;
  EXPECT_EQ(cal.leftStick.maxX, 63);
  EXPECT_EQ(cal.leftStick.midY, 32);
  EXPECT_EQ(cal.rightStick.maxY, 31);
  EXPECT_EQ(cal.rightStick.midX, 16);
  EXPECT_EQ(cal.leftTriggerMax, 31);
  EXPECT_EQ(cal.rightTriggerMin, 0);

  // Left stick (48, 16), right stick (22, 8), triggers 26 and 5, buttons 0x0810 pressed.
  const Report data = Report(0x35).SetMasked(6, {176, 208, 104, 69, 0xEF, 0xF7});
  EXPECT_EQ(Decode(data), uint32_t(WIICHANGE_CLASSIC_BUTTONS | WIICHANGE_CLASSIC_LEFT_STICK |
                                   WIICHANGE_CLASSIC_RIGHT_STICK | WIICHANGE_CLASSIC_TRIGGERS));
  EXPECT_EQ(state.classicButtons, 0x0810);
  EXPECT_EQ(state.classicLeftStick.rawX, 48.0f);
  EXPECT_EQ(state.classicLeftStick.rawY, 16.0f);
  EXPECT_EQ(state.classicRightStick.rawX, 22.0f);
  EXPECT_EQ(state.classicRightStick.rawY, 8.0f);
  EXPECT_FLOAT_EQ(state.classicLeftStick.x, 32.0f / 63);
  EXPECT_FLOAT_EQ(state.classicLeftStick.y, -32.0f / 63);
  EXPECT_FLOAT_EQ(state.classicRightStick.x, 12.0f / 31);
  EXPECT_FLOAT_EQ(state.classicRightStick.y, -16.0f / 31);
  EXPECT_EQ(state.classicTriggerRawLeft, 26);
  EXPECT_EQ(state.classicTriggerRawRight, 5);
  EXPECT_FLOAT_EQ(state.classicTriggerLeft, 26.0f / 31);
  EXPECT_FLOAT_EQ(state.classicTriggerRight, 5.0f / 31);
  EXPECT_EQ(Decode(data), 0u);

  // Each stick takes its own dead zones.
  owner.classicLeftStick.deadZoneY = 0.6f;
  owner.classicRightStick.deadZoneX = 0.5f;
  Decode(data);
  EXPECT_FLOAT_EQ(state.classicLeftStick.x, 32.0f / 63);
  EXPECT_EQ(state.classicLeftStick.y, 0.0f);
  EXPECT_EQ(state.classicRightStick.x, 0.0f);
  EXPECT_FLOAT_EQ(state.classicRightStick.y, -16.0f / 31);
}

TEST_F(Decoding, CalibrationForNoKnownExtensionIsIgnored) {
  EXPECT_EQ(Decode(ReadAnswer(0x0020, {0x55, 0x55, 0x55})), 0u);
  EXPECT_EQ(state.nunchukCalibration.zeroX, 0);
  EXPECT_THAT(requests.log, IsEmpty());
}

TEST_F(Decoding, ReadErrors) {
  struct Case {
    uint8_t code;
    const char* message;
  };
  const Case cases[] = {
      {0x08, "Wiimote : * error: read address not valid. *\n"},
      {0x0F, "Wiimote : * error: read address not valid. *\n"},
      {0x01, "Wiimote : * error: attempt to read from write-only registers. *\n"},
      {0x07, "Wiimote : * error: attempt to read from write-only registers. *\n"},
      {0xF0, nullptr},  // the high half is not an error
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.code));
    state.accelZeroX = 0;
    Report answer = ReadAnswer(0x0016, {0x7F, 0x7F, 0x7F, 0, 0x99, 0x99, 0x99}).Set(1, {0x04});
    answer.bytes[3] = c.code;
    const uint32_t expected = state.buttons != 0x0004 ? WIICHANGE_BUTTONS : 0;
    EXPECT_EQ(Decode(answer), expected);
    EXPECT_EQ(state.buttons, 0x0004);  // buttons are decoded either way
    if (c.message) {
      EXPECT_THAT(debug.Take(), ElementsAre(c.message));
      EXPECT_EQ(state.accelZeroX, 0);
    } else {
      EXPECT_THAT(debug.Take(), IsEmpty());
      EXPECT_EQ(state.accelZeroX, 0x7F);
    }
  }
}

}  // namespace
