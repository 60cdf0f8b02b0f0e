#pragma once
// The time source of "--fixed-clock": game time that moves only when the frame clock waits
// or sleeps, and then exactly as far as it asked. A tick's wait for its slot therefore ends
// at the first millisecond reading that reaches the slot, its 1 ms sleep lasts 1 ms, and no
// frame ever finds its slot already gone: frame numbers, timers and counters come out as in
// a real-time run that is never late, while the run itself goes as fast as the machine.
// Time starts at 0, so the generator behind Random is seeded the same on every run.
#include "platform/gMilliClock.h"

class gFixedClock : public gMilliClock {
 public:
  std::uint64_t Microseconds() override { return m_now; }
  void SleepMicroseconds(std::uint32_t a_microseconds) override { m_now += a_microseconds; }
  // A busy wait watches the millisecond reading, which next changes at the coming whole
  // millisecond: going straight there ends the wait where spinning would have.
  void Relax() override { m_now += 1000u - m_now % 1000u; }

 private:
  std::uint64_t m_now = 0;
};
