// The Wiimote driver against the simulated remote, on the real clock, from a build without
// sanitizers:
//   build/bench/wiimote/wiimote_bench
// 1. Reports streamed at 100 Hz for 10 s: how many were decoded (target: all), and the time
//    from the remote sending a report to the decoded state (target p99 <= 1 ms), against the
//    same link read without the driver.
// 2. A button press to the frame step that dispatches it, with 30 Hz frames (target: the
//    first frame after the press, so at most one frame).
// 3. Connecting to a remote that answers (target <= 10 ms), against opening the link and
//    one status round trip by hand; a failed attempt with no remote (target <= 2 ms), on the
//    simulation and on this machine's hidraw.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "input/wiimote/inpWiiDriver.h"
#include "input/wiimote/inpWiimote.h"
#include "platform/gDebugOutput.h"
#include "platform/gHidSim.h"
#include "platform/gMilliClock.h"

namespace {

using Clock = std::chrono::steady_clock;

class Silent : public gDebugOutput {
 public:
  void Write(const char*) override {}
};

double Ms(Clock::duration a_d) { return std::chrono::duration<double, std::milli>(a_d).count(); }

double Percentile(std::vector<double> a_v, double a_p) {
  if (a_v.empty()) return 0;
  std::sort(a_v.begin(), a_v.end());
  return a_v[std::min(a_v.size() - 1, static_cast<std::size_t>(a_p * a_v.size()))];
}

// Sends a_count button reports at 100 Hz, each stamped when sent.
void Stream(gHidSimRemote& a_remote, int a_count, std::vector<Clock::time_point>& a_sent) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < a_count; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * i));
    // Never the initial 0, and never the same twice in a row: every report is a change.
    const std::uint8_t report[3] = {0x30, static_cast<std::uint8_t>(i % 31 + 1), 0};
    a_sent[i] = Clock::now();
    a_remote.Inject(report, sizeof report);
  }
}

void StreamThroughDriver(gMilliClock& a_clock, gDebugOutput& a_debug) {
  constexpr int kReports = 1000;
  gHidSimulation hid(a_clock);
  std::shared_ptr<gHidSimRemote> remote = hid.AddRemote();
  inpWiiDriver driver(hid, a_clock, a_debug);
  std::vector<Clock::time_point> sent(kReports), decoded(kReports);
  std::atomic<int> seen{0};
  // Every streamed report changes the buttons; nothing else the remote sends does.
  driver.callbackMask = WIICHANGE_BUTTONS;
  driver.callback = [&](inpWiiDriver&, std::uint32_t) {
    const int i = seen++;
    if (i < kReports) decoded[i] = Clock::now();
  };
  if (!driver.Connect()) {
    std::printf("stream: no connection\n");
    return;
  }
  Stream(*remote, kReports, sent);
  driver.WaitForReports(~0ull, 500);
  std::vector<double> latency;
  for (int i = 0; i < std::min<int>(seen, kReports); ++i) latency.push_back(Ms(decoded[i] - sent[i]));

  // The peer: the same link and descriptor code, read by a bare thread.
  gHidSimulation bareHid(a_clock);
  std::shared_ptr<gHidSimRemote> bareRemote = bareHid.AddRemote();
  int error = 0;
  std::unique_ptr<gHidDevice> device = bareHid.Open("sim:0", &error);
  std::vector<Clock::time_point> bareSent(kReports), bareRead(kReports);
  std::thread reader([&] {
    std::uint8_t buffer[22];
    std::size_t length;
    for (int i = 0; i < kReports;) {
      if (device->Read(buffer, sizeof buffer, 500, &length) != HID_OK) continue;
      bareRead[i++] = Clock::now();
    }
  });
  Stream(*bareRemote, kReports, bareSent);
  reader.join();
  std::vector<double> bare;
  for (int i = 0; i < kReports; ++i) bare.push_back(Ms(bareRead[i] - bareSent[i]));

  const double p99 = Percentile(latency, 0.99), bareP99 = Percentile(bare, 0.99);
  std::printf("stream 100 Hz, 10 s: %d of %d reports decoded, lost %s\n", int(seen), kReports,
              driver.IsLost() ? "yes" : "no");
  std::printf("  report to decoded state: p50 %.3f ms, p99 %.3f ms, max %.3f ms (target p99 <= 1 ms)\n",
              Percentile(latency, 0.5), p99, Percentile(latency, 1.0));
  std::printf("  bare link read:          p50 %.3f ms, p99 %.3f ms; ratio of p99 driver / bare %.2f\n",
              Percentile(bare, 0.5), bareP99, bareP99 > 0 ? p99 / bareP99 : 0.0);
}

void PressToFrame(gMilliClock& a_clock, gDebugOutput& a_debug) {
  constexpr int kPresses = 40;
  gHidSimulation hid(a_clock);
  std::shared_ptr<gHidSimRemote> remote = hid.AddRemote();
  inpWiimote wii(hid, a_clock, a_debug);
  wii.connectInStep = true;
  wii.Step(false);
  if (!wii.IsConnected()) {
    std::printf("press: no connection\n");
    return;
  }
  std::atomic<bool> done{false};
  std::vector<Clock::time_point> sent(kPresses);
  std::thread presser([&] {
    for (int i = 0; i < kPresses; ++i) {
      // Presses and releases of A at 70 ms, out of step with the frames.
      std::this_thread::sleep_for(std::chrono::milliseconds(70));
      const std::uint8_t report[3] = {0x30, 0, static_cast<std::uint8_t>(i % 2 == 0 ? 0x08 : 0x00)};
      sent[i] = Clock::now();
      remote->Inject(report, sizeof report);
    }
    done = true;
  });
  const auto frame = std::chrono::microseconds(33333);
  Clock::time_point next = Clock::now();
  std::vector<double> latency;
  std::vector<int> framesLate;
  int press = 0;
  bool down = false;
  std::vector<Clock::time_point> frameTimes;
  while (!done || press < kPresses) {
    next += frame;
    std::this_thread::sleep_until(next);
    frameTimes.push_back(Clock::now());
    wii.Step(false);
    if (wii.buttons[WIIBUT_A].down != down && press < kPresses) {
      down = !down;
      latency.push_back(Ms(frameTimes.back() - sent[press]));
      int frames = 0;
      for (const Clock::time_point& t : frameTimes) frames += t > sent[press];
      framesLate.push_back(frames);
      ++press;
    }
    if (frameTimes.size() > 400) break;
  }
  presser.join();
  std::printf(
      "press to dispatching frame, 30 Hz frames: %zu of %d changes seen; worst %d frame(s), %.1f ms "
      "(target: 1 frame, %.1f ms)\n",
      latency.size(), kPresses, framesLate.empty() ? 0 : *std::max_element(framesLate.begin(), framesLate.end()),
      Percentile(latency, 1.0), Ms(frame));
}

void Connecting(gMilliClock& a_clock, gDebugOutput& a_debug) {
  constexpr int kRounds = 50;
  gHidSimulation hid(a_clock);
  std::shared_ptr<gHidSimRemote> remote = hid.AddRemote();
  std::vector<double> connect;
  {
    inpWiiDriver driver(hid, a_clock, a_debug);
    for (int i = 0; i < kRounds; ++i) {
      const Clock::time_point start = Clock::now();
      const bool ok = driver.Connect();
      connect.push_back(Ms(Clock::now() - start));
      if (!ok) std::printf("  connection %d failed\n", i);
      driver.Disconnect();
    }
  }
  std::vector<double> bare;
  for (int i = 0; i < kRounds; ++i) {
    const Clock::time_point start = Clock::now();
    std::vector<std::string> paths;
    hid.Enumerate(inpWiiDriver::kVendor, inpWiiDriver::kProduct, paths);
    int error = 0;
    std::unique_ptr<gHidDevice> device = hid.Open(paths.at(0), &error);
    const std::uint8_t status[22] = {0x15};
    device->Write(status, sizeof status);
    std::uint8_t answer[22];
    std::size_t length;
    device->Read(answer, sizeof answer, 500, &length);
    bare.push_back(Ms(Clock::now() - start));
  }
  std::printf("connect to an answering remote: median %.3f ms, p90 %.3f ms, max %.3f ms (target <= 10 ms)\n",
              Percentile(connect, 0.5), Percentile(connect, 0.9), Percentile(connect, 1.0));
  std::printf("  open and one status round trip by hand: median %.3f ms; ratio %.1f\n", Percentile(bare, 0.5),
              Percentile(bare, 0.5) > 0 ? Percentile(connect, 0.5) / Percentile(bare, 0.5) : 0.0);

  remote->SwitchOff();
  for (gHid* transport : {static_cast<gHid*>(&hid), &gHid::System()}) {
    inpWiiDriver driver(*transport, a_clock, a_debug);
    std::vector<double> failed;
    for (int i = 0; i < kRounds; ++i) {
      const Clock::time_point start = Clock::now();
      driver.Connect();
      failed.push_back(Ms(Clock::now() - start));
    }
    std::printf("failed attempt, no remote (%s): median %.3f ms, max %.3f ms (target <= 2 ms)\n",
                transport == &hid ? "simulation" : "hidraw", Percentile(failed, 0.5), Percentile(failed, 1.0));
  }
}

}  // namespace

int main() {
  Silent debug;
  gMilliClock& clock = gMilliClock::System();
  Connecting(clock, debug);
  PressToFrame(clock, debug);
  StreamThroughDriver(clock, debug);
  return 0;
}
