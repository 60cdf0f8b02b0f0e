#pragma once
// The script's Wiimote (script type _Wiimote, reached with Input.Wiimote()). It owns the
// driver, keeps trying to connect while no remote is connected (at most once a second),
// picks the report mode and camera format by whether an extension is plugged in, and turns
// the published state into script callbacks once per frame: press / hold / release for the
// buttons (keyboard-style records), and the camera position, nunchuk stick and nunchuk
// acceleration as Vector3 values.
//
// An attempt to connect waits on the device (up to a second for a remote that is present
// but silent), so it runs on a finder thread of its own: the step hands the driver over,
// and takes it back, with the connection's outcome, at the first step after the attempt
// ended. While the finder holds it the owner's thread touches nothing of the driver's, and
// the remote reads as not connected.
//
// While the developer menu is open every one of its callbacks waits: the button edges are
// dropped as for keys, and a connection made meanwhile is announced when the menu closes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "binding/gmWrappable.h"
#include "input/inpButtonState.h"
#include "input/wiimote/inpWiiDriver.h"

class gDebugOutput;
class gHid;
class gMilliClock;
class gmMachineEx;

enum {
  WIIBUT_LEFT = 0,
  WIIBUT_RIGHT = 1,
  WIIBUT_DOWN = 2,
  WIIBUT_UP = 3,
  WIIBUT_PLUS = 4,
  WIIBUT_CAM = 5,  // down while the camera sees IR dots 0 and 1
  WIIBUT_Z = 6,
  WIIBUT_C = 7,
  WIIBUT_2 = 8,
  WIIBUT_1 = 9,
  WIIBUT_B = 10,
  WIIBUT_A = 11,
  WIIBUT_MINUS = 12,
  WIIBUT_HOME = 15,
  WIIBUT_COUNT = 16,  // 13 and 14 exist and are never pressed
};

class inpWiimote : public gmWrappable {
 public:
  // Core button bits that have a record of the same number.
  static constexpr std::uint16_t kCoreButtons = 0x9F1F;
  static constexpr std::uint32_t kAttemptPeriodMs = 1000;

  inpWiimote(gHid& a_hid, gMilliClock& a_clock, gDebugOutput& a_debug);
  // Leaves a connected remote dark and still, then closes it.
  ~inpWiimote();
  inpWiimote(const inpWiimote&) = delete;
  inpWiimote& operator=(const inpWiimote&) = delete;

  // The transport the driver will use (the simulated remote); only before the first step.
  void UseTransport(gHid& a_hid);

  // The end of a game: no callback is named any more and none can run.
  void ForgetCallbacks();

  // Once per frame, at the end of the input step; a_menuOpen holds every callback back.
  void Step(bool a_menuOpen);

  // The next step tries to connect, however recently the last attempt was: a replay's remote
  // comes in the frame it came in the recording.
  void AttemptNow() { m_attempted = false; }

  // Until no attempt is running on the finder thread; false when a_timeoutMs passed
  // first. Lets tests wait for the finder without sleeping.
  bool WaitForAttempt(std::uint32_t a_timeoutMs);

  // Script methods.
  bool IsConnected() const;
  void ScriptConnect(const char* a_function);
  void ScriptCamera(const char* a_function);
  void ScriptStick(const char* a_function);
  void ScriptNunchuckAcceleration(const char* a_function);
  // a_button 0 to 15 (WIIBUT_), a_state BUT_DOWN, BUT_ON or BUT_UP; anything else is a
  // script error that changes nothing, as for Input.ScriptButton.
  void ScriptButton(int a_button, int a_state, const char* a_function);
  void Rumble(int a_on);

  static int RegisterScriptType(gmMachineEx* a_machine);

  float camera[3] = {0, 0, 0};
  float stick[3] = {0, 0, 0};
  float nunchukAcceleration[3] = {0, 0, 0};
  inpButtonState buttons[WIIBUT_COUNT];
  std::string connectCallback, cameraCallback, stickCallback, accelerationCallback;
  // Made by the first step: until the game runs frames nothing is opened or logged.
  std::unique_ptr<inpWiiDriver> driver;
  // The driver keeps its data reports for a recording (inpWiiDriver::keepReports).
  bool keepReports = false;
  // Callbacks run in this machine (null: none run).
  gmMachineEx* machine = nullptr;
  // Attempts run inside the step instead of on the finder thread, so that a test sees the
  // connection in the very frame that tried (the simulated remote answers at once).
  bool connectInStep = false;

 private:
  void StepConnected(bool a_menuOpen);
  void TryToConnect(bool a_menuOpen);
  // One attempt on whichever thread holds the driver; true when connected.
  bool Attempt();
  void Announce(bool a_menuOpen);
  void FinderLoop();
  void StopFinder();
  void MakeDriver();
  void CallWithVector(const std::string& a_function, const float a_v[3]);

  gHid* m_hid;
  gMilliClock& m_clock;
  gDebugOutput& m_debug;
  bool m_attempted = false;
  std::uint32_t m_lastAttempt = 0;
  bool m_connectPending = false;

  std::thread m_finder;
  std::mutex m_findLock;
  std::condition_variable m_findSignal;  // with m_findLock: an attempt asked for, or stop
  std::condition_variable m_findEnded;   // with m_findLock: an attempt ended
  bool m_attemptAsked = false;           // under m_findLock: the finder holds the driver
  bool m_attemptEnded = false;           // under m_findLock: handed back, outcome in m_found
  bool m_found = false;                  // under m_findLock
  bool m_finderStop = false;             // under m_findLock
  // Set by the owner when it hands the driver over, cleared when it takes it back; read by
  // IsConnected, which scripts may call at any time.
  std::atomic<bool> m_finding{false};
};
