// The frame clock on a fake millisecond clock: timer frames, counters, skipped slots and
// the pacing of the wait for a slot.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "clock/_gClock.h"
#include "clock/cloCounter.h"
#include "platform/gMilliClockFake.h"
#include "tests/game/gameFixture.h"

namespace {

using Fired = std::vector<std::pair<unsigned, std::string>>;

class ClockTest : public testing::Test {
 protected:
  void SetUp() override {
    time.now = 7'000'250;  // not on a millisecond boundary
    clock.Initialise(&time, script.machine.get());
    _gClock::instance = &clock;
    script.Run("global onTimer = function(t) { print(t.name); };");
  }
  void TearDown() override { _gClock::instance = nullptr; }

  gmTableObject* Named(const std::string& a_name) {
    script.Run("global T_" + a_name + " = table(name = \"" + a_name + "\");");
    return script.Table(("T_" + a_name).c_str());
  }
  int Add(int a_kind, int a_ms, const std::string& a_name) {
    return clock.AddTimer(a_kind, a_ms, "onTimer", Named(a_name));
  }
  void Ticks(int a_count) {
    for (int i = 0; i < a_count; ++i) {
      script.frame = clock.frameCounter + 1;
      clock.Tick();
    }
  }

  gameTest::ScriptMachine script;
  gMilliClockFake time;
  _gClock clock;
};

TEST_F(ClockTest, OneShotTimersFireByFramesNewestFirst) {
  Add(TIMER_ONCE, 60, "A");
  Add(TIMER_ONCE, 60, "B");
  Add(TIMER_ONCE, 90, "C");
  Add(TIMER_ONCE, 0, "now");
  Add(TIMER_ONCE, 29, "short");  // 0 frames as well
  Ticks(6);
  EXPECT_EQ(script.printed, (Fired{{1, "short"}, {1, "now"}, {3, "B"}, {3, "A"}, {4, "C"}}));
  EXPECT_EQ(clock.PendingTimers(), 0);
}

TEST_F(ClockTest, CyclicTimers) {
  Add(TIMER_CYCLIC, 100, "c100");
  Ticks(13);
  EXPECT_EQ(script.printed, (Fired{{4, "c100"}, {7, "c100"}, {10, "c100"}, {13, "c100"}}));

  // Shorter than a frame: once per tick, never more, from the next tick on (each one queued
  // again goes before the other, due in the same frame).
  script.printed.clear();
  clock.RemoveTimer(1);
  Add(TIMER_CYCLIC, 10, "c10");
  Add(TIMER_CYCLIC, -50, "negative");
  Ticks(3);
  EXPECT_EQ(script.printed,
            (Fired{{14, "negative"}, {14, "c10"}, {15, "c10"}, {15, "negative"}, {16, "negative"}, {16, "c10"}}));
}

TEST_F(ClockTest, RemovalKeepsTheOthersOnTimeAndIdsAreNeverReused) {
  Add(TIMER_ONCE, 60, "A");                // due at tick 3
  const int b = Add(TIMER_ONCE, 90, "B");  // behind A with delta 1
  Add(TIMER_ONCE, 150, "C");               // behind B
  clock.RemoveTimer(b);
  clock.RemoveTimer(b);  // no longer pending
  clock.RemoveTimer(12345);
  Ticks(6);
  EXPECT_EQ(script.printed, (Fired{{3, "A"}, {6, "C"}}));

  // A one-shot timer that has fired leaves its id behind; a later timer never gets it.
  script.printed.clear();
  const int fired = Add(TIMER_ONCE, 0, "first");
  Ticks(1);
  const int later = Add(TIMER_ONCE, 30, "second");
  EXPECT_NE(later, fired);
  clock.RemoveTimer(fired);
  Ticks(2);
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(ClockTest, CallsRunAfterTheWalkAndMayAddTimers) {
  // A timer of 0 frames added by a call is not fired by the pass that made the call.
  const gmFunctionEntry entry = {"AddNow",
                                 [](gmThread* a_thread) -> int {
                                   _gClock::instance->AddTimer(TIMER_ONCE, 0, "onTimer", a_thread->ParamTable(0));
                                   return GM_NATIVE_OK;
                                 },
                                 0};
  script.machine->RegisterNatives(&entry, 1);
  script.Run("global adder = function(t) { print(t.name); AddNow(table(name = t.name + \"+\")); };");
  clock.AddTimer(TIMER_ONCE, 0, "adder", Named("A"));
  Ticks(3);
  EXPECT_EQ(script.printed, (Fired{{1, "A"}, {2, "A+"}}));
}

TEST_F(ClockTest, TimerTablesOutliveTheScriptsReferences) {
  script.Run("global temp = table(name = \"kept\"); global T_temp = temp;");
  clock.AddTimer(TIMER_CYCLIC, 30, "onTimer", script.Table("temp"));
  script.Run("global temp = null; global T_temp = null;");
  script.machine->Collect(true);
  Ticks(2);
  script.machine->Collect(true);
  Ticks(1);
  EXPECT_EQ(script.Lines(), (std::vector<std::string>{"kept", "kept"}));
}

TEST_F(ClockTest, TimersWithoutTableOrFunctionCallNothing) {
  clock.AddTimer(TIMER_ONCE, 0, "onTimer", nullptr);
  clock.AddTimer(TIMER_ONCE, 0, "", Named("x"));
  clock.AddTimer(TIMER_ONCE, 0, "noSuchFunction", Named("y"));
  Ticks(2);
  EXPECT_TRUE(script.printed.empty());
}

TEST_F(ClockTest, SlowFrameSkipsSlotsInsteadOfCatchingUp) {
  Ticks(3);
  EXPECT_EQ(clock.frameCounter, 3u);
  const int c = Add(TIMER_ONCE, 60, "late");
  (void)c;
  time.AdvanceMilliseconds(500);  // a frame's work took half a second
  Ticks(1);
  EXPECT_EQ(clock.frameCounter, 18u);
  // Timers count ticks, not frames: two more ticks to go.
  EXPECT_TRUE(script.printed.empty());
  const std::uint64_t before = time.now;
  Ticks(1);
  EXPECT_EQ(clock.frameCounter, 19u);
  // The next frame waits for its own slot again.
  EXPECT_GT(time.now - before, 20'000u);
}

// The wait ends at the first millisecond reading that reaches the slot, as a busy wait
// would, while spinning for less than half a millisecond per frame; also across the
// wrap of the 32-bit millisecond counter.
TEST(ClockPacing, SameScheduleAsABusyWaitWithLittleSpinning) {
  for (std::uint64_t startUs : {std::uint64_t(12'345'678), (std::uint64_t(1) << 32) * 1000u - 250'300u}) {
    gMilliClockFake time;
    time.now = startUs;
    _gClock clock;
    clock.Initialise(&time, nullptr);
    const std::uint32_t startMs = static_cast<std::uint32_t>(startUs / 1000u);
    for (std::uint32_t frame = 1; frame <= 100; ++frame) {
      const std::uint64_t spunBefore = time.spun;
      clock.Tick();
      ASSERT_EQ(clock.frameCounter, frame);
      std::uint32_t due = 0;
      while (due * 0.001 < frame * _gClock::kFramePeriod) ++due;
      // The tick ends 1 ms after the wait.
      const std::uint32_t endedMs = static_cast<std::uint32_t>((time.now - 1000u) / 1000u) - startMs;
      EXPECT_EQ(endedMs, due) << "frame " << frame << " from " << startUs;
      EXPECT_LE(time.spun - spunBefore, _gClock::kSpinMicroseconds + time.relaxStep);
    }
    _gClock::instance = nullptr;
  }
}

TEST_F(ClockTest, CountersStopResumeAndReset) {
  cloCounter counter;
  EXPECT_EQ(counter.GetTick(), 0);
  counter.Start();
  Ticks(5);
  EXPECT_EQ(counter.GetTick(), 5);
  counter.Stop();
  Ticks(4);
  EXPECT_EQ(counter.GetTick(), 5);
  counter.Stop();  // already stopped
  counter.Start();
  Ticks(2);
  counter.Start();  // already running: keeps its start
  Ticks(1);
  EXPECT_EQ(counter.GetTick(), 8);
  counter.Reset();
  EXPECT_EQ(counter.GetTick(), 0);
  Ticks(1);
  EXPECT_EQ(counter.GetTick(), 0);
}

TEST(CounterFormat, FourForms) {
  struct Case {
    unsigned ticks;
    const char* withHundredths;
    const char* without;
  } cases[] = {
      {0, "00.00", "00:00"},           {1, "00.03", "00:00"},       {100, "03.00", "00:03"},
      {1999, "59.97", "00:59"},        {2000, "01:00.00", "01:00"}, {2100, "01:03.00", "01:03"},
      {200000, "100:00.00", "100:00"},
  };
  for (const Case& c : cases) {
    cloCounter counter;
    counter.total = c.ticks;
    EXPECT_STREQ(counter.GetFormatedTime(1), c.withHundredths) << c.ticks;
    EXPECT_STREQ(counter.GetFormatedTime(0), c.without) << c.ticks;
  }
}

}  // namespace
