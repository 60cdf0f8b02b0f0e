#include "host/gCommandLine.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include <filesystem>
#include <string>
#include <vector>

#include "binding/gConsole.h"
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
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    number = std::stol(digits);
  }
  if (name.empty() || number < 1 || number > 65535) return false;
  *host = name;
  *port = int(number);
  return true;
}

bool EndsInPng(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".png") == 0;
}

// The options that take the argument after them as their value.
std::string* ValueOf(gCommandLine& line, const char* arg) {
  if (std::strcmp(arg, "--input") == 0) return &line.input;
  if (std::strcmp(arg, "--screenshot") == 0) return &line.screenshot;
  if (std::strcmp(arg, "--wiimote-sim") == 0) return &line.wiimoteSim;
  if (std::strcmp(arg, "--score-server") == 0) return &line.scoreServer;
  if (std::strcmp(arg, "--pack") == 0) return &line.pack;
  if (std::strcmp(arg, "--record") == 0) return &line.record;
  return nullptr;
}

// Contradictions that only show once every argument is read.
std::string Contradiction(const gCommandLine& line) {
  if (line.check && line.checksum) return "--check and --checksum cannot be used together";
  if (!line.pack.empty()) {
    if (line.check || line.checksum)
      return "--pack runs the checks itself and cannot be used with --check or --checksum";
    if (line.packOutput.size() <= 4 || line.packOutput.compare(line.packOutput.size() - 4, 4, ".qvp") != 0)
      return "--pack writes a package: its name must end in .qvp, not \"" + line.packOutput + "\"";
    return "";
  }
  if (line.watch && !line.developer) return "--watch needs --dev: only a directory package can change while it plays";
  if (!line.record.empty() && (line.check || line.checksum))
    return "--record needs a game to play: not with --check or --checksum";
  // A check or checksum run renders nothing and never runs a frame.
  if (line.check || line.checksum || line.screenshot.empty()) return "";
  if (!EndsInPng(line.screenshot)) return "--screenshot writes a PNG file: its name must end in .png";
  if (line.frames == 0) return "--screenshot needs --frames N: the picture is taken after the last frame";
  if (!line.window) return "--screenshot cannot be used with --nowindow: without a window nothing is rendered";
  return "";
}

}  // namespace

// "Mygame", "Mygame.qvp", "games/Mygame.qvp" and "/abs/Mygame/" all name the same kind of
// thing: the package's path without its extension (a directory's trailing slashes dropped).
std::string gCommandLine::PackageName(const std::string& a_arg) {
  std::string name = a_arg;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  static const std::string kExtension = ".qvp";
  if (name.size() > kExtension.size() &&
      name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) == 0 &&
      name[name.size() - kExtension.size() - 1] != '/')
    name.resize(name.size() - kExtension.size());
  return name;
}

bool gCommandLine::ParseFrameCount(const std::string& text, unsigned& frames) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 0x7fffffffULL) return false;
  frames = static_cast<unsigned>(value);
  return true;
}

gCommandLine gCommandLine::Parse(int argc, const char* const* argv) {
  gCommandLine line;
  std::string error;
  // Values first, so that a value is never mistaken for the package name or an option.
  std::vector<bool> taken(argc > 0 ? static_cast<size_t>(argc) : 0, false);
  bool framesGiven = false;
  bool api = false;
  bool packageGiven = false;
  std::string packageArgument;  // as given, for --pack's OUT.qvp
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string* value = ValueOf(line, arg);
    const bool frames = std::strcmp(arg, "--frames") == 0;
    if (!value && !frames) continue;
    taken[i] = true;
    if (i + 1 >= argc) {
      if (error.empty()) error = std::string(arg) + " needs a value";
      continue;
    }
    taken[++i] = true;
    const bool repeated = frames ? framesGiven : !value->empty();
    if (repeated && error.empty()) error = std::string(arg) + " is given twice";
    if (frames) {
      framesGiven = true;
      if (!ParseFrameCount(argv[i], line.frames) && error.empty())
        error = std::string("--frames needs a whole number of frames from 1 to 2147483647, not \"") +
                gConsole::Quote(argv[i]) + "\"";
    } else {
      *value = argv[i];
      if (value->empty() && error.empty()) error = std::string(arg) + " needs a file name";
    }
  }

  for (int i = argc - 1; i >= 1; --i) {
    if (taken[i]) continue;
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
    } else if (std::strcmp(arg, "--fixed-clock") == 0) {
      line.fixedClock = true;
    } else if (std::strcmp(arg, "--strict") == 0) {
      line.strict = true;
    } else if (std::strcmp(arg, "--frame-times") == 0) {
      line.frameTimes = true;
    } else if (std::strcmp(arg, "--check") == 0) {
      line.check = true;
    } else if (std::strcmp(arg, "--api") == 0) {
      api = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      line.json = true;
    } else if (std::strcmp(arg, "--watch") == 0) {
      line.watch = true;
    } else if (arg[0] == '-') {
      // A mistyped option would otherwise be looked for as a package of that name.
      line.action = UNKNOWN_OPTION;
      line.error = std::string("unknown option ") + arg;
      return line;
    } else {
      line.package = PackageName(arg);
      packageArgument = arg;
      packageGiven = true;
    }
  }
  // "--pack DIR OUT.qvp": the plain argument is where the package goes.
  if (!line.pack.empty()) {
    std::string folder = line.pack;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    line.packOutput = packageGiven ? packageArgument : folder + ".qvp";
  }
  if (line.checksum) {
    line.window = false;
    line.developer = false;
  }
  if (!line.scoreServer.empty() && !ReadScoreServer(line.scoreServer, &line.scoreHost, &line.scorePort) &&
      error.empty())
    error = "--score-server needs HOST or HOST:PORT (a port from 1 to 65535), not \"" +
            gConsole::Quote(line.scoreServer) + "\"";
  if (!line.record.empty()) {
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::absolute(line.record, ignored);
    if (!path.empty()) line.record = path.string();
  }
  if (!line.wiimoteSim.empty()) {
    // Absolute now: mounting a developer package moves the working directory.
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::absolute(line.wiimoteSim, ignored);
    if (!path.empty()) line.wiimoteSim = path.string();
  }
  if (line.json && !api && error.empty()) error = "--json only goes with --api";
  if (error.empty()) error = Contradiction(line);
  if (!error.empty()) {
    line.action = BAD_ARGUMENT;
    line.error = error;
  } else if (api) {
    line.action = SHOW_API;
  }
  return line;
}

void gPrintVersion() {
  std::printf("Ombrix %s\n%s\n", ombrix::kEngineVersion, ombrix::kWebAddress);
  std::fflush(stdout);
}

void gPrintUsage(const char* program, std::FILE* out) {
  std::fprintf(out,
               "Usage: %s [options] [package]\n"
               "Plays the game in package.qvp (default Vastrelline). The package may be given with or\n"
               "without .qvp and as a path (games/Mygame.qvp, /home/me/Mygame); a bare name is looked\n"
               "for in the current directory.\n"
               "  --nowindow          run without a window (null video driver)\n"
               "  --fullscreen        open the window full-screen\n"
               "  --dev               developer mode: the package is a directory of loose files\n"
               "  --checksum          print the package checksum and exit\n"
               "  --score-server HOST[:PORT]\n"
               "                      send scores to this server (port 80 by default) instead of the\n"
               "                      built-in one, e.g. a local ombrix-scores\n"
               "  --version           print the version and exit\n"
               "  --api [--json]      print the script API this player registers (Markdown, or JSON)\n"
               "                      and exit; docs/api.md describes every entry\n"
               "  --wiimote-sim FILE  a simulated Wiimote sends FILE's input reports (lines \"MS HEX...\")\n"
               "                      and writes every output report it gets to FILE.out\n"
               "Headless and scripted runs (they combine with each other, --nowindow and --dev):\n"
               "  --frames N          run exactly N frames, then shut down (exit status 0)\n"
               "  --fixed-clock       each frame is exactly 1/30 s of game time and nothing waits:\n"
               "                      timers and counters as in real time, the run as fast as it goes\n"
               "  --input FILE        replay the input events of FILE, one per line:\n"
               "                        FRAME key NAME down|up    (NAME: KEY_SPACE or a key code)\n"
               "                        FRAME mouse BUTTON down|up (BUTTON: 0 left, 1 right, 2 middle)\n"
               "                        FRAME move X Y            (window pixels)\n"
               "                        FRAME wiimote HEX...      (a Wiimote data report, as --record writes)\n"
               "                        FRAME wiimote connect     (the remote connects in that frame)\n"
               "                      frames count from 1; blank lines and # comments are skipped\n"
               "  --screenshot F.png  after the last frame of a --frames run, write it as PNG\n"
               "                      (needs a window: not with --nowindow)\n"
               "  --strict            exit status 3 when a script error was logged during the run\n"
               "  --frame-times       at the end, print each step's mean time per frame to stderr\n"
               "  --check             compile every script of the package without running anything\n"
               "                      and list errors and package problems; exit 1 when any\n"
               "The author's loop:\n"
               "  F5 or Ctrl+R        (with --dev) reload the game from its files in place\n"
               "  --watch             (with --dev) reload by itself when a file of the package is saved\n"
               "  --record FILE       write the run's keyboard, mouse and Wiimote events to FILE, for --input\n"
               "                      (game time counts as with --fixed-clock, frames paced to real time)\n"
               "  --pack DIR [OUT.qvp] check the directory DIR as --check --dev does and, without problems,\n"
               "                      pack it into OUT.qvp (DIR.qvp) with the same bytes on every run\n"
               "  --help              print this and exit\n"
               "An argument that starts with - and is none of these is refused (exit status 2).\n"
               "Standard output carries the player's lines and what scripts print; the 3D engine's log\n"
               "and the Wiimote driver's lines (\"Wiimote : ...\": its first attempt to connect, then\n"
               "only when the outcome changes) go to standard error.\n"
               "Exit status:\n"
               "  0    the run ended (window closed, Quit, --frames done, Ctrl+C or SIGTERM), or\n"
               "       --version, --help, --checksum, or --check without problems\n"
               "  1    a bad option value or input file, no graphics device, no screenshot written,\n"
               "       or --check found problems\n"
               "  2    an unknown option\n"
               "  3    --strict: a script error was logged (a start.qv that is missing or does not\n"
               "       compile included)\n"
               "  255  start.qv is missing or does not compile (without --strict)\n",
               program);
  std::fflush(out);
}
