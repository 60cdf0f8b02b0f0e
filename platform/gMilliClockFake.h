#pragma once
// Test clock: time stands still until the test moves it or the code under test sleeps or
// busy-waits, so frame-paced code runs at full speed and its waits can be measured.
#include "platform/gMilliClock.h"

class gMilliClockFake : public gMilliClock {
 public:
  std::uint64_t now = 0;  // microseconds
  // What one Relax advances: the resolution of a busy wait.
  std::uint32_t relaxStep = 10;

  // Totals of the time spent waiting, by kind.
  std::uint64_t slept = 0;
  std::uint64_t spun = 0;
  int sleeps = 0;

  std::uint64_t Microseconds() override { return now; }
  void SleepMicroseconds(std::uint32_t a_microseconds) override {
    now += a_microseconds;
    slept += a_microseconds;
    ++sleeps;
  }
  void Relax() override {
    now += relaxStep;
    spun += relaxStep;
  }

  void AdvanceMilliseconds(std::uint32_t a_milliseconds) { now += std::uint64_t(a_milliseconds) * 1000u; }
};
