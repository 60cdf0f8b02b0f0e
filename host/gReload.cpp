#include "host/gReload.h"

#include <strings.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/gByteFile.h"
#include "host/gPack.h"
#include "host/gPackage.h"
#include "host/gZipLayout.h"
#include "script/vm/gmMachine.h"

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string a_text) {
  for (char& c : a_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a_text;
}

// "error (12) message" from the compiler becomes "FILE(12) : message", as --check says it.
std::string ErrorLine(const std::string& a_file, std::string a_entry) {
  while (!a_entry.empty() && (a_entry.back() == '\n' || a_entry.back() == '\r')) a_entry.pop_back();
  int line = 0;
  int used = 0;
  if (std::sscanf(a_entry.c_str(), "error (%d) %n", &line, &used) == 1 && used > 0)
    return a_file + "(" + std::to_string(line) + ") : " + a_entry.substr(static_cast<size_t>(used));
  return a_file + " : " + a_entry;
}

}  // namespace

std::vector<std::string> gReload::Problems(const std::string& a_directory, irr::io::IFileSystem* a_files) {
  std::vector<std::string> problems;
  std::vector<std::pair<std::string, fs::path>> scripts;  // label, file
  std::vector<std::pair<std::string, fs::path>> zips;
  bool start = false;
  std::error_code failed;
  const fs::path top(a_directory);
  // Scripts of sub-folders are loaded by their path from the directory, as --check finds them.
  for (fs::recursive_directory_iterator it(top, failed), end; !failed && it != end; it.increment(failed)) {
    const std::string name = it->path().filename().string();
    if (gPack::LeftOut(name)) {
      if (it->is_directory(failed)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(failed)) continue;
    const std::string label = it->path().lexically_relative(top).generic_string();
    const bool topLevel = it.depth() == 0;
    if (topLevel && Lower(name) == "start.qv") start = true;
    if (IsScript(name)) scripts.emplace_back(label, it->path());
    if (topLevel && gPackage::EndsInZip(name)) zips.emplace_back(label, it->path());
  }
  std::sort(scripts.begin(), scripts.end());
  std::sort(zips.begin(), zips.end());

  gmMachine machine;
  machine.debugMode = true;
  const auto compile = [&](std::string a_text, const std::string& a_label) {
    // The loader drops zero bytes; so does this.
    a_text.erase(std::remove(a_text.begin(), a_text.end(), '\0'), a_text.end());
    gmLog& log = machine.GetLog();
    const int shown = log.GetEntryCount();
    const int errors = machine.RunString(a_text.c_str(), nullptr, /*a_runNow=*/false, a_label.c_str());
    bool first = true;
    int index = 0;
    int reported = 0;
    while (const char* entry = log.GetEntry(first)) {
      if (index++ < shown) continue;
      problems.push_back(ErrorLine(a_label, entry));
      ++reported;
    }
    if (errors && !reported) problems.push_back(a_label + " : does not compile");
  };
  for (const auto& [label, path] : scripts) {
    std::ifstream in(path, std::ios::binary);
    compile(std::string(std::istreambuf_iterator<char>(in), {}), label);
  }
  // The zips the developer package mounts: a script in one is loaded like a loose one, so a
  // compile error there keeps the running game too. A zip being written shows as damaged.
  for (const auto& [label, path] : zips) {
    if (!a_files) break;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
    const std::string damage = gZipLayout::Problem(bytes);
    if (!damage.empty()) {
      problems.push_back(label + " is damaged: " + damage);
      continue;
    }
    irr::io::IReadFile* file = new gByteFile(std::move(bytes), label.c_str());
    irr::io::IFileArchive* archive = nullptr;
    for (irr::u32 i = 0; !archive && i < a_files->getArchiveLoaderCount(); ++i) {
      irr::io::IArchiveLoader* loader = a_files->getArchiveLoader(i);
      if (loader->isALoadableFileFormat(irr::io::EFAT_ZIP) && loader->isALoadableFileFormat(file))
        archive = loader->createArchive(file, /*ignoreCase=*/false, /*ignorePaths=*/false);
    }
    file->drop();
    if (!archive) continue;
    const irr::io::IFileList* list = archive->getFileList();
    for (irr::u32 i = 0; i < list->getFileCount(); ++i) {
      const std::string name = list->getFullFileName(i).c_str();
      if (list->isDirectory(i) || !IsScript(name)) continue;
      const size_t slash = name.find_last_of('/');
      if (Lower(name.substr(slash == std::string::npos ? 0 : slash + 1)) == "start.qv") start = true;
      irr::io::IReadFile* entry = archive->createAndOpenFile(i);
      if (!entry) continue;
      std::string text(static_cast<size_t>(std::max(0L, entry->getSize())), '\0');
      text.resize(static_cast<size_t>(std::max(0, entry->read(text.data(), static_cast<irr::u32>(text.size())))));
      entry->drop();
      compile(std::move(text), label + "/" + name);
    }
    archive->drop();
  }
  if (!start) problems.insert(problems.begin(), "Script start.qv not found!");
  return problems;
}

bool gReload::IsScript(const std::string& a_name) {
  return a_name.size() > 3 && strcasecmp(a_name.c_str() + a_name.size() - 3, ".qv") == 0;
}

gReload::Snapshot gReload::Take(const std::string& a_directory) {
  Snapshot files;
  std::error_code failed;
  for (fs::recursive_directory_iterator it(a_directory, failed), end; !failed && it != end; it.increment(failed)) {
    if (!it->is_regular_file(failed)) continue;
    Stamp stamp;
    stamp.modified = static_cast<long long>(it->last_write_time(failed).time_since_epoch().count());
    stamp.size = static_cast<long long>(it->file_size(failed));
    files[Lower(it->path().filename().string())] = stamp;
  }
  return files;
}

std::set<std::string> gReload::Changed(const Snapshot& a_before, const Snapshot& a_after) {
  std::set<std::string> changed;
  for (const auto& [name, stamp] : a_before) {
    const auto now = a_after.find(name);
    if (now == a_after.end() || now->second != stamp) changed.insert(name);
  }
  for (const auto& [name, stamp] : a_after)
    if (!a_before.count(name)) changed.insert(name);
  return changed;
}

gPackageWatch::~gPackageWatch() {
  if (m_fd >= 0) close(m_fd);
}

bool gPackageWatch::Start(const std::string& a_directory) {
  m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_fd < 0) {
    std::printf("--watch: cannot watch %s (%s); F5 still reloads\n", a_directory.c_str(), std::strerror(errno));
    std::fflush(stdout);
    return false;
  }
  Add(a_directory);
  std::error_code failed;
  for (fs::recursive_directory_iterator it(a_directory, failed), end; !failed && it != end; it.increment(failed)) {
    if (gPack::LeftOut(it->path().filename().string())) {
      if (it->is_directory(failed)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(failed)) Add(it->path().string());
  }
  return true;
}

void gPackageWatch::Add(const std::string& a_directory) {
  inotify_add_watch(m_fd, a_directory.c_str(),
                    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB);
}

bool gPackageWatch::Due() {
  if (m_fd < 0) return false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(m_fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      // Editors' swap files and backups come and go with every keystroke or save.
      if (event->len > 0 && gPack::LeftOut(event->name)) continue;
      m_pending = true;
      m_last = std::chrono::steady_clock::now();
    }
  }
  if (!m_pending) return false;
  if (std::chrono::steady_clock::now() - m_last < std::chrono::milliseconds(kQuietMs)) return false;
  m_pending = false;
  return true;
}
