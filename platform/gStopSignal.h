#pragma once
// Ctrl+C (SIGINT) and SIGTERM ask the player to stop instead of killing it, so that a
// headless run ends like a closed window: the frame in progress finishes, shutdown runs,
// and the exit status is 0.
class gStopSignal {
 public:
  // Installs the handlers. A second signal a_sameRequestMs or more after the first still
  // ends the process at once, so a player stuck in a script can always be stopped; one
  // sooner is taken as the same request delivered twice.
  static void Install(int a_sameRequestMs = 1000);
  static bool Requested();
};
