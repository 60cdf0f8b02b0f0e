// The player's start-up step that loads "start.qv" from the package, seen from outside:
// what it writes to standard output and the status it exits with.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
};

Result RunPlayer(const hostTest::fs::path& dir, const std::string& package) {
  // A game that starts runs until stopped; SIGTERM ends it with status 0 once the loop has
  // installed its handler. A sanitizer build under parallel tests can take over a second
  // to get there, hence the margin; runs that stop at the start script end at once.
  const std::string command = "cd '" + dir.string() + "' && env -u DISPLAY timeout --preserve-status -s TERM 5 '" OMBRIX_PLAYER "' --nowindow '" +
                              package + "' >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + raw;
  result.out = hostTest::ReadFile(dir / "stdout.txt");
  return result;
}

// A package holding start.qv with the given text.
Result RunStartScript(const std::string& text) {
  hostTest::ScratchDir dir;
  EXPECT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"scripts/Start.QV", text}}));
  return RunPlayer(dir.path, "game");
}

TEST(StartScript, MissingEndsTheRunWithStatusMinusOne) {
  hostTest::ScratchDir dir;
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"other.qv", "print(1);"}}));
  Result r = RunPlayer(dir.path, "game");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Script start.qv not found!\n");
  // No package at all shows the same way.
  r = RunPlayer(dir.path, "absent");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Script start.qv not found!\n");
}

TEST(StartScript, CompileErrorListsTheLogAndEndsTheRun) {
  const Result r = RunStartScript("x = 1;\nbreak;\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Compilation error in script start.qv: -error (2) illegal break statement\r\n\n");
}

TEST(StartScript, LoadedWithZeroBytesDroppedAndRuntimeErrorsTolerated) {
  // Kept, the zero byte would end the text before the ';'. The top-level code runs before
  // the message; the error ends it, not the load, and its log entry shows in the first
  // frame.
  const Result r = RunStartScript(std::string("print(\"a\", 1)") + '\0' + ";\ny = null.z;\nprint(\"b\");\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a 1 \nLoaded script: start.qv\ngetdot failed.\nunknown(2) : y = null.z;\ncallstack..\n  2: __main\n");
}

}  // namespace
