// Any bytes as an OBJ, 3DS or irrmesh file go the way a package's mesh goes: tried in a
// throwaway child first, and loaded here only when the trial finished. The player's process
// must never crash, whatever the engine's loaders do with the file.
#include <irrlicht.h>

#include <cstdint>
#include <vector>

#include "graphics/graLoadProbe.h"
#include "tests/graphics/graFuzzDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  irr::IrrlichtDevice* device = graFuzzDevice();
  if (a_size < 1) return 0;
  static const char* const names[] = {"f.obj", "f.3ds", "f.irrmesh"};
  static int round = 0;
  // A new name each time: the engine keeps meshes by name.
  const std::string name = std::to_string(++round) + names[a_data[0] % 3];
  std::vector<char> bytes(a_data + 1, a_data + a_size);
  irr::io::IFileSystem* files = device->getFileSystem();
  irr::io::IReadFile* file =
      files->createMemoryReadFile(bytes.data(), static_cast<irr::s32>(bytes.size()), name.c_str(), false);
  // The engine makes no file of no bytes.
  if (!file) return 0;
  irr::scene::ISceneManager* scene = device->getSceneManager();
  // The trial's child sees the memory file the way the player's sees a package's entry.
  const gIsolated::Result tried = gIsolated::Run([&] { scene->getMesh(file); }, graLoadProbe::kTimeoutMs);
  if (tried == gIsolated::FINISHED) {
    file->seek(0);
    if (irr::scene::IAnimatedMesh* mesh = scene->getMesh(file)) scene->getMeshCache()->removeMesh(mesh);
  }
  file->drop();
  return 0;
}
