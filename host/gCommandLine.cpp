#include "host/gCommandLine.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "binding/gVersion.h"

namespace {

// "HOST" or "HOST:PORT" with a port from 1 to 65535.
bool ReadScoreServer(const std::string& text, std::string* host, int* port) {
  std::string name = text;
  long number = 80;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    name = text.substr(0, colon);
    std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    number = std::stol(digits);
  }
  if (name.empty() || number < 1 || number > 65535) return false;
  *host = name;
  *port = int(number);
  return true;
}

}  // namespace

gCommandLine gCommandLine::Parse(int argc, const char* const* argv) {
  gCommandLine line;
  // The one option with a value is taken out first, so that the value is never read as
  // a package name by the right-to-left pass below.
  std::vector<const char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i == 0 || std::strcmp(argv[i], "--score-server") != 0) {
      args.push_back(argv[i]);
      continue;
    }
    if (i + 1 >= argc ||
        !ReadScoreServer(argv[i + 1], &line.scoreHost, &line.scorePort)) {
      line.action = BAD_USAGE;
      line.usageError = "--score-server needs HOST or HOST:PORT (a port from 1 to 65535)";
      return line;
    }
    ++i;
  }
  argc = int(args.size());
  argv = args.data();
  for (int i = argc - 1; i >= 1; --i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--nowindow") == 0) {
      line.window = false;
    } else if (std::strcmp(arg, "--version") == 0) {
      line.action = SHOW_VERSION;
      return line;
    } else if (std::strcmp(arg, "--help") == 0) {
      line.action = SHOW_HELP;
      return line;
    } else if (std::strcmp(arg, "--fullscreen") == 0) {
      line.fullscreen = true;
    } else if (std::strcmp(arg, "--dev") == 0) {
      line.developer = true;
    } else if (std::strcmp(arg, "--checksum") == 0) {
      line.checksum = true;
    } else {
      line.package = arg;
    }
  }
  if (line.checksum) {
    line.window = false;
    line.developer = false;
  }
  return line;
}

void gPrintVersion() {
  std::printf("Ombrix %s\n%s\n", ombrix::kEngineVersion, ombrix::kWebAddress);
  std::fflush(stdout);
}

void gPrintUsage(const char* program) {
  std::printf(
      "Usage: %s [options] [package]\n"
      "Plays the game in package.qvp (default Vastrelline) from the current directory.\n"
      "  --nowindow    run without a window (null video driver)\n"
      "  --fullscreen  open the window full-screen\n"
      "  --dev         developer mode: the package is a directory of loose files\n"
      "  --checksum    print the package checksum and exit\n"
      "  --score-server HOST[:PORT]\n"
      "                send scores to this server (port 80 by default) instead of the\n"
      "                built-in one, e.g. a local ombrix-scores\n"
      "  --version     print the version and exit\n",
      program);
  std::fflush(stdout);
}
