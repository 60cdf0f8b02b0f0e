// "--pack" as an author ships with it: the built player packs a scratch directory, and the
// package it writes is read back by the player itself (check, checksum, play).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/gZipLayout.h"
#include "tests/host/hostFixture.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::fs::path;
using hostTest::ReadFile;
using hostTest::WriteFile;

using testSupport::RunPlayer;
using Result = testSupport::PlayerRun;

void WriteGame(const path& a_game) {
  WriteFile(a_game / "start.qv", "LoadScript(\"more.qv\");\nprint(\"packed\", Q);\n");
  WriteFile(a_game / "levels/more.qv", "global Q = 7;\n");
  WriteFile(a_game / "notes.txt", std::string(5000, 'x'));
  WriteFile(a_game / "empty.dat", "");
  // Left out: hidden files and folders, editor backups.
  WriteFile(a_game / ".hidden.qv", "this does not compile");
  WriteFile(a_game / ".git/config", "x");
  WriteFile(a_game / "start.qv~", "old");
  WriteFile(a_game / ".start.qv.swp", "swap");
  WriteFile(a_game / "levels/more.qv.swp", "swap");
}

TEST(Pack, TheSameDirectoryGivesTheSameBytesAndThePlayerReadsThem) {
  hostTest::ScratchDir dir;
  WriteGame(dir.path / "game");
  const Result first = RunPlayer(dir.path, {"--pack", "game"});
  ASSERT_EQ(first.status, 0) << first.out;
  const std::string bytes = ReadFile(dir.path / "game.qvp");
  ASSERT_FALSE(bytes.empty());

  // Other times, another order of creation and the output written elsewhere change nothing.
  for (const char* file : {"start.qv", "levels/more.qv", "notes.txt"})
    hostTest::fs::last_write_time(dir.path / "game" / file,
                                  hostTest::fs::file_time_type::clock::now() - std::chrono::hours(50));
  const Result second = RunPlayer(dir.path, {"--pack", "game/", "again.qvp"});
  ASSERT_EQ(second.status, 0) << second.out;
  EXPECT_EQ(ReadFile(dir.path / "again.qvp"), bytes);

  const Result checksum = RunPlayer(dir.path, {"--checksum", "game"});
  const std::string sum = checksum.out.substr(checksum.out.find('\n') + 1, 40);
  EXPECT_NE(
      first.out.find("Packed game.qvp: 4 files, " + std::to_string(bytes.size()) + " bytes, checksum " + sum + "\n"),
      std::string::npos)
      << first.out;
  EXPECT_EQ(gZipLayout::Problem(std::vector<char>(bytes.begin(), bytes.end())), "");
  const Result check = RunPlayer(dir.path, {"--check", "game"});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "game: 2 scripts compiled, no problems found\n");
  const Result play = RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "1", "game"});
  EXPECT_EQ(play.out, "Loaded script: more.qv\npacked 7 \nLoaded script: start.qv\n");
}

TEST(Pack, AProblemTheCheckFindsWritesNothing) {
  struct Case {
    const char* name;
    const char* file;
    const char* content;
    const char* line;  // expected on standard output
  };
  const Case cases[] = {
      {"compile error", "start.qv", "global x = ;\n", "start.qv(1) : "},
      {"names differing only in case", "START.QV", "global y = 1;\n",
       "have the same name once folders and letter case"},
      {"the same name in another folder", "levels/Start.qv", "global y = 1;\n",
       "have the same name once folders and letter case"},
  };
  for (const Case& c : cases) {
    hostTest::ScratchDir dir;
    WriteFile(dir.path / "game/start.qv", "print(1);\n");
    WriteFile(dir.path / "game" / c.file, c.content);
    WriteFile(dir.path / "game.qvp", "kept");
    const Result result = RunPlayer(dir.path, {"--pack", "game"});
    EXPECT_EQ(result.status, 1) << c.name;
    EXPECT_NE(result.out.find(c.line), std::string::npos) << c.name << ": " << result.out;
    EXPECT_NE(result.out.find("Nothing was packed: game has the problems above\n"), std::string::npos) << c.name;
    EXPECT_EQ(ReadFile(dir.path / "game.qvp"), "kept") << c.name;
  }
}

}  // namespace
