#include <time.h>

#include "platform/gMilliClock.h"

namespace {

class gMilliClockMonotonic : public gMilliClock {
 public:
  std::uint64_t Microseconds() override {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
  }

  void SleepMicroseconds(std::uint32_t a_microseconds) override {
    timespec wait;
    wait.tv_sec = static_cast<time_t>(a_microseconds / 1000000u);
    wait.tv_nsec = static_cast<long>(a_microseconds % 1000000u) * 1000L;
    // A signal (the stop request) cuts the sleep short; the caller's next reading decides.
    nanosleep(&wait, nullptr);
  }

  void Relax() override {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
};

}  // namespace

gMilliClock& gMilliClock::System() {
  static gMilliClockMonotonic clock;
  return clock;
}
