// Damaged and hostile media as a player run meets them: files that crash or throw in the
// engine's loaders, files that are no files, and inputs too long to repeat. Each run must end
// by itself, say the same every time, and name each bad file once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/hostFixture.h"
#include "tests/support/pictureBytes.h"
#include "tests/support/playerRun.h"

namespace {

using hostTest::WriteFile;

// The player's verdict cache goes to a_dir/cache.
testSupport::PlayerRun RunPlayer(const hostTest::fs::path& a_dir, const std::vector<std::string>& a_args) {
  testSupport::PlayerOptions options;
  options.dir = a_dir;
  options.args = a_args;
  options.env.push_back("XDG_CACHE_HOME=" + (a_dir / "cache").string());
  return testSupport::RunPlayer(options);
}

TEST(DamagedMedia, AFileThatCrashesOrThrowsIsNamedOnceAndLeftOutOnEveryRun) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/negative.bmp", testSupport::NegativeBmp());
  // A vertex count no memory holds: the irrmesh loader throws.
  WriteFile(
      dir.path / "game/huge.irrmesh",
      "<?xml version=\"1.0\"?>\n<mesh xmlns=\"http://irrlicht.sourceforge.net/IRRMESH_09_2007\" version=\"1.0\">\n"
      "<buffer>\n<material>\n</material>\n<vertices type=\"standard\" vertexCount=\"2147483647\">\n"
      "0 0 0 0 0 1 FFFFFFFF 0 0\n</vertices>\n<indices indexCount=\"3\">\n0 0 0\n</indices>\n</buffer>\n</mesh>\n");
  WriteFile(dir.path / "game/broken.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3000000\n");
  WriteFile(dir.path / "game/whole.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteFile(dir.path / "game/start.qv",
            "NewScene(\"world\"); global o = world.NewObject(\"o\");\n"
            "for (i = 0; i < 2; i = i + 1) {\n"
            "  Graphics.NewTexture(\"negative.bmp\");\n"
            "  o.Graphics.NewMesh(\"a\", Graphics.NewMesh(\"huge.irrmesh\"));\n"
            "  o.Graphics.NewMesh(\"b\", Graphics.NewMesh(\"broken.obj\"));\n"
            "  o.Graphics.NewMesh(\"c\", Graphics.NewMesh(\"whole.obj\"));\n"
            "}\n"
            "print(\"started\");\n");
  const std::string expected =
      "negative.bmp is damaged: its size is not a picture's size, so it was not loaded\n"
      "huge.irrmesh is damaged: the mesh loader crashed on it, so it was not loaded\n"
      "mesh is empty\n"
      "broken.obj is damaged: the mesh loader crashed on it, so it was not loaded\n"
      "mesh is empty\n"
      "mesh is empty\n"
      "mesh is empty\n"
      "started \n"
      "Loaded script: start.qv\n";
  const std::vector<std::string> play = {"--nowindow", "--fixed-clock", "--frames", "3", "--dev", "game"};
  // The first run tries the files, the second knows them from the cache.
  for (int run = 0; run < 2; ++run) {
    const testSupport::PlayerRun r = RunPlayer(dir.path, play);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected) << "run " << run;
  }
  EXPECT_TRUE(hostTest::fs::is_regular_file(dir.path / "cache/ombrix/load-trials"));
  const std::string checked =
      "broken.obj is damaged: the mesh loader crashed on it\n"
      "huge.irrmesh is damaged: the mesh loader crashed on it\n"
      "negative.bmp is damaged: its size is not a picture's size\n"
      "game: 1 script compiled, 3 problems found\n";
  for (int run = 0; run < 2; ++run) {
    const testSupport::PlayerRun r = RunPlayer(dir.path, {"--check", "--dev", "game"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, checked) << "run " << run;
  }
}

// A FIFO opened for reading waits for a writer for ever; a game folder's FIFOs are no files.
TEST(DamagedMedia, AFifoNamedLikeAGameFileDoesNotStopThePlayer) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv",
            "Audio.AddSound(\"x.ogg\");\n"
            "Graphics.NewTexture(\"x.png\");\n"
            "NewScene(\"world\"); world.NewObject(\"o\").Graphics.NewMesh(\"m\", Graphics.NewMesh(\"x.obj\"));\n"
            "LoadScript(\"x.qv\");\n"
            "print(\"started\");\n");
  for (const char* name : {"x.ogg", "x.png", "x.obj", "x.qv", "x.zip"})
    ASSERT_EQ(mkfifo((dir.path / "game" / name).c_str(), 0600), 0) << name;
  const testSupport::PlayerRun r =
      RunPlayer(dir.path, {"--nowindow", "--fixed-clock", "--frames", "3", "--dev", "game"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Loading zip file x.zip\n"
            "x.ogg not found !\n"
            "mesh is empty\n"
            "Script x.qv not found!\n"
            "started \n"
            "Loaded script: start.qv\n");
  const testSupport::PlayerRun checked = RunPlayer(dir.path, {"--check", "--dev", "game"});
  EXPECT_EQ(checked.status, 1);
  EXPECT_NE(checked.out.find("x.zip cannot be read as a zip archive"), std::string::npos) << checked.out;
}

// A key name of megabytes (the report had 50) is named by its first 80 characters.
TEST(DamagedMedia, AMessageQuotesAtMost80CharactersOfABadInput) {
  hostTest::ScratchDir dir;
  WriteFile(dir.path / "game/start.qv", ";");
  WriteFile(dir.path / "keys.txt", "1 key " + std::string(8u << 20, 'K') + " down\n");
  const testSupport::PlayerRun r =
      RunPlayer(dir.path, {"--nowindow", "--frames", "1", "--input", "keys.txt", "--dev", "game"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ombrix: keys.txt:1: unknown key \"" + std::string(80, 'K') +
                       "...\" (a KEY_ name or a key code from 0 to 255)\n");
}

}  // namespace
