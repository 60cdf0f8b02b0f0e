#pragma once
// Runs the built player as a user does, in a directory of the test's choosing, and gives back
// what it wrote, how it ended and how long that took. A run ends by itself (--fixed-clock
// --frames N, or an option that ends the run), or, in a test of stopping, by a signal sent
// once its standard output holds a readiness text. Nothing here waits for a deadline: the
// one time limit is a safety net against a hung build, far above any run's length.
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testSupport {

struct PlayerRun {
  // The exit status; 128 + N when signal N ended the run; -1 when it could not be started.
  int status = -1;
  bool hitLimit = false;  // killed by the safety limit
  bool stopped = false;   // the stop signal was sent
  std::string out, err;
  double seconds = 0;        // wall time of the whole run
  double readySeconds = -1;  // wall time until the readiness text showed, when one was awaited
};

struct PlayerOptions {
  std::filesystem::path dir = ".";  // the working directory
  std::vector<std::string> args;
  // Put before the player on the command line, e.g. the virtual X server's script.
  std::vector<std::string> prefix;
  // Changes to the environment, applied in order: "NAME=VALUE" sets, "NAME" unsets. The
  // default keeps runs the same on every machine: no display, OpenAL's null device.
  std::vector<std::string> env = {"DISPLAY", "ALSOFT_DRIVERS=null"};
  // When not empty, stopSignal goes to the player once its standard output holds this.
  std::string stopAfter;
  int stopSignal = SIGTERM;
  double limitSeconds = 300;
  std::string player = OMBRIX_TEST_PLAYER;
};

PlayerRun RunPlayer(const PlayerOptions& a_options);

// The same, for a run that needs nothing but a directory and arguments.
PlayerRun RunPlayer(const std::filesystem::path& a_dir, const std::vector<std::string>& a_args);

// Standard output split into lines, without the space print ends each text with.
std::vector<std::string> PrintedLines(const std::string& a_out);

}  // namespace testSupport
