// The package's load trial and its remembered verdicts, and the checks pictures pass before
// the engine's loaders see them.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <png.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "binding/gConsole.h"
#include "graphics/graImageLoader.h"
#include "graphics/graLoadProbe.h"
#include "tests/support/pictureBytes.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

void Write(const fs::path& a_path, const std::string& a_bytes) {
  std::ofstream out(a_path, std::ios::binary);
  out << a_bytes;
}

std::string Read(const fs::path& a_path) {
  std::ifstream in(a_path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A face past the vertices crashes the engine's OBJ loader; a vertex count no memory holds
// makes its irrmesh loader throw.
const char kBrokenObj[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3000000\n";
const char kGoodObj[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
const char kHugeIrrmesh[] =
    "<?xml version=\"1.0\"?>\n<mesh xmlns=\"http://irrlicht.sourceforge.net/IRRMESH_09_2007\" version=\"1.0\">\n"
    "<buffer>\n<material>\n</material>\n<vertices type=\"standard\" vertexCount=\"2147483647\">\n"
    "0 0 0 0 0 1 FFFFFFFF 0 0\n</vertices>\n<indices indexCount=\"3\">\n0 0 0\n</indices>\n</buffer>\n</mesh>\n";

std::string Png(unsigned a_side) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = png.height = a_side;
  png.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(a_side * a_side * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7);
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&png, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string bytes(size, '\0');
  png_image_write_to_memory(&png, bytes.data(), &size, 0, pixels.data(), 0, nullptr);
  return bytes;
}

std::string Jpeg(unsigned a_side) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = info.image_height = a_side;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(a_side * 3);
  while (info.next_scanline < info.image_height) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<unsigned char>(i * 5 + info.next_scanline * 3);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string bytes(reinterpret_cast<char*>(out), size);
  free(out);
  return bytes;
}

using testSupport::Bmp8;
using testSupport::NegativeBmp;
using testSupport::Put16;
using testSupport::Put32;

std::string Tga(unsigned a_side, bool a_runs) {
  std::string bytes(18, '\0');
  bytes[2] = static_cast<char>(a_runs ? 10 : 2);
  Put16(bytes, 12, a_side);
  Put16(bytes, 14, a_side);
  bytes[16] = 24;
  for (unsigned i = 0; i < a_side * a_side; ++i) {
    if (a_runs) bytes += '\0';  // a raw packet of one pixel
    bytes += std::string("\x10\x20\x30", 3);
  }
  return bytes;
}

class LoadTrialTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ombrix-trial-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    fs::create_directory(dir / "game");
    s_console = &console;
    gConsole::SetSink([](const char* a_line) { s_console->push_back(a_line); });
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(64, 64), 32, false, false, false);
    ASSERT_NE(device, nullptr);
    device->getLogger()->setLogLevel(irr::ELL_NONE);
    graImageLoader::Install(device->getVideoDriver());
    files = device->getFileSystem();
  }
  void TearDown() override {
    graLoadProbe::Reset();
    gConsole::SetSink(nullptr);
    if (device) {
      device->closeDevice();
      device->drop();
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  // Starts the package trial on the game folder, asks for the given names and waits for
  // the rest; what the console said.
  Strings Play(const std::vector<std::pair<graLoadProbe::Kind, std::string>>& a_names, std::vector<bool>* a_loads) {
    console.clear();
    graLoadProbe::Reset();
    files->changeWorkingDirectoryTo((dir / "game").c_str());
    graLoadProbe::BeginPackage(device, true);
    a_loads->clear();
    for (const auto& [kind, name] : a_names) a_loads->push_back(graLoadProbe::Loads(files, kind, name));
    graLoadProbe::Finish();
    return console;
  }

  static inline Strings* s_console = nullptr;
  Strings console;
  fs::path dir;
  irr::IrrlichtDevice* device = nullptr;
  irr::io::IFileSystem* files = nullptr;
};

TEST_F(LoadTrialTest, OneChildTriesThePackageAndAnUnchangedFileIsNeverTriedAgain) {
  Write(dir / "game/broken.obj", kBrokenObj);
  Write(dir / "game/good.obj", kGoodObj);
  Write(dir / "game/huge.irrmesh", kHugeIrrmesh);
  Write(dir / "game/tint.png", Png(4));
  // Named as a PNG, but the engine's BMP loader reads it: tried like a mesh. A true PNG is
  // decoded by our own loader alone and needs no trial.
  Write(dir / "game/shade.png", Bmp8(5, 3, 256, 7));
  Write(dir / "game/start.qv", ";");
  ASSERT_EQ(mkfifo((dir / "game/fifo.png").c_str(), 0600), 0);
  const std::vector<std::pair<graLoadProbe::Kind, std::string>> names = {
      {graLoadProbe::MESH, "broken.obj"},  {graLoadProbe::MESH, "good.obj"},    {graLoadProbe::MESH, "huge.irrmesh"},
      {graLoadProbe::TEXTURE, "tint.png"}, {graLoadProbe::TEXTURE, "fifo.png"}, {graLoadProbe::MESH, "broken.obj"},
      {graLoadProbe::TEXTURE, "shade.png"}};
  const std::vector<bool> expected = {false, true, false, true, false, false, true};
  const Strings said = {"broken.obj is damaged: the mesh loader crashed on it, so it was not loaded",
                        "huge.irrmesh is damaged: the mesh loader crashed on it, so it was not loaded"};
  std::vector<bool> loads;

  testing::internal::CaptureStderr();
  EXPECT_EQ(Play(names, &loads), said);
  EXPECT_EQ(loads, expected);
  EXPECT_EQ(graLoadProbe::PackageFiles(), 4) << "neither the FIFO nor the PNG is tried";
  EXPECT_EQ(graLoadProbe::PackageTrialLoads(), 4);
  ASSERT_TRUE(fs::is_regular_file(dir / "cache/ombrix/load-trials"));

  // The second start: the same verdicts and lines, nothing loaded in a trial.
  EXPECT_EQ(Play(names, &loads), said);
  EXPECT_EQ(loads, expected);
  EXPECT_EQ(graLoadProbe::PackageTrialLoads(), 0);

  // A mended mesh is tried again, with the other meshes (it could be one of their
  // materials); the unchanged pictures are not.
  Write(dir / "game/broken.obj", kGoodObj);
  EXPECT_EQ(Play(names, &loads), Strings{said[1]});
  EXPECT_TRUE(loads[0]);
  EXPECT_EQ(graLoadProbe::PackageTrialLoads(), 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A font description is tried by the package's child as well (it is also a mesh to the
// engine, and tried as one), and remembered: the second start tries nothing and starts no
// child of its own for the font.
TEST_F(LoadTrialTest, FontsAreTriedWithThePackage) {
  Write(dir / "game/font.xml",
        "<?xml version=\"1.0\"?>\n<font type=\"bitmap\">\n<Texture index=\"0\" filename=\"tint.png\" "
        "hasAlpha=\"true\" />\n<c c=\"A\" r=\"0,0,2,2\" />\n</font>\n");
  Write(dir / "game/tint.png", Png(4));
  const std::vector<std::pair<graLoadProbe::Kind, std::string>> names = {{graLoadProbe::FONT, "font.xml"},
                                                                         {graLoadProbe::MESH, "font.xml"}};
  std::vector<bool> loads;
  for (int start = 0; start < 2; ++start) {
    EXPECT_EQ(Play(names, &loads), Strings{});
    EXPECT_EQ(loads, (std::vector<bool>{true, true}));
    EXPECT_EQ(graLoadProbe::PackageFiles(), 2) << "the font and the mesh; its PNG is decoded by our own loader";
    EXPECT_EQ(graLoadProbe::PackageTrialLoads(), start == 0 ? 2 : 0);
  }
}

TEST_F(LoadTrialTest, ADamagedOrUnwritableCacheIsIgnoredWithOneLine) {
  Write(dir / "game/broken.obj", kBrokenObj);
  Write(dir / "game/good.obj", kGoodObj);
  const std::vector<std::pair<graLoadProbe::Kind, std::string>> names = {{graLoadProbe::MESH, "broken.obj"},
                                                                         {graLoadProbe::MESH, "good.obj"}};
  std::vector<bool> loads;
  const std::string cache = (dir / "cache/ombrix/load-trials").string();
  fs::create_directories(dir / "cache/ombrix");
  const Strings damaged = {"ombrix load trials 1\nnot a verdict\n",
                           "ombrix load trials 1\n" + std::string(40, 'a') + " fine\n", std::string("\x89PNG\0\0", 6)};
  for (const std::string& bytes : damaged) {
    Write(cache, bytes);
    testing::internal::CaptureStderr();
    Play(names, &loads);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ombrix: the load trial cache " + cache + " is damaged; it was ignored and will be written anew\n");
    EXPECT_EQ(loads, (std::vector<bool>{false, true}));
    EXPECT_EQ(graLoadProbe::PackageTrialLoads(), 2);
    EXPECT_EQ(Read(cache).rfind("ombrix load trials 1\n", 0), 0u);
  }

  // A cache folder that is a file: the verdicts still hold, once said.
  Write(dir / "blocked", "");
  setenv("XDG_CACHE_HOME", (dir / "blocked").c_str(), 1);
  testing::internal::CaptureStderr();
  Play(names, &loads);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("ombrix: cannot write the load trial cache " + (dir / "blocked/ombrix/load-trials").string(), 0),
            0u)
      << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
  EXPECT_EQ(loads, (std::vector<bool>{false, true}));
}

// Every picture of a corpus, whole, cut short at every length and with bytes changed, goes
// through the loaders the player uses: under ASan any read past a buffer fails the test.
// Each verdict is the same the second time.
TEST_F(LoadTrialTest, DamagedPicturesNeverReachTheEngineUnchecked) {
  irr::video::IVideoDriver* driver = device->getVideoDriver();
  const auto load = [&](const std::string& a_bytes, const std::string& a_name, std::string* a_why) {
    irr::io::IReadFile* file = files->createMemoryReadFile(
        const_cast<char*>(a_bytes.data()), static_cast<irr::s32>(a_bytes.size()), a_name.c_str(), false);
    graImageLoader::Forget();
    irr::video::IImage* image = driver->createImageFromFile(file);
    file->drop();
    a_why->clear();
    const bool damaged = graImageLoader::Damaged(a_why);
    const bool whole = image && !damaged;
    if (image) image->drop();
    return whole;
  };
  const struct {
    std::string name;
    std::string bytes;
  } pictures[] = {{"p.png", Png(9)},
                  {"p.jpg", Jpeg(24)},
                  {"p.bmp", Bmp8(5, 3, 256, 7)},
                  {"p.tga", Tga(3, false)},
                  {"r.tga", Tga(3, true)}};
  std::string why;
  for (const auto& picture : pictures) {
    SCOPED_TRACE(picture.name);
    ASSERT_TRUE(load(picture.bytes, picture.name, &why)) << why;
    for (size_t cut = 0; cut < picture.bytes.size(); ++cut) {
      const std::string part = picture.bytes.substr(0, cut);
      std::string again;
      const bool first = load(part, picture.name, &why);
      EXPECT_EQ(load(part, picture.name, &again), first) << cut;
      EXPECT_EQ(again, why) << cut;
    }
    unsigned seed = 12345;
    for (int round = 0; round < 400; ++round) {
      std::string changed = picture.bytes;
      for (int n = 0; n < 1 + round % 4; ++n) {
        seed = seed * 1103515245u + 12345u;
        changed[(seed >> 8) % changed.size()] = static_cast<char>(seed >> 24);
      }
      std::string again;
      const bool first = load(changed, picture.name, &why);
      EXPECT_EQ(load(changed, picture.name, &again), first);
      EXPECT_EQ(again, why);
    }
  }

  // The faults of the report, and the checks they meet.
  const struct {
    std::string name;
    std::string bytes;
    std::string why;
  } refused[] = {
      {"negative.bmp", NegativeBmp(), "its size is not a picture's size"},
      {"palette.bmp", Bmp8(4, 4, 16, 200), "a pixel names a colour its palette does not have"},
      {"cut.jpg", Jpeg(64).substr(0, Jpeg(64).size() * 2 / 3), "it is cut short"},
      {"runs.tga", Tga(3, true).substr(0, 30) + std::string(1, '\xFF') + "abc",
       "a run of its pixels goes past the picture"},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(load(c.bytes, c.name, &why)) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
  }
  EXPECT_EQ(NegativeBmp().size(), 62u);
}

}  // namespace
