#include "input/wiimote/inpWiiDriver.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/gDebugOutput.h"
#include "platform/gMilliClock.h"
#include "platform/gThreadPriority.h"

namespace {

constexpr std::uint32_t kAccelCalibrationAddress = 0x0016;
constexpr std::uint32_t kStatusPeriodMs = 1000;
// The longest a read waits before the read thread looks at its flags and the status time.
constexpr int kReadWaitMs = 500;
// The write thread's pause before trying a refused report again.
constexpr auto kWriteRetry = std::chrono::milliseconds(1);
// Reset waits at most this long for queued reports to go out before the link closes.
constexpr auto kQueueDrainWait = std::chrono::milliseconds(1000);

std::atomic<int> s_liveDrivers{0};

}  // namespace

// The lines of one connection attempt, held back until it is known whether they say
// anything the previous attempt did not. The driver's threads write to it too while the
// attempt runs, and a thread may still hold it just after: it lives as long as the driver.
class inpWiiDriver::AttemptLog : public gDebugOutput {
 public:
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> lines;
    lines.swap(m_lines);
    return lines;
  }
  void Write(const char* a_text) override {
    std::lock_guard<std::mutex> hold(m_lock);
    m_lines.emplace_back(a_text);
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
};

inpWiiDriver::inpWiiDriver(gHid& a_hid, gMilliClock& a_clock, gDebugOutput& a_debug)
    : m_hid(a_hid), m_clock(a_clock), m_debug(a_debug), m_decoder(*this, a_debug) {
  if (s_liveDrivers++ == 0) {
    m_debug.Write(m_hid.SupportsOutputReports() ? "Wiimote : OS supports HID writes.\n"
                                                : "Wiimote : OS doesn't support HID writes.\n");
  }
}

inpWiiDriver::~inpWiiDriver() {
  Disconnect();
  --s_liveDrivers;
}

// ---- Connection -----------------------------------------------------------------------------

// A game without a remote tries again every second for as long as it runs: the attempt's
// lines are written for the first attempt and then only when the outcome (a remote found
// or lost, another reason for failing) differs from the previous attempt's.
bool inpWiiDriver::Connect() {
  if (!m_attempt) m_attempt = std::make_unique<AttemptLog>();
  m_log = m_attempt.get();
  const bool connected = TryConnect();
  m_log = &m_debug;
  const std::vector<std::string> lines = m_attempt->Take();
  std::string transcript;
  for (const std::string& line : lines) transcript += line;
  if (!m_attemptReported || transcript != m_lastAttempt) {
    for (const std::string& line : lines) m_debug.Write(line.c_str());
  }
  m_attemptReported = true;
  m_lastAttempt = std::move(transcript);
  return connected;
}

bool inpWiiDriver::TryConnect() {
  Log().Write("Wiimote : Connecting first available Wiimote:\n");
  if (m_device) Disconnect();

  std::vector<std::string> paths;
  if (!m_hid.Enumerate(kVendor, kProduct, paths)) {
    Log().Write("Wiimote : * couldn't get device info *\n");
    return false;
  }
  unsigned index = 0;
  for (const std::string& path : paths) {
    Log().Printf("Wiimote : .. opening Wiimote %u:\n", index++);
    int error = 0;
    m_device = m_hid.Open(path, &error);
    if (!m_device) {
      Log().Printf("Wiimote : .... failed with err %x (already connected?)\n", unsigned(error));
      continue;
    }
    {
      Lock hold(m_stateLock);
      m_internal.Clear();
      m_accumulated = 0;
      m_decodedSincePublish = false;
      m_reportMode = 0x30;
      m_decoder.stableSamples = 0;
      m_readEnded = false;
    }
    // Not due before the link has had its second: the first status request is Connect's.
    m_nextStatusTime = m_clock.Milliseconds() + kStatusPeriodMs;
    state.Clear();
    m_lost = false;
    m_connected = false;
    m_useHidWrites = false;

    if (StartReadThread()) {
      // A remote that refuses the write outright cannot answer it: no point waiting.
      bool sent;
      {
        Lock hold(m_stateLock);
        sent = SendLocked(NewReport(0x15));
      }
      bool answered = sent && WaitForAnswer();
      Log().Printf("Wiimote : .. WriteFile() %s.\n", answered ? "succeeded" : "failed");
      if (!answered && m_hid.SupportsOutputReports()) {
        m_useHidWrites = true;
        {
          Lock hold(m_stateLock);
          sent = SendLocked(NewReport(0x15));
        }
        answered = sent && WaitForAnswer();
        Log().Printf("Wiimote : .. HID write %s.\n", answered ? "succeeded" : "failed");
      }
    }

    if (m_connected) {
      Reset();
      ReadMemory(kAccelCalibrationAddress, 7);
      PublishState();
      m_nextStatusTime = m_clock.Milliseconds() + kStatusPeriodMs;
      break;
    }
    Log().Write("Wiimote : * output failed - wiimote is not connected (or confused). *\n");
    Disconnect();
  }

  if (m_connected) {
    Log().Write("Wiimote : .. Connected!\n");
    return true;
  }
  Log().Write("Wiimote : .. connection failed.\n");
  return false;
}

bool inpWiiDriver::WaitForAnswer() {
  Lock hold(m_stateLock);
  return m_progress.wait_for(hold, std::chrono::milliseconds(answerTimeoutMs), [this] { return m_connected.load(); });
}

bool inpWiiDriver::WaitForReports(std::uint64_t a_count, std::uint32_t a_timeoutMs) {
  Lock hold(m_stateLock);
  return m_progress.wait_for(hold, std::chrono::milliseconds(a_timeoutMs),
                             [&] { return m_decoded >= a_count || m_readEnded; });
}

std::size_t inpWiiDriver::QueuedReports() {
  std::lock_guard<std::mutex> hold(m_queueLock);
  return m_queue.size();
}

void inpWiiDriver::Disconnect() {
  if (!m_device) return;
  Log().Write("Wiimote : Disconnect().\n");
  if (m_connected && !m_lost) Reset();
  StopThreads();
  m_device.reset();
  m_connected = false;
  m_useHidWrites = false;
  {
    Lock hold(m_stateLock);
    m_internal.Clear();
    m_accumulated = 0;
    m_decodedSincePublish = false;
  }
  state.Clear();
}

void inpWiiDriver::Reset() {
  Log().Write("Wiimote : Resetting wiimote.\n");
  {
    Lock hold(m_stateLock);
    if (m_connected) {
      m_reportMode = 0x30;
      CameraOffLocked();
      Report mode = NewReport(0x12);
      mode[2] = 0x30;
      SendLocked(mode);
    }
    if (m_connected && m_internal.rumble) {
      m_internal.rumble = false;
      SendLocked(NewReport(0x15));
    }
  }
  LedsOff();
  MuteSpeaker();
  // The remote must have taken all of this before anything else happens to the link.
  WaitForQueueToEmpty();
}

std::uint32_t inpWiiDriver::PublishState() {
  Lock hold(m_stateLock);
  m_settings.nunchukStick.deadZoneX = state.nunchukStick.deadZoneX;
  m_settings.nunchukStick.deadZoneY = state.nunchukStick.deadZoneY;
  m_settings.classicLeftStick.deadZoneX = state.classicLeftStick.deadZoneX;
  m_settings.classicLeftStick.deadZoneY = state.classicLeftStick.deadZoneY;
  m_settings.classicRightStick.deadZoneX = state.classicRightStick.deadZoneX;
  m_settings.classicRightStick.deadZoneY = state.classicRightStick.deadZoneY;
  if (!m_accumulated && !m_decodedSincePublish) return 0;
  for (std::vector<std::uint8_t>& kept : m_kept) published.push_back(std::move(kept));
  m_kept.clear();
  state.CopyFrom(m_internal);
  const std::uint32_t changes = m_accumulated;
  m_accumulated = 0;
  m_decodedSincePublish = false;
  return changes;
}

// ---- Output reports -------------------------------------------------------------------------

inpWiiDriver::Report inpWiiDriver::NewReport(std::uint8_t a_id) const {
  Report r{};
  r[0] = a_id;
  r[1] = m_internal.rumble ? 0x01 : 0x00;
  return r;
}

void inpWiiDriver::AskStatus() {
  Lock hold(m_stateLock);
  StatusRequestLocked();
}

void inpWiiDriver::StatusRequestLocked() {
  if (m_device) SendLocked(NewReport(0x15));
}

void inpWiiDriver::SelectReportMode(std::uint8_t a_mode, bool a_continuous) {
  Lock hold(m_stateLock);
  SelectReportModeLocked(a_mode, a_continuous);
}

void inpWiiDriver::SelectReportModeLocked(std::uint8_t a_mode, bool a_continuous) {
  if (!m_connected) return;
  m_reportMode = a_mode;
  if (a_mode == 0x33)
    CameraOnLocked(WIIIR_EXTENDED);
  else if (a_mode == 0x37)
    CameraOnLocked(WIIIR_BASIC);
  else
    CameraOffLocked();
  Report r = NewReport(0x12);
  if (a_continuous) r[1] |= 0x04;
  r[2] = a_mode;
  SendLocked(r);
}

void inpWiiDriver::SetRumble(bool a_on) {
  Lock hold(m_stateLock);
  if (!m_connected || m_internal.rumble == a_on) return;
  m_internal.rumble = a_on;
  SendLocked(NewReport(0x15));
}

void inpWiiDriver::LedsOff() {
  Lock hold(m_stateLock);
  if (!m_connected) return;
  SendLocked(NewReport(0x11));
  m_internal.leds = 0;
}

void inpWiiDriver::CameraOn(int a_format) {
  Lock hold(m_stateLock);
  CameraOnLocked(a_format);
}

void inpWiiDriver::CameraOnLocked(int a_format) {
  m_internal.irMode = a_format;
  Report r = NewReport(0x13);
  r[1] |= 0x04;
  SendLocked(r);
  r[0] = 0x1A;
  SendLocked(r);
  const std::uint8_t enable = 0x08;
  WriteMemoryLocked(0x04B00030, 1, &enable);
  const std::uint8_t sensitivity[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0x00, 0xC0};
  WriteMemoryLocked(0x04B00000, 9, sensitivity);
  const std::uint8_t sensitivity2[2] = {0x40, 0x00};
  WriteMemoryLocked(0x04B0001A, 2, sensitivity2);
  const std::uint8_t format = static_cast<std::uint8_t>(a_format);
  WriteMemoryLocked(0x04B00033, 1, &format);
}

void inpWiiDriver::CameraOff() {
  Lock hold(m_stateLock);
  CameraOffLocked();
}

void inpWiiDriver::CameraOffLocked() {
  m_internal.irMode = WIIIR_OFF;
  Report r = NewReport(0x13);
  SendLocked(r);
  r[0] = 0x1A;
  SendLocked(r);
}

void inpWiiDriver::ReadMemory(std::uint32_t a_address, std::uint16_t a_length) {
  Lock hold(m_stateLock);
  ReadMemoryLocked(a_address, a_length);
}

void inpWiiDriver::ReadMemoryLocked(std::uint32_t a_address, std::uint16_t a_length) {
  Report r = NewReport(0x17);
  r[1] |= static_cast<std::uint8_t>(a_address >> 24);
  r[2] = static_cast<std::uint8_t>(a_address >> 16);
  r[3] = static_cast<std::uint8_t>(a_address >> 8);
  r[4] = static_cast<std::uint8_t>(a_address);
  r[5] = static_cast<std::uint8_t>(a_length >> 8);
  r[6] = static_cast<std::uint8_t>(a_length);
  SendLocked(r);
}

void inpWiiDriver::WriteMemory(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data) {
  Lock hold(m_stateLock);
  WriteMemoryLocked(a_address, a_length, a_data);
}

// One report carries at most 16 bytes; a longer or empty write is not sent at all rather
// than cut short.
void inpWiiDriver::WriteMemoryLocked(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data) {
  if (a_length < 1 || a_length > 16 || !a_data) return;
  Report r = NewReport(0x16);
  r[1] |= static_cast<std::uint8_t>(a_address >> 24);
  r[2] = static_cast<std::uint8_t>(a_address >> 16);
  r[3] = static_cast<std::uint8_t>(a_address >> 8);
  r[4] = static_cast<std::uint8_t>(a_address);
  r[5] = a_length;
  std::memcpy(r.data() + 6, a_data, a_length);
  SendLocked(r);
}

void inpWiiDriver::MuteSpeaker() {
  Lock hold(m_stateLock);
  if (!m_connected || m_internal.speakerMuted) return;
  Log().Write("Wiimote : muting speaker.\n");
  Report r = NewReport(0x19);
  r[1] |= 0x04;
  if (SendLocked(r)) m_internal.speakerMuted = true;
}

bool inpWiiDriver::SendReport(const std::uint8_t* a_report) {
  gHidDevice* device = m_device.get();
  if (!device || !a_report) return false;
  if (!m_useHidWrites) {
    if (device->Write(a_report, inpWiiReportSize) == HID_OK) return true;
    if (m_connected) m_lost = true;
    return false;
  }

  std::lock_guard<std::mutex> hold(m_queueLock);
  if (m_writeStop) return false;
  if (!m_writeThreadStarted) {
    try {
      m_writeThread = std::thread(&inpWiiDriver::WriteLoop, this);
    } catch (const std::system_error&) {
      Log().Write("Wiimote : * couldn't create HID write thread! *\n");
      return false;
    }
    m_writeThreadStarted = true;
  }
  if (m_queue.size() >= kQueueLimit) {
    if (!m_queueFullReported) Log().Write("Wiimote : * HID write queue full, report dropped *\n");
    m_queueFullReported = true;
    return false;
  }
  Report copy;
  std::memcpy(copy.data(), a_report, copy.size());
  m_queue.push_back(copy);
  m_queueSignal.notify_all();
  return true;
}

// ---- Decoder requests (read thread, state lock held) ----------------------------------------

void inpWiiDriver::RequestRead(std::uint32_t a_address, std::uint16_t a_length) {
  ReadMemoryLocked(a_address, a_length);
}

void inpWiiDriver::RequestWrite(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data) {
  WriteMemoryLocked(a_address, a_length, a_data);
}

void inpWiiDriver::RequestReportMode() { SelectReportModeLocked(m_reportMode, false); }

void inpWiiDriver::RequestStatus() { StatusRequestLocked(); }

void inpWiiDriver::MarkConnected() {
  m_connected = true;
  m_progress.notify_all();
}

// ---- Threads --------------------------------------------------------------------------------

bool inpWiiDriver::StartReadThread() {
  try {
    m_readThread = std::thread(&inpWiiDriver::ReadLoop, this);
  } catch (const std::system_error&) {
    Log().Write("Wiimote : * couldn't create read thread! *\n");
    return false;
  }
  return true;
}

void inpWiiDriver::ReadLoop() {
  gThreadPriority::RaiseCurrentThread();
  std::uint8_t report[inpWiiReportSize];
  bool lostLink = false;
  for (;;) {
    if (m_lost) {
      lostLink = true;
      break;
    }
    int timeout = kReadWaitMs;
    if (m_connected) {
      const std::uint32_t now = m_clock.Milliseconds();
      const std::int32_t untilStatus = static_cast<std::int32_t>(m_nextStatusTime - now);
      if (untilStatus <= 0) {
        AskStatus();
        m_nextStatusTime = now + kStatusPeriodMs;
      } else if (untilStatus < timeout) {
        timeout = untilStatus;
      }
    }
    std::size_t length = 0;
    const gHidResult result = m_device->Read(report, sizeof report, timeout, &length);
    if (result == HID_WOKEN) break;
    if (result == HID_TIMEOUT) continue;
    if (result != HID_OK) {
      m_lost = true;
      lostLink = true;
      break;
    }
    // Reports arrive at their own length; the decoder reads all 22 bytes of every one.
    if (length < sizeof report) std::memset(report + length, 0, sizeof report - length);
    std::uint32_t flags;
    {
      Lock hold(m_stateLock);
      flags = m_decoder.Decode(report, m_internal, m_settings);
      if (keepReports && report[0] >= 0x30 && report[0] <= 0x3F) m_kept.emplace_back(report, report + length);
      m_accumulated |= flags;
      m_decodedSincePublish = true;
      ++m_decoded;
    }
    m_progress.notify_all();
    if (callback && (flags & callbackMask)) callback(*this, flags);
  }

  if (lostLink) {
    Log().Write("Wiimote : read thread: connection to wiimote was lost\n");
    {
      Lock hold(m_stateLock);
      m_accumulated |= WIICHANGE_LOST;
    }
    if (callback && (callbackMask & WIICHANGE_LOST)) callback(*this, WIICHANGE_LOST);
  }
  Log().Write("Wiimote : (ending read thread)\n");
  {
    Lock hold(m_stateLock);
    m_readEnded = true;
  }
  m_progress.notify_all();
}

void inpWiiDriver::WriteLoop() {
  gThreadPriority::RaiseCurrentThread();
  Log().Write("Wiimote : (starting HID write thread)\n");
  Lock hold(m_queueLock);
  bool failing = false;
  std::uint32_t failingSince = 0;
  while (!m_writeStop) {
    if (m_queue.empty()) {
      m_queueSignal.wait(hold);
      continue;
    }
    // Only this thread removes reports, so the front stays the same while unlocked.
    const Report report = m_queue.front();
    hold.unlock();
    const gHidResult result = m_device->SetOutputReport(report.data(), report.size());
    const std::uint32_t now = m_clock.Milliseconds();
    hold.lock();

    bool done = false;
    switch (result) {
      case HID_OK:
        done = true;
        break;
      case HID_UNSUPPORTED:
        Log().Write("Wiimote : * BT Stack doesn't suport HID writes! *\n");  // "suport": sic
        done = true;
        break;
      default:
        if (result == HID_FAILED && m_connected) m_lost = true;
        if (!failing) {
          failing = true;
          failingSince = now;
        } else if (now - failingSince >= kWriteGiveUpMs) {
          Log().Write("Wiimote : * HID write refused for a second, report dropped *\n");
          done = true;
        }
        break;
    }
    if (done) {
      m_queue.pop_front();
      failing = false;
      m_queueFullReported = false;
      m_queueSignal.notify_all();
    } else {
      m_queueSignal.wait_for(hold, kWriteRetry, [this] { return m_writeStop; });
    }
  }
  hold.unlock();
  Log().Write("Wiimote : ending HID write thread\n");
}

void inpWiiDriver::WaitForQueueToEmpty() {
  Lock hold(m_queueLock);
  if (!m_writeThreadStarted) return;
  m_queueSignal.wait_for(hold, kQueueDrainWait, [this] { return m_queue.empty() || m_writeStop; });
}

// Never called with the state lock held: the read thread may be waiting for it.
void inpWiiDriver::StopThreads() {
  if (m_readThread.joinable()) {
    m_device->Wake();
    m_readThread.join();
  }
  {
    std::lock_guard<std::mutex> hold(m_queueLock);
    m_writeStop = true;
  }
  m_queueSignal.notify_all();
  if (m_writeThread.joinable()) m_writeThread.join();
  std::lock_guard<std::mutex> hold(m_queueLock);
  m_queue.clear();
  m_writeStop = false;
  m_writeThreadStarted = false;
  m_queueFullReported = false;
}
