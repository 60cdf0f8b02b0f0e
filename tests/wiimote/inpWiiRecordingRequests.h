#pragma once
// Test stand-in for the driver side of the decoder: records each request as one short line
// ("read 04A400FE 2", "write 04A40040 00", "mode", "status", "connected") so tests can
// compare the whole sequence at once.
#include <cstdio>
#include <string>
#include <vector>

#include "input/wiimote/inpWiiRequests.h"

class inpWiiRecordingRequests : public inpWiiRequests {
 public:
  std::vector<std::string> log;

  void RequestRead(uint32_t address, uint16_t length) override {
    char line[40];
    std::snprintf(line, sizeof line, "read %08X %u", unsigned(address), unsigned(length));
    log.emplace_back(line);
  }

  void RequestWrite(uint32_t address, uint8_t length, const uint8_t* data) override {
    char line[40];
    std::snprintf(line, sizeof line, "write %08X", unsigned(address));
    std::string text = line;
    for (unsigned i = 0; i < length; ++i) {
      std::snprintf(line, sizeof line, " %02X", unsigned(data[i]));
      text += line;
    }
    log.push_back(text);
  }

  void RequestReportMode() override { log.emplace_back("mode"); }
  void RequestStatus() override { log.emplace_back("status"); }
  void MarkConnected() override { log.emplace_back("connected"); }

  // The requests made since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(log);
    return taken;
  }
};
