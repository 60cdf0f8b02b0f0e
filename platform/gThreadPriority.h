#pragma once
// Thread priority for the few threads that wait on a device and must answer it at once.
class gThreadPriority {
 public:
  // Moves the calling thread above every ordinary thread (the lowest real-time priority on
  // Linux, enough to run as soon as its device wakes it). False, changing nothing, when the
  // process may not do that; the thread then goes on at its ordinary priority.
  static bool RaiseCurrentThread();
};
