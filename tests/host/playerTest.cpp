// The built player run as a user runs it, in a scratch directory, with no display: what
// it writes to standard output and the status it exits with are its interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::WriteFile;

// Every run here ends by itself: an option that ends it, an error, or a fixed number of
// frames on the fixed clock.
using testSupport::PlayerRun;
using testSupport::RunPlayer;

const char* const kAbc = "A9993E364706816ABA3E25717850C26C9CD0D89D";

std::string ChecksumLines(const std::string& package, const std::string& sum) {
  return "Checksum for the script " + package + " is:\n" + sum + "\n";
}

TEST(Player, VersionEndsTheRunBeforeAnythingIsCreated) {
  hostTest::ScratchDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"game", "--version", "--checksum"}}) {
    const PlayerRun r = RunPlayer(dir.path, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Ombrix 7.10\nhttps://ombrix.org\n");
    // The device would have logged its banner.
    EXPECT_EQ(r.err, "");
  }
}

TEST(Player, HelpListsTheOptions) {
  hostTest::ScratchDir dir;
  const PlayerRun r = RunPlayer(dir.path, {"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* option :
       {"--nowindow", "--fullscreen", "--dev", "--checksum", "--score-server", "--version", "--frames", "--fixed-clock",
        "--input", "--screenshot", "--strict", "--frame-times", "--check"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(Player, ChecksumMode) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game.qvp", "abc");
  WriteFile(dir.path / "second.qvp", "other");
  WriteFile(dir.path / "Vastrelline.qvp", "abc");
  struct Case {
    std::vector<std::string> args;
    std::string package, sum;
  };
  const Case cases[] = {
      // Developer mode is switched off again: the archive is hashed, and no window opens
      // (there is no display here).
      {{"--checksum", "--dev", "game"}, "game", kAbc},
      {{"game", "second", "--checksum"}, "game", kAbc},
      // A package named with its extension or as a path is the same package.
      {{"--checksum", "game.qvp"}, "game", kAbc},
      {{"--checksum", "sub/../game.qvp"}, "sub/../game", ""},
      {{"--checksum"}, "Vastrelline", kAbc},
      {{"--checksum", "missing"}, "missing", ""},
      {{"--checksum", "sub/../game"}, "sub/../game", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    const PlayerRun r = RunPlayer(dir.path, c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ChecksumLines(c.package, c.sum));
  }
}

TEST(Player, DeveloperModeMessages) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/level.zip", "not really a zip");
  WriteFile(dir.path / "game/a.ZIP", "");
  // An empty text does not compile: one empty statement is the smallest script.
  WriteFile(dir.path / "game/start.qv", ";");
  PlayerRun r = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "2", "--dev", "game"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Loading zip file level.zip\nLoaded script: start.qv\n");

  // The current directory has no start script.
  r = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "2", "--dev", "nothere"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Could not find nothere directory\nScript start.qv not found!\n");
  EXPECT_NE(r.err.find("ombrix: no package nothere (looked for the directory " +
                       hostTest::fs::weakly_canonical(dir.path / "nothere").string() +
                       "): give the game's directory, e.g. --dev path/to/Mygame, or drop --dev to play Mygame.qvp\n"),
            std::string::npos)
      << r.err;
}

TEST(Player, NoDisplayIsOneClearErrorNotACrash) {
  hostTest::ScratchDir dir;
  const PlayerRun r = RunPlayer(dir.path, {"game"});
  EXPECT_NE(r.status, 0);
  EXPECT_LT(r.status, 128) << "killed by a signal";
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("--nowindow"), std::string::npos) << r.err;
}

}  // namespace
