#include <gtest/gtest.h>
#include <irrlicht.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "host/gDeviceReceiver.h"
#include "host/gPackage.h"
#include "platform/gFileSystem.h"
#include "tests/host/hostFixture.h"

namespace {

using hostTest::MakeZip;
using hostTest::WriteFile;

// Each test runs in a scratch directory of its own with a fresh null device, since
// mounting changes the working directory and the device's file system keeps its archives.
class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = hostTest::fs::current_path();
    hostTest::fs::current_path(dir.path);
    device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(64, 64), 32, false, false, false,
                               &receiver);
    ASSERT_NE(device, nullptr);
    files = device->getFileSystem();
  }
  void TearDown() override {
    if (device) device->drop();
    gFileSystem::Set(nullptr);
    hostTest::fs::current_path(previous);
  }

  // The content of a file found by name through the file system, or "<missing>".
  std::string Open(const char* name) {
    irr::io::IReadFile* file = files->createAndOpenFile(name);
    if (!file) return "<missing>";
    std::string text(static_cast<size_t>(file->getSize()), '\0');
    file->read(text.data(), static_cast<irr::u32>(text.size()));
    file->drop();
    return text;
  }

  std::string MountCapturingOutput(const std::string& name, bool developer, std::string* output) {
    ::testing::internal::CaptureStdout();
    std::string checksum = gPackage::Mount(files, name, developer);
    *output = ::testing::internal::GetCapturedStdout();
    return checksum;
  }

  hostTest::ScratchDir dir;
  hostTest::fs::path previous;
  gDeviceReceiver receiver;
  irr::IrrlichtDevice* device = nullptr;
  irr::io::IFileSystem* files = nullptr;
};

TEST_F(Package, ChecksumOfKnownContents) {
  // Published SHA-1 test vectors; the million-byte one spans many read blocks.
  WriteFile("abc.qvp", "abc");
  WriteFile("empty.qvp", "");
  WriteFile("million.qvp", std::string(1000000, 'a'));
  hostTest::fs::create_directory("folder.qvp");
  EXPECT_EQ(gPackage::Checksum(files, "abc.qvp"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(gPackage::Checksum(files, "empty.qvp"), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(gPackage::Checksum(files, "million.qvp"), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
  EXPECT_EQ(gPackage::Checksum(files, "absent.qvp"), "");
  EXPECT_EQ(gPackage::Checksum(files, "folder.qvp"), "");
}

TEST_F(Package, ArchiveFilesAreFoundByBareNameInAnyCase) {
  ASSERT_TRUE(MakeZip("game.qvp", {{"Scripts/Level1.QV", "level one"}, {"Start.qv", "go"}}));
  const std::string expected = gPackage::Checksum(files, "game.qvp");
  std::string output;
  EXPECT_EQ(MountCapturingOutput("game", false, &output), expected);
  EXPECT_EQ(output, "");
  EXPECT_EQ(expected.size(), 40u);
  EXPECT_EQ(gFileSystem::Get(), files);
  EXPECT_EQ(Open("level1.qv"), "level one");
  EXPECT_EQ(Open("LEVEL1.QV"), "level one");
  EXPECT_EQ(Open("start.qv"), "go");
}

TEST_F(Package, ChecksumIsOfTheArchiveNotOfAFileInsideNamedLikeIt) {
  ASSERT_TRUE(MakeZip("game.qvp", {{"game.qvp", "inner"}, {"start.qv", "go"}}));
  const std::string outer = gPackage::Checksum(files, "game.qvp");
  EXPECT_EQ(gPackage::Mount(files, "game", false), outer);
  EXPECT_EQ(Open("game.qvp"), "inner");
}

TEST_F(Package, BrokenOrMissingArchiveMountsNothing) {
  WriteFile("plain.qvp", "abc");
  hostTest::fs::create_directory("folder.qvp");
  WriteFile("start.qv", "loose in the current directory");
  EXPECT_EQ(gPackage::Mount(files, "plain", false), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(gPackage::Mount(files, "folder", false), "");
  EXPECT_EQ(gPackage::Mount(files, "my game", false), "");
  EXPECT_EQ(Open("start.qv"), "loose in the current directory");
}

TEST(PackageNames, EndsInZip) {
  const std::pair<const char*, bool> cases[] = {
      {"level.zip", true}, {"notazip", true}, {"zip", true},        {"a.ZIP", false},
      {"zi", false},       {"", false},       {"x.zip.bak", false}, {"a.Zip", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(gPackage::EndsInZip(name), expected) << name;
}

TEST_F(Package, DeveloperModeMountsLooseFilesAndNamesEndingInZip) {
  ASSERT_TRUE(MakeZip("game/level.zip", {{"maps/InLevel.txt", "level"}}));
  ASSERT_TRUE(MakeZip("game/a.ZIP", {{"inupper.txt", "upper"}}));
  ASSERT_TRUE(MakeZip("game/notazip", {{"innota.txt", "nota"}}));
  ASSERT_TRUE(MakeZip("game/-x.zip", {{"indash.txt", "dash"}}));
  WriteFile("game/loose.txt", "loose");
  // Listed before "..", so a rule of "every entry after the first" would miss it.
  hostTest::fs::create_directory("game/-sub.zip");

  std::string output;
  EXPECT_EQ(MountCapturingOutput("game", true, &output), "dev");
  // In the order of the directory listing, which is Irrlicht's business.
  std::vector<std::string> lines;
  std::istringstream stream(output);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Loading zip file -sub.zip",
                       "Loading zip file -x.zip",
                       "Loading zip file level.zip",
                       "Loading zip file notazip",
                   }));
  EXPECT_EQ(Open("inlevel.txt"), "level");
  EXPECT_EQ(Open("innota.txt"), "nota");
  EXPECT_EQ(Open("indash.txt"), "dash");
  EXPECT_EQ(Open("inupper.txt"), "<missing>");
  EXPECT_EQ(Open("loose.txt"), "loose");
}

TEST_F(Package, DeveloperModeWithoutItsDirectoryUsesTheCurrentOne) {
  ASSERT_TRUE(MakeZip("level.zip", {{"inlevel.txt", "level"}}));
  WriteFile("loose.txt", "loose");
  std::string output;
  EXPECT_EQ(MountCapturingOutput("nothere", true, &output), "dev");
  EXPECT_EQ(output,
            "Could not find nothere directory\n"
            "Loading zip file level.zip\n");
  EXPECT_EQ(Open("inlevel.txt"), "level");
  EXPECT_EQ(Open("loose.txt"), "loose");
  EXPECT_EQ(hostTest::fs::current_path(), dir.path);
}

}  // namespace
