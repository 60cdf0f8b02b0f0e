#include "host/gScriptLoader.h"

#include <irrlicht.h>
#include <sys/stat.h>

#include <cstdio>
#include <new>

#include "binding/gConsole.h"
#include "platform/gFileSystem.h"
#include "script/vm/gmMachine.h"

namespace {

// No game's script comes near this; a package claiming more is refused before anything is
// allocated for it.
const long kMaxScriptBytes = 64L * 1024 * 1024;

void Say(const char* a_format, const char* a_name, long a_number = 0) {
  std::printf(a_format, gConsole::Quote(a_name).c_str(), a_number);
  std::fflush(stdout);
}

// Scripts come from the package (and, in developer mode, the game's directory): a name
// that is absolute or climbs out of the directory with ".." is refused.
bool InsidePackage(const char* a_name) {
  if (a_name[0] == '/' || a_name[0] == '\\') return false;
  if (a_name[0] && a_name[1] == ':') return false;  // a drive letter
  const char* part = a_name;
  for (const char* p = a_name;; ++p) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      if (p - part == 2 && part[0] == '.' && part[1] == '.') return false;
      if (*p == '\0') break;
      part = p + 1;
    }
  }
  return true;
}

enum OpenResult { OPENED, NOT_FOUND, TOO_LARGE, DAMAGED };

// Opens the script the way the file system would (the mounted archives in order, then the
// directory), but looks at each entry's size before anything is read: the zip reader
// allocates what an entry's header claims, so a lying header could otherwise exhaust or
// abort the player.
OpenResult OpenScript(irr::io::IFileSystem* a_files, const char* a_name, irr::io::IReadFile*& a_file, long& a_size) {
  a_file = nullptr;
  for (irr::u32 i = 0; i < a_files->getFileArchiveCount(); ++i) {
    irr::io::IFileArchive* archive = a_files->getFileArchive(i);
    const irr::io::IFileList* list = archive->getFileList();
    const irr::s32 index = list ? list->findFile(a_name) : -1;
    if (index < 0 || list->isDirectory(static_cast<irr::u32>(index))) continue;
    a_size = static_cast<long>(list->getFileSize(static_cast<irr::u32>(index)));
    if (a_size > kMaxScriptBytes) return TOO_LARGE;
    try {
      a_file = archive->createAndOpenFile(static_cast<irr::u32>(index));
    } catch (const std::bad_alloc&) {
      a_file = nullptr;
    }
    return a_file ? OPENED : DAMAGED;
  }
  // A loose file; a directory of that name is no script.
  const irr::io::path path = a_files->getAbsolutePath(a_name);
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return NOT_FOUND;
  a_size = static_cast<long>(info.st_size);
  if (a_size > kMaxScriptBytes) return TOO_LARGE;
  a_file = a_files->createAndOpenFile(path);
  return a_file ? OPENED : NOT_FOUND;
}

}  // namespace

bool gScriptLoader::ReadWholeFile(irr::io::IReadFile* file, std::string& text) {
  const long size = file->getSize();
  // One read of the remainder instead of a call per byte; the result is the same.
  long position = file->getPos();
  char buffer[4096];
  while (position < size) {
    const long want =
        size - position < static_cast<long>(sizeof(buffer)) ? size - position : static_cast<long>(sizeof(buffer));
    const long got = static_cast<long>(file->read(buffer, static_cast<irr::u32>(want)));
    if (got <= 0) break;
    for (long i = 0; i < got; ++i) {
      if (buffer[i] != '\0') text += buffer[i];
    }
    position += got;
  }
  return position >= size;
}

bool gScriptLoader::Load(gmMachine* machine, const char* name) {
  if (!InsidePackage(name)) {
    Say("Script %s refused: scripts come from the game's package!\n", name);
    return false;
  }
  irr::io::IFileSystem* fileSystem = gFileSystem::Get();
  irr::io::IReadFile* file = nullptr;
  long size = 0;
  const OpenResult opened = fileSystem ? OpenScript(fileSystem, name, file, size) : NOT_FOUND;
  if (opened == NOT_FOUND) {
    Say("Script %s not found!\n", name);
    return false;
  }
  if (opened == TOO_LARGE) {
    Say("Script %s is too large (%ld bytes)!\n", name, size);
    return false;
  }
  std::string text;
  const bool whole = opened == OPENED && ReadWholeFile(file, text);
  if (file) file->drop();
  if (!whole) {
    Say("Script %s could not be read: the package is damaged!\n", name);
    return false;
  }

  // Registered under its file name, so error positions read "levels/one.qv(3) : ...".
  const int errors = machine->RunString(text.c_str(), nullptr, true, name);
  if (errors == 0) {
    std::printf("Loaded script: %s\n", name);
    std::fflush(stdout);
    return true;
  }
  // The log is never cleared, so entries of earlier errors it still holds are listed again.
  bool first = true;
  while (const char* entry = machine->GetLog().GetEntry(first)) {
    std::printf("Compilation error in script %s: -%s\n", gConsole::Quote(name).c_str(), entry);
    std::fflush(stdout);
  }
  return false;
}
