#pragma once
// "--check": what a game author wants to know about a package before shipping it, without
// running any of it. The package is mounted as for play; then every .qv file in it is
// compiled (never run), and the problems the player would meet are listed on standard
// output, one line each: compile errors as "FILE(LINE) : message", a missing start script,
// an archive or entry that cannot be read, and names that clash once folders and letter
// case are ignored (the player finds files that way, so only one of them can be opened),
// and meshes and pictures the engine's loaders crash or hang on.
#include <string>

namespace irr {
class IrrlichtDevice;
}  // namespace irr

class gPackageCheck {
 public:
  // Prints the problems and a closing summary; returns how many problems there were. In
  // developer mode, a directory entry for which a_leaveOut says yes is not looked at (what
  // --pack would not put in the package).
  static int Run(irr::IrrlichtDevice* a_device, const std::string& a_package, bool a_developer,
                 bool (*a_leaveOut)(const std::string& a_name) = nullptr);
};
