#pragma once
// The process-wide file system through which every file of the game is opened once the
// package is mounted (scripts, physics maps, sounds). It belongs to the graphics device,
// which outlives every user of it; nothing here takes a reference.
//
// A game's files are opened only when they are files: the engine opens a loose name with
// fopen, which waits for ever on a FIFO and reads a device until it ends, so a name that
// is a FIFO, a device, a socket or a folder in a developer folder counts as missing.
namespace irr {
namespace io {
class IFileSystem;
class IReadFile;
}  // namespace io
}  // namespace irr

class gFileSystem {
 public:
  // Null until the package is mounted.
  static irr::io::IFileSystem* Get() { return s_current; }
  static void Set(irr::io::IFileSystem* fileSystem) { s_current = fileSystem; }

  // Opens a_name as the file system finds it (the mounted archives in order, then the
  // working folder), or gives null when it is missing or no regular file.
  static irr::io::IReadFile* Open(irr::io::IFileSystem* a_files, const char* a_name);
  static irr::io::IReadFile* Open(const char* a_name) { return Open(s_current, a_name); }
  // False when a_name would be found as a loose entry that is no regular file; a name the
  // archives hold, or that is missing, is the engine's to deal with.
  static bool Openable(irr::io::IFileSystem* a_files, const char* a_name);
  // Whether the path names a regular file (after links).
  static bool IsRegularFile(const char* a_path);

 private:
  static inline irr::io::IFileSystem* s_current = nullptr;
};
