#pragma once
// Turns 22-byte Wiimote input reports into updates of a state record and a word of change
// flags (inpWiiChange), issuing the follow-up requests that some reports call for (reading
// an extension's type and calibration, re-selecting the report mode) and logging what it
// learns on the debug-output channel.
//
// Reports come from a radio link: every byte pattern decodes without fault. Scaling by a
// calibration of zero width (accelerometers before their calibration arrives) gives 0; stick
// and trigger axes whose calibrated max is still 0 keep the value they had.
#include <cstddef>
#include <cstdint>

#include "input/wiimote/inpWiiState.h"

class gDebugOutput;
class inpWiiRequests;

constexpr std::size_t inpWiiReportSize = 22;

class inpWiiDecoder {
 public:
  inpWiiDecoder(inpWiiRequests& requests, gDebugOutput& debug);

  // Decodes one input report into state and returns its change flags. Report ids other than
  // 0x20, 0x21, 0x30, 0x31, 0x33, 0x35 and 0x37 change nothing and return 0. The stick dead
  // zones are taken from owner (the record the owner writes them to) at each use.
  uint32_t Decode(const uint8_t* report, inpWiiState& state, const inpWiiState& owner);

  // Consecutive accelerometer samples of plausible length (near 1 g). The remote's and the
  // nunchuk's accelerometers share it, so a nunchuk held still while the remote shakes
  // restarts the count too.
  uint32_t stableSamples = 0;

 private:
  uint32_t Buttons(const uint8_t* report, inpWiiState& state);
  uint32_t Status(const uint8_t* report, inpWiiState& state);
  uint32_t Acceleration(const uint8_t* report, inpWiiState& state);
  bool Orientation(inpWiiMotion& motion);
  uint32_t Infrared(const uint8_t* report, inpWiiState& state);
  uint32_t Extension(const uint8_t* e, inpWiiState& state, const inpWiiState& owner);
  uint32_t Nunchuk(const uint8_t* e, inpWiiState& state, const inpWiiState& owner);
  uint32_t Classic(const uint8_t* e, inpWiiState& state, const inpWiiState& owner);
  uint32_t ReadData(const uint8_t* report, inpWiiState& state);
  uint32_t ExtensionCalibration(const uint8_t* data, inpWiiState& state);
  uint32_t ExtensionType(const uint8_t* data, inpWiiState& state);

  inpWiiRequests& requests;
  gDebugOutput& debug;
};
