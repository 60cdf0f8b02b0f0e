#pragma once
// Loading script files from the mounted package into the script machine: the start script
// at start-up, and any script a game loads later by name.
#include <string>

class gmMachine;

namespace irr {
namespace io {
class IReadFile;
}
}  // namespace irr

class gScriptLoader {
 public:
  // Opens the file by name through the package's file system, compiles it and runs its
  // top-level code at once on a new thread. True when it was found and compiled; runtime
  // errors do not count (they are in the machine's log). Writes "Script NAME not found!",
  // "Loaded script: NAME" or one "Compilation error in script NAME: -ENTRY" line per log
  // entry to standard output; an absolute or climbing name, a file above 64 MiB and an
  // entry the package cannot deliver whole are refused with a line of their own.
  static bool Load(gmMachine* machine, const char* name);

  // Appends the rest of the file to the text, dropping every zero byte. False when the file
  // ended before its size (a damaged package).
  static bool ReadWholeFile(irr::io::IReadFile* file, std::string& text);
};
