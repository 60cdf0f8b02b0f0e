// The player as a user runs it, headless: a game whose timers print, stopped by SIGTERM.
// Its standard output is how its maker (and this test) sees it run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitLines(const std::string& a_text) {
  std::vector<std::string> lines;
  std::istringstream in(a_text);
  // print ends what it prints with a space.
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(PlayerRun, HeadlessGameShowsItsOutputAndStopsOnTerm) {
  std::string pattern = (fs::temp_directory_path() / "ombrix-game-XXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  fs::create_directories(dir / "game");
  std::ofstream(dir / "game" / "start.qv") << R"(
global tick = function(t) { t.n = t.n + 1; print("tick " + t.n); };
Clock.AddTimer(TIMER_CYCLIC, 100, "tick", table(n = 0));
global c = Counter(); c.Start();
global once = function(t) { print("once", t.c.GetFormatedTime(1)); };
Clock.AddTimer(TIMER_ONCE, 300, "once", table(c = c));
global fail = function(t) { t.missing.x = 1; };
Clock.AddTimer(TIMER_ONCE, 30, "fail", table());
)";
  // OpenAL's null device keeps the output the same with or without a sound card.
  const std::string command = "cd '" + dir.string() + "' && env -u DISPLAY ALSOFT_DRIVERS=null timeout --preserve-status -s TERM 2 '" OMBRIX_PLAYER
                              "' --nowindow --dev game >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  std::ifstream in(dir / "stdout.txt");
  std::stringstream out;
  out << in.rdbuf();
  fs::remove_all(dir);

  ASSERT_TRUE(WIFEXITED(raw)) << raw;
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  const std::vector<std::string> lines = SplitLines(out.str());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Loaded script: start.qv");
  // The failed timer's log entry, one line each, in the frame after it failed.
  std::vector<std::string> expected = {"Loaded script: start.qv", "callstack..", "tick 1", "tick 2", "tick 3",
                                       "once 00.33", "tick 4", "tick 5"};
  auto at = lines.begin();
  for (const std::string& line : expected) {
    at = std::find(at, lines.end(), line);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << line << "\n" << out.str();
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string()), 0) << out.str();
  // Two seconds at 30 frames per second hold at most 20 periods of 3 frames.
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "tick 21"), lines.end()) << out.str();
}

}  // namespace
