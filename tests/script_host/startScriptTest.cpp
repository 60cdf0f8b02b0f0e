// The player's start-up step that loads "start.qv" from the package, seen from outside:
// what it writes to standard output and the status it exits with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using testSupport::PlayerRun;

// Runs the player in dir on the package; with a_frames it plays that many frames on the
// fixed clock, enough for the first frame's log lines, and ends by itself.
PlayerRun RunPlayer(const hostTest::fs::path& dir, const std::string& package, int a_frames = 0,
                    bool a_developer = false) {
  std::vector<std::string> args = {"--nowindow"};
  if (a_frames > 0) args.insert(args.end(), {"--fixed-clock", "--frames", std::to_string(a_frames)});
  if (a_developer) args.push_back("--dev");
  args.push_back(package);
  return testSupport::RunPlayer(dir, args);
}

// A package holding start.qv with the given text.
PlayerRun RunStartScript(const std::string& text, int a_frames = 0) {
  hostTest::ScratchDir dir;
  EXPECT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"scripts/Start.QV", text}}));
  return RunPlayer(dir.path, "game", a_frames);
}

TEST(StartScript, MissingEndsTheRunWithStatusMinusOne) {
  hostTest::ScratchDir dir;
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"other.qv", "print(1);"}}));
  PlayerRun r = RunPlayer(dir.path, "game");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Script start.qv not found!\n");
  // No package at all shows the same way.
  r = RunPlayer(dir.path, "absent");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Script start.qv not found!\n");
}

TEST(StartScript, CompileErrorListsTheLogAndEndsTheRun) {
  const PlayerRun r = RunStartScript("x = 1;\nbreak;\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Compilation error in script start.qv: -error (2) illegal break statement\r\n\n");
}

TEST(StartScript, LoadedWithZeroBytesDroppedAndRuntimeErrorsTolerated) {
  // Kept, the zero byte would end the text before the ';'. The top-level code runs before
  // the message; the error ends it, not the load, and its log entry shows in the first
  // frame.
  const PlayerRun r = RunStartScript(std::string("print(\"a\", 1)") + '\0' + ";\ny = null.z;\nprint(\"b\");\n", 2);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "a 1 \nLoaded script: start.qv\ngetdot failed. (null has no member 'z')\nstart.qv(2) : y = "
            "null.z;\ncallstack..\n  2: __main\n");
}

// Errors name the file a script was loaded by, as the game asked for it.
TEST(StartScript, ErrorsOfLoadedScriptsNameTheirFile) {
  hostTest::ScratchDir dir;
  ASSERT_TRUE(hostTest::MakeZip(
      dir.path / "game.qvp", {{"start.qv", "LoadScript(\"One.qv\");\n"}, {"levels/one.qv", "x = 1;\ny = null.z;\n"}}));
  const PlayerRun r = RunPlayer(dir.path, "game", 2);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Loaded script: One.qv\nLoaded script: start.qv\ngetdot failed. (null has no member 'z')\nOne.qv(2) : y = "
            "null.z;\ncallstack..\n  2: __main\n");
}

// Little-endian 32-bit field at a_at.
void Patch32(std::string& a_zip, size_t a_at, unsigned a_value) {
  for (int i = 0; i < 4; ++i) a_zip[a_at + i] = static_cast<char>((a_value >> (8 * i)) & 0xFF);
}

// A package's start.qv that the package cannot deliver as it claims: refused with a line
// that says why, never read past, never allocated by the size its header claims.
TEST(StartScript, EntriesThePackageCannotDeliverAreRefused) {
  struct Case {
    const char* what;
    std::string content;
    const char* zipOptions;
    std::string (*spoil)(std::string);
    std::string expected;
  };
  const std::string big(65 * 1024 * 1024, ' ');
  std::string text = "print(1);";
  for (int i = 0; text.size() < 40000; ++i)
    text += "\nglobal v" + std::to_string(i) + " = " + std::to_string(i * 7919 % 1000) + ";";
  const Case cases[] = {
      {"header claims 4 GiB", "print(1);", "-0",
       [](std::string zip) {
         Patch32(zip, 22, 0xFFFFFFF0u);  // the local header's size
         const size_t central = zip.find(std::string("PK\x01\x02", 4));
         if (central != std::string::npos) Patch32(zip, central + 24, 0xFFFFFFF0u);
         return zip;
       },
       "Script start.qv is too large (4294967280 bytes)!\n"},
      {"a small zip of a huge script", big, "-9", [](std::string zip) { return zip; },
       "Script start.qv is too large (68157440 bytes)!\n"},
      {"cut inside a stored entry", text, "-0",
       [](std::string zip) {
         zip.resize(zip.size() / 2);
         return zip;
       },
       "Script start.qv could not be read: the package is damaged!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hostTest::ScratchDir dir;
    hostTest::WriteFile(dir.path / "start.qv", c.content);
    const std::string command =
        "cd '" + dir.path.string() + "' && '" OMBRIX_ZIP "' -q " + c.zipOptions + " game.zip start.qv";
    ASSERT_EQ(std::system(command.c_str()), 0);
    hostTest::fs::remove(dir.path / "start.qv");
    hostTest::WriteFile(dir.path / "game.qvp", c.spoil(hostTest::ReadFile(dir.path / "game.zip")));
    const PlayerRun r = RunPlayer(dir.path, "game");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, c.expected);
  }
}

// Scripts come from the package and, in developer mode, the game's directory: not from
// anywhere a name reaches, and a directory named like a script is none.
TEST(StartScript, LoadScriptStaysInsideThePackage) {
  hostTest::ScratchDir dir;
  hostTest::WriteFile(dir.path / "x.qv", "print(\"outside\");");
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "pkg" / "game.qvp", {{"start.qv",
                                                                 "LoadScript(\"/etc/passwd\"); LoadScript(\"../x.qv\");"
                                                                 "LoadScript(\"a/../../x.qv\"); print(\"done\");"}}));
  PlayerRun r = RunPlayer(dir.path / "pkg", "game", 2);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Script /etc/passwd refused: scripts come from the game's package!\n"
            "Script ../x.qv refused: scripts come from the game's package!\n"
            "Script a/../../x.qv refused: scripts come from the game's package!\n"
            "done \nLoaded script: start.qv\n");

  hostTest::fs::create_directories(dir.path / "dev" / "start.qv");
  r = RunPlayer(dir.path, "dev", 2, true);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Script start.qv not found!\n");
}

}  // namespace
