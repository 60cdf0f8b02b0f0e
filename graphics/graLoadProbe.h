#pragma once
// Meshes, textures and fonts come from packages and are parsed by the engine's loaders,
// which trust their input: one face index past the end of an OBJ file's vertex list is
// enough to crash the player. So the first load of each name is tried first in a throwaway
// copy of the process (gIsolated), on a null driver that sees the same archives and
// folders; a name whose load crashes or hangs there is reported once, on the console, and
// is never loaded here: the caller then goes on as for a file that is missing.
#include <string>

#include "platform/gIsolated.h"

namespace irr {
class IrrlichtDevice;
namespace io {
class IFileSystem;
}
}  // namespace irr

class graLoadProbe {
 public:
  enum Kind { MESH, TEXTURE, FONT };

  // False when loading a_name through a_files crashes or hangs the engine. The verdict is
  // kept for the file system and name, so each is tried once.
  static bool Loads(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name);

  // One trial load, with no verdict kept and nothing said: how it ended.
  static gIsolated::Result Try(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name);
  // Whether one of a_device's loaders takes a_name, by its extension, as a mesh or an image.
  static bool KindOf(irr::IrrlichtDevice* a_device, const std::string& a_name, Kind* a_kind);
  // "mesh", "texture" or "font".
  static const char* KindName(Kind a_kind);

  // How long a trial load may take before the file counts as one the loader hangs on.
  static constexpr int kTimeoutMs = 10000;
};
