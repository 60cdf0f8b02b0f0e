// The player as a user runs it, headless: a game whose timers print. Its standard output
// is how its maker (and this test) sees it run; SIGTERM ends it as closing the window does.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

class PlayerRun : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ombrix-game-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    fs::create_directories(dir / "game");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  fs::path dir;
};

TEST_F(PlayerRun, HeadlessGameShowsItsOutputInOrder) {
  std::ofstream(dir / "game" / "start.qv") << R"(
global tick = function(t) { t.n = t.n + 1; print("tick " + t.n); };
Clock.AddTimer(TIMER_CYCLIC, 100, "tick", table(n = 0));
global c = Counter(); c.Start();
global once = function(t) { print("once", t.c.GetFormatedTime(1)); };
Clock.AddTimer(TIMER_ONCE, 300, "once", table(c = c));
global fail = function(t) { t.missing.x = 1; };
Clock.AddTimer(TIMER_ONCE, 30, "fail", table());
)";
  const testSupport::PlayerRun run =
      testSupport::RunPlayer(dir, {"--nowindow", "--fixed-clock", "--frames", "60", "--dev", "game"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = testSupport::PrintedLines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Loaded script: start.qv");
  // The failed timer's log entry, one line each, in the frame after it failed.
  const std::vector<std::string> expected = {
      "Loaded script: start.qv", "callstack..", "tick 1", "tick 2", "tick 3", "once 00.33", "tick 4", "tick 5"};
  auto at = lines.begin();
  for (const std::string& line : expected) {
    at = std::find(at, lines.end(), line);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << line << "\n" << run.out;
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string()), 0) << run.out;
  // Two seconds of game time hold 20 periods of 3 frames, the first ending in frame 4.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "tick 19"), lines.end()) << run.out;
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "tick 20"), lines.end()) << run.out;
}

// Stopped once it shows it is in its loop, on the real clock, the game ends with status 0
// and nothing after its last line.
TEST_F(PlayerRun, TermEndsTheGameCleanly) {
  std::ofstream(dir / "game" / "start.qv") << R"(
global tick = function(t) { t.n = t.n + 1; print("tick " + t.n); };
Clock.AddTimer(TIMER_CYCLIC, 100, "tick", table(n = 0));
)";
  testSupport::PlayerOptions options;
  options.dir = dir;
  options.args = {"--nowindow", "--dev", "game"};
  options.stopAfter = "tick 2";
  options.limitSeconds = 60;
  const testSupport::PlayerRun run = testSupport::RunPlayer(options);
  EXPECT_TRUE(run.stopped);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = testSupport::PrintedLines(run.out);
  ASSERT_GE(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0], "Loaded script: start.qv");
  EXPECT_EQ(lines[1], "tick 1");
  EXPECT_EQ(lines[2], "tick 2");
}

}  // namespace
