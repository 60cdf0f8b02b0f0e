// The default game as a player and a CI job run it: from the package the build packed, with
// the committed replay of key presses, on the fixed clock. Its output is its story, the same
// on every run; under Xvfb its first seconds show sky, field and display.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

using testSupport::PlayerRun;

// Runs the player in the build folder, where Vastrelline.qvp is; scores go to a port where
// nothing listens and sound to the null device, so nothing depends on the machine. With
// a_xvfb it runs on a virtual X server of its own, whose GL driver keeps a few blocks past
// unloading: no leak report for that child.
PlayerRun Play(std::vector<std::string> a_args, bool a_xvfb = false) {
  testSupport::PlayerOptions options;
  options.dir = OMBRIX_BUILD_DIR;
  options.args = {"--fixed-clock", "--score-server", "127.0.0.1:9"};
  options.args.insert(options.args.end(), a_args.begin(), a_args.end());
  options.args.push_back("Vastrelline");
  if (a_xvfb) {
    options.prefix = {OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh"};
    options.env.push_back("LSAN_OPTIONS=detect_leaks=0");
  }
  return testSupport::RunPlayer(options);
}

const std::string kReplay = OMBRIX_SOURCE_DIR "/tests/game/vastrelline.input";

TEST(Vastrelline, PassesTheCheckAndPlaysHeadlessWithoutAScriptError) {
  EXPECT_EQ(Play({"--check"}).status, 0);
  const PlayerRun run = Play({"--nowindow", "--frames", "600", "--strict", "--input", kReplay});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Round started"), std::string::npos) << run.out;
}

// The round ends when its 90 seconds are up (frame 2705): the replay has picked two gems.
TEST(Vastrelline, TheReplayPlaysToTheSameEndEveryRun) {
  const PlayerRun first = Play({"--nowindow", "--frames", "2800", "--strict", "--input", kReplay});
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("Gem 1 of 8 \nGem 2 of 8 \nFinal score 200 \n"), std::string::npos) << first.out;
  const PlayerRun second = Play({"--nowindow", "--frames", "2800", "--strict", "--input", kReplay});
  EXPECT_EQ(second.out, first.out);
}

TEST(Vastrelline, TheFirstSecondsShowSkyFieldAndDisplay) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  const fs::path shot = fs::temp_directory_path() / ("ombrix-vastrelline-" + std::to_string(getpid()) + ".png");
  const PlayerRun run = Play({"--frames", "90", "--screenshot", shot.string(), "--input", kReplay}, true);
  ASSERT_EQ(run.status, 0) << run.out;

  irr::IrrlichtDevice* device =
      irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
  ASSERT_NE(device, nullptr);
  irr::video::IImage* image = device->getVideoDriver()->createImageFromFile(shot.c_str());
  ASSERT_NE(image, nullptr);
  // Counts pixels of a region that pass a test of their colour.
  auto count = [&](int x0, int y0, int x1, int y1, auto&& test) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += test(image->getPixel(x, y)) ? 1 : 0;
    return n;
  };
  const int skyArea = 1024 * 100, fieldArea = 824 * 100;
  const int sky =
      count(0, 64, 1024, 164, [](irr::video::SColor c) { return c.getBlue() > 180 && c.getBlue() > c.getRed() + 20; });
  const int field = count(100, 600, 924, 700, [](irr::video::SColor c) {
    return c.getGreen() > c.getRed() + 30 && c.getGreen() > c.getBlue() + 30;
  });
  // The display's white text in the top left corner, below the developer menu's bar.
  const int text = count(
      0, 30, 400, 64, [](irr::video::SColor c) { return c.getRed() > 200 && c.getGreen() > 200 && c.getBlue() > 200; });
  EXPECT_GT(sky, skyArea * 9 / 10);
  EXPECT_GT(field, fieldArea * 8 / 10);
  EXPECT_GT(text, 100);
  image->drop();
  device->drop();
  fs::remove(shot);
}

}  // namespace
