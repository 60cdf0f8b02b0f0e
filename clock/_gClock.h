#pragma once
// The frame clock: the game's time base of frames of 1/30 second, and the script timers
// counted in frames.
//
// Timers form a delta list: each node's delta is the number of frames between the expiry of
// the node before it (of the present frame for the head) and its own, so a tick costs one
// decrement whatever the number of timers. Nodes due in the same frame are kept with the
// newest first.
//
// Pacing: a tick waits for the frame's slot on the millisecond clock; the reading at which
// the wait ends, and so the frame numbers, skipped slots and timer frames, are those of a
// busy wait, but the thread sleeps through all but the last fraction of a millisecond.
#include <cstdint>
#include <string>
#include <vector>

#include "scene/gScriptTable.h"

class gMilliClock;
class gmMachineEx;

enum { TIMER_ONCE = 1, TIMER_CYCLIC = 2 };

class _gClock {
 public:
  // The module the script global Clock wraps; made by its first construction.
  static _gClock* instance;

  static constexpr double kFramePeriod = 1.0 / 30.0;
  // Milliseconds of script time per frame.
  static constexpr int kFrameMilliseconds = 30;
  // A wait for a slot sleeps until this many microseconds before the millisecond reading can
  // reach it and busy-waits from there: more than the system's usual oversleep, little
  // enough to keep an idle game near zero processor use.
  static constexpr std::uint32_t kSpinMicroseconds = 400;

  _gClock();
  ~_gClock();
  _gClock(const _gClock&) = delete;
  _gClock& operator=(const _gClock&) = delete;

  // Start of the game's time: frame 0 now, no timers. Seeds the C library's generator (which
  // serves Random) with the start time in whole seconds and draws one number from it.
  // Timer callbacks are called in a_machine.
  void Initialise(gMilliClock* a_time, gmMachineEx* a_machine);

  // The clock step of a frame: count it (skipping slots that have already passed), wait for
  // its slot, sleep 1 ms, and fire the timers due, calling their functions in that order.
  void Tick();

  // Script side. The id of the new timer; ids are never given twice.
  int AddTimer(int a_kind, int a_milliseconds, const char* a_function, gmTableObject* a_table);
  // A timer that is not pending (fired once, removed, never made) changes nothing.
  void RemoveTimer(int a_id);

  std::uint32_t frameCounter = 0;
  // Seconds since the start, on the millisecond reading.
  double Elapsed();
  int PendingTimers() const;
  // The end of a game: every timer and every due call dropped, no machine to call into.
  // The time base stays; Initialise starts the next game.
  void Teardown();

  static int RegisterScriptType(gmMachineEx* a_machine);

 private:
  struct Timer {
    Timer* next = nullptr;
    int id = 0;
    int kind = TIMER_ONCE;
    int period = 0;  // frames
    int delta = 0;   // frames
    std::string function;
    gScriptTable table;
  };
  struct Call {
    std::string function;
    gScriptTable table;
  };

  void Insert(Timer* a_timer, int a_period);
  void WaitForSlot(double a_slot);
  void FireDue();
  void ReleaseTimers();

  gMilliClock* m_time = nullptr;
  gmMachineEx* m_machine = nullptr;
  std::uint32_t m_start = 0;  // millisecond reading at initialisation
  Timer* m_head = nullptr;
  int m_lastId = 0;
  std::vector<Call> m_calls;
};
