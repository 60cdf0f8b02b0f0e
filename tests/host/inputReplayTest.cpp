// Input files: what a line means, what is refused, and the events a replay posts to the
// device, seen by a receiver standing where the game's is.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <string>
#include <vector>

#include "host/gInputReplay.h"

namespace {

using Event = gInputReplay::Event;

TEST(InputReplay, ParsesEventsInFrameOrder) {
  gInputReplay replay;
  std::string error;
  ASSERT_TRUE(
      replay.Parse("# a comment\r\n"
                   "\n"
                   "  7 key KEY_SPACE up   # trailing comment\n"
                   "3 key 32 down\r\n"
                   "3\tmouse MOU_RIGHT down\n"
                   "3 mouse 0 up\n"
                   "5 move 1023 0\n"
                   "1 key KEY_LSHIFT down\n"
                   "4 wiimote 30 0008\n",
                   error))
      << error;
  const Event& report = replay.events[4];
  EXPECT_EQ(report.kind, Event::WIIMOTE);
  EXPECT_EQ(report.report, (std::vector<std::uint8_t>{0x30, 0x00, 0x08}));
  replay.events.erase(replay.events.begin() + 4);
  struct Expected {
    unsigned frame;
    Event::Kind kind;
    int code;
    bool down;
    int x, y;
  };
  // Sorted by frame; lines of one frame keep their order.
  const Expected expected[] = {
      {1, Event::KEY, 160, true, 0, 0},  {3, Event::KEY, 32, true, 0, 0},     {3, Event::MOUSE, 1, true, 0, 0},
      {3, Event::MOUSE, 0, false, 0, 0}, {5, Event::MOVE, 0, false, 1023, 0}, {7, Event::KEY, 32, false, 0, 0},
  };
  ASSERT_EQ(replay.events.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const Event& e = replay.events[i];
    EXPECT_EQ(e.frame, expected[i].frame);
    EXPECT_EQ(e.kind, expected[i].kind);
    EXPECT_EQ(e.code, expected[i].code);
    if (e.kind != Event::MOVE) {
      EXPECT_EQ(e.down, expected[i].down);
    }
    EXPECT_EQ(e.x, expected[i].x);
    EXPECT_EQ(e.y, expected[i].y);
  }
}

TEST(InputReplay, MalformedLinesAreRefusedWithTheirNumber) {
  const char* const bad[] = {
      "0 key KEY_A down",
      "-1 key KEY_A down",
      "x key KEY_A down",
      "1.5 key KEY_A down",
      "1 key KEY_NOPE down",
      "1 key key_a down",
      "1 key 256 down",
      "1 key -1 down",
      "1 key KEY_A",
      "1 key KEY_A press",
      "1 key KEY_A down now",
      "1 key MOU_LEFT down",
      "1 mouse 3 down",
      "1 mouse KEY_A down",
      "1 mouse 0 Down",
      "1 move 10",
      "1 move 1024 0",
      "1 move 0 768",
      "1 move -1 0",
      "1 move 1 2 3",
      "1 wheel 1",
      "1",
      "99999999999 key KEY_A down",
      "1 wiimote",
      "1 wiimote 3",
      "1 wiimote 30 0G",
      "1 wiimote 30 000",
      "1 wiimote 30 00000000000000000000000000000000000000000000",
      "1 wiimote connect now",
  };
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    gInputReplay replay;
    std::string error;
    EXPECT_FALSE(replay.Parse(std::string("1 key KEY_A down\n# fine so far\n") + line + "\n2 key KEY_A up\n", error));
    EXPECT_EQ(error.rfind("3: ", 0), 0u) << error;
    EXPECT_TRUE(replay.events.empty());
  }
  gInputReplay replay;
  std::string error;
  EXPECT_FALSE(replay.Load("/nonexistent/keys.txt", error));
  EXPECT_NE(error.find("/nonexistent/keys.txt"), std::string::npos) << error;
}

// Everything the device passes on, as the game's receiver would see it.
class Recorder : public irr::IEventReceiver {
 public:
  std::vector<irr::SEvent> events;
  bool OnEvent(const irr::SEvent& a_event) override {
    if (a_event.EventType != irr::EET_LOG_TEXT_EVENT) events.push_back(a_event);
    return false;
  }
};

TEST(InputReplay, PostsEachFramesEventsWithModifiersAndPointer) {
  Recorder recorder;
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &recorder);
  ASSERT_NE(device, nullptr);
  gInputReplay replay;
  std::string error;
  ASSERT_TRUE(
      replay.Parse("1 key KEY_LSHIFT down\n1 key KEY_A down\n2 key KEY_A up\n"
                   "3 move 100 200\n3 mouse 2 down\n4 mouse 2 up\n6 key KEY_B down\n",
                   error));
  replay.device = device;

  replay.Apply(1);
  ASSERT_EQ(recorder.events.size(), 2u);
  const irr::SEvent::SKeyInput& a = recorder.events[1].KeyInput;
  EXPECT_EQ(a.Key, irr::KEY_KEY_A);
  EXPECT_TRUE(a.PressedDown);
  EXPECT_TRUE(a.Shift);
  EXPECT_FALSE(a.Control);
  EXPECT_EQ(a.Char, L'A');

  recorder.events.clear();
  replay.Apply(3);  // frame 2 passed over: its key release is dropped, not posted late
  ASSERT_EQ(recorder.events.size(), 2u);
  EXPECT_EQ(recorder.events[0].MouseInput.Event, irr::EMIE_MOUSE_MOVED);
  const irr::SEvent::SMouseInput& press = recorder.events[1].MouseInput;
  EXPECT_EQ(press.Event, irr::EMIE_MMOUSE_PRESSED_DOWN);
  EXPECT_EQ(press.ButtonStates, static_cast<irr::u32>(irr::EMBSM_MIDDLE));
  EXPECT_EQ(press.X, 100);
  EXPECT_EQ(press.Y, 200);
  EXPECT_TRUE(press.Shift);
  // The game reads the pointer from the cursor, not from the event.
  EXPECT_EQ(device->getCursorControl()->getPosition(), irr::core::position2d<irr::s32>(100, 200));

  recorder.events.clear();
  replay.Apply(4);
  replay.Apply(5);
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].MouseInput.Event, irr::EMIE_MMOUSE_LEFT_UP);
  EXPECT_EQ(recorder.events[0].MouseInput.ButtonStates, 0u);
  device->drop();
}

}  // namespace
