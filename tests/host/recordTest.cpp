// "--record" as an author uses it to make a bug found by hand reproducible: a session is
// recorded (its keys come from a replay and its remote is simulated, so the test drives it
// without a person), and the recording replayed with --fixed-clock gives the same output
// and, in a window, the same picture.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::ReadFile;
using hostTest::WriteFile;

using Result = testSupport::PlayerRun;

// What it prints and what it draws depend on the keys, the mouse and the remote: space moves
// the fountain, the click tints the text that A shows. The particles move by the engine's
// own clock.
const char* const kGame = R"(
global w = Input.Wiimote();
global c = Counter(); c.Start();
global say = function(what) { print(what, c.GetTick(), Random()); };
global onConnect = function() { say("connected"); };
global onA = function() { say("A down"); global t = Graphics.NewText("WWWWWWWW", 100, 100, "#DefaultFont"); };
global onAUp = function() { say("A up"); };
global onSpace = function() { say("space"); fountain.Physics.Position(20, 0, 0); };
global onClick = function() { say("click"); if (t) { Graphics.SetTextColor(t, 1, 1, 0, 1); } };
w.ScriptConnect("onConnect");
w.ScriptButton(WIIBUT_A, BUT_DOWN, "onA");
w.ScriptButton(WIIBUT_A, BUT_UP, "onAUp");
Input.ScriptButton(KEY_SPACE, BUT_DOWN, "onSpace");
Input.ScriptButton(MOU_LEFT, BUT_DOWN, "onClick");
NewScene("world");
global fountain = world.NewObject("fountain");
fountain.Graphics.NewParticles("p");
global p = fountain.Graphics.Particles("p");
p.Texture(Graphics.NewTexture("spark.png"));
p.Position(0, -28, 0);
p.Size(4, 4);
p.Direction(0, 0.05, 0);
p.MaxAngleDegrees(30);
p.MinPerSecond(80);
p.MaxPerSecond(120);
p.MinStartColor(1, 1, 1, 1);
p.MaxStartColor(1, 1, 1, 1);
global eye = world.NewObject("eye");
eye.Graphics.NewCamera("view");
eye.Physics.Position(0, 10, -60);
)";

// Records 45 frames and replays the recording twice; with a_window on a virtual X server
// each, comparing the screenshots of frame 45 too.
void WriteGame(const hostTest::fs::path& a_dir) {
  WriteFile(a_dir / "game/start.qv", kGame);
  hostTest::fs::copy_file(hostTest::fs::path(OMBRIX_ASSETS) / "spark.png", a_dir / "game/spark.png");
}

void RecordAndReplay(bool a_window) {
  hostTest::ScratchDir dir;
  WriteGame(dir.path);
  // The remote presses A 0.1 s after it connects and lets go 0.8 s later: long enough for the
  // press to show in a frame however slowly the recording's frames come (a sanitizer build).
  WriteFile(dir.path / "remote.txt", "100 30 00 08\n900 30 00 00\n");
  WriteFile(dir.path / "keys.txt",
            "10 key KEY_SPACE down\n12 key KEY_SPACE up\n20 move 100 200\n21 mouse 0 down\n22 mouse 0 up\n");
  const auto run = [&](std::vector<std::string> a_args, const std::string& a_shot) {
    testSupport::PlayerOptions options;
    options.dir = dir.path;
    if (a_window) {
      options.prefix = {OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh"};
      // Mesa's GL driver leaves a block that is unloaded before a leak report could name it.
      options.env.push_back("LSAN_OPTIONS=detect_leaks=0");
      a_args.insert(a_args.end(), {"--screenshot", a_shot});
    } else {
      a_args.push_back("--nowindow");
    }
    options.args = a_args;
    return testSupport::RunPlayer(options);
  };
  const Result recorded = run({"--frames", "45", "--dev", "game", "--wiimote-sim", "remote.txt", "--input", "keys.txt",
                               "--record", "session.txt"},
                              "recorded.png");
  ASSERT_EQ(recorded.status, 0) << recorded.out << recorded.err;
  const std::string recording = ReadFile(dir.path / "session.txt");
  for (const char* line : {"\n1 wiimote connect\n", "\n10 key KEY_SPACE down\n", "\n12 key KEY_SPACE up\n",
                           "\n20 move 100 200\n", "\n21 mouse 0 down\n", " wiimote 30 00 08 ", " wiimote 30 00 00 "})
    EXPECT_NE(recording.find(line), std::string::npos) << line << " in\n" << recording;

  const std::string session = (dir.path / "session.txt").string();
  const std::string ending = "Recorded 45 frames of input to " + session +
                             "\nReplay it with: " OMBRIX_TEST_PLAYER " --input " + session +
                             " --fixed-clock --frames 45" + (a_window ? "" : " --nowindow") + " --dev game\n";
  ASSERT_GE(recorded.out.size(), ending.size());
  const std::string played = recorded.out.substr(0, recorded.out.size() - ending.size());
  EXPECT_EQ(recorded.out.substr(played.size()), ending);
  for (const char* event : {"connected", "A down", "space", "click", "A up"})
    EXPECT_NE(played.find(event), std::string::npos) << event << " in\n" << played;

  // Twice: the replay itself is the same every time.
  for (int replay = 0; replay < 2; ++replay) {
    const Result replayed =
        run({"--input", "session.txt", "--fixed-clock", "--frames", "45", "--dev", "game"}, "replayed.png");
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, played);
    if (!a_window) continue;
    const std::string picture = ReadFile(dir.path / "replayed.png");
    EXPECT_FALSE(picture.empty());
    EXPECT_TRUE(picture == ReadFile(dir.path / "recorded.png")) << "the replay's frame 45 differs from the recording's";
  }
  if (!a_window) return;
  // The picture compared is not an empty frame: the yellow text shows, and the sparks below it.
  irr::IrrlichtDevice* device =
      irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
  ASSERT_NE(device, nullptr);
  irr::video::IImage* image = device->getVideoDriver()->createImageFromFile((dir.path / "recorded.png").c_str());
  ASSERT_NE(image, nullptr);
  int yellow = 0, sparks = 0;
  for (irr::u32 y = 0; y < 768; ++y)
    for (irr::u32 x = 0; x < 1024; ++x) {
      const irr::video::SColor pixel = image->getPixel(x, y);
      yellow += pixel.getRed() > 200 && pixel.getGreen() > 200 && pixel.getBlue() < 60;
      sparks += y > 200 && pixel.getRed() + pixel.getGreen() + pixel.getBlue() > 300;
    }
  image->drop();
  device->drop();
  EXPECT_GT(yellow, 50);
  EXPECT_GT(sparks, 500);
}

TEST(Record, ARecordedSessionReplaysToTheSameOutput) { RecordAndReplay(false); }

// A remote that connected some time into the recorded session (a person pairing it) connects
// in that frame of the replay, and not before: the game sees it when it saw it then.
TEST(Record, TheReplayedRemoteConnectsInTheFrameItConnectedIn) {
  hostTest::ScratchDir dir;
  WriteGame(dir.path);
  WriteFile(dir.path / "late.txt", "30 wiimote connect\n31 wiimote 30 00 08\n");
  const Result r = testSupport::RunPlayer(
      dir.path, {"--input", "late.txt", "--fixed-clock", "--frames", "40", "--nowindow", "--dev", "game"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The counter reads f - 1 in the input step of frame f.
  const std::vector<std::string> lines = testSupport::PrintedLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[1].rfind("connected 29 ", 0), 0u) << r.out;
  EXPECT_EQ(lines[2].rfind("A down 30 ", 0), 0u) << r.out;
}

TEST(Record, ARecordedWindowedSessionReplaysToTheSameOutputAndPicture) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  RecordAndReplay(true);
}

}  // namespace
