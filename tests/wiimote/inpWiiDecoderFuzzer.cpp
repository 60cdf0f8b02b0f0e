// Feeds arbitrary sequences of input reports to the decoder. The first bytes choose the
// camera mode, the extension and the owner's dead zones (any float, NaN and infinities
// included); the rest is cut into 22-byte reports. Besides the sanitizers' checks, every
// decoded value must stay finite and the angles within their range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "input/wiimote/inpWiiDecoder.h"
#include "platform/gDebugOutputCapture.h"
#include "tests/wiimote/inpWiiRecordingRequests.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckMotion(const inpWiiMotion& m) {
  for (float v : {m.x, m.y, m.z, m.orientationX, m.orientationY, m.orientationZ}) {
    Check(std::isfinite(v));
  }
  Check(std::fabs(m.pitch) <= 180.0f && std::fabs(m.roll) <= 180.0f);
}

void CheckStick(const inpWiiStick& s) {
  Check(std::isfinite(s.rawX) && std::isfinite(s.rawY));
  Check(std::isfinite(s.x) && std::isfinite(s.y));
}

void CheckState(const inpWiiState& s) {
  CheckMotion(s.motion);
  CheckMotion(s.nunchukMotion);
  for (const inpWiiDot& dot : s.dots) Check(std::isfinite(dot.x) && std::isfinite(dot.y));
  CheckStick(s.nunchukStick);
  CheckStick(s.classicLeftStick);
  CheckStick(s.classicRightStick);
  Check(std::isfinite(s.classicTriggerLeft) && std::isfinite(s.classicTriggerRight));
}

float TakeFloat(const uint8_t*& data, size_t& size) {
  float value = 0;
  if (size >= sizeof value) {
    std::memcpy(&value, data, sizeof value);
    data += sizeof value;
    size -= sizeof value;
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const int kModes[] = {WIIIR_OFF, WIIIR_BASIC, WIIIR_EXTENDED, 2};
  static const uint32_t kExtensions[] = {WIIEXT_NONE, WIIEXT_NUNCHUK, WIIEXT_CLASSIC, WIIEXT_PARTIAL};
  const uint8_t setup = data[0];
  data += 1;
  size -= 1;

  inpWiiRecordingRequests requests;
  gDebugOutputCapture debug;
  inpWiiDecoder decoder(requests, debug);
  inpWiiState state;
  inpWiiState owner;
  state.irMode = kModes[setup & 3];
  state.extensionType = kExtensions[(setup >> 2) & 3];
  state.extensionConnected = state.extensionType != WIIEXT_NONE;
  if (setup & 0x10) {
    owner.nunchukStick.deadZoneX = TakeFloat(data, size);
    owner.nunchukStick.deadZoneY = TakeFloat(data, size);
    owner.classicLeftStick.deadZoneX = TakeFloat(data, size);
    owner.classicLeftStick.deadZoneY = TakeFloat(data, size);
    owner.classicRightStick.deadZoneX = TakeFloat(data, size);
    owner.classicRightStick.deadZoneY = TakeFloat(data, size);
  }

  while (size > 0) {
    uint8_t report[inpWiiReportSize] = {};
    const size_t n = size < inpWiiReportSize ? size : inpWiiReportSize;
    std::memcpy(report, data, n);
    data += n;
    size -= n;
    const uint32_t flags = decoder.Decode(report, state, owner);
    Check((flags & ~0x7FFFEu) == 0);
    CheckState(state);
    if (requests.log.size() > 64) requests.log.clear();
    if (debug.Messages().size() > 64) debug.Take();
  }
  return 0;
}
