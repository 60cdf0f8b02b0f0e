#pragma once
// What a reload in place needs to know about a developer package's directory: whether its
// scripts compile (a reload that would fail keeps the running game), which files changed
// since the game was loaded (the engine's copies of those are read again), and, for
// "--watch", when a burst of saves has ended.
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace irr::io {
class IFileSystem;
}

class gReload {
 public:
  // "FILE(LINE) : message" for every compile error of the directory's scripts (those of its
  // sub-folders and, given the file system whose archive loaders read them, of the zips it
  // mounts), a line for a zip that is damaged and one when start.qv is missing; empty when
  // the game can be loaded again. Nothing is run.
  static std::vector<std::string> Problems(const std::string& a_directory, irr::io::IFileSystem* a_files = nullptr);

  // The loose files of the directory as they are now, by bare lower-case name.
  struct Stamp {
    long long modified = 0;
    long long size = -1;
    bool operator!=(const Stamp& a_other) const { return modified != a_other.modified || size != a_other.size; }
  };
  using Snapshot = std::map<std::string, Stamp>;
  static Snapshot Take(const std::string& a_directory);
  // Whether a bare name is a script's (".qv", any case).
  static bool IsScript(const std::string& a_name);
  // Names in either snapshot whose stamps differ.
  static std::set<std::string> Changed(const Snapshot& a_before, const Snapshot& a_after);
};

// inotify on a package directory and the folders in it. A save is often several events
// (an editor writes a new file, renames it over the old one, touches a backup), and an
// author may save several files at once: a reload is due once the directory has been
// quiet for kQuietMs after its last event.
class gPackageWatch {
 public:
  static constexpr int kQuietMs = 150;

  ~gPackageWatch();
  // False when the directory cannot be watched (the reason is printed).
  bool Start(const std::string& a_directory);
  // Reads what has happened since the last call (never waits); true once a burst has ended.
  bool Due();

 private:
  void Add(const std::string& a_directory);

  int m_fd = -1;
  bool m_pending = false;
  std::chrono::steady_clock::time_point m_last;
};
