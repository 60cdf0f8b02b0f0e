// Keyboard and mouse through the null device: events are injected with postEventFromUser,
// as the window system would deliver them during the message pump, and each Update is one
// frame's input step.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <string>
#include <utility>
#include <vector>

#include "input/_gInput.h"
#include "input/inpDeveloperMenu.h"
#include "tests/game/gameFixture.h"

namespace {

using Printed = std::vector<std::pair<unsigned, std::string>>;

class FakeMenu : public inpDeveloperMenu {
 public:
  bool open = false;
  int guiEvents = 0;
  bool IsOpen() const override { return open; }
  void Toggle() override { open = !open; }
  void OnGuiEvent(const irr::SEvent&) override { ++guiEvents; }
  void OnLogText(const char*) override {}
};

class InputTest : public testing::Test {
 protected:
  void SetUp() override {
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32, false, false,
                               false, &input.receiver);
    ASSERT_NE(device, nullptr);
    input.Setup(device, script.machine.get(), false);
    script.Run(
        "global down = function() { print(\"down\"); };"
        "global on = function() { print(\"on\"); };"
        "global up = function() { print(\"up\"); };");
  }
  void TearDown() override { device->drop(); }

  void Bind(int a_key) {
    input.ScriptButton(a_key, BUT_DOWN, "down");
    input.ScriptButton(a_key, BUT_ON, "on");
    input.ScriptButton(a_key, BUT_UP, "up");
  }
  void Key(int a_code, bool a_down) {
    irr::SEvent event{};
    event.EventType = irr::EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = static_cast<irr::EKEY_CODE>(a_code);
    event.KeyInput.PressedDown = a_down;
    device->postEventFromUser(event);
  }
  void Mouse(irr::EMOUSE_INPUT_EVENT a_kind) {
    irr::SEvent event{};
    event.EventType = irr::EET_MOUSE_INPUT_EVENT;
    event.MouseInput.Event = a_kind;
    device->postEventFromUser(event);
  }
  void Frame() {
    ++script.frame;
    input.Update();
  }

  gameTest::ScriptMachine script;
  _gInput input;
  irr::IrrlichtDevice* device = nullptr;
};

TEST_F(InputTest, PressHoldAndRelease) {
  Bind(irr::KEY_KEY_A);
  Key(irr::KEY_KEY_A, true);
  Frame();
  Frame();
  Frame();
  Key(irr::KEY_KEY_A, false);
  Frame();
  Frame();
  EXPECT_EQ(script.printed, (Printed{{1, "down"}, {1, "on"}, {2, "on"}, {3, "on"}, {4, "up"}}));
}

TEST_F(InputTest, RepeatsAndQuickTaps) {
  Bind(irr::KEY_SPACE);
  // The window system repeats a held key: every frame with a repeat is a press again.
  Key(irr::KEY_SPACE, true);
  Frame();
  Key(irr::KEY_SPACE, true);
  Key(irr::KEY_SPACE, true);
  Frame();
  Frame();
  // Released and pressed again within one frame, then tapped within one frame.
  Key(irr::KEY_SPACE, false);
  Key(irr::KEY_SPACE, true);
  Key(irr::KEY_SPACE, false);
  Frame();
  EXPECT_EQ(script.printed,
            (Printed{{1, "down"}, {1, "on"}, {2, "down"}, {2, "on"}, {3, "on"}, {4, "down"}, {4, "up"}}));
}

TEST_F(InputTest, KeysDispatchInAscendingOrder) {
  script.Run("global b = function() { print(\"B\"); }; global z = function() { print(\"Z\"); };");
  input.ScriptButton(irr::KEY_KEY_Z, BUT_DOWN, "z");
  input.ScriptButton(irr::KEY_KEY_B, BUT_DOWN, "b");
  Key(irr::KEY_KEY_Z, true);
  Key(irr::KEY_KEY_B, true);
  Frame();
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"B", "Z"}));
}

// X11 sends Shift, Control and Alt only as their left and right keys; the shared Windows
// codes that games bind follow either side.
TEST_F(InputTest, SidedModifiersDriveTheSharedKey) {
  const struct {
    int left, right, shared;
  } pairs[] = {{irr::KEY_LSHIFT, irr::KEY_RSHIFT, irr::KEY_SHIFT},
               {irr::KEY_LCONTROL, irr::KEY_RCONTROL, irr::KEY_CONTROL},
               {irr::KEY_LMENU, irr::KEY_RMENU, irr::KEY_MENU}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.shared);
    script.printed.clear();
    Bind(p.shared);
    Key(p.left, true);
    Frame();
    Key(p.right, true);
    Key(p.left, false);  // the right one is still held
    Frame();
    Key(p.right, false);
    Frame();
    EXPECT_EQ(script.Lines(), (std::vector<std::string>{"down", "on", "down", "on", "up"}));
    EXPECT_EQ(input.keys[p.left].down + input.keys[p.right].down + input.keys[p.shared].down, 0);
  }
}

TEST_F(InputTest, MouseButtonsUseCodesZeroToTwo) {
  input.ScriptButton(MOU_LEFT, BUT_DOWN, "down");
  input.ScriptButton(MOU_RIGHT, BUT_UP, "up");
  input.ScriptButton(MOU_MIDDLE, BUT_ON, "on");
  EXPECT_EQ(input.mouse.buttons[MOU_LEFT].callback[BUT_DOWN], "down");
  EXPECT_EQ(input.mouse.buttons[MOU_RIGHT].callback[BUT_UP], "up");
  EXPECT_EQ(input.mouse.buttons[MOU_MIDDLE].callback[BUT_ON], "on");
  for (int key = 0; key < 3; ++key)
    for (const std::string& slot : input.keys[key].callback) EXPECT_EQ(slot, "");

  Mouse(irr::EMIE_LMOUSE_PRESSED_DOWN);
  Mouse(irr::EMIE_RMOUSE_PRESSED_DOWN);
  Mouse(irr::EMIE_RMOUSE_LEFT_UP);
  Mouse(irr::EMIE_MMOUSE_PRESSED_DOWN);
  Mouse(irr::EMIE_MOUSE_MOVED);
  // The null device's window is never active: the mouse part of the step is skipped and
  // the buttons stay recorded for the first active frame.
  Frame();
  EXPECT_TRUE(script.printed.empty());
  const inpButtonState& left = input.mouse.buttons[MOU_LEFT];
  const inpButtonState& right = input.mouse.buttons[MOU_RIGHT];
  EXPECT_EQ(left.pressed + left.down, 2);
  EXPECT_EQ(right.pressed + right.released + right.down, 2);
  for (inpButtonState& button : input.mouse.buttons) button.Dispatch(script.machine.get(), false);
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"down", "up", "on"}));
}

TEST_F(InputTest, ScriptMouseSetsAndRemoves) {
  input.ScriptMouse("look");
  EXPECT_EQ(input.mouse.moveCallback, "look");
  input.ScriptMouse("");
  EXPECT_EQ(input.mouse.moveCallback, "");
}

TEST_F(InputTest, ScriptButtonOutOfRangeIsLoggedAndChangesNothing) {
  const std::pair<int, int> bad[] = {{-1, BUT_DOWN}, {256, BUT_DOWN}, {irr::KEY_KEY_A, 3}, {irr::KEY_KEY_A, -1}};
  for (const auto& b : bad) {
    const int entries = script.machine->GetLog().GetEntryCount();
    input.ScriptButton(b.first, b.second, "down");
    EXPECT_EQ(script.machine->GetLog().GetEntryCount(), entries + 1) << b.first << ", " << b.second;
  }
  for (const inpButtonState& key : input.keys)
    for (const std::string& slot : key.callback) EXPECT_EQ(slot, "");
  for (const inpButtonState& button : input.mouse.buttons)
    for (const std::string& slot : button.callback) EXPECT_EQ(slot, "");
}

TEST_F(InputTest, EscapeTogglesTheMenuOnlyInDeveloperMode) {
  FakeMenu menu;
  input.menu = &menu;
  Bind(irr::KEY_ESCAPE);
  Bind(irr::KEY_KEY_A);
  Key(irr::KEY_ESCAPE, true);
  Key(irr::KEY_ESCAPE, false);
  Frame();
  EXPECT_FALSE(menu.open);
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"down", "up"}));

  script.printed.clear();
  input.developer = true;
  Key(irr::KEY_ESCAPE, true);
  EXPECT_TRUE(menu.open);
  // Open: nothing is recorded and nothing is called; GUI events go to the menu.
  Key(irr::KEY_ESCAPE, false);
  Key(irr::KEY_KEY_A, true);
  irr::SEvent gui{};
  gui.EventType = irr::EET_GUI_EVENT;
  device->postEventFromUser(gui);
  Frame();
  EXPECT_EQ(menu.guiEvents, 1);
  EXPECT_EQ(input.keys[irr::KEY_KEY_A].down, 0);
  // The escape that opened the menu was recorded before it opened, but no script runs
  // while the menu is open.
  EXPECT_TRUE(script.printed.empty());
  Key(irr::KEY_ESCAPE, true);
  EXPECT_FALSE(menu.open);
  input.menu = nullptr;
}

TEST_F(InputTest, ClosedWindowEndsTheLoopAfterTheStep) {
  Bind(irr::KEY_KEY_A);
  Key(irr::KEY_KEY_A, true);
  EXPECT_EQ(input.running, 1);
  device->closeDevice();
  Frame();
  EXPECT_EQ(input.running, 0);
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"down", "on"}));
}

}  // namespace
