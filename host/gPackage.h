#pragma once
// Mounting the game's script package and computing the checksum that identifies the game
// build to the score server. After mounting, every file of the game is opened by its bare
// name through the file system published by gFileSystem (platform/gFileSystem.h).
#include <string>
#include <vector>

namespace irr {
namespace io {
class IFileSystem;
}
}  // namespace irr

class gPackage {
 public:
  // Mounts NAME.qvp (or, in developer mode, the directory NAME with the zip files in it)
  // on the given file system, publishes that file system, and returns the package
  // checksum: "dev" in developer mode, otherwise the archive's SHA-1, empty when the
  // archive cannot be read. Prints the developer-mode messages to standard output, and
  // a line for each archive left unmounted because the engine's reader cannot walk it
  // safely (gZipLayout): into a_refusals instead, when given.
  static std::string Mount(irr::io::IFileSystem* fileSystem, const std::string& name, bool developer,
                           std::vector<std::string>* refusals = nullptr);

  // SHA-1 of the named file as 40 upper-case hexadecimal digits, or empty when the file
  // cannot be opened or read to its end, or the digest is unavailable.
  static std::string Checksum(irr::io::IFileSystem* fileSystem, const std::string& fileName);

  // A digest as upper-case hexadecimal digits, two per byte: the one spelling of checksums
  // that packages, caches and score servers compare as text.
  static std::string HexDigits(const unsigned char* bytes, unsigned int length);

  // Developer mode mounts every directory entry whose name ends in these three letters,
  // compared case-sensitively and with no dot required ("notazip" counts, "a.ZIP" does not).
  static bool EndsInZip(const std::string& name);
};
