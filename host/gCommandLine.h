#pragma once
// The player's only configuration: the options and package name of its command line.
#include <string>

class gCommandLine {
 public:
  // What the process does once the arguments are read. Version and help end it at once,
  // before anything is created.
  enum Action { RUN, SHOW_VERSION, SHOW_HELP, BAD_USAGE };

  Action action = RUN;
  bool window = true;
  bool fullscreen = false;
  bool developer = false;
  bool checksum = false;
  std::string package = "Vastrelline";
  // "--score-server HOST[:PORT]": where score calls go instead of the product's server
  // (empty host: the built-in one). A bad value makes the action BAD_USAGE, with the reason.
  std::string scoreHost;
  int scorePort = 80;
  std::string usageError;

  // Arguments are examined from the last to the first, each compared whole and exactly,
  // so the leftmost plain argument names the package and "--devel" is a package name.
  // A checksum run never opens a window and always hashes the archive.
  static gCommandLine Parse(int argc, const char* const* argv);
};

// The two-line banner of "--version" and the short usage of "--help".
void gPrintVersion();
void gPrintUsage(const char* program);
