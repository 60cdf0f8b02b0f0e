// What a player of the default game sees and is shown, checked the way a player would: its
// pictures under Xvfb (the gate seen from the start, a title sky with nothing darker than
// the sky in it, sparks where a gem is taken) and, against a local score server, the board
// at the end of a replayed round with the round's score on it.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"
#include "tests/support/scoreServerProcess.h"

namespace {

namespace fs = std::filesystem;

// Runs the player in the build folder, where Vastrelline.qvp is; scores go to a port where
// nothing listens and sound to the null device, so nothing depends on the machine.
testSupport::PlayerRun Play(const std::vector<std::string>& a_args, const std::vector<std::string>& a_prefix = {}) {
  testSupport::PlayerOptions options;
  options.dir = OMBRIX_BUILD_DIR;
  options.prefix = a_prefix;
  options.args = {"--fixed-clock", "--score-server", "127.0.0.1:9"};
  options.args.insert(options.args.end(), a_args.begin(), a_args.end());
  options.args.push_back("Vastrelline");
  return testSupport::RunPlayer(options);
}

const char* const kReplay = OMBRIX_SOURCE_DIR "/tests/game/vastrelline.input";

// A picture of the replayed game after its frame a_frames, read back for its pixels, and the
// game's output up to then. Rendering needs a display: the tests that take pictures skip
// without Xvfb.
struct Picture {
  irr::IrrlichtDevice* device = nullptr;
  irr::video::IImage* image = nullptr;
  std::string out;
  explicit Picture(unsigned a_frames, bool a_replay = true) {
    const fs::path shot = fs::temp_directory_path() /
                          ("ombrix-vastrelline-" + std::to_string(getpid()) + "-" + std::to_string(a_frames) + ".png");
    // The GL driver keeps a few blocks past unloading: no leak report for this child.
    std::vector<std::string> args = {"--frames", std::to_string(a_frames), "--screenshot", shot.string()};
    if (a_replay) args.insert(args.end(), {"--input", kReplay});
    const testSupport::PlayerRun run =
        Play(args, {"env", "LSAN_OPTIONS=detect_leaks=0", OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh"});
    EXPECT_EQ(run.status, 0) << run.out;
    out = run.out;
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
    if (device) image = device->getVideoDriver()->createImageFromFile(shot.c_str());
    fs::remove(shot);
  }
  ~Picture() {
    if (image) image->drop();
    if (device) device->drop();
  }
  irr::video::SColor At(int a_x, int a_y) const {
    return image->getPixel(static_cast<irr::u32>(a_x), static_cast<irr::u32>(a_y));
  }
  // Pixels of the region from (x0, y0) up to (x1, y1) that pass a test of their colour.
  template <typename Test>
  int Count(int a_x0, int a_y0, int a_x1, int a_y1, Test&& a_test) const {
    int n = 0;
    for (int y = a_y0; y < a_y1; ++y)
      for (int x = a_x0; x < a_x1; ++x) n += a_test(At(x, y)) ? 1 : 0;
    return n;
  }
};

bool HaveXvfb() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

int Luminance(irr::video::SColor a_c) {
  return static_cast<int>(a_c.getRed() * 299 + a_c.getGreen() * 587 + a_c.getBlue() * 114) / 1000;
}

// The title screen two seconds in, with no key pressed: the gate, the goal of the round,
// shows from the start over the block in front of it, and the sky between the texts and the
// far wall holds nothing darker than the sky itself: no particles dimming in it, no dark
// lower half of the sky box above the wall.
TEST(VastrellineLook, TheTitleShowsTheGateUnderAClearSky) {
  if (!HaveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  const Picture picture(60, false);
  ASSERT_NE(picture.image, nullptr);
  // The gate's stone is violet, a colour nothing else in the field has.
  const int gate = picture.Count(380, 150, 644, 300, [](irr::video::SColor c) {
    return c.getBlue() > c.getGreen() + 40 && c.getRed() > c.getGreen() + 20;
  });
  EXPECT_GT(gate, 300);

  // The darkest texel of the sky above the horizon (the top face and the upper halves of the
  // sides), as the package has it.
  irr::video::IVideoDriver* driver = picture.device->getVideoDriver();
  int darkestSky = 255;
  for (const char* face : {"top", "left", "right", "front", "back"}) {
    const std::string file = std::string(OMBRIX_BUILD_DIR "/games/assets/sky_") + face + ".png";
    irr::video::IImage* texture = driver->createImageFromFile(file.c_str());
    ASSERT_NE(texture, nullptr) << file;
    const irr::u32 rows = texture->getDimension().Height / (std::string(face) == "top" ? 1 : 2);
    for (irr::u32 y = 0; y < rows; ++y)
      for (irr::u32 x = 0; x < texture->getDimension().Width; ++x)
        darkestSky = std::min(darkestSky, Luminance(texture->getPixel(x, y)));
    texture->drop();
  }
  // Rows from below the display's first line down to the far wall, leaving out the title's
  // two lines of text on the left and the gate's columns where it rises above the horizon.
  // Each pixel is measured against the darkest sky and against its own row, whose middle
  // value is the sky at that height.
  std::vector<std::string> dark;
  for (int y = 64; y < 246; ++y) {
    std::vector<std::pair<int, int>> row;  // (luminance, x)
    for (int x = 0; x < 1024; ++x)
      if ((y >= 136 || x >= 620) && (y < 185 || x < 460 || x >= 570)) row.emplace_back(Luminance(picture.At(x, y)), x);
    std::vector<std::pair<int, int>> sorted = row;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int skyHere = sorted[sorted.size() / 2].first;
    const int floor = std::max(darkestSky, skyHere - 24) - 6;
    for (const auto& [luminance, x] : row)
      if (luminance < floor && dark.size() < 10)
        dark.push_back(std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(luminance));
  }
  EXPECT_TRUE(dark.empty()) << "darker than the sky (" << darkestSky
                            << " at its darkest), pixels of the region at: " << ::testing::PrintToString(dark);
}

// The replay takes its first gem in frame 78. The camera follows the ball, which it keeps at
// (512, 459) of the window: the sparks of the pickup show there, and nowhere in the sky.
TEST(VastrellineLook, PickupSparksShowAtTheBall) {
  if (!HaveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  // The sparks are pink: red and blue well above green, which nothing else on the field has.
  auto spark = [](irr::video::SColor c) {
    return c.getRed() > 180 && c.getBlue() > 150 && c.getGreen() + 40 < c.getBlue() && c.getGreen() + 40 < c.getRed();
  };
  auto nearBall = [&](const Picture& a_picture) {
    int n = 0;
    for (int y = 459 - 70; y <= 459 + 70; ++y)
      for (int x = 512 - 70; x <= 512 + 70; ++x)
        n += (x - 512) * (x - 512) + (y - 459) * (y - 459) <= 70 * 70 && spark(a_picture.At(x, y)) ? 1 : 0;
    return n;
  };
  const Picture before(75);
  ASSERT_NE(before.image, nullptr);
  EXPECT_EQ(before.out.find("Gem 1 of 8"), std::string::npos) << before.out;
  EXPECT_LT(nearBall(before), 5) << "the ball itself passes for sparks";

  const Picture after(82);
  ASSERT_NE(after.image, nullptr);
  EXPECT_NE(after.out.find("Gem 1 of 8"), std::string::npos) << after.out;
  EXPECT_GT(nearBall(after), 20);
  EXPECT_EQ(after.Count(0, 0, 1024, 330, spark), 0);
}

// A round against a real score server on this machine: the replayed round ends with 200
// points, the game submits them and shows the best scores, and the board has the round's
// score, not 0, with the hint to play again still there. The game prints its board as it
// shows it; the run goes until that line comes (the frames pass as fast as the machine
// goes, so the answer's frame is not known beforehand) and is then stopped.
TEST(VastrellineLook, TheBoardShowsTheRoundsScoreFromTheServer) {
  char folder[] = "/tmp/ombrix-board-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  testSupport::ScoreServerProcess server({"--database", std::string(folder) + "/scores.db"});
  ASSERT_GT(server.port, 0) << "ombrix-scores did not say where it listens";

  // No --frames: the run is stopped once the board is out (its rows come in the same frame).
  testSupport::PlayerOptions options;
  options.dir = OMBRIX_BUILD_DIR;
  options.args = {
      "--nowindow", "--fixed-clock", "--strict",   "--score-server", "127.0.0.1:" + std::to_string(server.port),
      "--input",    kReplay,         "Vastrelline"};
  options.stopAfter = "Best scores:";
  const testSupport::PlayerRun run = testSupport::RunPlayer(options);
  server.Stop(SIGTERM);
  fs::remove_all(folder);

  std::vector<std::string> lines;
  bool board = false;
  for (const std::string& text : testSupport::PrintedLines(run.out)) {
    lines.push_back(text);
    if (board) break;  // the board's first row follows its heading
    board = text == "Best scores:";
  }
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  ASSERT_TRUE(board) << all;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Final score 200"), lines.end()) << all;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Your rank: 1"), lines.end()) << all;
  const std::string& first = lines.back();
  EXPECT_EQ(first.rfind("1. ", 0), 0u) << all;
  EXPECT_EQ(first.substr(first.size() - 5), "  200") << all;
}

}  // namespace
