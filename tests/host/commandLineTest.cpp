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
      {{"--devel"}, A::RUN, true, false, false, false, "--devel"},
      {{"--DEV", "-dev", "--dev "}, A::RUN, true, false, false, false, "--DEV"},
      {{"--nowindow", "--fullscreen", "--dev", "g"}, A::RUN, false, true, true, false, "g"},
      // A checksum run hashes the archive and opens no window, whatever else is asked.
      {{"--checksum", "--dev", "game"}, A::RUN, false, false, false, true, "game"},
      {{"game", "--dev", "--checksum"}, A::RUN, false, false, false, true, "game"},
      {{"--checksum", "--fullscreen"}, A::RUN, false, true, false, true, "Vastrelline"},
      {{"--version"}, A::SHOW_VERSION, true, false, false, false, "Vastrelline"},
      {{"game", "--dev", "--version", "--nowindow"}, A::SHOW_VERSION, false, false, false, false,
       "Vastrelline"},
      {{"--help", "--version"}, A::SHOW_VERSION, true, false, false, false, "Vastrelline"},
      {{"--version", "--help"}, A::SHOW_HELP, true, false, false, false, "Vastrelline"},
      {{"--help=1"}, A::RUN, true, false, false, false, "--help=1"},
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
      {{"game", "--score-server"}, A::BAD_USAGE, "", 80, "Vastrelline"},
      {{"--score-server", "h:0"}, A::BAD_USAGE, "", 80, "Vastrelline"},
      {{"--score-server", "h:65536"}, A::BAD_USAGE, "", 80, "Vastrelline"},
      {{"--score-server", "h:"}, A::BAD_USAGE, "", 80, "Vastrelline"},
      {{"--score-server", ":8080"}, A::BAD_USAGE, "", 80, "Vastrelline"},
      {{"--score-server", "h:80x"}, A::BAD_USAGE, "", 80, "Vastrelline"},
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
    EXPECT_EQ(line.usageError.empty(), c.action != A::BAD_USAGE);
  }
}

}  // namespace
