#include "host/gPackageCheck.h"

#include <irrlicht.h>
#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "graphics/graImageLoader.h"
#include "graphics/graLoadProbe.h"
#include "host/gByteFile.h"
#include "host/gPackage.h"
#include "host/gScriptLoader.h"
#include "host/gZipLayout.h"
#include "script/vm/gmMachine.h"

namespace {

namespace fs = std::filesystem;
using irr::io::IFileSystem;
using irr::io::IReadFile;

bool ReadBytes(const fs::path& a_path, std::vector<char>& a_bytes) {
  std::error_code failed;
  if (!fs::is_regular_file(a_path, failed)) return false;
  std::ifstream in(a_path, std::ios::binary);
  if (!in) return false;
  a_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // The engine's files count their size in a signed 32-bit number.
  return !in.bad() && a_bytes.size() <= 0x7fffffffu;
}

std::string BareName(const std::string& a_path) {
  const size_t slash = a_path.find_last_of("/\\");
  return slash == std::string::npos ? a_path : a_path.substr(slash + 1);
}

std::string Lower(std::string a_text) {
  for (char& c : a_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a_text;
}

bool IsScript(const std::string& a_name) {
  return a_name.size() > 3 && strcasecmp(a_name.c_str() + a_name.size() - 3, ".qv") == 0;
}

class Checker {
 public:
  Checker(irr::IrrlichtDevice* a_device) : m_device(a_device), m_fileSystem(a_device->getFileSystem()) {
    m_machine.debugMode = true;
  }

  int problems = 0;
  int scripts = 0;

  void Problem(const std::string& a_line) {
    std::printf("%s\n", a_line.c_str());
    std::fflush(stdout);
    ++problems;
  }

  // The archive's entries, read from a copy of the file made here rather than through the
  // mounted file system: that one lower-cases names and finds a name in any archive first.
  void CheckArchive(const fs::path& a_path, const std::string& a_label, const std::string& a_prefix) {
    std::vector<char> bytes;
    irr::io::IFileArchive* archive = nullptr;
    const bool read = ReadBytes(a_path, bytes) && !bytes.empty();
    const std::string damage = read ? gZipLayout::Problem(bytes) : "";
    if (!damage.empty()) {
      Problem(a_label + " is damaged: " + damage);
      return;
    }
    if (read) {
      IReadFile* file = new gByteFile(bytes, a_label.c_str());
      for (irr::u32 i = 0; file && !archive && i < m_fileSystem->getArchiveLoaderCount(); ++i) {
        irr::io::IArchiveLoader* loader = m_fileSystem->getArchiveLoader(i);
        // The loader makes an archive of anything it is handed; the signature test is apart.
        if (loader->isALoadableFileFormat(irr::io::EFAT_ZIP) && loader->isALoadableFileFormat(file))
          archive = loader->createArchive(file, /*ignoreCase=*/false, /*ignorePaths=*/false);
      }
      if (file) file->drop();
    }
    if (!archive) {
      Problem(a_label + " cannot be read as a zip archive");
      return;
    }
    const long endRecord = gZipLayout::EndRecord(bytes);
    if (endRecord < 0) Problem(a_label + " is cut short or damaged: its zip directory is missing");
    const std::map<std::string, uint32_t> checksums = gZipLayout::Checksums(bytes, endRecord);
    const irr::io::IFileList* list = archive->getFileList();
    for (irr::u32 i = 0; i < list->getFileCount(); ++i) {
      if (list->isDirectory(i)) continue;
      const std::string name = list->getFullFileName(i).c_str();
      if (name.empty() || name.back() == '/') continue;
      const std::string label = a_prefix + name;
      IReadFile* entry = archive->createAndOpenFile(i);
      uint32_t checksum = 0;
      if (!entry || !ReadsToTheEnd(entry, &checksum)) {
        if (entry) entry->drop();
        Problem(label + " cannot be read from " + a_label);
        continue;
      }
      const auto kept = checksums.find(name);
      if (kept != checksums.end() && kept->second != checksum)
        Problem(label + " is damaged in " + a_label + ": its bytes do not match the checksum the archive keeps");
      entry->seek(0);
      AddName(name, label);
      if (IsScript(name)) Compile(entry, label);
      entry->drop();
      TryLoading(name, label);
    }
    archive->drop();
  }

  // A loose file of a developer directory, read as the player reads it. One in a sub-folder
  // is opened by its path from the directory, so only the top level's names can clash.
  void CheckLooseFile(const fs::path& a_path, const std::string& a_label) {
    const bool topLevel = a_label.find('/') == std::string::npos;
    if (topLevel) AddName(a_label, a_label);
    TryLoading(a_label, a_label, /*a_byPath=*/!topLevel);
    if (!IsScript(a_label)) return;
    std::vector<char> bytes;
    if (!ReadBytes(a_path, bytes)) {
      Problem(a_label + " cannot be read");
      return;
    }
    IReadFile* file =
        m_fileSystem->createMemoryReadFile(bytes.data(), static_cast<irr::s32>(bytes.size()), a_label.c_str(), false);
    if (!file) return;
    Compile(file, a_label);
    file->drop();
  }

  // Two files the player cannot tell apart, reported once per pair in the order found.
  void ReportClashes() {
    for (const auto& [key, labels] : m_names) {
      for (size_t i = 1; i < labels.size(); ++i)
        Problem(labels[0] + " and " + labels[i] +
                " have the same name once folders and letter case are ignored; the game can open only one of them");
    }
  }

 private:
  // Reads the whole file, summing its CRC-32 into *a_checksum.
  static bool ReadsToTheEnd(IReadFile* a_file, uint32_t* a_checksum) {
    char block[4096];
    long remaining = a_file->getSize();
    uLong checksum = crc32(0L, Z_NULL, 0);
    while (remaining > 0) {
      const irr::s32 got = a_file->read(block, static_cast<irr::u32>(std::min<long>(remaining, sizeof block)));
      if (got <= 0) return false;
      checksum = crc32(checksum, reinterpret_cast<const Bytef*>(block), static_cast<uInt>(got));
      remaining -= got;
    }
    *a_checksum = static_cast<uint32_t>(checksum);
    return true;
  }

  // A mesh or picture is loaded as the game would (by its bare name, from the mounted
  // package), in a throwaway process: the engine's loaders crash on some damaged files.
  void TryLoading(const std::string& a_path, const std::string& a_label, bool a_byPath = false) {
    graLoadProbe::Kind kind;
    const std::string name = a_byPath ? a_path : BareName(a_path);
    if (!graLoadProbe::KindOf(m_device, name, &kind)) return;
    switch (graLoadProbe::Try(m_fileSystem, kind, name)) {
      case gIsolated::CRASHED:
        Problem(a_label + " is damaged: the " + graLoadProbe::KindName(kind) + " loader crashed on it");
        break;
      case gIsolated::TIMED_OUT:
        Problem(a_label + " is damaged: the " + graLoadProbe::KindName(kind) + " loader did not finish with it in " +
                std::to_string(graLoadProbe::kTimeoutMs / 1000) + " s");
        break;
      case gIsolated::FINISHED:
        if (kind == graLoadProbe::TEXTURE) CheckPicture(name, a_label);
        break;
      default:
        break;
    }
  }

  // A picture the engine would be handed only after the checks the player makes first.
  void CheckPicture(const std::string& a_name, const std::string& a_label) {
    irr::video::IVideoDriver* driver = m_device->getVideoDriver();
    graImageLoader::Forget();
    irr::video::IImage* image = driver->createImageFromFile(a_name.c_str());
    std::string why;
    if (graImageLoader::Damaged(&why)) Problem(a_label + " is damaged: " + why);
    if (image) image->drop();
  }

  void AddName(const std::string& a_path, const std::string& a_label) {
    m_names[Lower(BareName(a_path))].push_back(a_label);
  }

  // Compiled exactly as the loader would (same text, same machine settings), but named, and
  // left unrun: the thread RunString prepares for the top-level code is never scheduled.
  void Compile(IReadFile* a_file, const std::string& a_label) {
    ++scripts;
    std::string text;
    gScriptLoader::ReadWholeFile(a_file, text);
    gmLog& log = m_machine.GetLog();
    const int shown = log.GetEntryCount();
    const int errors = m_machine.RunString(text.c_str(), nullptr, /*a_runNow=*/false, a_label.c_str());
    bool first = true;
    int index = 0;
    int reported = 0;
    while (const char* entry = log.GetEntry(first)) {
      if (index++ < shown) continue;
      Problem(ErrorLine(a_label, entry));
      ++reported;
    }
    if (errors && !reported) Problem(a_label + " : does not compile");
  }

  // "error (12) message" from the compiler becomes "FILE(12) : message".
  static std::string ErrorLine(const std::string& a_label, const char* a_entry) {
    std::string entry = a_entry;
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
    int line = 0;
    int used = 0;
    if (std::sscanf(entry.c_str(), "error (%d) %n", &line, &used) == 1 && used > 0)
      return a_label + "(" + std::to_string(line) + ") : " + entry.substr(static_cast<size_t>(used));
    const size_t at = entry.rfind(", line ");
    if (at != std::string::npos && std::sscanf(entry.c_str() + at, ", line %d", &line) == 1)
      return a_label + "(" + std::to_string(line) + ") : " + entry.substr(0, at);
    return a_label + " : " + entry;
  }

  irr::IrrlichtDevice* m_device;
  IFileSystem* m_fileSystem;
  gmMachine m_machine;
  std::map<std::string, std::vector<std::string>> m_names;
};

}  // namespace

int gPackageCheck::Run(irr::IrrlichtDevice* a_device, const std::string& a_package, bool a_developer,
                       bool (*a_leaveOut)(const std::string& a_name)) {
  IFileSystem* fileSystem = a_device->getFileSystem();
  // Asked before mounting, which enters the directory.
  std::error_code failed;
  const bool directoryFound = fs::is_directory(a_package, failed);
  // Refused archives are reported by the check of each archive below.
  std::vector<std::string> refused;
  gPackage::Mount(fileSystem, a_package, a_developer, &refused);
  Checker checker(a_device);

  if (a_developer) {
    // Mounting went into the package directory, or stayed where it was when there is none
    // (it said so); the player then plays what is there, and so it is checked.
    if (!directoryFound) ++checker.problems;
    const fs::path directory = fileSystem->getWorkingDirectory().c_str();
    // Sub-folders are walked as a zip's folders are: scripts there are loaded by their path.
    // Only the top level's zips are mounted, so only they are checked as archives.
    std::vector<fs::path> entries;
    failed.clear();
    for (fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, failed), end;
         !failed && it != end; it.increment(failed))
      entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
      const std::string name = entry.lexically_relative(directory).generic_string();
      if (a_leaveOut && a_leaveOut(name)) continue;
      const bool topLevel = name.find('/') == std::string::npos;
      if (topLevel && gPackage::EndsInZip(name)) checker.CheckArchive(entry, name, name + "/");
      if (fs::is_regular_file(entry, failed)) checker.CheckLooseFile(entry, name);
    }
  } else {
    const std::string archive = a_package + ".qvp";
    if (fs::exists(archive, failed))
      checker.CheckArchive(archive, archive, "");
    else
      checker.Problem(archive + " not found");
  }
  checker.ReportClashes();

  irr::io::IReadFile* start = fileSystem->createAndOpenFile("start.qv");
  if (start)
    start->drop();
  else
    checker.Problem("Script start.qv not found!");

  const auto count = [](int n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
  std::printf("%s: %s compiled, %s found\n", a_package.c_str(), count(checker.scripts, "script").c_str(),
              checker.problems ? count(checker.problems, "problem").c_str() : "no problems");
  std::fflush(stdout);
  return checker.problems;
}
