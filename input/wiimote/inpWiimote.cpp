#include "input/wiimote/inpWiimote.h"

#include "binding/gVector3.h"
#include "binding/gmNativeType.h"
#include "platform/gDebugOutput.h"
#include "platform/gMilliClock.h"
#include "scene/gScriptCall.h"

#include <chrono>
#include <system_error>

namespace {

// The extension events that call for another report mode: extensions send their data in
// 0x37, whose camera format is the basic one; without one, 0x33 carries the extended
// camera format with dot sizes.
void OnDriverChange(inpWiiDriver& a_driver, std::uint32_t a_flags) {
  if (!a_driver.IsConnected()) return;
  if (a_flags & (WIICHANGE_NUNCHUK_CONNECTED | WIICHANGE_CLASSIC_CONNECTED))
    a_driver.SelectReportMode(0x37, true);
  else if (a_flags & WIICHANGE_EXTENSION_DISCONNECTED)
    a_driver.SelectReportMode(0x33, true);
}

void Track(inpButtonState& a_button, bool a_down) {
  if (a_down && !a_button.down)
    a_button.Press();
  else if (!a_down && a_button.down)
    a_button.Release();
}

}  // namespace

inpWiimote::inpWiimote(gHid& a_hid, gMilliClock& a_clock, gDebugOutput& a_debug)
    : m_hid(&a_hid), m_clock(a_clock), m_debug(a_debug) {}

inpWiimote::~inpWiimote() {
  CutWrappers();
  StopFinder();
  if (driver && driver->IsConnected() && !driver->IsLost()) {
    driver->LedsOff();
    driver->SetRumble(false);
  }
  driver.reset();
}

void inpWiimote::MakeDriver() {
  driver.reset();
  driver = std::make_unique<inpWiiDriver>(*m_hid, m_clock, m_debug);
  driver->callback = OnDriverChange;
  driver->callbackMask = 0x7FE80;
  driver->keepReports = keepReports;
}

void inpWiimote::UseTransport(gHid& a_hid) {
  m_hid = &a_hid;
  if (driver) MakeDriver();
}

bool inpWiimote::IsConnected() const { return !m_finding && driver && driver->IsConnected() && !driver->IsLost(); }

void inpWiimote::Step(bool a_menuOpen) {
  if (!driver) MakeDriver();
  if (m_finding) {
    bool found;
    {
      std::lock_guard<std::mutex> hold(m_findLock);
      if (!m_attemptEnded) return;
      m_attemptEnded = false;
      found = m_found;
    }
    m_finding = false;
    if (found) Announce(a_menuOpen);
    return;
  }
  if (IsConnected())
    StepConnected(a_menuOpen);
  else
    TryToConnect(a_menuOpen);
}

void inpWiimote::TryToConnect(bool a_menuOpen) {
  // A lost link: its read thread has ended by itself; closing it is the owner's part.
  if (driver->IsOpen()) driver->Disconnect();
  const std::uint32_t now = m_clock.Milliseconds();
  if (m_attempted && now - m_lastAttempt < kAttemptPeriodMs) return;
  m_attempted = true;
  m_lastAttempt = now;
  if (connectInStep) {
    if (Attempt()) Announce(a_menuOpen);
    return;
  }
  if (!m_finder.joinable()) {
    try {
      m_finder = std::thread(&inpWiimote::FinderLoop, this);
    } catch (const std::system_error&) {
      m_debug.Write("Wiimote : * couldn't create the thread that looks for a remote *\n");
      return;
    }
  }
  m_finding = true;
  {
    std::lock_guard<std::mutex> hold(m_findLock);
    m_attemptAsked = true;
  }
  m_findSignal.notify_one();
}

bool inpWiimote::Attempt() {
  if (!driver->Connect() || driver->IsLost()) return false;
  driver->SelectReportMode(driver->state.extensionConnected ? 0x37 : 0x33, true);
  return true;
}

void inpWiimote::Announce(bool a_menuOpen) {
  m_connectPending = true;
  if (!a_menuOpen) {
    m_connectPending = false;
    gScriptCall::Global(machine, connectCallback.c_str());
  }
}

void inpWiimote::FinderLoop() {
  std::unique_lock<std::mutex> hold(m_findLock);
  for (;;) {
    m_findSignal.wait(hold, [this] { return m_attemptAsked || m_finderStop; });
    if (m_finderStop) return;
    hold.unlock();
    const bool found = Attempt();
    hold.lock();
    m_attemptAsked = false;
    m_attemptEnded = true;
    m_found = found;
    m_findEnded.notify_all();
  }
}

bool inpWiimote::WaitForAttempt(std::uint32_t a_timeoutMs) {
  std::unique_lock<std::mutex> hold(m_findLock);
  return m_findEnded.wait_for(hold, std::chrono::milliseconds(a_timeoutMs), [this] { return !m_attemptAsked; });
}

// Waits for an attempt in progress to end: at most the driver's answer timeouts.
void inpWiimote::StopFinder() {
  if (!m_finder.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(m_findLock);
    m_finderStop = true;
  }
  m_findSignal.notify_one();
  m_finder.join();
  m_finding = false;
}

void inpWiimote::StepConnected(bool a_menuOpen) {
  driver->PublishState();
  const inpWiiState& s = driver->state;
  if (m_connectPending && !a_menuOpen) {
    m_connectPending = false;
    gScriptCall::Global(machine, connectCallback.c_str());
  }

  const bool seen = s.dots[0].visible && s.dots[1].visible;
  Track(buttons[WIIBUT_CAM], seen);
  if (seen) {
    camera[0] = s.dots[0].x + s.dots[1].x - 1.0f;
    camera[1] = 1.0f - s.dots[0].y - s.dots[1].y;
    camera[2] = 0.0f;
  }
  if (!a_menuOpen) CallWithVector(cameraCallback, camera);

  for (int bit = 0; bit < WIIBUT_COUNT; ++bit) {
    if (kCoreButtons & (1u << bit)) Track(buttons[bit], (s.buttons & (1u << bit)) != 0);
  }
  Track(buttons[WIIBUT_C], s.nunchukC);
  Track(buttons[WIIBUT_Z], s.nunchukZ);

  if (s.extensionType == WIIEXT_NUNCHUK) {
    stick[0] = s.nunchukStick.x;
    stick[1] = s.nunchukStick.y;
    stick[2] = 0.0f;
    if (!a_menuOpen) CallWithVector(stickCallback, stick);
    nunchukAcceleration[0] = s.nunchukMotion.x;
    nunchukAcceleration[1] = s.nunchukMotion.y;
    nunchukAcceleration[2] = s.nunchukMotion.z;
    if (!a_menuOpen) CallWithVector(accelerationCallback, nunchukAcceleration);
  }

  for (inpButtonState& button : buttons) button.Dispatch(machine, a_menuOpen);
}

// Each call gets a vector of its own, owned by the script value: a callback may keep it.
void inpWiimote::CallWithVector(const std::string& a_function, const float a_v[3]) {
  if (!machine || a_function.empty()) return;
  gmThread* thread = machine->PrepareGlobalCall(a_function.c_str());
  if (!thread) return;
  gmUserObject* user = machine->MakeUserObject(new gVector3(a_v[0], a_v[1], a_v[2]), machine->NativeTypeId<gVector3>());
  machine->AdjustKnownMemoryUsed(static_cast<int>(sizeof(gVector3)));
  machine->OwnNative(
      user, [](void* a_p) { delete static_cast<gVector3*>(a_p); }, static_cast<int>(sizeof(gVector3)));
  thread->PushUser(user);
  machine->FinishCall(thread, 1);
}

void inpWiimote::ForgetCallbacks() {
  connectCallback.clear();
  cameraCallback.clear();
  stickCallback.clear();
  accelerationCallback.clear();
  for (inpButtonState& button : buttons) button.Clear();
  machine = nullptr;
}

void inpWiimote::ScriptConnect(const char* a_function) { connectCallback = a_function ? a_function : ""; }
void inpWiimote::ScriptCamera(const char* a_function) { cameraCallback = a_function ? a_function : ""; }
void inpWiimote::ScriptStick(const char* a_function) { stickCallback = a_function ? a_function : ""; }
void inpWiimote::ScriptNunchuckAcceleration(const char* a_function) {
  accelerationCallback = a_function ? a_function : "";
}

void inpWiimote::ScriptButton(int a_button, int a_state, const char* a_function) {
  const char* problem = nullptr;
  if (a_button < 0 || a_button >= WIIBUT_COUNT)
    problem = "the button must be 0 to 15 (WIIBUT_ constants)";
  else if (a_state < BUT_DOWN || a_state > BUT_UP)
    problem = "the state must be BUT_DOWN, BUT_ON or BUT_UP (0 to 2)";
  if (problem) {
    if (machine) {
      machine->GetLog().LogEntry("Wiimote.ScriptButton(%d, %d, \"%.64s\"): %s; no callback was set", a_button, a_state,
                                 a_function ? a_function : "", problem);
      if (machine->GetCallingThread()) machine->FailCurrentCall();
    }
    return;
  }
  buttons[a_button].callback[a_state] = a_function ? a_function : "";
}

void inpWiimote::Rumble(int a_on) {
  if (driver && !m_finding) driver->SetRumble(a_on != 0);
}

int inpWiimote::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<inpWiimote> type(a_machine, "_Wiimote");
  type.Method("IsConnected", &inpWiimote::IsConnected);
  type.Method("ScriptConnect", &inpWiimote::ScriptConnect);
  type.Method("ScriptCamera", &inpWiimote::ScriptCamera);
  type.Method("ScriptStick", &inpWiimote::ScriptStick);
  type.Method("ScriptNunchuckAcceleration", &inpWiimote::ScriptNunchuckAcceleration);
  type.Method("ScriptButton", &inpWiimote::ScriptButton);
  type.Method("Rumble", &inpWiimote::Rumble);
  return type.Register();
}
