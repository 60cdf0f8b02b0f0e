// Headless runs as a game author's CI makes them: the built player on a package in a
// scratch directory, with a fixed number of frames, the fixed clock, replayed input,
// --strict, --check and --screenshot. Its standard output and exit status are what such a
// job compares.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::WriteFile;

using testSupport::PlayerRun;

// With a_xvfb the player runs on a virtual X server of its own. A windowed run on Mesa
// leaves one block of the GL driver, which is unloaded before a leak report could name it;
// under the leak checker that alone would fail the run.
PlayerRun RunPlayer(const hostTest::fs::path& a_dir, const std::vector<std::string>& a_args, bool a_xvfb = false) {
  testSupport::PlayerOptions options;
  options.dir = a_dir;
  options.args = a_args;
  if (a_xvfb) {
    options.prefix = {OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh"};
    options.env.push_back("LSAN_OPTIONS=detect_leaks=0");
  }
  return testSupport::RunPlayer(options);
}

// Each line names the frame it was printed in: the counter started by the start script
// reads f - 1 during the input step of frame f and f after the clock step of frame f.
const char* const kTimerGame = R"(
global c = Counter(); c.Start();
global once = function(t) { print("once", c.GetTick(), c.GetFormatedTime(1)); };
Clock.AddTimer(TIMER_ONCE, 1000, "once", table());
global cyclic = function(t) { t.n = t.n + 1; print("cyclic", t.n, c.GetTick()); };
Clock.AddTimer(TIMER_CYCLIC, 100, "cyclic", table(n = 0));
global last = function(t) { print("random", Random(), "at", c.GetTick()); };
Clock.AddTimer(TIMER_ONCE, 2970, "last", table());
)";

TEST(HeadlessRun, FixedClockTimersFireAtExactFramesAndRepeat) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", kTimerGame);
  const std::vector<std::string> args = {"--nowindow", "--fixed-clock", "--frames", "100", "--dev", "game"};
  const PlayerRun first = RunPlayer(dir.path, args);
  EXPECT_EQ(first.status, 0) << first.err;
  // A 1000 ms timer is 33 frames long and fires in the 34th frame, as in a real-time run
  // that is never late; a 100 ms cyclic one first in the 4th, then every 3rd.
  std::string expected = "Loaded script: start.qv\n";
  for (int n = 1, frame = 4; frame <= 100; ++n, frame += 3) {
    expected += "cyclic " + std::to_string(n) + " " + std::to_string(frame) + " \n";
    if (frame == 34) expected += "once 34 01.02 \n";
  }
  const std::string::size_type random = first.out.find("random ");
  ASSERT_NE(random, std::string::npos) << first.out;
  // 2970 ms are 99 frames; it fires in frame 100, the last one, after the cyclic timer
  // that fires there (newer timers go first only within the same frame of insertion).
  EXPECT_EQ(first.out.substr(0, random), expected);
  EXPECT_NE(first.out.find(" at 100 \n", random), std::string::npos) << first.out;

  // The same run again prints the same, Random included.
  const PlayerRun second = RunPlayer(dir.path, args);
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, first.out);

  // Nothing waits and nothing is skipped, however long the game time: 5 minutes of it.
  const PlayerRun longRun = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "9000", "--dev", "game"});
  EXPECT_EQ(longRun.status, 0);
  EXPECT_NE(longRun.out.find("cyclic 2999 8998 \n"), std::string::npos);
  EXPECT_EQ(longRun.out.find("cyclic 3000 "), std::string::npos);
}

TEST(HeadlessRun, ReplayedInputReachesScriptCallbacksInItsFrames) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", R"(
global c = Counter(); c.Start();
global say = function(what) { print(what, c.GetTick() + 1); };
global down = function() { say("down"); };
global on = function() { say("on"); };
global up = function() { say("up"); };
Input.ScriptButton(KEY_SPACE, BUT_DOWN, "down");
Input.ScriptButton(KEY_SPACE, BUT_ON, "on");
Input.ScriptButton(KEY_SPACE, BUT_UP, "up");
global shift = function() { say("shift"); };
Input.ScriptButton(KEY_SHIFT, BUT_DOWN, "shift");
global click = function() { say("click"); };
Input.ScriptButton(MOU_LEFT, BUT_DOWN, "click");
global look = function(dx, dy, x, y) { if (dx != 0.0 || dy != 0.0) { print("look", dx, dy, c.GetTick() + 1); } };
Input.ScriptMouse("look");
)");
  WriteFile(dir.path / "keys.txt",
            "# space held over frames 2 to 4\n"
            "2 key KEY_SPACE down\n"
            "5 key 32 up\n"
            "7 key KEY_SPACE down\n"
            "7 key KEY_SPACE up\n"
            "8 key KEY_RSHIFT down\n"
            "9 move 768 192\n"
            "9 mouse 0 down\n"
            "10 mouse 0 up\n"
            "50 key KEY_SPACE down\n");
  const PlayerRun r =
      RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "12", "--input", "keys.txt", "--dev", "game"});
  EXPECT_EQ(r.status, 0) << r.err;
  // A press and release in one frame gives down then up; events after the last frame never
  // arrive. The move is read against the window centre the cursor is put back to.
  EXPECT_EQ(r.out,
            "Loaded script: start.qv\n"
            "down 2 \non 2 \non 3 \non 4 \nup 5 \n"
            "down 7 \nup 7 \n"
            "shift 8 \n"
            "click 9 \nlook 0.25 -0.25 9 \n");
}

TEST(HeadlessRun, BadOptionsAndInputFilesStopBeforeAnythingIsCreated) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", "print(\"ran\");");
  WriteFile(dir.path / "bad.txt", "1 key KEY_A down\n\n2 key KEY_WHAT down\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of standard error
  };
  const Case cases[] = {
      {{"--frames", "0"}, "--frames needs a whole number"},
      {{"--frames", "x12"}, "not \"x12\""},
      {{"--frames"}, "--frames needs a value"},
      {{"--frames", "5", "--input", "missing.txt"}, "cannot read the input file missing.txt"},
      {{"--frames", "5", "--input", "bad.txt"}, "bad.txt:3: unknown key \"KEY_WHAT\""},
      {{"--frames", "5", "--screenshot", "shot.png"}, "nothing is rendered"},
      {{"--screenshot", "shot.png"}, "needs --frames"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--nowindow", "--dev", "game"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.message);
    const PlayerRun r = RunPlayer(dir.path, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // No device was made: it would have logged its banner.
    EXPECT_EQ(r.err.find("Irrlicht"), std::string::npos) << r.err;
    EXPECT_FALSE(hostTest::fs::exists(dir.path / "shot.png"));
  }
}

TEST(HeadlessRun, StrictFailsARunThatLoggedAScriptError) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "clean/start.qv",
            "global t = function(x) { print(\"tick\"); }; Clock.AddTimer(TIMER_ONCE, 60, \"t\", table());");
  // The error comes in the last frame: its log lines must still be shown.
  WriteFile(dir.path / "late/start.qv",
            "global t = function(x) { x.a.b = 1; }; Clock.AddTimer(TIMER_ONCE, 60, \"t\", table());");
  WriteFile(dir.path / "loads/start.qv", "LoadScript(\"broken.qv\"); print(\"goes on\");");
  WriteFile(dir.path / "loads/broken.qv", "x = ;");
  struct Case {
    const char* package;
    bool strict;
    int status;
    const char* shown;  // part of standard output
  };
  const Case cases[] = {
      {"clean", true, 0, "tick"},
      {"late", false, 0, "callstack.."},
      {"late", true, 3, "callstack.."},
      {"loads", true, 3, "goes on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.package) + (c.strict ? " strict" : ""));
    std::vector<std::string> args = {"--nowindow", "--fixed-clock", "--frames", "3", "--dev", c.package};
    if (c.strict) args.insert(args.begin(), "--strict");
    const PlayerRun r = RunPlayer(dir.path, args);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
  }
  // A start script that does not compile is a script error like any other under --strict,
  // and ends the run with 255 without it.
  WriteFile(dir.path / "nostart/start.qv", "x = ;");
  EXPECT_EQ(
      RunPlayer(dir.path, {"--strict", "--nowindow", "--fixed-clock", "--frames", "3", "--dev", "nostart"}).status, 3);
  EXPECT_EQ(RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "3", "--dev", "nostart"}).status, 255);
}

TEST(HeadlessRun, CheckCompilesWithoutRunningAndListsProblems) {
  hostTest::ScratchDir dir;
  const hostTest::fs::path& d = dir.path;
  ASSERT_TRUE(hostTest::MakeZip(d / "clean.qvp", {{"start.qv", "print(\"ran\"); LoadScript(\"one.qv\");"},
                                                  {"levels/one.qv", "global f = function() { return 1; };"},
                                                  {"mesh.obj", "v 0 0 0"}}));
  ASSERT_TRUE(hostTest::MakeZip(d / "broken.qvp", {{"start.qv", "print(\"ran\");"},
                                                   {"levels/one.qv", "global f = function() {\n\n  return 1 +;\n};"},
                                                   {"two.qv", "x = 1;\nbreak;\n"}}));
  ASSERT_TRUE(hostTest::MakeZip(d / "clash.qvp", {{"start.qv", ";"}, {"One.qv", ";"}, {"sub/one.QV", ";"}}));
  ASSERT_TRUE(hostTest::MakeZip(d / "nostart.qvp", {{"begin.qv", ";"}}));
  // A face names a vertex far past the three there are: the engine's mesh loader crashes.
  ASSERT_TRUE(hostTest::MakeZip(d / "damaged.qvp", {{"start.qv", ";"},
                                                    {"meshes/broken.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3000000\n"},
                                                    {"meshes/whole.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"}}));
  WriteFile(d / "notzip.qvp", "just text");
  // Cut in half: the player's reader would still mount what it finds of it.
  const std::string whole = hostTest::ReadFile(d / "clean.qvp");
  WriteFile(d / "cut.qvp", whole.substr(0, whole.size() / 2));
  WriteFile(d / "dev/start.qv", "print(\"ran\");");
  WriteFile(d / "dev/Start.QV", ";");
  ASSERT_TRUE(hostTest::MakeZip(d / "dev/more.zip", {{"a/x.qv", "y = ;"}}));

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"--check", "clean"}, 0, "clean: 2 scripts compiled, no problems found\n"},
      {{"--check", "broken"},
       1,
       "levels/one.qv(3) : parse error\n"
       "two.qv(2) : illegal break statement\n"
       "broken: 3 scripts compiled, 2 problems found\n"},
      {{"clash", "--check"},
       1,
       "One.qv and sub/one.QV have the same name once folders and letter case are ignored; the game can open only one "
       "of them\n"
       "clash: 3 scripts compiled, 1 problem found\n"},
      {{"--check", "nostart"}, 1, "Script start.qv not found!\nnostart: 1 script compiled, 1 problem found\n"},
      {{"--check", "damaged"},
       1,
       "meshes/broken.obj is damaged: the mesh loader crashed on it\ndamaged: 1 script compiled, 1 problem found\n"},
      {{"--check", "notzip"},
       1,
       "notzip.qvp cannot be read as a zip archive\nScript start.qv not found!\nnotzip: 0 scripts compiled, 2 problems "
       "found\n"},
      {{"--check", "missing"},
       1,
       "missing.qvp not found\nScript start.qv not found!\nmissing: 0 scripts compiled, 2 problems found\n"},
      {{"--check", "--dev", "dev"},
       1,
       "Loading zip file more.zip\n"
       "more.zip/a/x.qv(1) : parse error\n"
       "Start.QV and start.qv have the same name once folders and letter case are ignored; the game can open only one "
       "of them\n"
       "dev: 3 scripts compiled, 2 problems found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const PlayerRun r = RunPlayer(d, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
  }
  const PlayerRun cut = RunPlayer(d, {"--check", "cut"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out.rfind("cut.qvp is cut short or damaged", 0), 0u) << cut.out;

  // One byte changed inside an archive that is whole otherwise: in an entry stored as it is
  // (bytes that do not compress), and in one deflated, whose damage may or may not stop the
  // inflater. Either way the entry is named.
  const std::string noise = "q7#Lm2Vb!xZ0";
  const std::string script = "global f = function() { return 1; };\n";
  std::string repeated;
  for (int i = 0; i < 200; ++i) repeated += script;
  ASSERT_TRUE(hostTest::MakeZip(d / "whole.qvp", {{"start.qv", repeated}, {"noise.bin", noise}}));
  const std::string archive = hostTest::ReadFile(d / "whole.qvp");
  std::string stored = archive;
  const size_t at = stored.find(noise);
  ASSERT_NE(at, std::string::npos) << "noise.bin was compressed";
  stored[at + 3] ^= 0x20;
  WriteFile(d / "stored.qvp", stored);
  std::string deflated = archive;
  // The entry's first name is in its local header: 30 bytes, then the name and the extra
  // field, whose length is the header's last field.
  const size_t name = deflated.find("start.qv");
  ASSERT_GE(name, 30u);
  const size_t extra = static_cast<unsigned char>(deflated[name - 2]) | static_cast<unsigned char>(deflated[name - 1])
                                                                            << 8;
  const size_t data = name + 8 + extra + 20;
  ASSERT_LT(data, deflated.size());
  deflated[data] ^= 0x55;
  WriteFile(d / "deflated.qvp", deflated);
  EXPECT_EQ(RunPlayer(d, {"--check", "whole"}).out, "whole: 1 script compiled, no problems found\n");
  const PlayerRun changed = RunPlayer(d, {"--check", "stored"});
  EXPECT_EQ(changed.status, 1);
  EXPECT_EQ(changed.out,
            "noise.bin is damaged in stored.qvp: its bytes do not match the checksum the archive keeps\n"
            "stored: 1 script compiled, 1 problem found\n");
  const PlayerRun inflated = RunPlayer(d, {"--check", "deflated"});
  EXPECT_EQ(inflated.status, 1);
  EXPECT_EQ(inflated.out.rfind("start.qv ", 0), 0u) << inflated.out;

  // A first name length of 0xffff, which the engine's reader takes as -1 and overruns a
  // buffer with: neither checked nor played, and said so.
  std::string negative = archive;
  negative[26] = negative[27] = '\xff';
  WriteFile(d / "negative.qvp", negative);
  const std::string why = "entry 1 has a name or extra field longer than the player can read";
  EXPECT_EQ(RunPlayer(d, {"--check", "negative"}).out,
            "negative.qvp is damaged: " + why +
                "\nScript start.qv not found!\nnegative: 0 scripts compiled, 2 problems found\n");
  const PlayerRun played = RunPlayer(d, {"--nowindow", "--fixed-clock", "--frames", "1", "negative"});
  EXPECT_EQ(played.status, 255);
  EXPECT_EQ(played.out, "negative.qvp is damaged and was not mounted: " + why + "\nScript start.qv not found!\n");
}

TEST(HeadlessRun, ScreenshotOfTheLastFrameUnderXvfb) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  hostTest::ScratchDir dir;
  // A yellow text on the frame's black: a front-buffer read would give black alone.
  WriteFile(dir.path / "game/start.qv",
            "global t = Graphics.NewText(\"WWWWWWWWWWWW\", 100, 100, \"#DefaultFont\");"
            "Graphics.SetTextColor(t, 1, 1, 0, 1);");
  // The name is relative to where the player started, although --dev enters the package.
  const PlayerRun r =
      RunPlayer(dir.path, {"--frames", "2", "--fixed-clock", "--screenshot", "shot.png", "--dev", "game"}, true);
  ASSERT_EQ(r.status, 0) << r.err;

  irr::IrrlichtDevice* device =
      irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
  ASSERT_NE(device, nullptr);
  irr::video::IImage* image = device->getVideoDriver()->createImageFromFile((dir.path / "shot.png").c_str());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->getDimension(), irr::core::dimension2d<irr::u32>(1024, 768));
  int yellow = 0, other = 0;
  for (irr::u32 y = 0; y < 768; ++y)
    for (irr::u32 x = 0; x < 1024; ++x) {
      const irr::video::SColor pixel = image->getPixel(x, y);
      if (pixel.getRed() > 200 && pixel.getGreen() > 200 && pixel.getBlue() < 60)
        ++yellow;
      else if (pixel.getRed() + pixel.getGreen() + pixel.getBlue() > 30)
        ++other;
    }
  EXPECT_GT(yellow, 50);
  // Outside the text's few rows nothing but the black clear colour.
  EXPECT_LT(other, yellow);
  image->drop();
  device->drop();

  // A picture that cannot be written fails the run.
  const PlayerRun unwritable = RunPlayer(
      dir.path, {"--fixed-clock", "--frames", "1", "--screenshot", "no/such/dir/shot.png", "--dev", "game"}, true);
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("no screenshot written"), std::string::npos) << unwritable.err;
}

// Escape in developer mode opens the menu over the game: the bar at the top, the console's
// panel over the bottom quarter with the game's printed line in it, and the script line.
TEST(HeadlessRun, TheOpenDeveloperMenuIsDrawnOverTheGame) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", "print(\"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\");");
  WriteFile(dir.path / "keys.txt", "2 key KEY_ESCAPE down\n3 key KEY_ESCAPE up\n");
  const PlayerRun r = RunPlayer(
      dir.path, {"--frames", "6", "--fixed-clock", "--input", "keys.txt", "--screenshot", "menu.png", "--dev", "game"},
      true);
  ASSERT_EQ(r.status, 0) << r.err;
  irr::IrrlichtDevice* device =
      irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
  ASSERT_NE(device, nullptr);
  irr::video::IImage* image = device->getVideoDriver()->createImageFromFile((dir.path / "menu.png").c_str());
  ASSERT_NE(image, nullptr);
  auto count = [&](int x0, int y0, int x1, int y1, auto&& test) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += test(image->getPixel(x, y)) ? 1 : 0;
    return n;
  };
  auto lit = [](irr::video::SColor c) { return c.getRed() + c.getGreen() + c.getBlue() > 24; };
  auto white = [](irr::video::SColor c) { return c.getRed() > 200 && c.getGreen() > 200 && c.getBlue() > 200; };
  // The frame under the menu is black: what is lit here is the menu.
  EXPECT_GT(count(0, 600, 1024, 740, lit), 1024 * 140 * 9 / 10);  // the console's panel
  EXPECT_GT(count(0, 576, 400, 600, white), 50);                  // the printed line, its first
  EXPECT_GT(count(0, 0, 200, 20, white), 20);                     // "Ombrix Menu" on the bar
  EXPECT_GT(count(0, 200, 130, 560, white), 200);                 // the browser's column of globals
  EXPECT_LT(count(300, 250, 1024, 500, lit), 1000);               // the game's view stays clear
  image->drop();
  device->drop();
}

}  // namespace
