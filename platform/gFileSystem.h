#pragma once
// The process-wide file system through which every file of the game is opened once the
// package is mounted (scripts, physics maps, sounds). It belongs to the graphics device,
// which outlives every user of it; nothing here takes a reference.
//
// Header-only on purpose: modules that read package files (physics, audio) need no link
// dependency on this library to use it, and the host, which mounts the package, sets it.
namespace irr {
namespace io {
class IFileSystem;
}
}  // namespace irr

class gFileSystem {
 public:
  // Null until the package is mounted.
  static irr::io::IFileSystem* Get() { return s_current; }
  static void Set(irr::io::IFileSystem* fileSystem) { s_current = fileSystem; }

 private:
  static inline irr::io::IFileSystem* s_current = nullptr;
};
