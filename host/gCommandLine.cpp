#include "host/gCommandLine.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "binding/gVersion.h"

gCommandLine gCommandLine::Parse(int argc, const char* const* argv) {
  gCommandLine line;
  for (int i = argc - 1; i >= 1; --i) {
    const char* arg = argv[i];
    if (i > 1 && std::strcmp(argv[i - 1], "--wiimote-sim") == 0) {
      // Absolute now: mounting a developer package moves the working directory.
      std::error_code ignored;
      const std::filesystem::path path = std::filesystem::absolute(arg, ignored);
      line.wiimoteSim = path.empty() ? arg : path.string();
      --i;
      continue;
    }
    if (std::strcmp(arg, "--wiimote-sim") == 0) {
      std::fprintf(stderr, "ombrix: --wiimote-sim needs a file name; the real Wiimote is used\n");
      continue;
    }
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
      "  --version     print the version and exit\n"
      "  --wiimote-sim FILE  a simulated Wiimote sends FILE's input reports (lines \"MS HEX...\")\n"
      "                and writes every output report it gets to FILE.out\n",
      program);
  std::fflush(stdout);
}
