#pragma once
// The system's millisecond tick and sleep, which the frame clock paces the game by. One
// steady counter: Milliseconds is Microseconds divided by 1000 and truncated to 32 bits, so
// it wraps like the Windows multimedia timer and a difference of two readings taken less
// than 49 days apart is exact in unsigned arithmetic.
#include <cstdint>

class gMilliClock {
 public:
  virtual ~gMilliClock() = default;

  virtual std::uint64_t Microseconds() = 0;
  std::uint32_t Milliseconds() { return static_cast<std::uint32_t>(Microseconds() / 1000u); }

  // Sleeps for at least that long (the system may oversleep by a scheduling slice).
  virtual void SleepMicroseconds(std::uint32_t a_microseconds) = 0;
  void Sleep(std::uint32_t a_milliseconds) { SleepMicroseconds(a_milliseconds * 1000u); }

  // Called between two readings of a busy wait: a processor hint on the real clock; the
  // fake moves its time on, so that a wait for a later reading ends.
  virtual void Relax() = 0;

  // The process's own clock (CLOCK_MONOTONIC on Linux); lives until the process ends.
  static gMilliClock& System();
};
