#include "platform/gHidSim.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "platform/gHidFdDevice.h"
#include "platform/gMilliClock.h"

namespace {

constexpr std::uint32_t kAccelCalibrationAddress = 0x0016;
constexpr std::uint32_t kExtensionCalibrationAddress = 0x04A40020;
constexpr std::uint32_t kExtensionTypeAddress = 0x04A400FE;
constexpr std::uint8_t kBattery = 0xC0;

// The extension sends its memory masked; the driver undoes (b ^ 0x17) + 0x17.
std::uint8_t Mask(std::uint8_t a_plain) { return static_cast<std::uint8_t>((a_plain - 0x17) ^ 0x17); }

// Zero at 0x80, 1 g at 0xB3 on every axis; the stick centred at 0x80 with 0x20 to 0xE0.
constexpr std::uint8_t kNunchukCalibration[16] = {0x80, 0x80, 0x80, 0x00, 0xB3, 0xB3, 0xB3, 0x00,
                                                  0xE0, 0x20, 0x80, 0xE0, 0x20, 0x80, 0x00, 0x00};

// The memory address an output report names: its top byte rides in byte 1 beside rumble.
std::uint32_t Address(const gHidReport& a_r) {
  return std::uint32_t(a_r[1] & 0xFE) << 24 | std::uint32_t(a_r[2]) << 16 | std::uint32_t(a_r[3]) << 8 | a_r[4];
}

gHidReport Padded(const std::uint8_t* a_report, std::size_t a_length) {
  gHidReport r{};
  std::memcpy(r.data(), a_report, std::min(a_length, r.size()));
  return r;
}

// The simulated device: descriptor code unchanged for reads and plain writes; the remote
// stands in for the set-output-report ioctl, which a socket does not have.
class gHidSimDevice : public gHidFdDevice {
 public:
  gHidSimDevice(std::shared_ptr<gHidSimRemote> a_remote, int a_fd)
      : gHidFdDevice(a_fd), m_remote(std::move(a_remote)) {}
  ~gHidSimDevice() override { m_remote->Detach(); }

  gHidResult Read(std::uint8_t* a_buffer, std::size_t a_size, int a_timeoutMs, std::size_t* a_length) override {
    const int untilNext = m_remote->Pump();
    if (untilNext >= 0 && untilNext < a_timeoutMs) a_timeoutMs = untilNext;
    return gHidFdDevice::Read(a_buffer, a_size, a_timeoutMs, a_length);
  }

  gHidResult Write(const std::uint8_t* a_report, std::size_t a_size) override {
    if (m_remote->refuseWrites || !m_remote->IsOn()) return HID_FAILED;
    const gHidResult result = gHidFdDevice::Write(a_report, a_size);
    m_remote->DrainLink();
    return result;
  }

  gHidResult SetOutputReport(const std::uint8_t* a_report, std::size_t a_size) override {
    if (!m_remote->IsOn()) return HID_FAILED;
    if (m_remote->noOutputReports) return HID_UNSUPPORTED;
    int busy = m_remote->busyAnswers.load();
    while (busy > 0 && !m_remote->busyAnswers.compare_exchange_weak(busy, busy - 1)) {}
    if (busy > 0) return HID_BUSY;
    m_remote->Receive(a_report, a_size);
    return HID_OK;
  }

 private:
  std::shared_ptr<gHidSimRemote> m_remote;
};

}  // namespace

// ---- Remote ---------------------------------------------------------------------------------

gHidSimRemote::gHidSimRemote(gMilliClock& a_clock) : m_clock(a_clock) {
  const std::uint8_t calibration[7] = {0x80, 0x80, 0x80, 0x00, 0x9A, 0x9A, 0x9A};
  for (std::uint32_t i = 0; i < 7; ++i) m_memory[kAccelCalibrationAddress + i] = calibration[i];
}

gHidSimRemote::~gHidSimRemote() {
  if (m_fd >= 0) close(m_fd);
}

bool gHidSimRemote::Attach(int a_fd) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_fd >= 0 || !m_on) return false;
  m_fd = a_fd;
  if (m_openings++ == 0) m_firstOpened = m_clock.Milliseconds();
  m_backlog.clear();
  return true;
}

void gHidSimRemote::Detach() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_backlog.clear();
}

bool gHidSimRemote::IsOn() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_on;
}

bool gHidSimRemote::IsOpen() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_fd >= 0;
}

int gHidSimRemote::Openings() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_openings;
}

void gHidSimRemote::SwitchOff() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_on = false;
  // Only the remote's sending side closes: the driver's reads end, while its writes (which
  // the device refuses from now on) never meet a closed peer, which would raise SIGPIPE.
  if (m_fd >= 0) shutdown(m_fd, SHUT_WR);
  m_backlog.clear();
}

void gHidSimRemote::SwitchOn() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_on = true;
}

void gHidSimRemote::Inject(const std::uint8_t* a_report, std::size_t a_length) {
  std::lock_guard<std::mutex> hold(m_lock);
  // Every input report carries the buttons; the remote's own answers go on showing them.
  if (a_length >= 3) m_buttons = static_cast<std::uint16_t>(a_report[1] | a_report[2] << 8);
  EmitLocked(Padded(a_report, a_length), std::min(a_length, gHidReport().size()));
}

void gHidSimRemote::Schedule(std::uint32_t a_ms, const std::uint8_t* a_report, std::size_t a_length) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto at = std::upper_bound(m_schedule.begin() + static_cast<std::ptrdiff_t>(m_nextScheduled), m_schedule.end(),
                                   a_ms, [](std::uint32_t t, const auto& e) { return t < e.first; });
  m_schedule.insert(at, {a_ms, Padded(a_report, a_length)});
}

bool gHidSimRemote::LoadScript(std::istream& a_in, std::string* a_problems) {
  bool clean = true;
  std::string line;
  for (int number = 1; std::getline(a_in, line); ++number) {
    const std::size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    const char* problem = nullptr;
    std::uint32_t ms = 0;
    std::vector<std::uint8_t> bytes;
    if (word.size() > 9 || !std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); })) {
      problem = "the time must be a number of milliseconds";
    } else {
      ms = static_cast<std::uint32_t>(std::stoul(word));
      while (!problem && words >> word) {
        if (word.size() % 2 != 0 ||
            !std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isxdigit(c); })) {
          problem = "bytes are pairs of hexadecimal digits";
          break;
        }
        for (std::size_t i = 0; i < word.size(); i += 2)
          bytes.push_back(static_cast<std::uint8_t>(std::stoul(word.substr(i, 2), nullptr, 16)));
      }
      if (!problem && bytes.empty()) problem = "no report bytes";
      if (!problem && bytes.size() > gHidReport().size()) problem = "a report has at most 22 bytes";
    }
    if (problem) {
      clean = false;
      if (a_problems) *a_problems += "line " + std::to_string(number) + ": " + problem + "\n";
      continue;
    }
    Schedule(ms, bytes.data(), bytes.size());
  }
  return clean;
}

void gHidSimRemote::PlugNunchuk() {
  std::lock_guard<std::mutex> hold(m_lock);
  SetExtensionLocked(true);
  StatusLocked();
}

void gHidSimRemote::Unplug() {
  std::lock_guard<std::mutex> hold(m_lock);
  SetExtensionLocked(false);
  StatusLocked();
}

void gHidSimRemote::SetExtensionLocked(bool a_present) {
  m_extension = a_present;
  for (std::uint32_t i = 0; i < 16; ++i) {
    if (a_present)
      m_memory[kExtensionCalibrationAddress + i] = Mask(kNunchukCalibration[i]);
    else
      m_memory.erase(kExtensionCalibrationAddress + i);
  }
  for (std::uint32_t i = 0; i < 2; ++i) {
    if (a_present)
      m_memory[kExtensionTypeAddress + i] = 0xFE;
    else
      m_memory.erase(kExtensionTypeAddress + i);
  }
}

std::vector<gHidReport> gHidSimRemote::Sent() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_sent;
}

std::vector<gHidReport> gHidSimRemote::SentWithId(std::uint8_t a_id) const {
  std::lock_guard<std::mutex> hold(m_lock);
  std::vector<gHidReport> found;
  for (const gHidReport& r : m_sent)
    if (r[0] == a_id) found.push_back(r);
  return found;
}

void gHidSimRemote::ClearSent() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_sent.clear();
}

void gHidSimRemote::OnOutput(std::function<void(const gHidReport&)> a_listener) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_listener = std::move(a_listener);
}

int gHidSimRemote::Pump() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_fd < 0 || !m_on) return -1;
  const std::uint32_t elapsed = m_clock.Milliseconds() - m_firstOpened;
  while (m_nextScheduled < m_schedule.size() && m_schedule[m_nextScheduled].first <= elapsed) {
    const gHidReport& r = m_schedule[m_nextScheduled++].second;
    // Scripted status reports say whether an extension is in; the memory map follows, so
    // that the driver's questions about it are answered.
    if (r[0] == 0x20) SetExtensionLocked((r[3] & 0x02) != 0);
    m_buttons = static_cast<std::uint16_t>(r[1] | r[2] << 8);
    m_backlog.emplace_back(r, r.size());
  }
  FlushLocked();
  if (m_nextScheduled >= m_schedule.size()) return -1;
  return static_cast<int>(m_schedule[m_nextScheduled].first - elapsed);
}

void gHidSimRemote::DrainLink() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_fd < 0) return;
  gHidReport r;
  for (;;) {
    r.fill(0);
    const ssize_t got = recv(m_fd, r.data(), r.size(), MSG_DONTWAIT);
    if (got <= 0) break;
    ReceiveLocked(r);
  }
}

void gHidSimRemote::Receive(const std::uint8_t* a_report, std::size_t a_length) {
  std::lock_guard<std::mutex> hold(m_lock);
  ReceiveLocked(Padded(a_report, a_length));
}

gHidReport gHidSimRemote::Blank(std::uint8_t a_id) const {
  gHidReport r{};
  r[0] = a_id;
  r[1] = static_cast<std::uint8_t>(m_buttons & 0xFF);
  r[2] = static_cast<std::uint8_t>(m_buttons >> 8);
  return r;
}

void gHidSimRemote::StatusLocked() {
  gHidReport r = Blank(0x20);
  r[3] = static_cast<std::uint8_t>(m_leds << 4 | (m_extension ? 0x02 : 0x00));
  r[6] = kBattery;
  EmitLocked(r);
}

void gHidSimRemote::ReceiveLocked(const gHidReport& a_r) {
  m_sent.push_back(a_r);
  if (m_listener) m_listener(a_r);
  if (!m_on || silent) return;
  switch (a_r[0]) {
    case 0x11:
      m_leds = a_r[1] >> 4;
      break;
    case 0x15:
      StatusLocked();
      break;
    case 0x16: {
      const std::uint32_t address = Address(a_r);
      const std::size_t length = std::min<std::size_t>(a_r[5], 16);
      for (std::size_t i = 0; i < length; ++i) m_memory[address + static_cast<std::uint32_t>(i)] = a_r[6 + i];
      gHidReport ack = Blank(0x22);
      ack[3] = 0x16;
      EmitLocked(ack);
      break;
    }
    case 0x17: {
      const std::uint32_t address = Address(a_r);
      const std::size_t length = std::size_t(a_r[5]) << 8 | a_r[6];
      for (std::size_t offset = 0; offset < length; offset += 16) {
        const std::size_t chunk = std::min<std::size_t>(16, length - offset);
        const std::uint32_t at = address + static_cast<std::uint32_t>(offset);
        gHidReport r = Blank(0x21);
        bool valid = true;
        for (std::size_t i = 0; i < chunk; ++i) {
          const auto byte = m_memory.find(at + static_cast<std::uint32_t>(i));
          if (byte == m_memory.end()) {
            valid = false;
            break;
          }
          r[6 + i] = byte->second;
        }
        r[3] = static_cast<std::uint8_t>((chunk - 1) << 4 | (valid ? 0x00 : 0x08));
        r[4] = static_cast<std::uint8_t>(at >> 8);
        r[5] = static_cast<std::uint8_t>(at);
        if (!valid) std::memset(r.data() + 6, 0, 16);
        EmitLocked(r);
        if (!valid) break;  // the device stops a read at its first bad address
      }
      break;
    }
    default:
      break;
  }
}

void gHidSimRemote::EmitLocked(const gHidReport& a_report, std::size_t a_length) {
  if (m_fd < 0 || !m_on || a_length == 0) return;
  m_backlog.emplace_back(a_report, a_length);
  FlushLocked();
}

void gHidSimRemote::FlushLocked() {
  while (m_fd >= 0 && !m_backlog.empty()) {
    const auto& [report, length] = m_backlog.front();
    const ssize_t put = send(m_fd, report.data(), length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (put < 0) return;  // full (or closed): the next pump tries again
    m_backlog.pop_front();
  }
}

// ---- Transport ------------------------------------------------------------------------------

gHidSimulation::gHidSimulation(gMilliClock& a_clock) : m_clock(a_clock) {}

std::shared_ptr<gHidSimRemote> gHidSimulation::AddRemote() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_remotes.push_back(std::make_shared<gHidSimRemote>(m_clock));
  return m_remotes.back();
}

bool gHidSimulation::Enumerate(std::uint16_t a_vendor, std::uint16_t a_product, std::vector<std::string>& a_paths) {
  a_paths.clear();
  if (noDeviceList) return false;
  if (a_vendor != 0x057E || a_product != 0x0306) return true;
  std::lock_guard<std::mutex> hold(m_lock);
  for (std::size_t i = 0; i < m_remotes.size(); ++i)
    if (m_remotes[i]->IsOn()) a_paths.push_back("sim:" + std::to_string(i));
  return true;
}

std::unique_ptr<gHidDevice> gHidSimulation::Open(const std::string& a_path, int* a_error) {
  std::shared_ptr<gHidSimRemote> remote;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    for (std::size_t i = 0; i < m_remotes.size(); ++i)
      if (a_path == "sim:" + std::to_string(i)) remote = m_remotes[i];
  }
  if (!remote || !remote->IsOn()) {
    *a_error = ENOENT;
    return nullptr;
  }
  if (remote->held || remote->IsOpen()) {
    *a_error = EWOULDBLOCK;
    return nullptr;
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
    *a_error = errno;
    return nullptr;
  }
  // Room for a few seconds of reports at 100 Hz even when the reader falls behind.
  const int room = 1 << 20;
  setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  if (!remote->Attach(ends[1])) {
    close(ends[0]);
    close(ends[1]);
    *a_error = EWOULDBLOCK;
    return nullptr;
  }
  auto device = std::make_unique<gHidSimDevice>(remote, ends[0]);
  if (!device->IsUsable()) {
    *a_error = errno;
    return nullptr;
  }
  return device;
}
