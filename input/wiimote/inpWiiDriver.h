#pragma once
// The Wiimote driver: finds and opens the remote through the HID transport, sends it 22-byte
// output reports, and decodes its input reports on a read thread of its own. HID
// set-output-report writes, when the remote needs them, go out from a write thread through a
// bounded queue.
//
// Threads and locks. The owner's thread calls every public operation. The read thread
// decodes into the internal state under the state lock, sends the decoder's follow-up
// requests and the periodic status request, and calls the change callback after releasing
// the lock. Every field the threads share is read and written under the state lock or is
// atomic; the public state belongs to the owner's thread alone and is refreshed from the
// internal one by PublishState. Neither thread ever closes the device or joins anything: a
// thread that meets a dead link marks the remote lost and ends, and the owner's Disconnect
// stops, wakes and joins both threads (never holding the state lock) before the device is
// closed. Lock order: state lock, then queue lock.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "input/wiimote/inpWiiDecoder.h"
#include "input/wiimote/inpWiiRequests.h"
#include "input/wiimote/inpWiiState.h"
#include "platform/gHid.h"

class gDebugOutput;
class gMilliClock;

class inpWiiDriver : private inpWiiRequests {
 public:
  static constexpr std::uint16_t kVendor = 0x057E;
  static constexpr std::uint16_t kProduct = 0x0306;
  // Reports waiting for the write thread; more are refused rather than queued without end.
  static constexpr std::size_t kQueueLimit = 64;
  // A report the stack keeps refusing is dropped after this long.
  static constexpr std::uint32_t kWriteGiveUpMs = 1000;

  // Called on the read thread, without the state lock, with the change flags of a decoded
  // report (or WIICHANGE_LOST) that intersect callbackMask. It may call the operations that
  // send reports; it must not call Connect, Disconnect or PublishState.
  using ChangeCallback = std::function<void(inpWiiDriver&, std::uint32_t)>;

  inpWiiDriver(gHid& a_hid, gMilliClock& a_clock, gDebugOutput& a_debug);
  ~inpWiiDriver() override;
  inpWiiDriver(const inpWiiDriver&) = delete;
  inpWiiDriver& operator=(const inpWiiDriver&) = delete;

  // The owner's copy, refreshed by PublishState. Its stick dead zones are the owner's
  // settings: the decoder applies them from the next PublishState on.
  inpWiiState state;
  // Set while disconnected.
  ChangeCallback callback;
  std::uint32_t callbackMask = 0x7FEFF;
  // How long Connect waits for a remote's first status report, per write method.
  std::uint32_t answerTimeoutMs = 500;

  // Opens the first Wiimote that answers; true when connected. Disconnects first when a
  // link is open.
  bool Connect();
  // Leaves a healthy remote quiet, stops both threads and closes the link.
  void Disconnect();
  // Report mode 0x30, camera off, rumble off, LEDs off, speaker muted.
  void Reset();
  // Copies the internal state to the public one when a report was decoded since the last
  // call; returns the change flags accumulated since then. A report can change the state
  // without a flag (a calibration read), so a return of 0 does not mean nothing was copied.
  std::uint32_t PublishState();

  void AskStatus();
  void SelectReportMode(std::uint8_t a_mode, bool a_continuous);
  void SetRumble(bool a_on);
  void LedsOff();
  void CameraOn(int a_format);
  void CameraOff();
  void ReadMemory(std::uint32_t a_address, std::uint16_t a_length);
  void WriteMemory(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data);
  void MuteSpeaker();
  // Hands a 22-byte report to the transport; false when it cannot be sent (or queued).
  bool SendReport(const std::uint8_t* a_report);

  bool IsOpen() const { return m_device != nullptr; }
  bool IsConnected() const { return m_connected; }
  bool IsLost() const { return m_lost; }
  bool UsesHidWrites() const { return m_useHidWrites; }

  // Input reports decoded since construction.
  std::uint64_t DecodedReports() const { return m_decoded; }
  // Waits until a_count reports have been decoded since construction or the read thread has
  // ended (the link was lost); false when a_timeoutMs passed first. Lets tests and benchmarks wait for the read
  // thread without sleeping.
  bool WaitForReports(std::uint64_t a_count, std::uint32_t a_timeoutMs);
  // Reports waiting for the write thread.
  std::size_t QueuedReports();

  // For recording a session: while set, every input data report (ids 0x30 to 0x3F, at the
  // length it arrived) is kept with the state it went into, and PublishState hands the ones
  // it publishes over to `published`, where the owner takes them. Reports are thus tied to
  // the frame whose state first shows them.
  std::atomic<bool> keepReports{false};
  std::vector<std::vector<std::uint8_t>> published;

 private:
  using Report = std::array<std::uint8_t, inpWiiReportSize>;
  using Lock = std::unique_lock<std::mutex>;

  // inpWiiRequests: the decoder calls these on the read thread with the state lock held.
  void RequestRead(std::uint32_t a_address, std::uint16_t a_length) override;
  void RequestWrite(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data) override;
  void RequestReportMode() override;
  void RequestStatus() override;
  void MarkConnected() override;

  // The operations with the state lock already held.
  Report NewReport(std::uint8_t a_id) const;
  bool SendLocked(const Report& a_report) { return SendReport(a_report.data()); }
  void SelectReportModeLocked(std::uint8_t a_mode, bool a_continuous);
  void CameraOnLocked(int a_format);
  void CameraOffLocked();
  void ReadMemoryLocked(std::uint32_t a_address, std::uint16_t a_length);
  void WriteMemoryLocked(std::uint32_t a_address, std::uint8_t a_length, const std::uint8_t* a_data);
  void StatusRequestLocked();

  bool TryConnect();
  // Where the driver's lines go: the debug output, or the attempt that Connect is making.
  gDebugOutput& Log() { return *m_log.load(); }
  bool WaitForAnswer();
  bool StartReadThread();
  void ReadLoop();
  void WriteLoop();
  void WaitForQueueToEmpty();
  void StopThreads();

  gHid& m_hid;
  gMilliClock& m_clock;
  gDebugOutput& m_debug;
  // What the last connection attempt said, for Connect to tell whether the next one says
  // something new.
  std::string m_lastAttempt;
  bool m_attemptReported = false;
  class AttemptLog;
  std::unique_ptr<AttemptLog> m_attempt;
  std::atomic<gDebugOutput*> m_log{&m_debug};
  std::unique_ptr<gHidDevice> m_device;

  std::mutex m_stateLock;
  // With m_stateLock: connected became true, a report was decoded, or the link was lost.
  std::condition_variable m_progress;
  inpWiiState m_internal;                         // under m_stateLock
  std::vector<std::vector<std::uint8_t>> m_kept;  // under m_stateLock
  inpWiiState m_settings;                         // under m_stateLock: the owner's dead zones
  std::uint32_t m_accumulated = 0;                // under m_stateLock
  bool m_decodedSincePublish = false;             // under m_stateLock
  std::uint8_t m_reportMode = 0x30;               // under m_stateLock
  inpWiiDecoder m_decoder;                        // under m_stateLock

  std::atomic<bool> m_connected{false};
  std::atomic<bool> m_lost{false};
  std::atomic<bool> m_useHidWrites{false};
  std::atomic<std::uint32_t> m_nextStatusTime{0};
  std::atomic<std::uint64_t> m_decoded{0};
  bool m_readEnded = false;  // under m_stateLock
  std::thread m_readThread;

  std::mutex m_queueLock;
  std::condition_variable m_queueSignal;  // with m_queueLock: work, room or stop
  std::deque<Report> m_queue;             // under m_queueLock
  bool m_writeStop = false;               // under m_queueLock
  bool m_writeThreadStarted = false;      // under m_queueLock
  bool m_queueFullReported = false;       // under m_queueLock
  std::thread m_writeThread;
};
