// Archives that pass the layout walk are mounted and every entry read to its end, through
// the engine's own reader over bytes read as from disk: nothing may crash, overrun or
// allocate without bound.
#include <irrlicht.h>

#include <cstdint>
#include <vector>

#include "host/gByteFile.h"
#include "host/gZipLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  static irr::IrrlichtDevice* device = [] {
    irr::IrrlichtDevice* d = irr::createDevice(irr::video::EDT_NULL);
    d->getLogger()->setLogLevel(irr::ELL_NONE);
    return d;
  }();
  const std::vector<char> bytes(a_data, a_data + a_size);
  if (!gZipLayout::Problem(bytes).empty()) return 0;
  irr::io::IFileSystem* files = device->getFileSystem();
  irr::io::IReadFile* file = new gByteFile(bytes, "fuzz.qvp");
  irr::io::IFileArchive* archive = nullptr;
  for (irr::u32 i = 0; !archive && i < files->getArchiveLoaderCount(); ++i) {
    irr::io::IArchiveLoader* loader = files->getArchiveLoader(i);
    if (loader->isALoadableFileFormat(irr::io::EFAT_ZIP) && loader->isALoadableFileFormat(file))
      archive = loader->createArchive(file, true, true);
  }
  if (archive) {
    const irr::io::IFileList* list = archive->getFileList();
    for (irr::u32 i = 0; i < list->getFileCount(); ++i)
      if (irr::io::IReadFile* entry = archive->createAndOpenFile(i)) {
        char block[4096];
        while (entry->read(block, sizeof block) > 0) {}
        entry->drop();
      }
    archive->drop();
  }
  file->drop();
  return 0;
}
