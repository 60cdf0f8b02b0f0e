#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/gCommandLine.h"

namespace {

struct Case {
  std::vector<const char*> args;  // after the program name
  gCommandLine::Action action;
  bool window, fullscreen, developer, checksum;
  const char* package;
};

gCommandLine ParseArgs(std::vector<const char*> args) {
  args.insert(args.begin(), "ombrix");
  return gCommandLine::Parse(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, Table) {
  using A = gCommandLine::Action;
  const Case cases[] = {
      {{}, A::RUN, true, false, false, false, "Vastrelline"},
      {{"first", "second"}, A::RUN, true, false, false, false, "first"},
      // An argument that starts with "-" and is no option is refused, not taken for a package.
      {{"--devel"}, A::UNKNOWN_OPTION, true, false, false, false, "Vastrelline"},
      {{"--DEV", "-dev", "--dev "}, A::UNKNOWN_OPTION, true, false, false, false, "Vastrelline"},
      {{"game", "-"}, A::UNKNOWN_OPTION, true, false, false, false, "Vastrelline"},
      // A package with or without its extension, as a path.
      {{"Mygame.qvp"}, A::RUN, true, false, false, false, "Mygame"},
      {{"games/Mygame.qvp"}, A::RUN, true, false, false, false, "games/Mygame"},
      {{"--dev", "/abs/Mygame/"}, A::RUN, true, false, true, false, "/abs/Mygame"},
      {{".qvp"}, A::RUN, true, false, false, false, ".qvp"},
      {{"Mygame.QVP"}, A::RUN, true, false, false, false, "Mygame.QVP"},
      {{"--nowindow", "--fullscreen", "--dev", "g"}, A::RUN, false, true, true, false, "g"},
      // A checksum run hashes the archive and opens no window, whatever else is asked.
      {{"--checksum", "--dev", "game"}, A::RUN, false, false, false, true, "game"},
      {{"game", "--dev", "--checksum"}, A::RUN, false, false, false, true, "game"},
      {{"--checksum", "--fullscreen"}, A::RUN, false, true, false, true, "Vastrelline"},
      {{"--version"}, A::SHOW_VERSION, true, false, false, false, "Vastrelline"},
      {{"game", "--dev", "--version", "--nowindow"}, A::SHOW_VERSION, false, false, false, false, "Vastrelline"},
      {{"--help", "--version"}, A::SHOW_VERSION, true, false, false, false, "Vastrelline"},
      {{"--version", "--help"}, A::SHOW_HELP, true, false, false, false, "Vastrelline"},
      {{"--help=1"}, A::UNKNOWN_OPTION, true, false, false, false, "Vastrelline"},
      {{"--api", "--json", "game"}, A::SHOW_API, true, false, false, false, "game"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    SCOPED_TRACE(label);
    const gCommandLine line = ParseArgs(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.window, c.window);
    EXPECT_EQ(line.fullscreen, c.fullscreen);
    EXPECT_EQ(line.developer, c.developer);
    EXPECT_EQ(line.checksum, c.checksum);
    EXPECT_EQ(line.package, c.package);
    if (c.action == A::UNKNOWN_OPTION) {
      EXPECT_EQ(line.error.rfind("unknown option ", 0), 0u) << line.error;
    }
  }
}

// The option's value is taken with it wherever it stands, so it never becomes the package.
TEST(CommandLine, ScoreServer) {
  struct ScoreCase {
    std::vector<const char*> args;
    gCommandLine::Action action;
    const char* host;
    int port;
    const char* package;
  };
  using A = gCommandLine::Action;
  const ScoreCase cases[] = {
      {{"game"}, A::RUN, "", 80, "game"},
      {{"--score-server", "localhost:8080", "game"}, A::RUN, "localhost", 8080, "game"},
      {{"game", "--score-server", "10.0.0.2"}, A::RUN, "10.0.0.2", 80, "game"},
      {{"--dev", "--score-server", "h:1", "--nowindow"}, A::RUN, "h", 1, "Vastrelline"},
      {{"--score-server", "--dev"}, A::RUN, "--dev", 80, "Vastrelline"},
      {{"game", "--score-server"}, A::BAD_ARGUMENT, "", 80, "game"},
      {{"--score-server", "h:0"}, A::BAD_ARGUMENT, "", 80, "Vastrelline"},
      {{"--score-server", "h:65536"}, A::BAD_ARGUMENT, "", 80, "Vastrelline"},
      {{"--score-server", "h:"}, A::BAD_ARGUMENT, "", 80, "Vastrelline"},
      {{"--score-server", ":8080"}, A::BAD_ARGUMENT, "", 80, "Vastrelline"},
      {{"--score-server", "h:80x"}, A::BAD_ARGUMENT, "", 80, "Vastrelline"},
  };
  for (const ScoreCase& c : cases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    SCOPED_TRACE(label);
    const gCommandLine line = ParseArgs(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.scoreHost, c.host);
    EXPECT_EQ(line.scorePort, c.port);
    EXPECT_EQ(line.package, c.package);
    EXPECT_EQ(line.error.empty(), c.action != A::BAD_ARGUMENT);
  }
}

}  // namespace

namespace {

TEST(CommandLine, HeadlessOptions) {
  struct Headless {
    std::vector<const char*> args;
    unsigned frames;
    bool fixedClock, strict, check;
    const char *input, *screenshot, *package;
  };
  const Headless cases[] = {
      {{"--frames", "600", "--fixed-clock", "--input", "keys.txt", "--strict", "--nowindow", "--dev", "g"},
       600,
       true,
       true,
       false,
       "keys.txt",
       "",
       "g"},
      // A value is never the package, wherever the option stands.
      {{"g", "--frames", "1"}, 1, false, false, false, "", "", "g"},
      {{"--input", "game", "--frames", "2147483647"}, 2147483647u, false, false, false, "game", "", "Vastrelline"},
      {{"--frames", "3", "--screenshot", "shot.PNG", "g"}, 3, false, false, false, "", "shot.PNG", "g"},
      {{"--frames", "007"}, 7, false, false, false, "", "", "Vastrelline"},
      // --check takes the package like any plain argument, before or after --dev.
      {{"--check", "g"}, 0, false, false, true, "", "", "g"},
      {{"--check", "--dev", "g"}, 0, false, false, true, "", "", "g"},
      // A check or checksum never renders, so a screenshot there is not refused.
      {{"--check", "--nowindow", "--screenshot", "s.png", "g"}, 0, false, false, true, "", "s.png", "g"},
  };
  for (const Headless& c : cases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    SCOPED_TRACE(label);
    const gCommandLine line = ParseArgs(c.args);
    EXPECT_EQ(line.action, gCommandLine::RUN) << line.error;
    EXPECT_EQ(line.frames, c.frames);
    EXPECT_EQ(line.fixedClock, c.fixedClock);
    EXPECT_EQ(line.strict, c.strict);
    EXPECT_EQ(line.check, c.check);
    EXPECT_EQ(line.input, c.input);
    EXPECT_EQ(line.screenshot, c.screenshot);
    EXPECT_EQ(line.package, c.package);
  }
}

TEST(CommandLine, BadValuesAreRefusedWithAReason) {
  struct Bad {
    std::vector<const char*> args;
    const char* reason;  // part of the error text
  };
  const Bad cases[] = {
      {{"--frames", "0"}, "not \"0\""},
      {{"--frames", "-3"}, "not \"-3\""},
      {{"--frames", "ten"}, "not \"ten\""},
      {{"--frames", "10x"}, "not \"10x\""},
      {{"--frames", " 5"}, "not \" 5\""},
      {{"--frames", "2147483648"}, "not \"2147483648\""},
      {{"--frames", "99999999999999999999"}, "not \"99999999999999999999\""},
      {{"g", "--frames"}, "--frames needs a value"},
      {{"--frames", "1", "--frames", "2"}, "--frames is given twice"},
      {{"--input"}, "--input needs a value"},
      {{"--input", ""}, "--input needs a file name"},
      {{"--frames", "5", "--screenshot", "shot.png", "--nowindow"}, "--nowindow"},
      {{"--screenshot", "shot.png"}, "needs --frames"},
      {{"--frames", "5", "--screenshot", "shot.jpg"}, ".png"},
      {{"--frames", "5", "--screenshot", ".png"}, ".png"},
      {{"--check", "--checksum", "g"}, "cannot be used together"},
      {{"--json"}, "--json only goes with --api"},
      {{"--pack", "g", "out.zip"}, "must end in .qvp"},
      {{"--pack", "g", "--check"}, "--pack runs the checks itself"},
      {{"--watch", "g"}, "--watch needs --dev"},
      {{"--record", "keys.txt", "--checksum", "g"}, "--record needs a game"},
  };
  for (const Bad& c : cases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    SCOPED_TRACE(label);
    const gCommandLine line = ParseArgs(c.args);
    EXPECT_EQ(line.action, gCommandLine::BAD_ARGUMENT);
    EXPECT_NE(line.error.find(c.reason), std::string::npos) << line.error;
  }
  // Version and help still win over a bad value: they end the process before anything.
  EXPECT_EQ(ParseArgs({"--frames", "0", "--version"}).action, gCommandLine::SHOW_VERSION);
  EXPECT_EQ(ParseArgs({"--help", "--frames"}).action, gCommandLine::SHOW_HELP);
}

// Its value is the next argument, whatever it looks like, made absolute
// because mounting a developer package moves the working directory.
TEST(CommandLine, PackWritesBesideTheDirectoryUnlessTold) {
  struct PackCase {
    std::vector<const char*> args;
    const char* output;
  };
  const PackCase cases[] = {
      {{"--pack", "games/g"}, "games/g.qvp"},
      {{"--pack", "g/"}, "g.qvp"},
      {{"--pack", "g", "dist/G.qvp"}, "dist/G.qvp"},
      {{"dist/G.qvp", "--pack", "g"}, "dist/G.qvp"},
  };
  for (const PackCase& c : cases) {
    const gCommandLine line = ParseArgs(c.args);
    EXPECT_EQ(line.action, gCommandLine::RUN) << line.error;
    EXPECT_EQ(line.packOutput, c.output);
  }
}

TEST(CommandLine, WiimoteSimTakesTheNextArgument) {
  const auto parse = [](std::vector<const char*> a_args) {
    a_args.insert(a_args.begin(), "ombrix");
    return gCommandLine::Parse(static_cast<int>(a_args.size()), a_args.data());
  };
  gCommandLine line = parse({"--wiimote-sim", "remote.txt", "game"});
  EXPECT_EQ(line.package, "game");
  EXPECT_EQ(line.wiimoteSim.front(), '/');
  EXPECT_EQ(line.wiimoteSim.substr(line.wiimoteSim.size() - 11), "/remote.txt");

  line = parse({"game", "--wiimote-sim", "--dev"});
  EXPECT_FALSE(line.developer);
  EXPECT_EQ(line.wiimoteSim.substr(line.wiimoteSim.size() - 6), "/--dev");

  line = parse({"game", "--wiimote-sim"});  // no file: refused, as any option without its value
  EXPECT_EQ(line.action, gCommandLine::BAD_ARGUMENT);
  EXPECT_TRUE(line.wiimoteSim.empty());
  EXPECT_TRUE(parse({}).wiimoteSim.empty());
}

}  // namespace
