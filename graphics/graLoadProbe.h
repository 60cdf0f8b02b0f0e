#pragma once
// Meshes, textures and fonts come from packages and are parsed by the engine's loaders,
// which trust their input: one face index past the end of an OBJ file's vertex list is
// enough to crash the player. So each file is tried first in a throwaway copy of the
// process (gIsolated), on a null driver that sees the same archives and folders; a name
// whose load crashes, throws or hangs there is reported once, on the console, and is never
// loaded here: the caller then goes on as for a file that is missing.
//
// At start-up one child tries every mesh, picture and font description (XML) the package
// holds, while the start script runs; a load waits (on the child's pipe) only for the
// verdict it needs. Verdicts are remembered by the files' content in the user's cache
// folder, so an unchanged package is not tried again: no child is started for it at all.
// Names outside the package are tried one by one when first loaded.
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

  // False when loading a_name through a_files crashes, throws or hangs the engine, or when
  // the name is a loose entry that is no regular file. The verdict is kept for the file
  // system and name, so each is tried once.
  static bool Loads(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name);

  // Starts the trial of every mesh, picture and font of the package mounted on a_device's file
  // system: its archives, and with a_looseFiles the loose files of the working folder (a
  // developer package). The verdict cache is read here; a damaged one is ignored with one
  // line. a_firstScript, when given, is the package's script that runs first: the files it
  // names are tried first, in its order.
  static void BeginPackage(irr::IrrlichtDevice* a_device, bool a_looseFiles, const std::string& a_firstScript = "");
  // Takes in the verdicts that have come, without waiting; once all have, writes the cache.
  static void Collect();
  // Waits for the remaining verdicts and writes the cache.
  static void Finish();
  // Forgets the package trial (and every verdict kept), killing its child.
  static void Reset();
  // Files of the package trial, and how many of them its children loaded (the others were
  // known from the cache). Both 0 without a package trial.
  static int PackageFiles();
  static int PackageTrialLoads();
  // The file verdicts are kept in: $XDG_CACHE_HOME/ombrix/load-trials, else
  // ~/.cache/ombrix/load-trials; empty when neither can be named.
  static std::string CacheFile();

  // One trial load, with no verdict kept and nothing said: how it ended.
  static gIsolated::Result Try(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name);
  // Whether one of a_device's loaders takes a_name, by its extension, as a mesh or an image.
  static bool KindOf(irr::IrrlichtDevice* a_device, const std::string& a_name, Kind* a_kind);
  // "mesh", "texture" or "font".
  static const char* KindName(Kind a_kind);

  // How long a trial load may take before the file counts as one the loader hangs on.
  static constexpr int kTimeoutMs = 10000;
};
