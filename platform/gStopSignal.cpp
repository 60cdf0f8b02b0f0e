#include "platform/gStopSignal.h"

#include <signal.h>
#include <time.h>

namespace {

volatile sig_atomic_t s_requested = 0;
timespec s_firstAt{};

// A repeat this soon after the first is the same request delivered twice: `timeout` and
// shells signal the child and then its whole process group, and the two deliveries only
// sometimes merge into one.
volatile sig_atomic_t s_sameRequestMs = 1000;

void OnSignal(int signal) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
  if (!s_requested) {
    s_requested = 1;
    s_firstAt = now;
    return;
  }
  const long long elapsedMs = (now.tv_sec - s_firstAt.tv_sec) * 1000LL + (now.tv_nsec - s_firstAt.tv_nsec) / 1000000;
  if (elapsedMs < s_sameRequestMs) return;
  // The first request was not honoured (a script that never returns): end the process
  // with the signal's default action.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

}  // namespace

void gStopSignal::Install(int a_sameRequestMs) {
  s_sameRequestMs = a_sameRequestMs;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool gStopSignal::Requested() { return s_requested != 0; }
