#pragma once
// "--pack DIR [OUT.qvp]": a developer directory made into a package whose bytes depend on
// nothing but the files' paths and contents, so packing the same directory twice gives the
// same checksum (the score server tells builds apart by it). Entries are sorted by path,
// carry one fixed time stamp and fixed attributes, are deflated at one fixed level (stored
// when deflating does not shrink them), and directories get no entries of their own.
// Hidden files and folders and editor backups are left out. The archive is written beside
// its final name and renamed into place, so a failed pack never leaves half a package.
#include <cstdint>
#include <string>
#include <vector>

namespace irr {
class IrrlichtDevice;
}

class gPack {
 public:
  struct Entry {
    std::string name;   // path inside the archive, '/' between folders
    std::string bytes;  // the file's contents
  };

  // The files of a_directory that go into its package, sorted by name. a_leaveOut (an
  // absolute path) is skipped: an output file inside the directory is not packed into itself.
  static bool Collect(const std::string& a_directory, const std::string& a_leaveOut, std::vector<Entry>& a_entries,
                      std::string& a_error);
  // Whether a file of this relative path is left out: a hidden file or folder, or an editor
  // backup.
  static bool LeftOut(const std::string& a_relativePath);
  // The zip archive of the entries, in their order.
  static std::string Archive(const std::vector<Entry>& a_entries);

  // The whole command: checks the directory as "--check --dev" does and refuses it, with the
  // check's lines, when there is any problem; otherwise writes the package and says where,
  // how many files, how many bytes and its checksum. Returns the exit status.
  static int Run(irr::IrrlichtDevice* a_device, const std::string& a_directory, const std::string& a_output);
};
