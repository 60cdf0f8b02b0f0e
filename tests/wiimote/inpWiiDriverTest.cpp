// The driver against the simulated remote: the same descriptor code as on a hidraw node,
// over a socket pair. Waits are on the driver's own progress (reports decoded, link lost),
// never on time; the clock the status requests and write give-ups follow is moved by hand.
#include "input/wiimote/inpWiiDriver.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/wiimote/inpWiiSimFixture.h"

namespace {

using wiiTest::Report;

constexpr std::uint32_t kWait = 5000;

class DriverTest : public testing::Test, public wiiTest::Sim {
 protected:
  inpWiiDriver driver{hid, clock, debug};

  // Publishes until a_flag has been among the changes; false when the reports stop first.
  bool WaitForChange(std::uint32_t a_flag) {
    std::uint32_t seen = 0;
    for (;;) {
      const std::uint64_t decoded = driver.DecodedReports();
      seen |= driver.PublishState();
      if (seen & a_flag) return true;
      if (!driver.WaitForReports(decoded + 1, kWait) || driver.IsLost()) return false;
    }
  }
  // Waits for the remote's answer to something just sent (one more report decoded).
  void Settle(std::uint64_t a_more = 1) { ASSERT_TRUE(driver.WaitForReports(driver.DecodedReports() + a_more, kWait)); }
};

TEST_F(DriverTest, ConnectsQuietsTheRemoteAndReadsItsCalibration) {
  ASSERT_TRUE(driver.Connect());
  EXPECT_TRUE(driver.IsConnected());
  EXPECT_FALSE(driver.UsesHidWrites());
  EXPECT_EQ(remote->Sent(), (std::vector<gHidReport>{
                                Report({0x15, 0x00}),                                // status request
                                Report({0x13, 0x00}),                                // camera off
                                Report({0x1A, 0x00}),                                //
                                Report({0x12, 0x00, 0x30}),                          // mode: buttons only
                                Report({0x11, 0x00}),                                // LEDs off
                                Report({0x19, 0x04}),                                // speaker muted
                                Report({0x17, 0x00, 0x00, 0x00, 0x16, 0x00, 0x07}),  // calibration
                            }));
  EXPECT_TRUE(wiiTest::InOrder(debug.Messages(),
                               {"Wiimote : Connecting first available Wiimote:\n", "Wiimote : .. opening Wiimote 0:\n",
                                "Wiimote : .. WriteFile() succeeded.\n", "Wiimote : Resetting wiimote.\n",
                                "Wiimote : muting speaker.\n", "Wiimote : .. Connected!\n"}));

  // The status answer, then the calibration read's, which changes no flag but is published.
  ASSERT_TRUE(driver.WaitForReports(2, kWait));
  driver.PublishState();
  EXPECT_EQ(driver.state.accelZeroX, 0x80);
  EXPECT_EQ(driver.state.accelOneZ, 0x9A);
  EXPECT_EQ(driver.state.batteryLevel, 0x60);
  EXPECT_TRUE(driver.state.speakerMuted);
  EXPECT_EQ(driver.PublishState(), 0u) << "nothing new";
}

TEST_F(DriverTest, FailedConnectionsSayWhy) {
  struct Case {
    const char* name;
    void (*arrange)(wiiTest::Sim&);
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"no device list",
       [](wiiTest::Sim& s) { s.hid.noDeviceList = true; },
       {"Wiimote : * couldn't get device info *\n"}},
      {"no remote", [](wiiTest::Sim& s) { s.remote->SwitchOff(); }, {"Wiimote : .. connection failed.\n"}},
      {"held by another program",
       [](wiiTest::Sim& s) { s.remote->held = true; },
       {"Wiimote : .. opening Wiimote 0:\n", "Wiimote : .... failed with err b (already connected?)\n",
        "Wiimote : .. connection failed.\n"}},
      {"silent",
       [](wiiTest::Sim& s) { s.remote->silent = true; },
       {"Wiimote : .. WriteFile() failed.\n", "Wiimote : .. HID write failed.\n",
        "Wiimote : * output failed - wiimote is not connected (or confused). *\n", "Wiimote : Disconnect().\n",
        "Wiimote : .. connection failed.\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wiiTest::Sim sim;
    c.arrange(sim);
    inpWiiDriver other(sim.hid, sim.clock, sim.debug);
    other.answerTimeoutMs = 20;
    EXPECT_FALSE(other.Connect());
    EXPECT_FALSE(other.IsConnected());
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(wiiTest::InOrder(sim.debug.Messages(), c.messages));
  }
}

TEST_F(DriverTest, SkipsARemoteHeldElsewhereForTheNextOne) {
  remote->held = true;
  std::shared_ptr<gHidSimRemote> second = hid.AddRemote();
  ASSERT_TRUE(driver.Connect());
  EXPECT_TRUE(wiiTest::InOrder(debug.Messages(), {"Wiimote : .... failed with err b (already connected?)\n",
                                                  "Wiimote : .. opening Wiimote 1:\n", "Wiimote : .. Connected!\n"}));
  EXPECT_TRUE(remote->Sent().empty());
  EXPECT_FALSE(second->Sent().empty());
}

TEST_F(DriverTest, ARemoteThatTakesOnlyHidWritesConnectsOnTheSecondTryAndNeverLosesABusyReport) {
  remote->refuseWrites = true;
  ASSERT_TRUE(driver.Connect());
  EXPECT_TRUE(driver.UsesHidWrites());
  EXPECT_TRUE(wiiTest::InOrder(debug.Messages(),
                               {"Wiimote : .. WriteFile() failed.\n", "Wiimote : (starting HID write thread)\n",
                                "Wiimote : .. HID write succeeded.\n", "Wiimote : .. Connected!\n"}));
  // Everything the connection sent arrived, in order, through the queue.
  ASSERT_TRUE(driver.WaitForReports(2, kWait));
  EXPECT_EQ(wiiTest::Ids(remote->Sent()), (std::vector<std::uint8_t>{0x15, 0x13, 0x1A, 0x12, 0x11, 0x19, 0x17}));

  remote->busyAnswers = 5;
  driver.SetRumble(true);
  Settle();  // the status answer to the rumble report, once it got through
  EXPECT_EQ(remote->busyAnswers, 0);
  EXPECT_EQ(remote->SentWithId(0x15).back(), Report({0x15, 0x01}));
  EXPECT_FALSE(driver.IsLost());
}

TEST_F(DriverTest, TheWriteQueueIsBoundedGivesUpAfterASecondAndEndsWithTheLink) {
  remote->refuseWrites = true;
  ASSERT_TRUE(driver.Connect());
  ASSERT_TRUE(wiiTest::WaitUntil(driver, [&] { return driver.QueuedReports() == 0; }));

  remote->busyAnswers = 1 << 30;
  const std::uint8_t leds[22] = {0x11, 0x10};
  int accepted = 0;
  for (int i = 0; i < 70; ++i) accepted += driver.SendReport(leds);
  EXPECT_EQ(accepted, int(inpWiiDriver::kQueueLimit));
  EXPECT_EQ(driver.QueuedReports(), inpWiiDriver::kQueueLimit);
  EXPECT_EQ(wiiTest::Count(debug.Messages(), "Wiimote : * HID write queue full, report dropped *\n"), 1);

  // A second of refusals, from the first, costs the oldest report its place.
  ASSERT_TRUE(wiiTest::WaitUntil(driver, [&] { return remote->busyAnswers < (1 << 30); }));
  clock.Advance(inpWiiDriver::kWriteGiveUpMs);
  EXPECT_TRUE(wiiTest::WaitUntil(driver, [&] { return driver.QueuedReports() < inpWiiDriver::kQueueLimit; }));
  EXPECT_EQ(driver.QueuedReports(), inpWiiDriver::kQueueLimit - 1);
  EXPECT_TRUE(wiiTest::InOrder(debug.Messages(), {"Wiimote : * HID write refused for a second, report dropped *\n"}));
  EXPECT_FALSE(driver.IsLost()) << "busy is not gone";

  // What is still queued when the link ends never reaches the next connection.
  remote->SwitchOff();
  ASSERT_TRUE(driver.WaitForReports(~0ull, kWait));
  driver.Disconnect();
  EXPECT_EQ(driver.QueuedReports(), 0u);
  remote->busyAnswers = 0;
  remote->ClearSent();
  remote->SwitchOn();
  ASSERT_TRUE(driver.Connect());  // which waits for its own reports to go out
  EXPECT_FALSE(wiiTest::Contains(remote->Sent(), Report({0x11, 0x10})));
  EXPECT_TRUE(wiiTest::Contains(remote->Sent(), Report({0x11, 0x00}))) << "the new connection's own reports go out";
}

TEST_F(DriverTest, ALostRemoteIsLeftToTheOwnerToCloseAndReconnects) {
  for (bool hidWrites : {false, true}) {
    SCOPED_TRACE(hidWrites ? "HID writes" : "plain writes");
    remote->refuseWrites = hidWrites;
    ASSERT_TRUE(driver.Connect());
    debug.Take();
    remote->SwitchOff();
    ASSERT_TRUE(driver.WaitForReports(~0ull, kWait));
    EXPECT_TRUE(driver.IsLost());
    EXPECT_TRUE(driver.IsOpen()) << "the read thread does not close the link under its owner";
    EXPECT_TRUE(wiiTest::InOrder(debug.Messages(), {"Wiimote : read thread: connection to wiimote was lost\n",
                                                    "Wiimote : (ending read thread)\n"}));
    EXPECT_NE(driver.PublishState() & WIICHANGE_LOST, 0u);

    remote->ClearSent();
    driver.Disconnect();
    EXPECT_FALSE(driver.IsOpen());
    EXPECT_TRUE(remote->Sent().empty()) << "no farewell to a remote that is gone";
    remote->SwitchOn();
    EXPECT_TRUE(driver.Connect());
    EXPECT_EQ(driver.UsesHidWrites(), hidWrites);
  }
}

TEST_F(DriverTest, DisconnectLeavesAHealthyRemoteQuiet) {
  ASSERT_TRUE(driver.Connect());
  driver.SetRumble(true);
  remote->ClearSent();
  driver.Disconnect();
  EXPECT_EQ(remote->Sent(),
            (std::vector<gHidReport>{Report({0x13, 0x01}), Report({0x1A, 0x01}), Report({0x12, 0x01, 0x30}),
                                     Report({0x15, 0x00}), Report({0x11, 0x00})}));
  EXPECT_FALSE(driver.IsConnected());
  EXPECT_FALSE(remote->IsOpen());
  driver.SetRumble(true);
  EXPECT_EQ(remote->Sent().size(), 5u) << "nothing goes out without a link";
}

TEST_F(DriverTest, AShortReportLeavesNoBytesOfTheOneBefore) {
  ASSERT_TRUE(driver.Connect());
  driver.SelectReportMode(0x33, true);  // extended camera format
  Inject({0x33, 0, 0, 0x80, 0x80, 0x9A, 100, 50, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  Inject({0x33, 1, 0, 0x80, 0x80, 0x9A});  // cut short after the acceleration
  ASSERT_TRUE(wiiTest::WaitUntil(driver, [&] {
    driver.PublishState();
    return driver.state.buttons == 1;
  }));
  EXPECT_TRUE(driver.state.dots[0].visible);
  EXPECT_EQ(driver.state.dots[0].rawX, 0);
  EXPECT_EQ(driver.state.dots[0].size, 0);
}

TEST_F(DriverTest, ANunchukIsDetectedAndItsStickFollowsTheOwnersDeadZone) {
  ASSERT_TRUE(driver.Connect());
  ASSERT_TRUE(driver.WaitForReports(2, kWait));
  remote->ClearSent();
  remote->PlugNunchuk();
  ASSERT_TRUE(WaitForChange(WIICHANGE_NUNCHUK_CONNECTED));
  EXPECT_EQ(remote->Sent(), (std::vector<gHidReport>{
                                Report({0x16, 0x04, 0xA4, 0x00, 0x40, 0x01, 0x00}),
                                Report({0x17, 0x04, 0xA4, 0x00, 0xFE, 0x00, 0x02}),
                                Report({0x17, 0x04, 0xA4, 0x00, 0x20, 0x00, 0x10}),
                                // The mode again (the remote leaves it when an extension comes).
                                Report({0x13, 0x00}),
                                Report({0x1A, 0x00}),
                                Report({0x12, 0x00, 0x30}),
                            }));
  EXPECT_TRUE(wiiTest::InOrder(debug.Messages(), {"Wiimote : Extension connected:\n", "Wiimote : .. Nunchuk!\n"}));

  driver.state.nunchukStick.deadZoneX = 0.5f;
  driver.PublishState();
  using wiiTest::Masked;
  // Stick x at mid + 72 of a 192-wide range: 0.75, which a 0.5 dead zone makes 0.5.
  Inject({0x35, 0, 0, 0x80, 0x80, 0x9A, Masked(200), Masked(0x80), Masked(0x80), Masked(0x80), Masked(0xB3),
          Masked(0x02)});
  ASSERT_TRUE(wiiTest::WaitUntil(driver, [&] {
    driver.PublishState();
    return driver.state.nunchukZ;
  }));
  EXPECT_EQ(driver.state.nunchukStick.x, 0.5f);
  EXPECT_EQ(driver.state.nunchukStick.y, 0.0f);
  EXPECT_EQ(driver.state.nunchukStick.deadZoneX, 0.5f);
  EXPECT_TRUE(driver.state.nunchukZ);
  EXPECT_FALSE(driver.state.nunchukC);
}

TEST_F(DriverTest, AsksForStatusEverySecond) {
  ASSERT_TRUE(driver.Connect());
  ASSERT_TRUE(driver.WaitForReports(2, kWait));
  const std::size_t asked = remote->SentWithId(0x15).size();
  clock.Advance(1000);
  const std::uint64_t before = driver.DecodedReports();
  Inject({0x30, 0, 0});  // wakes the read thread, which then finds the second over
  ASSERT_TRUE(driver.WaitForReports(before + 2, kWait));
  EXPECT_EQ(remote->SentWithId(0x15).size(), asked + 1);
}

// The ThreadSanitizer build runs this: reports streamed while the owner's thread writes
// rumble and dead zones and publishes, then twenty losses and reconnections in both write
// modes.
TEST_F(DriverTest, StreamsWhileTheOwnerWritesAndSurvivesTwentyLosses) {
  ASSERT_TRUE(driver.Connect());
  const std::uint64_t start = driver.DecodedReports();
  constexpr int kReports = 1000;
  std::thread stream([this] {
    for (int i = 0; i < kReports; ++i) Inject({0x31, i & 0x1F, 0, 0x80 + (i & 7), 0x80, 0x9A});
  });
  for (int i = 0; i < 200; ++i) {
    driver.SetRumble(i % 2 == 0);
    driver.state.nunchukStick.deadZoneX = float(i % 10) / 10.0f;
    driver.PublishState();
  }
  stream.join();
  ASSERT_TRUE(driver.WaitForReports(start + kReports, kWait));
  EXPECT_FALSE(driver.IsLost());

  for (int cycle = 0; cycle < 20; ++cycle) {
    remote->refuseWrites = cycle % 2 == 1;
    remote->SwitchOff();
    ASSERT_TRUE(driver.WaitForReports(~0ull, kWait));
    ASSERT_TRUE(driver.IsLost());
    driver.Disconnect();
    remote->SwitchOn();
    ASSERT_TRUE(driver.Connect()) << "cycle " << cycle;
    driver.SetRumble(true);
  }
  EXPECT_EQ(remote->Openings(), 21);
}

}  // namespace
