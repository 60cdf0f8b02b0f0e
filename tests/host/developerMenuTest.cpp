// The developer menu in-process on the null driver: Escape, suspension of the game's
// callbacks, the script line, Quit, the browser, the console and the error line. Events go
// through the device as a window's would, so the GUI's own handlers take part.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <memory>
#include <string>
#include <vector>

#include "binding/gConsole.h"
#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gDeveloperMenu.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"

using namespace irr;

namespace {

class DeveloperMenuTest : public testing::Test {
 protected:
  void SetUp() override {
    host = gNewScriptHost(true, gPlayerScriptApi());
    machine = host->GetMachine();
    device = createDevice(video::EDT_NULL, core::dimension2d<u32>(1024, 768), 32, false, false, false,
                          &_gInput::instance->receiver);
    ASSERT_NE(device, nullptr);
    time.now = 1'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gInput::instance->Setup(device, machine, true);
    menu.Setup(device, machine, _gInput::instance, true);
    _gInput::instance->menu = &menu;
    gFrame::menu = &menu;
    gmMachine::s_printCallback = gFrame::PrintScriptOutput;
    gConsole::SetSink(gFrame::PrintLine);
    frame.machine = machine;
    frame.input = _gInput::instance;
    frame.clock = _gClock::instance;
  }
  void TearDown() override {
    gConsole::SetSink(nullptr);
    gmMachine::s_printCallback = nullptr;
    gFrame::menu = nullptr;
    _gInput::instance->menu = nullptr;
    gScene::DestroyAll();
    delete _gClock::instance;
    delete _gInput::instance;
    device->drop();
    host.reset();
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }
  int Global(const char* a_name) { return machine->GetGlobals()->GetByName(machine, a_name).GetInt(); }
  void Key(EKEY_CODE a_key, bool a_down, wchar_t a_char = 0) {
    SEvent event{};
    event.EventType = EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = a_key;
    event.KeyInput.Char = a_char;
    event.KeyInput.PressedDown = a_down;
    device->postEventFromUser(event);
  }
  void Escape() {
    Key(KEY_ESCAPE, true);
    Key(KEY_ESCAPE, false);
  }
  void Type(const std::string& a_text) {
    device->getGUIEnvironment()->setFocus(menu.ScriptLine());
    menu.ScriptLine()->setText(L"");
    for (unsigned char c : a_text) {
      Key(KEY_KEY_A, true, static_cast<wchar_t>(c));
      Key(KEY_KEY_A, false, static_cast<wchar_t>(c));
    }
    Key(KEY_RETURN, true);
    Key(KEY_RETURN, false);
  }
  void Mouse(EMOUSE_INPUT_EVENT a_kind, int a_x, int a_y) {
    SEvent event{};
    event.EventType = EET_MOUSE_INPUT_EVENT;
    event.MouseInput.Event = a_kind;
    event.MouseInput.X = a_x;
    event.MouseInput.Y = a_y;
    device->postEventFromUser(event);
  }
  void Click(int a_x, int a_y) {
    Mouse(EMIE_MOUSE_MOVED, a_x, a_y);
    Mouse(EMIE_LMOUSE_PRESSED_DOWN, a_x, a_y);
    Mouse(EMIE_LMOUSE_LEFT_UP, a_x, a_y);
  }
  // Selects a line of a browser column as a click would: the list's own change event.
  void Select(int a_column, const std::wstring& a_line) {
    gui::IGUIListBox* list = menu.BrowserColumn(a_column);
    ASSERT_NE(list, nullptr);
    const int at = Find(list, a_line);
    ASSERT_GE(at, 0) << "no line in column " << a_column;
    list->setSelected(at);
    SEvent event{};
    event.EventType = EET_GUI_EVENT;
    event.GUIEvent.Caller = list;
    event.GUIEvent.Element = nullptr;
    event.GUIEvent.EventType = gui::EGET_LISTBOX_CHANGED;
    device->postEventFromUser(event);
  }
  static int Find(gui::IGUIListBox* a_list, const std::wstring& a_line, int a_from = 0) {
    for (u32 i = static_cast<u32>(a_from); i < a_list->getItemCount(); ++i)
      if (a_line == a_list->getListItem(i)) return static_cast<int>(i);
    return -1;
  }
  std::wstring LastConsoleLine() {
    gui::IGUIListBox* console = menu.Console();
    return console->getItemCount() ? console->getListItem(console->getItemCount() - 1) : L"";
  }
  void Frames(int a_count) {
    for (int i = 0; i < a_count; ++i) frame.Run();
  }

  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  IrrlichtDevice* device = nullptr;
  gMilliClockFake time;
  gFrame frame;
  gDeveloperMenu menu;
};

TEST_F(DeveloperMenuTest, EscapeSuspendsTheGameAndTheScriptLineRuns) {
  Run("global presses = 0; global press = function() { global presses = presses + 1; };"
      "Input.ScriptButton(KEY_SPACE, BUT_DOWN, \"press\");");
  Escape();
  EXPECT_TRUE(menu.IsOpen());
  EXPECT_TRUE(menu.Console()->isVisible());
  Key(KEY_SPACE, true);
  Key(KEY_SPACE, false);
  Frames(1);
  EXPECT_EQ(Global("presses"), 0);  // neither called nor recorded for later

  testing::internal::CaptureStdout();
  Type("print(\"typed\", 6 * 7);");
  Frames(1);
  // Every console line is also on standard output.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "typed 42 \n");
  EXPECT_EQ(LastConsoleLine(), L"typed 42 ");
  // A line that fails reports through the log, which the next frame's log step shows.
  Type("global broken = ;");
  Frames(1);
  bool error = false;
  for (u32 i = 0; i < menu.Console()->getItemCount(); ++i)
    error = error || std::wstring(menu.Console()->getListItem(i)).find(L"parse error") != std::wstring::npos;
  EXPECT_TRUE(error);

  Escape();
  EXPECT_FALSE(menu.IsOpen());
  EXPECT_FALSE(menu.Console()->isVisible());
  Key(KEY_SPACE, true);
  Frames(1);
  EXPECT_EQ(Global("presses"), 1);
}

TEST_F(DeveloperMenuTest, QuitEndsTheLoop) {
  Escape();
  gui::IGUIContextMenu* sub = menu.MenuBar()->getSubMenu(0);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(std::wstring(sub->getItemText(0)), L"Quit");
  // Open the menu bar's entry, then click the first item of its submenu, as a user would.
  Click(10, 5);
  ASSERT_TRUE(sub->isVisible());
  const core::rect<s32> item = sub->getAbsolutePosition();
  Click(item.UpperLeftCorner.X + 10, item.UpperLeftCorner.Y + 8);
  EXPECT_EQ(_gInput::instance->running, 0);
}

TEST_F(DeveloperMenuTest, BrowserListsSectionsOpensTablesByTheirRealKeysAndPrintsOnce) {
  Run("global zzTable = table(inner = table(deep = 1), name = \"leaf\");"
      "zzTable[1] = table(one = 1); zzTable[\"1\"] = \"text one\";"
      "global zzNumber = 3; global zzFunction = function() {};");
  Escape();
  gui::IGUIListBox* root = menu.BrowserColumn(0);
  ASSERT_NE(root, nullptr);
  const int table = Find(root, L"=TABLE==="), user = Find(root, L"=USER==="), var = Find(root, L"=VAR==="),
            func = Find(root, L"=FUNC===");
  EXPECT_EQ(table, 0);
  EXPECT_LT(table, user);
  EXPECT_LT(user, var);
  EXPECT_LT(var, func);
  EXPECT_GT(Find(root, L"zzTable"), table);
  EXPECT_LT(Find(root, L"zzTable"), user);
  EXPECT_GT(Find(root, L"Input"), user);  // a module object is native
  EXPECT_GT(Find(root, L"zzNumber"), var);
  EXPECT_GT(Find(root, L"zzFunction"), func);

  Select(0, L"zzTable");
  Frames(1);
  ASSERT_TRUE(menu.ColumnVisible(1));
  gui::IGUIListBox* child = menu.BrowserColumn(1);
  EXPECT_GE(Find(child, L"inner"), 0);
  EXPECT_GE(Find(child, L"1"), 0);

  // The integer key 1 holds a table; the string key "1" a text. Each line opens its own.
  const int intLine = Find(child, L"1");
  ASSERT_LT(intLine, Find(child, L"=USER==="));
  Select(1, L"1");
  Frames(1);
  ASSERT_TRUE(menu.ColumnVisible(2));
  EXPECT_GE(Find(menu.BrowserColumn(2), L"one"), 0);

  testing::internal::CaptureStdout();
  const int stringLine = Find(child, L"1", Find(child, L"=VAR==="));
  ASSERT_GT(stringLine, 0);
  child->setSelected(stringLine);
  SEvent event{};
  event.EventType = EET_GUI_EVENT;
  event.GUIEvent.Caller = child;
  event.GUIEvent.EventType = gui::EGET_LISTBOX_CHANGED;
  device->postEventFromUser(event);
  Frames(1);
  EXPECT_EQ(LastConsoleLine(), L"text one");
  EXPECT_FALSE(menu.ColumnVisible(2));  // a variable opens nothing
  // Later events refill the browser; the value is not printed again.
  event.GUIEvent.EventType = gui::EGET_ELEMENT_HOVERED;
  for (int i = 0; i < 5; ++i) {
    device->postEventFromUser(event);
    Frames(1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "text one\n");

  Escape();
  EXPECT_FALSE(menu.ColumnVisible(1));
}

TEST_F(DeveloperMenuTest, ConsoleKeepsTheNewestLinesAndEveryByte) {
  testing::internal::CaptureStdout();
  Run("for (i = 0; i < 5000; i = i + 1) { print(\"line\", i); }");
  Run("print(\"caf\xc3\xa9\");");
  testing::internal::GetCapturedStdout();
  const u32 count = menu.Console()->getItemCount();
  EXPECT_GE(count, static_cast<u32>(gDeveloperMenu::kConsoleLines));
  EXPECT_LE(count, static_cast<u32>(gDeveloperMenu::kConsoleLines + gDeveloperMenu::kConsoleLines / 4));
  EXPECT_EQ(std::wstring(menu.Console()->getListItem(count - 2)), L"line 4999 ");
  // Bytes above 127 are one character each, and come back as the same bytes.
  const std::wstring cafe = LastConsoleLine();
  ASSERT_EQ(cafe.size(), 6u);  // "café " in UTF-8 bytes
  EXPECT_EQ(cafe[3], static_cast<wchar_t>(0xC3));
  EXPECT_EQ(cafe[4], static_cast<wchar_t>(0xA9));
  Escape();
  testing::internal::CaptureStdout();
  Type("print(\"caf\xc3\xa9\");");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "caf\xc3\xa9 \n");
}

TEST_F(DeveloperMenuTest, ErrorLineShowsTheNewestErrorAtMostOnceASecond) {
  Run("global fail = function(t) { t.x.y = 1; };"
      "Clock.AddTimer(TIMER_CYCLIC, 0, \"fail\", table());");
  Frames(2);
  const std::wstring first = menu.ErrorLine();
  EXPECT_EQ(first, L"unknown(1) : setdot failed. (null has no member 'y' to set)")
      << std::string(first.begin(), first.end());
  EXPECT_EQ(first.find(L'\n'), std::wstring::npos);
  Run("Clock.AddTimer(TIMER_ONCE, 0, \"fail\", 5);");  // a different error, too soon to show
  Frames(2);
  EXPECT_EQ(menu.ErrorLine(), first);
  Run("global fail = function(t) {};");
  Frames(static_cast<int>(gDeveloperMenu::kErrorFrames) + 2);
  EXPECT_EQ(menu.ErrorLine(), L"");
}

}  // namespace
