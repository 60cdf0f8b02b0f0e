#pragma once
// A simulated remote on the simulated transport, a clock the test moves by hand (safe to
// read from the driver's threads), and the captured debug channel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "input/wiimote/inpWiiDriver.h"
#include "platform/gDebugOutputCapture.h"
#include "platform/gHidSim.h"
#include "platform/gMilliClock.h"

namespace wiiTest {

class Clock : public gMilliClock {
 public:
  std::atomic<std::uint64_t> now{5000000};
  std::uint64_t Microseconds() override { return now; }
  void SleepMicroseconds(std::uint32_t a_us) override { now += a_us; }
  void Relax() override {}
  void Advance(std::uint32_t a_ms) { now += std::uint64_t(a_ms) * 1000u; }
};

// The masked form of an extension byte, as the remote sends it.
inline std::uint8_t Masked(std::uint8_t a_plain) { return static_cast<std::uint8_t>((a_plain - 0x17) ^ 0x17); }

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> a_bytes) {
  std::vector<std::uint8_t> v;
  for (int b : a_bytes) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

// A report as the remote sent it: its id and the listed bytes, the rest zero.
inline gHidReport Report(std::initializer_list<int> a_bytes) {
  gHidReport r{};
  std::size_t i = 0;
  for (int b : a_bytes) r[i++] = static_cast<std::uint8_t>(b);
  return r;
}

inline std::vector<std::uint8_t> Ids(const std::vector<gHidReport>& a_reports) {
  std::vector<std::uint8_t> ids;
  for (const gHidReport& r : a_reports) ids.push_back(r[0]);
  return ids;
}

// Whether a_lines holds a_wanted in this order (other lines may come between).
inline bool InOrder(const std::vector<std::string>& a_lines, const std::vector<std::string>& a_wanted) {
  std::size_t at = 0;
  for (const std::string& line : a_lines)
    if (at < a_wanted.size() && line == a_wanted[at]) ++at;
  return at == a_wanted.size();
}

inline int Count(const std::vector<std::string>& a_lines, const std::string& a_line) {
  int n = 0;
  for (const std::string& line : a_lines) n += line == a_line;
  return n;
}

// Re-checks a_done each time the driver decodes a report (and every 10 ms, for what no
// report follows, such as the last output report of a callback); false after 60 s, a
// safety net only.
template <class Done>
bool WaitUntil(inpWiiDriver& a_driver, Done a_done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const std::uint64_t decoded = a_driver.DecodedReports();
    if (a_done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    a_driver.WaitForReports(decoded + 1, 10);
  }
}

inline bool Contains(const std::vector<gHidReport>& a_reports, const gHidReport& a_report) {
  for (const gHidReport& r : a_reports)
    if (r == a_report) return true;
  return false;
}

struct Sim {
  Clock clock;
  gDebugOutputCapture debug;
  gHidSimulation hid{clock};
  std::shared_ptr<gHidSimRemote> remote = hid.AddRemote();

  void Inject(std::initializer_list<int> a_bytes) {
    const std::vector<std::uint8_t> bytes = Bytes(a_bytes);
    remote->Inject(bytes.data(), bytes.size());
  }
};

}  // namespace wiiTest
