#pragma once
// A simulated Wiimote behind the HID transport, for tests and for the player's
// --wiimote-sim option. The driver talks to it through the same descriptor code as to a
// hidraw node (one end of a SOCK_SEQPACKET socket pair); the remote holds the other end.
//
// The remote answers as the device does: status requests with a status report, memory reads
// from its memory map (the accelerometer calibration, and an extension's type and masked
// calibration while one is plugged in) in 16-byte read-data reports, memory writes with an
// acknowledgement. Tests inject input reports, plug a nunchuk in and out, make it refuse
// plain writes, answer set-output-report as busy, keep silent or vanish; every output report
// that reaches it is recorded.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gHid.h"

class gMilliClock;

using gHidReport = std::array<std::uint8_t, 22>;

class gHidSimRemote {
 public:
  explicit gHidSimRemote(gMilliClock& a_clock);
  ~gHidSimRemote();
  gHidSimRemote(const gHidSimRemote&) = delete;
  gHidSimRemote& operator=(const gHidSimRemote&) = delete;

  // Behaviour; each may change at any time.
  std::atomic<bool> silent{false};           // answers nothing (records what it gets)
  std::atomic<bool> refuseWrites{false};     // plain writes fail; set-output-report works
  std::atomic<bool> noOutputReports{false};  // set-output-report is not supported
  std::atomic<int> busyAnswers{0};           // so many set-output-reports answer busy first
  std::atomic<bool> held{false};             // another program holds it: opening fails

  // An input report of a_length bytes (at most 22), sent at once as it is, when the link is
  // open (dropped otherwise).
  void Inject(const std::uint8_t* a_report, std::size_t a_length);
  // An input report sent a_ms milliseconds after the first opening of the link.
  void Schedule(std::uint32_t a_ms, const std::uint8_t* a_report, std::size_t a_length);
  // Reads "MS HEX..." lines ('#' starts a comment) into the schedule; a line that does not
  // parse is skipped and described in *a_problems. False when a line was skipped.
  bool LoadScript(std::istream& a_in, std::string* a_problems);

  // A nunchuk is pushed in or pulled out; the remote says so with a status report, as the
  // device does.
  void PlugNunchuk();
  void Unplug();
  // The remote goes out of range: the open link ends (reads see the end, writes fail) and it
  // is no longer listed until SwitchOn.
  void SwitchOff();
  void SwitchOn();
  bool IsOn() const;
  bool IsOpen() const;
  // Times the link has been opened.
  int Openings() const;

  // Every output report that reached the remote, in order.
  std::vector<gHidReport> Sent() const;
  // Sent reports whose id is a_id.
  std::vector<gHidReport> SentWithId(std::uint8_t a_id) const;
  void ClearSent();
  // Called, under the remote's lock, for each output report as it arrives.
  void OnOutput(std::function<void(const gHidReport&)> a_listener);

  // The device side, used by the simulated device.
  bool Attach(int a_fd);
  void Detach();
  // Sends the scheduled reports that are due and what the socket could not take before;
  // returns the milliseconds until the next scheduled report (-1: none).
  int Pump();
  // Takes the reports written to the link and answers them.
  void DrainLink();
  void Receive(const std::uint8_t* a_report, std::size_t a_length);

 private:
  void ReceiveLocked(const gHidReport& a_report);
  void EmitLocked(const gHidReport& a_report, std::size_t a_length = 22);
  void FlushLocked();
  void StatusLocked();
  void SetExtensionLocked(bool a_present);
  gHidReport Blank(std::uint8_t a_id) const;

  gMilliClock& m_clock;
  mutable std::mutex m_lock;
  int m_fd = -1;  // the remote's end of the link, or -1
  bool m_on = true;
  int m_openings = 0;
  std::uint32_t m_firstOpened = 0;
  std::map<std::uint32_t, std::uint8_t> m_memory;
  std::uint16_t m_buttons = 0;
  std::uint8_t m_leds = 0;
  bool m_extension = false;
  std::vector<std::pair<std::uint32_t, gHidReport>> m_schedule;  // by time
  std::size_t m_nextScheduled = 0;
  // Reports the socket had no room for yet, with their lengths.
  std::deque<std::pair<gHidReport, std::size_t>> m_backlog;
  std::vector<gHidReport> m_sent;
  std::function<void(const gHidReport&)> m_listener;
};

// The transport that lists and opens simulated remotes ("sim:0", "sim:1", ...).
class gHidSimulation : public gHid {
 public:
  explicit gHidSimulation(gMilliClock& a_clock);

  std::shared_ptr<gHidSimRemote> AddRemote();
  // The system gives no device list.
  std::atomic<bool> noDeviceList{false};

  bool Enumerate(std::uint16_t a_vendor, std::uint16_t a_product, std::vector<std::string>& a_paths) override;
  std::unique_ptr<gHidDevice> Open(const std::string& a_path, int* a_error) override;
  bool SupportsOutputReports() const override { return true; }

 private:
  gMilliClock& m_clock;
  std::mutex m_lock;
  std::vector<std::shared_ptr<gHidSimRemote>> m_remotes;
};
