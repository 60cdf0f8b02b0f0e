#pragma once
// The player's only configuration: the options and package name of its command line.
#include <cstdio>
#include <string>

class gCommandLine {
 public:
  // What the process does once the arguments are read. Version and help end it at once,
  // before anything is created; so does a bad option value (BAD_ARGUMENT, with `error`).
  // An argument that starts with "-" and is no option is refused (UNKNOWN_OPTION), with the
  // usage.
  enum Action { RUN, SHOW_VERSION, SHOW_HELP, SHOW_API, BAD_ARGUMENT, UNKNOWN_OPTION };

  Action action = RUN;
  bool window = true;
  bool fullscreen = false;
  bool developer = false;
  bool checksum = false;
  std::string package = "Vastrelline";
  // --wiimote-sim FILE: a simulated Wiimote plays FILE's input reports and writes every
  // output report it gets to FILE.out (empty: the real device).
  std::string wiimoteSim;
  // "--score-server HOST[:PORT]": where score calls go instead of the product's server
  // (empty host: the built-in one). scoreServer is the option's text as given.
  std::string scoreServer;
  std::string scoreHost;
  int scorePort = 80;

  // Headless runs for continuous integration.
  unsigned frames = 0;      // frames to run before shutting down; 0 runs until stopped
  bool fixedClock = false;  // every frame is one period long and nothing waits
  std::string input;        // file of input events to replay, empty for none
  std::string screenshot;   // PNG written after the last frame, empty for none
  bool strict = false;      // exit 3 when a script error was logged
  // "--frame-times": the mean time per frame of each step of the loop, printed at the end.
  bool frameTimes = false;
  bool check = false;  // compile the package's scripts without running anything
  bool json = false;   // "--api --json": the script API listing as JSON
  // The author's loop. "--pack DIR [OUT.qvp]": DIR checked and packed into OUT (DIR.qvp
  // when not given). "--record FILE": the input events of the run written for "--input".
  // "--watch": in developer mode, a saved change to the package reloads the game.
  std::string pack;
  std::string packOutput;
  std::string record;
  bool watch = false;
  std::string error;  // why the line was refused (BAD_ARGUMENT)

  // Exit status of a run that stops at a bad option value or input file.
  static constexpr int kBadArgument = 1;
  // Exit status of a run refused for an argument that is no option.
  static constexpr int kUnknownOption = 2;

  // Options that take a value consume the argument after them, wherever they stand.
  // The other arguments are examined from the last to the first, each compared whole and
  // exactly, so the leftmost plain argument names the package; one that starts with "-" and
  // is no option ends the parse. A checksum run never opens a window and always hashes the archive.
  static gCommandLine Parse(int argc, const char* const* argv);

  // The package named by a command-line argument: with or without ".qvp", as a path.
  static std::string PackageName(const std::string& arg);

  // A whole positive number of frames that fits 31 bits, and nothing else.
  static bool ParseFrameCount(const std::string& text, unsigned& frames);
};

// The two-line banner of "--version" and the short usage of "--help".
void gPrintVersion();
void gPrintUsage(const char* program, std::FILE* out = stdout);
