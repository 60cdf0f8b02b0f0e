#pragma once
// What the report decoder asks of the driver that feeds it: follow-up output reports to the
// device and the one driver flag that an input report sets. The driver implements it; the
// decoder calls it on the driver's read thread, under the driver's state lock. Whether a
// request reached the device is the driver's business: the decoder never waits for answers,
// which come back later as input reports of their own.
#include <cstdint>

class inpWiiRequests {
 public:
  virtual ~inpWiiRequests() = default;

  // Read length bytes of memory or registers (top address byte 0x04) from address.
  virtual void RequestRead(uint32_t address, uint16_t length) = 0;
  // Write length bytes (1 to 16) from data to memory or registers at address.
  virtual void RequestWrite(uint32_t address, uint8_t length, const uint8_t* data) = 0;
  // Select the driver's current data reporting mode again, not continuous.
  virtual void RequestReportMode() = 0;
  // Ask the device for a status report.
  virtual void RequestStatus() = 0;
  // A status report arrived: the device is talking to us.
  virtual void MarkConnected() = 0;
};
