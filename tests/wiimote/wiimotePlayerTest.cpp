// The player with --wiimote-sim, as a game's maker would test its Wiimote handling: a
// scripted remote presses A, the game's callbacks print and ask for rumble, and FILE.out
// holds every output report the player sent.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& a_file) {
  std::ifstream in(a_file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && line.back() == ' ') line.pop_back();  // print ends with a space
    lines.push_back(line);
  }
  return lines;
}

TEST(WiimoteSim, AGameSeesTheScriptedRemoteAndItsOutputIsKept) {
  std::string pattern = (fs::temp_directory_path() / "ombrix-wiimote-XXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  fs::create_directories(dir / "game");
  std::ofstream(dir / "game" / "start.qv") << R"(
global w = Input.Wiimote();
global onConnect = function() { print("connected"); w.Rumble(1); };
global onA = function() { print("A down"); };
global onAUp = function() { print("A up"); };
w.ScriptConnect("onConnect");
w.ScriptButton(WIIBUT_A, BUT_DOWN, "onA");
w.ScriptButton(WIIBUT_A, BUT_UP, "onAUp");
)";
  std::ofstream(dir / "remote.txt") << "# A pressed, then released\n"
                                       "200 30 00 08\n"
                                       "400 300000\n"
                                       "500 30 zz\n";
  // The remote's clock is the real one: the run is stopped once the release has arrived.
  testSupport::PlayerOptions options;
  options.dir = dir;
  options.args = {"--nowindow", "--dev", "game", "--wiimote-sim", "remote.txt"};
  options.stopAfter = "A up";
  options.limitSeconds = 60;
  const testSupport::PlayerRun run = testSupport::RunPlayer(options);
  const std::vector<std::string> out = testSupport::PrintedLines(run.out);
  const std::vector<std::string> err = testSupport::PrintedLines(run.err);
  const std::vector<std::string> sent = Lines(dir / "remote.txt.out");
  fs::remove_all(dir);

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(out, (std::vector<std::string>{"Loaded script: start.qv", "connected", "A down", "A up"}));
  // The driver's messages and the skipped line go to standard error, never standard output.
  EXPECT_NE(std::find(err.begin(), err.end(), "Wiimote : .. Connected!"), err.end());
  EXPECT_NE(std::find(err.begin(), err.end(), "line 4: bytes are pairs of hexadecimal digits"), err.end());

  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], "15 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  const auto has = [&](const std::string& a_start) {
    return std::any_of(sent.begin(), sent.end(), [&](const std::string& s) { return s.rfind(a_start, 0) == 0; });
  };
  EXPECT_TRUE(has("12 04 33 00")) << "continuous reports with the extended camera";
  EXPECT_TRUE(has("15 01 00 00")) << "the rumble the game asked for";
  // At exit: rumble off, then the farewell that leaves the remote quiet.
  EXPECT_EQ(sent.back().substr(0, 5), "11 00");
}

}  // namespace
