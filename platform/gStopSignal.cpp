#include "platform/gStopSignal.h"

#include <signal.h>

namespace {

volatile sig_atomic_t s_requested = 0;

void OnSignal(int signal) {
  s_requested = 1;
  // Back to the default action for the next one.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void gStopSignal::Install() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool gStopSignal::Requested() { return s_requested != 0; }
