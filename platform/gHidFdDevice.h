#pragma once
// A HID device behind a file descriptor: a hidraw node, or one end of a socket pair for the
// simulated remote. Reads wait in poll on the descriptor and an eventfd, so that Wake ends
// them at once; writes are plain write calls, set-output-report the hidraw ioctl.
#include "platform/gHid.h"

class gHidFdDevice : public gHidDevice {
 public:
  // Takes ownership of a_fd, which must be non-blocking.
  explicit gHidFdDevice(int a_fd);
  ~gHidFdDevice() override;
  gHidFdDevice(const gHidFdDevice&) = delete;
  gHidFdDevice& operator=(const gHidFdDevice&) = delete;

  // False when the eventfd could not be made: such a device can never be stopped.
  bool IsUsable() const { return m_fd >= 0 && m_wake >= 0; }

  gHidResult Read(std::uint8_t* a_buffer, std::size_t a_size, int a_timeoutMs, std::size_t* a_length) override;
  gHidResult Write(const std::uint8_t* a_report, std::size_t a_size) override;
  gHidResult SetOutputReport(const std::uint8_t* a_report, std::size_t a_size) override;
  void Wake() override;

 protected:
  int Descriptor() const { return m_fd; }

 private:
  int m_fd = -1;
  int m_wake = -1;
};
