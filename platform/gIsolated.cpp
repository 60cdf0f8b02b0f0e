#include "platform/gIsolated.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The exit status of a child whose work returned; anything else is a failure.
constexpr int kFinished = 0;

long long Milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

gIsolated::Result gIsolated::Run(const std::function<void()>& a_work, int a_timeoutMs) {
  const pid_t child = fork();
  if (child < 0) return UNAVAILABLE;
  if (child == 0) {
    // Nothing of the child reaches the player's output, not even a sanitizer's report.
    const int nothing = open("/dev/null", O_RDWR);
    if (nothing >= 0) {
      dup2(nothing, STDOUT_FILENO);
      dup2(nothing, STDERR_FILENO);
    }
    a_work();
    // Without exit's clean-up: the buffers and handlers are the parent's copies.
    _exit(kFinished);
  }

  const long long deadline = Milliseconds() + a_timeoutMs;
  // Most work ends within a millisecond or two: poll often at first, then less.
  long pauseUs = 50;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == kFinished ? FINISHED : CRASHED;
    if (done < 0 && errno != EINTR) return CRASHED;
    if (Milliseconds() >= deadline) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return TIMED_OUT;
    }
    const timespec pause{0, pauseUs * 1000};
    nanosleep(&pause, nullptr);
    if (pauseUs < 5000) pauseUs *= 2;
  }
}
