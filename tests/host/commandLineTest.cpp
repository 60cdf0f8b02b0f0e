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

}  // namespace

namespace {

// The one option with a value: the next argument, whatever it looks like, made absolute
// because mounting a developer package moves the working directory.
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

  line = parse({"game", "--wiimote-sim"});  // no file: the real device
  EXPECT_TRUE(line.wiimoteSim.empty());
  EXPECT_EQ(line.package, "game");
  EXPECT_TRUE(parse({}).wiimoteSim.empty());
}

}  // namespace
