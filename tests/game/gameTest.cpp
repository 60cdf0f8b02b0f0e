// Whole frames in-process: the player's script API, the frame unit of the main loop, a fake
// millisecond clock and the null device. Scripts are the game; what they print, with the
// frame it was printed in, is what the tests read.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"

namespace {

using Printed = std::vector<std::pair<unsigned, std::string>>;

class GameTest : public testing::Test {
 protected:
  void SetUp() override {
    s_current = this;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = Capture;
    host = gNewScriptHost(false, gPlayerScriptApi());
    machine = host->GetMachine();
    ASSERT_NE(_gClock::instance, nullptr);
    ASSERT_NE(_gInput::instance, nullptr);
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32, false, false,
                               false, &_gInput::instance->receiver);
    ASSERT_NE(device, nullptr);
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gInput::instance->Setup(device, machine, false);
    frame.machine = machine;
    frame.input = _gInput::instance;
    frame.clock = _gClock::instance;
    // The components are other subsystems; these stand-ins let the prelude build scenes and
    // objects without them, as objects made without a component.
    Run("global _ScePhysics = function(s) { return null; };"
        "global _SceGraphics = function(s) { return null; };"
        "global _ObjPhysics = function(o) { return null; };"
        "global _ObjGraphics = function(o) { return null; };"
        "global _ObjAudio = function(o) { return null; };");
  }
  void TearDown() override {
    gScene::DestroyAll();
    delete _gClock::instance;
    delete _gInput::instance;
    device->drop();
    host.reset();
    gmMachine::s_printCallback = m_savedPrint;
    s_current = nullptr;
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }
  void Frames(int a_count) {
    for (int i = 0; i < a_count; ++i) frame.Run();
  }
  void Key(int a_code, bool a_down) {
    irr::SEvent event{};
    event.EventType = irr::EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = static_cast<irr::EKEY_CODE>(a_code);
    event.KeyInput.PressedDown = a_down;
    device->postEventFromUser(event);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& p : printed) lines.push_back(p.second);
    return lines;
  }
  std::vector<std::string> LogSince(int a_first) {
    std::vector<std::string> entries;
    bool first = true;
    int index = 0;
    while (const char* entry = machine->GetLog().GetEntry(first))
      if (index++ >= a_first) entries.push_back(entry);
    return entries;
  }

  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  irr::IrrlichtDevice* device = nullptr;
  gMilliClockFake time;
  gFrame frame;
  Printed printed;

 private:
  static void Capture(gmMachine*, const char* a_text) {
    std::string line = a_text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    s_current->printed.emplace_back(s_current->frame.frames + 1, line);
  }
  static GameTest* s_current;
  gmPrintCallback m_savedPrint = nullptr;
};

GameTest* GameTest::s_current = nullptr;

TEST_F(GameTest, TimersFromScripts) {
  Run("global say = function(t) { print(t.name); };"
      "Clock.AddTimer(TIMER_ONCE, 60, \"say\", table(name = \"A\"));"
      "Clock.AddTimer(TIMER_ONCE, 60, \"say\", table(name = \"B\"));"
      "Clock.AddTimer(TIMER_ONCE, 90, \"say\", table(name = \"C\"));"
      "global cyclic = Clock.AddTimer(TIMER_CYCLIC, 100, \"say\", table(name = \"cyclic\"));");
  Frames(7);
  EXPECT_EQ(printed, (Printed{{3, "B"}, {3, "A"}, {4, "cyclic"}, {4, "C"}, {7, "cyclic"}}));
  Run("Clock.RemoveTimer(cyclic);");
  printed.clear();
  Frames(6);
  EXPECT_TRUE(printed.empty());
  // The frames were paced on the fake clock: 13 slots of 1/30 s.
  EXPECT_EQ(_gClock::instance->frameCounter, 13u);
}

TEST_F(GameTest, CountersFromScripts) {
  Run("global c = Counter(); c.Start();"
      "global show = function(t) {"
      "  c.Stop(); print(c.GetTick(), c.GetFormatedTime(1)); print(c.GetFormatedTime(0));"
      // Both texts are the counter's one buffer, as the second formatting left it.
      "  a = c.GetFormatedTime(1); b = c.GetFormatedTime(0); print(a, b);"
      "};"
      "Clock.AddTimer(TIMER_ONCE, 2970, \"show\", table());");
  Frames(100);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"100 03.00", "00:03", "00:03 00:03"}));
}

// Input callbacks (step 4) run before the objects' functions (step 5), and those before the
// timers (step 8), within one frame.
TEST_F(GameTest, OneFrameInItsOrder) {
  Run("global key = function() { print(\"key\"); };"
      "Input.ScriptButton(KEY_SPACE, BUT_DOWN, \"key\");"
      "global timer = function(t) { print(\"timer\"); };"
      "Clock.AddTimer(TIMER_ONCE, 0, \"timer\", table());"
      "NewScene(\"level\");"
      "global step = function(o) { print(\"object\"); };"
      "level.NewObject(\"ball\").Script(\"step\");");
  Key(irr::KEY_SPACE, true);
  Frames(1);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"key", "object", "timer"}));
}

TEST_F(GameTest, ScenesAndObjectsFromScripts) {
  Run("NewScene(\"level\");"
      "global ball = level.NewObject(\"ball\");"
      "global sameTable = (ball == level.ball);"
      "global wall = level.NewObject(\"wall\");"
      "global count = function(o) { o.n = o.n + 1; if (o.n == 2) { o.Delete(); } };"
      "ball.n = 0; ball.Script(\"count\");");
  EXPECT_EQ(machine->GetGlobals()->GetByName(machine, "sameTable").GetInt(), 1);
  Frames(2);  // deleted itself in frame 2, still in the scene
  Run("global members = 0; foreach (k and v in ball) { members = members + 1; }");
  EXPECT_GT(machine->GetGlobals()->GetByName(machine, "members").GetInt(), 0);
  Frames(1);
  Run("global members = 0; foreach (k and v in ball) { members = members + 1; }");
  EXPECT_EQ(machine->GetGlobals()->GetByName(machine, "members").GetInt(), 0);
  // Its Delete went with its other members: calling it is a script error.
  const int entries = machine->GetLog().GetEntryCount();
  Run("ball.Delete(); print(\"not reached\");");
  EXPECT_GT(machine->GetLog().GetEntryCount(), entries);
  EXPECT_TRUE(printed.empty());
  Run("print(wall._core._Scene() == level);");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1"}));
}

// The object text runs from one compilation per distinct text; every run still reads the
// globals of the moment and fails as a fresh compilation would.
TEST_F(GameTest, ObjectsMadeAgainUnderOneNameSeeTheGlobalsOfTheMoment) {
  Run("NewScene(\"level\");"
      "global first = level.NewObject(\"ball\"); global second = level.NewObject(\"ball\");"
      "print(first != second, level.ball == second, first._core != null);");
  Run("global made = Object; global Object = function(s) { o = made(s); o.marked = 1; return o; };"
      "print(level.NewObject(\"ball\").marked);");
  Run("global kept = level; global level = null;");
  const int entries = machine->GetLog().GetEntryCount();
  Run("print(kept.NewObject(\"ball\") == null); print(kept.NewObject(\"ball\") == null);");
  EXPECT_GE(machine->GetLog().GetEntryCount(), entries + 2);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1 1 1", "1", "1", "1"}));
}

TEST_F(GameTest, ScriptErrorsFromInputAndScenes) {
  const int entries = machine->GetLog().GetEntryCount();
  Run("Input.ScriptButton(KEY_A, 5, \"x\"); print(\"not reached\");");
  Run("NewScene(\"level\"); level.NewCloth(\"flag\"); print(\"not reached\");");
  EXPECT_TRUE(printed.empty());
  const std::vector<std::string> log = LogSince(entries);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("Input.ScriptButton(65, 5, \"x\"): the state must be BUT_DOWN, BUT_ON or BUT_UP"),
            std::string::npos)
      << log[0];
  bool cloth = false;
  for (const std::string& entry : log) cloth = cloth || entry.find("level.NewCloth(\"flag\")") != std::string::npos;
  EXPECT_TRUE(cloth);
}

TEST_F(GameTest, NewLogEntriesGoToStandardOutputEachFrame) {
  Frames(1);
  Run("global broken = function(t) { t.x.y = 1; };"
      "Clock.AddTimer(TIMER_ONCE, 0, \"broken\", table());");
  testing::internal::CaptureStdout();
  Frames(2);  // fails in frame 2, shown in frame 3
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("callstack..\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\n\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\r'), std::string::npos) << out;
  testing::internal::CaptureStdout();
  Frames(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A game whose per-frame function fails every frame: each failure is shown once, in order,
// and the log holds a bounded amount however long the game runs.
TEST_F(GameTest, LogOfAGameFailingEveryFrameStaysBounded) {
  Run("NewScene(\"level\"); global n = 0;"
      "global step = function(o) { global n = n + 1; n = o.missing.x; };"
      "level.NewObject(\"ball\").Script(\"step\");");
  testing::internal::CaptureStdout();
  Frames(100000);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_LE(machine->GetLog().GetBytesHeld(), size_t(gmLog::KEEP_BYTES) + 2 * gmLog::BLOCK_SIZE + 256);
  EXPECT_GE(machine->GetLog().GetEntryCount(), 100000 * 4);
  size_t failures = 0;
  for (size_t at = out.find("getdot failed."); at != std::string::npos; at = out.find("getdot failed.", at + 1))
    ++failures;
  // The last frame's failure is shown by the next frame's log step.
  EXPECT_EQ(failures, 100000u - 1);
}

// Nothing resumes a callback that sleeps, blocks or yields: its thread goes when the call
// returns, instead of one more thread every frame.
TEST_F(GameTest, CallbacksThatStopLeaveNoThreadBehind) {
  Run("NewScene(\"level\");"
      "global nap = function(o) { sleep(1); }; global wait = function(o) { block(1); };"
      "global pause = function(o) { yield(); }; global quit = function(o) { exit(); };"
      "level.NewObject(\"a\").Script(\"nap\"); level.NewObject(\"b\").Script(\"wait\");"
      "level.NewObject(\"c\").Script(\"pause\"); level.NewObject(\"d\").Script(\"quit\");"
      "global tick = function(t) { sleep(1); }; Clock.AddTimer(TIMER_CYCLIC, 0, \"tick\", table());");
  Frames(100);
  Run("print(tableCount(threadAllIds()));");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1"}));
}

// Wrappers outlive their natives: a wrapper kept after the object (or, at teardown, the
// scene) is destroyed calls nothing and gives null, whether a constructor or a method made
// it. Under the sanitizer build any reach into the freed native fails the test.
TEST_F(GameTest, WrappersKeptPastTheirNativeCallNothing) {
  Run("global sc = _Scene(); global ob = _Object(sc); global t = table(); ob._Table(t);"
      "global again = ob._Scene();"  // a method result of another kind
      "NewScene(\"level\"); global ball = level.NewObject(\"ball\"); global core = ball._core;"
      "sc._DelObject(t); ball.Delete();");
  Frames(1);
  Run("print(ob._Name(\"x\"), ob._Scene(), core._Script(\"f\"), core._Scene());");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"null null null null"}));
  Run("global keptScene = level._core;");
  gScene::DestroyAll();
  printed.clear();
  Run("print(keptScene._NewObject(\"late\"), keptScene._Name(\"x\"));");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"null null"}));
  // Collecting the cut wrappers afterwards touches nothing freed either.
  Run("ob = null; core = null; keptScene = null; sysCollectGarbage(1);");
}

int s_stopAfter = 0;
bool StopRequested() { return --s_stopAfter <= 0; }

// A stop request or a closed window ends the loop after the frame in progress, clock step
// included; nothing further runs.
TEST_F(GameTest, LoopEndsAfterTheFrameInProgress) {
  Run("global say = function(t) { print(\"timer\"); };"
      "Clock.AddTimer(TIMER_CYCLIC, 0, \"say\", table());");
  s_stopAfter = 3;
  frame.Loop(&StopRequested);
  EXPECT_EQ(frame.frames, 3u);
  EXPECT_EQ(_gInput::instance->running, 0);
  EXPECT_EQ(printed, (Printed{{1, "timer"}, {2, "timer"}, {3, "timer"}}));

  _gInput::instance->running = 1;
  device->closeDevice();
  frame.Loop();
  EXPECT_EQ(frame.frames, 4u);
  EXPECT_EQ(_gClock::instance->frameCounter, 4u);
  EXPECT_EQ(printed.back(), (std::pair<unsigned, std::string>{4, "timer"}));
}

}  // namespace
