// The player's start-up step that loads "start.qv" from the package, seen from outside:
// what it writes to standard output and the status it exits with.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
};

// Runs the player in dir until it exits, or, when a_stopAfter is given, until its standard
// output holds that text: the game then runs in its loop (which printed it), and SIGTERM
// ends it with status 0. Waiting for the output instead of a fixed time keeps a slow
// sanitizer build under parallel tests from being stopped before the loop is reached.
Result RunPlayer(const hostTest::fs::path& dir, const std::string& package, const std::string& a_stopAfter = "") {
  const hostTest::fs::path out = dir / "stdout.txt";
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (!std::freopen("stdout.txt", "w", stdout) || !std::freopen("stderr.txt", "w", stderr)) _exit(127);
    unsetenv("DISPLAY");
    execl(OMBRIX_PLAYER, OMBRIX_PLAYER, "--nowindow", package.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int raw = 0;
  bool stopped = false;
  for (int waited = 0;; waited += 20) {
    if (waitpid(child, &raw, WNOHANG) == child) break;
    if (waited > 120000) {
      kill(child, SIGKILL);
      waitpid(child, &raw, 0);
      break;
    }
    if (!stopped && !a_stopAfter.empty() && hostTest::ReadFile(out).find(a_stopAfter) != std::string::npos) {
      kill(child, SIGTERM);
      stopped = true;
    }
    usleep(20000);
  }
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + raw;
  result.out = hostTest::ReadFile(out);
  return result;
}

// A package holding start.qv with the given text.
Result RunStartScript(const std::string& text, const std::string& a_stopAfter = "") {
  hostTest::ScratchDir dir;
  EXPECT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"scripts/Start.QV", text}}));
  return RunPlayer(dir.path, "game", a_stopAfter);
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
  const Result r = RunStartScript(std::string("print(\"a\", 1)") + '\0' + ";\ny = null.z;\nprint(\"b\");\n", "__main\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a 1 \nLoaded script: start.qv\ngetdot failed.\nstart.qv(2) : y = null.z;\ncallstack..\n  2: __main\n");
}

// Errors name the file a script was loaded by, as the game asked for it.
TEST(StartScript, ErrorsOfLoadedScriptsNameTheirFile) {
  hostTest::ScratchDir dir;
  ASSERT_TRUE(hostTest::MakeZip(dir.path / "game.qvp", {{"start.qv", "LoadScript(\"One.qv\");\n"},
                                                        {"levels/one.qv", "x = 1;\ny = null.z;\n"}}));
  const Result r = RunPlayer(dir.path, "game", "__main\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Loaded script: One.qv\nLoaded script: start.qv\ngetdot failed.\nOne.qv(2) : y = null.z;\ncallstack..\n  2: __main\n");
}

}  // namespace
