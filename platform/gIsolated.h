#pragma once
// Runs a piece of work where a crash or a hang cannot take the player with it: in a child
// process, a copy of this one made for the work alone. Only the calling thread exists in the
// child, so the work must not wait on locks other threads may hold (no standard output, no
// GL, no sound); what it computes is lost with the child, only how it ended comes back.
#include <functional>

class gIsolated {
 public:
  enum Result {
    FINISHED,     // the work returned
    CRASHED,      // a signal, or an exit of the child's own (a sanitizer's report)
    TIMED_OUT,    // still running after the time given; the child was killed
    UNAVAILABLE,  // no child could be made
  };

  static Result Run(const std::function<void()>& a_work, int a_timeoutMs);
};
