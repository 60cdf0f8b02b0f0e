// The mistakes a first game makes, run through the built player as its author would meet
// them: each must say on the console what failed, by name, and end with the status the
// README lists. Also the command line as Linux users type it, --check in sub-folders, and
// replayed input that must reach the game whether or not its window has the focus.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::WriteFile;
namespace fs = hostTest::fs;

using Result = testSupport::PlayerRun;

// a_prefix goes before the player (the virtual X server).
Result RunPlayer(const fs::path& a_dir, const std::vector<std::string>& a_args,
                 const std::vector<std::string>& a_prefix = {}) {
  testSupport::PlayerOptions options;
  options.dir = a_dir;
  options.args = a_args;
  options.prefix = a_prefix;
  return testSupport::RunPlayer(options);
}

// Compile errors keep the "\r" their log entries end with; a line is compared without it.
bool HasLine(const std::string& a_text, const std::string& a_line) {
  std::string text = "\n";
  for (char c : a_text)
    if (c != '\r') text += c;
  return text.find("\n" + a_line + "\n") != std::string::npos;
}

size_t Count(const std::string& a_text, const std::string& a_part) {
  size_t n = 0;
  for (size_t at = a_text.find(a_part); at != std::string::npos; at = a_text.find(a_part, at + 1)) ++n;
  return n;
}

// What the libraries say when the player leaves without closing them.
void ExpectQuietExit(const Result& a_run) {
  EXPECT_EQ(a_run.err.find("alc_cleanup"), std::string::npos) << a_run.err;
  EXPECT_EQ(a_run.err.find("X error"), std::string::npos) << a_run.err;
}

struct Mistake {
  const char* what;
  const char* start;               // start.qv of the game
  std::vector<const char*> lines;  // console lines that must be there, exactly
  int status;                      // under --strict
  int statusWithoutStrict;
};

TEST(NewcomerMistakes, EachSaysWhatFailedAndEndsWithItsStatus) {
  const Mistake mistakes[] = {
      {"a misspelt function",
       "global Update = function() { print(\"up\"); };\nUpdte();\n",
       {"attempt to call non function type (null 'Updte'), did you mean 'Update'?", "start.qv(2) : Updte();"},
       3,
       0},
      {"a misspelt method",
       "global ball = table(Jump = function() { print(\"jump\"); });\nball.Jmup();\n",
       {"attempt to call non function type (null 'Jmup'), did you mean 'Jump'?"},
       3,
       0},
      {"a name far from every other", "Zzyzx();\n", {"attempt to call non function type (null 'Zzyzx')"}, 3, 0},
      {"calling a number", "global n = 3;\nn();\n", {"attempt to call non function type (int 'n')"}, 3, 0},
      {"a member of null",
       "global ball = null;\nball.Physics.Mass(1);\n",
       {"getdot failed. (null has no member 'Physics')", "start.qv(2) : ball.Physics.Mass(1);"},
       3,
       0},
      {"setting a member of null",
       "global ball;\nball.x = 1;\n",
       {"setdot failed. (null has no member 'x' to set)"},
       3,
       0},
      {"an operator on the wrong types",
       "global x = table() - 1;\n",
       {"operator sub undefined for type table and int"},
       3,
       0},
      {"a native given arguments none of its overloads takes",
       "System.Username(1);\n",
       {"no overload of _System.Username takes (int); it takes ()"},
       3,
       0},
      {"a missing mesh",
       "print(\"a\");\nglobal m = Graphics.NewMesh(\"ball.obj\");\n",
       {"ball.obj not found (Graphics.NewMesh, start.qv(2))"},
       0,
       0},
      {"a syntax error", "x = ;\n", {"Compilation error in script start.qv: -error (1) parse error"}, 3, 255},
      {"no start script", nullptr, {"Script start.qv not found!"}, 3, 255},
  };
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.what);
    hostTest::ScratchDir dir;
    fs::create_directories(dir.path / "game");
    if (m.start) WriteFile(dir.path / "game/start.qv", m.start);
    const std::vector<std::string> common = {"--nowindow", "--fixed-clock", "--frames", "2", "--dev", "game"};
    std::vector<std::string> strict = common;
    strict.push_back("--strict");
    const Result r = RunPlayer(dir.path, strict);
    EXPECT_EQ(r.status, m.status) << r.out << r.err;
    for (const char* line : m.lines) EXPECT_TRUE(HasLine(r.out, line)) << line << "\n--- in ---\n" << r.out;
    ExpectQuietExit(r);
    const Result plain = RunPlayer(dir.path, common);
    EXPECT_EQ(plain.status, m.statusWithoutStrict) << plain.out << plain.err;
    ExpectQuietExit(plain);
  }
}

// A texture that is not there is named once, however often it is asked for, and the fixed
// message of the component that is handed it stays.
TEST(NewcomerMistakes, AMissingTextureIsNamedOnceWithItsCallAndLine) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv",
            "global a = Graphics.NewTexture(\"wall.png\");\n"
            "global b = Graphics.NewTexture(\"wall.png\");\n"
            "NewScene(\"world\"); global o = world.NewObject(\"o\");\n"
            "o.Graphics.NewMesh(\"m\", Graphics.NewMesh(\"cube.obj\"));\n");
  const Result r = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "1", "--dev", "game"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "wall.png not found"), 1u) << r.out;
  EXPECT_TRUE(HasLine(r.out, "wall.png not found (Graphics.NewTexture, start.qv(1))")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "cube.obj not found (Graphics.NewMesh, start.qv(4))")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "mesh is empty")) << r.out;
}

struct Invocation {
  std::vector<std::string> args;
  int status;
  const char* out;  // a line of standard output, or null
  const char* err;  // the first line of standard error, or null
};

TEST(NewcomerMistakes, TheCommandLineAsLinuxUsersTypeIt) {
  hostTest::ScratchDir dir;
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "games/Mygame.qvp", {{"start.qv", "print(\"mygame\");"}}));
  const std::string absolute = (dir.path / "games/Mygame").string();
  const std::vector<std::string> run = {"--nowindow", "--fixed-clock", "--frames", "1"};
  auto with = [&](std::vector<std::string> a_more) {
    std::vector<std::string> args = run;
    args.insert(args.end(), a_more.begin(), a_more.end());
    return args;
  };
  const Invocation cases[] = {
      {with({"games/Mygame"}), 0, "mygame ", nullptr},
      {with({"games/Mygame.qvp"}), 0, "mygame ", nullptr},
      {with({absolute + ".qvp"}), 0, "mygame ", nullptr},
      {with({absolute}), 0, "mygame ", nullptr},
      {with({"--bogus", "games/Mygame"}), 2, nullptr, "unknown option --bogus"},
      {with({"-x"}), 2, nullptr, "unknown option -x"},
      {with({"--devel"}), 2, nullptr, "unknown option --devel"},
      {with({"Mygame"}), 255, "Script start.qv not found!", nullptr},
      {with({"--strict", "Mygame"}), 3, "Script start.qv not found!", nullptr},
  };
  for (const Invocation& c : cases) {
    std::string label;
    for (const std::string& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    const Result r = RunPlayer(dir.path, c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.out) {
      EXPECT_TRUE(HasLine(r.out, c.out)) << r.out;
    }
    if (c.err) {
      EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err) << r.err;
      EXPECT_NE(r.err.find("Usage: "), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
    }
    ExpectQuietExit(r);
  }

  // Started where the package is not, it says where it looked and what to try.
  const Result lost = RunPlayer(dir.path, with({"Mygame"}));
  EXPECT_EQ(lost.out, "Script start.qv not found!\n");
  const std::string looked =
      "ombrix: no package Mygame.qvp (looked for " + fs::weakly_canonical(dir.path / "Mygame.qvp").string() +
      "): give the package's path, e.g. ombrix path/to/Mygame.qvp, or start the player in its folder\n";
  EXPECT_NE(lost.err.find(looked), std::string::npos) << lost.err;
  const Result folder = RunPlayer(dir.path, with({"games"}));
  EXPECT_NE(folder.err.find("add --dev to play the directory games"), std::string::npos) << folder.err;
}

TEST(NewcomerMistakes, CheckInDeveloperModeWalksSubFolders) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", "LoadScript(\"levels/deep/two.qv\");\n");
  WriteFile(dir.path / "game/levels/one.qv", "global one = 1;\n");
  WriteFile(dir.path / "game/levels/deep/two.qv", "global two = 2;\nx = ;\n");
  const Result r = RunPlayer(dir.path, {"--check", "--dev", "game"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "levels/deep/two.qv(2) : parse error")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "game: 3 scripts compiled, 1 problem found")) << r.out;
  // The same files zipped are checked alike.
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "game/level.zip", {{"levels/deep/three.qv", "y = ;\n"}}));
  const Result zipped = RunPlayer(dir.path, {"--check", "--dev", "game"});
  EXPECT_TRUE(HasLine(zipped.out, "level.zip/levels/deep/three.qv(1) : parse error")) << zipped.out;
}

// The menu's script line gets the keyboard when Escape opens it, loses its hint at the
// first key, and receives the characters the replayed Shift makes.
TEST(NewcomerMistakes, ALineTypedIntoTheDeveloperMenuRuns) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", "print(\"ready\");\n");
  std::string keys = "2 key KEY_ESCAPE down\n3 key KEY_ESCAPE up\n";
  unsigned frame = 4;
  auto type = [&](const std::string& a_key, bool a_shift) {
    const std::string at = std::to_string(frame);
    if (a_shift) keys += at + " key KEY_SHIFT down\n";
    keys += at + " key " + a_key + " down\n" + at + " key " + a_key + " up\n";
    if (a_shift) keys += at + " key KEY_SHIFT up\n";
    ++frame;
  };
  for (const char* letter : {"KEY_P", "KEY_R", "KEY_I", "KEY_N", "KEY_T"}) type(letter, false);
  type("KEY_9", true);
  type("222", true);  // the quote key
  type("KEY_H", false);
  type("KEY_I", false);
  type("222", true);
  type("KEY_0", true);
  type("186", false);  // the semicolon key
  type("KEY_RETURN", false);
  WriteFile(dir.path / "keys.txt", keys);
  const Result r = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", std::to_string(frame + 1), "--input",
                                        "keys.txt", "--strict", "--dev", "game"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ready \nLoaded script: start.qv\nhi \n");
}

// A windowed run under a bare X server, where the window never gets the focus: the
// replayed click still reaches the game, and what it does shows in the picture.
TEST(NewcomerMistakes, AReplayedClickShowsInAWindowedScreenshot) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  const std::vector<std::string> xvfb = {"env", "LSAN_OPTIONS=detect_leaks=0",
                                         OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh"};
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv",
            "global clicked = function() {\n"
            "  global t = Graphics.NewText(\"WWWWWWWWWWWW\", 100, 100, \"#DefaultFont\");\n"
            "  Graphics.SetTextColor(t, 1, 1, 0, 1);\n"
            "  print(\"clicked\");\n"
            "};\n"
            "Input.ScriptButton(MOU_LEFT, BUT_DOWN, \"clicked\");\n");
  WriteFile(dir.path / "click.txt", "2 move 500 400\n2 mouse 0 down\n3 mouse 0 up\n");
  const Result r = RunPlayer(
      dir.path,
      {"--frames", "5", "--fixed-clock", "--input", "click.txt", "--screenshot", "click.png", "--dev", "game"}, xvfb);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "clicked ")) << r.out;
  ExpectQuietExit(r);
  irr::IrrlichtDevice* device =
      irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1, 1), 32, false, false, false);
  ASSERT_NE(device, nullptr);
  irr::video::IImage* image = device->getVideoDriver()->createImageFromFile((dir.path / "click.png").c_str());
  ASSERT_NE(image, nullptr);
  int yellow = 0;
  for (irr::u32 y = 80; y < 140; ++y)
    for (irr::u32 x = 80; x < 300; ++x) {
      const irr::video::SColor pixel = image->getPixel(x, y);
      if (pixel.getRed() > 200 && pixel.getGreen() > 200 && pixel.getBlue() < 60) ++yellow;
    }
  EXPECT_GT(yellow, 50);
  image->drop();
  device->drop();
}

// Ctrl+C in a windowed run (real-time clock, so the engine also sets its swap interval):
// the player stops after the frame in progress, closes the window and the sound device in
// order, and neither the window system nor the sound library has anything to say.
TEST(NewcomerMistakes, AnInterruptedWindowedRunExitsQuietly) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", "print(\"started\");\n");
  // Signalled once it has started, as a user would; the loop waits for the line, not for a
  // time. The signal goes to the player itself, not to the X server's script around it.
  WriteFile(dir.path / "interrupt.sh", "'" OMBRIX_TEST_PLAYER
                                       "' --dev game >player.out 2>player.err &\n"
                                       "player=$!\n"
                                       "until grep -q 'Loaded script' player.out 2>/dev/null; do\n"
                                       "  kill -0 $player 2>/dev/null || break\n"
                                       "  sleep 0.05\n"
                                       "done\n"
                                       "kill -INT $player\n"
                                       "wait $player\n");
  testSupport::PlayerOptions options;
  options.dir = dir.path;
  options.player = OMBRIX_SOURCE_DIR "/tests/support/withXvfb.sh";
  options.args = {"sh", "interrupt.sh"};
  options.env = {"ALSOFT_DRIVERS=null", "LSAN_OPTIONS=detect_leaks=0"};
  const Result shell = testSupport::RunPlayer(options);
  Result player;
  player.status = shell.status;
  player.out = hostTest::ReadFile(dir.path / "player.out");
  player.err = hostTest::ReadFile(dir.path / "player.err");
  EXPECT_EQ(player.status, 0) << player.err;
  EXPECT_TRUE(HasLine(player.out, "Loaded script: start.qv")) << player.out;
  ExpectQuietExit(player);
}

}  // namespace
