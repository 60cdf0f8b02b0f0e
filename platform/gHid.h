#pragma once
// The HID transport beneath the Wiimote driver: finding devices by vendor and product id and
// exchanging whole reports with one of them. Byte 0 of every report is its report id.
//
// A device is used by several threads at once: one reads while others write or wake it.
// Read, Write, SetOutputReport and Wake may overlap; destruction may not overlap anything.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum gHidResult {
  HID_OK,
  HID_TIMEOUT,      // Read: nothing arrived in time
  HID_WOKEN,        // Read: Wake was called; every later Read returns this at once
  HID_BUSY,         // SetOutputReport: try again later
  HID_NOT_READY,    // SetOutputReport: try again later
  HID_UNSUPPORTED,  // SetOutputReport: the stack cannot send output reports this way
  HID_FAILED,       // the device is gone or refused the report
};

class gHidDevice {
 public:
  virtual ~gHidDevice() = default;

  // Waits up to a_timeoutMs for one input report and copies at most a_size bytes of it;
  // *a_length is the number of bytes copied (reports come at their own length).
  virtual gHidResult Read(std::uint8_t* a_buffer, std::size_t a_size, int a_timeoutMs, std::size_t* a_length) = 0;
  // Sends an output report over the interrupt channel, as a plain write.
  virtual gHidResult Write(const std::uint8_t* a_report, std::size_t a_size) = 0;
  // Sends an output report through the control channel (HID set-report).
  virtual gHidResult SetOutputReport(const std::uint8_t* a_report, std::size_t a_size) = 0;
  // Ends the Read in progress, and every later one, with HID_WOKEN: how a reader is stopped.
  virtual void Wake() = 0;
};

class gHid {
 public:
  virtual ~gHid() = default;

  // Paths of the present devices with these ids, in the system's order; false when the
  // system gives no device list at all.
  virtual bool Enumerate(std::uint16_t a_vendor, std::uint16_t a_product, std::vector<std::string>& a_paths) = 0;
  // Opens a device for exclusive reading and writing; null with *a_error set to the system's
  // error code when it cannot (EWOULDBLOCK: another program holds it).
  virtual std::unique_ptr<gHidDevice> Open(const std::string& a_path, int* a_error) = 0;
  // Whether output reports can go through SetOutputReport on this system.
  virtual bool SupportsOutputReports() const = 0;

  // The process's own transport (hidraw on Linux); lives until the process ends.
  static gHid& System();
};
