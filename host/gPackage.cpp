#include "host/gPackage.h"

#include <irrlicht.h>
#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "host/gZipLayout.h"
#include "platform/gFileSystem.h"

using irr::io::IFileSystem;

namespace {

// Archives are always looked up by bare file name in any letter case. One the engine's
// reader cannot walk safely is not mounted at all.
bool AddArchive(IFileSystem* fileSystem, const std::string& name, std::vector<std::string>* refusals) {
  // Anything but a regular file (a FIFO would stop the player here for good) is missing.
  if (!gFileSystem::IsRegularFile(fileSystem->getAbsolutePath(name.c_str()).c_str())) return false;
  const std::string why = gZipLayout::Problem(fileSystem, name);
  if (!why.empty()) {
    const std::string line = name + " is damaged and was not mounted: " + why;
    if (refusals) {
      refusals->push_back(line);
    } else {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    }
    return false;
  }
  return fileSystem->addFileArchive(name.c_str(), /*ignoreCase=*/true, /*ignorePaths=*/true, irr::io::EFAT_ZIP);
}

void MountDirectory(IFileSystem* fileSystem, const std::string& name, std::vector<std::string>* refusals) {
  // Irrlicht records the directory it was asked for before it tries to enter it; going
  // back explicitly makes sure the loose files and zips of the directory we started in
  // are what the game sees.
  const irr::io::path previous = fileSystem->getWorkingDirectory();
  if (!fileSystem->changeWorkingDirectoryTo(name.c_str())) {
    std::printf("Could not find %s directory\n", name.c_str());
    std::fflush(stdout);
    fileSystem->changeWorkingDirectoryTo(previous);
  }

  irr::io::IFileList* list = fileSystem->createFileList();
  if (!list) return;
  // The listing is sorted and holds "..", which is not always its first entry (a folder
  // such as "-x" sorts before it), so the directory entries are skipped by name.
  for (irr::u32 i = 0; i < list->getFileCount(); ++i) {
    const std::string entry = list->getFileName(i).c_str();
    if (entry == "." || entry == "..") continue;
    if (!gPackage::EndsInZip(entry)) continue;
    std::printf("Loading zip file %s\n", entry.c_str());
    std::fflush(stdout);
    AddArchive(fileSystem, entry, refusals);
  }
  list->drop();
}

}  // namespace

bool gPackage::EndsInZip(const std::string& name) {
  return name.size() >= 3 && name.compare(name.size() - 3, 3, "zip") == 0;
}

std::string gPackage::Mount(IFileSystem* fileSystem, const std::string& name, bool developer,
                            std::vector<std::string>* refusals) {
  gFileSystem::Set(fileSystem);
  if (developer) {
    MountDirectory(fileSystem, name, refusals);
    return "dev";
  }
  const std::string archive = name + ".qvp";
  if (!gFileSystem::IsRegularFile(fileSystem->getAbsolutePath(archive.c_str()).c_str())) return "";
  // Hashed before it is mounted: once mounted, a file of the same name inside the archive
  // would be found first and hashed in its place.
  std::string checksum = Checksum(fileSystem, archive);
  AddArchive(fileSystem, archive, refusals);
  return checksum;
}

std::string gPackage::Checksum(IFileSystem* fileSystem, const std::string& fileName) {
  const EVP_MD* sha1 = EVP_get_digestbyname("SHA1");
  if (!sha1) return "";
  irr::io::IReadFile* file = fileSystem->createAndOpenFile(fileName.c_str());
  if (!file) return "";

  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  bool ok = context && EVP_DigestInit_ex(context.get(), sha1, nullptr) == 1;

  // Streamed in blocks so that a large package needs no buffer of its own size. A file
  // that ends early or cannot be read (a directory of that name) has no checksum.
  std::vector<unsigned char> block(64 * 1024);
  long remaining = file->getSize();
  while (ok && remaining > 0) {
    const long want = remaining < static_cast<long>(block.size()) ? remaining : static_cast<long>(block.size());
    const irr::s32 got = file->read(block.data(), static_cast<irr::u32>(want));
    if (got <= 0) {
      ok = false;
      break;
    }
    ok = EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(got)) == 1;
    remaining -= got;
  }
  file->drop();

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return "";

  return HexDigits(digest, length);
}

std::string gPackage::HexDigits(const unsigned char* a_bytes, unsigned int a_length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(2 * static_cast<size_t>(a_length), '0');
  for (unsigned int i = 0; i < a_length; ++i) {
    text[2 * i] = kDigits[a_bytes[i] >> 4];
    text[2 * i + 1] = kDigits[a_bytes[i] & 15];
  }
  return text;
}
