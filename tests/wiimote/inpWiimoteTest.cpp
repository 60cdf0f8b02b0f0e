// The script's Wiimote over the simulated remote, frame by frame: which callbacks run with
// what, which report mode it picks, and how it reconnects.
#include "input/wiimote/inpWiimote.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "binding/gVector3.h"
#include "input/_gInput.h"
#include "tests/game/gameFixture.h"
#include "tests/wiimote/inpWiiSimFixture.h"

namespace {

using wiiTest::Report;
using Printed = std::vector<std::pair<unsigned, std::string>>;

class WiimoteTest : public testing::Test, public wiiTest::Sim {
 protected:
  void SetUp() override {
    gVector3::RegisterScriptType(script.machine.get());
    wii = std::make_unique<inpWiimote>(hid, clock, debug);
    wii->machine = script.machine.get();
    wii->connectInStep = true;
    script.Run(
        "global connected = function() { print(\"connected\"); };"
        "global cam = function(v) { print(format(\"cam %f %f %f\", v.X(), v.Y(), v.Z())); };"
        "global stick = function(v) { print(format(\"stick %f %f\", v.X(), v.Y())); };"
        "global accel = function(v) { print(format(\"accel %f %f %f\", v.X(), v.Y(), v.Z())); };"
        "global down = function() { print(\"down\"); };"
        "global on = function() { print(\"on\"); };"
        "global up = function() { print(\"up\"); };");
  }
  void TearDown() override { wii.reset(); }

  inpWiiDriver& Driver() { return *wii->driver; }
  void Frame(bool a_menuOpen = false) {
    ++script.frame;
    wii->Step(a_menuOpen);
  }
  // Injects a report and waits until the published state shows it.
  template <class Shown>
  void Send(std::initializer_list<int> a_bytes, Shown a_shown) {
    Inject(a_bytes);
    ASSERT_TRUE(wiiTest::WaitUntil(Driver(), [&] {
      Driver().PublishState();
      return a_shown(Driver().state);
    }));
  }
  void ConnectFrame() {
    Frame();
    ASSERT_TRUE(wii->IsConnected());
  }
  void PlugNunchukAndWait() {
    remote->PlugNunchuk();
    ASSERT_TRUE(wiiTest::WaitUntil(Driver(), [&] {
      return wiiTest::Contains(remote->Sent(), Report({0x12, 0x04, 0x37}));
    }));
  }

  gameTest::ScriptMachine script;
  std::unique_ptr<inpWiimote> wii;
};

TEST_F(WiimoteTest, WithoutARemoteItTriesOnceASecondAndCallsNothing) {
  remote->SwitchOff();
  wii->ScriptConnect("connected");
  wii->ScriptCamera("cam");
  wii->ScriptButton(WIIBUT_A, BUT_ON, "on");
  for (int i = 0; i < 5; ++i) Frame();
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : Connecting first available Wiimote:\n"), 1);
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : .. connection failed.\n"), 1);
  // Further attempts that fail alike say nothing: an hour without a remote is one report.
  for (int attempt = 0; attempt < 3; ++attempt) {
    clock.Advance(inpWiimote::kAttemptPeriodMs);
    Frame();
    Frame();
  }
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : Connecting first available Wiimote:\n"), 1);
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : .. connection failed.\n"), 1);
  EXPECT_FALSE(wii->IsConnected());
  wii->Rumble(1);
  EXPECT_TRUE(script.printed.empty());

  // Rumble asked for while disconnected is not remembered.
  remote->SwitchOn();
  clock.Advance(inpWiimote::kAttemptPeriodMs);
  Frame();
  ASSERT_TRUE(wii->IsConnected());
  // A remote that appears changes the outcome, so that attempt is reported whole.
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : Connecting first available Wiimote:\n"), 2);
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : .. Connected!\n"), 1);
  for (const gHidReport& r : remote->Sent()) EXPECT_EQ(r[1] & 0x01, 0) << std::hex << int(r[0]);
}

TEST_F(WiimoteTest, TheReportModeFollowsTheExtension) {
  const gHidReport extended = Report({0x16, 0x04, 0xB0, 0x00, 0x33, 0x01, WIIIR_EXTENDED});
  const gHidReport basic = Report({0x16, 0x04, 0xB0, 0x00, 0x33, 0x01, WIIIR_BASIC});
  wii->ScriptConnect("connected");
  ConnectFrame();
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), Report({0x12, 0x04, 0x33})));
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), extended));
  EXPECT_EQ(script.printed, (Printed{{1, "connected"}}));

  remote->ClearSent();
  PlugNunchukAndWait();
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), basic));

  remote->ClearSent();
  remote->Unplug();
  ASSERT_TRUE(wiiTest::WaitUntil(Driver(), [&] {
    return wiiTest::Contains(remote->Sent(), Report({0x12, 0x04, 0x33}));
  }));
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), extended));

  // Plugged in before the connection: basic format from the start.
  wii.reset();
  remote->ClearSent();
  remote->PlugNunchuk();
  wii = std::make_unique<inpWiimote>(hid, clock, debug);
  wii->connectInStep = true;
  ConnectFrame();
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), Report({0x12, 0x04, 0x37})));
  EXPECT_FALSE(wiiTest::Contains(remote->Sent(), Report({0x12, 0x04, 0x33})));
}

TEST_F(WiimoteTest, ButtonsPressHoldAndRelease) {
  wii->ScriptButton(WIIBUT_A, BUT_DOWN, "down");
  wii->ScriptButton(WIIBUT_A, BUT_ON, "on");
  wii->ScriptButton(WIIBUT_A, BUT_UP, "up");
  wii->ScriptButton(WIIBUT_HOME, BUT_DOWN, "down");
  ConnectFrame();
  Send({0x30, 0x00, 0x08}, [](const inpWiiState& s) { return s.buttons == 0x0800; });
  Frame();
  Frame();
  Send({0x30, 0x00, 0x00}, [](const inpWiiState& s) { return s.buttons == 0; });
  Frame();
  Frame();
  EXPECT_EQ(script.printed, (Printed{{2, "down"}, {2, "on"}, {3, "on"}, {4, "up"}}));

  script.printed.clear();
  Send({0x30, 0x00, 0x80}, [](const inpWiiState& s) { return s.buttons == 0x8000; });
  Frame();
  EXPECT_EQ(script.printed, (Printed{{6, "down"}}));
}

TEST_F(WiimoteTest, TheCameraButtonAndVectorFollowTheFirstTwoDots) {
  wii->ScriptCamera("cam");
  wii->ScriptButton(WIIBUT_CAM, BUT_DOWN, "down");
  wii->ScriptButton(WIIBUT_CAM, BUT_UP, "up");
  ConnectFrame();  // extended format: three bytes a dot
  // Dot 0 at raw (254, 190), dot 1 at raw (508, 380): x 0.75 and 0.5, y 0.25 and 0.5.
  Send({0x33, 0, 0, 0x80, 0x80, 0x9A, 254, 190, 0x00, 0xFC, 0x7C, 0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       [](const inpWiiState& s) { return s.dots[1].visible; });
  Frame();
  Send({0x33, 0, 0, 0x80, 0x80, 0x9A, 254, 190, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       [](const inpWiiState& s) { return !s.dots[1].visible; });
  Frame();
  EXPECT_EQ(script.printed, (Printed{{2, "cam 0.250000 0.250000 0.000000"},
                                     {2, "down"},
                                     {3, "cam 0.250000 0.250000 0.000000"},  // the last position stays
                                     {3, "up"}}));
}

TEST_F(WiimoteTest, StickAndAccelerationOnlyWithANunchuk) {
  using wiiTest::Masked;
  wii->ScriptStick("stick");
  wii->ScriptNunchuckAcceleration("accel");
  wii->ScriptButton(WIIBUT_Z, BUT_DOWN, "down");
  ConnectFrame();
  Frame();
  EXPECT_TRUE(script.printed.empty());

  PlugNunchukAndWait();
  // Stick full right and centred; 1 g along z; Z pressed.
  Send({0x37,         0,           0,    0x80, 0x80, 0x9A, 0xFF,         0xFF,         0xFF,         0xFF,
        0xFF,         0xFF,        0xFF, 0xFF, 0xFF, 0xFF, Masked(0xE0), Masked(0x80), Masked(0x80), Masked(0x80),
        Masked(0xB3), Masked(0x02)},
       [](const inpWiiState& s) { return s.nunchukZ; });
  Frame();
  EXPECT_EQ(script.printed,
            (Printed{{3, "stick 1.000000 0.000000"}, {3, "accel 0.000000 0.000000 1.000000"}, {3, "down"}}));
}

TEST_F(WiimoteTest, TheOpenMenuHoldsEveryCallbackBack) {
  wii->ScriptConnect("connected");
  wii->ScriptCamera("cam");
  wii->ScriptStick("stick");
  wii->ScriptNunchuckAcceleration("accel");
  wii->ScriptButton(WIIBUT_A, BUT_DOWN, "down");
  remote->PlugNunchuk();
  Frame(true);
  ASSERT_TRUE(wii->IsConnected());
  Send({0x30, 0x00, 0x08}, [](const inpWiiState& s) { return s.buttons == 0x0800; });
  Frame(true);
  EXPECT_TRUE(script.printed.empty());
  Frame(false);
  EXPECT_EQ(script.printed.front(), (std::pair<unsigned, std::string>{3, "connected"}))
      << "a connection made behind the menu is announced when it closes";
  EXPECT_EQ(wiiTest::Count(script.Lines(), "down"), 0) << "a press behind the menu is dropped, as for keys";
}

TEST_F(WiimoteTest, BadButtonArgumentsAreRefused) {
  const std::pair<int, int> bad[] = {{-1, BUT_DOWN}, {16, BUT_DOWN}, {1 << 20, BUT_ON}, {WIIBUT_A, 3}, {WIIBUT_A, -1}};
  for (const auto& [button, state] : bad) {
    const int entries = script.machine->GetLog().GetEntryCount();
    wii->ScriptButton(button, state, "down");
    EXPECT_EQ(script.machine->GetLog().GetEntryCount(), entries + 1) << button << " " << state;
  }
  for (const inpButtonState& b : wii->buttons)
    for (const std::string& slot : b.callback) EXPECT_TRUE(slot.empty());
}

TEST_F(WiimoteTest, ALostRemoteIsClosedByTheStepAndConnectsAgain) {
  wii->ScriptConnect("connected");
  ConnectFrame();
  remote->SwitchOff();
  ASSERT_TRUE(Driver().WaitForReports(~0ull, 5000));
  Frame();  // closes the dead link; the last attempt is too recent for another
  EXPECT_FALSE(Driver().IsOpen());
  remote->SwitchOn();
  clock.Advance(inpWiimote::kAttemptPeriodMs);
  Frame();
  EXPECT_TRUE(wii->IsConnected());
  EXPECT_EQ(script.printed, (Printed{{1, "connected"}, {3, "connected"}}));
}

// The device list of a transport that answers only once the test lets it: an attempt
// made in the step would hang the test's frame.
class HeldHid : public gHid {
 public:
  explicit HeldHid(gHid& a_inner) : m_inner(a_inner) {}
  bool Enumerate(std::uint16_t a_vendor, std::uint16_t a_product, std::vector<std::string>& a_paths) override {
    std::unique_lock<std::mutex> hold(m_lock);
    m_entered = true;
    m_signal.notify_all();
    m_signal.wait_for(hold, std::chrono::seconds(60), [this] { return m_released; });
    return m_inner.Enumerate(a_vendor, a_product, a_paths);
  }
  std::unique_ptr<gHidDevice> Open(const std::string& a_path, int* a_error) override {
    return m_inner.Open(a_path, a_error);
  }
  bool SupportsOutputReports() const override { return m_inner.SupportsOutputReports(); }
  bool WaitEntered() {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_signal.wait_for(hold, std::chrono::seconds(60), [this] { return m_entered; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_released = true;
    m_signal.notify_all();
  }

 private:
  gHid& m_inner;
  std::mutex m_lock;
  std::condition_variable m_signal;
  bool m_entered = false;
  bool m_released = false;
};

class WiimoteFinderTest : public WiimoteTest {
 protected:
  void SetUp() override {
    WiimoteTest::SetUp();
    wii->connectInStep = false;
    wii->UseTransport(held);
  }
  // Whatever the test did, the finder must be able to end before the Wiimote does.
  void TearDown() override {
    held.Release();
    WiimoteTest::TearDown();
  }
  HeldHid held{hid};
};

// Frames go on, callbacks and all, while the device keeps the finder waiting; the
// connection is taken up at the first step after the attempt ended.
TEST_F(WiimoteFinderTest, AttemptsWaitOnTheDeviceOffTheFrame) {
  wii->ScriptConnect("connected");
  wii->ScriptButton(WIIBUT_A, BUT_DOWN, "down");
  Frame();
  ASSERT_TRUE(held.WaitEntered());
  for (int i = 0; i < 30; ++i) Frame();
  EXPECT_FALSE(wii->IsConnected());
  wii->Rumble(1);  // the finder holds the driver: not touched, not remembered
  held.Release();
  ASSERT_TRUE(wii->WaitForAttempt(60000));
  EXPECT_TRUE(script.printed.empty());
  Frame();
  EXPECT_TRUE(wii->IsConnected());
  EXPECT_EQ(script.printed, (Printed{{32, "connected"}}));
  for (const gHidReport& r : remote->Sent()) EXPECT_EQ(r[1] & 0x01, 0) << std::hex << int(r[0]);
  Send({0x30, 0x00, 0x08}, [](const inpWiiState& s) { return s.buttons == 0x0800; });
  Frame();
  EXPECT_EQ(script.printed.back(), (std::pair<unsigned, std::string>{33, "down"}));
}

// A remote that is listed but never answers: every attempt fails on the finder thread and
// the next one waits its second of the clock, as in the step.
TEST_F(WiimoteFinderTest, ASilentRemoteIsRetriedOnceASecond) {
  held.Release();
  remote->silent = true;
  Frame();
  ASSERT_TRUE(wii->WaitForAttempt(60000));
  Frame();
  Frame();
  EXPECT_FALSE(wii->IsConnected());
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : Connecting first available Wiimote:\n"), 1);
  clock.Advance(inpWiimote::kAttemptPeriodMs);
  Frame();
  ASSERT_TRUE(wii->WaitForAttempt(60000));
  Frame();
  EXPECT_FALSE(wii->IsConnected());
  // The second attempt failed as the first did: its lines are held back, not repeated.
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : Connecting first available Wiimote:\n"), 1);
}

}  // namespace

namespace {

// A script keeps Input.Wiimote() past the Wiimote's end at exit: calls through it do nothing.
TEST(WiimoteScript, AWrapperKeptPastShutdownCallsNothing) {
  gameTest::ScriptMachine script;
  gmMachineEx* machine = script.machine.get();
  _gInput::RegisterScriptType(machine);
  inpWiimote::RegisterScriptType(machine);
  script.Run("global Input = _Input(); global w = Input.Wiimote(); print(w.IsConnected());");
  ASSERT_NE(_gInput::instance, nullptr);
  _gInput::instance->ShutdownWiimote();
  script.Run("print(w.IsConnected()); w.Rumble(1); w.ScriptButton(11, 0, \"x\"); print(Input.Wiimote());");
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"0", "null", "null"}));
  delete _gInput::instance;
}

}  // namespace
