// "--record" as an author uses it to make a bug found by hand reproducible: a session is
// recorded (its keys come from a replay and its remote is simulated, so the test drives it
// without a person), and the recording replayed with --fixed-clock gives the same output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::fs::path;
using hostTest::ReadFile;
using hostTest::WriteFile;

using testSupport::RunPlayer;
using Result = testSupport::PlayerRun;

const char* const kGame = R"(
global w = Input.Wiimote();
global c = Counter(); c.Start();
global say = function(what) { print(what, c.GetTick(), Random()); };
global onConnect = function() { say("connected"); };
global onA = function() { say("A down"); };
global onAUp = function() { say("A up"); };
global onSpace = function() { say("space"); };
global onClick = function() { say("click"); };
w.ScriptConnect("onConnect");
w.ScriptButton(WIIBUT_A, BUT_DOWN, "onA");
w.ScriptButton(WIIBUT_A, BUT_UP, "onAUp");
Input.ScriptButton(KEY_SPACE, BUT_DOWN, "onSpace");
Input.ScriptButton(MOU_LEFT, BUT_DOWN, "onClick");
)";

TEST(Record, ARecordedSessionReplaysToTheSameOutput) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", kGame);
  // The remote presses A about 0.2 s after it connects and lets go 0.2 s later.
  WriteFile(dir.path / "remote.txt", "200 30 00 08\n400 30 00 00\n");
  WriteFile(dir.path / "keys.txt", "10 key KEY_SPACE down\n12 key KEY_SPACE up\n20 move 100 200\n21 mouse 0 down\n22 mouse 0 up\n");
  const Result recorded = RunPlayer(dir.path, {"--nowindow", "--frames", "45", "--dev", "game", "--wiimote-sim", "remote.txt",
                                            "--input", "keys.txt", "--record", "session.txt"});
  ASSERT_EQ(recorded.status, 0) << recorded.out;
  const std::string recording = ReadFile(dir.path / "session.txt");
  for (const char* line : {"\n10 key KEY_SPACE down\n", "\n12 key KEY_SPACE up\n", "\n20 move 100 200\n", "\n21 mouse 0 down\n",
                           " wiimote 30 00 08 ", " wiimote 30 00 00 "})
    EXPECT_NE(recording.find(line), std::string::npos) << line << " in\n" << recording;

  const std::string session = (dir.path / "session.txt").string();
  const std::string ending = "Recorded 45 frames of input to " + session + "\nReplay it with: " OMBRIX_TEST_PLAYER " --input " +
                             session + " --fixed-clock --frames 45 --nowindow --dev game\n";
  ASSERT_GE(recorded.out.size(), ending.size());
  const std::string played = recorded.out.substr(0, recorded.out.size() - ending.size());
  EXPECT_EQ(recorded.out.substr(played.size()), ending);
  for (const char* event : {"connected", "A down", "space", "click", "A up"})
    EXPECT_NE(played.find(event), std::string::npos) << event << " in\n" << played;

  // Twice: the replay itself is the same every time.
  for (int run = 0; run < 2; ++run) {
    const Result replayed =
        RunPlayer(dir.path, {"--input", "session.txt", "--fixed-clock", "--frames", "45", "--nowindow", "--dev", "game"});
    EXPECT_EQ(replayed.status, 0);
    EXPECT_EQ(replayed.out, played);
  }
}

}  // namespace
